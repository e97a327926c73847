// Drives the real main dialog in this process: template, layout, opening
// files, progress, hand-over and drops.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <string>

#include "app/commands.h"
#include "app/main_dialog.h"
#include "app/open_files.h"
#include "app/panel_glyphs.h"
#include "app/settings.h"
#include "test_files.h"
#include "view/view_control.h"
#include "view_test_support.h"

namespace {

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// One dialog for the whole suite, as in the program, which never destroys it
// (destroying a window under Wine on Xvfb also takes seconds).
class MainDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, 0x402F};
        InitCommonControlsEx(&controls);
        registerViewClass(GetModuleHandleW(nullptr), nullptr);
        sharedState = static_cast<MainDialogState*>(calloc(1, sizeof(MainDialogState)));
        sharedDialog = createMainDialog(GetModuleHandleW(nullptr), sharedState);
        SetWindowPos(sharedDialog, nullptr, 0, 0, 900, 650, SWP_NOZORDER);
        ShowWindow(sharedDialog, SW_SHOW);
    }

    void SetUp() override {
        state_ = sharedState;
        dialog_ = sharedDialog;
        ASSERT_NE(dialog_, nullptr);
    }

    void TearDown() override {
        // Let every job still running come back, then start the next test empty.
        pumpUntil([&] { return state_->currentJob == nullptr; }, 10000);
        pump(50);
        clearModel(state_);
        SetWindowTextW(dialog_, L"Veldmark STL Viewer");
    }

    static inline MainDialogState* sharedState = nullptr;
    static inline HWND sharedDialog = nullptr;

    template <typename Condition>
    bool pumpUntil(Condition done, DWORD milliseconds) {
        DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > milliseconds) return false;
            pump(5);
        }
        return true;
    }

    void pump(DWORD milliseconds) {
        DWORD start = GetTickCount();
        do {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                if (!IsDialogMessageW(dialog_, &message)) DispatchMessageW(&message);
            Sleep(1);
        } while (GetTickCount() - start < milliseconds);
    }

    HWND item(int id) const {
        return GetDlgItem(dialog_, id);
    }
    bool visible(int id) const {
        return (GetWindowLongW(item(id), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    std::wstring text(HWND window) const {
        wchar_t buffer[4096];
        int length = GetWindowTextW(window, buffer, 4096);
        return std::wstring(buffer, length);
    }

    void open(const std::string& path) {
        std::vector<Utf16> units = utf16Path(path);
        auto list = std::make_unique<FileNameList>();
        ASSERT_TRUE(makeFileNameList(units.data(), list.get()));
        openFiles(state_, list.get(), true, nullptr);
    }
    bool waitUntilShown() {
        return pumpUntil([&] { return state_->currentJob == nullptr; }, 15000);
    }

    // The client rectangle of a control, in the dialog's client coordinates.
    RECT placeOf(int id) const {
        RECT rect;
        GetWindowRect(item(id), &rect);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }
    int dialogUnitsX(int units) const {
        return dialogUnitsToPixels(dialog_, units, 0).cx;
    }

    TempFolder folder_;
    MainDialogState* state_ = nullptr;
    HWND dialog_ = nullptr;
};

TEST_F(MainDialogTest, StartsEmptyWithTheProgressBarInTheViewsPlace) {
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer");
    EXPECT_TRUE(visible(kProgressId));
    EXPECT_FALSE(visible(kViewId));
    wchar_t className[32];
    const std::pair<int, const wchar_t*> classes[] = {
        {kViewId, L"STLView"}, {kProgressId, L"msctls_progress32"}, {kTreeId, L"SysTreeView32"},
        {kMessagesId, L"Edit"}, {kSpaceComboId, L"ComboBox"}, {kMaterialCheckId, L"Button"}};
    for (const auto& [id, name] : classes) {
        ASSERT_TRUE(GetClassNameW(item(id), className, 32)) << id;
        EXPECT_STREQ(className, name) << id;
    }
    EXPECT_EQ(GetDlgItem(dialog_, 18), nullptr);
    EXPECT_EQ(SendMessageW(item(kSpaceComboId), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageW(item(kSpaceComboId), CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_TRUE(GetWindowLongW(item(kTreeId), GWL_STYLE) & TVS_CHECKBOXES);
    EXPECT_EQ(text(item(kSpaceLabelId)), L"Coordinate space:");
}

TEST_F(MainDialogTest, LoadsAFileAndShowsTheModel) {
    folder_.write("part.stl", binaryStl({unitTriangle(), unitTriangle(3)}, "Veldmark test part"));
    open(folder_.directory() + "part.stl");
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 part.stl");
    ASSERT_TRUE(waitUntilShown());
    EXPECT_TRUE(visible(kViewId));
    EXPECT_FALSE(visible(kProgressId));
    EXPECT_EQ(text(item(kPanelLine1Id)), L"Binary STL");
    std::wstring messages = text(item(kMessagesId));
    EXPECT_NE(messages.find(L"STL warning: unknown unit; assuming millimeters\r\n"), std::wstring::npos) << messages;
    EXPECT_NE(messages.find(L"file loaded successfully\r\n"), std::wstring::npos);
    EXPECT_EQ(SendMessageW(item(kSpaceComboId), CB_GETCURSEL, 0, 0), 1);  // Z up
    EXPECT_EQ(SendMessageW(item(kTreeId), TVM_GETCOUNT, 0, 0), 2);       // file and its solid
}

TEST_F(MainDialogTest, ASecondOpenWhileLoadingShowsOnlyTheSecondFile) {
    std::vector<TestTriangle> many(400000, unitTriangle());
    folder_.write("big.stl", binaryStl(many));
    folder_.write("small.stl", binaryStl({unitTriangle()}));
    open(folder_.directory() + "big.stl");
    LoadJob* first = state_->currentJob;
    ASSERT_NE(first, nullptr);
    open(folder_.directory() + "small.stl");
    EXPECT_NE(state_->currentJob, first);
    ASSERT_TRUE(waitUntilShown());
    pump(200);  // the superseded job's completion may come last
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 small.stl");
    EXPECT_EQ(usedPartCount(state_), 1);
    EXPECT_EQ(+state_->parts[0].mesh.solids[0].triangleCount, 1u);
}

TEST_F(MainDialogTest, ProgressShowsWholePercentRoundedHalfUp) {
    LoadJob* job = static_cast<LoadJob*>(calloc(1, sizeof(LoadJob)));
    const Utf16 line[] = L"STL warning: unexpected end of file\r\n";
    job->messages.data = const_cast<Utf16*>(line);
    job->messages.used = sizeof line;
    state_->currentJob = job;
    for (auto [thousandths, percent] : {std::pair{0, 0}, {4, 0}, {5, 1}, {994, 99}, {996, 100}, {1000, 100}}) {
        job->progress = thousandths;
        onProgressTimer(state_, kProgressTimer);
        EXPECT_EQ(SendMessageW(item(kProgressId), PBM_GETPOS, 0, 0), percent) << thousandths;
    }
    EXPECT_EQ(job->messages.used, 0u);
    EXPECT_EQ(text(item(kMessagesId)), L"STL warning: unexpected end of file\r\n");
    state_->currentJob = nullptr;
    free(job);
}

TEST_F(MainDialogTest, HandOverAcceptsOnlyItsOwnTag) {
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    std::wstring path = wide(folder_.directory() + "a.stl");
    COPYDATASTRUCT data{41, static_cast<DWORD>((path.size() + 1) * 2), path.data()};
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_EQ(state_->currentJob, nullptr);
    data.dwData = 42;
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 1);
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(state_), 1);
}

TEST_F(MainDialogTest, HandOverWithoutTerminatorIsNotReadPastItsBytes) {
    // The path's bytes end right at a page that cannot be read.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old);
    wchar_t* path = reinterpret_cast<wchar_t*>(pages + system.dwPageSize) - 8;
    for (int i = 0; i < 8; ++i) path[i] = L'a';
    COPYDATASTRUCT data{42, 16, path};
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 1);
    EXPECT_EQ(state_->currentJob, nullptr);
    VirtualFree(pages, 0, MEM_RELEASE);
}

HDROP makeDrop(const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const std::wstring& path : paths) units += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    wchar_t* out = reinterpret_cast<wchar_t*>(drop + 1);
    for (const std::wstring& path : paths) {
        memcpy(out, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        out += path.size() + 1;
    }
    *out = 0;
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TEST_F(MainDialogTest, DroppingThreeFilesOpensTheFirst) {
    for (const char* name : {"one.stl", "two.stl", "three.stl"}) folder_.write(name, binaryStl({unitTriangle()}));
    std::string dir = folder_.directory();
    HDROP drop = makeDrop({wide(dir + "one.stl"), wide(dir + "two.stl"), wide(dir + "three.stl")});
    SendMessageW(dialog_, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 one.stl");
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(state_), 1);
}

TEST(WindowTitle, NamesTheFileAfterTheLastSeparator) {
    wchar_t title[kTitleUnits];
    makeWindowTitle(L"C:\\models/parts\\gear.stl", title);
    EXPECT_STREQ(title, L"Veldmark STL Viewer \u2013 gear.stl");
    makeWindowTitle(L"/home/me/bracket.stl", title);
    EXPECT_STREQ(title, L"Veldmark STL Viewer \u2013 bracket.stl");
    makeWindowTitle(L"plain.stl", title);
    EXPECT_STREQ(title, L"Veldmark STL Viewer \u2013 plain.stl");
}

TEST(WindowTitle, LongNamesAreCutTo255UnitsWithAnEllipsis) {
    wchar_t title[kTitleUnits];
    std::wstring name(300, L'n');
    makeWindowTitle((L"C:\\" + name).c_str(), title);
    std::wstring result(title);
    ASSERT_EQ(result.size(), 255u);
    EXPECT_EQ(result.back(), L'\u2026');
    EXPECT_EQ(result.substr(0, 22), L"Veldmark STL Viewer \u2013 ");
    // A name that just fits stays whole.
    makeWindowTitle(std::wstring(231, L'n').c_str(), title);
    EXPECT_EQ(std::wstring(title).size(), 253u);
}

TEST_F(MainDialogTest, SwatchesMoveWithThePartCount) {
    RECT client;
    GetClientRect(dialog_, &client);
    int panelLeft = client.right - dialogUnitsToPixels(dialog_, 168, 0).cx - dialogUnitsToPixels(dialog_, 2, 0).cx;
    const int expectedX[] = {111, 111, 126, 105, 84};
    const int expectedWidth[] = {50, 50, 14, 14, 14};
    static const uint8_t fakeView = 0;
    for (int parts = 0; parts <= 4; ++parts) {
        for (int slot = 0; slot < 4; ++slot) state_->parts[slot].view = slot < parts ? &fakeView : nullptr;
        layoutDialog(state_, client.right, client.bottom);
        RECT swatch = placeOf(kFirstSwatchId);
        EXPECT_EQ(swatch.left, panelLeft + dialogUnitsX(expectedX[parts])) << parts;
        EXPECT_EQ(swatch.right - swatch.left, dialogUnitsX(expectedWidth[parts])) << parts;
        if (parts >= 2) {
            // The last used swatch ends at the panel's inner right edge.
            RECT last = placeOf(kFirstSwatchId + parts - 1);
            EXPECT_EQ(last.left, panelLeft + dialogUnitsX(147)) << parts;
        }
    }
    for (ModelPart& part : state_->parts) part.view = nullptr;
}

TEST_F(MainDialogTest, ViewAndMessagesFillTheLeftSide) {
    SendMessageW(dialog_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
    SIZE margin = dialogUnitsToPixels(dialog_, 2, 2);
    SIZE panel = dialogUnitsToPixels(dialog_, 168, 56);
    RECT view = placeOf(kProgressId);
    EXPECT_EQ(view.left, margin.cx);
    EXPECT_EQ(view.top, margin.cy);
    EXPECT_EQ(view.right - view.left, 800 - panel.cx - 3 * margin.cx);
    EXPECT_EQ(view.bottom - view.top, 600 - panel.cy - 3 * margin.cy);
    RECT messages = placeOf(kMessagesId);
    EXPECT_EQ(messages.top, 600 - panel.cy - margin.cy);
    RECT tree = placeOf(kTreeId);
    EXPECT_EQ(tree.left, 800 - panel.cx - margin.cx);
    EXPECT_EQ(tree.bottom, 600 - margin.cy);
}

TEST_F(MainDialogTest, MinimisingDoesNotLayOut) {
    SendMessageW(dialog_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
    RECT before = placeOf(kMessagesId);
    SendMessageW(dialog_, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(500, 400));
    RECT after = placeOf(kMessagesId);
    EXPECT_EQ(before.top, after.top);
    SendMessageW(dialog_, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1000, 700));
    EXPECT_NE(placeOf(kMessagesId).top, before.top);
}

TEST_F(MainDialogTest, CannotBeTrackedSmallerThanThePanelNeeds) {
    MINMAXINFO limits{};
    limits.ptMinTrackSize = {100, 50};
    SendMessageW(dialog_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    SIZE extra = dialogUnitsToPixels(dialog_, 232, 160);
    EXPECT_EQ(limits.ptMinTrackSize.x, 100 + extra.cx);
    EXPECT_EQ(limits.ptMinTrackSize.y, 50 + extra.cy);
}

// A list of several files of one folder, as the Open dialog delivers it.
std::unique_ptr<FileNameList> folderList(const std::string& directory, const std::vector<std::string>& names) {
    auto list = std::make_unique<FileNameList>();
    std::vector<Utf16> first = utf16Path(directory + names[0]);
    memcpy(list->path, first.data(), first.size() * sizeof(Utf16));
    list->nameStart = static_cast<int32_t>(directory.size());
    list->nextName = static_cast<int32_t>(first.size());
    size_t next = first.size();
    for (size_t i = 1; i < names.size(); ++i) {
        for (char c : names[i]) list->path[next++] = static_cast<Utf16>(c);
        list->path[next++] = 0;
    }
    list->path[next] = 0;
    return list;
}

TEST_F(MainDialogTest, AddedPartsTakeTheFreeSlotsAndKeepTheTitle) {
    for (const char* name : {"a.stl", "b.stl", "c.stl", "d.stl", "e.stl"})
        folder_.write(name, binaryStl({unitTriangle()}, name));
    std::string dir = folder_.directory();
    openFiles(state_, folderList(dir, {"a.stl", "b.stl"}).get(), true, nullptr);
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(state_), 2);
    addPartFiles(state_, folderList(dir, {"c.stl", "d.stl", "e.stl"}).get());
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(state_), 4);  // the fifth file finds no slot
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 a.stl");
    EXPECT_EQ(SendMessageW(item(kTreeId), TVM_GETCOUNT, 0, 0), 8);
    EXPECT_TRUE(visible(kFirstSwatchId + 3));
}

// What the tree sends when a check box is about to change.
LRESULT sendCheckChange(HWND dialog, HWND tree, LPARAM item, bool checked) {
    NMTVITEMCHANGE change{};
    change.hdr.hwndFrom = tree;
    change.hdr.idFrom = kTreeId;
    change.hdr.code = TVN_ITEMCHANGINGW;
    change.uChanged = TVIF_STATE;
    change.uStateNew = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    change.uStateOld = INDEXTOSTATEIMAGEMASK(checked ? 1 : 2);
    change.lParam = item;
    SendMessageW(dialog, WM_NOTIFY, kTreeId, reinterpret_cast<LPARAM>(&change));
    return GetWindowLongPtrW(dialog, DWLP_MSGRESULT);
}

TEST_F(MainDialogTest, TreeCheckBoxesHideAndShowSolids) {
    std::string twoSolids = binaryStl({unitTriangle()}, "Veldmark test part");
    appendUint32(&twoSolids, 1);
    appendTriangle(&twoSolids, unitTriangle(4));
    folder_.write("two.stl", twoSolids);
    open(folder_.directory() + "two.stl");
    ASSERT_TRUE(waitUntilShown());
    HWND tree = item(kTreeId);
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(sendCheckChange(dialog_, tree, 0xFFFFFF, false), 1);  // the file's own box stays
    EXPECT_EQ(sendCheckChange(dialog_, tree, 1, false), 0);
    EXPECT_EQ(+state_->parts[0].visibleSolids[1], 0);
    EXPECT_EQ(+state_->parts[0].visibleSolids[0], 1);
    EXPECT_EQ(sendCheckChange(dialog_, tree, 1, true), 0);
    EXPECT_EQ(+state_->parts[0].visibleSolids[1], 1);
    EXPECT_EQ(sendCheckChange(dialog_, tree, 7, false), 1);  // no such solid
}

TEST_F(MainDialogTest, ResetViewReturnsToTheStartingPicture) {
    // The start angles come from the settings: a key of the test's own.
    HKEY key = nullptr;
    const wchar_t keyPath[] = L"Software\\Veldmark test\\reset view";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD pitchDegrees = 10, yawDegrees = 350;
    RegSetValueExW(key, L"InitialEyePitchDegrees", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pitchDegrees), 4);
    RegSetValueExW(key, L"InitialEyeYawDegrees", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&yawDegrees), 4);
    HKEY savedKeys[2] = {state_->settingsKeys[0], state_->settingsKeys[1]};
    state_->settingsKeys[kApplicationKey] = nullptr;
    state_->settingsKeys[kMakerKey] = key;
    folder_.write("part.stl", binaryStl({unitTriangle(), unitTriangle(3)}));
    open(folder_.directory() + "part.stl");
    ASSERT_TRUE(waitUntilShown());
    HWND view = item(kViewId);
    const ViewState* shown = viewStateOf(view);
    ASSERT_NE(shown, nullptr);

    // Turned, moved, zoomed in and turning, as a user leaves it; then Home.
    // "Always rotate" keeps turning through the reset, a one-off rotation stops.
    for (bool alwaysRotate : {false, true}) {
        SCOPED_TRACE(alwaysRotate);
        const float pan[3] = {0.5f, -0.25f, 1.0f};
        setViewAngles(view, pan, 12345, -6789);
        SendMessageW(view, WM_MOUSEWHEEL, MAKEWPARAM(0, 3 * WHEEL_DELTA), 0);
        ASSERT_NE(copyOf(shown->zoom), kInitialZoom);
        setAlwaysRotate(view, alwaysRotate);
        runCommand(state_, kCommandRotate, 0);
        ASSERT_NE(copyOf(shown->rotationStamp), 0);
        runCommand(state_, kCommandResetView, 0);
        EXPECT_EQ(copyOf(shown->pitch), degreesToBinaryAngle(pitchDegrees));
        EXPECT_EQ(copyOf(shown->yaw), degreesToBinaryAngle(yawDegrees));
        for (int axis = 0; axis < 3; ++axis) EXPECT_EQ(packedFloat(shown->pan, axis), 0.0f) << axis;
        EXPECT_EQ(copyOf(shown->zoom), kInitialZoom);
        EXPECT_EQ(copyOf(shown->rotationStamp) != 0, alwaysRotate);
        setAlwaysRotate(view, false);
    }
    state_->settingsKeys[0] = savedKeys[0];
    state_->settingsKeys[1] = savedKeys[1];
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Veldmark test");

    // In the View menu with its key, which the accelerator table turns into the command.
    HMENU menu = buildMenuBar();
    wchar_t itemText[64] = {};
    GetMenuStringW(menu, kCommandResetView, itemText, 64, MF_BYCOMMAND);
    EXPECT_STREQ(itemText, L"Reset &view\tHome");
    DestroyMenu(menu);
    HACCEL table = buildAccelerators();
    ACCEL entries[32];
    int count = CopyAcceleratorTableW(table, entries, 32);
    DestroyAcceleratorTable(table);
    int homeCommand = 0;
    for (int i = 0; i < count; ++i)
        if (entries[i].key == VK_HOME && entries[i].fVirt == FVIRTKEY) homeCommand = entries[i].cmd;
    EXPECT_EQ(homeCommand, kCommandResetView);
}

// Fonts with the thin space, fonts without it, and a symbol font without any
// of the three: each control shows only characters its font can draw. Rows
// whose face the system lacks are skipped (Wine's own Tahoma and Marlett
// are not in every prefix; the other two come with the system's fonts).
TEST_F(MainDialogTest, PanelTextKeepsOnlyCharactersTheFontCanDraw) {
    const wchar_t text[] = L"6.01\u2009mm \u00D7 2\u2009in \u2026";
    struct Row {
        const wchar_t* face;
        const wchar_t* shown;
    };
    const Row rows[] = {
        {L"DejaVu Sans", L"6.01\u2009mm \u00D7 2\u2009in \u2026"},
        {L"Liberation Sans", L"6.01\u00A0mm \u00D7 2\u00A0in \u2026"},
        {L"Tahoma", L"6.01\u00A0mm \u00D7 2\u00A0in \u2026"},
        {L"Marlett", L"6.01\u00A0mm x 2\u00A0in ..."},
    };
    HWND control = item(kPanelLine2Id);
    HFONT panelFont = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    for (const Row& row : rows) {
        HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, row.face);
        ASSERT_NE(font, nullptr);
        // A face the system lacks would be replaced by another: that row proves nothing.
        HDC dc = GetDC(control);
        HGDIOBJ previous = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        SelectObject(dc, previous);
        ReleaseDC(control, dc);
        if (lstrcmpiW(face, row.face) == 0) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            setPanelText(control, text);
            EXPECT_EQ(this->text(control), row.shown) << face;
        } else {
            printf("no font \"%ls\" here (got \"%ls\"): row skipped\n", row.face, face);
        }
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(panelFont), FALSE);
        DeleteObject(font);
    }
}

TEST_F(MainDialogTest, OtherKeysComeBackUnhandled) {
    EXPECT_EQ(SendMessageW(dialog_, WM_KEYDOWN, 'X', 0), -1);
    EXPECT_EQ(SendMessageW(dialog_, WM_KEYUP, 'X', 0), -1);
}

}  // namespace
