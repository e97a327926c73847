#include "app/slicer_launch.h"

#include "core/memory.h"

namespace {

// Per CommandLineToArgvW: inside quotes, backslashes are literal unless a
// quote follows them; then 2n of them give n and \" gives a quote. So the
// backslashes before a quote (and before the closing quote) are doubled.
bool appendQuoted(const wchar_t* argument, wchar_t* out, uint32_t capacity, uint32_t* used) {
    auto put = [&](wchar_t unit) {
        if (*used + 1 >= capacity) return false;
        out[(*used)++] = unit;
        return true;
    };
    if (!put('"')) return false;
    uint32_t backslashes = 0;
    for (const wchar_t* c = argument;; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        bool quoteNext = *c == '"' || *c == 0;
        for (uint32_t k = 0; k < (quoteNext ? 2 * backslashes : backslashes); ++k)
            if (!put('\\')) return false;
        backslashes = 0;
        if (*c == 0) break;
        if (*c == '"' && !put('\\')) return false;
        if (!put(*c)) return false;
    }
    return put('"');
}

}  // namespace

bool slicerCommandLine(const wchar_t* program, const wchar_t* const* files, int fileCount, wchar_t* out,
                       uint32_t capacity) {
    // The program's name ends at the next quote, backslashes and all; a path holds no quote.
    uint32_t used = 0;
    int length = lstrlenW(program);
    if (capacity < 3 || static_cast<uint32_t>(length) + 3 > capacity) return false;
    out[used++] = '"';
    CopyMemory(out + used, program, length * sizeof(wchar_t));
    used += length;
    out[used++] = '"';
    for (int k = 0; k < fileCount; ++k) {
        if (used + 2 >= capacity) return false;
        out[used++] = ' ';
        if (!appendQuoted(files[k], out, capacity, &used)) return false;
    }
    out[used] = 0;
    return true;
}

bool startSlicer(const wchar_t* program, const wchar_t* const* files, int fileCount, const MessageSink* sink) {
    constexpr uint32_t kCommandLineUnits = 32768;
    wchar_t* line = static_cast<wchar_t*>(allocArray(processHeap(), kCommandLineUnits, sizeof(wchar_t), sink));
    if (!line) return false;
    SaveNote note{program, 0, ERROR_FILENAME_EXCED_RANGE, 0};
    bool started = false;
    if (slicerCommandLine(program, files, fileCount, line, kCommandLineUnits)) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        // The program's own path, not a search: a path with spaces is never taken for a shorter one.
        started = CreateProcessW(program, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        else note.error = GetLastError();
    }
    freeBytes(line);
    if (!started && sink) report(sink, kErrSlicerNotStarted, reinterpret_cast<uintptr_t>(&note));
    return started;
}
