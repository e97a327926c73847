// The view's Direct3D device: the pipeline and its unwinding, the window's
// swap chain and views, resizing, device loss on a failed present, uploads,
// and frames copied into the window through GDI.
#include "tests/render_test_support.h"

#include "core/spin_lock.h"
#include "tests/test_files.h"
#include "view/gdi_presentation.h"

namespace {

using namespace render_test;

bool isError(StatusCode code) {
    return code >= kErrorClass;
}

std::vector<Received> errorsOf(const RecordingSink& sink) {
    std::vector<Received> errors;
    for (const Received& entry : sink.received)
        if (isError(entry.code)) errors.push_back(entry);
    return errors;
}

bool allNull(const GpuPipeline& pipeline) {
    GpuPipeline zero;
    memset(&zero, 0, sizeof zero);
    return memcmp(&pipeline, &zero, sizeof zero) == 0;
}

bool noneNull(const GpuPipeline& pipeline) {
    void* fields[sizeof(GpuPipeline) / sizeof(void*)];
    memcpy(fields, &pipeline, sizeof fields);
    for (void* field : fields)
        if (!field) return false;
    return true;
}

TEST(Pipeline, CreatesEveryObjectAndReportsTheFeatureLevel) {
    RecordingSink sink;
    GpuPipeline pipeline;
    memset(&pipeline, 0xCD, sizeof pipeline);
    ASSERT_TRUE(createPipeline(&pipeline, &sink.sink));
    EXPECT_TRUE(noneNull(pipeline));
    ASSERT_FALSE(sink.received.empty());
    EXPECT_EQ(sink.received[0].code, kInfoFeatureLevel);
    EXPECT_GE(sink.received[0].argument, uintptr_t{0xA000});  // 10_0 at least
    EXPECT_TRUE(errorsOf(sink).empty());
    // Everything goes with releasePipeline: the device's last reference is ours.
    ID3D11Device* device = pipeline.device;
    device->AddRef();
    releasePipeline(&pipeline);
    EXPECT_TRUE(allNull(pipeline));
    EXPECT_EQ(device->Release(), 0u);
}

// Each step fails once, with its result mapped; the next creation succeeds.
TEST(Pipeline, AFailureAtEachStepLeavesNoDeviceAndReportsOneError) {
    for (int step = kStepLitVertexShader; step < kStepCount; ++step) {
        SCOPED_TRACE(step);
        const bool memory = step % 2 == 0;
        RecordingSink sink;
        GpuPipeline pipeline;
        memset(&pipeline, 0xCD, sizeof pipeline);
        failPipelineStep(static_cast<PipelineStep>(step), memory ? E_OUTOFMEMORY : E_INVALIDARG);
        EXPECT_FALSE(createPipeline(&pipeline, &sink.sink));
        EXPECT_TRUE(allNull(pipeline));
        std::vector<Received> errors = errorsOf(sink);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].code, memory ? kOutOfGpuMemory : kGpuInvalidCall);
        if (!memory) EXPECT_EQ(errors[0].argument, uintptr_t{0x80070057});
        // Whatever the earlier steps made was released with the device.
        ID3D11Device* device = takeFailedPipelineDevice();
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->Release(), 0u);
    }
    GpuPipeline pipeline{};
    ASSERT_TRUE(createPipeline(&pipeline, nullptr));
    releasePipeline(&pipeline);
}

TEST(Pipeline, NoDeviceFromEitherDriverReportsEachAndLeavesNothing) {
    RecordingSink sink;
    GpuPipeline pipeline;
    memset(&pipeline, 0xCD, sizeof pipeline);
    failPipelineStep(kStepDevice, int32_t(0x887A0004));  // DXGI_ERROR_UNSUPPORTED
    EXPECT_FALSE(createPipeline(&pipeline, &sink.sink));
    EXPECT_TRUE(allNull(pipeline));
    // Hardware, then WARP: one report each, nothing else.
    ASSERT_EQ(sink.received.size(), 2u);
    EXPECT_EQ(sink.received[0].code, kGpuNoDriverSupport);
    EXPECT_EQ(sink.received[1].code, kGpuNoDriverSupport);
    EXPECT_EQ(takeFailedPipelineDevice(), nullptr);
}

// ---------------------------------------------------------------------------
// Uploads

TestSolid triangles(int count, float offset = 0) {
    TestSolid solid;
    for (int i = 0; i < count; ++i) solid.triangles.push_back({{{offset + i, 0, 0}, {offset + i + 1, 0, 0}, {offset + i, 1, 2}}});
    return solid;
}

TEST(Upload, AFailingVertexArrayIsReportedAsOutOfMemory) {
    Pipeline& pipeline = sharedPipeline();
    ASSERT_TRUE(pipeline.made);
    TestMesh mesh({triangles(2)});
    RecordingSink sink;
    GpuMesh* gpu = prepareGpuMesh(mesh.mesh(), mesh.metadata(), mesh.visible(), mesh.heap(), &sink.sink);
    ASSERT_NE(gpu, nullptr);
    {
        HeapFailureGuard guard(0);
        EXPECT_FALSE(buildGpuMesh(gpu, pipeline.device(), mesh.mesh(), 0, mesh.heap(), &sink.sink));
    }
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kOutOfMemory);
    EXPECT_EQ(copyOf(gpu->vertexBuffer), nullptr);
}

// ---------------------------------------------------------------------------
// The view window's device

const wchar_t kParentClass[] = L"DeviceTestParent";

bool registerClassesOnce() {
    static bool registered = [] {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW parent = {};
        parent.cbSize = sizeof parent;
        parent.lpfnWndProc = DefWindowProcW;
        parent.hInstance = instance;
        parent.lpszClassName = kParentClass;
        return RegisterClassExW(&parent) != 0 && registerViewClass(instance, nullptr);
    }();
    return registered;
}

bool hasDevice(ViewState* state) {
    acquireSpinLock(&state->lock);
    bool present = state->pipeline.device != nullptr;
    releaseSpinLock(&state->lock);
    return present;
}

D3D11_TEXTURE2D_DESC textureOf(ID3D11View* view) {
    ID3D11Resource* resource = nullptr;
    view->GetResource(&resource);
    ID3D11Texture2D* texture = nullptr;
    resource->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&texture));
    D3D11_TEXTURE2D_DESC description{};
    texture->GetDesc(&description);
    texture->Release();
    resource->Release();
    return description;
}

constexpr int kViewWidth = 200;
constexpr int kViewHeight = 150;

// One parent for the suite: under Wine every top-level window costs time.
struct DeviceView : testing::Test {
    static HWND parent;
    HWND view = nullptr;
    ViewState* state = nullptr;
    RecordingSink sink;

    static void SetUpTestSuite() {
        if (!registerClassesOnce()) return;
        parent = CreateWindowExW(0, kParentClass, L"device test", WS_POPUP | WS_VISIBLE, 30, 30, 320, 240, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    static void TearDownTestSuite() {
        if (parent) DestroyWindow(parent);
        parent = nullptr;
    }

    // How the view's frames reach the window; read when its device is made.
    virtual PresentationChoice presentation() const { return kPresentSwapChain; }

    void SetUp() override {
        ASSERT_TRUE(registerClassesOnce());
        ASSERT_NE(parent, nullptr);
        choosePresentation(presentation());
        view = CreateWindowExW(0, L"STLView", L"", WS_CHILD | WS_VISIBLE, 10, 10, kViewWidth, kViewHeight, parent,
                               reinterpret_cast<HMENU>(16), GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(view, nullptr);
        state = viewStateOf(view);
        ASSERT_NE(state, nullptr);
        setViewSink(view, &sink.sink);
        ASSERT_TRUE(pumpUntil([&] { return hasDevice(state); }));
    }
    void TearDown() override {
        if (IsWindow(view)) {
            clearMeshes(view);
            DestroyWindow(view);
        }
        pumpMessages();
        choosePresentation(kPresentDetect);
    }

    void paintNow() {
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
    }

    struct Targets {
        IDXGISwapChain* swapChain;
        ID3D11RenderTargetView* colourView;
        ID3D11DepthStencilView* depthView;
        ID3D11Device* device;
        bool pipelineComplete;
    };
    Targets targetsNow() {
        acquireSpinLock(&state->lock);
        Targets targets{state->swapChain, state->renderTargetView, state->depthStencilView, state->pipeline.device,
                        noneNull(state->pipeline)};
        releaseSpinLock(&state->lock);
        return targets;
    }

    // The client area as GDI reads it back.
    std::vector<uint32_t> capture() {
        HDC windowDc = GetDC(view);
        std::vector<uint32_t> pixels = capturePixels(windowDc, 0, 0, kViewWidth, kViewHeight);
        ReleaseDC(view, windowDc);
        return pixels;
    }
};
HWND DeviceView::parent = nullptr;

TEST_F(DeviceView, TheWorkItemMakesASwapChainOfTheClientSizeWithBothViews) {
    auto [swapChain, colourView, depthView, device, complete] = targetsNow();
    EXPECT_TRUE(complete);
    ASSERT_NE(swapChain, nullptr);
    ASSERT_NE(colourView, nullptr);
    ASSERT_NE(depthView, nullptr);
    DXGI_SWAP_CHAIN_DESC description{};
    ASSERT_EQ(swapChain->GetDesc(&description), S_OK);
    EXPECT_EQ(description.OutputWindow, view);
    D3D11_TEXTURE2D_DESC colour = textureOf(colourView), depth = textureOf(depthView);
    EXPECT_EQ(colour.Width, UINT(kViewWidth));
    EXPECT_EQ(colour.Height, UINT(kViewHeight));
    EXPECT_EQ(depth.Width, colour.Width);
    EXPECT_EQ(depth.Height, colour.Height);
    EXPECT_EQ(depth.SampleDesc.Count, colour.SampleDesc.Count);
    // Frames go to the swap chain: nothing to copy them through.
    EXPECT_EQ(copyOf(state->stagingFrame), nullptr);
    EXPECT_EQ(copyOf(state->resolvedFrame), nullptr);
    // The first creation has no sink: nothing was reported. A second keeps the device.
    EXPECT_TRUE(ensureDevice(state, &sink.sink));
    EXPECT_EQ(copyOf(state->pipeline.device), device);
    EXPECT_TRUE(sink.received.empty());
}

TEST_F(DeviceView, ResizingToOnePixelKeepsAWorkingPipeline) {
    TestMesh mesh({triangles(2)});
    ASSERT_TRUE(mesh.upload(view, &sink.sink));
    installMesh(view, mesh.gpu(), true);
    Installed installed{view};
    for (RenderMode mode : {kRenderSolid, kRenderWireframe, kRenderOutline}) {
        setRenderMode(view, mode);
        paintNow();
        RECT update;
        EXPECT_FALSE(GetUpdateRect(view, &update, FALSE)) << int(mode);
    }
    SetWindowPos(view, nullptr, 0, 0, 1, 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(hasDevice(state));
    EXPECT_TRUE(noneNull(state->pipeline));
    ASSERT_NE(copyOf(state->renderTargetView), nullptr);
    ASSERT_NE(copyOf(state->depthStencilView), nullptr);
    EXPECT_EQ(textureOf(state->renderTargetView).Width, 1u);
    EXPECT_EQ(textureOf(state->depthStencilView).Height, 1u);
    EXPECT_EQ(copyOf(state->clientWidth), 1);
    paintNow();
    RECT update;
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));
    ASSERT_TRUE(hasDevice(state));
    // And back to a usable size.
    SetWindowPos(view, nullptr, 0, 0, kViewWidth, kViewHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(textureOf(state->renderTargetView).Width, UINT(kViewWidth));
    paintNow();
    EXPECT_TRUE(hasDevice(state));
    EXPECT_TRUE(sink.received.empty());
}

TEST_F(DeviceView, AFailedPresentDropsTheDeviceAndTheNextPaintIsTheGdiPicture) {
    TestMesh mesh({triangles(2)});
    ASSERT_TRUE(mesh.upload(view, &sink.sink));
    installMesh(view, mesh.gpu(), true);
    Installed installed{view};
    const uint32_t red = 0x30, green = 0x90, blue = 0x50;
    setBackgroundColor(view, 0xFF000000 | blue << 16 | green << 8 | red);
    failNextPresent(int32_t(0x887A0005));  // DXGI_ERROR_DEVICE_REMOVED
    paintNow();
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kGpuLost);
    EXPECT_EQ(sink.received[0].argument, uintptr_t{0x887A0005});
    EXPECT_FALSE(hasDevice(state));
    EXPECT_TRUE(allNull(state->pipeline));
    EXPECT_EQ(copyOf(state->swapChain), nullptr);
    EXPECT_EQ(copyOf(state->renderTargetView), nullptr);
    EXPECT_EQ(copyOf(state->depthStencilView), nullptr);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));

    // A resize without a device does nothing to Direct3D.
    SetWindowPos(view, nullptr, 0, 0, kViewWidth - 1, kViewHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(view, nullptr, 0, 0, kViewWidth, kViewHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_FALSE(hasDevice(state));

    // The next paint takes the GDI way: no Direct3D call, nothing reported,
    // the window validated. (Under Wine a window that once had a swap chain
    // shows its GDI drawing nowhere that can be read back; the picture itself
    // is checked on a view without a device below.)
    paintNow();
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));
    EXPECT_FALSE(hasDevice(state));
    EXPECT_EQ(sink.received.size(), 1u);

    // The next upload makes a new device; the old mesh is not drawn with it.
    clearMeshes(view);
    TestMesh next({triangles(3)});
    ASSERT_TRUE(next.upload(view, &sink.sink));
    EXPECT_TRUE(hasDevice(state));
    EXPECT_NE(copyOf(state->swapChain), nullptr);
    installMesh(view, next.gpu(), true);
    Installed installedNext{view};
    paintNow();
    EXPECT_TRUE(hasDevice(state));
    EXPECT_TRUE(errorsOf(sink).size() == 1u);
}

// A view whose device could not be made paints the GDI picture; the next
// upload tries again and makes it.
TEST_F(DeviceView, WithoutADeviceThePictureIsTheBackgroundWithTheIconAndAnUploadTriesAgain) {
    DestroyWindow(view);
    failPipelineStep(kStepDevice, int32_t(0x887A0004));  // for the next view's work item
    view = CreateWindowExW(0, L"STLView", L"", WS_CHILD | WS_VISIBLE, 10, 10, kViewWidth, kViewHeight, parent,
                           reinterpret_cast<HMENU>(16), GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(view, nullptr);
    state = viewStateOf(view);
    setViewSink(view, &sink.sink);
    ASSERT_TRUE(pumpUntil([] { return pendingPipelineFailure() == kStepNone; }));
    // The work item holds the lock until it has given up.
    acquireSpinLock(&state->lock);
    releaseSpinLock(&state->lock);
    ASSERT_FALSE(hasDevice(state));
    EXPECT_TRUE(sink.received.empty());  // the work item has no sink

    const uint32_t red = 0x30, green = 0x90, blue = 0x50;
    setBackgroundColor(view, 0xFF000000 | blue << 16 | green << 8 | red);
    paintNow();
    RECT update;
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));
    GdiFlush();
    std::vector<uint32_t> pixels = capture();
    ASSERT_EQ(pixels.size(), size_t(kViewWidth) * kViewHeight);
    const uint32_t background = red << 16 | green << 8 | blue;
    auto at = [&](int x, int y) { return pixels[size_t(y) * kViewWidth + x]; };
    for (int y = 0; y < kViewHeight / 2; ++y)
        for (int x = 0; x < kViewWidth; ++x) ASSERT_EQ(at(x, y), background) << x << "," << y;
    for (int y = kViewHeight / 2; y < kViewHeight; ++y)
        for (int x = 0; x < kViewWidth / 2; ++x) ASSERT_EQ(at(x, y), background) << x << "," << y;
    int differing = 0;
    for (int y = kViewHeight / 2; y < kViewHeight / 2 + 32; ++y)
        for (int x = kViewWidth / 2; x < kViewWidth / 2 + 32; ++x) differing += at(x, y) != background;
    EXPECT_GT(differing, 32 * 32 / 3);

    // A mesh installed without a device changes nothing about that.
    TestMesh headless({triangles(1)});
    ASSERT_TRUE(headless.upload(nullptr));
    installMesh(view, headless.gpu(), true);
    Installed installed{view};
    paintNow();
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));
    EXPECT_FALSE(hasDevice(state));

    // The upload makes the device, reporting its level to the load's sink.
    RecordingSink loadSink;
    TestMesh mesh({triangles(2)});
    ASSERT_TRUE(mesh.upload(view, &loadSink.sink));
    EXPECT_TRUE(hasDevice(state));
    EXPECT_NE(copyOf(mesh.gpu()->vertexBuffer), nullptr);
    ASSERT_FALSE(loadSink.received.empty());
    EXPECT_EQ(loadSink.received[0].code, kInfoFeatureLevel);
    EXPECT_TRUE(errorsOf(loadSink).empty());
}

TEST_F(DeviceView, AnUploadKeepsItsDeviceWhenTheViewDropsIt) {
    ID3D11Device* device = ensureDeviceReference(state, &sink.sink);
    ASSERT_NE(device, nullptr);
    acquireSpinLock(&state->lock);
    dropDevice(state);
    releaseSpinLock(&state->lock);
    // The reference alone keeps it usable.
    D3D11_BUFFER_DESC description{};
    description.ByteWidth = 48;
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    ID3D11Buffer* buffer = nullptr;
    EXPECT_EQ(device->CreateBuffer(&description, nullptr, &buffer), S_OK);
    release(buffer);
    EXPECT_EQ(device->Release(), 0u);
}

// Work items for views already destroyed find nothing. They are queued here,
// after the windows are gone, so that the case always happens; one that
// touched a freed view would bring the suite's process down whenever it ran.
TEST_F(DeviceView, AViewDestroyedBeforeItsWorkItemRunsIsLeftAlone) {
    HWND handles[4];
    for (HWND& handle : handles) {
        handle = CreateWindowExW(0, L"STLView", L"", WS_CHILD, 0, 0, 50, 50, parent, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(handle, nullptr);
    }
    for (HWND handle : handles) DestroyWindow(handle);
    // An upload for a destroyed view gets no device.
    TestMesh mesh({triangles(1)});
    ASSERT_TRUE(mesh.upload(handles[0], &sink.sink));
    EXPECT_EQ(copyOf(mesh.gpu()->vertexBuffer), nullptr);
    for (HWND handle : handles) EXPECT_TRUE(queueDeviceWork(handle));
    pumpMessages();
    EXPECT_TRUE(sink.received.empty());
}

// ---------------------------------------------------------------------------
// Frames copied into the window through GDI, as under Wine

// The view's last frame, resolved and read back, as 0xRRGGBB words like a
// capture's.
std::vector<uint32_t> frameOf(ViewState* state) {
    std::vector<uint32_t> pixels;
    acquireSpinLock(&state->lock);
    ID3D11RenderTargetView* colourView = state->renderTargetView;
    ID3D11Device* device = state->pipeline.device;
    if (colourView) colourView->AddRef();
    if (device) device->AddRef();
    releaseSpinLock(&state->lock);
    if (!colourView || !device) {
        release(colourView);
        release(device);
        return pixels;
    }
    D3D11_TEXTURE2D_DESC description = textureOf(colourView);
    ID3D11Resource* resource = nullptr;
    colourView->GetResource(&resource);
    {
        Target target(device, int(description.Width), int(description.Height), description.SampleDesc.Count);
        ID3D11DeviceContext* context = nullptr;
        device->GetImmediateContext(&context);
        ID3D11Resource* targetColour = nullptr;
        target.colourView()->GetResource(&targetColour);
        context->CopyResource(targetColour, resource);
        release(targetColour);
        release(context);
        if (target.ok() && target.read())
            for (uint32_t value : target.pixels()) {
                Pixel p = pixelOf(value);
                pixels.push_back(uint32_t(p.r) << 16 | uint32_t(p.g) << 8 | uint32_t(p.b));
            }
    }
    release(resource);
    release(colourView);
    release(device);
    return pixels;
}

struct GdiDeviceView : DeviceView {
    PresentationChoice presentation() const override { return kPresentGdi; }

    // Shows a mesh in the view, seen from the front.
    void showMesh(TestMesh& mesh) {
        const float noPan[3] = {0, 0, 0};
        setViewAngles(view, noPan, 0, 0);
        ASSERT_TRUE(mesh.upload(view, &sink.sink));
        installMesh(view, mesh.gpu(), true);
        paintNow();
    }
};

// A square of side 2 standing in the XZ plane: it covers the middle of the view.
TestSolid square() {
    TestSolid solid;
    solid.triangles.push_back({{{0, 0, 0}, {2, 0, 0}, {2, 0, 2}}});
    solid.triangles.push_back({{{0, 0, 0}, {2, 0, 2}, {0, 0, 2}}});
    return solid;
}

TEST_F(GdiDeviceView, EveryPixelOfTheFrameReachesTheWindowAfterEachResize) {
    // The work item made frame textures and no swap chain.
    auto [swapChain, colourView, depthView, device, complete] = targetsNow();
    EXPECT_TRUE(complete);
    EXPECT_EQ(swapChain, nullptr);
    ASSERT_NE(depthView, nullptr);
    ASSERT_NE(colourView, nullptr);
    EXPECT_EQ(textureOf(colourView).Format, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
    EXPECT_EQ(textureOf(colourView).SampleDesc.Count, pickSampleCount(device));
    TestMesh mesh({square()});
    showMesh(mesh);
    Installed installed{view};
    setBackgroundColor(view, 0xFF503010);
    for (int width : {kViewWidth, 1, kViewWidth - 37, kViewWidth}) {
        SCOPED_TRACE(width);
        SetWindowPos(view, nullptr, 0, 0, width, kViewHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ASSERT_TRUE(hasDevice(state));
        EXPECT_EQ(textureOf(state->renderTargetView).Width, UINT(width));
        // The textures a frame is copied through come with the size and stay from frame to frame.
        ID3D11Texture2D* staging = copyOf(state->stagingFrame);
        ID3D11Texture2D* resolved = copyOf(state->resolvedFrame);
        ASSERT_NE(staging, nullptr);
        EXPECT_EQ(resolved != nullptr, textureOf(state->renderTargetView).SampleDesc.Count > 1);
        paintNow();
        paintNow();
        EXPECT_EQ(copyOf(state->stagingFrame), staging);
        EXPECT_EQ(copyOf(state->resolvedFrame), resolved);
        RECT update;
        EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));
        GdiFlush();
        std::vector<uint32_t> frame = frameOf(state);
        ASSERT_EQ(frame.size(), size_t(width) * kViewHeight);
        std::vector<uint32_t> shown = capture();
        ASSERT_EQ(shown.size(), size_t(kViewWidth) * kViewHeight);
        int differing = 0;
        for (int y = 0; y < kViewHeight; ++y)
            for (int x = 0; x < width; ++x) differing += shown[size_t(y) * kViewWidth + x] != frame[size_t(y) * width + x];
        EXPECT_EQ(differing, 0);
        if (width < 100) continue;
        // The model is in the picture, over the background.
        uint32_t background = 0x103050;
        EXPECT_EQ(frame[0], background);
        EXPECT_NE(frame[size_t(kViewHeight / 2) * width + width / 2], background);

    }
    EXPECT_TRUE(sink.received.empty());
}

TEST_F(GdiDeviceView, AFailedCopyDropsTheDeviceAndTheGdiPictureThenShows) {
    TestMesh mesh({triangles(2)});
    showMesh(mesh);
    Installed installed{view};
    setBackgroundColor(view, 0xFF503010);
    failNextPresent(int32_t(0x887A0005));  // DXGI_ERROR_DEVICE_REMOVED
    paintNow();
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kGpuLost);
    EXPECT_FALSE(hasDevice(state));
    EXPECT_EQ(copyOf(state->renderTargetView), nullptr);
    EXPECT_EQ(copyOf(state->stagingFrame), nullptr);
    EXPECT_EQ(copyOf(state->resolvedFrame), nullptr);
    // Unlike a window that once had a swap chain, this one shows GDI drawing.
    paintNow();
    GdiFlush();
    std::vector<uint32_t> shown = capture();
    ASSERT_EQ(shown.size(), size_t(kViewWidth) * kViewHeight);
    for (int y = 0; y < kViewHeight / 2; ++y)
        for (int x = 0; x < kViewWidth; ++x) ASSERT_EQ(shown[size_t(y) * kViewWidth + x], 0x103050u) << x << "," << y;
}

}  // namespace
