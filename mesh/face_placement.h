// A part turned so that one of its faces lies flat on the bed, facing
// down: the turn and shift (in the part's file units) that the view draws
// it with, picks on it, measures its overhangs and its box with.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"

// placed = turn · p + shift, for a point p in the file's units and axes.
struct Placement {
    double turn[3][3];  // a rotation, by rows
    double shift[3];
};

Placement identityPlacement();
void placePoint(const Placement& placement, const double p[3], double out[3]);
// The turn alone, for directions.
void turnVector(const Placement& placement, const double v[3], double out[3]);
// The way up of the placed part (unit axis `upAxis`) in the file's axes.
void fileUpOf(const Placement& placement, int upAxis, double up[3]);

// The placement that also turns the part, about `centre` (placed
// coordinates), so that the face with these corners (file units, outward
// by their winding, or against it when the part is inside out) points
// straight down along `upAxis`. False for a face without area.
bool turnFaceDown(const Placement& current, const float corners[3][3], bool insideOut, int upAxis,
                  const double centre[3], Placement* out);

// The box of every finite corner of the placed solids; false when they have none.
bool placedBox(const StlSolid* solids, uint32_t solidCount, const Placement& placement, double low[3], double high[3]);
// Moves the placement and its box along `upAxis` so that the box's low side is at `level`.
void settleAt(Placement* placement, int upAxis, double level, double low[3], double high[3]);
