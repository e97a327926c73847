// Follows the shown files on disk, on a thread of its own: one change
// notification per folder of a shown file. Once a changed file's writer has
// finished (the file can be opened without sharing writes, and its size and
// time have stood still for kSteadyMs), it posts kFileChangedMessage.
#pragma once
#include <windows.h>

#include "app/shown_model.h"

constexpr uint32_t kSteadyMs = 300;

struct FileWatch;

// Watches the files of the non-null paths (indexed by part slot), each read
// with the given size (another size at the start counts as a change); posts
// kFileChangedMessage to `dialog` with wParam the slot and lParam `serial`.
// Null, reported, when the thread cannot start. A folder that cannot be
// watched (some network file systems) is left out silently.
FileWatch* startFileWatch(HWND dialog, const wchar_t* const paths[kMaxParts], const uint64_t sizes[kMaxParts],
                          uint32_t serial, const MessageSink* sink);
// Tells the thread to end, without waiting for it: it frees the watch itself,
// and a change it still posts carries the old serial. Null does nothing.
void stopFileWatch(FileWatch* watch);
