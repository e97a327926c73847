#include <gtest/gtest.h>

#include <vector>

#include "core/converting_sink.h"
#include "tests/sink_recorder.h"

namespace {

// Converts one report and answers the single line the inner sink received.
Text lineFor(StatusCode code, uintptr_t argument) {
    Converter converter;
    converter.convert(code, argument);
    EXPECT_EQ(converter.inner.received.size(), 1u) << std::hex << code;
    if (converter.inner.received.empty()) return Text();
    EXPECT_EQ(converter.inner.received[0].code, 6u);
    return converter.inner.received[0].line;
}

Text lineFor(StatusCode code, const void* argument) {
    return lineFor(code, reinterpret_cast<uintptr_t>(argument));
}

const Text kUnknown = widenAscii("<unknown>");

}  // namespace

// One row per class and the ends of each range; the load, dialog and hostile
// file tests check most other texts end to end.
TEST(StatusText, FixedTexts) {
    struct Case {
        StatusCode code;
        uintptr_t argument;
        const char* text;
    };
    const Case cases[] = {
        {0x10000d01, 0xFFFFFFFF, "Direct3D 11 info: GPU supports compute shaders"},
        {0x10000d01, 0, "Direct3D 11 info: GPU does not support compute shaders"},
        {0x40000800, 0, "STL warning: bad ArchiCAD metadata (unknown unit); scaling may be incorrect"},
        {0x40000806, 0, "STL warning: unknown coordinate space; assuming Z up"},
        {0x40000808, 0, "STL warning: the file holds no triangles"},
        {0x80000005, 0, "out of memory"},
        {0x80000007, 0, "file not found"},
        {0x80000800, 0, "STL error: expected 'solid' keyword; aborting"},
        {0x80000808, 1234, "STL error: unexpected end of file in triangles; aborting"},  // offsets are not shown
        {0x80000d00, 0, "Direct3D 11 error: the debug layer is not installed on the system"},
        {0x80000d07, 0, "Direct3D 11 error: lost GPU (may be overload or driver problems)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code << " " << c.text);
        EXPECT_EQ(lineFor(c.code, c.argument), widenAscii(c.text));
    }
}

// Fixed and free texts need a block and are dropped without one (the report
// still answered); composed texts are built without the heap.
TEST(StatusText, WithoutHeap) {
    Converter converter;
    converter.inner.answer = 0;
    HeapFailureGuard noRequests(0);
    EXPECT_EQ(converter.convert(0x80000005, uintptr_t{0}), 1);
    EXPECT_EQ(converter.convert(0x80000002, "free error text"), 1);
    EXPECT_TRUE(converter.inner.received.empty());
    converter.convert(0x10000800, "Exporter");
    converter.convert(0x10000d00, uintptr_t{0xB000});
    converter.convert(0x12345678, uintptr_t{0});
    ASSERT_EQ(converter.inner.received.size(), 3u);
    EXPECT_EQ(converter.inner.received[0].line, widenAscii("STL info: written by Exporter"));
}

TEST(StatusText, ComposedTexts) {
    EXPECT_EQ(lineFor(0x10000800, "SolidWorks"), widenAscii("STL info: written by SolidWorks"));
    const char bytes[] = "2024-05-06 12:00xyz";  // only the counted bytes belong to the text
    CountedText date{bytes, 16, 1252}, empty{bytes, 0, 0};
    EXPECT_EQ(lineFor(0x10000801, &date), widenAscii("STL info: written 2024-05-06 12:00"));
    EXPECT_EQ(lineFor(0x10000802, &empty), widenAscii("STL info: written to \"\""));
    // Code page zero: detected, UTF-8 or Windows-1251 here.
    CountedText utf8{"caf\xC3\xA9", 5, 0}, cyrillic{"\xCF\xF0\xE8\xE2\xE5\xF2", 6, 0};
    EXPECT_EQ(lineFor(0x10000801, &utf8), widenAscii("STL info: written caf") + Utf16(0x00E9));
    Text privet{0x041F, 0x0440, 0x0438, 0x0432, 0x0435, 0x0442};
    EXPECT_EQ(lineFor(0x10000802, &cyrillic), widenAscii("STL info: written to \"") + privet + Utf16('"'));
    CountedText padded{"C:\\a.stl\0\0 x", 12, 0};  // ends at a NUL
    EXPECT_EQ(lineFor(0x10000802, &padded), widenAscii("STL info: written to \"C:\\a.stl\""));
    // Exporter names widen as solid names do: Latin-1 or UTF-8.
    const Text piece = widenAscii("STL info: written by Pi") + Utf16(0x00E8) + widenAscii("ce");
    EXPECT_EQ(lineFor(0x10000800, "Pi\xE8" "ce"), piece);
    EXPECT_EQ(lineFor(0x10000800, "Pi\xC3\xA8" "ce"), piece);
    EXPECT_EQ(lineFor(0x10000800, uintptr_t{0}), widenAscii("STL info: written by "));
}

TEST(StatusText, LongCountedTextIsCutTo65535Units) {
    for (size_t length : {65535, 65536, 200000}) {
        SCOPED_TRACE(length);
        std::vector<char> bytes(length, 'x');  // exactly sized: ASan catches reads past it
        CountedText text{bytes.data(), static_cast<uint32_t>(length), 1252};
        EXPECT_EQ(lineFor(0x10000802, &text), widenAscii("STL info: written to \"") + Text(65535, 'x') + Utf16('"'));
        CountedText detected{bytes.data(), static_cast<uint32_t>(length), 0};
        EXPECT_EQ(lineFor(0x10000801, &detected).size(), 18u + 65535);
    }
    // The cut at 65535 bytes leaves two bytes of a 3-byte character: one U+FFFD.
    std::vector<char> bytes{'a'};
    for (int i = 0; i < 30000; ++i) bytes.insert(bytes.end(), {'\xE2', '\x82', '\xAC'});
    CountedText text{bytes.data(), static_cast<uint32_t>(bytes.size()), 65001};
    EXPECT_EQ(lineFor(0x10000802, &text),
              widenAscii("STL info: written to \"a") + Text(21844, 0x20AC) + Utf16(0xFFFD) + Utf16('"'));
}

TEST(StatusText, FeatureLevelNames) {
    struct Case {
        uintptr_t level;
        const char* name;
    };
    const Case cases[] = {{0x9100, "9"},   {0x9200, "9.0b"}, {0xA100, "10.1"}, {0xB400, "11.4"}, {0xC000, "12"},
                          {0x0, "11"},     {0x9000, "11"},   {0xB0FF, "11"},   {0xB101, "12.1"}, {0xFFFFF, "12.1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.level);
        EXPECT_EQ(lineFor(0x10000d00, c.level), widenAscii(std::string("D3D info: GPU supports Direct3D ") + c.name));
    }
}

TEST(StatusText, SystemErrorGivesTheSystemsTextOnOneLine) {
    for (uintptr_t number : {uintptr_t{2}, uintptr_t{5}, uintptr_t{0x7FFFFF3F}}) {
        Text line = lineFor(0x80000b00, number);
        EXPECT_FALSE(line.empty());
        EXPECT_LT(line.size(), 1000u);
        EXPECT_EQ(line.find('\n'), Text::npos);
    }
    EXPECT_NE(lineFor(0x80000b00, 2), kUnknown);
    EXPECT_NE(lineFor(0x80000b00, 2), lineFor(0x80000b00, 5));
}

// Free texts are shown as given, high bytes widened without sign extension.
TEST(StatusText, FreeTextCodesShowTheirText) {
    const char bytes[] = "a\x80\xA0\xC3\xA9\xFF" "b";
    Text expected{'a', 0x80, 0xA0, 0xC3, 0xA9, 0xFF, 'b'};
    for (StatusCode code : {4u, 0x40000000u, 0x80000002u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(lineFor(code, bytes), expected);
        EXPECT_EQ(lineFor(code, ""), Text());
        EXPECT_EQ(lineFor(code, uintptr_t{0}), kUnknown);
    }
}

TEST(StatusText, FileFactsAndCounts) {
    const Text name = widenAscii("part.stl");
    struct Case {
        StatusCode code;
        uint64_t count;
        const char* text;
    };
    const Case cases[] = {
        {0x80000809, 0, "STL error: part.stl: not an STL file"},
        {0x8000080A, 0, "STL error: part.stl: the file is empty"},
        {0x8000080B, 1, "STL error: part.stl: binary STL file cut short, 1 byte missing; aborting"},
        {0x8000080B, 12345678901, "STL error: part.stl: binary STL file cut short, 12345678901 bytes missing; aborting"},
        {0x40000807, 1, "STL warning: 1 stray byte after the last triangle block; ignored"},
        {0x40000807, 3, "STL warning: 3 stray bytes after the last triangle block; ignored"},
        {0x40000809, 1, "STL warning: 1 more message like those above left out"},
        {0x40000809, 999900, "STL warning: 999900 more messages like those above left out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FileFact fact{name.c_str(), c.count};
        uintptr_t argument = c.code >= kErrorClass ? reinterpret_cast<uintptr_t>(&fact) : c.count;
        EXPECT_EQ(lineFor(c.code, argument), widenAscii(c.text));
    }
    EXPECT_EQ(lineFor(0x80000809, uintptr_t{0}), kUnknown);
}

TEST(StatusText, UnknownCodesGiveUnknown) {
    for (StatusCode code : {0u, 1u, 2u, 5u, 7u, 0x10000000u, 0x10000803u, 0x10000d02u, 0x40000001u, 0x4000080Au,
                            0x80000000u, 0x80000001u, 0x80000003u, 0x8000080Cu, 0x80000b01u, 0x80000b02u,
                            0x80000d08u, 0x12345678u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(lineFor(code, uintptr_t{0}), kUnknown);
        EXPECT_EQ(lineFor(code, "text"), kUnknown);
    }
}

// Pass-through codes arrive unchanged; every report keeps its back-trace
// (not in the line) and answers what the inner sink answered.
TEST(StatusText, Delivery) {
    const Utf16 line[] = {'h', 'i', 0};
    const Utf16 trace[] = {'m', '+', '1', '\n', 0};
    CountedText name{"abc", 3, 0};
    struct Case {
        StatusCode code;
        uintptr_t argument;
        bool passThrough;
    };
    const Case cases[] = {{3, 0x1234567890ull, true},
                          {6, reinterpret_cast<uintptr_t>(line), true},
                          {0x40000002, 0xDEADBEEF, true},
                          {0x80000808, 0, false},
                          {0x80000002, reinterpret_cast<uintptr_t>("text"), false},
                          {0x10000801, reinterpret_cast<uintptr_t>(&name), false},
                          {0x80000b00, 2, false},
                          {0x99999999, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Converter converter;
        converter.inner.answer = 9;
        EXPECT_EQ(converter.convert(c.code, c.argument, trace), 9);
        ASSERT_EQ(converter.inner.received.size(), 1u);
        EXPECT_EQ(converter.inner.received[0].code, c.passThrough ? c.code : 6u);
        if (c.passThrough) EXPECT_EQ(converter.inner.received[0].argument, c.argument);
        EXPECT_EQ(converter.inner.received[0].backTracePointer, trace);
        EXPECT_EQ(converter.inner.received[0].line.find('+'), Text::npos);
    }
    Converter converter;
    report(converter.producerSink(), 0x80000005, 0);
    report(converter.producerSink(), 0x40000804, 0);
    ASSERT_EQ(converter.inner.received.size(), 2u);
    EXPECT_EQ(converter.inner.received[0].line, widenAscii("out of memory"));
    EXPECT_FALSE(converter.inner.received[0].backTrace.empty());
    EXPECT_EQ(converter.inner.received[1].line, widenAscii("STL warning: unexpected end of file"));
    EXPECT_EQ(converter.inner.received[1].backTracePointer, nullptr);
}
