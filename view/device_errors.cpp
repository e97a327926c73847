// Failed Direct3D and DXGI calls as status codes. The HRESULT travels as the
// argument, so the log line names the kind of failure and the code stays
// available to whoever reads the reports.
#include "view/gpu_device.h"

StatusCode gpuErrorCode(int32_t result) {
    switch (static_cast<uint32_t>(result)) {
    case 0x80004005u:  // E_FAIL: what creating a device with the debug layer answers without it
        return kGpuDebugLayerMissing;
    case 0x8007000Eu:  // E_OUTOFMEMORY
        return kOutOfGpuMemory;
    case 0x887A0004u:  // DXGI_ERROR_UNSUPPORTED
        return kGpuNoDriverSupport;
    case 0x887A0005u:  // DXGI_ERROR_DEVICE_REMOVED
        return kGpuLost;
    case 0x887A000Au:  // DXGI_ERROR_WAS_STILL_DRAWING
        return kGpuStillDrawing;
    case 0x887C0001u:  // D3D11_ERROR_TOO_MANY_UNIQUE_STATE_OBJECTS
        return kGpuTooManyStates;
    case 0x887C0003u:  // D3D11_ERROR_TOO_MANY_UNIQUE_VIEW_OBJECTS
        return kGpuTooManyViews;
    default:
        return kGpuInvalidCall;
    }
}

void reportGpuError(int32_t result, const MessageSink* sink) {
    if (sink) report(sink, gpuErrorCode(result), static_cast<uint32_t>(result));
}
