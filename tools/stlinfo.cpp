// stlinfo: what the viewer would load from STL and 3MF files, without a window.
// Each file goes through the viewer's own load path; one record per file,
// readable or as JSON (--json). Exit status: 0 all loaded (or --version), 1 some not, 2 usage.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "numfmt/length_format.h"
#include "numfmt/length_parse.h"
#include "stl/format_detection.h"
#include "load/load_job.h"
#include "mesh/build_fit.h"
#include "mesh/overhang_area.h"
#include "mesh/print_presets.h"
#include "mesh/surface_check.h"
#include "stlv_version.h"
#include "view/gpu_mesh.h"

namespace {

const char kUsage[] =
    "usage: stlinfo [--json] [--us] [--material NAME|DENSITY] [--printer NAME|WxDxH] FILE...\n"
    "       stlinfo --version\n"
    "Loads each STL or 3MF file as the viewer would and prints what it found:\n"
    "format, solids, coordinate space, unit, colours, bounds, triangles,\n"
    "surface area, volume, build items and application (3MF), the surface\n"
    "check, the overhang area (faces steeper than 45 degrees) and messages.\n"
    "  --json      one JSON array, an object per file\n"
    "  --us        lengths in inches rather than millimetres (JSON: SI units)\n"
    "  --material  the weight of each closed part, solid, in this material\n"
    "              (PLA, PETG, ABS, ASA, TPU, Nylon, Resin) or density (g/cm3)\n"
    "  --printer   whether each part fits this printer (\"Prusa MK4S\" or\n"
    "              prusa-mk4s, ...) or build volume (mm, or with cm or in,\n"
    "              as 250x210x220 or 25cm x 21cm x 22cm)\n";

// A lone surrogate (on Linux, a file name byte that is not UTF-8) becomes U+FFFD.
std::string toUtf8(const Utf16* text, size_t length, bool* replaced = nullptr) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t code = static_cast<uint16_t>(text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
            if (replaced) *replaced = true;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// A file as opened and as shown.
struct FileArgument {
    std::u16string path;
    std::string shown;      // UTF-8
    bool replaced = false;  // the shown name has U+FFFD for what was not text
};

FileArgument fileArgument(std::u16string path) {
    FileArgument argument{std::move(path), "", false};
    argument.shown = toUtf8(reinterpret_cast<const Utf16*>(argument.path.data()), argument.path.size(), &argument.replaced);
    return argument;
}

// What --material and --printer chose; a density or volume of 0 when not given.
struct Material {
    std::string name;
    double density = 0;
};

struct Printer {
    std::string name;
    BuildVolume volume{};
};

struct Options {
    bool json = false;
    bool usUnits = false;
    Material material;
    Printer printer;
    std::vector<FileArgument> files;
};

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The shortest text that reads back as the same float.
std::string number(float value) {
    char text[40];
    for (int digits = 6; digits <= 9; ++digits) {
        snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (strtof(text, nullptr) == value) break;
    }
    return text;
}

// JSON has no infinities and no NaN: such a value becomes null.
std::string jsonNumber(float value) {
    return std::isfinite(value) ? number(value) : "null";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[40];
    snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string widened(const CountedText& text) {
    std::vector<Utf16> wide(text.length + 1);
    Utf16* end = widenCountedText(&text, wide.data());
    return toUtf8(wide.data(), static_cast<size_t>(end - wide.data()));
}

std::string solidName(const StlSolid& solid) {
    return widened(solid.name);
}

// What a 3MF file adds: its build items and the program that wrote it.
std::string packageJson(const ModelPart* part) {
    if (!part || !part->package) return "    \"buildItems\": null,\n    \"application\": null,\n";
    const PackageFacts* facts = part->package;
    std::string application = facts->application.length ? jsonString(widened(facts->application)) : "null";
    return "    \"buildItems\": " + std::to_string(facts->buildItems) + ",\n    \"application\": " + application + ",\n";
}

std::vector<std::string> messageLines(const LoadJob* job) {
    std::vector<std::string> lines;
    const Utf16* text = static_cast<const Utf16*>(job->messages.data);
    size_t units = job->messages.used / sizeof(Utf16);
    size_t start = 0;
    for (size_t i = 0; i + 1 < units; ++i) {
        if (text[i] == '\r' && text[i + 1] == '\n') {
            lines.push_back(toUtf8(text + start, i - start));
            start = i + 2;
            ++i;
        }
    }
    return lines;
}

const char* formatName(uint32_t format) {
    return format == kFormatBinary ? "binary" : format == kFormatAscii ? "ascii" : format == kFormat3mf ? "3mf" : "none";
}

// What detection says of the file, "none" also when it cannot be opened.
uint32_t detectedFormat(const Utf16* path) {
    const uint8_t* view;
    uint64_t size;
    if (!mapModelFile(path, nullptr, &view, &size)) return kFormatNone;
    uint32_t format = detectModelFormat(view, size);
    unmapFile(view, size);
    return format;
}

struct FileReport {
    std::string file;
    bool nameReplaced = false;
    bool usUnits = false;
    uint32_t format = kFormatNone;
    const ModelPart* part = nullptr;  // null when not loaded
    bool checked = false;
    SurfaceCheck check{};
    const Material* material = nullptr;
    const Printer* printer = nullptr;
    std::vector<std::string> messages;
};

// Text of the numfmt writers, which write UTF-16 without a terminator.
constexpr int kShownTextUnits = 4 * kMaxLengthText + 64;
template <typename Write>
std::string shownText(Write write) {
    Utf16 text[kShownTextUnits];
    return toUtf8(text, static_cast<size_t>(write(text) - text));
}

// The unit every length of the readable output takes: millimetres, or inches with --us.
const LengthUnit* lengthRow(bool usUnits) {
    return usUnits ? kInchUnit : kMillimetreUnit;
}

DisplayUnits shownUnits(bool usUnits) {
    return usUnits ? DisplayUnits::kInches : DisplayUnits::kMillimetres;
}

std::string lengthText(double metres, bool usUnits) {
    return shownText([&](Utf16* out) { return formatLengthIn(out, metres, lengthRow(usUnits), kNoLocale); });
}

std::string areaText(double squareMetres, bool usUnits) {
    return shownText([&](Utf16* out) { return formatAreaIn(out, squareMetres, lengthRow(usUnits), kNoLocale); });
}

std::string volumeText(double cubicMetres, bool usUnits) {
    return shownText([&](Utf16* out) { return formatVolumeIn(out, cubicMetres, lengthRow(usUnits), kNoLocale); });
}

// "1 hole", "2 holes".
std::string counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The unit the file's coordinates are in, by name where it has one.
std::string unitName(float unitScale) {
    static const struct {
        float scale;
        const char* name;
    } kNames[] = {{0.001f, "millimetres"}, {0.01f, "centimetres"}, {1.0f, "metres"}, {0.0254f, "inches"}, {0.3048f, "feet"}};
    for (const auto& unit : kNames)
        if (unitScale == unit.scale) return std::string(unit.name) + " (" + number(unitScale) + " m per file unit)";
    return number(unitScale) + " m per file unit";
}

// The panel's size line for this file alone, in millimetres (inches with --us), with the plain number.
std::string sizeLine(const FileReport& r) {
    const GpuMesh* gpu = static_cast<const GpuMesh*>(r.part->gpuMesh);
    static_assert(kShownTextUnits >= kDimensionsTextCapacity);
    return shownText([&](Utf16* out) {
        return formatModelDimensions(out, gpu->boundsMin, gpu->boundsMax, r.part->metadata.coordinateSpace == 1,
                                     shownUnits(r.usUnits), kNoLocale);
    });
}

std::string triple(const float values[3]) {
    return "[" + jsonNumber(values[0]) + ", " + jsonNumber(values[1]) + ", " + jsonNumber(values[2]) + "]";
}

MeshFacts factsOf(const ModelPart* part) {
    return static_cast<const GpuMesh*>(part->gpuMesh)->facts;
}

std::string checkJson(const FileReport& r) {
    if (!r.checked) return "null";
    const SurfaceCheck& c = r.check;
    char text[400];
    snprintf(text, sizeof text,
             "{\"shells\": %llu, \"holes\": %llu, \"openEdges\": %llu, \"nonManifoldEdges\": %llu, "
             "\"flippedEdges\": %llu, \"degenerateTriangles\": %llu, \"closed\": %s, \"insideOut\": %s, "
             "\"weldedCorners\": %llu, \"flippedFaces\": %llu}",
             static_cast<unsigned long long>(c.shells), static_cast<unsigned long long>(c.holes),
             static_cast<unsigned long long>(c.openEdges), static_cast<unsigned long long>(c.nonManifoldEdges),
             static_cast<unsigned long long>(c.flippedEdges), static_cast<unsigned long long>(c.degenerateTriangles),
             c.closed ? "true" : "false", c.insideOut ? "true" : "false",
             static_cast<unsigned long long>(c.weldedCorners), static_cast<unsigned long long>(c.flippedFaces));
    return text;
}

std::string checkLine(const FileReport& r) {
    if (!r.checked) return "not done (out of memory)";
    const SurfaceCheck& c = r.check;
    std::string line = c.insideOut ? "closed, inside out" : c.closed ? "closed" : "not closed";
    const struct {
        uint64_t count;
        const char *one, *many;
    } counts[] = {
        {c.shells, "shell", "shells"},
        {c.holes, "hole", "holes"},
        {c.openEdges, "open edge", "open edges"},
        {c.nonManifoldEdges, "non-manifold edge", "non-manifold edges"},
        {c.flippedEdges, "flipped edge", "flipped edges"},
        {c.flippedFaces, "face turned the wrong way", "faces turned the wrong way"},
        {c.degenerateTriangles, "degenerate triangle", "degenerate triangles"},
        {c.weldedCorners, "corner welded across a tiny gap", "corners welded across tiny gaps"},
    };
    for (const auto& count : counts) line += ", " + counted(count.count, count.one, count.many);
    return line;
}

// Square metres of the faces steeper than the default angle; an inside-out
// part's outward normals are against its windings.
double overhangOf(const FileReport& r) {
    const ModelPart* part = r.part;
    OverhangFrame frame = uprightFrame(upAxisOf(part->metadata.coordinateSpace), r.checked && r.check.insideOut);
    return overhangArea(&part->mesh, frame, kDefaultOverhangDegrees,
                        static_cast<const GpuMesh*>(part->gpuMesh)->unitScale);
}

// The volume holds, as the panel shows it, only where every edge is run as
// often one way as the other: a closed surface whose faces agree, or such
// surfaces meeting on edges.
const char* whyNoWeight(const FileReport& r) {
    if (!r.checked) return "surface not checked";
    if (r.check.openEdges) return "surface not closed";
    if (r.check.flippedEdges) return "faces turned the wrong way";
    if (r.check.unevenEdges) return "surface not closed";
    return nullptr;
}

double weightOf(const FileReport& r) {
    return solidWeight(std::fabs(factsOf(r.part).volume), r.material->density);
}

BuildFit fitOf(const FileReport& r) {
    const GpuMesh* gpu = static_cast<const GpuMesh*>(r.part->gpuMesh);
    double size[3];
    standingSize(gpu->boundsMin, gpu->boundsMax, r.part->metadata.coordinateSpace == kSpaceYUp, size);
    return fitInVolume(size, &r.printer->volume);
}

std::string printabilityJson(const FileReport& r) {
    std::string out = "    \"overhangArea\": " + (r.part ? jsonNumber(overhangOf(r)) : std::string("null")) + ",\n";
    if (r.material)
        out += "    \"weight\": " + (r.part && !whyNoWeight(r) ? jsonNumber(weightOf(r)) : std::string("null")) + ",\n";
    if (r.printer) {
        BuildFit fit = r.part ? fitOf(r) : BuildFit{};
        const char* fits = !r.part ? "null" : fit.fits ? "true" : "false";
        const char* onSide = !r.part ? "null" : fit.fitsOnSide ? "true" : "false";
        out += std::string("    \"fits\": ") + fits + ",\n    \"fitsOnSide\": " + onSide + ",\n";
    }
    return out;
}

// "Prusa MK4S (250 × 210 × 220 mm)": a build volume in millimetres, as the window gives it.
std::string printerLine(const Printer& printer) {
    const double sides[3] = {printer.volume.width, printer.volume.depth, printer.volume.height};
    return printer.name + " (" + shownText([&](Utf16* out) { return formatMillimetreSizes(out, sides, kNoLocale); }) + ")";
}

std::string fitLine(const FileReport& r) {
    BuildFit fit = fitOf(r);
    if (fit.fits) return "fits the " + printerLine(*r.printer);
    std::string line = "too large for the " + printerLine(*r.printer);
    if (!fit.fitsOnSide) return line + " in every upright orientation";
    static const char* const kAxes[3] = {"width", "depth", "height"};
    const char* separator = " by ";
    for (int axis = 0; axis < 3; ++axis) {
        if (!(fit.over[axis] > 0)) continue;
        line += separator + lengthText(fit.over[axis] / 1000, r.usUnits) + " in " + kAxes[axis];
        separator = " and ";
    }
    return line + "; fits lying on its side";
}

void printPrintability(const FileReport& r) {
    printf("  overhangs: %s steeper than 45\xC2\xB0\n", areaText(overhangOf(r), r.usUnits).c_str());
    if (r.material) {
        if (const char* why = whyNoWeight(r)) {
            printf("  weight: none (%s)\n", why);
        } else {
            std::string weight =
                shownText([&](Utf16* out) { return formatWeight(out, weightOf(r), r.usUnits, kNoLocale); });
            printf("  weight: %s of %s if solid (100%% infill)\n", weight.c_str(), r.material->name.c_str());
        }
    }
    if (r.printer) printf("  fit: %s\n", fitLine(r).c_str());
}

void printJson(const FileReport& r, bool last) {
    const ModelPart* part = r.part;
    printf("  {\n    \"file\": %s,\n    \"loaded\": %s,\n    \"format\": \"%s\",\n    \"solids\": [",
           jsonString(r.file).c_str(), part ? "true" : "false", formatName(r.format));
    for (uint32_t i = 0; part && i < part->mesh.solidCount; ++i) {
        const StlSolid& solid = part->mesh.solids[i];
        // "hasColours" is the old spelling of "hasColors", given beside it for
        // one release: drop it in version 0.5.0.
        const char* colors = solid.hasColours ? "true" : "false";
        printf("%s\n      {\"name\": %s, \"triangles\": %u, \"hasNormals\": %s, \"hasColors\": %s, \"hasColours\": %s}",
               i ? "," : "", jsonString(solidName(solid)).c_str(), solid.triangleCount, solid.hasNormals ? "true" : "false",
               colors, colors);
    }
    printf("%s],\n", part && part->mesh.solidCount ? "\n    " : "");
    if (part) {
        const StlMetadata& m = part->metadata;
        const GpuMesh* gpu = static_cast<const GpuMesh*>(part->gpuMesh);
        std::string headerColor = m.headerColor[3] ? "[" + std::to_string(m.headerColor[0]) + ", " +
                                                         std::to_string(m.headerColor[1]) + ", " +
                                                         std::to_string(m.headerColor[2]) + "]"
                                                   : "null";
        std::vector<Utf16> name(m.modelName.length + 1);
        Utf16* nameEnd = widenCountedText(&m.modelName, name.data());
        MeshFacts facts = factsOf(part);
        printf("    \"coordinateSpace\": \"%s\",\n    \"unitScale\": %s,\n    \"colorOrder\": %u,\n"
               "    \"headerColor\": %s,\n    \"modelName\": %s,\n    \"boundsMin\": %s,\n    \"boundsMax\": %s,\n"
               "    \"triangles\": %llu,\n    \"surfaceArea\": %s,\n    \"volume\": %s,\n",
               m.coordinateSpace == 1 ? "Y up" : "Z up", jsonNumber(m.unitScale).c_str(), m.colorOrder,
               headerColor.c_str(), jsonString(toUtf8(name.data(), static_cast<size_t>(nameEnd - name.data()))).c_str(),
               triple(gpu->boundsMin).c_str(), triple(gpu->boundsMax).c_str(),
               static_cast<unsigned long long>(facts.triangleCount), jsonNumber(facts.surfaceArea).c_str(),
               jsonNumber(facts.volume).c_str());
    } else {
        printf("    \"coordinateSpace\": null,\n    \"unitScale\": null,\n    \"colorOrder\": null,\n"
               "    \"headerColor\": null,\n    \"modelName\": \"\",\n    \"boundsMin\": null,\n    \"boundsMax\": null,\n"
               "    \"triangles\": null,\n    \"surfaceArea\": null,\n    \"volume\": null,\n");
    }
    printf("%s", packageJson(part).c_str());
    printf("%s", printabilityJson(r).c_str());
    printf("    \"check\": %s,\n", checkJson(r).c_str());
    printf("    \"size\": %s,\n    \"messages\": [", part ? jsonString(sizeLine(r)).c_str() : "null");
    for (size_t i = 0; i < r.messages.size(); ++i)
        printf("%s\n      %s", i ? "," : "", jsonString(r.messages[i]).c_str());
    printf("%s]\n  }%s\n", r.messages.empty() ? "" : "\n    ", last ? "" : ",");
}

// "x -40.0 mm to 92.03 mm, y ..., z ...": the box in the file's axes, after its unit.
std::string boundsLine(const FileReport& r) {
    const GpuMesh* gpu = static_cast<const GpuMesh*>(r.part->gpuMesh);
    std::string line;
    for (int axis = 0; axis < 3; ++axis)
        line += std::string(axis ? ", " : "") + static_cast<char>('x' + axis) + " " +
                lengthText(gpu->boundsMin[axis], r.usUnits) + " to " + lengthText(gpu->boundsMax[axis], r.usUnits);
    return line;
}

// "12 triangles, surface area 600.0 mm², volume 1,000 mm³", the volume only
// where it holds, as the panel gives it.
std::string factsLine(const FileReport& r) {
    MeshFacts facts = factsOf(r.part);
    std::string line = counted(facts.triangleCount, "triangle", "triangles") + ", surface area " +
                       areaText(facts.surfaceArea, r.usUnits);
    if (const char* why = whyNoWeight(r)) return line + ", volume none (" + why + ")";
    line += ", volume " + volumeText(std::fabs(facts.volume), r.usUnits);
    return r.check.insideOut ? line + " (inside out)" : line;
}

void printReadable(const FileReport& r) {
    const ModelPart* part = r.part;
    printf("%s: %s\n", r.file.c_str(),
           part ? (r.format == kFormatBinary ? "binary STL" : r.format == kFormat3mf ? "3MF" : "ASCII STL")
                : r.format == kFormatNone ? "not loaded"
                : r.format == kFormat3mf ? "not loaded (damaged 3MF)" : "not loaded (damaged STL)");
    if (r.nameReplaced) printf("  (the file name is not valid text: U+FFFD stands for what could not be read)\n");
    if (part) {
        for (uint32_t i = 0; i < part->mesh.solidCount; ++i) {
            const StlSolid& solid = part->mesh.solids[i];
            printf("  solid %u \"%s\": %s%s%s\n", i + 1, solidName(solid).c_str(),
                   counted(solid.triangleCount, "triangle", "triangles").c_str(), solid.hasNormals ? ", normals" : "",
                   solid.hasColours ? ", colours" : "");
        }
        const StlMetadata& m = part->metadata;
        const GpuMesh* gpu = static_cast<const GpuMesh*>(part->gpuMesh);
        printf("  coordinate space: %s\n  unit: %s\n  colour order: %u\n", m.coordinateSpace == 1 ? "Y up" : "Z up",
               unitName(m.unitScale).c_str(), m.colorOrder);
        if (m.headerColor[3]) printf("  header colour: %u %u %u\n", m.headerColor[0], m.headerColor[1], m.headerColor[2]);
        if (part->package) {
            printf("  build items: %u\n", part->package->buildItems);
            if (part->package->application.length) printf("  application: %s\n", widened(part->package->application).c_str());
        }
        printf("  bounds: %s\n  size: %s\n", boundsLine(r).c_str(), sizeLine(r).c_str());
        printf("  %s\n", factsLine(r).c_str());
        printf("  check: %s\n", checkLine(r).c_str());
        printPrintability(r);
    }
    for (const std::string& line : r.messages) printf("  | %s\n", line.c_str());
}

// Runs the viewer's load job for one file on this thread; the job (to be
// destroyed after printing) or null when it could not be made.
LoadJob* loadOneFile(const Utf16* path, FileReport* r) {
    r->format = detectedFormat(path);
    FileNameList* list = static_cast<FileNameList*>(allocArray(processHeap(), 1, sizeof(FileNameList), nullptr));
    LoadJob* job = static_cast<LoadJob*>(allocArray(processHeap(), 1, sizeof(LoadJob), nullptr));
    bool listed = list && makeFileNameList(path, list);
    if (listed && job) initLoadJob(job, list, nullptr, nullptr);
    freeBytes(list);
    if (!listed || !job) {
        r->messages.push_back(list && job ? "path too long" : "out of memory");
        freeBytes(job);
        return nullptr;
    }
    runLoadJob(job);
    if (job->state == kLoadFinished) {
        r->part = static_cast<const ModelPart*>(job->parts.data);
        r->checked = checkSurface(&r->part->mesh, &r->check, nullptr, nullptr, nullptr);
    }
    r->messages = messageLines(job);
    return job;
}

// A number that is the whole text, finite and above zero.
bool positiveNumber(const char* text, const char** end, double* value) {
    char* stop;
    *value = strtod(text, &stop);
    *end = stop;
    return stop != text && std::isfinite(*value) && *value > 0;
}

bool parseMaterial(const std::string& text, Material* material) {
    int32_t preset = findPrintMaterial(text.c_str());
    if (preset >= 0) {
        *material = Material{kPrintMaterials[preset].name, kPrintMaterials[preset].density};
        return true;
    }
    const char* end;
    material->name = "a material of " + text + " g/cm3";
    return positiveNumber(text.c_str(), &end, &material->density) && !*end;
}

// A preset's name, or a build volume typed as the window's Other printer takes it.
bool parsePrinter(const FileArgument& argument, Printer* printer) {
    int32_t preset = findPrinterPreset(argument.shown.c_str());
    if (preset >= 0) {
        *printer = Printer{kPrinterPresets[preset].name, kPrinterPresets[preset].volume};
        return true;
    }
    const Utf16* text = reinterpret_cast<const Utf16*>(argument.path.data());
    double sides[3];
    if (readTypedSizes(text, text + argument.path.size(), sides) != LengthFault::kNone) return false;
    if (!(sides[0] > 0 && sides[1] > 0 && sides[2] > 0)) return false;
    *printer = Printer{"printer", BuildVolume{sides[0], sides[1], sides[2]}};
    return true;
}

bool parseArguments(const std::vector<FileArgument>& arguments, Options* options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const FileArgument& argument = arguments[i];
        bool hasValue = i + 1 < arguments.size();
        if (argument.path == u"--json") options->json = true;
        else if (argument.path == u"--us") options->usUnits = true;
        else if (argument.path == u"--material") {
            if (!hasValue || !parseMaterial(arguments[++i].shown, &options->material)) return false;
        } else if (argument.path == u"--printer") {
            if (!hasValue || !parsePrinter(arguments[++i], &options->printer)) return false;
        }
        else if (argument.path.size() > 1 && argument.path[0] == u'-') return false;
        else options->files.push_back(argument);
    }
    return !options->files.empty();
}

int run(const std::vector<FileArgument>& arguments) {
    if (arguments.size() == 1 && arguments[0].path == u"--version") {
        puts("stlinfo " STLV_VERSION_TEXT);
        return 0;
    }
    Options options;
    if (!parseArguments(arguments, &options)) {
        fputs(kUsage, stderr);
        return 2;
    }
    bool allLoaded = true;
    if (options.json) printf("[\n");
    for (size_t i = 0; i < options.files.size(); ++i) {
        std::vector<Utf16> path(options.files[i].path.begin(), options.files[i].path.end());
        path.push_back(0);
        FileReport r;
        r.file = options.files[i].shown;
        r.nameReplaced = options.files[i].replaced;
        r.usUnits = options.usUnits;
        if (options.material.density > 0) r.material = &options.material;
        if (options.printer.volume.width > 0) r.printer = &options.printer;
        LoadJob* job = loadOneFile(path.data(), &r);
        allLoaded = allLoaded && r.part;
        if (options.json) printJson(r, i + 1 == options.files.size());
        else printReadable(r);
        if (job) destroyLoadJob(job);
    }
    if (options.json) printf("]\n");
    return allLoaded ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<FileArgument> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(fileArgument(reinterpret_cast<const char16_t*>(argv[i])));
    return run(arguments);
}
#else
// Names are bytes here: opened by those very bytes, shown with U+FFFD where they are not UTF-8.
int main(int argc, char** argv) {
    std::vector<FileArgument> arguments;
    for (int i = 1; i < argc; ++i) {
        std::vector<Utf16> wide(strlen(argv[i]) + 1);
        uint32_t length = widenFileName(argv[i], static_cast<uint32_t>(strlen(argv[i])), wide.data());
        arguments.push_back(fileArgument(std::u16string(reinterpret_cast<const char16_t*>(wide.data()), length)));
    }
    return run(arguments);
}
#endif
