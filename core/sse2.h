// SSE2 is part of every x86-64 target; STLV_SSE2 says whether this build has it.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define STLV_SSE2 1
#else
#define STLV_SSE2 0
#endif

// Asks for the cache line of `address` ahead of its use; a hint, nothing more.
inline void prefetchLine(const void* address) {
#if STLV_SSE2
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}
