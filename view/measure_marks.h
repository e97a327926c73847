// Measuring on the model: the picked points the view keeps and the marks
// drawn for them. Free of Direct3D.
#pragma once
#include <cstdint>
#include "mesh/surface_pick.h"

struct FrameCamera;

#pragma pack(push, 1)
struct MeasureMarks {
    uint8_t count;        // 0 to 2; a third point starts a new measurement
    uint8_t corner[2];    // 1 where the point is a corner of the file
    double points[2][3];  // metres, in the file's own axes
};
#pragma pack(pop)
static_assert(sizeof(MeasureMarks) == 51);

// Holding the button this close (pixels from where it went down) is a click, not a turn.
constexpr int32_t kClickSlack = 3;
// The rim and fill of every mark: a plus for a point on a face, a square for
// a corner, a band between the two points. Room for the vertices of one pass.
constexpr int kMaxMarkVertices = 64;
constexpr uint32_t kMarkRimColour = 0xFF101010;

void addMeasurePoint(MeasureMarks* marks, const SurfacePick* pick);

// World-space triangles of one pass (0 the dark rim, 1 the fill) that cover
// the marks' pixels; the count of vertices written.
int buildMarkVertices(const FrameCamera* camera, const MeasureMarks* marks, int pass, float out[kMaxMarkVertices][3]);
// The fill colour, red in the low byte: of magenta, yellow and cyan the one
// farthest from the background and every mesh colour.
uint32_t markColour(uint32_t background, const uint32_t* meshColours, int meshCount);
