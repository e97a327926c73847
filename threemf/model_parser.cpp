#include "threemf/model_parser.h"

#include <cstring>

#include "core/text_lines.h"
#include "package/xml_reader.h"
#include "stl/ascii_parser.h"
#include "threemf/mesh_elements.h"
#include "threemf/package_parts.h"

namespace {

enum Space : int32_t {
    kCore,
    kCoreDraft,  // the namespace of 3MF drafts before 1.0
    kMaterial,
    kProduction,
    kBeamLattice,
    kBeamBalls,
    kSlice,
    kVolumetric,
    kSecureContent,
    kDisplacement,
    kBooleans,
    kImplicit,
    kTriangleSets,
    kSpaceCount,
};

const char* const kSpaces[kSpaceCount] = {
    "http://schemas.microsoft.com/3dmanufacturing/core/2015/02",
    "http://schemas.microsoft.com/3dmanufacturing/2013/01",
    "http://schemas.microsoft.com/3dmanufacturing/material/2015/02",
    "http://schemas.microsoft.com/3dmanufacturing/production/2015/06",
    "http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02",
    "http://schemas.microsoft.com/3dmanufacturing/beamlattice/balls/2020/07",
    "http://schemas.microsoft.com/3dmanufacturing/slice/2015/07",
    "http://schemas.3mf.io/3dmanufacturing/volumetric/2022/01",
    "http://schemas.microsoft.com/3dmanufacturing/securecontent/2019/04",
    "http://schemas.microsoft.com/3dmanufacturing/displacement/2022/07",
    "http://schemas.3mf.io/3dmanufacturing/booleanoperations/2023/07",
    "http://schemas.3mf.io/3dmanufacturing/implicit/2023/12",
    "http://schemas.microsoft.com/3dmanufacturing/trianglesets/2021/07",
};

// What the viewer leaves out, each told once.
enum Ignored : uint32_t {
    kIgnoreBeams,
    kIgnoreSlices,
    kIgnoreVolumetric,
    kIgnoreDisplacement,
    kIgnoreBooleans,
    kIgnoreImplicit,
    kIgnoreTextures,
    kIgnoreComposites,
    kIgnoreMultiProperties,
};

const char* const kIgnoredWords[] = {
    "beam lattices (beam lattice extension)",
    "slice stacks (slice extension)",
    "volumetric data (volumetric extension)",
    "displacement maps (displacement extension)",
    "boolean shapes (boolean operations extension)",
    "implicit shapes (implicit extension)",
    "textures",
    "composite materials",
    "multi-properties",
};

// The extension of a namespace that the viewer does not show, or -1.
int ignoredOfSpace(int32_t space) {
    switch (space) {
    case kBeamLattice:
    case kBeamBalls: return kIgnoreBeams;
    case kSlice: return kIgnoreSlices;
    case kVolumetric: return kIgnoreVolumetric;
    case kDisplacement: return kIgnoreDisplacement;
    case kBooleans: return kIgnoreBooleans;
    case kImplicit: return kIgnoreImplicit;
    default: return -1;
    }
}

enum Context : uint8_t {
    kInNothing,
    kInModel,
    kInMetadata,
    kInResources,
    kInBuild,
    kInObject,
    kInMesh,
    kInVertices,
    kInTriangles,
    kInComponents,
    kInColours,      // basematerials or colorgroup: members with a colour
    kInPlainGroup,   // a group whose members are not drawn
    kInLeaf,         // an element whose children do not matter
};

struct Unit {
    const char* name;
    float metres;
};
const Unit kUnits[] = {{"micron", 0.000001f}, {"millimeter", 0.001f}, {"centimeter", 0.01f},
                       {"inch", 0.0254f},     {"foot", 0.3048f},      {"meter", 1.0f}};

struct Parser {
    ModelResources* r;
    uint32_t part;
    XmlReader* reader;
    ZipReading* reading;  // the part's bytes as they are inflated
    bool xmlFailed;       // the reader's fault, to report once the bytes are known to be right
    Context context[kXmlMaxDepth + 1];
    uint32_t skipDepth;  // 0: not skipping
    uint32_t object;     // the object being read, or kNotFound
    uint32_t group;      // the property group being read, or kNotFound
    uint32_t vertexCount;
    bool quickElements;  // unprefixed names are in the core namespace inside these vertices or triangles
    bool objectHasPid;
    uint32_t objectPid;
    CountedText* metadataSlot;
    // Lines for later messages, counted as the reading goes: the XML is gone by then.
    const uint8_t* countedTo;
    uint64_t lineEnds;  // before countedTo
};

bool isCore(int32_t space) {
    return space == kCore || space == kCoreDraft;
}

bool isMaterial(int32_t space) {
    return space == kMaterial || space == kCoreDraft;
}

const uint8_t* here(const Parser& p) {
    return p.reader->elementStart;
}

// The line of the element just read.
uint64_t lineHere(Parser& p) {
    const uint8_t* at = here(p);
    if (at < p.countedTo) {  // not expected: recounted from the start
        p.countedTo = p.reader->begin;
        p.lineEnds = 0;
    }
    p.lineEnds += countLineEnds(p.countedTo, at);
    p.countedTo = at;
    return p.lineEnds + 1;
}

bool fail(Parser& p, StatusCode code, uint64_t number = 0, uint64_t limit = 0, CountedText detail = {}) {
    reportPartNote(p.r, p.part, here(p), code, number, limit, detail);
    return false;
}

CountedText textOf(XmlSpan span) {
    return CountedText{reinterpret_cast<const char*>(span.bytes), span.length, 65001};
}

void noteIgnored(Parser& p, uint32_t what) {
    if (p.r->ignored & (1u << what)) return;
    p.r->ignored |= 1u << what;
    PackageNote note{};
    note.detail = CountedText{kIgnoredWords[what], static_cast<uint32_t>(strlen(kIgnoredWords[what])), 65001};
    if (p.r->sink) report(p.r->sink, kInfo3mfIgnored, reinterpret_cast<uintptr_t>(&note));
}

bool isBlank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

XmlSpan trimmed(XmlSpan span) {
    while (span.length && isBlank(span.bytes[0])) {
        ++span.bytes;
        --span.length;
    }
    while (span.length && isBlank(span.bytes[span.length - 1])) --span.length;
    return span;
}

// A value with its references replaced when it has any, in a small buffer:
// numbers and colours are short, longer ones are wrong anyway.
struct PlainValue {
    uint8_t buffer[64];
    XmlSpan span;
};

bool plainValue(const XmlAttribute* attribute, PlainValue* plain) {
    plain->span = attribute->value;
    if (!attribute->escaped) return true;
    if (attribute->value.length > sizeof plain->buffer) return false;
    plain->span = XmlSpan{plain->buffer, decodeXmlText(attribute->value, plain->buffer)};
    return true;
}

// A whole value as one number, blanks around it allowed.
bool readFloat(const Parser& p, const XmlAttribute* attribute, float* value) {
    if (!attribute) return false;
    PlainValue plain;
    if (!plainValue(attribute, &plain)) return false;
    XmlSpan span = trimmed(plain.span);
    if (!span.length) return false;
    const uint8_t* cursor = span.bytes;
    // Reading on to the limit lets the quick reader take eight bytes at a time;
    // it stops at the quote that ends the value.
    const uint8_t* end = attribute->escaped ? span.bytes + span.length : p.reader->limit;
    if (readNumber(value, &cursor, end, nullptr) != kNumberRead) return false;
    return cursor == span.bytes + span.length;
}

// A resource id or index: decimal digits below 2^31.
bool readIndex(const XmlAttribute* attribute, uint32_t* value) {
    if (!attribute) return false;
    PlainValue plain;
    if (!plainValue(attribute, &plain)) return false;
    XmlSpan span = trimmed(plain.span);
    if (!span.length || span.length > 10) return false;
    uint64_t number = 0;
    for (uint32_t i = 0; i < span.length; ++i) {
        uint8_t c = span.bytes[i];
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (number >= 0x80000000u) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

bool readTransform(const XmlAttribute* attribute, Transform* transform) {
    static const Transform kIdentity = {{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};
    *transform = kIdentity;
    if (!attribute) return true;
    XmlSpan span = attribute->value;
    uint8_t decoded[1024];
    if (attribute->escaped) {
        if (span.length > sizeof decoded) return false;
        span = XmlSpan{decoded, decodeXmlText(span, decoded)};
    }
    const uint8_t* at = span.bytes;
    const uint8_t* end = span.bytes + span.length;
    for (double& value : transform->m) {
        while (at < end && isBlank(*at)) ++at;
        float number;
        const uint8_t* start = at;
        if (at == end || readNumber(&number, &at, end, nullptr) != kNumberRead || at == start) return false;
        if (at < end && !isBlank(*at)) return false;
        value = number;
    }
    while (at < end && isBlank(*at)) ++at;
    return at == end;
}

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    uint8_t letter = c | 0x20;
    return letter >= 'a' && letter <= 'f' ? letter - 'a' + 10 : -1;
}

uint32_t fiveBits(uint32_t channel) {
    return (channel * 31 + 127) / 255;
}

// "#RRGGBB" or "#RRGGBBAA" as a set colour word; false for anything else.
bool readColour(XmlSpan span, uint16_t* colour) {
    span = trimmed(span);
    if ((span.length != 7 && span.length != 9) || span.bytes[0] != '#') return false;
    uint32_t channels[4] = {};
    for (uint32_t i = 1; i < span.length; ++i) {
        int digit = hexDigit(span.bytes[i]);
        if (digit < 0) return false;
        channels[(i - 1) / 2] = channels[(i - 1) / 2] * 16 + static_cast<uint32_t>(digit);
    }
    *colour = static_cast<uint16_t>(kColourSet | fiveBits(channels[0]) | fiveBits(channels[1]) << 5 |
                                    fiveBits(channels[2]) << 10);
    return true;
}

ModelObject* currentObject(const Parser& p) {
    return static_cast<ModelObject*>(p.r->objects.data) + p.object;
}

PropertyGroup* groupAt(const ModelResources* r, uint32_t index) {
    return static_cast<PropertyGroup*>(r->groups.data) + index;
}

// The colour of member `index` of group `id` in this part; kNoColour, with a
// count for the warning, when there is no such member.
uint16_t lookUpColour(Parser& p, uint32_t id, uint32_t index) {
    const ModelResources* r = p.r;
    uint32_t found = findRef(&r->groupTable, ObjectRef{p.part, id},
                             [r](uint32_t i) { return groupAt(r, i)->ref; });
    const PropertyGroup* group = found == kNotFound ? nullptr : groupAt(r, found);
    if (!group || index >= group->colours.used / sizeof(uint16_t)) {
        ++p.r->missingColours;
        return kNoColour;
    }
    return static_cast<const uint16_t*>(group->colours.data)[index];
}

// The part a p:path names (added when new), or this part without one.
bool partOfPath(Parser& p, const XmlAttribute* path, uint32_t* part) {
    *part = p.part;
    if (!path) return true;
    ModelResources* r = p.r;
    const ZipEntry* entry = findZipEntry(r->archive, reinterpret_cast<const char*>(path->value.bytes), path->value.length);
    if (!entry) {
        PackageNote note{};
        note.part = textOf(path->value);
        if (r->sink) report(r->sink, kErr3mfMissingPart, reinterpret_cast<uintptr_t>(&note));
        return false;
    }
    uint32_t* known = r->partOfEntry + (entry - r->archive->entries);
    if (!*known) {
        ModelPartText* added =
            static_cast<ModelPartText*>(appendElement(&r->parts, sizeof(ModelPartText), r->scratch, r->sink));
        if (!added) return false;
        *added = ModelPartText{entry, nullptr, 0, false};
        *known = partCountOf(r);
    }
    *part = *known - 1;
    return true;
}

bool startModel(Parser& p) {
    const XmlReader* reader = p.reader;
    if (!isCore(reader->space) || !xmlSpanIs(reader->local, "model")) return fail(p, kErr3mfNotModel);
    const XmlAttribute* required = findXmlAttribute(reader, kXmlNoSpace, "requiredextensions");
    if (required) {
        XmlSpan list = required->value;
        for (uint32_t i = 0; i < list.length;) {
            while (i < list.length && isBlank(list.bytes[i])) ++i;
            uint32_t start = i;
            while (i < list.length && !isBlank(list.bytes[i])) ++i;
            if (i == start) break;
            XmlSpan prefix{list.bytes + start, i - start};
            int32_t space;
            bool bound = resolveXmlPrefix(reader, prefix, &space);
            // Secure content hides parts from whoever has no key; an unknown extension may change anything.
            if (!bound || space == kSecureContent || space == kXmlUnknownSpace) return fail(p, kErr3mfRequired, 0, 0, textOf(prefix));
        }
    }
    if (p.part != 0) return true;
    const XmlAttribute* unit = findXmlAttribute(reader, kXmlNoSpace, "unit");
    if (!unit) return true;
    for (const Unit& known : kUnits)
        if (xmlSpanEquals(trimmed(unit->value), known.name)) {
            p.r->unitScale = known.metres;
            return true;
        }
    return fail(p, kErr3mfUnit, 0, 0, textOf(unit->value));
}

bool startObject(Parser& p) {
    ModelResources* r = p.r;
    const XmlReader* reader = p.reader;
    uint32_t id;
    if (!readIndex(findXmlAttribute(reader, kXmlNoSpace, "id"), &id)) return fail(p, kErr3mfBadObject);
    ModelObject* object = static_cast<ModelObject*>(appendElement(&r->objects, sizeof(ModelObject), r->scratch, r->sink));
    if (!object) return false;
    memset(object, 0, sizeof *object);
    object->ref = ObjectRef{p.part, id};
    object->line = lineHere(p);
    uint32_t index = static_cast<uint32_t>(r->objects.used / sizeof(ModelObject) - 1);
    uint32_t existing = insertRef(&r->objectTable, index, [r](uint32_t i) { return (static_cast<ModelObject*>(r->objects.data) + i)->ref; },
                                  r->scratch, r->sink);
    if (existing == kNotFound - 1) return false;
    if (existing != kNotFound) return fail(p, kErr3mfDuplicateObject, id);
    p.object = index;
    const XmlAttribute* type = findXmlAttribute(reader, kXmlNoSpace, "type");
    static const char* const kTypes[] = {"model", "solidsupport", "support", "surface", "other"};
    object->type = kObjectModel;
    for (uint8_t t = 0; type && t < 5; ++t)
        if (xmlSpanEquals(trimmed(type->value), kTypes[t])) object->type = static_cast<ObjectType>(t);
    const XmlAttribute* name = findXmlAttribute(reader, kXmlNoSpace, "name");
    if (name && name->value.length) {
        uint8_t* copy = static_cast<uint8_t*>(allocArray(r->scratch, name->value.length, 1, r->sink));
        if (!copy) return false;
        object->name = CountedText{reinterpret_cast<const char*>(copy), decodeXmlText(name->value, copy), 65001};
    }
    // An object's own property is the default of its triangles.
    uint32_t pid, pindex = 0;
    p.objectHasPid = readIndex(findXmlAttribute(reader, kXmlNoSpace, "pid"), &pid) ||
                     readIndex(findXmlAttribute(reader, kXmlNoSpace, "materialid"), &pid);  // drafts
    p.objectPid = pid;
    if (p.objectHasPid) {
        readIndex(findXmlAttribute(reader, kXmlNoSpace, "pindex"), &pindex);
        object->defaultColour = lookUpColour(p, pid, pindex);
    }
    p.vertexCount = 0;
    return true;
}

inline bool appendBytes(GrowBuffer* buffer, const void* bytes, uint64_t size, HeapHandle heap, const MessageSink* sink) {
    uint64_t needed = buffer->used + size;
    if (needed > buffer->capacity && !growBuffer(buffer, needed, heap, sink)) return false;
    memcpy(static_cast<uint8_t*>(buffer->data) + buffer->used, bytes, size);
    buffer->used = needed;
    return true;
}

constexpr uint32_t kMaxMeshElements = 0x7FFFFFFF;

bool addVertex(Parser& p, const float xyz[3]) {
    ++p.vertexCount;
    return appendBytes(&currentObject(p)->vertices, xyz, 3 * sizeof(float), p.r->scratch, p.r->sink);
}

bool addTriangle(Parser& p, const uint32_t corners[3], uint16_t colour) {
    ModelObject* object = currentObject(p);
    return appendBytes(&object->triangles, corners, 3 * sizeof(uint32_t), p.r->scratch, p.r->sink) &&
           appendBytes(&object->colours, &colour, sizeof colour, p.r->scratch, p.r->sink);
}

bool readVertex(Parser& p) {
    const XmlReader* reader = p.reader;
    float xyz[3];
    const XmlAttribute* x = nullptr;
    const XmlAttribute* y = nullptr;
    const XmlAttribute* z = nullptr;
    for (uint32_t i = 0; i < reader->attributeCount; ++i) {
        const XmlAttribute& a = reader->attributes[i];
        if (a.local.length != 1 || a.space != kXmlNoSpace) continue;
        if (a.local.bytes[0] == 'x') x = &a;
        else if (a.local.bytes[0] == 'y') y = &a;
        else if (a.local.bytes[0] == 'z') z = &a;
    }
    if (!readFloat(p, x, &xyz[0]) || !readFloat(p, y, &xyz[1]) || !readFloat(p, z, &xyz[2])) return fail(p, kErr3mfBadVertex);
    if (p.vertexCount == kMaxMeshElements) return fail(p, kErr3mfTooManyVertices, 0, kMaxMeshElements);
    return addVertex(p, xyz);
}

bool readTriangle(Parser& p) {
    const XmlReader* reader = p.reader;
    // v1, v2, v3, p1, p2, p3, then pid.
    const XmlAttribute* named[7] = {};
    for (uint32_t i = 0; i < reader->attributeCount; ++i) {
        const XmlAttribute& a = reader->attributes[i];
        if (a.space != kXmlNoSpace) continue;
        const uint8_t* name = a.local.bytes;
        if (a.local.length == 2 && (name[0] == 'v' || name[0] == 'p') && name[1] >= '1' && name[1] <= '3')
            named[(name[0] == 'p') * 3 + (name[1] - '1')] = &a;
        else if (xmlSpanIs(a.local, "pid"))
            named[6] = &a;
    }
    uint32_t corners[3];
    for (int c = 0; c < 3; ++c)
        if (!readIndex(named[c], &corners[c])) return fail(p, kErr3mfBadTriangle);
    for (int c = 0; c < 3; ++c)
        if (corners[c] >= p.vertexCount) return fail(p, kErr3mfVertexIndex, corners[c], p.vertexCount);
    ModelObject* object = currentObject(p);
    if (object->triangles.used / 12 == kMaxMeshElements) return fail(p, kErr3mfTooManyVertices, 0, kMaxMeshElements);
    uint16_t colour = object->defaultColour;
    uint32_t pid = p.objectPid, first;
    bool hasPid = readIndex(named[6], &pid) || p.objectHasPid;
    if (hasPid && readIndex(named[3], &first)) {
        colour = lookUpColour(p, pid, first);
        uint32_t other;
        for (int c = 4; c < 6; ++c)
            if (readIndex(named[c], &other) && other != first) p.r->cornerColours = true;
    }
    return addTriangle(p, corners, colour);
}

// The run of plainly written vertices or triangles at the reader's cursor;
// it stops before the first element it cannot take whole, fault or not, for
// the XML reader to read and judge.
bool readQuickElements(Parser& p, bool vertices) {
    XmlReader* reader = p.reader;
    const uint8_t* at = reader->cursor;
    const uint8_t* limit = reader->limit;
    if (at > p.countedTo) {
        p.lineEnds += countLineEnds(p.countedTo, at);
        p.countedTo = at;
    }
    for (;;) {
        // Counted only up to an element taken: a CR at the limit may yet pair.
        uint64_t ends = 0;
        while (at < limit && isBlank(*at)) {
            ends += (*at == '\n') | ((*at == '\r') & (at + 1 < limit && at[1] != '\n'));
            ++at;
        }
        const uint8_t* after;
        bool added;
        if (vertices) {
            float xyz[3];
            after = readQuickVertex(at, limit, xyz);
            if (!after || p.vertexCount == kMaxMeshElements) break;
            added = addVertex(p, xyz);
        } else {
            uint32_t corners[3];
            after = readQuickTriangle(at, limit, corners);
            ModelObject* object = currentObject(p);
            if (!after || corners[0] >= p.vertexCount || corners[1] >= p.vertexCount || corners[2] >= p.vertexCount ||
                object->triangles.used / 12 == kMaxMeshElements)
                break;
            added = addTriangle(p, corners, object->defaultColour);
        }
        if (!added) return false;
        p.lineEnds += ends;
        at = p.countedTo = after;
    }
    passXmlText(reader, at);
    return true;
}

bool readReference(Parser& p, ObjectRef* object, Transform* transform) {
    const XmlReader* reader = p.reader;
    if (!readIndex(findXmlAttribute(reader, kXmlNoSpace, "objectid"), &object->id)) return fail(p, kErr3mfBadObject);
    if (!readTransform(findXmlAttribute(reader, kXmlNoSpace, "transform"), transform)) return fail(p, kErr3mfBadTransform);
    return partOfPath(p, findXmlAttribute(reader, kProduction, "path"), &object->part);
}

bool readComponent(Parser& p) {
    Component component;
    component.line = lineHere(p);
    if (!readReference(p, &component.object, &component.transform)) return false;
    ModelObject* object = currentObject(p);
    object->hasComponents = true;
    return appendBytes(&object->components, &component, sizeof component, p.r->scratch, p.r->sink);
}

bool readItem(Parser& p) {
    BuildItem item;
    item.line = lineHere(p);
    if (!readReference(p, &item.object, &item.transform)) return false;
    return appendBytes(&p.r->items, &item, sizeof item, p.r->scratch, p.r->sink);
}

// A property group of this part: a duplicate id keeps the first (its
// members are then read into a group nobody looks up).
bool startGroup(Parser& p) {
    ModelResources* r = p.r;
    uint32_t id;
    if (!readIndex(findXmlAttribute(p.reader, kXmlNoSpace, "id"), &id)) return fail(p, kErr3mfBadObject);
    PropertyGroup* group = static_cast<PropertyGroup*>(appendElement(&r->groups, sizeof(PropertyGroup), r->scratch, r->sink));
    if (!group) return false;
    *group = PropertyGroup{ObjectRef{p.part, id}, GrowBuffer{nullptr, 0, 0}};
    uint32_t index = static_cast<uint32_t>(r->groups.used / sizeof(PropertyGroup) - 1);
    uint32_t existing = insertRef(&r->groupTable, index, [r](uint32_t i) { return groupAt(r, i)->ref; }, r->scratch, r->sink);
    if (existing == kNotFound - 1) return false;
    if (existing != kNotFound) reportPartNote(r, p.part, here(p), kWarn3mfDuplicateProperty, id);
    p.group = index;
    return true;
}

bool addGroupColour(Parser& p, const char* attributeName) {
    uint16_t colour = kNoColour;
    const XmlAttribute* value = attributeName ? findXmlAttribute(p.reader, kXmlNoSpace, attributeName) : nullptr;
    if (value && !readColour(value->value, &colour)) {
        reportPartNote(p.r, p.part, here(p), kWarn3mfBadColour, 0, 0, textOf(value->value));
        colour = static_cast<uint16_t>(kColourSet | 0x7FFF);
    }
    return appendBytes(&groupAt(p.r, p.group)->colours, &colour, sizeof colour, p.r->scratch, p.r->sink);
}

// Drafts before 1.0: a colour is a group of one, a material one that points at a colour.
bool readDraftColour(Parser& p, bool material) {
    if (!startGroup(p)) return false;
    uint16_t colour = kNoColour;
    if (material) {
        uint32_t id;
        if (readIndex(findXmlAttribute(p.reader, kXmlNoSpace, "colorid"), &id)) colour = lookUpColour(p, id, 0);
    } else {
        const XmlAttribute* value = findXmlAttribute(p.reader, kXmlNoSpace, "value");
        if (!value || !readColour(value->value, &colour)) colour = kNoColour;
    }
    return appendBytes(&groupAt(p.r, p.group)->colours, &colour, sizeof colour, p.r->scratch, p.r->sink);
}

// What an element is, from its parent; kInNothing skips it and what it holds.
Context enter(Parser& p, Context parent, bool* good) {
    const XmlReader* reader = p.reader;
    int32_t space = reader->space;
    XmlSpan local = reader->local;
    *good = true;
    switch (parent) {
    case kInVertices:
        if (isCore(space) && xmlSpanIs(local, "vertex")) return *good = readVertex(p), kInLeaf;
        return kInNothing;
    case kInTriangles:
        if (isCore(space) && xmlSpanIs(local, "triangle")) return *good = readTriangle(p), kInLeaf;
        return kInNothing;
    case kInNothing:
        return (*good = startModel(p)) ? kInModel : kInNothing;
    case kInModel:
        if (!isCore(space)) break;
        if (xmlSpanIs(local, "resources")) return kInResources;
        if (xmlSpanIs(local, "build")) {
            if (p.part == 0) p.r->sawBuild = true;
            return p.part == 0 ? kInBuild : kInNothing;
        }
        if (xmlSpanIs(local, "metadata") && p.part == 0) {
            const XmlAttribute* name = findXmlAttribute(reader, kXmlNoSpace, "name");
            p.metadataSlot = !name ? nullptr : xmlSpanIs(name->value, "Title") ? &p.r->title
                           : xmlSpanIs(name->value, "Application") ? &p.r->application : nullptr;
            return kInMetadata;
        }
        return kInNothing;
    case kInResources:
        if (isCore(space) && xmlSpanIs(local, "object")) return (*good = startObject(p)) ? kInObject : kInNothing;
        if (space == kCore && xmlSpanIs(local, "basematerials")) return (*good = startGroup(p)) ? kInColours : kInNothing;
        if (space == kMaterial && xmlSpanIs(local, "colorgroup")) return (*good = startGroup(p)) ? kInColours : kInNothing;
        if (space == kCoreDraft && xmlSpanIs(local, "color")) return *good = readDraftColour(p, false), kInNothing;
        if (space == kCoreDraft && xmlSpanIs(local, "material")) return *good = readDraftColour(p, true), kInNothing;
        if (isMaterial(space)) {
            if (xmlSpanIs(local, "texture2dgroup")) noteIgnored(p, kIgnoreTextures);
            else if (xmlSpanIs(local, "compositematerials")) noteIgnored(p, kIgnoreComposites);
            else if (xmlSpanIs(local, "multiproperties")) noteIgnored(p, kIgnoreMultiProperties);
            else if (xmlSpanIs(local, "texture2d") || xmlSpanIs(local, "texture")) noteIgnored(p, kIgnoreTextures);
            else break;
            if (xmlSpanIs(local, "texture2d") || xmlSpanIs(local, "texture")) return kInNothing;
            return (*good = startGroup(p)) ? kInPlainGroup : kInNothing;
        }
        break;
    case kInObject:
        if (isCore(space) && xmlSpanIs(local, "mesh")) {
            currentObject(p)->hasMesh = true;
            return kInMesh;
        }
        if (isCore(space) && xmlSpanIs(local, "components")) return kInComponents;
        break;
    case kInMesh:
        if (isCore(space) && xmlSpanIs(local, "vertices")) return kInVertices;
        if (isCore(space) && xmlSpanIs(local, "triangles")) return kInTriangles;
        break;
    case kInComponents:
        if (isCore(space) && xmlSpanIs(local, "component")) return *good = readComponent(p), kInLeaf;
        return kInNothing;
    case kInBuild:
        if (isCore(space) && xmlSpanIs(local, "item")) return *good = readItem(p), kInLeaf;
        return kInNothing;
    case kInColours:
        if (space == kCore && xmlSpanIs(local, "base")) return *good = addGroupColour(p, "displaycolor"), kInLeaf;
        if (space == kMaterial && xmlSpanIs(local, "color")) return *good = addGroupColour(p, "color"), kInLeaf;
        return kInNothing;
    case kInPlainGroup:
        return *good = addGroupColour(p, nullptr), kInLeaf;
    default:
        return kInNothing;
    }
    int ignored = ignoredOfSpace(space);
    if (ignored >= 0) noteIgnored(p, static_cast<uint32_t>(ignored));
    return kInNothing;
}

bool leave(Parser& p, Context context) {
    if (context != kInObject) return true;
    ModelObject* object = currentObject(p);
    p.object = kNotFound;
    p.objectHasPid = false;
    if (object->hasMesh && object->hasComponents) return fail(p, kErr3mfMeshAndComponents, object->ref.id);
    return true;
}

// A title or the writing program, copied: the XML goes when the part is read.
bool keepMetadata(Parser& p, XmlSpan text) {
    if (!text.length) return true;
    uint8_t* copy = static_cast<uint8_t*>(allocArray(p.r->scratch, text.length, 1, p.r->sink));
    if (!copy) return false;
    memcpy(copy, text.bytes, text.length);
    *p.metadataSlot = textOf(XmlSpan{copy, text.length});
    return true;
}

bool readPartXml(Parser& p) {
    XmlReader* reader = p.reader;
    for (;;) {
        Context inside = p.context[reader->depth];
        if (p.quickElements && !p.skipDepth && !reader->endPending && (inside == kInVertices || inside == kInTriangles) &&
            !readQuickElements(p, inside == kInVertices))
            return false;
        XmlEvent event = nextXmlEvent(reader);
        uint32_t depth = reader->depth;
        if (event == kXmlStart) {
            if (p.skipDepth) continue;
            bool good;
            Context context = enter(p, p.context[depth - 1], &good);
            if (!good) return false;
            p.context[depth] = context;
            if (context == kInVertices || context == kInTriangles) {
                int32_t space;
                p.quickElements = resolveXmlPrefix(reader, XmlSpan{reader->cursor, 0}, &space) && isCore(space);
            }
            if (context == kInNothing && depth > 1) p.skipDepth = depth;
            if (depth == 1 && context == kInNothing) return false;
        } else if (event == kXmlEnd) {
            // depth is now that of the parent
            if (p.skipDepth) {
                if (depth + 1 == p.skipDepth) p.skipDepth = 0;
                continue;
            }
            if (!leave(p, p.context[depth + 1])) return false;
        } else if (event == kXmlText) {
            if (!p.skipDepth && p.context[depth] == kInMetadata && p.metadataSlot && !p.metadataSlot->length &&
                !keepMetadata(p, trimmed(reader->text)))
                return false;
        } else if (event == kXmlDocumentEnd) {
            return true;
        } else if (event == kXmlNeedMore) {
            bool done;
            uint64_t had = static_cast<uint64_t>(reader->limit - reader->begin);
            uint64_t ready = waitForZipBytes(p.reading, had, &done);
            // A stream that broke off: its fault is the one to tell.
            if (done && ready < p.reading->entry->uncompressedSize) return false;
            reader->limit = reader->begin + ready;
            reader->final = done;
        } else {
            p.xmlFailed = true;
            return false;
        }
    }
}

// The part is read as it is inflated: the XML reader takes the bytes that
// are ready while the other core makes the rest.
bool readOnePart(ModelResources* r, uint32_t index) {
    ModelPartText* text = partText(r, index);
    ZipReading* reading = static_cast<ZipReading*>(allocArray(r->scratch, 1, sizeof(ZipReading), r->sink));
    XmlReader* reader = static_cast<XmlReader*>(allocArray(r->scratch, 1, sizeof(XmlReader), r->sink));
    Parser* p = static_cast<Parser*>(allocArray(r->scratch, 1, sizeof(Parser), r->sink));
    HeapHandle heap = index == 0 && r->heap ? r->heap : r->scratch;
    if (!reading || !reader || !p || !startZipReading(reading, r->archive, text->entry, heap, &r->budget, r->sink))
        return false;
    text->xml = reading->bytes;
    text->size = text->entry->uncompressedSize;
    text->read = true;
    bool done;
    uint64_t ready = waitForZipBytes(reading, 0, &done);
    initXmlReader(reader, reading->bytes, reading->bytes + ready, done, kSpaces, kSpaceCount);
    p->r = r;
    p->part = index;
    p->reader = reader;
    p->reading = reading;
    p->xmlFailed = false;
    p->context[0] = kInNothing;
    p->skipDepth = 0;
    p->object = kNotFound;
    p->group = kNotFound;
    p->vertexCount = 0;
    p->quickElements = false;
    p->objectHasPid = false;
    p->objectPid = 0;
    p->metadataSlot = nullptr;
    p->countedTo = reading->bytes;
    p->lineEnds = 0;
    bool read = readPartXml(*p);
    bool whole = finishZipReading(reading, heap, r->sink);
    if (whole && p->xmlFailed) reportXmlFault(r, index, reader);
    // Names, texts and lines are copied out; the triangles are made without it.
    if (whole && heap == r->heap) {
        r->spare = reading->bytes;
        r->spareSize = reading->entry->uncompressedSize;
    } else if (whole) {
        heapFree(heap, reading->bytes);
    }
    partText(r, index)->xml = nullptr;
    heapFree(r->scratch, p);
    heapFree(r->scratch, reader);
    heapFree(r->scratch, reading);
    return read && whole;
}

}  // namespace

bool readModelParts(ModelResources* r) {
    r->partOfEntry = static_cast<uint32_t*>(allocArray(r->scratch, r->archive->entryCount + 1, sizeof(uint32_t), r->sink));
    if (!r->partOfEntry) return false;
    memset(r->partOfEntry, 0, (r->archive->entryCount + 1) * sizeof(uint32_t));
    r->partOfEntry[partText(r, 0)->entry - r->archive->entries] = 1;
    for (uint32_t part = 0; part < partCountOf(r); ++part) {
        if (!readOnePart(r, part)) return false;
        if (part == 0 && !r->sawBuild) return reportPartNote(r, 0, nullptr, kErr3mfNoBuild), false;
    }
    return true;
}
