// Helpers shared by the tests of the view, its camera and its device.
#pragma once
#include <cstddef>
#include <cstring>

#include "view/gpu_mesh.h"

// Fields of packed records may sit on odd addresses and cannot bind to the
// references the assertions take: compare copies.
template <typename T>
T copyOf(T value) {
    return value;
}

// Element `index` of a packed float array.
inline float packedFloat(const void* base, int index) {
    float value;
    memcpy(&value, static_cast<const char*>(base) + index * sizeof(float), sizeof value);
    return value;
}

// A white mesh in metres with only its box set.
inline GpuMesh meshWithBox(float x0, float y0, float z0, float x1, float y1, float z1) {
    GpuMesh mesh;
    memset(&mesh, 0, sizeof mesh);
    float boxMin[3] = {x0, y0, z0};
    float boxMax[3] = {x1, y1, z1};
    memcpy(reinterpret_cast<char*>(&mesh) + offsetof(GpuMesh, boundsMin), boxMin, sizeof boxMin);
    memcpy(reinterpret_cast<char*>(&mesh) + offsetof(GpuMesh, boundsMax), boxMax, sizeof boxMax);
    mesh.color = 0xFFFFFFFF;
    mesh.unitScale = 1.0f;
    return mesh;
}

#ifdef _WIN32
#include <gtest/gtest.h>

#include <vector>

#include "tests/test_files.h"
#include "view/view_control.h"
#include "view/view_lookup.h"

namespace view_test {

constexpr int kViewWidth = 240;
constexpr int kViewHeight = 160;

// The messages a view passed up to the parent, which answers keys with keyAnswer.
struct ParentLog {
    std::vector<MSG> received;
    LRESULT keyAnswer = 0;  // used, as a window answers
};
inline ParentLog parentLog;

inline LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_NEXTDLGCTL && message != WM_KEYDOWN) return DefWindowProcW(window, message, wParam, lParam);
    parentLog.received.push_back({window, message, wParam, lParam});
    return message == WM_KEYDOWN ? parentLog.keyAnswer : 0;
}

inline bool registerClassesOnce() {
    static bool registered = [] {
        WNDCLASSEXW parent = {sizeof parent};
        parent.lpfnWndProc = parentProc;
        parent.hInstance = GetModuleHandleW(nullptr);
        parent.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        parent.lpszClassName = L"ViewTestParent";
        return RegisterClassExW(&parent) != 0 && registerViewClass(parent.hInstance, nullptr);
    }();
    return registered;
}

// A view in a parent that lives as long as the suite: under Wine every
// top-level window costs time.
struct ViewWindow : testing::Test {
    static inline HWND parent = nullptr;
    HWND view = nullptr;
    ViewState* state = nullptr;

    static void SetUpTestSuite() {
        if (registerClassesOnce())
            parent = CreateWindowExW(0, L"ViewTestParent", L"view test", WS_POPUP | WS_VISIBLE, 20, 20, 400, 300,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    static void TearDownTestSuite() {
        if (parent) DestroyWindow(parent);
        parent = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(parent, nullptr);
        parentLog = ParentLog();
        view = CreateWindowExW(0, L"STLView", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, kViewWidth, kViewHeight,
                               parent, reinterpret_cast<HMENU>(16), GetModuleHandleW(nullptr), nullptr);
        state = viewStateOf(view);
        ASSERT_NE(state, nullptr);
    }
    void TearDown() override {
        if (IsWindow(view)) {
            clearMeshes(view);
            DestroyWindow(view);
        }
        pumpMessages();
    }
};

}  // namespace view_test
#endif
