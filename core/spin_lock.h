// Spin locks and atomic field updates on 32- and 8-bit words. The words may
// sit unaligned inside packed records, which x86-64 locked instructions allow,
// so these use the compiler's interlocked operations rather than std::atomic.
#pragma once
#include <cstdint>

#ifdef _MSC_VER
#include <intrin.h>
#define STLV_PAUSE() _mm_pause()
inline int32_t exchange32(volatile int32_t* word, int32_t value) {
    return _InterlockedExchange(reinterpret_cast<volatile long*>(word), value);
}
inline bool compareExchange32(volatile int32_t* word, int32_t expected, int32_t desired) {
    return _InterlockedCompareExchange(reinterpret_cast<volatile long*>(word), desired, expected) == expected;
}
inline uint8_t exchange8(volatile uint8_t* byte, uint8_t value) {
    return static_cast<uint8_t>(_InterlockedExchange8(reinterpret_cast<volatile char*>(byte), static_cast<char>(value)));
}
#else
#define STLV_PAUSE() __builtin_ia32_pause()
inline int32_t exchange32(volatile int32_t* word, int32_t value) {
    return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
}
inline bool compareExchange32(volatile int32_t* word, int32_t expected, int32_t desired) {
    return __atomic_compare_exchange_n(word, &expected, desired, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}
inline uint8_t exchange8(volatile uint8_t* byte, uint8_t value) {
    return __atomic_exchange_n(byte, value, __ATOMIC_SEQ_CST);
}
#endif

inline void acquireSpinLock(volatile int32_t* lock) {
    while (!compareExchange32(lock, 0, 1)) STLV_PAUSE();
}

inline void releaseSpinLock(volatile int32_t* lock) {
    exchange32(lock, 0);
}

// A count one thread publishes and another reads: every write before the
// store is seen by a reader whose load returns the stored value.
#ifdef _MSC_VER
inline void storeRelease64(volatile uint64_t* word, uint64_t value) {
    _ReadWriteBarrier();
    *word = value;  // x86-64 stores are release stores
}
inline uint64_t loadAcquire64(const volatile uint64_t* word) {
    uint64_t value = *word;
    _ReadWriteBarrier();
    return value;
}
#else
inline void storeRelease64(volatile uint64_t* word, uint64_t value) {
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
}
inline uint64_t loadAcquire64(const volatile uint64_t* word) {
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}
#endif
