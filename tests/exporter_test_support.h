// Helpers for the exporter recognition tests: a sink that records every
// report with its text, and float bit patterns.
#pragma once
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/status.h"
#include "load/load_job.h"
#include "tests/corpus_manifest.h"
#include "tests/exact_bytes.h"

namespace exporter_test {

constexpr uint32_t kMillimetreBits = 0x3A83126F;
constexpr uint32_t kCentimetreBits = 0x3C23D70A;
constexpr uint32_t kInchBits = 0x3CD013A9;
constexpr uint32_t kMetreBits = 0x3F800000;
constexpr uint32_t kUnknownBits = 0xFFC00000;

inline uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// One report as the sink saw it; texts are copied while the report is made.
struct Report {
    StatusCode code;
    std::string text;
    uint32_t codePage = 0;
    bool operator==(const Report&) const = default;
};

inline void PrintTo(const Report& report, std::ostream* out) {
    *out << "{0x" << std::hex << report.code << std::dec << ", \"";
    for (unsigned char c : report.text) {
        if (c >= 32 && c < 127)
            *out << c;
        else
            *out << "\\x" << std::hex << int(c) << std::dec;
    }
    *out << "\", cp " << report.codePage << "}";
}

inline Report writtenBy(const std::string& name) {
    return {kInfoWrittenBy, name, 0};
}
inline Report written(const std::string& text, uint32_t codePage) {
    return {kInfoWritten, text, codePage};
}
inline Report writtenTo(const std::string& text) {
    return {kInfoWrittenTo, text, 0};
}
inline Report warning(StatusCode code) {
    return {code, "", 0};
}
inline const Report kSpaceWarning = warning(kWarnUnknownSpace);
inline const Report kUnitWarning = warning(kWarnUnknownUnit);

class RecordingSink {
public:
    const MessageSink* sink() const {
        return &sink_;
    }
    std::vector<Report> reports;

private:
    static intptr_t record(void* user, StatusCode code, uintptr_t argument, const Utf16*) {
        auto* self = static_cast<RecordingSink*>(user);
        Report report{code, "", 0};
        if (code == kInfoWrittenBy) {
            report.text = reinterpret_cast<const char*>(argument);
        } else if (code == kInfoWritten || code == kInfoWrittenTo) {
            const auto* text = reinterpret_cast<const CountedText*>(argument);
            report.text.assign(text->bytes, text->length);
            report.codePage = text->codePage;
        } else {
            EXPECT_EQ(argument, 0u) << "code 0x" << std::hex << code;
        }
        self->reports.push_back(report);
        return 1;
    }
    MessageSink sink_{this, &RecordingSink::record};
};

// Metadata full of garbage, to show that every field is written.
inline StlMetadata garbageMetadata() {
    StlMetadata metadata;
    memset(&metadata, 0xA5, sizeof metadata);
    return metadata;
}

inline std::string modelNameOf(const StlMetadata& metadata) {
    return std::string(metadata.modelName.bytes, metadata.modelName.length);
}

}  // namespace exporter_test
