// Runs the real program: the single-window hand-over between two processes,
// several files as parts, stepping through a folder with the arrow keys,
// closing while a file loads, the model as it appears on the screen, and
// picture mode.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <initguid.h>
#include <wincodec.h>

#include <filesystem>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace {

const wchar_t kTitle[] = L"Veldmark STL Viewer";

struct Process {
    PROCESS_INFORMATION info{};
    bool start(const std::wstring& file) {
        return start(file.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{file});
    }
    bool start(const std::vector<std::wstring>& files, const std::wstring& currentFolder = L"") {
        std::wstring commandLine = L"\"" STLV_VIEWER_EXE L"\"";
        for (const std::wstring& file : files) commandLine += L" \"" + file + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info) != 0;
    }
    // The exit code, or -1 if the process is still running after the wait.
    long waitForExit(DWORD milliseconds) {
        if (WaitForSingleObject(info.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
        DWORD code;
        GetExitCodeProcess(info.hProcess, &code);
        return static_cast<long>(code);
    }
    ~Process() {
        if (!info.hProcess) return;
        if (waitForExit(0) < 0) TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
};

struct WindowsOf {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowsOf*>(context);
    DWORD owner;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16];
    if ((search->processId == 0 || owner == search->processId) && IsWindowVisible(window) &&
        GetClassNameW(window, className, 16) && lstrcmpW(className, L"#32770") == 0) {
        wchar_t title[300];
        GetWindowTextW(window, title, 300);
        if (wcsncmp(title, kTitle, wcslen(kTitle)) == 0) search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> viewerWindows(DWORD processId = 0) {
    WindowsOf search{processId, {}};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForWindow(DWORD processId, DWORD milliseconds = 20000) {
    HWND found = nullptr;
    pumpUntil([&] {
        std::vector<HWND> windows = viewerWindows(processId);
        return !windows.empty() && (found = windows[0]);
    }, milliseconds);
    return found;
}

std::wstring titleOf(HWND window) {
    wchar_t title[300];
    return std::wstring(title, GetWindowTextW(window, title, 300));
}

// The file items of the model tree: one per loaded part.
int treeRoots(HWND window) {
    HWND tree = GetDlgItem(window, 30);
    int count = 0;
    for (LPARAM item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item;
         item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, item))
        ++count;
    return count;
}

bool modelLoaded(HWND window, int parts) {
    return IsWindowVisible(GetDlgItem(window, 16)) && treeRoots(window) == parts;
}

void setSingleInstance(DWORD on) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Veldmark\\STL Viewer", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"SingleInstance", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    RegCloseKey(key);
}

std::wstring windowsPath(const std::string& path) {
    return std::wstring(path.begin(), path.end());
}

class ViewerProcessTest : public ::testing::Test {
protected:
    void TearDown() override {
        setSingleInstance(0);
    }
    TempFolder folder_;
};

// The second start runs in the files' folder and names them relatively; the
// running window has another current folder.
TEST_F(ViewerProcessTest, SecondInstanceHandsItsFilesOverAndEnds) {
    setSingleInstance(1);
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    folder_.write("b.stl", binaryStl({unitTriangle(), unitTriangle(2)}));
    folder_.write("c.stl", binaryStl({unitTriangle()}));
    Process first, second;
    ASSERT_TRUE(first.start(windowsPath(folder_.directory() + "a.stl")));
    HWND window = waitForWindow(first.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(second.start({L"b.stl", L"c.stl"}, windowsPath(folder_.directory())));
    EXPECT_EQ(second.waitForExit(20000), 0);
    EXPECT_TRUE(viewerWindows(second.info.dwProcessId).empty());
    EXPECT_EQ(titleOf(window), L"Veldmark STL Viewer \u2013 b.stl");
    EXPECT_TRUE(pumpUntil([&] { return modelLoaded(window, 2); }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.waitForExit(10000), 0);
}

// As when Enter is pressed on several files in Explorer: one start creates the
// window, the other finds it and hands its file over.
TEST_F(ViewerProcessTest, SimultaneousStartsLeaveOneWindow) {
    setSingleInstance(1);
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    folder_.write("b.stl", binaryStl({unitTriangle(2)}));
    Process first, second;
    ASSERT_TRUE(first.start(windowsPath(folder_.directory() + "a.stl")));
    ASSERT_TRUE(second.start(windowsPath(folder_.directory() + "b.stl")));
    ASSERT_TRUE(pumpUntil([&] { return first.waitForExit(0) == 0 || second.waitForExit(0) == 0; }, 60000));
    Process& remaining = first.waitForExit(0) == 0 ? second : first;
    HWND window = waitForWindow(remaining.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(viewerWindows().size(), 1u);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(remaining.waitForExit(10000), 0);
}

// Right or Left as the view receives them; the step has run when this returns.
void pressArrow(HWND window, WPARAM key) {
    SendMessageW(GetDlgItem(window, 16), WM_KEYDOWN, key, 0);
}

TEST_F(ViewerProcessTest, ArrowKeysStepThroughTheFoldersStlFiles) {
    folder_.write("a1.stl", binaryStl({unitTriangle()}));
    folder_.write("a2.txt", "text");
    folder_.write("a3.stl", std::string(40, '\x7f'));
    folder_.write("a10.stl", binaryStl({unitTriangle()}));
    std::filesystem::create_directory(folder_.directory() + "sub");
    Process viewer;
    ASSERT_TRUE(viewer.start(windowsPath(folder_.directory() + "a1.stl")));
    HWND window = waitForWindow(viewer.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    // The first step may find the listing still running; it then does nothing.
    for (int tries = 0; tries < 20 && titleOf(window) == L"Veldmark STL Viewer \u2013 a1.stl"; ++tries)
        pressArrow(window, VK_RIGHT);
    EXPECT_EQ(titleOf(window), L"Veldmark STL Viewer \u2013 a10.stl");
    pressArrow(window, VK_RIGHT);
    EXPECT_EQ(titleOf(window), L"Veldmark STL Viewer \u2013 a1.stl");
    pressArrow(window, VK_LEFT);
    EXPECT_EQ(titleOf(window), L"Veldmark STL Viewer \u2013 a10.stl");
    EXPECT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(viewer.waitForExit(10000), 0);
}

TEST_F(ViewerProcessTest, ArrowKeysKeepTheOnlyStlFileOfAFolder) {
    folder_.write("notes.txt", "text");
    folder_.write("only.stl", binaryStl({unitTriangle()}));
    folder_.write("readme.txt", "text");
    Process viewer;
    ASSERT_TRUE(viewer.start(windowsPath(folder_.directory() + "only.stl")));
    HWND window = waitForWindow(viewer.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return modelLoaded(window, 1); }));
    for (WPARAM key : {VK_RIGHT, VK_LEFT}) {
        pressArrow(window, key);
        EXPECT_EQ(titleOf(window), L"Veldmark STL Viewer \u2013 only.stl");
        EXPECT_TRUE(modelLoaded(window, 1));  // a reload would have hidden the view at once
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(viewer.waitForExit(10000), 0);
}

// The second window opens the files of its command line as parts.
TEST_F(ViewerProcessTest, WithoutTheSettingASecondWindowOpens) {
    setSingleInstance(0);
    folder_.write("a.stl", binaryStl({unitTriangle()}));
    folder_.write("b.stl", binaryStl({unitTriangle(2)}));
    Process first, second;
    ASSERT_TRUE(first.start(windowsPath(folder_.directory() + "a.stl")));
    HWND firstWindow = waitForWindow(first.info.dwProcessId);
    ASSERT_NE(firstWindow, nullptr);
    ASSERT_TRUE(second.start({windowsPath(folder_.directory() + "a.stl"), windowsPath(folder_.directory() + "b.stl")}));
    HWND secondWindow = waitForWindow(second.info.dwProcessId);
    EXPECT_NE(secondWindow, nullptr);
    EXPECT_TRUE(pumpUntil([&] { return modelLoaded(secondWindow, 2); }));
    PostMessageW(firstWindow, WM_CLOSE, 0, 0);
    if (secondWindow) PostMessageW(secondWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.waitForExit(10000), 0);
    EXPECT_EQ(second.waitForExit(10000), 0);
}

TEST_F(ViewerProcessTest, ClosingWhileLoadingEndsAtOnce) {
    std::string text = "solid big\n";
    std::string facet = " facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
                        "  endloop\n endfacet\n";
    for (int i = 0; i < 1000000; ++i) text += facet;
    folder_.write("big.stl", text + "endsolid big\n");
    for (UINT message : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(IDCANCEL)}) {
        Process viewer;
        ASSERT_TRUE(viewer.start(windowsPath(folder_.directory() + "big.stl")));
        HWND window = waitForWindow(viewer.info.dwProcessId);
        ASSERT_NE(window, nullptr);
        // The progress bar shows only while the load runs: closed while it is seen, the load is under way.
        HWND progress = GetDlgItem(window, 17);
        ASSERT_TRUE(pumpUntil([&] { return IsWindowVisible(progress) || treeRoots(window) > 0; }));
        ASSERT_TRUE(IsWindowVisible(progress)) << "the file loaded before it could be closed";
        if (message == WM_CLOSE) PostMessageW(window, WM_CLOSE, 0, 0);
        else PostMessageW(window, WM_COMMAND, IDCANCEL, 0);  // Esc
        EXPECT_EQ(viewer.waitForExit(30000), 0);
    }
}

// The model reaches the screen, and unticking its solid's box hides it again.
TEST_F(ViewerProcessTest, TheModelAppearsAndUntickingItsSolidHidesIt) {
    folder_.write("cube.stl", binaryStl(cubeTriangles()));
    Process viewer;
    ASSERT_TRUE(viewer.start(windowsPath(folder_.directory() + "cube.stl")));
    HWND window = waitForWindow(viewer.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    HWND view = GetDlgItem(window, 16);
    HWND tree = GetDlgItem(window, 30);
    ASSERT_TRUE(pumpUntil([&] { return modelIsShown(view); }));
    LPARAM file = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    LPARAM solid = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, file);
    ASSERT_NE(solid, 0);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, solid);
    PostMessageW(tree, WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(tree, WM_KEYUP, VK_SPACE, 0xC0390001);
    EXPECT_TRUE(pumpUntil([&] { return !modelIsShown(view); }));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(viewer.waitForExit(30000), 0);
}

// The text of a control of another process.
std::wstring controlText(HWND control) {
    std::wstring text(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0) + 1, L'\0');
    text.resize(SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    return text;
}

TEST_F(ViewerProcessTest, TheEmptyStartShowsTheHint) {
    Process viewer;
    ASSERT_TRUE(viewer.start(L""));
    HWND window = waitForWindow(viewer.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    HWND hint = GetDlgItem(window, 33);
    EXPECT_TRUE(IsWindowVisible(hint));
    EXPECT_EQ(controlText(hint), L"Open an STL file with Ctrl+O, or drop one here");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, 17)));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(viewer.waitForExit(10000), 0);
}

// Each file says at most a hundred lines of a kind, so four parts with two
// kinds each are needed to pass the edit control's default limit.
TEST_F(ViewerProcessTest, MessagesPast30000CharactersEndWithTheSuccessLine) {
    std::string text;
    for (int i = 0; i < 120; ++i)
        text += "solid a\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
                "  endloop\n endfacet\nendsolid b\nsolid c\nend solid\n";
    std::vector<std::wstring> files;
    for (const char* name : {"w1.stl", "w2.stl", "w3.stl", "w4.stl"})
        files.push_back(windowsPath(folder_.directory() + folder_.write(name, text)));
    Process viewer;
    ASSERT_TRUE(viewer.start(files));
    HWND window = waitForWindow(viewer.info.dwProcessId);
    ASSERT_NE(window, nullptr);
    const std::wstring last = L"file loaded successfully\r\n";
    std::wstring shown;
    EXPECT_TRUE(pumpUntil([&] {
        shown = controlText(GetDlgItem(window, 31));
        return shown.size() >= last.size() && shown.substr(shown.size() - last.size()) == last;
    }));
    EXPECT_GT(shown.size(), 30000u);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(viewer.waitForExit(30000), 0);
}

// Runs the viewer with the arguments, its output going into outputFile;
// answers the exit code, or -1 if it does not end within a minute.
long runViewer(const std::wstring& arguments, const std::string& outputFile) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::wstring commandLine = L"\"" STLV_VIEWER_EXE L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    Process viewer;
    bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &viewer.info) != 0;
    CloseHandle(output);
    return started ? viewer.waitForExit(60000) : -1;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The PNG's pixels, blue in the low byte; empty when it cannot be read.
std::vector<uint32_t> pngPixels(const std::wstring& path, UINT* width, UINT* height) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<uint32_t> pixels;
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(width, height)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom))) {
        pixels.resize(size_t(*width) * *height);
        if (FAILED(converter->CopyPixels(nullptr, *width * 4, UINT(pixels.size() * 4),
                                         reinterpret_cast<BYTE*>(pixels.data()))))
            pixels.clear();
    }
    for (IUnknown* object : std::initializer_list<IUnknown*>{converter, frame, decoder, factory})
        if (object) object->Release();
    return pixels;
}

// Lit red: shading and highlights lift green and blue a little.
bool isRed(uint32_t bgra) {
    uint32_t red = bgra >> 16 & 0xFF, green = bgra >> 8 & 0xFF, blue = bgra & 0xFF;
    return red > 150 && red > 2 * green && red > 2 * blue;
}

TEST_F(ViewerProcessTest, PictureModeWritesThePngOrSaysWhyNot) {
    const std::string red("COLOR=\xFF\0\0\xFF", 10);
    folder_.write("red.stl", binaryStl(cubeTriangles(), red));
    folder_.write("notes.txt", "these are notes, not a model\n");
    std::wstring dir = windowsPath(folder_.directory());
    struct Case {
        std::wstring arguments;
        long exitCode;
        UINT width, height;  // 0: no picture
        const char* message;
    } cases[] = {
        {L"--picture \"" + dir + L"a.png\" --size 400x300 \"" + dir + L"red.stl\"", 0, 400, 300, ""},
        {L"--picture \"" + dir + L"b.png\" --mode outline --view top --background 00FF00 \"" + dir +
             L"red.stl\" \"" + dir + L"red.stl\"", 0, 1280, 960, ""},
        {L"--picture \"" + dir + L"c.png\" \"" + dir + L"notes.txt\"", 1, 0, 0, "notes.txt: not loaded"},
        {L"--picture \"" + dir + L"d.png\" \"" + dir + L"missing.stl\"", 1, 0, 0, "missing.stl: not loaded"},
        {L"--picture \"" + dir + L"e.png\" --size 400 \"" + dir + L"red.stl\"", 2, 0, 0, "usage:"},
        {L"--picture \"" + dir + L"f.png\" --colour 00FF00 \"" + dir + L"red.stl\"", 2, 0, 0, "usage:"},
        {L"--picture \"" + dir + L"g.png\"", 2, 0, 0, "usage:"},
        {L"--picture \"" + dir + L"h.png\" a b c d e", 2, 0, 0, "usage:"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index);
        std::string outputFile = folder_.directory() + "out" + std::to_string(index++) + ".txt";
        EXPECT_EQ(runViewer(c.arguments, outputFile), c.exitCode);
        EXPECT_NE(fileText(outputFile).find(c.message), std::string::npos) << fileText(outputFile);
        std::wstring png = dir + wchar_t(L'a' + index - 1) + L".png";
        UINT width = 0, height = 0;
        std::vector<uint32_t> pixels = pngPixels(png, &width, &height);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        if (pixels.empty()) continue;
        EXPECT_TRUE(isRed(pixels[size_t(height / 2) * width + width / 2])) << std::hex << pixels[height / 2 * width + width / 2];
        EXPECT_FALSE(isRed(pixels[0]));
    }
}

}  // namespace
