// Frames of continuous rotation, painted by the view's own WM_PAINT into a
// window of a fixed size: frames per second and processor seconds per frame,
// once through the swap chain and once through GDI, each without and with a
// section through the middle (its cut and cap). Windows (and Wine) only.
//   frame_bench [FRAMES OF THE SAMPLE] [FRAMES OF THE 1M MODEL] [STL FILE]
//   frame_bench --pieces BYTES FRAMES   the 1M model alone through GDI, its
//                                       vertices in pieces of BYTES (0: one buffer)
// Under Wine on a software rasterizer a 1M-triangle frame takes about a second.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/platform.h"
#include "load/load_job.h"
#include "view/camera.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/view_control.h"
#include "view/view_lookup.h"

namespace {

const wchar_t kParentClass[] = L"FrameBenchParent";

// A millimetre torus of rings x segments x 2 triangles, Z up.
std::vector<StlTriangle> torusTriangles(int rings, int segments) {
    const double major = 40, minor = 15, pi = 3.14159265358979323846;
    auto point = [&](int i, int j, float out[3]) {
        double u = 2 * pi * i / rings, v = 2 * pi * j / segments;
        double r = major + minor * std::cos(v);
        out[0] = float(r * std::cos(u));
        out[1] = float(r * std::sin(u));
        out[2] = float(minor * std::sin(v));
    };
    std::vector<StlTriangle> triangles;
    triangles.reserve(size_t(rings) * segments * 2);
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            StlTriangle a{}, b{};
            point(i, j, a.vertices[0]);
            point(i + 1, j, a.vertices[1]);
            point(i + 1, j + 1, a.vertices[2]);
            point(i, j, b.vertices[0]);
            point(i + 1, j + 1, b.vertices[1]);
            point(i, j + 1, b.vertices[2]);
            triangles.push_back(a);
            triangles.push_back(b);
        }
    }
    return triangles;
}

// Triangles each as large as the model, all overlapping: the fill cost of
// every frame grows with their count, whatever the window shows.
std::vector<StlTriangle> overlappingTriangles(int count) {
    std::vector<StlTriangle> triangles(size_t(count), StlTriangle{});
    for (int i = 0; i < count; ++i) {
        float turn = float(i) * 0.001f, z = float(i % 100) * 0.1f;
        StlTriangle& t = triangles[size_t(i)];
        const float corners[3][3] = {{-50 + turn, -50, z}, {50, -50 + turn, z}, {0, 50, z + turn}};
        memcpy(t.vertices, corners, sizeof corners);
    }
    return triangles;
}

// One part as the load job leaves it, uploaded for a view.
struct Part {
    std::vector<StlTriangle> triangles;
    StlSolid solid{};
    ModelPart part{};
    HeapHandle heap = nullptr;
    const uint8_t* view = nullptr;  // the file, mapped
    uint8_t visible[2] = {1, 1};
    GpuMesh* gpu = nullptr;

    ~Part() {
        if (gpu) releaseGpuMesh(gpu);
        if (heap) destroyPrivateHeap(heap);
        if (view) unmapFile(view, part.fileSize);
    }
    bool generate(int rings, int segments) {
        return use(torusTriangles(rings, segments));
    }
    bool use(std::vector<StlTriangle> made) {
        triangles = std::move(made);
        solid.triangleCount = uint32_t(triangles.size());
        solid.triangles = triangles.data();
        part.mesh = StlMesh{nullptr, &solid, 1};
        part.metadata = StlMetadata{kSpaceZUp, kMillimetre, kOrderNone, {0, 0, 0, 0}, {nullptr, 0, 0}};
        heap = createPrivateHeap();
        return heap != nullptr;
    }
    bool load(const std::wstring& path) {
        std::vector<Utf16> wide(path.begin(), path.end());
        wide.push_back(0);
        if (!mapModelFile(wide.data(), nullptr, &view, &part.fileSize)) return false;
        heap = createPrivateHeap();
        if (!parseModel(&part, 0, view, view + part.fileSize, heap, nullptr)) return false;
        applyLoadDefaults(&part.metadata, nullptr);
        return true;
    }
    bool upload(HWND view) {
        gpu = uploadMesh(view, &part.mesh, &part.metadata, visible, heap, nullptr);
        return gpu != nullptr;
    }
};

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

double processSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) * 1e-7; };
    return seconds(kernel) + seconds(user);
}

double wallSeconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

// Shows the part in a view of width x height and turns it by a fixed step
// each frame, as the rotation timer would; prints one result line.
bool run(const char* name, Part& part, int width, int height, PresentationChoice presentation, int frames,
         bool section, bool dragging = false) {
    choosePresentation(presentation);
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0);
    HWND parent = CreateWindowExW(0, kParentClass, L"frame bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    HWND view = CreateWindowExW(0, L"STLView", L"", WS_CHILD | WS_VISIBLE, 0, 0, width, height, parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    bool ok = parent && view && part.upload(view);
    if (ok) {
        installMesh(view, part.gpu, true);
        SectionPlane cut = initialSection();
        cut.on = section;
        setViewSection(view, &cut);
        const float noPan[3] = {0, 0, 0};
        const BinaryAngle pitch = degreesToAngle(28), step = degreesToAngle(1);
        BinaryAngle yaw = degreesToAngle(331);
        auto paintFrame = [&] {
            yaw -= step;
            setViewAngles(view, noPan, yaw, pitch);
            UpdateWindow(view);
            // A frame the device needs long for is shown later, from the view's timer.
            while (viewStateOf(view)->frameInFlight) {
                pumpMessages();
                Sleep(1);
            }
            pumpMessages();
        };
        for (int i = 0; i < 3; ++i) paintFrame();  // warm up: the first frames compile shaders
        // As while the left button turns the model: slow frames give way to cheaper ones.
        viewStateOf(view)->rotating = dragging;
        double wall = wallSeconds(), cpu = processSeconds(), longest = 0;
        for (int i = 0; i < frames; ++i) {
            double frameStart = wallSeconds();
            paintFrame();
            longest = std::max(longest, wallSeconds() - frameStart);
        }
        wall = wallSeconds() - wall;
        cpu = processSeconds() - cpu;
        ok = viewStateOf(view)->pipeline.device != nullptr;
        printf("%-28s %-8s %4dx%-4d %-10s %5d frames  %8.1f frames/s  %7.1f ms/frame  %8.2f ms CPU/frame  longest %6.0f ms%s%s\n",
               name, section ? "section" : "whole", width, height, presentation == kPresentGdi ? "GDI" : "swap chain",
               frames, frames / wall, wall / frames * 1000, cpu / frames * 1000, longest * 1000, dragging ? "  (dragging)" : "",
               ok ? "" : "  (device lost)");
        clearMeshes(view);
    } else {
        printf("%-28s %4dx%-4d: could not show the model\n", name, width, height);
    }
    releaseGpuMesh(part.gpu);
    part.gpu = nullptr;
    if (parent) DestroyWindow(parent);
    pumpMessages();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    bool piecesOnly = argc > 3 && strcmp(argv[1], "--pieces") == 0;
    int sampleFrames = argc > 1 ? atoi(argv[1]) : 300;
    int generatedFrames = argc > 2 ? atoi(argv[2]) : 30;
    std::string samplePath = argc > 3 ? argv[3] : STLV_SAMPLES_DIR "/rainbow_torus.stl";
    int slowTriangles = argc > 4 ? atoi(argv[4]) : 400;
    int slowFrames = argc > 5 ? atoi(argv[5]) : 10;
    std::wstring sample(samplePath.begin(), samplePath.end());  // ASCII paths
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW parentClass = {};
    parentClass.cbSize = sizeof parentClass;
    parentClass.lpfnWndProc = DefWindowProcW;
    parentClass.hInstance = instance;
    parentClass.lpszClassName = kParentClass;
    if (!RegisterClassExW(&parentClass) || !registerViewClass(instance, nullptr)) return 1;

    Part generated, loaded;
    if (!generated.generate(1000, 500)) return 1;
    if (piecesOnly) {
        uint64_t bytes = strtoull(argv[2], nullptr, 10);
        limitPieceBytes(bytes);
        char name[64];
        snprintf(name, sizeof name, "1M in pieces of %llu bytes", static_cast<unsigned long long>(bytes));
        return run(bytes ? name : "1M in one buffer", generated, 1280, 800, kPresentGdi, atoi(argv[3]), false) ? 0 : 1;
    }
    if (!loaded.load(sample)) {
        fprintf(stderr, "cannot load %ls\n", sample.c_str());
        return 1;
    }
    bool ok = true;
    // The slow case: a few hundred triangles as large as the view, multisampled on a software rasterizer.
    Part overlapping;
    if (!overlapping.use(overlappingTriangles(slowTriangles))) return 1;
    for (bool dragging : {false, true})
        ok &= run("overlapping large triangles", overlapping, 800, 600, kPresentGdi, slowFrames, false, dragging);
    for (PresentationChoice presentation : {kPresentGdi, kPresentSwapChain}) {
        for (bool section : {false, true}) {
            ok &= run("rainbow_torus.stl", loaded, 800, 600, presentation, sampleFrames, section);
            if (generatedFrames > 0)
                ok &= run("generated 1M triangles", generated, 1280, 800, presentation, generatedFrames, section);
        }
    }
    return ok ? 0 : 1;
}
