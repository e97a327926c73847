#include "app/load_progress.h"

#include <commctrl.h>

#include "app/file_watch.h"
#include "app/load_failure.h"
#include "app/menu_state.h"
#include "app/part_colors.h"
#include "app/part_unit.h"
#include "app/part_tree.h"
#include "app/recent_files.h"
#include "app/window_ids.h"
#include "core/log_sink.h"
#include "view/gpu_mesh.h"
#include "view/problem_edges.h"
#include "view/view_control.h"

namespace {

constexpr uint32_t kWhiteNoOverride = 0x00FFFFFF;

DisplayUnits units(const MainDialogState* state) {
    return shownUnits(&state->preferences);
}

// The tree leaves solids without triangles out; the messages still count them.
void noteEmptySolids(HWND messages, const ModelPart& part) {
    uint64_t empty = 0;
    for (uint32_t solid = 0; solid < part.mesh.solidCount; ++solid) empty += part.mesh.solids[solid].triangleCount == 0;
    if (!empty) return;
    wchar_t line[kMaxCountText + 64];
    writeEmptySolids(line, empty, kUserLocale);
    appendText(messages, line);
}

void installParts(MainDialogState* state, int first) {
    HWND view = panelItem(&state->panel, kViewId);
    if (first == 0) {
        CameraAngles start = readStartAngles(state->preferences.keys);
        resetView(view, start.yaw, start.pitch);
        // Another model: the last one's plane would cut it anywhere.
        SectionPlane section = viewSection(view);
        section.on = 0;
        setViewSection(view, &section);
    }
    for (int slot = first; slot < usedPartCount(&state->model); ++slot) {
        installMesh(view, static_cast<GpuMesh*>(state->model.parts[slot].gpuMesh), slot == 0);
        if (slot == 0) updatePartSwatch(&state->panel, &state->model, state->preferences.values[kSettingObjectColor], 0);
    }
}

// The parts whose check is pending, on the worker; without one they stay unchecked.
void startModelChecks(MainDialogState* state) {
    ShownModel* model = &state->model;
    const StlMesh* meshes[kMaxParts] = {};
    for (int slot = 0; slot < kMaxParts; ++slot)
        if (slotInUse(model, slot) && model->checks[slot].state == kCheckPending) meshes[slot] = &model->parts[slot].mesh;
    float degrees = static_cast<float>(state->preferences.values[kSettingOverhangAngle]);
    if (startChecks(&state->checkWorker, state->dialog, meshes, model->generation, degrees, &state->sink.self)) return;
    for (PartCheck& check : model->checks)
        if (check.state == kCheckPending) check.state = kCheckFailed;
}

// Parts the model has no free slot for are refused by name, before they go.
void noteRefusedParts(HWND messages, const ShownModel* model, const LoadJob* job) {
    int free = kMaxParts - usedPartCount(model);
    const ModelPart* parts = static_cast<const ModelPart*>(job->parts.data);
    for (uint64_t i = 0; i < job->parts.used / sizeof(ModelPart); ++i) {
        if (!parts[i].heap || free-- > 0) continue;
        appendText(messages, parts[i].fileName ? parts[i].fileName : L"A part");
        appendText(messages, L": not added; one model holds at most four parts\r\n");
    }
}

// The files of the parts from `first` on go to the recent files.
void rememberNewParts(MainDialogState* state, int first) {
    const wchar_t* paths[kMaxParts];
    int count = 0;
    for (int slot = first; slot < usedPartCount(&state->model); ++slot) paths[count++] = state->model.parts[slot].filePath;
    rememberLoadedFiles(state->preferences.keys, state->menu, paths, count, &state->sink.self);
}

// Takes the finished current job's parts into the free slots and shows them.
void showLoadResult(MainDialogState* state, LoadJob* job) {
    Panel* panel = &state->panel;
    ShownModel* model = &state->model;
    HWND messages = panelItem(panel, kMessagesId), view = panelItem(panel, kViewId);
    if (job->state != kLoadStopped && job->messages.used)
        appendText(messages, static_cast<const wchar_t*>(job->messages.data));
    bool replace = state->navigation.replaceModel;
    state->navigation.replaceModel = 0;
    if (replace && jobBroughtParts(job)) clearModel(state);
    noteRefusedParts(messages, model, job);
    int first = takeParts(model, job);
    model->overrideColor = kWhiteNoOverride;
    if (first >= 0) {
        appendText(messages, L"file loaded successfully\r\n");
        for (int slot = first; slot < usedPartCount(model); ++slot) {
            fillPartTree(panelItem(panel, kTreeId), &model->parts[slot], slot);
            noteEmptySolids(messages, model->parts[slot]);
        }
        model->newestSlot = first;
        rememberNewParts(state, first);
        showModelTitle(state->dialog, model);
        showPartFacts(panel, model, first);
        installParts(state, first);
        enablePartControls(panel, model, first);
    } else {
        if (usedPartCount(model) == 0) {
            clearMeshes(view);
            disablePartControls(panel);
        }
        if (job->state != kLoadStopped) showLoadFailure(panel, model, fileNameOf(job->fileList.path));
    }
    showTriangleColorChoice(panel, model);
    showPartUnit(panel, model);
    state->navigation.currentJob = nullptr;
    bool shown = slotInUse(model, 0);
    showViewArea(panel, false, shown);
    if (shown) SendMessageW(state->dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(view), TRUE);
    showPanelTexts(panel, model, units(state));
    updateMenu(state);
    // The panel and the messages first: a heavy model's first frame may take a while.
    ValidateRect(view, nullptr);
    RedrawWindow(state->dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    InvalidateRect(view, nullptr, FALSE);
    // After the model is on screen, so the first frame does not wait for it.
    if (first >= 0) startModelChecks(state);
}

ModelPart* firstBroughtPart(LoadJob* job) {
    ModelPart* parts = static_cast<ModelPart*>(job->parts.data);
    for (uint64_t i = 0; i < job->parts.used / sizeof(ModelPart); ++i)
        if (parts[i].heap) return &parts[i];
    return nullptr;
}

// The reloaded part takes the old one's slot; the camera, the render mode, the
// section and the solids hidden by name stay as the user left them.
void replacePart(MainDialogState* state, int slot, ModelPart* fresh) {
    Panel* panel = &state->panel;
    ShownModel* model = &state->model;
    HWND view = panelItem(panel, kViewId);
    ViewCamera camera{};
    bool cameraKept = viewCamera(view, &camera);
    SectionPlane section = viewSection(view);
    stopChecks(&state->checkWorker);  // it may read the part that goes
    clearMeshes(view);
    ModelPart* shown = &model->parts[slot];
    carrySolidVisibility(shown, fresh);
    // A file that still names no unit keeps the one the part had (the Unit box's).
    bool keepUnit = fresh->metadata.unitAssumed && !shown->metadata.unitAssumed;
    float unit = shown->metadata.unitScale;
    releaseModelPart(shown);
    *shown = *fresh;
    fresh->heap = nullptr;
    PartCheck& check = model->checks[slot];
    forgetPartCheck(&check);
    check.state = kCheckPending;
    ++model->generation;  // an outcome posted for the part that went is old news
    if (slot == model->newestSlot) {
        model->overrideColor = kWhiteNoOverride;
        showPartFacts(panel, model, slot);
    }
    for (int part = 0; part < usedPartCount(model); ++part) {
        fillPartTree(panelItem(panel, kTreeId), &model->parts[part], part);
        installMesh(view, static_cast<GpuMesh*>(model->parts[part].gpuMesh), part == 0);
    }
    if (keepUnit) {
        shown->metadata.unitScale = unit;
        shown->metadata.unitAssumed = 0;
        setMeshUnit(view, static_cast<GpuMesh*>(shown->gpuMesh), unit);
    }
    updatePartSwatch(panel, model, state->preferences.values[kSettingObjectColor], 0);
    if (cameraKept) setViewCamera(view, &camera);
    setViewSection(view, &section);
    showTriangleColorChoice(panel, model);
    showPartUnit(panel, model);
    showPanelTexts(panel, model, units(state));
    updateMenu(state);
    startModelChecks(state);
}

// A reload that fails leaves the shown part as it was, with the error.
void showReloadResult(MainDialogState* state, LoadJob* job, int slot) {
    HWND messages = panelItem(&state->panel, kMessagesId);
    state->navigation.currentJob = nullptr;
    if (job->messages.used) appendText(messages, static_cast<const wchar_t*>(job->messages.data));
    ModelPart* fresh = firstBroughtPart(job);
    appendText(messages, fresh ? L"file loaded successfully\r\n" : L"The view keeps the model as it was before the change.\r\n");
    if (fresh) replacePart(state, slot, fresh);
    else showLoadFailure(&state->panel, &state->model, fileNameOf(job->fileList.path));
    InvalidateRect(panelItem(&state->panel, kViewId), nullptr, FALSE);
}

bool startReload(MainDialogState* state, int slot) {
    Navigation* navigation = &state->navigation;
    const wchar_t* path = state->model.parts[slot].filePath;
    auto* list = static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), &state->sink.self));
    if (path && list && makeFileNameList(path, list))
        navigation->currentJob =
            startLoadJob(list, state->dialog, panelItem(&state->panel, kViewId), &state->sink.self);
    freeBytes(list);
    if (!navigation->currentJob) return false;
    navigation->reloadingPart = static_cast<uint8_t>(slot + 1);
    HWND messages = panelItem(&state->panel, kMessagesId);
    SetWindowTextW(messages, L"");
    appendText(messages, fileNameOf(path));
    appendText(messages, L" changed on disk, so it is loaded again; the view stays as it is.\r\n");
    SetTimer(state->dialog, kProgressTimer, kProgressPeriodMs, nullptr);
    return true;
}

// The first part whose file changed while another load ran.
void startWaitingReload(MainDialogState* state) {
    Navigation* navigation = &state->navigation;
    for (int slot = 0; slot < kMaxParts && navigation->reloadsWaiting; ++slot) {
        uint8_t bit = static_cast<uint8_t>(1 << slot);
        if (!(navigation->reloadsWaiting & bit)) continue;
        navigation->reloadsWaiting &= ~bit;
        if (slotInUse(&state->model, slot) && startReload(state, slot)) return;
    }
}

}  // namespace

bool startLoad(Navigation* navigation, const Panel* panel, const FileNameList* list, bool modelShown,
               const MessageSink* sink) {
    SendMessageW(panelItem(panel, kProgressId), PBM_SETPOS, 0, 0);
    navigation->currentJob = startLoadJob(list, panel->dialog, panelItem(panel, kViewId), sink);
    showViewArea(panel, navigation->currentJob != nullptr, modelShown);
    if (!navigation->currentJob) return false;
    SetTimer(panel->dialog, kProgressTimer, kProgressPeriodMs, nullptr);
    return true;
}

// A job that could not post its completion and is then given up goes here;
// otherwise the progress timer takes it (see onProgressTimer).
void stopLoad(Navigation* navigation) {
    LoadJob* job = navigation->currentJob;
    if (!job) return;
    navigation->currentJob = nullptr;
    navigation->reloadingPart = 0;
    if (askJobToStop(job)) destroyLoadJob(job);
}

void onProgressTimer(MainDialogState* state, WPARAM timerId) {
    LoadJob* job = state->navigation.currentJob;
    if (timerId != kProgressTimer || !job) return;
    JobProgress progress = takeJobProgress(job);
    HWND messages = panelItem(&state->panel, kMessagesId);
    SendMessageW(panelItem(&state->panel, kProgressId), PBM_SETPOS, (progress.thousandths + 5) / 10, 0);
    if (progress.text.used) {
        appendText(messages, static_cast<const wchar_t*>(progress.text.data));
        freeBytes(progress.text.data);
    }
    if (progress.undelivered) {
        onLoadFinished(state, job);
        appendText(messages, L"Error: the load's completion message could not be posted\r\n");
    }
}

void onLoadFinished(MainDialogState* state, LoadJob* job) {
    if (job != state->navigation.currentJob) {
        destroyLoadJob(job);
        return;
    }
    KillTimer(state->dialog, kProgressTimer);
    int reloaded = state->navigation.reloadingPart - 1;
    state->navigation.reloadingPart = 0;
    if (reloaded >= 0) {
        showReloadResult(state, job, reloaded);
    } else {
        showLoadResult(state, job);
        followShownFiles(state);
    }
    releaseLoadJob(job);
    layoutForClient(&state->panel, usedPartCount(&state->model));
    startWaitingReload(state);
}

void followShownFiles(MainDialogState* state) {
    Navigation* navigation = &state->navigation;
    stopFileWatch(navigation->fileWatch);
    navigation->fileWatch = nullptr;
    ++navigation->watchSerial;
    if (!flagOn(&state->preferences, kSettingReloadOnChange)) {
        navigation->reloadsWaiting = 0;
        return;
    }
    const wchar_t* paths[kMaxParts] = {};
    uint64_t sizes[kMaxParts] = {};
    for (int slot = 0; slot < usedPartCount(&state->model); ++slot) {
        paths[slot] = state->model.parts[slot].filePath;
        sizes[slot] = state->model.parts[slot].fileSize;
    }
    if (paths[0])
        navigation->fileWatch = startFileWatch(state->dialog, paths, sizes, navigation->watchSerial, &state->sink.self);
}

void onShownFileChanged(MainDialogState* state, int slot, uint32_t serial) {
    Navigation* navigation = &state->navigation;
    if (serial != navigation->watchSerial || !slotInUse(&state->model, slot)) return;
    if (navigation->currentJob) navigation->reloadsWaiting |= static_cast<uint8_t>(1 << slot);
    else startReload(state, slot);
}

void clearModel(MainDialogState* state) {
    Panel* panel = &state->panel;
    // The worker reads the parts' meshes: it ends before they go.
    stopChecks(&state->checkWorker);
    if (slotInUse(&state->model, 0)) {
        SendMessageW(state->dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(panelItem(panel, kMessagesId)), TRUE);
        HWND view = panelItem(panel, kViewId);
        ShowWindow(view, SW_HIDE);
        clearMeshes(view);  // before the heaps that hold the meshes' records go
        clearPartTree(panelItem(panel, kTreeId));
    }
    releaseParts(&state->model);
    state->navigation.reloadsWaiting = 0;
    followShownFiles(state);  // stops the watch
    disablePartControls(panel);
    layoutForClient(panel, 0);
    showViewArea(panel, state->navigation.currentJob != nullptr, false);
    showPanelTexts(panel, &state->model, units(state));
    updateMenu(state);
}

void onCheckFinished(MainDialogState* state, CheckOutcome* outcome) {
    int slot = outcome->slot;
    ShownModel* model = &state->model;
    if (!takeCheckOutcome(model, outcome)) return;
    // The worker measures the part as its file has it; it may have been
    // placed on a face, or the angle changed, while the check ran.
    const GpuMesh* placed = static_cast<const GpuMesh*>(model->parts[slot].gpuMesh);
    if (placed && placed->placed) model->checks[slot].overhangDegrees = -1;
    remeasureOverhangs(model, static_cast<float>(state->preferences.values[kSettingOverhangAngle]));
    showPanelTexts(&state->panel, model, units(state));
    // The marks become the part's problem lists in the view.
    const PartCheck& check = model->checks[slot];
    GpuMesh* mesh = static_cast<GpuMesh*>(model->parts[slot].gpuMesh);
    if (check.state != kCheckDone || !check.marks || !mesh) return;
    HWND view = panelItem(&state->panel, kViewId);
    setMeshInsideOut(view, mesh, check.result.insideOut != 0);
    if (attachProblemEdges(view, mesh, check.marks, &state->sink.self) && flagOn(&state->preferences, kSettingShowProblems))
        InvalidateRect(view, nullptr, FALSE);
}
