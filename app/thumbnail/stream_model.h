// A model read from a shell stream within the caps every shell server keeps
// (size, time, memory): the stream's bytes in chunks, then parsed into a
// part. Runs inside Explorer or the preview host, so every limit is checked
// and every failure is an error HRESULT.
#pragma once
#include <windows.h>
#include <objidl.h>

#include "core/memory.h"
#include "stl/stl_mesh.h"

// Larger streams are refused without being read.
constexpr ULONGLONG kMaxShellStreamBytes = 256ull << 20;
// Reading and parsing stop once this much time has passed.
constexpr ULONGLONG kShellTimeLimitMs = 10000;

// The stream's size, with the stream at its start; ERROR_FILE_TOO_LARGE
// beyond the cap, E_INVALIDARG when empty.
HRESULT measureStream(IStream* stream, ULONGLONG* size);
// Reads on from *done until `size` bytes are in `block` or the tick count
// `until` has passed (S_FALSE then: more to read); ERROR_TIMEOUT once the
// deadline has; a short stream is a failure.
HRESULT readStreamPart(IStream* stream, uint8_t* block, ULONGLONG size, ULONGLONG* done, ULONGLONG until,
                       ULONGLONG deadline);
// The bytes parsed into the part, which takes the heap; stops at the
// deadline, or once *keepGoing turns 0 when given. ERROR_INVALID_DATA for a
// file that gives no triangles; on failure the caller destroys the heap.
HRESULT buildStreamPart(ModelPart* part, const uint8_t* bytes, ULONGLONG size, HeapHandle heap, ULONGLONG deadline,
                        const volatile uint8_t* keepGoing);
