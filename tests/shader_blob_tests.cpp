// The embedded shader containers: their shape, sizes, signatures, and that
// each stage's outputs feed the next stage's inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/shader_wine_compiled.h"
#include "shader_test_support.h"
#include "sm4asm.h"
#include "view/shaders/shader_blobs.h"

namespace {

struct Blob {
    const char* name;
    const uint8_t* data;
    size_t size;
    size_t budget;          // the size the shader was planned with
    uint32_t versionToken;  // program type and 4.0
};

const Blob kBlobs[] = {
    {"lit vertex", kLitVertexShader, kLitVertexShaderSize, 708, 0x00010040},
    {"face geometry", kFaceGeometryShader, kFaceGeometryShaderSize, 1044, 0x00020040},
    {"lit pixel", kLitPixelShader, kLitPixelShaderSize, 1172, 0x00000040},
    {"outline vertex", kOutlineVertexShader, kOutlineVertexShaderSize, 588, 0x00010040},
    {"outline pixel", kOutlinePixelShader, kOutlinePixelShaderSize, 268, 0x00000040},
};

std::vector<ReadElement> signature(const uint8_t* blob, size_t size, const char* fourcc) {
    uint32_t dataSize = 0;
    const uint8_t* data = findChunk(blob, size, fourcc, &dataSize);
    EXPECT_NE(data, nullptr) << fourcc;
    return data ? readSignature(data) : std::vector<ReadElement>();
}

std::string describe(const std::vector<ReadElement>& elements) {
    std::string s;
    for (const ReadElement& e : elements) {
        char line[128];
        snprintf(line, sizeof line, "%s%u sv%u t%u r%u m%x rw%x; ", e.name.c_str(), e.index, e.systemValue,
                 e.componentType, e.reg, e.mask, e.readWriteMask);
        s += line;
    }
    return s;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The D3D linkage rule for the elements the next stage reads: same semantic
// (any case), same register, the components present.
void expectLinks(const uint8_t* from, size_t fromSize, const uint8_t* to, size_t toSize) {
    std::vector<ReadElement> outputs = signature(from, fromSize, "OSGN");
    std::vector<ReadElement> inputs = signature(to, toSize, "ISGN");
    ASSERT_EQ(outputs.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_TRUE(sameName(outputs[i].name, inputs[i].name)) << i;
        EXPECT_EQ(outputs[i].index, inputs[i].index) << i;
        EXPECT_EQ(outputs[i].reg, inputs[i].reg) << i;
        EXPECT_EQ(outputs[i].systemValue, inputs[i].systemValue) << i;
        EXPECT_EQ(inputs[i].mask & ~outputs[i].mask, 0) << i;
        // Whatever is always read is written.
        EXPECT_EQ(inputs[i].readWriteMask & outputs[i].readWriteMask, 0) << i;
    }
}

TEST(ShaderBlobs, AreThreeChunkContainersWithinBudget) {
    for (const Blob& b : kBlobs) {
        SCOPED_TRACE(b.name);
        EXPECT_LE(b.size, b.budget);
        ASSERT_GE(b.size, 56u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data), 4), "DXBC");
        EXPECT_EQ(readU32(b.data, 20), 1u);
        EXPECT_EQ(readU32(b.data, 24), b.size);
        ASSERT_EQ(readU32(b.data, 28), 3u);
        const char* names[3] = {"ISGN", "OSGN", "SHDR"};
        uint32_t next = 44;
        for (int i = 0; i < 3; ++i) {
            uint32_t offset = readU32(b.data, 32 + 4 * i);
            EXPECT_EQ(offset, next);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data + offset), 4), names[i]);
            next = offset + 8 + readU32(b.data, offset + 4);
        }
        EXPECT_EQ(next, b.size);
        uint8_t digest[16];
        sm4::dxbcChecksum(b.data, b.size, digest);
        EXPECT_EQ(hexBytes(digest, 16), hexBytes(b.data + 4, 16));
        uint32_t shdrSize = 0;
        const uint8_t* shdr = findChunk(b.data, b.size, "SHDR", &shdrSize);
        ASSERT_NE(shdr, nullptr);
        EXPECT_EQ(readU32(shdr, 0), b.versionToken);
        EXPECT_EQ(readU32(shdr, 4) * 4, shdrSize);
        EXPECT_EQ(readU32(shdr, shdrSize - 4), 0x0100003eu);  // ret
    }
}

TEST(ShaderBlobs, VertexShadersReadXyzAndClr) {
    EXPECT_EQ(describe(signature(kLitVertexShader, kLitVertexShaderSize, "ISGN")),
              "XYZ0 sv0 t3 r0 m7 rw7; CLR0 sv0 t3 r1 mf rw7; ");
    EXPECT_EQ(describe(signature(kOutlineVertexShader, kOutlineVertexShaderSize, "ISGN")),
              "XYZ0 sv0 t3 r0 m7 rw7; ");
}

TEST(ShaderBlobs, Outputs) {
    EXPECT_EQ(describe(signature(kLitVertexShader, kLitVertexShaderSize, "OSGN")),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw8; Texcoord1 sv0 t3 r2 m7 rw8; ");
    EXPECT_EQ(describe(signature(kFaceGeometryShader, kFaceGeometryShaderSize, "OSGN")),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw8; Texcoord1 sv0 t3 r2 m7 rw8; "
              "Texcoord2 sv0 t3 r3 m7 rw8; Texcoord3 sv0 t3 r4 m7 rw8; ");
    EXPECT_EQ(describe(signature(kLitPixelShader, kLitPixelShaderSize, "OSGN")), "SV_TARGET0 sv0 t3 r0 mf rw0; ");
    EXPECT_EQ(describe(signature(kOutlinePixelShader, kOutlinePixelShaderSize, "OSGN")),
              "SV_TARGET0 sv0 t3 r0 mf rw0; ");
}

TEST(ShaderBlobs, PixelShadersDoNotReadPosition) {
    for (const auto& [data, size] : {std::pair{kLitPixelShader, kLitPixelShaderSize},
                                     std::pair{kOutlinePixelShader, kOutlinePixelShaderSize}}) {
        std::vector<ReadElement> in = signature(data, size, "ISGN");
        ASSERT_FALSE(in.empty());
        EXPECT_EQ(in[0].name, "SV_Position");
        EXPECT_EQ(in[0].readWriteMask, 0);
    }
}

TEST(ShaderBlobs, StagesLink) {
    {
        SCOPED_TRACE("lit vertex -> face geometry");
        expectLinks(kLitVertexShader, kLitVertexShaderSize, kFaceGeometryShader, kFaceGeometryShaderSize);
    }
    {
        SCOPED_TRACE("face geometry -> lit pixel");
        expectLinks(kFaceGeometryShader, kFaceGeometryShaderSize, kLitPixelShader, kLitPixelShaderSize);
    }
    {
        SCOPED_TRACE("outline vertex -> outline pixel");
        expectLinks(kOutlineVertexShader, kOutlineVertexShaderSize, kOutlinePixelShader, kOutlinePixelShaderSize);
    }
}

// ---------------------------------------------------------------------------
// Against the HLSL renditions as compiled by Wine's D3DCompile (kept in
// tests/data): the same checksum rule, the same interface.

struct CompiledPair {
    const char* name;
    const uint8_t* wine;
    size_t wineSize;
    const uint8_t* ours;
    size_t oursSize;
};

const CompiledPair kCompiled[] = {
    {"lit vertex", kWineLitVertexShader, sizeof kWineLitVertexShader, kLitVertexShader, kLitVertexShaderSize},
    {"outline vertex", kWineOutlineVertexShader, sizeof kWineOutlineVertexShader, kOutlineVertexShader,
     kOutlineVertexShaderSize},
    {"outline pixel", kWineOutlinePixelShader, sizeof kWineOutlinePixelShader, kOutlinePixelShader,
     kOutlinePixelShaderSize},
};

// The SHDR tokens of every instruction whose opcode passes `keep`, one
// token vector each, in order.
template <typename Keep>
std::vector<std::vector<uint32_t>> shaderTokens(const uint8_t* blob, size_t size, Keep keep) {
    uint32_t shdrSize = 0;
    const uint8_t* shdr = findChunk(blob, size, "SHDR", &shdrSize);
    std::vector<std::vector<uint32_t>> found;
    if (!shdr) return found;
    for (uint32_t at = 8; at + 4 <= shdrSize;) {
        uint32_t token = readU32(shdr, at);
        uint32_t length = (token >> 24) & 0x7F;
        if (length == 0) break;
        if (keep(token & 0x7FF)) {
            std::vector<uint32_t> tokens;
            for (uint32_t i = 0; i < length; ++i) tokens.push_back(readU32(shdr, at + 4 * i));
            found.push_back(tokens);
        }
        at += 4 * length;
    }
    return found;
}

// The declarations of input, output and constant-buffer registers, in order.
std::vector<std::vector<uint32_t>> registerDeclarations(const uint8_t* blob, size_t size) {
    return shaderTokens(blob, size, [](uint32_t opcode) {
        return opcode == 0x59 || opcode == 0x5f || opcode == 0x61 || opcode == 0x62 || opcode == 0x64 ||
               opcode == 0x65 || opcode == 0x67;
    });
}

TEST(ShaderCompiledByWine, ChecksumsReproduce) {
    for (const CompiledPair& p : kCompiled) {
        SCOPED_TRACE(p.name);
        uint8_t digest[16];
        sm4::dxbcChecksum(p.wine, p.wineSize, digest);
        EXPECT_EQ(hexBytes(digest, 16), hexBytes(p.wine + 4, 16));
    }
}

TEST(ShaderCompiledByWine, SameSignatures) {
    for (const CompiledPair& p : kCompiled) {
        SCOPED_TRACE(p.name);
        for (const char* fourcc : {"ISGN", "OSGN"}) {
            std::vector<ReadElement> wine = signature(p.wine, p.wineSize, fourcc);
            std::vector<ReadElement> ours = signature(p.ours, p.oursSize, fourcc);
            ASSERT_EQ(wine.size(), ours.size()) << fourcc;
            for (size_t i = 0; i < wine.size(); ++i) {
                EXPECT_EQ(wine[i].name, ours[i].name) << fourcc << i;
                EXPECT_EQ(wine[i].index, ours[i].index) << fourcc << i;
                EXPECT_EQ(wine[i].systemValue, ours[i].systemValue) << fourcc << i;
                EXPECT_EQ(wine[i].componentType, ours[i].componentType) << fourcc << i;
                EXPECT_EQ(wine[i].reg, ours[i].reg) << fourcc << i;
                EXPECT_EQ(wine[i].mask, ours[i].mask) << fourcc << i;
            }
        }
    }
}

// Constant buffers and outputs as the compiler declares them; inputs too,
// except that we declare only the components read (CLR's rgb).
TEST(ShaderCompiledByWine, SameRegisterDeclarations) {
    for (const CompiledPair& p : kCompiled) {
        SCOPED_TRACE(p.name);
        std::vector<std::vector<uint32_t>> wine = registerDeclarations(p.wine, p.wineSize);
        std::vector<std::vector<uint32_t>> ours = registerDeclarations(p.ours, p.oursSize);
        ASSERT_EQ(wine.size(), ours.size());
        for (size_t i = 0; i < wine.size(); ++i) {
            std::vector<uint32_t> w = wine[i], o = ours[i];
            uint32_t opcode = w[0] & 0x7FF;
            if (opcode == 0x5f) {
                EXPECT_EQ(o[1] & 0xF0 & ~(w[1] & 0xF0), 0u) << i;
                w[1] &= ~0xF0u;
                o[1] &= ~0xF0u;
            }
            EXPECT_EQ(w, o) << i;
        }
    }
}

// The instructions after the declarations, one token vector each.
std::vector<std::vector<uint32_t>> programInstructions(const uint8_t* blob, size_t size) {
    return shaderTokens(blob, size, [](uint32_t opcode) { return opcode < 0x58 || opcode > 0x6a; });
}

// Edges must land on the depth of their faces: both vertex shaders compute
// the position with the same instructions.
TEST(ShaderBlobs, VertexShadersShareThePositionCode) {
    std::vector<std::vector<uint32_t>> lit = programInstructions(kLitVertexShader, kLitVertexShaderSize);
    std::vector<std::vector<uint32_t>> outline = programInstructions(kOutlineVertexShader, kOutlineVertexShaderSize);
    ASSERT_GE(lit.size(), 8u);
    ASSERT_GE(outline.size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(lit[i], outline[i]) << i;
    EXPECT_EQ(lit[7][1], 0x001020f2u);  // the eighth writes o0.xyzw
}

}  // namespace
