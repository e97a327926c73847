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

// Is a face whose corners' cross product (twice its area, outward by the
// winding) is `cross` an overhang at the angle whose sine is `sine`: does its
// normal point down more steeply than that below the horizontal?
inline bool isOverhang(const double cross[3], int upAxis, double sine) {
    double up = cross[upAxis];
    double squared = cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2];
    return up < 0 && up * up > sine * sine * squared;
}

// The area, in square metres (file units times unitScale), of the faces of
// all solids whose outward normal (from the corners' winding, never the
// stored normal) points down more steeply than `degrees` from vertical.
// Faces with every corner on the lowest plane of the part lie on the bed
// and are left out; so are faces with a non-finite corner.
double overhangArea(const StlMesh* mesh, int upAxis, double degrees, float unitScale);
