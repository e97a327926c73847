// A picture leaves the program as a PNG file (Windows Imaging Component) or
// as a bitmap on the clipboard.
#pragma once
#include <windows.h>

#include "view/offscreen_render.h"

// Needs COM on the calling thread. Failures are reported with their HRESULT.
bool writePngFile(const wchar_t* path, const Picture* picture, const MessageSink* sink);
// A device-independent bitmap (CF_DIB), the clipboard owned by `owner`.
bool copyPictureToClipboard(HWND owner, const Picture* picture, const MessageSink* sink);
