// A model beyond what one vertex buffer can hold, as Windows takes it: a
// sparse binary file of 90,000,000 triangles (all zeros, so degenerate,
// and written in a moment) uploads a piece at a time, the memory it takes
// beyond the GPU copy bounded by a piece, and the command-line picture of
// it is written. Before pieces such a model was refused.
#include "tests/render_test_support.h"

#include <winioctl.h>

#include <cstdio>

#include "load/load_job.h"

namespace {

using namespace render_test;

constexpr uint32_t kTriangles = 90000000;

// Only the header is written; the rest reads as zeros without taking room.
std::string writeSparseModel(const TempFolder& folder) {
    std::string path = folder.directory() + "ninety_million.stl";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    std::string header = binaryHeader(kTriangles);
    DWORD written = 0;
    WriteFile(file, header.data(), DWORD(header.size()), &written, nullptr);
    DWORD returned = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 84 + 50 * int64_t{kTriangles};
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
    return path;
}

TEST(HugeModel, NinetyMillionTrianglesUploadAPieceAtATime) {
    ASSERT_NE(sharedPipeline(), nullptr);
    ID3D11Device* device = sharedPipeline()->device;
    TempFolder folder;
    std::string path = writeSparseModel(folder);
    const uint8_t* view = nullptr;
    uint64_t size = 0;
    ASSERT_TRUE(mapModelFile(utf16Path(path).data(), nullptr, &view, &size));
    HeapHandle heap = createPrivateHeap();
    ModelPart part{};
    RecordingSink sink;
    ASSERT_TRUE(buildModelPart(&part, 0, view, size, heap, nullptr, &sink.sink));  // prepared: no view
    GpuMesh* gpu = static_cast<GpuMesh*>(part.gpuMesh);
    ASSERT_EQ(copyOf(gpu->triangleCount), uint64_t{kTriangles});
    uint32_t each = pieceTrianglesOf(device);
    resetHeapBytesPeak();
    uint64_t before = heapBytesInUse();
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(buildGpuMesh(gpu, device, &part.mesh, 0, heap, &sink.sink));
    uint64_t extra = heapBytesPeak() - before;
    uint32_t pieces = copyOf(gpu->pieceCount);
    EXPECT_EQ(pieces, (kTriangles + each - 1) / each);
    // One piece's vertices and the pieces' records; nothing grows with the model.
    uint64_t pieceBytes = uint64_t{each} * 48;
    EXPECT_LE(extra, pieceBytes + pieces * sizeof(MeshPiece) + 4096);
    printf("90,000,000 triangles: %u pieces of %u triangles (%llu MB), upload %llu ms, extra heap peak %llu KB\n",
           pieces, each, static_cast<unsigned long long>(pieceBytes >> 20),
           static_cast<unsigned long long>(GetTickCount64() - start), static_cast<unsigned long long>(extra >> 10));
    releaseGpuMesh(gpu);
    destroyPrivateHeap(heap);
    unmapFile(view, size);
    for (const Received& report : sink.received) EXPECT_LT(report.code, kErrorClass);
}

TEST(HugeModel, TheCommandLinePictureOfNinetyMillionTrianglesIsWritten) {
    TempFolder folder;
    std::string path = writeSparseModel(folder), png = folder.directory() + "ninety_million.png";
    std::wstring command = L"\"" STLV_VIEWER_EXE L"\" --picture \"" + std::wstring(png.begin(), png.end()) +
                           L"\" --size 320x240 \"" + std::wstring(path.begin(), path.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, INFINITE);  // the test's time limit bounds it
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u);
    WIN32_FILE_ATTRIBUTE_DATA facts{};
    ASSERT_TRUE(GetFileAttributesExA(png.c_str(), GetFileExInfoStandard, &facts));
    EXPECT_GT(facts.nFileSizeLow, 100u);
    printf("stlview --picture of 90,000,000 triangles: %llu ms\n",
           static_cast<unsigned long long>(GetTickCount64() - start));
}

}  // namespace
