#include <atomic>

#include "core/read_faults.h"

namespace {

std::atomic<int64_t> readsBeforeFailure{-1};

}  // namespace

void failFileReadsAfter(int64_t count) {
    readsBeforeFailure.store(count < 0 ? -1 : count);
}

bool fileReadFails() {
    int64_t left = readsBeforeFailure.load(std::memory_order_relaxed);
    if (left < 0) return false;
    if (left == 0) return true;
    readsBeforeFailure.fetch_sub(1, std::memory_order_relaxed);
    return false;
}
