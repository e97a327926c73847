#include "open_files.h"

#include <commctrl.h>

#include <initializer_list>

#include "commands.h"
#include "core/log_sink.h"
#include "core/spin_lock.h"
#include "folder_listing.h"
#include "info_panel.h"
#include "view/view_control.h"

namespace {

// Hides the view and shows the empty progress bar in its place.
void showEmptyProgress(MainDialogState* state) {
    ShowWindow(dialogItem(state, kViewId), SW_HIDE);
    HWND progress = dialogItem(state, kProgressId);
    SendMessageW(progress, PBM_SETPOS, 0, 0);
    ShowWindow(progress, SW_SHOW);
    SetDlgItemTextW(state->dialog, kMessagesId, L"");
}

void stopCurrentJob(MainDialogState* state) {
    if (state->currentJob) exchange8(&state->currentJob->keepGoing, 0);
}

bool startJob(MainDialogState* state, const FileNameList* list) {
    state->currentJob = startLoadJob(list, state->dialog, dialogItem(state, kViewId), &state->sink.self);
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
    HWND progress = dialogItem(state, kProgressId);
    ShowWindow(progress, SW_SHOW);
    SendMessageW(state->dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(progress), TRUE);
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

void makeWindowTitle(const wchar_t* path, wchar_t title[kTitleUnits]) {
    static const wchar_t kSeparator[] = L" \u2013 ";
    int length = 0;
    for (const wchar_t* text : {kApplicationTitle, kSeparator})
        while (*text) title[length++] = *text++;
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at; ++at)
        if (*at == L'\\' || *at == L'/') name = at + 1;
    constexpr int kRoom = kTitleUnits - 2;  // 254 units before the ellipsis
    while (*name && length < kRoom) title[length++] = *name++;
    if (*name) title[length++] = L'\u2026';
    title[length] = 0;
}

void openFiles(MainDialogState* state, const FileNameList* list, bool newListing, HWND explorerWindow) {
    stopCurrentJob(state);
    showEmptyProgress(state);
    wchar_t title[kTitleUnits];
    makeWindowTitle(list->path, title);
    SetWindowTextW(state->dialog, title);
    clearModel(state);
    if (!startJob(state, list)) return;
    if (newListing) startFolderListing(state, list, explorerWindow);
    else if (state->folderListing && waitFolderListing(state->folderListing)) markListingShown(state->folderListing);
}

void addPartFiles(MainDialogState* state, const FileNameList* list) {
    stopCurrentJob(state);
    showEmptyProgress(state);
    startJob(state, list);
}

void clearModel(MainDialogState* state) {
    for (ModelPart& part : state->parts) {
        if (!part.view) break;
        resetPanelControls(state);
        releasePartSlot(&part);
        SetDlgItemTextW(state->dialog, kMessagesId, L"");
        SetDlgItemTextW(state->dialog, kPanelLine1Id, L"");
        SetDlgItemTextW(state->dialog, kPanelLine2Id, L"");
    }
    for (int slot = 1; slot < kMaxParts; ++slot) ShowWindow(dialogItem(state, kFirstSwatchId + slot), SW_HIDE);
    layoutForClient(state);
}

void onProgressTimer(MainDialogState* state, WPARAM timerId) {
    LoadJob* job = state->currentJob;
    if (timerId != kProgressTimer || !job) return;
    acquireSpinLock(&job->messageLock);
    uint32_t percent = (static_cast<uint32_t>(job->progress) + 5) / 10;
    SendMessageW(dialogItem(state, kProgressId), PBM_SETPOS, percent, 0);
    if (job->messages.used) {
        appendText(dialogItem(state, kMessagesId), static_cast<const wchar_t*>(job->messages.data));
        job->messages.used = 0;
    }
    releaseSpinLock(&job->messageLock);
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
    // The path ends at its terminator, and never past the bytes received.
    FileNameList* list = static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), &state->sink.self));
    if (list) {
        const wchar_t* received = static_cast<const wchar_t*>(data->lpData);
        size_t units = received ? data->cbData / sizeof(wchar_t) : 0;
        size_t length = 0;
        while (length < units && received[length]) ++length;
        bool terminated = length < units;
        if (terminated && makeFileNameList(received, list)) openFiles(state, list, true, nullptr);
        freeBytes(list);
    }
    SetForegroundWindow(state->dialog);
    return true;
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
