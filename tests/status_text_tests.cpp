#include <gtest/gtest.h>

#include <vector>

#include "core/converting_sink.h"
#include "sink_recorder.h"

namespace {

// Converts one report and answers the single line the inner sink received.
Text lineFor(StatusCode code, uintptr_t argument) {
    Converter converter;
    converter.convert(code, argument);
    EXPECT_EQ(converter.inner.received.size(), 1u) << std::hex << code;
    if (converter.inner.received.empty()) return Text();
    EXPECT_EQ(converter.inner.received[0].code, 6u);
    return converter.inner.received[0].line;
}

Text lineFor(StatusCode code, const void* argument) {
    return lineFor(code, reinterpret_cast<uintptr_t>(argument));
}

Text repeated(Utf16 unit, size_t count) {
    return Text(count, unit);
}

const Text kUnknown = widenAscii("<unknown>");

}  // namespace

// --- fixed texts ---

TEST(StatusText, EveryFixedTextConvertsExactly) {
    struct Case {
        StatusCode code;
        uintptr_t argument;
        const char* text;
    };
    const Case cases[] = {
        {0x10000d01, 1, "Direct3D 11 info: GPU supports compute shaders"},
        {0x10000d01, 0xFFFFFFFF, "Direct3D 11 info: GPU supports compute shaders"},
        {0x10000d01, 0, "Direct3D 11 info: GPU does not support compute shaders"},
        {0x40000800, 0, "STL warning: bad ArchiCAD metadata (unknown unit); scaling may be incorrect"},
        {0x40000801, 0, "STL warning: bad ArchiCAD metadata (unknown scale factor); scaling may be incorrect"},
        {0x40000802, 0, "STL warning: missing 'endsolid (name)'"},
        {0x40000803, 0, "STL warning: found 'end solid' instead of 'endsolid'"},
        {0x40000804, 0, "STL warning: unexpected end of file"},
        {0x40000805, 0, "STL warning: unknown unit; assuming millimeters"},
        {0x40000806, 0, "STL warning: unknown coordinate space; assuming Z up"},
        {0x40000808, 0, "STL warning: the file holds no triangles"},
        {0x80000005, 0, "out of memory"},
        {0x80000006, 0, "out of GPU memory"},
        {0x80000007, 0, "file not found"},
        {0x80000800, 0, "STL error: expected 'solid' keyword; aborting"},
        {0x80000801, 0, "STL error: expected name of solid; aborting"},
        {0x80000802, 0, "STL error: expected either 'facet' or 'endsolid' keyword; aborting"},
        {0x80000803, 0, "STL error: expected 'vertex' keyword; aborting"},
        {0x80000804, 0, "STL error: expected a number; aborting"},
        {0x80000805, 0, "STL error: expected 'endloop' keyword; aborting"},
        {0x80000806, 0, "STL error: expected 'endfacet' keyword; aborting"},
        {0x80000807, 0, "STL error: unexpected end of file in number of triangles; aborting"},
        {0x80000808, 0, "STL error: unexpected end of file in triangles; aborting"},
        {0x80000808, 1234, "STL error: unexpected end of file in triangles; aborting"},  // offsets are not shown
        {0x80000d00, 0, "Direct3D 11 error: the debug layer is not installed on the system"},
        {0x80000d01, 0, "Direct3D 11 error: call, parameter, or state invalid"},
        {0x80000d02, 0, "Direct3D 11 error: too many states"},
        {0x80000d03, 0, "Direct3D 11 error: too many views"},
        {0x80000d04, 0, "Direct3D 11 error: GPU too old"},
        {0x80000d05, 0, "Direct3D 11 error: no driver support (please update your GPU driver)"},
        {0x80000d06, 0, "Direct3D 11 is not available on this machine"},
        {0x80000d07, 0, "Direct3D 11 error: lost GPU (may be overload or driver problems)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code << " " << c.text);
        EXPECT_EQ(lineFor(c.code, c.argument), widenAscii(c.text));
    }
}

TEST(StatusText, FixedTextIsDroppedWhenItsBlockCannotBeObtained) {
    Converter converter;
    converter.inner.answer = 0;
    HeapFailureGuard noRequests(0);
    EXPECT_EQ(converter.convert(0x80000005, uintptr_t{0}), 1);
    EXPECT_EQ(converter.convert(0x10000d01, uintptr_t{1}), 1);
    EXPECT_EQ(converter.convert(0x80000002, "free error text"), 1);
    EXPECT_TRUE(converter.inner.received.empty());
}

TEST(StatusText, ComposedTextsNeedNoHeap) {
    Converter converter;
    HeapFailureGuard noRequests(0);
    converter.convert(0x10000800, "Exporter");
    converter.convert(0x10000d00, uintptr_t{0xB000});
    converter.convert(0x12345678, uintptr_t{0});
    ASSERT_EQ(converter.inner.received.size(), 3u);
    EXPECT_EQ(converter.inner.received[0].line, widenAscii("STL info: written by Exporter"));
}

// --- composed texts ---

TEST(StatusText, WrittenByAppendsTheEightBitName) {
    EXPECT_EQ(lineFor(0x10000800, "SolidWorks"), widenAscii("STL info: written by SolidWorks"));
    EXPECT_EQ(lineFor(0x10000800, ""), widenAscii("STL info: written by "));
}

TEST(StatusText, WrittenAppendsTheCountedText) {
    const char bytes[] = "2024-05-06 12:00xyz";  // only the counted bytes belong to the text
    CountedText date{bytes, 16, 1252};
    EXPECT_EQ(lineFor(0x10000801, &date), widenAscii("STL info: written 2024-05-06 12:00"));
    CountedText empty{bytes, 0, 0};
    EXPECT_EQ(lineFor(0x10000801, &empty), widenAscii("STL info: written "));
}

TEST(StatusText, WrittenToQuotesTheCountedText) {
    CountedText abc{"abc", 3, 0};
    EXPECT_EQ(lineFor(0x10000802, &abc), widenAscii("STL info: written to \"abc\""));
    CountedText empty{"", 0, 0};
    EXPECT_EQ(lineFor(0x10000802, &empty), widenAscii("STL info: written to \"\""));
}

TEST(StatusText, CountedTextWithCodePageZeroIsDetected) {
    CountedText utf8{"caf\xC3\xA9", 5, 0};
    EXPECT_EQ(lineFor(0x10000801, &utf8), widenAscii("STL info: written caf") + Utf16(0x00E9));
    CountedText cyrillic{"\xCF\xF0\xE8\xE2\xE5\xF2", 6, 0};
    Text privet{0x041F, 0x0440, 0x0438, 0x0432, 0x0435, 0x0442};
    EXPECT_EQ(lineFor(0x10000802, &cyrillic), widenAscii("STL info: written to \"") + privet + Utf16('"'));
    // The same bytes read as UTF-8 when the text says so.
    CountedText explicitUtf8{"\xC3\xA9", 2, 65001};
    EXPECT_EQ(lineFor(0x10000801, &explicitUtf8), widenAscii("STL info: written ") + Utf16(0x00E9));
}

TEST(StatusText, LongCountedTextIsCutTo65535Units) {
    struct Case {
        size_t length;
        size_t shown;
    };
    for (Case c : {Case{65534, 65534}, Case{65535, 65535}, Case{65536, 65535}, Case{200000, 65535}}) {
        SCOPED_TRACE(c.length);
        std::vector<char> bytes(c.length, 'x');  // exactly sized: ASan catches reads past it
        CountedText text{bytes.data(), static_cast<uint32_t>(c.length), 1252};
        EXPECT_EQ(lineFor(0x10000801, &text), widenAscii("STL info: written ") + repeated('x', c.shown));
        EXPECT_EQ(lineFor(0x10000802, &text),
                  widenAscii("STL info: written to \"") + repeated('x', c.shown) + Utf16('"'));
        CountedText detected{bytes.data(), static_cast<uint32_t>(c.length), 0};
        EXPECT_EQ(lineFor(0x10000801, &detected).size(), 18 + c.shown);
    }
}

TEST(StatusText, LongUtf8CountedTextIsCutInsideACharacter) {
    // "a" and 3-byte characters: the cut at 65535 bytes leaves two bytes of a
    // character, which the conversion turns into one U+FFFD.
    std::vector<char> bytes{'a'};
    for (int i = 0; i < 30000; ++i) bytes.insert(bytes.end(), {'\xE2', '\x82', '\xAC'});
    CountedText text{bytes.data(), static_cast<uint32_t>(bytes.size()), 65001};
    EXPECT_EQ(lineFor(0x10000802, &text),
              widenAscii("STL info: written to \"a") + repeated(0x20AC, 21844) + Utf16(0xFFFD) + Utf16('"'));
}

TEST(StatusText, FeatureLevelNames) {
    struct Case {
        uintptr_t level;
        const char* name;
    };
    const Case cases[] = {
        {0x9100, "9"},    {0x9200, "9.0b"}, {0x9300, "9.0c"},  {0xA000, "10"},   {0xA100, "10.1"},
        {0xB100, "11.1"}, {0xB200, "11.2"}, {0xB300, "11.3"},  {0xB400, "11.4"}, {0xC000, "12"},
        {0xB000, "11"},   {0x0, "11"},      {0x9000, "11"},    {0xB0FF, "11"},   {0xB101, "12.1"},
        {0xC100, "12.1"}, {0xC200, "12.1"}, {0xFFFFF, "12.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.level);
        EXPECT_EQ(lineFor(0x10000d00, c.level), widenAscii(std::string("D3D info: GPU supports Direct3D ") + c.name));
    }
}

TEST(StatusText, SystemErrorGivesTheSystemsText) {
    for (uintptr_t number : {uintptr_t{2}, uintptr_t{5}}) {
        Text line = lineFor(0x80000b00, number);
        EXPECT_FALSE(line.empty());
        EXPECT_LT(line.size(), 1000u);
        EXPECT_EQ(line.find('\n'), Text::npos);
        EXPECT_NE(line, kUnknown);
    }
    EXPECT_NE(lineFor(0x80000b00, 2), lineFor(0x80000b00, 5));
}

TEST(StatusText, SystemErrorWithoutSystemTextIsStillALine) {
    Text line = lineFor(0x80000b00, 0x7FFFFF3F);
    EXPECT_FALSE(line.empty());
    EXPECT_LT(line.size(), 1000u);
}

TEST(StatusText, FreeTextCodesShowTheirText) {
    for (StatusCode code : {4u, 0x40000000u, 0x80000002u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(lineFor(code, "free text; 1.5 mm"), widenAscii("free text; 1.5 mm"));
        EXPECT_EQ(lineFor(code, ""), Text());
        EXPECT_EQ(lineFor(code, uintptr_t{0}), kUnknown);
    }
}

TEST(StatusText, HighBytesWidenWithoutSignExtension) {
    const char bytes[] = "a\x80\xA0\xC3\xA9\xFF" "b";
    Text expected{'a', 0x80, 0xA0, 0xC3, 0xA9, 0xFF, 'b'};
    EXPECT_EQ(lineFor(4, bytes), expected);
    EXPECT_EQ(lineFor(0x40000000, bytes), expected);
    EXPECT_EQ(lineFor(0x80000002, bytes), expected);
}

TEST(StatusText, ExporterNamesWidenAsSolidNamesDo) {
    const Text written = widenAscii("STL info: written by ");
    const Text piece{'P', 'i', 0x00E8, 'c', 'e'};
    EXPECT_EQ(lineFor(0x10000800, "Pi\xE8" "ce"), written + piece);
    EXPECT_EQ(lineFor(0x10000800, "Pi\xC3\xA8" "ce"), written + piece);
    EXPECT_EQ(lineFor(0x10000800, uintptr_t{0}), written);
}

TEST(StatusText, CountedTextEndsAtANul) {
    CountedText padded{"C:\\a.stl\0\0 x", 12, 0};
    EXPECT_EQ(lineFor(0x10000802, &padded), widenAscii("STL info: written to \"C:\\a.stl\""));
}

TEST(StatusText, FileFactsAndCounts) {
    const Text name = widenAscii("part.stl");
    struct Case {
        StatusCode code;
        uint64_t count;
        const char* text;
    };
    const Case cases[] = {
        {0x80000809, 0, "STL error: part.stl: not an STL file"},
        {0x8000080A, 0, "STL error: part.stl: the file is empty"},
        {0x8000080B, 1, "STL error: part.stl: binary STL file cut short, 1 byte missing; aborting"},
        {0x8000080B, 12345678901, "STL error: part.stl: binary STL file cut short, 12345678901 bytes missing; aborting"},
        {0x40000807, 1, "STL warning: 1 stray byte after the last triangle block; ignored"},
        {0x40000807, 3, "STL warning: 3 stray bytes after the last triangle block; ignored"},
        {0x40000809, 1, "STL warning: 1 more message like those above left out"},
        {0x40000809, 999900, "STL warning: 999900 more messages like those above left out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FileFact fact{name.c_str(), c.count};
        uintptr_t argument = c.code >= kErrorClass ? reinterpret_cast<uintptr_t>(&fact) : c.count;
        EXPECT_EQ(lineFor(c.code, argument), widenAscii(c.text));
    }
    EXPECT_EQ(lineFor(0x80000809, uintptr_t{0}), kUnknown);
}

TEST(StatusText, UnknownCodesGiveUnknown) {
    for (StatusCode code : {0u, 1u, 2u, 5u, 7u, 0x10000000u, 0x10000803u, 0x10000d02u, 0x40000001u, 0x4000080Au,
                            0x80000000u, 0x80000001u, 0x80000003u, 0x8000080Cu, 0x80000b01u, 0x80000b02u,
                            0x80000d08u, 0x12345678u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(lineFor(code, uintptr_t{0}), kUnknown);
        EXPECT_EQ(lineFor(code, "text"), kUnknown);
    }
}

// --- delivery ---

TEST(StatusText, PassThroughCodesReachTheInnerSinkUnchanged) {
    const Utf16 line[] = {'h', 'i', 0};
    const Utf16 trace[] = {'t', 0};
    struct Case {
        StatusCode code;
        uintptr_t argument;
    };
    for (Case c : {Case{3, 500}, Case{3, 0x1234567890ull}, Case{6, reinterpret_cast<uintptr_t>(line)},
                   Case{0x40000002, 0xDEADBEEF}, Case{0x80000004, reinterpret_cast<uintptr_t>(line)}}) {
        SCOPED_TRACE(c.code);
        Converter converter;
        converter.inner.answer = 9;
        EXPECT_EQ(converter.convert(c.code, c.argument, trace), 9);
        ASSERT_EQ(converter.inner.received.size(), 1u);
        EXPECT_EQ(converter.inner.received[0].code, c.code);
        EXPECT_EQ(converter.inner.received[0].argument, c.argument);
        EXPECT_EQ(converter.inner.received[0].backTracePointer, trace);
    }
}

TEST(StatusText, InnerResultIsReturned) {
    CountedText name{"abc", 3, 0};
    for (intptr_t answer : {intptr_t{0}, intptr_t{1}, intptr_t{42}}) {
        SCOPED_TRACE(answer);
        Converter converter;
        converter.inner.answer = answer;
        EXPECT_EQ(converter.convert(0x80000005, uintptr_t{0}), answer);       // fixed
        EXPECT_EQ(converter.convert(4, "text"), answer);                     // free
        EXPECT_EQ(converter.convert(0x10000802, &name), answer);             // composed
        EXPECT_EQ(converter.convert(0x10000d00, uintptr_t{0xB000}), answer);  // composed
        EXPECT_EQ(converter.convert(0x80000b00, uintptr_t{2}), answer);       // system text
        EXPECT_EQ(converter.convert(0x12345678, uintptr_t{0}), answer);       // unknown
        EXPECT_EQ(converter.convert(3, uintptr_t{10}), answer);               // pass-through
    }
}

TEST(StatusText, BackTraceReachesTheInnerSinkUnchanged) {
    const Utf16 trace[] = {'m', '+', '1', '\n', 0};
    CountedText name{"abc", 3, 0};
    Converter converter;
    converter.convert(0x80000808, uintptr_t{0}, trace);
    converter.convert(0x80000002, "text", trace);
    converter.convert(0x10000801, &name, trace);
    converter.convert(0x80000b00, uintptr_t{2}, trace);
    converter.convert(0x99999999, uintptr_t{0}, trace);
    converter.convert(0x10000d01, uintptr_t{0}, nullptr);
    ASSERT_EQ(converter.inner.received.size(), 6u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(converter.inner.received[i].backTracePointer, trace) << i;
    EXPECT_EQ(converter.inner.received[5].backTracePointer, nullptr);
}

TEST(StatusText, ReportThroughConvertingSinkCarriesTheBackTraceButNotInTheLine) {
    Converter converter;
    report(converter.producerSink(), 0x80000005, 0);
    report(converter.producerSink(), 0x40000804, 0);
    ASSERT_EQ(converter.inner.received.size(), 2u);
    EXPECT_EQ(converter.inner.received[0].line, widenAscii("out of memory"));
    EXPECT_NE(converter.inner.received[0].backTracePointer, nullptr);
    EXPECT_FALSE(converter.inner.received[0].backTrace.empty());
    EXPECT_EQ(converter.inner.received[1].line, widenAscii("STL warning: unexpected end of file"));
    EXPECT_EQ(converter.inner.received[1].backTracePointer, nullptr);
}

TEST(StatusText, InitConvertingSinkPointsAtItself) {
    RecordingSink inner;
    ConvertingSink sink;
    initConvertingSink(&sink, inner.sink);
    EXPECT_EQ(sink.self.userData, &sink);
    EXPECT_EQ(sink.self.callback, &convertStatus);
    EXPECT_EQ(sink.inner.userData, &inner);
}
