// The "STLView" window: mouse and keyboard input, the rotation timer and the
// dialog-facing operations. Painting (view_paint.cpp) and the Direct3D
// objects (gpu_device.cpp) plug in where the window is created, sized,
// painted and destroyed.
#include "view/view_control.h"

#include <windows.h>

#include <cstring>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "view/camera.h"
#include "view/device_work.h"
#include "view/window_targets.h"
#include "view/frame_render.h"
#include "view/view_paint.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/view_lookup.h"
#include "view/view_picking.h"

namespace {

constexpr int kRotateKey = 1;  // VK_LBUTTON
constexpr int kPanKey = 2;     // VK_RBUTTON

HWND windowOf(const ViewState* state) {
    return static_cast<HWND>(state->window);
}

ViewState* stateOf(HWND window) {
    return reinterpret_cast<ViewState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

int32_t lowWordSigned(LPARAM value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
}

int32_t highWordSigned(uintptr_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>((value >> 16) & 0xFFFF));
}

void invalidate(ViewState* state) {
    InvalidateRect(windowOf(state), nullptr, FALSE);
}

// Ctrl+wheel: a notch is a step of the plane, as Page Up and Page Down
// give; the dialog hears of it to update its line.
void moveSectionByWheel(ViewState* state, int32_t wheelDistance, bool large) {
    constexpr float kWheelNotch = 120.0f;
    state->section.share = movedSectionShare(state->section.share, static_cast<float>(wheelDistance) / kWheelNotch,
                                             large ? kSectionLargeStep : kSectionStep);
    invalidate(state);
    HWND window = static_cast<HWND>(state->window);
    SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), kViewSectionMoved),
                 reinterpret_cast<LPARAM>(window));
}

void rebuildRotation(ViewState* state) {
    updateRotation(state);
    invalidate(state);
}

void setArrowCursor() {
    // A missing arrow cursor leaves no cursor rather than a stale one.
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void startRotationTimer(ViewState* state) {
    if (state->rotationStamp != 0) return;
    if (!SetTimer(windowOf(state), kRotationTimerId, kRotationTimerPeriod, nullptr)) {
        reportLastError(state->sink);
        return;
    }
    state->rotationStamp = readCounter();
}

// Input has stopped: a frame drawn in a cheaper form is followed by a full one.
void settle(ViewState* state) {
    if (!viewIsMoving(state) && needsFullFrame(&state->pacing)) invalidate(state);
}

void stopRotationTimer(ViewState* state) {
    if (state->rotationStamp == 0) return;
    KillTimer(windowOf(state), kRotationTimerId);
    state->rotationStamp = 0;
    settle(state);
}

// Window destruction, with the view lifetime lock held so that a device work
// item or an upload cannot be creating the device at the same time.
void releaseDeviceObjects(ViewState* state) {
    acquireSpinLock(&state->lock);
    if (state->pipeline.device) dropDevice(state);
    if (state->retiredSwapChain) releaseSwapChain(state->retiredSwapChain);
    state->retiredSwapChain = nullptr;
    releaseSpinLock(&state->lock);
}

void beginDrag(ViewState* state, int key, int32_t x, int32_t y) {
    // "Always rotate" keeps turning under a drag; a one-off rotation stops.
    if (!state->alwaysRotate) stopRotationTimer(state);
    SetCapture(windowOf(state));
    SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
    state->lastMouseX = x;
    state->lastMouseY = y;
    state->rotating = key == kRotateKey;
    state->panning = key == kPanKey;
}

void endDrag(ViewState* state, int key) {
    ReleaseCapture();
    setArrowCursor();
    if (key == kRotateKey)
        state->rotating = 0;
    else
        state->panning = 0;
    settle(state);
}

LRESULT createView(HWND window) {
    ViewState* state = static_cast<ViewState*>(allocArray(processHeap(), 1, sizeof(ViewState), nullptr));
    if (!state) return -1;
    initViewState(state, window, counterFrequency());
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    queueDeviceWork(state->window);
    return 0;
}

void destroyView(ViewState* state) {
    haltPartUploads(state);  // and never resumed: the view goes
    for (int slot = 0; slot < kViewMeshSlots; ++slot) {
        if (!state->meshes[slot]) continue;
        releaseGpuMesh(state->meshes[slot]);
        state->meshes[slot] = nullptr;
    }
    lockViewLifetimes();
    releaseDeviceObjects(state);
    unlockViewLifetimes();
}

// Another thread may be looking the window up right now; once the user data
// is cleared under the lifetime lock nobody can reach the state any more. A
// device made between WM_DESTROY and here goes with it.
void forgetView(HWND window, ViewState* state) {
    lockViewLifetimes();
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    releaseDeviceObjects(state);
    unlockViewLifetimes();
    releaseProblemLegend(&state->legend);
    freeBytes(state);
}

// The targets take the client size. A paint that finds a size change still
// waiting does it first, so no frame is drawn for the old size.
void resizeView(ViewState* state, int32_t width, int32_t height) {
    if (width == 0 || height == 0) return;
    state->clientWidth = width;
    state->clientHeight = height;
    state->resizePending = 1;
    applyClientSize(state);
    resetFramePacing(&state->pacing);
    InvalidateRect(windowOf(state), nullptr, FALSE);
}

// kRetryTimerId: what found the lock taken, tried again.
void retry(ViewState* state) {
    KillTimer(windowOf(state), kRetryTimerId);
    if (state->resizePending) applyClientSize(state);
    if (state->settlePending) settleDevice(state);
    if (state->paintDeferred) {
        state->paintDeferred = 0;
        InvalidateRect(windowOf(state), nullptr, FALSE);
    }
}

void moveMouse(ViewState* state, int32_t x, int32_t y) {
    if (state->clickPending) {
        int32_t dx = x - state->pressX, dy = y - state->pressY;
        // Still a click: the model keeps still, and a drag turns from where the button went down.
        if (dx * dx + dy * dy <= kClickSlack * kClickSlack) return;
        state->clickPending = 0;
    }
    if (state->rotating) {
        applyRotateDrag(state, x, y);
        rebuildRotation(state);
    } else if (state->panning) {
        applyPanDrag(state, x, y);
        invalidate(state);
    }
    state->lastMouseX = x;
    state->lastMouseY = y;
}

void notifyMeasure(ViewState* state) {
    HWND window = windowOf(state);
    SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), kMeasureChanged),
                 reinterpret_cast<LPARAM>(window));
}

void preparePickingAll(ViewState* state) {
    for (int slot = 0; slot < kViewMeshSlots && state->meshes[slot]; ++slot) preparePicking(state->meshes[slot], state->sink);
}

// A click on the background changes nothing.
void measureClick(ViewState* state, int32_t x, int32_t y) {
    preparePickingAll(state);
    SurfacePick pick;
    if (!pickInView(state, x, y, &pick)) return;
    addMeasurePoint(&state->marks, &pick);
    invalidate(state);
    notifyMeasure(state);
}

void notifyPlacement(ViewState* state) {
    HWND window = windowOf(state);
    SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), kPlacementChanged),
                 reinterpret_cast<LPARAM>(window));
}

// A part placed or scaled anew: its box, the view's, and the points
// measured on what has moved forgotten.
void reboxMesh(ViewState* state, GpuMesh* mesh) {
    boxAsPlaced(mesh);
    acquireSpinLock(&state->lock);
    refitBox(state);
    releaseSpinLock(&state->lock);
    state->marks.count = 0;
    invalidate(state);
}

void showPlacement(ViewState* state, GpuMesh* mesh) {
    reboxMesh(state, mesh);
    notifyPlacement(state);
}

// Turns the part under the click so that the face clicked lies on the bed,
// facing down: about the middle of its box, then settled so that its lowest
// point stays where it was. A click on the background changes nothing.
void placeClick(ViewState* state, int32_t x, int32_t y) {
    preparePickingAll(state);
    SurfacePick pick;
    if (!pickInView(state, x, y, &pick)) return;
    GpuMesh* mesh = state->meshes[pick.part];
    float corners[3][3];
    if (!readTriangleCorners(&mesh->solids[pick.solid].triangles[pick.triangle], corners)) return;
    int upAxis = state->yUp ? 1 : 2;
    float low[3], high[3];
    memcpy(low, mesh->boundsMin, sizeof low);
    memcpy(high, mesh->boundsMax, sizeof high);
    double scale = mesh->unitScale, centre[3];
    for (int axis = 0; axis < 3; ++axis) centre[axis] = (double{low[axis]} + high[axis]) / 2 / scale;
    Placement current = mesh->placed ? Placement(mesh->placement) : identityPlacement(), next;
    double placedLow[3], placedHigh[3];
    if (!turnFaceDown(current, corners, mesh->insideOut != 0, upAxis, centre, &next) ||
        !placedBox(mesh->solids, mesh->solidCount, next, placedLow, placedHigh))
        return;
    settleAt(&next, upAxis, low[upAxis] / scale, placedLow, placedHigh);
    mesh->previous = current;
    mesh->previousPlaced = mesh->placed;
    mesh->hasPrevious = 1;
    mesh->placement = next;
    mesh->placed = 1;
    state->lastPlaced = static_cast<int8_t>(pick.part);
    state->placing = 0;
    showPlacement(state, mesh);
}

// The cross while measuring over the model.
void setViewCursor(ViewState* state) {
    if (state->rotating || state->panning) {
        SetCursor(nullptr);
        return;
    }
    POINT at;
    if ((state->measuring || state->placing) && state->meshes[0] && GetCursorPos(&at) &&
        ScreenToClient(windowOf(state), &at)) {
        preparePickingAll(state);
        SurfacePick pick;
        if (pickInView(state, at.x, at.y, &pick)) {
            SetCursor(LoadCursorW(nullptr, IDC_CROSS));
            return;
        }
    }
    setArrowCursor();
}

LRESULT CALLBACK viewWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) return createView(window);
    ViewState* state = stateOf(window);
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_DESTROY:
        destroyView(state);
        break;
    case WM_NCDESTROY:
        forgetView(window, state);
        break;
    case WM_SIZE:
        resizeView(state, lowWordSigned(lParam), highWordSigned(static_cast<uintptr_t>(lParam)));
        break;
    case kViewDeviceMessage:
        settleDevice(state);
        return 0;
    case WM_PAINT:
        paintView(state);
        return 0;
    case WM_KILLFOCUS:
        state->clickPending = 0;
        if (state->rotating || state->panning) {
            ReleaseCapture();
            state->rotating = 0;
            state->panning = 0;
        }
        break;
    case WM_SETCURSOR:
        setViewCursor(state);
        return 1;
    case WM_MOUSEACTIVATE:
        if (!(GetWindowLongW(window, GWL_STYLE) & WS_TABSTOP)) break;
        // Clicking the view gives it the keyboard focus the way the dialog does.
        SendMessageW(GetParent(window), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), 1);
        return MA_ACTIVATE;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS;
    case WM_KEYDOWN: {
        int key = static_cast<int>(wParam & 0xFF);
        if (key == kRotateKey || key == kPanKey) {
            beginDrag(state, key, 0, 0);
            return 0;
        }
        // The dialog handles the keys the view does not use (arrows step through the folder)
        // and answers as the view would.
        return SendMessageW(GetParent(window), message, wParam, lParam);
    }
    case WM_KEYUP: {
        int key = static_cast<int>(wParam & 0xFF);
        if (key != kRotateKey && key != kPanKey) break;
        endDrag(state, key);
        return 0;
    }
    case WM_LBUTTONDOWN: {
        int32_t x = lowWordSigned(lParam), y = highWordSigned(static_cast<uintptr_t>(lParam));
        beginDrag(state, kRotateKey, x, y);
        state->clickPending = state->measuring || state->placing;
        state->pressX = x;
        state->pressY = y;
        return 0;
    }
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:  // CAD programs pan with the middle button
        state->clickPending = 0;
        beginDrag(state, kPanKey, lowWordSigned(lParam), highWordSigned(static_cast<uintptr_t>(lParam)));
        return 0;
    case WM_LBUTTONUP: {
        bool click = state->clickPending && state->rotating;
        state->clickPending = 0;
        endDrag(state, kRotateKey);
        if (click && state->placing) placeClick(state, state->pressX, state->pressY);
        else if (click) measureClick(state, state->pressX, state->pressY);
        return 0;
    }
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        endDrag(state, kPanKey);
        return 0;
    case WM_MOUSEMOVE:
        moveMouse(state, lowWordSigned(lParam), highWordSigned(static_cast<uintptr_t>(lParam)));
        break;
    case WM_MOUSEWHEEL:
        if ((wParam & MK_CONTROL) && state->section.on) {
            moveSectionByWheel(state, highWordSigned(wParam), (wParam & MK_SHIFT) != 0);
            break;
        }
        // Other modifier keys in the low word do not change the step.
        {
            POINT pointer{lowWordSigned(lParam), highWordSigned(static_cast<uintptr_t>(lParam))};
            ScreenToClient(window, &pointer);
            applyWheelAt(state, highWordSigned(wParam), pointer.x, pointer.y);
        }
        state->wheelTurning = 1;
        SetTimer(window, kWheelTimerId, kWheelPauseMs, nullptr);
        invalidate(state);
        break;
    case WM_TIMER:
        if (wParam == kRotationTimerId && state->rotationStamp != 0) {
            applyRotationStep(state, readCounter());
            invalidate(state);
        } else if (wParam == kFrameTimerId) {
            pollFrame(state);
        } else if (wParam == kRetryTimerId) {
            retry(state);
        } else if (wParam == kWheelTimerId) {
            KillTimer(window, kWheelTimerId);
            state->wheelTurning = 0;
            settle(state);
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool registerViewClass(void* instance, const MessageSink* sink) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;  // no double-click messages
    windowClass.lpfnWndProc = viewWindowProc;
    windowClass.hInstance = static_cast<HINSTANCE>(instance);
    windowClass.lpszClassName = kViewClassName;
    if (RegisterClassExW(&windowClass)) return true;
    reportLastError(sink);
    return false;
}

void setViewAngles(void* window, const float pan[3], BinaryAngle yaw, BinaryAngle pitch) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    setAnglesInState(state, pan, yaw, pitch);
    invalidate(state);
}

void resetView(void* window, BinaryAngle yaw, BinaryAngle pitch) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    if (!state->alwaysRotate) stopRotationTimer(state);
    const float noPan[3] = {0, 0, 0};
    setAnglesInState(state, noPan, yaw, pitch);
    state->zoom = kInitialZoom;
    invalidate(state);
}

void setAlwaysRotate(void* window, bool on) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->alwaysRotate = on;
    if (on)
        startRotationTimer(state);
    else
        stopRotationTimer(state);
}

void startRotation(void* window) {
    ViewState* state = viewStateOf(window);
    if (state) startRotationTimer(state);
}

void stopRotation(void* window) {
    ViewState* state = viewStateOf(window);
    if (state) stopRotationTimer(state);
}

bool viewRotating(void* window) {
    ViewState* state = viewStateOf(window);
    return state && state->rotationStamp != 0;
}

void clearMeshes(void* window) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    stopRotationTimer(state);
    state->marks.count = 0;
    // The parts' heaps go after this: no upload may still read them.
    haltPartUploads(state);
    acquireSpinLock(&state->lock);
    for (int slot = 0; slot < kViewMeshSlots; ++slot) {
        if (!state->meshes[slot]) continue;
        releaseGpuMesh(state->meshes[slot]);
        state->meshes[slot] = nullptr;
    }
    state->frameInFlight = 0;  // a frame of the meshes gone must not show later
    state->placing = 0;
    state->lastPlaced = -1;
    resumePartUploads(state);
    releaseSpinLock(&state->lock);
}

void installMesh(void* window, GpuMesh* mesh, bool first) {
    ViewState* state = viewStateOf(window);
    if (!state || !mesh) return;
    acquireSpinLock(&state->lock);
    placeMesh(state, mesh, first);
    // A part uploaded before the device was lost goes up again.
    bool upload = partsNeedUpload(state);
    releaseSpinLock(&state->lock);
    if (upload) queueDeviceWork(window);
    if (first) resetFramePacing(&state->pacing);
    if (state->measuring) preparePicking(mesh, state->sink);
    // Further parts are drawn when the dialog repaints after the last one.
    if (!first) return;
    if (state->alwaysRotate) startRotationTimer(state);
    invalidate(state);
}

void setMeshUnit(void* window, GpuMesh* mesh, float unitScale) {
    ViewState* state = viewStateOf(window);
    if (!state || !mesh || !(unitScale > 0) || !(mesh->unitScale > 0)) return;
    double ratio = double{unitScale} / mesh->unitScale;
    mesh->unitScale = unitScale;
    mesh->facts.surfaceArea *= ratio * ratio;
    mesh->facts.volume *= ratio * ratio * ratio;
    reboxMesh(state, mesh);
}

void setMeshColor(void* window, uint32_t color, uint32_t slot) {
    ViewState* state = viewStateOf(window);
    if (!state || slot >= kViewMeshSlots || !state->meshes[slot]) return;
    // Only the window thread reads or writes mesh colours.
    state->meshes[slot]->color = color;
    invalidate(state);
}

void setShowProblems(void* window, bool on) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->showProblems = on;
    invalidate(state);
}

void setShowOverhangs(void* window, bool on) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->overhangs.on = on;
    invalidate(state);
}

void setOverhangAngle(void* window, float degrees) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->overhangs.degrees = degrees;
    invalidate(state);
}

void setMeshInsideOut(void* window, GpuMesh* mesh, bool insideOut) {
    ViewState* state = viewStateOf(window);
    if (!state || mesh->insideOut == insideOut) return;
    // Read by the frames, which the window thread draws, as mesh colours are.
    mesh->insideOut = insideOut;
    if (state->overhangs.on) invalidate(state);
}

void setRenderMode(void* window, RenderMode mode) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->renderMode = mode;
    invalidate(state);
}

void setFlipZoom(void* window, bool flip) {
    ViewState* state = viewStateOf(window);
    if (state) state->flipZoom = flip;
}

void setYUp(void* window, bool yUp) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->yUp = yUp;
    invalidate(state);
}

void setBackgroundColor(void* window, uint32_t color) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->backgroundColor = color;
    invalidate(state);
}

bool viewAngles(void* window, CameraAngles* angles) {
    ViewState* state = viewStateOf(window);
    if (!state) return false;
    *angles = CameraAngles{state->yaw, state->pitch};
    return true;
}

bool viewCamera(void* window, ViewCamera* camera) {
    ViewState* state = viewStateOf(window);
    if (!state) return false;
    *camera = ViewCamera{{state->pan[0], state->pan[1], state->pan[2]}, state->zoom, state->yaw, state->pitch};
    return true;
}

void setViewCamera(void* window, const ViewCamera* camera) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    setAnglesInState(state, camera->pan, camera->yaw, camera->pitch);
    state->zoom = camera->zoom;
    invalidate(state);
}

bool viewBox(void* window, float boundsMin[3], float boundsMax[3]) {
    ViewState* state = viewStateOf(window);
    if (!state) return false;
    memcpy(boundsMin, state->boundsMin, 3 * sizeof(float));
    memcpy(boundsMax, state->boundsMax, 3 * sizeof(float));
    return true;
}

SectionPlane viewSection(void* window) {
    ViewState* state = viewStateOf(window);
    if (state) return state->section;
    SectionPlane off = initialSection();
    return off;
}

void setViewSection(void* window, const SectionPlane* section) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->section = *section;
    invalidate(state);
}

void setViewSink(void* window, const MessageSink* sink) {
    ViewState* state = viewStateOf(window);
    if (state) state->sink = sink;
}

void setMeasureMode(void* window, bool on) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->measuring = on;
    if (on) {
        preparePickingAll(state);
    } else {
        state->marks.count = 0;
        state->clickPending = 0;
    }
    invalidate(state);
}

void setPlaceMode(void* window, bool on) {
    ViewState* state = viewStateOf(window);
    if (!state) return;
    state->placing = on;
    if (on) preparePickingAll(state);
    else state->clickPending = state->measuring && state->clickPending;
}

bool placeMode(void* window) {
    ViewState* state = viewStateOf(window);
    return state && state->placing;
}

namespace {

// The part Undo placement turns back: the one placed last, else any still placed.
GpuMesh* placementToUndo(const ViewState* state) {
    int slot = state->lastPlaced;
    if (slot >= 0 && slot < kViewMeshSlots && state->meshes[slot] && state->meshes[slot]->placed)
        return state->meshes[slot];
    for (int s = kViewMeshSlots - 1; s >= 0; --s)
        if (state->meshes[s] && state->meshes[s]->placed) return state->meshes[s];
    return nullptr;
}

}  // namespace

bool canUndoPlacement(void* window) {
    ViewState* state = viewStateOf(window);
    return state && placementToUndo(state);
}

bool undoPlacement(void* window) {
    ViewState* state = viewStateOf(window);
    GpuMesh* mesh = state ? placementToUndo(state) : nullptr;
    if (!mesh) return false;
    // One step back, then the file's own orientation.
    mesh->placed = mesh->hasPrevious ? mesh->previousPlaced : 0;
    mesh->placement = mesh->previous;
    mesh->hasPrevious = 0;
    showPlacement(state, mesh);
    return true;
}

bool measureMode(void* window) {
    ViewState* state = viewStateOf(window);
    return state && state->measuring;
}

bool clearMeasure(void* window) {
    ViewState* state = viewStateOf(window);
    if (!state || state->marks.count == 0) return false;
    state->marks.count = 0;
    invalidate(state);
    return true;
}

MeasureMarks measureMarks(void* window) {
    ViewState* state = viewStateOf(window);
    MeasureMarks marks{};
    if (state) memcpy(&marks, &state->marks, sizeof marks);
    return marks;
}
