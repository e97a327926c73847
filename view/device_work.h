// The view's device over its life: made off the window thread (under Wine,
// and on a slow driver, creating it and building its programs takes
// seconds the window must not wait), handed to the window, whose thread
// alone makes and resizes the swap chain (DXGI Overview, "Multithread
// considerations"), and made anew when it is lost (a driver update, a GPU
// reset after a long frame, a hybrid-GPU switch, an eGPU unplugged: "Handle
// device removed scenarios in Direct3D 11"), the shown parts uploaded again
// from their triangles with the camera, mode, section, measure points and
// visibility as they were. Windows only.
#pragma once
#include <cstdint>
#include "core/status.h"
#include "view/view_state.h"

// Any thread. Makes the device when the view has none (outside the view's
// lock, which is held only to install it) and posts the window to make its
// targets; true when a device exists afterwards. Creation failures go to
// the sink.
bool ensureDevice(ViewState* state, const MessageSink* sink);
// ensureDevice that also hands out a reference to the device: an upload
// keeps using a device that the window thread drops meanwhile. Null when
// there is none (reported).
ID3D11Device* ensureDeviceReference(ViewState* state, const MessageSink* sink);

// With the lock held, on any thread: the device is lost. Everything made on
// it is released now but the swap chain, which the window thread releases;
// the window is posted to make a new device and to tell the loss once.
void loseDevice(ViewState* state, int32_t reason);
// The same without the lock, for a device an upload holds: nothing when the
// view has moved on to another device already.
void loseDeviceIfCurrent(ViewState* state, ID3D11Device* device, int32_t reason);

// Queues ensureDevice(view of window, no sink), then the upload of the
// shown parts that are not on the device, on the system thread pool; once
// at a time per view. The item looks the window up again when it runs, so a
// view destroyed in the meantime is simply not found.
bool queueDeviceWork(void* window);

// Window thread, on kViewDeviceMessage and when tried again: the swap chain
// of a lost device released, the window's targets for a new one made, the
// shown parts that are not on it uploaded (queued), the adapter named and
// a loss told once the view is whole again. Never waits for the lock.
void settleDevice(ViewState* state);
// Window thread, after a size change (resizePending): the targets take the
// client size, or a device lost there is made anew. The first does not
// wait for the lock; the second is for a caller holding it.
void applyClientSize(ViewState* state);
void applyClientSizeLocked(ViewState* state);
// Window thread, before the shown meshes change or go: stops an upload of
// them off the window thread and waits until it has left them (at most a
// piece). resumePartUploads, with the lock held, once the meshes are as
// they will be.
void haltPartUploads(ViewState* state);
void resumePartUploads(ViewState* state);
// With the lock held: a shown mesh has triangles but no pieces on the device.
bool partsNeedUpload(const ViewState* state);

// Test seams: how many device work items found their window no longer a
// view; and an event (null: none) that device creation off the window
// thread waits for before installing the device.
uint32_t deviceWorkForGoneViews();
void holdDeviceInstall(void* event);
