#include "app/open_files.h"

#include "app/folder_listing.h"
#include "app/load_progress.h"
#include "app/menu_state.h"
#include "app/recent_files.h"
#include "app/window_ids.h"
#include "core/log_sink.h"

namespace {

FileNameList* newFileList(const MessageSink* sink) {
    return static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), sink));
}

bool modelShown(const MainDialogState* state) {
    return slotInUse(&state->model, 0);
}

bool fileExists(const wchar_t* path) {
    SystemPath file;
    if (!makeSystemPath(path, &file)) return true;  // it is tried, and the load says why it fails
    bool exists = GetFileAttributesW(file.text) != INVALID_FILE_ATTRIBUTES;
    releaseSystemPath(&file);
    return exists;
}

}  // namespace

struct RecentFileCheck {
    HWND dialog;
    bool exists;
    wchar_t path[1];  // as many units as the path takes, terminated
};

namespace {

DWORD WINAPI checkRecentFile(void* parameter) {
    auto* check = static_cast<RecentFileCheck*>(parameter);
    check->exists = fileExists(check->path);
    if (!PostMessageW(check->dialog, kRecentFileCheckedMessage, 0, reinterpret_cast<LPARAM>(check))) freeBytes(check);
    return 0;
}

}  // namespace

const char kFilesLeftOutText[] = "Only the first four files were opened; the others were left out.";

void openFiles(MainDialogState* state, const FileNameList* list, bool newListing, HWND explorerWindow) {
    Navigation* navigation = &state->navigation;
    stopLoad(navigation);
    SetDlgItemTextW(state->dialog, kMessagesId, L"");
    wchar_t title[kTitleUnits];
    makeWindowTitle(list->path, title);
    SetWindowTextW(state->dialog, title);
    navigation->replaceModel = 1;
    if (!startLoad(navigation, &state->panel, list, modelShown(state), &state->sink.self)) {
        showModelTitle(state->dialog, &state->model);
    } else if (newListing) {
        navigation->folderListing = replaceFolderListing(navigation->folderListing, list->path, explorerWindow);
    } else if (navigation->folderListing && waitFolderListing(navigation->folderListing)) {
        markListingShown(navigation->folderListing);
    }
    updateMenu(state);
}

void addPartFiles(MainDialogState* state, const FileNameList* list) {
    stopLoad(&state->navigation);
    state->navigation.replaceModel = 0;
    HWND messages = GetDlgItem(state->dialog, kMessagesId);
    SetWindowTextW(messages, L"");
    // The job names each file of several itself; one added file is named here.
    bool oneFile = list->path[list->nextName] == 0;
    if (oneFile && usedPartCount(&state->model)) {
        appendText(messages, fileNameOf(list->path));
        appendText(messages, L"\r\n");
    }
    startLoad(&state->navigation, &state->panel, list, modelShown(state), &state->sink.self);
    updateMenu(state);
}

bool receiveHandOver(MainDialogState* state, const COPYDATASTRUCT* data) {
    if (data->dwData != kHandOverTag) return false;
    size_t units = data->cbData / sizeof(wchar_t);
    auto* paths = static_cast<wchar_t*>(allocArray(processHeap(), units ? units : 1, sizeof(wchar_t), &state->sink.self));
    if (!paths) return true;  // taken, and the messages box says why nothing opens
    if (data->lpData) memcpy(paths, data->lpData, units * sizeof(wchar_t));
    else units = 0;
    if (!PostMessageW(state->dialog, kHandOverMessage, units, reinterpret_cast<LPARAM>(paths))) freeBytes(paths);
    return true;
}

void openHandedOver(MainDialogState* state, wchar_t* paths, size_t units) {
    FileNameList* list = newFileList(&state->sink.self);
    if (list && units) openPathSequence(state, paths, units, list, nullptr);
    freeBytes(list);
    freeBytes(paths);
    SetForegroundWindow(state->dialog);
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
    FileNameList* list = newFileList(&state->sink.self);
    wchar_t* path = list ? static_cast<wchar_t*>(allocArray(processHeap(), kFileListUnits, sizeof(wchar_t), nullptr))
                         : nullptr;
    UINT length = path ? DragQueryFileW(drop, 0, path, kFileListUnits) : 0;
    DragFinish(drop);
    if (length && makeFileNameList(path, list)) openFiles(state, list, true, nullptr);
    freeBytes(path);
    freeBytes(list);
}

void stepFile(MainDialogState* state, bool forwards) {
    FolderListing* listing = state->navigation.folderListing;
    if (!listing || !waitFolderListing(listing) || listing->itemCount == 0) return;
    const wchar_t* path = stepToLoadableFile(listing, forwards);
    if (!path) return;
    FileNameList* list = newFileList(&state->sink.self);
    if (list && makeFileNameList(path, list)) openFiles(state, list, false, nullptr);
    freeBytes(list);
}

void openRecentFile(MainDialogState* state, int index) {
    RecentFiles list;
    readRecentFiles(state->preferences.keys, &list, &state->sink.self);
    if (index < list.count) {
        size_t units = static_cast<size_t>(lstrlenW(list.paths[index])) + 1;
        auto* check = static_cast<RecentFileCheck*>(
            allocArray(processHeap(), 1, sizeof(RecentFileCheck) + units * sizeof(wchar_t), &state->sink.self));
        if (check) {
            check->dialog = state->dialog;
            check->exists = false;
            memcpy(check->path, list.paths[index], units * sizeof(wchar_t));
            if (!QueueUserWorkItem(checkRecentFile, check, WT_EXECUTELONGFUNCTION)) freeBytes(check);
        }
    }
    clearRecentFiles(&list);
}

void onRecentFileChecked(MainDialogState* state, RecentFileCheck* check) {
    FileNameList* fileList = check->exists ? newFileList(&state->sink.self) : nullptr;
    if (!check->exists) {
        HWND messages = GetDlgItem(state->dialog, kMessagesId);
        appendText(messages, L"Not found, so taken off the recent files: ");
        appendText(messages, check->path);
        appendText(messages, L"\r\n");
        RecentFiles list;
        readRecentFiles(state->preferences.keys, &list, &state->sink.self);
        for (int i = 0; i < list.count; ++i)
            if (lstrcmpiW(list.paths[i], check->path) == 0) removeRecentFile(&list, i--);
        showAndStoreRecentFiles(state->preferences.keys, state->menu, &list, &state->sink.self);
        clearRecentFiles(&list);
        updateMenu(state);
    } else if (fileList && makeFileNameList(check->path, fileList)) {
        openFiles(state, fileList, true, nullptr);
    }
    freeBytes(fileList);
    freeBytes(check);
}
