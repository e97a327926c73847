// The viewer's load path as one timed unit, its memory-bandwidth yardstick,
// and the generator of the benchmark models.
//
//   load_bench generate FOLDER TRIANGLES...   binary_N.stl and ascii_N.stl per count
//   load_bench generate-binary FOLDER TRIANGLES...   binary_N.stl only
//   load_bench ours FILE                      map, detect, parse, recognise, defaults,
//                                             bounds, vertex array: "seconds triangles"
//   load_bench checked FILE                   the same, then the surface check as stlinfo runs it
//   load_bench generate-closed FOLDER TRIANGLES   closed_N.stl: a torus whose seams weld exactly
//   load_bench generate-3mf FOLDER TRIANGLES  closed_N.stl and torus_N.3mf, the same torus
//                                             as PrusaSlicer writes it (deflated by zlib)
//   load_bench yardstick FILE TRIANGLES       map, copy the file, copy a vertex array
//   load_bench memory FILE                    one load; peak heap use of the load and
//                                             peak memory of the process
//   load_bench overhang FILE                  the load as "ours", then the overhang area of
//                                             the loaded part: two "seconds triangles" lines
//   load_bench save FILE                      as the window does it: the load as "ours", the
//                                             surface check keeping its welding (not part of
//                                             the save), then Save as binary STL with every
//                                             repair on that welding (FILE.saved.stl): three
//                                             lines, load, check, save
//   load_bench pick FILE                      one load; the pick index's build time and
//                                             bytes, then the time of picks over a grid
//                                             of a 1280 x 960 view, with and without it
//
// The load path is the product's own functions in the order of the load job
// and the Windows upload (which builds the vertex array before CreateBuffer).
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#if STLV_HAVE_ZLIB
#include <zlib.h>
#endif

#include "bench/bench_timing.h"
#include "tests/package_files.h"
#include "core/memory.h"
#include "stl/format_detection.h"
#include "load/load_job.h"
#include "load/model_save.h"
#include "mesh/overhang_area.h"
#include "mesh/surface_pick.h"
#include "view/camera.h"
#include "view/frame_math.h"
#include "mesh/surface_check.h"
#include "view/adapter_limits.h"
#include "view/gpu_mesh.h"

namespace {

std::vector<Utf16> widePath(const char* path) {
    std::vector<Utf16> wide(path, path + strlen(path));  // benchmark paths are ASCII
    wide.push_back(0);
    return wide;
}

intptr_t ignoreLines(void*, StatusCode, uintptr_t, const Utf16*) {
    return 1;
}

// Peak resident memory, and what the vertex array and mapping amount to.
struct Footprint {
    uint64_t fileBytes = 0;
    uint64_t vertexBytes = 0;
};

// The load job's way, the file read into memory of its own; `mapped` maps it
// instead, as the load did before, for a side-by-side comparison.
long long loadOnce(const char* path, Footprint* footprint = nullptr, bool check = false, bool mapped = false) {
    ConvertingSink sink;
    initConvertingSink(&sink, MessageSink{nullptr, ignoreLines});
    const MessageSink* report = &sink.self;
    std::vector<Utf16> wide = widePath(path);
    const uint8_t* view;
    uint64_t size;
    if (mapped ? !mapModelFile(wide.data(), report, &view, &size) : !copyFileToMemory(wide.data(), &view, &size))
        return -1;
    uint32_t format = detectModelFormat(view, size);
    HeapHandle heap = createPrivateHeap();
    ModelPart part{};
    long long triangles = -1;
    if (format != kFormatNone && parseModel(&part, format, view, view + size, heap, report)) {
        uint8_t* visible = static_cast<uint8_t*>(allocArray(heap, part.mesh.solidCount, 1, report));
        if (visible) memset(visible, 1, part.mesh.solidCount);
        applyLoadDefaults(&part.metadata, report);
        GpuMesh* gpu = visible ? prepareGpuMesh(&part.mesh, &part.metadata, visible, heap, report) : nullptr;
        // As the upload stages them: one piece of the largest size at a time.
        uint32_t each = pieceTrianglesFor(kPieceBytesCap, 0);
        uint64_t staged = gpu && gpu->triangleCount < each ? gpu->triangleCount : each;
        MeshVertex* vertices =
            gpu ? static_cast<MeshVertex*>(allocArray(heap, 3 * staged + 1, sizeof(MeshVertex), report)) : nullptr;
        if (vertices) {
            uint64_t done = 0;
            for (uint32_t s = 0; s < part.mesh.solidCount; ++s)
                for (uint32_t t = 0; t < part.mesh.solids[s].triangleCount;) {
                    uint64_t room = each - done % each;
                    uint32_t left = part.mesh.solids[s].triangleCount - t;
                    uint32_t count = left < room ? left : static_cast<uint32_t>(room);
                    expandTriangles(&part.mesh.solids[s], t, count, vertices + 3 * (done % each), part.metadata.colorOrder);
                    t += count;
                    done += count;
                }
            triangles = static_cast<long long>(gpu->triangleCount);
            if (footprint) {
                footprint->fileBytes = size;
                footprint->vertexBytes = 3 * staged * sizeof(MeshVertex);
            }
            heapFree(heap, vertices);  // the Direct3D buffer keeps the only copy
            SurfaceCheck result;
            if (check && (!checkSurface(&part.mesh, &result, nullptr, nullptr, report) || !result.closed)) triangles = -1;
        }
    }
    destroyPrivateHeap(heap);
    if (mapped) unmapFile(view, size);
    else releaseFileCopy(view, size);
    return triangles;
}

long long copyOnce(const char* path, uint64_t triangles) {
    std::vector<Utf16> wide = widePath(path);
    const uint8_t* view;
    uint64_t size;
    if (!mapFileReadOnly(wide.data(), &view, &size)) return -1;
    uint64_t vertexBytes = triangles * 3 * sizeof(MeshVertex);
    uint8_t* copy = static_cast<uint8_t*>(malloc(size));
    uint8_t* vertices = static_cast<uint8_t*>(malloc(vertexBytes));
    memcpy(copy, view, size);
    // The vertex array from the copy, wrapping round when the file is the smaller.
    for (uint64_t done = 0; done < vertexBytes;) {
        uint64_t piece = vertexBytes - done < size ? vertexBytes - done : size;
        memcpy(vertices + done, copy, piece);
        done += piece;
    }
    volatile uint8_t sink = copy[size / 2] ^ vertices[vertexBytes / 2];
    (void)sink;
    free(vertices);
    free(copy);
    unmapFile(view, size);
    return static_cast<long long>(triangles);
}

// A torus of millimetre size, so that the text has the digits of real coordinates.
struct Torus {
    uint64_t columns;
    uint64_t rows;
    void corner(uint64_t column, uint64_t row, float out[3]) const {
        const double pi = 3.14159265358979323846;
        double u = 2 * pi * static_cast<double>(column) / static_cast<double>(columns);
        double v = 2 * pi * static_cast<double>(row) / static_cast<double>(rows);
        double ring = 62.5 + 21.75 * std::cos(v);
        out[0] = static_cast<float>(ring * std::cos(u) + 0.001 * static_cast<double>(row % 7));
        out[1] = static_cast<float>(ring * std::sin(u) - 17.3);
        out[2] = static_cast<float>(21.75 * std::sin(v) + 104.25);
    }
    // Triangle k: half of a grid cell.
    void triangle(uint64_t k, float normal[3], float vertices[3][3]) const {
        uint64_t cell = k / 2;
        uint64_t c = cell % columns;
        uint64_t r = cell / columns;
        if (k % 2 == 0) {
            corner(c, r, vertices[0]);
            corner(c + 1, r, vertices[1]);
            corner(c + 1, r + 1, vertices[2]);
        } else {
            corner(c, r, vertices[0]);
            corner(c + 1, r + 1, vertices[1]);
            corner(c, r + 1, vertices[2]);
        }
        float a[3], b[3];
        for (int i = 0; i < 3; ++i) {
            a[i] = vertices[1][i] - vertices[0][i];
            b[i] = vertices[2][i] - vertices[0][i];
        }
        float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (int i = 0; i < 3; ++i) normal[i] = length > 0 ? n[i] / length : 0;
    }
};

Torus torusFor(uint64_t triangles) {
    uint64_t cells = (triangles + 1) / 2;
    uint64_t columns = static_cast<uint64_t>(std::sqrt(static_cast<double>(cells) * 3)) + 1;
    return Torus{columns, cells / columns + 1};
}

// Corners on a columns x rows grid that wraps, each computed once per grid
// point, so the seams weld and the surface is closed: 2 x columns x rows triangles.
void writeClosedTorus(const std::string& path, uint64_t columns, uint64_t rows) {
    Torus torus{columns, rows};
    std::ofstream out(path, std::ios::binary);
    std::string header(80, ' ');
    header.replace(0, 18, "closed torus bench");
    out.write(header.data(), 80);
    uint32_t count = static_cast<uint32_t>(2 * columns * rows);
    out.write(reinterpret_cast<const char*>(&count), 4);
    auto at = [&](uint64_t c, uint64_t r, float p[3]) { torus.corner(c % columns, r % rows, p); };
    std::vector<char> record(50, 0);
    for (uint64_t r = 0; r < rows; ++r)
        for (uint64_t c = 0; c < columns; ++c) {
            float v[4][3];
            at(c, r, v[0]);
            at(c + 1, r, v[1]);
            at(c + 1, r + 1, v[2]);
            at(c, r + 1, v[3]);
            const int corners[2][3] = {{0, 1, 2}, {0, 2, 3}};
            for (const auto& t : corners) {
                for (int k = 0; k < 3; ++k) memcpy(record.data() + 12 + 12 * k, v[t[k]], 12);
                out.write(record.data(), 50);
            }
        }
}

// The closed torus as PrusaSlicer writes a project: one object of indexed
// vertices ("%.9g", one element a line), deflated by zlib into a ZIP with
// its content types and relationships.
std::string prusaLikeModel(uint64_t columns, uint64_t rows) {
    Torus torus{columns, rows};
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model unit=\"millimeter\" xml:lang=\"en-US\" "
        "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" "
        "xmlns:slic3rpe=\"http://schemas.slic3r.org/3mf/2017/06\">\n <metadata name=\"slic3rpe:Version3mf\">1</metadata>\n"
        " <metadata name=\"Title\">torus</metadata>\n <metadata name=\"Application\">PrusaSlicer-2.5.0</metadata>\n"
        " <resources>\n  <object id=\"1\" type=\"model\">\n   <mesh>\n    <vertices>\n";
    char line[160];
    for (uint64_t r = 0; r < rows; ++r)
        for (uint64_t c = 0; c < columns; ++c) {
            float p[3];
            torus.corner(c, r, p);
            snprintf(line, sizeof line, "     <vertex x=\"%.9g\" y=\"%.9g\" z=\"%.9g\"/>\n", p[0], p[1], p[2]);
            xml += line;
        }
    xml += "    </vertices>\n    <triangles>\n";
    auto index = [&](uint64_t c, uint64_t r) { return (r % rows) * columns + c % columns; };
    for (uint64_t r = 0; r < rows; ++r)
        for (uint64_t c = 0; c < columns; ++c) {
            uint64_t v[4] = {index(c, r), index(c + 1, r), index(c + 1, r + 1), index(c, r + 1)};
            snprintf(line, sizeof line, "     <triangle v1=\"%llu\" v2=\"%llu\" v3=\"%llu\"/>\n     <triangle v1=\"%llu\" v2=\"%llu\" v3=\"%llu\"/>\n",
                     (unsigned long long)v[0], (unsigned long long)v[1], (unsigned long long)v[2], (unsigned long long)v[0],
                     (unsigned long long)v[2], (unsigned long long)v[3]);
            xml += line;
        }
    xml += "    </triangles>\n   </mesh>\n  </object>\n </resources>\n <build>\n"
           "  <item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 0 0 0\" printable=\"1\"/>\n </build>\n</model>\n";
    return xml;
}

// The same closed torus as binary STL and as a deflated 3MF package.
bool writeTorus3mf(const std::string& folder, uint64_t triangles) {
#if STLV_HAVE_ZLIB
    uint64_t cells = (triangles + 1) / 2;
    uint64_t columns = static_cast<uint64_t>(std::sqrt(static_cast<double>(cells) * 3)) + 1;
    uint64_t rows = cells / columns + 1;
    std::string name = std::to_string(2 * columns * rows);
    writeClosedTorus(folder + "/closed_" + name + ".stl", columns, rows);
    std::string xml = prusaLikeModel(columns, rows);
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string deflated(deflateBound(&stream, xml.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(xml.data());
    stream.avail_in = static_cast<uInt>(xml.size());
    stream.next_out = reinterpret_cast<Bytef*>(deflated.data());
    stream.avail_out = static_cast<uInt>(deflated.size());
    deflate(&stream, Z_FINISH);
    deflated.resize(stream.total_out);
    deflateEnd(&stream);
    std::string file = zipArchive({{"[Content_Types].xml", contentTypes()}, {"_rels/.rels", rootRelationships()},
                                   {"3D/3dmodel.model", xml, true, deflated}});
    std::ofstream(folder + "/torus_" + name + ".3mf", std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
    printf("closed_%s.stl and torus_%s.3mf: model part %zu bytes, file %zu bytes\n", name.c_str(), name.c_str(), xml.size(), file.size());
    return true;
#else
    (void)folder;
    (void)triangles;
    fprintf(stderr, "load_bench: built without zlib, cannot write 3MF\n");
    return false;
#endif
}

void writeBinary(const std::string& path, uint64_t triangles) {
    std::ofstream out(path, std::ios::binary);
    std::string header = "Visualization Toolkit generated SLA File                                        ";
    header.resize(80, ' ');
    out.write(header.data(), 80);
    uint32_t count = static_cast<uint32_t>(triangles);
    out.write(reinterpret_cast<const char*>(&count), 4);
    Torus torus = torusFor(triangles);
    std::vector<char> buffer;
    buffer.reserve(50 * 65536);
    for (uint64_t k = 0; k < triangles; ++k) {
        float normal[3], vertices[3][3];
        torus.triangle(k, normal, vertices);
        char record[50] = {};
        memcpy(record, normal, 12);
        memcpy(record + 12, vertices, 36);
        buffer.insert(buffer.end(), record, record + 50);
        if (buffer.size() >= 50 * 65536) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
}

// The layout of the Visualization Toolkit's writer ("%.6g", as on Windows with CR LF).
void writeAscii(const std::string& path, uint64_t triangles) {
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return;
    static char buffer[1 << 20];
    setvbuf(out, buffer, _IOFBF, sizeof buffer);
    fputs("solid ascii\r\n", out);
    Torus torus = torusFor(triangles);
    for (uint64_t k = 0; k < triangles; ++k) {
        float n[3], v[3][3];
        torus.triangle(k, n, v);
        fprintf(out, " facet normal %.6g %.6g %.6g\r\n  outer loop\r\n", n[0], n[1], n[2]);
        for (auto& corner : v) fprintf(out, "   vertex %.6g %.6g %.6g\r\n", corner[0], corner[1], corner[2]);
        fputs("  endloop\r\n endfacet\r\n", out);
    }
    fputs("endsolid ascii\r\n", out);
    fclose(out);
}

uint64_t peakResidentKilobytes() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss);
}

// Picks at 21 x 21 points spread over the view, looking at the model as the
// window first shows it turned by 30 degrees each way; prints the slowest and
// the mean time of one pick.
int pickBench(const char* path) {
    using Clock = std::chrono::steady_clock;
    std::vector<Utf16> wide = widePath(path);
    const uint8_t* view;
    uint64_t size;
    if (!mapModelFile(wide.data(), nullptr, &view, &size)) return 1;
    HeapHandle heap = createPrivateHeap();
    ModelPart part{};
    if (!parseModel(&part, detectFormat(view, size), view, view + size, heap, nullptr)) return 1;
    applyLoadDefaults(&part.metadata, nullptr);
    uint64_t before = heapBytesInUse();
    auto start = Clock::now();
    PickIndex* index = buildPickIndex(part.mesh.solids, part.mesh.solidCount, heap, nullptr);
    double build = std::chrono::duration<double>(Clock::now() - start).count();
    if (!index) return 1;
    uint64_t triangles = meshTriangleCount(&part.mesh);
    uint64_t bytes = heapBytesInUse() - before;
    printf("%llu triangles; index built in %.4f s, %llu bytes (%.2f a triangle)\n",
           static_cast<unsigned long long>(triangles), build, static_cast<unsigned long long>(bytes),
           static_cast<double>(bytes) / static_cast<double>(triangles));
    float low[3], high[3];
    MeshFacts facts;
    computeMeshBounds(&part.mesh, part.metadata.unitScale, low, high, &facts);
    FrameCamera camera{};
    for (int axis = 0; axis < 3; ++axis) camera.centre[axis] = (low[axis] + high[axis]) / 2;
    rotationFromAngles(degreesToAngle(30), degreesToAngle(30), camera.rotation);
    camera.radius = boxRadius(low, high);
    camera.zoom = kInitialZoom;
    camera.yUp = true;
    camera.width = 1280;
    camera.height = 960;
    PickCamera pickCamera;
    framePickCamera(&camera, &pickCamera);
    for (bool indexed : {true, false}) {
        PickPart pickPart{part.mesh.solids, part.mesh.solidCount, nullptr, indexed ? index : nullptr,
                          part.metadata.unitScale};
        double slowest = 0, total = 0;
        int hits = 0, picks = 0;
        for (int row = 0; row < 21; ++row)
            for (int column = 0; column < 21; ++column, ++picks) {
                if (!indexed && picks % 20) continue;  // every triangle each time: a sample is enough
                SurfacePick pick;
                auto begin = Clock::now();
                hits += pickSurface(&pickCamera, &pickPart, 1, 320 + 32.0 * column, 160 + 32.0 * row, &pick);
                double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
                total += seconds;
                slowest = seconds > slowest ? seconds : slowest;
            }
        int timed = indexed ? picks : (picks + 19) / 20;
        printf("%s: %d picks, %d on the model; mean %.2f ms, slowest %.2f ms\n", indexed ? "indexed" : "every triangle",
               timed, hits, 1000 * total / timed, 1000 * slowest);
    }
    destroyPrivateHeap(heap);
    unmapFile(view, size);
    return 0;
}

// The load, timed, then each step in turn on the part the file parses
// into, timed: each the best of a few runs, in one process.
int timeAfterLoad(const char* path, const std::vector<std::function<long long(const ModelPart&)>>& steps) {
    if (timeLoads([&] { return loadOnce(path); })) return 1;
    std::vector<Utf16> wide = widePath(path);
    const uint8_t* view;
    uint64_t size;
    if (!copyFileToMemory(wide.data(), &view, &size)) return 1;
    HeapHandle heap = createPrivateHeap();
    ModelPart part{};
    int status = 1;
    if (parseModel(&part, detectModelFormat(view, size), view, view + size, heap, nullptr)) {
        applyLoadDefaults(&part.metadata, nullptr);
        status = 0;
        for (size_t i = 0; i < steps.size() && !status; ++i) status = timeLoads([&] { return steps[i](part); });
    }
    destroyPrivateHeap(heap);
    releaseFileCopy(view, size);
    return status;
}

// The overhang area against the load it follows: the area is computed once
// per part and angle, so it should cost no more than the load.
int overhangBench(const char* path) {
    volatile double area = 0;
    int status = timeAfterLoad(path, {[&](const ModelPart& part) {
        area = overhangArea(&part.mesh, uprightFrame(upAxisOf(part.metadata.coordinateSpace), false), kDefaultOverhangDegrees,
                            part.metadata.unitScale);
        return static_cast<long long>(meshTriangleCount(&part.mesh));
    }});
    printf("overhang area %.6g m^2\n", static_cast<double>(area));
    return status;
}

// Save as binary STL with every repair on against the load before it, as
// the window does it: after the surface check the window runs anyway, which
// keeps its welding for the repairs. The repairs, the check again and the
// writing should take at most three times the load.
int saveBench(const char* path) {
    std::vector<Utf16> out = widePath((std::string(path) + ".saved.stl").c_str());
    ConvertingSink sink;
    initConvertingSink(&sink, MessageSink{nullptr, ignoreLines});
    SurfaceCheck result{};
    SurfaceWelding welding{nullptr, 0, 0};
    std::vector<uint8_t> marks;
    int status = timeAfterLoad(
        path, {[&](const ModelPart& part) {
                   freeSurfaceWelding(&welding);
                   marks.assign(meshTriangleCount(&part.mesh) + 1, 0);
                   bool done = checkSurfaceKeepingWelding(&part.mesh, &result, marks.data(), &welding, nullptr, nullptr);
                   return done ? static_cast<long long>(meshTriangleCount(&part.mesh)) : -1;
               },
               [&](const ModelPart& part) {
                   CheckedBefore checked{&welding, &result};
                   SaveRequest request{&part, 1, nullptr, 0, kSaveBinaryStl, RepairChoice{1, 1, 1, 1}, out.data(), &checked};
                   SaveOutcome outcome;
                   bool saved = saveModel(&request, &outcome, nullptr, &sink.self);
                   return saved ? static_cast<long long>(meshTriangleCount(&part.mesh)) : -1;
               }});
    freeSurfaceWelding(&welding);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "generate" || mode == "generate-binary") && argc > 3) {
        bool withText = mode == "generate";
        for (int i = 3; i < argc; ++i) {
            uint64_t triangles = strtoull(argv[i], nullptr, 10);
            std::string stem = std::string(argv[2]) + "/";
            std::string name = std::to_string(triangles);
            if (!std::ifstream(stem + "binary_" + name + ".stl")) writeBinary(stem + "binary_" + name + ".stl", triangles);
            if (withText && !std::ifstream(stem + "ascii_" + name + ".stl"))
                writeAscii(stem + "ascii_" + name + ".stl", triangles);
        }
        return 0;
    }
    if (mode == "ours" && argc == 3) return timeLoads([&] { return loadOnce(argv[2]); });
    if (mode == "mapped" && argc == 3) return timeLoads([&] { return loadOnce(argv[2], nullptr, false, true); });
    if (mode == "checked" && argc == 3) return timeLoads([&] { return loadOnce(argv[2], nullptr, true); });
    if (mode == "generate-3mf" && argc == 4) return writeTorus3mf(argv[2], strtoull(argv[3], nullptr, 10)) ? 0 : 1;
    if (mode == "generate-closed" && argc == 4) {
        uint64_t cells = strtoull(argv[3], nullptr, 10) / 2;
        uint64_t rows = static_cast<uint64_t>(std::sqrt(static_cast<double>(cells) / 2));
        while (rows > 1 && cells % rows) --rows;
        writeClosedTorus(std::string(argv[2]) + "/closed_" + argv[3] + ".stl", cells / rows, rows);
        return 0;
    }
    if (mode == "yardstick" && argc == 4) {
        uint64_t triangles = strtoull(argv[3], nullptr, 10);
        return timeLoads([&] { return copyOnce(argv[2], triangles); });
    }
    if (mode == "memory" && argc == 3) {
        uint64_t before = peakResidentKilobytes();
        uint64_t heapBefore = heapBytesInUse();
        resetHeapBytesPeak();
        Footprint footprint;
        long long triangles = loadOnce(argv[2], &footprint);
        printf("heap peak %llu KB\n", static_cast<unsigned long long>((heapBytesPeak() - heapBefore) / 1024));
        if (triangles < 0) return 1;
        printf("peak %llu KB (before the load %llu KB); file %llu KB, vertex array %llu KB\n",
               static_cast<unsigned long long>(peakResidentKilobytes()), static_cast<unsigned long long>(before),
               static_cast<unsigned long long>(footprint.fileBytes / 1024),
               static_cast<unsigned long long>(footprint.vertexBytes / 1024));
        return 0;
    }
    if (mode == "pick" && argc == 3) return pickBench(argv[2]);
    if (mode == "overhang" && argc == 3) return overhangBench(argv[2]);
    if (mode == "save" && argc == 3) return saveBench(argv[2]);
    fprintf(stderr,
            "usage: load_bench generate[-binary] FOLDER TRIANGLES... | generate-closed FOLDER TRIANGLES | "
            "generate-3mf FOLDER TRIANGLES | ours FILE | mapped FILE | "
            "checked FILE | yardstick FILE TRIANGLES | "
            "memory FILE | pick FILE | overhang FILE | save FILE (load, check keeping its welding, save)\n");
    return 2;
}
