// Explorer thumbnails as a thumbnail host draws them: one provider object
// after another from the server's class factory, each given the file's
// bytes as a stream and asked for one bitmap, in one process. Prints the
// time of the first thumbnail and the mean of the others. With --fresh the
// server is asked DllCanUnloadNow after each thumbnail, which lets its
// device go, so each thumbnail makes its own as a host that unloads the
// server between files would see. Windows (and Wine) only.
//   thumbnail_bench [--fresh] SERVER.dll FILE.stl [COUNT=20] [SIDE=256]
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <initguid.h>
#include <thumbcache.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

// {c9754f59-910f-4c7d-89d7-15722d1a29bb}
const CLSID kProvider = {0xc9754f59, 0x910f, 0x4c7d, {0x89, 0xd7, 0x15, 0x72, 0x2d, 0x1a, 0x29, 0xbb}};

double secondsNow() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

// One provider, one stream over the file, one bitmap; false on any failure.
bool drawOne(IClassFactory* factory, const wchar_t* file, UINT side) {
    IInitializeWithStream* init = nullptr;
    IThumbnailProvider* provider = nullptr;
    IStream* stream = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha;
    bool drawn = SUCCEEDED(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init))) &&
                 SUCCEEDED(SHCreateStreamOnFileEx(file, STGM_READ, 0, FALSE, nullptr, &stream)) &&
                 SUCCEEDED(init->Initialize(stream, STGM_READ)) &&
                 SUCCEEDED(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider))) &&
                 SUCCEEDED(provider->GetThumbnail(side, &bitmap, &alpha));
    if (bitmap) DeleteObject(bitmap);
    if (provider) provider->Release();
    if (stream) stream->Release();
    if (init) init->Release();
    return drawn;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool fresh = argc > 1 && wcscmp(argv[1], L"--fresh") == 0;
    if (fresh) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: thumbnail_bench [--fresh] SERVER.dll FILE.stl [COUNT=20] [SIDE=256]\n");
        return 2;
    }
    int count = argc > 3 ? _wtoi(argv[3]) : 20;
    UINT side = argc > 4 ? UINT(_wtoi(argv[4])) : 256;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE server = LoadLibraryW(argv[1]);
    auto getClassObject =
        server ? reinterpret_cast<decltype(&DllGetClassObject)>(GetProcAddress(server, "DllGetClassObject")) : nullptr;
    auto canUnloadNow =
        server ? reinterpret_cast<decltype(&DllCanUnloadNow)>(GetProcAddress(server, "DllCanUnloadNow")) : nullptr;
    IClassFactory* factory = nullptr;
    if (!getClassObject || !canUnloadNow || FAILED(getClassObject(kProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        fprintf(stderr, "cannot use %ls\n", argv[1]);
        return 1;
    }
    double start = secondsNow();
    bool ok = drawOne(factory, argv[2], side);
    double first = secondsNow() - start;
    start = secondsNow();
    for (int i = 1; i < count && ok; ++i) {
        if (fresh) {
            // The factory holds the module; with it released the server may let go.
            factory->Release();
            factory = nullptr;
            ok = canUnloadNow() == S_OK &&
                 SUCCEEDED(getClassObject(kProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        }
        ok = ok && drawOne(factory, argv[2], side);
    }
    double rest = count > 1 ? (secondsNow() - start) / (count - 1) : 0;
    if (factory) factory->Release();
    printf("%s%d thumbnails of %u x %u: first %.0f ms, then %.1f ms each%s\n", fresh ? "a device each: " : "one device: ", count,
           side, side, first * 1000, rest * 1000, ok ? "" : " (a thumbnail failed)");
    return ok ? 0 : 1;
}
