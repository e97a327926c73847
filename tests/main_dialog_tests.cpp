// Drives the real main dialog in this process: layout, opening files,
// progress, hand-over and drops, the commands, the settings and the panel.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_table.h"
#include "app/commands.h"
#include "app/dialog_layout.h"
#include "app/escape_rule.h"
#include "app/file_watch.h"
#include "app/folder_listing.h"
#include "app/key_help.h"
#include "app/key_routing.h"
#include "app/load_progress.h"
#include "app/main_dialog.h"
#include "app/model_saving.h"
#include "app/open_files.h"
#include "app/panel.h"
#include "app/panel_glyphs.h"
#include "app/part_tree.h"
#include "app/preferences.h"
#include "app/slicer_menu.h"
#include "app/view_picture.h"
#include "app/window_ids.h"
#include "mesh/surface_check.h"
#include "tests/load_driver.h"
#include "tests/package_files.h"
#include "tests/sink_recorder.h"
#include "tests/test_files.h"
#include "view/gpu_mesh.h"
#include "view/offscreen_render.h"
#include "view/problem_edges.h"
#include "view/view_control.h"
#include "view/view_lookup.h"

namespace {

const std::wstring kTitle = L"Veldmark STL Viewer";
const std::wstring kTitleOf = kTitle + L" \u2013 ";  // before the file name

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring text(HWND window) {
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
    return text;
}

std::wstring itemText(HWND tree, HTREEITEM item) {
    wchar_t buffer[256];
    TVITEMW fields{TVIF_HANDLE | TVIF_TEXT, item, 0, 0, buffer, 256};
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
    return buffer;
}

// One dialog for the whole suite, as in the program, which never destroys it
// (destroying a window under Wine on Xvfb also takes seconds).
class MainDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof controls, 0x402F};
        InitCommonControlsEx(&controls);
        registerViewClass(GetModuleHandleW(nullptr), nullptr);
        state_ = static_cast<MainDialogState*>(calloc(1, sizeof(MainDialogState)));
        state_->menu = buildMenuBar();
        // Keys of the tests' own, so that the real settings stay untouched.
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Veldmark tests");
        for (int slot : {kApplicationKey, kMakerKey})
            RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPaths[slot], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &state_->preferences.keys[slot], nullptr);
        dialog_ = createMainDialog(GetModuleHandleW(nullptr), state_);
        SetWindowPos(dialog_, nullptr, 0, 0, 900, 650, SWP_NOZORDER);
        ShowWindow(dialog_, SW_SHOW);
    }

    // Every job still running comes back and what it posted is handled; the next test starts empty.
    void TearDown() override {
        waitUntilShown();
        pumpMessages(dialog_);
        clearModel(state_);
        SetWindowTextW(dialog_, kTitle.c_str());
        for (HKEY key : state_->preferences.keys) RegDeleteTreeW(key, nullptr);
    }

    static constexpr const wchar_t* kKeyPaths[2] = {L"Software\\Veldmark tests\\application",
                                                    L"Software\\Veldmark tests\\maker"};
    static inline MainDialogState* state_ = nullptr;
    static inline HWND dialog_ = nullptr;

    template <typename Condition>
    static bool waitFor(Condition done) {
        return pumpUntil(done, 15000, dialog_);
    }
    static bool waitUntilShown() {
        return waitFor([] { return state_->navigation.currentJob == nullptr; });
    }
    static HWND item(int id) {
        return GetDlgItem(dialog_, id);
    }
    static bool grayed(WORD command) {
        return (GetMenuState(state_->menu, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
    }
    void open(const std::string& name, const std::string& bytes) {
        folder_.write(name, bytes);
        openFiles(state_, folderList(folder_.directory(), {name}).get(), true, nullptr);
    }

    TempFolder folder_;
};

TEST_F(MainDialogTest, StartsWithTheHintThenLoadsAFileAndShowsTheModel) {
    auto shown = [] {
        return std::tuple(!!IsWindowVisible(item(kHintId)), !!IsWindowVisible(item(kProgressId)),
                          !!IsWindowVisible(item(kViewId)));
    };
    EXPECT_EQ(text(dialog_), kTitle);
    EXPECT_EQ(shown(), std::tuple(true, false, false));
    EXPECT_EQ(text(item(kHintId)), L"Open an STL file with Ctrl+O, or drop one here");
    open("part.stl", binaryStl({unitTriangle(), unitTriangle(3)}, "Veldmark test part"));
    EXPECT_EQ(text(dialog_), kTitleOf + L"part.stl");
    EXPECT_EQ(shown(), std::tuple(false, true, false));
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(shown(), std::tuple(false, false, true));
    std::wstring messages = text(item(kMessagesId));
    EXPECT_NE(messages.find(L"STL warning: unknown unit; assuming millimeters\r\n"), std::wstring::npos) << messages;
    EXPECT_NE(messages.find(L"file loaded successfully\r\n"), std::wstring::npos);
    EXPECT_EQ(SendMessageW(item(kSpaceComboId), CB_GETCURSEL, 0, 0), 1);  // Z up
    EXPECT_EQ(SendMessageW(item(kTreeId), TVM_GETCOUNT, 0, 0), 2);  // file and its solid
}

int completionsSeen = 0;

LRESULT CALLBACK countCompletions(int code, WPARAM removal, LPARAM message) {
    const MSG* seen = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && seen->message == WM_APP) ++completionsSeen;
    return CallNextHookEx(nullptr, code, removal, message);
}

TEST_F(MainDialogTest, ASecondOpenWhileLoadingShowsOnlyTheSecondFile) {
    open("big.stl", binaryStl(std::vector<TestTriangle>(400000, unitTriangle())));
    completionsSeen = 0;
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, countCompletions, nullptr, GetCurrentThreadId());
    LoadJob* first = state_->navigation.currentJob;
    ASSERT_NE(first, nullptr);
    open("small.stl", binaryStl({unitTriangle()}));
    EXPECT_NE(state_->navigation.currentJob, first);
    ASSERT_TRUE(waitUntilShown());
    // The superseded job's completion may come last: wait for both.
    ASSERT_TRUE(waitFor([] { return completionsSeen == 2; }));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(text(dialog_), kTitleOf + L"small.stl");
    EXPECT_EQ(usedPartCount(&state_->model), 1);
    EXPECT_EQ(+state_->model.parts[0].mesh.solids[0].triangleCount, 1u);
}

// A job record as the dialog sees it while the job runs, with collected text.
LoadJob* runningJob(const std::wstring& messages) {
    LoadJob* job = static_cast<LoadJob*>(allocArray(processHeap(), 1, sizeof(LoadJob), nullptr));
    memset(job, 0, sizeof(LoadJob));
    size_t bytes = (messages.size() + 1) * sizeof(wchar_t);
    job->messages.data = allocArray(processHeap(), bytes, 1, nullptr);
    memcpy(job->messages.data, messages.c_str(), bytes);
    job->messages.used = job->messages.capacity = bytes;
    job->keepGoing = 1;
    return job;
}

// Each tick takes the collected lines into the messages box, past the edit
// control's default 30000 characters, and shows whole percent rounded half up.
// A completion that cannot be posted (here: to no window) is found by the next tick.
TEST_F(MainDialogTest, TheProgressTimerShowsTheLinesAndEndsAnUndeliveredLoad) {
    const HWND noWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFFFFF0));
    std::wstring lines;
    while (lines.size() <= 40000) lines += L"STL warning: unexpected end of file\r\n";
    LoadJob* job = runningJob(lines);
    job->dialogWindow = noWindow;
    state_->navigation.currentJob = job;
    for (auto [thousandths, percent] : {std::pair{4, 0}, {5, 1}, {994, 99}, {996, 100}}) {
        job->progress = thousandths;
        onProgressTimer(state_, kProgressTimer);
        EXPECT_EQ(SendMessageW(item(kProgressId), PBM_GETPOS, 0, 0), percent) << thousandths;
    }
    EXPECT_EQ(job->messages.used, 0u);
    EXPECT_TRUE(text(item(kMessagesId)).ends_with(lines));
    job->state = kLoadFinished;
    deliverLoadJob(job);
    EXPECT_EQ(state_->navigation.currentJob, job);
    onProgressTimer(state_, kProgressTimer);
    EXPECT_EQ(state_->navigation.currentJob, nullptr);
    EXPECT_TRUE(text(item(kMessagesId)).ends_with(lines + L"Error: the load's completion message could not be posted\r\n"));
    EXPECT_FALSE(IsWindowVisible(item(kProgressId)));
}

// Full paths from two folders. A hand-over opens the first four as parts
// (another tag is no hand-over); a drop opens the first alone.
TEST_F(MainDialogTest, HandOverOpensUpToFourFilesAsPartsAndADropTheFirst) {
    TempFolder other;
    std::wstring paths;
    for (const char* name : {"a.stl", "b.stl", "c.stl", "d.stl", "e.stl"}) {
        const TempFolder& where = name[0] == 'b' ? other : folder_;
        where.write(name, binaryStl({unitTriangle()}));
        paths += wide(where.directory() + name) + L'\0';
    }
    COPYDATASTRUCT data{41, static_cast<DWORD>(paths.size() * 2), paths.data()};
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_EQ(state_->navigation.currentJob, nullptr);
    data.dwData = kHandOverTag;
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 1);
    EXPECT_EQ(state_->navigation.currentJob, nullptr);  // nothing opens inside the sender's call
    ASSERT_TRUE(waitFor([] { return usedPartCount(&state_->model) == 4 && !state_->navigation.currentJob; }));
    EXPECT_EQ(text(dialog_), kTitleOf + L"a.stl + b.stl + c.stl + d.stl");
    EXPECT_NE(text(item(kMessagesId)).find(wide(kFilesLeftOutText)), std::wstring::npos);

    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (paths.size() + 1) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    *drop = DROPFILES{sizeof(DROPFILES), {}, FALSE, TRUE};
    memcpy(drop + 1, paths.c_str(), (paths.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    SendMessageW(dialog_, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(&state_->model), 1);
}

void dropPath(HWND window, const std::wstring& path) {
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    *drop = DROPFILES{sizeof(DROPFILES), {}, FALSE, TRUE};
    memcpy(drop + 1, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

// Deep OneDrive and SharePoint folders: a path of 300 characters opens by
// the hand-over, a drop, the recent files and Previous/Next (the command
// line: ViewerProcessTest.APathOfThreeHundredCharactersOpensFromTheCommandLine),
// and a picture saves beside it.
TEST_F(MainDialogTest, APathOfThreeHundredCharactersOpensByEveryRoute) {
    const std::string deep = makeDeepFolder(folder_.directory(), 300, "long.stl");
    const std::wstring longPath = wide(deep + "long.stl"), other = wide(deep + "other.stl");
    ASSERT_EQ(longPath.size(), 300u);
    ASSERT_TRUE(writeFileAt(deep + "long.stl", binaryStl({unitTriangle()})));
    ASSERT_TRUE(writeFileAt(deep + "other.stl", binaryStl({unitTriangle(), unitTriangle(2)})));
    auto shows = [&](const std::wstring& path, uint32_t triangles) {
        return waitFor([&] {
            return !state_->navigation.currentJob && usedPartCount(&state_->model) == 1 &&
                   state_->model.parts[0].filePath && std::wstring(state_->model.parts[0].filePath) == path &&
                   state_->model.parts[0].mesh.solids[0].triangleCount == triangles;
        });
    };
    std::wstring handed = longPath + L'\0';
    COPYDATASTRUCT data{kHandOverTag, static_cast<DWORD>(handed.size() * 2), handed.data()};
    SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    EXPECT_TRUE(shows(longPath, 1)) << "hand-over";
    clearModel(state_);
    dropPath(dialog_, longPath);
    EXPECT_TRUE(shows(longPath, 1)) << "drop";
    ASSERT_TRUE(waitFor([] { return waitFolderListing(state_->navigation.folderListing); }));
    runCommand(state_, kCommandNextFile, 0);
    EXPECT_TRUE(shows(other, 2)) << "next";
    runCommand(state_, kCommandPreviousFile, 0);
    EXPECT_TRUE(shows(longPath, 1)) << "previous";
    clearModel(state_);
    SendMessageW(dialog_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(state_->menu, 0)), 0);
    runCommand(state_, kCommandFirstRecentFile + 1, 0);  // the file before the last
    EXPECT_TRUE(shows(other, 2)) << "recent files";
    const std::wstring picture = wide(deep + "long.png");
    ASSERT_TRUE(savePictureTo(dialog_, picture.c_str(), &state_->sink.self));
    EXPECT_NE(GetFileAttributesW(prefixedPath(deep + "long.png").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The File menu's recent files as shown, top to bottom, the separator as "-".
std::vector<std::wstring> recentMenu(HMENU menuBar) {
    HMENU file = GetSubMenu(menuBar, 0), recent = nullptr;
    for (int k = 0; k < GetMenuItemCount(file) && !recent; ++k) {
        wchar_t name[64] = {};
        GetMenuStringW(file, k, name, 64, MF_BYPOSITION);
        if (std::wstring(name) == L"&Recent files") recent = GetSubMenu(file, k);
    }
    std::vector<std::wstring> items;
    for (int k = 0; recent && k < GetMenuItemCount(recent); ++k) {
        wchar_t text[300] = {};
        GetMenuStringW(recent, k, text, 300, MF_BYPOSITION);
        items.push_back(*text ? text : L"-");
    }
    return items;
}

// Every route in: the hand-over, a drop, the menu itself; a file that is gone
// leaves the list with a line in the messages box, one that fails to load
// never enters it; Clear list empties it.
TEST_F(MainDialogTest, RecentFilesFollowEveryOpenAndOpenAgainFromTheMenu) {
    // Opening the File menu shows what is stored now, which earlier tests emptied.
    SendMessageW(dialog_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSubMenu(state_->menu, 0)), 0);
    EXPECT_EQ(recentMenu(state_->menu), std::vector<std::wstring>{L"&Clear list"});
    EXPECT_TRUE(grayed(kCommandClearRecentFiles));
    TempFolder other;
    other.write("b & c.stl", binaryStl({unitTriangle()}));
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    folder_.write("gone.stl", binaryStl({unitTriangle()}));
    std::wstring a = wide(folder_.directory() + "a.stl"), bc = wide(other.directory() + "b & c.stl"),
                 gone = wide(folder_.directory() + "gone.stl");
    std::wstring paths = gone + L'\0' + bc + L'\0' + a + L'\0';
    COPYDATASTRUCT data{kHandOverTag, static_cast<DWORD>(paths.size() * 2), paths.data()};
    SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    ASSERT_TRUE(waitFor([] { return usedPartCount(&state_->model) == 3 && !state_->navigation.currentJob; }));
    std::wstring here = wide(folder_.directory()), there = wide(other.directory());
    here.pop_back();
    there.pop_back();
    EXPECT_EQ(recentMenu(state_->menu),
              (std::vector<std::wstring>{L"&1 gone.stl \u2013 " + here, L"&2 b && c.stl \u2013 " + there,
                                         L"&3 a.stl \u2013 " + here, L"-", L"&Clear list"}));
    EXPECT_FALSE(grayed(kCommandClearRecentFiles));

    runCommand(state_, kCommandFirstRecentFile + 2, 0);  // opens once a pool thread has found the file
    ASSERT_TRUE(waitFor([&] { return text(dialog_) == kTitleOf + L"a.stl" && !state_->navigation.currentJob; }));
    EXPECT_EQ(recentMenu(state_->menu)[0], L"&1 a.stl \u2013 " + here);

    ASSERT_TRUE(DeleteFileW(gone.c_str()));
    runCommand(state_, kCommandFirstRecentFile + 1, 0);
    const std::wstring notFound = L"Not found, so taken off the recent files: " + gone + L"\r\n";
    EXPECT_TRUE(waitFor([&] { return text(item(kMessagesId)).find(notFound) != std::wstring::npos; }));
    EXPECT_EQ(state_->navigation.currentJob, nullptr);
    EXPECT_EQ(text(dialog_), kTitleOf + L"a.stl");
    EXPECT_EQ(recentMenu(state_->menu),
              (std::vector<std::wstring>{L"&1 a.stl \u2013 " + here, L"&2 b && c.stl \u2013 " + there, L"-",
                                         L"&Clear list"}));

    // A file that fails to load is not remembered.
    open("broken.stl", "solid broken\nfacet normal x\n");
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(recentMenu(state_->menu)[0], L"&1 a.stl \u2013 " + here);

    runCommand(state_, kCommandClearRecentFiles, 0);
    EXPECT_EQ(recentMenu(state_->menu), std::vector<std::wstring>{L"&Clear list"});
    EXPECT_TRUE(grayed(kCommandClearRecentFiles));
}

// A cube of side 10 mm turned 30 degrees about x: 13.66 mm high, its
// bottom face an overhang. Place on face and a click on it sets the clicked
// face on the bed: 10 mm high, the distance to the opposite face, without
// overhangs; Reset view keeps that, Undo placement and opening the file
// again do not.
TEST_F(MainDialogTest, PlaceOnFaceSetsTheClickedFaceOnTheBed) {
    std::vector<TestTriangle> cube = cubeTriangles();
    const double c = std::cos(30 * 3.14159265358979 / 180), s = std::sin(30 * 3.14159265358979 / 180);
    for (TestTriangle& t : cube)
        for (auto& v : t.vertices) {
            float y = v[1], z = v[2];
            v[1] = float(c * y - s * z);
            v[2] = float(s * y + c * z);
        }
    runCommand(state_, kCommandMillimetres, 0);
    HWND view = item(kViewId);
    auto height = [&] {
        float low[3], high[3];
        EXPECT_TRUE(viewBox(view, low, high));
        return (high[2] - low[2]) * 1000.0;
    };
    auto opened = [&] {
        open("tilted.stl", binaryStl(cube));
        ASSERT_TRUE(waitUntilShown());
        ASSERT_TRUE(waitFor([] { return state_->model.checks[0].state == kCheckDone; }));
        pumpMessages(dialog_);
    };
    opened();
    EXPECT_NEAR(height(), 10 * (c + s), 1e-3);
    EXPECT_EQ(text(item(kOverhangLineId)), L"Overhangs: 100\u00A0mm\u00B2 steeper than 45\u00B0");
    EXPECT_TRUE(grayed(kCommandUndoPlacement));
    std::wstring tiltedSize = text(item(kSizeLineId));
    runCommand(state_, kCommandPlaceOnFace, 0);
    EXPECT_TRUE(GetMenuState(state_->menu, kCommandPlaceOnFace, MF_BYCOMMAND) & MF_CHECKED);
    RECT client;
    GetClientRect(view, &client);
    LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageW(view, WM_LBUTTONUP, 0, middle);
    pumpMessages(dialog_);
    EXPECT_NEAR(height(), 10, 1e-3);
    EXPECT_NE(text(item(kSizeLineId)), tiltedSize);
    EXPECT_EQ(text(item(kOverhangLineId)), L"No overhangs steeper than 45\u00B0");
    EXPECT_FALSE(GetMenuState(state_->menu, kCommandPlaceOnFace, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(grayed(kCommandUndoPlacement));
    runCommand(state_, kCommandResetView, 0);
    EXPECT_NEAR(height(), 10, 1e-3);
    runCommand(state_, kCommandUndoPlacement, 0);
    EXPECT_NEAR(height(), 10 * (c + s), 1e-3);
    EXPECT_EQ(text(item(kSizeLineId)), tiltedSize);
    EXPECT_EQ(text(item(kOverhangLineId)), L"Overhangs: 100\u00A0mm\u00B2 steeper than 45\u00B0");
    EXPECT_TRUE(grayed(kCommandUndoPlacement));
    // Placed again, then the file opened anew: as the file has it.
    runCommand(state_, kCommandPlaceOnFace, 0);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    SendMessageW(view, WM_LBUTTONUP, 0, middle);
    EXPECT_NEAR(height(), 10, 1e-3);
    opened();
    EXPECT_NEAR(height(), 10 * (c + s), 1e-3);
    EXPECT_TRUE(grayed(kCommandUndoPlacement));
}

// The README's table under "## Keys and mouse", as "keys\taction" lines.
std::vector<std::wstring> readmeKeyRows() {
    std::ifstream file(STLV_SOURCE_DIR "/README.md", std::ios::binary);
    std::vector<std::wstring> rows;
    bool inSection = false;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## Keys and mouse";
        if (!inSection || line.rfind("| ", 0) != 0 || line.rfind("| Key or mouse", 0) == 0) continue;
        size_t middle = line.find(" | ");
        std::string keys = line.substr(2, middle - 2), action = line.substr(middle + 3, line.size() - middle - 5);
        rows.push_back(wide(keys) + L"\t" + wide(action));
    }
    return rows;
}

std::vector<std::wstring> programKeyRows() {
    KeyHelpRow rows[kMaxKeyHelpRows];
    int count = keyHelpRows(rows, kMaxKeyHelpRows);
    std::vector<std::wstring> lines;
    for (int k = 0; k < count; ++k) lines.push_back(std::wstring(rows[k].keys) + L"\t" + rows[k].action);
    return lines;
}

// Every accelerator once, in the menu's words, then the arrow keys and the
// mouse; the README lists the same, so neither can drift from the program.
TEST(KeyHelp, ListsEveryAcceleratorInTheMenusWordsAsTheReadmeDoes) {
    int accelerators = acceleratorCount();
    std::vector<std::wstring> rows = programKeyRows();
    ASSERT_GT(rows.size(), static_cast<size_t>(accelerators));
    EXPECT_LT(rows.size(), static_cast<size_t>(kMaxKeyHelpRows));
    for (const std::wstring& row : rows) {
        EXPECT_EQ(row.find(L'?'), std::wstring::npos) << "an accelerator without a menu item: " << row.c_str();
        EXPECT_EQ(row.find(L'&'), std::wstring::npos) << row.c_str();
    }
    for (const wchar_t* row : {L"Ctrl+O\tFile > Open", L"F1\tHelp > Keys and mouse", L"Left\tFile > Previous file",
                               L"Wheel\tZoom in and out"})
        EXPECT_EQ(std::count(rows.begin(), rows.end(), row), 1) << row;
    std::vector<std::wstring> readme = readmeKeyRows(), sortedRows = rows;
    std::sort(readme.begin(), readme.end());
    std::sort(sortedRows.begin(), sortedRows.end());
    EXPECT_EQ(readme, sortedRows);
}

HWND keyHelpWindow = nullptr;
int keyHelpItems = -1, keyHelpRowsShown = -1;
bool keyHelpColumnsFit = false;

// Runs inside the help window's own message loop: reads it, then closes it.
void CALLBACK readAndCloseKeyHelp(HWND, UINT, UINT_PTR timer, DWORD) {
    keyHelpWindow = FindWindowW(L"#32770", L"Keys and mouse");
    if (!keyHelpWindow) return;
    KillTimer(nullptr, timer);
    HWND list = GetDlgItem(keyHelpWindow, 100);
    keyHelpItems = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    keyHelpRowsShown = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    RECT client;
    GetClientRect(list, &client);
    int columns = 0;
    for (int column = 0; column < 2; ++column) columns += int(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    keyHelpColumnsFit = columns <= client.right;
    PostMessageW(keyHelpWindow, WM_COMMAND, IDOK, 0);
}

TEST_F(MainDialogTest, KeysAndMouseOpensAWindowThatFitsEveryRowAndOkClosesIt) {
    SetTimer(nullptr, 0, 100, readAndCloseKeyHelp);
    runCommand(state_, kCommandKeysAndMouse, 0);
    ASSERT_NE(keyHelpWindow, nullptr);
    EXPECT_EQ(keyHelpItems, static_cast<int>(programKeyRows().size()));
    EXPECT_GE(keyHelpRowsShown, keyHelpItems);  // every row and both columns whole, without scrolling
    EXPECT_TRUE(keyHelpColumnsFit);
    EXPECT_FALSE(IsWindow(keyHelpWindow));
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
    COPYDATASTRUCT data{kHandOverTag, 16, path};
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 1);
    EXPECT_EQ(state_->navigation.currentJob, nullptr);
    VirtualFree(pages, 0, MEM_RELEASE);
}

// At the smallest size and a large one, for each number of parts: every control
// inside the client area, none overlapping another, the panel right of the view.
// Stored start angles are whole degrees: the nearest one, a full turn being 0.
TEST(StartAngles, AreStoredAsTheNearestWholeDegree) {
    const struct {
        int32_t angle;
        uint32_t degrees;
    } rows[] = {
        {0, 0},           {5965232, 0},  // just under half a degree
        {5965233, 1},     {11930465, 1},
        {-1, 0},          {-5965233, 359},
        {static_cast<int32_t>(0xC000004E), 270},  // Top, 78 units short of the quarter turn
        {INT32_MIN, 180}, {INT32_MAX, 180},
    };
    for (const auto& row : rows) EXPECT_EQ(binaryAngleToDegrees(row.angle), row.degrees) << row.angle;
    for (int32_t degrees = 0; degrees < 360; ++degrees)
        EXPECT_EQ(binaryAngleToDegrees(degreesToAngle(degrees)), uint32_t(degrees));
}

TEST_F(MainDialogTest, LayoutKeepsControlsApartWithThePanelRightOfTheView) {
    MINMAXINFO limits{};
    SendMessageW(dialog_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    RECT frame{}, common, client;
    AdjustWindowRectEx(&frame, GetWindowLongW(dialog_, GWL_STYLE), TRUE, GetWindowLongW(dialog_, GWL_EXSTYLE));
    const SIZE smallest = {limits.ptMinTrackSize.x - (frame.right - frame.left),
                           limits.ptMinTrackSize.y - (frame.bottom - frame.top)};
    ASSERT_TRUE(smallest.cx > 300 && smallest.cy > 150);
    for (SIZE size : {smallest, SIZE{1000, 700}})
        for (int parts = 0; parts <= 4; ++parts) {
            SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy << ", parts " << parts);
            layoutDialog(&state_->panel, parts, size.cx, size.cy);
            std::vector<RECT> places;  // the view's place, the tree and the first swatch first
            for (int id : {kProgressId, kTreeId, kFirstSwatchId, kMessagesId, kKindLineId, kSizeLineId, kFactsLineId,
                           kSpaceLabelId, kSpaceComboId, kMaterialCheckId, kColorsLabelId, kColorsComboId,
                           kFirstSwatchId + 1, kFirstSwatchId + 2, kFirstSwatchId + 3}) {
                if (id > kFirstSwatchId && id < kFirstSwatchId + 4 && id - kFirstSwatchId >= parts) continue;
                RECT place, inside{0, 0, size.cx, size.cy};
                GetWindowRect(item(id), &place);
                MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&place), 2);
                EXPECT_TRUE(IntersectRect(&common, &place, &inside) && EqualRect(&common, &place)) << id;
                for (const RECT& other : places) EXPECT_FALSE(IntersectRect(&common, &place, &other)) << id;
                places.push_back(place);
            }
            EXPECT_GT(places[1].left, places[0].right);
            EXPECT_GT(places[2].left, places[0].right);
            // The first swatch and the whole header above the tree are repainted, not
            // only where something was uncovered (where they lie within the dialog,
            // which is smaller than the larger size).
            RECT update, swatch;
            GetClientRect(item(kFirstSwatchId), &swatch);
            GetUpdateRect(item(kFirstSwatchId), &update, FALSE);
            RECT header = {places[1].left, 0, size.cx, places[1].top}, dialogUpdate;
            GetUpdateRect(dialog_, &dialogUpdate, FALSE);
            if (size.cx == smallest.cx) {
                EXPECT_TRUE(EqualRect(&update, &swatch));
                EXPECT_TRUE(IntersectRect(&common, &dialogUpdate, &header) && EqualRect(&common, &header));
            }
            pumpMessages(dialog_);
        }
    GetClientRect(dialog_, &client);
    layoutDialog(&state_->panel, 0, client.right, client.bottom);
}

// Moved to a monitor of another density and back: the window takes the size
// the system proposes, every control its place for the new density, and the
// font is made again at 8 points there.
TEST_F(MainDialogTest, ADensityChangeRelaysTheControlsAndRemakesTheFont) {
    RECT before;
    GetWindowRect(dialog_, &before);
    // Small enough that twice the size still fits the screen, which bounds a window.
    SetWindowPos(dialog_, nullptr, before.left, before.top, 600, 500, SWP_NOZORDER);
    RECT start;
    GetWindowRect(dialog_, &start);
    const int dpi = state_->panel.dpi;
    for (int to : {dpi * 3 / 2, dpi * 2, dpi}) {
        SCOPED_TRACE(to);
        RECT proposed = {start.left, start.top, start.left + MulDiv(start.right - start.left, to, dpi),
                         start.top + MulDiv(start.bottom - start.top, to, dpi)};
        SendMessageW(dialog_, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&proposed));
        RECT now, client;
        GetWindowRect(dialog_, &now);
        EXPECT_TRUE(EqualRect(&now, &proposed));
        GetClientRect(dialog_, &client);
        ControlPlace places[kMaxControlPlaces];
        int count = layoutPlaces(client.right, client.bottom, to, PanelContent{0, {}}, places);
        for (int k = 0; k < count; ++k) {
            RECT place;
            GetWindowRect(item(places[k].id), &place);
            MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&place), 2);
            EXPECT_EQ(place.left, places[k].x) << places[k].id;
            EXPECT_EQ(place.right - place.left, places[k].width) << places[k].id;
            if (places[k].id <= kProgressId) continue;  // neither draws text
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(item(places[k].id), WM_GETFONT, 0, 0)), sizeof font, &font);
            EXPECT_EQ(font.lfHeight, -MulDiv(8, to, 72)) << places[k].id;
        }
    }
    SetWindowPos(dialog_, nullptr, before.left, before.top, before.right - before.left, before.bottom - before.top,
                 SWP_NOZORDER);
}

// Which keys the message loop gives the accelerators and which the focused
// control. Every accelerator of this table closes the window, which the test
// sees as a posted WM_CLOSE (taken away at once).
TEST_F(MainDialogTest, KeysAFocusedControlUsesAreNotTakenByAccelerators) {
    ACCEL closing[] = {{FVIRTKEY, VK_ESCAPE, kCommandExit}, {FVIRTKEY, VK_HOME, kCommandExit},
                       {FVIRTKEY, VK_F5, kCommandExit},     {FVIRTKEY | FCONTROL, 'A', kCommandExit},
                       {FVIRTKEY | FCONTROL, 'C', kCommandExit}, {FVIRTKEY | FCONTROL, 'O', kCommandExit}};
    HACCEL table = CreateAcceleratorTableW(closing, 6);
    state_->activeAccelerators = table;
    HWND messages = item(kMessagesId), combo = item(kSpaceComboId);
    SetWindowTextW(messages, L"first line\r\nsecond line\r\n");
    EnableWindow(combo, TRUE);
    struct Row {
        const char* what;
        int focus;
        WORD key;
        bool control, dropped, closes;
    };
    const Row rows[] = {
        {"Home moves in the messages box", kMessagesId, VK_HOME, false, false, false},
        {"Ctrl+A selects there", kMessagesId, 'A', true, false, false},
        {"Ctrl+C copies there", kMessagesId, 'C', true, false, false},
        {"a function key stays the menu's", kMessagesId, VK_F5, false, false, true},
        {"Esc stays the menu's", kMessagesId, VK_ESCAPE, false, false, true},
        {"Ctrl+O stays the menu's", kMessagesId, 'O', true, false, true},
        {"Esc closes an open list", kSpaceComboId, VK_ESCAPE, false, true, false},
        {"Esc with the list closed is the menu's", kSpaceComboId, VK_ESCAPE, false, false, true},
        {"Home moves in the tree", kTreeId, VK_HOME, false, false, false},
        {"Home in the view is the menu's", kViewId, VK_HOME, false, false, true},
    };
    BYTE keys[256];
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ShowWindow(item(kViewId), SW_SHOW);
        SetFocus(item(row.focus));
        ASSERT_EQ(GetFocus(), item(row.focus));
        SendMessageW(messages, EM_SETSEL, 14, 14);
        if (row.dropped) SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
        GetKeyboardState(keys);
        keys[VK_CONTROL] = row.control ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG message{item(row.focus), WM_KEYDOWN, row.key, 1};
        if (!translateWindowMessage(dialog_, state_->activeAccelerators, &message)) DispatchMessageW(&message);
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        MSG closed;
        EXPECT_EQ(PeekMessageW(&closed, dialog_, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0, row.closes);
        if (row.dropped) EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
        DWORD selected = DWORD(SendMessageW(messages, EM_GETSEL, 0, 0));
        if (row.focus == kMessagesId && row.key == VK_HOME) EXPECT_EQ(selected, MAKELONG(12, 12));
        if (row.focus == kMessagesId && row.key == 'A') EXPECT_EQ(selected, MAKELONG(0, 25));
    }
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EnableWindow(combo, FALSE);
    ShowWindow(item(kViewId), SW_HIDE);
    state_->activeAccelerators = nullptr;
    DestroyAcceleratorTable(table);
}

TEST(EscapeRule, AToolTakesEscFirstAndTheViewerClosesOnlyWithTheSettingAfterTheGrace) {
    using enum EscapeAction;
    constexpr uint32_t kNone = kNoToolEscape;
    const struct {
        EscapeScene scene;  // placing, measuring, points, setting, ms since a tool's Esc
        EscapeAction action;
    } rows[] = {
        {{true, true, true, true, kNone}, kEndPlacing},
        {{true, false, false, false, kNone}, kEndPlacing},  // tools take it with the setting off too
        {{false, true, true, true, kNone}, kForgetPoints},
        {{false, true, false, true, 0}, kEndMeasuring},
        {{false, false, false, true, kNone}, kCloseViewer},
        {{false, false, false, true, 0}, kNothing},  // right after the Esc that ended a tool
        {{false, false, false, true, kEscapeGraceMs - 1}, kNothing},
        {{false, false, false, true, kEscapeGraceMs}, kCloseViewer},
        {{false, false, false, false, kNone}, kNothing},
    };
    for (const auto& row : rows) EXPECT_EQ(escapeAction(row.scene), row.action) << &row - rows;
}

// As typed: Ctrl+M, then Esc keys through the accelerators of the menu.
TEST_F(MainDialogTest, EscTwiceAfterCtrlMLeavesTheWindowOpen) {
    HACCEL table = buildAccelerators();
    state_->activeAccelerators = table;
    HWND view = item(kViewId);
    ShowWindow(view, SW_SHOW);
    SetFocus(view);
    auto press = [&](WORD key, bool control) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = control ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG message{view, WM_KEYDOWN, key, 1};
        if (!translateWindowMessage(dialog_, state_->activeAccelerators, &message)) DispatchMessageW(&message);
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        MSG closed;
        return PeekMessageW(&closed, dialog_, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
    };
    EXPECT_FALSE(press('M', true));
    EXPECT_TRUE(measureMode(view));
    EXPECT_FALSE(press(VK_ESCAPE, false));
    EXPECT_FALSE(measureMode(view));
    EXPECT_FALSE(press(VK_ESCAPE, false));
    Sleep(kEscapeGraceMs + 100);  // once the grace is over, Esc exits as File > Exit says
    EXPECT_TRUE(press(VK_ESCAPE, false));
    runCommand(state_, kCommandEscapeCloses, 0);
    EXPECT_FALSE(press(VK_ESCAPE, false));
    runCommand(state_, kCommandEscapeCloses, 0);
    state_->toolEscapeSeen = false;
    ShowWindow(view, SW_HIDE);
    state_->activeAccelerators = nullptr;
    DestroyAcceleratorTable(table);
}

// Another file opens without the last model's section; added parts keep it.
TEST_F(MainDialogTest, TheSectionEndsWithTheModelAndStaysForAddedParts) {
    auto sectioned = [] {
        return viewSection(item(kViewId)).on != 0 && (GetMenuState(state_->menu, kCommandSection, MF_BYCOMMAND) & MF_CHECKED);
    };
    folder_.write("second.stl", binaryStl(cubeTriangles()));
    open("first.stl", binaryStl(cubeTriangles()));
    ASSERT_TRUE(waitUntilShown());
    runCommand(state_, kCommandSection, 0);
    ASSERT_TRUE(sectioned());
    addPartFiles(state_, folderList(folder_.directory(), {"second.stl"}).get());
    ASSERT_TRUE(waitUntilShown());
    EXPECT_TRUE(sectioned());
    open("first.stl", binaryStl(cubeTriangles()));
    ASSERT_TRUE(waitUntilShown());
    EXPECT_FALSE(sectioned());
    EXPECT_EQ(text(item(kSectionLineId)), L"");
}

TEST_F(MainDialogTest, AddedPartsTakeTheFreeSlotsAndJoinTheTitle) {
    for (const char* name : {"a.stl", "b.stl", "c.stl", "d.stl", "e.stl"})
        folder_.write(name, binaryStl(name[0] < 'c' ? cubeTriangles() : std::vector{unitTriangle()}, name));
    std::string dir = folder_.directory();
    runCommand(state_, kCommandMillimetres, 0);  // not the locale's choice
    openFiles(state_, folderList(dir, {"a.stl", "b.stl"}).get(), true, nullptr);
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(&state_->model), 2);
    // Two closed cubes of 10 mm: the facts line sums them.
    EXPECT_EQ(text(item(kFactsLineId)), L"24 triangles, 1,200\u00A0mm\u00B2, 2,000\u00A0mm\u00B3, 2.48\u00A0g of PLA if solid");
    // The material and the printer from the Settings menu, stored for the next start.
    runCommand(state_, kCommandFirstMaterial + 2, 0);
    EXPECT_EQ(text(item(kFactsLineId)), L"24 triangles, 1,200\u00A0mm\u00B2, 2,000\u00A0mm\u00B3, 2.08\u00A0g of ABS if solid");
    EXPECT_EQ(text(item(kFitLineId)), L"");
    runCommand(state_, kCommandFirstPrinter, 0);
    EXPECT_EQ(text(item(kFitLineId)).substr(0, 24), L"Fits the Prusa MK4S (250");
    EXPECT_EQ(readSetting(state_->preferences.keys, kSettingMaterial), 2u);
    EXPECT_EQ(readSetting(state_->preferences.keys, kSettingPrinter), 1u);
    runCommand(state_, kCommandNoPrinter, 0);
    runCommand(state_, kCommandFirstMaterial, 0);
    EXPECT_EQ(text(item(kFitLineId)), L"");
    EXPECT_EQ(readSetting(state_->preferences.keys, kSettingPrinter), 0u);
    ASSERT_TRUE(waitFor([] { return state_->model.checks[1].state == kCheckDone; }));
    pumpMessages(dialog_);
    EXPECT_EQ(text(item(kOverhangLineId)), L"No overhangs steeper than 45\u00B0");  // cubes on the bed
    EXPECT_FALSE(grayed(kCommandAddParts));
    EXPECT_EQ(text(item(kMessagesId)).substr(0, 7), L"a.stl\r\n");  // each file's messages under its name
    addPartFiles(state_, folderList(dir, {"c.stl", "d.stl", "e.stl"}).get());
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(&state_->model), 4);  // the fifth file finds no slot, and is told so
    EXPECT_NE(text(item(kMessagesId)).find(L"e.stl: not added; one model holds at most four parts\r\n"),
              std::wstring::npos);
    EXPECT_TRUE(grayed(kCommandAddParts));
    EXPECT_EQ(text(dialog_), kTitleOf + L"a.stl + b.stl + c.stl + d.stl");
    EXPECT_EQ(text(item(kKindLineId)), L"Binary STL");
    EXPECT_EQ(SendMessageW(item(kTreeId), TVM_GETCOUNT, 0, 0), 8);
    EXPECT_TRUE(IsWindowVisible(item(kFirstSwatchId + 3)));
    // Without a model name in their headers the parts are told apart by their file names.
    std::vector<std::wstring> names;
    HWND tree = item(kTreeId);
    for (HTREEITEM file = TreeView_GetRoot(tree); file; file = TreeView_GetNextSibling(tree, file))
        names.push_back(itemText(tree, file));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.stl", L"b.stl", L"c.stl", L"d.stl"}));
    // The facts line names the selected part, and sums them all without a selection.
    EXPECT_EQ(text(item(kFactsLineId)).substr(0, 13), L"26 triangles,");
    TreeView_SelectItem(tree, TreeView_GetNextSibling(tree, TreeView_GetRoot(tree)));
    EXPECT_EQ(text(item(kFactsLineId)).substr(0, 21), L"Part 2: 12 triangles,");
}

// The key of Show problems as the screen shows it in the view's lower left
// corner, over a white and over a black background: the same pixels on
// both, mostly the pale box with dark text, a swatch per kind the model
// has; none without problems. Answers the kinds whose swatch shows.
uint32_t legendSwatchesOnScreen(HWND view) {
    uint32_t kinds = ~0u;
    std::vector<uint32_t> first;
    for (uint32_t background : {0xFFFFFFFFu, 0xFF000000u}) {
        setBackgroundColor(view, background);
        RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        pumpUntil([&] { return !viewStateOf(view)->frameInFlight; }, 5000, GetParent(view));
        pumpMessages(GetParent(view));
        ProblemLegend legend;
        memcpy(&legend, &viewStateOf(view)->legend, sizeof legend);
        RECT client;
        GetClientRect(view, &client);
        POINT corner{0, client.bottom};
        ClientToScreen(view, &corner);
        int margin = int(legend.dpi) / 12;
        HDC screen = GetDC(nullptr);
        std::vector<uint32_t> pixels =
            legend.pixels ? capturePixels(screen, corner.x + margin, corner.y - margin - legend.height, legend.width,
                                          legend.height)
                          : std::vector<uint32_t>{};
        ReleaseDC(nullptr, screen);
        if (!legend.pixels) return 0;
        size_t box = std::count(pixels.begin(), pixels.end(), 0xFAFAFAu);
        size_t dark = std::count_if(pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xC0C0C0) == 0; });
        EXPECT_GT(box, pixels.size() / 2);
        EXPECT_GT(dark, size_t(50));
        if (first.empty()) first = pixels;
        EXPECT_EQ(pixels, first);
        uint32_t shown = 0;
        const uint32_t swatches[3] = {0xFF9800, 0xFF0000, 0x007CFF};  // orange, red, blue as 0xRRGGBB
        for (uint32_t kind = 0; kind < 3; ++kind)
            if (std::count(pixels.begin(), pixels.end(), swatches[kind]) > 20) shown |= 1u << kind;
        kinds &= shown;
    }
    return kinds;
}

// The check of the real parts reaches the check line and the facts line
// (their rules are the panel text tests'); however long, the line shows whole
// and the rows below make way; with Show problems on, the view draws the
// hole's edges in red and the faces turned the wrong way in orange, and its
// key says so.
TEST_F(MainDialogTest, TheCheckLineSaysWhetherTheSurfaceIsClosedAndTheVolumeFollowsIt) {
    std::vector<TestTriangle> cube = cubeTriangles(), openCube(cube.begin() + 2, cube.end());
    std::vector<TestTriangle> everything = openCube;  // open, turned and a sliver: the line wraps
    std::swap(everything[2].vertices[1], everything[2].vertices[2]);  // in front, beside the hole
    everything.push_back(unitTriangle());
    memcpy(everything.back().vertices[1], everything.back().vertices[0], 12);
    std::vector<TestTriangle> insideOut = cube;
    for (TestTriangle& triangle : insideOut) std::swap(triangle.vertices[1], triangle.vertices[2]);
    struct Row {
        const char* name;
        std::vector<TestTriangle> triangles;
        std::wstring checkLine;
        std::wstring volumeEnd;  // how the facts line ends
        bool red, orange;        // drawn problems
        uint32_t keyed;          // the kinds the key names
    } rows[] = {
        {"closed", cube, L"Closed surface, 1 shell", L" if solid", false, false, 0},
        {"open", openCube, L"Not closed: 1 hole (4 open edges)", L"volume: surface not closed", true, false,
         1u << kProblemOpen},
        {"everything", everything,
         L"Not closed: 1 hole (4 open edges); 1 face turned the wrong way; 1 triangle without area",
         L"volume: surface not closed", true, true, 1u << kProblemOpen | 1u << kProblemFlipped},
        {"inside out", insideOut, L"Inside out: all faces point inwards", L" if solid", false, true, 1u << kProblemFlipped},
    };
    runCommand(state_, kCommandShowProblems, 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        open(std::string(row.name) + ".stl", binaryStl(row.triangles));
        ASSERT_TRUE(waitUntilShown());
        ASSERT_TRUE(waitFor([] { return state_->model.checks[0].state == kCheckDone; }));
        pumpMessages(dialog_);
        EXPECT_EQ(text(item(kCheckLineId)), row.checkLine);
        // However long, the line shows whole, and the rows below make way.
        RECT line, below, extent{0, 0, 0, 0};
        GetWindowRect(item(kCheckLineId), &line);
        GetWindowRect(item(kSpaceComboId), &below);
        extent.right = line.right - line.left;
        HDC dc = GetDC(item(kCheckLineId));
        HGDIOBJ font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item(kCheckLineId), WM_GETFONT, 0, 0)));
        DrawTextW(dc, row.checkLine.c_str(), -1, &extent, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, font);
        ReleaseDC(item(kCheckLineId), dc);
        EXPECT_LE(extent.bottom, line.bottom - line.top);
        EXPECT_GE(below.top, line.bottom);
        std::wstring facts = text(item(kFactsLineId));
        EXPECT_TRUE(facts.size() > row.volumeEnd.size() &&
                    facts.compare(facts.size() - row.volumeEnd.size(), row.volumeEnd.size(), row.volumeEnd) == 0)
            << std::string(facts.begin(), facts.end());
        // From below and in front, where the hole and the turned face are.
        setViewAngles(item(kViewId), std::array<float, 3>{}.data(), 0x10000000, 0x10000000);
        Picture picture;
        ASSERT_TRUE(renderViewPicture(item(kViewId), &picture, nullptr));
        int red = 0, orange = 0;
        for (int i = 0; i < picture.width * picture.height; ++i) {
            const uint8_t* p = picture.pixels + 4 * i;
            red += p[0] > 200 && p[1] < 60 && p[2] < 60;
            orange += p[0] > p[1] + 40 && p[1] > p[2] + 40;
        }
        freePicture(&picture);
        EXPECT_EQ(red > 20, row.red) << red;
        EXPECT_EQ(orange > 200, row.orange) << orange;
        EXPECT_EQ(legendSwatchesOnScreen(item(kViewId)), row.keyed);
    }
    setBackgroundColor(item(kViewId), state_->preferences.values[kSettingBackgroundColor]);
    runCommand(state_, kCommandShowProblems, 0);
    runCommand(state_, kCommandResetView, 0);
}

// The bundled samples are what a new user opens first: closed surfaces,
// whose volume and weight show.
TEST_F(MainDialogTest, TheSamplesAreClosed) {
    const struct {
        const char* name;
        std::wstring checkLine;
    } samples[] = {{"desk_lamp.stl", L"Closed surface, 5 shells"}, {"rainbow_torus.stl", L"Closed surface, 1 shell"}};
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.name);
        std::ifstream file(std::string(STLV_SOURCE_DIR "/samples/") + sample.name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty());
        open(sample.name, bytes);
        ASSERT_TRUE(waitUntilShown());
        ASSERT_TRUE(waitFor([] { return state_->model.checks[0].state == kCheckDone; }));
        pumpMessages(dialog_);
        EXPECT_EQ(text(item(kCheckLineId)), sample.checkLine);
        std::wstring facts = text(item(kFactsLineId));
        EXPECT_NE(facts.find(L" if solid"), std::wstring::npos) << std::string(facts.begin(), facts.end());
    }
}

// A font with the thin space, one without it, and a dingbat font without the
// thin space and the ellipsis: the control shows only characters its font can
// draw. The faces come with the system's fonts; a missing one fails its row.
TEST_F(MainDialogTest, PanelTextKeepsOnlyCharactersTheFontCanDraw) {
    HWND control = item(kSizeLineId);
    HFONT panelFont = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    for (auto [face, shown] : {std::pair{L"DejaVu Sans", L"6.01\u2009mm \u00D7 2\u2009in \u2026"},
                               {L"Liberation Sans", L"6.01\u00A0mm \u00D7 2\u00A0in \u2026"},
                               {L"D050000L", L"6.01\u00A0mm \u00D7 2\u00A0in ..."}}) {
        HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        setPanelText(control, L"6.01\u2009mm \u00D7 2\u2009in \u2026");
        EXPECT_EQ(text(control), shown) << face;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(panelFont), FALSE);
        DeleteObject(font);
    }
}

TEST_F(MainDialogTest, PictureCommandsFollowTheModelAndCopyTheView) {
    for (WORD id : {kCommandSavePicture, kCommandCopyPicture}) EXPECT_TRUE(grayed(id));
    open("red.stl", binaryStl({unitTriangle()}, std::string("COLOR=\xFF\0\0\xFF", 10)));
    ASSERT_TRUE(waitUntilShown());
    for (WORD id : {kCommandSavePicture, kCommandCopyPicture}) EXPECT_FALSE(grayed(id));
    SetFocus(item(kViewId));
    // Another window holds the clipboard for a moment (a clipboard manager): the copy waits for it.
    HANDLE held = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread holder([held] {
        bool open = OpenClipboard(nullptr) && EmptyClipboard();
        SetEvent(held);
        Sleep(200);
        if (open) CloseClipboard();
    });
    WaitForSingleObject(held, 10000);
    CloseHandle(held);
    runCommand(state_, kCommandCopyPicture, 0);
    holder.join();
    RECT client;
    GetClientRect(item(kViewId), &client);
    ASSERT_TRUE(OpenClipboard(dialog_));
    const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(GetClipboardData(CF_DIB)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(std::tuple(header->biWidth, header->biHeight, header->biBitCount),
              std::tuple(client.right, client.bottom, WORD(32)));
    // Bottom-up rows of blue, green, red: the triangle's lower left corner is in the middle.
    const auto* pixels = reinterpret_cast<const uint8_t*>(header + 1);
    int reds = 0;
    for (LONG i = 0; i < header->biWidth * header->biHeight; ++i)
        reds += pixels[4 * i + 2] > 150 && pixels[4 * i + 1] < 80 && pixels[4 * i] < 80;
    EXPECT_GT(reds, 100);
    CloseClipboard();
    // In the messages box Ctrl+C copies its text, not the picture.
    SetFocus(item(kMessagesId));
    SendMessageW(item(kMessagesId), EM_SETSEL, 0, 4);
    runCommand(state_, kCommandCopyPicture, 0);
    ASSERT_TRUE(OpenClipboard(dialog_));
    EXPECT_EQ(GetClipboardData(CF_DIB), nullptr);
    const wchar_t* copied = static_cast<const wchar_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)));
    EXPECT_EQ(std::wstring(copied ? copied : L"-"), text(item(kMessagesId)).substr(0, 4));
    CloseClipboard();
    // Save picture proposes the model's name beside its file and says where it wrote.
    wchar_t proposed[MAX_PATH];
    proposePicturePath(&state_->model.parts[0], proposed, MAX_PATH);
    const std::wstring png = wide(folder_.directory() + "red.png");
    EXPECT_EQ(proposed, png);
    EXPECT_TRUE(savePictureTo(dialog_, proposed, nullptr));
    EXPECT_TRUE(std::filesystem::exists(png));
    EXPECT_TRUE(text(item(kMessagesId)).ends_with(L"\r\nPicture saved to " + png + L"\r\n"));
    for (auto [opened, proposal] : {std::pair{L"C:\\x.y\\model", L"C:\\x.y\\model.png"}, {L"a.b.STL", L"a.b.png"}}) {
        ModelPart part{};
        part.filePath = const_cast<wchar_t*>(opened);
        proposePicturePath(&part, proposed, MAX_PATH);
        EXPECT_EQ(std::wstring(proposed), proposal);
    }
    EXPECT_FALSE(savePictureTo(dialog_, (png + L"\\x.png").c_str(), nullptr));  // a folder that is not there
    EXPECT_TRUE(text(item(kMessagesId)).find(L"Picture saved to " + png + L"\\x.png") == std::wstring::npos);
    clearModel(state_);
    EXPECT_TRUE(grayed(kCommandCopyPicture));
}

// What the timer does in the modal dialogs of Save as: OK on the repairs
// step, then the file name typed into the Save dialog and Save pressed.
std::wstring typedSaveName;
int saveDialogsSeen = 0;

void CALLBACK answerSaveDialogs(HWND, UINT, UINT_PTR timer, DWORD) {
    if (HWND options = FindWindowW(L"#32770", L"Save as: repairs")) {
        ++saveDialogsSeen;
        PostMessageW(options, WM_COMMAND, IDOK, 0);
        return;
    }
    HWND save = FindWindowW(L"#32770", L"Save as");
    if (!save) return;
    ++saveDialogsSeen;
    KillTimer(nullptr, timer);
    // The file name box: a combo box (cmb13) in the Explorer-style dialog, an edit (edt1) in the old one.
    HWND name = GetDlgItem(save, 0x47C);
    if (!name) name = GetDlgItem(save, 0x480);
    SetWindowTextW(name, typedSaveName.c_str());
    PostMessageW(save, WM_COMMAND, IDOK, 0);
}

// Save as through both dialogs writes a file that loads closed; the messages
// box says what was repaired and what is still open. A name in a folder that
// cannot take it keeps the file there and says so.
TEST_F(MainDialogTest, SaveAsWritesARepairedFileThatLoadsClosed) {
    EXPECT_TRUE(grayed(kCommandSaveModel));
    std::vector<TestTriangle> open = cubeTriangles();
    open.erase(open.begin(), open.begin() + 2);
    this->open("open.stl", binaryStl(open, "UNITS=mm"));
    ASSERT_TRUE(waitUntilShown());
    EXPECT_FALSE(grayed(kCommandSaveModel));
    wchar_t proposed[MAX_PATH];
    proposeSavePath(&state_->model.parts[0], kSaveBinaryStl, proposed, MAX_PATH);
    EXPECT_EQ(std::wstring(proposed), wide(folder_.directory() + "open-fixed.stl"));
    for (const char* name : {"open-fixed.3mf", "open-fixed.stl"}) {
        SCOPED_TRACE(name);
        typedSaveName = wide(folder_.directory() + name);
        saveDialogsSeen = 0;
        SetTimer(nullptr, 0, 100, answerSaveDialogs);
        runCommand(state_, kCommandSaveModel, 0);
        EXPECT_EQ(saveDialogsSeen, 2);
        std::ifstream in(folder_.directory() + name, std::ios::binary);
        Loaded saved(std::string(std::istreambuf_iterator<char>(in), {}));
        ASSERT_TRUE(saved.loaded());
        EXPECT_EQ(+saved.solid(0).triangleCount, 12u);
        SurfaceCheck check;
        ASSERT_TRUE(checkSurface(&saved.part.mesh, &check, nullptr, nullptr, nullptr));
        EXPECT_TRUE(check.closed);
        std::wstring messages = text(item(kMessagesId));
        EXPECT_NE(messages.find(L"Closed 1 hole of 4 edges\r\nNothing is left open\r\nSaved " + typedSaveName),
                  std::wstring::npos) << messages;
    }
    // A read-only file in the way is kept as it was, and the box says why.
    const std::string kept = folder_.write("kept.stl", "the old bytes");
    SetFileAttributesW(wide(folder_.directory() + kept).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(saveModelTo(state_, wide(folder_.directory() + kept).c_str(), RepairChoice{1, 1, 1, 1}));
    std::ifstream in(folder_.directory() + kept, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the old bytes");
    EXPECT_NE(text(item(kMessagesId)).find(L"kept.stl could not be written: "), std::wstring::npos);
    SetFileAttributesW(wide(folder_.directory() + kept).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file without a unit tag is taken for millimetres; the Unit box says
// otherwise for the part: its size line, facts and overhangs follow at once
// (inches: 25.4 times the size), and Save as writes the part so, in mm.
TEST_F(MainDialogTest, TheUnitBoxRescalesThePartAndWhatIsSaved) {
    runCommand(state_, kCommandMillimetres, 0);
    EXPECT_FALSE(IsWindowEnabled(item(kUnitComboId)));
    open("t.stl", binaryStl(tTriangles()));
    ASSERT_TRUE(waitUntilShown());
    ASSERT_TRUE(waitFor([] { return state_->model.checks[0].state == kCheckDone; }));
    HWND box = item(kUnitComboId);
    EXPECT_TRUE(IsWindowEnabled(box));
    EXPECT_EQ(SendMessageW(box, CB_GETCURSEL, 0, 0), 0);
    const struct {
        int choice;  // mm, cm, m, inch
        const wchar_t *size, *overhangs;
    } steps[] = {
        {3, L"762.00", L"Overhangs: 129,000"},  // 2 cm² a side is 200 mm², in inches 645.16 times that
        {1, L"300.00", L"Overhangs: 20,000"},
        {0, L"30.00", L"Overhangs: 200"},
        {3, L"762.00", L"Overhangs: 129,000"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.choice);
        SendMessageW(box, CB_SETCURSEL, step.choice, 0);
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(kUnitComboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
        pumpMessages(dialog_);
        EXPECT_TRUE(text(item(kSizeLineId)).starts_with(step.size)) << text(item(kSizeLineId));
        EXPECT_TRUE(text(item(kOverhangLineId)).starts_with(step.overhangs)) << text(item(kOverhangLineId));
    }
    float low[3], high[3];
    ASSERT_TRUE(viewBox(item(kViewId), low, high));
    EXPECT_NEAR(high[0] - low[0], 30 * 0.0254, 1e-6);
    const std::string saved = folder_.directory() + "t-inches.stl";
    ASSERT_TRUE(saveModelTo(state_, wide(saved).c_str(), RepairChoice{}));
    std::ifstream in(saved, std::ios::binary);
    Loaded again(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(again.loaded());
    EXPECT_FALSE(again.part.metadata.unitAssumed);  // written as millimetres, no longer a guess
    EXPECT_NEAR(again.gpu->boundsMax[0] - again.gpu->boundsMin[0], 30 * 0.0254, 1e-6);
    open("t.stl", binaryStl(tTriangles()));  // a file opened anew has its own unit again
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(SendMessageW(box, CB_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(text(item(kSizeLineId)).starts_with(L"30.00")) << text(item(kSizeLineId));
}

// The File menu's item for the slicers: its text, whether it is grey, and the names in its submenu.
struct SlicerItem {
    std::wstring text;
    bool grayed;
    std::vector<std::wstring> submenu;
};

SlicerItem slicerItem(HWND dialog, HMENU menuBar) {
    HMENU file = GetSubMenu(menuBar, 0);
    SendMessageW(dialog, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(file), 0);
    for (int position = 0; position < GetMenuItemCount(file); ++position) {
        wchar_t text[160] = L"";
        MENUITEMINFOW item{sizeof item, MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_SUBMENU};
        item.dwTypeData = text;
        item.cch = 160;
        if (!GetMenuItemInfoW(file, position, TRUE, &item) ||
            (item.wID != kCommandOpenInSlicer && item.wID != kCommandFirstSlicer))
            continue;
        SlicerItem found{text, (item.fState & MFS_GRAYED) != 0, {}};
        for (int k = 0; item.hSubMenu && k < GetMenuItemCount(item.hSubMenu); ++k) {
            GetMenuStringW(item.hSubMenu, k, text, 160, MF_BYPOSITION);
            found.submenu.push_back(text);
        }
        return found;
    }
    return {L"(no item)", true, {}};
}

// A copy of the fake slicer registered under App Paths as the slicer's program; unregistered when it goes.
struct RegisteredSlicer {
    RegisteredSlicer(const std::wstring& program, const std::wstring& folder) : key(kAppPaths + program) {
        CreateDirectoryW(folder.c_str(), nullptr);
        path = folder + program;
        CopyFileW(STLV_FAKE_SLICER, path.c_str(), FALSE);
        HKEY opened;
        RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
        RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(opened);
    }
    ~RegisteredSlicer() {
        RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    }
    // Waits for the arguments the slicer records when started; empty when it was not.
    std::vector<std::wstring> arguments() const {
        const std::wstring record = path + L".args";
        std::vector<std::wstring> lines;
        pumpUntil([&] {
            std::ifstream in(std::filesystem::path(record), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
            if (text.empty() || text.back() != L'\n') return false;
            for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
                lines.push_back(text.substr(start, end - start));
            return true;
        }, 15000, nullptr);
        DeleteFileW(record.c_str());
        return lines;
    }
    static constexpr const wchar_t* kAppPaths = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    std::wstring key, path;
};

// Open in slicer: grey saying why while no slicer is found, one item naming
// the only one, a submenu for more. The slicer (a fake registered under App
// Paths, in a folder with spaces) gets the shown file as it is, at a path of
// 300 characters too, and a model with a hole as its mended copy in the
// temporary folder, which loads closed. A program that will not start is named.
TEST_F(MainDialogTest, OpenInSlicerHandsTheShownFileOrItsMendedCopyToTheSlicer) {
    SlicerItem none = slicerItem(dialog_, state_->menu);
    EXPECT_TRUE(none.grayed);
    EXPECT_EQ(none.text, L"Open &in slicer (no PrusaSlicer, Bambu Studio, OrcaSlicer or Cura found)");
    const std::wstring programs = wide(folder_.directory() + "Slicer programs\\");
    RegisteredSlicer prusa(L"prusa-slicer.exe", programs);
    SlicerItem one = slicerItem(dialog_, state_->menu);
    EXPECT_EQ(one.text, L"Open &in PrusaSlicer");
    EXPECT_TRUE(one.grayed) << "no model shown";

    const std::string cube = binaryStl(cubeTriangles());
    this->open("a cube.stl", cube);
    ASSERT_TRUE(waitFor([] { return state_->model.checks[0].state == kCheckDone; }));
    EXPECT_FALSE(slicerItem(dialog_, state_->menu).grayed);
    runCommand(state_, kCommandFirstSlicer, 0);
    EXPECT_EQ(prusa.arguments(), std::vector<std::wstring>{wide(folder_.directory() + "a cube.stl")});

    RegisteredSlicer orca(L"orca-slicer.exe", programs);
    SlicerItem two = slicerItem(dialog_, state_->menu);
    EXPECT_EQ(two.text, L"Open &in slicer");
    EXPECT_EQ(two.submenu, (std::vector<std::wstring>{L"PrusaSlicer", L"OrcaSlicer"}));
    const std::string deep = makeDeepFolder(folder_.directory(), 300, "deep cube.stl");
    ASSERT_TRUE(writeFileAt(deep + "deep cube.stl", cube));
    std::wstring handed = wide(deep + "deep cube.stl") + L'\0';
    COPYDATASTRUCT data{kHandOverTag, static_cast<DWORD>(handed.size() * 2), handed.data()};
    SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    ASSERT_TRUE(waitFor([&] {
        const ModelPart& part = state_->model.parts[0];
        return !state_->navigation.currentJob && part.filePath && handed.c_str() == std::wstring(part.filePath) &&
               state_->model.checks[0].state == kCheckDone;
    }));
    runCommand(state_, kCommandFirstSlicer + 1, 0);
    EXPECT_EQ(orca.arguments(), std::vector<std::wstring>{wide(deep + "deep cube.stl")});

    std::vector<TestTriangle> open = cubeTriangles();
    open.erase(open.begin(), open.begin() + 2);
    this->open("open.stl", binaryStl(open, "UNITS=mm"));
    ASSERT_TRUE(waitFor([] { return !state_->navigation.currentJob && state_->model.checks[0].state == kCheckDone; }));
    wchar_t copy[MAX_PATH];
    ASSERT_TRUE(fixedCopyPath(&state_->model.parts[0], copy, MAX_PATH));
    runCommand(state_, kCommandFirstSlicer, 0);
    EXPECT_EQ(prusa.arguments(), std::vector<std::wstring>{copy});
    std::ifstream in(std::filesystem::path(copy), std::ios::binary);
    Loaded saved(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(saved.loaded());
    SurfaceCheck check;
    ASSERT_TRUE(checkSurface(&saved.part.mesh, &check, nullptr, nullptr, nullptr));
    EXPECT_TRUE(check.closed);
    in.close();
    DeleteFileW(copy);
    // A program that is none: the messages box says that it would not start.
    std::ofstream(std::filesystem::path(prusa.path), std::ios::binary) << "not a program";
    runCommand(state_, kCommandFirstSlicer, 0);
    EXPECT_NE(text(item(kMessagesId)).find(L"Open in slicer error: " + prusa.path + L" could not be started: "),
              std::wstring::npos) << text(item(kMessagesId));
    DeleteFileW(copy);
}

// Open in slicer gives the slicer the shown file as it is unless the model as
// shown differs from it: each reason for the mended copy on its own, and the
// file itself where none holds.
TEST_F(MainDialogTest, OpenInSlicerMakesTheMendedCopyForEachReasonAndOnlyThen) {
    RegisteredSlicer prusa(L"prusa-slicer.exe", wide(folder_.directory() + "Slicer programs\\"));
    const std::vector<TestTriangle> cube = cubeTriangles();
    auto changed = [&](auto change) {
        std::vector<TestTriangle> triangles = cube;
        change(&triangles);
        return triangles;
    };
    auto reverse = [](TestTriangle* t) { std::swap(t->vertices[1], t->vertices[2]); };
    std::string twoSolids;
    for (const char* name : {"first", "second"}) {
        twoSolids += std::string("solid ") + name + "\n";
        for (const TestTriangle& t : cube) {
            twoSolids += "facet normal 0 0 0\nouter loop\n";
            for (const auto& v : t.vertices)
                twoSolids += "vertex " + std::to_string(v[0] + (name[0] == 's' ? 20 : 0)) + " " + std::to_string(v[1]) +
                             " " + std::to_string(v[2]) + "\n";
            twoSolids += "endloop\nendfacet\n";
        }
        twoSolids += std::string("endsolid ") + name + "\n";
    }
    auto choose = [&](int id, int choice) {
        HWND box = item(id);
        SendMessageW(box, CB_SETCURSEL, choice, 0);
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
    };
    auto placeOnFace = [&] {
        runCommand(state_, kCommandPlaceOnFace, 0);
        RECT client;
        GetClientRect(item(kViewId), &client);
        LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
        SendMessageW(item(kViewId), WM_LBUTTONDOWN, MK_LBUTTON, middle);
        SendMessageW(item(kViewId), WM_LBUTTONUP, 0, middle);
        ASSERT_TRUE(static_cast<const GpuMesh*>(state_->model.parts[0].gpuMesh)->placed);
    };
    auto hideSecondSolid = [&] {
        HWND tree = item(kTreeId);
        TVITEMW fields{};
        fields.mask = TVIF_HANDLE | TVIF_STATE;
        fields.hItem = TreeView_GetNextSibling(tree, TreeView_GetChild(tree, TreeView_GetRoot(tree)));
        fields.stateMask = TVIS_STATEIMAGEMASK;
        fields.state = INDEXTOSTATEIMAGEMASK(1);
        SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
        applyTreeChecks(tree, &state_->model);
        ASSERT_FALSE(state_->model.parts[0].visibleSolids[1]);
    };
    const struct {
        const char* what;
        std::string file;
        std::function<void()> change;  // may be empty
        bool copy;
    } rows[] = {
        {"millimetres, the check clean", binaryStl(cube, "UNITS=mm"), {}, false},
        {"the unit assumed", binaryStl(cube), {}, false},
        {"the unit assumed, millimetres chosen", binaryStl(cube), [&] { choose(kUnitComboId, 0); }, false},
        {"inches", binaryStl(cube, "UNITS=Inch"), {}, true},
        {"centimetres", binaryStl(cube, "UNITS=cm"), {}, true},
        {"the unit assumed, inches chosen", binaryStl(cube), [&] { choose(kUnitComboId, 3); }, true},
        {"placed by Place on face", binaryStl(cube, "UNITS=mm"), placeOnFace, true},
        {"a solid hidden", twoSolids, hideSecondSolid, true},
        {"shown Y up", binaryStl(cube, "UNITS=mm"), [&] { choose(kSpaceComboId, 0); }, true},
        {"open", binaryStl(changed([](auto* t) { t->erase(t->begin(), t->begin() + 2); }), "UNITS=mm"), {}, true},
        {"a face flipped", binaryStl(changed([&](auto* t) { reverse(&(*t)[3]); }), "UNITS=mm"), {}, true},
        {"a triangle without area",
         binaryStl(changed([](auto* t) { t->push_back(TestTriangle{{}, {{5, 5, 5}, {5, 5, 5}, {-5, 5, 5}}, 0}); }),
                   "UNITS=mm"),
         {}, true},
        {"inside out", binaryStl(changed([&](auto* t) { for (TestTriangle& f : *t) reverse(&f); }), "UNITS=mm"), {}, true},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string name = "row " + std::to_string(index++) + ".stl";
        open(name, row.file);
        ASSERT_TRUE(waitFor([] { return !state_->navigation.currentJob && state_->model.checks[0].state == kCheckDone; }));
        pumpMessages(dialog_);
        if (row.change) row.change();
        pumpMessages(dialog_);
        wchar_t copy[MAX_PATH];
        ASSERT_TRUE(fixedCopyPath(&state_->model.parts[0], copy, MAX_PATH));
        runCommand(state_, kCommandFirstSlicer, 0);
        EXPECT_EQ(prusa.arguments(), std::vector<std::wstring>{row.copy ? copy : wide(folder_.directory() + name)});
        EXPECT_EQ(DeleteFileW(copy) != 0, row.copy);
        choose(kSpaceComboId, 1);
    }
}

// A colour change (High Contrast on or off) draws the tree's boxes anew on the window colour.
TEST_F(MainDialogTest, AColourChangeRemakesTheTreeBoxes) {
    HWND tree = item(kTreeId);
    auto boxesBackground = [&] {
        HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
        HBITMAP canvas = CreateCompatibleBitmap(screen, 64, 64);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc, canvas);
        ImageList_Draw(TreeView_GetImageList(tree, TVSIL_STATE), 0, dc, 0, 0, ILD_NORMAL);
        COLORREF colour = GetPixel(dc, 0, 0);
        SelectObject(dc, old);
        DeleteObject(canvas);
        DeleteDC(dc);
        return colour;
    };
    const int element = COLOR_WINDOW;
    const COLORREF before = GetSysColor(COLOR_WINDOW), changed = RGB(10, 200, 30);
    for (COLORREF colour : {changed, before}) {
        ASSERT_TRUE(SetSysColors(1, &element, &colour));
        SendMessageW(dialog_, WM_SYSCOLORCHANGE, 0, 0);
        EXPECT_EQ(boxesBackground(), colour);
    }
}

// Each command as the menu sends it: its menu marks before and after, what it
// does to the dialog's state and the view, and the setting it writes to its key.
TEST_F(MainDialogTest, CommandsMarkTheMenuChangeTheViewAndWriteTheirSetting) {
    runCommand(state_, kCommandMillimetres, 0);  // not the locale's choice
    const MainDialogState& s = *state_;
    const ViewState& v = *viewStateOf(item(kViewId));
    auto on = [&](Setting setting) { return flagOn(&s.preferences, setting); };
    auto measuring = [&] { return (GetMenuState(s.menu, kCommandMeasure, MF_BYCOMMAND) & MF_CHECKED) != 0; };
    auto closePosted = [&] {
        MSG message;
        return PeekMessageW(&message, dialog_, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
    };
    struct Row {
        WORD id;
        UINT marksBefore, marksAfter;
        std::function<bool()> effect;
        const wchar_t* setting = nullptr;  // the value written, if any
        SettingsSlot slot = kMakerKey;
        DWORD stored = 0;
    };
    const Row rows[] = {
        {kCommandFlipZoom, 0, MF_CHECKED, [&] { return on(kSettingFlipZoom) && v.flipZoom; }, L"FlipZoom", kMakerKey, 1},
        {kCommandFlipZoom, MF_CHECKED, 0, [&] { return !on(kSettingFlipZoom) && !v.flipZoom; }, L"FlipZoom", kMakerKey,
         0},
        {kCommandAlwaysRotate, 0, MF_CHECKED, [&] { return on(kSettingAlwaysRotate) && v.alwaysRotate; },
         L"AlwaysRotate", kApplicationKey, 1},
        {kCommandAlwaysRotate, MF_CHECKED, 0, [&] { return !on(kSettingAlwaysRotate) && !v.alwaysRotate; },
         L"AlwaysRotate", kApplicationKey, 0},
        {kCommandSingleInstance, 0, MF_CHECKED, [&] { return on(kSettingSingleInstance); }, L"SingleInstance",
         kApplicationKey, 1},
        {kCommandSingleInstance, MF_CHECKED, 0, [&] { return !on(kSettingSingleInstance); }, L"SingleInstance",
         kApplicationKey, 0},
        {kCommandShowProblems, 0, MF_CHECKED, [&] { return on(kSettingShowProblems) && v.showProblems; },
         L"ShowProblems", kApplicationKey, 1},
        {kCommandShowProblems, MF_CHECKED, 0, [&] { return !on(kSettingShowProblems) && !v.showProblems; },
         L"ShowProblems", kApplicationKey, 0},
        {kCommandShowOverhangs, 0, MF_CHECKED, [&] { return on(kSettingShowOverhangs) && v.overhangs.on; },
         L"ShowOverhangs", kApplicationKey, 1},
        {kCommandShowOverhangs, MF_CHECKED, 0, [&] { return !on(kSettingShowOverhangs) && !v.overhangs.on; },
         L"ShowOverhangs", kApplicationKey, 0},
        {kCommandFirstOverhangAngle + 6, 0, MF_CHECKED, [&] { return v.overhangs.degrees == 60; }, L"OverhangAngle",
         kApplicationKey, 60},
        {kCommandFirstOverhangAngle + 3, 0, MF_CHECKED, [&] { return v.overhangs.degrees == 45; }, L"OverhangAngle",
         kApplicationKey, 45},
        {kCommandReloadOnChange, MF_CHECKED, 0, [&] { return !on(kSettingReloadOnChange); }, L"ReloadOnChange",
         kApplicationKey, 0},
        {kCommandReloadOnChange, 0, MF_CHECKED, [&] { return on(kSettingReloadOnChange); }, L"ReloadOnChange",
         kApplicationKey, 1},
        {kCommandOutline, 0, MF_CHECKED, [&] { return v.renderMode == 2; }, L"RenderMode", kApplicationKey, 2},
        {kCommandWireframe, 0, MF_CHECKED, [&] { return v.renderMode == 1; }, L"RenderMode", kApplicationKey, 1},
        {kCommandSolid, 0, MF_CHECKED, [&] { return v.renderMode == 0; }, L"RenderMode", kApplicationKey, 0},
        {kCommandInches, 0, MF_CHECKED, [&] { return shownUnits(&s.preferences) == DisplayUnits::kInches; }, L"Units",
         kMakerKey, kUnitsInches},
        {kCommandAutomaticUnits, 0, MF_CHECKED, [&] { return s.preferences.values[kSettingUnits] == kUnitsAutomatic; },
         L"Units", kMakerKey, kUnitsAutomatic},
        {kCommandMillimetres, 0, MF_CHECKED, [&] { return shownUnits(&s.preferences) == DisplayUnits::kMillimetres; },
         L"Units", kMakerKey, kUnitsMillimetres},
        {kCommandTop, 0, 0, [&] { return v.yaw == 0 && uint32_t(v.pitch) == 0xC000004E; }},
        {kCommandSetStartView, 0, 0, [&] { return readStartAngles(s.preferences.keys).yaw == 0; },
         L"InitialEyePitchDegrees", kApplicationKey, 270},
        {kCommandLeft, 0, 0, [&] { return uint32_t(v.yaw) == 0xC000004E && v.pitch == 0; }},
        {kCommandFront, 0, 0, [&] { return v.yaw == 0 && v.pitch == 0; }},
        // The start angles without settings: 28 degrees of yaw, 331 of pitch.
        {kCommandResetView, 0, 0, [&] { return v.yaw == 334053020 && uint32_t(v.pitch) == 3948983915u; }},
        {kCommandRotate, 0, 0, [&] { return v.rotationStamp == 0; }},  // nothing to turn
        {kCommandBottom, 0, 0, [&] { return v.yaw == 0 && uint32_t(v.pitch) == 0x3FFFFFB2; }},
        {kCommandRight, 0, 0, [&] { return uint32_t(v.yaw) == 0x3FFFFFB2 && v.pitch == 0; }},
        {kCommandBack, 0, 0, [&] { return v.yaw == INT32_MIN && v.pitch == 0; }},
        {kCommandMeasure, 0, MF_CHECKED, [&] { return v.measuring == 1; }},
        // File > Exit chosen in the menu exits even while measuring.
        {kCommandExit, 0, 0, [&] { return v.measuring == 1 && measuring() && closePosted(); }},
        {kCommandMeasure, MF_CHECKED, 0, [&] { return v.measuring == 0; }},
        {kCommandEscapeCloses, MF_CHECKED, 0, [&] { return !on(kSettingEscapeCloses); }, L"EscapeCloses",
         kApplicationKey, 0},
        {kCommandEscapeCloses, 0, MF_CHECKED, [&] { return on(kSettingEscapeCloses); }, L"EscapeCloses",
         kApplicationKey, 1},
    };
    auto stored = [](HKEY key, const wchar_t* name) {
        DWORD value, size = sizeof value;
        bool found = RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
        return found ? std::optional(value) : std::nullopt;
    };
    auto marks = [&](WORD id) { return GetMenuState(s.menu, id, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED); };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        for (HKEY key : s.preferences.keys) RegDeleteTreeW(key, nullptr);
        EXPECT_EQ(marks(row.id), row.marksBefore);
        SendMessageW(dialog_, WM_COMMAND, row.id, 0);
        EXPECT_EQ(marks(row.id), row.marksAfter);
        EXPECT_TRUE(row.effect());
        if (!row.setting) continue;
        EXPECT_EQ(stored(s.preferences.keys[row.slot], row.setting), row.stored);
        EXPECT_EQ(stored(s.preferences.keys[1 - row.slot], row.setting), std::nullopt);
    }
    // Exit and the dialog manager's cancel both ask the window to close; other keys go unhandled.
    for (WORD id : {WORD(kCommandExit), WORD(IDCANCEL)}) {
        runCommand(state_, id, 0);
        MSG message;
        EXPECT_TRUE(PeekMessageW(&message, dialog_, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << id;
    }
    EXPECT_EQ(SendMessageW(dialog_, WM_KEYDOWN, 'X', 0), -1);
    // A key used answers 0, whatever an earlier message left in the result.
    SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, 12345);
    EXPECT_EQ(SendMessageW(dialog_, WM_KEYDOWN, VK_LEFT, 0), 0);
    EXPECT_EQ(SendMessageW(dialog_, WM_KEYUP, 'X', 0), -1);
}

// Reads as the dialog does at start, from values stored in the two keys;
// writes colours and the placement of a minimised window.
// View > Rotate turns the model until it is chosen again, its mark following.
TEST_F(MainDialogTest, RotateIsCheckedWhileTurningAndChosenAgainStops) {
    open("part.stl", binaryStl({unitTriangle(), unitTriangle(3)}, "Veldmark test part"));
    ASSERT_TRUE(waitUntilShown());
    const ViewState& v = *viewStateOf(item(kViewId));
    auto checked = [] { return (GetMenuState(state_->menu, kCommandRotate, MF_BYCOMMAND) & MF_CHECKED) != 0; };
    runCommand(state_, kCommandRotate, 0);
    EXPECT_TRUE(checked());
    auto yaw = v.yaw;
    EXPECT_TRUE(waitFor([&] { return v.yaw != yaw; }));
    runCommand(state_, kCommandRotate, 0);
    EXPECT_FALSE(checked());
    EXPECT_EQ(v.rotationStamp, 0);
    yaw = v.yaw;
    pumpUntil([] { return false; }, 300, dialog_);
    EXPECT_EQ(v.yaw, yaw);
}

TEST_F(MainDialogTest, SettingsRoundTripThroughTheRegistry) {
    const struct {
        const wchar_t* name;
        SettingsSlot slot;
        DWORD value;
    } stored[] = {
        {L"FlipZoom", kApplicationKey, 1},  // the application key wins
        {L"FlipZoom", kMakerKey, 0},
        {L"Units", kMakerKey, kUnitsInches},
        {L"AlwaysRotate", kMakerKey, 5},  // any nonzero reads as on
        {L"ShowProblems", kMakerKey, 1},
        {L"ReloadOnChange", kMakerKey, 0},  // on unless stored off
        {L"DefaultObjectColor", kMakerKey, 0x102030FF},
        {L"DefaultBackgroundColor", kApplicationKey, 0},  // alpha 0 stays
        {L"InitialEyeYawDegrees", kMakerKey, static_cast<DWORD>(-90)},
        {L"RenderMode", kApplicationKey, 2},
    };
    HKEY* keys = state_->preferences.keys;
    for (const auto& value : stored) RegSetKeyValueW(keys[value.slot], nullptr, value.name, REG_DWORD, &value.value, 4);
    RegSetKeyValueW(keys[kApplicationKey], nullptr, L"Units", REG_SZ, L"1", 4);  // a string is no setting
    Preferences fresh{};
    memcpy(fresh.keys, keys, sizeof fresh.keys);
    readPreferences(&fresh);
    auto on = [&](Setting setting) { return flagOn(&fresh, setting); };
    EXPECT_EQ(std::tuple(on(kSettingFlipZoom), fresh.values[kSettingUnits], on(kSettingAlwaysRotate),
                         on(kSettingSingleInstance), on(kSettingShowProblems), on(kSettingReloadOnChange)),
              std::tuple(true, uint32_t(kUnitsInches), true, false, true, false));
    EXPECT_EQ(fresh.values[kSettingObjectColor], 0xFF302010u);
    EXPECT_EQ(fresh.values[kSettingBackgroundColor], 0u);
    CameraAngles angles = readStartAngles(keys);
    EXPECT_EQ(angles.yaw, degreesToAngle(-90));
    EXPECT_EQ(angles.pitch, degreesToAngle(kDefaultPitchDegrees));
    // The mode comes back as saved; a mode this program does not know is Solid.
    EXPECT_EQ(fresh.values[kSettingRenderMode], 2u);
    for (DWORD mode : {1u, 3u, 0xFFFFFFFFu}) {
        RegSetKeyValueW(keys[kApplicationKey], nullptr, L"RenderMode", REG_DWORD, &mode, 4);
        EXPECT_EQ(readSetting(keys, kSettingRenderMode), mode == 1 ? 1u : 0u) << mode;
    }
    // Colours written and read back keep their bytes; black is stored opaque.
    for (uint32_t colour : {0xFF302010u, 0x00000000u}) {
        EXPECT_TRUE(writeSetting(&fresh, kSettingObjectColor, colour, nullptr));
        EXPECT_EQ(readSetting(keys, kSettingObjectColor), colour | 0xFF000000) << colour;
    }
    // A key that cannot be written reports the failure as a line of its own
    // that names the setting; a key that is not there is no failure.
    Preferences readOnly{};
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPaths[kMakerKey], 0, KEY_READ, &readOnly.keys[kMakerKey]),
              ERROR_SUCCESS);
    Converter converter;
    EXPECT_FALSE(writeSetting(&readOnly, kSettingFlipZoom, 1, converter.producerSink()));
    EXPECT_FALSE(writeSetting(&readOnly, kSettingAlwaysRotate, 1, converter.producerSink()));  // no key
    EXPECT_EQ(converter.inner.codes(), std::vector<StatusCode>{kLine});
    ASSERT_EQ(converter.inner.lines().size(), 1u);
    EXPECT_TRUE(converter.inner.lines()[0].starts_with(L"Settings error: FlipZoom could not be saved: "));
    EXPECT_TRUE(flagOn(&readOnly, kSettingFlipZoom));  // kept for the run
    RegCloseKey(readOnly.keys[kMakerKey]);
    // A window closed while minimised comes back as it was before: normal or maximised.
    for (auto [before, restored] : {std::pair{SW_SHOWNORMAL, SW_SHOWNORMAL}, {SW_MAXIMIZE, SW_SHOWMAXIMIZED}}) {
        ShowWindow(dialog_, before);
        ShowWindow(dialog_, SW_MINIMIZE);
        ASSERT_TRUE(writePlacement(keys, dialog_));
        WINDOWPLACEMENT placement{};
        DWORD size = sizeof placement;
        RegGetValueW(keys[kApplicationKey], nullptr, L"Placement", RRF_RT_REG_BINARY, nullptr, &placement, &size);
        EXPECT_EQ(placement.showCmd, static_cast<UINT>(restored)) << before;
        ShowWindow(dialog_, SW_RESTORE);
        ShowWindow(dialog_, SW_RESTORE);
    }
    SetWindowPos(dialog_, nullptr, 0, 0, 900, 650, SWP_NOZORDER);
}

// The panel after one file: kind, Material box, triangle colour order, colours
// and the names in the tree.
TEST_F(MainDialogTest, ThePanelAppliesTheColourRulesAndShowsNames) {
    const std::string visCamHeader = "C:\\" + std::string(66, 'x') + "_C";
    const std::string magicsHeader = "COLOR=\x10\x20\x30\xFF,MATERIAL=";
    const struct {
        const char* name;
        std::string bytes;
        const wchar_t* kind;
        UINT material;
        LRESULT colourOrder;
        uint32_t overrideColor;
        uint32_t meshColor;  // 0: the default object colour
        const wchar_t* fileItem;
        const wchar_t* solidItem;
    } rows[] = {
        {"ascii.stl",
         "solid gear\tone\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
         "  endloop\n endfacet\nendsolid gear\tone\n",
         L"ASCII STL", BST_UNCHECKED, CB_ERR, 0x00FFFFFF, 0, L"ascii.stl", L"gear\u2409one"},
        {"magics.stl", binaryStl({unitTriangle()}, magicsHeader), L"Binary STL", BST_CHECKED, CB_ERR, 0xFF302010,
         0xFF302010, L"magics.stl", L"Object"},
        {"coloured.stl", binaryStl({unitTriangle(0, 0x001F)}, magicsHeader), L"Binary STL", BST_UNCHECKED, 0,
         0x00302010, 0xFFFFFFFF, L"coloured.stl", L"Object"},
        {"viscam.stl", binaryStl({unitTriangle(0, 0x801F)}, visCamHeader), L"Binary STL", BST_UNCHECKED, 1,
         0x00FFFFFF, 0xFFFFFFFF,
         L"viscam.stl", L"Object"},
        {"sketchup.stl", binaryStl({unitTriangle()}, "SketchUp STL gearbox" + std::string(60, ' ')), L"Binary STL",
         BST_UNCHECKED, CB_ERR, 0x00FFFFFF, 0, L"gearbox", L"Object"},
        // Colours of a 3MF object are triangle colours too, shown untinted.
        {"red.3mf", redCube3mf(), L"3MF by TestCAD 1.0", BST_UNCHECKED, 0, 0x00FFFFFF, 0xFFFFFFFF, L"red.3mf",
         L"Red cube"},
    };
    HWND tree = item(kTreeId);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        open(row.name, row.bytes);
        ASSERT_TRUE(waitUntilShown());
        ASSERT_EQ(usedPartCount(&state_->model), 1);
        EXPECT_EQ(text(item(kKindLineId)), row.kind);
        EXPECT_EQ(IsDlgButtonChecked(dialog_, kMaterialCheckId), row.material);
        EXPECT_EQ(SendMessageW(item(kColorsComboId), CB_GETCURSEL, 0, 0), row.colourOrder);
        // Usable exactly for a part with triangle colours.
        EXPECT_EQ(!!IsWindowEnabled(item(kColorsComboId)), row.colourOrder != CB_ERR);
        EXPECT_EQ(state_->model.overrideColor, row.overrideColor);
        uint32_t meshColor = static_cast<const GpuMesh*>(state_->model.parts[0].gpuMesh)->color;
        EXPECT_EQ(meshColor, row.meshColor ? row.meshColor : state_->preferences.values[kSettingObjectColor]);
        EXPECT_EQ(itemText(tree, TreeView_GetRoot(tree)), row.fileItem);
        EXPECT_EQ(itemText(tree, TreeView_GetChild(tree, TreeView_GetRoot(tree))), row.solidItem);
        clearModel(state_);
    }
}

// A failed open says so in the view's place, unless a model is shown: that
// model and its title stay, and the messages box shows the error line.
TEST_F(MainDialogTest, AFailedOpenKeepsTheShownModelOrSaysWhyInItsPlace) {
    folder_.write("notes.stl", "these are notes, not a model\n");
    open("part.stl", binaryStl({unitTriangle()}));
    ASSERT_TRUE(waitUntilShown());
    const ModelPart shown = state_->model.parts[0];
    std::string manyLines;  // lines before the error push it out of sight
    for (int line = 0; line < 40; ++line) manyLines += "solid s\nendsolid s\n";
    folder_.write("late.stl", manyLines + "solid broken\nfacet normal x\n");
    for (const char* name : {"notes.stl", "late.stl"}) {
        SCOPED_TRACE(name);
        openFiles(state_, folderList(folder_.directory(), {name}).get(), true, nullptr);
        ASSERT_TRUE(waitUntilShown());
        EXPECT_EQ(text(dialog_), kTitleOf + L"part.stl");
        EXPECT_EQ(state_->model.parts[0].heap, shown.heap);
        EXPECT_TRUE(IsWindowVisible(item(kViewId)));
        EXPECT_FALSE(IsWindowVisible(item(kHintId)));
        HWND messages = item(kMessagesId);
        LRESULT firstVisible = SendMessageW(messages, EM_GETFIRSTVISIBLELINE, 0, 0);
        wchar_t line[200] = {200};
        LRESULT length = SendMessageW(messages, EM_GETLINE, firstVisible, reinterpret_cast<LPARAM>(line));
        EXPECT_TRUE(std::wstring(line, length).starts_with(L"STL error: ")) << std::wstring(line, length);
    }
    clearModel(state_);
    openFiles(state_, folderList(folder_.directory(), {"notes.stl"}).get(), true, nullptr);
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(text(dialog_), kTitle);
    EXPECT_TRUE(IsWindowVisible(item(kHintId)));
    EXPECT_EQ(text(item(kHintId)), L"Could not open notes.stl: not an STL file");
    // The next model replaces the failure.
    open("part.stl", binaryStl({unitTriangle()}));
    ASSERT_TRUE(waitUntilShown());
    EXPECT_FALSE(IsWindowVisible(item(kHintId)));
    EXPECT_EQ(text(dialog_), kTitleOf + L"part.stl");
}

// A shown file saved over from outside: the save succeeds, and soon after the
// writer is done the part loads again in its place, the view as it was and
// hidden solids hidden by name; only the changed part of several; a broken
// save keeps the model with the error; with the option off nothing follows.
TEST_F(MainDialogTest, AShownFileSavedOverLoadsAgainWithTheViewKept) {
    auto solid = [](const std::string& name, float x) {
        std::string facet = "facet normal 0 0 1\nouter loop\nvertex " + std::to_string(x) + " 0 0\nvertex " +
                            std::to_string(x + 1) + " 0 0\nvertex " + std::to_string(x) + " 1 0\nendloop\nendfacet\n";
        return "solid " + name + "\n" + facet + "endsolid " + name + "\n";
    };
    const std::string first = solid("a", 0) + solid("b", 2), later = solid("c", 4) + solid("b", 6) + solid("a", 8);
    const std::string broken = "solid broken\nfacet normal x\n";
    std::string dir = folder_.directory();
    folder_.write("shown.stl", first);
    folder_.write("other.stl", binaryStl({unitTriangle()}));
    openFiles(state_, folderList(dir, {"other.stl", "shown.stl"}).get(), true, nullptr);
    ASSERT_TRUE(waitUntilShown());
    ModelPart& shown = state_->model.parts[1];
    HeapHandle otherHeap = state_->model.parts[0].heap;
    setItemSolidsVisible(&state_->model, 1, 1, false);  // "b"
    HWND tree = item(kTreeId), box = item(kUnitComboId);
    TreeView_SelectItem(tree, TreeView_GetNextSibling(tree, TreeView_GetRoot(tree)));
    SendMessageW(box, CB_SETCURSEL, 3, 0);  // inch, for the shown file only
    SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(kUnitComboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
    ASSERT_EQ(shown.metadata.unitScale, kInch);
    HWND view = item(kViewId);
    runCommand(state_, kCommandWireframe, 0);
    runCommand(state_, kCommandSection, 0);
    const float pan[3] = {0.001f, 0, 0};
    setViewAngles(view, pan, degreesToAngle(40), degreesToAngle(10));
    viewStateOf(view)->zoom = 2.5f;
    viewStateOf(view)->section.share = 0.25f;
    const ViewState before = *viewStateOf(view);
    // Written in pieces by a writer that keeps the file open between them.
    auto writeSlowly = [&](const std::string& bytes) {
        HANDLE file = CreateFileW(prefixedPath(dir + "shown.stl").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        bool ok = file != INVALID_HANDLE_VALUE;
        for (size_t at = 0; ok && at < bytes.size(); at += bytes.size() / 3 + 1) {
            DWORD written = 0, piece = DWORD(std::min(bytes.size() - at, bytes.size() / 3 + 1));
            ok = WriteFile(file, bytes.data() + at, piece, &written, nullptr) && written == piece;
            Sleep(kSteadyMs + 100);  // pauses longer than a steady spell: the open handle tells
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return ok;
    };
    const struct {
        const std::string* bytes;
        bool slowly;
        bool loads;
    } saves[] = {{&later, false, true}, {&first, true, true}, {&broken, false, false}, {&later, true, true}};
    for (const auto& save : saves) {
        SCOPED_TRACE(save.bytes->size() + save.slowly);
        HeapHandle shownHeap = shown.heap;
        bool written = false;
        std::thread writer([&] {
            written = save.slowly ? writeSlowly(*save.bytes) : writeFileAt(dir + "shown.stl", *save.bytes);
        });
        bool early = false;  // a load while the writer still writes
        ASSERT_TRUE(waitFor([&] { return (early |= state_->navigation.currentJob != nullptr), written; }) ||
                    (writer.join(), false));
        writer.join();
        EXPECT_FALSE(early);
        DWORD done = GetTickCount();
        auto settled = [&] {
            return !state_->navigation.currentJob &&
                   (save.loads ? shown.fileSize == save.bytes->size() && shown.heap != shownHeap
                               : text(item(kMessagesId)).find(L"STL error") != std::wstring::npos);
        };
        ASSERT_TRUE(pumpUntil(settled, 2000, dialog_));
        EXPECT_LE(GetTickCount() - done, 2000u);
        EXPECT_EQ(state_->model.parts[0].heap, otherHeap);  // the other part stays as it was
        EXPECT_EQ(text(item(kMessagesId)).substr(0, 25), L"shown.stl changed on disk");
        if (!save.loads) {
            EXPECT_EQ(shown.heap, shownHeap);
            continue;
        }
        const ViewState& after = *viewStateOf(view);
        EXPECT_EQ(std::tuple(after.yaw, after.pitch, after.zoom, after.pan[0], after.renderMode, after.section.on,
                             after.section.share),
                  std::tuple(before.yaw, before.pitch, before.zoom, before.pan[0], before.renderMode,
                             before.section.on, before.section.share));
        EXPECT_TRUE(text(item(kFactsLineId)).starts_with(std::to_wstring(1 + shown.mesh.solidCount) + L" triangles"));
        // The file names no unit: the one chosen for it stays, the other part keeps its own.
        EXPECT_EQ(std::pair(shown.metadata.unitScale, static_cast<GpuMesh*>(shown.gpuMesh)->unitScale),
                  std::pair(kInch, kInch));
        EXPECT_EQ(state_->model.parts[0].metadata.unitScale, kMillimetre);
        std::vector<uint8_t> visible(shown.visibleSolids, shown.visibleSolids + shown.mesh.solidCount);
        EXPECT_EQ(visible, (save.bytes == &first ? std::vector<uint8_t>{1, 0} : std::vector<uint8_t>{1, 0, 1}));
    }
    runCommand(state_, kCommandSection, 0);
    runCommand(state_, kCommandSolid, 0);
    runCommand(state_, kCommandReloadOnChange, 0);
    HeapHandle shownHeap = shown.heap;
    ASSERT_TRUE(writeFileAt(dir + "shown.stl", first));
    pumpUntil([] { return false; }, 800, dialog_);
    EXPECT_EQ(shown.heap, shownHeap);
    runCommand(state_, kCommandReloadOnChange, 0);
}

// A file whose triangle colours come out near black: "Off" shows the
// material colour instead, "BGR" the other order, at once, and the next file
// starts again from its own order.
TEST_F(MainDialogTest, TheTriangleColourBoxOverrulesDarkColours) {
    std::vector<TestTriangle> cube = cubeTriangles();
    for (TestTriangle& triangle : cube) triangle.attribute = 0x0003;  // red 3 of 31, no green, no blue
    cube[0].attribute = 0x0002;  // one value on every face would be no colour
    open("dark.stl", binaryStl(cube));
    ASSERT_TRUE(waitUntilShown());
    HWND combo = item(kColorsComboId), view = item(kViewId);
    ASSERT_TRUE(IsWindowEnabled(combo));
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
    // The material box ticked with pale yellow: the dark triangle colours still multiply it.
    state_->model.overrideColor = 0xFF80FFFF;
    CheckDlgButton(dialog_, kMaterialCheckId, BST_CHECKED);
    runCommand(state_, kMaterialCheckId, BN_CLICKED);
    // The middle pixel of the view's picture: red, green, blue.
    auto middle = [&] {
        Picture picture{};
        EXPECT_TRUE(renderViewPicture(view, &picture, nullptr));
        const uint8_t* pixel = picture.pixels + 4 * (size_t(picture.height / 2) * picture.width + picture.width / 2);
        std::tuple colour(pixel[0], pixel[1], pixel[2]);
        freePicture(&picture);
        return colour;
    };
    auto [red, green, blue] = middle();
    EXPECT_LT(red + green + blue, 150);
    const struct {
        int choice;
        bool bright;   // the yellow material shows
        bool blueish;  // the three units went to blue
    } steps[] = {{2, true, false}, {1, false, true}, {0, false, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.choice);
        SendMessageW(combo, CB_SETCURSEL, step.choice, 0);
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(kColorsComboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        auto [r, g, b] = middle();
        EXPECT_EQ(r > 120 && g > 120, step.bright) << int(r) << " " << int(g) << " " << int(b);
        EXPECT_EQ(b > r, step.blueish) << int(r) << " " << int(g) << " " << int(b);
    }
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(kColorsComboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    open("dark.stl", binaryStl({unitTriangle(0, 0x0003)}));
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
}

// A file of many solids lists the first ones with triangles and one item for
// the rest, whose box shows and hides all of them; empty solids are only counted.
TEST_F(MainDialogTest, TheTreeListsAFewThousandSolidsAndOneItemForTheRest) {
    std::string file;
    const uint32_t solids = 2 * kMaxTreeSolids + 10;
    for (uint32_t solid = 0; solid < solids; ++solid) {
        file += "solid s" + std::to_string(solid) + "\n";
        if (solid % 2 == 0 || solid >= 2 * kMaxTreeSolids)  // every other one empty, then all with a triangle
            file += "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n";
        file += "endsolid s" + std::to_string(solid) + "\n";
    }
    open("many.stl", file);
    ASSERT_TRUE(waitUntilShown());
    HWND tree = item(kTreeId);
    HTREEITEM root = TreeView_GetRoot(tree);
    // The first 2,000 with triangles are the even ones up to 3,998: none of the rest are listed.
    const uint32_t firstUnlisted = 2 * kMaxTreeSolids - 1;
    EXPECT_EQ(firstUnlistedSolid(&state_->model.parts[0]), firstUnlisted);
    EXPECT_EQ(SendMessageW(tree, TVM_GETCOUNT, 0, 0), LRESULT(1 + kMaxTreeSolids + 1));
    HTREEITEM last = TreeView_GetChild(tree, root);
    for (HTREEITEM next; (next = TreeView_GetNextSibling(tree, last));) last = next;
    EXPECT_EQ(itemText(tree, last), L"10 more solids");  // 4,000 to 4,009
    EXPECT_EQ(itemText(tree, TreeView_GetChild(tree, root)), L"s0");
    EXPECT_NE(text(item(kMessagesId)).find(L"2,000 solids without triangles, not listed in the tree"), std::wstring::npos);
    // Unticking the "more" item hides exactly the unlisted solids; ticking it shows them again.
    for (bool visible : {false, true}) {
        TVITEMW fields{};
        fields.mask = TVIF_HANDLE | TVIF_STATE;
        fields.hItem = last;
        fields.stateMask = TVIS_STATEIMAGEMASK;
        fields.state = INDEXTOSTATEIMAGEMASK(visible ? 2 : 1);
        SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
        applyTreeChecks(item(kTreeId), &state_->model);
        const uint8_t* shown = state_->model.parts[0].visibleSolids;
        EXPECT_EQ(std::count(shown, shown + solids, 0), visible ? 0 : solids - firstUnlisted);
        EXPECT_EQ(std::count(shown, shown + firstUnlisted, 0), 0);
    }
}

// A click on a solid's check box or space on it hides and shows the solid on
// the screen; the file's own box stays ticked.
TEST_F(MainDialogTest, TreeCheckBoxesHideAndShowTheSolidOnTheScreen) {
    open("cube.stl", binaryStl(cubeTriangles()));
    ASSERT_TRUE(waitUntilShown());
    HWND tree = item(kTreeId), view = item(kViewId);
    HTREEITEM file = TreeView_GetRoot(tree), solid = TreeView_GetChild(tree, file);
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }, 10000));
    auto click = [&](HTREEITEM target) {
        RECT rect;
        *reinterpret_cast<HTREEITEM*>(&rect) = target;
        SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
        TVHITTESTINFO hit{{rect.left - 1, (rect.top + rect.bottom) / 2}};
        for (; hit.pt.x > 0; --hit.pt.x)
            if (SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)), hit.flags & TVHT_ONITEMSTATEICON)
                break;
        PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(hit.pt.x, hit.pt.y));
        PostMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(hit.pt.x, hit.pt.y));
    };
    auto space = [&](HTREEITEM target) {
        TreeView_SelectItem(tree, target);
        SetFocus(tree);
        PostMessageW(tree, WM_KEYDOWN, VK_SPACE, 0x00390001);
        PostMessageW(tree, WM_KEYUP, VK_SPACE, 0xC0390001);
    };
    const struct {
        bool useSpace, onFile, shownAfter;
    } rows[] = {{false, false, false}, {false, false, true}, {false, true, true}, {true, false, false}, {true, false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.useSpace << row.onFile);
        row.useSpace ? space(row.onFile ? file : solid) : click(row.onFile ? file : solid);
        pumpMessages(dialog_);
        EXPECT_EQ(TreeView_GetCheckState(tree, file), 1u);
        EXPECT_EQ(state_->model.parts[0].visibleSolids[0], row.shownAfter ? 1 : 0);
        EXPECT_TRUE(pumpUntil([&] { return modelIsShown(view) == row.shownAfter; }, 10000));
    }
}

}  // namespace
