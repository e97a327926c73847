#include "app/load_failure.h"

#include <initializer_list>

#include "app/open_files.h"
#include "core/memory.h"

namespace {

bool startsWith(const wchar_t* text, const wchar_t* end, const wchar_t* prefix) {
    for (; *prefix; ++prefix, ++text)
        if (text == end || *text != *prefix) return false;
    return true;
}

// Lines that tell what was found, not what went wrong.
bool isNotice(const wchar_t* line, const wchar_t* end) {
    for (const wchar_t* prefix : {L"STL info:", L"STL warning:", L"D3D info:", L"Direct3D 11 info:"})
        if (startsWith(line, end, prefix)) return true;
    return false;
}

struct Writer {
    wchar_t* out;
    int used;
    void add(const wchar_t* text, const wchar_t* end = nullptr) {
        for (; text != end && *text && used < kFailureTextUnits - 1; ++text) out[used++] = *text;
        out[used] = 0;
    }
};

}  // namespace

int describeLoadFailure(const wchar_t* messages, const wchar_t* fileName, wchar_t out[kFailureTextUnits]) {
    const wchar_t* chosen = nullptr;
    const wchar_t* chosenEnd = nullptr;
    bool chosenIsError = false;
    for (const wchar_t* line = messages; *line;) {
        const wchar_t* end = line;
        while (*end && *end != L'\r' && *end != L'\n') ++end;
        bool error = startsWith(line, end, L"STL error: ");
        if (end != line && (error || (!chosen && !isNotice(line, end)))) {
            chosen = line;
            chosenEnd = end;
            chosenIsError = error;
            if (error) break;
        }
        line = end;
        while (*line == L'\r' || *line == L'\n') ++line;
    }
    Writer writer{out, 0};
    writer.add(L"Could not open ");
    writer.add(fileName);
    writer.add(L": ");
    if (!chosen) {
        writer.add(L"nothing could be loaded");
        return -1;
    }
    const wchar_t* reason = chosen;
    if (chosenIsError) {
        reason += 11;
        // The error names the file, which the text already does.
        size_t nameLength = lstrlenW(fileName);
        if (startsWith(reason, chosenEnd, fileName) && startsWith(reason + nameLength, chosenEnd, L": "))
            reason += nameLength + 2;
        static const wchar_t kAborting[] = L"; aborting";
        const int abortingLength = 10;
        if (chosenEnd - reason >= abortingLength && startsWith(chosenEnd - abortingLength, chosenEnd, kAborting))
            chosenEnd -= abortingLength;
    }
    writer.add(reason, chosenEnd);
    return static_cast<int>(chosen - messages);
}

void showLoadFailure(MainDialogState* state, const wchar_t* fileName) {
    HWND messages = dialogItem(state, kMessagesId);
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
    if (!state->parts[0].view) SetDlgItemTextW(state->dialog, kHintId, failure);
    showModelTitle(state);
}
