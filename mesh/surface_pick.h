// Which point of the shown surface lies under a pixel: a ray from the eye
// through the pixel against the visible triangles of every part, in double
// precision, and the snap to a corner of the picked triangle.
#pragma once
#include <cstdint>
#include "mesh/face_placement.h"
#include "mesh/pick_index.h"

// A click this close to a corner of the picked triangle, in pixels, takes the corner itself.
constexpr double kSnapPixels = 10.0;

#pragma pack(push, 1)
// The view's perspective camera in world space (metres, Y up). View
// coordinates are (p - eye) along the three axes; the eye looks along -axes[2].
struct PickCamera {
    double eye[3];
    double axes[3][3];  // screen right, screen up, towards the viewer
    double zoom;        // cotangent of half the vertical field of view
    double nearDepth;   // the drawn depth range in front of the eye
    double farDepth;
    int32_t width;  // pixels
    int32_t height;
    uint8_t yUp;  // 0: a file's Z axis is world Y, (x, y, z) -> (x, z, -y)
    // Only world points p (metres) with p·keep.xyz + keep.w >= 0 can be
    // picked, as the section cuts the picture; all zero keeps everything.
    double keep[4];
};

// One part as the view draws it.
struct PickPart {
    const StlSolid* solids;
    uint32_t solidCount;
    const uint8_t* visibleSolids;  // null: every solid shows
    const PickIndex* index;        // null: every triangle is tried
    double unitScale;              // metres per file unit
    const Placement* placement;    // null: as the file has it
};

struct SurfacePick {
    uint32_t part;
    uint32_t solid;
    uint32_t triangle;
    int32_t corner;     // 0 to 2 when snapped to that corner, else -1
    double point[3];    // metres, in the file's own axes (as placed)
    double depth;       // distance in front of the eye along the view axis
};
#pragma pack(pop)

// World position of a point given in metres in a file's axes, and back.
void fileToWorld(bool yUp, const double file[3], double world[3]);
void worldToFile(bool yUp, const double world[3], double file[3]);

// Screen position (pixels from the top-left corner of the client area) of a
// world point; false when it is not in front of the eye.
bool projectToScreen(const PickCamera* camera, const double world[3], double* x, double* y);

// The corner (0 to 2) nearest to the screen position among those at most
// kSnapPixels away, else -1. Corners are in world space.
int32_t snapCorner(const PickCamera* camera, const double corners[3][3], double x, double y);

// The nearest visible surface point under the screen position (a pixel's
// centre is at +0.5), snapped; false over the background.
bool pickSurface(const PickCamera* camera, const PickPart* parts, uint32_t partCount, double x, double y,
                 SurfacePick* pick);
