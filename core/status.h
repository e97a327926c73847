// Every diagnostic travels as a status code with one pointer-sized argument
// to a sink; producers never format text.
#pragma once
#include <cstdint>
#include "core/platform.h"

typedef uint32_t StatusCode;

// Control and text codes.
constexpr StatusCode kProgress = 3;          // argument: thousandths, 0 to 1000
constexpr StatusCode kInfoText = 4;          // argument: 8-bit text
constexpr StatusCode kLine = 6;              // argument: finished UTF-16 line
constexpr StatusCode kWarningText = 0x40000000;
constexpr StatusCode kErrorText = 0x80000002;
constexpr StatusCode kErrorClass = 0x80000000;  // codes from here on carry a back-trace

constexpr StatusCode kOutOfMemory = 0x80000005;
constexpr StatusCode kOutOfGpuMemory = 0x80000006;
constexpr StatusCode kFileNotFound = 0x80000007;
constexpr StatusCode kSystemError = 0x80000b00;  // argument: system error number
constexpr StatusCode kErrSettingNotSaved = 0x80000b02;  // argument: SettingFailure*

constexpr StatusCode kInfoWrittenBy = 0x10000800;  // argument: 8-bit exporter name
constexpr StatusCode kInfoWritten = 0x10000801;    // argument: CountedText*
constexpr StatusCode kInfoWrittenTo = 0x10000802;  // argument: CountedText*
constexpr StatusCode kInfoFeatureLevel = 0x10000d00;     // argument: feature level number
constexpr StatusCode kInfoComputeShaders = 0x10000d01;   // argument: supported (non-zero) or not

constexpr StatusCode kWarnArchicadUnit = 0x40000800;
constexpr StatusCode kWarnArchicadScale = 0x40000801;
constexpr StatusCode kWarnMissingEndsolid = 0x40000802;
constexpr StatusCode kWarnEndSpaceSolid = 0x40000803;
constexpr StatusCode kWarnUnexpectedEnd = 0x40000804;
constexpr StatusCode kWarnUnknownUnit = 0x40000805;
constexpr StatusCode kWarnUnknownSpace = 0x40000806;
constexpr StatusCode kWarnStrayBytes = 0x40000807;     // argument: number of bytes (1 to 3)
constexpr StatusCode kWarnNoTriangles = 0x40000808;
constexpr StatusCode kWarnMessagesLeftOut = 0x40000809;  // argument: number of messages

constexpr StatusCode kErrExpectedSolid = 0x80000800;
constexpr StatusCode kErrExpectedName = 0x80000801;
constexpr StatusCode kErrExpectedFacetOrEnd = 0x80000802;
constexpr StatusCode kErrExpectedVertex = 0x80000803;
constexpr StatusCode kErrExpectedNumber = 0x80000804;
constexpr StatusCode kErrExpectedEndloop = 0x80000805;
constexpr StatusCode kErrExpectedEndfacet = 0x80000806;
constexpr StatusCode kErrEndInCount = 0x80000807;
constexpr StatusCode kErrEndInTriangles = 0x80000808;
// Argument of the next three: FileFact*.
constexpr StatusCode kErrNotStl = 0x80000809;
constexpr StatusCode kErrEmptyFile = 0x8000080A;
constexpr StatusCode kErrTruncatedBinary = 0x8000080B;  // count: bytes missing
constexpr StatusCode kErrAsciiPlaced = 0x80000810;  // argument: PlacedError*

// Answers non-zero to go on, 0 to stop. backTrace is set for error codes only.
typedef intptr_t (*SinkCallback)(void* userData, StatusCode code, uintptr_t argument,
                                 const Utf16* backTrace);

#pragma pack(push, 1)
struct MessageSink {
    void* userData;
    SinkCallback callback;
};

// Text inside a mapped file: not owned, not terminated.
struct CountedText {
    const char* bytes;
    uint32_t length;
    uint32_t codePage;  // 0: detect from the bytes
};

// A file, by its name, and a number about it.
struct FileFact {
    const Utf16* fileName;  // terminated
    uint64_t count;
};
// An ASCII parse error (kErrExpectedSolid to kErrExpectedEndfacet) with its place.
struct PlacedError {
    StatusCode code;
    uint64_t line;          // from 1
    const Utf16* fileName;  // terminated; null when the line need not name the file
};
// A setting the registry would not take.
struct SettingFailure {
    void* key;           // the registry key
    const Utf16* name;   // the value's name, terminated
    uint32_t error;      // the system error number
};
#pragma pack(pop)
static_assert(sizeof(MessageSink) == 16);
static_assert(sizeof(PlacedError) == 20);
static_assert(sizeof(CountedText) == 16);
static_assert(sizeof(FileFact) == 16);
static_assert(sizeof(SettingFailure) == 20);

// The sink must not be null; captures a back-trace for error codes.
intptr_t report(const MessageSink* sink, StatusCode code, uintptr_t argument);
intptr_t reportCode(const MessageSink* sink, StatusCode code);
// Reports the calling thread's last system error number when sink is not null.
void reportLastError(const MessageSink* sink);
