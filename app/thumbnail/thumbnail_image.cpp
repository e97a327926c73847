#include "app/thumbnail/thumbnail_image.h"

#include <cstring>

#include "app/preferences.h"
#include "core/memory.h"
#include "load/load_job.h"
#include "view/camera.h"
#include "view/offscreen_render.h"

namespace {

constexpr ULONG kReadChunk = 1 << 20;

// Answers 0, which stops a parser, once the deadline has passed.
intptr_t stopAtDeadline(void* deadline, StatusCode, uintptr_t, const Utf16*) {
    return GetTickCount64() < *static_cast<const ULONGLONG*>(deadline);
}

HRESULT streamSize(IStream* stream, ULONGLONG* size) {
    STATSTG facts;
    HRESULT result = stream->Stat(&facts, STATFLAG_NONAME);
    if (FAILED(result)) return result;
    if (facts.cbSize.QuadPart > kMaxThumbnailStreamBytes) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (facts.cbSize.QuadPart == 0) return E_INVALIDARG;
    *size = facts.cbSize.QuadPart;
    LARGE_INTEGER start = {};
    return stream->Seek(start, STREAM_SEEK_SET, nullptr);
}

// The whole stream into a block of the heap; a short stream is a failure.
HRESULT readWholeStream(IStream* stream, HeapHandle heap, ULONGLONG deadline, uint8_t** bytes, ULONGLONG* size) {
    HRESULT result = streamSize(stream, size);
    if (FAILED(result)) return result;
    uint8_t* block = static_cast<uint8_t*>(allocArray(heap, *size, 1, nullptr));
    if (!block) return E_OUTOFMEMORY;
    for (ULONGLONG done = 0; done < *size;) {
        if (GetTickCount64() >= deadline) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        ULONG wanted = *size - done < kReadChunk ? static_cast<ULONG>(*size - done) : kReadChunk;
        ULONG got = 0;
        result = stream->Read(block + done, wanted, &got);
        if (FAILED(result)) return result;
        if (got == 0 || got > wanted) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        done += got;
    }
    *bytes = block;
    return S_OK;
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
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture->width;
    info.bmiHeader.biHeight = -picture->height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
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
                        kThumbnailSamples};
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
    ULONGLONG deadline = GetTickCount64() + kThumbnailTimeLimitMs;
    HeapHandle heap = createPrivateHeap();
    if (!heap) return E_OUTOFMEMORY;
    uint8_t* bytes = nullptr;
    ULONGLONG size = 0;
    HRESULT result = readWholeStream(stream, heap, deadline, &bytes, &size);
    if (SUCCEEDED(result)) {
        ModelPart part;
        memset(&part, 0, sizeof part);
        MessageSink sink = {&deadline, stopAtDeadline};
        result = buildModelPart(&part, 0, bytes, size, heap, nullptr, &sink) && part.mesh.solidCount
                     ? drawPart(&part, side, bitmap)
                     : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    // The file's bytes, the parsed model and the prepared mesh all live in this heap.
    destroyPrivateHeap(heap);
    return result;
}
