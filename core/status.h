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
constexpr StatusCode kGpuFailureCode = 0x80000d11;  // argument: an HRESULT without a text of its own
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
constexpr StatusCode kErrNot3mf = 0x80000811;       // argument: FileFact*

// 3MF packages: every code from here to the end of the list takes a PackageNote*.
constexpr StatusCode kErrZipNoDirectory = 0x80000900;
constexpr StatusCode kErrZipDirectory = 0x80000901;
constexpr StatusCode kErrZipOutside = 0x80000902;
constexpr StatusCode kErrZipOverlap = 0x80000903;
constexpr StatusCode kErrZipHeadersDisagree = 0x80000904;
constexpr StatusCode kErrZipDuplicate = 0x80000905;
constexpr StatusCode kErrZipEncrypted = 0x80000906;
constexpr StatusCode kErrZipMethod = 0x80000907;       // number: the method
constexpr StatusCode kErrZipBudget = 0x80000908;       // number: stated size, limit: the budget left
constexpr StatusCode kErrZipCrc = 0x80000909;
constexpr StatusCode kErrZipInflate = 0x8000090A;      // number: an InflateResult
constexpr StatusCode kErrZipTooManyEntries = 0x8000090B;  // number, limit
constexpr StatusCode kErr3mfNoModel = 0x8000090C;
constexpr StatusCode kErr3mfMissingPart = 0x8000090D;
constexpr StatusCode kErr3mfXml = 0x8000090E;          // number: an XmlFault
constexpr StatusCode kErr3mfNotModel = 0x8000090F;
constexpr StatusCode kErr3mfUnit = 0x80000910;         // detail: the unit
constexpr StatusCode kErr3mfBadVertex = 0x80000911;
constexpr StatusCode kErr3mfBadTriangle = 0x80000912;
constexpr StatusCode kErr3mfVertexIndex = 0x80000913;  // number: the index, limit: the vertex count
constexpr StatusCode kErr3mfBadTransform = 0x80000914;
constexpr StatusCode kErr3mfBadObject = 0x80000915;
constexpr StatusCode kErr3mfDuplicateObject = 0x80000916;  // number: the id
constexpr StatusCode kErr3mfUnknownObject = 0x80000917;    // number: the id
constexpr StatusCode kErr3mfComponentCycle = 0x80000918;   // number: the id
constexpr StatusCode kErr3mfTooDeep = 0x80000919;          // limit: the depth allowed
constexpr StatusCode kErr3mfTooManyTriangles = 0x8000091A;  // number, limit
constexpr StatusCode kErr3mfRequired = 0x8000091B;          // detail: the extension
constexpr StatusCode kErr3mfNoBuild = 0x8000091C;
constexpr StatusCode kErr3mfMeshAndComponents = 0x8000091D;  // number: the id
constexpr StatusCode kErr3mfTooManyVertices = 0x8000091E;    // limit
constexpr StatusCode kWarn3mfModelRelationships = 0x40000900;  // number: how many
constexpr StatusCode kWarn3mfContentTypes = 0x40000901;
constexpr StatusCode kWarn3mfDuplicateProperty = 0x40000902;   // number: the id
constexpr StatusCode kWarn3mfMissingColour = 0x40000903;       // number: triangles
constexpr StatusCode kWarn3mfBadColour = 0x40000904;           // detail: the value
constexpr StatusCode kWarn3mfOtherInBuild = 0x40000905;        // number: the item
constexpr StatusCode kInfo3mfWrittenBy = 0x10000900;           // detail: the application
constexpr StatusCode kInfo3mfTitle = 0x10000901;               // detail: the title
constexpr StatusCode kInfo3mfIgnored = 0x10000902;             // detail: what is ignored
constexpr StatusCode kInfo3mfSupports = 0x10000903;            // number
constexpr StatusCode kInfo3mfSurfaces = 0x10000904;            // number
constexpr StatusCode kInfo3mfCornerColours = 0x10000905;

// Saving a model. The first three take a SaveNote*, the next two a RepairCounts*.
constexpr StatusCode kInfoSaved = 0x10000a00;
constexpr StatusCode kErrSaveFailed = 0x80000a00;    // the system error in the note
constexpr StatusCode kErrSaveTooLarge = 0x80000a01;  // more than the format holds
constexpr StatusCode kInfoRepaired = 0x10000a01;
constexpr StatusCode kInfoStillOpen = 0x10000a02;
constexpr StatusCode kWarnSaveUnitUnknown = 0x40000a00;  // argument: the part's file name, terminated
constexpr StatusCode kErrSaveNothing = 0x80000a02;
// Open in slicer: the slicer's program would not start; a SaveNote* (its path, the system error).
constexpr StatusCode kErrSlicerNotStarted = 0x80000a03;

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
    // An STL keyword written in capitals where the parser stopped, as
    // written (not terminated); the error then says so instead.
    const char* capitals;
    uint32_t capitalsLength;
};
// A setting the registry would not take.
struct SettingFailure {
    void* key;           // the registry key
    const Utf16* name;   // the value's name, terminated
    uint32_t error;      // the system error number
};
// What a 3MF code is about. Texts are UTF-8.
struct PackageNote {
    CountedText part;    // the entry or part; empty: the line names none
    CountedText detail;  // a value the text quotes
    uint64_t line;       // in the part's XML, from 1; 0: no line
    uint64_t number;
    uint64_t limit;
};
// A file saved or not.
struct SaveNote {
    const Utf16* path;  // terminated
    uint32_t format;    // 0 binary STL, 1 3MF
    uint32_t error;     // the system error number of kErrSaveFailed
    uint8_t unitKnown;
};
// What the repairs before saving did, and what the check finds afterwards.
struct RepairCounts {
    uint64_t turnedFaces;
    uint64_t droppedWithoutArea;
    uint64_t droppedDuplicates;
    uint64_t closedHoles;
    uint64_t closedHoleEdges;
    uint64_t openHoles;         // still open after the repairs
    uint64_t openHoleEdges;
    uint64_t nonManifoldEdges;  // still used by three or more faces
};
#pragma pack(pop)
static_assert(sizeof(PackageNote) == 56);
static_assert(sizeof(SaveNote) == 17);
static_assert(sizeof(RepairCounts) == 64);
static_assert(sizeof(MessageSink) == 16);
static_assert(sizeof(PlacedError) == 32);
static_assert(sizeof(CountedText) == 16);
static_assert(sizeof(FileFact) == 16);
static_assert(sizeof(SettingFailure) == 20);

// The sink must not be null; captures a back-trace for error codes.
intptr_t report(const MessageSink* sink, StatusCode code, uintptr_t argument);
intptr_t reportCode(const MessageSink* sink, StatusCode code);
// Reports the calling thread's last system error number when sink is not null.
void reportLastError(const MessageSink* sink);
