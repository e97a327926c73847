// The text of up to 16 caller frames that goes with every error report:
// one 42-unit line each, "module name padded to 32" "+" "8 hex digits" LF.
#pragma once
#include <cstdint>
#include "core/platform.h"

constexpr uint32_t kBackTraceFrames = 16;
constexpr uint32_t kBackTraceLineUnits = 42;
constexpr uint32_t kBackTraceUnits = kBackTraceFrames * kBackTraceLineUnits + 1;

// destination holds at least kBackTraceUnits units; the text is terminated.
void captureBackTrace(Utf16* destination);

// One line for a frame in the named module (a full path; only its file name is
// shown) at offset from the module base; returns the position after the LF.
Utf16* formatBackTraceLine(Utf16* out, const Utf16* modulePath, uint32_t pathLength, uintptr_t offset);
