// Which form the next frame takes, from how long the last frames took. A
// model that a software rasterizer needs seconds for must not freeze the
// window while the user turns it: interactive frames fall back to a frame
// without multisampling, then to the bounding box, and one full frame
// follows when the input stops.
#pragma once
#include <cstdint>

enum FrameForm : uint8_t {
    kFormFull = 0,          // every sample the targets have
    kFormSingleSample = 1,  // one sample per pixel
    kFormBox = 2,           // the bounding box's edges only
};

// A frame slower than this is not repeated while the user is moving the model.
constexpr uint32_t kSlowFrameMs = 150;

#pragma pack(push, 1)
struct FramePacing {
    // Duration of the last frame of each form in milliseconds; 0 while none
    // was measured since the model or the size changed.
    uint32_t lastMs[3];
    FrameForm shownForm;  // of the frame on the screen
};
#pragma pack(pop)
static_assert(sizeof(FramePacing) == 13);

// Forgets the measurements: a new model or size costs something else.
void resetFramePacing(FramePacing* pacing);
// The form of the next frame. Still frames are full. While the user moves the
// model: the first form, in order, whose last frame was not slow; the single
// sample form only where the view can draw it; the box always qualifies.
FrameForm chooseFrameForm(const FramePacing* pacing, bool interacting, bool singleSampleDrawable);
// A frame of `form` took `milliseconds` and is now on the screen.
void recordFrame(FramePacing* pacing, FrameForm form, uint32_t milliseconds);
// When the input stops: true while the screen shows less than a full frame.
bool needsFullFrame(const FramePacing* pacing);
