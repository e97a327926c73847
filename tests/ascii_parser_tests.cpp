#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/memory.h"
#include "tests/exact_bytes.h"
#include "tests/sink_recorder.h"
#include "stl/ascii_parser.h"

namespace {

constexpr uint32_t kNan = 0xFFC00000;
constexpr uint32_t kInfinity = 0x7F800000;
constexpr StatusCode kNever = 1;  // the recording sink's default: it never stops

uint32_t bitsOf(float value) {
    return std::bit_cast<uint32_t>(value);
}

using Report = std::pair<StatusCode, uint64_t>;

struct Solid {
    std::string name;
    bool hasNormals;
    std::vector<std::array<float, 9>> facets;  // three corners; the normal is not kept
};

struct Parsed {
    bool ok;
    std::vector<Solid> solids;

    std::vector<size_t> triangleCounts() const {
        std::vector<size_t> counts;
        for (const Solid& solid : solids) counts.push_back(solid.facets.size());
        return counts;
    }
};

// Parses from an exactly sized block, on the process heap so that the leak
// checker sees anything a failed parse leaves behind. Fields of packed
// records are copied before comparing: no references to them.
Parsed parse(const std::string& text, RecordingSink* recorder) {
    ExactBytes in(text);
    StlMesh mesh{in.data(), reinterpret_cast<StlSolid*>(&mesh), 77};  // stale values to be replaced
    Parsed parsed{parseAsciiStl(&mesh, in.data(), in.size(), processHeap(), recorder ? &recorder->sink : nullptr)};
    for (const Received& entry : recorder ? recorder->received : std::vector<Received>{})
        EXPECT_EQ(entry.backTracePointer != nullptr, entry.code >= kErrorClass) << entry.code;
    EXPECT_EQ(static_cast<const uint8_t*>(mesh.source), nullptr);
    if (!parsed.ok) EXPECT_TRUE(mesh.solids == nullptr && mesh.solidCount == 0);
    for (uint32_t i = 0; parsed.ok && i < mesh.solidCount; ++i) {
        const StlSolid& solid = mesh.solids[i];
        Solid copy{std::string(solid.name.bytes, solid.name.length), solid.hasNormals != 0, {}};
        for (uint32_t t = 0; t < solid.triangleCount; ++t) {
            std::array<float, 9> corners;
            memcpy(corners.data(), reinterpret_cast<const uint8_t*>(solid.triangles) + 38 * uint64_t{t}, 36);
            copy.facets.push_back(corners);
        }
        parsed.solids.push_back(copy);
    }
    freeMeshSolids(&mesh, processHeap());
    return parsed;
}

std::string facet(int i) {
    std::string n = std::to_string(i);
    return "  facet normal 0 0 1\n    outer loop\n      vertex " + n + " 0 0\n      vertex 0 " + n +
           " 0\n      vertex 0 0 " + n + "\n    endloop\n  endfacet\n";
}

std::array<float, 9> facetCorners(int i) {
    float v = static_cast<float>(i);
    return {v, 0, 0, 0, v, 0, 0, 0, v};
}

const std::string F = facet(1);

struct GrammarCase {
    const char* what;
    std::string marked;
    bool ok;
    std::vector<StatusCode> reports;
    std::vector<size_t> triangles = {};
    StatusCode stopAt = kNever;
};

// Each '|' in a case's text marks, in order, the offset expected with the next
// report that carries one ("unexpected end of file" carries none); the marks
// are removed before parsing.
void checkCases(const std::vector<GrammarCase>& cases) {
    for (const GrammarCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text;
        std::vector<uint64_t> marks;
        for (char byte : c.marked) byte == '|' ? marks.push_back(text.size()) : text.push_back(byte);
        std::vector<Report> expected;
        size_t next = 0;
        for (StatusCode code : c.reports) expected.push_back({code, code == kWarnUnexpectedEnd ? 0 : marks.at(next++)});
        EXPECT_EQ(next, marks.size());
        RecordingSink recorder;
        recorder.stopAt = c.stopAt;
        Parsed parsed = parse(text, &recorder);
        EXPECT_EQ(parsed.ok, c.ok);
        EXPECT_EQ(recorder.reports(), expected);
        EXPECT_EQ(parsed.triangleCounts(), c.triangles);
        // Without a sink the outcome is the one of a sink that always goes on.
        if (c.stopAt == kNever) EXPECT_EQ(parse(text, nullptr).ok, c.ok);
    }
}

TEST(AsciiParser, AcceptedLayouts) {
    checkCases({
        {"solid and endsolid", "solid\nendsolid", true, {}, {0}},
        {"only whitespace", " \r\n\t\v\f ", true, {}, {}},
        {"byte-order mark", "\xEF\xBB\xBFsolid a\n" + F + "endsolid a\n", true, {}, {1}},
        {"two solids", "solid a\n" + F + "endsolid a\nsolid b\n" + F + F + "endsolid b\n", true, {}, {1, 2}},
        {"no endsolid", "solid a\n" + F + F, true, {kWarnUnexpectedEnd}, {2}},
        {"next solid without end", "solid a\n" + F + "|solid b\n" + F + "endsolid b", true, {kWarnEndSpaceSolid},
         {1, 1}},
        {"end solid, next solid", "solid a\n" + F + "end solid|\nsolid b\nendsolid b", true, {kWarnEndSpaceSolid},
         {1, 0}},
        {"name with trailing blanks", "solid a  \n" + F + "endsolid |a\n", true, {kWarnMissingEndsolid}, {1}},
        {"endsolid, tab, name", "solid a\nendsolid|\ta\n", true, {kWarnMissingEndsolid}, {0}},
        {"endsolid with another name", "solid abc\nendsolid |abd\n", true, {kWarnMissingEndsolid}, {0}},
        {"endsolid name and more", "solid a b\nendsolid a b and more\n", true, {}, {0}},
        {"endsolid without name after an empty name", "solid \nendsolid anything\n", true, {}, {0}},
        {"solid and blanks only", "solid   ", true, {kWarnUnexpectedEnd}, {0}},
        {"any whitespace between keywords", "solid a\r\n\v\f facet normal\t0 0 0 \r\n outer loop\v vertex 1\t2  3\f\n"
         "\tvertex 1 2 3\r\rvertex 1 2 3 \n endloop\n\n endfacet\r\nendsolid a\n\n  \t", true, {}, {1}},
        {"endsolid line is skipped", "solid a\nendsolid a # facet normal \nsolid b\nendsolid b", true, {}, {0, 0}},
    });
}

TEST(AsciiParser, GrammarErrors) {
    const std::string head = "solid a\nfacet normal 0 0 1\nouter loop\n";
    const std::string vertex = "vertex 1 2 3\n";
    const std::string loop = head + vertex + vertex + vertex;
    checkCases({
        {"no solid", "|xyz", false, {kErrExpectedSolid}},
        {"upper-case SOLID", "  |SOLID a\nENDSOLID a\n", false, {kErrExpectedSolid}},
        {"two spaces in facet normal", "solid a\n|facet  normal 0 0 0", false, {kErrExpectedFacetOrEnd}},
        {"endsolid against a letter", "solid a\n|endsolidx\n", false, {kErrExpectedFacetOrEnd}},
        {"text after the end", "solid a\nendsolid a\n|garbage", false, {kErrExpectedSolid}},
        {"end solid and a name", "solid a\n" + F + "end solid| |a\n", false,
         {kWarnEndSpaceSolid, kErrExpectedSolid}},
        {"vertex against a letter", head + vertex + "|vertexx 1 2 3\n", false, {kErrExpectedVertex}},
        {"fourth vertex", loop + "|vertex 1 2 3\nendloop\nendfacet\n", false, {kErrExpectedEndloop}},
        {"two spaces in outer loop", "solid a\nfacet normal 0 0 1\n|outer  loop\n", false, {kErrExpectedEndfacet}},
        {"no endfacet", loop + "endloop\n|endsolid a\n", false, {kErrExpectedEndfacet}},
        {"triple over two lines", "solid a\nfacet normal 0|\n0 0\n", false, {kErrExpectedNumber}},
        {"digit against endloop", head + vertex + vertex + "vertex 1 2 3e|ndloop\n", false, {kErrExpectedNumber}},
        {"exponent without digits", "solid a\nfacet normal 0 0 1e+|x\n", false, {kErrExpectedNumber}},
        {"-1.#INF", head + "vertex -1.|#INF 2 3\n", false, {kErrExpectedNumber}},
        {"cut inside end solid", "solid a\n" + F + "|end sol", false, {kErrExpectedFacetOrEnd}},
        {"cut inside endfacet", loop + "endloop\n|endfac", false, {kErrExpectedEndfacet}},
        {"cut inside Infinity", head + "vertex 1 2 |Infin", false, {kErrExpectedNumber}},
    });
}

// A text that ends early loses only the unfinished facet, unless the sink stops.
TEST(AsciiParser, TruncatedText) {
    const std::string head = "solid a\n" + F + "facet normal 0 0 1\nouter loop\n";
    const std::string vertex = "vertex 1 2 3\n";
    checkCases({
        {"after blanks in a triple", head + "vertex 1 2 |", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {1}},
        {"after e", head + "vertex 1 2 3e|", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {1}},
        {"inside the digits", head + "vertex 1 2 3.5", true, {kWarnUnexpectedEnd}, {1}},
        {"after facet normal", "solid a\nfacet normal|", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {0}},
        {"after the normal", "solid a\nfacet normal 0 0 1\n", true, {kWarnUnexpectedEnd}, {0}},
        {"before a vertex", head + vertex, true, {kWarnUnexpectedEnd}, {1}},
        {"before endfacet", head + vertex + vertex + vertex + "endloop\n", true, {kWarnUnexpectedEnd}, {1}},
        {"endsolid at the very end", "solid a\n" + F + "endsolid|", true, {kWarnMissingEndsolid}, {1}},
        {"stop at the end of the text", "solid a\n" + F, false, {kWarnUnexpectedEnd}, {}, kWarnUnexpectedEnd},
        {"stop inside a number", head + "vertex 1 2 |", false, {kWarnUnexpectedEnd, kErrExpectedNumber}, {},
         kWarnUnexpectedEnd},
        {"stop at a wrong end name", "solid a\nendsolid |b\nsolid c\nendsolid c", false, {kWarnMissingEndsolid}, {},
         kWarnMissingEndsolid},
        {"stop at end solid", "solid a\nend solid|\n", false, {kWarnEndSpaceSolid}, {}, kWarnEndSpaceSolid},
        {"stop at a new solid", "solid a\n|solid b\nendsolid b\n", false, {kWarnEndSpaceSolid}, {}, kWarnEndSpaceSolid},
        {"stop at progress", "solid a\n" + F + F + "endsolid a\n", false, {}, {}, kProgress},
    });
}

TEST(AsciiParser, StoredValues) {
    RecordingSink recorder;
    Parsed parsed = parse("solid first part \r\n" + facet(1) + "facet normal 0 -0 0 endfacet\n" + facet(2) +
                              "endsolid first part \r\nsolid\tsecond\nendsolid second",
                          &recorder);
    EXPECT_TRUE(recorder.reports().empty());
    ASSERT_EQ(parsed.triangleCounts(), (std::vector<size_t>{3, 0}));
    EXPECT_EQ(parsed.solids[0].name, "first part ");
    EXPECT_EQ(parsed.solids[1].name, "second");
    // Without outer loop the corners repeat the previous facet's.
    EXPECT_EQ(parsed.solids[0].facets, (std::vector{facetCorners(1), facetCorners(1), facetCorners(2)}));
}

// A solid has normals when some complete facet has a component unequal to zero.
TEST(AsciiParser, NormalsFlag) {
    const std::pair<std::string, bool> cases[] = {
        {"0 0 0", false},  {"-0 0e5 -0.0", false},   {"0 0 1e-50", false},  {"0 1e-45 0", true},
        {"nan 0 0", true}, {"0 -Infinity 0", true},  {"-1.#IND 0 0", true},
    };
    for (const auto& [normal, expected] : cases) {
        Parsed parsed = parse("solid\nfacet normal " + normal + "\nendfacet\nendsolid\n", nullptr);
        ASSERT_TRUE(parsed.ok) << normal;
        EXPECT_EQ(parsed.solids[0].hasNormals, expected) << normal;
    }
    // A facet that the end of the text cuts off adds neither a triangle nor its normal.
    Parsed cut = parse("solid\nfacet normal 0 0 1\nouter loop\nvertex 1 2", nullptr);
    EXPECT_EQ(cut.triangleCounts(), std::vector<size_t>{0});
    EXPECT_FALSE(cut.solids[0].hasNormals);
}

// What a number leaves unread, and the float it gives when read.
TEST(AsciiNumbers, Forms) {
    const std::string hundredZeros(100, '0');
    const std::string thirtyDigits = "123456789012345678901234567890";
    const int read = kNumberRead, failed = kNumberFailed, atEnd = kNumberAtEnd;
    const struct {
        std::string text;
        int result;
        std::string rest;
        uint32_t bits;
    } cases[] = {
        // Forms of a decimal.
        {"1,5", read, "", bitsOf(1.5f)}, {".5", read, "", bitsOf(0.5f)}, {"5.", read, "", bitsOf(5.0f)},
        {"-.5", read, "", bitsOf(-0.5f)}, {"007", read, "", bitsOf(7.0f)}, {"-0", read, "", 0x80000000},
        {"1.500000e+002", read, "", bitsOf(150.0f)}, {"-4.336808e-016", read, "", bitsOf(-4.336808e-16f)},
        {"1e0000000000000000000000001", read, "", bitsOf(10.0f)},
        // Words and the limits of float.
        {"-1.#IND00 5", read, " 5", kNan}, {"nan", read, "", kNan}, {"+NaN", read, "", kNan},
        {"-Infinity", read, "", 0x80000000 | kInfinity}, {"1e39", read, "", kInfinity},
        {"3.4028235e38", read, "", 0x7F7FFFFF}, {"3.4028236e38", read, "", kInfinity},
        {"1e61700", read, "", kInfinity}, {"0e309", read, "", kNan}, {"0e308", read, "", 0},
        {"1e-400", read, "", 0}, {"7e-46", read, "", 0}, {"-7.1e-46", read, "", 0x80000001},
        // More digits than a float holds.
        {thirtyDigits, read, "", bitsOf(strtof(thirtyDigits.c_str(), nullptr))},
        {"1" + hundredZeros + "e-100", read, "", bitsOf(1.0f)},
        {"0." + hundredZeros + "15e101", read, "", bitsOf(1.5f)},
        {"1" + hundredZeros + hundredZeros + hundredZeros + hundredZeros, read, "", kInfinity},
        // Beside a halfway point between floats, decided by the 17th or 18th significant digit.
        {"1.0000000596046448", read, "", 0x3F800001}, {"1.00000005960464478", read, "", 0x3F800001},
        {"1.00000005960464477", read, "", 0x3F800000}, {"16777217.000000001", read, "", 0x4B800001},
        {"-16777217.0000000001", read, "", 0xCB800001},
        // Where a number stops, and where it cannot start.
        {"12vertex", read, "vertex", bitsOf(12.0f)}, {"1.2.3", read, ".3", bitsOf(1.2f)}, {"NaNx", read, "x", kNan},
        {"+1.#IND", read, "#IND", bitsOf(1.0f)}, {"1.", read, "", bitsOf(1.0f)}, {"+x", failed, "x", 0},
        {"e5", failed, "e5", 0}, {". ", failed, " ", 0}, {"NAN", failed, "NAN", 0}, {"Infinit", failed, "Infinit", 0},
        {"1e+ ", failed, " ", 0}, {"", atEnd, "", 0}, {"-,", atEnd, "", 0}, {"1.5E+", atEnd, "", 0},
    };
    const std::vector<Report> endOfText{{kWarnUnexpectedEnd, 0}};
    for (const auto& c : cases) {
        ExactBytes bytes(c.text);
        RecordingSink recorder;
        const uint8_t* cursor = bytes.data();
        float number = 42.0f;
        EXPECT_EQ(readNumber(&number, &cursor, bytes.end(), &recorder.sink), c.result) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(cursor), c.text.size() - (cursor - bytes.data())), c.rest)
            << c.text;
        // Only a number read is stored; only the end of the text is reported.
        EXPECT_EQ(bitsOf(number), c.result == read ? c.bits : bitsOf(42.0f)) << c.text;
        EXPECT_EQ(recorder.reports(), c.result == atEnd ? endOfText : std::vector<Report>()) << c.text;
    }
}

// Decimals at and right beside the halfway points between neighbouring
// floats come out as the nearest float, as the C library's strtof has them.
TEST(AsciiNumbers, CorrectlyRounded) {
    std::mt19937_64 random(20240607);
    char text[64];
    for (int i = 0; i < 15000; ++i) {
        uint32_t bits = static_cast<uint32_t>(random() % 0x7F7FFFFF);
        float low = std::bit_cast<float>(bits);
        double halfway = (static_cast<double>(low) + static_cast<double>(nextafterf(low, INFINITY))) / 2;
        for (int precision : {8, 9, 15, 16}) {
            int length = snprintf(text, sizeof text, "%.*e", precision, halfway);
            ExactBytes bytes(std::string(text, length));
            const uint8_t* cursor = bytes.data();
            float number;
            ASSERT_EQ(readNumber(&number, &cursor, bytes.end(), nullptr), kNumberRead) << text;
            ASSERT_EQ(cursor, bytes.end()) << text;
            ASSERT_EQ(bitsOf(number), bitsOf(strtof(text, nullptr))) << text;
        }
    }
}

// Facets with room after them go through a quicker reader, which gives up
// on anything unusual; the general reader then reads them again. Either way
// the facet must come out the same: read near the end of the text (general
// reader) and far from it (quicker reader first), with the same reports at
// the same distance from the facet.
TEST(AsciiParser, QuickReaderAgreesWithTheGeneralOne) {
    // Zero corners: a facet without outer loop keeps the corners of the one before.
    const std::string flat = "facet normal 0 0 0 outer loop vertex 0 0 0 vertex 0 0 0 vertex 0 0 0 endloop endfacet\n";
    const std::string loop = "facet normal 0 0 1\nouter loop\n";
    const std::string facets[] = {
        "facet normal 1-2+3 outer loop vertex .5,5-.5 vertex 1.e1-1e-1 5. vertex 0 0 0 endloop endfacet\n",
        "facet normal 0.00012345678901234 1234567.1234567 12345678\nouter loop\nvertex 0.000000012345678 "
        "1.23456789012345678 -0.1234567890123456\nvertex 1e5 -2.5E-003 3e+38\nvertex 1e1000 0e400 1e-400\n"
        "endloop\nendfacet\n",
        "facet normal -1.#IND00 nan NaN\nouter loop\nvertex -Infinity +.5 -0\nvertex 5. ,5 1,25\n"
        "vertex 0.5e-3 1E7 00000000012\nendloop\nendfacet\n",
        "facet normal\t0\t\t0 \t1\v\fouter loop\r\r\rvertex                    1 2 3\n"
        "vertex 1 2                      3\nvertex 1 2 3                     \n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n"
        "endloop endfacet\n",
        "facet normal 0 -0 0\nendfacet\n",
        loop + "vertex 1 2\n3\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3e\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacetx\n",
        // Every length up to eight with the separator anywhere, eight digits
        // on both sides, leading zeros, zeros with signs.
        "facet normal 1 -12 +123\nouter loop\nvertex 1234.5 -12.345 1.2345678\nvertex .1234567 -1234567. 12345678\n"
        "vertex -0.000001 99999999 0,5\nendloop\nendfacet\n",
        loop + "vertex 12345678.12345678 -0.00809518 00000000.00000001\nvertex -0 -0.0 -.0\n"
        "vertex 0.00000000 +0 00000000\nendloop\nendfacet\n",
        // Halfway between two floats, and just beside.
        loop + "vertex 16777217 33554434 0.50000003\nvertex 16777217.0 16777216.9 1.00000006\n"
        "vertex 8388608.5 8388609.5 0.1\nendloop\nendfacet\n",
        loop + "vertex 16777217 33554434 16777219\nvertex 16777218 1.0000001 -16777217\n"
        "vertex -0.0123456 0,0000001 +0.9999999\nendloop\nendfacet\n",
        // Nine bytes with a leading zero, and their near misses.
        "facet normal -0.0734634 0.0000000 012345678\nouter loop\nvertex 0..123456 0.-12345 0-1234567\n"
        "vertex 00.123456 0.01234567 -0.00000001\nvertex 01234.567 0.1234567 1.0123456\nendloop\nendfacet\n",
        loop + "vertex 0.00123457 -0,00000001 0.99999999\nvertex 0.001234567 00.0123456 0.0012345.\n"
        "vertex 1.00123457 0.0-123456 0..1234567\nendloop\nendfacet\n",
        // Nine or more digits on a side, numbers filling the 32 bytes after the keyword exactly.
        loop + "vertex 123456789 1.123456789 -.5\nvertex 1234567.8 -1234567.8 12345678.0\n"
        "vertex 1234567.8 -1234567.8 12345678.\nendloop\nendfacet\n",
        // Forms the quick reader leaves to the general one.
        loop + "vertex 1e5 -2.5E-3 1E+2\nvertex 1,5 2.5 -1.#IND\nvertex 1.2.3 4 5\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex +-1 2 3\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1-2 2 3\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex . 2 3\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1 - 3\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1 2 -.\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1 2 0x1\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex1 2 3\nendloop\nendfacet\n",
        loop + "vertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3 4\nendloop\nendfacet\n",
    };
    auto expectAgreement = [&](const std::string& facetText) {
        SCOPED_TRACE(facetText);
        RecordingSink quick, general;
        Parsed first = parse("solid a\n" + facetText + flat + flat + "endsolid a\n", &quick);
        Parsed last = parse("solid a\n" + flat + flat + facetText + "endsolid a\n", &general);
        ASSERT_EQ(first.ok, last.ok);
        std::vector<Report> quickReports = quick.reports();
        for (Report& report : quickReports)
            if (report.second) report.second += 2 * flat.size();
        EXPECT_EQ(quickReports, general.reports());
        if (!first.ok) return;
        ASSERT_EQ(first.triangleCounts(), last.triangleCounts());
        EXPECT_EQ(first.solids[0].hasNormals, last.solids[0].hasNormals);
        const auto& a = first.solids[0].facets.front();
        const auto& b = last.solids[0].facets.back();
        for (int i = 0; i < 9; ++i) EXPECT_EQ(bitsOf(a[i]), bitsOf(b[i])) << i;
    };
    for (const std::string& facetText : facets) expectAgreement(facetText);
    // Random decimals of up to ten digits on each side, mostly zeros and
    // nines, and some with a second sign or separator.
    std::mt19937 random(27);
    auto digits = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "0990123456789"[random() % 13];
        return text;
    };
    for (int i = 0; i < 400; ++i) {
        std::string text = loop;
        for (int vertex = 0; vertex < 3; ++vertex) {
            text += "vertex";
            for (int n = 0; n < 3; ++n) {
                text += std::string(1 + random() % 2, ' ') + std::string(1, "  -+"[random() % 4]) +
                        digits(random() % 11) + std::string(1, "..,"[random() % 3]) + digits(random() % 11);
                if (random() % 40 == 0) text.insert(text.size() - random() % 3, 1, "+-.,"[random() % 4]);
            }
            text += "\n";
        }
        expectAgreement(text + "endloop\nendfacet\n");
    }
}

// Progress comes after complete facets, one thousandth more each time and
// never past 1000, ending close to 1000 however many solids the text has.
TEST(AsciiParser, Progress) {
    for (auto [solids, facets] : {std::pair{1, 3}, {1, 5000}, {4, 3000}}) {
        SCOPED_TRACE(testing::Message() << solids << " x " << facets);
        std::string text;
        for (int s = 0; s < solids; ++s) {
            text += "solid part\n";
            for (int i = 0; i < facets; ++i) text += facet(i);
            text += "endsolid part\n";
        }
        RecordingSink recorder;
        ASSERT_TRUE(parse(text, &recorder).ok);
        std::vector<uint64_t> progress = recorder.progress();
        ASSERT_FALSE(progress.empty());
        EXPECT_LE(progress.size(), size_t(solids * facets));
        // One step at a time within a solid; never back across solids.
        for (size_t i = 1; i < progress.size(); ++i)
            EXPECT_TRUE(solids > 1 ? progress[i] >= progress[i - 1] : progress[i] == progress[i - 1] + 1) << i;
        EXPECT_LE(progress.back(), 1000u);
        if (solids * facets >= 1000) EXPECT_GE(progress.back(), 990u);
    }
}

// Every heap request in turn fails: the parse either completes or reports
// out of memory once and keeps nothing. Only the final shrink may fail quietly.
TEST(AsciiParser, OutOfMemory) {
    std::string text = "solid a\n" + F + F + "endsolid a\nsolid b\n";
    // Facets tighter than the reservation (86 bytes each) make the buffer grow.
    for (int i = 0; i < 300; ++i) {
        std::string n = std::to_string(i % 10);
        text += "facet normal 0-0-1outer loop vertex " + n + "-0-0vertex 0-" + n + "-0vertex 0-0-" + n +
                " endloop endfacet ";
    }
    text += "endsolid b\nsolid c\nendsolid c\n";
    const Parsed full = parse(text, nullptr);
    ASSERT_EQ(full.triangleCounts(), (std::vector<size_t>{2, 300, 0}));
    EXPECT_EQ(full.solids[1].facets.back(), (std::array<float, 9>{9, 0, 0, 0, -9, 0, 0, 0, -9}));
    int failures = 0;
    bool completed = false;
    for (int64_t allowed = 0; !completed && allowed < 100; ++allowed) {
        RecordingSink recorder;
        failHeapRequestsAfter(allowed);
        Parsed parsed = parse(text, &recorder);
        failHeapRequestsAfter(-1);
        if (parsed.ok) {
            EXPECT_TRUE(recorder.reports().empty()) << allowed;
            EXPECT_EQ(parsed.triangleCounts(), full.triangleCounts()) << allowed;
            completed = true;
        } else {
            ++failures;
            EXPECT_EQ(recorder.reports(), (std::vector<Report>{{kOutOfMemory, 0}})) << allowed;
        }
    }
    EXPECT_TRUE(completed);
    EXPECT_GE(failures, 8);  // the solids array twice, three reservations, two growths, a shrink
}

}  // namespace
