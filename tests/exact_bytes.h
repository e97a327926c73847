// Input bytes in a heap block of exactly their size, so that the address
// sanitizer catches a single byte read past the end.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ExactBytes : std::vector<uint8_t> {
    explicit ExactBytes(const std::string& text) : std::vector<uint8_t>(text.begin(), text.end()) {}
    const uint8_t* end() const { return data() + size(); }
};
