// The steps of the load job after mapping, on bytes in memory: detect,
// parse and recognise, defaults, all solids visible, upload (ranges and
// bounds). Messages arrive as lines in a recording sink.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/sink_recorder.h"
#include "stl/format_detection.h"
#include "load/load_job.h"
#include "view/gpu_mesh.h"

struct Loaded {
    Converter messages;
    ModelPart part{};
    HeapHandle heap = createPrivateHeap();
    GpuMesh* gpu = nullptr;
    uint32_t format = kFormatNone;
    std::string copy;  // the bytes, when given as a string: the mesh points into them

    Loaded(const uint8_t* bytes, uint64_t size) { load(bytes, size); }
    explicit Loaded(std::string bytes) : copy(std::move(bytes)) {
        load(reinterpret_cast<const uint8_t*>(copy.data()), copy.size());
    }
    ~Loaded() { destroyPrivateHeap(heap); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    void load(const uint8_t* bytes, uint64_t size) {
        const MessageSink* sink = messages.producerSink();
        format = detectFormat(bytes, size);
        if (format == kFormatNone) return;
        if (!parseModel(&part, format, bytes, bytes + size, heap, sink)) return;
        uint8_t* visible = static_cast<uint8_t*>(allocArray(heap, part.mesh.solidCount, 1, sink));
        if (!visible) return;
        memset(visible, 1, part.mesh.solidCount);
        applyLoadDefaults(&part.metadata, sink);
        gpu = uploadMesh(nullptr, &part.mesh, &part.metadata, visible, heap, sink);
    }

    bool loaded() const { return gpu != nullptr; }
    std::vector<Text> lines() const { return messages.inner.lines(); }
    const StlSolid& solid(uint32_t i) const { return part.mesh.solids[i]; }
    std::string name(uint32_t i) const { return std::string(solid(i).name.bytes, solid(i).name.length); }
};
