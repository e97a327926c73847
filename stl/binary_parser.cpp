#include "stl/binary_parser.h"

#include <cstring>

#include "core/memory.h"

namespace {

constexpr uint32_t kMaxSolids = 0x7FFFFFFF;
constexpr uint16_t kColourBits = 0x7FFF;
// Two spaces: the word of writers that pad each record with text.
constexpr uint16_t kTextPadding = 0x2020;

uint32_t readUint32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

bool hasNonZeroComponent(const uint8_t* record) {
    float normal[3];
    memcpy(normal, record, sizeof normal);
    // NaN compares unequal to zero, so it counts as a normal.
    return normal[0] != 0.0f || normal[1] != 0.0f || normal[2] != 0.0f;
}

uint16_t attributeWord(const uint8_t* record) {
    return static_cast<uint16_t>(record[48] | record[49] << 8);
}

// Whether a block's attribute words are colours. The padding word never is;
// of the others, one value shared by every face is a writer's constant, not
// a colour (a lone face keeps its colour unless it is none or all bits).
struct ColourVote {
    uint32_t words;  // not padding
    uint16_t first;
    bool differ;
    void add(uint16_t word) {
        if (word == kTextPadding) return;
        uint16_t colour = static_cast<uint16_t>(word & kColourBits);
        if (words++ == 0) first = colour;
        else differ = differ || colour != first;
    }
    bool coloured() const {
        if (differ) return true;
        return words == 1 && first != 0 && first != kColourBits;
    }
};

// One pass over a block's records: normals, colours and progress, and the
// corners with the attribute copied out.
void copyBlock(StlSolid* solid, const uint8_t* records, uint32_t count, const MessageSink* sink) {
    uint8_t* out = reinterpret_cast<uint8_t*>(solid->triangles);
    bool anyNormal = false;
    ColourVote colours{0, 0, false};
    uint32_t step = count / 1000 + 1;
    uint32_t nextReport = 0;
    uintptr_t reports = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (sink && i == nextReport) {
            sink->callback(sink->userData, kProgress, reports++, nullptr);
            nextReport += step;
        }
        const uint8_t* record = records + uint64_t{i} * kBinaryTriangleSize;
        memcpy(out + uint64_t{i} * sizeof(StlTriangle), record + kBinaryCornersAt, sizeof(StlTriangle));
        anyNormal = anyNormal || hasNonZeroComponent(record);
        colours.add(attributeWord(record));
    }
    solid->hasNormals = anyNormal;
    solid->hasColours = colours.coloured();
}

bool failParse(StlMesh* mesh, HeapHandle heap) {
    freeMeshSolids(mesh, heap);
    return false;
}

// Room for one more solid. The array doubles: every four bytes after a block
// can be one more empty block, and growing by one record per block copies
// the array over and over (minutes for a file of a few megabytes).
bool makeRoomForSolid(StlMesh* mesh, uint64_t* capacity, HeapHandle heap, const MessageSink* sink) {
    if (mesh->solidCount < *capacity) return true;
    uint64_t wanted = mesh->solids ? 2 * *capacity : 1;
    if (wanted > kMaxSolids) wanted = kMaxSolids;
    void* solids = mesh->solids ? reallocArray(heap, mesh->solids, wanted, sizeof(StlSolid), sink)
                                : allocArray(heap, wanted, sizeof(StlSolid), sink);
    if (!solids) return false;
    mesh->solids = static_cast<StlSolid*>(solids);
    *capacity = wanted;
    return true;
}

}  // namespace

bool parseBinaryStl(StlMesh* mesh, const uint8_t* file, uint64_t size, HeapHandle heap, const MessageSink* sink) {
    mesh->source = file;
    mesh->solids = nullptr;
    mesh->solidCount = 0;
    if (size < kBinaryHeaderSize + 4) {
        if (sink) reportCode(sink, kErrEndInCount);
        return false;
    }
    uint64_t cursor = kBinaryHeaderSize;
    uint64_t remaining = size - kBinaryHeaderSize;
    uint64_t capacity = 0;
    do {
        uint32_t count = readUint32(file + cursor);
        cursor += 4;
        remaining -= 4;
        uint64_t blockBytes = uint64_t{count} * kBinaryTriangleSize;  // below 2^38, no overflow
        if (remaining < blockBytes) {
            if (sink) reportCode(sink, kErrEndInTriangles);
            return failParse(mesh, heap);
        }
        if (mesh->solidCount >= kMaxSolids) return failParse(mesh, heap);
        if (!makeRoomForSolid(mesh, &capacity, heap, sink)) return failParse(mesh, heap);
        // Within the file's size, checked above: no block asks for more than the file holds.
        void* triangles = count ? allocArray(heap, count, sizeof(StlTriangle), sink) : nullptr;
        if (count && !triangles) return failParse(mesh, heap);
        StlSolid* solid = &mesh->solids[mesh->solidCount++];
        solid->triangleCount = count;
        solid->triangles = static_cast<StlTriangle*>(triangles);
        solid->name = CountedText{nullptr, 0, 0};
        copyBlock(solid, file + cursor, count, sink);
        cursor += blockBytes;
        remaining -= blockBytes;
    } while (remaining >= 4);
    if (capacity > mesh->solidCount) {
        // A failed shrink keeps the larger block; nothing is lost.
        void* shrunk = reallocArray(heap, mesh->solids, mesh->solidCount, sizeof(StlSolid), nullptr);
        if (shrunk) mesh->solids = static_cast<StlSolid*>(shrunk);
    }
    return true;
}
