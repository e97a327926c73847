#include "view/view_paint.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>

#include "core/spin_lock.h"
#include "view/camera.h"
#include "view/device_work.h"
#include "view/frame_pacing.h"
#include "view/frame_render.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/window_targets.h"

namespace {

constexpr UINT kSyncInterval = 1;  // one vertical blank bounds the automatic rotation

// Through the swap chain, or, where the view has none, through GDI.
HRESULT showFrame(const ViewState* state) {
    HRESULT injected = injectedFailure(kCallPresent, state->pipeline.device);
    if (FAILED(injected)) return injected;
    if (state->swapChain) return state->swapChain->Present(kSyncInterval, 0);
    return drawFrameCopy(state->pipeline.context, state->stagingFrame, state->window);
}

// The picture of a view without a device or without a mesh: the background
// colour with the error icon's corner at the centre of the client area.
void paintNoDevicePicture(ViewState* state) {
    HWND window = static_cast<HWND>(state->window);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc) return;
    SetDCBrushColor(dc, state->backgroundColor & 0xFFFFFF);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    HICON icon = LoadIconW(nullptr, IDI_ERROR);
    if (icon) DrawIcon(dc, state->clientWidth / 2, state->clientHeight / 2, icon);
    EndPaint(window, &paint);
}

uint32_t millisecondsSince(int64_t start) {
    int64_t frequency = counterFrequency();
    return frequency > 0 ? static_cast<uint32_t>((readCounter() - start) * 1000 / frequency) : 0;
}

// Waits up to kFrameWaitMs for the device to finish the frame; false while
// it is still drawing. Without a query the frame counts as done: showing it
// then waits for it.
bool awaitFrame(ViewState* state) {
    ID3D11DeviceContext* context = state->pipeline.context;
    if (!state->frameDone) {
        D3D11_QUERY_DESC description = {D3D11_QUERY_EVENT, 0};
        if (FAILED(state->pipeline.device->CreateQuery(&description, &state->frameDone))) {
            state->frameDone = nullptr;
            return true;
        }
    }
    context->End(state->frameDone);
    context->Flush();
    while (context->GetData(state->frameDone, nullptr, 0, D3D11_ASYNC_GETDATA_DONOTFLUSH) == S_FALSE) {
        if (millisecondsSince(state->frameStart) >= kFrameWaitMs) return false;
        Sleep(1);
    }
    return true;
}

// After a frame: a lost device, whichever call of the frame met it, is made
// anew; any other failure to show the frame drops the device (reported),
// and the view shows the GDI picture until an upload makes a new one.
void finishFrame(ViewState* state, HRESULT queued) {
    HRESULT result = SUCCEEDED(queued) ? showFrame(state) : queued;
    recordFrame(&state->pacing, state->frameForm, millisecondsSince(state->frameStart));
    HRESULT removed = deviceRemovedReason(state->pipeline.device);
    if (isDeviceLoss(result) || FAILED(removed)) {
        loseDevice(state, FAILED(removed) ? removed : result);
    } else if (FAILED(result)) {
        reportGpuError(result, state->sink);
        dropDevice(state);
    } else {
        ++state->framesShown;
    }
}

}  // namespace

void paintView(ViewState* state) {
    HWND window = static_cast<HWND>(state->window);
    if (!compareExchange32(&state->lock, 0, 1)) {
        // Another thread holds it (installing a device, swapping pieces in).
        ValidateRect(window, nullptr);
        state->paintDeferred = 1;
        SetTimer(window, kRetryTimerId, kRetryMs, nullptr);
        return;
    }
    if (state->resizePending) applyClientSizeLocked(state);
    if (!state->pipeline.device || !state->renderTargetView || !state->meshes[0]) {
        releaseSpinLock(&state->lock);
        paintNoDevicePicture(state);
        return;
    }
    if (state->frameInFlight) {
        state->repaintAfterFrame = 1;
        releaseSpinLock(&state->lock);
        ValidateRect(window, nullptr);
        return;
    }
    state->frameStart = readCounter();
    // A cheaper form while the user moves the model, on either way to the screen.
    FrameForm form = chooseFrameForm(&state->pacing, viewIsMoving(state), state->resolvedFrame != nullptr);
    if (form == kFormSingleSample && !singleSampleTargets(state, state->sink)) form = kFormBox;
    state->frameForm = form;
    ID3D11RenderTargetView* target = form == kFormSingleSample ? state->singleSampleTarget : state->renderTargetView;
    ID3D11DepthStencilView* depth = form == kFormSingleSample ? state->singleSampleDepth : state->depthStencilView;
    const FrameArea area = {state->clientWidth, state->clientHeight, 0, 0};
    if (form == kFormBox)
        renderBoxFrame(state, target, depth, area);
    else
        renderViewFrame(state, target, depth, area);
    if (state->showProblems)
        prepareProblemLegend(&state->legend, shownProblemKinds(state->meshes, state->pipeline.device),
                             windowDpiOf(window));
    HRESULT queued = queueFramePresentation(state, form);
    // Without the timer nothing would show the frame later: it is waited for.
    bool later = SUCCEEDED(queued) && !awaitFrame(state) && SetTimer(window, kFrameTimerId, kFramePollMs, nullptr);
    if (later)
        state->frameInFlight = 1;
    else
        finishFrame(state, queued);
    releaseSpinLock(&state->lock);
    ValidateRect(window, nullptr);
}

void pollFrame(ViewState* state) {
    HWND window = static_cast<HWND>(state->window);
    if (!compareExchange32(&state->lock, 0, 1)) return;  // the timer ticks again
    if (state->frameInFlight && state->pipeline.device &&
        state->pipeline.context->GetData(state->frameDone, nullptr, 0, D3D11_ASYNC_GETDATA_DONOTFLUSH) == S_FALSE) {
        releaseSpinLock(&state->lock);
        return;
    }
    if (state->frameInFlight) {
        state->frameInFlight = 0;
        if (state->pipeline.device) finishFrame(state, S_OK);
    }
    bool repaint = state->repaintAfterFrame != 0;
    state->repaintAfterFrame = 0;
    releaseSpinLock(&state->lock);
    KillTimer(window, kFrameTimerId);
    if (repaint || (!viewIsMoving(state) && needsFullFrame(&state->pacing))) InvalidateRect(window, nullptr, FALSE);
}
