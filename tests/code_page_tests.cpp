#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/code_page.h"
#include "tests/sink_recorder.h"

namespace {

constexpr Utf16 kUntouched = 0xBEEF;

// Continuation bytes follow the text in memory: read, they would change the answer.
uint32_t detect(const std::string& bytes) {
    std::string memory = bytes + "\x82\xAC\x80";
    return detectCodePage(memory.data(), static_cast<uint32_t>(bytes.size()));
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

// UTF-8 for any multi-byte lead 0xC0-0xF7 with its continuations; Cyrillic
// from floor(3 x length / 4) bytes of 0xC0 and above; else the system's.
TEST(DetectCodePage, Examples) {
    struct Case {
        std::string bytes;
        uint32_t codePage;
    };
    const Case cases[] = {
        {"caf\xC3\xA9", 65001},         {"x\xE2\x82\xACy", 65001},     {"\xF0\x9F\x98\x80", 65001},
        {"\xC0\x80", 65001},            {"\xF7\xBF\xBF\xBF", 65001},   {"\xC3\x41\xC3\xA9", 65001},
        {"Plain ASCII name 123", 0},    {"\xF8\x80\x80\x80", 0},       {"\xC3\x41\x42\x43", 0},
        {"\xE2\x82\x41\x42", 0},        {"\xA0\xB0\xBF\x80", 0},       // continuations alone count for neither
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 1251},  {"\xE0\xE1\x41\x41", 0},  {"\xE0\xE1\xE2\x41\x41", 1251},
        {"\xE0\xE1\xE2\xE3\xE4\x41\x41\x41", 0}, {"\xE0\xE1\xE2\xE3\xE4\xE5\x41\x41", 1251},
        // Sequences cut by the end of the text.
        {"abc\xC3", 0},                 {"abcd\xE2\x82", 0},           {"abcde\xF0\x9F\x98", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(detect(c.bytes), c.codePage);
    }
}

// UTF-8 read as MultiByteToWideChar reads it, malformed bytes included; code page 0 detects.
TEST(WidenCountedText, Examples) {
    struct Case {
        std::string bytes;
        uint32_t codePage;
        Text units;
    };
    const Case cases[] = {
        {"caf\xC3\xA9", 65001, {'c', 'a', 'f', 0x00E9}},       {"\xEF\xBF\xBD", 65001, {0xFFFD}},
        {"\xF0\x9F\x98\x80!", 65001, {0xD83D, 0xDE00, '!'}},    {"\xF4\x8F\xBF\xBF", 65001, {0xDBFF, 0xDFFF}},
        {std::string("a\0b", 3), 65001, {'a', 0, 'b'}},         {std::string("a\0b", 3), 1252, {'a', 0, 'b'}},
        {"\x80" "a", 65001, {0xFFFD, 'a'}},                      {"\xC0\x80", 65001, {0xFFFD, 0xFFFD}},
        {"\xC1\xBF", 65001, {0xFFFD, 0xFFFD}},                   {"\xE2\x82" "A", 65001, {0xFFFD, 'A'}},
        {"\xF5\x80\x80\x80", 65001, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xE0\x80\x80", 65001, {0xFFFD, 0xFFFD}},               {"\xED\xA0\x80", 65001, {0xFFFD, 0xFFFD}},
        {"\xF4\x90\x80\x80", 65001, {0xFFFD, 0xFFFD, 0xFFFD}},   {"\xE1\x80\xC3\xA9", 65001, {0xFFFD, 0x00E9}},
        {"A\xE2", 65001, {'A', 0xFFFD}},                         {"\xF0\x9F\x98", 65001, {0xFFFD}},
        {"\xF0\x9F" "A", 65001, {0xFFFD}},                       {"caf\xC3\xA9", 0, {'c', 'a', 'f', 0x00E9}},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 0, {0x041F, 0x0440, 0x0438, 0x0432, 0x0435, 0x0442}},
        {"Gear 7", 0, {'G', 'e', 'a', 'r', ' ', '7'}},           {"", 0, {}},
        {"", 1252, {}},                                          {"", 65001, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(c.bytes) << " cp " << c.codePage);
        EXPECT_EQ(widen(c.bytes, c.codePage), c.units);
    }
}

// Every byte gives one unit, ASCII itself; the bytes above it as the code page maps them.
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
        {20127, 0x80, 0x0000}, {20127, 0xC1, 0x0041}, {20127, 0xFF, 0x007F},
    };
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
    for (uint32_t codePage : {1251u, 1252u, 20127u}) {
        SCOPED_TRACE(codePage);
        Text units = widen(all, codePage);
        ASSERT_EQ(units.size(), all.size());
        for (int byte = 1; byte < 0x80; ++byte) EXPECT_EQ(units[byte - 1], byte);
        for (const Case& c : cases) {
            if (c.codePage == codePage) EXPECT_EQ(units[c.byte - 1], c.unit) << std::hex << int{c.byte};
        }
    }
}
