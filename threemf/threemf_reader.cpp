#include "threemf/threemf_reader.h"

#include <cstring>

#include "threemf/model_build.h"
#include "threemf/model_parser.h"
#include "threemf/package_parts.h"

namespace {

CountedText copyText(const CountedText& text, HeapHandle heap, const MessageSink* sink, bool* good) {
    if (!text.length) return CountedText{nullptr, 0, 0};
    char* copy = static_cast<char*>(allocArray(heap, text.length, 1, sink));
    if (!copy) {
        *good = false;
        return CountedText{nullptr, 0, 0};
    }
    uint32_t length = decodeXmlText(XmlSpan{reinterpret_cast<const uint8_t*>(text.bytes), text.length},
                                    reinterpret_cast<uint8_t*>(copy));
    return CountedText{copy, length, 65001};
}

void reportDetail(const MessageSink* sink, StatusCode code, const CountedText& detail) {
    if (!sink || !detail.length) return;
    PackageNote note{};
    note.detail = detail;
    report(sink, code, reinterpret_cast<uintptr_t>(&note));
}

// What the package says beyond the mesh, copied out of its XML.
bool keepFacts(const ModelResources* r, const StlMesh* mesh, StlMetadata* metadata, PackageFacts** facts,
               HeapHandle heap, const MessageSink* sink) {
    bool good = true;
    PackageFacts* kept = static_cast<PackageFacts*>(allocArray(heap, 1, sizeof(PackageFacts), sink));
    if (!kept) return false;
    kept->buildItems = mesh->solidCount;
    kept->application = copyText(r->application, heap, sink, &good);
    metadata->coordinateSpace = kSpaceZUp;
    metadata->unitScale = r->unitScale;
    metadata->unitAssumed = 0;
    bool coloured = false;
    for (uint32_t i = 0; i < mesh->solidCount; ++i) coloured = coloured || mesh->solids[i].hasColours;
    metadata->colorOrder = coloured ? kOrderRgb : kOrderNone;
    memset(metadata->headerColor, 0, sizeof metadata->headerColor);
    metadata->modelName = copyText(r->title, heap, sink, &good);
    *facts = kept;
    if (!good) return false;
    reportDetail(sink, kInfo3mfWrittenBy, kept->application);
    reportDetail(sink, kInfo3mfTitle, metadata->modelName);
    PackageNote note{};
    note.number = r->missingColours;
    if (r->missingColours && sink) report(sink, kWarn3mfMissingColour, reinterpret_cast<uintptr_t>(&note));
    if (r->cornerColours && sink) report(sink, kInfo3mfCornerColours, reinterpret_cast<uintptr_t>(&note));
    return true;
}

}  // namespace

bool read3mfPackage(StlMesh* mesh, StlMetadata* metadata, PackageFacts** facts, const uint8_t* file, uint64_t size,
                    HeapHandle heap, const MessageSink* sink) {
    mesh->source = nullptr;
    mesh->solids = nullptr;
    mesh->solidCount = 0;
    *facts = nullptr;
    // Everything read on the way goes when the scratch heap does.
    HeapHandle scratch = createPrivateHeap();
    if (!scratch) {
        if (sink) reportCode(sink, kOutOfMemory);
        return false;
    }
    ZipArchive archive;
    ModelResources resources;
    memset(&resources, 0, sizeof resources);
    resources.scratch = scratch;
    resources.heap = heap;
    resources.sink = sink;
    resources.archive = &archive;
    resources.budget = zipBudget(size);
    resources.unitScale = kMillimetre;
    bool read = openZipArchive(&archive, file, size, scratch, sink) && findRootModel(&resources) &&
                readModelParts(&resources) && buildModelMesh(&resources, mesh, heap) &&
                keepFacts(&resources, mesh, metadata, facts, heap, sink);
    if (resources.spare) heapFree(heap, resources.spare);
    destroyPrivateHeap(scratch);
    return read;
}
