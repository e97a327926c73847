// Failed Direct3D and DXGI calls as status codes. The HRESULT travels as the
// argument, so the log line names the kind of failure and the code stays
// available to whoever reads the reports. The codes are those the calls
// the view makes are documented to return ("DXGI_ERROR", "Direct3D 11
// Return Codes").
#include "view/gpu_device.h"

namespace {

constexpr uint32_t kDeviceRemoved = 0x887A0005u;
constexpr uint32_t kDeviceHung = 0x887A0006u;
constexpr uint32_t kDeviceReset = 0x887A0007u;
constexpr uint32_t kDriverInternalError = 0x887A0020u;

struct CodeOfResult {
    uint32_t result;
    StatusCode code;
};

const CodeOfResult kCodes[] = {
    {0x80004005u, kGpuUnspecified},        // E_FAIL
    {0x8007000Eu, kOutOfGpuMemory},        // E_OUTOFMEMORY
    {0x80070057u, kGpuInvalidCall},        // E_INVALIDARG
    {0x80004001u, kGpuNotImplemented},     // E_NOTIMPL
    {0x80004002u, kGpuNoInterface},        // E_NOINTERFACE
    {0x80070005u, kGpuAccessDenied},       // E_ACCESSDENIED
    {0x887A0001u, kGpuInvalidCall},        // DXGI_ERROR_INVALID_CALL
    {0x887A0004u, kGpuNoDriverSupport},    // DXGI_ERROR_UNSUPPORTED
    {kDeviceRemoved, kGpuLost},            // DXGI_ERROR_DEVICE_REMOVED
    {kDeviceHung, kGpuHung},               // DXGI_ERROR_DEVICE_HUNG
    {kDeviceReset, kGpuReset},             // DXGI_ERROR_DEVICE_RESET
    {0x887A000Au, kGpuStillDrawing},       // DXGI_ERROR_WAS_STILL_DRAWING
    {kDriverInternalError, kGpuDriverFailed},  // DXGI_ERROR_DRIVER_INTERNAL_ERROR
    {0x887A0022u, kGpuNotAvailable},       // DXGI_ERROR_NOT_CURRENTLY_AVAILABLE
    {0x887A002Bu, kGpuAccessDenied},       // DXGI_ERROR_ACCESS_DENIED
    {0x887A002Du, kGpuDebugLayerMissing},  // DXGI_ERROR_SDK_COMPONENT_MISSING: asked for the debug layer without it
    {0x887C0001u, kGpuTooManyStates},      // D3D11_ERROR_TOO_MANY_UNIQUE_STATE_OBJECTS
    {0x887C0003u, kGpuTooManyViews},       // D3D11_ERROR_TOO_MANY_UNIQUE_VIEW_OBJECTS
    {0x887C0004u, kGpuInvalidCall},        // D3D11_ERROR_DEFERRED_CONTEXT_MAP_WITHOUT_INITIAL_DISCARD
};

}  // namespace

StatusCode gpuErrorCode(int32_t result) {
    for (const CodeOfResult& entry : kCodes)
        if (entry.result == static_cast<uint32_t>(result)) return entry.code;
    return kGpuOtherFailure;
}

void reportGpuError(int32_t result, const MessageSink* sink) {
    if (sink) report(sink, gpuErrorCode(result), static_cast<uint32_t>(result));
}

bool isDeviceLoss(int32_t result) {
    uint32_t code = static_cast<uint32_t>(result);
    return code == kDeviceRemoved || code == kDeviceHung || code == kDeviceReset || code == kDriverInternalError;
}

void reportGpuFailure(int32_t result, const MessageSink* sink) {
    if (!isDeviceLoss(result)) reportGpuError(result, sink);
}

const char* deviceLossWords(int32_t reason) {
    switch (static_cast<uint32_t>(reason)) {
    case kDeviceRemoved:
        return "driver updated, or the adapter removed or switched";
    case kDeviceHung:
        return "the GPU stopped responding";
    case kDeviceReset:
        return "the GPU was reset";
    case kDriverInternalError:
        return "the driver failed";
    default:
        return "no reason given";
    }
}
