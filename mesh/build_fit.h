// Whether a part's box fits a printer's build volume, as it stands (turned
// about the vertical as needed) or lying on another side.
#pragma once
#include <cstdint>

#pragma pack(push, 1)
// Millimetres; a size this close over the volume still fits, as the box's
// float metres are not exact millimetres.
struct BuildVolume {
    double width, depth, height;
};

struct BuildFit {
    uint8_t fits;        // upright, turned about the vertical if need be
    uint8_t fitsOnSide;  // not upright, but in one of the other four orientations
    // How far the upright box is over in width, depth and height (mm; 0
    // where within), with the turn about the vertical that leaves the least.
    double over[3];
};
#pragma pack(pop)

constexpr double kFitSlack = 0.001;

// The box of a part as it stands on the bed, in millimetres: width along x,
// depth along the other horizontal axis, height along up (y for Y-up parts).
void standingSize(const float boundsMin[3], const float boundsMax[3], bool yUp, double size[3]);

// Tries the six axis-aligned orientations of a box of width, depth and height `size`.
BuildFit fitInVolume(const double size[3], const BuildVolume* volume);
