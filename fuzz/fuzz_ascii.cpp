// The ASCII parser alone, with a sink that sometimes answers 0 (a cancelled
// load) and a heap that sometimes runs dry. The first two input bytes steer
// both; the rest is the text. Numbers at the start of the text are also
// checked against the C library's correctly rounded strtof.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "fuzz/fuzz_support.h"
#include "stl/ascii_parser.h"

namespace {

// Answers 0 from report number `stopAt` on (never when stopAt is negative)
// and remembers whether it ever refused a warning or a progress report.
struct StoppingSink {
    MessageSink sink{this, &receive};
    int64_t stopAt = -1;
    int64_t received = 0;
    bool refusedNonError = false;

    static intptr_t receive(void* self, StatusCode code, uintptr_t, const Utf16*) {
        StoppingSink* s = static_cast<StoppingSink*>(self);
        bool refuse = s->stopAt >= 0 && s->received++ >= s->stopAt;
        if (refuse && code < kErrorClass) s->refusedNonError = true;
        return refuse ? 0 : 1;
    }
};

bool isDigit(uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

// A plain decimal ("-12.5e3", ".5", "5.", "1,5") that the parser reads exactly: at
// most 17 significant digits and a short exponent. Returns its length, 0 when
// the text at `at` is not one.
size_t plainDecimalLength(const uint8_t* at, const uint8_t* end, bool* zeroMantissa) {
    const uint8_t* p = at;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    static const char kIndefinite[] = "1.#IND";  // after a minus sign: NaN
    if (static_cast<size_t>(end - p) >= 6 && memcmp(p, kIndefinite, 6) == 0) return 0;
    int significant = 0;
    int digits = 0;
    auto digit = [&](uint8_t byte) {
        ++digits;
        if (significant || byte != '0') ++significant;
    };
    for (; p != end && isDigit(*p); ++p) digit(*p);
    if (p != end && (*p == '.' || *p == ',')) {
        ++p;
        for (; p != end && isDigit(*p); ++p) digit(*p);
    }
    if (digits == 0 || significant > 17) return 0;
    *zeroMantissa = significant == 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        const uint8_t* q = p + 1;
        if (q != end && (*q == '+' || *q == '-')) ++q;
        int exponentDigits = 0;
        for (; q != end && isDigit(*q); ++q) ++exponentDigits;
        if (exponentDigits == 0 || exponentDigits > 3) return 0;
        p = q;
    }
    return static_cast<size_t>(p - at);
}

void checkNumberAgainstStrtof(const uint8_t* text, size_t size) {
    const uint8_t* end = text + size;
    bool zeroMantissa = false;
    size_t length = plainDecimalLength(text, end, &zeroMantissa);
    if (length == 0) return;
    const uint8_t* cursor = text;
    float value;
    int result = readNumber(&value, &cursor, end, nullptr);
    FUZZ_CHECK(result == kNumberRead);
    FUZZ_CHECK(static_cast<size_t>(cursor - text) == length);
    std::string copy(reinterpret_cast<const char*>(text), length);
    for (char& c : copy)
        if (c == ',') c = '.';  // the C library knows only the point
    float reference = strtof(copy.c_str(), nullptr);
    if (zeroMantissa && std::isnan(value)) return;  // zero times 10^309 or more reads as NaN
    if (memcmp(&value, &reference, sizeof value) != 0) {
        fprintf(stderr, "number \"%s\": read %a, strtof %a\n", copy.c_str(), value, reference);
        abort();
    }
}

void checkMesh(const StlMesh& mesh, const uint8_t* text, size_t size) {
    FUZZ_CHECK(mesh.source == nullptr);
    for (uint32_t s = 0; s < mesh.solidCount; ++s) {
        const StlSolid& solid = mesh.solids[s];
        const uint8_t* name = reinterpret_cast<const uint8_t*>(solid.name.bytes);
        FUZZ_CHECK(name >= text && name + solid.name.length <= text + size);
        for (uint32_t i = 0; i < solid.name.length; ++i) FUZZ_CHECK(name[i] < 10 || name[i] > 13);
        FUZZ_CHECK(solid.hasColours == 0 && solid.hasNormals <= 1);
        // Touch every stored value: all of them must be written.
        volatile uint32_t sum = 0;
        for (uint32_t t = 0; t < solid.triangleCount; ++t) {
            uint8_t record[sizeof(StlTriangle)];
            memcpy(record, &solid.triangles[t], sizeof record);
            for (uint8_t byte : record) sum = sum + byte;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    StoppingSink stopping;
    stopping.stopAt = data[0] < 0xC0 ? data[0] : -1;
    int64_t heapRequests = data[1] < 0x20 ? data[1] : -1;
    bool withSink = data[1] != 0xFF;
    const uint8_t* text = data + 2;
    size_t length = size - 2;

    StlMesh mesh;
    HeapHandle heap = createPrivateHeap();
    FUZZ_CHECK(heap != nullptr);
    failHeapRequestsAfter(heapRequests);
    bool parsed = parseAsciiStl(&mesh, text, length, heap, withSink ? &stopping.sink : nullptr);
    failHeapRequestsAfter(-1);
    if (parsed) {
        FUZZ_CHECK(!stopping.refusedNonError);
        checkMesh(mesh, text, length);
        freeMeshSolids(&mesh, heap);
    } else {
        FUZZ_CHECK(mesh.solids == nullptr && mesh.solidCount == 0);
    }
    destroyPrivateHeap(heap);

    const uint8_t* at = text;
    const uint8_t* end = text + length;
    while (at != end && (*at == ' ' || *at == '\t')) ++at;
    checkNumberAgainstStrtof(at, static_cast<size_t>(end - at));
    return 0;
}
