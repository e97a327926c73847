// Uploading a parsed part to the view's device, on the load job's thread.
#include "view/mesh_upload.h"

#include <windows.h>
#include <d3d11.h>

#include <cstring>

#include "core/memory.h"
#include "core/spin_lock.h"
#include "view/gpu_device.h"
#include "view/view_lookup.h"

bool buildGpuMesh(GpuMesh* gpuMesh, ID3D11Device* device, const StlMesh* mesh, uint8_t colorOrder,
                  HeapHandle heap, const MessageSink* sink) {
    gpuMesh->vertexBuffer = nullptr;
    uint32_t vertexCount = gpuMesh->vertexCount;
    if (vertexCount == 0) return true;
    MeshVertex* vertices = static_cast<MeshVertex*>(allocArray(heap, vertexCount, sizeof(MeshVertex), sink));
    if (!vertices) return false;
    const SolidRange* ranges = gpuMesh->ranges;
    for (uint32_t solid = 0; solid < mesh->solidCount; ++solid)
        expandSolid(mesh, solid, vertices + ranges[solid].firstVertex, colorOrder);

    D3D11_BUFFER_DESC description;
    memset(&description, 0, sizeof description);
    // prepareGpuMesh refused anything whose byte count would not fit 32 bits.
    description.ByteWidth = vertexCount * static_cast<UINT>(sizeof(MeshVertex));
    description.Usage = D3D11_USAGE_IMMUTABLE;
    description.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    D3D11_SUBRESOURCE_DATA initial = {vertices, 0, 0};
    ID3D11Buffer* buffer = nullptr;
    HRESULT result = device->CreateBuffer(&description, &initial, &buffer);
    heapFree(heap, vertices);
    if (FAILED(result)) {
        reportGpuError(result, sink);
        return false;
    }
    gpuMesh->vertexBuffer = buffer;
    return true;
}

GpuMesh* uploadMesh(void* viewWindow, const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                    HeapHandle heap, const MessageSink* sink) {
    lockViewLifetimes();
    ViewState* state = viewStateOf(viewWindow);
    if (!state) {
        unlockViewLifetimes();
        // A load without a view (tools, tests) still gets ranges and bounds.
        return prepareGpuMesh(mesh, metadata, visibleSolids, heap, sink);
    }
    // The reference keeps the device usable should the window thread drop it meanwhile.
    ID3D11Device* device = ensureDeviceReference(state, sink);
    unlockViewLifetimes();
    if (!device) return nullptr;
    GpuMesh* gpuMesh = prepareGpuMesh(mesh, metadata, visibleSolids, heap, sink);
    bool built = gpuMesh && buildGpuMesh(gpuMesh, device, mesh, metadata->colorOrder, heap, sink);
    device->Release();
    return built ? gpuMesh : nullptr;
}

void releaseGpuMesh(GpuMesh* mesh) {
    // Both the view and the part's owner release; the second call finds nothing.
    ID3D11Buffer* buffer = mesh->vertexBuffer;
    mesh->vertexBuffer = nullptr;
    if (buffer) buffer->Release();
    ID3D11Buffer* problems = mesh->problemIndices;
    mesh->problemIndices = nullptr;
    if (problems) problems->Release();
}

bool recolourGpuMesh(void* viewWindow, GpuMesh* gpuMesh, const StlMesh* mesh, uint8_t colorOrder, HeapHandle heap,
                     const MessageSink* sink) {
    // Only the window thread frees the state, and this runs on it.
    ViewState* state = viewStateOf(viewWindow);
    if (!state) return false;
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
    ID3D11Buffer* old = gpuMesh->vertexBuffer;
    gpuMesh->vertexBuffer = fresh.vertexBuffer;
    releaseSpinLock(&state->lock);
    if (old) old->Release();
    InvalidateRect(static_cast<HWND>(viewWindow), nullptr, FALSE);
    return true;
}
