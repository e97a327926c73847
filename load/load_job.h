// The background load job: it maps each file of a list, parses and
// recognises it (stl/) and hands the parts to the view (view/).
#pragma once
#include <cstddef>
#include <cstdint>
#include "core/converting_sink.h"
#include "core/memory.h"
#include "core/text_lines.h"
#include "stl/stl_mesh.h"

constexpr uint32_t kFileListUnits = 32767;
constexpr uint32_t kMessagesPerCode = 100;
constexpr uint32_t kCappedKinds = 32;

#pragma pack(push, 1)
// The current file's full path, then the further file names of the list,
// each terminated, ended by an empty name.
struct FileNameList {
    Utf16 path[kFileListUnits];
    int32_t nameStart;  // where the current path's file name begins
    int32_t nextName;   // first unit of the next name in the list
};

enum LoadState : uint8_t {
    kLoadRunning = 0,
    kLoadFinished = 1,
    kLoadStopped = 2,
    kLoadNothingLoaded = 3,
};
// Added to the state, under messageLock, when the completion message could not be posted.
constexpr uint8_t kLoadUndelivered = 0x80;

struct LoadJob {
    FileNameList fileList;
    void* viewWindow;
    volatile int32_t messageLock;
    volatile int32_t progress;  // thousandths
    uint8_t state;
    volatile uint8_t keepGoing;
    GrowBuffer messages;  // UTF-16 lines, each ending in CR LF, the whole terminated
    void* dialogWindow;
    ConvertingSink sink;
    GrowBuffer parts;  // ModelPart records
};

// Sits in front of a file's sink and passes the first kMessagesPerCode reports
// of each code; the rest are only counted, so that a hostile file cannot fill
// memory with repeated lines. Progress always passes.
struct MessageCap {
    MessageSink self;  // user data = this record, callback = capMessages
    const MessageSink* inner;
    intptr_t lastAnswer;  // the inner sink's latest answer, given for dropped reports
    uint64_t leftOut;
    uint32_t kinds;
    StatusCode codes[kCappedKinds];  // the last kind also takes every code beyond the others
    uint32_t counts[kCappedKinds];
};

// Sits in front of an ASCII file's sink and gives each parse error its place
// (kErrAsciiPlaced): the line of the byte offset it came with and, when
// several files load, the file's name. Everything else passes unchanged.
struct ErrorPlacer {
    MessageSink self;  // user data = this record, callback = placeErrors
    const MessageSink* inner;
    const uint8_t* bytes;
    uint64_t size;
    const Utf16* fileName;  // null: the lines do not name the file
};
#pragma pack(pop)

static_assert(sizeof(MessageCap) == 44 + 8 * kCappedKinds);
static_assert(sizeof(ErrorPlacer) == 48);
static_assert(sizeof(FileNameList) == 32767 * 2 + 8);
static_assert(offsetof(LoadJob, messageLock) == sizeof(FileNameList) + 8);
static_assert(offsetof(LoadJob, messages) == offsetof(LoadJob, messageLock) + 10);
static_assert(offsetof(LoadJob, sink) == offsetof(LoadJob, messages) + 32);
static_assert(sizeof(LoadJob) == offsetof(LoadJob, sink) + 32 + 24);

// Inner sink of a job's converting sink: progress into `progress`, lines into
// `messages`. Answers 0 once the job is asked to stop.
intptr_t collectForJob(void* job, StatusCode code, uintptr_t argument, const Utf16* backTrace);

void initMessageCap(MessageCap* cap, const MessageSink* inner);
intptr_t capMessages(void* cap, StatusCode code, uintptr_t argument, const Utf16* backTrace);
// Reports how many messages were left out, if any.
void closeMessageCap(MessageCap* cap);

void initErrorPlacer(ErrorPlacer* placer, const MessageSink* inner, const uint8_t* bytes, uint64_t size,
                     const Utf16* fileName);
intptr_t placeErrors(void* placer, StatusCode code, uintptr_t argument, const Utf16* backTrace);
// An STL keyword in capitals at `offset` (after blanks), which the parser
// refuses: its place and spelling go into `placed`. False for anything else.
bool findCapitalKeyword(const uint8_t* bytes, uint64_t size, uint64_t offset, PlacedError* placed);

// Builds the list of one file; false when the path (with its terminator)
// does not fit into 32765 units.
bool makeFileNameList(const Utf16* fullPath, FileNameList* list);

// Sets up a job for fileList, before it runs: running, keepGoing, no messages,
// a converting sink over collectForJob.
void initLoadJob(LoadJob* job, const FileNameList* fileList, void* dialogWindow, void* viewWindow);

// Queues the job on the system thread pool; it posts WM_APP (wParam = the job)
// to dialogWindow when done. Null after reporting to sink when it cannot start.
LoadJob* startLoadJob(const FileNameList* fileList, void* dialogWindow, void* viewWindow, const MessageSink* sink);

// Posts the completion message. When that fails, the dialog's progress timer
// finds the job by kLoadUndelivered, unless the dialog has already given the
// job up (keepGoing 0): then the job is destroyed here.
void deliverLoadJob(LoadJob* job);

// The text after the last "\" or "/", or the whole path.
const Utf16* fileNameOf(const Utf16* path);

// Loads every file of the list into `parts`, then sets `state`. With several
// files, each file's messages follow a line with its name.
void runLoadJob(LoadJob* job);

// Whole file, read-only; a 0-byte file succeeds with a null view.
bool mapModelFile(const Utf16* path, const MessageSink* sink, const uint8_t** view, uint64_t* viewSize);

// STL as detectFormat tells it, or kFormat3mf for a ZIP package.
uint32_t detectModelFormat(const uint8_t* bytes, uint64_t size);

// format 0 detects it first. Parses and recognises into the tail of a part.
bool parseModel(ModelPart* part, uint32_t format, const uint8_t* begin, const uint8_t* end, HeapHandle heap,
                const MessageSink* sink);

// Parses bytes into the part, all solids visible, with the load defaults,
// and its mesh for the view (prepared only when there is no view window).
// Fills everything but fileSize, fileName and filePath; nothing of it points
// into the bytes, which may go afterwards. On false the caller destroys the heap.
bool buildModelPart(ModelPart* part, uint32_t format, const uint8_t* bytes, uint64_t size, HeapHandle heap,
                    void* viewWindow, const MessageSink* sink);

// What recognition left open: an unknown coordinate space becomes Z up and an
// unknown unit millimetres, each with its line.
void applyLoadDefaults(StlMetadata* metadata, const MessageSink* sink);

// Everything one part holds: its mesh for the view and its heap.
void releaseModelPart(ModelPart* part);

// What the window takes from a running job at each tick of its timer.
struct JobProgress {
    uint32_t thousandths;
    GrowBuffer text;  // the lines collected since the last tick, now the caller's; empty when none
    bool undelivered;  // the completion message could not be posted: the job is done
};
// Takes the job's progress and lines under its lock.
JobProgress takeJobProgress(LoadJob* job);
// Tells a running job to stop (it ends on its own and posts as usual);
// true when its completion message could not be posted, so that the caller
// destroys it now.
bool askJobToStop(LoadJob* job);

// Frees the job's own blocks; the parts' resources stay with whoever took them.
void releaseLoadJob(LoadJob* job);
// Releases every loaded part too.
void destroyLoadJob(LoadJob* job);
// Maps the file and tells whether it is an STL or 3MF file, silently.
bool isLoadableStl(const Utf16* path);
