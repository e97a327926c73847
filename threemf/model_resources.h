// What the model parts of a 3MF package hold once read: objects with their
// meshes or components, the colours of the property groups, the build items
// and the metadata the viewer shows. Everything lives in the read's scratch
// heap and points into the parts' XML, which stays until the build is made.
#pragma once
#include <cstdint>
#include "core/memory.h"
#include "core/status.h"
#include "package/zip_archive.h"
#include "threemf/ref_table.h"

// Triangle colours as the binary STL attribute word in RGB order; the top
// bit marks a triangle that has one.
constexpr uint16_t kColourSet = 0x8000;
constexpr uint16_t kNoColour = 0;
constexpr uint32_t kMaxComponentDepth = 64;

enum ObjectType : uint8_t {
    kObjectModel,
    kObjectSolidSupport,
    kObjectSupport,
    kObjectSurface,
    kObjectOther,
};

// Row-major 3x4: the rotation and scale rows, then the translation.
struct Transform {
    double m[12];
};

struct Component {
    ObjectRef object;
    Transform transform;
    uint64_t line;
};

struct ModelObject {
    ObjectRef ref;
    ObjectType type;
    bool hasMesh;
    bool hasComponents;
    uint8_t visit;  // while the build counts: 0 unseen, 1 on the path, 2 done
    CountedText name;  // in the scratch heap, entities already replaced; empty when none
    uint64_t line;
    uint64_t expandedTriangles;  // with its components, once counted
    GrowBuffer vertices;   // float x, y, z
    GrowBuffer triangles;  // uint32_t v1, v2, v3
    GrowBuffer colours;    // uint16_t per triangle; empty when no triangle has one
    GrowBuffer components;  // Component
    uint16_t defaultColour;
};

struct BuildItem {
    ObjectRef object;
    Transform transform;
    uint64_t line;
};

// One model part: its entry, and its XML while it is read (lines are
// counted on the way, so that it can go before the triangles are made).
struct ModelPartText {
    const ZipEntry* entry;
    const uint8_t* xml;
    uint64_t size;
    bool read;
};

// A property group's colours (kNoColour for members not drawn).
struct PropertyGroup {
    ObjectRef ref;
    GrowBuffer colours;  // uint16_t
};

struct ModelResources {
    HeapHandle scratch;
    // The part's heap: the root model part is inflated there, so that the
    // triangles can take its block, pages in memory already, once it is read.
    HeapHandle heap;
    void* spare;  // that block, or null
    uint64_t spareSize;
    const MessageSink* sink;
    const ZipArchive* archive;
    uint64_t budget;
    GrowBuffer parts;    // ModelPartText; the root part first
    GrowBuffer objects;  // ModelObject
    GrowBuffer groups;   // PropertyGroup
    GrowBuffer items;    // BuildItem, of the root part
    RefTable groupTable;
    RefTable objectTable;
    uint32_t* partOfEntry;  // per archive entry: its part index + 1, 0 when none yet
    float unitScale;     // metres per unit
    CountedText title;        // copied from the root part's XML
    CountedText application;
    uint64_t missingColours;  // triangles and objects naming a colour that is not there
    bool sawBuild;
    bool cornerColours;       // a triangle's corners differ in colour
    uint32_t ignored;         // bits of the extensions reported as not shown
};

// Room for one more element of the given size; the element's address, or null after reporting.
void* appendElement(GrowBuffer* buffer, uint64_t elementSize, HeapHandle heap, const MessageSink* sink);

// Reports a code about a part of the package, with the line of `at` in it when at is not null.
void reportPartNote(const ModelResources* resources, uint32_t part, const uint8_t* at, StatusCode code,
                    uint64_t number = 0, uint64_t limit = 0, CountedText detail = CountedText{nullptr, 0, 0});
// The same with the line known (0: none).
void reportPartLine(const ModelResources* resources, uint32_t part, uint64_t line, StatusCode code,
                    uint64_t number = 0, uint64_t limit = 0, CountedText detail = CountedText{nullptr, 0, 0});

inline ModelPartText* partText(const ModelResources* resources, uint32_t part) {
    return static_cast<ModelPartText*>(resources->parts.data) + part;
}
inline uint32_t partCountOf(const ModelResources* resources) {
    return static_cast<uint32_t>(resources->parts.used / sizeof(ModelPartText));
}
