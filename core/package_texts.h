// The lines of the 3MF codes: "3MF error: PART, line N: " and the code's
// words, with the note's numbers and detail in place, then "; aborting".
#pragma once
#include "core/status.h"

bool isPackageCode(StatusCode code);
// Writes the line without terminator; returns the position after it. The
// part and the detail are cut to a few thousand bytes each.
Utf16* appendPackageNote(Utf16* out, StatusCode code, const PackageNote* note);

// The reasons behind kErrZipInflate and kErr3mfXml, by number; null past the list.
const char* inflateFaultText(uint64_t reason);
const char* xmlFaultText(uint64_t reason);
