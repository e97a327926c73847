// Size arithmetic on untrusted counts: every product and sum is checked.
#pragma once
#include <cstdint>

#ifdef _MSC_VER
#include <intrin.h>
// The full 128-bit product: returns the low half, the high half into *high.
inline uint64_t multiplyFull(uint64_t a, uint64_t b, uint64_t* high) {
    return _umul128(a, b, high);
}
inline bool multiplyOverflows(uint64_t a, uint64_t b, uint64_t* product) {
    uint64_t high;
    *product = _umul128(a, b, &high);
    return high != 0;
}
inline bool addOverflows(uint64_t a, uint64_t b, uint64_t* sum) {
    *sum = a + b;
    return *sum < a;
}
#else
inline uint64_t multiplyFull(uint64_t a, uint64_t b, uint64_t* high) {
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    *high = static_cast<uint64_t>(product >> 64);
    return static_cast<uint64_t>(product);
}
inline bool multiplyOverflows(uint64_t a, uint64_t b, uint64_t* product) {
    return __builtin_mul_overflow(a, b, product);
}
inline bool addOverflows(uint64_t a, uint64_t b, uint64_t* sum) {
    return __builtin_add_overflow(a, b, sum);
}
#endif
