// What the library's COM objects share: the count of live objects and locks
// that DllCanUnloadNow answers from, the library's module handle, making an
// object and taking its stream.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <new>

#include "core/memory.h"

constexpr IID kUnknownId = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kInitializeWithStreamId = {0xb824b49d, 0x22ac, 0x4161, {0xac, 0x8a, 0x99, 0x16, 0xe8, 0xfa, 0x3f, 0x7f}};

inline bool sameId(REFIID a, const IID& b) {
    return IsEqualIID(a, b) != 0;
}

void addModuleReference();
void releaseModuleReference();
HMODULE serverModule();

// A new object of the class in a block of the process heap (placement only:
// the block is the heap's), asked for the interface; it goes again unless
// that is given.
template <typename Object>
HRESULT createServerObject(REFIID id, void** object) {
    void* memory = allocBytes(sizeof(Object));
    if (!memory) return E_OUTOFMEMORY;
    Object* made = ::new (memory) Object();
    HRESULT result = made->QueryInterface(id, object);
    made->Release();
    return result;
}

// IInitializeWithStream::Initialize: the shell gives an object one stream,
// held until the object lets it go.
inline HRESULT takeStream(IStream** held, IStream* stream) {
    if (!stream) return E_INVALIDARG;
    if (*held) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    *held = stream;
    stream->AddRef();
    return S_OK;
}
