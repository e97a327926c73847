// Uploading a parsed part to the view's device, on the load job's thread.
#include "view/mesh_upload.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "view/gpu_device.h"
#include "view/view_lookup.h"

namespace {

// The vertices of one piece: its share of each of its solids, in order.
void expandPiece(const StlSolid* solids, const SolidRange* ranges, const MeshPiece* piece, uint8_t colorOrder,
                 MeshVertex* out) {
    for (uint32_t s = piece->firstSolid; s < piece->firstSolid + piece->solidSpan; ++s) {
        TriangleSpan span = solidInPiece(&ranges[s], piece);
        if (span.first >= span.end) continue;
        out = expandTriangles(&solids[s], static_cast<uint32_t>(span.first - ranges[s].firstTriangle),
                              static_cast<uint32_t>(span.end - span.first), out, colorOrder);
    }
}

HRESULT createPieceBuffer(ID3D11Device* device, const MeshVertex* vertices, uint32_t triangles, ID3D11Buffer** buffer) {
    D3D11_BUFFER_DESC description;
    memset(&description, 0, sizeof description);
    // A piece is at most kPieceBytesCap: the byte count fits 32 bits.
    description.ByteWidth = triangles * 3 * static_cast<UINT>(sizeof(MeshVertex));
    description.Usage = D3D11_USAGE_IMMUTABLE;
    description.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    D3D11_SUBRESOURCE_DATA initial = {vertices, 0, 0};
    return createGpuBuffer(device, &description, &initial, buffer);
}

}  // namespace

void releasePieces(MeshPiece* pieces, uint32_t count, HeapHandle heap) {
    for (uint32_t p = 0; p < count; ++p) {
        if (pieces[p].vertices) pieces[p].vertices->Release();
        if (pieces[p].problemIndices) pieces[p].problemIndices->Release();
        if (pieces[p].problemStarts) heapFree(heap, pieces[p].problemStarts);
    }
    heapFree(heap, pieces);
}

bool buildGpuMesh(GpuMesh* gpuMesh, ID3D11Device* device, const StlMesh* mesh, uint8_t colorOrder,
                  HeapHandle heap, const MessageSink* sink, const volatile int32_t* stop, int32_t* failure) {
    int32_t ignored;
    if (!failure) failure = &ignored;
    *failure = S_OK;
    gpuMesh->pieces = nullptr;
    gpuMesh->pieceCount = 0;
    uint64_t triangles = gpuMesh->triangleCount;
    if (triangles == 0) return true;
    uint32_t each = pieceTrianglesOf(device);
    uint64_t count = pieceCountFor(triangles, each);
    // allocArray refuses a count whose bytes overflow; a piece count beyond
    // 32 bits would need more memory than any machine has.
    MeshPiece* pieces =
        count >> 32 ? nullptr : static_cast<MeshPiece*>(allocArray(heap, count, sizeof(MeshPiece), sink));
    if (!pieces) {
        *failure = E_OUTOFMEMORY;
        return false;
    }
    layOutPieces(gpuMesh->ranges, gpuMesh->solidCount, triangles, each, pieces, static_cast<uint32_t>(count));
    // One piece's vertices at a time: the extra memory of an upload is a piece.
    uint32_t staged = triangles < each ? static_cast<uint32_t>(triangles) : each;
    MeshVertex* vertices = static_cast<MeshVertex*>(allocArray(heap, uint64_t{staged} * 3, sizeof(MeshVertex), sink));
    uint32_t made = 0;
    HRESULT result = vertices ? S_OK : E_OUTOFMEMORY;
    for (; vertices && made < count; ++made) {
        if (stop && *stop) {
            result = E_ABORT;
            break;
        }
        expandPiece(mesh->solids, gpuMesh->ranges, &pieces[made], colorOrder, vertices);
        result = createPieceBuffer(device, vertices, pieces[made].triangleCount, &pieces[made].vertices);
        if (FAILED(result)) {
            pieces[made].vertices = nullptr;
            break;
        }
    }
    if (vertices) heapFree(heap, vertices);
    if (made < count) {
        // The allocation reported its own failure.
        if (vertices && result != E_ABORT) reportGpuFailure(result, sink);
        releasePieces(pieces, made, heap);
        *failure = result;
        return false;
    }
    gpuMesh->pieces = pieces;
    gpuMesh->pieceCount = static_cast<uint32_t>(count);
    gpuMesh->vertexOrder = colorOrder;
    return true;
}

void releaseGpuMesh(GpuMesh* mesh) {
    // Both the view and the part's owner release; the second call finds nothing.
    MeshPiece* pieces = mesh->pieces;
    uint32_t count = mesh->pieceCount;
    mesh->pieces = nullptr;
    mesh->pieceCount = 0;
    if (pieces) releasePieces(pieces, count, mesh->heap);
}

bool recolourGpuMesh(void* viewWindow, GpuMesh* gpuMesh, const StlMesh* mesh, uint8_t colorOrder, HeapHandle heap,
                     const MessageSink* sink) {
    // Only the window thread frees the state, and this runs on it.
    ViewState* state = viewStateOf(viewWindow);
    // Parts going up to a new device meanwhile would come back in the old colours.
    if (!state || state->uploadingParts) return false;
    acquireSpinLock(&state->lock);
    ID3D11Device* device = state->pipeline.device;
    if (device) device->AddRef();
    releaseSpinLock(&state->lock);
    if (!device) return false;
    GpuMesh fresh = *gpuMesh;
    bool built = buildGpuMesh(&fresh, device, mesh, colorOrder, heap, sink);
    device->Release();
    if (!built) return false;
    acquireSpinLock(&state->lock);
    MeshPiece* old = gpuMesh->pieces;
    uint32_t oldCount = gpuMesh->pieceCount;
    // The problem lists index the same vertices whatever their colours, as
    // long as the pieces split the triangles alike.
    if (old && oldCount == fresh.pieceCount && old[0].triangleCount == fresh.pieces[0].triangleCount) {
        for (uint32_t p = 0; p < oldCount; ++p) {
            fresh.pieces[p].problemIndices = old[p].problemIndices;
            fresh.pieces[p].problemStarts = old[p].problemStarts;
            old[p].problemIndices = nullptr;
            old[p].problemStarts = nullptr;
        }
    }
    gpuMesh->pieces = fresh.pieces;
    gpuMesh->pieceCount = fresh.pieceCount;
    gpuMesh->vertexOrder = colorOrder;
    releaseSpinLock(&state->lock);
    if (old) releasePieces(old, oldCount, heap);
    InvalidateRect(static_cast<HWND>(viewWindow), nullptr, FALSE);
    return true;
}
