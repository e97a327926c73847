// The main window on a screen of 144 DPI (its Wine prefix says so in
// HKCU\Control Panel\Desktop\LogPixels): everything 1.5 times its 96-DPI size,
// every text inside its control, the view filling its place, check boxes and
// icons drawn for the density, a placement stored at 96 DPI coming back.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/dialog_layout.h"
#include "app/main_dialog.h"
#include "app/open_files.h"
#include "app/preferences.h"
#include "tests/test_files.h"
#include "view/device_work.h"
#include "view/view_control.h"

namespace {

#ifdef STLV_EXPECTED_DPI
constexpr int kExpectedDpi = STLV_EXPECTED_DPI;
#else
constexpr int kExpectedDpi = 0;  // whatever the screen has
#endif

std::wstring textOf(HWND window) {
    wchar_t text[300];
    return std::wstring(text, SendMessageW(window, WM_GETTEXT, 300, reinterpret_cast<LPARAM>(text)));
}

RECT placeIn(HWND dialog, HWND control) {
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// The extent the text takes in the control's own font: on one line, or
// wrapped at wrapWidth.
RECT textExtent(HWND control, const std::wstring& text, int wrapWidth = 0) {
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT extent{0, 0, wrapWidth, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_NOPREFIX | (wrapWidth ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent;
}

int textWidth(HWND control, const std::wstring& text) {
    return textExtent(control, text).right;
}

int fontHeight(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfHeight;
}

class HighDpiWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The program's manifest does this; a test executable has none.
        using SetAwareness = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
        auto setAwareness = reinterpret_cast<SetAwareness>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
        if (setAwareness) setAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
        INITCOMMONCONTROLSEX controls{sizeof controls, 0x402F};
        InitCommonControlsEx(&controls);
        registerViewClass(GetModuleHandleW(nullptr), nullptr);
        state_ = static_cast<MainDialogState*>(calloc(1, sizeof(MainDialogState)));
        dialog_ = createMainDialog(GetModuleHandleW(nullptr), state_);
        SetWindowPos(dialog_, nullptr, 0, 0, 1350, 975, SWP_NOZORDER);
        ShowWindow(dialog_, SW_SHOW);
    }
    // The dialogs' devices may still be in the making; the process must not end inside the driver.
    static void TearDownTestSuite() { EXPECT_TRUE(awaitDeviceWork(30000)); }
    static inline MainDialogState* state_ = nullptr;
    static inline HWND dialog_ = nullptr;
    TempFolder folder_;
};

TEST_F(HighDpiWindow, ControlsAreTheir96DpiSelvesScaledAndEveryTextFits) {
    int dpi = state_->panel.dpi;
    if (kExpectedDpi) ASSERT_EQ(dpi, kExpectedDpi);
    ASSERT_GT(dpi, 0);
    folder_.write("part.stl", binaryStl(cubeTriangles(), "part"));
    openFiles(state_, folderList(folder_.directory(), {"part.stl"}).get(), true, nullptr);
    ASSERT_TRUE(pumpUntil([] { return state_->navigation.currentJob == nullptr && state_->model.parts[0].heap; }, 30000, dialog_));
    HWND view = GetDlgItem(dialog_, kViewId);
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }, 30000, dialog_));

    RECT client;
    GetClientRect(dialog_, &client);
    ControlPlace at96[kMaxControlPlaces];
    // With the lines wrapped as the window wraps them (the facts line's weight may take a second).
    PanelContent content{1, {}};
    memcpy(content.lines, state_->panel.lines, sizeof content.lines);
    int count = layoutPlaces(MulDiv(client.right, 96, dpi), MulDiv(client.bottom, 96, dpi), 96, content, at96);
    for (int k = 0; k < count; ++k) {
        const ControlPlace& small = at96[k];
        if (small.id > kFirstSwatchId && small.id < kFirstSwatchId + kMaxParts) continue;  // hidden
        SCOPED_TRACE(small.id);
        RECT place = placeIn(dialog_, GetDlgItem(dialog_, small.id));
        // The view's extents add up to four rounded lengths: within 4 pixels.
        EXPECT_NEAR(place.left, MulDiv(small.x, dpi, 96), 4);
        EXPECT_NEAR(place.top, MulDiv(small.y, dpi, 96), 4);
        EXPECT_NEAR(place.right - place.left, MulDiv(small.width, dpi, 96), 4);
        // A closed drop-down list takes the height its font needs.
        if (small.id != kSpaceComboId && small.id != kColorsComboId && small.id != kUnitComboId)
            EXPECT_NEAR(place.bottom - place.top, MulDiv(small.height, dpi, 96), 4);
        if (small.id > kProgressId) EXPECT_EQ(fontHeight(GetDlgItem(dialog_, small.id)), -MulDiv(8, dpi, 72));
    }

    // The lines that come with a use: the surface check, two points picked
    // (the longest measure line), a section.
    HWND checkLine = GetDlgItem(dialog_, kCheckLineId);
    ASSERT_TRUE(pumpUntil([&] { return !textOf(checkLine).empty(); }, 30000, dialog_));
    SendMessageW(dialog_, WM_COMMAND, kCommandMeasure, 0);
    RECT viewArea;
    GetClientRect(view, &viewArea);
    for (int dx : {0, 12}) {
        LPARAM at = MAKELPARAM(viewArea.right / 2 + dx, viewArea.bottom / 2 - dx);
        SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(view, WM_LBUTTONUP, 0, at);
    }
    ASSERT_TRUE(textOf(GetDlgItem(dialog_, kMeasureLineId)).starts_with(L"Distance: "));
    SendMessageW(dialog_, WM_COMMAND, kCommandSection, 0);
    pumpUntil([] { return false; }, 200, dialog_);  // the layout follows the new lines

    // Texts in their controls' fonts. The check box draws its box and a gap before the text.
    const int boxAndGap = GetSystemMetrics(SM_CXMENUCHECK) * dpi / 96 + MulDiv(6, dpi, 96);
    struct Text {
        int id;
        int room;  // taken from the control's width
    };
    for (Text text : {Text{kKindLineId, 0}, {kSizeLineId, 0}, {kFactsLineId, 0}, {kSpaceLabelId, 0},
                      {kColorsLabelId, 0}, {kMaterialCheckId, boxAndGap}, {kHintId, 0}, {kCheckLineId, 0},
                      {kMeasureLineId, 0}, {kSectionLineId, 0}}) {
        HWND control = GetDlgItem(dialog_, text.id);
        std::wstring shown = textOf(control);
        SCOPED_TRACE(testing::Message() << text.id << " \"" << std::string(shown.begin(), shown.end()) << "\"");
        RECT inside;
        GetClientRect(control, &inside);
        if (text.id != kHintId) EXPECT_FALSE(shown.empty());
        if (text.id == kMeasureLineId || text.id == kFactsLineId || text.id == kCheckLineId) {  // two lines
            EXPECT_LE(textExtent(control, shown, inside.right).bottom, inside.bottom);
            continue;
        }
        EXPECT_LE(textWidth(control, shown), inside.right - text.room);
        TEXTMETRICW metrics;
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        EXPECT_LE(metrics.tmHeight, inside.bottom);
    }
    for (int combo : {kSpaceComboId, kColorsComboId}) {
        HWND box = GetDlgItem(dialog_, combo);
        COMBOBOXINFO parts{sizeof parts};
        ASSERT_TRUE(GetComboBoxInfo(box, &parts));
        for (int item = 0; item < 2; ++item) {
            wchar_t name[32];
            SendMessageW(box, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(name));
            EXPECT_LE(textWidth(box, name), parts.rcItem.right - parts.rcItem.left) << combo;
        }
    }

    // The view takes its whole place, drawn edge to edge.
    RECT viewPlace = placeIn(dialog_, view);
    const ViewState* viewState = reinterpret_cast<const ViewState*>(GetWindowLongPtrW(view, GWLP_USERDATA));
    EXPECT_EQ(viewState->clientWidth, viewPlace.right - viewPlace.left);
    EXPECT_EQ(viewState->clientHeight, viewPlace.bottom - viewPlace.top);
    HDC screen = GetDC(nullptr);
    RECT onScreen;
    GetWindowRect(view, &onScreen);
    int width = onScreen.right - onScreen.left, height = onScreen.bottom - onScreen.top;
    std::vector<uint32_t> pixels = capturePixels(screen, onScreen.left, onScreen.top, width, height);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(pixels.size(), size_t(width) * height);
    uint32_t background = pixels[size_t(height / 2) * width + 1];
    for (auto [x, y] : {std::pair{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}})
        EXPECT_EQ(pixels[size_t(y) * width + x], background) << x << "," << y;
}

// The tree's check boxes and the window's icons are drawn for the density,
// at the start and again when the window reaches a monitor of another.
TEST_F(HighDpiWindow, CheckBoxesAndIconsFollowTheDensity) {
    auto iconWidth = [](HWND window, WPARAM kind) {
        ICONINFO info{};
        HICON icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, kind, 0));
        if (!icon || !GetIconInfo(icon, &info)) return 0;
        BITMAP bitmap{};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        return int(bitmap.bmWidth);
    };
    HWND tree = GetDlgItem(dialog_, kTreeId);
    RECT frame;
    GetWindowRect(dialog_, &frame);
    int start = state_->panel.dpi;
    for (int dpi : {start, 192, 96, start}) {
        SCOPED_TRACE(dpi);
        if (dpi != state_->panel.dpi) SendMessageW(dialog_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
        int width = 0, height = 0;
        HIMAGELIST boxes = reinterpret_cast<HIMAGELIST>(SendMessageW(tree, TVM_GETIMAGELIST, TVSIL_STATE, 0));
        ASSERT_TRUE(boxes && ImageList_GetIconSize(boxes, &width, &height));
        EXPECT_EQ(width, MulDiv(16, dpi, 96));
        EXPECT_EQ(height, MulDiv(16, dpi, 96));
        EXPECT_EQ(ImageList_GetImageCount(boxes), 3);
        EXPECT_EQ(iconWidth(dialog_, ICON_SMALL), MulDiv(16, dpi, 96));
        EXPECT_EQ(iconWidth(dialog_, ICON_BIG), MulDiv(32, dpi, 96));
    }
}

// A placement stored at 96 DPI comes back at 144 as it was stored, in
// pixels, with fonts for 144; one from a monitor that is gone comes back
// onto the screen with its size.
TEST_F(HighDpiWindow, AStoredPlacementComesBackInPixelsAndOnScreen) {
    const struct {
        const char* what;
        RECT stored;
        bool samePlace;
    } rows[] = {
        {"on the screen", {40, 30, 940, 680}, true},
        {"on a monitor that is gone", {2600, 100, 3500, 750}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto* state = static_cast<MainDialogState*>(calloc(1, sizeof(MainDialogState)));
        const wchar_t* paths[2] = {L"Software\\Veldmark tests\\placement", L"Software\\Veldmark tests\\maker"};
        for (int slot : {kApplicationKey, kMakerKey})
            RegCreateKeyExW(HKEY_CURRENT_USER, paths[slot], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &state->preferences.keys[slot], nullptr);
        WINDOWPLACEMENT placement{sizeof placement, 0, SW_SHOWNORMAL, {-1, -1}, {-1, -1}, row.stored};
        ASSERT_EQ(RegSetValueExW(state->preferences.keys[kApplicationKey], L"Placement", 0, REG_BINARY,
                                 reinterpret_cast<const BYTE*>(&placement), sizeof placement),
                  ERROR_SUCCESS);
        HWND dialog = createMainDialog(GetModuleHandleW(nullptr), state);
        ASSERT_NE(dialog, nullptr);
        if (kExpectedDpi) EXPECT_EQ(state->panel.dpi, kExpectedDpi);
        RECT frame;
        GetWindowRect(dialog, &frame);
        EXPECT_EQ(frame.right - frame.left, row.stored.right - row.stored.left);
        EXPECT_EQ(frame.bottom - frame.top, row.stored.bottom - row.stored.top);
        if (row.samePlace) {
            EXPECT_EQ(frame.left, row.stored.left);
            EXPECT_EQ(frame.top, row.stored.top);
        }
        EXPECT_NE(MonitorFromRect(&frame, MONITOR_DEFAULTTONULL), nullptr);
        EXPECT_EQ(fontHeight(GetDlgItem(dialog, kFactsLineId)), -MulDiv(8, state->panel.dpi, 72));
        for (HKEY key : state->preferences.keys) RegDeleteTreeW(key, nullptr);
    }
}

// Keys and mouse at this density: inside the screen's work area, resizable,
// both columns whole, and every row shown unless the work area is too low,
// when the window takes its whole height and the list scrolls.
struct KeyHelpSeen {
    bool found, inside, resizable, columnsFit, everyRowOrFullHeight;
};
KeyHelpSeen keyHelpSeen;

void CALLBACK readAndCloseKeyHelpAtDensity(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND window = FindWindowW(L"#32770", L"Keys and mouse");
    if (!window) return;
    KillTimer(nullptr, timer);
    HWND list = GetDlgItem(window, 100);
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(list, &client);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    int columns = 0;
    for (int column = 0; column < 2; ++column) columns += int(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    int rows = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int shown = int(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    keyHelpSeen = {true,
                   frame.left >= work.left && frame.top >= work.top && frame.right <= work.right &&
                       frame.bottom <= work.bottom,
                   (GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME) != 0, columns <= client.right,
                   rows > 0 && (shown >= rows || frame.bottom - frame.top == work.bottom - work.top)};
    PostMessageW(window, WM_COMMAND, IDOK, 0);
}

TEST_F(HighDpiWindow, KeysAndMouseFitsTheScreenWithWholeColumns) {
    SetTimer(nullptr, 0, 100, readAndCloseKeyHelpAtDensity);
    runCommand(state_, kCommandKeysAndMouse, 0);
    ASSERT_TRUE(keyHelpSeen.found);
    EXPECT_TRUE(keyHelpSeen.inside);
    EXPECT_TRUE(keyHelpSeen.resizable);
    EXPECT_TRUE(keyHelpSeen.columnsFit);
    EXPECT_TRUE(keyHelpSeen.everyRowOrFullHeight);
}

}  // namespace
