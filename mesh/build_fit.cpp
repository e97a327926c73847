#include "mesh/build_fit.h"

namespace {

bool within(double size, double room) {
    return size <= room + kFitSlack;
}

bool fitsAs(double width, double depth, double height, const BuildVolume* v) {
    return within(width, v->width) && within(depth, v->depth) && within(height, v->height);
}

double overBy(double size, double room) {
    return within(size, room) ? 0.0 : size - room;
}

}  // namespace

void standingSize(const float boundsMin[3], const float boundsMax[3], bool yUp, double size[3]) {
    int depthAxis = yUp ? 2 : 1, upAxis = yUp ? 1 : 2;
    size[0] = (double{boundsMax[0]} - boundsMin[0]) * 1000.0;
    size[1] = (double{boundsMax[depthAxis]} - boundsMin[depthAxis]) * 1000.0;
    size[2] = (double{boundsMax[upAxis]} - boundsMin[upAxis]) * 1000.0;
}

BuildFit fitInVolume(const double size[3], const BuildVolume* volume) {
    double w = size[0], d = size[1], h = size[2];
    BuildFit fit{};
    fit.fits = fitsAs(w, d, h, volume) || fitsAs(d, w, h, volume);
    fit.fitsOnSide = !fit.fits && (fitsAs(w, h, d, volume) || fitsAs(h, w, d, volume) || fitsAs(d, h, w, volume) ||
                                   fitsAs(h, d, w, volume));
    double straight = overBy(w, volume->width) + overBy(d, volume->depth);
    double turned = overBy(d, volume->width) + overBy(w, volume->depth);
    bool turn = turned < straight;
    fit.over[0] = overBy(turn ? d : w, volume->width);
    fit.over[1] = overBy(turn ? w : d, volume->depth);
    fit.over[2] = overBy(h, volume->height);
    return fit;
}
