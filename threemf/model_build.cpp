#include "threemf/model_build.h"

#include <cstring>

#include "core/checked_math.h"

namespace {

constexpr uint16_t kWhiteWord = 0x7FFF;
constexpr uint64_t kTriangleLimit = 0xFFFFFFFF;

ModelObject* objectAt(const ModelResources* r, uint32_t index) {
    return static_cast<ModelObject*>(r->objects.data) + index;
}

uint32_t objectCount(const ModelResources* r) {
    return static_cast<uint32_t>(r->objects.used / sizeof(ModelObject));
}

Component* componentsOf(const ModelObject* object) {
    return static_cast<Component*>(object->components.data);
}

uint32_t componentCount(const ModelObject* object) {
    return static_cast<uint32_t>(object->components.used / sizeof(Component));
}

uint32_t meshTriangles(const ModelObject* object) {
    return static_cast<uint32_t>(object->triangles.used / (3 * sizeof(uint32_t)));
}

uint32_t findObject(const ModelResources* r, ObjectRef ref) {
    return findRef(&r->objectTable, ref, [r](uint32_t i) { return objectAt(r, i)->ref; });
}

void reportAt(const ModelResources* r, uint32_t part, uint64_t line, StatusCode code, uint64_t number = 0,
              uint64_t limit = 0) {
    reportPartLine(r, part, line, code, number, limit);
}

// Component references become object indices (kept in the id field).
bool resolveComponents(ModelResources* r) {
    for (uint32_t i = 0; i < objectCount(r); ++i) {
        ModelObject* object = objectAt(r, i);
        Component* components = componentsOf(object);
        for (uint32_t c = 0; c < componentCount(object); ++c) {
            uint32_t found = findObject(r, components[c].object);
            if (found == kNotFound) {
                reportAt(r, object->ref.part, components[c].line, kErr3mfUnknownObject, components[c].object.id);
                return false;
            }
            components[c].object = ObjectRef{0, found};
        }
    }
    return true;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    uint64_t sum;
    return addOverflows(a, b, &sum) ? UINT64_MAX : sum;
}

// Triangles of an object with all it contains; refuses cycles and depth.
bool countTriangles(ModelResources* r, uint32_t index, uint32_t depth, uint64_t* count) {
    ModelObject* object = objectAt(r, index);
    if (object->visit == 2) {
        *count = object->expandedTriangles;
        return true;
    }
    if (object->visit == 1) {
        reportAt(r, object->ref.part, object->line, kErr3mfComponentCycle, object->ref.id);
        return false;
    }
    if (depth > kMaxComponentDepth) {
        reportAt(r, object->ref.part, object->line, kErr3mfTooDeep, 0, kMaxComponentDepth);
        return false;
    }
    object->visit = 1;
    uint64_t total = meshTriangles(object);
    for (uint32_t c = 0; c < componentCount(object); ++c) {
        uint64_t inner;
        if (!countTriangles(r, componentsOf(objectAt(r, index))[c].object.id, depth + 1, &inner)) return false;
        total = saturatingAdd(total, inner);
    }
    object = objectAt(r, index);
    object->visit = 2;
    object->expandedTriangles = total;
    *count = total;
    return true;
}

// Row vectors: a point p becomes p * inner * outer.
Transform compose(const Transform& inner, const Transform& outer) {
    Transform result;
    const double* a = inner.m;
    const double* b = outer.m;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 3; ++column) {
            double value = row == 3 ? b[9 + column] : 0.0;
            for (int k = 0; k < 3; ++k) value += a[row * 3 + k] * b[k * 3 + column];
            result.m[row * 3 + column] = value;
        }
    return result;
}

double determinant(const Transform& t) {
    const double* m = t.m;
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) + m[2] * (m[3] * m[7] - m[4] * m[6]);
}

void place(const Transform& t, const float* v, float* out) {
    const double* m = t.m;
    for (int column = 0; column < 3; ++column)
        out[column] = static_cast<float>(v[0] * m[column] + v[1] * m[3 + column] + v[2] * m[6 + column] + m[9 + column]);
}

struct Filling {
    StlTriangle* next;
    bool coloured;
};

// A transform that mirrors would turn the triangles inside out; swapping
// two corners keeps the sign of the volume, so mirrored parts stay outward.
void emitMesh(const ModelObject* object, const Transform& transform, Filling* filling) {
    const float* vertices = static_cast<const float*>(object->vertices.data);
    const uint32_t* corners = static_cast<const uint32_t*>(object->triangles.data);
    const uint16_t* colours = static_cast<const uint16_t*>(object->colours.data);
    bool mirrored = determinant(transform) < 0;
    uint32_t count = meshTriangles(object);
    StlTriangle* out = filling->next;
    for (uint32_t t = 0; t < count; ++t, ++out) {
        float placed[3][3];
        for (int c = 0; c < 3; ++c) place(transform, vertices + 3 * uint64_t{corners[3 * uint64_t{t} + c]}, placed[c]);
        StlTriangle triangle;
        memcpy(triangle.vertices[0], placed[0], 12);
        memcpy(triangle.vertices[1], placed[mirrored ? 2 : 1], 12);
        memcpy(triangle.vertices[2], placed[mirrored ? 1 : 2], 12);
        uint16_t colour = colours[t];
        triangle.attribute = colour & kColourSet ? static_cast<uint16_t>(colour & kWhiteWord) : kWhiteWord;
        filling->coloured = filling->coloured || (colour & kColourSet);
        memcpy(out, &triangle, sizeof triangle);
    }
    filling->next = out;
}

void emitObject(const ModelResources* r, uint32_t index, const Transform& transform, Filling* filling) {
    const ModelObject* object = objectAt(r, index);
    if (object->hasMesh) emitMesh(object, transform, filling);
    for (uint32_t c = 0; c < componentCount(object); ++c) {
        const Component& component = componentsOf(object)[c];
        emitObject(r, component.object.id, compose(component.transform, transform), filling);
    }
}

const BuildItem* itemsOf(const ModelResources* r) {
    return static_cast<const BuildItem*>(r->items.data);
}

uint32_t itemCount(const ModelResources* r) {
    return static_cast<uint32_t>(r->items.used / sizeof(BuildItem));
}

// "Object N" for an item whose object has no name.
uint32_t defaultNameLength(uint32_t number) {
    uint32_t digits = 1;
    while (number >= 10) {
        number /= 10;
        ++digits;
    }
    return 7 + digits;
}

char* writeDefaultName(char* out, uint32_t number) {
    memcpy(out, "Object ", 7);
    uint32_t length = defaultNameLength(number);
    for (uint32_t i = length; i-- > 7; number /= 10) out[i] = static_cast<char>('0' + number % 10);
    return out + length;
}

// Every solid's name in one block of the part's heap.
bool nameSolids(const ModelResources* r, const uint32_t* itemObjects, StlSolid* solids, HeapHandle heap) {
    uint32_t items = itemCount(r);
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < items; ++i) {
        const ModelObject* object = objectAt(r, itemObjects[i]);
        bytes += object->name.length ? object->name.length : defaultNameLength(i + 1);
    }
    char* names = static_cast<char*>(allocArray(heap, bytes ? bytes : 1, 1, r->sink));
    if (!names) return false;
    for (uint32_t i = 0; i < items; ++i) {
        const ModelObject* object = objectAt(r, itemObjects[i]);
        char* end = names;
        if (object->name.length) {
            memcpy(names, object->name.bytes, object->name.length);
            end += object->name.length;
        } else {
            end = writeDefaultName(names, i + 1);
        }
        solids[i].name = CountedText{names, static_cast<uint32_t>(end - names), 65001};
        names = end;
    }
    return true;
}

// Items of objects that are not the printed model, as lines.
void reportObjectTypes(const ModelResources* r, const uint32_t* itemObjects) {
    uint64_t supports = 0, surfaces = 0;
    for (uint32_t i = 0; i < itemCount(r); ++i) {
        const ModelObject* object = objectAt(r, itemObjects[i]);
        if (!object->hasMesh) continue;  // the type of an assembly is its parts'
        if (object->type == kObjectSupport || object->type == kObjectSolidSupport) ++supports;
        if (object->type == kObjectSurface) ++surfaces;
        if (object->type == kObjectOther) reportAt(r, 0, itemsOf(r)[i].line, kWarn3mfOtherInBuild, i + 1);
    }
    PackageNote note{};
    note.number = supports;
    if (supports && r->sink) report(r->sink, kInfo3mfSupports, reinterpret_cast<uintptr_t>(&note));
    note.number = surfaces;
    if (surfaces && r->sink) report(r->sink, kInfo3mfSurfaces, reinterpret_cast<uintptr_t>(&note));
}

// The root part's spent block, shrunk, for the first item's triangles when
// they fit in it; otherwise it goes before they are made.
StlTriangle* allocTriangles(ModelResources* r, uint64_t count, HeapHandle heap) {
    void* spare = r->spare;
    r->spare = nullptr;
    if (spare && count <= r->spareSize / sizeof(StlTriangle)) {
        void* block = reallocArray(heap, spare, count, sizeof(StlTriangle), r->sink);
        if (!block) heapFree(heap, spare);
        return static_cast<StlTriangle*>(block);
    }
    if (spare) heapFree(heap, spare);
    return static_cast<StlTriangle*>(allocArray(heap, count, sizeof(StlTriangle), r->sink));
}

}  // namespace

bool buildModelMesh(ModelResources* r, StlMesh* mesh, HeapHandle heap) {
    mesh->source = nullptr;
    mesh->solids = nullptr;
    mesh->solidCount = 0;
    if (!resolveComponents(r)) return false;
    uint32_t items = itemCount(r);
    uint32_t* itemObjects = static_cast<uint32_t*>(allocArray(r->scratch, items ? items : 1, sizeof(uint32_t), r->sink));
    uint64_t* itemTriangles = static_cast<uint64_t*>(allocArray(r->scratch, items ? items : 1, sizeof(uint64_t), r->sink));
    if (!itemObjects || !itemTriangles) return false;
    uint64_t total = 0;
    uint64_t memory = physicalMemoryBytes() / 4 / sizeof(StlTriangle);
    uint64_t limit = memory && memory < kTriangleLimit ? memory : kTriangleLimit;
    for (uint32_t i = 0; i < items; ++i) {
        const BuildItem& item = itemsOf(r)[i];
        uint32_t found = findObject(r, item.object);
        if (found == kNotFound) return reportAt(r, 0, item.line, kErr3mfUnknownObject, item.object.id), false;
        itemObjects[i] = found;
        if (!countTriangles(r, found, 1, &itemTriangles[i])) return false;
        total = saturatingAdd(total, itemTriangles[i]);
    }
    if (total > limit) return reportAt(r, 0, 1, kErr3mfTooManyTriangles, total, limit), false;
    reportObjectTypes(r, itemObjects);
    StlSolid* solids = static_cast<StlSolid*>(allocArray(heap, items ? items : 1, sizeof(StlSolid), r->sink));
    if (!solids) return false;
    mesh->solids = solids;
    for (uint32_t i = 0; i < items; ++i) {
        StlSolid& solid = solids[i];
        solid.hasNormals = 0;
        solid.hasColours = 0;
        solid.triangleCount = static_cast<uint32_t>(itemTriangles[i]);
        solid.triangles = nullptr;
        solid.name = CountedText{nullptr, 0, 0};
        mesh->solidCount = i + 1;
        if (!itemTriangles[i]) continue;
        StlTriangle* triangles = allocTriangles(r, itemTriangles[i], heap);
        if (!triangles) return false;
        solid.triangles = triangles;
        Filling filling{triangles, false};
        emitObject(r, itemObjects[i], itemsOf(r)[i].transform, &filling);
        solid.hasColours = filling.coloured;
    }
    return nameSolids(r, itemObjects, solids, heap);
}
