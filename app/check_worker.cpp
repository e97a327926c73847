#include "app/check_worker.h"

#include "app/window_ids.h"
#include "core/memory.h"
#include "mesh/overhang_area.h"
#include "view/gpu_mesh.h"

namespace {

// What the thread is given; it frees the record when it ends.
struct CheckRun {
    HWND window;
    const StlMesh* meshes[kMaxParts];
    uint32_t generation;
    float overhangDegrees;
    volatile uint8_t* keepGoing;
};

void freeOutcome(CheckOutcome* outcome) {
    freeBytes(outcome->marks);
    freeSurfaceWelding(&outcome->welding);
    freeBytes(outcome);
}

// One mesh: null when stopped or without memory for the record itself.
CheckOutcome* checkMesh(const CheckRun* run, int slot) {
    auto* outcome = static_cast<CheckOutcome*>(allocArray(processHeap(), 1, sizeof(CheckOutcome), nullptr));
    if (!outcome) return nullptr;
    const StlMesh* mesh = run->meshes[slot];
    *outcome = CheckOutcome{run->generation, slot, 0, SurfaceCheck{}, nullptr, {0, 0}, run->overhangDegrees, {}};
    uint8_t* marks = static_cast<uint8_t*>(allocArray(processHeap(), meshTriangleCount(mesh) + 1, 1, nullptr));
    bool done = marks && checkSurfaceKeepingWelding(mesh, &outcome->result, marks, &outcome->welding, run->keepGoing, nullptr);
    if (!*run->keepGoing) {
        freeBytes(marks);
        freeOutcome(outcome);
        return nullptr;
    }
    if (done) outcome->marks = marks;
    else freeBytes(marks);
    if (done) measureOverhangs(mesh, &outcome->result, nullptr, run->overhangDegrees, outcome->overhangArea);
    outcome->done = done;
    return outcome;
}

DWORD WINAPI runChecks(void* parameter) {
    CheckRun* run = static_cast<CheckRun*>(parameter);
    for (int slot = 0; slot < kMaxParts && *run->keepGoing; ++slot) {
        if (!run->meshes[slot]) continue;
        CheckOutcome* outcome = checkMesh(run, slot);
        if (outcome && !PostMessageW(run->window, kCheckFinishedMessage, 0, reinterpret_cast<LPARAM>(outcome)))
            freeOutcome(outcome);
    }
    freeBytes(run);
    return 0;
}

}  // namespace

bool startChecks(CheckWorker* worker, HWND window, const StlMesh* const meshes[kMaxParts], uint32_t generation,
                 float overhangDegrees, const MessageSink* sink) {
    stopChecks(worker);
    auto* run = static_cast<CheckRun*>(allocArray(processHeap(), 1, sizeof(CheckRun), sink));
    if (!run) return false;
    *run = CheckRun{window, {}, generation, overhangDegrees, &worker->keepGoing};
    for (int slot = 0; slot < kMaxParts; ++slot) run->meshes[slot] = meshes[slot];
    worker->keepGoing = 1;
    worker->thread = CreateThread(nullptr, 0, runChecks, run, 0, nullptr);
    if (!worker->thread) {
        reportLastError(sink);
        freeBytes(run);
        return false;
    }
    // The window stays quick while the check takes the other core.
    SetThreadPriority(worker->thread, THREAD_PRIORITY_BELOW_NORMAL);
    return true;
}

void stopChecks(CheckWorker* worker) {
    if (!worker->thread) return;
    worker->keepGoing = 0;
    WaitForSingleObject(worker->thread, INFINITE);
    CloseHandle(worker->thread);
    worker->thread = nullptr;
}

bool takeCheckOutcome(ShownModel* model, CheckOutcome* outcome) {
    int slot = outcome->slot;
    bool current = outcome->generation == model->generation && slotInUse(model, slot) &&
                   model->checks[slot].state == kCheckPending;
    if (current) {
        PartCheck& check = model->checks[slot];
        check.result = outcome->result;
        check.marks = outcome->marks;
        check.overhangArea[0] = outcome->overhangArea[0];
        check.overhangArea[1] = outcome->overhangArea[1];
        check.overhangDegrees = outcome->overhangDegrees;
        check.state = outcome->done ? kCheckDone : kCheckFailed;
        check.welding = outcome->welding;
        outcome->marks = nullptr;
        outcome->welding = SurfaceWelding{nullptr, 0, 0};
    }
    freeOutcome(outcome);
    return current;
}

void measureOverhangs(const StlMesh* mesh, const SurfaceCheck* result, const Placement* placement, float degrees,
                      double area[2]) {
    // In file units: the window scales them by the unit it shows the part in.
    for (int yUp = 0; yUp < 2; ++yUp) {
        OverhangFrame frame = uprightFrame(yUp ? 1 : 2, result->insideOut != 0);
        if (placement) fileUpOf(*placement, yUp ? 1 : 2, frame.up);
        area[yUp] = overhangArea(mesh, frame, degrees, 1.0f);
    }
}

void forgetOverhangs(ShownModel* model) {
    for (PartCheck& check : model->checks) check.overhangDegrees = -1;
}

bool remeasureOverhangs(ShownModel* model, float degrees) {
    bool any = false;
    for (int slot = 0; slot < kMaxParts; ++slot) {
        PartCheck& check = model->checks[slot];
        if (!slotInUse(model, slot) || check.state != kCheckDone || check.overhangDegrees == degrees) continue;
        const GpuMesh* gpu = static_cast<const GpuMesh*>(model->parts[slot].gpuMesh);
        Placement placement = gpu ? Placement(gpu->placement) : identityPlacement();
        bool placed = gpu && gpu->placed;
        measureOverhangs(&model->parts[slot].mesh, &check.result, placed ? &placement : nullptr, degrees,
                         check.overhangArea);
        check.overhangDegrees = degrees;
        any = true;
    }
    return any;
}
