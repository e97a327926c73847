// What both exporter recognisers share: their reports, the quoted unit-tag
// and Art of Illusion rules, and the final defaults.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"

constexpr uint32_t kCodePageUsAscii = 20127;

// A text in double quotes whose end is "<stl unit=MM>" or "<stl unit=INCHES>"
// and the closing quote: sets the unit and Z up, points name at the bare name
// (code page 0) and reports ANSYS SpaceClaim. False, nothing changed, otherwise.
bool applyQuotedUnitTag(const uint8_t* textBegin, const uint8_t* textEnd, CountedText* name,
                        StlMetadata* metadata, const MessageSink* sink);

// quote: the double quote closing an object name, followed by
// "; Produced by Art of Illusion", the version and the date; available: the
// bytes readable from quote on. Reports the version as the exporter name, and
// the date when the text is long enough to hold it.
void readIllusionTrailer(const uint8_t* quote, uint32_t available, const MessageSink* sink);

// An unknown coordinate space becomes Z up, then an unknown unit millimetres,
// each with its warning, in that order.
void applyExporterDefaults(StlMetadata* metadata, const MessageSink* sink);

// Sets metadata to "nothing known" with the given colour order.
void clearExporterMetadata(StlMetadata* metadata, uint8_t colorOrder);

// "STL info: written by " and the exporter's name.
void reportExporter(const MessageSink* sink, const char* name);
// A report whose argument is a text inside the file.
void reportText(const MessageSink* sink, StatusCode code, const uint8_t* bytes, uint32_t length, uint32_t codePage);
