// The per-user registry entries of the library's two shell servers, the
// thumbnail provider and the preview handler, for .stl and .3mf. Each
// extension's handler entry another program held is kept in our class key
// and given back when we go, unless that program has taken it again since.
#pragma once
#include <windows.h>

// {c9754f59-910f-4c7d-89d7-15722d1a29bb}
constexpr CLSID kThumbnailClass = {0xc9754f59, 0x910f, 0x4c7d, {0x89, 0xd7, 0x15, 0x72, 0x2d, 0x1a, 0x29, 0xbb}};
// {4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}
constexpr CLSID kPreviewClass = {0x4d1e7a3b, 0x8c52, 0x4f06, {0x9e, 0x1d, 0x2b, 0x7c, 0x5a, 0x9f, 0x3e, 0x61}};

// Both servers' class keys naming the library at `path`, and the handler entries.
HRESULT registerShellServers(const wchar_t* path);
// The handler entries given back, then both class keys and the preview list's value removed.
HRESULT unregisterShellServers();

// What the installer does around its own table of values, which writes the
// class keys: the handler entries taken with the previous ones kept, and
// given back before the class keys (which keep them) go.
HRESULT takeShellHandlers();
void giveBackShellHandlers();
