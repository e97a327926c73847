// The 3MF model reader on raw bytes taken as the model part of a package
// (stored, with its relationships): a package it reads gives solids that
// own their triangles and names, finite units and an RGB or no colour
// order; one it refuses says why. The XML reader, fed the same bytes a few
// at a time, must give the very events it gives for the whole text.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "package/xml_reader.h"
#include "tests/package_files.h"
#include "threemf/threemf_reader.h"

namespace {

const char* const kSpaces[] = {"http://schemas.microsoft.com/3dmanufacturing/core/2015/02",
                               "http://schemas.microsoft.com/3dmanufacturing/production/2015/06"};

// Kinds, depths and names of the events, and the fault at the end.
std::vector<uint64_t> xmlEvents(const uint8_t* data, size_t size, size_t step) {
    static XmlReader reader;
    size_t limit = step ? 0 : size;
    initXmlReader(&reader, data, data + limit, step == 0, kSpaces, 2);
    std::vector<uint64_t> events;
    for (;;) {
        XmlEvent event = nextXmlEvent(&reader);
        if (event == kXmlNeedMore) {
            FUZZ_CHECK(!reader.final);
            limit = limit + step < size ? limit + step : size;
            reader.limit = data + limit;
            reader.final = limit == size;
            continue;
        }
        events.push_back(uint64_t{event} << 48 | uint64_t{reader.depth} << 32 |
                         (event == kXmlStart ? static_cast<uint64_t>(reader.local.bytes - data) : 0));
        if (event == kXmlFailed) events.push_back(uint64_t{reader.fault} << 32 | reader.faultOffset);
        if (event == kXmlFailed || event == kXmlDocumentEnd) return events;
    }
}

bool outside(const void* pointer, const uint8_t* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(pointer);
    return p < data || p >= data + size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (size_t{1} << 20)) return 0;
    FUZZ_CHECK(xmlEvents(data, size, 0) == xmlEvents(data, size, 7));
    std::string model(reinterpret_cast<const char*>(data), size);
    std::string file = package3mf(model, {{"3D/Objects/part.model", model}}, false);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file.data());
    HeapHandle heap = createPrivateHeap();
    FUZZ_CHECK(heap != nullptr);
    ConvertedLines lines;
    StlMesh mesh;
    StlMetadata metadata;
    PackageFacts* facts;
    if (read3mfPackage(&mesh, &metadata, &facts, bytes, file.size(), heap, lines.producerSink())) {
        FUZZ_CHECK(mesh.source == nullptr);
        FUZZ_CHECK(facts && facts->buildItems == mesh.solidCount);
        FUZZ_CHECK(metadata.unitScale > 0 && metadata.unitScale <= 1);
        FUZZ_CHECK(metadata.coordinateSpace == kSpaceZUp);
        FUZZ_CHECK(metadata.colorOrder == kOrderNone || metadata.colorOrder == kOrderRgb);
        for (uint32_t s = 0; s < mesh.solidCount; ++s) {
            const StlSolid& solid = mesh.solids[s];
            FUZZ_CHECK(solid.name.length > 0 && outside(solid.name.bytes, bytes, file.size()));
            FUZZ_CHECK(solid.triangleCount == 0 || outside(solid.triangles, bytes, file.size()));
            if (metadata.colorOrder == kOrderNone) FUZZ_CHECK(!solid.hasColours);
        }
    } else {
        FUZZ_CHECK(lines.counter.lines > 0);
    }
    destroyPrivateHeap(heap);
    return 0;
}
