// The load job's way to the view: a parsed part uploaded to the view's
// device, on the job's thread; a device lost before or during the upload
// is made anew once.
#include <windows.h>
#include <d3d11.h>

#include "view/device_work.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/mesh_upload.h"
#include "view/view_lookup.h"

GpuMesh* uploadMesh(void* viewWindow, const StlMesh* mesh, const StlMetadata* metadata, uint8_t* visibleSolids,
                    HeapHandle heap, const MessageSink* sink) {
    GpuMesh* gpuMesh = nullptr;
    // A device lost before or during the upload is made anew once; the
    // window thread tells the loss when it has the new one.
    int32_t result = S_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        lockViewLifetimes();
        ViewState* state = viewStateOf(viewWindow);
        if (!state) {
            unlockViewLifetimes();
            // A load without a view (tools, tests) still gets ranges and bounds.
            return gpuMesh ? gpuMesh : prepareGpuMesh(mesh, metadata, visibleSolids, heap, sink);
        }
        // The reference keeps the device usable should the window thread drop it meanwhile.
        ID3D11Device* device = ensureDeviceReference(state, attempt == 0 ? sink : nullptr);
        unlockViewLifetimes();
        if (!device) break;
        if (!gpuMesh) gpuMesh = prepareGpuMesh(mesh, metadata, visibleSolids, heap, sink);
        bool built = gpuMesh && buildGpuMesh(gpuMesh, device, mesh, metadata->colorOrder, heap, sink, nullptr, &result);
        int32_t removed = built || !gpuMesh ? S_OK : deviceRemovedReason(device);
        bool lost = !built && gpuMesh && (isDeviceLoss(result) || FAILED(removed));
        if (lost) {
            if (FAILED(removed)) result = removed;
            lockViewLifetimes();
            if (ViewState* still = viewStateOf(viewWindow)) loseDeviceIfCurrent(still, device, result);
            unlockViewLifetimes();
        }
        device->Release();
        if (built) return gpuMesh;
        if (!lost) return nullptr;  // reported
    }
    // No device the second time, or lost again: said once.
    if (isDeviceLoss(result)) reportGpuError(result, sink);
    return nullptr;
}
