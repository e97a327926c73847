// A real "STLView" window on the display: messages in, state and pixels out.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "core/memory.h"
#include "view/camera.h"
#include "view/gpu_mesh.h"
#include "view/view_control.h"
#include "tests/sink_recorder.h"
#include "tests/view_test_support.h"

namespace {

const wchar_t kParentClass[] = L"ViewTestParent";

// What the parent saw of the messages the view passes up.
struct ParentLog {
    int nextControlCount = 0;
    WPARAM nextControlWParam = 0;
    LPARAM nextControlLParam = 0;
    int keyCount = 0;
    WPARAM lastKey = 0;
    LRESULT keyAnswer = 1;
};
ParentLog parentLog;

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NEXTDLGCTL:
        ++parentLog.nextControlCount;
        parentLog.nextControlWParam = wParam;
        parentLog.nextControlLParam = lParam;
        return 0;
    case WM_KEYDOWN:
        ++parentLog.keyCount;
        parentLog.lastKey = wParam;
        return parentLog.keyAnswer;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool registerClassesOnce() {
    static bool registered = [] {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW parent = {};
        parent.cbSize = sizeof parent;
        parent.lpfnWndProc = parentProc;
        parent.hInstance = instance;
        parent.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        parent.lpszClassName = kParentClass;
        return RegisterClassExW(&parent) != 0 && registerViewClass(instance, nullptr);
    }();
    return registered;
}

LPARAM position(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

WPARAM wheel(int distance, WORD keys = 0) {
    return MAKEWPARAM(keys, static_cast<WORD>(static_cast<int16_t>(distance)));
}

void drainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

constexpr int kViewWidth = 240;
constexpr int kViewHeight = 160;

// One parent for the whole suite: under Wine each top-level window costs seconds.
struct ViewWindow : ::testing::Test {
    static HWND parent;
    HWND view = nullptr;
    ViewState* state = nullptr;

    static void SetUpTestSuite() {
        if (!registerClassesOnce()) return;
        parent = CreateWindowExW(0, kParentClass, L"view test", WS_POPUP | WS_VISIBLE, 20, 20, 400, 300, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    }

    static void TearDownTestSuite() {
        if (parent) DestroyWindow(parent);
        parent = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(registerClassesOnce());
        ASSERT_NE(parent, nullptr);
        parentLog = ParentLog();
        view = CreateWindowExW(0, L"STLView", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, kViewWidth,
                               kViewHeight, parent, reinterpret_cast<HMENU>(16), GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(view, nullptr);
        state = viewStateOf(view);
        ASSERT_NE(state, nullptr);
    }

    void TearDown() override {
        if (IsWindow(view)) DestroyWindow(view);
        drainMessages();
    }

    float pan(int axis) const { return packedFloat(state->pan, axis); }
};

HWND ViewWindow::parent = nullptr;

}  // namespace

TEST_F(ViewWindow, CreationWiresTheStateAndSizeWithAZeroExtentChangesNothing) {
    EXPECT_EQ(copyOf(state->window), static_cast<void*>(view));
    MoveWindow(view, 10, 10, 300, 200, TRUE);
    EXPECT_EQ(copyOf(state->clientWidth), 300);
    EXPECT_EQ(copyOf(state->clientHeight), 200);
    ValidateRect(view, nullptr);
    SendMessageW(view, WM_SIZE, SIZE_RESTORED, position(0, 50));
    SendMessageW(view, WM_SIZE, SIZE_RESTORED, position(70, 0));
    EXPECT_EQ(copyOf(state->clientWidth), 300);
    EXPECT_EQ(copyOf(state->clientHeight), 200);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));
    SendMessageW(view, WM_SIZE, SIZE_RESTORED, position(70, 50));
    EXPECT_EQ(copyOf(state->clientWidth), 70);
    EXPECT_TRUE(GetUpdateRect(view, &update, FALSE));
}

TEST_F(ViewWindow, LeftDragTurnsWithTheMouseCapturedAndReleased) {
    EXPECT_EQ(SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(10, 20)), 0);
    EXPECT_EQ(copyOf(state->rotating), 1);
    EXPECT_EQ(copyOf(state->panning), 0);
    EXPECT_EQ(GetCapture(), view);
    SendMessageW(view, WM_MOUSEMOVE, MK_LBUTTON, position(110, 20));
    EXPECT_NEAR(copyOf(state->yaw) / double(kDegreeUnits), -48.25, 0.01);
    EXPECT_EQ(copyOf(state->pitch), 0);
    EXPECT_EQ(SendMessageW(view, WM_LBUTTONUP, 0, position(110, 20)), 0);
    EXPECT_EQ(copyOf(state->rotating), 0);
    EXPECT_EQ(GetCapture(), nullptr);
    // Without a drag a move only records the position.
    int32_t yaw = copyOf(state->yaw);
    SendMessageW(view, WM_MOUSEMOVE, 0, position(-5, -7));
    EXPECT_EQ(copyOf(state->yaw), yaw);
    EXPECT_EQ(copyOf(state->lastMouseX), -5);
    EXPECT_EQ(copyOf(state->lastMouseY), -7);
}

TEST_F(ViewWindow, ANewButtonReplacesTheOtherDrag) {
    float zero[3] = {0, 0, 0};
    setViewAngles(view, zero, 0, 0);
    GpuMesh mesh = meshWithBox(0, 0, 0, 2, 2, 1);
    installMesh(view, &mesh, true);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(1, 1));
    SendMessageW(view, WM_RBUTTONDOWN, MK_RBUTTON | MK_LBUTTON, position(2, 2));
    EXPECT_EQ(copyOf(state->rotating), 0);
    EXPECT_EQ(copyOf(state->panning), 1);
    SendMessageW(view, WM_MOUSEMOVE, MK_RBUTTON, position(22, 2));
    EXPECT_NE(pan(0), 0.0f);
    EXPECT_EQ(copyOf(state->yaw), 0);
    SendMessageW(view, WM_RBUTTONUP, 0, position(22, 2));
    EXPECT_EQ(copyOf(state->panning), 0);
    clearMeshes(view);
}

TEST_F(ViewWindow, KeyDownOfTheLeftButtonKeyDragsFromTheClientOrigin) {
    SendMessageW(view, WM_MOUSEMOVE, 0, position(100, 100));
    EXPECT_EQ(SendMessageW(view, WM_KEYDOWN, VK_LBUTTON, 0), 0);
    EXPECT_EQ(copyOf(state->rotating), 1);
    EXPECT_EQ(copyOf(state->lastMouseX), 0);
    EXPECT_EQ(copyOf(state->lastMouseY), 0);
    EXPECT_EQ(SendMessageW(view, WM_KEYUP, VK_LBUTTON, 0), 0);
    EXPECT_EQ(copyOf(state->rotating), 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(parentLog.keyCount, 0);

    // The low byte decides: 0x102 is key 2.
    EXPECT_EQ(SendMessageW(view, WM_KEYDOWN, 0x102, 0), 0);
    EXPECT_EQ(copyOf(state->panning), 1);
    EXPECT_EQ(SendMessageW(view, WM_KEYUP, 0x102, 0), 0);
    EXPECT_EQ(copyOf(state->panning), 0);
}

TEST_F(ViewWindow, OtherKeysGoToTheParent) {
    parentLog.keyAnswer = 1;
    EXPECT_EQ(SendMessageW(view, WM_KEYDOWN, VK_RIGHT, 0), 0);
    EXPECT_EQ(parentLog.keyCount, 1);
    EXPECT_EQ(parentLog.lastKey, WPARAM(VK_RIGHT));
    parentLog.keyAnswer = 0;
    EXPECT_EQ(SendMessageW(view, WM_KEYDOWN, 'A', 0), -1);
    EXPECT_EQ(parentLog.keyCount, 2);
    EXPECT_EQ(copyOf(state->rotating), 0);
}

TEST_F(ViewWindow, WantsAllKeysAndTakesTheFocusOnClick) {
    EXPECT_EQ(SendMessageW(view, WM_GETDLGCODE, 0, 0), DLGC_WANTALLKEYS);
    EXPECT_EQ(SendMessageW(view, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(parent), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
              MA_ACTIVATE);
    EXPECT_EQ(parentLog.nextControlCount, 1);
    EXPECT_EQ(parentLog.nextControlWParam, reinterpret_cast<WPARAM>(view));
    EXPECT_EQ(parentLog.nextControlLParam, 1);
    SetWindowLongW(view, GWL_STYLE, GetWindowLongW(view, GWL_STYLE) & ~WS_TABSTOP);
    SendMessageW(view, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(parent), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(parentLog.nextControlCount, 1);
}

TEST_F(ViewWindow, CursorIsHiddenWhileDraggingAndAnArrowOtherwise) {
    EXPECT_EQ(SendMessageW(view, WM_SETCURSOR, reinterpret_cast<WPARAM>(view), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(5, 5));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_SIZEALL));
    EXPECT_EQ(SendMessageW(view, WM_SETCURSOR, reinterpret_cast<WPARAM>(view), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
    EXPECT_EQ(GetCursor(), nullptr);
    SendMessageW(view, WM_LBUTTONUP, 0, position(5, 5));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(ViewWindow, LosingTheFocusEndsTheDrag) {
    SendMessageW(view, WM_RBUTTONDOWN, MK_RBUTTON, position(5, 5));
    ASSERT_EQ(GetCapture(), view);
    SendMessageW(view, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(copyOf(state->panning), 0);
    EXPECT_EQ(copyOf(state->rotating), 0);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(ViewWindow, WheelZoomsWhateverTheModifierKeys) {
    ValidateRect(view, nullptr);
    SendMessageW(view, WM_MOUSEWHEEL, wheel(-120), position(300, 300));
    float plain = copyOf(state->zoom);
    EXPECT_LT(plain, 4.75f);
    RECT update;
    EXPECT_TRUE(GetUpdateRect(view, &update, FALSE));
    state->zoom = 4.75f;
    SendMessageW(view, WM_MOUSEWHEEL, wheel(-120, MK_CONTROL | MK_SHIFT), 0);
    EXPECT_EQ(copyOf(state->zoom), plain);
    state->zoom = 4.75f;
    setFlipZoom(view, true);
    SendMessageW(view, WM_MOUSEWHEEL, wheel(120), 0);
    EXPECT_EQ(copyOf(state->zoom), plain);
}

// Each rotation timer message turns by the counter distance since the last:
// the steps telescope to the ticks between the first and last stamps.
TEST_F(ViewWindow, RotationTimerTurnsByTheCounterDistance) {
    startRotation(view);
    int64_t start = copyOf(state->rotationStamp);
    ASSERT_NE(start, 0);
    startRotation(view);
    EXPECT_EQ(copyOf(state->rotationStamp), start);  // already running
    for (int i = 0; i < 3; ++i) SendMessageW(view, WM_TIMER, kRotationTimerId, 0);
    SendMessageW(view, WM_TIMER, kRotationTimerId + 1, 0);  // another timer
    int64_t last = copyOf(state->rotationStamp);
    EXPECT_GE(last, start);
    EXPECT_EQ(copyOf(state->yaw), rotatedYaw(0, start, last, copyOf(state->rotationRate)));
    clearMeshes(view);
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    EXPECT_FALSE(KillTimer(view, kRotationTimerId));
    SendMessageW(view, WM_TIMER, kRotationTimerId, 0);  // a late message after the stop
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
}

TEST_F(ViewWindow, AClickStopsARotationUnlessAlwaysRotateIsOn) {
    startRotation(view);
    ASSERT_NE(copyOf(state->rotationStamp), 0);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(5, 5));
    SendMessageW(view, WM_LBUTTONUP, 0, position(5, 5));
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    EXPECT_FALSE(KillTimer(view, kRotationTimerId));

    setAlwaysRotate(view, true);
    EXPECT_EQ(copyOf(state->alwaysRotate), 1);
    ASSERT_NE(copyOf(state->rotationStamp), 0);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, position(5, 5));
    EXPECT_NE(copyOf(state->rotationStamp), 0);
    SendMessageW(view, WM_LBUTTONUP, 0, position(5, 5));
    setAlwaysRotate(view, false);
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    EXPECT_FALSE(KillTimer(view, kRotationTimerId));
}

TEST_F(ViewWindow, FirstMeshStartsTheRotationWhenAlwaysRotateIsOn) {
    setAlwaysRotate(view, true);
    setAlwaysRotate(view, false);
    state->alwaysRotate = 1;  // as if the setting were on before any timer ran
    ASSERT_EQ(copyOf(state->rotationStamp), 0);
    GpuMesh mesh = meshWithBox(0, 0, 0, 1, 1, 1);
    installMesh(view, &mesh, false);  // further parts never start it
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
    clearMeshes(view);
    installMesh(view, &mesh, true);
    EXPECT_NE(copyOf(state->rotationStamp), 0);
    clearMeshes(view);
    EXPECT_EQ(copyOf(state->rotationStamp), 0);
}

TEST_F(ViewWindow, OnlyTheFirstPartRepaintsAndColoursGoToTheirSlots) {
    GpuMesh meshes[2] = {meshWithBox(0, 0, 0, 1, 1, 1), meshWithBox(1, 0, 0, 2, 1, 1)};
    ValidateRect(view, nullptr);
    installMesh(view, &meshes[0], true);
    RECT update;
    EXPECT_TRUE(GetUpdateRect(view, &update, FALSE));
    ValidateRect(view, nullptr);
    installMesh(view, &meshes[1], false);
    EXPECT_FALSE(GetUpdateRect(view, &update, FALSE));  // the dialog repaints after the last part
    setMeshColor(view, 0xFF0000FF, 1);
    EXPECT_EQ(meshes[1].color, 0xFF0000FFu);
    setMeshColor(view, 0xFF00FF00, 5);  // no such slot
    setMeshColor(view, 0xFF00FF00, 2);  // empty slot
    clearMeshes(view);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(copyOf(state->meshes[i]), nullptr);
    setMeshColor(view, 0xFF00FF00, 0);
    EXPECT_EQ(meshes[0].color, 0xFFFFFFFFu);
    EXPECT_EQ(meshes[1].color, 0xFF0000FFu);
    // Windows of other classes are left alone.
    EXPECT_EQ(viewStateOf(parent), nullptr);
    setYUp(parent, false);
}

TEST_F(ViewWindow, DestructionFreesTheState) {
    GpuMesh mesh = meshWithBox(0, 0, 0, 1, 1, 1);
    installMesh(view, &mesh, true);
    DestroyWindow(view);
    EXPECT_EQ(viewStateOf(view), nullptr);
    // Operations on a destroyed view do nothing.
    setYUp(view, true);
    clearMeshes(view);
}

TEST(ViewWindowCreation, FailsWhenTheStateCannotBeAllocated) {
    ASSERT_TRUE(registerClassesOnce());
    failHeapRequestsAfter(0);
    HWND view = CreateWindowExW(0, L"STLView", L"", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    failHeapRequestsAfter(-1);
    EXPECT_EQ(view, nullptr);
    if (view) DestroyWindow(view);
}

TEST(ViewClass, RegisteringTwiceReportsTheSystemError) {
    ASSERT_TRUE(registerClassesOnce());
    RecordingSink sink;
    EXPECT_FALSE(registerViewClass(GetModuleHandleW(nullptr), &sink.sink));
    ASSERT_EQ(sink.received.size(), 1u);
    EXPECT_EQ(sink.received[0].code, kSystemError);
    EXPECT_EQ(sink.received[0].argument, uintptr_t(ERROR_CLASS_ALREADY_EXISTS));
}
