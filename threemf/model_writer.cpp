// The model part is written twice: once into a counter for its size and
// CRC-32, which a stored entry's header gives before the bytes, then for real.
#include "threemf/model_writer.h"

#include <cmath>
#include <cstring>
#include "core/code_page.h"
#include "core/memory.h"
#include "package/crc32.h"
#include "package/zip_writer.h"

namespace {

constexpr char kContentTypes[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"model\" ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
    "</Types>\n";
constexpr char kRelationships[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
    "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
    "</Relationships>\n";
constexpr char kModelHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<model unit=\"millimeter\" xml:lang=\"en-US\" "
    "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" "
    "xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/material/2015/02\">\n"
    " <metadata name=\"Application\">Veldmark STL Viewer</metadata>\n"
    " <resources>\n";

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kColours = 1u << 15;
constexpr uint32_t kColourGroupId = 1;

char* putDecimal(char* out, uint64_t value) {
    char digits[20];
    int count = 0;
    do digits[count++] = static_cast<char>('0' + value % 10); while (value /= 10);
    while (count) *out++ = digits[--count];
    return out;
}

void putNumber(ByteOutput* out, uint64_t value) {
    char text[20];
    putBytes(out, text, static_cast<size_t>(putDecimal(text, value) - text));
}

// The colour as red, green, blue in five bits each, red lowest.
uint16_t rgbOf(uint16_t attribute, uint8_t order) {
    uint16_t bits = attribute & 0x7FFF;
    if (order != kOrderBgr) return bits;
    return static_cast<uint16_t>((bits & 0x03E0) | (bits & 0x1F) << 10 | bits >> 10);
}

bool coloured(const SolidToWrite& solid) {
    return solid.solid->hasColours && solid.colorOrder != kOrderNone;
}

// Every colour the triangles use, numbered in the order of their bits.
struct Palette {
    uint32_t* index;  // per colour: its place in the group, or kNone
    uint32_t count;
};

bool makePalette(const ModelToWrite* model, Palette* palette, const MessageSink* sink) {
    palette->count = 0;
    palette->index = static_cast<uint32_t*>(allocArray(processHeap(), kColours, 4, sink));
    if (!palette->index) return false;
    memset(palette->index, 0xFF, kColours * 4);
    for (uint32_t s = 0; s < model->solidCount; ++s) {
        const SolidToWrite& solid = model->solids[s];
        if (!coloured(solid)) continue;
        for (uint32_t t = 0; t < solid.solid->triangleCount; ++t)
            palette->index[rgbOf(solid.solid->triangles[t].attribute, solid.colorOrder)] = 0;
    }
    for (uint32_t rgb = 0; rgb < kColours; ++rgb)
        if (palette->index[rgb] == 0) palette->index[rgb] = palette->count++;
    return true;
}

void putColourGroup(ByteOutput* out, const Palette& palette) {
    if (!palette.count) return;
    putText(out, "  <m:colorgroup id=\"1\">\n");
    for (uint32_t rgb = 0; rgb < kColours; ++rgb) {
        if (palette.index[rgb] == kNone) continue;
        char text[] = "   <m:color color=\"#000000\"/>\n";
        const char* hex = "0123456789ABCDEF";
        uint32_t channels[3] = {rgb & 31, rgb >> 5 & 31, rgb >> 10 & 31};
        for (int c = 0; c < 3; ++c) {
            uint32_t value = channels[c] << 3 | channels[c] >> 2;
            text[20 + 2 * c] = hex[value >> 4];
            text[21 + 2 * c] = hex[value & 15];
        }
        putText(out, text);
    }
    putText(out, "  </m:colorgroup>\n");
}

// The name as UTF-8 with the characters XML gives meaning escaped.
void putEscapedName(ByteOutput* out, const CountedText& name) {
    constexpr uint32_t kMostUnits = 1024;
    Utf16 units[kMostUnits];
    CountedText bounded = name;
    if (bounded.length > kMostUnits) bounded.length = kMostUnits;
    uint32_t length = bounded.length ? static_cast<uint32_t>(widenCountedText(&bounded, units) - units) : 0;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t code = units[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        if (code < 0x20) code = ' ';  // XML 1.0 holds no control characters
        if (code == '&') putText(out, "&amp;");
        else if (code == '<') putText(out, "&lt;");
        else if (code == '>') putText(out, "&gt;");
        else if (code == '"') putText(out, "&quot;");
        else {
            uint8_t bytes[4];
            int count = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
            static const uint8_t kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
            for (int k = count - 1; k > 0; --k, code >>= 6) bytes[k] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            bytes[0] = static_cast<uint8_t>(count == 1 ? code : kLead[count] | code);
            putBytes(out, bytes, static_cast<size_t>(count));
        }
    }
}

// The written corners of one solid joined by their bits into vertices.
struct SolidVertices {
    float (*positions)[3];
    uint32_t* corners;  // per corner: its vertex
    uint32_t* table;
    uint32_t count;
};

void freeSolidVertices(SolidVertices* v) {
    void* blocks[] = {v->positions, v->corners, v->table};
    for (void* block : blocks) freeBytes(block);
    *v = SolidVertices{};
}

uint64_t hashBits(const float p[3]) {
    uint32_t b[3];
    memcpy(b, p, 12);
    uint64_t h = (b[0] | uint64_t{b[1]} << 32) * 0x9E3779B97F4A7C15ull;
    h ^= (b[2] + (h >> 32)) * 0xC2B2AE3D27D4EB4Full;
    return h ^ h >> 29;
}

float writtenCoordinate(float x) {
    return std::isfinite(x) && x != 0 ? x : 0;  // -0 as +0
}

// Each vertex at the written place of its first corner.
bool placeWeldedVertices(const SolidToWrite& solid, SolidVertices* v, const MessageSink* sink) {
    uint64_t corners = 3ull * solid.solid->triangleCount;
    *v = SolidVertices{};
    v->positions = static_cast<float(*)[3]>(allocArray(processHeap(), solid.vertexCount + 1ull, 12, sink));
    v->table = static_cast<uint32_t*>(allocArray(processHeap(), solid.vertexCount + 1ull, 4, sink));
    if (!v->positions || !v->table) return false;
    memset(v->table, 0, (solid.vertexCount + 1ull) * 4);
    for (uint64_t c = 0; c < corners; ++c) {
        uint32_t vertex = solid.vertexOf[c];
        if (v->table[vertex]) continue;
        v->table[vertex] = 1;
        float given[3];
        memcpy(given, solid.solid->triangles[c / 3].vertices[c % 3], 12);  // the records are packed
        transformCorner(solid.transform, given, v->positions[vertex]);
        for (float& x : v->positions[vertex]) x = writtenCoordinate(x);
    }
    v->count = solid.vertexCount;
    freeBytes(v->table);
    v->table = nullptr;
    return true;
}

bool joinCorners(const SolidToWrite& solid, SolidVertices* v, const MessageSink* sink) {
    if (solid.vertexOf) return placeWeldedVertices(solid, v, sink);
    uint64_t corners = 3ull * solid.solid->triangleCount;
    uint64_t size = 1;
    while (size < 2 * corners) size <<= 1;
    *v = SolidVertices{};
    v->positions = static_cast<float(*)[3]>(allocArray(processHeap(), corners, 12, sink));
    v->corners = static_cast<uint32_t*>(allocArray(processHeap(), corners, 4, sink));
    v->table = static_cast<uint32_t*>(allocArray(processHeap(), size, 4, sink));
    if (!v->positions || !v->corners || !v->table) return false;
    memset(v->table, 0xFF, size * 4);
    for (uint64_t c = 0; c < corners; ++c) {
        float given[3], p[3];
        memcpy(given, solid.solid->triangles[c / 3].vertices[c % 3], 12);  // the records are packed
        transformCorner(solid.transform, given, p);
        for (float& x : p) x = writtenCoordinate(x);
        uint64_t slot = (hashBits(p) >> 20) & (size - 1);
        for (;; slot = (slot + 1) & (size - 1)) {
            uint32_t held = v->table[slot];
            if (held == kNone) {
                memcpy(v->positions[v->count], p, 12);
                v->table[slot] = v->corners[c] = v->count++;
                break;
            }
            if (memcmp(v->positions[held], p, 12) == 0) {
                v->corners[c] = held;
                break;
            }
        }
    }
    freeBytes(v->table);
    v->table = nullptr;
    return true;
}

void putVertex(ByteOutput* out, const float p[3]) {
    char line[80];
    char* at = line;
    memcpy(at, "     <vertex x=\"", 16), at += 16;
    at = formatCoordinate(p[0], at);
    memcpy(at, "\" y=\"", 5), at += 5;
    at = formatCoordinate(p[1], at);
    memcpy(at, "\" z=\"", 5), at += 5;
    at = formatCoordinate(p[2], at);
    memcpy(at, "\"/>\n", 4), at += 4;
    putBytes(out, line, static_cast<size_t>(at - line));
}

void putTriangle(ByteOutput* out, const uint32_t v[3], uint32_t colour) {
    char line[100];
    char* at = line;
    static const char* const kNames[3] = {"     <triangle v1=\"", "\" v2=\"", "\" v3=\""};
    for (int k = 0; k < 3; ++k) {
        size_t length = strlen(kNames[k]);
        memcpy(at, kNames[k], length);
        at = putDecimal(at + length, v[k]);
    }
    if (colour != kNone) {
        memcpy(at, "\" p1=\"", 6);
        at = putDecimal(at + 6, colour);
    }
    memcpy(at, "\"/>\n", 4), at += 4;
    putBytes(out, line, static_cast<size_t>(at - line));
}

bool putObject(ByteOutput* out, const SolidToWrite& solid, uint32_t id, const Palette& palette, const MessageSink* sink) {
    SolidVertices v;
    if (!joinCorners(solid, &v, sink)) {
        freeSolidVertices(&v);
        return false;
    }
    bool colours = coloured(solid) && palette.count;
    putText(out, "  <object id=\"");
    putNumber(out, id);
    putText(out, "\" type=\"model\"");
    if (solid.name.length) {
        putText(out, " name=\"");
        putEscapedName(out, solid.name);
        putText(out, "\"");
    }
    if (colours) {
        putText(out, " pid=\"1\" pindex=\"");
        putNumber(out, palette.index[rgbOf(solid.solid->triangles[0].attribute, solid.colorOrder)]);
        putText(out, "\"");
    }
    putText(out, ">\n   <mesh>\n    <vertices>\n");
    for (uint32_t i = 0; i < v.count && !out->failed; ++i) putVertex(out, v.positions[i]);
    putText(out, "    </vertices>\n    <triangles>\n");
    const uint32_t* vertexOf = solid.vertexOf ? solid.vertexOf : v.corners;
    for (uint32_t t = 0; t < solid.solid->triangleCount && !out->failed; ++t) {
        uint32_t colour = colours ? palette.index[rgbOf(solid.solid->triangles[t].attribute, solid.colorOrder)] : kNone;
        const uint32_t* v3 = vertexOf + 3 * t;
        // 3MF refuses a triangle with a vertex twice; it has no area anyway.
        if (v3[0] != v3[1] && v3[1] != v3[2] && v3[0] != v3[2]) putTriangle(out, v3, colour);
    }
    putText(out, "    </triangles>\n   </mesh>\n  </object>\n");
    freeSolidVertices(&v);
    return true;
}

// Objects are numbered from 2, after the colour group.
bool putModel(const ModelToWrite* model, const Palette& palette, ByteOutput* out, const MessageSink* sink) {
    putText(out, kModelHead);
    putColourGroup(out, palette);
    uint32_t id = kColourGroupId + 1;
    for (uint32_t s = 0; s < model->solidCount; ++s)
        if (model->solids[s].solid->triangleCount && !putObject(out, model->solids[s], id++, palette, sink)) return false;
    putText(out, " </resources>\n <build>\n");
    for (uint32_t item = kColourGroupId + 1; item < id; ++item) {
        putText(out, "  <item objectid=\"");
        putNumber(out, item);
        putText(out, "\"/>\n");
    }
    putText(out, " </build>\n</model>\n");
    return true;
}

bool putStoredText(ZipWriter* zip, const char* name, const char* text) {
    size_t length = strlen(text);
    if (!beginStoredEntry(zip, name, updateCrc32(0, reinterpret_cast<const uint8_t*>(text), length), length))
        return false;
    putBytes(zip->out, text, length);
    return true;
}

}  // namespace

char* formatCoordinate(float value, char* out) {
    if (!std::isfinite(value) || value == 0) {
        *out = '0';
        return out + 1;
    }
    double x = value;
    if (x < 0) *out++ = '-', x = -x;
    // Nine significant digits always read back as the float; fewer are tried first.
    int exponent = static_cast<int>(floor(log10(x)));
    if (x * pow(10.0, -exponent) >= 10) ++exponent;
    else if (x * pow(10.0, -exponent) < 1) --exponent;
    char digits[10];
    int count = 0;
    for (int wanted = 1; wanted <= 9; ++wanted) {
        double scaled = x * pow(10.0, wanted - 1 - exponent);
        double rounded = nearbyint(scaled);
        int e = exponent;
        if (rounded >= pow(10.0, wanted)) rounded /= 10, ++e;
        double back = rounded * pow(10.0, e - (wanted - 1));
        if (static_cast<float>(back) != static_cast<float>(x) && wanted < 9) continue;
        uint64_t whole = static_cast<uint64_t>(rounded);
        count = wanted;
        for (int i = count - 1; i >= 0; --i, whole /= 10) digits[i] = static_cast<char>('0' + whole % 10);
        exponent = e;
        break;
    }
    while (count > 1 && digits[count - 1] == '0') --count;
    if (exponent < -7 || exponent > 12) {
        *out++ = digits[0];
        if (count > 1) *out++ = '.';
        for (int i = 1; i < count; ++i) *out++ = digits[i];
        *out++ = 'e';
        if (exponent < 0) *out++ = '-', exponent = -exponent;
        return putDecimal(out, static_cast<uint64_t>(exponent));
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = -1; i > exponent; --i) *out++ = '0';
        for (int i = 0; i < count; ++i) *out++ = digits[i];
        return out;
    }
    for (int i = 0; i <= exponent; ++i) *out++ = i < count ? digits[i] : '0';
    if (count > exponent + 1) {
        *out++ = '.';
        for (int i = exponent + 1; i < count; ++i) *out++ = digits[i];
    }
    return out;
}

PackageWriteResult write3mfPackage(const ModelToWrite* model, ByteOutput* out, const MessageSink* sink) {
    Palette palette;
    if (!makePalette(model, &palette, sink)) return kPackageNoMemory;
    ZipMeasure measure{0, 0};
    uint8_t scratch[1 << 14];
    ByteOutput counter = byteOutput(measureForZip, &measure, scratch, sizeof scratch);
    bool made = putModel(model, palette, &counter, sink) && flushBytes(&counter);
    ZipWriter zip;
    beginZip(&zip, out);
    PackageWriteResult result = kPackageWritten;
    if (!made) result = kPackageNoMemory;
    else if (!putStoredText(&zip, "[Content_Types].xml", kContentTypes) || !putStoredText(&zip, "_rels/.rels", kRelationships) ||
             !beginStoredEntry(&zip, "3D/3dmodel.model", measure.crc, measure.size))
        result = zip.tooLarge ? kPackageTooLarge : kPackageOutputFailed;
    else if (!putModel(model, palette, out, sink))
        result = kPackageNoMemory;
    else if (!finishZip(&zip))
        result = zip.tooLarge ? kPackageTooLarge : kPackageOutputFailed;
    freeBytes(palette.index);
    return result;
}
