// Which program wrote an ASCII STL file, and from that its length unit and up
// axis. Only three things tell: the first solid's name, the last line of the
// file and the indentation and line ends of the first facets. The rules it
// shares with the binary header recogniser are in stl/exporter_reports.h.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"

// Overwrites every field of metadata. solids/solidCount are the parsed solids
// (solids may be null when solidCount is 0); only the first solid's name is
// read, and a quoted name ending in a unit tag is rewritten to the bare name.
// The text runs from textBegin to textEnd, byte-order mark included. Never
// fails; what stays unknown becomes Z up and millimetres with a warning each.
void identifyAsciiExporter(StlSolid* solids, uint32_t solidCount, StlMetadata* metadata,
                           const uint8_t* textBegin, const uint8_t* textEnd, const MessageSink* sink);
