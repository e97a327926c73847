// A stream as the shell hands one to its handlers, over bytes in memory.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

// Hands out `bytes` while claiming `claimed` of them (0: as many as there
// are); a read past the bytes fails. The handlers need only Stat, a seek
// to the start (where it is) and Read.
struct TestStream : IStream {
    explicit TestStream(std::string bytes, ULONGLONG claimed = 0)
        : bytes(std::move(bytes)), size(claimed ? claimed : this->bytes.size()) {}
    STDMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (id == IID_IUnknown || id == IID_IStream || id == IID_ISequentialStream) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&references); }
    STDMETHODIMP Read(void* out, ULONG wanted, ULONG* got) override {
        if (readDelay) Sleep(readDelay);
        *got = static_cast<ULONG>(std::min<size_t>(wanted, bytes.size() - position));
        memcpy(out, bytes.data() + position, *got);
        position = position + *got;
        return *got ? S_OK : STG_E_READFAULT;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD, ULARGE_INTEGER*) override {
        return move.QuadPart == 0 && position == 0 ? S_OK : E_NOTIMPL;
    }
    STDMETHODIMP Stat(STATSTG* facts, DWORD) override {
        *facts = STATSTG{};
        facts->cbSize.QuadPart = size;
        return S_OK;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
    std::string bytes;
    ULONGLONG size;
    volatile size_t position = 0;
    volatile LONG references = 1;
    DWORD readDelay = 0;  // milliseconds each read takes, as from a slow drive
};

