// Drives the real main dialog in this process: template, layout, opening
// files, progress, hand-over and drops, the commands, the settings and the panel.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>

#include "app/commands.h"
#include "app/info_panel.h"
#include "app/main_dialog.h"
#include "app/open_files.h"
#include "app/panel_glyphs.h"
#include "app/settings.h"
#include "tests/sink_recorder.h"
#include "tests/test_files.h"
#include "view/gpu_mesh.h"
#include "view/view_control.h"
#include "tests/view_test_support.h"

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
        sharedState->menu = buildMenuBar();
        // Keys of the tests' own, so that the real settings stay untouched.
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestMakerPath);
        for (int slot : {kApplicationKey, kMakerKey})
            RegCreateKeyExW(HKEY_CURRENT_USER, slot == kMakerKey ? kTestMakerPath : kTestApplicationPath, 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &sharedState->settingsKeys[slot], nullptr);
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
        DWORD start = GetTickCount();
        pumpUntil([&] { return GetTickCount() - start >= 50; }, 1000);  // a few frames to settle, decides nothing
        clearModel(state_);
        SetWindowTextW(dialog_, L"Veldmark STL Viewer");
    }

    static constexpr const wchar_t* kTestMakerPath = L"Software\\Veldmark tests";
    static constexpr const wchar_t* kTestApplicationPath = L"Software\\Veldmark tests\\STL Viewer";
    static inline MainDialogState* sharedState = nullptr;
    static inline HWND sharedDialog = nullptr;

    template <typename Condition>
    bool pumpUntil(Condition done, DWORD milliseconds) {
        return ::pumpUntil(done, milliseconds, dialog_);
    }
    // Until nothing is waiting: what the handled messages post is handled too.
    void drainMessages() {
        pumpMessages(dialog_);
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

    TempFolder folder_;
    MainDialogState* state_ = nullptr;
    HWND dialog_ = nullptr;
};

TEST_F(MainDialogTest, StartsEmptyWithTheHintInTheViewsPlace) {
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer");
    EXPECT_TRUE(visible(kHintId));
    EXPECT_EQ(text(item(kHintId)), L"Open an STL file with Ctrl+O, or drop one here");
    EXPECT_FALSE(visible(kProgressId));
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
    EXPECT_TRUE(visible(kProgressId));
    EXPECT_FALSE(visible(kHintId));
    ASSERT_TRUE(waitUntilShown());
    EXPECT_TRUE(visible(kViewId));
    EXPECT_FALSE(visible(kProgressId));
    EXPECT_FALSE(visible(kHintId));
    EXPECT_EQ(text(item(kPanelLine1Id)), L"Binary STL");
    std::wstring messages = text(item(kMessagesId));
    EXPECT_NE(messages.find(L"STL warning: unknown unit; assuming millimeters\r\n"), std::wstring::npos) << messages;
    EXPECT_NE(messages.find(L"file loaded successfully\r\n"), std::wstring::npos);
    EXPECT_EQ(SendMessageW(item(kSpaceComboId), CB_GETCURSEL, 0, 0), 1);  // Z up
    EXPECT_EQ(SendMessageW(item(kTreeId), TVM_GETCOUNT, 0, 0), 2);       // file and its solid
}

int completionsSeen = 0;

LRESULT CALLBACK countCompletions(int code, WPARAM removal, LPARAM message) {
    const MSG* seen = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && seen->message == WM_APP) ++completionsSeen;
    return CallNextHookEx(nullptr, code, removal, message);
}

TEST_F(MainDialogTest, ASecondOpenWhileLoadingShowsOnlyTheSecondFile) {
    std::vector<TestTriangle> many(400000, unitTriangle());
    folder_.write("big.stl", binaryStl(many));
    folder_.write("small.stl", binaryStl({unitTriangle()}));
    open(folder_.directory() + "big.stl");
    completionsSeen = 0;
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, countCompletions, nullptr, GetCurrentThreadId());
    LoadJob* first = state_->currentJob;
    ASSERT_NE(first, nullptr);
    open(folder_.directory() + "small.stl");
    EXPECT_NE(state_->currentJob, first);
    ASSERT_TRUE(waitUntilShown());
    // The superseded job's completion may come last: wait for both.
    ASSERT_TRUE(pumpUntil([] { return completionsSeen == 2; }, 15000));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 small.stl");
    EXPECT_EQ(usedPartCount(state_), 1);
    EXPECT_EQ(+state_->parts[0].mesh.solids[0].triangleCount, 1u);
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

TEST_F(MainDialogTest, ProgressShowsWholePercentRoundedHalfUp) {
    LoadJob* job = runningJob(L"STL warning: unexpected end of file\r\n");
    state_->currentJob = job;
    for (auto [thousandths, percent] : {std::pair{0, 0}, {4, 0}, {5, 1}, {994, 99}, {996, 100}, {1000, 100}}) {
        job->progress = thousandths;
        onProgressTimer(state_, kProgressTimer);
        EXPECT_EQ(SendMessageW(item(kProgressId), PBM_GETPOS, 0, 0), percent) << thousandths;
    }
    EXPECT_EQ(job->messages.used, 0u);
    EXPECT_EQ(text(item(kMessagesId)), L"STL warning: unexpected end of file\r\n");
    state_->currentJob = nullptr;
    releaseLoadJob(job);
}

TEST_F(MainDialogTest, TheMessagesBoxTakesMoreThan30000Characters) {
    std::wstring many;
    while (many.size() <= 40000) many += L"STL warning: unexpected end of file\r\n";
    LoadJob* job = runningJob(many + L"the last line\r\n");
    state_->currentJob = job;
    onProgressTimer(state_, kProgressTimer);
    HWND messages = item(kMessagesId);
    std::wstring shown(GetWindowTextLengthW(messages) + 1, L'\0');
    shown.resize(GetWindowTextW(messages, shown.data(), static_cast<int>(shown.size())));
    std::wstring all = many + L"the last line\r\n";
    ASSERT_GE(shown.size(), all.size());
    EXPECT_EQ(shown.substr(shown.size() - all.size()), all);
    state_->currentJob = nullptr;
    releaseLoadJob(job);
}

const HWND kNoWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFFFFF0));

// A completion that cannot be posted (here: to no window) is found by the progress timer.
TEST_F(MainDialogTest, ACompletionThatCannotBePostedEndsTheLoadAtTheNextTick) {
    folder_.write("part.stl", binaryStl({unitTriangle()}));
    open(folder_.directory() + "part.stl");
    ASSERT_TRUE(waitUntilShown());
    LoadJob* job = runningJob(L"STL info: something\r\n");
    job->state = kLoadFinished;
    job->dialogWindow = kNoWindow;
    state_->currentJob = job;
    deliverLoadJob(job);
    EXPECT_EQ(state_->currentJob, job);
    onProgressTimer(state_, kProgressTimer);
    EXPECT_EQ(state_->currentJob, nullptr);
    std::wstring messages = text(item(kMessagesId));
    std::wstring ending = L"STL info: something\r\nError: the load's completion message could not be posted\r\n";
    EXPECT_EQ(messages.substr(messages.size() - std::min(messages.size(), ending.size())), ending);
    EXPECT_FALSE(visible(kProgressId));
    EXPECT_TRUE(visible(kViewId));
    // A job that was given up before its post failed goes at once.
    job = runningJob(L"");
    job->dialogWindow = kNoWindow;
    job->keepGoing = 0;
    deliverLoadJob(job);  // freed; nothing left to check but that nothing breaks
}

// Full paths from two folders, one after the other: the first four become the
// parts. Another tag is not a hand-over.
TEST_F(MainDialogTest, HandOverOpensUpToFourFilesAsPartsAndSaysWhenMoreWereLeftOut) {
    TempFolder other;
    std::wstring paths;
    for (const char* name : {"a.stl", "b.stl", "c.stl", "d.stl", "e.stl"}) {
        const TempFolder& where = name[0] == 'b' ? other : folder_;
        where.write(name, binaryStl({unitTriangle()}));
        paths += wide(where.directory() + name) + L'\0';
    }
    COPYDATASTRUCT data{41, static_cast<DWORD>(paths.size() * 2), paths.data()};
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_EQ(state_->currentJob, nullptr);
    data.dwData = kHandOverTag;
    EXPECT_EQ(SendMessageW(dialog_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 1);
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(state_), 4);
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 a.stl");
    EXPECT_NE(text(item(kMessagesId)).find(wide(kFilesLeftOutText)), std::wstring::npos);
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

TEST(WindowTitle, NamesTheFileAfterTheLastSeparatorAndCutsLongNamesTo255Units) {
    const std::wstring prefix = L"Veldmark STL Viewer \u2013 ";
    const struct {
        std::wstring path, title;
    } rows[] = {
        {L"C:\\models/parts\\gear.stl", prefix + L"gear.stl"},
        {L"/home/me/bracket.stl", prefix + L"bracket.stl"},
        {L"plain.stl", prefix + L"plain.stl"},
        {std::wstring(231, L'n'), prefix + std::wstring(231, L'n')},  // just fits
        {L"C:\\" + std::wstring(300, L'n'), prefix + std::wstring(232, L'n') + L"\u2026"},
    };
    for (const auto& row : rows) {
        wchar_t title[kTitleUnits];
        makeWindowTitle(row.path.c_str(), title);
        EXPECT_EQ(title, row.title);
    }
}

// At the smallest size and a large one, for each number of parts: every control
// inside the client area, none overlapping another, the panel right of the view.
TEST_F(MainDialogTest, LayoutKeepsControlsApartWithThePanelRightOfTheView) {
    MINMAXINFO limits{};
    SendMessageW(dialog_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    RECT window, client;
    GetWindowRect(dialog_, &window);
    GetClientRect(dialog_, &client);
    const SIZE smallest = {limits.ptMinTrackSize.x - (window.right - window.left - client.right),
                           limits.ptMinTrackSize.y - (window.bottom - window.top - client.bottom)};
    ASSERT_GT(smallest.cx, 300);
    ASSERT_GT(smallest.cy, 150);
    const int ids[] = {kProgressId,   kMessagesId,      kPanelLine1Id,  kPanelLine2Id,  kFactsId, kSpaceLabelId,
                       kSpaceComboId, kMaterialCheckId, kColorsLabelId, kColorsComboId, kTreeId};
    static const uint8_t fakeView = 0;
    for (SIZE size : {smallest, SIZE{1000, 700}})
        for (int parts = 0; parts <= 4; ++parts) {
            SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy << ", parts " << parts);
            for (int slot = 0; slot < 4; ++slot) state_->parts[slot].view = slot < parts ? &fakeView : nullptr;
            layoutDialog(state_, size.cx, size.cy);
            std::vector<std::pair<int, RECT>> places;
            for (int id : ids) places.push_back({id, placeOf(id)});
            for (int slot = 0; slot < std::max(parts, 1); ++slot)
                places.push_back({kFirstSwatchId + slot, placeOf(kFirstSwatchId + slot)});
            for (size_t i = 0; i < places.size(); ++i) {
                const RECT& r = places[i].second;
                EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= size.cx && r.bottom <= size.cy &&
                            r.left < r.right && r.top < r.bottom)
                    << places[i].first;
                for (size_t j = 0; j < i; ++j) {
                    RECT common;
                    EXPECT_FALSE(IntersectRect(&common, &r, &places[j].second))
                        << places[i].first << " overlaps " << places[j].first;
                }
            }
            EXPECT_GT(placeOf(kTreeId).left, placeOf(kProgressId).right);
            EXPECT_GT(placeOf(kFirstSwatchId).left, placeOf(kProgressId).right);
        }
    for (ModelPart& part : state_->parts) part.view = nullptr;
    // A minimised window keeps its layout.
    SendMessageW(dialog_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
    RECT before = placeOf(kMessagesId);
    SendMessageW(dialog_, WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(500, 400));
    EXPECT_EQ(placeOf(kMessagesId).top, before.top);
    SendMessageW(dialog_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

std::wstring itemText(HWND tree, HTREEITEM item) {
    wchar_t buffer[256];
    TVITEMW fields{};
    fields.mask = TVIF_HANDLE | TVIF_TEXT;
    fields.hItem = item;
    fields.pszText = buffer;
    fields.cchTextMax = 256;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&fields));
    return buffer;
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
    EXPECT_EQ(GetMenuState(state_->menu, kCommandAddParts, MF_BYCOMMAND) & MF_GRAYED, 0u);
    EXPECT_EQ(text(item(kMessagesId)).substr(0, 7), L"a.stl\r\n");  // each file's messages under its name
    addPartFiles(state_, folderList(dir, {"c.stl", "d.stl", "e.stl"}).get());
    ASSERT_TRUE(waitUntilShown());
    EXPECT_EQ(usedPartCount(state_), 4);  // the fifth file finds no slot
    EXPECT_EQ(GetMenuState(state_->menu, kCommandAddParts, MF_BYCOMMAND) & MF_GRAYED, UINT(MF_GRAYED));
    EXPECT_EQ(text(dialog_), L"Veldmark STL Viewer \u2013 a.stl");
    EXPECT_EQ(SendMessageW(item(kTreeId), TVM_GETCOUNT, 0, 0), 8);
    EXPECT_TRUE(visible(kFirstSwatchId + 3));
    // Without a model name in their headers the parts are told apart by their file names.
    std::vector<std::wstring> names;
    HWND tree = item(kTreeId);
    for (HTREEITEM file = TreeView_GetRoot(tree); file; file = TreeView_GetNextSibling(tree, file))
        names.push_back(itemText(tree, file));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.stl", L"b.stl", L"c.stl", L"d.stl"}));
    // The facts line names the selected part, and sums them all without a selection.
    EXPECT_EQ(text(item(kFactsId)).substr(0, 12), L"4 triangles,");
    TreeView_SelectItem(tree, TreeView_GetNextSibling(tree, TreeView_GetRoot(tree)));
    EXPECT_EQ(text(item(kFactsId)).substr(0, 19), L"Part 2: 1 triangle,");
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
    runCommand(state_, kCommandResetView, 0);  // the default angles again, for the tests after this one
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


TEST_F(MainDialogTest, PictureCommandsFollowTheModelAndCopyTheView) {
    auto grayed = [&](WORD id) { return (GetMenuState(state_->menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
    EXPECT_TRUE(grayed(kCommandSavePicture));
    EXPECT_TRUE(grayed(kCommandCopyPicture));
    folder_.write("red.stl", binaryStl({unitTriangle()}, std::string("COLOR=\xFF\0\0\xFF", 10)));
    open(folder_.directory() + "red.stl");
    ASSERT_TRUE(waitUntilShown());
    EXPECT_FALSE(grayed(kCommandSavePicture));
    EXPECT_FALSE(grayed(kCommandCopyPicture));

    SetFocus(item(kViewId));
    runCommand(state_, kCommandCopyPicture, 0);
    RECT client;
    GetClientRect(item(kViewId), &client);
    ASSERT_TRUE(OpenClipboard(dialog_));
    HANDLE data = GetClipboardData(CF_DIB);
    ASSERT_NE(data, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(data));
    EXPECT_EQ(header->biWidth, client.right);
    EXPECT_EQ(header->biHeight, client.bottom);
    EXPECT_EQ(header->biBitCount, 32);
    // Bottom-up rows of blue, green, red: the triangle's lower left corner is in the middle.
    const auto* pixels = reinterpret_cast<const uint8_t*>(header + 1);
    int reds = 0;
    for (LONG i = 0; i < header->biWidth * header->biHeight; ++i)
        reds += pixels[4 * i + 2] > 150 && pixels[4 * i + 1] < 80 && pixels[4 * i] < 80;
    EXPECT_GT(reds, 100);
    GlobalUnlock(data);
    CloseClipboard();

    // In the messages box Ctrl+C copies its text, not the picture.
    SetFocus(item(kMessagesId));
    SendMessageW(item(kMessagesId), EM_SETSEL, 0, 4);
    runCommand(state_, kCommandCopyPicture, 0);
    ASSERT_TRUE(OpenClipboard(dialog_));
    EXPECT_EQ(GetClipboardData(CF_DIB), nullptr);
    HANDLE textData = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(textData, nullptr);
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(GlobalLock(textData))), text(item(kMessagesId)).substr(0, 4));
    GlobalUnlock(textData);
    CloseClipboard();

    clearModel(state_);
    EXPECT_TRUE(grayed(kCommandCopyPicture));
}

}  // namespace

namespace {

// Answers the next modal dialog of this thread (Color, Open, About) with a
// button, and remembers its caption.
struct ModalAnswer {
    static inline WPARAM button = IDCANCEL;
    static inline HWND mainDialog = nullptr;
    static inline std::wstring caption;
    static LRESULT CALLBACK onActivate(int code, WPARAM window, LPARAM parameter) {
        HWND dialog = reinterpret_cast<HWND>(window);
        wchar_t name[16];
        if (code == HCBT_ACTIVATE && dialog != mainDialog && GetClassNameW(dialog, name, 16) &&
            lstrcmpW(name, L"#32770") == 0) {
            wchar_t title[64];
            caption.assign(title, GetWindowTextW(dialog, title, 64));
            PostMessageW(dialog, WM_COMMAND, button, 0);
        }
        return CallNextHookEx(nullptr, code, window, parameter);
    }
};

std::optional<DWORD> storedDword(HKEY key, const wchar_t* name) {
    DWORD value, size = sizeof value;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) return {};
    return value;
}

UINT menuMarks(HMENU menu, WORD id) {
    return GetMenuState(menu, id, MF_BYCOMMAND) & (MF_CHECKED | MF_GRAYED);
}

}  // namespace

// Each command as the menu sends it: its menu marks before and after, what it
// does to the dialog's state and the view, and the setting it writes to its key.
TEST_F(MainDialogTest, CommandsMarkTheMenuChangeTheViewAndWriteTheirSetting) {
    struct Row {
        WORD id;
        WPARAM answer;  // for the modal dialog the command opens
        UINT marksBefore, marksAfter;
        const wchar_t* setting;  // written value, or null when nothing is written
        SettingsSlot slot;
        DWORD stored;
        std::function<bool(const MainDialogState&, const ViewState&)> effect;
    };
    HMENU menu = state_->menu;
    runCommand(state_, kCommandMetricUnits, 0);  // the locale may have chosen either
    state_->defaultObjectColor = 0x00302010;
    state_->defaultBackgroundColor = 0x00604020;
    const Row rows[] = {
        {kCommandFlipZoom, 0, 0, MF_CHECKED, L"FlipZoom", kMakerKey, 1,
         [](auto& s, auto& v) { return s.flipZoom == 1 && v.flipZoom == 1; }},
        {kCommandFlipZoom, 0, MF_CHECKED, 0, L"FlipZoom", kMakerKey, 0,
         [](auto& s, auto& v) { return s.flipZoom == 0 && v.flipZoom == 0; }},
        {kCommandAlwaysRotate, 0, 0, MF_CHECKED, L"AlwaysRotate", kApplicationKey, 1,
         [](auto& s, auto& v) { return s.alwaysRotate == 1 && v.alwaysRotate == 1; }},
        {kCommandAlwaysRotate, 0, MF_CHECKED, 0, L"AlwaysRotate", kApplicationKey, 0,
         [](auto& s, auto& v) { return s.alwaysRotate == 0 && v.alwaysRotate == 0; }},
        {kCommandSingleInstance, 0, 0, MF_CHECKED, L"SingleInstance", kApplicationKey, 1,
         [](auto& s, auto&) { return s.singleInstance == 1; }},
        {kCommandSingleInstance, 0, MF_CHECKED, 0, L"SingleInstance", kApplicationKey, 0,
         [](auto& s, auto&) { return s.singleInstance == 0; }},
        {kCommandOutline, 0, 0, MF_CHECKED, nullptr, kMakerKey, 0, [](auto&, auto& v) { return v.renderMode == 2; }},
        {kCommandWireframe, 0, 0, MF_CHECKED, nullptr, kMakerKey, 0, [](auto&, auto& v) { return v.renderMode == 1; }},
        {kCommandSolid, 0, 0, MF_CHECKED, nullptr, kMakerKey, 0, [](auto&, auto& v) { return v.renderMode == 0; }},
        {kCommandUsUnits, 0, 0, MF_CHECKED, L"USUnits", kMakerKey, 1, [](auto& s, auto&) { return s.usUnits == 1; }},
        {kCommandMetricUnits, 0, 0, MF_CHECKED, L"USUnits", kMakerKey, 0,
         [](auto& s, auto&) { return s.usUnits == 0; }},
        {kCommandTop, 0, 0, 0, nullptr, kMakerKey, 0,
         [](auto&, auto& v) { return v.yaw == 0 && uint32_t(v.pitch) == 0xC000004E; }},
        {kCommandLeft, 0, 0, 0, nullptr, kMakerKey, 0,
         [](auto&, auto& v) { return uint32_t(v.yaw) == 0xC000004E && v.pitch == 0; }},
        {kCommandFront, 0, 0, 0, nullptr, kMakerKey, 0, [](auto&, auto& v) { return v.yaw == 0 && v.pitch == 0; }},
        {kCommandRotate, 0, 0, 0, nullptr, kMakerKey, 0, [](auto&, auto& v) { return v.rotationStamp == 0; }},
        {kCommandDefaultMaterial, IDCANCEL, 0, 0, nullptr, kMakerKey, 0,
         [](auto& s, auto&) { return s.defaultObjectColor == 0x00302010; }},
        {kCommandDefaultMaterial, IDOK, 0, 0, L"DefaultObjectColor", kMakerKey, 0x102030FF,
         [](auto& s, auto&) { return s.defaultObjectColor == 0xFF302010; }},
        {kCommandDefaultBackground, IDOK, 0, 0, L"DefaultBackgroundColor", kMakerKey, 0x204060FF,
         [](auto& s, auto& v) { return s.defaultBackgroundColor == 0xFF604020 && v.backgroundColor == 0xFF604020; }},
        {kCommandOpen, IDCANCEL, 0, 0, nullptr, kMakerKey, 0, [](auto& s, auto&) { return !s.currentJob; }},
        {kCommandAddParts, IDCANCEL, MF_GRAYED, MF_GRAYED, nullptr, kMakerKey, 0,
         [](auto& s, auto&) { return !s.currentJob; }},
        {kCommandAbout, IDOK, 0, 0, nullptr, kMakerKey, 0, [](auto&, auto&) { return ModalAnswer::caption == L"About"; }},
    };
    ModalAnswer::mainDialog = dialog_;
    HHOOK hook = SetWindowsHookExW(WH_CBT, ModalAnswer::onActivate, nullptr, GetCurrentThreadId());
    for (const Row& row : rows) {
        for (HKEY key : state_->settingsKeys)
            for (const wchar_t* name : {L"FlipZoom", L"AlwaysRotate", L"SingleInstance", L"USUnits",
                                        L"DefaultObjectColor", L"DefaultBackgroundColor"})
                RegDeleteValueW(key, name);
        ModalAnswer::button = row.answer;
        ModalAnswer::caption.clear();
        EXPECT_EQ(menuMarks(menu, row.id), row.marksBefore) << row.id;
        SendMessageW(dialog_, WM_COMMAND, row.id, 0);
        EXPECT_EQ(menuMarks(menu, row.id), row.marksAfter) << row.id;
        EXPECT_TRUE(row.effect(*state_, *viewStateOf(item(kViewId)))) << row.id;
        if (!row.setting) continue;
        EXPECT_EQ(storedDword(state_->settingsKeys[row.slot], row.setting), row.stored) << row.id;
        EXPECT_EQ(storedDword(state_->settingsKeys[1 - row.slot], row.setting), std::nullopt) << row.id;
    }
    UnhookWindowsHookEx(hook);
    // Exit and the dialog manager's cancel both ask the window to close.
    for (WORD id : {WORD(kCommandExit), WORD(IDCANCEL)}) {
        runCommand(state_, id, 0);
        MSG message;
        EXPECT_TRUE(PeekMessageW(&message, dialog_, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << id;
    }
}

// Reads as the dialog does at start, from values stored in the two keys.
TEST_F(MainDialogTest, SettingsRoundTripThroughTheRegistry) {
    struct Stored {
        const wchar_t* name;
        SettingsSlot slot;
        DWORD type;
        DWORD value;
    };
    const Stored stored[] = {
        {L"FlipZoom", kApplicationKey, REG_DWORD, 1},          // the application key wins
        {L"FlipZoom", kMakerKey, REG_DWORD, 0},
        {L"USUnits", kApplicationKey, REG_SZ, 0},              // a string is no setting
        {L"USUnits", kMakerKey, REG_DWORD, 1},
        {L"AlwaysRotate", kMakerKey, REG_DWORD, 5},            // any nonzero reads as on
        {L"DefaultObjectColor", kMakerKey, REG_DWORD, 0x102030FF},
        {L"DefaultBackgroundColor", kApplicationKey, REG_DWORD, 0},  // alpha 0 stays
        {L"InitialEyeYawDegrees", kMakerKey, REG_DWORD, static_cast<DWORD>(-90)},
    };
    HKEY* keys = state_->settingsKeys;
    for (const Stored& value : stored) {
        const wchar_t text[] = L"0";
        const BYTE* data = value.type == REG_SZ ? reinterpret_cast<const BYTE*>(text)
                                                : reinterpret_cast<const BYTE*>(&value.value);
        RegSetValueExW(keys[value.slot], value.name, 0, value.type, data, value.type == REG_SZ ? sizeof text : 4);
    }
    MainDialogState* fresh = static_cast<MainDialogState*>(calloc(1, sizeof(MainDialogState)));
    fresh->settingsKeys[0] = keys[0];
    fresh->settingsKeys[1] = keys[1];
    fresh->defaultObjectColor = fresh->defaultBackgroundColor = 0x12345678;
    ViewAngles angles = readSettings(fresh);
    EXPECT_EQ(fresh->flipZoom, 1);
    EXPECT_EQ(fresh->usUnits, 1);
    EXPECT_EQ(fresh->alwaysRotate, 1);
    EXPECT_EQ(fresh->singleInstance, 0);
    EXPECT_EQ(fresh->defaultObjectColor, 0xFF302010u);
    EXPECT_EQ(fresh->defaultBackgroundColor, 0u);
    EXPECT_EQ(angles.yaw, static_cast<int32_t>(static_cast<uint32_t>(-90) * 11930465u));
    EXPECT_EQ(angles.pitch, static_cast<int32_t>(331u * 11930465u));  // the default
    free(fresh);
    for (const Stored& value : stored) RegDeleteValueW(keys[value.slot], value.name);

    // Colours written and read back keep their bytes; black is stored opaque.
    for (uint32_t colour : {0xFF302010u, 0x00000000u}) {
        ASSERT_TRUE(writeSettingColor(keys, kMakerKey, colour, L"DefaultObjectColor", nullptr));
        uint32_t read = 0;
        ASSERT_TRUE(readSettingColor(&read, keys, L"DefaultObjectColor"));
        EXPECT_EQ(read, colour | 0xFF000000) << colour;
    }
    RegDeleteValueW(keys[kMakerKey], L"DefaultObjectColor");

    // A key that cannot be written reports the failure as a line of its own.
    HKEY readOnly[2] = {nullptr, nullptr};
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestMakerPath, 0, KEY_READ, &readOnly[kMakerKey]), ERROR_SUCCESS);
    Converter converter;
    EXPECT_FALSE(writeSettingDword(readOnly, kMakerKey, 1, L"FlipZoom", converter.producerSink()));
    ASSERT_EQ(converter.inner.received.size(), 1u);
    EXPECT_EQ(converter.inner.received[0].code, kLine);
    EXPECT_FALSE(converter.inner.received[0].line.empty());
    EXPECT_FALSE(writeSettingDword(readOnly, kApplicationKey, 1, L"FlipZoom", converter.producerSink()));  // no key
    EXPECT_EQ(converter.inner.received.size(), 1u);
    RegCloseKey(readOnly[kMakerKey]);
}

// A window closed while minimised comes back as it was before: normal or maximised.
TEST_F(MainDialogTest, AMinimisedWindowIsStoredAsItWouldBeRestored) {
    for (auto [before, restored] : {std::pair{SW_SHOWNORMAL, SW_SHOWNORMAL}, {SW_MAXIMIZE, SW_SHOWMAXIMIZED}}) {
        ShowWindow(dialog_, before);
        ShowWindow(dialog_, SW_MINIMIZE);
        ASSERT_TRUE(writePlacement(state_->settingsKeys, dialog_));
        WINDOWPLACEMENT placement{};
        DWORD size = sizeof placement;
        ASSERT_EQ(RegGetValueW(state_->settingsKeys[kApplicationKey], nullptr, L"Placement", RRF_RT_REG_BINARY, nullptr,
                               &placement, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 44u);
        EXPECT_EQ(placement.showCmd, static_cast<UINT>(restored)) << before;
        ShowWindow(dialog_, SW_RESTORE);
        ShowWindow(dialog_, SW_RESTORE);
    }
    RegDeleteValueW(state_->settingsKeys[kApplicationKey], L"Placement");
    SetWindowPos(dialog_, nullptr, 0, 0, 900, 650, SWP_NOZORDER);
}

// The panel after one file: kind, Material box, triangle colour order, colours
// and the names in the tree.
TEST_F(MainDialogTest, ThePanelAppliesTheColourRulesAndShowsNames) {
    std::string visCamHeader = "C:\\";
    visCamHeader.resize(69, 'x');
    visCamHeader += "_C";
    const std::string magicsHeader = "COLOR=\x10\x20\x30\xFF,MATERIAL=";
    struct Row {
        const char* name;
        std::string bytes;
        const wchar_t* kind;
        UINT material;
        LRESULT colourOrder;
        uint32_t overrideColor;
        uint32_t meshColor;  // 0: the default object colour
        const wchar_t* fileItem;
        const wchar_t* solidItem;
    };
    const Row rows[] = {
        {"ascii.stl",
         "solid gear\tone\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
         "  endloop\n endfacet\nendsolid gear\tone\n",
         L"ASCII STL", BST_UNCHECKED, CB_ERR, 0x00FFFFFF, 0, L"ascii.stl", L"gear\u2409one"},
        {"magics.stl", binaryStl({unitTriangle()}, magicsHeader), L"Binary STL", BST_CHECKED, 0, 0xFF302010,
         0xFF302010, L"magics.stl", L"Object"},
        {"coloured.stl", binaryStl({unitTriangle(0, 0x001F)}, magicsHeader), L"Binary STL", BST_UNCHECKED, 0,
         0x00302010, 0xFFFFFFFF, L"coloured.stl", L"Object"},
        {"viscam.stl", binaryStl({unitTriangle()}, visCamHeader), L"Binary STL", BST_UNCHECKED, 1, 0x00FFFFFF, 0,
         L"viscam.stl", L"Object"},
        {"sketchup.stl", binaryStl({unitTriangle()}, "SketchUp STL gearbox" + std::string(60, ' ')), L"Binary STL", BST_UNCHECKED, 0,
         0x00FFFFFF, 0, L"gearbox", L"Object"},
    };
    HWND tree = item(kTreeId);
    for (const Row& row : rows) {
        folder_.write(row.name, row.bytes);
        open(folder_.directory() + row.name);
        ASSERT_TRUE(waitUntilShown()) << row.name;
        ASSERT_EQ(usedPartCount(state_), 1) << row.name;
        EXPECT_EQ(text(item(kPanelLine1Id)), row.kind) << row.name;
        EXPECT_EQ(IsDlgButtonChecked(dialog_, kMaterialCheckId), row.material) << row.name;
        EXPECT_EQ(SendMessageW(item(kColorsComboId), CB_GETCURSEL, 0, 0), row.colourOrder) << row.name;
        EXPECT_FALSE(IsWindowEnabled(item(kColorsComboId))) << row.name;
        EXPECT_EQ(state_->overrideColor, row.overrideColor) << row.name;
        uint32_t meshColor = static_cast<const GpuMesh*>(state_->parts[0].gpuMesh)->color;
        EXPECT_EQ(meshColor, row.meshColor ? row.meshColor : state_->defaultObjectColor) << row.name;
        HTREEITEM file = TreeView_GetRoot(tree);
        EXPECT_EQ(itemText(tree, file), row.fileItem) << row.name;
        EXPECT_EQ(itemText(tree, TreeView_GetChild(tree, file)), row.solidItem) << row.name;
        clearModel(state_);
    }
}

// Clicking a check box or pressing space on a solid hides and shows it in the
// view's pixels; the file's own box stays ticked.
TEST_F(MainDialogTest, TreeCheckBoxesHideAndShowSolidsOnTheScreen) {
    folder_.write("cube.stl", binaryStl(cubeTriangles()));
    open(folder_.directory() + "cube.stl");
    ASSERT_TRUE(waitUntilShown());
    HWND tree = item(kTreeId);
    HWND view = item(kViewId);
    HTREEITEM file = TreeView_GetRoot(tree);
    HTREEITEM solid = TreeView_GetChild(tree, file);
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }, 10000));
    auto click = [&](HTREEITEM target) {
        RECT rect;
        *reinterpret_cast<HTREEITEM*>(&rect) = target;
        SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect));
        TVHITTESTINFO hit{};
        hit.pt.y = (rect.top + rect.bottom) / 2;
        for (hit.pt.x = rect.left - 1; hit.pt.x > 0; --hit.pt.x) {
            SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
            if (hit.flags & TVHT_ONITEMSTATEICON) break;
        }
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
        bool useSpace;
        bool onFile;
        bool shownAfter;
    } rows[] = {{false, false, false}, {false, false, true}, {false, true, true}, {true, false, false}, {true, false, true}};
    for (const auto& row : rows) {
        HTREEITEM target = row.onFile ? file : solid;
        row.useSpace ? space(target) : click(target);
        drainMessages();
        EXPECT_EQ(TreeView_GetCheckState(tree, file), 1u);
        EXPECT_EQ(state_->parts[0].visibleSolids[0], row.shownAfter ? 1 : 0) << row.useSpace << row.onFile;
        EXPECT_TRUE(pumpUntil([&] { return modelIsShown(view) == row.shownAfter; }, 10000))
            << row.useSpace << row.onFile;
    }
}
