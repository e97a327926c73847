#include <gtest/gtest.h>

#include <cmath>

#include "core/spin_lock.h"
#include "tests/sink_recorder.h"
#include "load/load_job.h"
#include "tests/test_files.h"
#include "view/gpu_mesh.h"

namespace {

// One complete block, then a count of 1 with only 6 bytes behind it.
std::string truncatedSecondBlock() {
    std::string bytes = binaryStl({unitTriangle()});
    appendUint32(&bytes, 1);
    return bytes + std::string(6, '\0');
}

const std::string kAsciiFacet =
    "facet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex 2 0 0\n  vertex 0 3 4\n endloop\nendfacet\n";
const std::string kAsciiCube = "solid cube\n" + kAsciiFacet + "endsolid cube\n";

// A job over a folder's files, run on this thread.
class LoadJobTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (job_) destroyLoadJob(job_);
    }

    // The list: the first name as a full path, then the other names.
    void makeJob(const std::vector<std::string>& names) {
        std::vector<Utf16> units = utf16Path(folder_.directory() + names[0]);
        FileNameList* list = new FileNameList;
        ASSERT_LT(+units.size(), size_t{32000});
        memcpy(list->path, units.data(), units.size() * sizeof(Utf16));
        list->nameStart = static_cast<int32_t>(folder_.directory().size());
        list->nextName = static_cast<int32_t>(units.size());
        size_t next = units.size();
        for (size_t i = 1; i < names.size(); ++i) {
            for (char c : names[i]) list->path[next++] = static_cast<Utf16>(c);
            list->path[next++] = 0;
        }
        list->path[next] = 0;
        job_ = static_cast<LoadJob*>(allocBytes(sizeof(LoadJob)));
        initLoadJob(job_, list, nullptr, nullptr);
        delete list;
    }

    void run(const std::vector<std::string>& names) {
        makeJob(names);
        runLoadJob(job_);
    }

    uint64_t parts() const {
        return job_->parts.used / sizeof(ModelPart);
    }
    const ModelPart& part(uint64_t i) const {
        return static_cast<const ModelPart*>(job_->parts.data)[i];
    }
    std::u16string messages() const {
        if (!job_->messages.used) return u"";
        const Utf16* text = static_cast<const Utf16*>(job_->messages.data);
        return std::u16string(text, text + job_->messages.used / sizeof(Utf16) - 1);
    }

    TempFolder folder_;
    LoadJob* job_ = nullptr;
};

TEST_F(LoadJobTest, SkipsAFileThatIsNotStl) {
    folder_.write("a.stl", binaryStl({unitTriangle()}, "Veldmark test part"));
    folder_.write("b.txt", "just some text that is not a mesh at all");
    folder_.write("c.stl", kAsciiCube);
    run({"a.stl", "b.txt", "c.stl"});
    EXPECT_EQ(+job_->state, kLoadFinished);
    ASSERT_EQ(parts(), 2u);
    EXPECT_EQ(+part(0).format, 5u);
    EXPECT_EQ(+part(1).format, 4u);
    EXPECT_EQ(+part(1).mesh.solidCount, 1u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(part(1).fileName)), u"c.stl");
    // Each file speaks under its own name.
    EXPECT_EQ(messages(),
              u"a.stl\r\n"
              u"STL warning: unknown coordinate space; assuming Z up\r\n"
              u"STL warning: unknown unit; assuming millimeters\r\n"
              u"b.txt\r\n"
              u"STL error: b.txt: not an STL file\r\n"
              u"c.stl\r\n"
              u"STL warning: unknown coordinate space; assuming Z up\r\n"
              u"STL warning: unknown unit; assuming millimeters\r\n");
}

TEST_F(LoadJobTest, NothingLoadedWhenEveryFileFails) {
    folder_.write("empty.stl", "");
    folder_.write("cut.stl", truncatedSecondBlock());
    run({"empty.stl", "missing.stl", "cut.stl"});
    EXPECT_EQ(+job_->state, kLoadNothingLoaded);
    EXPECT_EQ(parts(), 0u);
}

const std::u16string kUnknownBoth =
    u"STL warning: unknown coordinate space; assuming Z up\r\n"
    u"STL warning: unknown unit; assuming millimeters\r\n";

struct FileCase {
    const char* what;
    std::string bytes;
    bool loads;
    std::u16string messages;
};

std::string withoutTail(std::string bytes, size_t count) {
    bytes.resize(bytes.size() - count);
    return bytes;
}

std::string nulPadded(const std::string& text, size_t size) {
    std::string bytes = text;
    bytes.resize(size, '\0');
    return bytes;
}

// What one file called f.stl gives: loaded or not, and every message line.
TEST_F(LoadJobTest, EveryKindOfFileSaysWhatItIs) {
    const std::string vectorworks = "STL file created by Vectorworks 2024 Pi\xE8" "ce";
    const FileCase cases[] = {
        {"empty file", "", false, u"STL error: f.stl: the file is empty\r\n"},
        {"text", "just some text that is not a mesh at all", false, u"STL error: f.stl: not an STL file\r\n"},
        {"picture", "\x89PNG\r\n\x1A\n" + std::string(300, '\x7F'), false, u"STL error: f.stl: not an STL file\r\n"},
        {"binary file cut short", withoutTail(binaryStl({unitTriangle(), unitTriangle()}), 30), false,
         u"STL error: f.stl: binary STL file cut short, 30 bytes missing; aborting\r\n"},
        {"second block cut short", truncatedSecondBlock(), false,
         u"STL error: unexpected end of file in triangles; aborting\r\n"},
        {"binary file with one stray byte", binaryStl({unitTriangle()}, "Veldmark test part") + "\n", true,
         u"STL warning: 1 stray byte after the last triangle block; ignored\r\n" + kUnknownBoth},
        {"binary count 0", binaryStl({}, "Veldmark test part"), true,
         kUnknownBoth + u"STL warning: the file holds no triangles\r\n"},
        {"ASCII solid without facets", "solid x\nendsolid x\n", true,
         kUnknownBoth + u"STL warning: the file holds no triangles\r\n"},
        {"NUL-padded Blender header",
         binaryStl({unitTriangle()}, nulPadded("Binary STL output from Blender: C:\\m\\part.stl  ", 80)), true,
         u"STL info: written by Blender\r\nSTL info: written to \"C:\\m\\part.stl\"\r\n"
         u"STL warning: unknown unit; assuming millimeters\r\n"},
        {"Latin-1 exporter name", "solid " + vectorworks + "\n" + kAsciiFacet + "endsolid " + vectorworks + "\n", true,
         u"STL info: written by Vectorworks 2024 Pi\u00E8" u"ce\r\n" + kUnknownBoth},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (job_) destroyLoadJob(job_);
        folder_.write("f.stl", c.bytes);
        run({"f.stl"});
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
    std::u16string text = messages();
    EXPECT_LT(text.size(), 20000u);
    const std::u16string closing = u"more messages like those above left out\r\n";
    ASSERT_GT(text.size(), closing.size());
    EXPECT_EQ(text.substr(text.size() - closing.size()), closing);
}

TEST_F(LoadJobTest, MissingFileGivesTheSystemText) {
    run({"missing.stl"});
    Utf16 text[1024];
    uint32_t length = systemErrorText(2, text, 1024);  // file not found, on both systems
    ASSERT_GT(length, 0u);
    EXPECT_EQ(messages(), std::u16string(text, text + length) + u"\r\n");
}

TEST_F(LoadJobTest, RecognisesTheFileAndShowsEverySolid) {
    std::string twoBlocks = binaryStl({unitTriangle()}, "Veldmark test part");
    appendUint32(&twoBlocks, 1);
    appendTriangle(&twoBlocks, unitTriangle(5));
    folder_.write("two.stl", twoBlocks);
    run({"two.stl"});
    ASSERT_EQ(parts(), 1u);
    const ModelPart& p = part(0);
    EXPECT_EQ(+p.metadata.coordinateSpace, 2u);
    EXPECT_EQ(+p.metadata.unitScale, 0.001f);
    ASSERT_EQ(+p.mesh.solidCount, 2u);
    EXPECT_EQ(+p.visibleSolids[0], 1);
    EXPECT_EQ(+p.visibleSolids[1], 1);
    EXPECT_EQ(+p.viewSize, twoBlocks.size());
    const GpuMesh* gpu = static_cast<const GpuMesh*>(p.gpuMesh);
    ASSERT_NE(gpu, nullptr);
    EXPECT_EQ(+gpu->vertexCount, 6u);
    EXPECT_FLOAT_EQ(+gpu->boundsMax[0], 0.006f);
    EXPECT_EQ(messages(),
              u"STL warning: unknown coordinate space; assuming Z up\r\n"
              u"STL warning: unknown unit; assuming millimeters\r\n");
}

TEST(LoadDefaults, FillWhatRecognitionLeftOpen) {
    RecordingSink lines;
    StlMetadata metadata{0, NAN, 0, {0, 0, 0, 0}, {nullptr, 0, 0}};
    applyLoadDefaults(&metadata, &lines.sink);
    EXPECT_EQ(+metadata.coordinateSpace, 2u);
    EXPECT_EQ(+metadata.unitScale, 0.001f);
    EXPECT_EQ(lines.lines(), (std::vector<Text>{widenAscii("STL info: unknown coordinate space; defaulting to Z up"),
                                                widenAscii("STL info: unknown unit; defaulting to millimeters")}));

    lines.received.clear();
    metadata = StlMetadata{1, -INFINITY, 0, {0, 0, 0, 0}, {nullptr, 0, 0}};
    applyLoadDefaults(&metadata, &lines.sink);
    EXPECT_EQ(+metadata.coordinateSpace, 1u);
    EXPECT_EQ(+metadata.unitScale, 0.001f);
    EXPECT_EQ(lines.lines().size(), 1u);

    lines.received.clear();
    metadata = StlMetadata{2, 0.0254f, 0, {0, 0, 0, 0}, {nullptr, 0, 0}};
    applyLoadDefaults(&metadata, &lines.sink);
    EXPECT_EQ(+metadata.unitScale, 0.0254f);
    EXPECT_TRUE(lines.received.empty());
}

// Clears keepGoing from inside the job, when the second file starts parsing.
struct StopDuringSecondFile {
    LoadJob* job;
    std::u16string secondName;
    static intptr_t collect(void* self, StatusCode code, uintptr_t argument, const Utf16* trace) {
        auto* stopper = static_cast<StopDuringSecondFile*>(self);
        const Utf16* name = stopper->job->fileList.path + stopper->job->fileList.nameStart;
        std::u16string current(name, name + std::char_traits<Utf16>::length(name));
        if (code == kProgress && current == stopper->secondName) exchange8(&stopper->job->keepGoing, 0);
        return collectForJob(stopper->job, code, argument, trace);
    }
};

TEST_F(LoadJobTest, StopRequestFinishesTheBinaryFileAndOpensNoMore) {
    std::vector<TestTriangle> many(3000, unitTriangle());
    folder_.write("a.stl", kAsciiCube);
    folder_.write("b.stl", binaryStl(many));
    folder_.write("c.stl", binaryStl({unitTriangle()}));
    makeJob({"a.stl", "b.stl", "c.stl"});
    StopDuringSecondFile stopper{job_, u"b.stl"};
    job_->sink.inner = MessageSink{&stopper, StopDuringSecondFile::collect};
    runLoadJob(job_);
    EXPECT_EQ(+job_->state, kLoadStopped);
    ASSERT_EQ(parts(), 2u);
    EXPECT_EQ(+part(1).mesh.solids[0].triangleCount, 3000u);
}

TEST_F(LoadJobTest, OutOfMemoryForTheJobsPartsSkipsTheFile) {
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    makeJob({"a.stl"});
    failHeapRequestsAfter(0);
    runLoadJob(job_);
    failHeapRequestsAfter(-1);
    // The report itself needs memory and is dropped; the file is skipped all the same.
    EXPECT_EQ(+job_->state, kLoadNothingLoaded);
    EXPECT_EQ(parts(), 0u);
}

// One path ends after the first file; a path that does not fit is refused.
TEST(FileNameList, OnePath) {
    auto list = std::make_unique<FileNameList>();
    std::vector<Utf16> path = utf16Path("C:\\models\\part.stl");
    ASSERT_TRUE(makeFileNameList(path.data(), list.get()));
    EXPECT_EQ(+list->nameStart, 0);
    EXPECT_EQ(+list->nextName, 19);
    EXPECT_EQ(+list->path[18], 0);
    EXPECT_EQ(+list->path[19], 0);
    std::vector<Utf16> longest(32764, 'a'), tooLong(32765, 'a');
    longest.push_back(0);
    tooLong.push_back(0);
    EXPECT_TRUE(makeFileNameList(longest.data(), list.get()));
    EXPECT_FALSE(makeFileNameList(tooLong.data(), list.get()));
}

TEST(IsLoadableStl, AnswersFromTheFileBytes) {
    TempFolder folder;
    folder.write("a.stl", binaryStl({unitTriangle()}));
    folder.write("b.stl", "plain text, no mesh here");
    EXPECT_TRUE(isLoadableStl(utf16Path(folder.directory() + "a.stl").data()));
    EXPECT_FALSE(isLoadableStl(utf16Path(folder.directory() + "b.stl").data()));
    EXPECT_FALSE(isLoadableStl(utf16Path(folder.directory() + "none.stl").data()));
    EXPECT_FALSE(isLoadableStl(utf16Path(folder.directory()).data()));
}

}  // namespace
