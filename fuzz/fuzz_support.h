// Shared by the fuzz targets: a sink that reads every line it is given (so
// the sanitizers see each byte of converted text) and a check that stops the
// run with a message when an invariant breaks.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/converting_sink.h"
#include "core/status.h"

#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                        \
        }                                                                                   \
    } while (0)

// Counts lines and units; answers `answer` to everything.
struct LineCounter {
    uint64_t lines = 0;
    uint64_t units = 0;
    uint64_t progressReports = 0;
    intptr_t answer = 1;

    static intptr_t receive(void* self, StatusCode code, uintptr_t argument, const Utf16*) {
        LineCounter* counter = static_cast<LineCounter*>(self);
        if (code == kLine) {
            const Utf16* line = reinterpret_cast<const Utf16*>(argument);
            FUZZ_CHECK(line != nullptr);
            while (*line) {
                ++counter->units;
                ++line;
            }
            ++counter->lines;
        } else if (code == kProgress) {
            FUZZ_CHECK(argument <= 1000);
            ++counter->progressReports;
        }
        return counter->answer;
    }
};

// A converting sink over a LineCounter, as the load job has one.
struct ConvertedLines {
    LineCounter counter;
    ConvertingSink sink;
    ConvertedLines() { initConvertingSink(&sink, MessageSink{&counter, LineCounter::receive}); }
    const MessageSink* producerSink() const { return &sink.self; }
};
