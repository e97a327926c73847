#include "app/surface_checks.h"

#include "app/panel_glyphs.h"
#include "core/memory.h"
#include "numfmt/length_format.h"
#include "view/gpu_mesh.h"
#include "view/problem_edges.h"

namespace {

DWORD WINAPI runSurfaceChecks(void* parameter) {
    MainDialogState* state = static_cast<MainDialogState*>(parameter);
    for (int slot = 0; slot < kMaxParts && state->checkKeepGoing; ++slot) {
        PartCheck& check = state->checks[slot];
        if (check.state != kCheckPending) continue;
        const StlMesh* mesh = &state->parts[slot].mesh;
        uint8_t* marks = static_cast<uint8_t*>(allocArray(processHeap(), meshTriangleCount(mesh) + 1, 1, nullptr));
        SurfaceCheck result;
        bool done = marks && checkSurface(mesh, &result, marks, &state->checkKeepGoing, nullptr);
        if (!state->checkKeepGoing) {
            freeBytes(marks);
            break;
        }
        if (done) {
            check.result = result;
            check.marks = marks;
        } else {
            freeBytes(marks);
        }
        check.state = done ? kCheckDone : kCheckFailed;
        PostMessageW(state->dialog, kCheckFinishedMessage, static_cast<WPARAM>(slot), 0);
    }
    return 0;
}

wchar_t* appendWords(wchar_t* out, const wchar_t* text) {
    while (*text) *out++ = *text++;
    return out;
}

// The count and the words for one or for many.
wchar_t* appendPlural(wchar_t* out, uint64_t count, const wchar_t* one, const wchar_t* many) {
    out = formatCount(out, count);
    return appendWords(out, count == 1 ? one : many);
}

// "; " between the findings of one line.
wchar_t* appendCount(wchar_t* out, bool* first, uint64_t count, const wchar_t* one, const wchar_t* many) {
    if (!*first) out = appendWords(out, L"; ");
    *first = false;
    return appendPlural(out, count, one, many);
}

}  // namespace

bool startSurfaceChecks(MainDialogState* state) {
    stopSurfaceChecks(state);
    state->checkKeepGoing = 1;
    state->checkThread = CreateThread(nullptr, 0, runSurfaceChecks, state, 0, nullptr);
    if (!state->checkThread) {
        reportLastError(&state->sink.self);
        for (PartCheck& check : state->checks)
            if (check.state == kCheckPending) check.state = kCheckFailed;
        return false;
    }
    // The window stays quick while the check takes the other core.
    SetThreadPriority(state->checkThread, THREAD_PRIORITY_BELOW_NORMAL);
    return true;
}

void stopSurfaceChecks(MainDialogState* state) {
    if (!state->checkThread) return;
    state->checkKeepGoing = 0;
    WaitForSingleObject(state->checkThread, INFINITE);
    CloseHandle(state->checkThread);
    state->checkThread = nullptr;
}

void clearSurfaceChecks(MainDialogState* state) {
    stopSurfaceChecks(state);
    for (PartCheck& check : state->checks) {
        freeBytes(check.marks);
        check.marks = nullptr;
        check.state = kCheckNone;
    }
}

void showCheckedProblems(MainDialogState* state, int slot) {
    if (slot < 0 || slot >= usedPartCount(state)) return;
    const PartCheck& check = state->checks[slot];
    GpuMesh* mesh = static_cast<GpuMesh*>(state->parts[slot].gpuMesh);
    if (check.state != kCheckDone || !check.marks || !mesh) return;
    HWND view = dialogItem(state, kViewId);
    if (attachProblemEdges(view, mesh, check.marks, &state->sink.self) && flagOn(&state->preferences, kSettingShowProblems))
        InvalidateRect(view, nullptr, FALSE);
}

void showCheckLine(MainDialogState* state, int selected) {
    int parts = usedPartCount(state);
    SurfaceCheck total{};
    bool pending = false, failed = false, closed = true, insideOut = true;
    for (int slot = 0; slot < parts; ++slot) {
        if (selected >= 0 && slot != selected) continue;
        const PartCheck& check = state->checks[slot];
        pending |= check.state == kCheckPending;
        failed |= check.state != kCheckDone;
        if (check.state != kCheckDone) continue;
        const SurfaceCheck& r = check.result;
        total.shells += r.shells;
        total.holes += r.holes;
        total.openEdges += r.openEdges;
        total.nonManifoldEdges += r.nonManifoldEdges;
        total.flippedEdges += r.flippedEdges;
        total.degenerateTriangles += r.degenerateTriangles;
        closed &= r.closed != 0;
        insideOut &= r.insideOut != 0;
    }
    // The findings, worst first; room for five counts and their words.
    wchar_t line[9 + 5 * (kMaxCountText + 48)];
    wchar_t* out = line;
    if (parts == 0) {
        *out = 0;
    } else if (pending) {
        *appendWords(out, L"Checking the surface\u2026") = 0;
    } else if (failed) {
        *appendWords(out, L"Surface not checked: out of memory") = 0;
    } else {
        if (selected >= 0 && parts > 1) out += wsprintfW(out, L"Part %d: ", selected + 1);
        bool first = true;
        if (total.openEdges) {
            out = appendWords(out, L"Not closed: ");
            out = appendPlural(out, total.holes, L" hole (", L" holes (");
            out = appendPlural(out, total.openEdges, L" open edge)", L" open edges)");
            first = false;
        }
        if (total.nonManifoldEdges)
            out = appendCount(out, &first, total.nonManifoldEdges, L" edge shared by more than two faces",
                              L" edges shared by more than two faces");
        if (total.flippedEdges)
            out = appendCount(out, &first, total.flippedEdges, L" edge between faces turned opposite ways",
                              L" edges between faces turned opposite ways");
        if (closed && insideOut && total.shells) {
            if (!first) out = appendWords(out, L"; ");
            out = appendWords(out, L"Inside out: all faces point inwards");
            first = false;
        } else if (closed && !total.flippedEdges) {
            out = appendWords(out, L"Closed surface, ");
            out = appendPlural(out, total.shells, L" shell", L" shells");
            first = false;
        }
        if (total.degenerateTriangles)
            out = appendCount(out, &first, total.degenerateTriangles, L" triangle without area",
                              L" triangles without area");
        *out = 0;
    }
    setPanelText(dialogItem(state, kCheckLineId), line);
}
