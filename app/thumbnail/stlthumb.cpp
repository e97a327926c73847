// stlthumb.dll: an in-process COM server giving Explorer thumbnails of STL
// and 3MF files (IThumbnailProvider initialised with a stream) and the
// preview pane's live view of them (preview_handler.h). It registers itself
// for the current user only. The one piece of state between calls is the
// count of live objects and locks that DllCanUnloadNow answers from.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <thumbcache.h>

#include "app/thumbnail/preview_handler.h"
#include "app/thumbnail/preview_pane.h"
#include "app/thumbnail/server_module.h"
#include "app/thumbnail/shell_registration.h"
#include "app/thumbnail/thumbnail_image.h"
#include "core/memory.h"
#include "view/device_work.h"
#include "view/offscreen_render.h"

namespace {

constexpr IID kThumbnailProviderId = {0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};
constexpr IID kClassFactoryId = {0x00000001, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

volatile LONG moduleCount = 0;
// The device of a view is made in a second or less, even under Wine.
constexpr uint32_t kDeviceWorkWaitMs = 5000;
HMODULE thisModule = nullptr;  // set once when the DLL is loaded

class Provider final : public IThumbnailProvider, public IInitializeWithStream {
public:
    Provider() {
        addModuleReference();
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

    // The stream is held until the object goes.
    IFACEMETHODIMP Initialize(IStream* newStream, DWORD) override {
        return takeStream(&stream, newStream);
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
        releaseModuleReference();
    }

    volatile LONG references = 1;
    IStream* stream = nullptr;
};

// One factory per class, each static; its references are module locks.
class Factory final : public IClassFactory {
public:
    constexpr explicit Factory(HRESULT (*create)(REFIID, void**)) : create(create) {}

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
        return create(id, object);
    }
    IFACEMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&moduleCount);
        else InterlockedDecrement(&moduleCount);
        return S_OK;
    }

private:
    HRESULT (*create)(REFIID, void**);
};

constinit Factory thumbnailFactory(createServerObject<Provider>);  // constant-initialised: nothing runs before DllMain
constinit Factory previewFactory(createPreviewHandler);

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
    if (IsEqualCLSID(classId, kThumbnailClass)) return thumbnailFactory.QueryInterface(id, object);
    if (IsEqualCLSID(classId, kPreviewClass)) return previewFactory.QueryInterface(id, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    if (moduleCount != 0) return S_FALSE;
    // A pane's view may still be making its device on a pool thread, in this code.
    if (!awaitDeviceWork(kDeviceWorkWaitMs)) return S_FALSE;
    // The pictures' device goes with the module, not with each picture.
    releasePictureDevice();
    unregisterPaneClasses();
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

}  // namespace

STDAPI DllRegisterServer() {
    wchar_t* path = modulePath();
    if (!path) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    HRESULT result = registerShellServers(path);
    freeBytes(path);
    return result;
}

STDAPI DllUnregisterServer() {
    return unregisterShellServers();
}

// Custom actions of the installer, whose own table writes the class keys:
// the handler entries as regsvr32 takes and gives them back. The argument
// is the installer's session handle; the answer is always success, as a
// handler entry is no reason to fail an installation.
extern "C" UINT WINAPI TakeShellHandlers(unsigned long) {
    takeShellHandlers();
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI GiveBackShellHandlers(unsigned long) {
    giveBackShellHandlers();
    return ERROR_SUCCESS;
}

void addModuleReference() {
    InterlockedIncrement(&moduleCount);
}

void releaseModuleReference() {
    InterlockedDecrement(&moduleCount);
}

HMODULE serverModule() {
    return thisModule;
}
