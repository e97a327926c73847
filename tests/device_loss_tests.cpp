// The device's life as Windows has it and Wine does not: a device lost at
// Present, at ResizeBuffers or while a load creates its buffers comes back
// without the user, the model as it was, told once; the window thread never
// waits for the view's lock, and the swap chain is made on it even when
// resizes and paints come while another thread makes the device; targets of
// fewer samples where more cannot be made.
#include "tests/device_view_support.h"

#include <algorithm>
#include <thread>

#include "view/offscreen_render.h"
#include "view/window_targets.h"

namespace {

using namespace device_view;

constexpr int32_t kDeviceRemoved = int32_t(0x887A0005);
constexpr int32_t kDeviceHung = int32_t(0x887A0006);
constexpr int32_t kDeviceReset = int32_t(0x887A0007);

TestSolid slab(float z, int count) {
    TestSolid solid;
    for (int i = 0; i < count; ++i) {
        float x = -1 + 2.0f * i / count, w = 2.0f / count;
        solid.triangles.push_back(triangle({{x, -1, z}, {x + w, -1, z + 0.3f}, {x, 1, z}}));
        solid.triangles.push_back(triangle({{x + w, -1, z + 0.3f}, {x + w, 1, z + 0.3f}, {x, 1, z}}));
    }
    return solid;
}

// What the user set that a new device must not change.
struct Look {
    BinaryAngle yaw, pitch;
    float zoom, pan0;
    SectionPlane section;
    RenderMode mode;
    uint8_t marks, visible;

    static Look of(const ViewState* state, const TestMesh& mesh) {
        return Look{copyOf(state->yaw), copyOf(state->pitch), copyOf(state->zoom), packedFloat(state->pan, 0),
                    copyOf(state->section), copyOf(state->renderMode), copyOf(state->marks.count), mesh.visible[1]};
    }
    bool operator==(const Look& o) const {
        return yaw == o.yaw && pitch == o.pitch && zoom == o.zoom && pan0 == o.pan0 &&
               memcmp(&section, &o.section, sizeof section) == 0 && mode == o.mode && marks == o.marks &&
               visible == o.visible;
    }
};

struct DeviceLoss : DeviceView {
    TestMesh model{{slab(0, 40), slab(0.5f, 30)}};

    // The model shown turned, panned, zoomed, cut, in Outline, its second
    // solid hidden and a point measured.
    void showModel() {
        setYUp(view, true);  // the slabs face the front view
        ASSERT_TRUE(show(&model));
        const float pan[3] = {0.05f, 0, 0};
        setViewAngles(view, pan, 0x08000000, int32_t(0xF8000000));
        SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
        SectionPlane section = {1, 0, 0, 0.6f};
        setViewSection(view, &section);
        setRenderMode(view, kRenderOutline);
        model.visible[1] = 0;
        SurfacePick pick{};
        pick.corner = -1;
        addMeasurePoint(&state->marks, &pick);
        ASSERT_TRUE(pumpUntil([&] { return !copyOf(state->wheelTurning); }));
    }
    // Every shown part on the view's device, and the loss told.
    bool whole() {
        acquireSpinLock(&state->lock);
        ID3D11Device* device = state->pipeline.device;
        bool ready = device && state->renderTargetView && !state->lossPending && !state->deviceWork;
        for (int slot = 0; ready && slot < kViewMeshSlots && state->meshes[slot]; ++slot) {
            const GpuMesh* mesh = state->meshes[slot];
            ID3D11Device* owner = nullptr;
            if (mesh->pieceCount) mesh->pieces[0].vertices->GetDevice(&owner);
            ready = owner == device;
            release(owner);
        }
        releaseSpinLock(&state->lock);
        return ready;
    }
    std::vector<uint8_t> picture() {
        Picture p;
        EXPECT_TRUE(renderViewPicture(view, &p, &sink.sink));
        std::vector<uint8_t> bytes(p.pixels, p.pixels + size_t(p.width) * p.height * 4);
        freePicture(&p);
        return bytes;
    }
    // The one line of the loss, nothing else but the adapter's.
    void expectToldOnce(const char* words) {
        std::vector<Received> told = messagesOf(sink);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].code, kLine);
        EXPECT_EQ(told[0].line, widenAscii(std::string("D3D info: the graphics device was reset (") + words +
                                           "); the view was rebuilt"));
    }
    // The next load on the new device goes as any other.
    void expectTheNextLoadToSucceed() {
        TestMesh next({slab(0, 5)});
        RecordingSink loadSink;
        ASSERT_TRUE(next.upload(view, &loadSink.sink));
        EXPECT_NE(copyOf(next.gpu->pieces), nullptr);
        EXPECT_TRUE(errorsOf(loadSink).empty());
        installMesh(view, next.gpu, false);
        clearMeshes(view);
    }
};

TEST_P(DeviceLoss, LostAtPresentTheViewComesBackAsItWas) {
    showModel();
    Installed installed{view};
    std::vector<uint8_t> before = picture();
    ASSERT_FALSE(before.empty());
    EXPECT_NE(std::count(before.begin(), before.end(), before[0]), std::ptrdiff_t(before.size()));  // the model is in it
    Look look = Look::of(state, model);
    ID3D11Device* old = copyOf(state->pipeline.device);
    injectGpuFailure(kCallPresent, kDeviceReset);
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    ASSERT_TRUE(pumpUntil([&] { return copyOf(state->pipeline.device) != old && whole(); }));
    EXPECT_TRUE(Look::of(state, model) == look);
    EXPECT_EQ(copyOf(state->swapChain) != nullptr, !gdi);
    EXPECT_TRUE(picture() == before);
    expectToldOnce("the GPU was reset");
    expectTheNextLoadToSucceed();
}

TEST_P(DeviceLoss, LostAtResizeBuffersTheViewComesBackAtTheNewSize) {
    showModel();
    Installed installed{view};
    Look look = Look::of(state, model);
    ID3D11Device* old = copyOf(state->pipeline.device);
    injectGpuFailure(kCallResizeBuffers, kDeviceRemoved);
    resize(kViewWidth - 40);
    ASSERT_TRUE(pumpUntil([&] { return copyOf(state->pipeline.device) != old && whole(); }));
    EXPECT_TRUE(Look::of(state, model) == look);
    ID3D11Resource* colour = nullptr;
    copyOf(state->renderTargetView)->GetResource(&colour);
    D3D11_TEXTURE2D_DESC description;
    static_cast<ID3D11Texture2D*>(colour)->GetDesc(&description);
    release(colour);
    EXPECT_EQ(description.Width, UINT(kViewWidth - 40));
    EXPECT_TRUE(show(nullptr));
    expectToldOnce("driver updated, or the adapter removed or switched");
    resize(kViewWidth);
    expectTheNextLoadToSucceed();
}

// The load's own part comes on the new device; the part already shown is
// uploaded again from its triangles.
TEST_P(DeviceLoss, ALoadThatMeetsALostDeviceTriesOnceMoreOnANewOne) {
    showModel();
    Installed installed{view};
    Look look = Look::of(state, model);
    ID3D11Device* old = copyOf(state->pipeline.device);
    TestMesh added({slab(-0.5f, 20)});
    RecordingSink loadSink;
    injectGpuFailure(kCallCreateBuffer, kDeviceHung);
    bool uploaded = false, done = false;
    std::thread load([&] {
        uploaded = added.upload(view, &loadSink.sink);
        done = true;
    });
    bool finished = pumpUntil([&] { return done; });
    load.join();
    ASSERT_TRUE(finished && uploaded);
    EXPECT_TRUE(errorsOf(loadSink).empty());
    installMesh(view, added.gpu, false);
    ASSERT_TRUE(pumpUntil([&] { return copyOf(state->pipeline.device) != old && whole(); }));
    EXPECT_TRUE(Look::of(state, model) == look);
    EXPECT_TRUE(show(nullptr));
    expectToldOnce("the GPU stopped responding");
    expectTheNextLoadToSucceed();
}

// Where no new device can be made, the view says so once and shows the GDI
// picture; the next load tries again and the model comes back.
TEST_P(DeviceLoss, WithoutANewDeviceTheLossIsSaidAndTheNextLoadTriesAgain) {
    showModel();
    Installed installed{view};
    injectGpuFailure(kCallPresent, kDeviceRemoved);
    failPipelineStep(kStepDevice, int32_t(0x887A0004));
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    ASSERT_TRUE(pumpUntil([&] { return messagesOf(sink).size() == 1; }));
    EXPECT_EQ(messagesOf(sink)[0].line,
              widenAscii("Direct3D 11 error: the graphics device was lost (driver updated, or the adapter removed or "
                         "switched) and no new one could be made"));
    EXPECT_FALSE(hasDevice(state));
    TestMesh next({slab(0, 5)});
    ASSERT_TRUE(next.upload(view, &sink.sink));
    ASSERT_TRUE(pumpUntil([&] { return whole(); }));  // the shown model too, on the new device
    EXPECT_TRUE(errorsOf(sink).empty());
    EXPECT_EQ(messagesOf(sink).size(), 1u + 1);  // and the new device's level, reported to the load
}

// While another thread holds the view's lock, paints and size changes
// return at once and happen when it is free again.
TEST_P(DeviceLoss, TheWindowThreadNeverWaitsForTheViewLock) {
    ASSERT_TRUE(show(&model));
    Installed installed{view};
    acquireSpinLock(&state->lock);
    ULONGLONG start = GetTickCount64();
    for (int width : {kViewWidth - 20, kViewWidth - 30}) {
        resize(width);
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
    }
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_TRUE(copyOf(state->resizePending));
    pumpUntil([] { return false; }, 50);
    releaseSpinLock(&state->lock);
    ASSERT_TRUE(pumpUntil([&] { return !copyOf(state->resizePending) && !copyOf(state->paintDeferred); }));
    ASSERT_TRUE(show(nullptr));
    ID3D11Resource* colour = nullptr;
    copyOf(state->renderTargetView)->GetResource(&colour);
    D3D11_TEXTURE2D_DESC description;
    static_cast<ID3D11Texture2D*>(colour)->GetDesc(&description);
    release(colour);
    EXPECT_EQ(description.Width, UINT(kViewWidth - 30));
    EXPECT_TRUE(messagesOf(sink).empty());
}

// Where the memory for more samples is not to be had, targets come with
// fewer, down to one, and the device stays.
TEST_P(DeviceLoss, TargetsOfFewerSamplesWhereMoreCannotBeMade) {
    ASSERT_TRUE(show(&model));
    Installed installed{view};
    ID3D11Device* device = copyOf(state->pipeline.device);
    for (uint32_t most : {2u, 1u}) {
        failTargetsAbove(most);
        resize(kViewWidth - int(most));
        ASSERT_TRUE(hasDevice(state));
        EXPECT_EQ(copyOf(state->pipeline.device), device);
        ID3D11Resource* colour = nullptr;
        copyOf(state->renderTargetView)->GetResource(&colour);
        D3D11_TEXTURE2D_DESC description;
        static_cast<ID3D11Texture2D*>(colour)->GetDesc(&description);
        release(colour);
        EXPECT_LE(description.SampleDesc.Count, most);
        EXPECT_TRUE(show(nullptr));
    }
    failTargetsAbove(0);
    resize(kViewWidth);
    EXPECT_TRUE(messagesOf(sink).empty());
}

// On either way to the screen, frames drawn while the user turns the model
// after a slow one are single-sampled (into the swap chain's own buffer, or
// textures for GDI), and a full one follows when the input stops.
TEST_P(DeviceLoss, MovingFramesTakeTheSingleSampledFormOnBothPaths) {
    ASSERT_TRUE(show(&model));
    Installed installed{view};
    ASSERT_NE(copyOf(state->resolvedFrame), nullptr) << "the frame textures have one sample";
    FramePacing slow = state->pacing;
    slow.lastMs[kFormFull] = 5000;
    state->pacing = slow;
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    SendMessageW(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(30, 10));
    InvalidateRect(view, nullptr, FALSE);
    UpdateWindow(view);
    EXPECT_EQ(copyOf(state->frameForm), kFormSingleSample);
    ASSERT_TRUE(pumpUntil([&] { return !copyOf(state->frameInFlight); }));
    EXPECT_EQ(copyOf(state->pacing.shownForm), kFormSingleSample);
    SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(30, 10));
    ASSERT_TRUE(pumpUntil([&] { return copyOf(state->pacing.shownForm) == kFormFull; }));
    EXPECT_TRUE(messagesOf(sink).empty());
}

INSTANTIATE_TEST_SUITE_P(Presentation, DeviceLoss, testing::Values(kPresentSwapChain, kPresentGdi),
                         [](const testing::TestParamInfo<PresentationChoice>& info) {
                             return info.param == kPresentGdi ? "Gdi" : "SwapChain";
                         });

// The swap chain path forced under Wine, the device held back on its pool
// thread while the window is resized and painted: nothing waits, the swap
// chain comes when the device does, at the size the window has then, and
// the model is drawn.
TEST_F(ViewWindow, ResizesAndPaintsWhileTheDeviceIsMadeNeitherWaitNorLoseTheSwapChain) {
    DestroyWindow(view);
    choosePresentation(kPresentSwapChain);
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    holdDeviceInstall(held);
    ViewWindow::SetUp();
    RecordingSink sink;
    setViewSink(view, &sink.sink);
    setBackgroundColor(view, kBackground);
    const float noPan[3] = {0, 0, 0};
    setViewAngles(view, noPan, 0, 0);
    setYUp(view, true);  // the slab faces the front view
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 20; ++i) {
        SetWindowPos(view, nullptr, 0, 0, kViewWidth - 3 * i, kViewHeight - i, SWP_NOMOVE | SWP_NOZORDER);
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
        pumpMessages();
    }
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_FALSE(hasDevice(state));
    SetEvent(held);
    ASSERT_TRUE(pumpUntil([&] { return hasDevice(state); }));
    holdDeviceInstall(nullptr);
    CloseHandle(held);
    EXPECT_NE(copyOf(state->swapChain), nullptr);
    TestMesh mesh({slab(0, 10)});
    ASSERT_TRUE(mesh.upload(view, &sink.sink));
    installMesh(view, mesh.gpu, true);
    Installed installed{view};
    for (int width : {kViewWidth - 60, kViewWidth - 7}) {
        SetWindowPos(view, nullptr, 0, 0, width, kViewHeight, SWP_NOMOVE | SWP_NOZORDER);
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
    }
    ASSERT_TRUE(pumpUntil([&] { return !copyOf(state->frameInFlight) && !copyOf(state->resizePending); }));
    ID3D11Resource* colour = nullptr;
    copyOf(state->renderTargetView)->GetResource(&colour);
    D3D11_TEXTURE2D_DESC description;
    static_cast<ID3D11Texture2D*>(colour)->GetDesc(&description);
    release(colour);
    EXPECT_EQ(description.Width, UINT(kViewWidth - 7));
    Picture picture;
    ASSERT_TRUE(renderViewPicture(view, &picture, &sink.sink));
    auto at = [&](int x, int y) { return reinterpret_cast<const uint32_t*>(picture.pixels)[y * picture.width + x]; };
    EXPECT_NE(at(picture.width / 2, picture.height / 2), at(1, 1));  // the model in the middle
    EXPECT_EQ(at(picture.width - 2, picture.height - 2), at(1, 1));  // the background at the edges
    freePicture(&picture);
    EXPECT_TRUE(errorsOf(sink).empty());
    choosePresentation(kPresentDetect);
}

}  // namespace
