#include "load/load_job.h"

#include <cstring>

#include "core/checked_math.h"
#include "core/spin_lock.h"

namespace {

uint64_t lineLength(const Utf16* line) {
    uint64_t length = 0;
    while (line[length]) ++length;
    return length;
}

// Appends line, CR LF and a terminator; a line that does not fit is dropped.
void appendLine(LoadJob* job, const Utf16* line) {
    uint64_t length = lineLength(line);
    GrowBuffer* messages = &job->messages;
    acquireSpinLock(&job->messageLock);
    // The previous terminator, if any, is overwritten by the new line.
    uint64_t start = messages->used ? messages->used - sizeof(Utf16) : 0;
    uint64_t needed;
    if (!addOverflows(start, (length + 3) * sizeof(Utf16), &needed) &&
        (needed <= messages->capacity || growBuffer(messages, needed, processHeap(), nullptr))) {
        Utf16* out = reinterpret_cast<Utf16*>(static_cast<uint8_t*>(messages->data) + start);
        memcpy(out, line, length * sizeof(Utf16));
        out[length] = '\r';
        out[length + 1] = '\n';
        out[length + 2] = 0;
        messages->used = needed;
    }
    releaseSpinLock(&job->messageLock);
}

}  // namespace

intptr_t collectForJob(void* record, StatusCode code, uintptr_t argument, const Utf16*) {
    LoadJob* job = static_cast<LoadJob*>(record);
    if (code == kProgress)
        exchange32(&job->progress, static_cast<int32_t>(argument));
    else if (argument)
        appendLine(job, reinterpret_cast<const Utf16*>(argument));
    return job->keepGoing != 0;
}

void initMessageCap(MessageCap* cap, const MessageSink* inner) {
    cap->self = MessageSink{cap, capMessages};
    cap->inner = inner;
    cap->lastAnswer = 1;
    cap->leftOut = 0;
    cap->kinds = 0;
}

namespace {

// The slot that counts `code`.
uint32_t kindOf(MessageCap* cap, StatusCode code) {
    for (uint32_t i = 0; i < cap->kinds; ++i)
        if (cap->codes[i] == code) return i;
    if (cap->kinds == kCappedKinds) return kCappedKinds - 1;
    cap->codes[cap->kinds] = code;
    cap->counts[cap->kinds] = 0;
    return cap->kinds++;
}

}  // namespace

intptr_t capMessages(void* record, StatusCode code, uintptr_t argument, const Utf16* backTrace) {
    MessageCap* cap = static_cast<MessageCap*>(record);
    if (code != kProgress) {
        uint32_t kind = kindOf(cap, code);
        if (cap->counts[kind] >= kMessagesPerCode) {
            ++cap->leftOut;
            return cap->lastAnswer;
        }
        ++cap->counts[kind];
    }
    cap->lastAnswer = cap->inner->callback(cap->inner->userData, code, argument, backTrace);
    return cap->lastAnswer;
}

void closeMessageCap(MessageCap* cap) {
    if (cap->leftOut) report(cap->inner, kWarnMessagesLeftOut, static_cast<uintptr_t>(cap->leftOut));
}

void initErrorPlacer(ErrorPlacer* placer, const MessageSink* inner, const uint8_t* bytes, uint64_t size,
                     const Utf16* fileName) {
    *placer = ErrorPlacer{MessageSink{placer, placeErrors}, inner, bytes, size, fileName};
}

namespace {

bool isLetter(uint8_t c) {
    return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

bool isBlank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool findCapitalKeyword(const uint8_t* bytes, uint64_t size, uint64_t offset, PlacedError* placed) {
    static const char* const kKeywords[] = {"solid", "facet",   "normal",   "outer",   "loop",
                                            "vertex", "endloop", "endfacet", "endsolid"};
    constexpr uint64_t kLongest = 8;
    while (offset < size && isBlank(bytes[offset])) ++offset;
    uint64_t length = 0;
    bool capital = false;
    for (; offset + length < size && length <= kLongest && isLetter(bytes[offset + length]); ++length)
        capital = capital || bytes[offset + length] < 'a';
    if (!capital || length > kLongest) return false;
    for (const char* keyword : kKeywords) {
        uint64_t k = 0;
        while (k < length && keyword[k] == (bytes[offset + k] | 0x20)) ++k;
        if (k != length || keyword[k]) continue;
        placed->line = lineOfOffset(bytes, size, offset);
        placed->capitals = reinterpret_cast<const char*>(bytes + offset);
        placed->capitalsLength = static_cast<uint32_t>(length);
        return true;
    }
    return false;
}

intptr_t placeErrors(void* record, StatusCode code, uintptr_t argument, const Utf16* backTrace) {
    const ErrorPlacer* placer = static_cast<const ErrorPlacer*>(record);
    const MessageSink* inner = placer->inner;
    if (code < kErrExpectedSolid || code > kErrExpectedEndfacet)
        return inner->callback(inner->userData, code, argument, backTrace);
    PlacedError placed{code, lineOfOffset(placer->bytes, placer->size, argument), placer->fileName, nullptr, 0};
    findCapitalKeyword(placer->bytes, placer->size, argument, &placed);
    return inner->callback(inner->userData, kErrAsciiPlaced, reinterpret_cast<uintptr_t>(&placed), backTrace);
}

JobProgress takeJobProgress(LoadJob* job) {
    // The text is handed over under the lock and shown after it, so the
    // job's thread never waits for the window.
    acquireSpinLock(&job->messageLock);
    JobProgress progress{static_cast<uint32_t>(job->progress), job->messages, (job->state & kLoadUndelivered) != 0};
    if (job->messages.used) job->messages = GrowBuffer{nullptr, 0, 0};
    job->state &= ~kLoadUndelivered;
    releaseSpinLock(&job->messageLock);
    return progress;
}

bool askJobToStop(LoadJob* job) {
    acquireSpinLock(&job->messageLock);
    exchange8(&job->keepGoing, 0);
    bool undelivered = job->state & kLoadUndelivered;
    releaseSpinLock(&job->messageLock);
    return undelivered;
}
