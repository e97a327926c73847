// The problem lists' index buffer, made on the window thread when a check
// ends; frame_render.cpp draws it.
#include "view/problem_edges.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "view/gpu_device.h"
#include "view/view_lookup.h"

bool buildProblemEdges(GpuMesh* mesh, ID3D11Device* device, const uint8_t* marks, const MessageSink* sink) {
    uint32_t solidCount = mesh->solidCount;
    if (solidCount == 0 || !mesh->vertexBuffer) return true;
    uint32_t* starts =
        static_cast<uint32_t*>(allocArray(mesh->heap, problemStartCount(solidCount), sizeof(uint32_t), sink));
    if (!starts) return false;
    uint64_t count = countProblemIndices(marks, mesh->ranges, solidCount, starts);
    if (count == 0) {
        heapFree(mesh->heap, starts);
        return true;
    }
    uint32_t* indices = static_cast<uint32_t*>(allocArray(processHeap(), count, sizeof(uint32_t), sink));
    if (!indices) {
        heapFree(mesh->heap, starts);
        return false;
    }
    fillProblemIndices(marks, mesh->ranges, solidCount, starts, indices);
    D3D11_BUFFER_DESC description;
    memset(&description, 0, sizeof description);
    description.ByteWidth = static_cast<UINT>(count * sizeof(uint32_t));
    description.Usage = D3D11_USAGE_IMMUTABLE;
    description.BindFlags = D3D11_BIND_INDEX_BUFFER;
    D3D11_SUBRESOURCE_DATA initial = {indices, 0, 0};
    ID3D11Buffer* buffer = nullptr;
    HRESULT result = device->CreateBuffer(&description, &initial, &buffer);
    freeBytes(indices);
    if (FAILED(result)) {
        reportGpuError(result, sink);
        heapFree(mesh->heap, starts);
        return false;
    }
    mesh->problemStarts = starts;
    mesh->problemIndices = buffer;
    return true;
}

bool attachProblemEdges(void* viewWindow, GpuMesh* mesh, const uint8_t* marks, const MessageSink* sink) {
    // Only the window thread frees the state, and this runs on it.
    ViewState* state = viewStateOf(viewWindow);
    if (!state || !mesh || mesh->problemIndices) return false;
    acquireSpinLock(&state->lock);
    ID3D11Buffer* vertices = mesh->vertexBuffer;
    ID3D11Device* device = nullptr;
    if (vertices) vertices->GetDevice(&device);
    releaseSpinLock(&state->lock);
    if (!device) return false;
    // Built apart and swapped in: a frame drawn meanwhile sees all or nothing.
    GpuMesh fresh = *mesh;
    bool built = buildProblemEdges(&fresh, device, marks, sink);
    device->Release();
    if (!built) return false;
    acquireSpinLock(&state->lock);
    mesh->problemStarts = fresh.problemStarts;
    mesh->problemIndices = fresh.problemIndices;
    releaseSpinLock(&state->lock);
    return true;
}
