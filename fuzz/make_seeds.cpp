// Writes the fuzzers' seed corpora and dictionaries into a folder, all made
// here from scratch: binary files for every header signature and header rule,
// ASCII files in the line layout of every recognised exporter, files for the
// corners of the grammar and of the block structure, and doubles that stress
// the decimal conversion.
//
// 3MF packages and model parts come from package_seeds.cpp.
//
//   make_seeds FOLDER    writes FOLDER/{load,ascii,header,decimal,numbers,check,zip,model}/ and FOLDER/*.dict
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/package_seeds.h"
#include "stl/binary_exporter.h"

namespace {

namespace fs = std::filesystem;

void appendUint32(std::string* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<char>(value >> (8 * i)));
}

void appendFloat(std::string* bytes, float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    appendUint32(bytes, bits);
}

void appendTriangle(std::string* bytes, float offset, uint16_t attribute, float normalZ = 1) {
    const float values[12] = {0, 0, normalZ, offset, 0, 0, offset + 1, 0, 0, offset, 1, 2};
    for (float v : values) appendFloat(bytes, v);
    bytes->push_back(static_cast<char>(attribute & 0xFF));
    bytes->push_back(static_cast<char>(attribute >> 8));
}

std::string header(const std::string& text) {
    std::string bytes = text.substr(0, 80);
    bytes.resize(80, '\0');
    return bytes;
}

// A header, then blocks of the given counts with small coloured triangles.
std::string binaryFile(const std::string& headerText, std::vector<uint32_t> counts = {2}) {
    std::string bytes = header(headerText);
    float offset = 0;
    for (uint32_t count : counts) {
        appendUint32(&bytes, count);
        for (uint32_t i = 0; i < count; ++i) appendTriangle(&bytes, offset++, static_cast<uint16_t>(0x7C00 >> (i % 3 * 5)));
    }
    return bytes;
}

// Three facets in a given layout. `nl` is the line end, `f`, `l`, `v` the
// indentation of facet, outer loop and vertex lines; `blanks` separates
// "vertex" from its numbers.
std::string asciiFile(const std::string& name, const std::string& nl, const std::string& f, const std::string& l,
                      const std::string& v, const std::string& blanks = " ", const std::string& end = "") {
    std::string text = "solid " + name + nl;
    const char* corners[3][3] = {{"0", "0", "0"}, {"1.5", "0", "0.125"}, {"0", "2.25", "-1e-3"}};
    for (int facet = 0; facet < 3; ++facet) {
        text += f + "facet normal 0 0 1" + nl + l + "outer loop" + nl;
        for (auto& corner : corners)
            text += v + "vertex" + blanks + std::to_string(facet) + corner[0] + " " + corner[1] + " " + corner[2] + nl;
        text += l + "endloop" + nl + f + "endfacet" + nl;
    }
    text += end.empty() ? "endsolid " + name + nl : end;
    return text;
}

std::string facet(const std::string& numbers = "0 0 0") {
    return "facet normal 0 0 1\nouter loop\nvertex " + numbers + "\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n";
}

std::vector<std::pair<std::string, std::string>> asciiSeeds() {
    const std::string crlf = "\r\n";
    std::vector<std::pair<std::string, std::string>> seeds = {
        // Exporters told by their solid name.
        {"ac3d", asciiFile("stl file generated from AC3D", "\n", "", " ", "  ")},
        {"art_of_illusion",
         asciiFile("\"Object-0\"; Produced by Art of Illusion 3.0.3, Sat Aug 17 12:00:00 CEST 2024", "\n", "", "", "")},
        {"cad_exchanger", asciiFile("CAD Exchanger 3.24", "\n", "", "", "")},
        {"open_cascade", asciiFile("shape, STL ascii file, created with Open CASCADE Technology", "\n", " ", "  ", "   ")},
        {"spaceclaim_mm", asciiFile("\"Part 1<stl unit=MM>\"", crlf, "", "", "")},
        {"spaceclaim_inch", asciiFile("\"Part 1<stl unit=INCHES>\"", crlf, "", "", "")},
        {"turbocad", asciiFile("created by TurboCAD", "\n", "", "", "")},
        {"vectorworks", asciiFile("STL file created by Vectorworks 2024 with a rather long product name tail", "\n", "", "", "")},
        {"catia", asciiFile("CATIA STL", "\n", "", "", "")},
        {"tinkercad", asciiFile("stl_item0", "\n", "", "", "")},
        {"ivcon", asciiFile("MYSOLID created by IVCON, original data in cube.obj", "\n", "  ", "    ", "      ")},
        {"ivread", asciiFile("MYSOLID created by IVREAD", "\n", "", "", "")},
        {"openscad", asciiFile("OpenSCAD_Model", "\n", "  ", "    ", "      ")},
        {"ironcad", asciiFile("Part", crlf, "", "", "", " ", "end solid\r\n")},
        // Exporters told by their line layout.
        {"sketchup", asciiFile("model", crlf, "", "  ", "    ")},
        {"vtk", asciiFile("ascii", crlf, " ", "  ", "   ")},
        {"netfabb", asciiFile("solidname", crlf, " ", "  ", "    ")},
        {"tflex", "solid \r\nfacet normal 0 0 1\r\nouter loop \r\nvertex 0 0 0\r\nvertex 1 0 0\r\nvertex 0 1 0\r\n"
                  "endloop\r\nendfacet\r\nendsolid\r\n"},
        {"autodesk_123d", asciiFile("ascii", "\n", "  ", "    ", "      ", "   ")},
        {"fusion_360", asciiFile("ASCII", crlf, "  ", "    ", "      ", "   ")},
        {"unknown_layout", asciiFile("part", "\n", "\t", "\t\t", "\t\t\t")},
        // Grammar corners.
        {"empty_solid", "solid\nendsolid\n"},
        {"only_whitespace_after_solid", "solid\n \t\r\n\v\f   \n\n"},
        {"byte_order_mark", "\xEF\xBB\xBFsolid\tbom\n" + facet() + "endsolid bom\n"},
        {"leading_blanks", "    solid x\n" + facet() + "endsolid x\n"},
        {"no_endsolid", "solid a\n" + facet()},
        {"end_space_solid", "solid a\n" + facet() + "end solid\r\n"},
        {"next_solid_without_end", "solid a\n" + facet() + "solid b\n" + facet() + "endsolid b\n"},
        {"endsolid_other_name", "solid a  \n" + facet() + "endsolid a\n"},
        {"comma_numbers", "solid c\n" + facet("1,5 -0,25 3,") + "endsolid c\n"},
        {"nan_forms", "solid n\n" + facet("-1.#IND00 nan NaN") + "endsolid n\n"},
        {"infinity_forms", "solid i\n" + facet("-Infinity +Infinity 1e39") + "endsolid i\n"},
        {"zero_big_exponent", "solid z\n" + facet("0e400 1e-50 .5") + "endsolid z\n"},
        {"long_mantissa", "solid m\n" + facet("123456789012345678901234567890 0.000000000000000000001234567 "
                                              "1.00000000000000000000000000001e5") + "endsolid m\n"},
        {"long_exponent", "solid e\n" + facet("1e0000000000000000000000000000000001 1E+99999 1e-99999") + "endsolid e\n"},
        {"subnormal_float", "solid s\n" + facet("1.4e-45 7.0e-46 1.17549435e-38") + "endsolid s\n"},
        {"halfway_float", "solid h\n" + facet("16777217 0.500000059604644775390625 3.4028235677973366e38") + "endsolid h\n"},
        {"facet_without_loop", "solid f\nfacet normal 0 0 1\nendfacet\n" + facet() + "endsolid f\n"},
        {"fourth_vertex", "solid v\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                          "vertex 1 1 1\nendloop\nendfacet\nendsolid v\n"},
        {"upper_case", "solid U\nFACET NORMAL 0 0 1\nOUTER LOOP\nVERTEX 0 0 0\nVERTEX 1 0 0\nVERTEX 0 1 0\n"
                       "ENDLOOP\nENDFACET\nENDSOLID U\n"},
        {"cut_in_number", "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 1e"},
        {"cut_after_endfacet", "solid t\n" + facet()},
        {"triple_over_two_lines", "solid l\nfacet normal 0\n0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                                  "vertex 0 1 0\nendloop\nendfacet\nendsolid l\n"},
        {"tight_facets", "solid t\nfacet normal 0 0 1 outer loop vertex 0 0 0vertex 1 0 0vertex 0 1 0 endloop "
                         "endfacet facet normal 0 0 1 outer loop vertex 0 0 0vertex 1 0 0vertex 0 1 0 endloop "
                         "endfacet endsolid t"},
        {"cr_only", "solid r\rfacet normal 0 0 1\router loop\rvertex 0 0 0\rvertex 1 0 0\rvertex 0 1 0\rendloop\r"
                    "endfacet\rendsolid r\r"},
        {"two_solids", "solid first\n" + facet() + "endsolid first\nsolid second\n" + facet() + facet() +
                           "endsolid second\n"},
        {"repeated_solid_lines", "solid\nsolid\nsolid\nsolid\nsolid\nsolid\nsolid\nsolid\n"},
        {"solidworks_like", "solid Part1\n   facet normal 0.000000e+000 0.000000e+000 1.000000e+000\n      outer loop\n"
                            "         vertex 1.000000e+001 0.000000e+000 0.000000e+000\n"
                            "         vertex 0.000000e+000 1.000000e+001 0.000000e+000\n"
                            "         vertex 0.000000e+000 0.000000e+000 0.000000e+000\n      endloop\n"
                            "   endfacet\nendsolid Part1\n"},
    };
    return seeds;
}

std::vector<std::string> ruleHeaders() {
    std::string solidZero = std::string("solid part1\0STL Output", 22);
    std::string visCam = "C:\\models\\part.stl";
    visCam.resize(69, ' ');
    visCam += "_C";
    std::string path = "D:\\data\\scan.stl";
    std::string mastercam = "MASTERCAM STL DATA";
    mastercam.resize(60, ' ');
    mastercam += "ENTITY COLOR:#FF8000";
    std::string threeDv = "some model";
    threeDv.resize(75, ' ');
    threeDv += "3DV*";
    return {
        "STLEXP Box001",
        "STLB ATF 8.6.0.1234",
        "STLB ATF 9.0.0",
        "STLB ATF 10.0.0",
        "STLB ASM 218 Inventor",
        "STLB ASM 2",
        "ArchiCAD_STL_Unit=MM_Scale=100",
        "ArchiCAD_STL_Unit=CM_Scale=50",
        "ArchiCAD_STL_Unit=M_",
        "ArchiCAD_STL_Unit=FT_Scale=2",
        "ArchiCAD_STL_Unit=MM_Scale=0",
        "ArchiCAD_STL_Unit=MM_Scale=99999999999",
        "Exported from Blender-2.79",
        "Binary STL output from Blender: C:\\models\\part.blend",
        "CAD Exchanger 3.24 export",
        "CURA BINARY STL EXPORT. Tue 01 Jan 2024 12:00:00",
        "Uranium STLWriter Tue 01 Jan 2024 12:00:00",
        "flashforge stl export 2024-01-01 12:00:00",
        "COLOR=\x80\x40\x20\xFF,MATERIAL=\x80\x80\x80\xFF\x10\x10\x10\xFF\x20\x20\x20\xFF",
        "COLOR=\x80\x40\x20\xFFMATERIAL=\x80\x80\x80\xFF\x10\x10\x10\xFF\x20\x20\x20\xFF ",
        std::string("COLOR=\x80\x40\x20\xFF", 10),
        mastercam,
        "",
        "Rhinoceros Binary STL ( Jan 01 2024 )",
        "solid Part1 exported as binary",
        solidZero,
        std::string("solid part1\0", 12),
        "SketchUp STL :mm:Model name",
        "SketchUp STL Model name",
        "\"Part 1<stl unit=MM>\"",
        "\"Part 1<stl unit=INCHES>\"",
        ">3D Systems - View: turbine blade",
        threeDv,
        visCam,
        path,
        "\"DesignSpark part\"",
        "\"Object-0\"; Produced by Art of Illusion 3.0.3, Sat Aug 17 12:00:00 CEST 2024",
        "model UNITS=MM",
        "model =cm",
        "model =Inch",
        "model size 2 inch",
    };
}

// Special values and the kinds of number the display meets.
std::vector<double> decimalSeeds() {
    std::vector<double> values = {0.0,  -0.0,   1.0,     5.0,      0.1,       0.00012345, 1234.5,  1235.5,
                                  12345, 9999.5, 9999.4,  99995,    1e20,      1e22,       1e23,    1e-5,
                                  1e15, 1e16,   123456789012345.0, 0.5, 2.5, 3.5, DBL_MAX, DBL_MIN,
                                  DBL_TRUE_MIN, 4.9406564584124654e-324 * 3, 1e308, 1e-308, 2.2250738585072009e-308,
                                  INFINITY, -INFINITY, NAN, 0.001f, 0.0254f, 0.01f, 3.4028234663852886e38, 1.17549435e-38};
    for (int e = -30; e <= 30; ++e) values.push_back(std::pow(10.0, e) * 1.2345);
    for (int e = -10; e <= 10; ++e) values.push_back(static_cast<float>(std::pow(10.0, e)));
    return values;
}

// Twelve numbers each, space-separated: long mantissas, exponents at the
// limits of float, halfway cases, subnormals, 19 digits and more, leading
// zeros, signs and separators, and the lengths around eight digits a side.
std::vector<std::string> numberSeeds() {
    return {
        "84.2142 -15.9362 105.309 0.999693 0.00809518 0.023404 -1.23457e-05 104.25 -17.3 1 -0 +0",
        "12345678.12345678 -0.00000001 +99999999.9 1234567.8 -1234567.8 12345678.0 .1234567 -1234567. 9 . - -.",
        "16777217 33554434 0.50000003 8388608.5 4194304.25 2097152.125 0.500000029802322387695312 1.00000006 "
        "16777216.9 16777218.99999999 0.1 0.7",
        "3.4028235e38 3.4028236e38 1e39 1e38 1.17549435e-38 1.4e-45 7e-46 7.1e-46 1e-45 0e309 0e308 1e-400",
        "12345678901234567890 1234567890123456789012345 0.000000000000000000001 99999999999999999 "
        "999999999999999999 0.99999999999999999 1e0000000000000000000000001 0000000000001.5 000000001 -000.000 "
        "+00000000.00000001 1,5",
        "1.500000e+002 -4.336808e-016 1E+2 2.5E-003 1e5 -1.#IND00 nan NaN Infinity -Infinity 1.2.3 +-1",
    };
}

void write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One dictionary line: the text in quotes with every byte outside plain ASCII escaped.
std::string dictionaryEntry(const std::string& text) {
    if (text.empty()) return "";
    std::string line = "\"";
    for (unsigned char c : text) {
        if (c < 32 || c > 126 || c == '"' || c == '\\') {
            char escape[5];
            snprintf(escape, sizeof escape, "\\x%02X", c);
            line += escape;
        } else {
            line += static_cast<char>(c);
        }
    }
    return line + "\"\n";
}

const char* const kAsciiKeywords[] = {
    "solid",     "solid ",  "endsolid", "end solid", "facet normal", "outer loop", "vertex", "endloop",
    "endfacet",  "\r\n",    "\n",       " ",         "\t",           "-1.#IND00",  "nan",    "NaN",
    "Infinity",  "-",       "+",        ".",         ",",            "e",          "E",      "e-",
    "E+",        "0",       "1.5",      "123456789012345678901234", "e400", "\xEF\xBB\xBF", "\v", "\f",
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    fs::path root = argv[1];
    for (const char* target : {"load", "ascii", "header", "decimal", "numbers", "check", "zip", "model"})
        fs::create_directories(root / target);
    for (const auto& [path, bytes] : packageSeeds()) write(root / path, bytes);
    std::string modelDictionary;
    for (const std::string& word : modelDictionaryWords()) modelDictionary += dictionaryEntry(word);
    write(root / "model.dict", modelDictionary);

    // ASCII files: whole for the load target, behind the two steering bytes
    // (sink never stops, heap never fails; or stop at an early report) for the parser.
    for (const auto& [name, text] : asciiSeeds()) {
        write(root / "load" / ("ascii_" + name + ".stl"), text);
        write(root / "ascii" / (name + ".txt"), std::string("\xFF\xFE", 2) + text);
        write(root / "ascii" / (name + "_stop.txt"), std::string("\x02\xFE", 2) + text);
    }
    write(root / "ascii" / "no_heap.txt", std::string("\xFF\x01", 2) + asciiSeeds()[0].second);
    write(root / "ascii" / "no_sink.txt", std::string("\xFF\xFF", 2) + asciiSeeds()[0].second);

    // Binary files: every signature row and every header rule.
    std::string headerDictionary;
    for (uint32_t i = 0; i < kBinaryExporterSignatures; ++i) {
        const BinaryExporterSignature* row = binaryExporterSignature(i);
        std::string signature(row->bytes, row->length);
        char name[32];
        snprintf(name, sizeof name, "signature_%02u.stl", i);
        write(root / "load" / name, binaryFile(signature));
        headerDictionary += dictionaryEntry(signature);
        std::string recipe = {0, static_cast<char>(i), static_cast<char>(0xFF), 0};
        snprintf(name, sizeof name, "signature_%02u", i);
        write(root / "header" / name, recipe);
    }
    std::vector<std::string> rules = ruleHeaders();
    for (size_t i = 0; i < rules.size(); ++i) {
        char name[32];
        snprintf(name, sizeof name, "rule_%02zu.stl", i);
        write(root / "load" / name, binaryFile(rules[i]));
        headerDictionary += dictionaryEntry(rules[i].substr(0, 40));
        // The header target takes raw headers as (position, byte) patches over a zero fill.
        std::string recipe = {0, static_cast<char>(0xFF), static_cast<char>(0xFF), 0};
        std::string bytes = header(rules[i]);
        for (size_t p = 0; p < bytes.size(); ++p)
            if (bytes[p]) recipe += std::string{static_cast<char>(p), bytes[p]};
        snprintf(name, sizeof name, "rule_%02zu", i);
        write(root / "header" / name, recipe);
    }
    // Block structure corners.
    std::string oneTriangle = binaryFile("block corners", {1});
    write(root / "load" / "empty_84_bytes.stl", binaryFile("empty", {0}));
    for (int extra = 1; extra <= 3; ++extra)
        write(root / "load" / ("trailing_" + std::to_string(extra) + ".stl"), oneTriangle + std::string(extra, '\0'));
    write(root / "load" / "empty_second_block.stl", oneTriangle + std::string(4, '\0'));
    write(root / "load" / "three_blocks.stl", binaryFile("three blocks", {2, 0, 3}));
    std::string truncated = oneTriangle;
    appendUint32(&truncated, 1);
    write(root / "load" / "truncated_second_block.stl", truncated + std::string(6, '\0'));
    std::string huge = header("huge count");
    appendUint32(&huge, 85899346);  // 50 x n passes 2^32
    write(root / "load" / "huge_count.stl", huge + std::string(50, '\0'));
    std::string subnormal = binaryFile("subnormal", {1});
    subnormal[84 + 12] = 1;
    write(root / "load" / "subnormal_vertex.stl", subnormal);
    write(root / "load" / "binary_header_solid.stl", binaryFile("solid looks like text", {3}));
    std::string nanNormals = binaryFile("nan normals", {1});
    appendTriangle(&nanNormals, 5, 0x8000, NAN);
    nanNormals[80] = 2;
    write(root / "load" / "nan_normal_second.stl", nanNormals);

    for (size_t i = 0; i < decimalSeeds().size(); ++i) {
        double value = decimalSeeds()[i];
        std::string bytes(sizeof value, '\0');
        memcpy(bytes.data(), &value, sizeof value);
        write(root / "decimal" / ("value_" + std::to_string(i)), bytes);
        write(root / "decimal" / ("value_" + std::to_string(i) + "_fresh"), bytes + std::string(1, '\x01'));
    }

    for (size_t i = 0; i < numberSeeds().size(); ++i)
        write(root / "numbers" / ("numbers_" + std::to_string(i)), numberSeeds()[i]);
    std::string numbersDictionary;
    for (const char* piece : {" ", "-", "+", ".", ",", "e", "E", "e-", "E+", "0", "9", "00000000", "99999999",
                              "12345678", "16777217", "e38", "e-45", "e-46", "e39", "e309", "-1.#IND", "nan",
                              "Infinity"})
        numbersDictionary += dictionaryEntry(piece);
    write(root / "numbers.dict", numbersDictionary);

    // The surface check takes a control byte, then three corner picks per
    // triangle (two bits per axis): a unit cube, open, with a face turned, doubled.
    static const int kCubeQuads[6][4] = {{0, 4, 5, 1}, {16, 17, 21, 20}, {0, 1, 17, 16},
                                         {4, 20, 21, 5}, {0, 16, 20, 4}, {1, 5, 21, 17}};
    std::string cube;
    for (const auto& q : kCubeQuads)
        cube += std::string{static_cast<char>(q[0]), static_cast<char>(q[1]), static_cast<char>(q[2]),
                            static_cast<char>(q[0]), static_cast<char>(q[2]), static_cast<char>(q[3])};
    std::string turned = cube;
    std::swap(turned[1], turned[2]);
    write(root / "check" / "cube", std::string(1, '\0') + cube);
    write(root / "check" / "open_cube", std::string(1, '\x01') + cube.substr(6));
    write(root / "check" / "turned_face", std::string(1, '\x02') + turned);
    write(root / "check" / "two_cubes_heap_fails", std::string(1, '\x30') + cube + cube);

    std::string asciiDictionary;
    for (const char* keyword : kAsciiKeywords) asciiDictionary += dictionaryEntry(keyword);
    write(root / "ascii.dict", asciiDictionary);
    write(root / "header.dict", headerDictionary);
    write(root / "load.dict", asciiDictionary + headerDictionary);
    return 0;
}
