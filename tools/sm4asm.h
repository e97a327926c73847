// sm4asm: turns shader model 4.0 assembly text (vs_4_0, gs_4_0, ps_4_0) into
// a DXBC container with the chunks ISGN, OSGN and SHDR. A build-time host
// tool, so it may use the whole standard library.
//
// Source format: the profile line first, then the signatures, then the
// program in the usual listing syntax (declarations, then instructions):
//
//   vs_4_0
//   input  XYZ          v0.xyz              // semantic (index = trailing digits)
//   input  CLR          v1.xyzw  read xyz   // components always read; default all
//   output SV_Position  o0.xyzw             // "written" lists the written ones
//   dcl_constantbuffer cb0[4], immediateIndexed
//   dcl_input v0.xyz
//   dcl_output_siv o0.xyzw, position
//   mul r0.xyz, v0.yyyy, cb0[1].xyzx
//   ret
//
// Comments start with "//". Source swizzles have four letters, or one letter
// for a single selected component; literals with a '.' or an exponent are
// floats, others integers (0x... gives raw bits).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sm4 {

enum : uint32_t { kPixelProgram = 0, kVertexProgram = 1, kGeometryProgram = 2 };

struct SignatureElement {
    std::string name;  // stored as written, without the index digits
    uint32_t semanticIndex = 0;
    uint32_t systemValue = 0;    // 1 position; SV_Target is 0
    uint32_t componentType = 3;  // 1 uint, 2 int, 3 float
    uint32_t reg = 0;
    uint8_t mask = 0;           // components the element occupies
    uint8_t readWriteMask = 0;  // input: always read; output: never written
};

struct Program {
    uint32_t programType = 0;
    std::vector<SignatureElement> inputs;
    std::vector<SignatureElement> outputs;
    std::vector<uint32_t> tokens;  // SHDR data: version, length, instructions
};

// Parses the text; on failure *error reads "line N: what".
bool parseProgram(const std::string& text, Program* program, std::string* error);

// ISGN or OSGN chunk data: names packed once each, padded with 0xAB.
std::vector<uint8_t> signatureChunkData(const std::vector<SignatureElement>& elements);

struct Chunk {
    char fourcc[4];
    std::vector<uint8_t> data;
};

// A complete container, checksum included; chunk data is padded to 4 bytes.
std::vector<uint8_t> buildContainer(const std::vector<Chunk>& chunks);

// ISGN, OSGN, SHDR.
std::vector<uint8_t> buildBlob(const Program& program);

bool assemble(const std::string& text, std::vector<uint8_t>* blob, std::string* error);

// Test seam: a deliberate mistake in how declarations are encoded, for every
// later assembly, so that a test can show that the second reader of the
// shaders (vkd3d-shader and spirv-val) notices one. Never set in a build.
enum class PlantedFault {
    kNone,
    kConstantBufferSize,  // every constant buffer declared with 0 registers
    kDeclarationLength,   // declarations of more than two tokens one token short
};
void plantFault(PlantedFault fault);

// Plain MD5 (RFC 1321); here to test the compression function on its own.
void md5(const uint8_t* data, size_t size, uint8_t digest[16]);

// The container checksum over bytes 20..end (size - 20 must be a multiple of 4).
void dxbcChecksum(const uint8_t* container, size_t size, uint8_t digest[16]);

}  // namespace sm4
