// Runs the real program: the single-window hand-over between two processes,
// stepping through a folder with the arrow keys, the model as it appears on
// the screen, and picture mode.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <initguid.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "mesh/surface_check.h"
#include "tests/load_driver.h"
#include "tests/package_files.h"
#include "tests/test_files.h"

namespace {

const std::wstring kTitle = L"Veldmark STL Viewer";
const wchar_t kMakerKeyPath[] = L"Software\\Veldmark";
constexpr int kViewId = 16, kKindLineId = 19, kSpaceComboId = 22, kColorsId = 29, kTreeId = 30, kMessagesId = 31, kHintId = 33;

std::wstring quoted(const std::string& path) {
    return L" \"" + std::wstring(path.begin(), path.end()) + L"\"";
}

struct Process {
    PROCESS_INFORMATION info{};
    // The viewer with its arguments; `output` (inheritable) takes what it writes.
    bool start(const std::wstring& arguments, const std::string& currentFolder = "", HANDLE output = nullptr,
               const std::wstring& program = STLV_VIEWER_EXE) {
        std::wstring commandLine = L"\"" + program + L"\"" + arguments;
        std::wstring folder(currentFolder.begin(), currentFolder.end());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = output ? STARTF_USESTDHANDLES : 0;
        startup.hStdOutput = startup.hStdError = output;
        return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &info) != 0;
    }
    // The exit code, or -1 if the process is still running after the wait.
    long waitForExit(DWORD milliseconds) {
        DWORD code;
        bool ended = WaitForSingleObject(info.hProcess, milliseconds) == WAIT_OBJECT_0;
        return ended && GetExitCodeProcess(info.hProcess, &code) ? static_cast<long>(code) : -1;
    }
    long close(HWND window) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return waitForExit(30000);
    }
    ~Process() {
        if (!info.hProcess) return;
        if (waitForExit(0) < 0) TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
};

// Works across processes for captions and controls alike.
std::wstring textOf(HWND window) {
    wchar_t text[300];
    return std::wstring(text, SendMessageW(window, WM_GETTEXT, 300, reinterpret_cast<LPARAM>(text)));
}

std::vector<HWND> viewerWindows(DWORD processId = 0) {
    std::vector<HWND> found;
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"#32770", nullptr));) {
        DWORD owner;
        GetWindowThreadProcessId(window, &owner);
        if ((!processId || owner == processId) && IsWindowVisible(window) && textOf(window).starts_with(kTitle))
            found.push_back(window);
    }
    return found;
}

HWND waitForWindow(const Process& process) {
    HWND found = nullptr;
    pumpUntil([&] {
        std::vector<HWND> windows = viewerWindows(process.info.dwProcessId);
        return !windows.empty() && (found = windows[0]);
    }, 60000);  // a Wine start takes tens of seconds on a loaded machine
    return found;
}

// Every test file has one solid: two tree items per loaded part.
bool modelLoaded(HWND window, int parts) {
    return IsWindowVisible(GetDlgItem(window, kViewId)) &&
           SendMessageW(GetDlgItem(window, kTreeId), TVM_GETCOUNT, 0, 0) == 2 * parts;
}

void setSingleInstance(DWORD on) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Veldmark\\STL Viewer", L"SingleInstance", REG_DWORD, &on,
                              sizeof on),
              ERROR_SUCCESS);
}

class ViewerProcessTest : public ::testing::Test {
protected:
    void TearDown() override {
        setSingleInstance(0);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kMakerKeyPath, L"Units");  // back to the locale's units
    }
    TempFolder folder_;
};

// A start without files shows the hint. A second start, in the files' folder
// naming them relatively, hands them over to the running window and ends when
// the setting asks for one window; without it, it opens its own.
TEST_F(ViewerProcessTest, SecondStartHandsItsFilesOverOnlyWithTheSetting) {
    folder_.write("b.stl", binaryStl({unitTriangle(), unitTriangle(2)}));
    folder_.write("c.stl", binaryStl({unitTriangle()}));
    for (DWORD singleInstance : {1, 0}) {
        SCOPED_TRACE(singleInstance);
        setSingleInstance(singleInstance);
        Process first, second;
        ASSERT_TRUE(first.start(L""));
        HWND window = waitForWindow(first);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, kHintId)));
        EXPECT_EQ(textOf(GetDlgItem(window, kHintId)), L"Open an STL file with Ctrl+O, or drop one here");
        ASSERT_TRUE(second.start(L" b.stl c.stl", folder_.directory()));
        if (singleInstance) {
            EXPECT_EQ(second.waitForExit(20000), 0);
            EXPECT_TRUE(viewerWindows(second.info.dwProcessId).empty());
        } else {
            window = waitForWindow(second);
        }
        EXPECT_EQ(textOf(window), kTitle + L" \u2013 b.stl");
        EXPECT_TRUE(pumpUntil([&] { return modelLoaded(window, 2); }));
        if (!singleInstance) EXPECT_EQ(second.close(window), 0);
        EXPECT_EQ(first.close(waitForWindow(first)), 0);
    }
}

// As when Enter is pressed on several files in Explorer: one start creates the
// window, the other finds it and hands its file over.
TEST_F(ViewerProcessTest, SimultaneousStartsLeaveOneWindow) {
    setSingleInstance(1);
    Process first, second;
    ASSERT_TRUE(first.start(quoted(folder_.directory() + folder_.write("a.stl", binaryStl({unitTriangle()})))));
    ASSERT_TRUE(second.start(quoted(folder_.directory() + folder_.write("b.stl", binaryStl({unitTriangle(2)})))));
    ASSERT_TRUE(pumpUntil([&] { return first.waitForExit(0) == 0 || second.waitForExit(0) == 0; }, 60000));
    Process& remaining = first.waitForExit(0) == 0 ? second : first;
    HWND window = waitForWindow(remaining);
    EXPECT_EQ(viewerWindows().size(), 1u);
    EXPECT_EQ(remaining.close(window), 0);
}

// The keys as the view receives them (the order and the wrap come from the
// folder listing); then unticking the shown cube's solid hides it again.
TEST_F(ViewerProcessTest, ArrowKeysStepThroughTheFolderAndTheModelHidesWhenUnticked) {
    folder_.write("a1.stl", binaryStl({unitTriangle()}));
    folder_.write("a2.txt", "text");
    folder_.write("a3.3mf", redCube3mf());  // STL and 3MF files alike
    folder_.write("a10.stl", binaryStl(cubeTriangles()));
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(folder_.directory() + "a1.stl")));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    HWND view = GetDlgItem(window, kViewId);
    // A step that finds the listing still running does nothing.
    for (int tries = 0; tries < 20 && textOf(window) == kTitle + L" \u2013 a1.stl"; ++tries)
        SendMessageW(view, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(textOf(window), kTitle + L" \u2013 a3.3mf");
    SendMessageW(view, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(textOf(window), kTitle + L" \u2013 a10.stl");
    SendMessageW(view, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(textOf(window), kTitle + L" \u2013 a1.stl");
    SendMessageW(view, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(textOf(window), kTitle + L" \u2013 a10.stl");
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }));
    HWND tree = GetDlgItem(window, kTreeId);
    LPARAM solid = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, solid);
    PostMessageW(tree, WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(tree, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_TRUE(pumpUntil([&] { return !modelIsShown(view); }));
    EXPECT_EQ(viewer.close(window), 0);
}

// The view's pixels that differ from its corner's, as the screen shows them.
int drawnPixels(HWND view) {
    RECT rect;
    GetWindowRect(view, &rect);
    HDC screen = GetDC(nullptr);
    std::vector<uint32_t> pixels = capturePixels(screen, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    ReleaseDC(nullptr, screen);
    return pixels.empty() ? 0 : int(std::count_if(pixels.begin(), pixels.end(), [&](uint32_t p) { return p != pixels[0]; }));
}

// A file of 100,000 solids: the tree is filled, and the window answers all
// along, each message within a second.
TEST_F(ViewerProcessTest, AHundredThousandSolidsFillTheTreeWhileTheWindowAnswers) {
    std::string file;
    for (int solid = 0; solid < 100000; ++solid)
        file += "solid s\nfacet normal 0 0 1\nouter loop\nvertex " + std::to_string(solid % 100) + " " +
                std::to_string(solid / 100) + " 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid s\n";
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(folder_.directory() + folder_.write("many.stl", file))));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    HWND tree = GetDlgItem(window, kTreeId);
    DWORD slowest = 0;
    EXPECT_TRUE(pumpUntil([&] {
        DWORD start = GetTickCount();
        DWORD_PTR answer;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 20000, &answer);
        slowest = std::max(slowest, GetTickCount() - start);
        return SendMessageW(tree, TVM_GETCOUNT, 0, 0) == 2002;  // the file, 2,000 solids and "98,000 more solids"
    }, 60000));
    EXPECT_LT(slowest, 1000u);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, kViewId)));
    EXPECT_EQ(viewer.close(window), 0);
}

// A middle-button drag moves the model away from the middle; the mode chosen
// comes back with the next start.
TEST_F(ViewerProcessTest, MiddleDragPansAndTheModeIsKeptAcrossARestart) {
    const std::string cube = folder_.directory() + folder_.write("cube.stl", binaryStl(cubeTriangles()));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Veldmark\\STL Viewer", L"RenderMode");
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        Process viewer;
        ASSERT_TRUE(viewer.start(quoted(cube)));
        HWND window = waitForWindow(viewer);
        ASSERT_NE(window, nullptr);
        HWND view = GetDlgItem(window, kViewId);
        if (start == 1) {
            // Wireframe: only the edges differ from the background, a few times fewer pixels than the faces.
            int edges = 0;
            EXPECT_TRUE(pumpUntil([&] { return IsWindowVisible(view) && (edges = drawnPixels(view)) > 0; }));
            EXPECT_LT(centreCoverage(view), 400);
            PostMessageW(window, WM_COMMAND, 16652, 0);  // Solid again
            EXPECT_TRUE(pumpUntil([&] { return modelIsShown(view); }));
            EXPECT_GT(drawnPixels(view), 3 * edges);
            EXPECT_EQ(viewer.close(window), 0);
            break;
        }
        ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }));
        RECT client;
        GetClientRect(view, &client);
        int y = client.bottom / 2;
        PostMessageW(view, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(10, y));
        PostMessageW(view, WM_MOUSEMOVE, MK_MBUTTON, MAKELPARAM(client.right - 10, y));
        PostMessageW(view, WM_MBUTTONUP, 0, MAKELPARAM(client.right - 10, y));
        EXPECT_TRUE(pumpUntil([&] { return centreCoverage(view) == 0; }));
        PostMessageW(window, WM_COMMAND, 16654, 0);  // Wireframe
        EXPECT_EQ(viewer.close(window), 0);
    }
}

// A file that is no STL file says so where the model would be; one handed
// to a window that shows a model leaves that model and its title.
TEST_F(ViewerProcessTest, AFailedOpenSaysWhyAndKeepsTheShownModel) {
    const std::string notes = folder_.directory() + folder_.write("notes.stl", "these are notes, not a model\n");
    const std::string cube = folder_.directory() + folder_.write("cube.stl", binaryStl(cubeTriangles()));
    {
        Process viewer;
        ASSERT_TRUE(viewer.start(quoted(notes)));
        HWND window = waitForWindow(viewer);
        ASSERT_NE(window, nullptr);
        HWND hint = GetDlgItem(window, kHintId);
        EXPECT_TRUE(pumpUntil([&] { return textOf(hint) == L"Could not open notes.stl: not an STL file"; }));
        EXPECT_TRUE(IsWindowVisible(hint));
        EXPECT_EQ(textOf(window), kTitle);
        EXPECT_EQ(viewer.close(window), 0);
    }
    setSingleInstance(1);
    Process first, second;
    ASSERT_TRUE(first.start(quoted(cube)));
    HWND window = waitForWindow(first);
    ASSERT_NE(window, nullptr);
    HWND view = GetDlgItem(window, kViewId);
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }));
    ASSERT_TRUE(second.start(quoted(notes)));
    EXPECT_EQ(second.waitForExit(20000), 0);
    EXPECT_TRUE(pumpUntil([&] { return textOf(GetDlgItem(window, kMessagesId)).find(L"not an STL file") != std::wstring::npos; }));
    EXPECT_TRUE(pumpUntil([&] { return IsWindowVisible(view) && modelIsShown(view); }));
    EXPECT_EQ(textOf(window), kTitle + L" \u2013 cube.stl");
    EXPECT_EQ(first.close(window), 0);
}

// Triangle colours that come out near black give way to the default
// material colour when the box says "Off".
TEST_F(ViewerProcessTest, TriangleColoursOffShowTheMaterialColour) {
    std::vector<TestTriangle> triangles = cubeTriangles();
    for (TestTriangle& triangle : triangles) triangle.attribute = 0x0421;  // 1 of 31 in each channel
    triangles[0].attribute = 0x0422;  // one value on every face would be no colour
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(folder_.directory() + folder_.write("dark.stl", binaryStl(triangles)))));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    HWND view = GetDlgItem(window, kViewId), combo = GetDlgItem(window, kColorsId);
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }));
    auto brightness = [&] {
        RECT rect;
        GetWindowRect(view, &rect);
        HDC screen = GetDC(nullptr);
        std::vector<uint32_t> pixel = capturePixels(screen, (rect.left + rect.right) / 2 - 10, (rect.top + rect.bottom) / 2 - 10, 1, 1);
        ReleaseDC(nullptr, screen);
        return pixel.empty() ? -1 : int(pixel[0] >> 16 & 0xFF) + int(pixel[0] >> 8 & 0xFF) + int(pixel[0] & 0xFF);
    };
    // The view may show the model before the panel has taken its colours.
    EXPECT_TRUE(pumpUntil([&] { return IsWindowEnabled(combo) && brightness() < 100; }));
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(kColorsId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    EXPECT_TRUE(pumpUntil([&] { return brightness() > 300; }));
    EXPECT_EQ(viewer.close(window), 0);
}

// The colour at the middle of the view, as the screen shows it.
uint32_t middleOfView(HWND view) {
    RECT rect;
    GetWindowRect(view, &rect);
    HDC screen = GetDC(nullptr);
    std::vector<uint32_t> pixel = capturePixels(screen, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2, 1, 1);
    ReleaseDC(nullptr, screen);
    return pixel.empty() ? 0 : pixel[0];
}

bool isShownRed(uint32_t pixel) {
    return (pixel >> 16 & 0xFF) > 150 && std::max(pixel >> 8 & 0xFF, pixel & 0xFF) < 80;
}

// The system's Open dialog of the process, once it shows.
HWND waitForOpenDialog(const Process& process, HWND owner) {
    HWND found = nullptr;
    pumpUntil([&] {
        for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"#32770", nullptr));) {
            DWORD id;
            GetWindowThreadProcessId(window, &id);
            if (id == process.info.dwProcessId && window != owner && IsWindowVisible(window)) return (found = window) != nullptr;
        }
        return false;
    });
    return found;
}

// A 3MF file opens from the command line with its own colours, and from the
// Open dialog, whose first file type takes STL and 3MF files together.
TEST_F(ViewerProcessTest, A3mfFileOpensByCommandLineAndOpenDialogInItsColours) {
    const std::string red = folder_.write("red.3mf", redCube3mf());
    folder_.write("other.3mf", redCube3mf());
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(folder_.directory() + red)));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    HWND view = GetDlgItem(window, kViewId);
    ASSERT_TRUE(pumpUntil([&] { return modelLoaded(window, 1) && modelIsShown(view); }));
    EXPECT_EQ(textOf(GetDlgItem(window, kKindLineId)), L"3MF by TestCAD 1.0");
    // Untinted: the material colour would pale the red (the view may show the model before its colours).
    uint32_t middle = 0;
    EXPECT_TRUE(pumpUntil([&] { return isShownRed(middle = middleOfView(view)); })) << std::hex << middle;

    PostMessageW(window, WM_COMMAND, MAKEWPARAM(16640, 0), 0);  // File > Open
    HWND dialog = waitForOpenDialog(viewer, window);
    ASSERT_NE(dialog, nullptr);
    HWND types = GetDlgItem(dialog, 0x470);  // cmb1, the file types
    std::vector<std::wstring> typeNames;
    for (LRESULT k = 0, count = SendMessageW(types, CB_GETCOUNT, 0, 0); k < count; ++k) {
        wchar_t text[200] = L"";
        if (SendMessageW(types, CB_GETLBTEXTLEN, k, 0) < 200) SendMessageW(types, CB_GETLBTEXT, k, reinterpret_cast<LPARAM>(text));
        typeNames.push_back(text);
    }
    EXPECT_EQ(typeNames, (std::vector<std::wstring>{L"Mesh files (*.stl;*.3mf)", L"Stereolithography (*.stl)",
                                                    L"3D Manufacturing Format (*.3mf)", L"All Files"}));
    // The name box: cmb13 on Windows, edt1 in Wine's dialog.
    HWND name = GetDlgItem(dialog, 0x47C) ? GetDlgItem(dialog, 0x47C) : GetDlgItem(dialog, 0x480);
    std::string path = folder_.directory() + "other.3mf";
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::wstring(path.begin(), path.end()).c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    EXPECT_TRUE(pumpUntil([&] { return textOf(window) == kTitle + L" \u2013 other.3mf"; })) << textOf(window).c_str();
    EXPECT_TRUE(pumpUntil([&] { return modelIsShown(view) && isShownRed(middleOfView(view)); }));
    EXPECT_EQ(viewer.close(window), 0);
}

// A path of 300 characters (deep OneDrive folders) opens from the command line.
TEST_F(ViewerProcessTest, APathOfThreeHundredCharactersOpensFromTheCommandLine) {
    const std::string deep = makeDeepFolder(folder_.directory(), 300, "long.stl");
    ASSERT_TRUE(writeFileAt(deep + "long.stl", binaryStl({unitTriangle()})));
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(deep + "long.stl")));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    EXPECT_EQ(textOf(window), kTitle + L" \u2013 long.stl");
    EXPECT_EQ(viewer.close(window), 0);
}

void pressKeys(std::initializer_list<WORD> keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) inputs.push_back(INPUT{INPUT_KEYBOARD, {.ki = {key, 0, 0, 0, 0}}});
    for (auto key = keys.end(); key != keys.begin();)
        inputs.push_back(INPUT{INPUT_KEYBOARD, {.ki = {*--key, 0, KEYEVENTF_KEYUP, 0, 0}}});
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

DWORD selection(HWND edit) {
    return DWORD(SendMessageW(edit, EM_GETSEL, 0, 0));
}

// Keys the focused control uses reach it before any accelerator: Esc closes an
// open drop-down list, not the window; Home and Ctrl+A move and select in the
// messages box instead of resetting the view and opening Add parts.
TEST_F(ViewerProcessTest, FocusedControlsKeepTheKeysTheyUse) {
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(folder_.directory() + folder_.write("a.stl", binaryStl({unitTriangle()})))));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    SetForegroundWindow(window);
    ASSERT_TRUE(pumpUntil([&] { return GetForegroundWindow() == window; }));

    HWND messages = GetDlgItem(window, kMessagesId);
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(messages), TRUE);
    int end = int(SendMessageW(messages, WM_GETTEXTLENGTH, 0, 0)) - 2;  // before the last line's CR LF
    ASSERT_GT(end, 0);
    SendMessageW(messages, EM_SETSEL, end, end);
    pressKeys({VK_HOME});
    EXPECT_TRUE(pumpUntil([&] { return LOWORD(selection(messages)) < end; }, 5000)) << selection(messages);
    pressKeys({VK_CONTROL, 'A'});
    EXPECT_TRUE(pumpUntil([&] { return selection(messages) == MAKELONG(0, end + 2); }, 5000)) << selection(messages);
    EXPECT_EQ(viewerWindows(viewer.info.dwProcessId).size(), 1u);  // no Open dialog

    HWND combo = GetDlgItem(window, kSpaceComboId);
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(combo), TRUE);
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
    pressKeys({VK_ESCAPE});
    EXPECT_TRUE(pumpUntil([&] { return !SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0); }, 5000));
    EXPECT_EQ(viewer.waitForExit(1000), -1);
    pressKeys({VK_ESCAPE});  // with the list closed, Esc ends the program
    EXPECT_EQ(viewer.waitForExit(30000), 0);
}

// The PNG's pixels as its frame holds them (blue in the low byte for the
// viewer's pictures); empty when it cannot be read.
std::vector<uint32_t> pngPixels(const std::string& path, UINT* width, UINT* height) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<uint32_t> pixels;
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(std::wstring(path.begin(), path.end()).c_str(), nullptr,
                                                     GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(width, height))) {
        pixels.resize(size_t(*width) * *height);
        if (FAILED(frame->CopyPixels(nullptr, *width * 4, UINT(pixels.size() * 4), reinterpret_cast<BYTE*>(pixels.data()))))
            pixels.clear();
    }
    for (IUnknown* object : std::initializer_list<IUnknown*>{frame, decoder, factory})
        if (object) object->Release();
    return pixels;
}

// Lit red: shading and highlights lift green and blue a little.
bool isRed(uint32_t bgra) {
    uint32_t red = bgra >> 16 & 0xFF, green = bgra >> 8 & 0xFF, blue = bgra & 0xFF;
    return red > 150 && red > 2 * green && red > 2 * blue;
}

// The cap of a cut in red: stripes of half and a quarter of it in linear
// light (188 and 137 in sRGB), unlit; 0 for any other colour.
int capShade(uint32_t bgra) {
    int red = bgra >> 16 & 0xFF, green = bgra >> 8 & 0xFF, blue = bgra & 0xFF;
    if (green > 2 || blue > 2) return 0;
    return std::abs(red - 188) <= 3 ? 1 : std::abs(red - 137) <= 3 ? 2 : 0;
}

enum Centre { kLitRed, kCap, kEmpty, kNotRed };


struct Finished {
    long exitCode;
    std::string output;  // what it wrote to its standard output and error
};

// Runs a program until it ends, its output going through the file `outputFile`.
Finished runToEnd(const std::wstring& program, const std::wstring& arguments, const std::string& outputFile) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    Process process;
    bool started = process.start(arguments, "", output, program);
    CloseHandle(output);
    if (!started) return {-2, ""};
    long exitCode = process.waitForExit(60000);
    std::stringstream said;
    said << std::ifstream(outputFile, std::ios::binary).rdbuf();
    return {exitCode, said.str()};
}

TEST_F(ViewerProcessTest, PictureModeWritesThePngOrSaysWhyNot) {
    folder_.write("red.stl", binaryStl(cubeTriangles(), std::string("COLOR=\xFF\0\0\xFF", 10)));
    folder_.write("inches.stl", binaryStl(cubeTriangles(), std::string("UNITS=Inch COLOR=\xFF\0\0\xFF", 21)));
    folder_.write("notes.txt", "these are notes, not a model\n");
    std::vector<TestTriangle> redBottom = cubeTriangles();  // its first face is the bottom, z = -5
    for (size_t k = 0; k < redBottom.size(); ++k) redBottom[k].attribute = k < 2 ? 0x001F : 0x7FFF;
    folder_.write("bottom.stl", binaryStl(redBottom));
    const std::string dir = folder_.directory();
    const std::wstring red = quoted(dir + "red.stl"), inches = quoted(dir + "inches.stl"),
                       bottom = quoted(dir + "bottom.stl");
    const char* const own = "";  // the case's own picture in the folder
    const struct {
        const char* picture;  // null: no --picture option
        std::wstring arguments;
        long exitCode;
        UINT width, height;  // 0: no picture
        const char* message;
        int centre = kLitRed;
        DWORD units = 1;  // View > Units: millimetres, or 2 for inches
    } cases[] = {
        {own, L" --size 400x300" + red, 0, 400, 300, "Picture written to "},
        {nullptr, L" --help", 0, 0, 0, "usage: stlview [FILE...]\r\n"},
        {nullptr, red + L" -h", 0, 0, 0, "usage: stlview [FILE...]\r\n"},
        {nullptr, L" /?", 0, 0, 0, "stlview --picture OUT.png"},
        {nullptr, red + L" --fullscreen", 2, 0, 0, "--fullscreen: no such option; the options are --picture"},
        {own, L" --mode outline --view top --background 00FF00" + red + red, 0, 1280, 960, ""},
        {own, quoted(dir + "notes.txt"), 1, 0, 0, "notes.txt: not loaded"},
        {own, red + quoted(dir + "notes.txt"), 1, 0, 0, "notes.txt: not loaded"},
        {"no such folder\\x.png", red, 1, 0, 0, "x.png: picture not written"},
        {own, L" --size 400" + red, 2, 0, 0, "--size: width and height from 16 to 16384, like 1280x960\r\nusage:"},
        {own, L" --size 15x300" + red, 2, 0, 0, "--size: width and height from 16 to 16384"},
        {own, L" --mode shaded" + red, 2, 0, 0, "--mode: solid, outline or wireframe\r\n"},
        {own, L" --view side" + red, 2, 0, 0, "--view: start, top, bottom, left, right, front or back\r\n"},
        {own, L" --background 00FF0" + red, 2, 0, 0, "--background: a colour as six hexadecimal digits RRGGBB"},
        {own, red + L" --view", 2, 0, 0, "--view: start, top, bottom"},
        {own, L" --colour 00FF00" + red, 2, 0, 0, "--colour: no such option; the options are --picture, --size"},
        {own, L"", 2, 0, 0, "no STL file given\r\nusage:"},
        {own, L" a b c d e", 2, 0, 0, "at most four files make one picture\r\nusage:"},
        {nullptr, L" --size 800x600" + red, 2, 0, 0, "--size: this option needs --picture OUT.png\r\nusage:"},
        {nullptr, L" --section-flip" + red, 2, 0, 0, "--section-flip: this option needs --picture OUT.png"},
        // The cube from -5 to 5 mm: a bare length is millimetres whatever the
        // size line's unit (2.5 mm up also in a window of inches, not 2.5 in), a unit
        // may follow; the cube of -5 to 5 inches is cut 2.54 mm or an inch
        // below its middle. A plane outside the cube cuts nothing and says so.
        {own, L" --section z=50%" + red, 0, 1280, 960, "", kCap},
        {own, L" --size 400x300 --section Z=0" + red, 0, 400, 300, "", kCap},
        {own, L" --size 400x300 --section z=2.5" + red, 0, 400, 300, "", kCap, 2},
        {own, L" --size 400x300 --section z=0.25cm" + red, 0, 400, 300, "", kCap},
        {own, L" --size 400x300 --section \"z=0.1 in\"" + red, 0, 400, 300, "", kCap},
        {own, L" --size 400x300 --section z=-2.54" + inches, 0, 400, 300, "", kCap},
        {own, L" --size 400x300 --section z=-1in" + inches, 0, 400, 300, "", kCap},
        {own, L" --section z=150%" + red, 0, 1280, 960, "lies above the model (Z from -5.00\u2009mm to 5.00\u2009mm)"},
        {own, L" --section z=-30" + red, 0, 1280, 960,
         "Section plane Z = -30.00\u2009mm lies below the model (Z from -5.00\u2009mm to 5.00\u2009mm); the whole "
         "model is shown\r\n"},
        {own, L" --section-flip --section z=50%" + red, 0, 1280, 960, ""},  // the lit top face
        {own, L" --size 400x300 --view bottom" + bottom, 0, 400, 300, "", kLitRed},
        {own, L" --size 400x300 --view top" + bottom, 0, 400, 300, "", kNotRed},
        {own, L" --section w=1" + red, 2, 0, 0, "--section w=1: x, y or z, then ="},
        {own, L" --section z=abc" + red, 2, 0, 0, "--section z=abc: not a number; --section takes x, y or z"},
        {own, L" --section z=1.2.3" + red, 2, 0, 0, "--section z=1.2.3: not a number"},
        {own, L" --section z=12.5ft" + red, 2, 0, 0, "--section z=12.5ft: 'ft' is not a unit of length here"},
        {own, L" --section z=" + red, 2, 0, 0, "--section z=: no length given"},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(index);
        const std::string png = dir + (c.picture && *c.picture ? c.picture : std::to_string(index) + ".png");
        const std::string outputFile = dir + std::to_string(index++) + ".txt";
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kMakerKeyPath, L"Units", REG_DWORD, &c.units, sizeof c.units),
                  ERROR_SUCCESS);
        Finished run =
            runToEnd(STLV_VIEWER_EXE, (c.picture ? L" --picture" + quoted(png) : L"") + c.arguments, outputFile);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        UINT width = 0, height = 0;
        std::vector<uint32_t> pixels = pngPixels(png, &width, &height);
        EXPECT_EQ(std::pair(width, height), std::pair(c.width, c.height));
        if (!c.width) continue;
        ASSERT_EQ(pixels.size(), size_t(width) * height);
        uint32_t centre = pixels[size_t(height / 2) * width + width / 2];
        if (c.centre == kLitRed) EXPECT_TRUE(isRed(centre)) << std::hex << centre;
        if (c.centre == kNotRed) EXPECT_FALSE(isRed(centre)) << std::hex << centre;
        if (c.centre == kCap) {
            int shades = 0;  // both stripes within a few pixels of the centre
            for (size_t x = width / 2 - 8; x < width / 2 + 8; ++x)
                shades |= 1 << capShade(pixels[size_t(height / 2) * width + x]);
            EXPECT_EQ(shades, 6) << std::hex << centre;
        }
        if (c.centre == kEmpty)
            EXPECT_EQ(std::count(pixels.begin(), pixels.end(), pixels[0]), std::ptrdiff_t(pixels.size()));
        EXPECT_FALSE(isRed(pixels[0]));
    }
}

// The overhang tint's purple (lit): red and blue well above green.
bool isOverhangPurple(uint32_t bgra) {
    int red = bgra >> 16 & 0xFF, green = bgra >> 8 & 0xFF, blue = bgra & 0xFF;
    return red > green + 60 && blue > green + 50;
}

// Seen from the top in Wireframe, whose lines hide nothing, --overhangs
// draws the edges of the T's undersides in the tint, and without it nothing is.
TEST_F(ViewerProcessTest, PictureDrawsTheOverhangsAskedFor) {
    folder_.write("t.stl", binaryStl(tTriangles()));
    const std::string dir = folder_.directory();
    for (bool overhangs : {false, true}) {
        SCOPED_TRACE(overhangs);
        const std::string png = dir + (overhangs ? "with.png" : "without.png");
        Finished run = runToEnd(STLV_VIEWER_EXE,
                                L" --picture" + quoted(png) + L" --size 320x240 --mode wireframe --view top" +
                                    (overhangs ? L" --overhangs" : L"") + quoted(dir + "t.stl"),
                                dir + "out.txt");
        EXPECT_EQ(run.exitCode, 0) << run.output;
        UINT width = 0, height = 0;
        std::vector<uint32_t> pixels = pngPixels(png, &width, &height);
        ASSERT_EQ(pixels.size(), size_t(320) * 240);
        long purple = std::count_if(pixels.begin(), pixels.end(), isOverhangPurple);
        if (overhangs) EXPECT_GT(purple, 40);
        else EXPECT_EQ(purple, 0);
    }
}

// View > Units > Inches rewrites the size line at once and holds in the next run.
TEST_F(ViewerProcessTest, TheUnitsChosenSurviveARestart) {
    constexpr int kSizeLine = 20;
    constexpr WPARAM kInches = 16782;
    const std::string cube = folder_.directory() + folder_.write("cube.stl", binaryStl(cubeTriangles()));
    const DWORD millimetres = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kMakerKeyPath, L"Units", REG_DWORD, &millimetres, sizeof millimetres);
    const std::wstring inches = L"0.3937 in \u00D7 0.3937 in; 0.3937 in tall";
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        Process viewer;
        ASSERT_TRUE(viewer.start(quoted(cube)));
        HWND window = waitForWindow(viewer);
        ASSERT_NE(window, nullptr);
        auto size = [&] {  // thin spaces as the font has them, or plain
            std::wstring line = textOf(GetDlgItem(window, kSizeLine));
            for (wchar_t& c : line)
                if (c == L'\u2009' || c == L'\u00A0') c = L' ';
            return line;
        };
        if (start == 0) {
            ASSERT_TRUE(pumpUntil([&] { return size().starts_with(L"10.00 mm"); })) << size().c_str();
            PostMessageW(window, WM_COMMAND, kInches, 0);
        }
        EXPECT_TRUE(pumpUntil([&] { return size() == inches; })) << size().c_str();
        EXPECT_EQ(viewer.close(window), 0);
    }
}

// Settings > Material, Settings > Printer, View > Show overhangs and
// Settings > Overhang angle chosen in one run hold in the next: the facts,
// fit and overhang lines speak of them and the tint is drawn (in Wireframe,
// also kept, as the T's undersides face away from the start view).
TEST_F(ViewerProcessTest, PrintabilitySettingsSurviveARestart) {
    constexpr int kFactsLineId = 32, kOverhangLineId = 37, kFitLineId = 38;
    constexpr WPARAM kAbs = 16702, kPrusaMk4s = 16720, kShowOverhangs = 16675, kFiftyDegrees = 16764,
                     kWireframe = 16654;
    const std::string t = folder_.directory() + folder_.write("t.stl", binaryStl(tTriangles()));
    const DWORD millimetres = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kMakerKeyPath, L"Units", REG_DWORD, &millimetres, sizeof millimetres);
    for (const wchar_t* name : {L"PrintMaterial", L"Printer", L"ShowOverhangs", L"OverhangAngle", L"RenderMode"})
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Veldmark\\STL Viewer", name);
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        Process viewer;
        ASSERT_TRUE(viewer.start(quoted(t)));
        HWND window = waitForWindow(viewer);
        ASSERT_NE(window, nullptr);
        HWND view = GetDlgItem(window, kViewId);
        auto overhangLine = [&] { return textOf(GetDlgItem(window, kOverhangLineId)); };
        if (start == 0) {
            ASSERT_TRUE(pumpUntil([&] { return overhangLine().ends_with(L"steeper than 45\u00B0"); }));
            EXPECT_EQ(textOf(GetDlgItem(window, kFitLineId)), L"");
            for (WPARAM command : {kAbs, kPrusaMk4s, kShowOverhangs, kFiftyDegrees, kWireframe})
                PostMessageW(window, WM_COMMAND, command, 0);
            EXPECT_TRUE(pumpUntil([&] { return overhangLine().ends_with(L"steeper than 50\u00B0"); }));
            EXPECT_EQ(viewer.close(window), 0);
            continue;
        }
        EXPECT_TRUE(pumpUntil([&] { return overhangLine().ends_with(L"mm\u00B2 steeper than 50\u00B0"); }));
        EXPECT_TRUE(overhangLine().starts_with(L"Overhangs: 2")) << overhangLine().c_str();
        EXPECT_NE(textOf(GetDlgItem(window, kFactsLineId)).find(L" of ABS if solid"), std::wstring::npos);
        EXPECT_TRUE(textOf(GetDlgItem(window, kFitLineId)).starts_with(L"Fits the Prusa MK4S (250"));
        auto purple = [&] {
            RECT rect;
            GetWindowRect(view, &rect);
            HDC screen = GetDC(nullptr);
            std::vector<uint32_t> pixels =
                capturePixels(screen, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
            ReleaseDC(nullptr, screen);
            return std::count_if(pixels.begin(), pixels.end(), isOverhangPurple);
        };
        EXPECT_TRUE(pumpUntil([&] { return IsWindowVisible(view) && purple() > 40; }));
        EXPECT_EQ(viewer.close(window), 0);
    }
    for (const wchar_t* name : {L"PrintMaterial", L"Printer", L"ShowOverhangs", L"OverhangAngle", L"RenderMode"})
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Veldmark\\STL Viewer", name);
}

// stlview.com, as cmd and PowerShell run it for "stlview": it waits for the
// viewer (the picture is there when it ends) and answers with the viewer's
// exit code and messages.
TEST_F(ViewerProcessTest, TheConsoleFrontEndWaitsAndAnswersWithTheExitCode) {
    folder_.write("red.stl", binaryStl(cubeTriangles()));
    folder_.write("notes.txt", "these are notes, not a model\n");
    const std::string dir = folder_.directory();
    const struct {
        std::wstring arguments;
        long exitCode;
        const char* message;
        bool picture;
    } cases[] = {
        {L" --picture" + quoted(dir + "0.png") + L" --size 64x48" + quoted(dir + "red.stl"), 0, "", true},
        {L" --picture" + quoted(dir + "1.png") + quoted(dir + "notes.txt"), 1, "notes.txt: not loaded", false},
        {L" --picture" + quoted(dir + "2.png") + L" --mode shaded" + quoted(dir + "red.stl"), 2,
         "--mode: solid, outline or wireframe\r\n", false},
        {L" /?", 0, "usage: stlview", false},
        {L" -h", 0, "usage: stlview", false},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(index);
        const std::string png = dir + std::to_string(index) + ".png";
        Finished run = runToEnd(STLV_CONSOLE_EXE, c.arguments, dir + std::to_string(index++) + ".txt");
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        UINT width = 0, height = 0;
        pngPixels(png, &width, &height);
        EXPECT_EQ(width, c.picture ? 64u : 0u);
    }
}

// `stlview --save` through the console front end: the saved file loads
// closed where the repairs closed it; a file that cannot be written keeps
// what was there.
TEST_F(ViewerProcessTest, SaveModeWritesAFileThatLoadsClosedOrSaysWhyNot) {
    std::vector<TestTriangle> open = cubeTriangles();
    open.erase(open.begin(), open.begin() + 2);
    folder_.write("open.stl", binaryStl(open, "UNITS=Inch"));
    folder_.write("notes.txt", "these are notes, not a model\n");
    folder_.write("kept.stl", "the old bytes");
    SetFileAttributesW(prefixedPath(folder_.directory() + "kept.stl").c_str(), FILE_ATTRIBUTE_READONLY);
    std::filesystem::create_directory(folder_.directory() + "folder.stl");
    const std::string dir = folder_.directory();
    const std::wstring source = quoted(dir + "open.stl");
    const struct {
        const char* output;
        std::wstring arguments;
        long exitCode;
        const char* message;
        uint32_t triangles;  // saved; 0: nothing written
        bool closed;
    } cases[] = {
        {"fixed.stl", L" --repair" + source, 0, "Closed 1 hole of 4 edges\r\nNothing is left open\r\nSaved ", 12, true},
        {"fixed.3mf", source + L" --repair", 0, "as 3MF (a stored ZIP, not compressed) in millimetres", 12, true},
        {"plain.stl", source, 0, "as binary STL in millimetres", 10, false},
        {"folder.stl", L" --repair" + source, 1, "folder.stl could not be written: ", 0, false},
        {"kept.stl", quoted(dir + "notes.txt"), 1, "notes.txt: not loaded", 0, false},
        {"kept.stl", source, 1, "kept.stl could not be written: Access", 0, false},
        {"x.stl", L" --repair", 2, "no model file given\r\nusage: stlview --save", 0, false},
        {nullptr, L" --repair" + source, 2, "--repair: this option needs --save OUT.stl", 0, false},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(index);
        const std::string output = c.output ? dir + c.output : "";
        Finished run = runToEnd(STLV_CONSOLE_EXE, (c.output ? L" --save" + quoted(output) : L"") + c.arguments,
                                dir + std::to_string(index++) + ".txt");
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        if (!c.triangles) continue;
        std::ifstream in(output, std::ios::binary);
        Loaded saved(std::string(std::istreambuf_iterator<char>(in), {}));
        ASSERT_TRUE(saved.loaded());
        EXPECT_EQ(+saved.solid(0).triangleCount, c.triangles);
        SurfaceCheck check;
        ASSERT_TRUE(checkSurface(&saved.part.mesh, &check, nullptr, nullptr, nullptr));
        EXPECT_EQ(check.closed != 0, c.closed);
    }
    std::ifstream kept(dir + "kept.stl", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the old bytes");
    EXPECT_TRUE(std::filesystem::is_directory(dir + "folder.stl"));
    SetFileAttributesW(prefixedPath(dir + "kept.stl").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The version as the top CMakeLists.txt sets it, read from there as a person would.
std::string projectVersion() {
    std::stringstream text;
    text << std::ifstream(STLV_SOURCE_DIR "/CMakeLists.txt").rdbuf();
    std::string source = text.str();
    std::smatch match;
    if (!std::regex_search(source, match, std::regex(R"(\nproject\(\w+ VERSION ([0-9]+\.[0-9]+\.[0-9]+))")))
        return "";
    return match[1];
}

std::string versionResourceText(const wchar_t* file, const wchar_t* name, std::string* numbers) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(file, &ignored);
    std::vector<char> block(size);
    if (!size || !GetFileVersionInfoW(file, 0, size, block.data())) return "";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
        *numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                   "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
    wchar_t* text = nullptr;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return "";
    return std::string(text, text + wcslen(text));
}

TEST_F(ViewerProcessTest, EveryProgramAndItsResourceCarryTheProjectVersion) {
    const std::string version = projectVersion();
    ASSERT_FALSE(version.empty());
    const struct {
        const wchar_t* file;
        const char* name;  // empty: a library, it has no --version
    } programs[] = {{STLV_VIEWER_EXE, "stlview"}, {STLV_CONSOLE_EXE, "stlview"}, {STLV_STLINFO_EXE, "stlinfo"},
                    {STLV_THUMB_DLL, ""}};
    for (const auto& program : programs) {
        SCOPED_TRACE(std::string(program.file, program.file + wcslen(program.file)));
        if (*program.name) {
            Finished run = runToEnd(program.file, L" --version", folder_.directory() + program.name + ".txt");
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_EQ(run.output, std::string(program.name) + " " + version + "\r\n");
        }
        std::string numbers;
        EXPECT_EQ(versionResourceText(program.file, L"ProductVersion", &numbers), version);
        EXPECT_EQ(versionResourceText(program.file, L"FileVersion", &numbers), version);
        EXPECT_EQ(numbers, version + ".0");
    }
}

}  // namespace

namespace {

constexpr WORD kCommandExit = 16643, kCommandFront = 16649, kCommandSolid = 16652, kCommandOutline = 16653,
               kCommandWireframe = 16654, kCommandCopyPicture = 16662, kCommandMeasure = 16664,
               kCommandSection = 16665, kCommandSectionAxis = 16666, kCommandFlipSection = 16667;
constexpr int kSizeLineId = 20, kMeasureLineId = 35;

void command(HWND window, WORD id) {
    SendMessageW(window, WM_COMMAND, id, 0);
}

// As the accelerator sends it: Esc.
void escape(HWND window) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(kCommandExit, 1), 0);
}

void click(HWND view, int x, int y, int toX, int toY) {
    // The real pointer goes there first: a move it makes while the button is
    // down must not turn a click into a drag. The move reaches the viewer as
    // input a moment later, after messages sent at once would overtake it, so
    // it is given that moment (without it, about one run in ten failed).
    POINT at{x, y};
    ClientToScreen(view, &at);
    SetCursorPos(at.x, at.y);
    Sleep(50);
    SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(toX, toY));
    SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(toX, toY));
}

// Pixels of the clipboard's picture in the mark colour (magenta on the
// default colours), 32-bit rows of the DIB.
int magentaPixelsOnClipboard(HWND owner) {
    int count = -1;
    if (!OpenClipboard(owner)) return count;
    if (HANDLE memory = GetClipboardData(CF_DIB)) {
        const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(memory));
        if (header && header->biBitCount == 32) {
            const uint8_t* bits = reinterpret_cast<const uint8_t*>(header) + header->biSize;
            size_t pixels = size_t(header->biWidth) * size_t(std::abs(header->biHeight));
            count = 0;
            for (size_t i = 0; i < pixels; ++i)
                count += bits[4 * i] > 200 && bits[4 * i + 1] < 60 && bits[4 * i + 2] > 200;
        }
        if (header) GlobalUnlock(memory);
    }
    CloseClipboard();
    return count;
}

}  // namespace

// A box of 20 x 10 x 6 mm seen from the front: two clicks near the top front
// corners snap to them and measure the width exactly as the size line writes
// it; the marks stay after a turn and go into the copied picture; Esc clears,
// a click on the background changes nothing, a second Esc leaves measuring.
TEST_F(ViewerProcessTest, MeasuresTheEdgeOfABoxBetweenTwoSnappedCorners) {
    std::vector<TestTriangle> box = cubeTriangles();
    for (TestTriangle& t : box)
        for (auto& corner : t.vertices) corner[0] *= 2, corner[2] *= 0.6f;
    Process viewer;
    ASSERT_TRUE(viewer.start(quoted(folder_.directory() + folder_.write("box.stl", binaryStl(box)))));
    HWND window = waitForWindow(viewer);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    HWND view = GetDlgItem(window, kViewId), line = GetDlgItem(window, kMeasureLineId);
    command(window, kCommandFront);
    command(window, kCommandMeasure);

    // Front view: screen right is x, up is the file's z (Z up) or y (Y up);
    // the eye is five radii from the centre at the first zoom.
    bool yUp = SendMessageW(GetDlgItem(window, kSpaceComboId), CB_GETCURSEL, 0, 0) == 0;
    const double width = 20, depth = yUp ? 6 : 10, height = yUp ? 10 : 6;  // mm
    double radius = 0.5 * std::sqrt(width * width + depth * depth + height * height);
    RECT client;
    GetClientRect(view, &client);
    double scale = 4.75 * client.bottom / (2 * (5 * radius - depth / 2));  // pixels a millimetre
    int left = int(client.right / 2.0 - width / 2 * scale), right = int(client.right / 2.0 + width / 2 * scale);
    int top = int(client.bottom / 2.0 - height / 2 * scale);
    click(view, left + 4, top + 4, left + 5, top + 5);  // a click may wander by up to 3 pixels
    EXPECT_TRUE(textOf(line).starts_with(L"Point: ")) << textOf(line) << " " << left << " " << top << " " << right;
    click(view, right - 4, top + 4, right - 4, top + 4);
    std::wstring size = textOf(GetDlgItem(window, kSizeLineId));
    // The panel shows its thin spaces as no-break spaces.
    std::wstring edge = size.substr(0, std::max<size_t>(size.find(L'\u00D7'), 1) - 1);
    std::wstring zero = L"0.00" + edge.substr(std::min(edge.find_first_of(L"\u2009\u00A0"), edge.size()));
    EXPECT_EQ(textOf(line), L"Distance: " + edge + L" (\u0394x " + edge + L", \u0394y " + zero + L", \u0394z " + zero + L")");

    int x = client.right / 2, y = client.bottom / 2;
    click(view, x, y, x + 40, y + 20);  // a turn, not a click
    std::wstring measured = textOf(line);
    EXPECT_TRUE(measured.starts_with(L"Distance: ")) << measured;
    for (WORD mode : {kCommandWireframe, kCommandOutline, kCommandSolid}) {
        command(window, mode);
        command(window, kCommandCopyPicture);
        EXPECT_GT(magentaPixelsOnClipboard(window), 100) << mode;
    }

    escape(window);
    EXPECT_EQ(textOf(line), L"");
    click(view, 2, 2, 2, 2);
    EXPECT_EQ(textOf(line), L"");
    click(view, x, y, x, y);  // still measuring
    EXPECT_TRUE(textOf(line).starts_with(L"Point: ")) << textOf(line);
    escape(window);
    escape(window);  // leaves measuring
    click(view, x, y, x, y);
    EXPECT_EQ(textOf(line), L"");

    // A section through the middle across the depth that removes the front
    // face: the same pixel picks the back face, a box's depth away.
    command(window, kCommandFront);
    command(window, kCommandMeasure);
    click(view, x, y, x, y);
    if (yUp) {
        command(window, kCommandSection);  // across Z, keeping the back
    } else {
        command(window, kCommandSectionAxis);  // X, then Y
        command(window, kCommandSectionAxis);
        command(window, kCommandFlipSection);  // keeping the back, the larger Y
    }
    click(view, x, y, x, y);
    // The size line reads "width \u00D7 depth; height tall".
    size_t times = size.find(L'\u00D7'), semicolon = size.find(L';');
    std::wstring across = size.substr(times + 2, semicolon - times - 2);
    std::wstring along = yUp ? L"\u0394z -" + across : L"\u0394y " + across;
    std::wstring measuredAcross = textOf(line);
    EXPECT_TRUE(measuredAcross.starts_with(L"Distance: " + across + L" (")) << measuredAcross << " / " << size;
    EXPECT_NE(measuredAcross.find(along), std::wstring::npos) << measuredAcross;
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(viewer.close(window), 0);
}
