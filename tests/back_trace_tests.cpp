#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "core/back_trace.h"
#include "core/status.h"
#include "tests/sink_recorder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr Utf16 kUntouched = 0xBEEF;
constexpr Utf16 kEllipsis = 0x2026;

// Formats one line into a buffer with room to spare and checks it stays within 42 units.
Text formatLine(const Text& path, uintptr_t offset) {
    std::vector<Utf16> buffer(64, kUntouched);
    Utf16* end = formatBackTraceLine(buffer.data(), path.data(), static_cast<uint32_t>(path.size()), offset);
    EXPECT_EQ(end - buffer.data(), 42);
    EXPECT_EQ(buffer[42], kUntouched);
    return Text(buffer.data(), 42);
}

Text repeatLetters(size_t count) {
    Text text;
    for (size_t i = 0; i < count; ++i) text.push_back(static_cast<Utf16>('a' + i % 26));
    return text;
}

bool isUpperHexDigit(Utf16 unit) {
    return (unit >= '0' && unit <= '9') || (unit >= 'A' && unit <= 'F');
}

// Splits a captured back-trace into its lines, checking the shape of each.
std::vector<Text> checkedBackTraceLines(const Utf16* trace, size_t capacity) {
    size_t length = 0;
    while (length < capacity && trace[length]) ++length;
    EXPECT_LT(length, capacity) << "back-trace not terminated";
    std::vector<Text> lines;
    Text all(trace, length);
    size_t start = 0;
    while (start < all.size()) {
        size_t lf = all.find('\n', start);
        if (lf == Text::npos) {
            ADD_FAILURE() << "last line without LF";
            break;
        }
        Text line = all.substr(start, lf + 1 - start);
        if (line != widenAscii("<unknown module>\n")) {
            EXPECT_EQ(line.size(), 42u);
            if (line.size() == 42) {
                EXPECT_EQ(line[32], '+');
                for (int i = 33; i < 41; ++i) EXPECT_TRUE(isUpperHexDigit(line[i])) << "column " << i + 1;
            }
        }
        lines.push_back(line);
        start = lf + 1;
    }
    EXPECT_LE(lines.size(), 16u);
    return lines;
}

Text nameColumn(const Text& line) {
    Text name = line.substr(0, 32);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

Text testModuleName() {
#ifdef _WIN32
    return widenAscii("core_tests.exe");
#else
    return widenAscii("core_tests");
#endif
}

std::vector<Utf16> captureIntoGuardedBuffer() {
    std::vector<Utf16> buffer(kBackTraceUnits + 8, kUntouched);
    captureBackTrace(buffer.data());
    for (size_t i = kBackTraceUnits; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kUntouched);
    return buffer;
}

// Recursion deep enough to give more frames than a back-trace keeps.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int captureAtDepth(int depth, std::vector<Utf16>* out) {
    if (depth == 0) {
        *out = captureIntoGuardedBuffer();
        return 0;
    }
    volatile int keepFrame = captureAtDepth(depth - 1, out);
    return keepFrame + 1;
}

void setLastSystemError(uint32_t number) {
#ifdef _WIN32
    SetLastError(number);
#else
    errno = static_cast<int>(number);
#endif
}

}  // namespace

// The file name after the last separator of either kind, padded or cut with
// an ellipsis to 32 units, then the low 32 bits of the offset in upper-case hex.
TEST(BackTraceLine, Cases) {
    struct Case {
        Text path;
        uint64_t offset;
        Text name;
        const char* digits;
    };
    const Text nonAscii = widenAscii("m") + Utf16(0x00FC) + Utf16(0x0434) + widenAscii(".dll");
    std::vector<Case> cases = {
        {repeatLetters(31), 0x1234, repeatLetters(31), "00001234"},
        {Text(), 1, Text(), "00000001"},
        {widenAscii("C:\\Windows\\System32\\kernel32.dll"), 0x10, widenAscii("kernel32.dll"), "00000010"},
        {widenAscii("C:\\dir/sub\\mixed.exe"), 0xABCDEF12, widenAscii("mixed.exe"), "ABCDEF12"},
        {widenAscii("C:/dir\\sub/other.exe"), 0xFFFFFFFF, widenAscii("other.exe"), "FFFFFFFF"},
        {widenAscii("C:\\ends\\with\\"), 0x100000000ull, Text(), "00000000"},
        {widenAscii("C:\\") + repeatLetters(200) + widenAscii("\\short.dll"), 0x1234567890ABCDEFull,
         widenAscii("short.dll"), "90ABCDEF"},
        {widenAscii("C:\\x\\") + nonAscii, 5, nonAscii, "00000005"},
    };
    for (size_t length : {32, 33, 259})
        cases.push_back({repeatLetters(length), 0xAB, repeatLetters(31) + kEllipsis, "000000AB"});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path.size() << " units, offset " << c.offset);
        EXPECT_EQ(formatLine(c.path, static_cast<uintptr_t>(c.offset)),
                  c.name + Text(32 - c.name.size(), ' ') + widenAscii(std::string("+") + c.digits + "\n"));
    }
}

// --- captureBackTrace ---

// Lines of the fixed shape, the first in the test module, at most sixteen
// of them filling the buffer up to its terminator.
TEST(CaptureBackTrace, KeepsAtMostSixteenFramesStartingInTheTestModule) {
    std::vector<Utf16> buffer;
    captureAtDepth(24, &buffer);
    std::vector<Text> lines = checkedBackTraceLines(buffer.data(), kBackTraceUnits);
    ASSERT_EQ(lines.size(), 16u);
    for (const Text& line : lines) EXPECT_EQ(nameColumn(line), testModuleName());
    EXPECT_EQ(buffer[16 * 42], 0);
}

// --- report / reportCode / reportLastError ---

TEST(Report, ErrorCodesCarryABackTraceOthersDoNot) {
    struct Case {
        StatusCode code;
        bool backTrace;
    };
    for (Case c : {Case{3, false}, Case{0x7FFFFFFF, false}, Case{0x80000000, true}, Case{0xFFFFFFFF, true}}) {
        SCOPED_TRACE(c.code);
        RecordingSink sink;
        report(&sink.sink, c.code, 77);
        ASSERT_EQ(sink.received.size(), 1u);
        EXPECT_EQ(sink.received[0].code, c.code);
        EXPECT_EQ(sink.received[0].argument, 77u);
        EXPECT_EQ(sink.received[0].backTracePointer != nullptr, c.backTrace);
        if (c.backTrace) {
            // The back-trace lived on the reporter's stack; the sink kept a copy.
            const Text& trace = sink.received[0].backTrace;
            std::vector<Text> lines = checkedBackTraceLines(trace.c_str(), trace.size() + 1);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(nameColumn(lines[0]), testModuleName());
        }
    }
}

TEST(Report, ReturnsTheCallbackResult) {
    RecordingSink sink;
    for (intptr_t answer : {intptr_t{0}, intptr_t{1}, intptr_t{-5}}) {
        sink.answer = answer;
        EXPECT_EQ(report(&sink.sink, 4, 0), answer);
        EXPECT_EQ(report(&sink.sink, 0x80000005, 0), answer);
        EXPECT_EQ(reportCode(&sink.sink, 0x80000808), answer);
    }
    EXPECT_EQ(sink.received.back().argument, 0u);  // reportCode has none
}

TEST(ReportLastError, ReportsTheErrorNumberWithABackTrace) {
    RecordingSink sink;
    setLastSystemError(5);
    reportLastError(&sink.sink);
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, 0x80000b00u);
    EXPECT_EQ(sink.received[0].argument, 5u);
    EXPECT_NE(sink.received[0].backTracePointer, nullptr);
}
