// stlthumb.dll: an in-process COM server giving Explorer thumbnails of STL
// and 3MF files (IThumbnailProvider initialised with a stream). It registers itself
// for the current user only. The one piece of state between calls is the
// count of live objects and locks that DllCanUnloadNow answers from.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <thumbcache.h>

#include <new>

#include "app/thumbnail/thumbnail_image.h"
#include "core/memory.h"
#include "view/offscreen_render.h"

namespace {

// {c9754f59-910f-4c7d-89d7-15722d1a29bb}
constexpr CLSID kProviderClass = {0xc9754f59, 0x910f, 0x4c7d, {0x89, 0xd7, 0x15, 0x72, 0x2d, 0x1a, 0x29, 0xbb}};
constexpr wchar_t kProviderClassText[] = L"{c9754f59-910f-4c7d-89d7-15722d1a29bb}";
constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}";
constexpr wchar_t kServerKey[] =
    L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}\\InprocServer32";

// The keys of one extension the server draws, and the value of the class key
// that keeps the handler registering replaced there (the .stl name predates .3mf).
struct ExtensionKeys {
    const wchar_t* extension;
    const wchar_t* shellEx;
    const wchar_t* handler;  // under the shell's handler category for thumbnail providers
    const wchar_t* previousHandler;
};
constexpr ExtensionKeys kExtensions[] = {
    {L"Software\\Classes\\.stl", L"Software\\Classes\\.stl\\ShellEx",
     L"Software\\Classes\\.stl\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"PreviousThumbnailHandler"},
    {L"Software\\Classes\\.3mf", L"Software\\Classes\\.3mf\\ShellEx",
     L"Software\\Classes\\.3mf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"PreviousThumbnailHandler.3mf"},
};

constexpr IID kThumbnailProviderId = {0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};
constexpr IID kInitializeWithStreamId = {0xb824b49d, 0x22ac, 0x4161, {0xac, 0x8a, 0x99, 0x16, 0xe8, 0xfa, 0x3f, 0x7f}};
constexpr IID kUnknownId = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kClassFactoryId = {0x00000001, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

volatile LONG moduleCount = 0;
HMODULE thisModule = nullptr;  // set once when the DLL is loaded

bool sameId(REFIID a, const IID& b) {
    return IsEqualIID(a, b) != 0;
}

class Provider final : public IThumbnailProvider, public IInitializeWithStream {
public:
    Provider() {
        InterlockedIncrement(&moduleCount);
    }

    IFACEMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        if (sameId(id, kUnknownId) || sameId(id, kThumbnailProviderId)) {
            *object = static_cast<IThumbnailProvider*>(this);
        } else if (sameId(id, kInitializeWithStreamId)) {
            *object = static_cast<IInitializeWithStream*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references));
    }
    IFACEMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&references);
        if (left == 0) destroy();
        return static_cast<ULONG>(left);
    }

    // The shell initialises once; the stream is held until the object goes.
    IFACEMETHODIMP Initialize(IStream* newStream, DWORD) override {
        if (!newStream) return E_INVALIDARG;
        if (stream) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
        stream = newStream;
        stream->AddRef();
        return S_OK;
    }

    IFACEMETHODIMP GetThumbnail(UINT side, HBITMAP* bitmap, WTS_ALPHATYPE* alphaType) override {
        if (!bitmap || !alphaType) return E_POINTER;
        *bitmap = nullptr;
        *alphaType = WTSAT_UNKNOWN;
        if (!stream) return E_UNEXPECTED;
        HRESULT result = thumbnailFromStream(stream, side, bitmap);
        if (SUCCEEDED(result)) *alphaType = WTSAT_ARGB;
        return result;
    }

private:
    void destroy() {
        if (stream) stream->Release();
        this->~Provider();
        freeBytes(this);
        InterlockedDecrement(&moduleCount);
    }

    volatile LONG references = 1;
    IStream* stream = nullptr;
};

class Factory final : public IClassFactory {
public:
    IFACEMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        if (!sameId(id, kUnknownId) && !sameId(id, kClassFactoryId)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    // The one factory is static; its references are module locks.
    IFACEMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&moduleCount));
    }
    IFACEMETHODIMP_(ULONG) Release() override {
        return static_cast<ULONG>(InterlockedDecrement(&moduleCount));
    }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID id, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        void* memory = allocBytes(sizeof(Provider));
        if (!memory) return E_OUTOFMEMORY;
        Provider* provider = ::new (memory) Provider();  // placement only: the block is the heap's
        HRESULT result = provider->QueryInterface(id, object);
        provider->Release();
        return result;
    }
    IFACEMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&moduleCount);
        else InterlockedDecrement(&moduleCount);
        return S_OK;
    }
};

constinit Factory theFactory;  // constant-initialised: nothing runs before DllMain

HRESULT setValue(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* text) {
    DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
    return HRESULT_FROM_WIN32(RegSetKeyValueW(root, path, name, REG_SZ, text, bytes));
}

// Removes the key when it holds nothing, so that keys that were there before stay.
void deleteIfEmpty(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD subkeys = 1, values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

// A class id as text, from the key's value; false when there is none.
bool readClassText(const wchar_t* path, const wchar_t* name, wchar_t (&text)[64]) {
    DWORD bytes = sizeof text;
    return RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_REG_SZ, nullptr, text, &bytes) == ERROR_SUCCESS &&
           text[0];
}

// The handler entry names this server.
bool handlerIsOurs(const ExtensionKeys& keys) {
    wchar_t text[64];
    return readClassText(keys.handler, nullptr, text) && lstrcmpiW(text, kProviderClassText) == 0;
}

// Takes the extension's handler entry, keeping another program's to be put back.
HRESULT registerExtension(const ExtensionKeys& keys) {
    wchar_t previous[64];
    HRESULT result = S_OK;
    if (!handlerIsOurs(keys) && readClassText(keys.handler, nullptr, previous))
        result = setValue(HKEY_CURRENT_USER, kClassKey, keys.previousHandler, previous);
    if (SUCCEEDED(result)) result = setValue(HKEY_CURRENT_USER, keys.handler, nullptr, kProviderClassText);
    return result;
}

// Gives the entry back to the program registering replaced, or removes it and
// the keys it leaves empty; an entry another program took since stays its.
void unregisterExtension(const ExtensionKeys& keys) {
    wchar_t previous[64];
    if (!handlerIsOurs(keys)) return;
    if (readClassText(kClassKey, keys.previousHandler, previous)) {
        setValue(HKEY_CURRENT_USER, keys.handler, nullptr, previous);
        return;
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, keys.handler);
    deleteIfEmpty(keys.shellEx);
    deleteIfEmpty(keys.extension);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID id, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(classId, kProviderClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return theFactory.QueryInterface(id, object);
}

STDAPI DllCanUnloadNow() {
    if (moduleCount != 0) return S_FALSE;
    // The thumbnails' device goes with the module, not with each thumbnail.
    releasePictureDevice();
    return S_OK;
}

namespace {

// This library's path, however long; null without memory or when the system has none.
wchar_t* modulePath() {
    for (DWORD units = MAX_PATH; units <= 32768; units *= 2) {
        wchar_t* path = static_cast<wchar_t*>(allocArray(processHeap(), units, sizeof(wchar_t), nullptr));
        DWORD length = path ? GetModuleFileNameW(thisModule, path, units) : 0;
        if (length > 0 && length < units) return path;
        freeBytes(path);
        if (length == 0) return nullptr;
    }
    return nullptr;
}

HRESULT registerServer(const wchar_t* path) {
    HRESULT result = setValue(HKEY_CURRENT_USER, kClassKey, nullptr, L"Veldmark STL Viewer thumbnails");
    if (SUCCEEDED(result)) result = setValue(HKEY_CURRENT_USER, kServerKey, nullptr, path);
    if (SUCCEEDED(result)) result = setValue(HKEY_CURRENT_USER, kServerKey, L"ThreadingModel", L"Apartment");
    for (const ExtensionKeys& keys : kExtensions)
        if (SUCCEEDED(result)) result = registerExtension(keys);
    if (SUCCEEDED(result)) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return result;
}

}  // namespace

STDAPI DllRegisterServer() {
    wchar_t* path = modulePath();
    if (!path) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    HRESULT result = registerServer(path);
    freeBytes(path);
    return result;
}

STDAPI DllUnregisterServer() {
    for (const ExtensionKeys& keys : kExtensions) unregisterExtension(keys);
    LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kClassKey);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// Called by the installer after it wrote or removed the keys above as plain
// values: Explorer rereads associations only when told. The argument is the
// installer's session handle; the answer is always success.
extern "C" UINT WINAPI NotifyAssociationsChanged(unsigned long) {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return ERROR_SUCCESS;
}
