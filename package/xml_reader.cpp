#include "package/xml_reader.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "core/sse2.h"

namespace {

// No reference is longer: "&#x10FFFF;" and "&#1114111;" are ten bytes.
constexpr ptrdiff_t kLongestReference = 12;

bool isSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameStart(uint8_t c) {
    uint8_t letter = c | 0x20;
    return (letter >= 'a' && letter <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameByte(uint8_t c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool spanEquals(XmlSpan a, XmlSpan b) {
    return a.length == b.length && memcmp(a.bytes, b.bytes, a.length) == 0;
}

XmlSpan spanOf(const uint8_t* begin, const uint8_t* end) {
    return XmlSpan{begin, static_cast<uint32_t>(end - begin)};
}

XmlEvent failAt(XmlReader* r, XmlFault fault, const uint8_t* at) {
    r->fault = fault;
    r->faultOffset = static_cast<uint64_t>(at - r->begin);
    return kXmlFailed;
}

// A token runs into the limit: more may come, or the text is cut short.
XmlEvent cutAt(XmlReader* r, const uint8_t* tokenStart) {
    if (!r->final) return kXmlNeedMore;
    return failAt(r, kXmlCutShort, tokenStart);
}

const uint8_t* findByte(const uint8_t* at, const uint8_t* limit, uint8_t byte) {
    const void* found = memchr(at, byte, static_cast<size_t>(limit - at));
    return found ? static_cast<const uint8_t*>(found) : nullptr;
}

// The first "needle" at or after `at`, or null.
const uint8_t* findText(const uint8_t* at, const uint8_t* limit, const char* needle) {
    size_t length = strlen(needle);
    while (static_cast<size_t>(limit - at) >= length) {
        const uint8_t* first = findByte(at, limit - length + 1, static_cast<uint8_t>(needle[0]));
        if (!first) return nullptr;
        if (memcmp(first, needle, length) == 0) return first;
        at = first + 1;
    }
    return nullptr;
}

bool startsWith(const uint8_t* at, const uint8_t* limit, const char* text) {
    size_t length = strlen(text);
    return static_cast<size_t>(limit - at) >= length && memcmp(at, text, length) == 0;
}

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    uint8_t letter = c | 0x20;
    return letter >= 'a' && letter <= 'f' ? letter - 'a' + 10 : -1;
}

// The code point of a character reference's digits, or 0 when it is none.
uint32_t characterValue(const uint8_t* digits, const uint8_t* end) {
    bool hex = digits < end && *digits == 'x';
    if (hex) ++digits;
    if (digits == end) return 0;
    uint32_t value = 0;
    for (; digits < end; ++digits) {
        int digit = hex ? hexDigit(*digits) : (*digits >= '0' && *digits <= '9' ? *digits - '0' : -1);
        if (digit < 0) return 0;
        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
        if (value > 0x10FFFF) return 0;
    }
    bool allowed = value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value < 0xD800) ||
                   (value >= 0xE000 && value != 0xFFFE && value != 0xFFFF);
    return allowed ? value : 0;
}

struct Entity {
    const char* name;
    uint8_t byte;
};
const Entity kEntities[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};

// The byte an entity's name stands for, or 0.
uint8_t entityByte(const uint8_t* name, const uint8_t* end) {
    for (const Entity& entity : kEntities)
        if (static_cast<size_t>(end - name) == strlen(entity.name) && memcmp(name, entity.name, end - name) == 0)
            return entity.byte;
    return 0;
}

enum class Reference { kGood, kBad, kCut };

// at is at "&": a known entity or a character reference, ended by ";".
Reference checkReference(const uint8_t* at, const uint8_t* limit, const uint8_t** after) {
    const uint8_t* scanEnd = limit - at > kLongestReference ? at + kLongestReference : limit;
    const uint8_t* semicolon = findByte(at + 1, scanEnd, ';');
    if (!semicolon) return scanEnd == limit && limit - at < kLongestReference ? Reference::kCut : Reference::kBad;
    bool good = at[1] == '#' ? characterValue(at + 2, semicolon) != 0 : entityByte(at + 1, semicolon) != 0;
    *after = semicolon + 1;
    return good ? Reference::kGood : Reference::kBad;
}

// Every reference in raw text between begin and end; end is not the limit
// (the text's end is known), so a reference cut by it is bad.
bool checkReferences(const uint8_t* at, const uint8_t* end) {
    while ((at = findByte(at, end, '&'))) {
        const uint8_t* after;
        if (checkReference(at, end, &after) != Reference::kGood) return false;
        at = after;
    }
    return true;
}

// The first quote, "<" or "&" of an attribute value, or limit.
const uint8_t* scanValue(const uint8_t* at, const uint8_t* limit, uint8_t quote) {
#if STLV_SSE2
    __m128i quotes = _mm_set1_epi8(static_cast<char>(quote));
    __m128i less = _mm_set1_epi8('<');
    __m128i ampersand = _mm_set1_epi8('&');
    while (limit - at >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes),
                                    _mm_or_si128(_mm_cmpeq_epi8(bytes, less), _mm_cmpeq_epi8(bytes, ampersand)));
        uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
        if (mask) return at + std::countr_zero(mask);
        at += 16;
    }
#endif
    while (at < limit && *at != quote && *at != '<' && *at != '&') ++at;
    return at;
}

// The namespace index of a URI.
int32_t classifySpace(const XmlReader* r, XmlSpan uri) {
    for (uint32_t i = 0; i < r->spaceCount; ++i)
        if (xmlSpanEquals(uri, r->spaces[i])) return static_cast<int32_t>(i);
    return kXmlUnknownSpace;
}

// Splits a qualified name; false when the prefix is not bound.
bool resolveName(const XmlReader* r, XmlSpan qualified, bool isAttribute, int32_t* space, XmlSpan* local) {
    const uint8_t* colon = findByte(qualified.bytes, qualified.bytes + qualified.length, ':');
    XmlSpan prefix{qualified.bytes, 0};
    *local = qualified;
    if (colon) {
        prefix = spanOf(qualified.bytes, colon);
        *local = spanOf(colon + 1, qualified.bytes + qualified.length);
        if (xmlSpanIs(prefix, "xml") || xmlSpanIs(prefix, "xmlns")) {
            *space = kXmlUnknownSpace;
            return true;
        }
    } else if (isAttribute) {
        *space = kXmlNoSpace;
        return true;
    }
    for (uint32_t i = r->bindingCount; i-- > 0;) {
        if (!spanEquals(r->bindings[i].prefix, prefix)) continue;
        *space = r->bindings[i].space;
        return true;
    }
    *space = kXmlNoSpace;
    return !colon;  // no default namespace is fine, an unknown prefix is not
}

// The namespace declarations of the element just read, then its names.
XmlEvent bindNamespaces(XmlReader* r) {
    r->bindingMarks[r->depth] = r->bindingCount;
    for (uint32_t i = 0; i < r->attributeCount; ++i) {
        const XmlAttribute& attribute = r->attributes[i];
        XmlSpan name = attribute.qualified;
        bool isDefault = xmlSpanIs(name, "xmlns");
        if (!isDefault && !(name.length > 6 && memcmp(name.bytes, "xmlns:", 6) == 0)) continue;
        if (r->bindingCount == kXmlMaxBindings) return failAt(r, kXmlTooManyAttributes, r->elementStart);
        XmlBinding& binding = r->bindings[r->bindingCount++];
        binding.prefix = isDefault ? XmlSpan{name.bytes, 0} : XmlSpan{name.bytes + 6, name.length - 6};
        // An empty URI takes the default namespace away again.
        binding.space = isDefault && attribute.value.length == 0 ? kXmlNoSpace : classifySpace(r, attribute.value);
    }
    if (!resolveName(r, r->qualified, false, &r->space, &r->local))
        return failAt(r, kXmlUndeclaredPrefix, r->elementStart);
    for (uint32_t i = 0; i < r->attributeCount; ++i) {
        XmlAttribute& attribute = r->attributes[i];
        if (!resolveName(r, attribute.qualified, true, &attribute.space, &attribute.local))
            return failAt(r, kXmlUndeclaredPrefix, r->elementStart);
        for (uint32_t j = 0; j < i; ++j)
            if (spanEquals(r->attributes[j].qualified, attribute.qualified))
                return failAt(r, kXmlRepeatedAttribute, r->elementStart);
    }
    return kXmlStart;
}

XmlEvent readStartTag(XmlReader* r, const uint8_t* at) {
    const uint8_t* limit = r->limit;
    const uint8_t* p = at + 1;
    if (!isNameStart(*p)) return failAt(r, kXmlMalformed, at);
    while (p < limit && isNameByte(*p)) ++p;
    if (p == limit) return cutAt(r, at);
    r->qualified = spanOf(at + 1, p);
    r->attributeCount = 0;
    bool empty;
    for (;;) {
        const uint8_t* spaceStart = p;
        while (p < limit && isSpace(*p)) ++p;
        if (p == limit) return cutAt(r, at);
        if (*p == '>') {
            ++p;
            empty = false;
            break;
        }
        if (*p == '/') {
            if (limit - p < 2) return cutAt(r, at);
            if (p[1] != '>') return failAt(r, kXmlMalformed, p);
            p += 2;
            empty = true;
            break;
        }
        if (p == spaceStart || !isNameStart(*p)) return failAt(r, kXmlMalformed, p);
        if (r->attributeCount == kXmlMaxAttributes) return failAt(r, kXmlTooManyAttributes, at);
        XmlAttribute& attribute = r->attributes[r->attributeCount];
        const uint8_t* nameStart = p;
        while (p < limit && isNameByte(*p)) ++p;
        attribute.qualified = spanOf(nameStart, p);
        while (p < limit && isSpace(*p)) ++p;
        if (p < limit && *p != '=') return failAt(r, kXmlMalformed, p);
        ++p;
        while (p < limit && isSpace(*p)) ++p;
        if (p >= limit) return cutAt(r, at);
        uint8_t quote = *p;
        if (quote != '"' && quote != '\'') return failAt(r, kXmlMalformed, p);
        const uint8_t* valueStart = ++p;
        attribute.escaped = false;
        for (;;) {
            p = scanValue(p, limit, quote);
            if (p == limit) return cutAt(r, at);
            if (*p == quote) break;
            if (*p == '<') return failAt(r, kXmlMalformed, p);
            const uint8_t* after;
            Reference reference = checkReference(p, limit, &after);
            if (reference == Reference::kCut) return cutAt(r, at);
            if (reference == Reference::kBad) return failAt(r, kXmlBadReference, p);
            attribute.escaped = true;
            p = after;
        }
        attribute.value = spanOf(valueStart, p);
        ++p;
        ++r->attributeCount;
    }
    if (r->rootEnded) return failAt(r, kXmlAfterRoot, at);
    if (r->depth == kXmlMaxDepth) return failAt(r, kXmlTooDeep, at);
    r->elementStart = at;
    r->open[r->depth++] = r->qualified;
    XmlEvent event = bindNamespaces(r);
    if (event != kXmlStart) return event;
    r->endPending = empty;
    r->cursor = p;
    return kXmlStart;
}

// The element that ends: its names as it began.
XmlEvent endElement(XmlReader* r) {
    r->qualified = r->open[r->depth - 1];
    resolveName(r, r->qualified, false, &r->space, &r->local);
    r->bindingCount = r->bindingMarks[r->depth];
    --r->depth;
    if (r->depth == 0) r->rootEnded = true;
    return kXmlEnd;
}

XmlEvent readEndTag(XmlReader* r, const uint8_t* at) {
    const uint8_t* limit = r->limit;
    const uint8_t* p = at + 2;
    while (p < limit && isNameByte(*p)) ++p;
    XmlSpan name = spanOf(at + 2, p);
    while (p < limit && isSpace(*p)) ++p;
    if (p == limit) return cutAt(r, at);
    if (*p != '>' || name.length == 0) return failAt(r, kXmlMalformed, p);
    if (r->depth == 0 || !spanEquals(name, r->open[r->depth - 1])) return failAt(r, kXmlMismatchedEnd, at);
    r->cursor = p + 1;
    r->elementStart = at;
    return endElement(r);
}

// The XML declaration may only name UTF-8.
bool declaresUtf8(const uint8_t* begin, const uint8_t* end) {
    const uint8_t* encoding = findText(begin, end, "encoding");
    if (!encoding) return true;
    const uint8_t* p = encoding + 8;
    while (p < end && (isSpace(*p) || *p == '=')) ++p;
    if (p == end || (*p != '"' && *p != '\'')) return false;
    const uint8_t* close = findByte(p + 1, end, *p);
    if (!close) return false;
    XmlSpan value = spanOf(p + 1, close);
    static const char kUtf8[] = "utf-8";
    if (value.length != 5) return false;
    for (uint32_t i = 0; i < 5; ++i)
        if ((value.bytes[i] | 0x20) != kUtf8[i]) return false;
    return true;
}

// Markup that hands out nothing: the reader goes on after it.
constexpr XmlEvent kXmlSkipped = static_cast<XmlEvent>(100);

// "<?" to "?>", "<!--" to "-->", "<![CDATA[" to "]]>" (as text); a DTD fails.
XmlEvent readOtherMarkup(XmlReader* r, const uint8_t* at) {
    const uint8_t* limit = r->limit;
    if (at[1] == '?') {
        const uint8_t* end = findText(at + 2, limit, "?>");
        if (!end) return cutAt(r, at);
        bool declaration = startsWith(at, end, "<?xml") && (end - at == 5 || isSpace(at[5]));
        if (declaration && at != r->firstByte) return failAt(r, kXmlMalformed, at);
        if (declaration && !declaresUtf8(at, end)) return failAt(r, kXmlNotUtf8, at);
        r->cursor = end + 2;
        return kXmlSkipped;
    }
    if (startsWith(at, limit, "<!--")) {
        const uint8_t* end = findText(at + 4, limit, "-->");
        if (!end) return cutAt(r, at);
        r->cursor = end + 3;
        return kXmlSkipped;
    }
    if (startsWith(at, limit, "<![CDATA[")) {
        const uint8_t* end = findText(at + 9, limit, "]]>");
        if (!end) return cutAt(r, at);
        if (r->depth == 0) return failAt(r, r->rootEnded ? kXmlAfterRoot : kXmlMalformed, at);
        r->text = spanOf(at + 9, end);
        r->textEscaped = false;
        r->cursor = end + 3;
        return kXmlText;
    }
    if (limit - at < 9) return cutAt(r, at);
    return failAt(r, startsWith(at, limit, "<!DOCTYPE") ? kXmlDoctype : kXmlMalformed, at);
}

XmlEvent readText(XmlReader* r, const uint8_t* at) {
    const uint8_t* limit = r->limit;
    const uint8_t* end = findByte(at, limit, '<');
    if (!end) {
        if (!r->final) return kXmlNeedMore;
        end = limit;
    }
    if (r->depth == 0) return failAt(r, r->rootEnded ? kXmlAfterRoot : kXmlMalformed, at);
    if (!checkReferences(at, end)) return failAt(r, kXmlBadReference, at);
    r->text = spanOf(at, end);
    r->textEscaped = findByte(at, end, '&') != nullptr;
    r->cursor = end;
    return kXmlText;
}

}  // namespace

bool xmlSpanEquals(XmlSpan span, const char* text) {
    size_t length = strlen(text);
    return span.length == length && memcmp(span.bytes, text, length) == 0;
}

void initXmlReader(XmlReader* reader, const uint8_t* begin, const uint8_t* limit, bool final,
                   const char* const* spaces, uint32_t spaceCount) {
    reader->begin = begin;
    reader->cursor = begin;
    reader->limit = limit;
    reader->final = final;
    reader->spaces = spaces;
    reader->spaceCount = spaceCount;
    reader->depth = 0;
    reader->attributeCount = 0;
    reader->fault = kXmlFine;
    reader->faultOffset = 0;
    reader->rootEnded = false;
    reader->endPending = false;
    reader->bindingCount = 0;
    reader->bindingMarks[0] = 0;
    reader->firstByte = nullptr;
}

XmlEvent nextXmlEvent(XmlReader* r) {
    if (r->fault != kXmlFine) return kXmlFailed;
    if (!r->firstByte) {
        // A byte-order mark: UTF-8 is passed over, UTF-16 refused.
        const uint8_t* begin = r->begin;
        ptrdiff_t available = r->limit - begin;
        if (available < 3 && !r->final) return kXmlNeedMore;
        if (available >= 3 && begin[0] == 0xEF && begin[1] == 0xBB && begin[2] == 0xBF) r->cursor += 3;
        r->firstByte = r->cursor;
        if (available >= 2 && ((begin[0] == 0xFE && begin[1] == 0xFF) || (begin[0] == 0xFF && begin[1] == 0xFE)))
            return failAt(r, kXmlNotUtf8, begin);
    }
    if (r->endPending) {
        r->endPending = false;
        return endElement(r);
    }
    for (;;) {
        const uint8_t* at = r->cursor;
        const uint8_t* limit = r->limit;
        while (at < limit && isSpace(*at)) ++at;
        r->cursor = at;
        if (at == limit) {
            if (!r->final) return kXmlNeedMore;
            if (r->depth) return failAt(r, kXmlCutShort, at);
            if (!r->rootEnded) return failAt(r, kXmlNoRoot, at);
            return kXmlDocumentEnd;
        }
        if (*at != '<') return readText(r, at);
        if (limit - at < 2) return cutAt(r, at);
        if (at[1] == '/') return readEndTag(r, at);
        if (at[1] != '?' && at[1] != '!') return readStartTag(r, at);
        XmlEvent event = readOtherMarkup(r, at);
        if (event != kXmlSkipped) return event;
    }
}

bool resolveXmlPrefix(const XmlReader* reader, XmlSpan prefix, int32_t* space) {
    for (uint32_t i = reader->bindingCount; i-- > 0;) {
        if (!spanEquals(reader->bindings[i].prefix, prefix)) continue;
        *space = reader->bindings[i].space;
        return true;
    }
    return false;
}

const XmlAttribute* findXmlAttribute(const XmlReader* reader, int32_t space, const char* local) {
    for (uint32_t i = 0; i < reader->attributeCount; ++i) {
        const XmlAttribute& attribute = reader->attributes[i];
        if (attribute.space == space && xmlSpanEquals(attribute.local, local)) return &attribute;
    }
    return nullptr;
}

uint32_t decodeXmlText(XmlSpan raw, uint8_t* out) {
    uint8_t* start = out;
    const uint8_t* at = raw.bytes;
    const uint8_t* end = raw.bytes + raw.length;
    while (at < end) {
        if (*at != '&') {
            *out++ = *at++;
            continue;
        }
        const uint8_t* semicolon = findByte(at, end, ';');
        if (!semicolon) {  // not checked text: copied as it is
            *out++ = *at++;
            continue;
        }
        uint32_t value = at[1] == '#' ? characterValue(at + 2, semicolon) : entityByte(at + 1, semicolon);
        if (value < 0x80) {
            *out++ = static_cast<uint8_t>(value);
        } else if (value < 0x800) {
            *out++ = static_cast<uint8_t>(0xC0 | value >> 6);
            *out++ = static_cast<uint8_t>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
            *out++ = static_cast<uint8_t>(0xE0 | value >> 12);
            *out++ = static_cast<uint8_t>(0x80 | (value >> 6 & 0x3F));
            *out++ = static_cast<uint8_t>(0x80 | (value & 0x3F));
        } else {
            *out++ = static_cast<uint8_t>(0xF0 | value >> 18);
            *out++ = static_cast<uint8_t>(0x80 | (value >> 12 & 0x3F));
            *out++ = static_cast<uint8_t>(0x80 | (value >> 6 & 0x3F));
            *out++ = static_cast<uint8_t>(0x80 | (value & 0x3F));
        }
        at = semicolon + 1;
    }
    return static_cast<uint32_t>(out - start);
}
