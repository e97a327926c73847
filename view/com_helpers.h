// Small helpers for the view's COM objects. Windows only.
#pragma once
#include <windows.h>

// IID of ID3D11Texture2D, without linking dxguid.
inline constexpr GUID kTexture2DId = {0x6f15aaf2, 0xd208, 0x4e89, {0x9a, 0xb4, 0x48, 0x95, 0x35, 0xd3, 0x4f, 0x9c}};

inline void releaseInterface(IUnknown* object) {
    if (object) object->Release();
}
