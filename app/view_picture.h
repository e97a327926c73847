// File > Save picture and Copy picture: the view's picture at its current
// size as a PNG file or on the clipboard.
#pragma once
#include <windows.h>

#include "core/status.h"
#include "stl/stl_mesh.h"

// Where Save picture proposes to write: the part's folder and name, with ".png".
void proposePicturePath(const ModelPart* part, wchar_t* path, uint32_t capacity);
// The part's path with `tail` in place of its extension ("-fixed.stl"); empty
// when the part has no path or the result does not fit into `capacity` units.
void proposeBeside(const ModelPart* part, const wchar_t* tail, wchar_t* path, uint32_t capacity);
// Writes the picture of the dialog's view to the path and says so in the
// messages box; false (reported to the sink) when it could not.
bool savePictureTo(HWND dialog, const wchar_t* path, const MessageSink* sink);
// The view's picture on the clipboard; Ctrl+C stays the text copy of the
// messages box while that has the focus.
void copyViewPicture(HWND dialog, bool modelShown, const MessageSink* sink);
