#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/converting_sink.h"
#include "tests/sink_recorder.h"

namespace {

// Converts one report and answers the single line the inner sink received.
Text lineFor(StatusCode code, uintptr_t argument) {
    Converter converter;
    converter.convert(code, argument);
    EXPECT_EQ(converter.inner.codes(), std::vector<StatusCode>{kLine}) << std::hex << code;
    return converter.inner.received.empty() ? Text() : converter.inner.received[0].line;
}

uintptr_t at(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

const Text kUnknown = widenAscii("<unknown>");

}  // namespace

// One row per class and the ends of each range: fixed texts, composed ones
// with file text (counted, NUL-ended, detected code page), feature levels,
// free texts, file facts with counts; codes without a text give "<unknown>".
// The load tests check the other texts of file facts and exporters end to end.
TEST(StatusText, Lines) {
    const char dateBytes[] = "2024-05-06 12:00xyz";  // only the counted bytes belong to the text
    const CountedText date{dateBytes, 16, 1252}, empty{dateBytes, 0, 0}, padded{"C:\\a.stl\0\0 x", 12, 0};
    const CountedText cyrillic{"\xCF\xF0\xE8\xE2\xE5\xF2", 6, 0};
    const Text privet{0x041F, 0x0440, 0x0438, 0x0432, 0x0435, 0x0442};
    const FileFact oneByte{U16("part.stl"), 1}, manyBytes{U16("part.stl"), 12345678901};
    const PlacedError line12{kErrExpectedNumber, 12, nullptr}, named{kErrExpectedVertex, 1, U16("b.stl")},
        notParser{kOutOfMemory, 3, nullptr}, capitals{kErrExpectedEndloop, 2009, nullptr, "ENDLOOP x", 7};
    const SettingFailure notSaved{nullptr, U16("FlipZoom"), 5};
    const std::string d3d = "D3D info: GPU supports Direct3D ";
    const std::string cutShort = "STL error: part.stl: binary STL file cut short, ";
    const std::tuple<StatusCode, uintptr_t, Text> rows[] = {
        {kInfoComputeShaders, 0xFFFFFFFF, widenAscii("Direct3D 11 info: GPU supports compute shaders")},
        {kInfoComputeShaders, 0, widenAscii("Direct3D 11 info: GPU does not support compute shaders")},
        {kWarnArchicadUnit, 0,
         widenAscii("STL warning: bad ArchiCAD metadata (unknown unit); scaling may be incorrect")},
        {kErrEndInTriangles, 1234, widenAscii("STL error: unexpected end of file in triangles; aborting")},
        {0x80000d07, 0,
         widenAscii("Direct3D 11 error: the graphics device was removed (driver updated, or the adapter removed or "
                    "switched)")},
        {0x80000d08, 0x887A0006, widenAscii("Direct3D 11 error: the GPU stopped responding")},
        {0x80000d11, 0x887A0030, widenAscii("Direct3D 11 error: failed with code 0x887A0030")},
        {kOutOfMemory, 0, widenAscii("out of memory")}, {kInfoWrittenBy, 0, widenAscii("STL info: written by ")},
        {kInfoWrittenBy, at("Pi\xC3\xA8" "ce"), widenAscii("STL info: written by Pi\xE8" "ce")},
        {kInfoWritten, at(&date), widenAscii("STL info: written 2024-05-06 12:00")},
        {kInfoWrittenTo, at(&empty), widenAscii("STL info: written to \"\"")},
        {kInfoWrittenTo, at(&padded), widenAscii("STL info: written to \"C:\\a.stl\"")},
        {kInfoWrittenTo, at(&cyrillic), widenAscii("STL info: written to \"") + privet + Utf16('"')},
        {kInfoFeatureLevel, 0x9100, widenAscii(d3d + "9")},   {kInfoFeatureLevel, 0xC000, widenAscii(d3d + "12")},
        {kInfoFeatureLevel, 0, widenAscii(d3d + "11")},        {kInfoFeatureLevel, 0xB0FF, widenAscii(d3d + "11")},
        {kInfoFeatureLevel, 0xB101, widenAscii(d3d + "12.1")}, {kInfoFeatureLevel, 0xFFFFF, widenAscii(d3d + "12.1")},
        {kInfoText, at("a\x80\xA0\xC3\xA9\xFF" "b"), Text{'a', 0x80, 0xA0, 0xC3, 0xA9, 0xFF, 'b'}},  // not UTF-8
        {kWarningText, at(""), Text()}, {kErrorText, 0, kUnknown}, {kErrNotStl, 0, kUnknown},
        {kErrTruncatedBinary, at(&oneByte), widenAscii(cutShort + "1 byte missing; aborting")},
        {kErrTruncatedBinary, at(&manyBytes), widenAscii(cutShort + "12345678901 bytes missing; aborting")},
        {kErrAsciiPlaced, at(&line12), widenAscii("STL error: line 12: expected a number; aborting")},
        {kErrAsciiPlaced, at(&named), widenAscii("STL error: b.stl, line 1: expected 'vertex' keyword; aborting")},
        {kErrAsciiPlaced, at(&capitals),
         widenAscii("STL error: line 2009: 'ENDLOOP' is in capitals; STL keywords are lower case")},
        {kErrAsciiPlaced, at(&notParser), kUnknown}, {kErrAsciiPlaced, 0, kUnknown},
        {kWarnStrayBytes, 3, widenAscii("STL warning: 3 stray bytes after the last triangle block; ignored")},
        {kWarnMessagesLeftOut, 1, widenAscii("STL warning: 1 more message like those above left out")},
        {kErrSettingNotSaved, at(&notSaved),
         widenAscii("Settings error: FlipZoom could not be saved: ") + lineFor(kSystemError, 5)},
        {kErrSettingNotSaved, 0, kUnknown},
    };
    for (const auto& [code, argument, line] : rows)
        EXPECT_EQ(lineFor(code, argument), line) << std::hex << code << " " << argument;
    for (StatusCode code : {0u, 0x10000803u, 0x10000d02u, 0x4000080Au, 0x8000080Cu, 0x80000b01u, 0x80000d12u, ~0u})
        EXPECT_EQ(lineFor(code, at("text")), kUnknown) << std::hex << code;
    // A code whose argument is a record says nothing more without one.
    for (StatusCode code : {kErrNot3mf, kErrEmptyFile, kErrTruncatedBinary, kInfoSaved, kErrSaveFailed, kErrSaveTooLarge,
                            kErrSlicerNotStarted, kInfoRepaired, kInfoStillOpen})
        EXPECT_EQ(lineFor(code, 0), kUnknown) << std::hex << code;
    // The system's own texts, on one line, also for numbers it has none for.
    const Text notFound = lineFor(kSystemError, 2);
    EXPECT_TRUE(notFound != kUnknown && notFound != lineFor(kSystemError, 5) && notFound.find('\n') == Text::npos);
    EXPECT_EQ(lineFor(kSystemError, 0x7FFFFF3F).find('\n'), Text::npos);
}

// The words after a count agree with it; a count of 0 takes the plural.
TEST(StatusText, PackageCountsAgree) {
    const struct {
        StatusCode code;
        uint64_t number;
        const char* line;
    } rows[] = {
        {kWarn3mfMissingColour, 1, "3MF warning: 1 triangle or object names a colour that is not in the model; drawn without it"},
        {kWarn3mfMissingColour, 0, "3MF warning: 0 triangles or objects name a colour that is not in the model; drawn without it"},
        {kWarn3mfMissingColour, 12, "3MF warning: 12 triangles or objects name a colour that is not in the model; drawn without it"},
        {kInfo3mfSupports, 1, "3MF info: 1 of the objects shown is a support (type \"support\" or \"solidsupport\")"},
        {kInfo3mfSupports, 3, "3MF info: 3 of the objects shown are supports (type \"support\" or \"solidsupport\")"},
        {kInfo3mfSurfaces, 1, "3MF info: 1 of the objects shown is an open surface (type \"surface\")"},
        {kInfo3mfSurfaces, 2, "3MF info: 2 of the objects shown are open surfaces (type \"surface\")"},
        {kErrZipMethod, 9, "3MF error: the entry is compressed by method 9, neither stored nor deflate; aborting"},
    };
    for (const auto& row : rows) {
        PackageNote note{};
        note.number = row.number;
        EXPECT_EQ(lineFor(row.code, at(&note)), widenAscii(row.line)) << row.number;
    }
}

// Fixed and free texts need a block and are dropped without one (the report
// still answered); composed texts are built without the heap.
TEST(StatusText, WithoutHeap) {
    Converter converter;
    converter.inner.answer = 0;
    HeapFailureGuard noRequests(0);
    EXPECT_EQ(converter.convert(kOutOfMemory, uintptr_t{0}), 1);
    EXPECT_EQ(converter.convert(kErrorText, "free error text"), 1);
    converter.convert(kInfoWrittenBy, "Exporter");
    converter.convert(kInfoFeatureLevel, uintptr_t{0xB000});
    converter.convert(0x12345678, uintptr_t{0});
    EXPECT_EQ(converter.inner.lines(), (std::vector<Text>{widenAscii("STL info: written by Exporter"),
                                                          widenAscii("D3D info: GPU supports Direct3D 11"), kUnknown}));
}

// File text is cut at 65535 units, in bytes before widening: a UTF-8
// character cut there leaves one U+FFFD.
TEST(StatusText, LongCountedTextIsCutTo65535Units) {
    const Text cut = widenAscii("STL info: written to \"" + std::string(65535, 'x') + "\"");
    for (uint32_t length : {65535, 65536, 200000}) {
        std::vector<char> bytes(length, 'x');  // exactly sized: ASan catches reads past it
        CountedText text{bytes.data(), length, 1252};
        EXPECT_EQ(lineFor(kInfoWrittenTo, at(&text)), cut);
    }
    std::vector<char> bytes{'a'};
    for (int i = 0; i < 30000; ++i) bytes.insert(bytes.end(), {'\xE2', '\x82', '\xAC'});
    CountedText text{bytes.data(), static_cast<uint32_t>(bytes.size()), 0};
    EXPECT_EQ(lineFor(kInfoWrittenTo, at(&text)),
              widenAscii("STL info: written to \"a") + Text(21844, 0x20AC) + Utf16(0xFFFD) + Utf16('"'));
}

// Pass-through codes arrive unchanged, others as a line; every report keeps
// its back-trace and answers what the inner sink answered.
TEST(StatusText, Delivery) {
    const Utf16 line[] = {'h', 'i', 0}, trace[] = {'m', '+', '1', '\n', 0};
    CountedText name{"abc", 3, 0};
    const std::tuple<StatusCode, uintptr_t, bool> cases[] = {
        {kProgress, 0x1234567890ull, true}, {kLine, at(line), true},          {0x40000002, 0xDEADBEEF, true},
        {kErrEndInTriangles, 0, false},     {kErrorText, at("text"), false}, {kInfoWritten, at(&name), false},
        {kSystemError, 2, false},           {0x99999999, 0, false}};
    for (const auto& [code, argument, passThrough] : cases) {
        SCOPED_TRACE(code);
        Converter converter;
        converter.inner.answer = 9;
        EXPECT_EQ(converter.convert(code, argument, trace), 9);
        ASSERT_EQ(converter.inner.received.size(), 1u);
        EXPECT_EQ(converter.inner.received[0].code, passThrough ? code : kLine);
        EXPECT_EQ(converter.inner.received[0].argument == argument, passThrough);
        EXPECT_EQ(converter.inner.received[0].backTracePointer, trace);
    }
}
