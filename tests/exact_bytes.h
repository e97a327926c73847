// Input bytes in a heap block of exactly their size, so that the address
// sanitizer catches a single byte read past the end.
#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

class ExactBytes {
public:
    explicit ExactBytes(const std::string& text) : size_(text.size()), bytes_(new uint8_t[text.size()]) {
        if (size_) memcpy(bytes_.get(), text.data(), size_);
    }
    const uint8_t* data() const { return bytes_.get(); }
    const uint8_t* end() const { return bytes_.get() + size_; }
    uint64_t size() const { return size_; }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};
