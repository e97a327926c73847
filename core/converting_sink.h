// Turns status codes into UTF-16 lines for an inner sink (the dialog's log or
// a load job's collected text).
#pragma once
#include "core/status.h"

#pragma pack(push, 1)
struct ConvertingSink {
    MessageSink self;   // user data = this record, callback = convertStatus; producers get &self
    MessageSink inner;  // receives the lines as code kLine
};
#pragma pack(pop)
static_assert(sizeof(ConvertingSink) == 32);

intptr_t convertStatus(void* record, StatusCode code, uintptr_t argument, const Utf16* backTrace);

// Sets up record to convert for inner.
void initConvertingSink(ConvertingSink* record, const MessageSink& inner);
