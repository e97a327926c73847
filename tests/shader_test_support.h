// Shared by the shader tests: hex helpers, containers made by Wine's
// D3DCompile, and the hand-encoded shaders whose bytes Wine accepted.
#pragma once
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::vector<uint8_t> bytesFromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : hex) {
        if (!isxdigit(static_cast<unsigned char>(c))) continue;
        int v = isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(c) - 'a' + 10);
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return bytes;
}

inline std::string hexBytes(const uint8_t* data, size_t size) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        snprintf(two, sizeof two, "%02x", data[i]);
        s += two;
    }
    return s;
}

inline uint32_t readU32(const std::vector<uint8_t>& b, size_t offset) {
    return uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 | uint32_t(b[offset + 2]) << 16 |
           uint32_t(b[offset + 3]) << 24;
}

inline uint32_t readU32(const uint8_t* b, size_t offset) {
    return uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 | uint32_t(b[offset + 2]) << 16 |
           uint32_t(b[offset + 3]) << 24;
}

// "void main() {}" as vs_4_0 by Wine's D3DCompile: 152 hashed bytes, so the
// checksum ends in a single block.
const char kWineEmptyVertexShader[] =
    "44584243 8fe158d3 05bddeb6 973d9649 955809dc 01000000 ac000000 04000000"
    "30000000 40000000 50000000 98000000 4953474e 08000000 00000000 08000000"
    "4f53474e 08000000 00000000 08000000 52444546 40000000 00000000 1c000000"
    "00000000 1c000000 0004feff 00000000 1c000000 766b6433 642d7368 61646572"
    "20312e36 20286769 74203165 61663733 31343763 64332900 53484452 0c000000"
    "40000100 03000000 3e000001";

// "void main(float4 p : ABCDE) {}" as vs_4_0: 184 hashed bytes, 56 left over,
// so the checksum needs two closing blocks.
const char kWineOneInputVertexShader[] =
    "44584243 6d1d69c2 05ca67f9 d28faa6c 2fb996fd 01000000 cc000000 04000000"
    "30000000 60000000 70000000 b8000000 4953474e 28000000 01000000 08000000"
    "20000000 00000000 00000000 03000000 00000000 0f0f0000 41424344 4500abab"
    "4f53474e 08000000 00000000 08000000 52444546 40000000 00000000 1c000000"
    "00000000 1c000000 0004feff 00000000 1c000000 766b6433 642d7368 61646572"
    "20312e36 20286769 74203165 61663733 31343763 64332900 53484452 0c000000"
    "40000100 03000000 3e000001";

// A lit vertex shader encoded by hand and accepted by Wine (712 bytes,
// checksum f7fdc6c4...).
const char kReferenceLitVertexShader[] = R"(vs_4_0
input  XYZ          v0.xyz
input  CLR          v1.xyzw  read xyz
output SV_Position  o0.xyzw
output TEXCOORD0    o1.xyz
output TEXCOORD1    o2.xyz
dcl_globalFlags refactoringAllowed
dcl_constantbuffer cb0[5], immediateIndexed
dcl_constantbuffer cb1[8], immediateIndexed
dcl_input v0.xyz
dcl_input v1.xyz
dcl_output_siv o0.xyzw, position
dcl_output o1.xyz
dcl_output o2.xyz
dcl_temps 2
mul r0.xyz, v0.yyyy, cb1[1].xyzx
mad r0.xyz, v0.xxxx, cb1[0].xyzx, r0.xyzx
mad r0.xyz, v0.zzzz, cb1[2].xyzx, r0.xyzx
add r0.xyz, r0.xyzx, cb1[3].xyzx
mul r1.xyzw, r0.yyyy, cb0[1].xyzw
mad r1.xyzw, r0.xxxx, cb0[0].xyzw, r1.xyzw
mad r1.xyzw, r0.zzzz, cb0[2].xyzw, r1.xyzw
add o0.xyzw, r1.xyzw, cb0[3].xyzw
add o1.xyz, r0.xyzx, -cb0[4].xyzx
mul o2.xyz, v1.xyzx, cb1[7].xyzx
ret
)";

// A face geometry shader encoded by hand, three emits in a row, accepted by
// Wine (1180 bytes, checksum d0fc862d...).
const char kReferenceFaceGeometryShader[] = R"(gs_4_0
input  SV_Position  v0.xyzw
input  TEXCOORD0    v1.xyz
input  TEXCOORD1    v2.xyz
output SV_Position  o0.xyzw
output TEXCOORD0    o1.xyz
output TEXCOORD1    o2.xyz
output TEXCOORD2    o3.xyz
output TEXCOORD3    o4.xyz
dcl_globalFlags refactoringAllowed
dcl_constantbuffer cb0[6], immediateIndexed
dcl_input_siv v[3][0].xyzw, position
dcl_input v[3][1].xyz
dcl_input v[3][2].xyz
dcl_temps 3
dcl_inputprimitive triangle
dcl_outputtopology trianglestrip
dcl_output_siv o0.xyzw, position
dcl_output o1.xyz
dcl_output o2.xyz
dcl_output o3.xyz
dcl_output o4.xyz
dcl_maxout 3
add r0.xyz, v[1][1].xyzx, -v[0][1].xyzx
add r1.xyz, v[2][1].xyzx, -v[0][1].xyzx
mul r2.xyz, r1.yzxy, r0.zxyz
mad r2.xyz, -r1.zxyz, r0.yzxy, r2.xyzx
dp3 r0.w, r2.xyzx, r2.xyzx
rsq r0.w, r0.w
mul r2.xyz, r2.xyzx, r0.wwww
dp3 r0.w, v[0][1].xyzx, r2.xyzx
lt r0.w, l(0.0), r0.w
movc r2.xyz, r0.wwww, -r2.xyzx, r2.xyzx
mov o0.xyzw, v[0][0].xyzw
mov o1.xyz, v[0][1].xyzx
mov o2.xyz, r2.xyzx
mov o3.xyz, v[0][2].xyzx
mov o4.xyz, cb0[5].xyzx
emit
mov o0.xyzw, v[1][0].xyzw
mov o1.xyz, v[1][1].xyzx
mov o2.xyz, r2.xyzx
mov o3.xyz, v[1][2].xyzx
mov o4.xyz, cb0[5].xyzx
emit
mov o0.xyzw, v[2][0].xyzw
mov o1.xyz, v[2][1].xyzx
mov o2.xyz, r2.xyzx
mov o3.xyz, v[2][2].xyzx
mov o4.xyz, cb0[5].xyzx
emit
ret
)";

// A container's chunk by FourCC, or null.
inline const uint8_t* findChunk(const uint8_t* blob, size_t size, const char fourcc[4], uint32_t* dataSize) {
    uint32_t count = readU32(blob, 28);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = readU32(blob, 32 + 4 * i);
        if (offset + 8 > size) return nullptr;
        if (std::string(reinterpret_cast<const char*>(blob + offset), 4) == std::string(fourcc, 4)) {
            *dataSize = readU32(blob, offset + 4);
            return blob + offset + 8;
        }
    }
    return nullptr;
}

struct ReadElement {
    std::string name;
    uint32_t index, systemValue, componentType, reg;
    uint8_t mask, readWriteMask;
};

inline std::vector<ReadElement> readSignature(const uint8_t* data) {
    std::vector<ReadElement> elements;
    uint32_t count = readU32(data, 0);
    uint32_t table = readU32(data, 4);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = data + table + 24 * i;
        ReadElement r;
        r.name = reinterpret_cast<const char*>(data + readU32(e, 0));
        r.index = readU32(e, 4);
        r.systemValue = readU32(e, 8);
        r.componentType = readU32(e, 12);
        r.reg = readU32(e, 16);
        r.mask = e[20];
        r.readWriteMask = e[21];
        elements.push_back(r);
    }
    return elements;
}
