#include "load/load_job.h"

#include <cmath>
#include <cstring>

#include "stl/ascii_exporter.h"
#include "stl/ascii_parser.h"
#include "stl/binary_exporter.h"
#include "stl/binary_parser.h"
#include "stl/format_detection.h"
#include "package/zip_archive.h"
#include "threemf/threemf_reader.h"
#include "view/gpu_mesh.h"

namespace {

constexpr uint32_t kMaxListPathUnits = 32765;

ModelPart* partAt(GrowBuffer* parts, uint64_t index) {
    return static_cast<ModelPart*>(parts->data) + index;
}

uint64_t partCount(const LoadJob* job) {
    return job->parts.used / sizeof(ModelPart);
}

void reportLine(const MessageSink* sink, const Utf16* line) {
    report(sink, kLine, reinterpret_cast<uintptr_t>(line));
}

}  // namespace

void releaseModelPart(ModelPart* part) {
    if (part->gpuMesh) releaseGpuMesh(static_cast<GpuMesh*>(part->gpuMesh));
    destroyPrivateHeap(part->heap);
}

void applyLoadDefaults(StlMetadata* metadata, const MessageSink* sink) {
    if (metadata->coordinateSpace == 0) {
        reportLine(sink, U16("STL info: unknown coordinate space; defaulting to Z up"));
        metadata->coordinateSpace = kSpaceZUp;
    }
    if (!(std::fabs(metadata->unitScale) < INFINITY)) {
        reportLine(sink, U16("STL info: unknown unit; defaulting to millimeters"));
        metadata->unitScale = kMillimetre;
    }
}

namespace {

void copyFilePath(ModelPart* part, const Utf16* path, HeapHandle heap) {
    uint64_t units = 1;
    while (path[units - 1]) ++units;
    Utf16* copy = static_cast<Utf16*>(allocArray(heap, units, sizeof(Utf16), nullptr));
    if (copy) memcpy(copy, path, units * sizeof(Utf16));
    part->filePath = copy;
    part->fileName = copy ? copy + (fileNameOf(path) - path) : nullptr;
}

// The bytes after the last block of a parsed binary file, too few for a count.
uint64_t strayBytes(const StlMesh* mesh, uint64_t size) {
    uint64_t used = kBinaryHeaderSize;
    for (uint32_t solid = 0; solid < mesh->solidCount; ++solid)
        used += 4 + uint64_t{mesh->solids[solid].triangleCount} * kBinaryTriangleSize;
    return size - used;
}

bool insideBytes(const char* text, const uint8_t* bytes, uint64_t size) {
    uintptr_t at = reinterpret_cast<uintptr_t>(text), start = reinterpret_cast<uintptr_t>(bytes);
    return text && at >= start && at - start < size;
}

// A name that points into the file's bytes, moved to `*room`.
CountedText movedName(CountedText name, const uint8_t* bytes, uint64_t size, char** room) {
    if (!insideBytes(name.bytes, bytes, size) || name.length == 0) return name;
    memcpy(*room, name.bytes, name.length);
    name.bytes = *room;
    *room += name.length;
    return name;
}

// The names that point into the file (ASCII solid names, a binary header's
// model name, names in a stored 3MF entry) get copies in the heap, in one
// block: the file's bytes go once the load ends.
bool keepNames(ModelPart* part, const uint8_t* bytes, uint64_t size, HeapHandle heap, const MessageSink* sink) {
    StlMesh* mesh = &part->mesh;
    CountedText model = part->metadata.modelName;
    uint64_t total = insideBytes(model.bytes, bytes, size) ? model.length : 0;
    for (uint32_t solid = 0; solid < mesh->solidCount; ++solid) {
        const CountedText& name = mesh->solids[solid].name;
        if (insideBytes(name.bytes, bytes, size)) total += name.length;  // names lie apart in the file: at most its size
    }
    if (total == 0) return true;
    char* room = static_cast<char*>(allocArray(heap, total, 1, sink));
    if (!room) return false;
    part->metadata.modelName = movedName(model, bytes, size, &room);
    for (uint32_t solid = 0; solid < mesh->solidCount; ++solid)
        mesh->solids[solid].name = movedName(mesh->solids[solid].name, bytes, size, &room);
    return true;
}

bool endsWith3mf(const Utf16* name) {
    uint32_t length = 0;
    while (name[length]) ++length;
    if (length < 4 || name[length - 4] != '.') return false;
    const char* extension = "3mf";
    for (int i = 0; i < 3; ++i)
        if ((name[length - 3 + i] | 0x20) != extension[i]) return false;
    return true;
}

// Why a file that detection refused cannot be shown: a text that starts
// with SOLID is told it is in capitals.
void reportUnreadableFile(const MessageSink* sink, const Utf16* path, const uint8_t* view, uint64_t viewSize) {
    PlacedError placed{kErrExpectedSolid, 1, fileNameOf(path), nullptr, 0};
    if (findCapitalKeyword(view, viewSize, 0, &placed) && (placed.capitals[0] | 0x20) == 's') {
        report(sink, kErrAsciiPlaced, reinterpret_cast<uintptr_t>(&placed));
        return;
    }
    FileFact fact{fileNameOf(path), missingBinaryBytes(view, viewSize)};
    StatusCode code = viewSize == 0 ? kErrEmptyFile : fact.count ? kErrTruncatedBinary
                    : endsWith3mf(fact.fileName) ? kErrNot3mf : kErrNotStl;
    report(sink, code, reinterpret_cast<uintptr_t>(&fact));
}

void loadFileInto(LoadJob* job, const Utf16* path, bool named, const MessageSink* sink) {
    GrowBuffer* parts = &job->parts;
    uint64_t needed = parts->used + sizeof(ModelPart);
    if (needed > parts->capacity && !growBuffer(parts, needed, processHeap(), sink)) return;
    ModelPart* part = partAt(parts, partCount(job));
    part->heap = nullptr;
    const uint8_t* view;
    uint64_t viewSize;
    // The file is read into memory of the load's own and let go at once;
    // the part keeps only what it needs, in its heap: nothing holds the
    // file once the load ends, and a later read cannot fault on it.
    if (!copyFileToMemory(path, &view, &viewSize)) {
        reportLastError(sink);
        return;
    }
    uint32_t format = detectModelFormat(view, viewSize);
    if (format == kFormatNone) {
        reportUnreadableFile(sink, path, view, viewSize);
        releaseFileCopy(view, viewSize);
        return;
    }
    HeapHandle heap = createPrivateHeap();
    if (!heap) {
        reportCode(sink, kOutOfMemory);
        releaseFileCopy(view, viewSize);
        return;
    }
    ErrorPlacer placer;
    initErrorPlacer(&placer, sink, view, viewSize, named ? fileNameOf(path) : nullptr);
    bool built = buildModelPart(part, format, view, viewSize, heap, job->viewWindow, &placer.self);
    releaseFileCopy(view, viewSize);
    if (!built) {
        destroyPrivateHeap(heap);
        return;
    }
    part->fileSize = viewSize;
    copyFilePath(part, path, heap);
    parts->used = needed;
}

// One file into a new slot; the slot counts only once everything succeeded.
// Its errors name it when it is `named`.
void loadFile(LoadJob* job, const Utf16* path, bool named) {
    MessageCap cap;
    initMessageCap(&cap, &job->sink.self);
    loadFileInto(job, path, named, &cap.self);
    closeMessageCap(&cap);
}

uint32_t unitsUpToTerminator(const Utf16* text) {
    uint32_t length = 0;
    while (text[length]) ++length;
    return length;
}

// Moves the next name of the list behind the current directory; false at the end.
bool advanceToNextFile(FileNameList* list) {
    const Utf16* name = list->path + list->nextName;
    uint32_t length = unitsUpToTerminator(name);
    if (length == 0) return false;
    memmove(list->path + list->nameStart, name, (length + 1) * sizeof(Utf16));
    list->nextName += static_cast<int32_t>(length + 1);
    return true;
}

}  // namespace

bool makeFileNameList(const Utf16* fullPath, FileNameList* list) {
    uint32_t length = 0;
    while (fullPath[length]) {
        if (++length >= kMaxListPathUnits) return false;
    }
    memcpy(list->path, fullPath, length * sizeof(Utf16));
    list->path[length] = 0;
    list->path[length + 1] = 0;
    list->nameStart = 0;
    list->nextName = static_cast<int32_t>(length + 1);
    return true;
}

void initLoadJob(LoadJob* job, const FileNameList* fileList, void* dialogWindow, void* viewWindow) {
    memcpy(&job->fileList, fileList, sizeof(FileNameList));
    job->viewWindow = viewWindow;
    job->messageLock = 0;
    job->progress = 0;
    job->state = kLoadRunning;
    job->keepGoing = 1;
    job->messages = GrowBuffer{nullptr, 0, 0};
    job->dialogWindow = dialogWindow;
    initConvertingSink(&job->sink, MessageSink{job, collectForJob});
    job->parts = GrowBuffer{nullptr, 0, 0};
}

bool mapModelFile(const Utf16* path, const MessageSink* sink, const uint8_t** view, uint64_t* viewSize) {
    if (mapFileReadOnly(path, view, viewSize)) return true;
    reportLastError(sink);
    return false;
}

uint32_t detectModelFormat(const uint8_t* bytes, uint64_t size) {
    return looksLikeZip(bytes, size) ? kFormat3mf : detectFormat(bytes, size);
}

bool buildModelPart(ModelPart* part, uint32_t format, const uint8_t* bytes, uint64_t size, HeapHandle heap,
                    void* viewWindow, const MessageSink* sink) {
    part->package = nullptr;
    if (!parseModel(part, format, bytes, bytes + size, heap, sink)) return false;
    part->mesh.source = nullptr;  // the bytes may go now
    if (!keepNames(part, bytes, size, heap, sink)) return false;
    uint8_t* visible = static_cast<uint8_t*>(allocArray(heap, part->mesh.solidCount, 1, sink));
    if (!visible) return false;
    memset(visible, 1, part->mesh.solidCount);
    if (meshTriangleCount(&part->mesh) == 0) reportCode(sink, kWarnNoTriangles);
    applyLoadDefaults(&part->metadata, sink);
    GpuMesh* gpuMesh = uploadMesh(viewWindow, &part->mesh, &part->metadata, visible, heap, sink);
    if (!gpuMesh) return false;
    part->gpuMesh = gpuMesh;
    part->visibleSolids = visible;
    part->heap = heap;
    part->fileName = nullptr;
    part->filePath = nullptr;
    return true;
}

bool parseModel(ModelPart* part, uint32_t format, const uint8_t* begin, const uint8_t* end, HeapHandle heap,
                const MessageSink* sink) {
    uint64_t size = static_cast<uint64_t>(end - begin);
    if (format == kFormatNone) format = detectModelFormat(begin, size);
    part->format = format;
    if (format == kFormat3mf) {
        PackageFacts* facts;  // the part's field is packed, so not written through a pointer
        bool read = read3mfPackage(&part->mesh, &part->metadata, &facts, begin, size, heap, sink);
        part->package = facts;
        return read;
    }
    if (format == kFormatAscii) {
        if (!parseAsciiStl(&part->mesh, begin, size, heap, sink)) return false;
        identifyAsciiExporter(part->mesh.solids, part->mesh.solidCount, &part->metadata, begin, end, sink);
        return true;
    }
    if (format == kFormatBinary) {
        if (!parseBinaryStl(&part->mesh, begin, size, heap, sink)) return false;
        uint64_t stray = strayBytes(&part->mesh, size);
        if (stray && sink) report(sink, kWarnStrayBytes, static_cast<uintptr_t>(stray));
        identifyBinaryExporter(&part->mesh, &part->metadata, sink);
        return true;
    }
    return false;
}

const Utf16* fileNameOf(const Utf16* path) {
    const Utf16* name = path;
    for (const Utf16* at = path; *at; ++at)
        if (*at == '\\' || *at == '/') name = at + 1;
    return name;
}

void runLoadJob(LoadJob* job) {
    job->parts = GrowBuffer{nullptr, 0, 0};
    FileNameList* list = &job->fileList;
    bool severalFiles = list->path[list->nextName] != 0;
    do {
        if (severalFiles) reportLine(&job->sink.self, fileNameOf(list->path));
        loadFile(job, list->path, severalFiles);
    } while (job->keepGoing && advanceToNextFile(list));
    job->state = !job->keepGoing ? kLoadStopped : partCount(job) ? kLoadFinished : kLoadNothingLoaded;
}

void releaseLoadJob(LoadJob* job) {
    freeBytes(job->messages.data);
    freeBytes(job->parts.data);
    freeBytes(job);
}

void destroyLoadJob(LoadJob* job) {
    for (uint64_t i = 0; i < partCount(job); ++i) {
        ModelPart* part = partAt(&job->parts, i);
        if (part->heap) releaseModelPart(part);
    }
    releaseLoadJob(job);
}

bool isLoadableStl(const Utf16* path) {
    const uint8_t* view;
    uint64_t viewSize;
    if (!mapModelFile(path, nullptr, &view, &viewSize)) return false;
    bool loadable = detectModelFormat(view, viewSize) != kFormatNone;
    unmapFile(view, viewSize);
    return loadable;
}
