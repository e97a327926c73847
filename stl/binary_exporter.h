// Which program wrote a binary STL file, told from its 80-byte header: a fixed
// text at the start for most exporters, rules of their own (versions, unit and
// scale tags, paths, names) for the rest. From that come the length unit, the
// up axis, the bit order of the triangle colours, a whole-model colour and a
// model name.
#pragma once
#include <cstdint>
#include "stl/stl_mesh.h"

// Signature flag bits: 0-1 coordinate space (0 Z up, 1 Y up, 2 left unknown),
// 2-3 unit (0 millimetres, other values left unknown), 4-5 colour order
// (0 left as is, 1 RGB, 2 BGR).
constexpr uint8_t kSignatureSpaceMask = 0x03;
constexpr uint8_t kSignatureUnitMask = 0x0C;
constexpr uint8_t kSignatureColourShift = 4;

struct BinaryExporterSignature {
    const char* bytes;  // may hold zero bytes; `length` of them must begin the header
    uint8_t length;
    uint8_t flags;
    const char* exporter;  // zero-terminated
};

constexpr uint32_t kBinaryExporterSignatures = 78;

// Row `index` of the signature table (0 is tried first); null past the end.
const BinaryExporterSignature* binaryExporterSignature(uint32_t index);

// Overwrites every field of metadata from the header at mesh->source, which
// must be followed by at least 4 more bytes (a binary file is at least 84 bytes).
// modelName points into the header. Never fails; what stays unknown becomes
// Z up and millimetres with a warning each.
void identifyBinaryExporter(const StlMesh* mesh, StlMetadata* metadata, const MessageSink* sink);
