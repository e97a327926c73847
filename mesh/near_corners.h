// Positions so close that the surface check takes them for one vertex: every
// coordinate within eps of the other's, eps = 2^-20 of the part's largest
// extent, joined transitively (a chain of near positions is one vertex). A
// coordinate that is NaN or infinite never comes within eps of anything.
#pragma once
#include <cstdint>
#include "core/status.h"

// Copies the coordinates of a corner into `point`; `context` is the caller's.
typedef void (*CornerReader)(const void* context, uint32_t corner, float* point);

// On entry groups[i] is a corner of position i (positions bit-distinct); on
// return it is the smallest position joined with i (i itself when none), and
// *joined the positions that joined another (count minus the groups). Linear:
// positions are sorted by cells of size eps. Returns false when keepGoing
// turned 0 or memory ran out (reported to sink); groups is then undefined.
bool joinNearPositions(uint32_t count, CornerReader read, const void* context, uint32_t* groups, uint32_t* joined,
                       const volatile uint8_t* keepGoing, const MessageSink* sink);

// The welding distance of a part whose largest extent is `extent`.
double weldDistanceFor(double extent);
