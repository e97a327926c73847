// Compiles HLSL files with the system's D3DCompile and writes the containers
// as a C++ header, to keep compiler-made shaders as test data. Run once
// under Wine; its d3dcompiler_47 compiles vs_4_0 and ps_4_0 (not gs_4_0):
//
//   shader_reference_dump OUT.h NAME=PROFILE:FILE.hlsl...
#include <windows.h>
#include <d3dcompiler.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: shader_reference_dump OUT.h NAME=PROFILE:FILE.hlsl...\n";
        return 2;
    }
    std::ostringstream out;
    out << "// Made by tests/shader_reference_dump.cpp with Wine's D3DCompile; do not edit.\n";
    out << "#pragma once\n#include <cstdint>\n";
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('='), colon = arg.find(':', eq);
        if (eq == std::string::npos || colon == std::string::npos) {
            std::cerr << "bad argument " << arg << "\n";
            return 2;
        }
        std::string name = arg.substr(0, eq), profile = arg.substr(eq + 1, colon - eq - 1);
        std::string path = arg.substr(colon + 1);
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::string source = text.str();
        if (!in || source.empty()) {
            std::cerr << "cannot read " << path << "\n";
            return 1;
        }
        ID3DBlob* code = nullptr;
        ID3DBlob* errors = nullptr;
        HRESULT hr = D3DCompile(source.data(), source.size(), path.c_str(), nullptr, nullptr, "main",
                                profile.c_str(), 0, 0, &code, &errors);
        if (FAILED(hr)) {
            std::cerr << path << ": D3DCompile failed " << std::hex << hr << "\n";
            if (errors) std::cerr.write(static_cast<const char*>(errors->GetBufferPointer()), errors->GetBufferSize());
            return 1;
        }
        const unsigned char* bytes = static_cast<const unsigned char*>(code->GetBufferPointer());
        size_t size = code->GetBufferSize();
        std::string file = path.substr(path.find_last_of("/\\") + 1);
        out << "\n// " << file << " as " << profile << "\n";
        out << "const uint8_t " << name << "[" << size << "] = {";
        for (size_t b = 0; b < size; ++b) {
            char hex[8];
            snprintf(hex, sizeof hex, "0x%02x,", bytes[b]);
            out << (b % 16 ? " " : "\n    ") << hex;
        }
        out << "\n};\n";
        code->Release();
        if (errors) errors->Release();
    }
    std::ofstream file(argv[1], std::ios::binary);
    file << out.str();
    return file ? 0 : 1;
}
