// Starting a slicer on files: the command line quoted as the C runtime and
// CommandLineToArgvW read it back, whatever spaces, quotes or backslashes
// the paths hold, and a long path passed as it is (a command line holds
// 32,767 units).
#pragma once
#include <windows.h>

#include <cstdint>

#include "core/status.h"

// "PROGRAM" "FILE" ...: false when it does not fit into capacity units with its terminator.
bool slicerCommandLine(const wchar_t* program, const wchar_t* const* files, int fileCount, wchar_t* out,
                       uint32_t capacity);

// Starts program on the files, not waiting for it; false (reported) when it would not start.
bool startSlicer(const wchar_t* program, const wchar_t* const* files, int fileCount, const MessageSink* sink);
