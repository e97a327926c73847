// The Explorer thumbnail server as the shell uses it: registered for the
// user, created through its class id, initialised with a stream, asked for
// a square ARGB bitmap; and hostile streams, which must end in error codes.
#include <gtest/gtest.h>
#include <windows.h>
#include <initguid.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace {

// {c9754f59-910f-4c7d-89d7-15722d1a29bb}
const CLSID kProvider = {0xc9754f59, 0x910f, 0x4c7d, {0x89, 0xd7, 0x15, 0x72, 0x2d, 0x1a, 0x29, 0xbb}};
const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}";
const wchar_t kHandlerKey[] = L"Software\\Classes\\.stl\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

typedef HRESULT(STDAPICALLTYPE* ServerCall)();
typedef HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**);

bool keyExists(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A cube of side 10 whose header colour is red.
std::string redCube() {
    return binaryStl(cubeTriangles(), std::string("COLOR=\xFF\0\0\xFF", 10));
}

IStream* memoryStream(const std::string& bytes) {
    return SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
}

// A stream that claims `size` bytes, hands out `bytes`, then fails every read.
class FailingStream : public IStream {
public:
    FailingStream(std::string bytes, ULONGLONG size) : bytes_(std::move(bytes)), size_(size) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IStream) || IsEqualIID(id, IID_ISequentialStream)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    HRESULT STDMETHODCALLTYPE Read(void* out, ULONG wanted, ULONG* got) override {
        ULONG left = static_cast<ULONG>(bytes_.size() - position_);
        if (left == 0) return STG_E_READFAULT;
        ULONG n = wanted < left ? wanted : left;
        memcpy(out, bytes_.data() + position_, n);
        position_ += n;
        if (got) *got = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
        if (origin != STREAM_SEEK_SET || move.QuadPart != 0) return E_NOTIMPL;
        position_ = 0;
        if (at) at->QuadPart = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* facts, DWORD) override {
        memset(facts, 0, sizeof *facts);
        facts->type = STGTY_STREAM;
        facts->cbSize.QuadPart = size_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
    ULONG references_ = 1;

private:
    std::string bytes_;
    ULONGLONG size_;
    size_t position_ = 0;
};

struct Thumbnail {
    HRESULT result = E_FAIL;
    UINT width = 0, height = 0;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    std::vector<uint32_t> pixels;  // premultiplied ARGB, blue in the low byte
};

// Initialises the provider with the stream and asks for a square bitmap.
Thumbnail thumbnailOf(IInitializeWithStream* init, IStream* stream, UINT side) {
    Thumbnail thumbnail;
    thumbnail.result = init->Initialize(stream, STGM_READ);
    if (FAILED(thumbnail.result)) return thumbnail;
    IThumbnailProvider* provider = nullptr;
    thumbnail.result = init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
    if (FAILED(thumbnail.result)) return thumbnail;
    HBITMAP bitmap = nullptr;
    thumbnail.result = provider->GetThumbnail(side, &bitmap, &thumbnail.alpha);
    provider->Release();
    EXPECT_EQ(SUCCEEDED(thumbnail.result), bitmap != nullptr);
    if (!bitmap) return thumbnail;
    DIBSECTION section;
    if (GetObjectW(bitmap, sizeof section, &section) == sizeof section && section.dsBm.bmBitsPixel == 32) {
        thumbnail.width = section.dsBm.bmWidth;
        thumbnail.height = section.dsBm.bmHeight;
        const uint32_t* bits = static_cast<const uint32_t*>(section.dsBm.bmBits);
        thumbnail.pixels.assign(bits, bits + size_t(thumbnail.width) * thumbnail.height);
    }
    DeleteObject(bitmap);
    return thumbnail;
}

class ThumbnailTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        module = LoadLibraryW(STLV_THUMB_DLL);
    }
    void SetUp() override {
        ASSERT_NE(module, nullptr);
    }
    template <typename Function>
    Function entry(const char* name) {
        return reinterpret_cast<Function>(GetProcAddress(module, name));
    }
    // A provider straight from the DLL's class factory, without the registry.
    IInitializeWithStream* newProvider() {
        IClassFactory* factory = nullptr;
        IInitializeWithStream* init = nullptr;
        auto getClassObject = entry<GetClassObject>("DllGetClassObject");
        if (getClassObject && SUCCEEDED(getClassObject(kProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
            factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init));
            factory->Release();
        }
        return init;
    }
    static inline HMODULE module = nullptr;
};

TEST_F(ThumbnailTest, RegisteredServerDrawsTheModelOnATransparentSquare) {
    ASSERT_EQ(entry<ServerCall>("DllRegisterServer")(), S_OK);
    wchar_t threading[32];
    DWORD bytes = sizeof threading;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kClassKey) + L"\\InprocServer32").c_str(),
                           L"ThreadingModel", RRF_RT_REG_SZ, nullptr, threading, &bytes),
              ERROR_SUCCESS);
    EXPECT_STREQ(threading, L"Apartment");
    EXPECT_TRUE(keyExists(kHandlerKey));

    // Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine does
    // not, so there the test mirrors the user's class key for COM to find.
    std::wstring machineKey = std::wstring(kClassKey).substr(sizeof "Software\\Classes\\" - 1);
    bool mirrored = false;
    HKEY merged;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, machineKey.c_str(), 0, KEY_READ, &merged) == ERROR_SUCCESS) {
        RegCloseKey(merged);
    } else {
        HKEY copy;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, machineKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &copy,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegCopyTreeW(HKEY_CURRENT_USER, kClassKey, copy), ERROR_SUCCESS);
        RegCloseKey(copy);
        mirrored = true;
    }
    IInitializeWithStream* init = nullptr;
    HRESULT created = CoCreateInstance(kProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithStream,
                               reinterpret_cast<void**>(&init));
    if (mirrored) RegDeleteTreeW(HKEY_CLASSES_ROOT, machineKey.c_str());
    ASSERT_EQ(created, S_OK);
    IStream* stream = memoryStream(redCube());
    Thumbnail thumbnail = thumbnailOf(init, stream, 256);
    EXPECT_EQ(init->Initialize(stream, STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    init->Release();
    stream->Release();
    ASSERT_EQ(thumbnail.result, S_OK);
    EXPECT_EQ(thumbnail.alpha, WTSAT_ARGB);
    ASSERT_EQ(thumbnail.width, 256u);
    ASSERT_EQ(thumbnail.height, 256u);
    ASSERT_EQ(thumbnail.pixels.size(), 256u * 256u);
    for (size_t corner : {size_t(0), size_t(255), size_t(255) * 256, size_t(256) * 256 - 1})
        EXPECT_EQ(thumbnail.pixels[corner], 0u) << corner;
    uint32_t middle = thumbnail.pixels[128 * 256 + 128];
    EXPECT_EQ(middle >> 24, 0xFFu);
    EXPECT_GT(middle >> 16 & 0xFF, 150u);
    EXPECT_LT(middle >> 8 & 0xFF, 80u);
    EXPECT_LT(middle & 0xFF, 80u);
    for (uint32_t pixel : thumbnail.pixels)  // premultiplied: no colour above its alpha
        ASSERT_LE(std::max({pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF}), pixel >> 24);

    ASSERT_EQ(entry<ServerCall>("DllUnregisterServer")(), S_OK);
    EXPECT_FALSE(keyExists(kClassKey));
    EXPECT_FALSE(keyExists(L"Software\\Classes\\.stl"));
}

TEST_F(ThumbnailTest, HostileStreamsEndInErrorCodes) {
    std::string cube = redCube();
    std::string hugeCount = cube;
    hugeCount[80] = hugeCount[81] = hugeCount[82] = hugeCount[83] = '\xFF';
    struct Case {
        const char* name;
        std::string bytes;
        ULONGLONG claimedSize;  // 0: the stream tells the truth
    } cases[] = {
        {"empty", "", 0},
        {"header only", cube.substr(0, 80), 0},
        {"truncated", cube.substr(0, cube.size() - 30), 0},
        {"huge count", hugeCount, 0},
        {"text", "this is not a model, just words\n", 0},
        {"fails mid-read", cube.substr(0, 300), cube.size()},
        {"over 256 MB", cube, (256ull << 20) + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IInitializeWithStream* init = newProvider();
        ASSERT_NE(init, nullptr);
        FailingStream stream(c.bytes, c.claimedSize ? c.claimedSize : c.bytes.size());
        Thumbnail thumbnail = thumbnailOf(init, &stream, 96);
        EXPECT_TRUE(FAILED(thumbnail.result)) << std::hex << thumbnail.result;
        init->Release();
        EXPECT_EQ(stream.references_, 1u);  // the provider let go of it
    }
    IInitializeWithStream* init = newProvider();
    ASSERT_NE(init, nullptr);
    IThumbnailProvider* provider = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider)), S_OK);
    HBITMAP bitmap;
    WTS_ALPHATYPE alpha;
    EXPECT_EQ(provider->GetThumbnail(96, &bitmap, &alpha), E_UNEXPECTED);  // never initialised
    provider->Release();
    init->Release();
    EXPECT_EQ(entry<ServerCall>("DllCanUnloadNow")(), S_OK);
}

// Every file of a folder (the load fuzzer's corpus, STLV_THUMB_CORPUS) through
// GetThumbnail: a bitmap exactly when the answer is success, no crash, no leak
// of objects.
TEST_F(ThumbnailTest, CorpusFilesGiveABitmapOrAnError) {
    const char* folder = getenv("STLV_THUMB_CORPUS");
    if (!folder) GTEST_SKIP() << "STLV_THUMB_CORPUS not set";
    int files = 0, drawn = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(file.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        IInitializeWithStream* init = newProvider();
        ASSERT_NE(init, nullptr);
        IStream* stream = memoryStream(bytes.str());
        if (!stream) stream = memoryStream(" ");
        Thumbnail thumbnail = thumbnailOf(init, stream, 32);
        init->Release();
        stream->Release();
        ++files;
        drawn += SUCCEEDED(thumbnail.result);
    }
    EXPECT_EQ(entry<ServerCall>("DllCanUnloadNow")(), S_OK);
    std::printf("%d files, %d thumbnails\n", files, drawn);
}

}  // namespace
