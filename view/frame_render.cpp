// WM_PAINT of the view. Frames are drawn only on demand: every change of
// camera, colour, mode or meshes invalidates the window.
#include "view/frame_render.h"

#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>

#include <cmath>
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
#include "view/window_targets.h"

namespace {

constexpr UINT kVertexStride = sizeof(MeshVertex);
// Far enough forward to win over the face under a line, a thousandth of
// the depth range: surfaces that much apart are one to the eye.
constexpr float kProblemLineDepth = 0.999f;

// The picture's viewport, moved to the tile's place and by a shift of whole
// pixels, with depths from 0 to `farDepth`.
D3D11_VIEWPORT viewportOf(const FrameArea& area, int shiftX, int shiftY, float farDepth) {
    return D3D11_VIEWPORT{static_cast<float>(shiftX - area.left), static_cast<float>(shiftY - area.top),
                          static_cast<float>(area.width), static_cast<float>(area.height), 0.0f, farDepth};
}

// A failed Map is reported; a lost device is told by its owner.
bool writeConstants(ID3D11DeviceContext* context, ID3D11Buffer* buffer, const void* data, size_t bytes,
                    const MessageSink* sink) {
    D3D11_MAPPED_SUBRESOURCE mapped;
    HRESULT result = context->Map(buffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
    if (FAILED(result)) {
        reportGpuFailure(result, sink);
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

constexpr OverhangTint kNoTint = {0, 0.0f};

// The tint of a mesh's overhangs: its lowest point is the bed.
void tintOverhangs(const GpuMesh* mesh, bool yUp, OverhangTint overhangs, ObjectConstants* constants) {
    float low[3], high[3];
    memcpy(low, mesh->boundsMin, sizeof low);
    memcpy(high, mesh->boundsMax, sizeof high);
    float reach = 0;
    for (int axis = 0; axis < 3; ++axis) {
        reach = fabsf(low[axis]) > reach ? fabsf(low[axis]) : reach;
        reach = fabsf(high[axis]) > reach ? fabsf(high[axis]) : reach;
    }
    setOverhangTint(constants, overhangs.degrees, yUp ? low[1] : low[2], reach, mesh->insideOut != 0);
}

// The object constants of a mesh, drawn in `colour`; false when it cannot
// be drawn: no pieces, or pieces of an earlier device.
bool bindMesh(const GpuPipeline* pipeline, const GpuMesh* mesh, bool yUp, uint32_t colour, OverhangTint overhangs,
              const MessageSink* sink) {
    if (mesh->pieceCount == 0 || !madeByDevice(mesh->pieces[0].vertices, pipeline->device)) return false;
    ObjectConstants constants;
    computeObjectConstants(mesh->unitScale, yUp, colour, &constants);
    if (mesh->placed) {
        Placement placement = mesh->placement;  // the record is packed
        placeObject(&constants, placement);
    }
    if (overhangs.on) tintOverhangs(mesh, yUp, overhangs, &constants);
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
        if (!bindMesh(pipeline, meshes[slot], yUp, meshes[slot]->color, kNoTint, sink)) continue;
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
// flipped edges tinted (whatever their own colours), a part inside out
// tinted whole, then the open and
// non-manifold edges, two pixels wide (drawn again one pixel right and down),
// all unlit. The lines
// come a little nearer than their faces through the viewport's depth range,
// as lines never meet their faces' depths exactly (Wine's depth bias leaves
// lines alone). Wireframe hides nothing, so there they hide nothing either:
// its own edges, drawn as lines, would.
void drawProblems(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots],
                  ID3D11DepthStencilView* depthStencilView, const FrameArea& area, bool yUp, bool wireframe,
                  const MessageSink* sink) {
    ID3D11DeviceContext* context = pipeline->context;
    GpuMesh* drawn[kViewMeshSlots] = {};
    int count = 0;
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot)
        if (hasProblems(meshes[slot], pipeline->device) || meshes[slot]->insideOut) drawn[count++] = meshes[slot];
    if (count == 0) return;
    context->OMSetDepthStencilState(pipeline->outlineDepthState, 0);
    useOutlineProgram(pipeline, pipeline->solidRasterizer);
    const float share[4] = {kProblemTintShare, kProblemTintShare, kProblemTintShare, kProblemTintShare};
    context->OMSetBlendState(pipeline->problemTintBlend, share, 0xFFFFFFFF);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    for (int m = 0; m < count; ++m) {
        if (!bindMesh(pipeline, drawn[m], yUp, kProblemColours[kProblemFlipped], kNoTint, sink)) continue;
        if (drawn[m]->insideOut) drawSolids(context, drawn[m]);
        else drawProblemPieces(context, drawn[m], kProblemFlipped);
    }
    context->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFF);

    if (wireframe) context->ClearDepthStencilView(depthStencilView, D3D11_CLEAR_DEPTH, 1.0f, 0);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_LINELIST);
    for (int m = 0; m < count; ++m) {
        for (uint32_t kind : {kProblemOpen, kProblemNonManifold}) {
            if (!bindMesh(pipeline, drawn[m], yUp, kProblemColours[kind], kNoTint, sink)) continue;
            for (int shift = 0; shift < 4; ++shift) {
                D3D11_VIEWPORT viewport = viewportOf(area, shift & 1, shift >> 1, kProblemLineDepth);
                context->RSSetViewports(1, &viewport);
                drawProblemPieces(context, drawn[m], kind);
            }
        }
    }
    D3D11_VIEWPORT viewport = viewportOf(area, 0, 0, 1.0f);
    context->RSSetViewports(1, &viewport);
    context->OMSetDepthStencilState(nullptr, 0);
}

}  // namespace

uint32_t shownProblemKinds(GpuMesh* const meshes[kViewMeshSlots], ID3D11Device* device) {
    uint32_t kinds = 0;
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot) {
        const GpuMesh* mesh = meshes[slot];
        if (mesh->insideOut) kinds |= 1u << kProblemFlipped;
        if (!hasProblems(mesh, device)) continue;
        for (uint32_t p = 0; p < mesh->pieceCount; ++p) {
            const MeshPiece* piece = &mesh->pieces[p];
            if (!piece->problemIndices) continue;
            for (uint32_t kind = 0; kind < kProblemKinds; ++kind) {
                const uint32_t* starts = piece->problemStarts + kind * (piece->solidSpan + 1);
                if (starts[piece->solidSpan] > starts[0]) kinds |= 1u << kind;
            }
        }
    }
    return kinds;
}

void drawMeshes(const GpuPipeline* pipeline, GpuMesh* const meshes[kViewMeshSlots], bool yUp,
                OverhangTint overhangs, const MessageSink* sink) {
    for (int slot = 0; slot < kViewMeshSlots && meshes[slot]; ++slot)
        if (bindMesh(pipeline, meshes[slot], yUp, meshes[slot]->color, overhangs, sink))
            drawSolids(pipeline->context, meshes[slot]);
}

void renderFrame(const GpuPipeline* pipeline, RenderMode mode, GpuMesh* const meshes[kViewMeshSlots],
                 ID3D11RenderTargetView* renderTargetView, ID3D11DepthStencilView* depthStencilView,
                 const FrameArea& area, const float clearColour[4], const float centre[3],
                 const float rotation[3][3], const float pan[3], float radius, float zoom, bool yUp,
                 const SectionConstants* section, bool showProblems, OverhangTint overhangs,
                 const MessageSink* sink) {
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
    camera.width = area.width;
    camera.height = area.height;
    FrameConstants frame;
    computeFrameConstants(&camera, &frame);
    ID3D11Buffer* frameConstants = pipeline->frameConstants;
    if (writeConstants(context, frameConstants, &frame, sizeof frame, sink)) {
        context->VSSetConstantBuffers(0, 1, &frameConstants);
        context->GSSetConstantBuffers(0, 1, &frameConstants);
    }
    ID3D11Buffer* objectConstants = pipeline->objectConstants;
    context->VSSetConstantBuffers(1, 1, &objectConstants);
    context->GSSetConstantBuffers(1, 1, &objectConstants);

    D3D11_VIEWPORT viewport = viewportOf(area, 0, 0, 1.0f);
    context->RSSetViewports(1, &viewport);
    context->PSSetShader(pipeline->litPixelShader, nullptr, 0);
    context->OMSetRenderTargets(1, &renderTargetView, depthStencilView);
    // The default state: depth test "less", depth writes, no stencil; no blending.
    context->OMSetDepthStencilState(nullptr, 0);
    context->RSSetState(mode == kRenderWireframe ? pipeline->wireRasterizer : pipeline->solidRasterizer);
    drawMeshes(pipeline, meshes, yUp, overhangs, sink);
    // A filled cap would hide the far edges that Wireframe is for.
    if (section && mode != kRenderWireframe) drawCaps(pipeline, meshes, yUp, renderTargetView, depthStencilView, sink);

    if (mode == kRenderOutline) {
        // The edges over the solid picture, unlit, in the object colour. They lie
        // at the depth of their faces, which "less" would refuse wherever a face
        // is seen square on, as in the preset views.
        context->OMSetDepthStencilState(pipeline->outlineDepthState, 0);
        useOutlineProgram(pipeline, pipeline->wireRasterizer);
        drawMeshes(pipeline, meshes, yUp, kNoTint, sink);
    }
    if (showProblems)
        drawProblems(pipeline, meshes, depthStencilView, area, yUp, mode == kRenderWireframe, sink);
}

namespace {

// The measure marks over everything (the depth buffer is cleared before each
// pass), unlit: a dark rim, then the fill in a colour the picture lacks.
void drawMarks(const ViewState* state, ID3D11DepthStencilView* depthStencilView, const FrameArea& area) {
    MeasureMarks marks;
    memcpy(&marks, &state->marks, sizeof marks);
    if (marks.count == 0) return;
    const GpuPipeline* pipeline = &state->pipeline;
    ID3D11DeviceContext* context = pipeline->context;
    FrameCamera camera;
    viewFrameCamera(state, area.width, area.height, &camera);
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
            reportGpuFailure(result, state->sink);
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
                     ID3D11DepthStencilView* depthStencilView, const FrameArea& area) {
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
    bool cuts = sectionCuts(&plane);
    if (cuts) computeSectionConstants(&plane, state->yUp != 0, boundsMin, boundsMax, &section);
    renderFrame(&state->pipeline, state->renderMode, meshes, renderTargetView, depthStencilView, area,
                clearColour, centre, rotation, pan, state->radius, state->zoom, state->yUp != 0,
                cuts ? &section : nullptr, state->showProblems != 0, state->overhangs, state->sink);
    drawMarks(state, depthStencilView, area);
}

void renderBoxFrame(const ViewState* state, ID3D11RenderTargetView* renderTargetView,
                    ID3D11DepthStencilView* depthStencilView, const FrameArea& area) {
    // The camera and the clear of a frame without meshes, then the lines.
    GpuMesh* first = state->meshes[0];
    ViewState empty;
    memcpy(&empty, state, sizeof empty);
    memset(empty.meshes, 0, sizeof empty.meshes);
    renderViewFrame(&empty, renderTargetView, depthStencilView, area);
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

void warmPipeline(const GpuPipeline* pipeline) {
    ID3D11Device* device = pipeline->device;
    ID3D11DeviceContext* context = pipeline->context;
    MeshVertex vertices[3] = {{{0, 0, 0}, {255, 255, 255, 255}}, {{1, 0, 0}, {255, 255, 255, 255}},
                              {{0, 1, 0}, {255, 255, 255, 255}}};
    D3D11_BUFFER_DESC description = {sizeof vertices, D3D11_USAGE_IMMUTABLE, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
    D3D11_SUBRESOURCE_DATA initial = {vertices, 0, 0};
    ID3D11Buffer* buffer = nullptr;
    if (FAILED(device->CreateBuffer(&description, &initial, &buffer))) return;
    SolidRange range = {0, 1};
    MeshPiece piece = {buffer, 0, 1, 0, 1, nullptr, nullptr};
    GpuMesh mesh;
    memset(&mesh, 0, sizeof mesh);
    mesh.solidCount = 1;
    mesh.color = 0xFFFFFFFF;
    mesh.ranges = &range;
    mesh.triangleCount = 1;
    mesh.pieces = &piece;
    mesh.pieceCount = 1;
    mesh.unitScale = 1;
    GpuMesh* meshes[kViewMeshSlots] = {&mesh, nullptr, nullptr, nullptr, nullptr};
    constexpr int32_t kSide = 8;
    ID3D11RenderTargetView* renderTargetView;
    ID3D11DepthStencilView* depthStencilView;
    // The samples of a window's frames: the programs are built for them.
    if (SUCCEEDED(createFrameTextures(device, kSide, kSide, targetSampleCount(device, kSide, kSide), &renderTargetView,
                                      &depthStencilView))) {
        const float clear[4] = {0, 0, 0, 1}, centre[3] = {0.5f, 0.5f, 0}, pan[3] = {0, 0, 0};
        const float rotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        SectionPlane plane = initialSection();
        plane.on = 1;
        SectionConstants cut;
        const float low[3] = {0, 0, 0}, high[3] = {1, 1, 0};
        computeSectionConstants(&plane, true, low, high, &cut);
        const SectionConstants* sections[] = {nullptr, &cut};
        const FrameArea area = {kSide, kSide, 0, 0};
        for (RenderMode mode : {kRenderSolid, kRenderWireframe, kRenderOutline})
            for (const SectionConstants* section : sections)
                renderFrame(pipeline, mode, meshes, renderTargetView, depthStencilView, area, clear, centre, rotation,
                            pan, 0.71f, kInitialZoom, true, section, false, OverhangTint{1, 45.0f}, nullptr);
        // Reading the pixels waits until the driver has done all of it.
        ID3D11Texture2D *resolved = nullptr, *staging = nullptr;
        const void* pixels;
        uint32_t rowPitch;
        if (SUCCEEDED(createCopyTextures(device, renderTargetView, &resolved, &staging))) {
            if (SUCCEEDED(mapFrameCopy(context, renderTargetView, resolved, staging, &pixels, &rowPitch)))
                context->Unmap(staging, 0);
            staging->Release();
            if (resolved) resolved->Release();
        }
        context->OMSetRenderTargets(0, nullptr, nullptr);
        depthStencilView->Release();
        renderTargetView->Release();
    }
    buffer->Release();
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
