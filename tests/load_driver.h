// The load job's steps after mapping (buildModelPart), on bytes in memory:
// detect, parse and recognise, defaults, all solids visible, upload (ranges
// and bounds). Messages arrive as lines in a recording sink.
#pragma once
#include <cstdint>
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
    std::string bytes;  // the mesh points into them

    explicit Loaded(std::string file) : bytes(std::move(file)) {
        load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    // Bytes the caller keeps, e.g. sized exactly so that a read past them is caught.
    Loaded(const uint8_t* data, size_t size) { load(data, size); }
    void load(const uint8_t* data, size_t size) {
        if (buildModelPart(&part, kFormatNone, data, size, heap, nullptr, messages.producerSink()))
            gpu = static_cast<GpuMesh*>(part.gpuMesh);
    }
    ~Loaded() { destroyPrivateHeap(heap); }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    bool loaded() const { return gpu != nullptr; }
    std::vector<Text> lines() const { return messages.inner.lines(); }
    const StlSolid& solid(uint32_t i) const { return part.mesh.solids[i]; }
    std::string name(uint32_t i) const { return std::string(solid(i).name.bytes, solid(i).name.length); }
};
