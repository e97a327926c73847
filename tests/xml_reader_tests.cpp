// The XML reader: the events of small documents, every fault it names, and
// the same events when the text arrives a few bytes at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/package_texts.h"
#include "package/xml_reader.h"

namespace {

const char* const kSpaces[] = {"urn:a", "urn:b"};

std::string span(XmlSpan s) {
    return std::string(reinterpret_cast<const char*>(s.bytes), s.length);
}

// Events as text: "<a0 x=1>" for element a in space 0 with its attributes,
// "/" for an end, "'text'" for text, "!N" for fault N.
std::string events(const std::string& xml, size_t step = 0) {
    XmlReader* reader = new XmlReader;
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(xml.data());
    size_t limit = step ? 0 : xml.size();
    initXmlReader(reader, begin, begin + limit, step == 0, kSpaces, 2);
    std::string out;
    for (;;) {
        XmlEvent event = nextXmlEvent(reader);
        if (event == kXmlNeedMore) {
            limit = limit + step < xml.size() ? limit + step : xml.size();
            reader->limit = begin + limit;
            reader->final = limit == xml.size();
            continue;
        }
        if (event == kXmlDocumentEnd) break;
        if (event == kXmlFailed) {
            out += "!" + std::to_string(reader->fault);
            break;
        }
        if (event == kXmlEnd) out += "/";
        if (event == kXmlText) {
            std::vector<uint8_t> decoded(reader->text.length);
            out += "'" + std::string(decoded.begin(), decoded.begin() + decodeXmlText(reader->text, decoded.data())) + "'";
        }
        if (event != kXmlStart) continue;
        out += "<" + span(reader->local) + std::to_string(reader->space);
        for (uint32_t i = 0; i < reader->attributeCount; ++i) {
            const XmlAttribute& a = reader->attributes[i];
            std::vector<uint8_t> decoded(a.value.length);
            out += " " + span(a.local) + (a.space >= 0 ? std::to_string(a.space) : "") + "=" +
                   std::string(decoded.begin(), decoded.begin() + decodeXmlText(a.value, decoded.data()));
        }
        out += ">";
    }
    delete reader;
    return out;
}

TEST(XmlReader, EventsOfWellFormedText) {
    const struct {
        const char* xml;
        const char* events;
    } cases[] = {
        {"<a xmlns='urn:a'/>", "<a0 xmlns=urn:a>/"},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a xmlns=\"urn:b\" x = \"1\"></a>", "<a1 xmlns=urn:b x=1>/"},
        {"<p:a xmlns:p='urn:a' xmlns:q='urn:b'><q:b q:x='&lt;&#65;&#x42;&amp;&quot;'/></p:a>",
         "<a0 p=urn:a q=urn:b><b1 x1=<AB&\">//"},
        {"<a xmlns='urn:z'><!-- <b/> --><?pi x?><b xmlns=''>t &gt; u</b><![CDATA[<c>]]></a>",
         "<a-2 xmlns=urn:z><b-1 xmlns=>'t > u'/'<c>'/"},
        {"<a>\n  \n</a>\n<!-- after -->\n", "<a-1>/"},
        {"<a x='&#x2603;'/>", "<a-1 x=\xE2\x98\x83>/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(events(c.xml), c.events);
        for (size_t step : {1, 2, 5}) EXPECT_EQ(events(c.xml, step), c.events) << "fed " << step << " bytes at a time";
    }
}

TEST(XmlReader, FaultsAreNamed) {
    std::string deep;
    for (int i = 0; i < 257; ++i) deep += "<d>";
    std::string attributes = "<a";
    for (int i = 0; i < 257; ++i) attributes += " a" + std::to_string(i) + "='1'";
    attributes += "/>";
    const struct {
        std::string xml;
        XmlFault fault;
    } cases[] = {
        {"<a><b></a>", kXmlMismatchedEnd},
        {"<a x='1' x='2'/>", kXmlRepeatedAttribute},
        {"<p:a xmlns:p='urn:a' xmlns:q='urn:a' p:x='1' q:x='2'/>", kXmlFine},  // same URI, other prefixes: allowed here
        {"<a x='&nbsp;'/>", kXmlBadReference},
        {"<a>&#0;</a>", kXmlBadReference},
        {"<a>&#xD800;</a>", kXmlBadReference},
        {"<q:a/>", kXmlUndeclaredPrefix},
        {"<a q:x='1'/>", kXmlUndeclaredPrefix},
        {deep, kXmlTooDeep},
        {"<!DOCTYPE a [<!ENTITY e 'x'>]><a/>", kXmlDoctype},
        {"<?xml version='1.0' encoding='UTF-16'?><a/>", kXmlNotUtf8},
        {"\xFF\xFE<\0a\0/\0>\0", kXmlNotUtf8},
        {"<a/><b/>", kXmlAfterRoot},
        {"<a/>text", kXmlAfterRoot},
        {"", kXmlNoRoot},
        {"<a", kXmlCutShort},
        {"<a><b>", kXmlCutShort},
        {"<a x=1/>", kXmlMalformed},
        {"<a x='<'/>", kXmlMalformed},
        {"text<a/>", kXmlMalformed},
        {" <?xml version='1.0'?><a/>", kXmlMalformed},
        {attributes, kXmlTooManyAttributes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml.substr(0, 60));
        std::string got = events(c.xml);
        size_t mark = got.find('!');
        XmlFault fault = mark == std::string::npos ? kXmlFine : static_cast<XmlFault>(std::stoul(got.substr(mark + 1)));
        EXPECT_EQ(fault, c.fault);
        EXPECT_EQ(events(c.xml, 3).find('!') != std::string::npos, c.fault != kXmlFine) << "fed 3 bytes at a time";
        EXPECT_NE(xmlFaultText(c.fault), nullptr);
    }
    EXPECT_EQ(xmlFaultText(kXmlTooManyAttributes + 1), nullptr);
}

}  // namespace
