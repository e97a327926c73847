// Pictures of a model without a window: the view's pipeline and frame code
// drawing into textures of a chosen size, read back into memory. Used for
// saving and copying the view's picture, the command-line picture and
// Explorer thumbnails. Windows only.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"
#include "view/view_state.h"

// Direct3D 11 textures are at most this many pixels wide and high.
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
};

// The view window's current frame at its client size, drawn by the view's
// own device. False (reported) while it has no device or no model.
bool renderViewPicture(void* viewWindow, Picture* picture, const MessageSink* sink);

// One triangle drawn in every mode into a tiny texture and read back, so that
// the driver builds its programs for every state now (under Wine on a software
// device that takes seconds) instead of in the first frame of a model. The
// caller holds the view's lock and the device exists.
void warmPipeline(ViewState* state);

// Parts as a load without a view leaves them (meshes prepared, no vertex
// buffers), drawn on a device of their own (hardware, else WARP), framed,
// coloured and turned as the viewer shows a freshly loaded model. The
// vertex buffers and the device are gone again on return.
bool renderPartsPicture(ModelPart* parts, uint32_t count, const PictureLook* look, Picture* picture,
                        const MessageSink* sink);

// The object colour of a part as the viewer sets it after a load: the first
// part's header colour when its triangles carry none, else white under the
// part's own triangle colours, else the default material.
uint32_t loadedPartColor(const ModelPart* parts, uint32_t index, uint32_t defaultColor);
