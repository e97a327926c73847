#include "app/thumbnail/preview_pane.h"

#include <windowsx.h>

#include <cstring>

#include "app/panel_text.h"
#include "app/preferences.h"
#include "app/shown_model.h"
#include "app/thumbnail/server_module.h"
#include "app/thumbnail/stream_model.h"
#include "app/thumbnail/thumbnail_image.h"
#include "core/memory.h"
#include "core/spin_lock.h"
#include "mesh/surface_check.h"
#include "view/camera.h"
#include "view/device_work.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/offscreen_render.h"
#include "view/view_control.h"
#include "view/view_lookup.h"

struct PreviewPane {
    HWND window;
    // The window's thread reads the stream into the bytes, which then pass to the worker.
    IStream* stream;
    uint8_t* bytes;  // process heap
    ULONGLONG size;
    ULONGLONG done;
    ULONGLONG deadline;
    HANDLE thread;
    HANDLE wake;  // auto-reset: a new request, or the stop
    volatile uint8_t keepGoing;
    ModelPart part;  // the worker's; its heap holds all of it and goes with the pane
    // The viewer's view control, a child window above the strip that draws
    // the model with Direct3D and turns and zooms it itself; made hidden
    // once the stream is read and shown once the part is on its device.
    // Window thread only; null once it failed (the pictures go through GDI then).
    HWND view;
    HWND spareView;  // the last pane's, hidden, until this one needs a view
    uint32_t viewFramesBefore;  // what the view had shown for other panes
    MessageSink viewSink;
    float viewZoom;  // the zoom the pane last fitted the view to
    // Under the lock: the request the worker draws, its latest picture, the texts.
    SRWLOCK lock;
    int32_t width;  // of the picture, above the strip
    int32_t height;
    BinaryAngle yaw;
    BinaryAngle pitch;
    float zoom;  // 0 until the wheel turns: the view's first
    uint32_t background;  // red in the low byte, opaque
    uint32_t requests;    // counts them; the worker draws the latest
    uint8_t* shown;       // blue, green, red, unused; top row first; process heap
    int32_t shownWidth;
    int32_t shownHeight;
    bool throughView;   // the view draws the model, not the worker
    GpuMesh* uploaded;  // by the worker, for the window thread to install
    uint32_t frames;
    uint32_t coarseFrames;
    PaneMessage message;
    bool checked;
    Utf16 sizeLine[kPanelTextUnits];
    Utf16 checkLine[kPanelTextUnits];
    // The window's thread only.
    PaneLook look;
    HFONT font;
    int32_t lineHeight;
    int32_t stripHeight;
    bool thinSpaceMissing;  // the font has no U+2009, which the lines put between a number and its unit
    bool dragging;
    int32_t lastX;
    int32_t lastY;
    // The viewer's settings when the pane opened.
    DisplayUnits units;
    bool flipZoom;
    RenderMode mode;
    uint32_t objectColor;
    uint32_t viewerBackground;
};

namespace {

constexpr wchar_t kPaneClass[] = L"VeldmarkStlPreviewPane";
constexpr UINT kReadMessage = WM_APP + 1;
constexpr UINT kViewMeshMessage = WM_APP + 2;     // the part is uploaded
constexpr UINT kViewProblemMessage = WM_APP + 3;  // wParam: the view reported an error, else a line
constexpr UINT_PTR kReadTimer = 1;
// The host's thread reads this long at a time, then answers its messages.
constexpr ULONGLONG kReadSliceMs = 15;
constexpr int32_t kStripPadding = 4;
constexpr int32_t kLargestPicture = 8192;
constexpr uint32_t kPaneSamples = 4;
constexpr uint32_t kOpaque = 0xFF000000;
// A model of more triangles is first shown coarse, from an even sample of at
// most kCoarseTriangles of them, which draws in a fraction of the time.
constexpr uint64_t kCoarseAbove = 200000;
constexpr uint64_t kCoarseTriangles = 40000;
// The seam kSeamNoView's; a plain word, so that nothing runs before DllMain.
volatile LONG viewsRefused = 0;

const wchar_t* const kMessageTexts[] = {
    L"",
    L"Loading\u2026",
    L"Too large for a preview: the file is over 256 MB. Open it in the viewer to see it.",
    L"Reading the file took too long for a preview. Open it in the viewer to see it.",
    L"Not enough memory for a preview.",
    L"No model could be read from this file.",
    L"No picture: no Direct3D device could draw it.",
};
static_assert(sizeof kMessageTexts / sizeof kMessageTexts[0] == kPaneNoPicture + 1);

class HeldLock {
public:
    explicit HeldLock(SRWLOCK* lock) : lock(lock) { AcquireSRWLockExclusive(lock); }
    ~HeldLock() { ReleaseSRWLockExclusive(lock); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    SRWLOCK* lock;
};

PaneMessage messageOf(HRESULT result) {
    if (result == HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)) return kPaneTooLarge;
    if (result == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) return kPaneTooSlow;
    if (result == E_OUTOFMEMORY) return kPaneNoMemory;
    return kPaneUnreadable;
}

void showMessage(PreviewPane* pane, PaneMessage message) {
    {
        HeldLock held(&pane->lock);
        pane->message = message;
    }
    InvalidateRect(pane->window, nullptr, FALSE);
}

void readViewerSettings(PreviewPane* pane) {
    HKEY keys[2];
    openSettingsKeysToRead(keys);
    pane->units = displayUnitsOf(readSetting(keys, kSettingUnits));
    pane->flipZoom = readSetting(keys, kSettingFlipZoom) != 0;
    pane->mode = static_cast<RenderMode>(readSetting(keys, kSettingRenderMode));
    pane->objectColor = readSetting(keys, kSettingObjectColor);
    pane->viewerBackground = readSetting(keys, kSettingBackgroundColor) | kOpaque;
    CameraAngles start = readStartAngles(keys);
    pane->yaw = start.yaw;
    pane->pitch = start.pitch;
    closeSettingsKeys(keys);
}

uint32_t backgroundOf(const PreviewPane* pane) {
    return pane->look.ownBackground ? (pane->look.background & 0xFFFFFF) | kOpaque : pane->viewerBackground;
}

// ---- The worker: parse, draw what is asked, check the surface once.

// The size line and the check line as the viewer's panel words them.
void writeStrip(PreviewPane* pane, CheckState state, const SurfaceCheck* result) {
    ShownModel model;
    memset(&model, 0, sizeof model);
    model.parts[0] = pane->part;
    model.checks[0].state = state;
    if (result) model.checks[0].result = *result;
    PanelFacts facts;
    memset(&facts, 0, sizeof facts);
    facts.model = &model;
    facts.selectedSlot = -1;
    facts.units = pane->units;
    facts.yUp = pane->part.metadata.coordinateSpace != kSpaceZUp;
    facts.locale = kUserLocale;
    Utf16 sizeLine[kPanelTextUnits] = {}, checkLine[kPanelTextUnits] = {};
    const PanelLine* lines;
    for (int i = 0, count = panelLines(&lines); i < count; ++i) {
        if (lines[i].id == kSizeLineId) lines[i].write(&facts, sizeLine);
        if (lines[i].id == kCheckLineId) lines[i].write(&facts, checkLine);
    }
    {
        HeldLock held(&pane->lock);
        memcpy(pane->sizeLine, sizeLine, sizeof sizeLine);
        memcpy(pane->checkLine, checkLine, sizeof checkLine);
        pane->checked = state != kCheckPending;
    }
    InvalidateRect(pane->window, nullptr, FALSE);
}

// Red, green, blue, alpha to the blue, green, red order of a DIB.
void swapRedAndBlue(Picture* picture) {
    uint8_t* pixel = picture->pixels;
    for (size_t left = static_cast<size_t>(picture->width) * static_cast<size_t>(picture->height); left--; pixel += 4) {
        uint8_t red = pixel[0];
        pixel[0] = pixel[2];
        pixel[2] = red;
    }
}

void drawFrame(PreviewPane* pane, ModelPart* part, const PictureLook* look, bool coarse) {
    Picture picture;
    if (!renderPartsPicture(part, 1, look, &picture, nullptr)) {
        if (!coarse) showMessage(pane, kPaneNoPicture);
        return;
    }
    swapRedAndBlue(&picture);
    uint8_t* old;
    {
        HeldLock held(&pane->lock);
        old = pane->shown;
        pane->shown = picture.pixels;
        pane->shownWidth = picture.width;
        pane->shownHeight = picture.height;
        pane->message = kPaneNoMessage;
        ++(coarse ? pane->coarseFrames : pane->frames);
    }
    freeBytes(old);
    InvalidateRect(pane->window, nullptr, FALSE);
}

// Every stride-th triangle of each solid, in blocks of the process heap.
bool sampleTriangles(const StlMesh* mesh, uint64_t stride, StlMesh* sample) {
    sample->source = nullptr;
    sample->solidCount = mesh->solidCount;
    sample->solids = static_cast<StlSolid*>(allocArray(processHeap(), mesh->solidCount, sizeof(StlSolid), nullptr));
    StlTriangle* triangles = static_cast<StlTriangle*>(
        allocArray(processHeap(), kCoarseTriangles + mesh->solidCount, sizeof(StlTriangle), nullptr));
    if (!sample->solids || !triangles) {
        freeBytes(sample->solids);
        freeBytes(triangles);
        return false;
    }
    for (uint32_t i = 0; i < mesh->solidCount; ++i) {
        const StlSolid& solid = mesh->solids[i];
        StlSolid& kept = sample->solids[i];
        kept = solid;
        kept.triangles = triangles;
        kept.triangleCount = 0;
        for (uint64_t t = 0; solid.triangles && t < solid.triangleCount; t += stride)
            triangles[kept.triangleCount++] = solid.triangles[t];
        triangles += kept.triangleCount;
    }
    return true;
}

// A large model's first picture, drawn from a sample of its triangles.
void drawCoarseFrame(PreviewPane* pane, const PictureLook* look) {
    uint64_t triangles = meshTriangleCount(&pane->part.mesh);
    if (triangles <= kCoarseAbove) return;
    ModelPart coarse = pane->part;
    if (!sampleTriangles(&pane->part.mesh, (triangles + kCoarseTriangles - 1) / kCoarseTriangles, &coarse.mesh))
        return;
    // Its record lives in the part's heap, small, until the part goes.
    coarse.gpuMesh = prepareGpuMesh(&coarse.mesh, &coarse.metadata, coarse.visibleSolids, coarse.heap, nullptr);
    if (coarse.gpuMesh) drawFrame(pane, &coarse, look, true);
    if (coarse.mesh.solidCount) freeBytes(coarse.mesh.solids[0].triangles);
    freeBytes(coarse.mesh.solids);
}

void checkPart(PreviewPane* pane) {
    SurfaceCheck result;
    if (checkSurface(&pane->part.mesh, &result, nullptr, &pane->keepGoing, nullptr))
        writeStrip(pane, kCheckDone, &result);
    else if (pane->keepGoing)
        writeStrip(pane, kCheckFailed, nullptr);
}

// The view frames the model for a wide window; a pane taller than wide
// (the preview pane often is) narrows the view to frame it across its width.
float fittedZoom(float zoom, int32_t width, int32_t height) {
    float shown = zoom > 0 ? zoom : kInitialZoom;
    return width < height && height > 0 ? shown * static_cast<float>(width) / static_cast<float>(height) : shown;
}

PictureLook requestedLook(PreviewPane* pane, uint32_t* requests, bool* throughView = nullptr) {
    HeldLock held(&pane->lock);
    *requests = pane->requests;
    if (throughView) *throughView = pane->throughView;
    return PictureLook{pane->width,       pane->height,     pane->mode,      pane->yaw,    pane->pitch,
                       pane->objectColor, pane->background, initialSection(), kPaneSamples, OverhangTint{},
                       fittedZoom(pane->zoom, pane->width, pane->height)};
}

// The latest request drawn until there is none; then the check, once.
void drawUntilStopped(PreviewPane* pane) {
    uint32_t drawn = 0;
    bool checked = false;
    while (pane->keepGoing) {
        uint32_t requests;
        bool throughView;
        PictureLook look = requestedLook(pane, &requests, &throughView);
        if (requests != drawn) {
            drawn = requests;
            if (!throughView && look.width > 0 && look.height > 0) drawFrame(pane, &pane->part, &look, false);
        } else if (!checked) {
            checked = true;
            checkPart(pane);
        } else {
            WaitForSingleObject(pane->wake, INFINITE);
        }
    }
}

// The part on the view's device, for the window thread to show; without a
// device (none can be made) the worker draws the pictures instead.
void uploadToView(PreviewPane* pane) {
    HWND view;
    {
        HeldLock held(&pane->lock);
        view = pane->throughView ? pane->view : nullptr;
    }
    GpuMesh* mesh = view && pane->keepGoing ? uploadMesh(view, &pane->part.mesh, &pane->part.metadata,
                                                         pane->part.visibleSolids, pane->part.heap, nullptr)
                                            : nullptr;
    if (mesh) mesh->color = loadedPartColor(&pane->part, 0, pane->objectColor);
    bool shown;
    {
        HeldLock held(&pane->lock);
        // The window thread may have given up on the view meanwhile.
        shown = mesh && pane->throughView && pane->keepGoing;
        if (shown) pane->uploaded = mesh;
        if (!mesh) pane->throughView = false;
        ++pane->requests;
    }
    if (mesh && !shown) releaseGpuMesh(mesh);
    if (shown) PostMessageW(pane->window, kViewMeshMessage, 0, 0);
}

DWORD WINAPI paneWorker(void* parameter) {
    PreviewPane* pane = static_cast<PreviewPane*>(parameter);
    HeapHandle heap = createPrivateHeap();
    HRESULT result = heap ? buildStreamPart(&pane->part, pane->bytes, pane->size, heap, pane->deadline, &pane->keepGoing)
                          : E_OUTOFMEMORY;
    if (FAILED(result)) pane->part.heap = nullptr;
    // Nothing of the part points into the file's bytes.
    freeBytes(pane->bytes);
    pane->bytes = nullptr;
    if (FAILED(result)) {
        if (heap) destroyPrivateHeap(heap);
        memset(&pane->part, 0, sizeof pane->part);
        if (pane->keepGoing)
            showMessage(pane, result == E_OUTOFMEMORY            ? kPaneNoMemory
                              : GetTickCount64() >= pane->deadline ? kPaneTooSlow
                                                                   : kPaneUnreadable);
        return 0;
    }
    // The box, and so the size line, is known before the first picture.
    writeStrip(pane, kCheckPending, nullptr);
    uint32_t requests;
    PictureLook look = requestedLook(pane, &requests);
    if (look.width > 0 && look.height > 0) drawCoarseFrame(pane, &look);
    uploadToView(pane);
    drawUntilStopped(pane);
    return 0;
}

// ---- The window's thread: reading, input, painting.

// The view's camera for the pane's picture area: the pane's angles (a drag
// on the coarse picture counts) and its fitted zoom.
void fitView(PreviewPane* pane, int32_t width, int32_t height) {
    ViewCamera camera = {{0, 0, 0}, 0, 0, 0};
    {
        HeldLock held(&pane->lock);
        camera.zoom = fittedZoom(pane->zoom, width, height);
        camera.yaw = pane->yaw;
        camera.pitch = pane->pitch;
    }
    pane->viewZoom = camera.zoom;
    setViewCamera(pane->view, &camera);
}

void showInView(PreviewPane* pane) {
    GpuMesh* mesh;
    {
        HeldLock held(&pane->lock);
        mesh = pane->uploaded;
        pane->uploaded = nullptr;
    }
    if (!mesh) return;
    if (!pane->view) {
        releaseGpuMesh(mesh);
        return;
    }
    showMessage(pane, kPaneNoMessage);
    HWND view = pane->view;
    setRenderMode(view, pane->mode);
    setFlipZoom(view, pane->flipZoom);
    setYUp(view, pane->part.metadata.coordinateSpace != kSpaceZUp);
    setBackgroundColor(view, backgroundOf(pane) & 0xFFFFFF);
    installMesh(view, mesh, true);
    RECT client;
    GetClientRect(view, &client);
    fitView(pane, client.right, client.bottom);
    ShowWindow(view, SW_SHOWNA);
}

// The view failed (no swap chain, or a lost device not made anew): the
// worker draws the pictures from the view's camera on, shown through GDI.
void leaveView(PreviewPane* pane) {
    ViewCamera camera;
    bool known = viewCamera(pane->view, &camera);
    ViewState* view = viewStateOf(pane->view);
    {
        HeldLock held(&pane->lock);
        pane->throughView = false;
        if (view) pane->frames += view->framesShown - pane->viewFramesBefore;
        if (known) {
            pane->yaw = camera.yaw;
            pane->pitch = camera.pitch;
            if (camera.zoom != pane->viewZoom) pane->zoom = camera.zoom;
        }
        ++pane->requests;
    }
    SetEvent(pane->wake);
    DestroyWindow(pane->view);  // and its meshes and device with it
    pane->view = nullptr;
    InvalidateRect(pane->window, nullptr, FALSE);
}

bool viewHasDevice(HWND view) {
    ViewState* state = viewStateOf(view);
    if (!state) return false;
    acquireSpinLock(&state->lock);
    bool working = (state->pipeline.device && state->renderTargetView) || state->deviceWork;
    releaseSpinLock(&state->lock);
    return working;
}

// Any thread: what the view reports is looked at on the window's.
intptr_t viewReport(void* pane, StatusCode code, uintptr_t, const Utf16*) {
    if (code >= kErrorClass || code == kLine)
        PostMessageW(static_cast<PreviewPane*>(pane)->window, kViewProblemMessage, code >= kErrorClass, 0);
    return 1;
}

void answerViewReport(PreviewPane* pane, bool failed) {
    if (pane->view && (failed || !viewHasDevice(pane->view))) leaveView(pane);
}

// The view control of the viewer, a class of this library's own.
bool registerViewClassOnce() {
    WNDCLASSEXW type;
    type.cbSize = sizeof type;
    return GetClassInfoExW(serverModule(), kViewClassName, &type) || registerViewClass(serverModule(), nullptr);
}

// The picture area's child window, hidden until the model is on its device.
// It presents through the viewer's swap chain: a bit-block-transfer chain
// (DXGI_SWAP_EFFECT_DISCARD) of one buffer, which every Windows version
// allows for a child window. A flip-model chain would want two buffers or
// more and no GDI drawing on its window, and is not supported for child
// windows before Windows 10 ("DXGI flip model", "DXGI_SWAP_EFFECT"); so the
// strip's GDI text is drawn in the pane, which clips the view out
// (WS_CLIPCHILDREN), never on the view. ResizeBuffers, after every
// reference to the buffers is released, and MakeWindowAssociation without
// Alt+Enter are the view's, on this thread (window_targets.h); under Wine
// frames reach the window through GDI (gdi_presentation.h). The last
// pane's view is taken over with its device, which under Wine takes most of
// a second to make.
void makeView(PreviewPane* pane, int32_t width, int32_t height) {
    ViewState* spare = pane->spareView && !viewsRefused ? viewStateOf(pane->spareView) : nullptr;
    if (spare) {
        pane->view = pane->spareView;
        pane->viewFramesBefore = spare->framesShown;
        SetParent(pane->view, pane->window);
        SetWindowPos(pane->view, nullptr, 0, 0, width > 0 ? width : 1, height > 0 ? height : 1,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (pane->spareView) {
        DestroyWindow(pane->spareView);
    }
    pane->spareView = nullptr;
    if (!pane->view && !viewsRefused && registerViewClassOnce())
        pane->view = CreateWindowExW(0, kViewClassName, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, width > 0 ? width : 1,
                                     height > 0 ? height : 1, pane->window, nullptr, serverModule(), nullptr);
    if (!pane->view) return;
    pane->viewSink = MessageSink{pane, viewReport};
    setViewSink(pane->view, &pane->viewSink);
    pane->throughView = true;
}

void scheduleRead(PreviewPane* pane) {
    // Posted messages come before input and painting; while either waits, a timer lets them by.
    if (HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)) || !PostMessageW(pane->window, kReadMessage, 0, 0))
        SetTimer(pane->window, kReadTimer, USER_TIMER_MINIMUM, nullptr);
}

void startReading(PreviewPane* pane, IStream* stream) {
    HRESULT result = measureStream(stream, &pane->size);
    if (SUCCEEDED(result)) {
        pane->bytes = static_cast<uint8_t*>(allocArray(processHeap(), pane->size, 1, nullptr));
        if (!pane->bytes) result = E_OUTOFMEMORY;
    }
    if (FAILED(result)) {
        showMessage(pane, messageOf(result));
        return;
    }
    pane->deadline = GetTickCount64() + kShellTimeLimitMs;
    stream->AddRef();
    pane->stream = stream;
    scheduleRead(pane);
}

void readSlice(PreviewPane* pane) {
    if (!pane->stream) return;
    HRESULT result = readStreamPart(pane->stream, pane->bytes, pane->size, &pane->done,
                                    GetTickCount64() + kReadSliceMs, pane->deadline);
    if (result == S_FALSE) {
        scheduleRead(pane);
        return;
    }
    pane->stream->Release();
    pane->stream = nullptr;
    if (SUCCEEDED(result)) {
        // Made now, its device is made on a pool thread while the worker parses.
        RECT client;
        GetClientRect(pane->window, &client);
        makeView(pane, client.right, client.bottom - pane->stripHeight);
        pane->thread = CreateThread(nullptr, 0, paneWorker, pane, 0, nullptr);
        if (!pane->thread) result = HRESULT_FROM_WIN32(GetLastError());
    }
    if (FAILED(result)) {
        freeBytes(pane->bytes);
        pane->bytes = nullptr;
        showMessage(pane, messageOf(result));
    }
}

// The picture's size follows the window's, less the strip.
void requestSize(PreviewPane* pane) {
    RECT client;
    GetClientRect(pane->window, &client);
    int32_t width = client.right < kLargestPicture ? client.right : kLargestPicture;
    int32_t height = client.bottom - pane->stripHeight;
    if (height > kLargestPicture) height = kLargestPicture;
    {
        HeldLock held(&pane->lock);
        pane->width = width > 0 ? width : 0;
        pane->height = height > 0 ? height : 0;
        pane->background = backgroundOf(pane);
        ++pane->requests;
    }
    SetEvent(pane->wake);
    if (pane->view) {
        int32_t viewHeight = height > 0 ? height : 1;
        SetWindowPos(pane->view, nullptr, 0, 0, width > 0 ? width : 1, viewHeight, SWP_NOZORDER | SWP_NOACTIVATE);
        setBackgroundColor(pane->view, backgroundOf(pane) & 0xFFFFFF);
        // A zoom the wheel has not changed follows the new shape.
        ViewCamera camera;
        if (IsWindowVisible(pane->view) && viewCamera(pane->view, &camera) && camera.zoom == pane->viewZoom) {
            camera.zoom = pane->viewZoom = fittedZoom(0, width, viewHeight);
            setViewCamera(pane->view, &camera);
        }
    }
    InvalidateRect(pane->window, nullptr, FALSE);
}

void chooseFont(PreviewPane* pane) {
    // Without the host's font, the viewer's panel font: 8-point "MS Shell Dlg 2".
    LOGFONTW font;
    memset(&font, 0, sizeof font);
    if (pane->look.ownFont) {
        font = pane->look.font;
    } else {
        HDC screen = GetDC(nullptr);
        font.lfHeight = -MulDiv(8, screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96, 72);
        if (screen) ReleaseDC(nullptr, screen);
        font.lfWeight = FW_NORMAL;
        font.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(font.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    }
    if (pane->font) DeleteObject(pane->font);
    pane->font = CreateFontIndirectW(&font);  // null: the DC's own
    pane->lineHeight = 16;
    HDC dc = GetDC(pane->window);
    TEXTMETRICW facts;
    if (dc) {
        HGDIOBJ old = pane->font ? SelectObject(dc, pane->font) : nullptr;
        if (GetTextMetricsW(dc, &facts)) pane->lineHeight = facts.tmHeight;
        WORD glyph = 0;
        pane->thinSpaceMissing = GetGlyphIndicesW(dc, L"\u2009", 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 &&
                                 glyph == 0xFFFF;
        if (old) SelectObject(dc, old);
        ReleaseDC(pane->window, dc);
    }
    pane->stripHeight = 2 * pane->lineHeight + 3 * kStripPadding;
}

void turn(PreviewPane* pane, int32_t x, int32_t y) {
    {
        HeldLock held(&pane->lock);
        float zoom = pane->zoom > 0 ? pane->zoom : kInitialZoom;
        pane->yaw = static_cast<BinaryAngle>(static_cast<uint32_t>(pane->yaw) +
                                             static_cast<uint32_t>(dragAngleDelta(x - pane->lastX, zoom)));
        pane->pitch = static_cast<BinaryAngle>(static_cast<uint32_t>(pane->pitch) +
                                               static_cast<uint32_t>(dragAngleDelta(y - pane->lastY, zoom)));
        ++pane->requests;
    }
    pane->lastX = x;
    pane->lastY = y;
    SetEvent(pane->wake);
}

void zoomBy(PreviewPane* pane, int32_t wheelDistance) {
    {
        HeldLock held(&pane->lock);
        pane->zoom = wheelZoom(pane->zoom > 0 ? pane->zoom : kInitialZoom, wheelDistance, pane->flipZoom);
        ++pane->requests;
    }
    SetEvent(pane->wake);
}

COLORREF textColorOf(const PreviewPane* pane, COLORREF background) {
    if (pane->look.ownText) return pane->look.text;
    uint32_t light = (background & 0xFF) * 299 + (background >> 8 & 0xFF) * 587 + (background >> 16 & 0xFF) * 114;
    return light > 128000 ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

// A thin space the font cannot draw (Wine's Tahoma) is drawn as a space rather than a box.
void drawLine(const PreviewPane* pane, HDC dc, const Utf16* text, int32_t top, int32_t width) {
    wchar_t line[kPanelTextUnits];
    int32_t length = 0;
    for (; length < kPanelTextUnits - 1 && text[length]; ++length)
        line[length] = text[length] == 0x2009 && pane->thinSpaceMissing ? L' ' : static_cast<wchar_t>(text[length]);
    RECT place = {kStripPadding, top, width - kStripPadding, top + pane->lineHeight};
    DrawTextW(dc, line, length, &place, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
}

// The picture, or the message in its place, and the strip below. Holds the
// lock, which the worker takes only to swap pictures and texts.
void drawContents(PreviewPane* pane, HDC dc, int32_t width, int32_t height) {
    COLORREF background = backgroundOf(pane) & 0xFFFFFF;
    RECT all = {0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(background);
    if (brush) {
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    int32_t pictureHeight = height > pane->stripHeight ? height - pane->stripHeight : 0;
    HGDIOBJ oldFont = pane->font ? SelectObject(dc, pane->font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, textColorOf(pane, background));
    HeldLock held(&pane->lock);
    if (pane->shown) {
        BITMAPINFO info = topDownBitmapInfo(pane->shownWidth, pane->shownHeight);
        // Until the worker has drawn the new size, the last picture stretched to it.
        SetStretchBltMode(dc, HALFTONE);
        StretchDIBits(dc, 0, 0, width, pictureHeight, 0, 0, pane->shownWidth, pane->shownHeight, pane->shown, &info,
                      DIB_RGB_COLORS, SRCCOPY);
    } else if (pane->message != kPaneNoMessage) {
        const wchar_t* text = kMessageTexts[pane->message];
        RECT place = {2 * kStripPadding, 0, width - 2 * kStripPadding, pictureHeight};
        RECT measured = place;
        DrawTextW(dc, text, -1, &measured, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        place.top = (pictureHeight - (measured.bottom - measured.top)) / 2;
        DrawTextW(dc, text, -1, &place, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    }
    drawLine(pane, dc, pane->sizeLine, pictureHeight + kStripPadding, width);
    drawLine(pane, dc, pane->checkLine, pictureHeight + 2 * kStripPadding + pane->lineHeight, width);
    if (oldFont) SelectObject(dc, oldFont);
}

// For a print of the pane (WM_PRINTCLIENT): the view's picture, which it
// draws into its own window, drawn again by its device.
void drawViewPicture(const PreviewPane* pane, HDC dc) {
    if (!pane->view || !IsWindowVisible(pane->view)) return;
    Picture picture;
    if (!renderViewPicture(pane->view, &picture, nullptr)) return;
    swapRedAndBlue(&picture);
    BITMAPINFO info = topDownBitmapInfo(picture.width, picture.height);
    SetDIBitsToDevice(dc, 0, 0, picture.width, picture.height, 0, 0, 0, picture.height, picture.pixels, &info,
                      DIB_RGB_COLORS);
    freePicture(&picture);
}

// Drawn off screen first, so that a redraw never shows the bare background.
void paint(PreviewPane* pane, HDC target, bool print = false) {
    RECT client;
    GetClientRect(pane->window, &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = dc ? CreateCompatibleBitmap(target, client.right, client.bottom) : nullptr;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        drawContents(pane, target, client.right, client.bottom);
        return;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    drawContents(pane, dc, client.right, client.bottom);
    if (print) drawViewPicture(pane, dc);
    BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// Process-wide: choices every later view and device take.
void setSeam(LPARAM seam) {
    choosePresentation(seam == kSeamSwapChainFails ? kPresentSwapChain : kPresentDetect);
    injectGpuFailure(kCallCreateSwapChain, seam == kSeamSwapChainFails ? DXGI_ERROR_INVALID_CALL : S_OK);
    bool lost = seam == kSeamPresentLost || seam == kSeamPresentLostForGood;
    injectGpuFailure(kCallPresent, lost ? DXGI_ERROR_DEVICE_REMOVED : S_OK);
    failPipelineStep(seam == kSeamPresentLostForGood ? kStepDevice : kStepNone, DXGI_ERROR_UNSUPPORTED);
    InterlockedExchange(&viewsRefused, seam == kSeamNoView);
}

LRESULT paneState(PreviewPane* pane, WPARAM which, LPARAM lines) {
    if (which == 6) {
        setSeam(lines);
        return 0;
    }
    ViewState* view = pane->view ? viewStateOf(pane->view) : nullptr;
    uint32_t viewFrames = view ? view->framesShown - pane->viewFramesBefore : 0;
    HeldLock held(&pane->lock);
    if (which == 0) return pane->frames + viewFrames;
    if (which == 5) return pane->throughView && pane->view && IsWindowVisible(pane->view);
    if (which == 1) return pane->message;
    if (which == 4) return pane->coarseFrames;
    // The lines go to an address of this process: never for a message from another thread.
    if (which == 3 && InSendMessageEx(nullptr) == ISMEX_NOSEND) {
        memcpy(reinterpret_cast<Utf16*>(lines), pane->sizeLine, sizeof pane->sizeLine);
        memcpy(reinterpret_cast<Utf16*>(lines) + kPanelTextUnits, pane->checkLine, sizeof pane->checkLine);
    }
    return pane->checked;
}

LRESULT CALLBACK paneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* pane = static_cast<PreviewPane*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        pane->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pane));
    }
    auto* pane = reinterpret_cast<PreviewPane*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!pane) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_SIZE: requestSize(pane); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT state;
        HDC dc = BeginPaint(window, &state);
        if (dc) paint(pane, dc);
        EndPaint(window, &state);
        return 0;
    }
    case WM_PRINTCLIENT: paint(pane, reinterpret_cast<HDC>(wParam), true); return 0;
    case kReadMessage: readSlice(pane); return 0;
    case kViewMeshMessage: showInView(pane); return 0;
    case kViewProblemMessage: answerViewReport(pane, wParam != 0); return 0;
    case WM_TIMER:
        if (wParam != kReadTimer) break;
        KillTimer(window, kReadTimer);
        readSlice(pane);
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(window);
        SetCapture(window);
        pane->dragging = true;
        pane->lastX = GET_X_LPARAM(lParam);
        pane->lastY = GET_Y_LPARAM(lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (pane->dragging) turn(pane, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (pane->dragging) ReleaseCapture();
        pane->dragging = false;
        return 0;
    case WM_CAPTURECHANGED: pane->dragging = false; return 0;
    case WM_MOUSEWHEEL:
        // The pane has the focus, the view the picture.
        if (pane->view && IsWindowVisible(pane->view)) return SendMessageW(pane->view, message, wParam, lParam);
        zoomBy(pane, GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
    case kPaneStateMessage: return paneState(pane, wParam, lParam);
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Registered with each pane: a library's classes outlive it unless it
// unregisters them ("About Window Classes"), which DllCanUnloadNow does.
bool registerPaneClass() {
    WNDCLASSEXW type;
    memset(&type, 0, sizeof type);
    type.cbSize = sizeof type;
    type.lpfnWndProc = paneProc;
    type.hInstance = serverModule();
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.lpszClassName = kPaneClass;
    return RegisterClassExW(&type) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HRESULT openPreviewPane(HWND parent, const RECT* rect, IStream* stream, const PaneLook* look, HWND* keptView,
                        PreviewPane** out) {
    *out = nullptr;
    PreviewPane* pane = static_cast<PreviewPane*>(allocBytes(sizeof(PreviewPane)));
    if (!pane) return E_OUTOFMEMORY;
    memset(pane, 0, sizeof *pane);
    pane->spareView = *keptView;
    *keptView = nullptr;
    InitializeSRWLock(&pane->lock);
    pane->keepGoing = 1;
    pane->look = *look;
    pane->message = kPaneLoading;
    readViewerSettings(pane);
    pane->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HWND made = nullptr;
    if (pane->wake && registerPaneClass())
        made = CreateWindowExW(0, kPaneClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, rect->left, rect->top,
                               rect->right - rect->left, rect->bottom - rect->top, parent, nullptr, serverModule(), pane);
    pane->window = made;
    if (!made) {
        HRESULT result = HRESULT_FROM_WIN32(GetLastError());
        *keptView = closePreviewPane(pane);
        return FAILED(result) ? result : E_FAIL;
    }
    chooseFont(pane);
    requestSize(pane);
    startReading(pane, stream);
    *out = pane;
    return S_OK;
}

void placePreviewPane(PreviewPane* pane, HWND parent, const RECT* rect) {
    if (parent && GetParent(pane->window) != parent) SetParent(pane->window, parent);
    SetWindowPos(pane->window, nullptr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void setPaneLook(PreviewPane* pane, const PaneLook* look) {
    bool fontChanged = look->ownFont != pane->look.ownFont ||
                       (look->ownFont && memcmp(&look->font, &pane->look.font, sizeof look->font) != 0);
    pane->look = *look;
    if (fontChanged) chooseFont(pane);
    requestSize(pane);  // the background is the picture's too
}

HWND paneWindow(const PreviewPane* pane) {
    return pane->window;
}

HWND closePreviewPane(PreviewPane* pane) {
    pane->keepGoing = 0;
    if (pane->thread) {
        SetEvent(pane->wake);
        WaitForSingleObject(pane->thread, INFINITE);
        CloseHandle(pane->thread);
    }
    // A working view is kept, hidden and empty, beside the pane in the host's window.
    HWND kept = pane->spareView;
    if (pane->view && pane->throughView) {
        kept = pane->view;
        clearMeshes(kept);
        setViewSink(kept, nullptr);
        ShowWindow(kept, SW_HIDE);
        SetParent(kept, GetParent(pane->window));
    }
    if (pane->window) {
        SetWindowLongPtrW(pane->window, GWLP_USERDATA, 0);
        DestroyWindow(pane->window);  // the view's meshes go with it, before their heap
    }
    if (pane->uploaded) releaseGpuMesh(pane->uploaded);
    if (pane->part.heap) destroyPrivateHeap(pane->part.heap);
    if (pane->stream) pane->stream->Release();
    freeBytes(pane->bytes);
    freeBytes(pane->shown);
    if (pane->font) DeleteObject(pane->font);
    if (pane->wake) CloseHandle(pane->wake);
    freeBytes(pane);
    return kept;
}

void releaseKeptView(HWND view) {
    if (view && viewStateOf(view)) DestroyWindow(view);
}

void unregisterPaneClasses() {
    UnregisterClassW(kPaneClass, serverModule());
    UnregisterClassW(kViewClassName, serverModule());
}
