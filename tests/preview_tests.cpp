// The preview handler as Explorer's preview host drives it: made by the
// library's class factory, given a host window, a rectangle and a stream of
// a file, asked to show it; its pane's pixels (through WM_PRINTCLIENT) show
// the model on the background with the size and check lines below, follow a
// resize, a drag and the wheel; Unload and a second file on the same object;
// hostile streams end in a message in the pane, never in a crash.
#include <gtest/gtest.h>
#include <windows.h>
#include <initguid.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/thumbnail/preview_pane.h"
#include "tests/package_files.h"
#include "tests/shell_stream.h"
#include "tests/test_files.h"

namespace {

// {4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}
const CLSID kPreview = {0x4d1e7a3b, 0x8c52, 0x4f06, {0x9e, 0x1d, 0x2b, 0x7c, 0x5a, 0x9f, 0x3e, 0x61}};

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The pane's client area as 0xRRGGBB words, drawn as it paints itself.
struct PanePicture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    // Pixels of rows [top, bottom) that differ from `colour`.
    int countOther(uint32_t colour, int top, int bottom) const {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < width; ++x) count += at(x, y) != colour;
        return count;
    }
};

PanePicture printPane(HWND pane) {
    PanePicture picture;
    RECT client;
    GetClientRect(pane, &client);
    picture.width = client.right;
    picture.height = client.bottom;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        SendMessageW(pane, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
        GdiFlush();
        const uint32_t* rows = static_cast<const uint32_t*>(bits);
        picture.pixels.assign(rows, rows + size_t(picture.width) * picture.height);
        for (uint32_t& pixel : picture.pixels) pixel &= 0xFFFFFF;
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

class PreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        module = LoadLibraryW(STLV_THUMB_DLL);
        WNDCLASSW type{};
        type.lpfnWndProc = DefWindowProcW;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = L"PreviewTestHost";
        RegisterClassW(&type);
        host = CreateWindowW(L"PreviewTestHost", L"Preview host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
                             0, 0, 700, 600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    // As COM does for a host that frees unused servers: the device goes before the process ends.
    static void TearDownTestSuite() {
        DestroyWindow(host);
        if (module) EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
    }
    void SetUp() override {
        ASSERT_NE(module, nullptr);
        ASSERT_NE(host, nullptr);
    }
    static HRESULT call(const char* name) {
        return reinterpret_cast<decltype(&DllCanUnloadNow)>(GetProcAddress(module, name))();
    }
    static IPreviewHandler* newHandler() {
        IClassFactory* factory = nullptr;
        IPreviewHandler* handler = nullptr;
        auto getClassObject =
            reinterpret_cast<decltype(&DllGetClassObject)>(GetProcAddress(module, "DllGetClassObject"));
        EXPECT_EQ(getClassObject(kPreview, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        if (!factory) return nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPreviewHandler, reinterpret_cast<void**>(&handler)), S_OK);
        factory->Release();
        return handler;
    }
    template <typename Interface>
    static Interface* as(IUnknown* object, REFIID id) {
        Interface* result = nullptr;
        EXPECT_EQ(object->QueryInterface(id, reinterpret_cast<void**>(&result)), S_OK);
        if (result) result->Release();  // the handler outlives every use here
        return result;
    }
    static HRESULT initialize(IPreviewHandler* handler, IStream* stream) {
        return as<IInitializeWithStream>(handler, IID_IInitializeWithStream)->Initialize(stream, STGM_READ);
    }
    static HWND paneOf(IPreviewHandler* handler) {
        HWND window = nullptr;
        as<IOleWindow>(handler, IID_IOleWindow)->GetWindow(&window);
        return window;
    }
    static LRESULT state(HWND pane, WPARAM which) { return SendMessageW(pane, kPaneStateMessage, which, 0); }
    // Pumps until the pane has drawn more than `frames` frames and checked the surface.
    static bool waitForFrame(HWND pane, LRESULT frames = 0) {
        return pumpUntil([&] { return state(pane, 0) > frames && state(pane, 2); }, 60000);
    }
    // Shown with the rectangle, first frame drawn.
    static HWND show(IPreviewHandler* handler, IStream* stream, RECT place) {
        EXPECT_EQ(initialize(handler, stream), S_OK);
        EXPECT_EQ(handler->SetWindow(host, &place), S_OK);
        EXPECT_EQ(handler->DoPreview(), S_OK);
        HWND pane = paneOf(handler);
        EXPECT_NE(pane, host);
        EXPECT_EQ(GetParent(pane), host);
        EXPECT_TRUE(waitForFrame(pane));
        return pane;
    }
    static inline HMODULE module = nullptr;
    static inline HWND host = nullptr;
};

TEST_F(PreviewTest, FactoryMakesAHandlerWithTheHostsInterfaces) {
    IPreviewHandler* handler = newHandler();
    ASSERT_NE(handler, nullptr);
    for (REFIID id : {IID_IPreviewHandler, IID_IInitializeWithStream, IID_IObjectWithSite, IID_IOleWindow,
                      IID_IPreviewHandlerVisuals, IID_IUnknown}) {
        IUnknown* object = nullptr;
        EXPECT_EQ(handler->QueryInterface(id, reinterpret_cast<void**>(&object)), S_OK);
        if (object) object->Release();
    }
    IUnknown* object = nullptr;
    EXPECT_EQ(handler->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&object)), E_NOINTERFACE);
    // Nothing to show yet, and no rectangle is no rectangle.
    EXPECT_EQ(handler->DoPreview(), E_UNEXPECTED);
    EXPECT_EQ(handler->SetRect(nullptr), E_INVALIDARG);
    HWND window = nullptr;
    EXPECT_EQ(as<IOleWindow>(handler, IID_IOleWindow)->GetWindow(&window), E_FAIL);
    // The site is the host's frame; it is handed back and let go.
    IObjectWithSite* withSite = as<IObjectWithSite>(handler, IID_IObjectWithSite);
    TestStream site("");
    EXPECT_EQ(withSite->SetSite(&site), S_OK);
    IStream* back = nullptr;
    EXPECT_EQ(withSite->GetSite(IID_IStream, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, &site);
    if (back) back->Release();
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    EXPECT_EQ(site.references, 1);
    MSG key{};
    EXPECT_EQ(handler->TranslateAccelerator(&key), S_FALSE);
    handler->Release();
    IClassFactory* factory = nullptr;
    auto getClassObject = reinterpret_cast<decltype(&DllGetClassObject)>(GetProcAddress(module, "DllGetClassObject"));
    ASSERT_EQ(getClassObject(kPreview, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->CreateInstance(&site, IID_IUnknown, reinterpret_cast<void**>(&object)), CLASS_E_NOAGGREGATION);
    factory->Release();
    EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
}

// A red STL cube, the same as 3MF, and files of other programs: the model in
// its colour on the background, the lines below, after a resize and a turn.
TEST_F(PreviewTest, ShowsTheModelFollowsResizeDragAndWheel) {
    const struct {
        const char* name;
        std::string bytes;
        bool red;
    } files[] = {
        {"red STL cube", binaryStl(cubeTriangles(), std::string("COLOR=\xFF\0\0\xFF", 10)), true},
        {"red 3MF cube", redCube3mf(), true},
        {"STL of Rhino", fileBytes(std::filesystem::path(STLV_CORPUS_DIR) / "prusa_spool_holder_rhino.stl"), false},
        {"3MF with colour groups",
         fileBytes(std::filesystem::path(STLV_3MF_CORPUS_DIR) / "cons_mat_dodeca_chain_loop_color.3mf"), false},
    };
    const uint32_t background = 0x204060;  // 0xRRGGBB
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        // A clone without the shared corpus beside it still tests the made files.
        if (file.bytes.empty()) {
            std::printf("skipped %s: no corpus file\n", file.name);
            continue;
        }
        ASSERT_GT(file.bytes.size(), 100u);
        IPreviewHandler* handler = newHandler();
        ASSERT_NE(handler, nullptr);
        EXPECT_EQ(as<IPreviewHandlerVisuals>(handler, IID_IPreviewHandlerVisuals)->SetBackgroundColor(RGB(0x20, 0x40, 0x60)),
                  S_OK);
        TestStream stream(file.bytes);
        HWND pane = show(handler, &stream, RECT{10, 20, 410, 320});
        ASSERT_TRUE(IsWindow(pane));
        EXPECT_EQ(state(pane, 1), kPaneNoMessage);
        EXPECT_EQ(state(pane, 5), 1);  // drawn by the view's device in its child window
        EXPECT_EQ(stream.references, 2);  // the handler's until Unload; the pane has let go
        PanePicture first = printPane(pane);
        ASSERT_EQ(first.width, 400);
        ASSERT_EQ(first.height, 300);
        EXPECT_EQ(first.at(0, 0), background);
        EXPECT_EQ(first.at(399, 0), background);
        // The model fills the middle of the picture; the strip's lines are text on the background.
        int strip = 300 - 80;
        EXPECT_GT(first.countOther(background, 100, 160), 1500);
        EXPECT_GT(first.countOther(background, strip + 30, 300), 50);
        if (file.red) {
            uint32_t middle = first.at(200, 120);
            EXPECT_GT(middle >> 16 & 0xFF, 120u) << std::hex << middle;
            EXPECT_LT(std::max(middle >> 8 & 0xFF, middle & 0xFF), 60u) << std::hex << middle;
        }

        RECT taller{0, 0, 300, 500};
        LRESULT frames = state(pane, 0);
        EXPECT_EQ(handler->SetRect(&taller), S_OK);
        ASSERT_TRUE(waitForFrame(pane, frames));
        PanePicture resized = printPane(pane);
        ASSERT_EQ(resized.width, 300);
        ASSERT_EQ(resized.height, 500);
        EXPECT_EQ(resized.at(0, 0), background);
        EXPECT_GT(resized.countOther(background, 200, 260), 1500);

        // A drag to the right turns the model: the picture changes; the wheel brings it nearer.
        frames = state(pane, 0);
        HWND under = ChildWindowFromPointEx(pane, POINT{100, 200}, CWP_SKIPINVISIBLE);  // the view, at 0, 0
        SendMessageW(under, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 200));
        SendMessageW(under, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(160, 230));
        SendMessageW(under, WM_LBUTTONUP, 0, MAKELPARAM(160, 230));
        ASSERT_TRUE(waitForFrame(pane, frames));
        PanePicture turned = printPane(pane);
        int changed = 0;
        for (size_t i = 0; i < turned.pixels.size(); ++i) changed += turned.pixels[i] != resized.pixels[i];
        EXPECT_GT(changed, 500);
        int covered = turned.countOther(background, 0, 400);
        frames = state(pane, 0);
        SendMessageW(under, WM_MOUSEWHEEL, MAKEWPARAM(0, 3 * WHEEL_DELTA), MAKELPARAM(150, 250));
        ASSERT_TRUE(waitForFrame(pane, frames));
        EXPECT_NE(printPane(pane).countOther(background, 0, 400), covered);

        // Explorer reuses the handler for the next file.
        EXPECT_EQ(handler->Unload(), S_OK);
        EXPECT_FALSE(IsWindow(pane));
        EXPECT_EQ(stream.references, 1);
        TestStream again(file.bytes);
        HWND second = show(handler, &again, RECT{0, 0, 200, 200});
        EXPECT_EQ(state(second, 5), 1);  // by the first pane's view, its device kept
        EXPECT_GT(printPane(second).countOther(background, 50, 100), 500);
        handler->Release();
        EXPECT_FALSE(IsWindow(second));
        EXPECT_EQ(again.references, 1);
    }
    EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
}

// What Wine never does, through seams: the view's swap chain cannot be made,
// or its device is lost at Present and made anew, or lost for good. The model
// stays in the pane: drawn by the view, else by the pictures' device through GDI.
TEST_F(PreviewTest, TheViewsFailuresLeaveTheModelInThePane) {
    const struct {
        const char* name;
        PaneSeam seam;
        bool reopened;  // the seam takes the next handler's view; else the shown one's next frame
        bool throughView;
    } cases[] = {
        {"no swap chain", kSeamSwapChainFails, true, false},
        {"device lost at Present, made anew", kSeamPresentLost, false, true},
        {"device lost at Present for good", kSeamPresentLostForGood, false, false},
    };
    const uint32_t background = 0x204060;
    std::string cube = binaryStl(cubeTriangles(), std::string("COLOR=\xFF\0\0\xFF", 10));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IPreviewHandler* handler = newHandler();
        ASSERT_NE(handler, nullptr);
        as<IPreviewHandlerVisuals>(handler, IID_IPreviewHandlerVisuals)->SetBackgroundColor(RGB(0x20, 0x40, 0x60));
        TestStream stream(cube), again(cube);
        HWND pane = show(handler, &stream, RECT{0, 0, 400, 300});
        ASSERT_EQ(state(pane, 5), 1);
        SendMessageW(pane, kPaneStateMessage, 6, c.seam);
        LRESULT frames = state(pane, 0);
        if (c.reopened) {  // by a new handler: one that Explorer reuses keeps its view, swap chain and all
            handler->Release();
            handler = newHandler();
            ASSERT_NE(handler, nullptr);
            as<IPreviewHandlerVisuals>(handler, IID_IPreviewHandlerVisuals)->SetBackgroundColor(RGB(0x20, 0x40, 0x60));
            pane = show(handler, &again, RECT{0, 0, 400, 300});
        } else {
            HWND view = ChildWindowFromPointEx(pane, POINT{200, 100}, CWP_SKIPINVISIBLE);
            ASSERT_NE(view, pane);
            InvalidateRect(view, nullptr, FALSE);
            ASSERT_TRUE(pumpUntil([&] { return state(pane, 0) > frames && state(pane, 5) == c.throughView; }));
        }
        SendMessageW(pane, kPaneStateMessage, 6, kSeamsOff);
        EXPECT_EQ(state(pane, 5), c.throughView);
        EXPECT_EQ(state(pane, 1), kPaneNoMessage);
        PanePicture picture = printPane(pane);
        EXPECT_EQ(picture.at(0, 0), background);
        EXPECT_GT(picture.countOther(background, 100, 160), 1500);
        uint32_t middle = picture.at(200, 120);
        EXPECT_GT(middle >> 16 & 0xFF, 120u) << std::hex << middle;
        EXPECT_LT(std::max(middle >> 8 & 0xFF, middle & 0xFF), 60u) << std::hex << middle;
        // On the screen too, whichever window draws it.
        RECT onScreen;
        GetWindowRect(pane, &onScreen);
        EXPECT_TRUE(pumpUntil([&] {
            HDC screen = GetDC(nullptr);
            std::vector<uint32_t> shown = capturePixels(screen, onScreen.left, onScreen.top + 100, 400, 60);
            ReleaseDC(nullptr, screen);
            return std::count_if(shown.begin(), shown.end(), [&](uint32_t p) { return p != background; }) > 1500;
        }, 10000));
        handler->Release();
    }
    EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
}

// The pane's own lines: the size in the user's units and the check's
// findings; the viewer's background where the host sets none.
TEST_F(PreviewTest, StripNamesTheSizeInTheUsersUnitsAndTheCheck) {
    const wchar_t settings[] = L"Software\\Veldmark";
    DWORD background = 0x204060FF;  // red, green, blue, alpha from the top byte down
    RegSetKeyValueW(HKEY_CURRENT_USER, settings, L"DefaultBackgroundColor", REG_DWORD, &background, sizeof background);
    for (DWORD units : {1, 2}) {  // View > Units: millimetres, inches
        SCOPED_TRACE(units);
        RegSetKeyValueW(HKEY_CURRENT_USER, settings, L"Units", REG_DWORD, &units, sizeof units);
        IPreviewHandler* handler = newHandler();
        ASSERT_NE(handler, nullptr);
        TestStream stream(binaryStl(cubeTriangles()));
        HWND pane = show(handler, &stream, RECT{0, 0, 400, 300});
        wchar_t lines[2][640] = {};
        SendMessageW(pane, kPaneStateMessage, 3, reinterpret_cast<LPARAM>(lines));
        std::wstring size = lines[0];
        EXPECT_NE(size.find(L"\u00d7"), std::wstring::npos) << size;
        EXPECT_NE(size.find(units == 2 ? L"0.3937\u2009in" : L"10.00\u2009mm"), std::wstring::npos) << size;
        EXPECT_EQ(std::wstring(lines[1]), L"Closed surface, 1 shell");
        EXPECT_EQ(printPane(pane).at(0, 0), 0x204060u);
        handler->Release();
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, settings, L"Units");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, settings, L"DefaultBackgroundColor");
}

// Streams no preview can show: each gets its message in the pane and an
// HRESULT, never a crash; the stream is let go.
TEST_F(PreviewTest, HostileStreamsEndInAMessage) {
    std::string cube = binaryStl(cubeTriangles());
    std::string hugeCount = std::string(cube).replace(80, 4, "\xFF\xFF\xFF\xFF");
    struct Case {
        std::string name;
        std::string bytes;
        ULONGLONG claimedSize;  // 0: the true one
        PaneMessage message;
    };
    std::vector<Case> cases = {
        {"empty", "", 0, kPaneUnreadable},
        {"truncated", cube.substr(0, cube.size() - 30), 0, kPaneUnreadable},
        {"huge count", hugeCount, 0, kPaneUnreadable},
        {"fails mid-read", cube.substr(0, 300), cube.size(), kPaneUnreadable},
        {"over 256 MB", cube, (256ull << 20) + 1, kPaneTooLarge},
        {"corrupt 3MF", fileBytes(std::filesystem::path(STLV_3MF_CORPUS_DIR) / "blender_corrupt_archive.3mf"), 0,
         kPaneUnreadable},
    };
    // A sample of the load fuzzer's seeds, as the thumbnail test draws them.
    if (const char* folder = getenv("STLV_THUMB_CORPUS")) {
        std::vector<std::filesystem::path> seeds(std::filesystem::directory_iterator(folder), {});
        std::sort(seeds.begin(), seeds.end());
        for (size_t i = 0; i < seeds.size(); i += 25)
            cases.push_back({seeds[i].filename().string(), fileBytes(seeds[i]), 0, kPaneNoMessage});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IPreviewHandler* handler = newHandler();
        ASSERT_NE(handler, nullptr);
        TestStream stream(c.bytes, c.claimedSize);
        EXPECT_EQ(initialize(handler, &stream), S_OK);
        EXPECT_EQ(initialize(handler, &stream), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
        RECT place{0, 0, 480, 300};
        EXPECT_EQ(handler->SetWindow(host, &place), S_OK);
        HRESULT shown = handler->DoPreview();
        EXPECT_TRUE(shown == S_OK || FAILED(shown)) << std::hex << shown;
        HWND pane = paneOf(handler);
        ASSERT_TRUE(pumpUntil([&] {
            LRESULT message = state(pane, 1);
            return (message != kPaneLoading && message != kPaneNoMessage) || state(pane, 2);
        }, 60000));
        if (c.message != kPaneNoMessage) {
            EXPECT_EQ(state(pane, 1), c.message);
            EXPECT_EQ(state(pane, 0), 0);
            // The message is written across the middle of the pane; the strip stays empty.
            PanePicture picture = printPane(pane);
            uint32_t background = picture.at(0, 0);
            EXPECT_GT(picture.countOther(background, 60, 200), 100);
            EXPECT_EQ(picture.countOther(background, 230, 300), 0);
        }
        EXPECT_EQ(handler->Unload(), S_OK);
        EXPECT_EQ(stream.references, 1);
        handler->Release();
    }
    EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
}

// 10^6 triangles (50 MB): the host's thread reads a slice at a time and
// answers between slices; once the stream is read the worker parses, draws a
// coarse picture of the sheet, then the whole, and the pane answers all the while.
TEST_F(PreviewTest, PaneAnswersWhileALargeFileLoads) {
    std::string bytes = binaryHeader(1000000);
    bytes.reserve(84 + 50 * 1000000);
    for (uint32_t i = 0; i < 1000000; ++i) {  // a sheet of 1000 x 1000 cells, each half covered
        float x = float(i % 1000), y = float(i / 1000);
        appendTriangle(&bytes, TestTriangle{{0, 0, 1}, {{x, y, 0}, {x + 1, y, 0}, {x, y + 1, 0}}, 0});
    }
    IPreviewHandler* handler = newHandler();
    ASSERT_NE(handler, nullptr);
    TestStream stream(bytes);
    stream.readDelay = 3;
    RECT place{0, 0, 400, 300};
    ASSERT_EQ(initialize(handler, &stream), S_OK);
    ASSERT_EQ(handler->SetWindow(host, &place), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    EXPECT_LT(stream.position, bytes.size());  // DoPreview itself reads at most a slice
    HWND pane = paneOf(handler);
    int answeredWhileReading = 0, answeredAfterReading = 0, coarsePixels = -1;
    DWORD longest = 0, last = GetTickCount(), start = last, coarseAt = 0;
    ASSERT_TRUE(pumpUntil([&] {
        bool read = stream.position == bytes.size();
        LRESULT frames = state(pane, 0);
        DWORD now = GetTickCount();
        longest = std::max(longest, now - last);
        last = now;
        if (frames == 0) ++(read ? answeredAfterReading : answeredWhileReading);
        if (frames == 0 && coarsePixels < 0 && state(pane, 4) > 0) {
            PanePicture coarse = printPane(pane);
            coarsePixels = coarse.countOther(coarse.at(0, 0), 0, 220);
            coarseAt = now - start;
        }
        return frames > 0;
    }, 120000));
    EXPECT_GT(answeredWhileReading, 0);
    EXPECT_GT(answeredAfterReading, 0);
    EXPECT_GT(coarsePixels, 1000);  // the sheet, coarse, before the whole of it
    EXPECT_EQ(state(pane, 4), 1);
    std::printf("answered %d times while reading, %d while parsing and drawing; longest gap %lu ms; "
                "coarse picture after %lu ms, the whole after %lu ms\n",
                answeredWhileReading, answeredAfterReading, longest, coarseAt, GetTickCount() - start);
    handler->Release();
}

}  // namespace
