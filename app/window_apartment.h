// The apartment of the user-interface thread.
#pragma once

// Makes the calling thread a single-threaded apartment with OLE (the shell's
// Open and Save dialogs browse libraries and cloud folders only from such a
// thread; the clipboard and drag and drop want OLE), and keeps the
// multithreaded apartment alive for the run, so that pool threads stay in it.
bool enterWindowThreadApartment();
