#include "stl/exporter_reports.h"

#include <cstddef>
#include <cstring>

void reportExporter(const MessageSink* sink, const char* name) {
    if (sink) report(sink, kInfoWrittenBy, reinterpret_cast<uintptr_t>(name));
}

void reportText(const MessageSink* sink, StatusCode code, const uint8_t* bytes, uint32_t length, uint32_t codePage) {
    if (!sink) return;
    CountedText text{reinterpret_cast<const char*>(bytes), length, codePage};
    report(sink, code, reinterpret_cast<uintptr_t>(&text));
}

void clearExporterMetadata(StlMetadata* metadata, uint8_t colorOrder) {
    metadata->coordinateSpace = kSpaceUnknown;
    memcpy(&metadata->unitScale, &kUnknownUnitBits, sizeof(float));
    metadata->colorOrder = colorOrder;
    memset(metadata->headerColor, 0, sizeof metadata->headerColor);
    metadata->modelName = CountedText{nullptr, 0, 0};
    metadata->unitAssumed = 0;
}

void applyExporterDefaults(StlMetadata* metadata, const MessageSink* sink) {
    if (metadata->coordinateSpace == kSpaceUnknown) {
        metadata->coordinateSpace = kSpaceZUp;
        if (sink) reportCode(sink, kWarnUnknownSpace);
    }
    if (metadata->unitScale != metadata->unitScale) {
        metadata->unitScale = kMillimetre;
        metadata->unitAssumed = 1;
        if (sink) reportCode(sink, kWarnUnknownUnit);
    }
}

bool applyQuotedUnitTag(const uint8_t* textBegin, const uint8_t* textEnd, CountedText* name,
                        StlMetadata* metadata, const MessageSink* sink) {
    static constexpr char kMillimetreTag[] = "<stl unit=MM>\"";
    static constexpr char kInchTag[] = "<stl unit=INCHES>\"";
    constexpr size_t kMillimetreTagLength = sizeof kMillimetreTag - 1;
    constexpr size_t kInchTagLength = sizeof kInchTag - 1;
    size_t length = static_cast<size_t>(textEnd - textBegin);
    if (length == 0 || textBegin[0] != '"') return false;
    float unit;
    size_t tagLength;
    if (length >= kMillimetreTagLength + 1 &&
        memcmp(textEnd - kMillimetreTagLength, kMillimetreTag, kMillimetreTagLength) == 0) {
        unit = kMillimetre;
        tagLength = kMillimetreTagLength;
    } else if (length >= kInchTagLength + 1 && memcmp(textEnd - kInchTagLength, kInchTag, kInchTagLength) == 0) {
        unit = kInch;
        tagLength = kInchTagLength;
    } else {
        return false;
    }
    metadata->unitScale = unit;
    *name = CountedText{reinterpret_cast<const char*>(textBegin + 1), static_cast<uint32_t>(length - tagLength - 1), 0};
    metadata->coordinateSpace = kSpaceZUp;
    reportExporter(sink, "ANSYS SpaceClaim");
    return true;
}

void readIllusionTrailer(const uint8_t* quote, uint32_t available, const MessageSink* sink) {
    // After the quote: "; Produced by Art of Illusion 3.0.3, " and a 28-byte date.
    constexpr uint32_t kVersionStart = 15;
    constexpr uint32_t kVersionLength = 21;
    constexpr uint32_t kDateStart = 38;
    constexpr uint32_t kDateLength = 28;
    if (available < kVersionStart + kVersionLength) return;
    char exporter[kVersionLength + 1];
    memcpy(exporter, quote + kVersionStart, kVersionLength);
    exporter[kVersionLength] = 0;
    reportExporter(sink, exporter);
    if (available >= kDateStart + kDateLength)
        reportText(sink, kInfoWritten, quote + kDateStart, kDateLength, kCodePageUsAscii);
}
