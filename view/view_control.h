// The "STLView" control: the operations the dialog calls on it, all on the
// window's thread. Windows are passed as void* so that this header stays
// free of <windows.h>. Windows only.
#pragma once
#include <cstdint>
#include "view/view_state.h"

// Registers the window class "STLView" for the module `instance`; reports the
// system error and answers false when that fails.
bool registerViewClass(void* instance, const MessageSink* sink);

// Each of these does nothing when `window` has no view state. All run on the
// window's thread.
void setViewAngles(void* window, const float pan[3], BinaryAngle yaw, BinaryAngle pitch);  // zoom stays
// The starting picture: these angles, no pan, the initial zoom. A rotation
// stops as a click stops it: "Always rotate" keeps turning.
void resetView(void* window, BinaryAngle yaw, BinaryAngle pitch);
void setAlwaysRotate(void* window, bool on);
void startRotation(void* window);  // until a click stops it, or stopRotation
void stopRotation(void* window);
bool viewRotating(void* window);
void clearMeshes(void* window);    // bounds, pan and zoom stay
// The first part replaces the box and resets pan and zoom, then repaints;
// further parts take the first free slot and widen the box without repainting.
void installMesh(void* window, GpuMesh* mesh, bool first);
void setMeshColor(void* window, uint32_t color, uint32_t slot);
void setRenderMode(void* window, RenderMode mode);
// Draws the problem lists of the meshes that have them (problem_edges.h).
void setShowProblems(void* window, bool on);
// "Show overhangs": faces steeper than the angle (degrees from vertical)
// tinted, those on each part's lowest plane left alone; a part the surface
// check found inside out is told so, as its outward normals are against
// its windings.
void setShowOverhangs(void* window, bool on);
void setOverhangAngle(void* window, float degrees);
void setMeshInsideOut(void* window, GpuMesh* mesh, bool insideOut);
void setFlipZoom(void* window, bool flip);
void setYUp(void* window, bool yUp);
void setBackgroundColor(void* window, uint32_t color);
void setViewSink(void* window, const MessageSink* sink);
// What the view shows, for the dialog: the camera's angles, and the union
// box of the shown parts in metres, in the files' axes. False without a view.
bool viewAngles(void* window, CameraAngles* angles);
bool viewBox(void* window, float boundsMin[3], float boundsMax[3]);
// The camera as the user left it, for a part reloaded in place: angles, pan
// and zoom. Setting it repaints.
struct ViewCamera {
    float pan[3];
    float zoom;
    BinaryAngle yaw;
    BinaryAngle pitch;
};
bool viewCamera(void* window, ViewCamera* camera);
void setViewCamera(void* window, const ViewCamera* camera);
// The section as the view draws it; a copy of an off section when there is no view.
SectionPlane viewSection(void* window);
// Takes the section over and repaints.
void setViewSection(void* window, const SectionPlane* section);
// What a view sends its parent as WM_COMMAND, with its control id, after
// Ctrl+wheel has moved the section.
constexpr uint16_t kViewSectionMoved = 1;

// Measure mode. A click on the model adds a point (the third starts again)
// and sends the parent WM_COMMAND with the view's id and kMeasureChanged; a
// drag still turns. Leaving the mode, clearMeshes and clearMeasure forget the points.
constexpr uint16_t kMeasureChanged = 2;
void setMeasureMode(void* window, bool on);
bool measureMode(void* window);
// True when there were points to forget.
bool clearMeasure(void* window);
// A copy of the points; none without a view.
MeasureMarks measureMarks(void* window);

// Place on face: while the mode is on, the next click on the model turns
// the part under it so that the clicked face lies flat on the bed, facing
// down (turned about the middle of its box, its lowest point kept), ends the
// mode and sends the parent WM_COMMAND with the view's id and
// kPlacementChanged; so does Undo placement, which turns the part placed
// last one step back (after the first step, to its file's orientation).
// The placement lives in the part's GpuMesh; clearMeshes ends the mode.
constexpr uint16_t kPlacementChanged = 3;
void setPlaceMode(void* window, bool on);
bool placeMode(void* window);
bool canUndoPlacement(void* window);
// False when no part is placed.
bool undoPlacement(void* window);

// A shown part in another length unit (metres per file unit): its box,
// area and volume scaled, the view's box refitted (pan and zoom stay) and
// the points measured forgotten, as they were taken at the old size.
void setMeshUnit(void* window, GpuMesh* mesh, float unitScale);
