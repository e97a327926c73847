// 3MF packages as the viewer saves them: one object per solid with its name,
// the triangle colours as one colour group, millimetres, in a stored ZIP.
#pragma once
#include <cstdint>
#include "core/byte_output.h"
#include "core/status.h"
#include "stl/stl_writer.h"

enum PackageWriteResult : uint8_t {
    kPackageWritten = 0,
    kPackageOutputFailed = 1,  // the destination refused bytes
    kPackageTooLarge = 2,      // past 4 GB, which a ZIP without ZIP64 cannot hold
    kPackageNoMemory = 3,      // reported to the sink
};

// The corners of each solid are joined into vertices where their written
// floats are equal; a coordinate that is not finite is written as 0.
PackageWriteResult write3mfPackage(const ModelToWrite* model, ByteOutput* out, const MessageSink* sink);

// The shortest text of at most nine significant digits that reads back as
// the float; returns the position after it. At most 16 bytes.
char* formatCoordinate(float value, char* out);
