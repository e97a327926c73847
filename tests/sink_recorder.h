// The suite's one recording sink, a converting sink over it that shows the
// lines a user would read, text helpers for UTF-16 lines and a guard for the
// heap-failure seam.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/converting_sink.h"
#include "core/memory.h"
#include "core/status.h"

using Text = std::basic_string<Utf16>;

// Each byte becomes one unit, without sign extension: ASCII and Latin-1.
inline Text widenAscii(std::string_view ascii) {
    Text text;
    for (char c : ascii) text.push_back(static_cast<Utf16>(static_cast<unsigned char>(c)));
    return text;
}

struct Received {
    StatusCode code;
    uintptr_t argument;
    const Utf16* backTracePointer;  // for comparing only: it may have lived on the reporter's stack
    Text backTrace;
    Text line;  // copy of the text for code 6: the sender may free it right after the call
};

// Records every report and answers `answer`, or 0 to the code `stopAt`.
struct RecordingSink {
    MessageSink sink{this, &receive};
    std::vector<Received> received;
    intptr_t answer = 1;
    StatusCode stopAt = 1;  // no report has code 1

    RecordingSink() = default;
    RecordingSink(RecordingSink&&) = delete;  // nor copied: the sink points at this record

    static intptr_t receive(void* userData, StatusCode code, uintptr_t argument, const Utf16* backTrace) {
        RecordingSink* self = static_cast<RecordingSink*>(userData);
        const Utf16* line = code == kLine ? reinterpret_cast<const Utf16*>(argument) : nullptr;
        self->received.push_back({code, argument, backTrace, backTrace ? backTrace : Text(), line ? line : Text()});
        return code == self->stopAt ? 0 : self->answer;
    }

    std::vector<StatusCode> codes() const {
        std::vector<StatusCode> result;
        for (const Received& entry : received) result.push_back(entry.code);
        return result;
    }

    // The reports with their arguments, progress left out.
    std::vector<std::pair<StatusCode, uint64_t>> reports() const {
        std::vector<std::pair<StatusCode, uint64_t>> result;
        for (const Received& entry : received)
            if (entry.code != kProgress) result.push_back({entry.code, entry.argument});
        return result;
    }

    std::vector<uint64_t> progress() const {
        std::vector<uint64_t> result;
        for (const Received& entry : received)
            if (entry.code == kProgress) result.push_back(entry.argument);
        return result;
    }

    std::vector<Text> lines() const {
        std::vector<Text> result;
        for (const Received& entry : received)
            if (entry.code == kLine) result.push_back(entry.line);
        return result;
    }

    size_t count(std::string_view line) const {
        size_t n = 0;
        for (const Received& entry : received) n += entry.code == kLine && entry.line == widenAscii(line);
        return n;
    }
};

// A converting sink over a recording sink.
struct Converter {
    RecordingSink inner;
    ConvertingSink sink;

    Converter() { initConvertingSink(&sink, inner.sink); }
    Converter(Converter&&) = delete;

    const MessageSink* producerSink() const { return &sink.self; }

    intptr_t convert(StatusCode code, uintptr_t argument, const Utf16* backTrace = nullptr) {
        return convertStatus(&sink, code, argument, backTrace);
    }
    intptr_t convert(StatusCode code, const void* argument, const Utf16* backTrace = nullptr) {
        return convert(code, reinterpret_cast<uintptr_t>(argument), backTrace);
    }
};

// Heap requests fail after `allowed` more while the guard lives.
struct HeapFailureGuard {
    explicit HeapFailureGuard(int64_t allowed) { failHeapRequestsAfter(allowed); }
    ~HeapFailureGuard() { failHeapRequestsAfter(-1); }
    HeapFailureGuard(HeapFailureGuard&&) = delete;
};
