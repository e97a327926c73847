// Helpers shared by the tests of the view, its camera and its device.
#pragma once
#include <cstddef>
#include <cstring>

#include "view/gpu_mesh.h"

// Fields of packed records may sit on odd addresses and cannot bind to the
// references the assertions take: compare copies.
template <typename T>
T copyOf(T value) {
    return value;
}

// Element `index` of a packed float array.
inline float packedFloat(const void* base, int index) {
    float value;
    memcpy(&value, static_cast<const char*>(base) + index * sizeof(float), sizeof value);
    return value;
}

// A white mesh in metres with only its box set.
inline GpuMesh meshWithBox(float x0, float y0, float z0, float x1, float y1, float z1) {
    GpuMesh mesh;
    memset(&mesh, 0, sizeof mesh);
    float boxMin[3] = {x0, y0, z0};
    float boxMax[3] = {x1, y1, z1};
    memcpy(reinterpret_cast<char*>(&mesh) + offsetof(GpuMesh, boundsMin), boxMin, sizeof boxMin);
    memcpy(reinterpret_cast<char*>(&mesh) + offsetof(GpuMesh, boundsMax), boxMax, sizeof boxMax);
    mesh.color = 0xFFFFFFFF;
    mesh.unitScale = 1.0f;
    return mesh;
}
