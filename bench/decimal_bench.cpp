// Conversions per second of formatFixedDecimal for the kinds of value it meets.
// Build without the sanitizers for meaningful figures.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "numfmt/decimal_format.h"

namespace {

void run(const char* name, const std::vector<double>& values) {
    char buffer[kMaxFixedDecimalLength];
    size_t checksum = 0;
    for (double x : values) checksum += formatFixedDecimal(x, buffer) - buffer;  // warm-up
    size_t conversions = 0;
    auto start = std::chrono::steady_clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        for (double x : values) checksum += formatFixedDecimal(x, buffer) - buffer;
        conversions += values.size();
        elapsed = std::chrono::steady_clock::now() - start;
    } while (elapsed.count() < 1.0);
    std::printf("%-44s %12.0f conversions/s  (%.1f ns each, checksum %zu)\n", name,
                conversions / elapsed.count(), 1e9 * elapsed.count() / conversions, checksum % 1000);
}

}  // namespace

int main() {
    std::mt19937_64 random(1);
    constexpr int kCount = 100000;

    std::vector<double> lengths, integers, anyBits, subnormals;
    std::uniform_real_distribution<double> exponent(-4, 4);
    for (int i = 0; i < kCount; ++i) {
        // Display values: a float length times a unit factor, widened.
        lengths.push_back(static_cast<float>(std::pow(10.0, exponent(random))));
        integers.push_back(static_cast<double>(random() % 1000000));
        uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isfinite(x)) anyBits.push_back(x);
        bits &= 0x800FFFFFFFFFFFFFull;
        std::memcpy(&x, &bits, sizeof x);
        subnormals.push_back(x);
    }
    run("lengths 1e-4 to 1e4 (floats widened)", lengths);
    run("integers below 10^6 (fast path)", integers);
    run("random bit patterns over the finite range", anyBits);
    run("subnormals", subnormals);
    return 0;
}
