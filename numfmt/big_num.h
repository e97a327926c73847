// Unsigned big integers for exact decimal conversion. Records are recycled
// through per-size free lists and powers of five are cached, so a warmed-up
// process converts without touching the heap.
//
// Every operation here touches process-wide state: call them only between
// lockBigNums() and unlockBigNums().
//
// Out of memory: an operation that needs a new record and cannot get one
// releases the records it would have consumed and returns null; every
// operation accepts null for a consumed input and answers null again, so a
// caller can run a whole calculation and test for null at the end.
#pragma once
#include <cstdint>

struct BigNum {
    BigNum* next;        // free-list link, or the square in the power-of-five cache
    int32_t sizeClass;   // room for 2^sizeClass words
    int32_t capacity;    // 2^sizeClass
    int32_t sign;        // always 0: only magnitudes are needed
    int32_t wordCount;   // words in use; the value 0 is one word 0
    uint32_t words[];    // least significant first
};

constexpr int32_t kBigNumFreeListCount = 8;  // classes 0 to 7 are recycled

void lockBigNums();
void unlockBigNums();

// Empty (sign and wordCount 0), contents undefined; null when out of memory.
BigNum* takeBigNum(int32_t sizeClass);
// Accepts null.
void releaseBigNum(BigNum* number);
BigNum* bigNumFromU64(uint64_t value);

// a × factor + 0, in place; moves to the next class when the carry does not fit.
// Consumes a.
BigNum* multiplySmall(BigNum* a, uint32_t factor);
// A new record; the inputs stay.
BigNum* multiplyBig(const BigNum* a, const BigNum* b);
// a × 5^exponent. Consumes a.
BigNum* multiplyPow5(BigNum* a, int32_t exponent);
// a × 2^bits in a new record. Consumes a.
BigNum* shiftLeft(BigNum* a, int32_t bits);
// -1, 0 or 1; both operands trimmed.
int compareBigNum(const BigNum* a, const BigNum* b);
bool isZeroBigNum(const BigNum* a);
// With b < 10 × divisor and the divisor's top word below 2^28: returns
// ⌊b / divisor⌋ and leaves b mod divisor in b.
uint32_t quotientDigit(BigNum* b, const BigNum* divisor);

// Test seam: hands every record on the free lists back to the heap (the
// power-of-five cache stays), so the next conversion allocates afresh.
void releaseBigNumFreeLists();
