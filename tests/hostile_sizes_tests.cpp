// Sizes past 32 bits and past what one vertex buffer holds, without writing
// or allocating that much: a sparse file reads as zeros where nothing was
// written, an anonymous private mapping reads as the shared zero page, and a
// triangle of zeros is a valid (if degenerate) triangle.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/sink_recorder.h"
#include "stl/format_detection.h"
#include "load/load_job.h"
#include "tests/test_files.h"
#include "view/gpu_mesh.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

uint64_t binarySize(uint64_t triangles) {
    return 84 + 50 * triangles;
}

std::string headerAndCount(uint32_t triangles) {
    std::string bytes = "sized by the test";
    bytes.resize(80, '\0');
    appendUint32(&bytes, triangles);
    return bytes;
}

// A job over one file, run on this thread.
struct OneFileJob {
    LoadJob* job = nullptr;

    explicit OneFileJob(const std::string& path) {
        FileNameList* list = static_cast<FileNameList*>(allocBytes(sizeof(FileNameList)));
        std::vector<Utf16> wide = utf16Path(path);
        EXPECT_TRUE(makeFileNameList(wide.data(), list));
        job = static_cast<LoadJob*>(allocBytes(sizeof(LoadJob)));
        initLoadJob(job, list, nullptr, nullptr);
        freeBytes(list);
        runLoadJob(job);
    }
    ~OneFileJob() { destroyLoadJob(job); }
    OneFileJob(const OneFileJob&) = delete;
    OneFileJob& operator=(const OneFileJob&) = delete;

    uint64_t parts() const { return job->parts.used / sizeof(ModelPart); }
    const ModelPart& part() const { return *static_cast<const ModelPart*>(job->parts.data); }
    std::u16string messages() const {
        if (!job->messages.used) return u"";
        const Utf16* text = static_cast<const Utf16*>(job->messages.data);
        return std::u16string(text, text + job->messages.used / sizeof(Utf16) - 1);
    }
};

#ifndef _WIN32

TEST(HostileSizes, SparseFileOverFourGiBLoadsWithItsTriangleCount) {
    // 50 x 85,899,346 + 84 = 2^32 + 88 bytes: every size, offset and count on
    // the way must be 64-bit. Only the first block of the file is written.
    const uint32_t triangles = 85899346;
    const uint64_t size = binarySize(triangles);
    ASSERT_GT(size, uint64_t{1} << 32);
    TempFolder folder;
    std::string path = folder.directory() + "over_4_gib.stl";
    int file = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    std::string start = headerAndCount(triangles);
    ASSERT_EQ(write(file, start.data(), start.size()), static_cast<ssize_t>(start.size()));
    bool sized = ftruncate(file, static_cast<off_t>(size)) == 0;
    struct stat status;
    fstat(file, &status);
    close(file);
    // A file system without holes would really write 4 GiB; not here.
    if (!sized || uint64_t(status.st_blocks) * 512 > (uint64_t{64} << 20))
        GTEST_SKIP() << "no sparse files in " << folder.directory();

    OneFileJob load(path);
    ASSERT_EQ(load.parts(), 1u) << std::string(load.messages().begin(), load.messages().end());
    const ModelPart& part = load.part();
    EXPECT_EQ(+part.viewSize, size);
    EXPECT_EQ(+part.format, kFormatBinary);
    ASSERT_EQ(+part.mesh.solidCount, 1u);
    EXPECT_EQ(+part.mesh.solids[0].triangleCount, triangles);
    const uint8_t* records = reinterpret_cast<const uint8_t*>(part.mesh.solids[0].triangles);
    EXPECT_EQ(records, part.view + 84);
    const GpuMesh* gpu = static_cast<const GpuMesh*>(part.gpuMesh);
    EXPECT_EQ(+gpu->vertexCount, 3 * triangles);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(+gpu->boundsMin[axis], -0.000001f);  // every vertex is the origin
        EXPECT_EQ(+gpu->boundsMax[axis], 0.000001f);
    }
}

// An anonymous private mapping of `size` bytes whose pages read as zeros and
// take no memory until written; the header and count are written.
struct ZeroMapping {
    uint8_t* bytes = nullptr;
    uint64_t size;

    ZeroMapping(uint64_t size_, uint32_t triangles) : size(size_) {
        void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (address == MAP_FAILED) return;
        bytes = static_cast<uint8_t*>(address);
        std::string start = headerAndCount(triangles);
        memcpy(bytes, start.data(), start.size());
    }
    ~ZeroMapping() {
        if (bytes) munmap(bytes, size);
    }
    ZeroMapping(const ZeroMapping&) = delete;
    ZeroMapping& operator=(const ZeroMapping&) = delete;
};

// The steps of the load job after mapping, on the given bytes.
struct Loaded {
    Converter messages;
    ModelPart part{};
    HeapHandle heap = createPrivateHeap();
    GpuMesh* gpu = nullptr;

    Loaded(const uint8_t* bytes, uint64_t size) {
        const MessageSink* sink = messages.producerSink();
        uint32_t format = detectFormat(bytes, size);
        EXPECT_EQ(format, kFormatBinary);
        if (!parseModel(&part, format, bytes, bytes + size, heap, sink)) return;
        uint8_t* visible = static_cast<uint8_t*>(allocArray(heap, part.mesh.solidCount, 1, sink));
        memset(visible, 1, part.mesh.solidCount);
        applyLoadDefaults(&part.metadata, sink);
        gpu = uploadMesh(nullptr, &part.mesh, &part.metadata, visible, heap, sink);
    }
    ~Loaded() { destroyPrivateHeap(heap); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    std::vector<Text> lines() const {
        std::vector<Text> result;
        for (const Received& entry : messages.inner.received) result.push_back(entry.line);
        return result;
    }
};

TEST(HostileSizes, OneTriangleMoreThanOneVertexBufferHoldsIsRefusedWholeWithAMessage) {
    const uint32_t triangles = 89478486;
    ZeroMapping mapping(binarySize(triangles), triangles);
    ASSERT_NE(mapping.bytes, nullptr);
    Loaded loaded(mapping.bytes, mapping.size);
    ASSERT_EQ(+loaded.part.mesh.solidCount, 1u);
    EXPECT_EQ(+loaded.part.mesh.solids[0].triangleCount, triangles);
    EXPECT_EQ(loaded.gpu, nullptr);
    std::vector<Text> lines = loaded.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), widenAscii("Direct3D 11 error: the model has more than 89,478,485 triangles, "
                                       "too many for one vertex buffer"));
}

#endif  // !_WIN32

// Loading a model of exactly the limit takes a minute under the sanitizers; the arithmetic is what matters.
static_assert(kMaxMeshTriangles * 3 * sizeof(MeshVertex) <= 0xFFFFFFFFull);
static_assert((kMaxMeshTriangles + 1) * 3 * sizeof(MeshVertex) > 0xFFFFFFFFull);

// --- the load job's memory ---

TEST(HostileSizes, ABinaryFileIsNeverCopied) {
    // The triangles stay in the file mapping: the heap requests of a load do
    // not depend on the number of triangles, and each solid points into the view.
    TempFolder folder;
    uint64_t requests[2];
    const uint32_t counts[2] = {1, 40000};
    for (int i = 0; i < 2; ++i) {
        std::vector<TestTriangle> triangles;
        for (uint32_t t = 0; t < counts[i]; ++t) triangles.push_back(unitTriangle(float(t % 100), 0x7C00));
        std::string bytes = binaryStl(triangles, "never copied");
        appendUint32(&bytes, 2);  // and a second block
        appendTriangle(&bytes, unitTriangle(5));
        appendTriangle(&bytes, unitTriangle(6));
        std::string name = "copy" + std::to_string(i) + ".stl";
        folder.write(name, bytes);
        uint64_t before = heapRequestCount();
        OneFileJob load(folder.directory() + name);
        requests[i] = heapRequestCount() - before;
        ASSERT_EQ(load.parts(), 1u);
        const ModelPart& part = load.part();
        ASSERT_EQ(+part.mesh.solidCount, 2u);
        for (uint32_t s = 0; s < 2; ++s) {
            const uint8_t* first = reinterpret_cast<const uint8_t*>(part.mesh.solids[s].triangles);
            uint64_t length = uint64_t{part.mesh.solids[s].triangleCount} * sizeof(StlTriangle);
            EXPECT_GE(first, part.view);
            EXPECT_LE(first + length, part.view + part.viewSize);
        }
    }
    EXPECT_EQ(requests[0], requests[1]);
}

}  // namespace
