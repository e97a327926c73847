#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/spin_lock.h"
#include "tests/sink_recorder.h"
#include "load/load_job.h"

namespace {

// A job as startLoadJob leaves it: running, nothing collected yet.
class JobMessages : public testing::Test {
protected:
    JobMessages() : job_(new LoadJob()) {
        job_->keepGoing = 1;
        job_->messages = GrowBuffer{nullptr, 0, 0};
        initConvertingSink(&job_->sink, MessageSink{job_.get(), &collectForJob});
    }
    ~JobMessages() override { freeBytes(job_->messages.data); }

    LoadJob* job() { return job_.get(); }
    // Read by value: the packed field is not aligned for a reference.
    int32_t progress() { return job_->progress; }
    uint64_t used() { return job_->messages.used; }

    intptr_t collectLine(const char* ascii, StatusCode code = kLine) {
        Text line = widenAscii(ascii);
        return collectForJob(job(), code, reinterpret_cast<uintptr_t>(line.c_str()), nullptr);
    }

    // What the dialog's timer would copy: every unit in use, terminator included.
    Text collected() {
        acquireSpinLock(&job()->messageLock);
        Text text(static_cast<const Utf16*>(job()->messages.data), job()->messages.used / sizeof(Utf16));
        releaseSpinLock(&job()->messageLock);
        return text;
    }

    static Text withTerminator(const char* ascii) { return widenAscii(ascii) + Utf16(0); }

private:
    std::unique_ptr<LoadJob> job_;
};

}  // namespace

// Every code but progress is a line, joined with CR LF and terminated; a
// buffer the dialog took is refilled from its start; progress keeps the low
// 32 bits and stores no text.
TEST_F(JobMessages, CollectsLinesAndProgress) {
    EXPECT_EQ(collectLine("a"), 1);
    EXPECT_EQ(collectLine(""), 1);
    EXPECT_EQ(collectLine("forwarded", 0x40000002), 1);
    std::string longLine(5000, 'q');
    collectLine(longLine.c_str(), 0x80000004);
    EXPECT_EQ(collected(), withTerminator(("a\r\n\r\nforwarded\r\n" + longLine + "\r\n").c_str()));
    job()->messages.used = 0;  // the dialog took the text
    collectLine("x");
    EXPECT_EQ(collected(), withTerminator("x\r\n"));
    EXPECT_EQ(used(), 4 * sizeof(Utf16));
    EXPECT_EQ(collectForJob(job(), kProgress, (uintptr_t{7} << 32) | 1000, nullptr), 1);
    EXPECT_EQ(progress(), 1000);
    EXPECT_EQ(used(), 4 * sizeof(Utf16));
}

// Reports are converted and kept; once keepGoing is cleared they answer stop.
TEST_F(JobMessages, ThroughTheJobsConvertingSinkUntilStopped) {
    const MessageSink* sink = &job()->sink.self;
    EXPECT_EQ(reportCode(sink, 0x80000808), 1);
    EXPECT_EQ(report(sink, 4, reinterpret_cast<uintptr_t>("note")), 1);
    EXPECT_EQ(report(sink, kProgress, 250), 1);
    exchange8(&job()->keepGoing, 0);
    EXPECT_EQ(reportCode(sink, 0x40000804), 0);
    EXPECT_EQ(report(sink, kProgress, 20), 0);
    EXPECT_EQ(collected(), withTerminator("STL error: unexpected end of file in triangles; aborting\r\n"
                                          "note\r\n"
                                          "STL warning: unexpected end of file\r\n"));
    EXPECT_EQ(progress(), 20);
}

TEST_F(JobMessages, CapKeepsAHundredOfEachCodeAndSaysHowManyMoreThereWere) {
    MessageCap cap;
    initMessageCap(&cap, &job()->sink.self);
    for (int i = 0; i < 250; ++i) {
        EXPECT_EQ(reportCode(&cap.self, kWarnMissingEndsolid), 1);
        if (i < 2) reportCode(&cap.self, kWarnEndSpaceSolid);
        EXPECT_EQ(report(&cap.self, kProgress, 7), 1);
    }
    exchange8(&job()->keepGoing, 0);
    EXPECT_EQ(report(&cap.self, kProgress, 7), 0);
    EXPECT_EQ(reportCode(&cap.self, kWarnMissingEndsolid), 0);  // dropped, with the latest answer
    closeMessageCap(&cap);
    Text expected;
    for (int i = 0; i < 100; ++i) {
        expected += widenAscii("STL warning: missing 'endsolid (name)'\r\n");
        if (i < 2) expected += widenAscii("STL warning: found 'end solid' instead of 'endsolid'\r\n");
    }
    expected += withTerminator("STL warning: 151 more messages like those above left out\r\n");
    EXPECT_EQ(collected(), expected);
    EXPECT_EQ(progress(), 7);
}

// Without heap a line that needs more room is dropped and the job goes on;
// one that fits needs no heap.
TEST_F(JobMessages, LinesWithoutHeap) {
    {
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(collectLine("dropped"), 1);
    }
    EXPECT_EQ(job()->messages.data, nullptr);
    collectLine("kept, and long enough for the next");
    {
        HeapFailureGuard noRequests(0);
        EXPECT_EQ(collectLine("dropped"), 1);
        EXPECT_EQ(collected(), withTerminator("kept, and long enough for the next\r\n"));
        job()->messages.used = 0;
        collectLine("short");
    }
    EXPECT_EQ(collectLine("after"), 1);
    EXPECT_EQ(collected(), withTerminator("short\r\nafter\r\n"));
}

namespace {

// Two threads append numbered lines while a third takes the text the way the
// dialog's timer does: under the lock, then empties it. Lines are long so that
// unguarded copies would overlap often.
class ConcurrentJobMessages : public JobMessages {
protected:
    static constexpr int kLinesPerThread = 5000;

    static Text numberedLine(char thread, int number) {
        return widenAscii(std::string(60, thread) + std::to_string(number));
    }

    void takeMessages() {
        acquireSpinLock(&job()->messageLock);
        GrowBuffer* messages = &job()->messages;
        if (messages->used) taken_.append(static_cast<const Utf16*>(messages->data), messages->used / sizeof(Utf16) - 1);
        messages->used = 0;
        releaseSpinLock(&job()->messageLock);
    }

    void run(bool withDialog) {
        std::atomic<bool> producing{true};
        auto produce = [this](char thread) {
            for (int i = 0; i < kLinesPerThread; ++i) {
                Text line = numberedLine(thread, i);
                collectForJob(job(), kLine, reinterpret_cast<uintptr_t>(line.c_str()), nullptr);
            }
        };
        std::thread dialog([&] {
            while (withDialog && producing.load()) {
                takeMessages();
                std::this_thread::yield();
            }
        });
        std::thread first(produce, 'A');
        std::thread second(produce, 'B');
        first.join();
        second.join();
        producing.store(false);
        dialog.join();
        takeMessages();
    }

    // Every line of each thread once, in its order.
    void expectEveryLineOnce() {
        int next[2] = {0, 0};
        size_t start = 0;
        while (start < taken_.size()) {
            size_t end = taken_.find(widenAscii("\r\n"), start);
            ASSERT_NE(end, Text::npos);
            Text line = taken_.substr(start, end - start);
            ASSERT_FALSE(line.empty());
            int thread = line[0] == 'A' ? 0 : 1;
            ASSERT_EQ(line, numberedLine(thread ? 'B' : 'A', next[thread])) << "at unit " << start;
            ++next[thread];
            start = end + 2;
        }
        EXPECT_EQ(next[0], kLinesPerThread);
        EXPECT_EQ(next[1], kLinesPerThread);
        taken_.clear();
    }

private:
    Text taken_;
};

}  // namespace

// With the dialog taking the text, and into one growing buffer.
TEST_F(ConcurrentJobMessages, AppendsLoseNoLine) {
    for (bool withDialog : {true, false}) {
        run(withDialog);
        expectEveryLineOnce();
    }
}
