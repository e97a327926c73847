#include "app/thumbnail/thumbnail_image.h"

#include <cstring>

#include "app/preferences.h"
#include "app/thumbnail/stream_model.h"
#include "core/memory.h"
#include "view/camera.h"
#include "view/offscreen_render.h"

namespace {

// The whole stream into a block of the heap.
HRESULT readWholeStream(IStream* stream, HeapHandle heap, ULONGLONG deadline, uint8_t** bytes, ULONGLONG* size) {
    HRESULT result = measureStream(stream, size);
    if (FAILED(result)) return result;
    uint8_t* block = static_cast<uint8_t*>(allocArray(heap, *size, 1, nullptr));
    if (!block) return E_OUTOFMEMORY;
    ULONGLONG done = 0;
    result = readStreamPart(stream, block, *size, &done, deadline, deadline);
    if (SUCCEEDED(result)) *bytes = block;
    return result;
}

// Premultiplied blue, green, red, alpha. The resolve averages in linear
// light, so an edge's colour can exceed its alpha; it is held to it.
void storePremultiplied(const Picture* picture, uint8_t* out) {
    const uint8_t* in = picture->pixels;
    size_t count = static_cast<size_t>(picture->width) * static_cast<size_t>(picture->height);
    for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
        uint8_t alpha = in[3];
        out[0] = in[2] < alpha ? in[2] : alpha;
        out[1] = in[1] < alpha ? in[1] : alpha;
        out[2] = in[0] < alpha ? in[0] : alpha;
        out[3] = alpha;
    }
}

HRESULT bitmapOf(const Picture* picture, HBITMAP* bitmap) {
    BITMAPINFO info = topDownBitmapInfo(picture->width, picture->height);
    void* bits = nullptr;
    HBITMAP made = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!made || !bits) {
        if (made) DeleteObject(made);
        return E_OUTOFMEMORY;
    }
    storePremultiplied(picture, static_cast<uint8_t*>(bits));
    *bitmap = made;
    return S_OK;
}

HRESULT drawPart(ModelPart* part, UINT side, HBITMAP* bitmap) {
    PictureLook look = {static_cast<int32_t>(side),
                        static_cast<int32_t>(side),
                        kRenderSolid,
                        degreesToAngle(kDefaultYawDegrees),
                        degreesToAngle(kDefaultPitchDegrees),
                        kDefaultObjectColor,
                        0,  // transparent
                        initialSection(),
                        kThumbnailSamples,
                        OverhangTint{},
                        0};
    Picture picture;
    if (!renderPartsPicture(part, 1, &look, &picture, nullptr)) return E_FAIL;
    HRESULT result = bitmapOf(&picture, bitmap);
    freePicture(&picture);
    return result;
}

}  // namespace

HRESULT thumbnailFromStream(IStream* stream, UINT side, HBITMAP* bitmap) {
    if (!bitmap) return E_POINTER;
    *bitmap = nullptr;
    if (!stream || side == 0 || side > kMaxThumbnailSide) return E_INVALIDARG;
    ULONGLONG deadline = GetTickCount64() + kShellTimeLimitMs;
    HeapHandle heap = createPrivateHeap();
    if (!heap) return E_OUTOFMEMORY;
    uint8_t* bytes = nullptr;
    ULONGLONG size = 0;
    HRESULT result = readWholeStream(stream, heap, deadline, &bytes, &size);
    if (SUCCEEDED(result)) {
        ModelPart part;
        result = buildStreamPart(&part, bytes, size, heap, deadline, nullptr);
        if (SUCCEEDED(result)) result = drawPart(&part, side, bitmap);
    }
    // The file's bytes, the parsed model and the prepared mesh all live in this heap.
    destroyPrivateHeap(heap);
    return result;
}

BITMAPINFO topDownBitmapInfo(LONG width, LONG height) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}
