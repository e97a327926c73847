// Helpers for the exporter recognition tests: the lines recognition gives,
// as the messages box shows them, and float bit patterns.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "load/load_job.h"
#include "tests/exact_bytes.h"
#include "tests/sink_recorder.h"

namespace exporter_test {

constexpr uint32_t kMillimetreBits = 0x3A83126F;
constexpr uint32_t kCentimetreBits = 0x3C23D70A;
constexpr uint32_t kInchBits = 0x3CD013A9;

inline uint32_t bitsOf(float value) { return std::bit_cast<uint32_t>(value); }

inline Text writtenBy(const std::string& name) { return widenAscii("STL info: written by " + name); }
inline Text written(const std::string& text) { return widenAscii("STL info: written " + text); }
inline Text writtenTo(const std::string& path) { return widenAscii("STL info: written to \"" + path + "\""); }
inline const Text kSpaceWarning = widenAscii("STL warning: unknown coordinate space; assuming Z up");
inline const Text kUnitWarning = widenAscii("STL warning: unknown unit; assuming millimeters");
inline const std::vector<Text> kNothing{kSpaceWarning, kUnitWarning};

// Metadata full of garbage, to show that every field is written.
inline StlMetadata garbageMetadata() {
    StlMetadata metadata;
    memset(&metadata, 0xA5, sizeof metadata);
    return metadata;
}

}  // namespace exporter_test
