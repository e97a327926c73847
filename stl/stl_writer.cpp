#include "stl/stl_writer.h"

#include <cmath>
#include <cstring>

void transformCorner(const double transform[3][4], const float corner[3], float out[3]) {
    for (int r = 0; r < 3; ++r)
        out[r] = static_cast<float>(transform[r][0] * corner[0] + transform[r][1] * corner[1] +
                                    transform[r][2] * corner[2] + transform[r][3]);
}

uint64_t trianglesToWrite(const ModelToWrite* model) {
    uint64_t count = 0;
    for (uint32_t i = 0; i < model->solidCount; ++i) count += model->solids[i].solid->triangleCount;
    return count;
}

uint8_t writtenColourOrder(const ModelToWrite* model) {
    uint8_t order = kOrderNone;
    for (uint32_t i = 0; i < model->solidCount; ++i) {
        const SolidToWrite& solid = model->solids[i];
        if (!solid.solid->hasColours || solid.colorOrder == kOrderNone) continue;
        if (solid.colorOrder != kOrderUnstated) return solid.colorOrder;
        order = kOrderUnstated;
    }
    return order;
}

void binaryStlHeader(bool unitKnown, uint8_t colorOrder, const uint8_t* modelColour, uint8_t header[80]) {
    const char* text = unitKnown ? "Veldmark STL Viewer, millimetres" : "Veldmark STL Viewer, unit unknown";
    size_t length = strlen(text);
    memset(header, ' ', 80);
    memcpy(header, text, length);
    if (colorOrder == kOrderRgb || colorOrder == kOrderBgr) {
        memcpy(header + length, colorOrder == kOrderRgb ? ", colours RGB" : ", colours BGR", 13);
        length += 13;
    }
    if (modelColour) {
        memcpy(header + length, " COLOR=", 7);
        memcpy(header + length + 7, modelColour, 4);
    }
}

namespace {

// Red and blue change places between the two orders.
uint16_t swapRedBlue(uint16_t attribute) {
    return static_cast<uint16_t>((attribute & 0x83E0) | (attribute & 0x1F) << 10 | (attribute >> 10 & 0x1F));
}

void normalOf(const float v[3][3], float normal[3]) {
    double a[3], b[3];
    for (int d = 0; d < 3; ++d) a[d] = double{v[1][d]} - v[0][d], b[d] = double{v[2][d]} - v[0][d];
    double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    double length = sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    bool usable = length > 0 && std::isfinite(length);
    for (int d = 0; d < 3; ++d) normal[d] = usable ? static_cast<float>(n[d] / length) : 0.0f;
}

// The transform a part in millimetres gets when nothing turns or moves it;
// +0 throughout, as partTransform makes it.
bool isIdentity(const double transform[3][4]) {
    static constexpr double kIdentity[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    return memcmp(transform, kIdentity, sizeof kIdentity) == 0;
}

// The corners as written. Through the identity a finite corner comes out
// as it is but for -0, which the transform's +0 shift makes +0; a corner
// with an infinite or NaN coordinate goes through the transform (0 · inf).
void writtenCorners(const double transform[3][4], bool identity, const StlTriangle& from, float corners[3][3]) {
    uint32_t bits[9];
    memcpy(bits, from.vertices, sizeof bits);  // the records are packed
    bool finite = true;
    for (uint32_t& b : bits) {
        finite = finite && (b & 0x7F800000u) != 0x7F800000u;
        if (b == 0x80000000u) b = 0;
    }
    if (identity && finite) {
        memcpy(corners, bits, sizeof bits);
        return;
    }
    float given[3][3];
    memcpy(given, from.vertices, sizeof given);
    for (int c = 0; c < 3; ++c) transformCorner(transform, given[c], corners[c]);
}

}  // namespace

bool writeBinaryStl(const ModelToWrite* model, ByteOutput* out) {
    uint64_t count = trianglesToWrite(model);
    if (count > 0xFFFFFFFFu) return false;
    uint8_t order = writtenColourOrder(model);
    uint8_t header[80];
    binaryStlHeader(model->unitKnown, order, model->modelColour[3] ? model->modelColour : nullptr, header);
    putBytes(out, header, sizeof header);
    putLittle32(out, static_cast<uint32_t>(count));
    for (uint32_t s = 0; s < model->solidCount && !out->failed; ++s) {
        const SolidToWrite& solid = model->solids[s];
        bool swap = solid.colorOrder != order && solid.colorOrder >= kOrderRgb && order >= kOrderRgb;
        bool identity = isIdentity(solid.transform);
        for (uint32_t t = 0; t < solid.solid->triangleCount; ++t) {
            const StlTriangle& from = solid.solid->triangles[t];
            float corners[3][3];
            writtenCorners(solid.transform, identity, from, corners);
            // The records are little-endian, as the machines this runs on.
            uint8_t record[50];
            float normal[3];
            normalOf(corners, normal);
            memcpy(record, normal, 12);
            memcpy(record + 12, corners, 36);
            uint16_t attribute = solid.solid->hasColours ? from.attribute : 0;
            if (swap) attribute = swapRedBlue(attribute);
            memcpy(record + 48, &attribute, 2);
            putSmallBytes(out, record, sizeof record);
        }
    }
    return flushBytes(out);
}
