// `stlview --picture OUT.png [--size WxH] [--mode solid|outline|wireframe]
// [--view start|top|bottom|left|right|front|back] [--background RRGGBB] [--section AXIS=VALUE]
// [--section-flip] FILE...`: loads up to four files as parts, writes one PNG
// of the view a fresh load would show, cut by a section if asked, and ends
// without a window.
#pragma once
#include <windows.h>

#include "stl/stl_mesh.h"

constexpr int kPictureWritten = 0;
constexpr int kPictureFailed = 1;     // a file not loaded or the picture not written
constexpr int kPictureBadCommand = 2;

// What the command line asks for. Help wins (--help, -h or /? anywhere),
// then --version; any other argument that starts with "--" asks for a
// picture, so that a picture option without --picture, or an unknown
// option, is refused with exit code 2 rather than opened as a file.
enum class CommandLineKind { kWindow, kHelp, kVersion, kPicture, kSave };
CommandLineKind commandLineKind(int argumentCount, wchar_t** arguments);
// Writes the usage of every way to start the viewer; answers exit code 0.
int printUsage();
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

