// Creating and releasing the view's Direct3D objects. Each pointer owns one
// reference; whatever a failed operation made is released, never kept.
#include "view/gpu_device.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>

#include <cstring>

#include "core/spin_lock.h"
#include "view/adapter_limits.h"
#include "view/com_helpers.h"
#include "view/frame_math.h"
#include "view/shaders/shader_blobs.h"

namespace {

constexpr UINT kSdkVersion = 7;
constexpr UINT kDeviceFlags = D3D11_CREATE_DEVICE_BGRA_SUPPORT;
constexpr UINT kFrameConstantsBytes = 96;
constexpr UINT kObjectConstantsBytes = sizeof(ObjectConstants);
constexpr UINT kSectionConstantsBytes = sizeof(SectionConstants);

// 16-byte vertices: position, then colour bytes.
const D3D11_INPUT_ELEMENT_DESC kVertexLayout[2] = {
    {"XYZ", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"CLR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

// Both sides of a face are lit alike (the geometry shader turns the normal
// to the eye), so nothing is culled. Faces lie back by their depth slope, so
// that their edges, drawn over them in Outline mode, are not lost to the
// rounding of sloped faces.
const D3D11_RASTERIZER_DESC kSolidRasterizer = {
    D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0.0f, 1.0f, FALSE, FALSE, FALSE, FALSE};
// Lines without antialiasing: under Wine antialiased lines ignore clip
// distances, and once sectioned frames have run on a device its later
// antialiased lines come out as strokes across the picture (Windows ignores
// the flag for multisampled lines anyway).
const D3D11_RASTERIZER_DESC kWireRasterizer = {
    D3D11_FILL_WIREFRAME, D3D11_CULL_NONE, TRUE, 0, 0.0f, 0.0f, FALSE, FALSE, TRUE, FALSE};

// The default depth test but "less or equal": an edge drawn over its own
// face lies at exactly the face's depth. Hidden edges stay hidden.
const D3D11_DEPTH_STENCIL_DESC kOutlineDepthState = {
    TRUE, D3D11_DEPTH_WRITE_MASK_ALL, D3D11_COMPARISON_LESS_EQUAL, FALSE, D3D11_DEFAULT_STENCIL_READ_MASK,
    D3D11_DEFAULT_STENCIL_WRITE_MASK,
    {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_COMPARISON_ALWAYS},
    {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_COMPARISON_ALWAYS}};

// Counting the surfaces behind the section: every fragment flips stencil
// bit 0, hidden or not; nothing else is written.
const D3D11_DEPTH_STENCIL_DESC kSectionCountState = {
    FALSE, D3D11_DEPTH_WRITE_MASK_ZERO, D3D11_COMPARISON_ALWAYS, TRUE, 1, 1,
    {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_INVERT, D3D11_COMPARISON_ALWAYS},
    {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_INVERT, D3D11_COMPARISON_ALWAYS}};

// The cap: the default depth test, only where the count was odd (the
// stencil reference is 0).
const D3D11_DEPTH_STENCIL_DESC kSectionCapState = {
    TRUE, D3D11_DEPTH_WRITE_MASK_ALL, D3D11_COMPARISON_LESS, TRUE, 1, 0,
    {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_COMPARISON_NOT_EQUAL},
    {D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_COMPARISON_NOT_EQUAL}};

// The tint of "Show problems": the blend factor's share of the tint over
// the picture, whose shading shows through.
const D3D11_BLEND_DESC kProblemTintBlend = {
    FALSE, FALSE,
    {{TRUE, D3D11_BLEND_BLEND_FACTOR, D3D11_BLEND_INV_BLEND_FACTOR, D3D11_BLEND_OP_ADD, D3D11_BLEND_ONE,
      D3D11_BLEND_ZERO, D3D11_BLEND_OP_ADD, D3D11_COLOR_WRITE_ENABLE_ALL}}};

// Plain words, so that nothing runs before main; written by tests only.
volatile int32_t injectedStep = kStepNone;
volatile int32_t injectedResult = 0;
ID3D11Device* failedPipelineDevice = nullptr;

struct Injection {
    int32_t step;
    HRESULT result;
};

// The seam fires once: the pipeline it fails takes it.
Injection takeInjection() {
    Injection injection = {exchange32(&injectedStep, kStepNone), injectedResult};
    return injection;
}

volatile uint64_t pieceByteLimit = 0;  // the test seams'; 0: none
volatile uint64_t pretendedResourceBytes = 0;
volatile int32_t pretendedTextureSide = 0;

// The failure seams: per call, the result and how many calls to let pass
// first; the device a lost call was made on, until it goes.
volatile int32_t injectedResults[kGpuCalls] = {};
volatile int32_t injectedSkips[kGpuCalls] = {};
ID3D11Device* volatile injectedLostDevice = nullptr;
volatile int32_t injectedLossReason = 0;
volatile int32_t refusedTargetSamples = 0;

void closeDevice(ID3D11Device* device, ID3D11DeviceContext* context) {
    // Another device may be made at the same address.
    if (device && device == injectedLostDevice) injectedLostDevice = nullptr;
    if (context) {
        context->ClearState();
        context->Flush();
        context->Release();
    }
    releaseInterface(device);
}

bool openDevice(int driverType, const MessageSink* sink, const Injection& injection, ID3D11Device** deviceOut,
                ID3D11DeviceContext** contextOut) {
    D3D_DRIVER_TYPE type = static_cast<D3D_DRIVER_TYPE>(driverType);
    bool forced = injection.step == kStepDevice;
    // No list of levels asks for the highest the driver has, and the device
    // comes with the answer: a query alone builds a whole device too (under
    // Wine as costly as the one kept) only to throw it away.
    D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_9_1;
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    HRESULT result = forced ? injection.result
                            : D3D11CreateDevice(nullptr, type, nullptr, kDeviceFlags, nullptr, 0, kSdkVersion,
                                                &device, &level, &context);
    if (FAILED(result)) {
        reportGpuError(result, sink);
        return false;
    }
    if (sink) report(sink, kInfoFeatureLevel, static_cast<uint32_t>(level));
    if (level < D3D_FEATURE_LEVEL_10_0) {
        if (sink) reportCode(sink, kGpuTooOld);
        closeDevice(device, context);
        return false;
    }
    if (level < D3D_FEATURE_LEVEL_11_0) {
        // Only reported: nothing here depends on compute shaders.
        D3D11_FEATURE_DATA_D3D10_X_HARDWARE_OPTIONS options;
        memset(&options, 0, sizeof options);
        device->CheckFeatureSupport(D3D11_FEATURE_D3D10_X_HARDWARE_OPTIONS, &options, sizeof options);
        if (sink) report(sink, kInfoComputeShaders, options.ComputeShaders_Plus_RawAndStructuredBuffers_Via_Shader_4_x);
    }
    *deviceOut = device;
    *contextOut = context;
    return true;
}

bool openAnyDevice(const MessageSink* sink, const Injection& injection, ID3D11Device** device,
                   ID3D11DeviceContext** context) {
    return openDevice(kDriverHardware, sink, injection, device, context) ||
           openDevice(kDriverWarp, sink, injection, device, context);
}

// The pipeline objects while they are made; aligned, unlike the record.
struct PipelineObjects {
    ID3D11VertexShader* litVertexShader;
    ID3D11InputLayout* litInputLayout;
    ID3D11GeometryShader* faceGeometryShader;
    ID3D11PixelShader* litPixelShader;
    ID3D11VertexShader* outlineVertexShader;
    ID3D11InputLayout* outlineInputLayout;
    ID3D11PixelShader* outlinePixelShader;
    ID3D11RasterizerState* solidRasterizer;
    ID3D11RasterizerState* wireRasterizer;
    ID3D11Buffer* frameConstants;
    ID3D11Buffer* objectConstants;
    ID3D11DepthStencilState* outlineDepthState;
    ID3D11VertexShader* sectionCapVertexShader;
    ID3D11PixelShader* sectionCapPixelShader;
    ID3D11Buffer* sectionConstants;
    ID3D11DepthStencilState* sectionCountState;
    ID3D11DepthStencilState* sectionCapState;
    ID3D11BlendState* problemTintBlend;
};

void releaseSectionObjects(ID3D11DepthStencilState* capState, ID3D11DepthStencilState* countState,
                           ID3D11Buffer* constants, ID3D11PixelShader* capPixel, ID3D11VertexShader* capVertex) {
    releaseInterface(capState);
    releaseInterface(countState);
    releaseInterface(constants);
    releaseInterface(capPixel);
    releaseInterface(capVertex);
}

// Latest first, so an unwinding releases in the reverse order of creation.
void releaseObjects(const PipelineObjects* objects) {
    releaseInterface(objects->problemTintBlend);
    releaseSectionObjects(objects->sectionCapState, objects->sectionCountState, objects->sectionConstants,
                          objects->sectionCapPixelShader, objects->sectionCapVertexShader);
    releaseInterface(objects->outlineDepthState);
    releaseInterface(objects->objectConstants);
    releaseInterface(objects->frameConstants);
    releaseInterface(objects->wireRasterizer);
    releaseInterface(objects->solidRasterizer);
    releaseInterface(objects->outlinePixelShader);
    releaseInterface(objects->outlineInputLayout);
    releaseInterface(objects->outlineVertexShader);
    releaseInterface(objects->litPixelShader);
    releaseInterface(objects->faceGeometryShader);
    releaseInterface(objects->litInputLayout);
    releaseInterface(objects->litVertexShader);
}

HRESULT createConstantBuffer(ID3D11Device* device, UINT bytes, ID3D11Buffer** buffer) {
    D3D11_BUFFER_DESC description;
    memset(&description, 0, sizeof description);
    description.ByteWidth = bytes;
    description.Usage = D3D11_USAGE_DYNAMIC;
    description.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    return device->CreateBuffer(&description, nullptr, buffer);
}

// One creation call of createPipeline, or the injected failure in its place.
HRESULT createStep(PipelineStep step, const Injection& injection, ID3D11Device* device, PipelineObjects* objects) {
    if (step == injection.step) return injection.result;
    switch (step) {
    case kStepLitVertexShader:
        return device->CreateVertexShader(kLitVertexShader, kLitVertexShaderSize, nullptr, &objects->litVertexShader);
    case kStepLitInputLayout:
        return device->CreateInputLayout(kVertexLayout, 2, kLitVertexShader, kLitVertexShaderSize,
                                         &objects->litInputLayout);
    case kStepFaceGeometryShader:
        return device->CreateGeometryShader(kFaceGeometryShader, kFaceGeometryShaderSize, nullptr,
                                            &objects->faceGeometryShader);
    case kStepLitPixelShader:
        return device->CreatePixelShader(kLitPixelShader, kLitPixelShaderSize, nullptr, &objects->litPixelShader);
    case kStepOutlineVertexShader:
        return device->CreateVertexShader(kOutlineVertexShader, kOutlineVertexShaderSize, nullptr,
                                          &objects->outlineVertexShader);
    case kStepOutlineInputLayout:
        return device->CreateInputLayout(kVertexLayout, 2, kOutlineVertexShader, kOutlineVertexShaderSize,
                                         &objects->outlineInputLayout);
    case kStepOutlinePixelShader:
        return device->CreatePixelShader(kOutlinePixelShader, kOutlinePixelShaderSize, nullptr,
                                         &objects->outlinePixelShader);
    case kStepSolidRasterizer:
        return device->CreateRasterizerState(&kSolidRasterizer, &objects->solidRasterizer);
    case kStepWireRasterizer:
        return device->CreateRasterizerState(&kWireRasterizer, &objects->wireRasterizer);
    case kStepFrameConstants:
        return createConstantBuffer(device, kFrameConstantsBytes, &objects->frameConstants);
    case kStepObjectConstants:
        return createConstantBuffer(device, kObjectConstantsBytes, &objects->objectConstants);
    case kStepOutlineDepthState:
        return device->CreateDepthStencilState(&kOutlineDepthState, &objects->outlineDepthState);
    case kStepSectionCapVertexShader:
        return device->CreateVertexShader(kSectionCapVertexShader, kSectionCapVertexShaderSize, nullptr,
                                          &objects->sectionCapVertexShader);
    case kStepSectionCapPixelShader:
        return device->CreatePixelShader(kSectionCapPixelShader, kSectionCapPixelShaderSize, nullptr,
                                         &objects->sectionCapPixelShader);
    case kStepSectionConstants:
        return createConstantBuffer(device, kSectionConstantsBytes, &objects->sectionConstants);
    case kStepSectionCountState:
        return device->CreateDepthStencilState(&kSectionCountState, &objects->sectionCountState);
    case kStepSectionCapState:
        return device->CreateDepthStencilState(&kSectionCapState, &objects->sectionCapState);
    case kStepProblemTintBlend:
        return device->CreateBlendState(&kProblemTintBlend, &objects->problemTintBlend);
    default:
        return E_INVALIDARG;
    }
}

void keepFailedDevice(ID3D11Device* device) {
    device->AddRef();
    ID3D11Device* previous = failedPipelineDevice;
    failedPipelineDevice = device;
    releaseInterface(previous);
}

}  // namespace

bool adapterFactsOf(ID3D11Device* device, AdapterFacts* facts) {
    IDXGIDevice* dxgiDevice = nullptr;
    IDXGIAdapter* adapter = nullptr;
    DXGI_ADAPTER_DESC description;
    bool known = SUCCEEDED(device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgiDevice))) &&
                 SUCCEEDED(dxgiDevice->GetAdapter(&adapter)) && SUCCEEDED(adapter->GetDesc(&description));
    releaseInterface(adapter);
    releaseInterface(dxgiDevice);
    if (!known) return false;
    memcpy(facts->name, description.Description, sizeof facts->name);
    facts->name[127] = 0;
    facts->vendorId = description.VendorId;
    facts->resourceBytes = guaranteedResourceBytes(description.VendorId, description.DedicatedVideoMemory);
    if (pretendedResourceBytes) facts->resourceBytes = pretendedResourceBytes;
    return true;
}

int32_t maxTextureSideOf(ID3D11Device* device) {
    if (pretendedTextureSide) return pretendedTextureSide;
    return maxTextureSide(static_cast<uint32_t>(device->GetFeatureLevel()));
}

void pretendAdapter(uint64_t resourceBytes, int32_t maxTextureSide) {
    pretendedResourceBytes = resourceBytes;
    pretendedTextureSide = maxTextureSide;
}

uint32_t pieceTrianglesOf(ID3D11Device* device) {
    AdapterFacts facts;
    // An adapter that cannot be asked gets the size every one guarantees.
    uint64_t bytes = adapterFactsOf(device, &facts) ? facts.resourceBytes : guaranteedResourceBytes(kMicrosoftVendor, 0);
    return pieceTrianglesFor(bytes, pieceByteLimit);
}

void limitPieceBytes(uint64_t bytes) {
    pieceByteLimit = bytes;
}

void reportAdapter(ID3D11Device* device, const MessageSink* sink) {
    AdapterFacts facts;
    if (!sink || !adapterFactsOf(device, &facts)) return;
    wchar_t line[200];
    wsprintfW(line, L"D3D info: adapter %s; largest buffer %u MB", facts.name,
              static_cast<unsigned>(facts.resourceBytes / kMegabyte));
    static_assert(sizeof(wchar_t) == sizeof(Utf16));
    report(sink, kLine, reinterpret_cast<uintptr_t>(line));
}

bool createPipeline(GpuPipeline* pipeline, const MessageSink* sink) {
    memset(pipeline, 0, sizeof *pipeline);
    Injection injection = takeInjection();
    ID3D11Device* device;
    ID3D11DeviceContext* context;
    if (!openAnyDevice(sink, injection, &device, &context)) return false;
    PipelineObjects objects;
    memset(&objects, 0, sizeof objects);
    for (int32_t step = kStepLitVertexShader; step < kStepCount; ++step) {
        HRESULT result = createStep(static_cast<PipelineStep>(step), injection, device, &objects);
        if (SUCCEEDED(result)) continue;
        reportGpuError(result, sink);
        if (step == injection.step) keepFailedDevice(device);
        releaseObjects(&objects);
        closeDevice(device, context);
        return false;
    }
    pipeline->device = device;
    pipeline->context = context;
    pipeline->litVertexShader = objects.litVertexShader;
    pipeline->litInputLayout = objects.litInputLayout;
    pipeline->faceGeometryShader = objects.faceGeometryShader;
    pipeline->litPixelShader = objects.litPixelShader;
    pipeline->outlineVertexShader = objects.outlineVertexShader;
    pipeline->outlineInputLayout = objects.outlineInputLayout;
    pipeline->outlinePixelShader = objects.outlinePixelShader;
    pipeline->solidRasterizer = objects.solidRasterizer;
    pipeline->wireRasterizer = objects.wireRasterizer;
    pipeline->frameConstants = objects.frameConstants;
    pipeline->objectConstants = objects.objectConstants;
    pipeline->outlineDepthState = objects.outlineDepthState;
    pipeline->sectionCapVertexShader = objects.sectionCapVertexShader;
    pipeline->sectionCapPixelShader = objects.sectionCapPixelShader;
    pipeline->sectionConstants = objects.sectionConstants;
    pipeline->sectionCountState = objects.sectionCountState;
    pipeline->sectionCapState = objects.sectionCapState;
    pipeline->problemTintBlend = objects.problemTintBlend;
    return true;
}

void releaseDevice(GpuPipeline* pipeline) {
    closeDevice(pipeline->device, pipeline->context);
    pipeline->context = nullptr;
    pipeline->device = nullptr;
}

void releasePipeline(GpuPipeline* pipeline) {
    releaseInterface(pipeline->problemTintBlend);
    releaseSectionObjects(pipeline->sectionCapState, pipeline->sectionCountState, pipeline->sectionConstants,
                          pipeline->sectionCapPixelShader, pipeline->sectionCapVertexShader);
    releaseInterface(pipeline->outlineDepthState);
    releaseInterface(pipeline->objectConstants);
    releaseInterface(pipeline->frameConstants);
    releaseInterface(pipeline->wireRasterizer);
    releaseInterface(pipeline->solidRasterizer);
    releaseInterface(pipeline->litPixelShader);
    releaseInterface(pipeline->faceGeometryShader);
    releaseInterface(pipeline->litInputLayout);
    releaseInterface(pipeline->litVertexShader);
    releaseInterface(pipeline->outlinePixelShader);
    releaseInterface(pipeline->outlineInputLayout);
    releaseInterface(pipeline->outlineVertexShader);
    releaseDevice(pipeline);
    memset(pipeline, 0, sizeof *pipeline);
}

int32_t deviceRemovedReason(ID3D11Device* device) {
    if (device == injectedLostDevice && injectedLossReason) return injectedLossReason;
    return device->GetDeviceRemovedReason();
}

void injectGpuFailure(GpuCall call, int32_t result, uint32_t skip) {
    injectedSkips[call] = static_cast<int32_t>(skip);
    exchange32(&injectedResults[call], result);
}

int32_t injectedFailure(GpuCall call, ID3D11Device* device) {
    if (injectedResults[call] == 0) return S_OK;
    // Calls of this kind run on one thread at a time in the tests that set the seam.
    if (injectedSkips[call] > 0) {
        injectedSkips[call] = injectedSkips[call] - 1;
        return S_OK;
    }
    int32_t result = exchange32(&injectedResults[call], 0);
    if (isDeviceLoss(result)) {
        injectedLossReason = result;
        injectedLostDevice = device;
    }
    return result;
}

int32_t createGpuBuffer(ID3D11Device* device, const void* description, const void* initialData, ID3D11Buffer** buffer) {
    HRESULT result = injectedFailure(kCallCreateBuffer, device);
    if (FAILED(result)) return result;
    return device->CreateBuffer(static_cast<const D3D11_BUFFER_DESC*>(description),
                                static_cast<const D3D11_SUBRESOURCE_DATA*>(initialData), buffer);
}

void failTargetsAbove(uint32_t samples) {
    exchange32(&refusedTargetSamples, static_cast<int32_t>(samples));
}

bool targetsRefused(uint32_t samples) {
    return refusedTargetSamples > 0 && samples > static_cast<uint32_t>(refusedTargetSamples);
}

void failPipelineStep(PipelineStep step, int32_t result) {
    injectedResult = result;
    exchange32(&injectedStep, step);
}

PipelineStep pendingPipelineFailure() {
    return static_cast<PipelineStep>(injectedStep);
}

ID3D11Device* takeFailedPipelineDevice() {
    ID3D11Device* device = failedPipelineDevice;
    failedPipelineDevice = nullptr;
    return device;
}
