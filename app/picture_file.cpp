#include "app/picture_file.h"

#include <wincodec.h>

#include <cstring>

#include "core/memory.h"
#include "view/com_helpers.h"

namespace {

// Own copies of the identifiers, so that nothing needs linking beyond ole32.
constexpr CLSID kImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr IID kImagingFactoryId = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
constexpr GUID kPngContainer = {0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
constexpr GUID kBgraFormat = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};

// The picture's rows as blue, green, red, alpha, the order of Windows bitmaps;
// bottomUp stores the last row first.
void copyAsBgra(const Picture* picture, uint8_t* out, bool bottomUp) {
    size_t rowBytes = static_cast<size_t>(picture->width) * 4;
    for (int32_t y = 0; y < picture->height; ++y) {
        const uint8_t* in = picture->pixels + y * rowBytes;
        uint8_t* row = out + (bottomUp ? picture->height - 1 - y : y) * rowBytes;
        for (int32_t x = 0; x < picture->width; ++x, in += 4, row += 4) {
            row[0] = in[2];
            row[1] = in[1];
            row[2] = in[0];
            row[3] = in[3];
        }
    }
}

HRESULT encodePng(IWICImagingFactory* factory, const wchar_t* path, const Picture* picture, uint8_t* bgra) {
    SystemPath file;
    if (!makeSystemPath(path, &file)) return E_OUTOFMEMORY;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    UINT stride = static_cast<UINT>(picture->width) * 4;
    UINT bytes = stride * static_cast<UINT>(picture->height);
    WICPixelFormatGUID format = kBgraFormat;
    HRESULT result = factory->CreateStream(&stream);
    if (SUCCEEDED(result)) result = stream->InitializeFromFilename(file.text, GENERIC_WRITE);
    if (SUCCEEDED(result)) result = factory->CreateEncoder(kPngContainer, nullptr, &encoder);
    if (SUCCEEDED(result)) result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(result)) result = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(result)) result = frame->Initialize(nullptr);
    if (SUCCEEDED(result)) result = frame->SetSize(static_cast<UINT>(picture->width), static_cast<UINT>(picture->height));
    if (SUCCEEDED(result)) result = frame->SetPixelFormat(&format);
    if (SUCCEEDED(result) && memcmp(&format, &kBgraFormat, sizeof format) != 0) result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(result)) result = frame->WritePixels(static_cast<UINT>(picture->height), stride, bytes, bgra);
    if (SUCCEEDED(result)) result = frame->Commit();
    if (SUCCEEDED(result)) result = encoder->Commit();
    releaseInterface(frame);
    releaseInterface(encoder);
    releaseInterface(stream);
    // A half-written file is not left behind as if it were a picture.
    if (FAILED(result)) DeleteFileW(file.text);
    releaseSystemPath(&file);
    return result;
}

bool reportFailure(HRESULT result, const MessageSink* sink) {
    if (sink) report(sink, kSystemError, static_cast<uint32_t>(result));
    return false;
}

// Another program (a clipboard manager, a remote desktop) may hold the
// clipboard for a moment: a few tries over about half a second.
bool openClipboardRetrying(HWND owner) {
    for (int tries = 0; tries < 10; ++tries) {
        if (OpenClipboard(owner)) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

bool writePngFile(const wchar_t* path, const Picture* picture, const MessageSink* sink) {
    uint64_t pixelCount = static_cast<uint64_t>(picture->width) * static_cast<uint64_t>(picture->height);
    uint8_t* bgra = static_cast<uint8_t*>(allocArray(processHeap(), pixelCount, 4, sink));
    if (!bgra) return false;
    copyAsBgra(picture, bgra, false);
    IWICImagingFactory* factory = nullptr;
    HRESULT result = CoCreateInstance(kImagingFactory, nullptr, CLSCTX_INPROC_SERVER, kImagingFactoryId,
                                      reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(result)) result = encodePng(factory, path, picture, bgra);
    releaseInterface(factory);
    freeBytes(bgra);
    return SUCCEEDED(result) || reportFailure(result, sink);
}

bool copyPictureToClipboard(HWND owner, const Picture* picture, const MessageSink* sink) {
    size_t pixelBytes = static_cast<size_t>(picture->width) * static_cast<size_t>(picture->height) * 4;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + pixelBytes);
    if (!memory) {
        if (sink) reportCode(sink, kOutOfMemory);
        return false;
    }
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(memory));
    memset(header, 0, sizeof *header);
    header->biSize = sizeof *header;
    header->biWidth = picture->width;
    header->biHeight = picture->height;  // bottom-up, as every reader expects
    header->biPlanes = 1;
    header->biBitCount = 32;
    header->biCompression = BI_RGB;
    header->biSizeImage = static_cast<DWORD>(pixelBytes);
    copyAsBgra(picture, reinterpret_cast<uint8_t*>(header + 1), true);
    GlobalUnlock(memory);
    bool copied = openClipboardRetrying(owner) && EmptyClipboard() && SetClipboardData(CF_DIB, memory);
    if (!copied) {
        reportLastError(sink);
        GlobalFree(memory);
    }
    CloseClipboard();
    return copied;
}
