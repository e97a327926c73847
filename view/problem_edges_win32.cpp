// The problem lists' index buffers, one per piece, made on the window thread
// when a check ends; frame_render.cpp draws them.
#include "view/problem_edges.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "view/gpu_device.h"
#include "view/view_lookup.h"

namespace {

void releaseProblems(MeshPiece* pieces, uint32_t count, HeapHandle heap) {
    for (uint32_t p = 0; p < count; ++p) {
        if (pieces[p].problemIndices) pieces[p].problemIndices->Release();
        if (pieces[p].problemStarts) heapFree(heap, pieces[p].problemStarts);
        pieces[p].problemIndices = nullptr;
        pieces[p].problemStarts = nullptr;
    }
}

// One piece's lists; a piece without problems gets none.
HRESULT buildPieceProblems(const GpuMesh* mesh, MeshPiece* piece, ID3D11Device* device, const uint8_t* marks,
                           const MessageSink* sink) {
    HeapHandle heap = mesh->heap;
    uint32_t* starts =
        static_cast<uint32_t*>(allocArray(heap, problemStartCount(piece->solidSpan), sizeof(uint32_t), sink));
    if (!starts) return E_OUTOFMEMORY;
    uint64_t count = countProblemIndices(marks, mesh->ranges, piece, starts);
    if (count == 0) {
        heapFree(heap, starts);
        return S_OK;
    }
    uint32_t* indices = static_cast<uint32_t*>(allocArray(processHeap(), count, sizeof(uint32_t), sink));
    if (!indices) {
        heapFree(heap, starts);
        return E_OUTOFMEMORY;
    }
    fillProblemIndices(marks, mesh->ranges, piece, starts, indices);
    D3D11_BUFFER_DESC description;
    memset(&description, 0, sizeof description);
    // At most nine indices a triangle: 36 bytes where its vertices take 48,
    // so the buffer is smaller than the piece's.
    description.ByteWidth = static_cast<UINT>(count * sizeof(uint32_t));
    description.Usage = D3D11_USAGE_IMMUTABLE;
    description.BindFlags = D3D11_BIND_INDEX_BUFFER;
    D3D11_SUBRESOURCE_DATA initial = {indices, 0, 0};
    ID3D11Buffer* buffer = nullptr;
    HRESULT result = device->CreateBuffer(&description, &initial, &buffer);
    freeBytes(indices);
    if (FAILED(result)) {
        reportGpuError(result, sink);
        heapFree(heap, starts);
        return result;
    }
    piece->problemStarts = starts;
    piece->problemIndices = buffer;
    return S_OK;
}

}  // namespace

bool buildProblemEdges(const GpuMesh* mesh, MeshPiece* pieces, ID3D11Device* device, const uint8_t* marks,
                       const MessageSink* sink) {
    if (mesh->solidCount == 0) return true;
    for (uint32_t p = 0; p < mesh->pieceCount; ++p) {
        if (SUCCEEDED(buildPieceProblems(mesh, &pieces[p], device, marks, sink))) continue;
        releaseProblems(pieces, p, mesh->heap);
        return false;
    }
    return true;
}

bool attachProblemEdges(void* viewWindow, GpuMesh* mesh, const uint8_t* marks, const MessageSink* sink) {
    // Only the window thread frees the state, and this runs on it.
    ViewState* state = viewStateOf(viewWindow);
    if (!state || !mesh || mesh->problemMarks) return false;
    mesh->problemMarks = marks;
    acquireSpinLock(&state->lock);
    MeshPiece* pieces = mesh->pieces;
    uint32_t count = mesh->pieceCount;
    ID3D11Device* device = nullptr;
    if (count) mesh->pieces[0].vertices->GetDevice(&device);
    // Built apart and swapped in: a frame drawn meanwhile sees all or nothing.
    MeshPiece* fresh = count ? static_cast<MeshPiece*>(allocArray(mesh->heap, count, sizeof(MeshPiece), sink)) : nullptr;
    if (fresh) memcpy(fresh, mesh->pieces, count * sizeof(MeshPiece));
    releaseSpinLock(&state->lock);
    bool built = device && fresh && buildProblemEdges(mesh, fresh, device, marks, sink);
    if (device) device->Release();
    if (built) {
        acquireSpinLock(&state->lock);
        // Pieces uploaded anew meanwhile (a new device) get their lists from the marks.
        bool same = mesh->pieces == pieces && mesh->pieceCount == count;
        for (uint32_t p = 0; same && p < count; ++p) {
            mesh->pieces[p].problemIndices = fresh[p].problemIndices;
            mesh->pieces[p].problemStarts = fresh[p].problemStarts;
        }
        releaseSpinLock(&state->lock);
        if (!same) releaseProblems(fresh, count, mesh->heap);
    }
    if (fresh) heapFree(mesh->heap, fresh);
    return built;
}
