#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

void addWithNeighbours(std::vector<double>& samples, double x, int steps) {
    samples.push_back(x);
    double down = x, up = x;
    for (int i = 0; i < steps; ++i) {
        down = std::nextafter(down, 0.0);
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        samples.insert(samples.end(), {down, up});
    }
}

// Every double that is exactly d1d2d3d4.5 × 10^p: a tie at four digits (with
// a stride above 1, every stride-th five-digit pattern of them).
void addExactTies(std::vector<double>& samples, uint64_t stride) {
    uint64_t powerOfFive = 1;
    for (int p = 0; p <= 22; ++p, powerOfFive *= 5) {
        for (uint64_t tie = 10005; tie < 100000; tie += 10 * stride) {
            // tie × 10^p = tie × 5^p × 2^p, exact while tie × 5^p fits 53 bits.
            if (tie <= (uint64_t{1} << 53) / powerOfFive)
                addWithNeighbours(samples, std::ldexp(static_cast<double>(tie * powerOfFive), p), 1);
        }
    }
    powerOfFive = 5;
    for (int p = 1; p <= 7; ++p, powerOfFive *= 5) {
        // tie / 10^p = (tie / 5^p) / 2^p, exact when 5^p divides tie.
        for (uint64_t tie = 10005; tie < 100000; tie += 10)
            if (tie % powerOfFive == 0)
                addWithNeighbours(samples, std::ldexp(static_cast<double>(tie / powerOfFive), -p), 1);
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

std::vector<double> differentialSamples() {
    // Hand-picked neighbourhoods first.
    std::vector<double> samples;
    addExactTies(samples, kTieStride);
    for (int p = -323; p <= 308; ++p)
        addWithNeighbours(samples, std::strtod(("1e" + std::to_string(p)).c_str(), nullptr), 3);
    for (double border : {1e14, 1e15, 1e16, 1e22, 1e23, 9007199254740992.0}) {
        addWithNeighbours(samples, border, 1000);
        for (int i = 1; i <= 1000; ++i) samples.insert(samples.end(), {border - i, border + i});
    }
    for (double extreme : {std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min()})
        addWithNeighbours(samples, extreme, 10);
    for (double x = 9.9995; x < 1e300; x *= 10) addWithNeighbours(samples, x, 2);

    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<int> decimalExponent(-330, 300), fourDigits(1000, 9999);
    std::uniform_real_distribution<double> logUniform(-7, 8);
    const char* countText = std::getenv("STLV_DIFFERENTIAL_SAMPLES");
    const size_t count = countText ? std::strtoull(countText, nullptr, 10) : kRandomSamples;
    for (size_t i = 0; i < count; ++i) {
        uint64_t bits = random();
        switch (i % 8) {
        case 0: case 1: case 2: samples.push_back(std::bit_cast<double>(bits)); break;  // any bit pattern
        case 3: samples.push_back(std::bit_cast<double>(bits & 0x800FFFFFFFFFFFFFull)); break;  // subnormal
        case 4:  // near a decimal tie anywhere in the range
            addWithNeighbours(samples, std::strtod((std::to_string(fourDigits(random)) + "5e" +
                                                    std::to_string(decimalExponent(random))).c_str(), nullptr), 1);
            break;
        case 5: samples.push_back(std::pow(10.0, logUniform(random))); break;  // lengths the display meets
        case 6: samples.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits))); break;  // a float widened
        case 7: samples.push_back(static_cast<double>(bits % 20000000000000000ull)); break;  // around 10^15
        }
    }
    std::erase_if(samples, [](double x) { return !std::isfinite(x); });
    return samples;
}

}  // namespace

// The edges the differential test below reaches only by chance: ties to
// even, carries through nines, the exact binary value, signs, extremes at
// the declared length, non-finite values.
TEST(FormatFixedDecimal, Cases) {
    const double kInfinity = std::numeric_limits<double>::infinity();
    const std::pair<double, std::string> kCases[] = {
        {0.0, "0.0"},         {-0.0, "-0.0"},           {1234.5, "1234.0"},
        {1235.5, "1236.0"},   {12355, "12360.0"},       {0.0078125, "0.007812"},  // 2^-7, an exact tie below 1
        {0.21875, "0.2188"},  {9999.5, "10000.0"},      {-9999.5, "-10000.0"},
        {0.99996, "1.0"},     {99996e300, "1" + std::string(305, '0') + ".0"},
        {0.00012345, "0.0001234"},                      // the nearest double lies just below the tie
        {1.0005, "1.0"},      {1.0015, "1.002"},        // 1.000499999999999989..., 1.001500000000000056...
        {-std::numeric_limits<double>::denorm_min(), "-0." + std::string(323, '0') + "4941"},
        {-std::numeric_limits<double>::max(), "-1798" + std::string(305, '0') + ".0"},
        {kInfinity, "Infinity"}, {-kInfinity, "-Infinity"}, {std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& [x, expected] : kCases) {
        EXPECT_EQ(format(x), expected) << std::hexfloat << x;
        EXPECT_LE(static_cast<int>(format(x).size()), kMaxFixedDecimalLength);
    }
}

// Four threads share the samples so that conversions also meet in the
// process-wide big-number state.
TEST(FormatFixedDecimal, MatchesCorrectlyRoundedReference) {
    const std::vector<double> samples = differentialSamples();
    constexpr size_t kThreads = 4;
    std::vector<std::string> mismatches[kThreads];
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = t; i < samples.size(); i += kThreads) {
                std::string ours = format(samples[i]), expected = reference(samples[i]);
                if (ours != expected) mismatches[t].push_back(ours + " instead of " + expected);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::vector<std::string>& list : mismatches)
        EXPECT_TRUE(list.empty()) << list.size() << " mismatches, the first: " << list.front();
    std::printf("compared %zu values\n", samples.size());
}

TEST(FormatFixedDecimal, AllocatesNothingOnceWarm) {
    // One value per binary exponent brings every size class and cached power into use.
    for (int e = -1074; e <= 1023; ++e)
        for (double mantissa : {1.0, 1.9999999999999998, 1.3333333333333333}) format(std::ldexp(mantissa, e));
    std::mt19937_64 random(11);
    uint64_t before = heapRequestCount();
    for (int i = 0; i < 20000; ++i) {
        format(std::bit_cast<double>(random()));
        format(std::pow(10.0, static_cast<double>(random() % 15000) / 1000.0 - 7));
    }
    EXPECT_EQ(heapRequestCount(), before);
}

// Should the heap refuse a big integer, the number comes from double
// arithmetic, at most one unit off in its last digit.
TEST(FormatFixedDecimal, OutOfMemoryStillGivesTheNumberWithinOneUnit) {
    for (double x : {1e-300, 0.00012345, 1.0015, 3.0e200, 4.9e-324, 123.456e-30, 7e22}) {
        releaseBigNumFreeLists();
        failHeapRequestsAfter(0);
        uint64_t before = heapRequestCount();
        std::string ours = format(x);
        uint64_t refused = heapRequestCount() - before;
        failHeapRequestsAfter(-1);
        EXPECT_GT(refused, 0u) << "the exact path was not tried";
        double unit = std::pow(10.0, std::floor(std::log10(std::strtod(reference(x).c_str(), nullptr))) - 3);
        EXPECT_LE(std::fabs(std::strtod(ours.c_str(), nullptr) - x), 1.0001 * unit) << ours << " for " << reference(x);
    }
    // With memory back the exact path works again.
    EXPECT_EQ(format(0.00012345), "0.0001234");
    EXPECT_EQ(format(1.0015), "1.002");
}
