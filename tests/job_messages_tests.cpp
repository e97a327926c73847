#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/spin_lock.h"
#include "load/load_job.h"
#include "tests/sink_recorder.h"

namespace {

// A job as startLoadJob leaves it: running, nothing collected yet.
class JobMessages : public testing::Test {
protected:
    JobMessages() {
        job.keepGoing = 1;
        initConvertingSink(&job.sink, MessageSink{&job, &collectForJob});
    }
    ~JobMessages() override { freeBytes(job.messages.data); }

    intptr_t collectLine(const std::string& ascii, StatusCode code = kLine) {
        return collectForJob(&job, code, reinterpret_cast<uintptr_t>(widenAscii(ascii).c_str()), nullptr);
    }

    // What the dialog's timer takes under the lock: every unit in use,
    // terminator included; the buffer is then empty.
    Text take() {
        acquireSpinLock(&job.messageLock);
        Text text(static_cast<const Utf16*>(job.messages.data), job.messages.used / sizeof(Utf16));
        job.messages.used = 0;
        releaseSpinLock(&job.messageLock);
        return text;
    }

    static Text withTerminator(const std::string& ascii) { return widenAscii(ascii) + Utf16(0); }

    LoadJob job{};
};

// Every code but progress is a line, joined with CR LF and terminated; a
// buffer the dialog took is refilled from its start; progress keeps the low
// 32 bits and stores no text. Through the job's converting sink reports are
// converted; once keepGoing is cleared they answer stop.
TEST_F(JobMessages, CollectsLinesAndProgressUntilStopped) {
    EXPECT_EQ(collectLine("a"), 1);
    collectLine(std::string(5000, 'q'), 0x40000002);  // any code but progress
    EXPECT_EQ(take(), withTerminator("a\r\n" + std::string(5000, 'q') + "\r\n"));
    collectLine("x");
    EXPECT_EQ(collectForJob(&job, kProgress, (uintptr_t{7} << 32) | 1000, nullptr), 1);
    EXPECT_EQ(+job.progress, 1000);
    EXPECT_EQ(take(), withTerminator("x\r\n"));
    EXPECT_EQ(reportCode(&job.sink.self, 0x80000808), 1);
    exchange8(&job.keepGoing, 0);
    EXPECT_EQ(reportCode(&job.sink.self, 0x40000804), 0);
    EXPECT_EQ(report(&job.sink.self, kProgress, 20), 0);
    EXPECT_EQ(take(), withTerminator("STL error: unexpected end of file in triangles; aborting\r\n"
                                     "STL warning: unexpected end of file\r\n"));
    EXPECT_EQ(+job.progress, 20);
}

// Past a hundred reports of a code the cap only counts them, answering as
// the job last did; the load job's flood test shows the kinds apart.
TEST_F(JobMessages, CapCountsWhatItLeavesOut) {
    MessageCap cap;
    initMessageCap(&cap, &job.sink.self);
    for (int i = 0; i < 102; ++i) EXPECT_EQ(reportCode(&cap.self, kWarnMissingEndsolid), 1);
    exchange8(&job.keepGoing, 0);
    EXPECT_EQ(reportCode(&cap.self, kWarnEndSpaceSolid), 0);
    EXPECT_EQ(reportCode(&cap.self, kWarnMissingEndsolid), 0);  // dropped, with the latest answer
    closeMessageCap(&cap);
    Text tail = withTerminator("solid'\r\nSTL warning: 3 more messages like those above left out\r\n");
    EXPECT_TRUE(take().ends_with(tail));
}

// Without heap a line that needs more room is dropped and the job goes on;
// one that fits needs no heap.
TEST_F(JobMessages, LinesWithoutHeap) {
    collectLine("kept, and long enough for the next");
    {
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(collectLine("dropped"), 1);
        ASSERT_EQ(+job.messageLock, 0);  // not left held by the failed growth
        EXPECT_EQ(take(), withTerminator("kept, and long enough for the next\r\n"));
        collectLine("short");
    }
    EXPECT_EQ(collectLine("after"), 1);
    EXPECT_EQ(take(), withTerminator("short\r\nafter\r\n"));
}

// Two threads append numbered lines while this one takes the text as the
// dialog's timer does. Lines are long so that unguarded copies would overlap often.
TEST_F(JobMessages, ConcurrentAppendsLoseNoLine) {
    constexpr int kLines = 5000;
    auto numbered = [](int thread, int number) { return std::string(60, char('A' + thread)) + std::to_string(number); };
    std::atomic<int> producing{2};
    auto produce = [&](int thread) {
        for (int i = 0; i < kLines; ++i) collectLine(numbered(thread, i));
        --producing;
    };
    Text taken;
    auto takeInto = [&] { Text text = take(); taken.append(text, 0, text.empty() ? 0 : text.size() - 1); };
    std::jthread first(produce, 0), second(produce, 1);
    while (producing.load()) takeInto();
    takeInto();
    // Every line of each thread once, in its order.
    int next[2] = {0, 0};
    for (size_t start = 0, end; start < taken.size(); start = end + 2) {
        end = taken.find(widenAscii("\r\n"), start);
        ASSERT_NE(end, Text::npos);
        int thread = taken[start] == 'B';
        ASSERT_EQ(taken.substr(start, end - start), widenAscii(numbered(thread, next[thread]++))) << "at " << start;
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

}  // namespace
