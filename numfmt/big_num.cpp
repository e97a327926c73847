#include "numfmt/big_num.h"

#include <cstddef>

#include "core/memory.h"
#include "core/spin_lock.h"

namespace {

// Process-wide, zero-initialised, touched only under bigNumLock.
volatile int32_t bigNumLock;
BigNum* freeLists[kBigNumFreeListCount];
BigNum* powerCache;  // 625, 625^2, 625^4, ... each linked to its square

constexpr int32_t kLargestSizeClass = 24;  // far beyond any double's needs

void trim(BigNum* a) {
    int32_t count = a->wordCount;
    while (count > 1 && a->words[count - 1] == 0) --count;
    a->wordCount = count;
}

// a -= b where a >= b and a has at least b's word count.
void subtractInPlace(BigNum* a, const BigNum* b) {
    uint64_t borrow = 0;
    int32_t i = 0;
    for (; i < b->wordCount; ++i) {
        uint64_t difference = uint64_t{a->words[i]} - b->words[i] - borrow;
        a->words[i] = static_cast<uint32_t>(difference);
        borrow = (difference >> 32) & 1;
    }
    for (; borrow && i < a->wordCount; ++i) {
        uint64_t difference = uint64_t{a->words[i]} - borrow;
        a->words[i] = static_cast<uint32_t>(difference);
        borrow = (difference >> 32) & 1;
    }
    trim(a);
}

}  // namespace

void lockBigNums() {
    acquireSpinLock(&bigNumLock);
}

void unlockBigNums() {
    releaseSpinLock(&bigNumLock);
}

BigNum* takeBigNum(int32_t sizeClass) {
    if (sizeClass < 0 || sizeClass > kLargestSizeClass) return nullptr;
    BigNum* number;
    if (sizeClass < kBigNumFreeListCount && freeLists[sizeClass]) {
        number = freeLists[sizeClass];
        freeLists[sizeClass] = number->next;
    } else {
        int32_t capacity = int32_t{1} << sizeClass;
        number = static_cast<BigNum*>(
            allocBytes(offsetof(BigNum, words) + sizeof(uint32_t) * static_cast<size_t>(capacity)));
        if (!number) return nullptr;
        number->sizeClass = sizeClass;
        number->capacity = capacity;
    }
    number->next = nullptr;
    number->sign = 0;
    number->wordCount = 0;
    return number;
}

void releaseBigNum(BigNum* number) {
    if (!number) return;
    if (number->sizeClass < kBigNumFreeListCount) {
        number->next = freeLists[number->sizeClass];
        freeLists[number->sizeClass] = number;
    } else {
        freeBytes(number);
    }
}

BigNum* bigNumFromU64(uint64_t value) {
    BigNum* number = takeBigNum(1);
    if (!number) return nullptr;
    number->words[0] = static_cast<uint32_t>(value);
    number->words[1] = static_cast<uint32_t>(value >> 32);
    number->wordCount = number->words[1] ? 2 : 1;
    return number;
}

BigNum* multiplySmall(BigNum* a, uint32_t factor) {
    if (!a) return nullptr;
    uint64_t carry = 0;
    for (int32_t i = 0; i < a->wordCount; ++i) {
        uint64_t product = uint64_t{a->words[i]} * factor + carry;
        a->words[i] = static_cast<uint32_t>(product);
        carry = product >> 32;
    }
    if (carry) {
        if (a->wordCount >= a->capacity) {
            BigNum* grown = takeBigNum(a->sizeClass + 1);
            if (!grown) {
                releaseBigNum(a);
                return nullptr;
            }
            for (int32_t i = 0; i < a->wordCount; ++i) grown->words[i] = a->words[i];
            grown->wordCount = a->wordCount;
            releaseBigNum(a);
            a = grown;
        }
        a->words[a->wordCount++] = static_cast<uint32_t>(carry);
    }
    return a;
}

BigNum* multiplyBig(const BigNum* a, const BigNum* b) {
    if (!a || !b) return nullptr;
    if (a->wordCount < b->wordCount) {
        const BigNum* swap = a;
        a = b;
        b = swap;
    }
    int32_t count = a->wordCount + b->wordCount;
    BigNum* product = takeBigNum(a->sizeClass + (count > a->capacity ? 1 : 0));
    if (!product) return nullptr;
    uint32_t* out = product->words;
    for (int32_t i = 0; i < count; ++i) out[i] = 0;
    for (int32_t j = 0; j < b->wordCount; ++j) {
        uint64_t factor = b->words[j];
        if (!factor) continue;
        uint64_t carry = 0;
        for (int32_t i = 0; i < a->wordCount; ++i) {
            uint64_t sum = a->words[i] * factor + out[i + j] + carry;
            out[i + j] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
        out[j + a->wordCount] = static_cast<uint32_t>(carry);
    }
    product->wordCount = count;
    trim(product);
    return product;
}

BigNum* multiplyPow5(BigNum* a, int32_t exponent) {
    static constexpr uint32_t kSmallPowers[3] = {5, 25, 125};
    if (!a || exponent <= 0) return a;
    if (exponent & 3) a = multiplySmall(a, kSmallPowers[(exponent & 3) - 1]);
    exponent >>= 2;
    if (!exponent) return a;
    if (!powerCache) {
        powerCache = bigNumFromU64(625);
        if (!powerCache) {
            releaseBigNum(a);
            return nullptr;
        }
    }
    BigNum* power = powerCache;
    while (a) {
        if (exponent & 1) {
            BigNum* product = multiplyBig(a, power);
            releaseBigNum(a);
            a = product;
        }
        exponent >>= 1;
        if (!exponent) break;
        if (!power->next) {
            // A failed square leaves the cache as it was; it grows on a later call.
            power->next = multiplyBig(power, power);
            if (!power->next) {
                releaseBigNum(a);
                return nullptr;
            }
        }
        power = power->next;
    }
    return a;
}

BigNum* shiftLeft(BigNum* a, int32_t bits) {
    if (!a || bits <= 0) return a;
    int32_t wordShift = bits >> 5;
    int32_t bitShift = bits & 31;
    int32_t needed = a->wordCount + wordShift + 1;
    int32_t sizeClass = a->sizeClass;
    for (int32_t capacity = a->capacity; needed > capacity; capacity <<= 1) ++sizeClass;
    BigNum* shifted = takeBigNum(sizeClass);
    if (!shifted) {
        releaseBigNum(a);
        return nullptr;
    }
    uint32_t* out = shifted->words;
    for (int32_t i = 0; i < wordShift; ++i) out[i] = 0;
    if (bitShift) {
        uint32_t carry = 0;
        for (int32_t i = 0; i < a->wordCount; ++i) {
            out[wordShift + i] = (a->words[i] << bitShift) | carry;
            carry = a->words[i] >> (32 - bitShift);
        }
        out[wordShift + a->wordCount] = carry;
        shifted->wordCount = carry ? needed : needed - 1;
    } else {
        for (int32_t i = 0; i < a->wordCount; ++i) out[wordShift + i] = a->words[i];
        shifted->wordCount = needed - 1;
    }
    releaseBigNum(a);
    return shifted;
}

int compareBigNum(const BigNum* a, const BigNum* b) {
    if (a->wordCount != b->wordCount) return a->wordCount < b->wordCount ? -1 : 1;
    for (int32_t i = a->wordCount - 1; i >= 0; --i) {
        if (a->words[i] != b->words[i]) return a->words[i] < b->words[i] ? -1 : 1;
    }
    return 0;
}

bool isZeroBigNum(const BigNum* a) {
    return a->wordCount <= 1 && a->words[0] == 0;
}

uint32_t quotientDigit(BigNum* b, const BigNum* divisor) {
    int32_t count = divisor->wordCount;
    if (b->wordCount < count) return 0;
    // An underestimate by at most one: the divisor's top word has 28 bits.
    uint32_t q = b->words[count - 1] / (divisor->words[count - 1] + 1);
    if (q) {
        uint64_t carry = 0;
        uint64_t borrow = 0;
        for (int32_t i = 0; i < count; ++i) {
            uint64_t product = uint64_t{divisor->words[i]} * q + carry;
            carry = product >> 32;
            uint64_t difference = uint64_t{b->words[i]} - static_cast<uint32_t>(product) - borrow;
            b->words[i] = static_cast<uint32_t>(difference);
            borrow = (difference >> 32) & 1;
        }
        trim(b);
    }
    if (compareBigNum(b, divisor) >= 0) {
        subtractInPlace(b, divisor);
        ++q;
    }
    return q;
}

void releaseBigNumFreeLists() {
    for (int32_t sizeClass = 0; sizeClass < kBigNumFreeListCount; ++sizeClass) {
        while (BigNum* number = freeLists[sizeClass]) {
            freeLists[sizeClass] = number->next;
            freeBytes(number);
        }
    }
}
