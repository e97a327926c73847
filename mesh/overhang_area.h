// How much of a part's surface faces down more steeply than a printer can
// build without support, in one linear pass over its triangles.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"

// The overhang angle most slicers start from, in degrees from vertical.
constexpr double kDefaultOverhangDegrees = 45.0;

// Which component of a corner is up: y for Y-up parts, z for the rest.
inline int upAxisOf(uint32_t coordinateSpace) {
    return coordinateSpace == kSpaceYUp ? 1 : 2;
}

// Where a part's overhangs are measured from: the way up as a unit vector in
// the file's axes (an axis, or another direction for a part turned onto a
// face), and whether the part is inside out (closed, every face wound
// inwards), so that its outward normals are against the windings.
struct OverhangFrame {
    double up[3];
    bool insideOut;
};

inline OverhangFrame uprightFrame(int upAxis, bool insideOut) {
    OverhangFrame frame{{0, 0, 0}, insideOut};
    frame.up[upAxis] = 1;
    return frame;
}

// Is a face whose corners' cross product (twice its area, outward) is
// `cross` an overhang at the angle whose sine is `sine`: does its normal
// point down more steeply than that below the horizontal? `up` is the
// cross product's component along the way up.
inline bool isOverhang(const double cross[3], double up, double sine) {
    double squared = cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2];
    return up < 0 && up * up > sine * sine * squared;
}

// The area, in square metres (file units times unitScale), of the faces of
// all solids whose outward normal (from the corners' winding, never the
// stored normal) points down more steeply than `degrees` from vertical.
// Faces with every corner on the lowest plane of the part lie on the bed
// and are left out (within a millionth of the corners' distance from the
// origin, as the corners of a flat face turned onto the bed lie on its plane
// only to float precision); so are faces with a non-finite corner.
double overhangArea(const StlMesh* mesh, const OverhangFrame& frame, double degrees, float unitScale);
