// The window a preview handler shows in the preview host: the model of a
// stream drawn by the offscreen renderer (hardware, else WARP) and shown
// through GDI, over a strip with the size and check lines, turned by a left
// drag and zoomed by the wheel. The host's thread only reads the stream, a
// slice at a time between its messages; a worker thread of the pane parses,
// draws and checks. Everything is the pane's until it is closed.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <cstdint>

// The preview pane's own colours and font, where the host gave them.
struct PaneLook {
    bool ownBackground;
    bool ownText;
    bool ownFont;
    COLORREF background;
    COLORREF text;
    LOGFONTW font;
};

struct PreviewPane;

// A child window of `parent` at `rect` showing the stream's model once read;
// the pane holds the stream until then. A stream that cannot be shown gets
// its message in the pane, not a failure: the answer fails only when the
// window or the pane's memory cannot be had. The pane takes *keptView, the
// view a closed pane left (null: none), and gives it back on failure.
HRESULT openPreviewPane(HWND parent, const RECT* rect, IStream* stream, const PaneLook* look, HWND* keptView,
                        PreviewPane** pane);
void placePreviewPane(PreviewPane* pane, HWND parent, const RECT* rect);
void setPaneLook(PreviewPane* pane, const PaneLook* look);
HWND paneWindow(const PreviewPane* pane);
// The worker stopped, the window gone, the stream and every block released;
// answers the pane's view (the child window drawing with Direct3D) when it
// works, hidden and empty, for the next pane of the same handler to take
// with its device, or null. Explorer reuses a handler for the next file.
HWND closePreviewPane(PreviewPane* pane);
// A kept view destroyed, on the thread of the panes; null: nothing.
void releaseKeptView(HWND view);
// For a library about to be unloaded: its window classes go with it.
void unregisterPaneClasses();

// What the pane shows in place of a picture.
enum PaneMessage : int32_t {
    kPaneNoMessage = 0,
    kPaneLoading,
    kPaneTooLarge,  // over the stream cap
    kPaneTooSlow,
    kPaneNoMemory,
    kPaneUnreadable,
    kPaneNoPicture,  // no device could draw it
};
// Test seam, sent to the pane's window: wParam 0 answers the frames shown so
// far, 1 the PaneMessage shown, 2 whether the surface check's line is in;
// 3, sent from the pane's own thread, copies the size and check lines into
// lParam's two rows of 640 units; 4 answers the coarse frames shown so far
// (a large model's first, from a sample of its triangles; not in 0's count);
// 5 whether the view, the child window drawing with Direct3D, shows the
// model; 6 sets the seams below for every later view and device.
constexpr UINT kPaneStateMessage = WM_APP + 38;
enum PaneSeam : int32_t {
    kSeamsOff = 0,
    kSeamSwapChainFails,      // presenting through a swap chain (not GDI), whose creation fails once
    kSeamPresentLost,         // the next Present answers DXGI_ERROR_DEVICE_REMOVED
    kSeamPresentLostForGood,  // the same, and the next device cannot be made
};
