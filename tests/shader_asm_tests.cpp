// The shader assembler: checksum, container and signature layout, and the
// token encoding of instructions and declarations. Expected words and bytes
// are ones that Wine's d3dcompiler produced or accepted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shader_test_support.h"
#include "sm4asm.h"

namespace {

std::vector<uint32_t> assembleTokens(const std::string& text) {
    sm4::Program program;
    std::string error;
    EXPECT_TRUE(sm4::parseProgram(text, &program, &error)) << error;
    return program.tokens;
}

// The instruction tokens after a minimal header: the profile and whatever
// declarations the snippet needs come first in `prefix`.
std::vector<uint32_t> bodyTokens(const std::string& prefix, const std::string& body) {
    std::vector<uint32_t> head = assembleTokens(prefix + "ret\n");
    std::vector<uint32_t> all = assembleTokens(prefix + body + "\nret\n");
    if (all.size() < head.size()) return {};
    return std::vector<uint32_t>(all.begin() + (head.size() - 1), all.end() - 1);
}

std::string parseError(const std::string& text) {
    sm4::Program program;
    std::string error;
    EXPECT_FALSE(sm4::parseProgram(text, &program, &error));
    return error;
}

std::string hexDigest(const uint8_t digest[16]) {
    return hexBytes(digest, 16);
}

const char kTempsPrefix[] = "vs_4_0\ndcl_temps 5\n";

// ---------------------------------------------------------------------------
// Checksum

TEST(ShaderChecksum, PlainMd5MatchesRfc1321) {
    uint8_t digest[16];
    sm4::md5(reinterpret_cast<const uint8_t*>(""), 0, digest);
    EXPECT_EQ(hexDigest(digest), "d41d8cd98f00b204e9800998ecf8427e");
    sm4::md5(reinterpret_cast<const uint8_t*>("abc"), 3, digest);
    EXPECT_EQ(hexDigest(digest), "900150983cd24fb0d6963f7d28e17f72");
    const char fox[] = "The quick brown fox jumps over the lazy dog";
    sm4::md5(reinterpret_cast<const uint8_t*>(fox), strlen(fox), digest);
    EXPECT_EQ(hexDigest(digest), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(ShaderChecksum, OneFinalBlock) {
    std::vector<uint8_t> blob = bytesFromHex(kWineEmptyVertexShader);
    ASSERT_EQ(blob.size(), 172u);
    uint8_t digest[16];
    sm4::dxbcChecksum(blob.data(), blob.size(), digest);
    EXPECT_EQ(hexDigest(digest), "8fe158d305bddeb6973d9649955809dc");
    EXPECT_EQ(0, memcmp(digest, blob.data() + 4, 16));
}

TEST(ShaderChecksum, TwoFinalBlocks) {
    std::vector<uint8_t> blob = bytesFromHex(kWineOneInputVertexShader);
    ASSERT_EQ(blob.size(), 204u);
    ASSERT_EQ((blob.size() - 20) % 64, 56u);
    uint8_t digest[16];
    sm4::dxbcChecksum(blob.data(), blob.size(), digest);
    EXPECT_EQ(hexDigest(digest), "6d1d69c205ca67f9d28faa6c2fb996fd");
}

TEST(ShaderChecksum, IgnoresTheFirstTwentyBytesOnly) {
    std::vector<uint8_t> blob = bytesFromHex(kWineEmptyVertexShader);
    uint8_t before[16], after[16];
    sm4::dxbcChecksum(blob.data(), blob.size(), before);
    blob[0] ^= 0xFF;
    blob[19] ^= 0xFF;
    sm4::dxbcChecksum(blob.data(), blob.size(), after);
    EXPECT_EQ(0, memcmp(before, after, 16));
    blob[20] ^= 1;
    sm4::dxbcChecksum(blob.data(), blob.size(), after);
    EXPECT_NE(0, memcmp(before, after, 16));
}

// ---------------------------------------------------------------------------
// Whole containers that Wine's disassembler accepted: every byte counts in
// the checksum, so a matching checksum means a matching container.

TEST(ShaderContainer, ReproducesTheHandBuiltLitVertexShader) {
    std::vector<uint8_t> blob;
    std::string error;
    ASSERT_TRUE(sm4::assemble(kReferenceLitVertexShader, &blob, &error)) << error;
    ASSERT_EQ(blob.size(), 712u);
    EXPECT_EQ(hexBytes(blob.data(), 56),
              "44584243f7fdc6c403576e4908fe7973b5c75035010000"
              "00c8020000030000002c00000074000000e40000004953474e"
              "4000000002000000");
    EXPECT_EQ(hexBytes(blob.data() + 4, 16), "f7fdc6c403576e4908fe7973b5c75035");
}

TEST(ShaderContainer, ReproducesTheHandBuiltFaceGeometryShader) {
    std::vector<uint8_t> blob;
    std::string error;
    ASSERT_TRUE(sm4::assemble(kReferenceFaceGeometryShader, &blob, &error)) << error;
    ASSERT_EQ(blob.size(), 1180u);
    EXPECT_EQ(readU32(blob, 32), 44u);
    EXPECT_EQ(readU32(blob, 36), 156u);
    EXPECT_EQ(readU32(blob, 40), 316u);
    EXPECT_EQ(readU32(blob, 316 + 4), 856u);
    EXPECT_EQ(hexBytes(blob.data() + 4, 16), "d0fc862d9c74d66667e1c61d50d105ae");
}

TEST(ShaderContainer, HeaderAndChunkLayout) {
    std::vector<uint8_t> blob;
    std::string error;
    ASSERT_TRUE(sm4::assemble("ps_4_0\noutput SV_Target o0.xyzw\ndcl_output o0.xyzw\n"
                              "mov o0.xyzw, l(1.0, 0.5, 0.25, 1.0)\nret\n",
                              &blob, &error))
        << error;
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 4), "DXBC");
    EXPECT_EQ(readU32(blob, 20), 1u);
    EXPECT_EQ(readU32(blob, 24), blob.size());
    ASSERT_EQ(readU32(blob, 28), 3u);
    const char* names[3] = {"ISGN", "OSGN", "SHDR"};
    uint32_t expected = 44;
    for (int i = 0; i < 3; ++i) {
        uint32_t offset = readU32(blob, 32 + 4 * i);
        EXPECT_EQ(offset, expected);
        EXPECT_EQ(std::string(blob.begin() + offset, blob.begin() + offset + 4), names[i]);
        uint32_t size = readU32(blob, offset + 4);
        EXPECT_EQ(size % 4, 0u);
        expected = offset + 8 + size;
    }
    EXPECT_EQ(expected, blob.size());
    // Empty input signature: the eight bytes 0, 8.
    EXPECT_EQ(hexBytes(blob.data() + 44, 16), "4953474e080000000000000008000000");
    uint8_t digest[16];
    sm4::dxbcChecksum(blob.data(), blob.size(), digest);
    EXPECT_EQ(0, memcmp(digest, blob.data() + 4, 16));
}

TEST(ShaderContainer, PadsChunkDataWithAb) {
    std::vector<sm4::Chunk> chunks(1);
    memcpy(chunks[0].fourcc, "TEST", 4);
    chunks[0].data = {1, 2, 3, 4, 5};
    std::vector<uint8_t> blob = sm4::buildContainer(chunks);
    ASSERT_EQ(blob.size(), 36u + 8 + 8);
    EXPECT_EQ(readU32(blob, 32), 36u);
    EXPECT_EQ(readU32(blob, 40), 8u);
    EXPECT_EQ(hexBytes(blob.data() + 44, 8), "0102030405ababab");
}

// ---------------------------------------------------------------------------
// Signatures

TEST(ShaderSignature, PacksNamesOnceLikeFxc) {
    sm4::Program program;
    std::string error;
    ASSERT_TRUE(sm4::parseProgram(kReferenceLitVertexShader, &program, &error)) << error;
    std::vector<uint8_t> in = sm4::signatureChunkData(program.inputs);
    EXPECT_EQ(hexBytes(in.data(), in.size()),
              "0200000008000000"
              "3800000000000000000000000300000000000000" "07070000"
              "3c00000000000000000000000300000001000000" "0f070000"
              "58595a00434c5200");
    std::vector<uint8_t> out = sm4::signatureChunkData(program.outputs);
    EXPECT_EQ(hexBytes(out.data(), out.size()),
              "0300000008000000"
              "5000000000000000010000000300000000000000" "0f000000"
              "5c00000000000000000000000300000001000000" "07080000"
              "5c00000001000000000000000300000002000000" "07080000"
              "53565f506f736974696f6e00544558434f4f524400ababab");
}

TEST(ShaderSignature, SemanticIndexSystemValueAndMasks) {
    sm4::Program program;
    std::string error;
    ASSERT_TRUE(sm4::parseProgram("ps_4_0\n"
                                  "input SV_Position v0.xyzw read none\n"
                                  "input Texcoord12 v1.xy read x\n"
                                  "input Texcoord13 v1.zw\n"
                                  "output SV_TARGET o0.xyzw\n"
                                  "output SV_Target1 o1.xyz written xy\n"
                                  "dcl_output o0.xyzw\ndcl_output o1.xyz\nret\n",
                                  &program, &error))
        << error;
    ASSERT_EQ(program.inputs.size(), 3u);
    EXPECT_EQ(program.inputs[0].name, "SV_Position");
    EXPECT_EQ(program.inputs[0].systemValue, 1u);
    EXPECT_EQ(program.inputs[0].readWriteMask, 0u);
    EXPECT_EQ(program.inputs[1].name, "Texcoord");
    EXPECT_EQ(program.inputs[1].semanticIndex, 12u);
    EXPECT_EQ(program.inputs[1].mask, 0x3);
    EXPECT_EQ(program.inputs[1].readWriteMask, 0x1);
    EXPECT_EQ(program.inputs[2].mask, 0xC);
    EXPECT_EQ(program.inputs[2].readWriteMask, 0xC);
    ASSERT_EQ(program.outputs.size(), 2u);
    EXPECT_EQ(program.outputs[0].name, "SV_TARGET");
    EXPECT_EQ(program.outputs[0].systemValue, 0u);
    EXPECT_EQ(program.outputs[0].readWriteMask, 0u);
    EXPECT_EQ(program.outputs[1].semanticIndex, 1u);
    EXPECT_EQ(program.outputs[1].readWriteMask, 0xC);  // z never written, w not there
    std::vector<uint8_t> in = sm4::signatureChunkData(program.inputs);
    // "SV_Position\0Texcoord\0" once each, after three records; 0xAB to a word.
    EXPECT_EQ(in.size(), 8u + 72 + 24);
    EXPECT_EQ(readU32(in, 8), 80u);
    EXPECT_EQ(readU32(in, 32), 92u);
    EXPECT_EQ(readU32(in, 56), 92u);
    EXPECT_EQ(in.back(), 0xAB);
}

// ---------------------------------------------------------------------------
// Tokens

TEST(ShaderTokens, VersionAndLength) {
    std::vector<uint32_t> ps = assembleTokens("ps_4_0\nret\n");
    EXPECT_EQ(ps, (std::vector<uint32_t>{0x00000040, 3, 0x0100003e}));
    EXPECT_EQ(assembleTokens("vs_4_0\nret\n")[0], 0x00010040u);
    EXPECT_EQ(assembleTokens("gs_4_0\nret\n")[0], 0x00020040u);
    std::vector<uint32_t> vs = assembleTokens(kReferenceLitVertexShader);
    EXPECT_EQ(vs.size(), 119u);
    EXPECT_EQ(vs[1], 119u);
}

TEST(ShaderTokens, ArithmeticWithSwizzlesAndModifiers) {
    EXPECT_EQ(bodyTokens(kTempsPrefix, "add r3.xyzw, r4.xyzw, r3.xyzw"),
              (std::vector<uint32_t>{0x07000000, 0x001000f2, 3, 0x00100e46, 4, 0x00100e46, 3}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "and r1.z, r1.z, l(0x3f800000)"),
              (std::vector<uint32_t>{0x07000001, 0x00100042, 1, 0x0010002a, 1, 0x00004001, 0x3f800000}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mad r2.xyz, -r1.zxyz, r0.yzxy, r2.xyzx"),
              (std::vector<uint32_t>{0x0a000032, 0x00100072, 2, 0x80100926, 0x41, 1, 0x00100496, 0, 0x00100246,
                                     2}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "movc r2.xyz, r0.wwww, -r2.xyzx, r2.xyzx"),
              (std::vector<uint32_t>{0x0a000037, 0x00100072, 2, 0x00100ff6, 0, 0x80100246, 0x41, 2, 0x00100246,
                                     2}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "lt r0.w, l(0.0), r0.w"),
              (std::vector<uint32_t>{0x07000031, 0x00100082, 0, 0x00004001, 0, 0x0010003a, 0}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "rsq r0.w, r0.w"),
              (std::vector<uint32_t>{0x05000044, 0x00100082, 0, 0x0010003a, 0}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "sqrt r0.w, r0.x"),
              (std::vector<uint32_t>{0x0500004b, 0x00100082, 0, 0x0010000a, 0}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mov r1.w, r1.xxxy"),
              (std::vector<uint32_t>{0x05000036, 0x00100082, 1, 0x00100406, 1}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "dp4 r0.w, r0.xyzw, r1"),
              (std::vector<uint32_t>{0x07000011, 0x00100082, 0, 0x00100e46, 0, 0x00100e46, 1}));
}

TEST(ShaderTokens, AbsoluteAndNegatedAbsolute) {
    const std::string prefix = "ps_4_0\ninput Texcoord2 v2.x\ndcl_input_ps linear v2.x\ndcl_temps 2\n";
    EXPECT_EQ(bodyTokens(prefix, "max r1.x, |v2.x|, l(0.5)"),
              (std::vector<uint32_t>{0x08000034, 0x00100012, 1, 0x8010100a, 0x81, 2, 0x00004001, 0x3f000000}));
    EXPECT_EQ(bodyTokens(prefix, "mov r1.x, -|v2.x|"),
              (std::vector<uint32_t>{0x06000036, 0x00100012, 1, 0x8010100a, 0xc1, 2}));
}

TEST(ShaderTokens, SaturateAndTests) {
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mad_sat r0.x, r0.x, l(0.5), l(0.5)")[0], 0x09002032u);
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mov_sat r0.xyzw, l(1.0, 2.0, -3.0, 0.25)"),
              (std::vector<uint32_t>{0x08002036, 0x001000f2, 0, 0x00004002, 0x3f800000, 0x40000000, 0xc0400000,
                                     0x3e800000}));
    EXPECT_EQ(bodyTokens("ps_4_0\ndcl_temps 1\n", "discard_nz r0.x"),
              (std::vector<uint32_t>{0x0304000d, 0x0010000a, 0}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "if_z r0.x\nendif"),
              (std::vector<uint32_t>{0x0300001f, 0x0010000a, 0, 0x01000015}));
    EXPECT_EQ(bodyTokens(kTempsPrefix, "loop\nbreakc_nz r1.x\nbreak\nendloop"),
              (std::vector<uint32_t>{0x01000030, 0x03040003, 0x0010000a, 1, 0x01000002, 0x01000016}));
}

TEST(ShaderTokens, IntegerAndFloatLiterals) {
    EXPECT_EQ(bodyTokens(kTempsPrefix, "iadd r0.w, r0.w, l(1)").back(), 1u);
    EXPECT_EQ(bodyTokens(kTempsPrefix, "iadd r0.w, r0.w, l(-1)").back(), 0xffffffffu);
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mul r0.w, r0.w, l(1.0)").back(), 0x3f800000u);
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mul r0.w, r0.w, l(1e0)").back(), 0x3f800000u);
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mul r0.w, r0.w, l(-0.0)").back(), 0x80000000u);
    // Correctly rounded: 0.1 is 0x3dcccccd.
    EXPECT_EQ(bodyTokens(kTempsPrefix, "mul r0.w, r0.w, l(0.1)").back(), 0x3dcccccdu);
}

TEST(ShaderTokens, ConstantBufferAndOutputOperands) {
    const std::string prefix =
        "vs_4_0\noutput Texcoord4 o4.xyz\ndcl_constantbuffer cb0[6], immediateIndexed\ndcl_output o4.xyz\n";
    EXPECT_EQ(bodyTokens(prefix, "mov o4.xyz, cb0[5].xyzx"),
              (std::vector<uint32_t>{0x06000036, 0x00102072, 4, 0x00208246, 0, 5}));
}

TEST(ShaderTokens, GeometryShaderInputsAreTwoDimensional) {
    const std::string prefix =
        "gs_4_0\ninput SV_Position v0.xyzw\ninput Texcoord0 v1.xyz\noutput SV_Position o0.xyzw\n"
        "dcl_input_siv v[3][0].xyzw, position\ndcl_input v[3][1].xyz\ndcl_temps 3\n"
        "dcl_inputprimitive triangle\ndcl_outputtopology trianglestrip\n"
        "dcl_output_siv o0.xyzw, position\ndcl_maxout 3\n";
    std::vector<uint32_t> tokens = assembleTokens(prefix + "ret\n");
    ASSERT_EQ(tokens.size(), 22u);
    EXPECT_EQ(tokens[1], 22u);
    EXPECT_EQ(std::vector<uint32_t>(tokens.begin() + 2, tokens.end()),
              (std::vector<uint32_t>{0x05000061, 0x002010f2, 3, 0, 1, 0x0400005f, 0x00201072, 3, 1, 0x02000068, 3,
                                     0x0100185d, 0x0100285c, 0x04000067, 0x001020f2, 0, 1, 0x0200005e, 3,
                                     0x0100003e}));
    EXPECT_EQ(bodyTokens(prefix, "add r0.xyz, v[1][1].xyzx, -v[0][1].xyzx"),
              (std::vector<uint32_t>{0x0a000000, 0x00100072, 0, 0x00201246, 1, 1, 0x80201246, 0x41, 0, 1}));
    EXPECT_EQ(bodyTokens(prefix, "emit\ncut"), (std::vector<uint32_t>{0x01000013, 0x01000009}));
    // A register as the vertex index, with and without an offset.
    EXPECT_EQ(bodyTokens(prefix, "mov o0.xyzw, v[r0.w][0].xyzw"),
              (std::vector<uint32_t>{0x07000036, 0x001020f2, 0, 0x00a01e46, 0x0010003a, 0, 0}));
    EXPECT_EQ(bodyTokens(prefix, "mov o0.xyzw, v[r0.w + 0][0].xyzw"),
              (std::vector<uint32_t>{0x07000036, 0x001020f2, 0, 0x00a01e46, 0x0010003a, 0, 0}));
    EXPECT_EQ(bodyTokens(prefix, "mov o0.xyzw, v[r2.y + 1][0].xyzw"),
              (std::vector<uint32_t>{0x08000036, 0x001020f2, 0, 0x00e01e46, 1, 0x0010001a, 2, 0}));
}

TEST(ShaderTokens, Declarations) {
    EXPECT_EQ(bodyTokens("vs_4_0\n", "").size(), 0u);
    std::vector<uint32_t> vs = assembleTokens(
        "vs_4_0\ninput XYZ v0.xyz\noutput SV_Position o0.xyzw\noutput Texcoord1 o1.xyz\n"
        "dcl_globalFlags refactoringAllowed\n"
        "dcl_constantbuffer cb1[8], immediateIndexed\ndcl_constantbuffer cb2[3], dynamicIndexed\n"
        "dcl_input v0.xyz\ndcl_output_siv o0.xyzw, position\ndcl_output o1.xyz\ndcl_temps 6\nret\n");
    EXPECT_EQ(std::vector<uint32_t>(vs.begin() + 2, vs.end()),
              (std::vector<uint32_t>{0x0100086a, 0x04000059, 0x00208e46, 1, 8, 0x04000859, 0x00208e46, 2, 3,
                                     0x0300005f, 0x00101072, 0, 0x04000067, 0x001020f2, 0, 1, 0x03000065,
                                     0x00102072, 1, 0x02000068, 6, 0x0100003e}));
    std::vector<uint32_t> ps = assembleTokens(
        "ps_4_0\ninput SV_Position v0.xyzw\ninput Texcoord0 v1.xyz\ninput Texcoord1 v2.xyz\n"
        "input Texcoord2 v3.xyz\noutput SV_Target o0.xyzw\n"
        "dcl_input_ps_siv linear noperspective v0.xyzw, position\n"
        "dcl_input_ps linear centroid v1.xyz\ndcl_input_ps constant v2.xyz\ndcl_input_ps linear v3.xyz\n"
        "dcl_output o0.xyzw\nret\n");
    EXPECT_EQ(std::vector<uint32_t>(ps.begin() + 2, ps.end()),
              (std::vector<uint32_t>{0x04002064, 0x001010f2, 0, 1, 0x03001862, 0x00101072, 1, 0x03000862,
                                     0x00101072, 2, 0x03001062, 0x00101072, 3, 0x03000065, 0x001020f2, 0,
                                     0x0100003e}));
}

TEST(ShaderTokens, CommentsAndBlankLines) {
    EXPECT_EQ(assembleTokens("// heading\n\n  ps_4_0   // profile\n\n  ret // end\n"),
              (std::vector<uint32_t>{0x00000040, 3, 0x0100003e}));
}

// ---------------------------------------------------------------------------
// Mistakes are reported with their line

TEST(ShaderErrors, ReportTheLine) {
    EXPECT_EQ(parseError("vs_4_0\ndcl_temps 1\nmov r1.x, r0.x\nret\n"),
              "line 3: r1 is not declared (dcl_temps 1)");
    EXPECT_EQ(parseError("vs_4_0\nfrobnicate r0.x\nret\n"), "line 2: unknown instruction frobnicate");
    EXPECT_EQ(parseError("vs_4_0\ndcl_temps 1\nmov r0.x, r0.x\n"), "line 3: the program must end with ret");
    EXPECT_EQ(parseError("xs_4_0\nret\n"), "line 1: expected vs_4_0, gs_4_0 or ps_4_0 first, not 'xs_4_0'");
}

TEST(ShaderErrors, RejectsMalformedOperands) {
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov r0.x, r0.xy\nret\n").find("one or four letters"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov r0.yx, r0.x\nret\n").find("xyzw order"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov l(1.0), r0.x\nret\n").find("destination"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov r0.x, l(1.0, 2.0)\nret\n").find("1 or 4 values"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov -r0.x, r0.x\nret\n").find("modifiers"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nadd r0.x, r0.x\nret\n").find("takes 3 operands"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov r0.x, |r0.x\nret\n").find("'|'"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmul r0.x, r0.x, l(1.0.0)\nret\n").find("literal"),
              std::string::npos);
}

TEST(ShaderErrors, RejectsMisplacedInstructions) {
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nif_nz r0.x\nret\n").find("unclosed"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nif r0.x\nendif\nret\n").find("_z or _nz"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\nendloop\nret\n").find("without loop"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\nbreak\nret\n").find("outside a loop"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\nemit\nret\n").find("geometry"), std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov r0.x, r0.x\ndcl_temps 2\nret\n").find("before instructions"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nand_sat r0.x, r0.x, r0.x\nret\n").find("no _sat"),
              std::string::npos);
}

TEST(ShaderErrors, DeclarationsMustMatchTheSignatures) {
    EXPECT_NE(parseError("vs_4_0\ninput XYZ v0.xyz\ndcl_input v1.xyz\nret\n").find("signature"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ninput XYZ v0.xyz\ndcl_input v0.xyzw\nret\n").find("signature"),
              std::string::npos);
    // Position must be declared as such.
    EXPECT_NE(parseError("vs_4_0\noutput SV_Position o0.xyzw\ndcl_output o0.xyzw\nret\n").find("signature"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ninput B v1.xyz\ninput A v0.xyz\nret\n").find("register order"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ninput A v0.xy read xyz\nret\n").find("outside"), std::string::npos);
}

TEST(ShaderErrors, RegistersMustBeDeclared) {
    EXPECT_EQ(parseError("vs_4_0\ndcl_constantbuffer cb0[4], immediateIndexed\ndcl_temps 1\n"
                         "mov r0.xyzw, cb0[4].xyzw\nret\n"),
              "line 4: cb0[4] lies beyond the declared 4 registers");
    EXPECT_EQ(parseError("vs_4_0\ndcl_temps 1\nmov r0.xyzw, cb1[0].xyzw\nret\n"), "line 3: cb1 is not declared");
    EXPECT_EQ(parseError("vs_4_0\ndcl_temps 1\nmov r0.xyzw, v0.xyzw\nret\n"), "line 3: v0 is not declared");
    EXPECT_EQ(parseError("vs_4_0\nmov o1.xyzw, l(1.0, 1.0, 1.0, 1.0)\nret\n"), "line 2: o1 is not declared");
    EXPECT_EQ(parseError("gs_4_0\ninput A v0.xyz\ndcl_input v[3][0].xyz\ndcl_temps 1\n"
                         "mov r0.xyz, v[0][1].xyzx\nret\n"),
              "line 5: v1 is not declared");
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 1\nmov r0.x, l(99999999999.0e99)\nret\n").find("line 3"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_temps 99999999999\nret\n").find("line 2"), std::string::npos);
}

TEST(ShaderErrors, GeometryShaderInputDimensions) {
    EXPECT_NE(parseError("gs_4_0\ninput A v0.xyz\ndcl_input v0.xyz\nret\n").find("v[vertices][register]"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ninput A v0.xyz\ndcl_input v[3][0].xyz\nret\n").find("v# or o#"),
              std::string::npos);
    EXPECT_NE(parseError("vs_4_0\ndcl_inputprimitive triangle\nret\n").find("geometry"), std::string::npos);
}

}  // namespace
