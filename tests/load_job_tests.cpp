#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <utility>

#include "core/read_faults.h"
#include "core/spin_lock.h"
#include "load/load_job.h"
#include "tests/sink_recorder.h"
#include "tests/test_files.h"
#include "view/gpu_mesh.h"

namespace {

const std::string kAsciiFacet =
    "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex 2 0 0\n  vertex 0 3 4\n endloop\nendfacet\n";
const std::u16string kUnknownBoth =
    u"STL warning: unknown coordinate space; assuming Z up\r\n"
    u"STL warning: unknown unit; assuming millimeters\r\n";

// A job over a folder's files, run on this thread.
class LoadJobTest : public ::testing::Test {
protected:
    void TearDown() override { if (job_) destroyLoadJob(job_); }

    void makeJob(const std::vector<std::string>& names) {
        std::unique_ptr<FileNameList> list = folderList(folder_.directory(), names);
        ASSERT_NE(list, nullptr);
        job_ = static_cast<LoadJob*>(allocBytes(sizeof(LoadJob)));
        initLoadJob(job_, list.get(), nullptr, nullptr);
    }

    void run(const std::vector<std::string>& names, int64_t heapRequests = -1) {
        makeJob(names);
        HeapFailureGuard guard(heapRequests);
        runLoadJob(job_);
    }

    uint64_t parts() const { return job_->parts.used / sizeof(ModelPart); }
    const ModelPart& part(uint64_t i) const { return static_cast<const ModelPart*>(job_->parts.data)[i]; }
    std::u16string messages() const {
        const Utf16* text = static_cast<const Utf16*>(job_->messages.data);
        return job_->messages.used ? std::u16string(text, text + job_->messages.used / sizeof(Utf16) - 1) : u"";
    }

    TempFolder folder_;
    LoadJob* job_ = nullptr;
};

// Each file speaks under its own name; a file that is not STL is skipped,
// and isLoadableStl says so too; every solid of a part is shown.
TEST_F(LoadJobTest, SeveralFilesBecomeParts) {
    std::string twoBlocks = binaryStl({unitTriangle()}, "Veldmark test part") + binaryStl({unitTriangle(5)}).substr(80);
    folder_.write("a.stl", twoBlocks);
    folder_.write("b.txt", "just some text that is not a mesh at all");
    folder_.write("c.stl", "solid cube\n" + kAsciiFacet + "endsolid cube\n");
    folder_.write("d.stl", "solid cube\n" + kAsciiFacet + "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n vertex 0 x 0\n");
    run({"a.stl", "b.txt", "c.stl", "d.stl"});
    EXPECT_EQ(+job_->state, kLoadFinished);
    ASSERT_EQ(parts(), 2u);
    const ModelPart& a = part(0);
    ASSERT_EQ(+a.mesh.solidCount, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.visibleSolids), 2), "\1\1");
    EXPECT_EQ(+static_cast<const GpuMesh*>(a.gpuMesh)->triangleCount, 2u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(part(1).fileName)), u"c.stl");
    EXPECT_EQ(messages(), u"a.stl\r\n" + kUnknownBoth + u"b.txt\r\nSTL error: b.txt: not an STL file\r\nc.stl\r\n" +
                              kUnknownBoth + u"d.stl\r\nSTL error: d.stl, line 12: expected a number; aborting\r\n");
    for (const char* name : {"a.stl", "b.txt", "none.stl", ""})
        EXPECT_EQ(isLoadableStl(utf16Path(folder_.directory() + name).data()), name == std::string("a.stl")) << name;
}

// Nothing holds a loaded file: another program saves over it while its part
// is shown (cut to nothing, then a new model written in pieces), and the
// part reads on as it was loaded, from its own copy. A mapping held instead
// refuses the writer on Windows ("user-mapped section") and faults the
// part's next read elsewhere.
TEST_F(LoadJobTest, ALoadedFileIsNotHeldAndItsPartKeepsItsOwnCopy) {
    const std::string binary = binaryStl({unitTriangle(), unitTriangle(3)}, "kept");
    folder_.write("a.stl", binary);
    folder_.write("b.stl", "solid kept\n" + kAsciiFacet + "endsolid kept\n");
    run({"a.stl", "b.stl"});
    ASSERT_EQ(parts(), 2u);
    for (const char* name : {"a.stl", "b.stl"}) {
        std::ofstream out(std::filesystem::path(folder_.directory() + name), std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out.is_open()) << name;
        out.flush();
        for (int piece = 0; piece < 3; ++piece) out << "solid new\n" << kAsciiFacet;
        out.close();
        EXPECT_FALSE(out.fail()) << name;
    }
    const ModelPart& a = part(0);
    ASSERT_EQ(a.fileSize, binary.size());
    ASSERT_EQ(+a.mesh.solids[0].triangleCount, 2u);
    EXPECT_EQ(memcmp(&a.mesh.solids[0].triangles[1], binary.data() + 84 + 50 + 12, 38), 0);
    const ModelPart& b = part(1);
    EXPECT_EQ(std::string(b.mesh.solids[0].name.bytes, b.mesh.solids[0].name.length), "kept");
    EXPECT_EQ(b.mesh.solids[0].triangles[0].vertices[2][2], 4.0f);
}

// A read that fails mid-load (a USB stick pulled, a share gone) is an error
// of that file's load; the files before it stay loaded.
TEST_F(LoadJobTest, AReadThatFailsIsAnErrorOfThatLoad) {
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    folder_.write("b.stl", binaryStl({unitTriangle()}));
    failFileReadsAfter(1);
    run({"a.stl", "b.stl"});
    failFileReadsAfter(-1);
    EXPECT_EQ(parts(), 1u);
    EXPECT_EQ(job_->state, kLoadFinished);
    std::u16string text = messages();
    size_t second = text.find(u"b.stl\r\n");
    ASSERT_NE(second, std::u16string::npos) << std::string(text.begin(), text.end());
    EXPECT_GT(text.size(), second + 7) << "the system's reason follows the name";
}

// What one file called f.stl gives: loaded or not, and every message line.
TEST_F(LoadJobTest, EveryKindOfFileSaysWhatItIs) {
    Utf16 notFound[1024];
    std::u16string notFoundLine(notFound, notFound + systemErrorText(2, notFound, 1024));  // on both systems
    const std::string vectorworks = "STL file created by Vectorworks 2024 Pi\xE8" "ce";
    const struct {
        const char* what;
        std::optional<std::string> bytes;  // none: no such file, hence first
        bool loads;
        std::u16string messages;
        int64_t heapRequests = -1;
    } cases[] = {
        {"missing file", std::nullopt, false, notFoundLine + u"\r\n"},
        {"empty file", "", false, u"STL error: f.stl: the file is empty\r\n"},
        {"binary file cut short", binaryStl({unitTriangle(), unitTriangle()}).substr(0, 184 - 30), false,
         u"STL error: f.stl: binary STL file cut short, 30 bytes missing; aborting\r\n"},
        // A second block of count 1 with 6 bytes.
        {"second block cut short", binaryStl({unitTriangle()}) + "\1" + std::string(9, '\0'), false,
         u"STL error: unexpected end of file in triangles; aborting\r\n"},
        {"ASCII solid without facets", "solid x\nendsolid x\n", true,
         kUnknownBoth + u"STL warning: the file holds no triangles\r\n"},
        {"NUL-padded Blender header", binaryStl({unitTriangle()}, "Binary STL output from Blender: C:\\m\\part.stl  "),
         true,
         u"STL info: written by Blender\r\nSTL info: written to \"C:\\m\\part.stl\"\r\n"
         u"STL warning: unknown unit; assuming millimeters\r\n"},
        {"Latin-1 exporter name", "solid " + vectorworks + "\n" + kAsciiFacet + "endsolid " + vectorworks + "\n", true,
         u"STL info: written by Vectorworks 2024 Pi\u00E8" u"ce\r\n" + kUnknownBoth},
        // ASCII errors say their line, whatever ends the lines; a lone file goes unnamed.
        {"number missing on line 4", "solid x\n" + kAsciiFacet.substr(0, 44) + "z 4\n", false,
         u"STL error: line 4: expected a number; aborting\r\n"},
        {"CR LF lines", "solid x\r\nfacet normal 0 0 1\r\n\r\n outer loop\r\n  vertex 0 0 0\r\n  vortex", false,
         u"STL error: line 6: expected 'vertex' keyword; aborting\r\n"},
        {"CR lines", "solid x\rfacet normal 0 0 1\r outer loop\r  vertex 0 0 0\r\r\r  vortex", false,
         u"STL error: line 7: expected 'vertex' keyword; aborting\r\n"},
        {"last line without its end", "solid x\n" + kAsciiFacet + "endsolix", false,
         u"STL error: line 9: expected either 'facet' or 'endsolid' keyword; aborting\r\n"},
        // Keywords in capitals are refused, saying why.
        {"SOLID in capitals", "\nSOLID x\n" + kAsciiFacet + "ENDSOLID x\n", false,
         u"STL error: f.stl, line 2: 'SOLID' is in capitals; STL keywords are lower case\r\n"},
        {"a last facet in capitals", "solid x\n" + kAsciiFacet + "FACET NORMAL 0 0 1\n", false,
         u"STL error: line 9: 'FACET' is in capitals; STL keywords are lower case\r\n"},
        {"Endloop capitalised", "solid x\n" + kAsciiFacet.substr(0, kAsciiFacet.find("endloop")) + "Endloop\n", false,
         u"STL error: line 7: 'Endloop' is in capitals; STL keywords are lower case\r\n"},
        // The report itself needs memory and is dropped; the file is skipped all the same.
        {"no memory for the job's parts", binaryStl({unitTriangle()}), false, u"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (job_) destroyLoadJob(std::exchange(job_, nullptr));  // Windows keeps a mapped file from being rewritten
        if (c.bytes) folder_.write("f.stl", *c.bytes);
        run({"f.stl"}, c.heapRequests);
        EXPECT_EQ(+job_->state, c.loads ? kLoadFinished : kLoadNothingLoaded);
        EXPECT_EQ(parts(), c.loads ? 1u : 0u);
        EXPECT_EQ(messages(), c.messages);
    }
}

TEST_F(LoadJobTest, RepeatedMessagesAreCutAfterAHundredOfEachKind) {
    std::string flood;
    // Every "solid" without its "endsolid" is one more warning of the same kind.
    for (int i = 0; i < 5000; ++i) flood += "solid\n";
    folder_.write("f.stl", flood);
    run({"f.stl"});
    EXPECT_LT(messages().size(), 20000u);
    // Other kinds still pass after one has reached its hundred.
    EXPECT_TRUE(messages().ends_with(u"no triangles\r\nSTL warning: 4899 more messages like those above left out\r\n"));
}

// Only what recognition left open, each with its line.
TEST(LoadDefaults, FillWhatRecognitionLeftOpen) {
    const Text space = widenAscii("STL info: unknown coordinate space; defaulting to Z up"),
               unit = widenAscii("STL info: unknown unit; defaulting to millimeters");
    auto expectDefaults = [](StlMetadata metadata, uint32_t space, float unit, const std::vector<Text>& expected) {
        RecordingSink lines;
        applyLoadDefaults(&metadata, &lines.sink);
        EXPECT_EQ(+metadata.coordinateSpace, space);
        EXPECT_EQ(+metadata.unitScale, unit);
        EXPECT_EQ(lines.lines(), expected);
    };
    expectDefaults({0, NAN, 0, {}, {}}, 2, 0.001f, {space, unit});
    expectDefaults({1, -INFINITY, 0, {}, {}}, 1, 0.001f, {unit});
    expectDefaults({2, 0.0254f, 0, {}, {}}, 2, 0.0254f, {});
}

// Clears keepGoing from inside the job, when the second file starts parsing.
intptr_t stopDuringSecondFile(void* job, StatusCode code, uintptr_t argument, const Utf16* trace) {
    FileNameList* list = &static_cast<LoadJob*>(job)->fileList;
    if (code == kProgress && Text(fileNameOf(list->path)) == widenAscii("b.stl"))
        exchange8(&static_cast<LoadJob*>(job)->keepGoing, 0);
    return collectForJob(job, code, argument, trace);
}

TEST_F(LoadJobTest, StopRequestFinishesTheBinaryFileAndOpensNoMore) {
    folder_.write("a.stl", "solid cube\n" + kAsciiFacet + "endsolid cube\n");
    folder_.write("b.stl", binaryStl(std::vector<TestTriangle>(3000, unitTriangle())));
    folder_.write("c.stl", binaryStl({unitTriangle()}));
    makeJob({"a.stl", "b.stl", "c.stl"});
    job_->sink.inner = MessageSink{job_, stopDuringSecondFile};
    runLoadJob(job_);
    EXPECT_EQ(+job_->state, kLoadStopped);
    ASSERT_EQ(parts(), 2u);
    EXPECT_EQ(+part(1).mesh.solids[0].triangleCount, 3000u);
}

// One path ends after the first file; a path that does not fit is refused.
// Without a separator the whole path is the file name.
TEST(FileNameList, OnePath) {
    auto list = std::make_unique<FileNameList>();
    ASSERT_TRUE(makeFileNameList(utf16Path("C:\\models\\part.stl").data(), list.get()));
    EXPECT_EQ(+list->nameStart, 0);
    EXPECT_EQ(+list->nextName, 19);
    EXPECT_EQ(+list->path[19], 0);
    EXPECT_EQ(fileNameOf(list->path), list->path + 10);
    EXPECT_EQ(fileNameOf(list->path + 10), list->path + 10);
    EXPECT_TRUE(makeFileNameList(utf16Path(std::string(32764, 'a')).data(), list.get()));
    EXPECT_FALSE(makeFileNameList(utf16Path(std::string(32765, 'a')).data(), list.get()));
}

}  // namespace
