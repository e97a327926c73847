// `stlview --save OUT.stl|OUT.3mf [--repair] FILE...`: loads up to four
// files as parts and saves them as one model, as File > Save as does,
// without a window; the exit codes are those of --picture.
#pragma once
#include <windows.h>

// Messages go to the console the program was started from. Answers the exit code.
int runSaveMode(int argumentCount, wchar_t** arguments);
