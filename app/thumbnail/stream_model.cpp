#include "app/thumbnail/stream_model.h"

#include <cstring>

#include "load/load_job.h"

namespace {

constexpr ULONG kReadChunk = 1 << 20;

struct ParseLimits {
    ULONGLONG deadline;
    const volatile uint8_t* keepGoing;
};

// Answers 0, which stops a parser, once the deadline has passed or a stop is asked.
intptr_t stopAtLimits(void* limits, StatusCode, uintptr_t, const Utf16*) {
    const ParseLimits* own = static_cast<const ParseLimits*>(limits);
    return GetTickCount64() < own->deadline && (!own->keepGoing || *own->keepGoing);
}

}  // namespace

HRESULT measureStream(IStream* stream, ULONGLONG* size) {
    STATSTG facts;
    HRESULT result = stream->Stat(&facts, STATFLAG_NONAME);
    if (FAILED(result)) return result;
    if (facts.cbSize.QuadPart > kMaxShellStreamBytes) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (facts.cbSize.QuadPart == 0) return E_INVALIDARG;
    *size = facts.cbSize.QuadPart;
    LARGE_INTEGER start = {};
    return stream->Seek(start, STREAM_SEEK_SET, nullptr);
}

HRESULT readStreamPart(IStream* stream, uint8_t* block, ULONGLONG size, ULONGLONG* done, ULONGLONG until,
                       ULONGLONG deadline) {
    while (*done < size) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        if (now >= until) return S_FALSE;
        ULONG wanted = size - *done < kReadChunk ? static_cast<ULONG>(size - *done) : kReadChunk;
        ULONG got = 0;
        HRESULT result = stream->Read(block + *done, wanted, &got);
        if (FAILED(result)) return result;
        if (got == 0 || got > wanted) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        *done += got;
    }
    return S_OK;
}

HRESULT buildStreamPart(ModelPart* part, const uint8_t* bytes, ULONGLONG size, HeapHandle heap, ULONGLONG deadline,
                        const volatile uint8_t* keepGoing) {
    memset(part, 0, sizeof *part);
    ParseLimits limits = {deadline, keepGoing};
    MessageSink sink = {&limits, stopAtLimits};
    if (!buildModelPart(part, 0, bytes, size, heap, nullptr, &sink) || !part->mesh.solidCount)
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    part->heap = heap;
    part->fileSize = size;
    return S_OK;
}
