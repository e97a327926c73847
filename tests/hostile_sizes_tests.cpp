// Sizes past 32 bits without writing that much: a sparse file reads as zeros
// where nothing was written, and a triangle of zeros is a valid (if
// degenerate) triangle. And binary triangles are copied out of the file a
// block at a time.
#include <gtest/gtest.h>

#include <string>

#include "stl/format_detection.h"
#include "load/load_job.h"
#include "tests/test_files.h"
#include "view/gpu_mesh.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A job over one file, run on this thread.
struct OneFileJob {
    LoadJob* job = static_cast<LoadJob*>(allocBytes(sizeof(LoadJob)));

    explicit OneFileJob(const std::string& path) {
        FileNameList* list = static_cast<FileNameList*>(allocBytes(sizeof(FileNameList)));
        EXPECT_TRUE(makeFileNameList(utf16Path(path).data(), list));
        initLoadJob(job, list, nullptr, nullptr);
        freeBytes(list);
        runLoadJob(job);
    }
    ~OneFileJob() { destroyLoadJob(job); }
    OneFileJob(const OneFileJob&) = delete;
    OneFileJob& operator=(const OneFileJob&) = delete;

    uint64_t parts() const { return job->parts.used / sizeof(ModelPart); }
    const ModelPart& part() const { return *static_cast<const ModelPart*>(job->parts.data); }
};

#ifndef _WIN32

TEST(HostileSizes, SparseFileOverFourGiBLoadsWithItsTriangleCount) {
    // 50 x 85,899,346 + 84 = 2^32 + 88 bytes: every size, offset and count on
    // the way must be 64-bit. Only the first block of the file is written.
    const uint32_t triangles = 85899346;
    const uint64_t size = 84 + 50 * uint64_t{triangles};
    TempFolder folder;
    std::string path = folder.directory() + "over_4_gib.stl";
    int file = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    std::string start = binaryHeader(triangles);
    ASSERT_EQ(write(file, start.data(), start.size()), static_cast<ssize_t>(start.size()));
    bool sized = ftruncate(file, static_cast<off_t>(size)) == 0;
    struct stat status;
    fstat(file, &status);
    close(file);
    // A file system without holes would really write 4 GiB; not here.
    if (!sized || uint64_t(status.st_blocks) * 512 > (uint64_t{64} << 20))
        GTEST_SKIP() << "no sparse files in " << folder.directory();

    OneFileJob load(path);
    ASSERT_EQ(load.parts(), 1u);
    const ModelPart& part = load.part();
    EXPECT_EQ(+part.fileSize, size);
    ASSERT_EQ(+part.mesh.solidCount, 1u);
    EXPECT_EQ(+part.mesh.solids[0].triangleCount, triangles);
    const GpuMesh* gpu = static_cast<const GpuMesh*>(part.gpuMesh);
    EXPECT_EQ(+gpu->triangleCount, triangles);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(+gpu->boundsMin[axis], -0.000001f);  // every vertex is the origin
        EXPECT_EQ(+gpu->boundsMax[axis], 0.000001f);
    }
}

#endif  // !_WIN32

TEST(HostileSizes, ABinaryFileIsCopiedABlockAtATime) {
    // The heap requests of a load do not depend on the number of triangles;
    // each record keeps the file's corners and attribute, not its normal.
    TempFolder folder;
    uint64_t requests[2];
    const uint32_t counts[2] = {1, 40000};
    for (int i = 0; i < 2; ++i) {
        std::string bytes = binaryStl(std::vector<TestTriangle>(counts[i], unitTriangle(3, 0x7C00)), "never copied");
        appendUint32(&bytes, 2);  // and a second block
        appendTriangle(&bytes, unitTriangle(5));
        appendTriangle(&bytes, unitTriangle(6));
        std::string name = folder.write("copy" + std::to_string(i) + ".stl", bytes);
        uint64_t before = heapRequestCount();
        OneFileJob load(folder.directory() + name);
        requests[i] = heapRequestCount() - before;
        ASSERT_EQ(load.parts(), 1u);
        const ModelPart& part = load.part();
        ASSERT_EQ(+part.mesh.solidCount, 2u);
        const StlSolid& second = part.mesh.solids[1];
        ASSERT_EQ(+second.triangleCount, 2u);
        EXPECT_EQ(memcmp(&second.triangles[1], bytes.data() + bytes.size() - 38, 38), 0);
    }
    EXPECT_EQ(requests[0], requests[1]);
}

}  // namespace
