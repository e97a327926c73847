// The picture behind an Explorer thumbnail: an STL or 3MF file read from a
// stream within the caps of stream_model.h, drawn by the viewer's offscreen
// renderer as a square with a transparent background. Runs inside Explorer, so every limit is checked and every
// failure is an error HRESULT; nothing is kept between calls.
#pragma once
#include <windows.h>
#include <objidl.h>

constexpr UINT kMaxThumbnailSide = 2560;
// Enough for a picture this small; the device is shared with every other
// thumbnail the host process draws.
constexpr UINT kThumbnailSamples = 4;

// A side x side 32-bit top-down DIB section with premultiplied alpha, for
// WTSAT_ARGB. On failure *bitmap is null.
HRESULT thumbnailFromStream(IStream* stream, UINT side, HBITMAP* bitmap);

// The header of a 32-bit picture whose top row comes first, as the
// offscreen renderer writes it (blue in the low byte).
BITMAPINFO topDownBitmapInfo(LONG width, LONG height);
