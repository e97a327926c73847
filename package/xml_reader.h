// A small XML reader for the parts of 3MF packages: elements, attributes,
// the five entities and character references, comments, processing
// instructions and CDATA passed over, namespaces resolved by their URI.
// UTF-8 only (a byte-order mark is allowed, a DTD is not); nesting, the
// attributes of an element and the namespaces in scope are bounded.
//
// It reads in place and can be fed while the text is still being made: it
// never reads at or past `limit`, and a token cut by a limit that is not
// yet final is answered kXmlNeedMore and read again once the limit moves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr uint32_t kXmlMaxDepth = 256;
constexpr uint32_t kXmlMaxAttributes = 256;
constexpr uint32_t kXmlMaxBindings = 1024;
constexpr int32_t kXmlNoSpace = -1;       // an unprefixed attribute, or no default namespace
constexpr int32_t kXmlUnknownSpace = -2;  // a namespace the caller did not list

// Numbered as the texts of kErr3mfXml.
enum XmlFault : uint32_t {
    kXmlFine = 0,
    kXmlCutShort = 1,
    kXmlMalformed = 2,
    kXmlMismatchedEnd = 3,
    kXmlRepeatedAttribute = 4,
    kXmlBadReference = 5,
    kXmlUndeclaredPrefix = 6,
    kXmlTooDeep = 7,
    kXmlDoctype = 8,
    kXmlNotUtf8 = 9,
    kXmlAfterRoot = 10,
    kXmlNoRoot = 11,
    kXmlTooManyAttributes = 12,
};

enum XmlEvent : uint32_t {
    kXmlStart,  // an element begins: its name and attributes are set
    kXmlEnd,    // the innermost open element ends (also right after an empty element's start)
    kXmlText,   // character data (not only whitespace) inside an element
    kXmlDocumentEnd,
    kXmlFailed,  // fault and faultOffset tell why
    kXmlNeedMore,
};

struct XmlSpan {
    const uint8_t* bytes;
    uint32_t length;
};

struct XmlAttribute {
    XmlSpan qualified;  // as written, prefix included
    XmlSpan local;
    int32_t space;      // index into the caller's namespaces, kXmlNoSpace or kXmlUnknownSpace
    XmlSpan value;      // raw: entities not yet replaced
    bool escaped;       // the value holds "&"
};

struct XmlBinding {
    XmlSpan prefix;  // empty for the default namespace
    int32_t space;
};

struct XmlReader {
    const uint8_t* begin;
    const uint8_t* cursor;
    const uint8_t* limit;
    bool final;  // limit is the end of the text
    const char* const* spaces;  // the namespace URIs the caller tells apart
    uint32_t spaceCount;
    // The element just started (kXmlStart) or ended (kXmlEnd).
    int32_t space;
    XmlSpan local;
    XmlSpan qualified;
    const uint8_t* elementStart;
    uint32_t depth;  // of the element, the root being 1
    XmlAttribute attributes[kXmlMaxAttributes];
    uint32_t attributeCount;
    // Character data of kXmlText, raw.
    XmlSpan text;
    bool textEscaped;
    XmlFault fault;
    uint64_t faultOffset;
    // Reading state.
    const uint8_t* firstByte;  // after a byte-order mark
    bool rootEnded;
    bool endPending;  // the element just started was empty
    XmlSpan open[kXmlMaxDepth];
    uint32_t bindingMarks[kXmlMaxDepth + 1];
    XmlBinding bindings[kXmlMaxBindings];
    uint32_t bindingCount;
};

// Sets the reader up over text from begin to limit; spaces lists the
// namespace URIs the caller wants as indices.
void initXmlReader(XmlReader* reader, const uint8_t* begin, const uint8_t* limit, bool final,
                   const char* const* spaces, uint32_t spaceCount);
XmlEvent nextXmlEvent(XmlReader* reader);

// The attribute of that local name and namespace, or null.
const XmlAttribute* findXmlAttribute(const XmlReader* reader, int32_t space, const char* local);
// A span against a literal: its length is known where it is written, so the
// comparison is one length test and a short fixed memcmp.
template <size_t N>
inline bool xmlSpanIs(XmlSpan span, const char (&text)[N]) {
    return span.length == N - 1 && memcmp(span.bytes, text, N - 1) == 0;
}
bool xmlSpanEquals(XmlSpan span, const char* text);
// The caller read the text up to `at` itself: only whitespace and empty
// elements that declare no namespace and that this reader would take as
// they are. The reader goes on from there.
inline void passXmlText(XmlReader* reader, const uint8_t* at) {
    reader->cursor = at;
}
// The namespace a prefix is bound to at the current element; false when none.
bool resolveXmlPrefix(const XmlReader* reader, XmlSpan prefix, int32_t* space);

// Raw text with its entities and character references replaced; writes at
// most span.length bytes (no reference is shorter than its UTF-8), returns
// the count. The reader has already checked every reference.
uint32_t decodeXmlText(XmlSpan raw, uint8_t* out);
