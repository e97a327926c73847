#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "core/back_trace.h"
#include "tests/sink_recorder.h"

#ifdef _WIN32
#include <windows.h>
const char kTestModule[] = "core_tests.exe";
void setLastSystemError(uint32_t number) { SetLastError(number); }
#else
const char kTestModule[] = "core_tests";
void setLastSystemError(uint32_t number) { errno = static_cast<int>(number); }
#endif

namespace {

constexpr Utf16 kUntouched = 0xBEEF;

Text repeatLetters(size_t count) {
    Text text;
    for (size_t i = 0; i < count; ++i) text.push_back(static_cast<Utf16>('a' + i % 26));
    return text;
}

// Units above ASCII as '?', for matching against a pattern.
std::string narrow(const Text& text) {
    std::string ascii;
    for (Utf16 unit : text) ascii += unit < 0x80 ? static_cast<char>(unit) : '?';
    return ascii;
}

// The pattern of a line for a frame in the test module.
const std::string kFrameInTestModule =
    kTestModule + std::string(33 - sizeof kTestModule, ' ') + "\\+[0-9A-F]{8}\n";

// Recursion deep enough to give more frames than a back-trace keeps.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int captureAtDepth(int depth, Utf16* out) {
    if (depth == 0) captureBackTrace(out);
    volatile int keepFrame = depth ? captureAtDepth(depth - 1, out) : 0;
    return keepFrame + 1;
}

}  // namespace

// The file name after the last separator of either kind, padded or cut with
// an ellipsis to 32 units, then the low 32 bits of the offset in upper-case hex.
TEST(BackTraceLine, Cases) {
    const Text nonAscii = widenAscii("m") + Utf16(0x00FC) + Utf16(0x0434) + widenAscii(".dll");
    std::vector<std::tuple<Text, uint64_t, Text, const char*>> cases = {
        {repeatLetters(31), 0x12A4, repeatLetters(31), "000012A4"},
        {widenAscii("C:\\x\\") + nonAscii, 5, nonAscii, "00000005"},
        {Text(), 1, Text(), "00000001"}, {widenAscii("C:\\ends\\with\\"), 0x100000000ull, Text(), "00000000"},
        {widenAscii("C:\\dir/sub\\mixed.exe"), 0xABCDEF12, widenAscii("mixed.exe"), "ABCDEF12"},
        {widenAscii("C:/dir\\sub/other.exe"), 0xFFFFFFFF, widenAscii("other.exe"), "FFFFFFFF"},
        {widenAscii("C:\\") + repeatLetters(200) + widenAscii("\\short.dll"), 0x1234567890ABCDEFull,
         widenAscii("short.dll"), "90ABCDEF"},
    };
    for (size_t length : {32, 259})
        cases.push_back({repeatLetters(length), 0xAB, repeatLetters(31) + Utf16(0x2026), "000000AB"});
    for (const auto& [path, offset, name, digits] : cases) {
        SCOPED_TRACE(testing::Message() << path.size() << " units, offset " << offset);
        std::vector<Utf16> buffer(64, kUntouched);
        Utf16* end = formatBackTraceLine(buffer.data(), path.data(), static_cast<uint32_t>(path.size()),
                                         static_cast<uintptr_t>(offset));
        EXPECT_EQ(Text(buffer.data(), end),
                  name + Text(32 - name.size(), ' ') + widenAscii(std::string("+") + digits + "\n"));
        EXPECT_EQ(buffer[42], kUntouched);
    }
}

// Sixteen lines, all in the test module, filling the buffer up to its terminator.
TEST(CaptureBackTrace, KeepsTheSixteenInnermostFrames) {
    std::vector<Utf16> buffer(kBackTraceUnits + 8, kUntouched);
    captureAtDepth(24, buffer.data());
    for (size_t i = kBackTraceUnits; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kUntouched);
    ASSERT_EQ(buffer[16 * 42], 0);
    std::string trace = narrow(Text(buffer.data()));
    EXPECT_TRUE(std::regex_match(trace, std::regex("(" + kFrameInTestModule + "){16}"))) << trace;
}

// Error codes carry a back-trace from the reporter on, other codes none; the sink's answer comes back.
TEST(Report, ErrorCodesCarryABackTrace) {
    enum Call { kReport, kReportCode, kReportLastError };
    const std::tuple<Call, StatusCode, uint64_t, intptr_t> cases[] = {
        {kReport, kInfoText, 77, 1},   {kReport, 0x7FFFFFFF, 77, 0},           {kReport, kErrorClass, 77, -5},
        {kReport, 0xFFFFFFFF, 77, 1}, {kReportCode, kErrEndInTriangles, 0, 0}, {kReportLastError, kSystemError, 5, 1}};
    const std::regex errorTrace(kFrameInTestModule + "((.{32}\\+[0-9A-F]{8}|<unknown module>)\n){0,15}");
    for (const auto& [call, code, argument, answer] : cases) {
        SCOPED_TRACE(code);
        RecordingSink sink;
        sink.answer = answer;
        setLastSystemError(5);
        if (call == kReport) EXPECT_EQ(report(&sink.sink, code, argument), answer);
        if (call == kReportCode) EXPECT_EQ(reportCode(&sink.sink, code), answer);
        if (call == kReportLastError) reportLastError(&sink.sink);
        ASSERT_EQ(sink.reports(), (std::vector<std::pair<StatusCode, uint64_t>>{{code, argument}}));
        // The back-trace lived on the reporter's stack; the sink kept a copy.
        std::string trace = narrow(sink.received[0].backTrace);
        EXPECT_TRUE(code >= kErrorClass ? std::regex_match(trace, errorTrace) : trace.empty()) << trace;
    }
}
