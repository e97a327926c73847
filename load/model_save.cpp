#include "load/model_save.h"

#include <cmath>
#include <cstring>
#include "core/byte_output.h"
#include "core/memory.h"
#include "stl/stl_writer.h"
#include "threemf/model_writer.h"

namespace {

constexpr size_t kOutputBuffer = 1u << 20;
constexpr uint32_t kMostSavedParts = 8;

bool unitKnown(const ModelPart& part) {
    return !part.metadata.unitAssumed && part.metadata.unitScale == part.metadata.unitScale;
}

bool anyRepair(const RepairChoice& choice) {
    return choice.turnFaces || choice.dropWithoutArea || choice.dropDuplicates || choice.closeHoles;
}

bool visible(const ModelPart& part, uint32_t solid) {
    return !part.visibleSolids || part.visibleSolids[solid];
}

// Millimetres per file unit: the units the recognisers give exactly (the
// float of 0.0254 is not 25.4 thousandths), others from their factor.
double millimetresPerUnit(const ModelPart& part) {
    float unit = part.metadata.unitScale;
    if (!unitKnown(part)) return 1;
    if (unit == kInch) return 25.4;
    if (unit == kCentimetre) return 10;
    if (unit == kMetre) return 1000;
    if (unit == kMillimetre) return 1;
    return unit / static_cast<double>(kMillimetre);
}

// written = scale · axes · (turn · p + shift): millimetres, Z up.
void partTransform(const SaveRequest& request, uint32_t index, double transform[3][4]) {
    const ModelPart& part = request.parts[index];
    Placement placement = request.placements ? request.placements[index] : identityPlacement();
    double scale = millimetresPerUnit(part);
    // Y up to Z up is a quarter turn about X: (x, y, z) becomes (x, -z, y).
    const double axes[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += (request.yUp ? axes[r][k] : r == k) * placement.turn[k][c];
            transform[r][c] = scale * sum;
        }
        double shift = 0;
        for (int k = 0; k < 3; ++k) shift += (request.yUp ? axes[r][k] : r == k) * placement.shift[k];
        transform[r][3] = scale * shift;
    }
}

// Everything saving holds, freed together.
struct SaveWork {
    StlMesh visible[kMostSavedParts] = {};   // per part: its visible solids, sharing their triangles
    StlMesh repaired[kMostSavedParts] = {};  // per part, when repaired
    RepairedWelding welding[kMostSavedParts] = {};  // per part, until the repaired part is checked
    SolidToWrite* solids = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t* vertexIds = nullptr;  // 3MF: per corner of every solid written
    ~SaveWork() {
        for (RepairedWelding& welding : welding) freeRepairedWelding(&welding);
        freeBytes(vertexIds);
        for (uint32_t p = 0; p < kMostSavedParts; ++p) freeRepairedMesh(&repaired[p], &visible[p]);
        for (StlMesh& mesh : visible) freeBytes(mesh.solids);
        freeBytes(solids);
        freeBytes(buffer);
    }
};

// The check done before, where it is of the very mesh being saved: every
// solid with triangles visible.
const CheckedBefore* checkedAsSaved(const SaveRequest& request, uint32_t index) {
    const CheckedBefore* checked = request.checked ? &request.checked[index] : nullptr;
    if (!checked || !checked->welding || !checked->welding->ids) return nullptr;
    const ModelPart& part = request.parts[index];
    for (uint32_t s = 0; s < part.mesh.solidCount; ++s)
        if (!visible(part, s) && part.mesh.solids[s].triangleCount) return nullptr;
    return checked;
}

bool takeVisibleSolids(const ModelPart& part, StlMesh* mesh, const MessageSink* sink) {
    *mesh = StlMesh{nullptr, nullptr, 0};
    mesh->solids = static_cast<StlSolid*>(allocArray(processHeap(), part.mesh.solidCount + 1ull, sizeof(StlSolid), sink));
    if (!mesh->solids) return false;
    for (uint32_t s = 0; s < part.mesh.solidCount; ++s)
        if (visible(part, s) && part.mesh.solids[s].triangleCount) mesh->solids[mesh->solidCount++] = part.mesh.solids[s];
    return true;
}

// A 3MF mesh joins its triangles through shared vertices: those the surface
// check welds, so that a seam closed within the welding distance stays closed.
bool weldForPackage(const ModelToWrite* model, SaveWork* work, const volatile uint8_t* keepGoing, const MessageSink* sink) {
    uint64_t corners = 3 * trianglesToWrite(model);
    if (!(work->vertexIds = static_cast<uint32_t*>(allocArray(processHeap(), corners + 1, 4, sink)))) return false;
    uint32_t* ids = work->vertexIds;
    for (uint32_t s = 0; s < model->solidCount; ++s) {
        SolidToWrite& solid = work->solids[s];
        StlMesh one{nullptr, const_cast<StlSolid*>(solid.solid), 1};
        if (!weldMeshCorners(&one, ids, &solid.vertexCount, nullptr, nullptr, keepGoing, sink)) return false;
        solid.vertexOf = ids;
        ids += 3ull * solid.solid->triangleCount;
    }
    return true;
}

bool toFile(void* file, const uint8_t* bytes, size_t size) {
    return writeReplacingFile(static_cast<ReplacingFile*>(file), bytes, size);
}

// The check of the repaired parts, which the file does not wait for: it
// runs beside the writing, and its lines come before the file is committed.
struct RepairChecks {
    SaveWork* work;
    uint32_t partCount;
    SaveOutcome* outcome;
    const volatile uint8_t* keepGoing;
    const MessageSink* sink;
    ThreadHandle thread;  // the check's, while it runs beside
    bool onThread;        // set before the thread starts: reports wait for the end
    bool done;
};

void runRepairChecks(void* context) {
    RepairChecks* checks = static_cast<RepairChecks*>(context);
    SaveWork* work = checks->work;
    checks->done = true;
    for (uint32_t p = 0; p < checks->partCount && checks->done; ++p)
        checks->done = checkRepairedMesh(&work->repaired[p], &work->welding[p], &checks->outcome->report,
                                         checks->keepGoing, checks->onThread ? nullptr : checks->sink);
}

void startRepairChecks(RepairChecks* checks, bool beside) {
    checks->onThread = beside;
    checks->thread = beside ? startThread(runRepairChecks, checks) : nullptr;
    if (checks->thread) return;
    checks->onThread = false;
    runRepairChecks(checks);
}

// Waits for the check and says what the repairs did and what is still open;
// false when the check could not be done (out of memory reported).
bool finishRepairChecks(RepairChecks* checks) {
    if (!checks->partCount) return true;
    if (checks->thread) {
        joinThread(checks->thread);
        checks->thread = nullptr;
        bool stopped = checks->keepGoing && !*checks->keepGoing;
        if (!checks->done && checks->sink && !stopped) reportCode(checks->sink, kOutOfMemory);
    }
    if (!checks->done) return false;
    checks->outcome->repaired = 1;
    report(checks->sink, kInfoRepaired, reinterpret_cast<uintptr_t>(&checks->outcome->report.counts));
    report(checks->sink, kInfoStillOpen, reinterpret_cast<uintptr_t>(&checks->outcome->report.counts));
    checks->partCount = 0;
    return true;
}

bool writeModel(const SaveRequest& request, const ModelToWrite& model, SaveWork* work, RepairChecks* checks,
                const MessageSink* sink) {
    SaveNote note{request.path, request.format, 0, model.unitKnown};
    if (request.format == kSaveBinaryStl && trianglesToWrite(&model) > 0xFFFFFFFFu) {
        if (finishRepairChecks(checks)) report(sink, kErrSaveTooLarge, reinterpret_cast<uintptr_t>(&note));
        return false;
    }
    ReplacingFile file;
    if (!beginReplacingFile(request.path, &file)) {
        note.error = lastSystemError();
        if (finishRepairChecks(checks)) report(sink, kErrSaveFailed, reinterpret_cast<uintptr_t>(&note));
        return false;
    }
    ByteOutput out = byteOutput(toFile, &file, work->buffer, kOutputBuffer);
    PackageWriteResult result = kPackageWritten;
    if (request.format == kSave3mf) result = write3mfPackage(&model, &out, sink);
    else if (!writeBinaryStl(&model, &out)) result = kPackageOutputFailed;
    note.error = lastSystemError();
    if (!finishRepairChecks(checks)) {
        abandonReplacingFile(&file);
        return false;
    }
    bool done = result == kPackageWritten && commitReplacingFile(&file);
    if (done) {
        report(sink, kInfoSaved, reinterpret_cast<uintptr_t>(&note));
        return true;
    }
    if (result == kPackageWritten) note.error = lastSystemError();
    else abandonReplacingFile(&file);
    if (result == kPackageTooLarge) report(sink, kErrSaveTooLarge, reinterpret_cast<uintptr_t>(&note));
    else if (result != kPackageNoMemory) report(sink, kErrSaveFailed, reinterpret_cast<uintptr_t>(&note));
    return false;
}

}  // namespace

uint32_t saveFormatFor(const Utf16* path) {
    size_t length = 0;
    while (path[length]) ++length;
    if (length < 4 || path[length - 4] != '.') return kSaveBinaryStl;
    const Utf16* end = path + length - 3;
    bool is3mf = end[0] == '3' && (end[1] | 0x20) == 'm' && (end[2] | 0x20) == 'f';
    return is3mf ? kSave3mf : kSaveBinaryStl;
}

bool saveModel(const SaveRequest* request, SaveOutcome* outcome, const volatile uint8_t* keepGoing,
               const MessageSink* sink) {
    *outcome = SaveOutcome{};
    SaveWork work;
    if (request->partCount > kMostSavedParts) return false;
    uint64_t solidCount = 0;
    bool repair = anyRepair(request->repairs);
    ModelToWrite model{nullptr, 0, 1, {0, 0, 0, 0}};
    for (uint32_t p = 0; p < request->partCount; ++p) {
        const ModelPart& part = request->parts[p];
        if (!takeVisibleSolids(part, &work.visible[p], sink)) return false;
        if (repair && !repairMeshCheckingLater(&work.visible[p], request->repairs, checkedAsSaved(*request, p),
                                               &work.repaired[p], &outcome->report, &work.welding[p], keepGoing, sink))
            return false;
        solidCount += work.visible[p].solidCount;
        // The first part's colour for the whole model, as the view shows it over parts without colours of their own.
        if (p == 0 && part.metadata.headerColor[3]) memcpy(model.modelColour, part.metadata.headerColor, 4);
        if (!unitKnown(part)) {
            model.unitKnown = 0;
            report(sink, kWarnSaveUnitUnknown, reinterpret_cast<uintptr_t>(part.fileName));
        }
    }
    if (!(work.solids = static_cast<SolidToWrite*>(allocArray(processHeap(), solidCount + 1, sizeof(SolidToWrite), sink))))
        return false;
    for (uint32_t p = 0; p < request->partCount; ++p) {
        const ModelPart& part = request->parts[p];
        const StlMesh& mesh = repair ? work.repaired[p] : work.visible[p];
        SolidToWrite solid{};
        partTransform(*request, p, solid.transform);
        solid.colorOrder = part.metadata.colorOrder;
        for (uint32_t s = 0; s < mesh.solidCount; ++s) {
            solid.solid = &mesh.solids[s];
            solid.name = mesh.solids[s].name.length ? mesh.solids[s].name : part.metadata.modelName;
            if (mesh.solids[s].triangleCount) work.solids[model.solidCount++] = solid;
        }
    }
    model.solids = work.solids;
    if (request->format == kSave3mf && !weldForPackage(&model, &work, keepGoing, sink)) return false;
    bool anything = trianglesToWrite(&model) != 0;
    if (anything && !(work.buffer = static_cast<uint8_t*>(allocArray(processHeap(), kOutputBuffer, 1, sink)))) return false;
    RepairChecks checks{&work, repair ? request->partCount : 0, outcome, keepGoing, sink, nullptr, false, false};
    if (repair) startRepairChecks(&checks, anything);
    if (!anything) {
        if (finishRepairChecks(&checks)) reportCode(sink, kErrSaveNothing);
        return false;
    }
    outcome->written = writeModel(*request, model, &work, &checks, sink);
    return outcome->written;
}
