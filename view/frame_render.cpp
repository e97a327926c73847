// WM_PAINT of the view. Frames are drawn only on demand: every change of
// camera, colour, mode or meshes invalidates the window.
#include "view/frame_render.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>

#include <cstring>
#include <initializer_list>

#include "core/spin_lock.h"
#include "view/camera.h"
#include "view/frame_math.h"
#include "view/frame_pacing.h"
#include "view/gdi_presentation.h"
#include "view/gpu_device.h"
#include "view/gpu_mesh.h"
#include "view/problem_edges.h"
#include "view/view_picking.h"

namespace {

constexpr UINT kVertexStride = sizeof(MeshVertex);
constexpr UINT kSyncInterval = 1;  // one vertical blank bounds the automatic rotation
// Far enough forward to win over the face under a line, a thousandth of
// the depth range: surfaces that much apart are one to the eye.
constexpr float kProblemLineDepth = 0.999f;

volatile int32_t injectedPresentResult = 0;

// What a frame needs after its draws before it can be shown: where frames
// go through GDI, the copy into the staging texture.
HRESULT queueFramePresentation(const ViewState* state, FrameForm form) {
    if (state->swapChain) return S_OK;
    bool single = form == kFormSingleSample;
    return queueFrameCopy(state->pipeline.context, single ? state->singleSampleTarget : state->renderTargetView,
                          single ? nullptr : state->resolvedFrame, state->stagingFrame);
}

// Through the swap chain, or, where the view has none, through GDI.
HRESULT showFrame(const ViewState* state) {
    HRESULT injected = exchange32(&injectedPresentResult, 0);
    if (FAILED(injected)) return injected;
    if (state->swapChain) return state->swapChain->Present(kSyncInterval, 0);
    return drawFrameCopy(state->pipeline.context, state->stagingFrame, state->window);
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

// The unlit program of edges and marks, in the object colour.
void useOutlineProgram(const GpuPipeline* pipeline, ID3D11RasterizerState* rasterizer) {
    ID3D11DeviceContext* context = pipeline->context;
    context->RSSetState(rasterizer);
    context->VSSetShader(pipeline->outlineVertexShader, nullptr, 0);
    context->IASetInputLayout(pipeline->outlineInputLayout);
    context->GSSetShader(nullptr, nullptr, 0);
    context->PSSetShader(pipeline->outlinePixelShader, nullptr, 0);
}

}  // namespace

namespace {

void drawVertices(void* context, uint32_t firstVertex, uint32_t vertexCount) {
    static_cast<ID3D11DeviceContext*>(context)->Draw(vertexCount, firstVertex);
}

void bindVertices(ID3D11DeviceContext* context, ID3D11Buffer* vertices) {
    UINT stride = kVertexStride, offset = 0;
    context->IASetVertexBuffers(0, 1, &vertices, &stride, &offset);
}

}  // namespace

void drawSolids(ID3D11DeviceContext* context, const GpuMesh* mesh) {
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    // Visible solids that follow each other in a piece go in one draw (a
    // file of 100,000 small solids would otherwise cost 100,000 calls a
    // frame), and no draw is long enough to near the GPU's timeout.
    for (uint32_t p = 0; p < mesh->pieceCount; ++p) {
        bindVertices(context, mesh->pieces[p].vertices);
        forEachDraw(mesh, &mesh->pieces[p], kMaxDrawTriangles, drawVertices, context);
    }
}

namespace {

// The object constants of a mesh, drawn in `colour`; false when it cannot
// be drawn: no pieces, or pieces of an earlier device.
bool bindMesh(const GpuPipeline* pipeline, const GpuMesh* mesh, bool yUp, uint32_t colour, const MessageSink* sink) {
    if (mesh->pieceCount == 0 || !madeByDevice(mesh->pieces[0].vertices, pipeline->device)) return false;
    ObjectConstants constants;
    computeObjectConstants(mesh->unitScale, yUp, colour, &constants);
    // A failed Map leaves the previous mesh's constants; the mesh is still drawn.
    writeConstants(pipeline->context, pipeline->objectConstants, &constants, sizeof constants, sink);
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
        if (!bindMesh(pipeline, meshes[slot], yUp, meshes[slot]->color, sink)) continue;
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

// One kind's indices of the piece's visible solids, neighbours in one draw.
void drawProblemKind(ID3D11DeviceContext* context, const GpuMesh* mesh, const MeshPiece* piece, uint32_t kind) {
    const uint8_t* visible = mesh->visibleSolids;
    const uint32_t* starts = piece->problemStarts + kind * (piece->solidSpan + 1);
    uint32_t runStart = 0, runEnd = 0;
    for (uint32_t i = 0; i < piece->solidSpan; ++i) {
        if ((visible && !visible[piece->firstSolid + i]) || starts[i] == starts[i + 1]) continue;
        if (runEnd != starts[i]) {
            if (runEnd > runStart) context->DrawIndexed(runEnd - runStart, runStart, 0);
            runStart = starts[i];
        }
        runEnd = starts[i + 1];
    }
    if (runEnd > runStart) context->DrawIndexed(runEnd - runStart, runStart, 0);
}

// The pieces of a mesh that have problems drawn, each kind in its turn.
void drawProblemPieces(ID3D11DeviceContext* context, const GpuMesh* mesh, uint32_t kind) {
    for (uint32_t p = 0; p < mesh->pieceCount; ++p) {
        const MeshPiece* piece = &mesh->pieces[p];
        if (!piece->problemIndices) continue;
        bindVertices(context, piece->vertices);
        context->IASetIndexBuffer(piece->problemIndices, DXGI_FORMAT_R32_UINT, 0);
        drawProblemKind(context, mesh, piece, kind);
    }
}

// Whether any piece of the mesh has problem lists of this device.
bool hasProblems(const GpuMesh* mesh, ID3D11Device* device) {
    for (uint32_t p = 0; p < mesh->pieceCount; ++p)
        if (mesh->pieces[p].problemIndices) return madeByDevice(mesh->pieces[p].problemIndices, device);
    return false;
}

// The problems the surface check found, over the picture: the faces of
// flipped edges tinted (whatever their own colours), then the open and
// non-manifold edges, two pixels wide (drawn again one pixel right and down),
// all unlit. The lines
// come a little nearer than their faces through the viewport's depth range,
// as lines never meet their faces' depths exactly (Wine's depth bias leaves
// lines alone). Wireframe hides nothing, so there they hide nothing either:
// its own edges, drawn as lines, would.
void drawProblems(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots],
                  ID3D11DepthStencilView* depthStencilView, int32_t width, int32_t height, bool yUp, bool wireframe,
                  const MessageSink* sink) {
    ID3D11DeviceContext* context = pipeline->context;
    GpuMesh* drawn[kViewMeshSlots] = {};
    int count = 0;
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot)
        if (hasProblems(meshes[slot], pipeline->device)) drawn[count++] = meshes[slot];
    if (count == 0) return;
    context->OMSetDepthStencilState(pipeline->outlineDepthState, 0);
    useOutlineProgram(pipeline, pipeline->solidRasterizer);
    const float share[4] = {kProblemTintShare, kProblemTintShare, kProblemTintShare, kProblemTintShare};
    context->OMSetBlendState(pipeline->problemTintBlend, share, 0xFFFFFFFF);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    for (int m = 0; m < count; ++m)
        if (bindMesh(pipeline, drawn[m], yUp, kProblemColours[kProblemFlipped], sink))
            drawProblemPieces(context, drawn[m], kProblemFlipped);
    context->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFF);

    if (wireframe) context->ClearDepthStencilView(depthStencilView, D3D11_CLEAR_DEPTH, 1.0f, 0);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    for (int m = 0; m < count; ++m) {
        for (uint32_t kind : {kProblemOpen, kProblemNonManifold}) {
            if (!bindMesh(pipeline, drawn[m], yUp, kProblemColours[kind], sink)) continue;
            for (int shift = 0; shift < 4; ++shift) {
                D3D11_VIEWPORT viewport = {static_cast<float>(shift & 1), static_cast<float>(shift >> 1),
                                           static_cast<float>(width), static_cast<float>(height), 0.0f,
                                           kProblemLineDepth};
                context->RSSetViewports(1, &viewport);
                drawProblemPieces(context, drawn[m], kind);
            }
        }
    }
    D3D11_VIEWPORT viewport = {0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height), 0.0f, 1.0f};
    context->RSSetViewports(1, &viewport);
    context->OMSetDepthStencilState(nullptr, 0);
}

}  // namespace

void drawMeshes(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots], bool yUp,
                const MessageSink* sink) {
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot)
        if (bindMesh(pipeline, meshes[slot], yUp, meshes[slot]->color, sink)) drawSolids(pipeline->context, meshes[slot]);
}

void renderFrame(const GpuPipeline* pipeline, RenderMode mode, GpuMesh* const meshes[kViewMeshSlots],
                 ID3D11RenderTargetView* renderTargetView, ID3D11DepthStencilView* depthStencilView,
                 int32_t width, int32_t height, const float clearColour[4], const float centre[3],
                 const float rotation[3][3], const float pan[3], float radius, float zoom, bool yUp,
                 const SectionConstants* section, bool showProblems, const MessageSink* sink) {
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

    if (mode == kRenderOutline) {
        // The edges over the solid picture, unlit, in the object colour. They lie
        // at the depth of their faces, which "less" would refuse wherever a face
        // is seen square on, as in the preset views.
        context->OMSetDepthStencilState(pipeline->outlineDepthState, 0);
        useOutlineProgram(pipeline, pipeline->wireRasterizer);
        drawMeshes(pipeline, meshes, yUp, sink);
    }
    if (showProblems)
        drawProblems(pipeline, meshes, depthStencilView, width, height, yUp, mode == kRenderWireframe, sink);
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
    useOutlineProgram(pipeline, pipeline->solidRasterizer);
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
                plane.on ? &section : nullptr, state->showProblems != 0, state->sink);
    drawMarks(state, depthStencilView, width, height);
}

void renderBoxFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                    ID3D11DepthStencilView* depthStencilView, int32_t width, int32_t height) {
    // The camera and the clear of a frame without meshes, then the lines.
    GpuMesh* first = state->meshes[0];
    ViewState empty;
    memcpy(&empty, state, sizeof empty);
    memset(empty.meshes, 0, sizeof empty.meshes);
    renderViewFrame(&empty, renderTargetView, depthStencilView, width, height);
    float low[3], high[3];
    memcpy(low, state->boundsMin, sizeof low);
    memcpy(high, state->boundsMax, sizeof high);
    uint32_t colour = first ? first->color : 0xFFFFFFFF;
    MeshVertex corners[8];
    for (int corner = 0; corner < 8; ++corner) {
        for (int axis = 0; axis < 3; ++axis) corners[corner].position[axis] = corner >> axis & 1 ? high[axis] : low[axis];
        memcpy(corners[corner].colour, &colour, 4);
    }
    MeshVertex lines[24];
    int used = 0;
    for (int corner = 0; corner < 8; ++corner)
        for (int axis = 0; axis < 3; ++axis)
            if (!(corner >> axis & 1)) {
                lines[used++] = corners[corner];
                lines[used++] = corners[corner | 1 << axis];
            }
    const GpuPipeline* pipeline = &state->pipeline;
    ID3D11DeviceContext* context = pipeline->context;
    D3D11_BUFFER_DESC description = {sizeof lines, D3D11_USAGE_IMMUTABLE, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    D3D11_SUBRESOURCE_DATA initial = {lines, 0, 0};
    ID3D11Buffer* buffer = nullptr;
    if (FAILED(pipeline->device->CreateBuffer(&description, &initial, &buffer))) return;
    ObjectConstants constants;
    computeObjectConstants(1.0f, state->yUp != 0, colour, &constants);  // the box is in metres already
    writeConstants(context, pipeline->objectConstants, &constants, sizeof constants, state->sink);
    useOutlineProgram(pipeline, pipeline->wireRasterizer);
    UINT stride = kVertexStride, offset = 0;
    context->IASetVertexBuffers(0, 1, &buffer, &stride, &offset);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    context->Draw(24, 0);
    buffer->Release();
}

namespace {

uint32_t millisecondsSince(int64_t start) {
    int64_t frequency = counterFrequency();
    return frequency > 0 ? static_cast<uint32_t>((readCounter() - start) * 1000 / frequency) : 0;
}

// One-sample frames are possible where frames go through GDI from
// multisampled textures (the resolve texture exists exactly then).
bool singleSampleTargets(ViewState* state) {
    if (state->swapChain || !state->resolvedFrame) return false;
    if (state->singleSampleTarget) return true;
    return createFrameTextures(state->pipeline.device, state->clientWidth, state->clientHeight,
                               &state->singleSampleTarget, &state->singleSampleDepth, state->sink, 1);
}

// Waits up to kFrameWaitMs for the device to finish the frame; false while
// it is still drawing. Without a query the frame counts as done: showing it
// then waits for it.
bool awaitFrame(ViewState* state) {
    ID3D11DeviceContext* context = state->pipeline.context;
    if (!state->frameDone) {
        D3D11_QUERY_DESC description = {D3D11_QUERY_EVENT, 0};
        if (FAILED(state->pipeline.device->CreateQuery(&description, &state->frameDone))) {
            state->frameDone = nullptr;
            return true;
        }
    }
    context->End(state->frameDone);
    context->Flush();
    while (context->GetData(state->frameDone, nullptr, 0, D3D11_ASYNC_GETDATA_DONOTFLUSH) == S_FALSE) {
        if (millisecondsSince(state->frameStart) >= kFrameWaitMs) return false;
        Sleep(1);
    }
    return true;
}

void finishFrame(ViewState* state, HRESULT queued) {
    HRESULT result = SUCCEEDED(queued) ? showFrame(state) : queued;
    recordFrame(&state->pacing, state->frameForm, millisecondsSince(state->frameStart));
    if (FAILED(result)) {
        // Until the next upload makes a new device the view shows the GDI picture.
        reportGpuError(result, state->sink);
        dropDevice(state);
    }
}

}  // namespace

void paintView(ViewState* state) {
    HWND window = static_cast<HWND>(state->window);
    acquireSpinLock(&state->lock);
    if (!state->pipeline.device || !state->meshes[0]) {
        releaseSpinLock(&state->lock);
        paintNoDevicePicture(state);
        return;
    }
    if (state->frameInFlight) {
        state->repaintAfterFrame = 1;
        releaseSpinLock(&state->lock);
        ValidateRect(window, nullptr);
        return;
    }
    state->frameStart = readCounter();
    bool moving = viewIsMoving(state);
    bool gdiMultisampled = !state->swapChain && state->resolvedFrame;
    FrameForm form = chooseFrameForm(&state->pacing, moving, gdiMultisampled);
    if (form == kFormSingleSample && !singleSampleTargets(state)) form = kFormBox;
    state->frameForm = form;
    ID3D11RenderTargetView* target = form == kFormSingleSample ? state->singleSampleTarget : state->renderTargetView;
    ID3D11DepthStencilView* depth = form == kFormSingleSample ? state->singleSampleDepth : state->depthStencilView;
    if (form == kFormBox)
        renderBoxFrame(state, target, depth, state->clientWidth, state->clientHeight);
    else
        renderViewFrame(state, target, depth, state->clientWidth, state->clientHeight);
    HRESULT queued = queueFramePresentation(state, form);
    // Without the timer nothing would show the frame later: it is waited for.
    bool later = SUCCEEDED(queued) && !awaitFrame(state) && SetTimer(window, kFrameTimerId, kFramePollMs, nullptr);
    if (later)
        state->frameInFlight = 1;
    else
        finishFrame(state, queued);
    releaseSpinLock(&state->lock);
    ValidateRect(window, nullptr);
}

void pollFrame(ViewState* state) {
    HWND window = static_cast<HWND>(state->window);
    acquireSpinLock(&state->lock);
    if (state->frameInFlight && state->pipeline.device &&
        state->pipeline.context->GetData(state->frameDone, nullptr, 0, D3D11_ASYNC_GETDATA_DONOTFLUSH) == S_FALSE) {
        releaseSpinLock(&state->lock);
        return;
    }
    if (state->frameInFlight) {
        state->frameInFlight = 0;
        finishFrame(state, S_OK);
    }
    bool repaint = state->repaintAfterFrame != 0;
    state->repaintAfterFrame = 0;
    releaseSpinLock(&state->lock);
    KillTimer(window, kFrameTimerId);
    if (repaint || (!viewIsMoving(state) && needsFullFrame(&state->pacing))) InvalidateRect(window, nullptr, FALSE);
}

// 0 marks a stopped rotation timer, so a counter reading of 0 is moved by a tick.
int64_t readCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart != 0 ? now.QuadPart : 1;
}

int64_t counterFrequency() {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) return 0;
    return frequency.QuadPart;
}

void failNextPresent(int32_t result) {
    exchange32(&injectedPresentResult, result);
}
