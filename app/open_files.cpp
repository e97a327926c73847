#include "app/surface_checks.h"
#include "app/open_files.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/commands.h"
#include "core/log_sink.h"
#include "core/spin_lock.h"
#include "app/folder_listing.h"
#include "app/info_panel.h"
#include "app/recent_files.h"
#include "view/view_control.h"

namespace {

// A job that could not post its completion and is then given up goes here;
// otherwise the progress timer takes it (see onProgressTimer).
void stopCurrentJob(MainDialogState* state) {
    LoadJob* job = state->currentJob;
    if (!job) return;
    state->currentJob = nullptr;
    acquireSpinLock(&job->messageLock);
    exchange8(&job->keepGoing, 0);
    bool undelivered = job->state & kLoadUndelivered;
    releaseSpinLock(&job->messageLock);
    if (undelivered) destroyLoadJob(job);
}

bool startJob(MainDialogState* state, const FileNameList* list) {
    SendMessageW(dialogItem(state, kProgressId), PBM_SETPOS, 0, 0);
    state->currentJob = startLoadJob(list, state->dialog, dialogItem(state, kViewId), &state->sink.self);
    showViewArea(state);
    if (!state->currentJob) return false;
    SetTimer(state->dialog, kProgressTimer, kProgressPeriodMs, nullptr);
    return true;
}

void releasePartSlot(ModelPart* part) {
    destroyPrivateHeap(part->heap);
    unmapFile(part->view, part->viewSize);
    part->view = nullptr;
}

void resetPanelControls(MainDialogState* state) {
    HWND messages = dialogItem(state, kMessagesId);
    SendMessageW(state->dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(messages), TRUE);
    HWND view = dialogItem(state, kViewId);
    ShowWindow(view, SW_HIDE);
    clearMeshes(view);
    HWND tree = dialogItem(state, kTreeId);
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    for (int combo : {kSpaceComboId, kColorsComboId}) {
        SendMessageW(dialogItem(state, combo), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        EnableWindow(dialogItem(state, combo), FALSE);
    }
    EnableWindow(dialogItem(state, kSpaceLabelId), FALSE);
    EnableWindow(dialogItem(state, kColorsLabelId), FALSE);
    EnableWindow(dialogItem(state, kMaterialCheckId), FALSE);
    EnableMenuItem(state->menu, kCommandAddParts, MF_BYCOMMAND | MF_GRAYED);
    enablePictureCommands(state->menu, false);
}

void layoutForClient(MainDialogState* state) {
    RECT client;
    GetClientRect(state->dialog, &client);
    layoutDialog(state, client.right, client.bottom);
}

}  // namespace

const char kFilesLeftOutText[] = "Only the first four files were opened; the others were left out.";

void makeWindowTitle(const wchar_t* path, wchar_t title[kTitleUnits]) {
    static const wchar_t kSeparator[] = L" \u2013 ";
    int length = 0;
    for (const wchar_t* text : {kApplicationTitle, kSeparator})
        while (*text) title[length++] = *text++;
    const wchar_t* name = fileNameOf(path);
    constexpr int kRoom = kTitleUnits - 2;  // 254 units before the ellipsis
    while (*name && length < kRoom) title[length++] = *name++;
    if (*name) title[length++] = L'\u2026';
    title[length] = 0;
}

void openFiles(MainDialogState* state, const FileNameList* list, bool newListing, HWND explorerWindow) {
    stopCurrentJob(state);
    SetDlgItemTextW(state->dialog, kMessagesId, L"");
    wchar_t title[kTitleUnits];
    makeWindowTitle(list->path, title);
    SetWindowTextW(state->dialog, title);
    state->replaceModel = 1;
    rememberOpenedFiles(state, list);
    if (!startJob(state, list)) {
        showModelTitle(state);
        return;
    }
    if (newListing) startFolderListing(state, list, explorerWindow);
    else if (state->folderListing && waitFolderListing(state->folderListing)) markListingShown(state->folderListing);
}

void addPartFiles(MainDialogState* state, const FileNameList* list) {
    stopCurrentJob(state);
    state->replaceModel = 0;
    HWND messages = dialogItem(state, kMessagesId);
    SetWindowTextW(messages, L"");
    // The job names each file of several itself; one added file is named here.
    bool oneFile = list->path[list->nextName] == 0;
    if (oneFile && usedPartCount(state)) {
        appendText(messages, fileNameOf(list->path));
        appendText(messages, L"\r\n");
    }
    rememberOpenedFiles(state, list);
    startJob(state, list);
}

void clearModel(MainDialogState* state) {
    // The worker reads the parts' meshes: it ends before they go.
    clearSurfaceChecks(state);
    for (ModelPart& part : state->parts) {
        if (!part.view) break;
        resetPanelControls(state);
        releasePartSlot(&part);
        SetDlgItemTextW(state->dialog, kKindLineId, L"");
        SetDlgItemTextW(state->dialog, kSizeLineId, L"");
        SetDlgItemTextW(state->dialog, kMeasureLineId, L"");
    }
    for (int slot = 1; slot < kMaxParts; ++slot) ShowWindow(dialogItem(state, kFirstSwatchId + slot), SW_HIDE);
    layoutForClient(state);
    showViewArea(state);
}

void showModelTitle(MainDialogState* state) {
    const wchar_t* name = state->parts[0].view ? state->parts[0].fileName : nullptr;
    wchar_t title[kTitleUnits];
    if (name) makeWindowTitle(name, title);
    SetWindowTextW(state->dialog, name ? title : kApplicationTitle);
}

void onProgressTimer(MainDialogState* state, WPARAM timerId) {
    LoadJob* job = state->currentJob;
    if (timerId != kProgressTimer || !job) return;
    // The text is taken over under the lock and shown after it, so the job's
    // thread never waits for the window.
    acquireSpinLock(&job->messageLock);
    uint32_t percent = (static_cast<uint32_t>(job->progress) + 5) / 10;
    GrowBuffer text = job->messages;
    if (text.used) job->messages = GrowBuffer{nullptr, 0, 0};
    bool undelivered = job->state & kLoadUndelivered;
    job->state &= ~kLoadUndelivered;
    releaseSpinLock(&job->messageLock);
    SendMessageW(dialogItem(state, kProgressId), PBM_SETPOS, percent, 0);
    if (text.used) {
        appendText(dialogItem(state, kMessagesId), static_cast<const wchar_t*>(text.data));
        freeBytes(text.data);
    }
    if (undelivered) {
        onLoadFinished(state, job);
        appendText(dialogItem(state, kMessagesId), L"Error: the load's completion message could not be posted\r\n");
    }
}

void onLoadFinished(MainDialogState* state, LoadJob* job) {
    if (job != state->currentJob) {
        destroyLoadJob(job);
        return;
    }
    KillTimer(state->dialog, kProgressTimer);
    showLoadResult(state, job);
    releaseLoadJob(job);
    layoutForClient(state);
}

bool receiveHandOver(MainDialogState* state, const COPYDATASTRUCT* data) {
    if (data->dwData != kHandOverTag) return false;
    FileNameList* list = static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), &state->sink.self));
    const wchar_t* received = static_cast<const wchar_t*>(data->lpData);
    if (list && received) openPathSequence(state, received, data->cbData / sizeof(wchar_t), list, nullptr);
    freeBytes(list);
    SetForegroundWindow(state->dialog);
    return true;
}

void openPathSequence(MainDialogState* state, const wchar_t* paths, size_t units, FileNameList* list,
                      HWND explorerWindow) {
    // Full paths in a list without a directory: the load job puts each in the current path's place.
    size_t used = 0, firstLength = 0;
    int taken = 0;
    bool leftOut = false;
    for (size_t at = 0; at < units && paths[at];) {
        size_t length = 0;
        while (at + length < units && paths[at + length]) ++length;
        if (at + length == units) break;  // no terminator within the bytes received
        if (taken == kMaxParts) {
            leftOut = true;
        } else if (length < kFileListUnits - 2 && used + length + 2 <= kFileListUnits) {
            if (!taken) firstLength = length;
            memcpy(list->path + used, paths + at, (length + 1) * sizeof(wchar_t));
            used += length + 1;
            ++taken;
        }
        at += length + 1;
    }
    if (!taken) return;
    list->path[used] = 0;
    list->nameStart = 0;
    list->nextName = static_cast<int32_t>(firstLength + 1);
    openFiles(state, list, true, explorerWindow);
    if (leftOut) report(&state->sink.self, kWarningText, reinterpret_cast<uintptr_t>(kFilesLeftOutText));
}

void onDropFiles(MainDialogState* state, HDROP drop) {
    FileNameList* list = static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), &state->sink.self));
    wchar_t* path = list ? static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), nullptr))
                         : nullptr;
    UINT length = path ? DragQueryFileW(drop, 0, path, kFileListUnits) : 0;
    DragFinish(drop);
    if (length && makeFileNameList(path, list)) openFiles(state, list, true, nullptr);
    freeBytes(path);
    freeBytes(list);
}
