// Making a view's device off the window thread: under Wine, and on a slow
// driver, creating the device and building its programs takes seconds that
// the window must not wait. Windows only.
#pragma once
#include <cstdint>

// Queues ensureDevice(view of window, no sink) on the system thread pool.
// The item looks the window up again when it runs, so a view destroyed in
// the meantime is simply not found.
bool queueDeviceWork(void* window);

// Test seam: how many device work items have found their window no longer a view.
uint32_t deviceWorkForGoneViews();
