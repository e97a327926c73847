// The Explorer thumbnail server as the shell uses it: registered for the
// user, created through its class id, initialised with a stream, asked for
// a square ARGB bitmap; hostile streams and the load fuzzer's seed corpus,
// which must end in a bitmap or an error code, never in a crash or a leak.
#include <gtest/gtest.h>
#include <windows.h>
#include <initguid.h>
#include <thumbcache.h>

#include <algorithm>

#include "tests/package_files.h"
#include "tests/shell_stream.h"
#include "tests/test_files.h"

namespace {

// {c9754f59-910f-4c7d-89d7-15722d1a29bb}
const CLSID kProvider = {0xc9754f59, 0x910f, 0x4c7d, {0x89, 0xd7, 0x15, 0x72, 0x2d, 0x1a, 0x29, 0xbb}};
const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}";
const wchar_t kPreviewKey[] = L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}";
const wchar_t kPreviewText[] = L"{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}";
const wchar_t kPreviewList[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";
// The thumbnail handler entries of the extensions the server draws, then its preview handler entries.
const wchar_t* const kHandlerKeys[] = {L"Software\\Classes\\.stl\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}",
                                       L"Software\\Classes\\.3mf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}",
                                       L"Software\\Classes\\.stl\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}",
                                       L"Software\\Classes\\.3mf\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}"};
const wchar_t* const kHandlerClasses[] = {L"{c9754f59-910f-4c7d-89d7-15722d1a29bb}",
                                          L"{c9754f59-910f-4c7d-89d7-15722d1a29bb}", kPreviewText, kPreviewText};

// The string value, or "" when there is none.
std::wstring stringValue(const wchar_t* key, const wchar_t* name = nullptr) {
    wchar_t text[MAX_PATH] = L"";
    DWORD bytes = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS) return L"";
    return text;
}

bool keyExists(HKEY root, const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Initialises the provider with the stream and asks for a square bitmap:
// an ARGB one of that side exactly when the answer is S_OK, its pixels
// (premultiplied ARGB) into `pixels`.
HRESULT thumbnailOf(IInitializeWithStream* init, IStream* stream, UINT side, std::vector<uint32_t>* pixels = nullptr) {
    IThumbnailProvider* provider = nullptr;
    EXPECT_EQ(init->Initialize(stream, STGM_READ), S_OK);
    EXPECT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha;
    HRESULT result = provider->GetThumbnail(side, &bitmap, &alpha);
    provider->Release();
    EXPECT_TRUE(result == S_OK || FAILED(result)) << std::hex << result;
    EXPECT_EQ(result == S_OK, bitmap != nullptr);
    EXPECT_EQ(alpha, result == S_OK ? WTSAT_ARGB : WTSAT_UNKNOWN);
    DIBSECTION section;
    if (bitmap && GetObjectW(bitmap, sizeof section, &section) == sizeof section) {
        const BITMAP& facts = section.dsBm;
        EXPECT_TRUE(facts.bmBitsPixel == 32 && facts.bmWidth == LONG(side) && facts.bmHeight == LONG(side));
        const uint32_t* bits = static_cast<const uint32_t*>(facts.bmBits);
        if (pixels) pixels->assign(bits, bits + size_t(side) * side);
    }
    if (bitmap) EXPECT_TRUE(DeleteObject(bitmap));
    return result;
}

class ThumbnailTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        module = LoadLibraryW(STLV_THUMB_DLL);
    }
    void SetUp() override { ASSERT_NE(module, nullptr); }
    static HRESULT call(const char* name) {
        return reinterpret_cast<decltype(&DllCanUnloadNow)>(GetProcAddress(module, name))();
    }
    // A provider straight from the DLL's class factory, without the registry.
    static IInitializeWithStream* newProvider() {
        IClassFactory* factory = nullptr;
        IInitializeWithStream* init = nullptr;
        auto getClassObject =
            reinterpret_cast<decltype(&DllGetClassObject)>(GetProcAddress(module, "DllGetClassObject"));
        EXPECT_EQ(getClassObject(kProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
        factory->Release();
        return init;
    }
    static HRESULT directThumbnail(IStream* stream, UINT side) {
        IInitializeWithStream* init = newProvider();
        HRESULT result = thumbnailOf(init, stream, side);
        init->Release();
        return result;
    }
    static inline HMODULE module = nullptr;
};

TEST_F(ThumbnailTest, RegisteredServerDrawsTheModelOnATransparentSquare) {
    ASSERT_EQ(call("DllRegisterServer"), S_OK);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(stringValue(kHandlerKeys[k]), kHandlerClasses[k]) << k;
    // The preview handler runs in the 64-bit preview host, named by its AppID, and is on the host's list.
    EXPECT_EQ(stringValue(kPreviewKey, L"AppID"), L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}");
    EXPECT_EQ(stringValue(kPreviewKey), L"Veldmark STL Viewer preview");
    std::wstring previewServer = std::wstring(kPreviewKey) + L"\\InprocServer32";
    EXPECT_EQ(stringValue(previewServer.c_str(), L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(stringValue(previewServer.c_str()),
              stringValue(L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}\\InprocServer32"));
    EXPECT_NE(stringValue(previewServer.c_str()), L"");
    EXPECT_EQ(stringValue(kPreviewList, kPreviewText), L"Veldmark STL Viewer preview");
    // Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine does
    // not, so there the test mirrors the user's class key for COM to find.
    std::wstring machineKey = std::wstring(kClassKey).substr(sizeof "Software\\Classes\\" - 1);
    bool mirrored = !keyExists(HKEY_CLASSES_ROOT, machineKey.c_str());
    HKEY copy = nullptr;
    if (mirrored)
        RegCreateKeyExW(HKEY_CLASSES_ROOT, machineKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &copy, nullptr);
    if (copy) RegCopyTreeW(HKEY_CURRENT_USER, kClassKey, copy);
    if (copy) RegCloseKey(copy);
    IInitializeWithStream* init = nullptr;
    HRESULT created = CoCreateInstance(kProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithStream,
                                       reinterpret_cast<void**>(&init));
    if (mirrored) RegDeleteTreeW(HKEY_CLASSES_ROOT, machineKey.c_str());
    ASSERT_EQ(created, S_OK);
    // A red binary STL cube, and a 3MF cube red by its material: the first
    // through the registered server, the second straight from the factory.
    TestStream redStl(binaryStl(cubeTriangles(), std::string("COLOR=\xFF\0\0\xFF", 10))), red3mf(redCube3mf());
    for (TestStream* stream : {&redStl, &red3mf}) {
        SCOPED_TRACE(stream == &red3mf ? "3MF" : "STL");
        if (stream == &red3mf) init = newProvider();
        std::vector<uint32_t> pixels;
        EXPECT_EQ(thumbnailOf(init, stream, 256, &pixels), S_OK);
        EXPECT_EQ(init->Initialize(stream, STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
        init->Release();
        ASSERT_EQ(pixels.size(), 256u * 256u);
        for (size_t corner : {size_t(0), size_t(255), size_t(255) * 256, size_t(256) * 256 - 1})
            EXPECT_EQ(pixels[corner], 0u) << corner;
        uint32_t middle = pixels[128 * 256 + 128];
        EXPECT_EQ(middle >> 24, 0xFFu);
        EXPECT_GT(middle >> 16 & 0xFF, 150u);
        EXPECT_LT(std::max(middle >> 8 & 0xFF, middle & 0xFF), 80u);
        for (uint32_t pixel : pixels)  // premultiplied: no colour above its alpha
            ASSERT_LE(std::max({pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF}), pixel >> 24);
    }
    // Records padded with two spaces, as an old Blender exporter wrote them:
    // the default material, not the navy blue the word would read as.
    std::vector<TestTriangle> padded = cubeTriangles();
    for (TestTriangle& triangle : padded) triangle.attribute = 0x2020;
    TestStream paddedStl(binaryStl(padded, "Binary STL output from Blender"));
    init = newProvider();
    std::vector<uint32_t> grey;
    EXPECT_EQ(thumbnailOf(init, &paddedStl, 64, &grey), S_OK);
    init->Release();
    ASSERT_EQ(grey.size(), 64u * 64u);
    uint32_t middle = grey[32 * 64 + 32];
    EXPECT_LT(int(middle & 0xFF) - int(middle >> 16 & 0xFF), 20) << std::hex << middle;

    ASSERT_EQ(call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kClassKey));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kPreviewKey));
    EXPECT_EQ(stringValue(kPreviewList, kPreviewText), L"");
    for (const wchar_t* extension : {L"Software\\Classes\\.stl", L"Software\\Classes\\.3mf"})
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, extension));
}

// Another program's handlers are kept and put back, unless it has taken the
// entry again since; each extension and each kind of handler keeps its own,
// and one that had none loses the entry again.
TEST_F(ThumbnailTest, RegisteringKeepsTheHandlersItReplaced) {
    const wchar_t other[] = L"{11111111-2222-3333-4444-555555555555}", third[] = L"{66666666-2222-3333-4444-555555555555}",
                  fourth[] = L"{77777777-2222-3333-4444-555555555555}", otherPreview[] = L"{88888888-2222-3333-4444-555555555555}",
                  fourthPreview[] = L"{99999999-2222-3333-4444-555555555555}";
    auto setHandler = [&](const wchar_t* key, const wchar_t* text) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, nullptr, REG_SZ, text, DWORD(wcslen(text) + 1) * 2);
    };
    const struct {
        const wchar_t *stlBefore, *threeMfBefore;  // null: no entry
    } rows[] = {{other, fourth}, {other, nullptr}, {nullptr, fourth}};
    for (const auto& row : rows) {
        for (bool takenBack : {false, true}) {
            SCOPED_TRACE(testing::Message() << takenBack << " " << !!row.stlBefore << !!row.threeMfBefore);
            const wchar_t* before[4] = {row.stlBefore, row.threeMfBefore, row.stlBefore ? otherPreview : nullptr,
                                        row.threeMfBefore ? fourthPreview : nullptr};
            for (int k = 0; k < 4; ++k)
                if (before[k]) setHandler(kHandlerKeys[k], before[k]);
            ASSERT_EQ(call("DllRegisterServer"), S_OK);
            ASSERT_EQ(call("DllRegisterServer"), S_OK);  // a second time keeps the first one's memory
            for (int k = 0; k < 4; ++k) EXPECT_EQ(stringValue(kHandlerKeys[k]), kHandlerClasses[k]) << k;
            if (takenBack) setHandler(kHandlerKeys[0], third), setHandler(kHandlerKeys[2], third);
            ASSERT_EQ(call("DllUnregisterServer"), S_OK);
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(stringValue(kHandlerKeys[k]), takenBack && k % 2 == 0 ? third : before[k] ? before[k] : L"") << k;
            EXPECT_EQ(keyExists(HKEY_CURRENT_USER, L"Software\\Classes\\.3mf"), row.threeMfBefore != nullptr);
            EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kClassKey));
            EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kPreviewKey));
            for (const wchar_t* extension : {L"Software\\Classes\\.stl", L"Software\\Classes\\.3mf"})
                RegDeleteTreeW(HKEY_CURRENT_USER, extension);
        }
    }
}

TEST_F(ThumbnailTest, HostileStreamsEndInErrorCodes) {
    std::string cube = binaryStl(cubeTriangles());
    std::string hugeCount = std::string(cube).replace(80, 4, "\xFF\xFF\xFF\xFF");
    struct Case { const char* name; std::string bytes; ULONGLONG claimedSize; };  // size 0: the true one
    const Case cases[] = {
        {"empty", "", 0},
        {"truncated", cube.substr(0, cube.size() - 30), 0},
        {"huge count", hugeCount, 0},
        {"fails mid-read", cube.substr(0, 300), cube.size()},
        {"over 256 MB", cube, (256ull << 20) + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestStream stream(c.bytes, c.claimedSize);
        EXPECT_TRUE(FAILED(directThumbnail(&stream, 96)));
        EXPECT_EQ(stream.references, 1);  // the provider let go of it
    }
    IThumbnailProvider* provider = nullptr;
    IInitializeWithStream* init = newProvider();
    ASSERT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
    HBITMAP bitmap;
    WTS_ALPHATYPE alpha;
    EXPECT_EQ(provider->GetThumbnail(96, &bitmap, &alpha), E_UNEXPECTED);  // never initialised
    provider->Release();
    init->Release();
    EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
}

// The load fuzzer's seeds (folder STLV_THUMB_CORPUS, which scripts/test sets):
// every sixth file in name order, or all with STLV_THUMB_CORPUS_ALL=1.
TEST_F(ThumbnailTest, CorpusFilesGiveABitmapOrAnError) {
    const char* folder = getenv("STLV_THUMB_CORPUS");
    if (!folder) GTEST_SKIP() << "STLV_THUMB_CORPUS not set";
    size_t stride = getenv("STLV_THUMB_CORPUS_ALL") ? 1 : 6;
    std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(folder), {});
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 100u);
    DWORD gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    int tried = 0, drawn = 0;
    for (size_t i = 0; i < files.size(); i += stride, ++tried) {
        SCOPED_TRACE(files[i].string());
        std::ifstream file(files[i], std::ios::binary);
        TestStream stream(std::string(std::istreambuf_iterator<char>(file), {}));
        drawn += directThumbnail(&stream, 64) == S_OK;
    }
    EXPECT_GT(drawn, 0);
    EXPECT_EQ(call("DllCanUnloadNow"), S_OK);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiObjects);
    std::printf("%d files, %d thumbnails\n", tried, drawn);
}

}  // namespace
