// The preview pane as the preview host drives it: one handler from the
// server's class factory, a host window, the file as a stream; the time from
// DoPreview to the first frame the pane has drawn (and to the coarse frame
// it draws first of a large model), COUNT times on the same
// handler (Unload, then the next stream, as Explorer reuses a handler), and
// the longest the host's thread waited for the pane to answer a message
// meanwhile. Windows (and Wine) only.
//   preview_bench SERVER.dll FILE [COUNT=5] [WIDTH=640] [HEIGHT=480]
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <initguid.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstdlib>

#include "app/thumbnail/preview_pane.h"

namespace {

// {4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}
const CLSID kPreview = {0x4d1e7a3b, 0x8c52, 0x4f06, {0x9e, 0x1d, 0x2b, 0x7c, 0x5a, 0x9f, 0x3e, 0x61}};

double secondsNow() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

struct Shown {
    bool ok;
    double seconds;      // DoPreview to the first frame
    double coarse;       // to the first coarse frame; 0: none
    double longestWait;  // for one answer of the pane, or for the queue between two
};

// One preview on the handler; the pane's state asked between every pass of the queue.
Shown showOnce(IPreviewHandler* handler, HWND host, const wchar_t* file, RECT place) {
    Shown shown = {false, 0, 0, 0};
    IInitializeWithStream* init = nullptr;
    IStream* stream = nullptr;
    IOleWindow* window = nullptr;
    HWND pane = nullptr;
    if (FAILED(SHCreateStreamOnFileEx(file, STGM_READ, 0, FALSE, nullptr, &stream)) ||
        FAILED(handler->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&init))) ||
        FAILED(handler->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window))) ||
        FAILED(init->Initialize(stream, STGM_READ)) || FAILED(handler->SetWindow(host, &place))) {
    } else {
        double start = secondsNow(), last = start;
        if (SUCCEEDED(handler->DoPreview()) && SUCCEEDED(window->GetWindow(&pane))) {
            for (;;) {
                MSG message;
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
                LRESULT frames = SendMessageW(pane, kPaneStateMessage, 0, 0);
                LRESULT failure = SendMessageW(pane, kPaneStateMessage, 1, 0);
                double now = secondsNow();
                if (!shown.coarse && SendMessageW(pane, kPaneStateMessage, 4, 0) > 0) shown.coarse = now - start;
                if (now - last > shown.longestWait) shown.longestWait = now - last;
                last = now;
                if (frames > 0) {
                    shown.ok = true;
                    break;
                }
                if ((failure != kPaneLoading && failure != kPaneNoMessage) || now - start > 120) break;
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
            }
            shown.seconds = secondsNow() - start;
        }
        handler->Unload();
    }
    if (window) window->Release();
    if (init) init->Release();
    if (stream) stream->Release();
    return shown;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: preview_bench SERVER.dll FILE [COUNT=5] [WIDTH=640] [HEIGHT=480]\n");
        return 2;
    }
    int count = argc > 3 ? _wtoi(argv[3]) : 5;
    RECT place = {0, 0, argc > 4 ? _wtoi(argv[4]) : 640, argc > 5 ? _wtoi(argv[5]) : 480};
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE server = LoadLibraryW(argv[1]);
    auto getClassObject =
        server ? reinterpret_cast<decltype(&DllGetClassObject)>(GetProcAddress(server, "DllGetClassObject")) : nullptr;
    IClassFactory* factory = nullptr;
    IPreviewHandler* handler = nullptr;
    if (!getClassObject || FAILED(getClassObject(kPreview, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IPreviewHandler, reinterpret_cast<void**>(&handler)))) {
        fprintf(stderr, "cannot use %ls\n", argv[1]);
        return 1;
    }
    WNDCLASSW type = {};
    type.lpfnWndProc = DefWindowProcW;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"PreviewBenchHost";
    RegisterClassW(&type);
    HWND host = CreateWindowW(L"PreviewBenchHost", L"Preview", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              place.right + 40, place.bottom + 60, nullptr, nullptr, type.hInstance, nullptr);
    double first = 0, rest = 0, longestWait = 0, firstCoarse = 0, restCoarse = 0;
    bool ok = host != nullptr;
    for (int i = 0; i < count && ok; ++i) {
        Shown shown = showOnce(handler, host, argv[2], place);
        ok = shown.ok;
        if (i == 0) {
            first = shown.seconds;
            firstCoarse = shown.coarse;
        } else {
            rest += shown.seconds;
            restCoarse += shown.coarse;
        }
        if (shown.longestWait > longestWait) longestWait = shown.longestWait;
    }
    handler->Release();
    factory->Release();
    int later = count > 1 ? count - 1 : 1;
    printf("%d previews of %ld x %ld: first frame %.0f ms after DoPreview, then %.0f ms each; "
           "coarse frame first %.0f ms, then %.0f ms each (0: none); longest wait for the pane %.0f ms%s\n",
           count, place.right, place.bottom, first * 1000, rest * 1000 / later, firstCoarse * 1000,
           restCoarse * 1000 / later, longestWait * 1000, ok ? "" : " (a preview failed)");
    fflush(stdout);
    DestroyWindow(host);
    return ok ? 0 : 1;
}
