// The embedded shaders and their assembler. Everywhere: what a malformed
// program tells its author, and the position code the vertex shaders share.
// Under Windows (Wine): the system's disassembler reads back what the .asm
// files say (and refuses a container whose checksum is wrong), its
// reflection reads signatures that link stage to stage, and the device
// accepts the programs with the viewer's vertex layout.
#ifdef _WIN32
#include <windows.h>
#include <d3d11.h>
#include <d3d11shader.h>
#include <d3dcompiler.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
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
    uint32_t type;
};

const Embedded kEmbedded[] = {
    {"lit_vertex.asm", kLitVertexShader, kLitVertexShaderSize, sm4::kVertexProgram},
    {"face_geometry.asm", kFaceGeometryShader, kFaceGeometryShaderSize, sm4::kGeometryProgram},
    {"lit_pixel.asm", kLitPixelShader, kLitPixelShaderSize, sm4::kPixelProgram},
    {"outline_vertex.asm", kOutlineVertexShader, kOutlineVertexShaderSize, sm4::kVertexProgram},
    {"outline_pixel.asm", kOutlinePixelShader, kOutlinePixelShaderSize, sm4::kPixelProgram},
    {"section_cap_vertex.asm", kSectionCapVertexShader, kSectionCapVertexShaderSize, sm4::kVertexProgram},
    {"section_cap_pixel.asm", kSectionCapPixelShader, kSectionCapPixelShaderSize, sm4::kPixelProgram},
};

std::string sourceOf(const Embedded& e) {
    std::ifstream in(std::string(STLV_SHADER_SOURCE_DIR) + "/" + e.file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A literal as its 32 bits: floats have a point or an exponent, others are integers.
std::string literalBits(const std::string& v) {
    uint32_t bits = uint32_t(strtoll(v.c_str(), nullptr, 0));
    float f = strtof(v.c_str(), nullptr);
    if (v.find_first_of(".eE") != std::string::npos && v.find("0x") == std::string::npos) memcpy(&bits, &f, 4);
    return std::to_string(bits);
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

// The instructions after the declarations up to the one writing o0.
std::string positionCode(const Embedded& e) {
    std::string listing = normalizeListing(sourceOf(e));
    std::smatch m;
    std::regex_search(listing, m, std::regex("dcl_temps \\d+\\n([\\s\\S]*? o0[^\\n]*)"));
    return m[1];
}

// Edges must land on the depth of their faces, and the cap's count must see
// the faces where they are drawn: the vertex shaders of the model compute
// the position with the same instructions.
TEST(ShaderSources, VertexShadersShareThePositionCode) {
    EXPECT_NE(positionCode(kEmbedded[0]), "");
    EXPECT_EQ(positionCode(kEmbedded[0]), positionCode(kEmbedded[3]));
}

// The face and outline programs add the section plane's distance as a clip
// distance of one component after everything the next stage reads.
TEST(ShaderAssembler, EncodesAClipDistanceOutput) {
    sm4::Program program;
    std::string error;
    ASSERT_TRUE(sm4::parseProgram(
        "vs_4_0\noutput SV_Position o0.xyzw\noutput SV_ClipDistance o1.x\n"
        "dcl_output_siv o0.xyzw, position\ndcl_output_siv o1.x, clip_distance\n"
        "mov o0.xyzw, l(0, 0, 0, 1)\nmov o1.x, l(-1.0)\nret\n",
        &program, &error))
        << error;
    ASSERT_EQ(program.outputs.size(), 2u);
    const sm4::SignatureElement& clip = program.outputs[1];
    EXPECT_EQ(clip.name, "SV_ClipDistance");
    EXPECT_EQ(clip.systemValue, 2u);
    EXPECT_EQ(clip.mask, 1);
    EXPECT_EQ(clip.readWriteMask, 0xE);  // never written: the three components outside it
    // dcl_output_siv o1.x, clip_distance: opcode 0x67, length 4, name 2.
    const std::vector<uint32_t> declaration = {0x04000067, 0x00102012, 1, 2};
    EXPECT_NE(std::search(program.tokens.begin(), program.tokens.end(), declaration.begin(), declaration.end()),
              program.tokens.end());
}

#ifdef _WIN32
// ---------------------------------------------------------------------------
// The system's Direct3D as the oracle

// The build embeds what the .asm says, and Wine's disassembler reads it back.
TEST(ShaderDisassembly, EmbeddedProgramsReadBackAsWritten) {
    for (const Embedded& e : kEmbedded) {
        SCOPED_TRACE(e.file);
        std::string source = sourceOf(e);
        std::vector<uint8_t> blob;
        std::string error;
        ASSERT_TRUE(sm4::assemble(source, &blob, &error)) << error;
        EXPECT_EQ(blob, std::vector<uint8_t>(e.data, e.data + e.size)) << "the build embedded another text";
        ID3DBlob* text = nullptr;
        ASSERT_EQ(D3DDisassemble(blob.data(), blob.size(), 0, nullptr, &text), S_OK);
        std::string listing(static_cast<const char*>(text->GetBufferPointer()), text->GetBufferSize());
        text->Release();
        listing.resize(strlen(listing.c_str()));  // the text may end with a NUL
        EXPECT_EQ(normalizeListing(listing), normalizeListing(source)) << listing;
    }
}

struct Parameter {
    std::string key;  // semantic (any case), index, system value, type, register
    BYTE mask, readWriteMask;  // read/write: inputs always read, outputs never written
};

std::vector<Parameter> reflectedSignature(const Embedded& e, bool inputs) {
    std::vector<Parameter> found;
    ID3D11ShaderReflection* reflection = nullptr;
    if (FAILED(D3DReflect(e.data, e.size, IID_ID3D11ShaderReflection, reinterpret_cast<void**>(&reflection))))
        return found;
    D3D11_SHADER_DESC desc;
    reflection->GetDesc(&desc);
    for (UINT i = 0; i < (inputs ? desc.InputParameters : desc.OutputParameters); ++i) {
        D3D11_SIGNATURE_PARAMETER_DESC p;
        inputs ? reflection->GetInputParameterDesc(i, &p) : reflection->GetOutputParameterDesc(i, &p);
        char key[128];
        snprintf(key, sizeof key, "%s %u sv%d t%d r%u", p.SemanticName, p.SemanticIndex, int(p.SystemValueType),
                 int(p.ComponentType), p.Register);
        found.push_back({_strlwr(key), p.Mask, p.ReadWriteMask});
    }
    reflection->Release();
    return found;
}

// The D3D linkage rule for what the next stage reads: the same key, the
// components present and written.
// A clip distance after the last of them is the rasterizer's alone.
TEST(ShaderReflection, EachStageReadsWhatThePreviousOneWrites) {
    for (auto [from, to] : {std::pair{0, 1}, std::pair{1, 2}, std::pair{3, 4}, std::pair{5, 6}}) {
        SCOPED_TRACE(std::string(kEmbedded[from].file) + " -> " + kEmbedded[to].file);
        std::vector<Parameter> outputs = reflectedSignature(kEmbedded[from], false);
        std::vector<Parameter> inputs = reflectedSignature(kEmbedded[to], true);
        while (outputs.size() > inputs.size() && outputs.back().key.find(" sv2 ") != std::string::npos)
            outputs.pop_back();
        ASSERT_EQ(outputs.size(), inputs.size());
        ASSERT_FALSE(inputs.empty());
        for (size_t i = 0; i < inputs.size(); ++i) {
            EXPECT_EQ(outputs[i].key, inputs[i].key);
            EXPECT_EQ(inputs[i].mask & ~outputs[i].mask, 0) << inputs[i].key;
            EXPECT_EQ(inputs[i].readWriteMask & outputs[i].readWriteMask, 0) << inputs[i].key;
        }
    }
}

TEST(ShaderDevice, AcceptsTheProgramsAndTheVertexLayout) {
    ID3D11Device* device = nullptr;
    for (D3D_DRIVER_TYPE driver : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP})  // a failure leaves it null
        if (!device)
            D3D11CreateDevice(nullptr, driver, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION, &device, nullptr, nullptr);
    ASSERT_NE(device, nullptr);
    // The viewer's 16-byte vertices: position, then colour.
    const D3D11_INPUT_ELEMENT_DESC kLayout[2] = {
        {"XYZ", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"CLR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
    };
    for (const Embedded& e : kEmbedded) {
        SCOPED_TRACE(e.file);
        ID3D11DeviceChild* program = nullptr;
        EXPECT_EQ(e.type == sm4::kVertexProgram
                      ? device->CreateVertexShader(e.data, e.size, nullptr, (ID3D11VertexShader**)&program)
                  : e.type == sm4::kGeometryProgram
                      ? device->CreateGeometryShader(e.data, e.size, nullptr, (ID3D11GeometryShader**)&program)
                      : device->CreatePixelShader(e.data, e.size, nullptr, (ID3D11PixelShader**)&program),
                  S_OK);
        if (program) program->Release();
        ID3D11InputLayout* layout = nullptr;
        if (e.type == sm4::kVertexProgram)
            EXPECT_EQ(device->CreateInputLayout(kLayout, 2, e.data, e.size, &layout), S_OK);
        if (layout) layout->Release();
    }
    device->Release();
}
#endif

}  // namespace
