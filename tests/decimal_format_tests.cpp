#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/memory.h"
#include "numfmt/big_num.h"
#include "numfmt/decimal_format.h"

namespace {

std::string format(double x) {
    char buffer[kMaxFixedDecimalLength + 16];
    char* end = formatFixedDecimal(x, buffer);
    return std::string(buffer, end);
}

// The four digits of a correctly rounded "%.3e" laid out like formatFixedDecimal.
// glibc rounds the exact binary value half to even; on Windows MinGW's own
// printf does (the system's msvcrt does not always).
std::string reference(double x) {
    if (x == 0) return std::signbit(x) ? "-0.0" : "0.0";
    char text[64];
#ifdef _WIN32
    __mingw_snprintf(text, sizeof text, "%.3e", std::fabs(x));
#else
    std::snprintf(text, sizeof text, "%.3e", std::fabs(x));
#endif
    std::string digits{text[0], text[2], text[3], text[4]};
    int exponent = std::atoi(text + 6) + 1;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int count = static_cast<int>(digits.size());
    std::string out = std::signbit(x) ? "-" : "";
    if (exponent <= 0)
        out += "0." + std::string(-exponent, '0') + digits;
    else if (exponent < count)
        out += digits.substr(0, exponent) + "." + digits.substr(exponent);
    else
        out += digits + std::string(exponent - count, '0') + ".0";
    return out;
}

double fromBits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

void addWithNeighbours(std::vector<double>& samples, double x, int steps) {
    samples.push_back(x);
    double down = x, up = x;
    for (int i = 0; i < steps; ++i) {
        down = std::nextafter(down, 0.0);
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        samples.push_back(down);
        if (std::isfinite(up)) samples.push_back(up);
    }
}

// Every double that is exactly d1d2d3d4.5 × 10^p: a tie at four digits (with
// a stride above 1, every stride-th five-digit pattern of them).
void addExactTies(std::vector<double>& samples, uint64_t stride) {
    uint64_t powerOfFive = 1;
    for (int p = 0; p <= 22; ++p, powerOfFive *= 5) {
        for (uint64_t tie = 10005; tie < 100000; tie += 10 * stride) {
            // tie × 10^p = tie × 5^p × 2^p, exact while tie × 5^p fits 53 bits.
            if (tie > (uint64_t{1} << 53) / powerOfFive) continue;
            addWithNeighbours(samples, std::ldexp(static_cast<double>(tie * powerOfFive), p), 1);
        }
    }
    powerOfFive = 5;
    for (int p = 1; p <= 7; ++p, powerOfFive *= 5) {
        for (uint64_t tie = 10005; tie < 100000; tie += 10) {
            // tie / 10^p = (tie / 5^p) / 2^p, exact when 5^p divides tie.
            if (tie % powerOfFive) continue;
            addWithNeighbours(samples, std::ldexp(static_cast<double>(tie / powerOfFive), -p), 1);
        }
    }
}

// The plain native build compares every exact tie and a million random
// values. Under the sanitizers a conversion costs about ten times as much and
// under Wine the reference printf is slow, so those builds take every
// seventh tie pattern and fewer random values, keeping the test to seconds.
// STLV_DIFFERENTIAL_SAMPLES overrides the count of random values.
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
constexpr uint64_t kTieStride = 7;
constexpr size_t kRandomSamples = 60000;
#else
constexpr uint64_t kTieStride = 1;
constexpr size_t kRandomSamples = 1000000;
#endif

size_t randomSampleCount() {
    if (const char* text = std::getenv("STLV_DIFFERENTIAL_SAMPLES")) return std::strtoull(text, nullptr, 10);
    return kRandomSamples;
}

std::vector<double> differentialSamples() {
    std::vector<double> samples;
    std::mt19937_64 random(20240611);
    size_t count = randomSampleCount();
    samples.reserve(count + 400000);

    // Hand-picked neighbourhoods first.
    addExactTies(samples, kTieStride);
    for (int p = -323; p <= 308; ++p) {
        char text[16];
        std::snprintf(text, sizeof text, "1e%d", p);
        addWithNeighbours(samples, std::strtod(text, nullptr), 3);
    }
    for (double border : {1e14, 1e15, 1e16, 1e22, 1e23, 9007199254740992.0}) {
        addWithNeighbours(samples, border, 1000);
        for (int i = 1; i <= 1000; ++i) {
            samples.push_back(border - i);
            samples.push_back(border + i);
        }
    }
    addWithNeighbours(samples, std::numeric_limits<double>::max(), 10);
    addWithNeighbours(samples, std::numeric_limits<double>::min(), 10);
    addWithNeighbours(samples, std::numeric_limits<double>::denorm_min(), 10);
    for (double x = 9.9995; x < 1e300; x *= 10) addWithNeighbours(samples, x, 2);

    std::uniform_int_distribution<int> decimalExponent(-330, 300);
    std::uniform_int_distribution<int> fiveDigits(1000, 9999);
    std::uniform_real_distribution<double> logUniform(-7, 8);
    for (size_t i = 0; i < count; ++i) {
        uint64_t bits = random();
        switch (i % 8) {
        case 0:
        case 1:
        case 2: {  // any finite bit pattern
            double x = fromBits(bits);
            samples.push_back(std::isfinite(x) ? x : fromBits(bits & ~(uint64_t{1} << 62)));
            break;
        }
        case 3:  // subnormal
            samples.push_back(fromBits(bits & 0x800FFFFFFFFFFFFFull));
            break;
        case 4: {  // near a decimal tie anywhere in the range
            char text[32];
            std::snprintf(text, sizeof text, "%d5e%d", fiveDigits(random), decimalExponent(random));
            double tie = std::strtod(text, nullptr);
            if (std::isfinite(tie)) addWithNeighbours(samples, tie, 1);
            break;
        }
        case 5:  // what the display meets: lengths from millimetres to kilometres
            samples.push_back(std::pow(10.0, logUniform(random)));
            break;
        case 6: {  // a float widened, as formatLength hands it over
            float f;
            uint32_t floatBits = static_cast<uint32_t>(bits);
            std::memcpy(&f, &floatBits, sizeof f);
            if (std::isfinite(f)) samples.push_back(f);
            break;
        }
        case 7:  // integers on both sides of the fast path's limit of 10^15
            samples.push_back(static_cast<double>(bits % 20000000000000000ull));
            break;
        }
    }
    return samples;
}

}  // namespace

// The edges the differential test below reaches only by chance: ties to
// even, carries through nines, the exact binary value, layouts, signs,
// extremes at the declared length, non-finite values.
TEST(FormatFixedDecimal, Cases) {
    const double kInfinity = std::numeric_limits<double>::infinity();
    const std::pair<double, std::string> kCases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {1234.5, "1234.0"},
        {1235.5, "1236.0"},
        {12355, "12360.0"},
        {0.0078125, "0.007812"},  // 2^-7, an exact tie below 1
        {0.21875, "0.2188"},      // 7 / 32
        {9999.5, "10000.0"},
        {0.99996, "1.0"},
        {99996e300, "1" + std::string(305, '0') + ".0"},
        {0.1, "0.1"},
        {0.00012345, "0.0001234"},  // the nearest double lies just below the tie
        {1.0005, "1.0"},            // 1.000499999999999989...
        {1.0015, "1.002"},          // 1.001500000000000056...
        {1e20, "100000000000000000000.0"},
        {12340000, "12340000.0"},
        {12.34, "12.34"},
        {123456789, "123500000.0"},
        {-0.001234, "-0.001234"},
        {-9999.5, "-10000.0"},
        {-std::numeric_limits<double>::denorm_min(), "-0." + std::string(323, '0') + "4941"},
        {-std::numeric_limits<double>::max(), "-1798" + std::string(305, '0') + ".0"},
        {kInfinity, "Infinity"},
        {-kInfinity, "-Infinity"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& [x, expected] : kCases) {
        EXPECT_EQ(format(x), expected) << std::hexfloat << x;
        EXPECT_LE(static_cast<int>(format(x).size()), kMaxFixedDecimalLength);
    }
}

TEST(FormatFixedDecimal, MatchesCorrectlyRoundedReference) {
    std::vector<double> samples = differentialSamples();
    size_t mismatches = 0;
    for (double x : samples) {
        std::string ours = format(x);
        std::string expected = reference(x);
        if (ours != expected && ++mismatches <= 10) {
            ADD_FAILURE() << std::hexfloat << x << std::defaultfloat << ": " << ours << " instead of "
                          << expected;
        }
    }
    EXPECT_EQ(mismatches, 0u);
    std::printf("compared %zu values\n", samples.size());
}

TEST(FormatFixedDecimal, ThreadsAgreeWithOneThread) {
    std::mt19937_64 random(7);
    std::vector<double> samples;
    for (int i = 0; i < 5000; ++i) {
        double x = fromBits(random());
        if (std::isfinite(x)) samples.push_back(x);
        samples.push_back(static_cast<double>(random() % 1000000));
    }
    std::vector<std::string> expected;
    for (double x : samples) expected.push_back(format(x));

    constexpr int kThreads = 4;
    std::vector<size_t> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the samples from a different start so that
            // they meet at different values.
            for (size_t i = 0; i < samples.size(); ++i) {
                size_t index = (i + t * samples.size() / kThreads) % samples.size();
                if (format(samples[index]) != expected[index]) ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0u) << "thread " << t;
}

TEST(FormatFixedDecimal, AllocatesNothingOnceWarm) {
    // One value per binary exponent brings every size class and cached power into use.
    for (int e = -1074; e <= 1023; ++e) {
        format(std::ldexp(1.0, e));
        format(std::ldexp(1.9999999999999998, e));
        format(std::ldexp(1.3333333333333333, e));
    }
    std::mt19937_64 random(11);
    uint64_t before = heapRequestCount();
    for (int i = 0; i < 20000; ++i) {
        double x = fromBits(random());
        if (std::isfinite(x)) format(x);
        format(std::pow(10.0, static_cast<double>(random() % 15000) / 1000.0 - 7));
    }
    EXPECT_EQ(heapRequestCount(), before);
}

TEST(FormatFixedDecimal, OutOfMemoryStillGivesTheNumberWithinOneUnit) {
    const double values[] = {1e-300, 0.00012345, 1.0015, 3.0e200, 4.9e-324, 123.456e-30, 7e22};
    for (double x : values) {
        releaseBigNumFreeLists();
        failHeapRequestsAfter(0);
        uint64_t before = heapRequestCount();
        std::string ours = format(x);
        uint64_t refused = heapRequestCount() - before;
        failHeapRequestsAfter(-1);
        EXPECT_GT(refused, 0u) << "the exact path was not tried";
        // Compare as numbers: the fallback may miss the last digit by one.
        double difference = std::fabs(std::strtod(ours.c_str(), nullptr) - x);
        char exact[32];
        std::snprintf(exact, sizeof exact, "%.3e", x);
        double unit = std::pow(10.0, std::floor(std::log10(std::strtod(exact, nullptr))) - 3);
        EXPECT_LE(difference, 1.0001 * unit) << ours << " for " << exact;
    }
    // With memory back the exact path works again.
    EXPECT_EQ(format(0.00012345), "0.0001234");
    EXPECT_EQ(format(1.0015), "1.002");
}
