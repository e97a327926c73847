#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "core/memory.h"
#include "tests/corpus_manifest.h"
#include "tests/exact_bytes.h"
#include "tests/sink_recorder.h"
#include "stl/ascii_parser.h"

namespace {

constexpr uint32_t kNan = 0xFFC00000;
constexpr uint32_t kInfinity = 0x7F800000;
constexpr StatusCode kNever = 1;  // the recording sink's default: it never stops

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

using Report = std::pair<StatusCode, uint64_t>;

struct Solid {
    std::string name;
    bool hasNormals;
    std::vector<std::array<float, 12>> facets;  // normal, then three vertices
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
// checker sees anything a failed parse leaves behind.
Parsed parse(const std::string& text, RecordingSink* recorder) {
    const MessageSink* sink = recorder ? &recorder->sink : nullptr;
    ExactBytes bytes(text);
    StlMesh mesh{bytes.data(), reinterpret_cast<StlSolid*>(&mesh), 77};  // stale values to be replaced
    Parsed parsed{parseAsciiStl(&mesh, bytes.data(), bytes.size(), processHeap(), sink), {}};
    if (recorder)
        for (const Received& entry : recorder->received)
            EXPECT_EQ(entry.backTracePointer != nullptr, entry.code >= kErrorClass) << entry.code;
    // Fields of packed records are copied before comparing: no references to them.
    EXPECT_EQ(static_cast<const uint8_t*>(mesh.source), nullptr);
    if (!parsed.ok) {
        EXPECT_EQ(static_cast<StlSolid*>(mesh.solids), nullptr);
        EXPECT_EQ(uint32_t{mesh.solidCount}, 0u);
        return parsed;
    }
    for (uint32_t i = 0; i < mesh.solidCount; ++i) {
        const StlSolid& solid = mesh.solids[i];
        EXPECT_EQ(solid.hasColours, 0);
        EXPECT_EQ(uint32_t{solid.name.codePage}, 0u);
        const uint8_t* name = reinterpret_cast<const uint8_t*>(solid.name.bytes);
        EXPECT_TRUE(name >= bytes.data() && name + solid.name.length <= bytes.end());
        Solid copy{std::string(solid.name.bytes, solid.name.length), solid.hasNormals != 0, {}};
        const uint8_t* records = reinterpret_cast<const uint8_t*>(solid.triangles);
        for (uint32_t t = 0; t < solid.triangleCount; ++t) {
            std::array<float, 12> corners;
            memcpy(corners.data(), records + 50 * uint64_t{t}, 48);
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

std::array<float, 12> facetCorners(int i) {
    float v = static_cast<float>(i);
    return {0, 0, 1, v, 0, 0, 0, v, 0, 0, 0, v};
}

const std::string F = facet(1);

// A text in which each '|' marks, in order, the offset expected with the
// next report that carries one; the marks are removed before parsing.
struct MarkedText {
    std::string text;
    std::vector<uint64_t> marks;

    explicit MarkedText(const std::string& marked) {
        for (char c : marked) {
            if (c == '|')
                marks.push_back(text.size());
            else
                text += c;
        }
    }

    std::vector<Report> expected(const std::vector<StatusCode>& codes) const {
        std::vector<Report> reports;
        size_t mark = 0;
        for (StatusCode code : codes) {
            // "Unexpected end of file" carries no offset.
            uint64_t argument = code == kWarnUnexpectedEnd ? 0 : mark < marks.size() ? marks[mark++] : ~0ull;
            reports.push_back({code, argument});
        }
        EXPECT_EQ(mark, marks.size()) << text;
        return reports;
    }
};

struct GrammarCase {
    const char* what;
    std::string marked;
    bool ok;
    std::vector<StatusCode> reports;
    std::vector<size_t> triangles = {};
    StatusCode stopAt = kNever;
};

void checkCases(const std::vector<GrammarCase>& cases) {
    for (const GrammarCase& c : cases) {
        MarkedText marked(c.marked);
        RecordingSink recorder;
        recorder.stopAt = c.stopAt;
        Parsed parsed = parse(marked.text, &recorder);
        EXPECT_EQ(parsed.ok, c.ok) << c.what;
        EXPECT_EQ(recorder.reports(), marked.expected(c.reports)) << c.what;
        EXPECT_EQ(parsed.triangleCounts(), c.triangles) << c.what;
        // Without a sink the outcome is the one of a sink that always goes on.
        if (c.stopAt == kNever) EXPECT_EQ(parse(marked.text, nullptr).ok, c.ok) << c.what;
    }
}

TEST(AsciiParser, AcceptedLayouts) {
    checkCases({
        {"solid and endsolid", "solid\nendsolid", true, {}, {0}},
        {"empty text", "", true, {}, {}},
        {"only whitespace", " \r\n\t\v\f ", true, {}, {}},
        {"byte-order mark", "\xEF\xBB\xBFsolid a\n" + F + "endsolid a\n", true, {}, {1}},
        {"two solids", "solid a\n" + F + "endsolid a\nsolid b\n" + F + F + "endsolid b\n", true, {}, {1, 2}},
        {"no endsolid", "solid a\n" + F + F, true, {kWarnUnexpectedEnd}, {2}},
        {"next solid without end", "solid a\n" + F + "|solid b\n" + F + "endsolid b", true, {kWarnEndSpaceSolid},
         {1, 1}},
        {"end solid, next solid", "solid a\n" + F + "end solid|\nsolid b\nendsolid b", true, {kWarnEndSpaceSolid},
         {1, 0}},
        {"name with trailing blanks", "solid a  \n" + F + "endsolid |a\n", true, {kWarnMissingEndsolid}, {1}},
        {"bare endsolid after a name", "solid a\nendsolid|\n", true, {kWarnMissingEndsolid}, {0}},
        {"endsolid, tab, name", "solid a\nendsolid|\ta\n", true, {kWarnMissingEndsolid}, {0}},
        {"endsolid with another name", "solid abc\nendsolid |abd\n", true, {kWarnMissingEndsolid}, {0}},
        {"endsolid name and more", "solid a b\nendsolid a b and more\n", true, {}, {0}},
        {"endsolid without name after an empty name", "solid \nendsolid anything\n", true, {}, {0}},
        {"solid and blanks only", "solid   ", true, {kWarnUnexpectedEnd}, {0}},
        {"facet without outer loop", "solid a\nfacet normal 0 0 1\nendfacet\nendsolid a", true, {}, {1}},
        {"numbers against keywords",
         "solid a\nfacet normal 1 2 3outer loop vertex 1 2 3vertex 4 5 6vertex 7 8 9 endloop endfacet endsolid a", true,
         {}, {1}},
        {"numbers against numbers",
         "solid a\nfacet normal 1-2+3\nouter loop\nvertex .5,5-.5\nvertex 1.e1-1e-1 5.\nvertex 0 0 0\nendloop\n"
         "endfacet\nendsolid a",
         true, {}, {1}},
        {"any whitespace between keywords",
         "solid a\r\n\v\f facet normal\t0 0 0 \r\n\r\n outer loop\v vertex 1\t2  3\f\n\tvertex 1 2 3\r\r"
         "vertex 1 2 3 \n endloop\n\n endfacet\r\nendsolid a",
         true, {}, {1}},
        {"trailing whitespace", "solid a\n" + F + "endsolid a\n\n  \t", true, {}, {1}},
        {"endsolid line is skipped", "solid a\nendsolid a # facet normal \nsolid b\nendsolid b", true, {}, {0, 0}},
    });
}

TEST(AsciiParser, GrammarErrors) {
    const std::string head = "solid a\nfacet normal 0 0 1\nouter loop\n";
    const std::string vertex = "vertex 1 2 3\n";
    checkCases({
        {"no solid", "|xyz", false, {kErrExpectedSolid}},
        {"upper-case SOLID", "  |SOLID a\nENDSOLID a\n", false, {kErrExpectedSolid}},
        {"two spaces in facet normal", "solid a\n|facet  normal 0 0 0", false, {kErrExpectedFacetOrEnd}},
        {"endsolid against a letter", "solid a\n|endsolidx\n", false, {kErrExpectedFacetOrEnd}},
        {"text after the end", "solid a\nendsolid a\n|garbage", false, {kErrExpectedSolid}},
        {"end solid and a name", "solid a\n" + F + "end solid| |a\n", false,
         {kWarnEndSpaceSolid, kErrExpectedSolid}},
        {"no vertex", head + "|endloop\nendfacet\n", false, {kErrExpectedVertex}},
        {"vertex against a letter", head + vertex + "|vertexx 1 2 3\n", false, {kErrExpectedVertex}},
        {"fourth vertex", head + vertex + vertex + vertex + "|vertex 1 2 3\nendloop\nendfacet\n", false,
         {kErrExpectedEndloop}},
        {"two spaces in outer loop", "solid a\nfacet normal 0 0 1\n|outer  loop\n", false, {kErrExpectedEndfacet}},
        {"no endfacet", head + vertex + vertex + vertex + "endloop\n|endsolid a\n", false, {kErrExpectedEndfacet}},
        {"triple over two lines", "solid a\nfacet normal 0|\n0 0\n", false, {kErrExpectedNumber}},
        {"line end after facet normal", "solid a\nfacet normal|\n0 0 1\n", false, {kErrExpectedNumber}},
        {"digit against endloop", head + vertex + vertex + "vertex 1 2 3e|ndloop\n", false, {kErrExpectedNumber}},
        {"a word", "solid a\nfacet normal 0 0 |x\n", false, {kErrExpectedNumber}},
        {"exponent without digits", "solid a\nfacet normal 0 0 1e+|x\n", false, {kErrExpectedNumber}},
        {"sign alone", "solid a\nfacet normal 0 0 +|\n", false, {kErrExpectedNumber}},
        {"separator alone", "solid a\nfacet normal .| 0 0\n", false, {kErrExpectedNumber}},
        {"-1.#INF", head + "vertex -1.|#INF 2 3\n", false, {kErrExpectedNumber}},
        {"cut inside -1.#IND", head + "vertex -1.|#IN", false, {kErrExpectedNumber}},
        {"cut inside facet normal", "solid a\n|facet norm", false, {kErrExpectedFacetOrEnd}},
        {"cut inside endsolid", "solid a\n" + F + "|endso", false, {kErrExpectedFacetOrEnd}},
        {"cut inside end solid", "solid a\n" + F + "|end sol", false, {kErrExpectedFacetOrEnd}},
        {"cut inside endfacet", head + vertex + vertex + vertex + "endloop\n|endfac", false, {kErrExpectedEndfacet}},
        {"cut inside Infinity", head + "vertex 1 2 |Infin", false, {kErrExpectedNumber}},
    });
}

// A text that ends early loses only the unfinished facet, unless the sink stops.
TEST(AsciiParser, TruncatedText) {
    const std::string head = "solid a\n" + F + "facet normal 0 0 1\nouter loop\n";
    const std::string vertex = "vertex 1 2 3\n";
    checkCases({
        {"after blanks in a triple", head + "vertex 1 2 |", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {1}},
        {"after a sign", head + "vertex 1 2 -|", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {1}},
        {"after e", head + "vertex 1 2 3e|", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {1}},
        {"inside the digits", head + "vertex 1 2 3.5", true, {kWarnUnexpectedEnd}, {1}},
        {"after two numbers of the normal", "solid a\nfacet normal 0 0|", true,
         {kWarnUnexpectedEnd, kErrExpectedNumber}, {0}},
        {"after facet normal", "solid a\nfacet normal|", true, {kWarnUnexpectedEnd, kErrExpectedNumber}, {0}},
        {"after the normal", "solid a\nfacet normal 0 0 1\n", true, {kWarnUnexpectedEnd}, {0}},
        {"before a vertex", head + vertex, true, {kWarnUnexpectedEnd}, {1}},
        {"before endloop", head + vertex + vertex + vertex, true, {kWarnUnexpectedEnd}, {1}},
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
    Parsed parsed = parse(
        "solid first part \r\n" + facet(1) + "facet normal 0 -0 0 endfacet\n" + facet(2) + "endsolid first part \r\n" +
            "solid\tsecond\n" + "facet normal 0 0 0 endfacet\n" + "facet normal 0 0 nan\n  outer loop vertex 1 2 3 " +
            "vertex 4 5 6 vertex 7 8 9 endloop endfacet\nendsolid second",
        &recorder);
    ASSERT_TRUE(parsed.ok);
    EXPECT_TRUE(recorder.reports().empty());
    ASSERT_EQ(parsed.solids.size(), 2u);
    const Solid& first = parsed.solids[0];
    EXPECT_EQ(first.name, "first part ");
    EXPECT_TRUE(first.hasNormals);
    ASSERT_EQ(first.facets.size(), 3u);
    EXPECT_EQ(first.facets[0], facetCorners(1));
    // Without outer loop the corners repeat the previous facet's.
    std::array<float, 12> repeated = facetCorners(1);
    repeated[2] = 0;
    EXPECT_EQ(first.facets[1], repeated);
    EXPECT_EQ(bitsOf(first.facets[1][1]), 0x80000000u);
    EXPECT_EQ(first.facets[2], facetCorners(2));
    const Solid& second = parsed.solids[1];
    EXPECT_EQ(second.name, "second");
    EXPECT_TRUE(second.hasNormals);  // NaN is not zero
    ASSERT_EQ(second.facets.size(), 2u);
    EXPECT_EQ(std::vector<float>(second.facets[1].begin() + 3, second.facets[1].end()),
              (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(AsciiParser, NormalsFlag) {
    struct Case {
        std::string normals;
        bool expected;
    } cases[] = {{"0 0 0", false}, {"-0 0e5 -0.0", false}, {"0 0 1e-50", false}, {"0 1e-45 0", true},
                 {"nan 0 0", true}, {"0 -Infinity 0", true}, {"-1.#IND 0 0", true}};
    for (const Case& c : cases) {
        Parsed parsed = parse("solid\nfacet normal " + c.normals + "\nendfacet\nendsolid\n", nullptr);
        ASSERT_TRUE(parsed.ok) << c.normals;
        EXPECT_EQ(parsed.solids[0].hasNormals, c.expected) << c.normals;
    }
    // A facet that the end of the text cuts off adds neither a triangle nor its normal.
    Parsed cut = parse("solid\nfacet normal 0 0 1\nouter loop\nvertex 1 2", nullptr);
    ASSERT_TRUE(cut.ok);
    EXPECT_TRUE(cut.solids[0].facets.empty());
    EXPECT_FALSE(cut.solids[0].hasNormals);
}

struct NumberCase {
    std::string text;
    int result;
    std::string rest;  // what the number leaves unread
    uint32_t bits;
};

float value(const char* text) {
    return strtof(text, nullptr);
}

std::vector<NumberCase> numberCases() {
    const std::string hundredZeros(100, '0');
    return {
        {"1,5", kNumberRead, "", bitsOf(1.5f)},
        {".5", kNumberRead, "", bitsOf(0.5f)},
        {",5", kNumberRead, "", bitsOf(0.5f)},
        {"5.", kNumberRead, "", bitsOf(5.0f)},
        {"-.5", kNumberRead, "", bitsOf(-0.5f)},
        {"007", kNumberRead, "", bitsOf(7.0f)},
        {"0", kNumberRead, "", 0},
        {"-0", kNumberRead, "", 0x80000000},
        {"1e3", kNumberRead, "", bitsOf(1000.0f)},
        {"2.5e-3", kNumberRead, "", bitsOf(0.0025f)},
        {"1.500000e+002", kNumberRead, "", bitsOf(150.0f)},
        {"-4.336808e-016", kNumberRead, "", bitsOf(-4.336808e-16f)},
        {"1e0000000000000000000000001", kNumberRead, "", bitsOf(10.0f)},
        {"0.1", kNumberRead, "", bitsOf(0.1f)},
        {"-1.#IND", kNumberRead, "", kNan},
        {"-1.#IND00 5", kNumberRead, " 5", kNan},
        {"nan", kNumberRead, "", kNan},
        {"-nan", kNumberRead, "", kNan},
        {"+NaN", kNumberRead, "", kNan},
        {"Infinity", kNumberRead, "", kInfinity},
        {"-Infinity", kNumberRead, "", 0x80000000 | kInfinity},
        {"1e39", kNumberRead, "", kInfinity},
        {"3.4028235e38", kNumberRead, "", 0x7F7FFFFF},
        {"3.4028236e38", kNumberRead, "", kInfinity},
        {"0e400", kNumberRead, "", kNan},
        {"0e309", kNumberRead, "", kNan},
        {"0e308", kNumberRead, "", 0},
        {"1e-400", kNumberRead, "", 0},
        {"1.17549435e-38", kNumberRead, "", 0x00800000},
        {"1.4e-45", kNumberRead, "", 1},
        {"7.1e-46", kNumberRead, "", 1},
        {"7e-46", kNumberRead, "", 0},
        {"-7.1e-46", kNumberRead, "", 0x80000001},
        {"16777217", kNumberRead, "", bitsOf(16777216.0f)},
        {"1e61700", kNumberRead, "", kInfinity},
        {"123456789012345678901234567890", kNumberRead, "", bitsOf(value("123456789012345678901234567890"))},
        {"1" + hundredZeros + "e-100", kNumberRead, "", bitsOf(1.0f)},
        {"0." + hundredZeros + "15e101", kNumberRead, "", bitsOf(1.5f)},
        {"1" + hundredZeros + hundredZeros + hundredZeros + hundredZeros, kNumberRead, "", kInfinity},
        {"1.5x", kNumberRead, "x", bitsOf(1.5f)},
        {"12vertex", kNumberRead, "vertex", bitsOf(12.0f)},
        {"1.2.3", kNumberRead, ".3", bitsOf(1.2f)},
        {"NaNx", kNumberRead, "x", kNan},
        {"x", kNumberFailed, "x", 0},
        {"e5", kNumberFailed, "e5", 0},
        {". ", kNumberFailed, " ", 0},
        {"+x", kNumberFailed, "x", 0},
        {"-.e", kNumberFailed, "e", 0},
        {"NAN", kNumberFailed, "NAN", 0},
        {"inf", kNumberFailed, "inf", 0},
        {"Infinit", kNumberFailed, "Infinit", 0},
        {"+1.#IND", kNumberRead, "#IND", bitsOf(1.0f)},
        {"1ex", kNumberFailed, "x", 0},
        {"1e+ ", kNumberFailed, " ", 0},
        {"", kNumberAtEnd, "", 0},
        {"+", kNumberAtEnd, "", 0},
        {".", kNumberAtEnd, "", 0},
        {"-,", kNumberAtEnd, "", 0},
        {"1e", kNumberAtEnd, "", 0},
        {"1.5E+", kNumberAtEnd, "", 0},
        {"1.", kNumberRead, "", bitsOf(1.0f)},
    };
}

TEST(AsciiNumbers, Forms) {
    for (const NumberCase& c : numberCases()) {
        ExactBytes bytes(c.text);
        RecordingSink recorder;
        const uint8_t* cursor = bytes.data();
        float number = 42.0f;
        EXPECT_EQ(readNumber(&number, &cursor, bytes.end(), &recorder.sink), c.result) << c.text;
        std::string rest(reinterpret_cast<const char*>(cursor), reinterpret_cast<const char*>(bytes.end()));
        EXPECT_EQ(rest, c.rest) << c.text;
        if (c.result == kNumberRead) {
            EXPECT_EQ(bitsOf(number), c.bits) << c.text;
            EXPECT_TRUE(recorder.reports().empty()) << c.text;
        } else {
            EXPECT_EQ(bitsOf(number), bitsOf(42.0f)) << c.text;  // untouched
            std::vector<Report> expected;
            if (c.result == kNumberAtEnd) expected.push_back({kWarnUnexpectedEnd, 0});
            EXPECT_EQ(recorder.reports(), expected) << c.text;
        }
    }
}

void expectSameAsStrtof(const std::string& text) {
    ExactBytes bytes(text);
    const uint8_t* cursor = bytes.data();
    float number;
    ASSERT_EQ(readNumber(&number, &cursor, bytes.end(), nullptr), kNumberRead) << text;
    ASSERT_EQ(cursor, bytes.end()) << text;
    ASSERT_EQ(bitsOf(number), bitsOf(strtof(text.c_str(), nullptr))) << text;
}

// Up to 17 significant digits every number is the float nearest to it.
TEST(AsciiNumbers, CorrectlyRounded) {
    std::mt19937_64 random(20240607);
    for (int i = 0; i < 60000; ++i) {
        int digits = 1 + static_cast<int>(random() % 17);
        std::string text = random() % 2 ? "-" : "";
        std::string mantissa;
        for (int d = 0; d < digits; ++d) mantissa += static_cast<char>('0' + random() % 10);
        mantissa.insert(random() % (digits + 1), ".");
        if (mantissa == ".") mantissa = "0.";
        text += mantissa + "e" + std::to_string(static_cast<int>(random() % 115) - 70);
        expectSameAsStrtof(text);
    }
    // Decimals at and right beside the halfway points between neighbouring floats.
    char text[64];
    for (int i = 0; i < 15000; ++i) {
        uint32_t bits = static_cast<uint32_t>(random() % 0x7F7FFFFF);
        float low;
        memcpy(&low, &bits, sizeof low);
        double halfway = (static_cast<double>(low) + static_cast<double>(nextafterf(low, INFINITY))) / 2;
        for (int precision : {8, 9, 15, 16}) {
            snprintf(text, sizeof text, "%.*e", precision, halfway);
            expectSameAsStrtof(text);
        }
    }
}

// Facets tighter than the reservation (86 bytes each) make the buffer grow.
TEST(AsciiParser, TightFacetsGrowTheBuffer) {
    std::string loopless = "solid\n";
    std::string packed = "solid\n";
    for (int i = 0; i < 3000; ++i) {
        loopless += "facet normal 0 0 1 endfacet\n";
        std::string n = std::to_string(i % 10);
        packed += "facet normal 0-0-1outer loop vertex " + n + "-0-0vertex 0-" + n + "-0vertex 0-0-" + n +
                  " endloop endfacet ";
    }
    Parsed first = parse(loopless + "endsolid", nullptr);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.triangleCounts(), std::vector<size_t>{3000});
    Parsed second = parse(packed, nullptr);
    ASSERT_TRUE(second.ok);
    ASSERT_EQ(second.triangleCounts(), std::vector<size_t>{3000});
    EXPECT_EQ(second.solids[0].facets.back(), (std::array<float, 12>{0, 0, -1, 9, 0, 0, 0, -9, 0, 0, 0, -9}));
}

// Facets with room after them go through a quicker reader, which gives up
// on anything unusual; the general reader then reads them again. Either way
// the facet must come out the same: read near the end of the text (general
// reader) and far from it (quicker reader first), with the same reports at
// the same distance from the facet.
TEST(AsciiParser, QuickReaderAgreesWithTheGeneralOne) {
    // Zero corners: a facet without outer loop keeps the corners of the one before.
    const std::string flat = "facet normal 0 0 0\nouter loop\nvertex 0 0 0\nvertex 0 0 0\nvertex 0 0 0\nendloop\nendfacet\n";
    const char* facets[] = {
        " facet normal 0.999693 0.00809518 -0.023404\r\n  outer loop\r\n   vertex 84.25 -17.3 104.25\r\n"
        "   vertex 84.239 -15.9357 104.25\r\n   vertex 84.2142 -15.9362 105.309\r\n  endloop\r\n endfacet\r\n",
        "facet normal 1-2+3 outer loop vertex .5,5-.5 vertex 1.e1-1e-1 5. vertex 0 0 0 endloop endfacet\n",
        "facet normal 0 0 1 outer loop vertex 1 2 3vertex 4 5 6vertex 7 8 9 endloop endfacet\n",
        "facet normal 0.00012345678901234 1234567.1234567 12345678\nouter loop\nvertex 0.000000012345678 "
        "1.23456789012345678 -0.1234567890123456\nvertex 1e5 -2.5E-003 3e+38\nvertex 1e1000 0e400 1e-400\n"
        "endloop\nendfacet\n",
        "facet normal -1.#IND00 nan NaN\nouter loop\nvertex -Infinity +.5 -0\nvertex 5. ,5 1,25\n"
        "vertex 0.5e-3 1E7 00000000012\nendloop\nendfacet\n",
        "facet normal\t0\t\t0 \t1\v\fouter loop\r\r\rvertex                    1 2 3\n"
        "vertex 1 2                      3\nvertex 1 2 3                     \n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n"
        "endloop endfacet\n",
        "facet normal 0 0 1\nendfacet\n",
        "facet normal 0 -0 0 outer loop vertex 1 2 3 vertex 4 5 6 vertex 7 8 9 endloop endfacet\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2\n3\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacet\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3e\nendloop\nendfacet\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3endloop\nendfacet\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3\nendloop\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacetx\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 3\nvertexx 1 2 3\nvertex 1 2 3\nendloop\nendfacet\n",
        "facet normal 0 0 1\nouter  loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacet\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3 4\nendloop\nendfacet\n",
        "facet normal 0 0 1\nouter loop\nvertex 1 2 -1.#INF\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacet\n",
        "facet  normal 0 0 1\nouter loop\nvertex 1 2 3\nvertex 1 2 3\nvertex 1 2 3\nendloop\nendfacet\n",
    };
    for (const char* facetText : facets) {
        SCOPED_TRACE(facetText);
        const std::string head = "solid a\n";
        const std::string tail = "endsolid a\n";
        RecordingSink quick;
        RecordingSink general;
        Parsed first = parse(head + facetText + flat + flat + tail, &quick);
        Parsed last = parse(head + flat + flat + facetText + tail, &general);
        ASSERT_EQ(first.ok, last.ok);
        std::vector<Report> quickReports = quick.reports();
        for (Report& report : quickReports)
            if (report.second) report.second += 2 * flat.size();
        EXPECT_EQ(quickReports, general.reports());
        if (!first.ok) continue;
        ASSERT_EQ(first.triangleCounts(), last.triangleCounts());
        EXPECT_EQ(first.solids[0].hasNormals, last.solids[0].hasNormals);
        const auto& a = first.solids[0].facets.front();
        const auto& b = last.solids[0].facets.back();
        for (int i = 0; i < 12; ++i) EXPECT_EQ(bitsOf(a[i]), bitsOf(b[i])) << i;
    }
}

// Progress comes after complete facets, one thousandth more each time and
// never past 1000, ending close to 1000 however many solids the text has.
TEST(AsciiParser, Progress) {
    for (int solids : {1, 4}) {
        for (int facets : {3, 300, 5000}) {
            std::string text;
            for (int s = 0; s < solids; ++s) {
                text += "solid part\n";
                for (int i = 0; i < facets; ++i) text += facet(i);
                text += "endsolid part\n";
            }
            RecordingSink recorder;
            ASSERT_TRUE(parse(text, &recorder).ok);
            std::vector<uint64_t> progress = recorder.progress();
            SCOPED_TRACE(testing::Message() << solids << " x " << facets);
            ASSERT_FALSE(progress.empty());
            EXPECT_LE(progress.size(), size_t(solids * facets));
            // One step at a time within a solid; never back across solids.
            for (size_t i = 1; i < progress.size(); ++i)
                EXPECT_TRUE(solids > 1 ? progress[i] >= progress[i - 1] : progress[i] == progress[i - 1] + 1) << i;
            EXPECT_LE(progress.back(), 1000u);
            if (solids * facets >= 1000) EXPECT_GE(progress.back(), 990u);
        }
    }
}

// Every heap request in turn fails: the parse either completes or reports
// out of memory once and keeps nothing. Only the final shrink may fail quietly.
TEST(AsciiParser, OutOfMemory) {
    std::string text = "solid a\n" + F + F + "endsolid a\nsolid b\n";
    for (int i = 0; i < 300; ++i) text += "facet normal 0 0 1 endfacet\n";  // grows the buffer
    text += "endsolid b\nsolid c\nendsolid c\n";
    const Parsed full = parse(text, nullptr);
    ASSERT_TRUE(full.ok);
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

// Many solids in one file: the solids array grows by doubling, not by one
// record per solid, which copied it over and over (minutes for 100000 solids).
TEST(AsciiParser, ManySolidsGrowTheArrayGeometrically) {
    constexpr int kSolids = 3000;
    std::string text;
    for (int i = 0; i < kSolids; ++i) text += "solid\nendsolid\n";
    ASSERT_EQ(parse(text, nullptr).solids.size(), size_t{kSolids});
    // The fewest heap requests that let the parse through.
    int64_t low = 0;
    int64_t high = 10 * kSolids;
    while (low < high) {
        int64_t middle = (low + high) / 2;
        failHeapRequestsAfter(middle);
        bool ok = parse(text, nullptr).ok;
        failHeapRequestsAfter(-1);
        if (ok)
            high = middle;
        else
            low = middle + 1;
    }
    // Each solid reserves its triangles and gives back what it did not use.
    EXPECT_LE(low, 2 * kSolids + 16);
}

TEST(AsciiParser, RealFiles) {
    std::vector<CorpusEntry> entries = readCorpusManifest();
    if (entries.empty()) GTEST_SKIP() << "no corpus at " << STLV_CORPUS_DIR;
    int parsedFiles = 0;
    for (const CorpusEntry& entry : entries) {
        std::string bytes = readCorpusFile(entry.file);
        ExactBytes exact(bytes);
        if (entry.format != "ascii" || detectFormat(exact.data(), exact.size()) != kFormatAscii) continue;
        RecordingSink recorder;
        Parsed parsed = parse(bytes, &recorder);
        size_t triangles = 0;
        for (size_t count : parsed.triangleCounts()) triangles += count;
        if (entry.notes.find("UPPERCASE") != std::string::npos) {
            // Keywords are lower case: the first upper-case one stops the parse.
            EXPECT_FALSE(parsed.ok) << entry.file;
            ASSERT_FALSE(recorder.reports().empty()) << entry.file;
            Report error = recorder.reports().back();
            EXPECT_TRUE(error.first >= kErrExpectedSolid && error.first <= kErrExpectedEndfacet) << entry.file;
            EXPECT_TRUE(isupper(static_cast<unsigned char>(bytes[error.second]))) << entry.file << " " << error.second;
            continue;
        }
        ++parsedFiles;
        ASSERT_TRUE(parsed.ok) << entry.file;
        EXPECT_EQ(triangles, entry.triangles) << entry.file;
        for (const Report& report : recorder.reports())
            EXPECT_LT(report.first, kErrorClass) << entry.file << " " << report.first;
        size_t blocks = entry.notes.find(" solid block");
        if (blocks != std::string::npos) {
            size_t digits = entry.notes.rfind(' ', blocks - 1) + 1;
            EXPECT_EQ(parsed.solids.size(), std::stoul(entry.notes.substr(digits, blocks - digits))) << entry.file;
        }
        for (const Solid& solid : parsed.solids)
            for (const auto& corners : solid.facets)
                for (float c : corners) EXPECT_TRUE(std::isfinite(c)) << entry.file;
    }
    EXPECT_GE(parsedFiles, 10);
}

}  // namespace
