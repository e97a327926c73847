// A real "STLView" window on the display: messages in, state out.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/memory.h"
#include "tests/sink_recorder.h"
#include "tests/view_test_support.h"
#include "view/camera.h"
#include "view/device_work.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"

namespace {

using namespace view_test;

LPARAM position(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

bool needsPaint(HWND window) {
    RECT update;
    return GetUpdateRect(window, &update, FALSE);
}

// Messages in order to one view, and the drag, capture and keys passed to
// the parent after each.
TEST_F(ViewWindow, DragsCaptureTheMouseAndOtherKeysGoToTheParent) {
    struct Step {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT answer;
        int rotating, panning;
        bool captured, turned;
        size_t parentKeys;
    };
    const Step steps[] = {
        {"left button down", WM_LBUTTONDOWN, MK_LBUTTON, position(10, 20), 0, 1, 0, true, false, 0},
        {"dragging turns", WM_MOUSEMOVE, MK_LBUTTON, position(110, 20), 0, 1, 0, true, true, 0},
        {"a new button replaces the drag", WM_RBUTTONDOWN, MK_RBUTTON | MK_LBUTTON, position(110, 20), 0, 0, 1, true, false, 0},
        {"panning does not turn", WM_MOUSEMOVE, MK_RBUTTON, position(130, 20), 0, 0, 1, true, false, 0},
        {"button up releases", WM_RBUTTONUP, 0, position(130, 20), 0, 0, 0, false, false, 0},
        {"a move without a drag", WM_MOUSEMOVE, 0, position(-5, -7), 0, 0, 0, false, false, 0},
        {"the middle button pans too", WM_MBUTTONDOWN, MK_MBUTTON, position(-5, -7), 0, 0, 1, true, false, 0},
        {"without turning", WM_MOUSEMOVE, MK_MBUTTON, position(40, 30), 0, 0, 1, true, false, 0},
        {"and its release ends it", WM_MBUTTONUP, 0, position(40, 30), 0, 0, 0, false, false, 0},
        {"the left button's key turns", WM_KEYDOWN, VK_LBUTTON, 0, 0, 1, 0, true, false, 0},
        {"and its release ends it", WM_KEYUP, VK_LBUTTON, 0, 0, 0, 0, false, false, 0},
        {"the low byte decides: 0x102 pans", WM_KEYDOWN, 0x102, 0, 0, 0, 1, true, false, 0},
        {"and its release ends it", WM_KEYUP, 0x102, 0, 0, 0, 0, false, false, 0},
        {"other keys go to the parent", WM_KEYDOWN, VK_RIGHT, 0, 0, 0, 0, false, false, 1},
        {"a pan", WM_RBUTTONDOWN, MK_RBUTTON, position(5, 5), 0, 0, 1, true, false, 1},
        {"ends with the focus", WM_KILLFOCUS, 0, 0, 0, 0, 0, false, false, 1},
        {"every key is wanted", WM_GETDLGCODE, 0, 0, DLGC_WANTALLKEYS, 0, 0, false, false, 1},
    };
    GpuMesh mesh = meshWithBox(0, 0, 0, 2, 2, 1);
    installMesh(view, &mesh, true);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        int32_t yaw = copyOf(state->yaw);
        float panX = copyOf(state->pan[0]);
        EXPECT_EQ(SendMessageW(view, step.message, step.wParam, step.lParam), step.answer);
        // Exactly the moves of a pan drag move the model.
        EXPECT_EQ(copyOf(state->pan[0]) != panX, step.message == WM_MOUSEMOVE && step.panning);
        EXPECT_EQ(copyOf(state->rotating), step.rotating);
        EXPECT_EQ(copyOf(state->panning), step.panning);
        EXPECT_EQ(GetCapture() == view, step.captured);
        EXPECT_EQ(copyOf(state->yaw) != yaw, step.turned);
        EXPECT_EQ(parentLog.received.size(), step.parentKeys);
        if (step.message == WM_KEYDOWN && step.wParam == VK_LBUTTON) {  // from the client origin
            EXPECT_EQ(copyOf(state->lastMouseX), 0);
            EXPECT_EQ(copyOf(state->lastMouseY), 0);
        }
    }
    EXPECT_EQ(parentLog.received[0].wParam, WPARAM(VK_RIGHT));
    // The parent's answer is the view's: -1 for a key nobody used.
    parentLog.keyAnswer = -1;
    EXPECT_EQ(SendMessageW(view, WM_KEYDOWN, 'A', 0), -1);
    clearMeshes(view);
}

// Once a full frame was slow, frames drawn while the user drags take a
// cheaper form (by state, not by time); releasing the button asks for one
// full frame again.
TEST_F(ViewWindow, AfterASlowFrameDragFramesAreCheaperAndAFullOneFollows) {
    GpuMesh mesh = meshWithBox(0, 0, 0, 2, 2, 1);
    installMesh(view, &mesh, true);
    ASSERT_TRUE(pumpUntil([&] { return ensureDevice(state, nullptr); }));
    // A frame the device takes long over (a loaded machine) is shown later by
    // the frame timer: the form is the one the frame was drawn in.
    auto paintNow = [&] {
        InvalidateRect(view, nullptr, FALSE);
        UpdateWindow(view);
        return copyOf(state->frameForm);
    };
    auto shown = [&] { return !copyOf(state->frameInFlight); };
    EXPECT_EQ(paintNow(), kFormFull);
    ASSERT_TRUE(pumpUntil(shown));
    FramePacing slow = state->pacing;
    slow.lastMs[kFormFull] = 5000;
    state->pacing = slow;
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(10, 10));
    SendMessageW(view, WM_MOUSEMOVE, MK_LBUTTON, position(30, 10));
    EXPECT_NE(paintNow(), kFormFull);
    ASSERT_TRUE(pumpUntil(shown));
    SendMessageW(view, WM_LBUTTONUP, 0, position(30, 10));
    EXPECT_TRUE(needsPaint(view));
    EXPECT_EQ(paintNow(), kFormFull);
    ASSERT_TRUE(pumpUntil(shown));
    // A wheel notch counts as moving until the wheel rests. The test says
    // when it rests: on a loaded machine the wheel's own timer could come
    // before the cheaper frame is shown, and nothing would be left to check.
    state->pacing = slow;
    SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    KillTimer(view, kWheelTimerId);
    EXPECT_TRUE(viewIsMoving(state));
    EXPECT_NE(paintNow(), kFormFull);
    ASSERT_TRUE(pumpUntil(shown));
    EXPECT_NE(copyOf(state->pacing.shownForm), kFormFull);
    EXPECT_FALSE(needsPaint(view));
    SendMessageW(view, WM_TIMER, kWheelTimerId, 0);
    EXPECT_FALSE(viewIsMoving(state));
    EXPECT_TRUE(needsPaint(view));
    EXPECT_EQ(paintNow(), kFormFull);
    ASSERT_TRUE(pumpUntil(shown));
    EXPECT_EQ(copyOf(state->pacing.shownForm), kFormFull);
    clearMeshes(view);
}

TEST_F(ViewWindow, AClickTakesTheFocusOnlyForATabStop) {
    const LPARAM click = MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN);
    EXPECT_EQ(SendMessageW(view, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(parent), click), MA_ACTIVATE);
    ASSERT_EQ(parentLog.received.size(), 1u);
    EXPECT_EQ(parentLog.received[0].message, UINT(WM_NEXTDLGCTL));
    EXPECT_EQ(parentLog.received[0].wParam, reinterpret_cast<WPARAM>(view));
    EXPECT_EQ(parentLog.received[0].lParam, 1);
    SetWindowLongW(view, GWL_STYLE, GetWindowLongW(view, GWL_STYLE) & ~WS_TABSTOP);
    SendMessageW(view, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(parent), click);
    EXPECT_EQ(parentLog.received.size(), 1u);
}

TEST_F(ViewWindow, CursorIsHiddenWhileDraggingAndAnArrowOtherwise) {
    const LPARAM hit = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    EXPECT_EQ(SendMessageW(view, WM_SETCURSOR, reinterpret_cast<WPARAM>(view), hit), 1);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(5, 5));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_SIZEALL));
    EXPECT_EQ(SendMessageW(view, WM_SETCURSOR, reinterpret_cast<WPARAM>(view), hit), 1);
    EXPECT_EQ(GetCursor(), nullptr);
    SendMessageW(view, WM_LBUTTONUP, 0, position(5, 5));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(ViewWindow, ASizeWithAZeroExtentChangesNothingAndTheWheelZoomsWithAnyKeys) {
    ValidateRect(view, nullptr);
    SendMessageW(view, WM_SIZE, SIZE_RESTORED, position(0, 50));
    SendMessageW(view, WM_SIZE, SIZE_RESTORED, position(70, 0));
    EXPECT_EQ(copyOf(state->clientWidth), kViewWidth);
    EXPECT_EQ(copyOf(state->clientHeight), kViewHeight);
    EXPECT_FALSE(needsPaint(view));
    SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL | MK_SHIFT, WORD(-120)), position(300, 300));
    float zoom = copyOf(state->zoom);
    EXPECT_LT(zoom, 4.75f);
    EXPECT_TRUE(needsPaint(view));
    setFlipZoom(view, true);  // the other way round: the wheel turned up zooms out
    SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    EXPECT_LT(copyOf(state->zoom), zoom);
}

TEST_F(ViewWindow, AClickStopsARotationUnlessAlwaysRotateIsOn) {
    startRotation(view);
    ASSERT_NE(copyOf(state->rotationStamp), 0);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(5, 5));
    SendMessageW(view, WM_LBUTTONUP, 0, position(5, 5));
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    EXPECT_FALSE(KillTimer(view, kRotationTimerId));
    SendMessageW(view, WM_TIMER, kRotationTimerId, 0);  // a late message after the stop
    EXPECT_EQ(copyOf(state->rotationStamp), 0);

    setAlwaysRotate(view, true);
    ASSERT_NE(copyOf(state->rotationStamp), 0);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(5, 5));
    EXPECT_NE(copyOf(state->rotationStamp), 0);
    SendMessageW(view, WM_LBUTTONUP, 0, position(5, 5));
    setAlwaysRotate(view, false);
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    EXPECT_FALSE(KillTimer(view, kRotationTimerId));
}

TEST_F(ViewWindow, OnlyAFirstPartStartsTheRotationAndRepaintsAndColoursGoToTheirSlots) {
    state->alwaysRotate = 1;  // as if the setting were on before any timer ran
    GpuMesh meshes[2] = {meshWithBox(0, 0, 0, 1, 1, 1), meshWithBox(1, 0, 0, 2, 1, 1)};
    ValidateRect(view, nullptr);
    installMesh(view, &meshes[1], false);
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    EXPECT_FALSE(needsPaint(view));  // the dialog repaints after the last part
    clearMeshes(view);
    ValidateRect(view, nullptr);
    installMesh(view, &meshes[0], true);
    EXPECT_NE(copyOf(state->rotationStamp), 0);
    EXPECT_TRUE(needsPaint(view));
    installMesh(view, &meshes[1], false);
    setMeshColor(view, 0xFF0000FF, 1);
    EXPECT_EQ(meshes[1].color, 0xFF0000FFu);
    setMeshColor(view, 0xFF00FF00, 5);  // no such slot
    setMeshColor(view, 0xFF00FF00, 2);  // empty slot
    // Into a full set of slots a part is refused, and the lock is left free.
    for (int i = 0; i < 4; ++i) installMesh(view, &meshes[1], false);
    EXPECT_EQ(copyOf(state->lock), 0);
    clearMeshes(view);
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(copyOf(state->meshes[i]), nullptr);
    setMeshColor(view, 0xFF00FF00, 0);
    EXPECT_EQ(meshes[0].color, 0xFFFFFFFFu);
    EXPECT_EQ(meshes[1].color, 0xFF0000FFu);
}

TEST_F(ViewWindow, DestructionFreesTheStateAndOtherWindowsAreLeftAlone) {
    GpuMesh mesh = meshWithBox(0, 0, 0, 1, 1, 1);
    installMesh(view, &mesh, true);
    DestroyWindow(view);
    EXPECT_EQ(viewStateOf(view), nullptr);
    EXPECT_EQ(viewStateOf(parent), nullptr);
    setYUp(view, true);
    clearMeshes(view);
    setYUp(parent, false);
}

// Registering the class twice reports the system's error; a view whose
// state cannot be allocated is not made.
TEST(ViewClass, FailuresAreReportedOrRefuseTheWindow) {
    ASSERT_TRUE(registerClassesOnce());
    RecordingSink sink;
    EXPECT_FALSE(registerViewClass(GetModuleHandleW(nullptr), &sink.sink));
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kSystemError);
    EXPECT_EQ(sink.received[0].argument, uintptr_t(ERROR_CLASS_ALREADY_EXISTS));
    HeapFailureGuard guard(0);
    HWND view = CreateWindowExW(0, L"STLView", L"", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, GetModuleHandleW(nullptr),
                                nullptr);
    EXPECT_EQ(view, nullptr);
    if (view) DestroyWindow(view);
}

}  // namespace
