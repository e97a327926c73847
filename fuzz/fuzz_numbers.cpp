// The quick facet reader against the general one on numbers: up to twelve
// space-separated tokens from the input become the normal and corners of a
// facet, read once with text after it (the quick reader first) and once at
// the end of the text (the general reader alone). Both must give the same
// floats bit for bit and the same reports at the same distance from the facet.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/memory.h"
#include "fuzz/fuzz_support.h"
#include "stl/ascii_parser.h"

namespace {

struct Reading {
    bool parsed = false;
    std::vector<std::pair<StatusCode, uintptr_t>> reports;
    std::vector<uint32_t> facetBits;  // the facet of interest, when read
};

intptr_t record(void* self, StatusCode code, uintptr_t argument, const Utf16*) {
    if (code != kProgress) static_cast<Reading*>(self)->reports.push_back({code, argument});
    return 1;
}

Reading read(const std::string& text, bool facetFirst) {
    Reading reading;
    MessageSink sink{&reading, record};
    std::vector<uint8_t> bytes(text.begin(), text.end());  // exactly sized, so reads past it are caught
    StlMesh mesh;
    HeapHandle heap = createPrivateHeap();
    FUZZ_CHECK(heap != nullptr);
    reading.parsed = parseAsciiStl(&mesh, bytes.data(), bytes.size(), heap, &sink);
    if (reading.parsed && mesh.solidCount == 1 && mesh.solids[0].triangleCount > 0) {
        const StlSolid& solid = mesh.solids[0];
        uint32_t bits[9];  // the corners; the normal's numbers are read but not kept
        memcpy(bits, &solid.triangles[facetFirst ? 0 : solid.triangleCount - 1], sizeof bits);
        reading.facetBits.assign(bits, bits + 9);
    }
    if (reading.parsed) freeMeshSolids(&mesh, heap);
    destroyPrivateHeap(heap);
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> tokens;
    std::string token;
    for (size_t i = 0; i <= size && tokens.size() < 12; ++i) {
        if (i == size || data[i] == ' ') {
            if (!token.empty()) tokens.push_back(token);
            token.clear();
        } else {
            token += static_cast<char>(data[i]);
        }
    }
    while (tokens.size() < 12) tokens.push_back("0");
    std::string facet = "facet normal " + tokens[0] + " " + tokens[1] + " " + tokens[2] + "\nouter loop\n";
    for (int vertex = 1; vertex <= 3; ++vertex)
        facet += "vertex " + tokens[3 * vertex] + " " + tokens[3 * vertex + 1] + " " + tokens[3 * vertex + 2] + "\n";
    facet += "endloop\nendfacet\n";
    const std::string flat = "facet normal 0 0 0 outer loop vertex 0 0 0 vertex 0 0 0 vertex 0 0 0 endloop endfacet\n";

    Reading quick = read("solid a\n" + facet + flat + flat + "endsolid a\n", true);
    Reading general = read("solid a\n" + flat + flat + facet + "endsolid a\n", false);
    FUZZ_CHECK(quick.parsed == general.parsed);
    FUZZ_CHECK(quick.reports.size() == general.reports.size());
    for (size_t i = 0; i < quick.reports.size(); ++i) {
        FUZZ_CHECK(quick.reports[i].first == general.reports[i].first);
        uintptr_t shifted = quick.reports[i].second ? quick.reports[i].second + 2 * flat.size() : 0;
        FUZZ_CHECK(shifted == general.reports[i].second);
    }
    if (quick.facetBits != general.facetBits) {
        fprintf(stderr, "facet read differently:\n%s", facet.c_str());
        for (size_t i = 0; i < quick.facetBits.size() && i < general.facetBits.size(); ++i)
            fprintf(stderr, "  %zu: quick %08x general %08x\n", i, quick.facetBits[i], general.facetBits[i]);
        abort();
    }
    return 0;
}
