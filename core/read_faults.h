// Test seam: the next `count` reads of copyFileToMemory succeed, every later
// one fails as on a drive gone mid-load, until called with a negative count.
#pragma once
#include <cstdint>

void failFileReadsAfter(int64_t count);
// Counts one read; true when it is to fail.
bool fileReadFails();
