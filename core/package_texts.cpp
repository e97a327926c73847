#include "core/package_texts.h"

#include "core/code_page.h"
#include "core/utf16_text.h"

namespace {

// Long enough for any part name or value a person reads; the line must fit
// the converting sink's buffer with both.
constexpr uint32_t kQuotedBytes = 4096;

struct PackageText {
    StatusCode code;
    // {n} number, {l} limit, {d} detail, {r} the reason numbered by number,
    // {one|many} the words that agree with the number
    const char* text;
};

const PackageText kTexts[] = {
    {kErrZipNoDirectory, "no ZIP central directory: the file is damaged or not a 3MF package"},
    {kErrZipDirectory, "the ZIP central directory is damaged"},
    {kErrZipOutside, "the entry lies outside the file"},
    {kErrZipOverlap, "the entry overlaps another one"},
    {kErrZipHeadersDisagree, "the entry's local header disagrees with the central directory"},
    {kErrZipDuplicate, "the package holds two entries of this name"},
    {kErrZipEncrypted, "the entry is encrypted"},
    {kErrZipMethod, "the entry is compressed by method {n}, neither stored nor deflate"},
    {kErrZipBudget, "the entry would inflate to {n} bytes, more than the {l} this file may still take (a ZIP bomb?)"},
    {kErrZipCrc, "the entry fails its CRC-32 check"},
    {kErrZipInflate, "the entry's deflate stream is damaged: {r}"},
    {kErrZipTooManyEntries, "the package has {n} entries, more than {l}"},
    {kErr3mfNoModel, "the package names no 3D model part (_rels/.rels has no 3D model relationship)"},
    {kErr3mfMissingPart, "the part is not in the package"},
    {kErr3mfXml, "{r}"},
    {kErr3mfNotModel, "the root element is not a 3MF <model>"},
    {kErr3mfUnit, "unknown unit \"{d}\""},
    {kErr3mfBadVertex, "a vertex needs the numbers x, y and z"},
    {kErr3mfBadTriangle, "a triangle needs the vertex indices v1, v2 and v3"},
    {kErr3mfVertexIndex, "a triangle names vertex {n}, but the mesh has {l} vertices"},
    {kErr3mfBadTransform, "a transform needs twelve numbers"},
    {kErr3mfBadObject, "an object, component or build item needs a numeric object id"},
    {kErr3mfDuplicateObject, "object {n} is defined twice"},
    {kErr3mfUnknownObject, "object {n} is not in the model"},
    {kErr3mfComponentCycle, "object {n} contains itself through its components"},
    {kErr3mfTooDeep, "components nest more than {l} levels deep"},
    {kErr3mfTooManyTriangles, "the build holds {n} triangles, more than the {l} this viewer can show"},
    {kErr3mfRequired, "the model requires the extension {d}, which this viewer cannot read"},
    {kErr3mfNoBuild, "the model has no <build>"},
    {kErr3mfMeshAndComponents, "object {n} holds both a mesh and components"},
    {kErr3mfTooManyVertices, "a mesh has more than {l} vertices or triangles"},
    {kWarn3mfModelRelationships, "the package names {n} 3D model parts where one is allowed; the first is shown"},
    {kWarn3mfContentTypes, "[Content_Types].xml does not give the model part its 3D model type; read all the same"},
    {kWarn3mfDuplicateProperty, "property group {n} is defined twice; the first is used"},
    {kWarn3mfMissingColour, "{n} {triangle or object names|triangles or objects name} a colour that is not in the model; drawn without it"},
    {kWarn3mfBadColour, "colour \"{d}\" is not #RRGGBB or #RRGGBBAA; drawn white"},
    {kWarn3mfOtherInBuild, "build item {n} is an object of type \"other\", which is never printed; shown all the same"},
    {kInfo3mfWrittenBy, "written by {d}"},
    {kInfo3mfTitle, "title \"{d}\""},
    {kInfo3mfIgnored, "{d} not shown: this viewer ignores them"},
    {kInfo3mfSupports, "{n} of the objects shown {is a support|are supports} (type \"support\" or \"solidsupport\")"},
    {kInfo3mfSurfaces, "{n} of the objects shown {is an open surface|are open surfaces} (type \"surface\")"},
    {kInfo3mfCornerColours, "colours that change across a triangle are drawn in the colour of its first corner"},
};

const char* const kInflateFaults[] = {
    "no fault",
    "it ends before its last block",
    "a block of type 3, which deflate does not define",
    "a stored block's length check fails",
    "its code lengths make no valid code",
    "it holds a code that stands for nothing",
    "it copies from before its start",
    "it gives more bytes than the entry states",
    "it gives fewer bytes than the entry states",
};

const char* const kXmlFaults[] = {
    "no fault",
    "the XML ends inside an element",
    "the XML is not well-formed",
    "an end tag does not match the element it closes",
    "an element has the same attribute twice",
    "an unknown entity or a bad character reference",
    "a namespace prefix is not declared",
    "the XML nests more than 256 elements deep",
    "a document type declaration (DTD) is not allowed",
    "the part is not UTF-8 text",
    "there is more after the root element",
    "the part has no root element",
    "an element has more than 256 attributes, or the namespaces in scope more than 1024",
};

const char* textOf(StatusCode code) {
    for (const PackageText& entry : kTexts)
        if (entry.code == code) return entry.text;
    return nullptr;
}

Utf16* appendNumber(Utf16* out, uint64_t number) {
    Utf16 digits[20];
    int count = 0;
    do digits[count++] = static_cast<Utf16>('0' + number % 10); while (number /= 10);
    while (count) *out++ = digits[--count];
    return out;
}

// UTF-8 from the file, cut short and without NUL (which would end the line).
Utf16* appendQuoted(Utf16* out, const CountedText& text) {
    CountedText bounded{text.bytes, text.length < kQuotedBytes ? text.length : kQuotedBytes, kCodePageUtf8};
    for (uint32_t i = 0; i < bounded.length; ++i)
        if (!bounded.bytes[i]) bounded.length = i;
    return widenCountedText(&bounded, out);
}

const char* reasonText(StatusCode code, uint64_t reason) {
    const char* text = code == kErrZipInflate ? inflateFaultText(reason) : xmlFaultText(reason);
    return text ? text : "<unknown>";
}

// "{one|many}" at the brace: appends the words that agree and returns the
// closing brace; null, appending nothing, where no choice stands there.
const char* appendAgreeing(Utf16** out, const char* brace, bool one) {
    const char* bar = brace + 1;
    while (*bar && *bar != '|' && *bar != '}') ++bar;
    const char* end = bar;
    while (*end && *end != '}') ++end;
    if (*bar != '|' || !*end) return nullptr;
    for (const char* at = one ? brace + 1 : bar + 1; at < (one ? bar : end); ++at) *(*out)++ = static_cast<Utf16>(*at);
    return end;
}

const char* prefixOf(StatusCode code) {
    if (code >= kErrorClass) return "3MF error: ";
    if (code >= kWarningText) return "3MF warning: ";
    return "3MF info: ";
}

}  // namespace

const char* inflateFaultText(uint64_t reason) {
    return reason < sizeof kInflateFaults / sizeof kInflateFaults[0] ? kInflateFaults[reason] : nullptr;
}

const char* xmlFaultText(uint64_t reason) {
    return reason < sizeof kXmlFaults / sizeof kXmlFaults[0] ? kXmlFaults[reason] : nullptr;
}

bool isPackageCode(StatusCode code) {
    return textOf(code) != nullptr;
}

Utf16* appendPackageNote(Utf16* out, StatusCode code, const PackageNote* note) {
    const char* text = textOf(code);
    out = appendAscii(out, prefixOf(code));
    if (note->part.length) out = appendQuoted(out, note->part);
    if (note->line) out = appendNumber(appendAscii(out, note->part.length ? ", line " : "line "), note->line);
    if (note->part.length || note->line) out = appendAscii(out, ": ");
    for (const char* at = text; *at; ++at) {
        if (const char* end = at[0] == '{' ? appendAgreeing(&out, at, note->number == 1) : nullptr) {
            at = end;
            continue;
        }
        if (at[0] == '{' && at[1] && at[2] == '}') {
            char field = at[1];
            at += 2;
            if (field == 'n') out = appendNumber(out, note->number);
            else if (field == 'l') out = appendNumber(out, note->limit);
            else if (field == 'd') out = appendQuoted(out, note->detail);
            else out = appendAscii(out, reasonText(code, note->number));
            continue;
        }
        *out++ = static_cast<Utf16>(*at);
    }
    if (code >= kErrorClass) out = appendAscii(out, "; aborting");
    return out;
}
