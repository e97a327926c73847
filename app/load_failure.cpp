#include "app/load_failure.h"

#include "app/window_ids.h"
#include "core/memory.h"

void showLoadFailure(const Panel* panel, const ShownModel* model, const wchar_t* fileName) {
    HWND messages = panelItem(panel, kMessagesId);
    int length = GetWindowTextLengthW(messages);
    wchar_t* text = static_cast<wchar_t*>(allocArray(processHeap(), uint64_t(length) + 1, sizeof(wchar_t), nullptr));
    wchar_t failure[kFailureTextUnits];
    int at = -1;
    if (text) {
        GetWindowTextW(messages, text, length + 1);
        at = describeLoadFailure(text, fileName, failure);
        freeBytes(text);
    } else {
        describeLoadFailure(L"", fileName, failure);
    }
    if (at >= 0) {
        // The line that says why at the top of the box.
        SendMessageW(messages, EM_SETSEL, at, at);
        SendMessageW(messages, EM_SCROLLCARET, 0, 0);
        LRESULT line = SendMessageW(messages, EM_LINEFROMCHAR, at, 0);
        LRESULT first = SendMessageW(messages, EM_GETFIRSTVISIBLELINE, 0, 0);
        SendMessageW(messages, EM_LINESCROLL, 0, line - first);
    }
    if (!model->parts[0].heap) SetDlgItemTextW(panel->dialog, kHintId, failure);
    showModelTitle(panel->dialog, model);
}
