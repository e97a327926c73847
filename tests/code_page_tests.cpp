#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/code_page.h"
#include "tests/sink_recorder.h"

namespace {

constexpr Utf16 kUntouched = 0xBEEF;

// Runs on an exactly sized copy so that ASan catches reads past the text.
uint32_t detect(const std::string& bytes) {
    std::vector<char> copy(bytes.begin(), bytes.end());
    return detectCodePage(copy.data(), static_cast<uint32_t>(copy.size()));
}

// Widens an exactly sized copy into a buffer with spare units, checking that
// nothing is written after the returned position.
Text widen(const std::string& bytes, uint32_t codePage) {
    std::vector<char> copy(bytes.begin(), bytes.end());
    CountedText text{copy.data(), static_cast<uint32_t>(copy.size()), codePage};
    std::vector<Utf16> out(copy.size() + 8, kUntouched);
    Utf16* end = widenCountedText(&text, out.data());
    EXPECT_GE(end, out.data());
    EXPECT_LE(end, out.data() + copy.size());
    for (Utf16* unit = end; unit < out.data() + out.size(); ++unit) EXPECT_EQ(*unit, kUntouched) << "written past the end";
    return Text(out.data(), end);
}

}  // namespace

// --- detectCodePage ---

TEST(DetectCodePage, Examples) {
    struct Case {
        std::string bytes;
        uint32_t codePage;
    };
    const Case cases[] = {
        {"\xC3\xA9", 65001},
        {"\xE0\xE1\xE2\x41", 1251},
        {"Plain ASCII name 123", 0},
        {"ab", 0},
        // Multi-byte leads with their continuations.
        {"caf\xC3\xA9", 65001},
        {"x\xE2\x82\xACy", 65001},
        {"\xF0\x9F\x98\x80", 65001},
        {"\xC0\x80", 65001},          // any lead 0xC0-0xDF counts, overlong or not
        {"\xF7\xBF\xBF\xBF", 65001},  // leads up to 0xF7
        {"\xC3\x41\xC3\xA9", 65001},  // a broken sequence does not hide a later one
        // Leads without their continuations.
        {"\xF8\x80\x80\x80", 0},
        {"\xC3\x41\x42\x43", 0},
        {"\xE2\x82\x41\x42", 0},
        // The Cyrillic threshold is floor(3 x length / 4) bytes of 0xC0 and above.
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 1251},  // "Privet" in Windows-1251
        {"\xE0\xE1\x41\x41", 0},             // 2 of 4, needs 3
        {"\xE0\xE1\xE2\xE3\xE4\x41\x41\x41", 0},     // 5 of 8, needs 6
        {"\xE0\xE1\xE2\xE3\xE4\xE5\x41\x41", 1251},  // 6 of 8
        {"\xE0\xE1\xE2\x41\x41", 1251},              // 3 of 5, needs 3
        {"\xA0\xB0\xBF\x80", 0},                     // continuation bytes alone are not counted
        // Continuations past the end of the text.
        {"abc\xC3", 0},
        {"abcd\xE2\x82", 0},
        {"abcde\xF0\x9F\x98", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(detect(c.bytes), c.codePage);
    }
}

TEST(DetectCodePage, ContinuationsInMemoryButPastTheTextDoNotCount) {
    const char memory[] = "abcdef\xE2\x82\xAC";
    EXPECT_EQ(detectCodePage(memory, 8), 0u);
    EXPECT_EQ(detectCodePage(memory, 9), 65001u);
}

// --- widenCountedText ---

TEST(WidenCountedText, Examples) {
    struct Case {
        std::string bytes;
        uint32_t codePage;
        Text units;
    };
    const Case cases[] = {
        {"caf\xC3\xA9", 65001, {'c', 'a', 'f', 0x00E9}},
        {"\xEF\xBF\xBD", 65001, {0xFFFD}},
        {"\xF0\x9F\x98\x80!", 65001, {0xD83D, 0xDE00, '!'}},
        {"\xF4\x8F\xBF\xBF", 65001, {0xDBFF, 0xDFFF}},
        {std::string("a\0b", 3), 65001, {'a', 0, 'b'}},
        {std::string("a\0b", 3), 1252, {'a', 0, 'b'}},
        // Malformed UTF-8, as MultiByteToWideChar reads it.
        {"\x80" "a", 65001, {0xFFFD, 'a'}},
        {"\xC0\x80", 65001, {0xFFFD, 0xFFFD}},
        {"\xC1\xBF", 65001, {0xFFFD, 0xFFFD}},
        {"\xF5\x80\x80\x80", 65001, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xE2\x82" "A", 65001, {0xFFFD, 'A'}},
        {"\xE0\x80\x80", 65001, {0xFFFD, 0xFFFD}},
        {"\xED\xA0\x80", 65001, {0xFFFD, 0xFFFD}},
        {"\xF4\x90\x80\x80", 65001, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xE1\x80\xC3\xA9", 65001, {0xFFFD, 0x00E9}},
        {"A\xE2", 65001, {'A', 0xFFFD}},
        {"\xF0\x9F\x98", 65001, {0xFFFD}},
        {"\xF0\x9F" "A", 65001, {0xFFFD}},
        // Code page 0 detects.
        {"caf\xC3\xA9", 0, {'c', 'a', 'f', 0x00E9}},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 0, {0x041F, 0x0440, 0x0438, 0x0432, 0x0435, 0x0442}},
        {"Gear 7", 0, {'G', 'e', 'a', 'r', ' ', '7'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(c.bytes) << " cp " << c.codePage);
        EXPECT_EQ(widen(c.bytes, c.codePage), c.units);
    }
}

TEST(WidenCountedText, SingleByteCodePages) {
    struct Case {
        uint32_t codePage;
        unsigned char byte;
        Utf16 unit;
    };
    const Case cases[] = {
        {1252, 0x80, 0x20AC}, {1252, 0x9F, 0x0178}, {1252, 0xA0, 0x00A0}, {1252, 0xFF, 0x00FF},
        {1252, 0x81, 0x0081}, {1252, 0x9D, 0x009D},  // undefined bytes pass through
        {1251, 0x80, 0x0402}, {1251, 0x98, 0x0098}, {1251, 0xBF, 0x0457}, {1251, 0xC0, 0x0410}, {1251, 0xFF, 0x044F},
        {20127, 0x00, 0x0000}, {20127, 0x41, 0x0041}, {20127, 0x7F, 0x007F},
        {20127, 0x80, 0x0000}, {20127, 0xC1, 0x0041}, {20127, 0xFF, 0x007F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.codePage << " byte " << std::hex << int{c.byte});
        EXPECT_EQ(widen(std::string(1, static_cast<char>(c.byte)), c.codePage), Text(1, c.unit));
    }
}

TEST(WidenCountedText, EveryByteGivesOneUnitInSingleByteCodePages) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
    for (uint32_t codePage : {1251u, 1252u, 20127u}) {
        SCOPED_TRACE(codePage);
        Text units = widen(all, codePage);
        ASSERT_EQ(units.size(), all.size());
        for (int byte = 1; byte < 0x80; ++byte) EXPECT_EQ(units[byte - 1], byte);
    }
}

TEST(WidenCountedText, EmptyTextWritesNothing) {
    Utf16 out[2] = {kUntouched, kUntouched};
    for (uint32_t codePage : {0u, 1252u, 65001u}) {
        CountedText empty{nullptr, 0, codePage};
        EXPECT_EQ(widenCountedText(&empty, out), out);
        EXPECT_EQ(out[0], kUntouched);
    }
}
