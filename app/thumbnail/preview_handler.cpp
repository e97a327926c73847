#include "app/thumbnail/preview_handler.h"

#include <objidl.h>
#include <ocidl.h>
#include <shobjidl.h>

#include "app/thumbnail/preview_pane.h"
#include "app/thumbnail/server_module.h"
#include "core/memory.h"

namespace {

constexpr IID kPreviewHandlerId = {0x8895b1c6, 0xb41f, 0x4c1c, {0xa5, 0x62, 0x0d, 0x56, 0x42, 0x50, 0x83, 0x6f}};
constexpr IID kObjectWithSiteId = {0xfc4801a3, 0x2ba9, 0x11cf, {0xa2, 0x29, 0x00, 0xaa, 0x00, 0x3d, 0x73, 0x52}};
constexpr IID kOleWindowId = {0x00000114, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kVisualsId = {0x196bf9a5, 0xb346, 0x4ef0, {0xaa, 0x1e, 0x5d, 0xcd, 0xb7, 0x67, 0x68, 0xb1}};
constexpr IID kFrameId = {0xfec87aaf, 0x35f9, 0x447a, {0xad, 0xb7, 0x20, 0x23, 0x44, 0x91, 0x40, 0x1a}};

// Every call comes on the host's thread that made the object (an apartment
// object); only the pane's worker runs elsewhere.
class PreviewHandler final : public IPreviewHandler,
                             public IInitializeWithStream,
                             public IObjectWithSite,
                             public IOleWindow,
                             public IPreviewHandlerVisuals {
public:
    PreviewHandler() {
        addModuleReference();
    }

    IFACEMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        if (sameId(id, kUnknownId) || sameId(id, kPreviewHandlerId)) *object = static_cast<IPreviewHandler*>(this);
        else if (sameId(id, kInitializeWithStreamId)) *object = static_cast<IInitializeWithStream*>(this);
        else if (sameId(id, kObjectWithSiteId)) *object = static_cast<IObjectWithSite*>(this);
        else if (sameId(id, kOleWindowId)) *object = static_cast<IOleWindow*>(this);
        else if (sameId(id, kVisualsId)) *object = static_cast<IPreviewHandlerVisuals*>(this);
        else {
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

    // Once per file: Explorer reuses a handler for the next file after Unload.
    IFACEMETHODIMP Initialize(IStream* newStream, DWORD) override {
        return takeStream(&stream, newStream);
    }

    IFACEMETHODIMP SetWindow(HWND window, const RECT* rect) override {
        if (!rect) return E_INVALIDARG;
        parent = window;
        place = *rect;
        if (pane) placePreviewPane(pane, parent, &place);
        return S_OK;
    }
    IFACEMETHODIMP SetRect(const RECT* rect) override {
        if (!rect) return E_INVALIDARG;
        place = *rect;
        if (pane) placePreviewPane(pane, nullptr, &place);
        return S_OK;
    }
    IFACEMETHODIMP DoPreview() override {
        if (pane) return S_OK;
        if (!stream || !parent) return E_UNEXPECTED;
        return openPreviewPane(parent, &place, stream, &look, &keptView, &pane);
    }
    IFACEMETHODIMP Unload() override {
        if (pane) keptView = closePreviewPane(pane);
        pane = nullptr;
        if (stream) stream->Release();
        stream = nullptr;
        return S_OK;
    }
    IFACEMETHODIMP SetFocus() override {
        if (!pane) return S_FALSE;
        ::SetFocus(paneWindow(pane));
        return S_OK;
    }
    IFACEMETHODIMP QueryFocus(HWND* window) override {
        if (!window) return E_INVALIDARG;
        *window = GetFocus();
        return *window ? S_OK : S_FALSE;
    }
    // Keys the pane does not use go to the host, which moves the focus on Tab.
    IFACEMETHODIMP TranslateAccelerator(MSG* message) override {
        return frame ? frame->TranslateAccelerator(message) : S_FALSE;
    }

    IFACEMETHODIMP SetSite(IUnknown* newSite) override {
        if (frame) frame->Release();
        if (site) site->Release();
        frame = nullptr;
        site = newSite;
        if (!site) return S_OK;
        site->AddRef();
        if (FAILED(site->QueryInterface(kFrameId, reinterpret_cast<void**>(&frame)))) frame = nullptr;
        return S_OK;
    }
    IFACEMETHODIMP GetSite(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return site ? site->QueryInterface(id, object) : E_FAIL;
    }

    IFACEMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_INVALIDARG;
        *window = pane ? paneWindow(pane) : parent;
        return *window ? S_OK : E_FAIL;
    }
    IFACEMETHODIMP ContextSensitiveHelp(BOOL) override {
        return E_NOTIMPL;
    }

    // The pane's colours and font, which follow the user's theme.
    IFACEMETHODIMP SetBackgroundColor(COLORREF color) override {
        look.ownBackground = true;
        look.background = color;
        return lookChanged();
    }
    IFACEMETHODIMP SetFont(const LOGFONTW* font) override {
        if (!font) return E_INVALIDARG;
        look.ownFont = true;
        look.font = *font;
        return lookChanged();
    }
    IFACEMETHODIMP SetTextColor(COLORREF color) override {
        look.ownText = true;
        look.text = color;
        return lookChanged();
    }

private:
    HRESULT lookChanged() {
        if (pane) setPaneLook(pane, &look);
        return S_OK;
    }
    void destroy() {
        Unload();
        releaseKeptView(keptView);
        SetSite(nullptr);
        this->~PreviewHandler();
        freeBytes(this);
        releaseModuleReference();
    }

    volatile LONG references = 1;
    IStream* stream = nullptr;
    IUnknown* site = nullptr;
    IPreviewHandlerFrame* frame = nullptr;
    HWND parent = nullptr;
    RECT place = {};
    PaneLook look = {};
    PreviewPane* pane = nullptr;
    HWND keptView = nullptr;  // the last pane's view, with its device, for the next
};

}  // namespace

HRESULT createPreviewHandler(REFIID id, void** object) {
    return createServerObject<PreviewHandler>(id, object);
}
