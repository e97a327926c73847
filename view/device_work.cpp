#include "view/device_work.h"

#include <windows.h>

#include "core/spin_lock.h"
#include "view/gpu_device.h"
#include "view/offscreen_render.h"
#include "view/view_lookup.h"

namespace {

volatile LONG workForGoneViews = 0;  // a plain word, so that nothing runs before main

// Until the device exists the view paints the GDI picture.
DWORD WINAPI createDeviceOnPool(void* window) {
    lockViewLifetimes();
    ViewState* state = viewStateOf(window);
    if (state && ensureDevice(state, nullptr)) {
        acquireSpinLock(&state->lock);
        if (state->pipeline.device) warmPipeline(state);
        releaseSpinLock(&state->lock);
    } else if (!state) {
        InterlockedIncrement(&workForGoneViews);
    }
    unlockViewLifetimes();
    return 0;
}

}  // namespace

bool queueDeviceWork(void* window) {
    return QueueUserWorkItem(createDeviceOnPool, window, 0) != 0;
}

uint32_t deviceWorkForGoneViews() {
    return static_cast<uint32_t>(workForGoneViews);
}
