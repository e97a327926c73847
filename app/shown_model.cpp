#include "app/shown_model.h"

#include <cstring>

#include "stl/format_detection.h"
#include "view/gpu_mesh.h"

int usedPartCount(const ShownModel* model) {
    int count = 0;
    while (count < kMaxParts && model->parts[count].heap) ++count;
    return count;
}

bool jobBroughtParts(const LoadJob* job) {
    const ModelPart* parts = static_cast<const ModelPart*>(job->parts.data);
    for (uint64_t i = 0; i < job->parts.used / sizeof(ModelPart); ++i)
        if (parts[i].heap) return true;
    return false;
}

int takeParts(ShownModel* model, LoadJob* job) {
    int slot = usedPartCount(model);
    int first = -1;
    ModelPart* parts = static_cast<ModelPart*>(job->parts.data);
    uint64_t count = job->parts.used / sizeof(ModelPart);
    for (uint64_t i = 0; i < count; ++i) {
        if (!parts[i].heap) continue;
        if (slot < kMaxParts) {
            if (first < 0) first = slot;
            model->checks[slot].state = kCheckPending;
            model->parts[slot++] = parts[i];
        } else {
            releaseModelPart(&parts[i]);  // no slot left: this part is never shown
        }
        parts[i].heap = nullptr;
    }
    return first;
}

void forgetPartCheck(PartCheck* check) {
    freeBytes(check->marks);
    freeSurfaceWelding(&check->welding);
    *check = PartCheck{};
}

void releaseParts(ShownModel* model) {
    for (int slot = 0; slot < kMaxParts; ++slot) {
        forgetPartCheck(&model->checks[slot]);
        if (!model->parts[slot].heap) continue;
        releaseModelPart(&model->parts[slot]);
        model->parts[slot].heap = nullptr;
    }
    model->newestSlot = 0;
    ++model->generation;
}

namespace {

// Name comparisons beyond the solids in their old places; a hostile file of
// millions of renamed solids must not hold the window for minutes.
constexpr uint64_t kNameSearchBudget = uint64_t{1} << 24;

bool sameName(const StlSolid& a, const StlSolid& b) {
    return a.name.length == b.name.length && (a.name.length == 0 || memcmp(a.name.bytes, b.name.bytes, a.name.length) == 0);
}

// Which of the solids of its name a solid is, counted from 0.
uint32_t occurrenceOf(const StlMesh& mesh, uint32_t solid, uint64_t* budget) {
    uint32_t earlier = 0;
    for (uint32_t k = 0; k < solid && *budget; ++k, --*budget) earlier += sameName(mesh.solids[k], mesh.solids[solid]);
    return earlier;
}

// The solid of `mesh` that is the given occurrence of the name; solidCount when none.
uint32_t findOccurrence(const StlMesh& mesh, const StlSolid& named, uint32_t occurrence, uint64_t* budget) {
    for (uint32_t k = 0; k < mesh.solidCount && *budget; ++k, --*budget)
        if (sameName(mesh.solids[k], named) && occurrence-- == 0) return k;
    return mesh.solidCount;
}

}  // namespace

void carrySolidVisibility(const ModelPart* old, ModelPart* fresh) {
    if (!old->visibleSolids || !fresh->visibleSolids) return;
    uint64_t budget = kNameSearchBudget;
    for (uint32_t solid = 0; solid < old->mesh.solidCount; ++solid) {
        if (old->visibleSolids[solid]) continue;
        const StlSolid& named = old->mesh.solids[solid];
        uint32_t match = solid < fresh->mesh.solidCount && sameName(fresh->mesh.solids[solid], named) ? solid
                         : budget ? findOccurrence(fresh->mesh, named, occurrenceOf(old->mesh, solid, &budget), &budget)
                                  : fresh->mesh.solidCount;
        if (match < fresh->mesh.solidCount) fresh->visibleSolids[match] = 0;
    }
}

// A binary STL file has one solid; in a 3MF file any object may carry the colours.
bool hasTriangleColors(const ModelPart* part) {
    if (!part->heap || (part->format != kFormatBinary && part->format != kFormat3mf)) return false;
    for (uint32_t solid = 0; solid < part->mesh.solidCount; ++solid)
        if (part->mesh.solids[solid].hasColours) return true;
    return false;
}

uint32_t firstUnlistedSolid(const ModelPart* part) {
    uint32_t listed = 0, solid = 0;
    for (; solid < part->mesh.solidCount && listed < kMaxTreeSolids; ++solid)
        listed += part->mesh.solids[solid].triangleCount != 0;
    return solid;
}

bool setItemSolidsVisible(ShownModel* model, uint32_t slot, uint32_t item, bool visible) {
    if (slot >= kMaxParts || !model->parts[slot].heap) return false;
    ModelPart& part = model->parts[slot];
    uint32_t first = item, end = item + 1;
    if (item == kTreeMoreItem) {
        first = firstUnlistedSolid(&part);
        end = part.mesh.solidCount;
    }
    bool changed = false;
    for (uint32_t solid = first; solid < end && solid < part.mesh.solidCount; ++solid) {
        uint8_t* byte = &part.visibleSolids[solid];
        changed |= *byte != visible;
        *byte = visible;
    }
    return changed;
}

bool saveShownModel(const ShownModel* model, const Utf16* path, const RepairChoice& repairs, bool yUp,
                    SaveOutcome* outcome, const MessageSink* sink) {
    Placement placements[kMaxParts];
    int count = usedPartCount(model);
    for (int i = 0; i < count; ++i) {
        const GpuMesh* gpu = static_cast<const GpuMesh*>(model->parts[i].gpuMesh);
        placements[i] = gpu && gpu->placed ? Placement(gpu->placement) : identityPlacement();
    }
    // A check still running is not waited for: the repairs weld themselves, as they would without it.
    CheckedBefore checked[kMaxParts] = {};
    for (int i = 0; i < count; ++i)
        if (model->checks[i].state == kCheckDone) checked[i] = CheckedBefore{&model->checks[i].welding, &model->checks[i].result};
    SaveRequest request{model->parts, static_cast<uint32_t>(count), placements, yUp, saveFormatFor(path), repairs, path,
                        checked};
    return saveModel(&request, outcome, nullptr, sink);
}

