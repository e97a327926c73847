// Pictures of a model without a window: the view's pipeline and frame code
// drawing into textures of a chosen size, read back into memory. Used for
// saving and copying the view's picture, the command-line picture and
// Explorer thumbnails. Windows only.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"
#include "view/view_state.h"

// The largest picture: Direct3D 11's largest texture side. A picture larger
// than a device's targets allow (8192 on feature level 10_x, or beyond the
// adapter's budget) is drawn in tiles.
constexpr int32_t kMaxPictureSide = 16384;

// width x height pixels of 4 bytes (red, green, blue, alpha), top row first,
// in a block of the process heap.
struct Picture {
    uint8_t* pixels;
    int32_t width;
    int32_t height;
};

void freePicture(Picture* picture);

// What the view would be set to for a freshly loaded model.
struct PictureLook {
    int32_t width;
    int32_t height;
    RenderMode mode;
    BinaryAngle yaw;
    BinaryAngle pitch;
    uint32_t objectColor;      // default material, red in the low byte
    uint32_t backgroundColor;  // alpha 0 leaves the background transparent
    SectionPlane section;      // off unless asked for; its share of the parts' box
    uint32_t maxSamples;       // 0: as many as the size allows
    OverhangTint overhangs;    // off unless asked for
    float zoom;                // 0: the view's first zoom
};

// The view window's current frame at its client size, drawn by the view's
// own device. False (reported) while it has no device or no model.
bool renderViewPicture(void* viewWindow, Picture* picture, const MessageSink* sink);

// Parts as a load without a view leaves them (meshes prepared, no vertex
// buffers), drawn on the process's picture device (hardware, else WARP),
// framed, coloured and turned as the viewer shows a freshly loaded model.
// The vertex buffers are gone again on return; the device stays for the
// next picture (a thumbnail host draws many), made anew once if it is lost.
// Pictures are drawn one at a time, whichever thread asks.
bool renderPartsPicture(ModelPart* parts, uint32_t count, const PictureLook* look, Picture* picture,
                        const MessageSink* sink);
// The picture device released, for a module about to be unloaded.
void releasePictureDevice();
// Test seam: how many picture devices this process has made.
uint32_t pictureDevicesMade();

// The object colour of a part as the viewer sets it after a load: the first
// part's header colour when its triangles carry none, else white under the
// part's own triangle colours, else the default material.
uint32_t loadedPartColor(const ModelPart* parts, uint32_t index, uint32_t defaultColor);
