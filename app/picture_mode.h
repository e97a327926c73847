// `stlview --picture OUT.png [--size WxH] [--mode solid|outline|wireframe]
// [--view start|top|left|front] [--background RRGGBB] [--section AXIS=VALUE]
// [--section-flip] FILE...`: loads up to four files as parts, writes one PNG
// of the view a fresh load would show, cut by a section if asked, and ends
// without a window.
#pragma once
#include <windows.h>

#include "stl/stl_mesh.h"

constexpr int kPictureWritten = 0;
constexpr int kPictureFailed = 1;     // a file not loaded or the picture not written
constexpr int kPictureBadCommand = 2;

// True when the arguments ask for a picture instead of the window: any
// picture option, so that one without --picture is refused rather than opened.
bool isPictureCommandLine(int argumentCount, wchar_t** arguments);
// Runs the whole picture mode; messages go to the console the program was
// started from. Answers the process exit code.
int runPictureMode(int argumentCount, wchar_t** arguments);

// The console of the parent, or the output it handed over; null when there is none.
HANDLE consoleOutput();
// A console takes UTF-16; anything else gets UTF-8.
void writeText(HANDLE output, const wchar_t* text);
// One file through a load job of its own, so that each failure is known;
// its messages are written to `output` as the messages box would show them.
bool loadPart(const wchar_t* path, HANDLE output, ModelPart* part);

