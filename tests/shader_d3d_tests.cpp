// The embedded shaders against the system's Direct3D: its disassembler reads
// back what the .asm files say, its compiler's checksums are ours, the
// device accepts the programs with the viewer's input layout, and a drawn
// triangle has the colours the lighting formulas give.
#include <windows.h>
#include <d3d11.h>
#include <d3dcompiler.h>
#include <d3d11shader.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "shader_test_support.h"
#include "sm4asm.h"
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

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string disassemble(const void* data, size_t size, HRESULT* result) {
    ID3DBlob* text = nullptr;
    *result = D3DDisassemble(data, size, 0, nullptr, &text);
    if (!text) return "";
    std::string s(static_cast<const char*>(text->GetBufferPointer()), text->GetBufferSize());
    text->Release();
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

std::string literalBits(const std::string& value) {
    std::string v = value;
    while (!v.empty() && v.front() == ' ') v.erase(v.begin());
    while (!v.empty() && v.back() == ' ') v.pop_back();
    bool isFloat = v.find_first_of(".eE") != std::string::npos && v.rfind("0x", 0) != 0;
    uint32_t bits;
    if (isFloat) {
        float f = strtof(v.c_str(), nullptr);
        memcpy(&bits, &f, 4);
    } else {
        bits = uint32_t(strtoll(v.c_str(), nullptr, 0));
    }
    char hex[16];
    snprintf(hex, sizeof hex, "%08x", bits);
    return hex;
}

// One listing line per instruction, with the spelling differences between our
// source and Wine's disassembler taken out: case, comments, signature lines,
// number formatting, replicated swizzles written short, a few names.
std::vector<std::string> normalizeListing(const std::string& text) {
    static const std::pair<std::regex, std::string> kRenames[] = {
        {std::regex("dcl_maxoutputvertexcount"), "dcl_maxout"},
        {std::regex("dcl_inputprimitive (\\w+)list"), "dcl_inputprimitive $1"},
        {std::regex("^breakp"), "breakc"},
        {std::regex("^continuep"), "continuec"},
        {std::regex("^retp"), "retc"},
        {std::regex("^texkill"), "discard"},
        {std::regex("\\.([xyzw])\\1\\1\\1\\b"), ".$1"},
        {std::regex(" \\+ 0\\]"), "]"},
        {std::regex(" *, *"), ", "},
        {std::regex("  +"), " "},
    };
    static const std::regex kLiteral("l\\(([^)]*)\\)");
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t comment = line.find("//");
        if (comment != std::string::npos) line.resize(comment);
        for (char& c : line) c = char(tolower(static_cast<unsigned char>(c)));
        line = std::regex_replace(line, std::regex("^\\s+|\\s+$"), "");
        if (line.empty() || line.rfind("input ", 0) == 0 || line.rfind("output ", 0) == 0) continue;
        for (const auto& [pattern, replacement] : kRenames) line = std::regex_replace(line, pattern, replacement);
        std::string out;
        std::sregex_iterator end;
        size_t last = 0;
        for (std::sregex_iterator m(line.begin(), line.end(), kLiteral); m != end; ++m) {
            out += line.substr(last, m->position() - last);
            std::string values = (*m)[1], item, joined;
            std::istringstream items(values);
            while (std::getline(items, item, ',')) joined += (joined.empty() ? "" : ", ") + literalBits(item);
            out += "l(" + joined + ")";
            last = m->position() + m->length();
        }
        out += line.substr(last);
        lines.push_back(out);
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

void expectDisassemblesTo(const std::vector<uint8_t>& blob, const std::string& source) {
    HRESULT hr;
    std::string listing = disassemble(blob.data(), blob.size(), &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(joinLines(normalizeListing(listing)), joinLines(normalizeListing(source))) << listing;
}

// ---------------------------------------------------------------------------
// Disassembly

TEST(ShaderDisassembly, EmbeddedProgramsReadBackAsWritten) {
    for (const Embedded& e : kEmbedded) {
        SCOPED_TRACE(e.file);
        std::string source = readText(std::string(STLV_SHADER_SOURCE_DIR) + "/" + e.file);
        ASSERT_FALSE(source.empty());
        std::vector<uint8_t> blob;
        std::string error;
        ASSERT_TRUE(sm4::assemble(source, &blob, &error)) << error;
        EXPECT_EQ(blob, std::vector<uint8_t>(e.data, e.data + e.size)) << "the build embedded another text";
        expectDisassemblesTo(blob, source);
    }
}

TEST(ShaderDisassembly, RejectsABrokenChecksum) {
    std::vector<uint8_t> blob(kOutlinePixelShader, kOutlinePixelShader + kOutlinePixelShaderSize);
    HRESULT hr;
    disassemble(blob.data(), blob.size(), &hr);
    EXPECT_EQ(hr, S_OK);
    blob[blob.size() - 1] ^= 1;
    disassemble(blob.data(), blob.size(), &hr);
    EXPECT_NE(hr, S_OK);
}

// Every instruction the assembler knows, read back by name and operands.
TEST(ShaderDisassembly, EveryInstruction) {
    const char* vertex = R"(vs_4_0
dcl_temps 4
add r0.xyzw, r1.xyzw, -r2.xyzw
and r0.x, r1.x, l(0x3f800000)
div r0.xy, r1.xyxx, r2.zwzz
dp2 r0.x, r1.xyxx, r2.xyxx
dp3_sat r0.y, r1.xyzx, r2.xyzx
dp4 r0.z, r1.xyzw, r2.xyzw
eq r0.x, r1.x, r2.x
exp r0.x, r1.x
frc r0.xyzw, r1.xyzw
ftoi r0.x, r1.x
ftou r0.x, r1.x
ge r0.x, r1.x, r2.x
iadd r0.x, r1.x, l(-7)
ieq r0.x, r1.x, l(2)
ige r0.x, r1.x, l(3)
ilt r0.x, r1.x, l(4)
imad r0.x, r1.x, r2.x, l(5)
imax r0.x, r1.x, r2.x
imin r0.x, r1.x, r2.x
ine r0.x, r1.x, r2.x
ineg r0.x, r1.x
ishl r0.x, r1.x, l(6)
ishr r0.x, r1.x, l(7)
itof r0.x, r1.x
log r0.x, |r1.x|
lt r0.x, r1.x, r2.x
mad r0.xyz, r1.xyzx, r2.xxxx, l(1.5, 2.5, 3.5, 4.5)
min r0.x, r1.x, r2.x
max r0.x, -|r1.x|, r2.x
mov_sat r0.xyzw, r1.wzyx
movc r0.xyzw, r3.xyzw, r1.xyzw, r2.xyzw
mul r0.xyzw, r1.xyzw, r2.wwww
ne r0.x, r1.x, r2.x
nop
not r0.x, r1.x
or r0.x, r1.x, r2.x
round_ne r0.x, r1.x
round_ni r0.x, r1.x
round_pi r0.x, r1.x
round_z r0.x, r1.x
rsq r0.x, r1.x
sqrt r0.x, r1.x
ult r0.x, r1.x, r2.x
uge r0.x, r1.x, r2.x
umax r0.x, r1.x, r2.x
umin r0.x, r1.x, r2.x
ushr r0.x, r1.x, l(8)
utof r0.x, r1.x
xor r0.x, r1.x, r2.x
loop
  breakc_z r0.x
  breakc_nz r0.y
  continuec_nz r0.z
  if_nz r0.w
    break
  else
    continue
  endif
endloop
if_z r1.x
  retc_nz r1.y
endif
ret
)";
    const char* geometry = R"(gs_4_0
input SV_Position v0.xyzw
output SV_Position o0.xyzw
dcl_constantbuffer cb0[4], dynamicIndexed
dcl_input_siv v[1][0].xyzw, position
dcl_temps 1
dcl_inputprimitive point
dcl_outputtopology pointlist
dcl_output_siv o0.xyzw, position
dcl_maxout 4
mov r0.x, l(0)
mov o0.xyzw, v[r0.x + 0][0].xyzw
emit
mov o0.xyzw, v[r0.x + 1][0].xyzw
mov o0.xyzw, cb0[r0.x + 2].xyzw
emit
cut
ret
)";
    const char* pixel = R"(ps_4_0
input SV_Position v0.xyzw read xy
input Texcoord0 v1.xyz
output SV_Target o0.xyzw
dcl_input_ps_siv linear noperspective v0.xy, position
dcl_input_ps linear noperspective centroid v1.xyz
dcl_output o0.xyzw
dcl_temps 1
add r0.xy, v0.xyxx, v1.xyxx
discard_nz r0.x
discard_z r0.y
mov o0.xyzw, r0.xyzw
ret
)";
    for (const char* source : {vertex, geometry, pixel}) {
        std::vector<uint8_t> blob;
        std::string error;
        ASSERT_TRUE(sm4::assemble(source, &blob, &error)) << error;
        expectDisassemblesTo(blob, source);
    }
}

// Signatures as the system's reflection reads them.
std::string reflectedSignature(const uint8_t* data, size_t size, bool inputs) {
    ID3D11ShaderReflection* reflection = nullptr;
    if (FAILED(D3DReflect(data, size, IID_ID3D11ShaderReflection, reinterpret_cast<void**>(&reflection))))
        return "D3DReflect failed";
    D3D11_SHADER_DESC desc;
    reflection->GetDesc(&desc);
    std::string s;
    UINT count = inputs ? desc.InputParameters : desc.OutputParameters;
    for (UINT i = 0; i < count; ++i) {
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
    // sv1 position, sv64 target; t3 float; rw: inputs read, outputs never written.
    EXPECT_EQ(reflectedSignature(kLitVertexShader, kLitVertexShaderSize, true),
              "XYZ0 sv0 t3 r0 m7 rw7; CLR0 sv0 t3 r1 mf rw7; ");
    EXPECT_EQ(reflectedSignature(kLitVertexShader, kLitVertexShaderSize, false),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw8; Texcoord1 sv0 t3 r2 m7 rw8; ");
    EXPECT_EQ(reflectedSignature(kFaceGeometryShader, kFaceGeometryShaderSize, true),
              "SV_Position0 sv1 t3 r0 mf rwf; Texcoord0 sv0 t3 r1 m7 rw7; Texcoord1 sv0 t3 r2 m7 rw7; ");
    EXPECT_EQ(reflectedSignature(kFaceGeometryShader, kFaceGeometryShaderSize, false),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw8; Texcoord1 sv0 t3 r2 m7 rw8; "
              "Texcoord2 sv0 t3 r3 m7 rw8; Texcoord3 sv0 t3 r4 m7 rw8; ");
    EXPECT_EQ(reflectedSignature(kLitPixelShader, kLitPixelShaderSize, true),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw7; Texcoord1 sv0 t3 r2 m7 rw7; "
              "Texcoord2 sv0 t3 r3 m7 rw7; Texcoord3 sv0 t3 r4 m7 rw7; ");
    EXPECT_EQ(reflectedSignature(kLitPixelShader, kLitPixelShaderSize, false), "SV_TARGET0 sv64 t3 r0 mf rw0; ");
    EXPECT_EQ(reflectedSignature(kOutlineVertexShader, kOutlineVertexShaderSize, true), "XYZ0 sv0 t3 r0 m7 rw7; ");
    EXPECT_EQ(reflectedSignature(kOutlineVertexShader, kOutlineVertexShaderSize, false),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw8; ");
    EXPECT_EQ(reflectedSignature(kOutlinePixelShader, kOutlinePixelShaderSize, true),
              "SV_Position0 sv1 t3 r0 mf rw0; Texcoord0 sv0 t3 r1 m7 rw7; ");
    EXPECT_EQ(reflectedSignature(kOutlinePixelShader, kOutlinePixelShaderSize, false), "SV_TARGET0 sv64 t3 r0 mf rw0; ");
}

// ---------------------------------------------------------------------------
// Checksums of the system compiler's containers

// A vertex shader that adds up `inputs` inputs with names of `nameLength` letters.
std::string generatedVertexShader(int inputs, int nameLength) {
    std::string source = "float4 main(";
    for (int i = 0; i < inputs; ++i)
        source += (i ? ", " : "") + std::string("float4 p") + std::to_string(i) + " : " +
                  std::string(nameLength, 'S') + std::to_string(i);
    source += ") : SV_Position { return p0";
    for (int i = 1; i < inputs; ++i) source += " + p" + std::to_string(i);
    return source + "; }";
}

TEST(ShaderChecksumOracle, MatchesTheCompilersChecksums) {
    // Programs of growing size move the hashed length through the remainders
    // modulo 64, with and without a second closing block.
    std::set<size_t> remainders;
    for (int inputs = 1; inputs <= 6; ++inputs) {
        for (int nameLength = 1; nameLength <= 8; ++nameLength) {
            std::string source = generatedVertexShader(inputs, nameLength);
            ID3DBlob* code = nullptr;
            ID3DBlob* errors = nullptr;
            HRESULT hr = D3DCompile(source.data(), source.size(), "generated", nullptr, nullptr, "main", "vs_4_0", 0,
                                    0, &code, &errors);
            if (errors) errors->Release();
            ASSERT_EQ(hr, S_OK) << source;
            const uint8_t* bytes = static_cast<const uint8_t*>(code->GetBufferPointer());
            size_t size = code->GetBufferSize();
            uint8_t digest[16];
            sm4::dxbcChecksum(bytes, size, digest);
            EXPECT_EQ(hexBytes(digest, 16), hexBytes(bytes + 4, 16)) << source << ": " << size << " bytes";
            remainders.insert((size - 20) % 64);
            code->Release();
        }
    }
    EXPECT_TRUE(std::any_of(remainders.begin(), remainders.end(), [](size_t r) { return r >= 56; }));
    EXPECT_TRUE(std::any_of(remainders.begin(), remainders.end(), [](size_t r) { return r < 56; }));
    EXPECT_GE(remainders.size(), 8u);
}

// ---------------------------------------------------------------------------
// The device

struct Device {
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    ~Device() {
        if (context) context->Release();
        if (device) device->Release();
    }
};

bool createDevice(Device* d) {
    for (D3D_DRIVER_TYPE type : {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP}) {
        D3D_FEATURE_LEVEL level;
        if (SUCCEEDED(D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
                                        D3D11_SDK_VERSION, &d->device, &level, &d->context)))
            return level >= D3D_FEATURE_LEVEL_10_0;
    }
    return false;
}

// The viewer's vertex layout: 16-byte vertices, position then colour.
const D3D11_INPUT_ELEMENT_DESC kVertexLayout[2] = {
    {"XYZ", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
    {"CLR", 0, DXGI_FORMAT_R8G8B8A8_UNORM, 0, D3D11_APPEND_ALIGNED_ELEMENT, D3D11_INPUT_PER_VERTEX_DATA, 0},
};

template <typename T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

TEST(ShaderDevice, AcceptsTheProgramsAndTheVertexLayout) {
    Device d;
    ASSERT_TRUE(createDevice(&d));
    ID3D11VertexShader* vs = nullptr;
    ID3D11GeometryShader* gs = nullptr;
    ID3D11PixelShader* ps = nullptr;
    ID3D11InputLayout* layout = nullptr;
    EXPECT_EQ(d.device->CreateVertexShader(kLitVertexShader, kLitVertexShaderSize, nullptr, &vs), S_OK);
    release(vs);
    EXPECT_EQ(d.device->CreateInputLayout(kVertexLayout, 2, kLitVertexShader, kLitVertexShaderSize, &layout), S_OK);
    release(layout);
    EXPECT_EQ(d.device->CreateGeometryShader(kFaceGeometryShader, kFaceGeometryShaderSize, nullptr, &gs), S_OK);
    release(gs);
    EXPECT_EQ(d.device->CreatePixelShader(kLitPixelShader, kLitPixelShaderSize, nullptr, &ps), S_OK);
    release(ps);
    EXPECT_EQ(d.device->CreateVertexShader(kOutlineVertexShader, kOutlineVertexShaderSize, nullptr, &vs), S_OK);
    release(vs);
    EXPECT_EQ(d.device->CreateInputLayout(kVertexLayout, 2, kOutlineVertexShader, kOutlineVertexShaderSize, &layout),
              S_OK);
    release(layout);
    EXPECT_EQ(d.device->CreatePixelShader(kOutlinePixelShader, kOutlinePixelShaderSize, nullptr, &ps), S_OK);
    release(ps);
}

// The layout check is real: a layout without the shader's inputs is refused.
TEST(ShaderDevice, RefusesALayoutWithoutTheInputs) {
    Device d;
    ASSERT_TRUE(createDevice(&d));
    const D3D11_INPUT_ELEMENT_DESC other[1] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0}};
    ID3D11InputLayout* layout = nullptr;
    EXPECT_NE(d.device->CreateInputLayout(other, 1, kLitVertexShader, kLitVertexShaderSize, &layout), S_OK);
    release(layout);
    EXPECT_NE(d.device->CreateInputLayout(kVertexLayout, 1, kLitVertexShader, kLitVertexShaderSize, &layout), S_OK);
    release(layout);
}

// ---------------------------------------------------------------------------
// Drawing: one triangle through each pipeline into a float target, read
// back and compared with the lighting formulas evaluated here.

struct Vec3 {
    double x, y, z;
};

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec3 normalize(Vec3 a) { return (1 / std::sqrt(dot(a, a))) * a; }
double saturate(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

#pragma pack(push, 1)
struct TestVertex {
    float xyz[3];
    uint8_t clr[4];
};
#pragma pack(pop)
static_assert(sizeof(TestVertex) == 16);

constexpr int kTargetSize = 64;
constexpr double kTolerance = 2e-3;  // float arithmetic on the device
constexpr float kClear[4] = {0.25f, 0.5f, 0.75f, 0.5f};

// The scene, in world space: a tilted triangle seen from the eye.
const Vec3 kEye = {0.3, 0.4, -2.0};
const Vec3 kLight = {2.0 / 7, 3.0 / 7, -6.0 / 7};
const double kObjectColour[3] = {1.0, 0.8, 0.7};
const Vec3 kCorners[3] = {{-0.8, -0.8, 0}, {0.8, -0.8, 0}, {0.0, 0.8, 0}};
const uint8_t kCornerColours[3][4] = {{255, 128, 64, 255}, {10, 250, 90, 255}, {90, 20, 240, 255}};

double planeZ(double x, double y) { return 0.5 + 0.5 * x + 0.6 * y; }
Vec3 worldCorner(int i) { return {kCorners[i].x, kCorners[i].y, planeZ(kCorners[i].x, kCorners[i].y)}; }

// The model turns file coordinates as a Z-up model is turned, so that rows
// and columns cannot be confused: world = (0.5 x + 0.1, 0.5 z - 0.1, -0.5 y + 0.2).
const float kModel[4][4] = {{0.5f, 0, 0, 0}, {0, 0, -0.5f, 0}, {0, 0.5f, 0, 0}, {0.1f, -0.1f, 0.2f, 1}};
Vec3 fileFromWorld(Vec3 w) { return {(w.x - 0.1) / 0.5, (0.2 - w.z) / 0.5, (w.y + 0.1) / 0.5}; }

// clip = (world, 1) . viewProjection: scale and shift, w stays 1.
const float kViewProjection[4][4] = {{0.9f, 0, 0, 0}, {0, 1.1f, 0, 0}, {0, 0, 0.5f, 0}, {0.05f, -0.02f, 0.25f, 1}};

Vec3 worldAtPixel(int px, int py) {
    double nx = (px + 0.5) / (kTargetSize / 2) - 1, ny = 1 - (py + 0.5) / (kTargetSize / 2);
    double x = (nx - 0.05) / 0.9, y = (ny + 0.02) / 1.1;
    return {x, y, planeZ(x, y)};
}

bool insideTriangle(Vec3 p, double margin) {
    for (int i = 0; i < 3; ++i) {
        Vec3 a = kCorners[i], b = kCorners[(i + 1) % 3], c = kCorners[(i + 2) % 3];
        Vec3 edge = b - a;
        double side = edge.x * (p.y - a.y) - edge.y * (p.x - a.x);
        double other = edge.x * (c.y - a.y) - edge.y * (c.x - a.x);
        double length = std::sqrt(edge.x * edge.x + edge.y * edge.y);
        if (side * (other > 0 ? 1 : -1) < margin * length) return false;
    }
    return true;
}

// Terms of the lighting formulas, to show that each one is seen.
enum Term { kAllTerms, kNoReflectUp, kNoReflectUpShifted, kNoReflectSide, kNoReflectLight, kNoNormalLight, kNoNormalSide,
            kNoNormalUp, kTermCount };

// What the lit shaders should give for a pixel, from the formulas.
void expectedLitColour(const int order[3], int px, int py, double out[4], Term drop = kAllTerms) {
    Vec3 a[3];
    for (int i = 0; i < 3; ++i) a[i] = worldCorner(order[i]) - kEye;
    Vec3 n = normalize(cross(a[2] - a[0], a[1] - a[0]));
    if (dot(a[0], n) > 0) n = -1 * n;
    Vec3 V = normalize(worldAtPixel(px, py) - kEye);
    Vec3 N = normalize(n);
    Vec3 R = V - 2 * dot(V, N) * N;
    double s = (drop == kNoReflectUp ? 0 : 0.13125 * saturate(R.y)) +
               (drop == kNoReflectUpShifted ? 0 : 0.07 * saturate(R.y + 1)) +
               (drop == kNoReflectSide ? 0 : 0.2625 * std::fabs(R.x)) +
               (drop == kNoReflectLight ? 0 : 0.56875 * saturate(dot(R, kLight)));
    double S = std::pow(std::min(s, 1.0), 8);
    double D = (drop == kNoNormalLight ? 0 : 0.64 * saturate(dot(N, kLight))) +
               (drop == kNoNormalSide ? 0 : 0.064 * std::fabs(N.x)) +
               (drop == kNoNormalUp ? 0 : 0.16 * (0.3 * N.y + 0.6));
    for (int c = 0; c < 3; ++c) {
        // Flat colour: the first vertex of the triangle.
        double K = kCornerColours[order[0]][c] / 255.0 * kObjectColour[c];
        out[c] = K * K * D + S;
    }
    out[3] = 1;
}

class ShaderDrawing : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(createDevice(&d_));
        ID3D11Device* dev = d_.device;
        D3D11_TEXTURE2D_DESC texture = {};
        texture.Width = texture.Height = kTargetSize;
        texture.MipLevels = texture.ArraySize = 1;
        texture.Format = DXGI_FORMAT_R32G32B32A32_FLOAT;
        texture.SampleDesc.Count = 1;
        texture.Usage = D3D11_USAGE_DEFAULT;
        texture.BindFlags = D3D11_BIND_RENDER_TARGET;
        ASSERT_EQ(dev->CreateTexture2D(&texture, nullptr, &target_), S_OK);
        ASSERT_EQ(dev->CreateRenderTargetView(target_, nullptr, &targetView_), S_OK);
        texture.Usage = D3D11_USAGE_STAGING;
        texture.BindFlags = 0;
        texture.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        ASSERT_EQ(dev->CreateTexture2D(&texture, nullptr, &readBack_), S_OK);

        // The viewer's constant buffer layouts: frame (96 bytes), object (128).
        float frame[6][4] = {};
        memcpy(frame, kViewProjection, sizeof kViewProjection);
        frame[4][0] = float(kEye.x), frame[4][1] = float(kEye.y), frame[4][2] = float(kEye.z);
        frame[5][0] = float(kLight.x), frame[5][1] = float(kLight.y), frame[5][2] = float(kLight.z);
        float object[8][4] = {};
        memcpy(object, kModel, sizeof kModel);
        for (int c = 0; c < 3; ++c) object[7][c] = float(kObjectColour[c]);
        object[7][3] = 1;
        ASSERT_TRUE(makeBuffer(D3D11_BIND_CONSTANT_BUFFER, frame, sizeof frame, &frameConstants_));
        ASSERT_TRUE(makeBuffer(D3D11_BIND_CONSTANT_BUFFER, object, sizeof object, &objectConstants_));

        D3D11_RASTERIZER_DESC solid = {};
        solid.FillMode = D3D11_FILL_SOLID;
        solid.CullMode = D3D11_CULL_NONE;
        solid.AntialiasedLineEnable = TRUE;
        ASSERT_EQ(dev->CreateRasterizerState(&solid, &rasterizer_), S_OK);
    }

    void TearDown() override {
        release(rasterizer_);
        release(objectConstants_);
        release(frameConstants_);
        release(readBack_);
        release(targetView_);
        release(target_);
    }

    bool makeBuffer(UINT bind, const void* data, UINT size, ID3D11Buffer** buffer) {
        D3D11_BUFFER_DESC desc = {};
        desc.ByteWidth = size;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = bind;
        D3D11_SUBRESOURCE_DATA initial = {data, 0, 0};
        return SUCCEEDED(d_.device->CreateBuffer(&desc, &initial, buffer));
    }

    // Draws the corners in the given order; the lit set uses the geometry shader.
    void draw(const int order[3], bool lit) {
        ID3D11Device* dev = d_.device;
        ID3D11DeviceContext* ctx = d_.context;
        TestVertex vertices[3];
        for (int i = 0; i < 3; ++i) {
            Vec3 p = fileFromWorld(worldCorner(order[i]));
            vertices[i] = {{float(p.x), float(p.y), float(p.z)}, {}};
            memcpy(vertices[i].clr, kCornerColours[order[i]], 4);
        }
        ID3D11Buffer* vertexBuffer = nullptr;
        ASSERT_TRUE(makeBuffer(D3D11_BIND_VERTEX_BUFFER, vertices, sizeof vertices, &vertexBuffer));
        const uint8_t* vsCode = lit ? kLitVertexShader : kOutlineVertexShader;
        size_t vsSize = lit ? kLitVertexShaderSize : kOutlineVertexShaderSize;
        ID3D11VertexShader* vs = nullptr;
        ID3D11GeometryShader* gs = nullptr;
        ID3D11PixelShader* ps = nullptr;
        ID3D11InputLayout* layout = nullptr;
        ASSERT_EQ(dev->CreateVertexShader(vsCode, vsSize, nullptr, &vs), S_OK);
        ASSERT_EQ(dev->CreateInputLayout(kVertexLayout, 2, vsCode, vsSize, &layout), S_OK);
        if (lit) ASSERT_EQ(dev->CreateGeometryShader(kFaceGeometryShader, kFaceGeometryShaderSize, nullptr, &gs), S_OK);
        ASSERT_EQ(lit ? dev->CreatePixelShader(kLitPixelShader, kLitPixelShaderSize, nullptr, &ps)
                      : dev->CreatePixelShader(kOutlinePixelShader, kOutlinePixelShaderSize, nullptr, &ps),
                  S_OK);

        ctx->ClearRenderTargetView(targetView_, kClear);
        ctx->OMSetRenderTargets(1, &targetView_, nullptr);
        D3D11_VIEWPORT viewport = {0, 0, float(kTargetSize), float(kTargetSize), 0, 1};
        ctx->RSSetViewports(1, &viewport);
        ctx->RSSetState(rasterizer_);
        ctx->IASetInputLayout(layout);
        UINT stride = sizeof(TestVertex), offset = 0;
        ctx->IASetVertexBuffers(0, 1, &vertexBuffer, &stride, &offset);
        ctx->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        ID3D11Buffer* constants[2] = {frameConstants_, objectConstants_};
        ctx->VSSetConstantBuffers(0, 2, constants);
        ctx->GSSetConstantBuffers(0, 1, constants);
        ctx->VSSetShader(vs, nullptr, 0);
        ctx->GSSetShader(gs, nullptr, 0);
        ctx->PSSetShader(ps, nullptr, 0);
        ctx->Draw(3, 0);
        ctx->CopyResource(readBack_, target_);
        ctx->ClearState();

        D3D11_MAPPED_SUBRESOURCE mapped;
        ASSERT_EQ(ctx->Map(readBack_, 0, D3D11_MAP_READ, 0, &mapped), S_OK);
        pixels_.assign(size_t(kTargetSize) * kTargetSize * 4, 0.0f);
        for (int y = 0; y < kTargetSize; ++y)
            memcpy(&pixels_[size_t(y) * kTargetSize * 4], static_cast<const uint8_t*>(mapped.pData) + y * mapped.RowPitch,
                   kTargetSize * 16);
        ctx->Unmap(readBack_, 0);
        release(layout);
        release(ps);
        release(gs);
        release(vs);
        release(vertexBuffer);
    }

    const float* pixel(int x, int y) const { return &pixels_[(size_t(y) * kTargetSize + x) * 4]; }

    Device d_;
    ID3D11Texture2D* target_ = nullptr;
    ID3D11RenderTargetView* targetView_ = nullptr;
    ID3D11Texture2D* readBack_ = nullptr;
    ID3D11Buffer* frameConstants_ = nullptr;
    ID3D11Buffer* objectConstants_ = nullptr;
    ID3D11RasterizerState* rasterizer_ = nullptr;
    std::vector<float> pixels_;
};

const int kPixels[][2] = {{32, 40}, {20, 50}, {44, 50}, {32, 20}, {28, 30}, {38, 45}};

TEST_F(ShaderDrawing, LitTriangleFollowsTheFormulasInEitherWinding) {
    const int windings[2][3] = {{0, 1, 2}, {0, 2, 1}};
    std::vector<float> first;
    for (const int* order : windings) {
        SCOPED_TRACE(order[1] == 1 ? "counter-clockwise" : "clockwise");
        draw(order, true);
        if (HasFatalFailure()) return;
        int checked = 0;
        for (const auto& [x, y] : kPixels) {
            ASSERT_TRUE(insideTriangle(worldAtPixel(x, y), 0.05)) << x << ", " << y;
            double expected[4];
            expectedLitColour(order, x, y, expected);
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(pixel(x, y)[c], expected[c], kTolerance) << "pixel " << x << ", " << y << " channel " << c;
            ++checked;
        }
        EXPECT_EQ(checked, 6);
        // Outside: untouched.
        for (int c = 0; c < 4; ++c) EXPECT_EQ(pixel(2, 2)[c], kClear[c]);
        if (first.empty()) first = pixels_;
    }
    // Both sides alike, to rounding.
    for (const auto& [x, y] : kPixels)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(first[(size_t(y) * kTargetSize + x) * 4 + c], pixel(x, y)[c], 1e-5);
}

// The scene is such that the comparison above would notice any one term of
// the formulas missing, and the flip of the normal happens in one winding.
TEST(ShaderDrawingScene, EveryTermShows) {
    const int windings[2][3] = {{0, 1, 2}, {0, 2, 1}};
    int flips = 0;
    for (const int* order : windings) {
        Vec3 a[3];
        for (int i = 0; i < 3; ++i) a[i] = worldCorner(order[i]) - kEye;
        if (dot(a[0], cross(a[2] - a[0], a[1] - a[0])) > 0) ++flips;
    }
    EXPECT_EQ(flips, 1);
    for (int term = kNoReflectUp; term < kTermCount; ++term) {
        double largest = 0;
        for (const auto& [x, y] : kPixels) {
            double all[4], without[4];
            expectedLitColour(windings[0], x, y, all);
            expectedLitColour(windings[0], x, y, without, Term(term));
            for (int c = 0; c < 3; ++c) largest = std::max(largest, std::fabs(all[c] - without[c]));
        }
        EXPECT_GT(largest, 10 * kTolerance) << "term " << term;
    }
}

TEST_F(ShaderDrawing, OutlineIsTheObjectColour) {
    const int order[3] = {0, 1, 2};
    draw(order, false);
    if (HasFatalFailure()) return;
    for (const auto& [x, y] : kPixels) {
        for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(pixel(x, y)[c], float(kObjectColour[c])) << x << ", " << y;
        EXPECT_EQ(pixel(x, y)[3], 1.0f);
    }
    for (int c = 0; c < 4; ++c) EXPECT_EQ(pixel(2, 2)[c], kClear[c]);
}

}  // namespace
