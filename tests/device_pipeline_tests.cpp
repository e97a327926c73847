// The view's Direct3D device: the pipeline and its unwinding, the window's
// swap chain or frame textures through resizes, device loss on a failed
// present and the way back, uploads, and frames copied in through GDI.
#include "tests/device_view_support.h"

#include <atomic>
#include <thread>

#include "core/spin_lock.h"
#include "view/device_work.h"
#include "view/gdi_presentation.h"
#include "view/offscreen_render.h"
#include "view/window_targets.h"

namespace {

using namespace render_test;
using namespace view_test;
using namespace device_view;

bool allNull(const GpuPipeline& pipeline) {
    const GpuPipeline zero{};
    return memcmp(&pipeline, &zero, sizeof zero) == 0;
}

bool noneNull(const GpuPipeline& pipeline) {
    void* fields[sizeof(GpuPipeline) / sizeof(void*)];
    memcpy(fields, &pipeline, sizeof fields);
    return std::find(std::begin(fields), std::end(fields), nullptr) == std::end(fields);
}

// Each step fails once, with its result mapped, and whatever the earlier
// steps made goes with the device; the device fails for both drivers. Then,
// the seam spent, every object is made and all go with releasePipeline.
TEST(Pipeline, IsMadeWholeOrNotAtAllWithTheFailingCallReported) {
    for (int i = kStepDevice; i <= kStepCount; ++i) {
        const PipelineStep step = PipelineStep(i % kStepCount);
        SCOPED_TRACE(step);
        const bool memory = step % 2 == 0;
        if (step != kStepNone)
            failPipelineStep(step, step == kStepDevice ? int32_t(0x887A0004) : memory ? E_OUTOFMEMORY : E_INVALIDARG);
        RecordingSink sink;
        GpuPipeline pipeline;
        memset(&pipeline, 0xCD, sizeof pipeline);
        const bool made = createPipeline(&pipeline, &sink.sink);
        ASSERT_EQ(made, step == kStepNone);
        ID3D11Device* device = made ? pipeline.device : takeFailedPipelineDevice();
        std::vector<Received> errors = errorsOf(sink);
        if (made) {
            EXPECT_TRUE(noneNull(pipeline));
            ASSERT_FALSE(sink.received.empty());
            EXPECT_EQ(sink.received[0].code, kInfoFeatureLevel);
            EXPECT_GE(sink.received[0].argument, uintptr_t{0xA000});  // 10_0 at least
            EXPECT_TRUE(errors.empty());
            device->AddRef();
            releasePipeline(&pipeline);
        } else if (step == kStepDevice) {
            // Hardware, then WARP: one report each, nothing else.
            ASSERT_EQ(sink.received.size(), 2u);
            EXPECT_EQ(sink.received[0].code, kGpuNoDriverSupport);
            EXPECT_EQ(sink.received[1].code, kGpuNoDriverSupport);
            EXPECT_EQ(device, nullptr);
        } else {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].code, memory ? kOutOfGpuMemory : kGpuInvalidCall);
            if (!memory) EXPECT_EQ(errors[0].argument, uintptr_t{0x80070057});
        }
        EXPECT_TRUE(allNull(pipeline));
        if (device) EXPECT_EQ(device->Release(), 0u);  // the last reference was the test's
    }
}

TestSolid triangles(int count) {
    TestSolid solid;
    for (int i = 0; i < count; ++i) solid.triangles.push_back(triangle({{float(i), 0, 0}, {i + 1.0f, 0, 0}, {float(i), 1, 2}}));
    return solid;
}

TEST(Upload, AFailingVertexArrayIsReportedAsOutOfMemory) {
    ASSERT_NE(sharedPipeline(), nullptr);
    TestMesh mesh({triangles(2)});
    RecordingSink sink;
    GpuMesh* gpu = prepareGpuMesh(&mesh.mesh, &mesh.metadata, mesh.visible.data(), mesh.heap, &sink.sink);
    ASSERT_NE(gpu, nullptr);
    {
        HeapFailureGuard guard(0);
        EXPECT_FALSE(buildGpuMesh(gpu, sharedPipeline()->device, &mesh.mesh, 0, mesh.heap, &sink.sink));
    }
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kOutOfMemory);
    EXPECT_EQ(copyOf(gpu->pieces), nullptr);
}

D3D11_TEXTURE2D_DESC textureOf(ID3D11View* view) {
    ID3D11Resource* resource = nullptr;
    view->GetResource(&resource);  // the views of the view are all of 2D textures
    D3D11_TEXTURE2D_DESC description{};
    static_cast<ID3D11Texture2D*>(resource)->GetDesc(&description);
    release(resource);
    return description;
}

TEST_P(DeviceView, TheTargetsFollowTheClientSizeDownToOnePixel) {
    EXPECT_TRUE(noneNull(state->pipeline));
    EXPECT_EQ(copyOf(state->swapChain) != nullptr, !gdi);
    // The first creation had no sink: nothing was reported. A second keeps the device.
    ID3D11Device* device = copyOf(state->pipeline.device);
    EXPECT_TRUE(ensureDevice(state, &sink.sink));
    EXPECT_EQ(copyOf(state->pipeline.device), device);
    TestMesh mesh({TestSolid{{triangle({{0, 0, 0}, {2, 0, 0}, {2, 0, 2}}), triangle({{0, 0, 0}, {2, 0, 2}, {0, 0, 2}})}}});
    ASSERT_TRUE(show(&mesh));
    Installed installed{view};
    for (int width : {kViewWidth, 1, kViewWidth - 37, kViewWidth}) {
        SCOPED_TRACE(width);
        resize(width);
        ASSERT_TRUE(hasDevice(state));
        D3D11_TEXTURE2D_DESC colour = textureOf(state->renderTargetView), depth = textureOf(state->depthStencilView);
        EXPECT_EQ(colour.Width, UINT(width));
        EXPECT_EQ(colour.Height, UINT(kViewHeight));
        EXPECT_EQ(depth.Width, colour.Width);
        EXPECT_EQ(depth.SampleDesc.Count, colour.SampleDesc.Count);
        EXPECT_EQ(colour.Format, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB);
        EXPECT_EQ(colour.SampleDesc.Count, targetSampleCount(device, width, kViewHeight));
        // The textures a GDI frame is copied through come with the size and stay from frame to frame.
        ID3D11Texture2D *staging = copyOf(state->stagingFrame), *resolved = copyOf(state->resolvedFrame);
        EXPECT_EQ(staging != nullptr, gdi);
        // Multisampled frames are resolved, into the swap chain's buffer or a texture.
        EXPECT_EQ(resolved != nullptr, colour.SampleDesc.Count > 1);
        EXPECT_TRUE(show(nullptr));
        EXPECT_TRUE(show(nullptr));
        EXPECT_EQ(copyOf(state->stagingFrame), staging);
        EXPECT_EQ(copyOf(state->resolvedFrame), resolved);
        if (!gdi) continue;
        // Every pixel of the frame reaches the window; the model is in it.
        Picture frame;
        ASSERT_TRUE(renderViewPicture(view, &frame, &sink.sink));
        std::vector<uint32_t> pixels = shown();
        int differing = 0;
        for (int y = 0; y < kViewHeight; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = frame.pixels + (size_t(y) * width + x) * 4;
                differing += pixels[size_t(y) * kViewWidth + x] != (uint32_t(p[0]) << 16 | p[1] << 8 | p[2]);
            }
        freePicture(&frame);
        EXPECT_EQ(differing, 0);
        EXPECT_EQ(pixels[0], 0x103050u);
        if (width > 100) EXPECT_NE(pixels[size_t(kViewHeight / 2) * kViewWidth + width / 2], pixels[0]);
    }
    EXPECT_TRUE(messagesOf(sink).empty());
    // A picture without memory for its pixels is refused.
    Picture picture;
    {
        HeapFailureGuard noMemory(0);
        EXPECT_FALSE(renderViewPicture(view, &picture, &sink.sink));
    }
    ASSERT_TRUE(lockFreed(state));
    EXPECT_EQ(picture.pixels, nullptr);
    ASSERT_EQ(messagesOf(sink).size(), 1u);
    EXPECT_EQ(messagesOf(sink)[0].code, kOutOfMemory);
}

// A present that fails without a device loss (there is nothing to make anew).
TEST_P(DeviceView, AFailedPresentDropsTheDeviceAndTheNextUploadMakesANewOne) {
    TestMesh mesh({triangles(2)});
    injectGpuFailure(kCallPresent, E_INVALIDARG);
    EXPECT_TRUE(show(&mesh));
    Installed installed{view};
    ASSERT_TRUE(lockFreed(state));
    std::vector<Received> reports = messagesOf(sink);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].code, kGpuInvalidCall);
    EXPECT_EQ(reports[0].argument, uintptr_t{0x80070057});
    EXPECT_FALSE(hasDevice(state));
    EXPECT_TRUE(allNull(state->pipeline));
    EXPECT_EQ(copyOf(state->swapChain), nullptr);
    EXPECT_EQ(copyOf(state->renderTargetView), nullptr);
    EXPECT_EQ(copyOf(state->depthStencilView), nullptr);
    EXPECT_EQ(copyOf(state->stagingFrame), nullptr);
    EXPECT_EQ(copyOf(state->resolvedFrame), nullptr);
    // A resize without a device does nothing to Direct3D.
    resize(kViewWidth - 1);
    resize(kViewWidth);
    EXPECT_FALSE(hasDevice(state));
    // The next paint takes the GDI way, reporting nothing. (Under Wine a window
    // that once had a swap chain shows its GDI drawing nowhere that can be read.)
    EXPECT_TRUE(show(nullptr));
    if (gdi) expectBackgroundAwayFromTheIcon(shown());
    // The next upload makes a new device; the old mesh is not drawn with it.
    clearMeshes(view);
    TestMesh next({triangles(3)});
    ASSERT_TRUE(show(&next));
    Installed installedNext{view};
    EXPECT_TRUE(hasDevice(state));
    EXPECT_EQ(copyOf(state->swapChain) != nullptr, !gdi);
    EXPECT_EQ(errorsOf(sink).size(), 1u);
}

// A frame the device needs long for leaves the window answering: the paint
// returns with the frame in flight, a paint meanwhile is held until it is
// shown, and the frame shown last is a full one.
TEST_P(DeviceView, ASlowFrameLeavesTheWindowAnswering) {
    TestSolid heavy;  // each covers most of the view and lies nearer than the last, so each is filled
    for (int i = 0; i < 40000; ++i) {
        float y = 1e-5f * i;
        heavy.triangles.push_back(triangle({{-2, y, -1}, {2, y, -1}, {0, y, 2}}));
    }
    TestMesh mesh({heavy});
    const float noPan[3] = {0, 0, 0};
    setViewAngles(view, noPan, 0, 0);
    ASSERT_TRUE(mesh.upload(view, &sink.sink));
    installMesh(view, mesh.gpu, true);
    Installed installed{view};
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    ASSERT_TRUE(copyOf(state->frameInFlight)) << "the device drew the heavy frame within the wait: "
                                               << copyOf(state->pacing.lastMs[kFormFull]) << " ms";
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    EXPECT_EQ(copyOf(state->repaintAfterFrame), 1);
    // Another thread asks the window meanwhile, as the system does.
    std::atomic<bool> drawing{true}, asked{false};
    std::atomic<int> answered{0}, unanswered{0};
    std::thread asker([&] {
        for (; drawing; Sleep(100)) {
            DWORD_PTR result;
            (SendMessageTimeoutW(view, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) ? answered : unanswered)++;
        }
        asked = true;
    });
    bool done = pumpUntil([&] { return !copyOf(state->frameInFlight) && !copyOf(state->repaintAfterFrame); }, 120000);
    drawing = false;
    pumpUntil([&] { return asked.load(); });  // its last question is answered too
    asker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(unanswered, 0);
    EXPECT_GE(answered, 2);
    EXPECT_EQ(copyOf(state->pacing.shownForm), kFormFull);
    EXPECT_GT(copyOf(state->pacing.lastMs[kFormFull]), kFrameWaitMs);
    const size_t middle = size_t(kViewHeight / 2) * kViewWidth + kViewWidth / 2;
    if (gdi) EXPECT_NE(shown()[middle], 0x103050u);
    EXPECT_TRUE(messagesOf(sink).empty());
    if (!gdi) return;
    // A frame whose model goes while it is drawn never shows.
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    ASSERT_TRUE(copyOf(state->frameInFlight));
    uint32_t frameMs = copyOf(state->pacing.lastMs[kFormFull]);
    clearMeshes(view);
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    pumpUntil([] { return false; }, 2 * frameMs);
    EXPECT_EQ(shown()[middle], 0x103050u);
}

// A view whose device could not be made paints the GDI picture, also with a
// mesh installed; the next upload tries again and makes it.
TEST_P(DeviceView, WithoutADeviceThePictureIsTheBackgroundWithTheIconAndAnUploadTriesAgain) {
    DestroyWindow(view);
    failPipelineStep(kStepDevice, int32_t(0x887A0004));  // for the next view's work item
    ViewWindow::SetUp();
    setViewSink(view, &sink.sink);
    setBackgroundColor(view, kBackground);
    ASSERT_TRUE(pumpUntil([] { return pendingPipelineFailure() == kStepNone; }));
    ASSERT_TRUE(lockFreed(state));
    ASSERT_FALSE(hasDevice(state));  // the work item holds the lock until it has given up
    EXPECT_TRUE(messagesOf(sink).empty());  // and has no sink
    // Each way to the device fails again, each leaving the lock free.
    RecordingSink failures;
    failPipelineStep(kStepDevice, int32_t(0x887A0004));
    EXPECT_FALSE(ensureDevice(state, &failures.sink));
    ASSERT_TRUE(lockFreed(state));
    failPipelineStep(kStepDevice, int32_t(0x887A0004));
    EXPECT_EQ(ensureDeviceReference(state, &failures.sink), nullptr);
    ASSERT_TRUE(lockFreed(state));
    EXPECT_EQ(failures.received.size(), 4u);  // hardware, then WARP, each time
    TestMesh headless({triangles(1)});
    ASSERT_TRUE(headless.upload(nullptr));
    installMesh(view, headless.gpu, true);
    Installed installed{view};
    EXPECT_TRUE(show(nullptr));
    ASSERT_TRUE(lockFreed(state));
    Picture picture;
    EXPECT_FALSE(renderViewPicture(view, &picture, &sink.sink));
    ASSERT_TRUE(lockFreed(state));
    EXPECT_FALSE(hasDevice(state));
    std::vector<uint32_t> pixels = shown();
    expectBackgroundAwayFromTheIcon(pixels);
    int differing = 0;
    for (int y = kViewHeight / 2; y < kViewHeight / 2 + 32; ++y)
        for (int x = kViewWidth / 2; x < kViewWidth / 2 + 32; ++x) differing += pixels[size_t(y) * kViewWidth + x] != pixels[0];
    EXPECT_GT(differing, 32 * 32 / 3);
    // The upload makes the device, reporting its level to the load's sink.
    RecordingSink loadSink;
    TestMesh mesh({triangles(2)});
    ASSERT_TRUE(mesh.upload(view, &loadSink.sink));
    EXPECT_TRUE(hasDevice(state));
    EXPECT_NE(copyOf(mesh.gpu->pieces), nullptr);
    ASSERT_FALSE(loadSink.received.empty());
    EXPECT_EQ(loadSink.received[0].code, kInfoFeatureLevel);
    EXPECT_TRUE(errorsOf(loadSink).empty());
}

TEST_P(DeviceView, AnUploadKeepsItsDeviceWhenTheViewDropsIt) {
    ID3D11Device* device = ensureDeviceReference(state, &sink.sink);
    ASSERT_NE(device, nullptr);
    acquireSpinLock(&state->lock);
    dropDevice(state);
    releaseSpinLock(&state->lock);
    {
        TestMesh mesh({triangles(1)});
        EXPECT_TRUE(mesh.build(device));  // the reference alone keeps it usable
    }
    EXPECT_EQ(device->Release(), 0u);
}

// Work items for views already destroyed find nothing, however late they run.
TEST_P(DeviceView, AViewDestroyedBeforeItsWorkItemRunsIsLeftAlone) {
    const uint32_t gone = deviceWorkForGoneViews();
    HWND handles[4];
    for (HWND& handle : handles) {
        handle = CreateWindowExW(0, L"STLView", L"", WS_CHILD, 0, 0, 50, 50, parent, nullptr, GetModuleHandleW(nullptr),
                                 nullptr);
        ASSERT_NE(handle, nullptr);
    }
    for (HWND handle : handles) DestroyWindow(handle);
    // An upload for a destroyed view gets no device.
    TestMesh mesh({triangles(1)});
    ASSERT_TRUE(mesh.upload(handles[0], &sink.sink));
    EXPECT_EQ(copyOf(mesh.gpu->pieces), nullptr);
    for (HWND handle : handles) EXPECT_TRUE(queueDeviceWork(handle));
    ASSERT_TRUE(pumpUntil([&] { return deviceWorkForGoneViews() >= gone + 4; }));
    EXPECT_TRUE(messagesOf(sink).empty());
}

INSTANTIATE_TEST_SUITE_P(Presentation, DeviceView, testing::Values(kPresentSwapChain, kPresentGdi),
                         [](const testing::TestParamInfo<PresentationChoice>& info) {
                             return info.param == kPresentGdi ? "Gdi" : "SwapChain";
                         });

}  // namespace
