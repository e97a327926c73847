#include "core/status.h"

#include "core/back_trace.h"

intptr_t report(const MessageSink* sink, StatusCode code, uintptr_t argument) {
    if (code < kErrorClass) return sink->callback(sink->userData, code, argument, nullptr);
    Utf16 backTrace[kBackTraceUnits];
    captureBackTrace(backTrace);
    return sink->callback(sink->userData, code, argument, backTrace);
}

intptr_t reportCode(const MessageSink* sink, StatusCode code) {
    return report(sink, code, 0);
}

void reportLastError(const MessageSink* sink) {
    uint32_t error = lastSystemError();
    if (sink) report(sink, kSystemError, error);
}
