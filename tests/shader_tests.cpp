// The embedded shaders and their assembler. Everywhere: the container
// checksum against containers made by Wine's compiler, the stage linkage and
// the shared position code. Under Windows (Wine): the system's disassembler
// reads back what the .asm files say, its reflection reads the signatures,
// and the device accepts the programs with the viewer's vertex layout.
#ifdef _WIN32
#include <windows.h>
#include <d3d11.h>
#include <d3d11shader.h>
#include <d3dcompiler.h>
#endif

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sm4asm.h"
#include "view/shaders/shader_blobs.h"

namespace {

struct Embedded {
    const char* file;
    const uint8_t* data;
    size_t size;
};

const Embedded kEmbedded[] = {
    {"lit_vertex.asm", kLitVertexShader, kLitVertexShaderSize},
    {"face_geometry.asm", kFaceGeometryShader, kFaceGeometryShaderSize},
    {"lit_pixel.asm", kLitPixelShader, kLitPixelShaderSize},
    {"outline_vertex.asm", kOutlineVertexShader, kOutlineVertexShaderSize},
    {"outline_pixel.asm", kOutlinePixelShader, kOutlinePixelShaderSize},
};

uint32_t readU32(const uint8_t* b, size_t offset) {
    return uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 | uint32_t(b[offset + 2]) << 16 |
           uint32_t(b[offset + 3]) << 24;
}

std::vector<uint8_t> bytesFromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        while (i < hex.size() && hex[i] == ' ') ++i;
        bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// A container's chunk by FourCC, or null.
const uint8_t* findChunk(const uint8_t* blob, const char fourcc[4], uint32_t* dataSize) {
    for (uint32_t i = 0; i < readU32(blob, 28); ++i) {
        uint32_t offset = readU32(blob, 32 + 4 * i);
        if (memcmp(blob + offset, fourcc, 4) == 0) {
            *dataSize = readU32(blob, offset + 4);
            return blob + offset + 8;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Checksum: containers made by Wine's D3DCompile, whose hashed lengths end
// the MD5 variant in one closing block (152 bytes) and in two (184 bytes).

TEST(ShaderChecksum, MatchesTheCompilersContainers) {
    const char* kWineContainers[] = {
        "44584243 8fe158d3 05bddeb6 973d9649 955809dc 01000000 ac000000 04000000"
        "30000000 40000000 50000000 98000000 4953474e 08000000 00000000 08000000"
        "4f53474e 08000000 00000000 08000000 52444546 40000000 00000000 1c000000"
        "00000000 1c000000 0004feff 00000000 1c000000 766b6433 642d7368 61646572"
        "20312e36 20286769 74203165 61663733 31343763 64332900 53484452 0c000000"
        "40000100 03000000 3e000001",
        "44584243 6d1d69c2 05ca67f9 d28faa6c 2fb996fd 01000000 cc000000 04000000"
        "30000000 60000000 70000000 b8000000 4953474e 28000000 01000000 08000000"
        "20000000 00000000 00000000 03000000 00000000 0f0f0000 41424344 4500abab"
        "4f53474e 08000000 00000000 08000000 52444546 40000000 00000000 1c000000"
        "00000000 1c000000 0004feff 00000000 1c000000 766b6433 642d7368 61646572"
        "20312e36 20286769 74203165 61663733 31343763 64332900 53484452 0c000000"
        "40000100 03000000 3e000001",
    };
    for (const char* hex : kWineContainers) {
        std::vector<uint8_t> blob = bytesFromHex(hex);
        uint8_t digest[16];
        sm4::dxbcChecksum(blob.data(), blob.size(), digest);
        EXPECT_EQ(0, memcmp(digest, blob.data() + 4, 16)) << blob.size() << " bytes";
    }
}

// A malformed line fails the build with its line number instead of
// embedding a wrong program.
TEST(ShaderAssembler, RejectsMalformedPrograms) {
    const char* kBroken[] = {
        "vs_4_0\nmov r0.x, r1.x\nret\n",             // temp not declared
        "vs_4_0\ndcl_temps 1\nmov r0.q, r0.x\nret\n",  // bad mask
        "vs_4_0\ndcl_temps 1\nfrob r0.x, r0.x\nret\n",
        "vs_4_0\ndcl_output o0.xyzw\nret\n",  // no such output in the signature
        "xs_4_0\nret\n",
    };
    for (const char* text : kBroken) {
        std::vector<uint8_t> blob;
        std::string error;
        EXPECT_FALSE(sm4::assemble(text, &blob, &error)) << text;
        EXPECT_NE(error.find("line "), std::string::npos) << text;
    }
}

// ---------------------------------------------------------------------------
// The embedded containers

struct Element {
    std::string name;
    uint32_t index, systemValue, reg;
    uint8_t mask, readWriteMask;
};

std::vector<Element> signature(const uint8_t* blob, const char* fourcc) {
    uint32_t size = 0;
    const uint8_t* data = findChunk(blob, fourcc, &size);
    std::vector<Element> elements;
    if (!data) return elements;
    for (uint32_t i = 0; i < readU32(data, 0); ++i) {
        const uint8_t* e = data + readU32(data, 4) + 24 * i;
        elements.push_back({reinterpret_cast<const char*>(data + readU32(e, 0)), readU32(e, 4), readU32(e, 8),
                            readU32(e, 16), e[20], e[21]});
    }
    return elements;
}

bool sameName(std::string a, std::string b) {
    for (char& c : a) c = char(tolower(static_cast<unsigned char>(c)));
    for (char& c : b) c = char(tolower(static_cast<unsigned char>(c)));
    return a == b;
}

// The D3D linkage rule for what the next stage reads: same semantic (any
// case), register and system value, the components present and written.
TEST(ShaderBlobs, StagesLink) {
    const std::pair<const Embedded&, const Embedded&> kLinks[] = {
        {kEmbedded[0], kEmbedded[1]}, {kEmbedded[1], kEmbedded[2]}, {kEmbedded[3], kEmbedded[4]}};
    for (const auto& [from, to] : kLinks) {
        SCOPED_TRACE(std::string(from.file) + " -> " + to.file);
        std::vector<Element> outputs = signature(from.data, "OSGN"), inputs = signature(to.data, "ISGN");
        ASSERT_EQ(outputs.size(), inputs.size());
        ASSERT_FALSE(inputs.empty());
        for (size_t i = 0; i < inputs.size(); ++i) {
            EXPECT_TRUE(sameName(outputs[i].name, inputs[i].name)) << i;
            EXPECT_EQ(outputs[i].index, inputs[i].index) << i;
            EXPECT_EQ(outputs[i].reg, inputs[i].reg) << i;
            EXPECT_EQ(outputs[i].systemValue, inputs[i].systemValue) << i;
            EXPECT_EQ(inputs[i].mask & ~outputs[i].mask, 0) << i;
            EXPECT_EQ(inputs[i].readWriteMask & outputs[i].readWriteMask, 0) << i;  // read means written
        }
    }
}

// The instructions after the declarations (opcodes 0x58-0x6a), one token
// vector each.
std::vector<std::vector<uint32_t>> programInstructions(const uint8_t* blob) {
    uint32_t size = 0;
    const uint8_t* shdr = findChunk(blob, "SHDR", &size);
    std::vector<std::vector<uint32_t>> found;
    for (uint32_t at = 8; shdr && at + 4 <= size;) {
        uint32_t token = readU32(shdr, at), length = (token >> 24) & 0x7F, opcode = token & 0x7FF;
        if (length == 0) break;
        if (opcode < 0x58 || opcode > 0x6a) {
            found.emplace_back();
            for (uint32_t i = 0; i < length; ++i) found.back().push_back(readU32(shdr, at + 4 * i));
        }
        at += 4 * length;
    }
    return found;
}

// Edges must land on the depth of their faces: both vertex shaders compute
// the position with the same instructions.
TEST(ShaderBlobs, VertexShadersShareThePositionCode) {
    std::vector<std::vector<uint32_t>> lit = programInstructions(kLitVertexShader);
    std::vector<std::vector<uint32_t>> outline = programInstructions(kOutlineVertexShader);
    ASSERT_GE(lit.size(), 8u);
    ASSERT_GE(outline.size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(lit[i], outline[i]) << i;
    EXPECT_EQ(lit[7][1], 0x001020f2u);  // the eighth writes o0.xyzw
}

#ifdef _WIN32
// ---------------------------------------------------------------------------
// The system's Direct3D as the oracle

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string literalBits(std::string v) {
    v = std::regex_replace(v, std::regex("^ +| +$"), "");
    uint32_t bits = uint32_t(strtoll(v.c_str(), nullptr, 0));
    if (v.find_first_of(".eE") != std::string::npos && v.rfind("0x", 0) != 0) {
        float f = strtof(v.c_str(), nullptr);
        memcpy(&bits, &f, 4);
    }
    char hex[16];
    snprintf(hex, sizeof hex, "%08x", bits);
    return hex;
}

// One line per instruction, with the spelling differences between our
// source and Wine's disassembler taken out: case, comments, signature lines,
// number formatting, replicated swizzles and zero offsets written short, a few names.
std::string normalizeListing(const std::string& text) {
    static const std::pair<std::regex, std::string> kRenames[] = {
        {std::regex("dcl_maxoutputvertexcount"), "dcl_maxout"},
        {std::regex("dcl_inputprimitive (\\w+)list"), "dcl_inputprimitive $1"},
        {std::regex("^breakp"), "breakc"},
        {std::regex(" \\+ 0\\]"), "]"},
        {std::regex("\\.([xyzw])\\1\\1\\1\\b"), ".$1"},
        {std::regex(" *, *"), ", "},
        {std::regex("  +"), " "},
    };
    static const std::regex kLiteral("l\\(([^)]*)\\)"), kEnds("^\\s+|\\s+$");
    std::string lines, line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        line = line.substr(0, line.find("//"));
        for (char& c : line) c = char(tolower(static_cast<unsigned char>(c)));
        line = std::regex_replace(line, kEnds, "");
        if (line.empty() || line.rfind("input ", 0) == 0 || line.rfind("output ", 0) == 0) continue;
        for (const auto& [pattern, replacement] : kRenames) line = std::regex_replace(line, pattern, replacement);
        std::string out;
        size_t last = 0;
        for (std::sregex_iterator m(line.begin(), line.end(), kLiteral), end; m != end; ++m) {
            std::string item, joined;
            std::istringstream items((*m)[1].str());
            while (std::getline(items, item, ',')) joined += (joined.empty() ? "" : ", ") + literalBits(item);
            out += line.substr(last, m->position() - last) + "l(" + joined + ")";
            last = m->position() + m->length();
        }
        lines += out + line.substr(last) + "\n";
    }
    return lines;
}

// The build embeds what the .asm says, and Wine's disassembler reads it back.
TEST(ShaderDisassembly, EmbeddedProgramsReadBackAsWritten) {
    for (const Embedded& e : kEmbedded) {
        SCOPED_TRACE(e.file);
        std::string source = readText(std::string(STLV_SHADER_SOURCE_DIR) + "/" + e.file);
        ASSERT_FALSE(source.empty());
        std::vector<uint8_t> blob;
        std::string error;
        ASSERT_TRUE(sm4::assemble(source, &blob, &error)) << error;
        EXPECT_EQ(blob, std::vector<uint8_t>(e.data, e.data + e.size)) << "the build embedded another text";
        ID3DBlob* text = nullptr;
        ASSERT_EQ(D3DDisassemble(blob.data(), blob.size(), 0, nullptr, &text), S_OK);
        std::string listing(static_cast<const char*>(text->GetBufferPointer()), text->GetBufferSize());
        text->Release();
        listing = listing.c_str();
        EXPECT_EQ(normalizeListing(listing), normalizeListing(source)) << listing;
    }
}

// Signatures as the system's reflection reads them: sv1 position, sv64
// target, t3 float; rw: inputs always read, outputs never written.
std::string reflectedSignature(const uint8_t* data, size_t size, bool inputs) {
    ID3D11ShaderReflection* reflection = nullptr;
    if (FAILED(D3DReflect(data, size, IID_ID3D11ShaderReflection, reinterpret_cast<void**>(&reflection))))
        return "D3DReflect failed";
    D3D11_SHADER_DESC desc;
    reflection->GetDesc(&desc);
    std::string s;
    for (UINT i = 0; i < (inputs ? desc.InputParameters : desc.OutputParameters); ++i) {
        D3D11_SIGNATURE_PARAMETER_DESC p;
        if (inputs)
            reflection->GetInputParameterDesc(i, &p);
        else
            reflection->GetOutputParameterDesc(i, &p);
        char line[128];
        snprintf(line, sizeof line, "%s%u sv%d t%d r%u m%x rw%x; ", p.SemanticName, p.SemanticIndex,
                 int(p.SystemValueType), int(p.ComponentType), p.Register, p.Mask, p.ReadWriteMask);
        s += line;
    }
    reflection->Release();
    return s;
}

TEST(ShaderReflection, ReadsTheSignatures) {
    const char* kPosition = "SV_Position0 sv1 t3 r0 mf rw0; ";
    const char* kTarget = "SV_TARGET0 sv64 t3 r0 mf rw0; ";
    const std::string kLitOut = std::string(kPosition) + "Texcoord0 sv0 t3 r1 m7 rw8; Texcoord1 sv0 t3 r2 m7 rw8; ";
    const std::string kFaceOut = kLitOut + "Texcoord2 sv0 t3 r3 m7 rw8; Texcoord3 sv0 t3 r4 m7 rw8; ";
    const std::string kSignatures[5][2] = {
        {"XYZ0 sv0 t3 r0 m7 rw7; CLR0 sv0 t3 r1 mf rw7; ", kLitOut},
        {"SV_Position0 sv1 t3 r0 mf rwf; Texcoord0 sv0 t3 r1 m7 rw7; Texcoord1 sv0 t3 r2 m7 rw7; ", kFaceOut},
        {kPosition + std::string("Texcoord0 sv0 t3 r1 m7 rw7; Texcoord1 sv0 t3 r2 m7 rw7; "
                                 "Texcoord2 sv0 t3 r3 m7 rw7; Texcoord3 sv0 t3 r4 m7 rw7; "),
         kTarget},
        {"XYZ0 sv0 t3 r0 m7 rw7; ", kPosition + std::string("Texcoord0 sv0 t3 r1 m7 rw8; ")},
        {kPosition + std::string("Texcoord0 sv0 t3 r1 m7 rw7; "), kTarget},
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(kEmbedded[i].file);
        EXPECT_EQ(reflectedSignature(kEmbedded[i].data, kEmbedded[i].size, true), kSignatures[i][0]);
        EXPECT_EQ(reflectedSignature(kEmbedded[i].data, kEmbedded[i].size, false), kSignatures[i][1]);
    }
}

TEST(ShaderDevice, AcceptsTheProgramsAndTheVertexLayout) {
    ID3D11Device* device = nullptr;
    D3D_FEATURE_LEVEL level;
    for (D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP})
        if (!device && FAILED(D3D11CreateDevice(nullptr, type, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &device,
                                                &level, nullptr)))
            device = nullptr;
    ASSERT_NE(device, nullptr);
    // The viewer's 16-byte vertices: position, then colour.
    const D3D11_INPUT_ELEMENT_DESC kLayout[2] = {
        {"XYZ", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"CLR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    for (const Embedded& e : kEmbedded) {
        SCOPED_TRACE(e.file);
        ID3D11DeviceChild* program = nullptr;
        uint32_t size = 0;
        const uint8_t* shdr = findChunk(e.data, "SHDR", &size);
        ASSERT_NE(shdr, nullptr);
        uint32_t type = readU32(shdr, 0) >> 16;
        HRESULT hr = type == sm4::kVertexProgram
                         ? device->CreateVertexShader(e.data, e.size, nullptr, (ID3D11VertexShader**)&program)
                     : type == sm4::kGeometryProgram
                         ? device->CreateGeometryShader(e.data, e.size, nullptr, (ID3D11GeometryShader**)&program)
                         : device->CreatePixelShader(e.data, e.size, nullptr, (ID3D11PixelShader**)&program);
        EXPECT_EQ(hr, S_OK);
        if (program) program->Release();
        if (type != sm4::kVertexProgram) continue;
        ID3D11InputLayout* layout = nullptr;
        EXPECT_EQ(device->CreateInputLayout(kLayout, 2, e.data, e.size, &layout), S_OK);
        if (layout) layout->Release();
    }
    device->Release();
}
#endif

}  // namespace
