#include "app/view_picture.h"

#include "app/picture_file.h"
#include "app/window_ids.h"
#include "core/log_sink.h"

void proposeBeside(const ModelPart* part, const wchar_t* tail, wchar_t* path, uint32_t capacity) {
    path[0] = 0;
    const wchar_t* source = part->filePath;
    if (!source) return;
    uint32_t length = static_cast<uint32_t>(lstrlenW(source));
    uint32_t end = length;  // where the tail goes: over the extension, if the name has one
    for (uint32_t at = length; at > 0 && source[at - 1] != L'\\' && source[at - 1] != L'/'; --at)
        if (source[at - 1] == L'.') {
            end = at - 1;
            break;
        }
    if (end + static_cast<uint32_t>(lstrlenW(tail)) + 1 > capacity) return;
    memcpy(path, source, end * sizeof(wchar_t));
    lstrcpyW(path + end, tail);
}

void proposePicturePath(const ModelPart* part, wchar_t* path, uint32_t capacity) {
    proposeBeside(part, L".png", path, capacity);
}

bool savePictureTo(HWND dialog, const wchar_t* path, const MessageSink* sink) {
    Picture picture;
    if (!renderViewPicture(GetDlgItem(dialog, kViewId), &picture, sink)) return false;
    bool written = writePngFile(path, &picture, sink);
    freePicture(&picture);
    if (!written) return false;
    HWND messages = GetDlgItem(dialog, kMessagesId);
    appendText(messages, L"Picture saved to ");
    appendText(messages, path);
    appendText(messages, L"\r\n");
    return true;
}

void copyViewPicture(HWND dialog, bool modelShown, const MessageSink* sink) {
    HWND messages = GetDlgItem(dialog, kMessagesId);
    if (GetFocus() == messages) {
        SendMessageW(messages, WM_COPY, 0, 0);
        return;
    }
    Picture picture;
    if (!modelShown || !renderViewPicture(GetDlgItem(dialog, kViewId), &picture, sink)) return;
    copyPictureToClipboard(dialog, &picture, sink);
    freePicture(&picture);
}
