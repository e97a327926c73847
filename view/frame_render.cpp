// WM_PAINT of the view. Frames are drawn only on demand: every change of
// camera, colour, mode or meshes invalidates the window.
#include "view/frame_render.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>

#include <cstring>

#include "core/spin_lock.h"
#include "view/frame_math.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"

namespace {

constexpr UINT kVertexStride = sizeof(MeshVertex);
constexpr UINT kSyncInterval = 1;  // one vertical blank bounds the automatic rotation

volatile int32_t injectedPresentResult = 0;

// Through the swap chain, or, where the view has none, through GDI.
HRESULT present(const ViewState* state) {
    HRESULT injected = exchange32(&injectedPresentResult, 0);
    if (FAILED(injected)) return injected;
    if (state->swapChain) return state->swapChain->Present(kSyncInterval, 0);
    return copyFrameToWindow(state->pipeline.context, state->renderTargetView, state->resolvedFrame,
                             state->stagingFrame, state->window);
}

// The picture of a view without a device or without a mesh: the background
// colour with the error icon's corner at the centre of the client area.
void paintNoDevicePicture(ViewState* state) {
    HWND window = static_cast<HWND>(state->window);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (!dc) return;
    SetDCBrushColor(dc, state->backgroundColor & 0xFFFFFF);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    HICON icon = LoadIconW(nullptr, IDI_ERROR);
    if (icon) DrawIcon(dc, state->clientWidth / 2, state->clientHeight / 2, icon);
    EndPaint(window, &paint);
}

bool writeConstants(ID3D11DeviceContext* context, ID3D11Buffer* buffer, const void* data, size_t bytes,
                    const MessageSink* sink) {
    D3D11_MAPPED_SUBRESOURCE mapped;
    HRESULT result = context->Map(buffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
    if (FAILED(result)) {
        reportGpuError(result, sink);
        return false;
    }
    memcpy(mapped.pData, data, bytes);
    context->Unmap(buffer, 0);
    return true;
}

// A mesh uploaded while the view still had an earlier device cannot be
// drawn with this one.
bool madeByDevice(ID3D11Buffer* buffer, ID3D11Device* device) {
    ID3D11Device* owner = nullptr;
    buffer->GetDevice(&owner);
    if (owner) owner->Release();
    return owner == device;
}

}  // namespace

void drawSolids(ID3D11DeviceContext* context, const GpuMesh* mesh) {
    const uint8_t* visible = mesh->visibleSolids;
    const SolidRange* ranges = mesh->ranges;
    uint32_t solidCount = mesh->solidCount;
    for (uint32_t solid = 0; solid < solidCount; ++solid) {
        if (visible && !visible[solid]) continue;
        uint32_t triangles = ranges[solid].triangleCount;
        if (triangles == 0) continue;
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        context->Draw(3 * triangles, ranges[solid].firstVertex);
    }
}

namespace {

// The object constants and vertex buffer of a mesh; false when it cannot be drawn.
bool bindMesh(const GpuPipeline* pipeline, const GpuMesh* mesh, bool yUp, const MessageSink* sink) {
    ID3D11DeviceContext* context = pipeline->context;
    ID3D11Buffer* vertexBuffer = mesh->vertexBuffer;
    if (!vertexBuffer || !madeByDevice(vertexBuffer, pipeline->device)) return false;
    ObjectConstants constants;
    computeObjectConstants(mesh->unitScale, yUp, mesh->color, &constants);
    // A failed Map leaves the previous mesh's constants; the mesh is still drawn.
    writeConstants(context, pipeline->objectConstants, &constants, sizeof constants, sink);
    UINT stride = kVertexStride, offset = 0;
    context->IASetVertexBuffers(0, 1, &vertexBuffer, &stride, &offset);
    return true;
}

// Per mesh, the surfaces left behind the plane flip a stencil bit wherever
// they cover a pixel; where their number is odd the plane runs inside the
// mesh and the cap rectangle is drawn. An open surface may leave gaps, but
// outside a mesh the count is even and nothing is drawn.
void drawCaps(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots], bool yUp,
              ID3D11RenderTargetView* renderTargetView, ID3D11DepthStencilView* depthStencilView,
              const MessageSink* sink) {
    ID3D11DeviceContext* context = pipeline->context;
    ID3D11Buffer* objectConstants = pipeline->objectConstants;
    context->PSSetConstantBuffers(1, 1, &objectConstants);
    context->RSSetState(pipeline->solidRasterizer);
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot) {
        if (!bindMesh(pipeline, meshes[slot], yUp, sink)) continue;
        if (slot > 0) context->ClearDepthStencilView(depthStencilView, D3D11_CLEAR_STENCIL, 1.0f, 0);
        context->OMSetRenderTargets(0, nullptr, depthStencilView);
        context->OMSetDepthStencilState(pipeline->sectionCountState, 0);
        context->VSSetShader(pipeline->outlineVertexShader, nullptr, 0);
        context->IASetInputLayout(pipeline->outlineInputLayout);
        context->GSSetShader(nullptr, nullptr, 0);
        context->PSSetShader(nullptr, nullptr, 0);
        drawSolids(context, meshes[slot]);

        context->OMSetRenderTargets(1, &renderTargetView, depthStencilView);
        context->OMSetDepthStencilState(pipeline->sectionCapState, 0);
        context->VSSetShader(pipeline->sectionCapVertexShader, nullptr, 0);
        context->IASetInputLayout(nullptr);
        context->PSSetShader(pipeline->sectionCapPixelShader, nullptr, 0);
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP);
        context->Draw(4, 0);
    }
    context->OMSetDepthStencilState(nullptr, 0);
}

}  // namespace

void drawMeshes(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots], bool yUp,
                const MessageSink* sink) {
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot)
        if (bindMesh(pipeline, meshes[slot], yUp, sink)) drawSolids(pipeline->context, meshes[slot]);
}

void renderFrame(const GpuPipeline* pipeline, RenderMode mode, GpuMesh* const meshes[kViewMeshSlots],
                 ID3D11RenderTargetView* renderTargetView, ID3D11DepthStencilView* depthStencilView,
                 int32_t width, int32_t height, const float clearColour[4], const float centre[3],
                 const float rotation[3][3], const float pan[3], float radius, float zoom, bool yUp,
                 const SectionConstants* section, const MessageSink* sink) {
    ID3D11DeviceContext* context = pipeline->context;
    context->ClearRenderTargetView(renderTargetView, clearColour);
    context->ClearDepthStencilView(depthStencilView, D3D11_CLEAR_DEPTH | D3D11_CLEAR_STENCIL, 1.0f, 0);
    context->VSSetShader(pipeline->litVertexShader, nullptr, 0);
    context->IASetInputLayout(pipeline->litInputLayout);
    // The programs always cut; without a section the plane keeps everything.
    // Without the plane's constants nothing could be cut: no cap either.
    ID3D11Buffer* sectionConstants = pipeline->sectionConstants;
    const SectionConstants keepAll = {};
    if (!writeConstants(context, sectionConstants, section ? section : &keepAll, sizeof keepAll, sink)) section = nullptr;
    context->VSSetConstantBuffers(2, 1, &sectionConstants);
    context->GSSetConstantBuffers(2, 1, &sectionConstants);
    context->GSSetShader(pipeline->faceGeometryShader, nullptr, 0);

    FrameCamera camera;
    memcpy(camera.centre, centre, sizeof camera.centre);
    memcpy(camera.rotation, rotation, sizeof camera.rotation);
    memcpy(camera.pan, pan, sizeof camera.pan);
    camera.radius = radius;
    camera.zoom = zoom;
    camera.yUp = yUp;
    camera.width = width;
    camera.height = height;
    FrameConstants frame;
    computeFrameConstants(&camera, &frame);
    ID3D11Buffer* frameConstants = pipeline->frameConstants;
    if (writeConstants(context, frameConstants, &frame, sizeof frame, sink)) {
        context->VSSetConstantBuffers(0, 1, &frameConstants);
        context->GSSetConstantBuffers(0, 1, &frameConstants);
    }
    ID3D11Buffer* objectConstants = pipeline->objectConstants;
    context->VSSetConstantBuffers(1, 1, &objectConstants);

    D3D11_VIEWPORT viewport = {0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height), 0.0f, 1.0f};
    context->RSSetViewports(1, &viewport);
    context->PSSetShader(pipeline->litPixelShader, nullptr, 0);
    context->OMSetRenderTargets(1, &renderTargetView, depthStencilView);
    // The default state: depth test "less", depth writes, no stencil; no blending.
    context->OMSetDepthStencilState(nullptr, 0);
    context->RSSetState(mode == kRenderWireframe ? pipeline->wireRasterizer : pipeline->solidRasterizer);
    drawMeshes(pipeline, meshes, yUp, sink);
    // A filled cap would hide the far edges that Wireframe is for.
    if (section && mode != kRenderWireframe) drawCaps(pipeline, meshes, yUp, renderTargetView, depthStencilView, sink);

    if (mode != kRenderOutline) return;
    // The edges over the solid picture, unlit, in the object colour. They lie
    // at the depth of their faces, which "less" would refuse wherever a face
    // is seen square on, as in the preset views.
    context->OMSetDepthStencilState(pipeline->outlineDepthState, 0);
    context->RSSetState(pipeline->wireRasterizer);
    context->VSSetShader(pipeline->outlineVertexShader, nullptr, 0);
    context->IASetInputLayout(pipeline->outlineInputLayout);
    context->GSSetShader(nullptr, nullptr, 0);
    context->PSSetShader(pipeline->outlinePixelShader, nullptr, 0);
    drawMeshes(pipeline, meshes, yUp, sink);
}

namespace {

// The measure marks over everything (the depth buffer is cleared before each
// pass), unlit: a dark rim, then the fill in a colour the picture lacks.
void drawMarks(const ViewState* state, ID3D11DepthStencilView* depthStencilView, int32_t width, int32_t height) {
    MeasureMarks marks;
    memcpy(&marks, &state->marks, sizeof marks);
    if (marks.count == 0) return;
    const GpuPipeline* pipeline = &state->pipeline;
    ID3D11DeviceContext* context = pipeline->context;
    FrameCamera camera;
    viewFrameCamera(state, width, height, &camera);
    uint32_t meshColours[kViewMeshSlots];
    int meshCount = 0;
    for (; meshCount < kViewMeshSlots && state->meshes[meshCount]; ++meshCount)
        meshColours[meshCount] = state->meshes[meshCount]->color;
    uint32_t fill = markColour(state->backgroundColor, meshColours, meshCount);
    // Marks show even where the section has cut their point away since.
    SectionPlane section = state->section;
    const SectionConstants keepAll = {};
    if (section.on) writeConstants(context, pipeline->sectionConstants, &keepAll, sizeof keepAll, state->sink);
    context->OMSetDepthStencilState(nullptr, 0);
    context->RSSetState(pipeline->solidRasterizer);
    context->VSSetShader(pipeline->outlineVertexShader, nullptr, 0);
    context->IASetInputLayout(pipeline->outlineInputLayout);
    context->GSSetShader(nullptr, nullptr, 0);
    context->PSSetShader(pipeline->outlinePixelShader, nullptr, 0);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    for (int pass = 0; pass < 2; ++pass) {
        float positions[kMaxMarkVertices][3];
        int count = buildMarkVertices(&camera, &marks, pass, positions);
        if (count == 0) return;
        MeshVertex vertices[kMaxMarkVertices] = {};
        for (int v = 0; v < count; ++v) memcpy(vertices[v].position, positions[v], sizeof positions[v]);
        D3D11_BUFFER_DESC description = {static_cast<UINT>(count * sizeof(MeshVertex)), D3D11_USAGE_IMMUTABLE,
                                         D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
        D3D11_SUBRESOURCE_DATA data = {vertices, 0, 0};
        ID3D11Buffer* buffer = nullptr;
        HRESULT result = pipeline->device->CreateBuffer(&description, &data, &buffer);
        if (FAILED(result)) {
            reportGpuError(result, state->sink);
            return;
        }
        // World coordinates: the model matrix is the identity.
        ObjectConstants constants;
        computeObjectConstants(1.0f, true, pass == 0 ? kMarkRimColour : fill, &constants);
        writeConstants(context, pipeline->objectConstants, &constants, sizeof constants, state->sink);
        context->ClearDepthStencilView(depthStencilView, D3D11_CLEAR_DEPTH, 1.0f, 0);
        UINT stride = kVertexStride, offset = 0;
        context->IASetVertexBuffers(0, 1, &buffer, &stride, &offset);
        context->Draw(static_cast<UINT>(count), 0);
        buffer->Release();
    }
}

}  // namespace

void renderViewFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                     ID3D11DepthStencilView* depthStencilView, int32_t width, int32_t height) {
    // The record is packed: its arrays are copied out rather than pointed into.
    uint32_t background = state->backgroundColor;
    float clearColour[4] = {kClearColourTable[background & 0xFF], kClearColourTable[background >> 8 & 0xFF],
                            kClearColourTable[background >> 16 & 0xFF],
                            static_cast<float>(background >> 24) / 255.0f};
    float boundsMin[3], boundsMax[3], rotation[3][3], pan[3];
    memcpy(boundsMin, state->boundsMin, sizeof boundsMin);
    memcpy(boundsMax, state->boundsMax, sizeof boundsMax);
    memcpy(rotation, state->rotation, sizeof rotation);
    memcpy(pan, state->pan, sizeof pan);
    float centre[3];
    for (int axis = 0; axis < 3; ++axis) centre[axis] = (boundsMin[axis] + boundsMax[axis]) * 0.5f;
    GpuMesh* meshes[kViewMeshSlots];
    memcpy(meshes, state->meshes, sizeof meshes);
    SectionPlane plane = state->section;
    SectionConstants section;
    if (plane.on) computeSectionConstants(&plane, state->yUp != 0, boundsMin, boundsMax, &section);
    renderFrame(&state->pipeline, state->renderMode, meshes, renderTargetView, depthStencilView, width, height,
                clearColour, centre, rotation, pan, state->radius, state->zoom, state->yUp != 0,
                plane.on ? &section : nullptr, state->sink);
    drawMarks(state, depthStencilView, width, height);
}

void paintView(ViewState* state) {
    acquireSpinLock(&state->lock);
    if (!state->pipeline.device || !state->meshes[0]) {
        releaseSpinLock(&state->lock);
        paintNoDevicePicture(state);
        return;
    }
    renderViewFrame(state, state->renderTargetView, state->depthStencilView, state->clientWidth,
                    state->clientHeight);
    HRESULT result = present(state);
    if (FAILED(result)) {
        // Until the next upload makes a new device the view shows the GDI picture.
        reportGpuError(result, state->sink);
        dropDevice(state);
    }
    releaseSpinLock(&state->lock);
    ValidateRect(static_cast<HWND>(state->window), nullptr);
}

void failNextPresent(int32_t result) {
    exchange32(&injectedPresentResult, result);
}
