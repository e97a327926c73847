// A view window with its device for the tests of the device's life: frames
// reaching the window through a swap chain or GDI, what the view told, and
// whether it is ready to draw.
#pragma once
#include "tests/render_test_support.h"

#include "core/spin_lock.h"
#include "view/device_work.h"
#include "view/gdi_presentation.h"

namespace device_view {

using namespace render_test;
using namespace view_test;

// What a view tells the user, without the adapter's line of each new device.
inline std::vector<Received> messagesOf(const RecordingSink& sink) {
    std::vector<Received> told;
    for (const Received& entry : sink.received)
        if (entry.code != kLine || entry.line.rfind(widenAscii("D3D info: adapter "), 0) != 0) told.push_back(entry);
    return told;
}

inline std::vector<Received> errorsOf(const RecordingSink& sink) {
    std::vector<Received> errors;
    for (const Received& entry : sink.received)
        if (entry.code >= kErrorClass) errors.push_back(entry);
    return errors;
}

// A device with the window's targets: ready to draw.
inline bool hasDevice(ViewState* state) {
    acquireSpinLock(&state->lock);
    bool present = state->pipeline.device != nullptr && state->renderTargetView != nullptr;
    releaseSpinLock(&state->lock);
    return present;
}

// A failure path that kept the lock fails here instead of hanging the next caller.
inline bool lockFreed(const ViewState* state) {
    for (int tries = 0; tries < 2000 && copyOf(state->lock); ++tries) Sleep(1);
    return copyOf(state->lock) == 0;
}

constexpr uint32_t kBackground = 0xFF503010;  // shown by GDI as 0x103050

// A view with its device, frames reaching the window through a swap chain or GDI.
struct DeviceView : ViewWindow, testing::WithParamInterface<PresentationChoice> {
    RecordingSink sink;
    bool gdi = GetParam() == kPresentGdi;

    void SetUp() override {
        choosePresentation(GetParam());  // read when the device is made
        ViewWindow::SetUp();
        if (HasFatalFailure()) return;
        setViewSink(view, &sink.sink);
        setBackgroundColor(view, kBackground);
        ASSERT_TRUE(pumpUntil([&] { return hasDevice(state); }));
    }
    void TearDown() override {
        ViewWindow::TearDown();
        choosePresentation(kPresentDetect);
    }

    // Shows the mesh seen from the front; true when the paint validated the window.
    bool show(TestMesh* mesh) {
        const float noPan[3] = {0, 0, 0};
        setViewAngles(view, noPan, 0, 0);
        if (mesh) {
            if (!mesh->upload(view, &sink.sink)) return false;
            installMesh(view, mesh->gpu, true);
        }
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
        if (!pumpUntil([&] { return !copyOf(state->frameInFlight); })) return false;
        RECT update;
        return !GetUpdateRect(view, &update, FALSE);
    }
    void resize(int width) { SetWindowPos(view, nullptr, 0, 0, width, kViewHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE); }
    // The client area as GDI reads it back, as 0xRRGGBB words.
    std::vector<uint32_t> shown() {
        GdiFlush();
        HDC windowDc = GetDC(view);
        std::vector<uint32_t> pixels = capturePixels(windowDc, 0, 0, kViewWidth, kViewHeight);
        ReleaseDC(view, windowDc);
        return pixels;
    }
    // Above the middle, and left of it below: the icon's corner is at the middle.
    void expectBackgroundAwayFromTheIcon(const std::vector<uint32_t>& pixels) {
        ASSERT_EQ(pixels.size(), size_t(kViewWidth) * kViewHeight);
        for (int y = 0; y < kViewHeight; ++y)
            for (int x = 0; x < (y < kViewHeight / 2 ? kViewWidth : kViewWidth / 2); ++x)
                ASSERT_EQ(pixels[size_t(y) * kViewWidth + x], 0x103050u) << x << "," << y;
    }
};

}  // namespace device_view
