// WM_PAINT of the view: a Direct3D frame presented to the window's swap
// chain (or copied in through GDI where there is none), in the form the
// last frames' times allow, or, while there is no device or no mesh, the
// flat GDI picture. Windows only.
#pragma once
#include "view/view_state.h"

// The whole of WM_PAINT. Never waits for the view's lock: a paint that finds
// it taken is tried again shortly. A frame the device has not finished
// within kFrameWaitMs stays in flight and shows when pollFrame finds it
// done; a paint meanwhile is answered by one more frame after it. A device
// found lost is made anew (device_work.h).
void paintView(ViewState* state);
// kFrameTimerId's tick: shows the frame in flight once the device is done.
void pollFrame(ViewState* state);
