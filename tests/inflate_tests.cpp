// The deflate decoder: hand-made streams for every fault it names, and, where
// zlib is at hand (tests only), the same output as zlib for streams zlib
// writes and the same verdict on streams with bytes changed.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/package_texts.h"
#include "package/crc32.h"
#include "package/inflate.h"
#include "tests/package_files.h"

#if STLV_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

// Bits least significant first; Huffman codes most significant first.
struct BitWriter {
    std::string bytes;
    uint32_t used = 0;
    void bits(uint32_t value, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i, ++used) {
            if (used % 8 == 0) bytes.push_back(0);
            bytes.back() = static_cast<char>(bytes.back() | ((value >> i & 1) << (used % 8)));
        }
    }
    void code(uint32_t value, uint32_t length) {
        for (uint32_t i = length; i-- > 0;) bits(value >> i & 1, 1);
    }
    void fixedLiteral(uint8_t byte) { byte < 144 ? code(0x30 + byte, 8) : code(0x190 + byte - 144, 9); }
};

struct Decoded {
    InflateResult result;
    std::string output;
    size_t consumed;
};

Decoded inflateString(const std::string& stream, size_t outputSize) {
    std::string output(outputSize, '\0');
    size_t consumed = 0;
    InflateResult result = inflateRaw(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                                      reinterpret_cast<uint8_t*>(output.data()), outputSize, &consumed, nullptr);
    return Decoded{result, output, consumed};
}

TEST(Inflate, HandMadeStreams) {
    BitWriter fixed;  // "ab", a copy of 3 from 2 back, end
    fixed.bits(1, 1);
    fixed.bits(1, 2);
    fixed.fixedLiteral('a');
    fixed.fixedLiteral('b');
    fixed.code(1, 7);  // length 3
    fixed.code(1, 5);  // distance 2
    fixed.code(0, 7);
    BitWriter far = fixed;  // the copy reaches before the start
    far = BitWriter{};
    far.bits(1, 1);
    far.bits(1, 2);
    far.fixedLiteral('a');
    far.code(1, 7);
    far.code(1, 5);
    BitWriter reserved;  // block type 3
    reserved.bits(1, 1);
    reserved.bits(3, 2);
    BitWriter distance30;  // a distance code deflate does not define
    distance30.bits(1, 1);
    distance30.bits(1, 2);
    distance30.fixedLiteral('a');
    distance30.code(1, 7);
    distance30.code(30, 5);
    BitWriter tooManyCodes;  // HLIT of 30: 287 literal and length codes
    tooManyCodes.bits(1, 1);
    tooManyCodes.bits(2, 2);
    tooManyCodes.bits(29, 5);
    // Literal codes 0, 1, 2 and the end code all of one bit: over-subscribed,
    // under a complete code-length code (1: "0", 0: "10", 18: "11").
    BitWriter oversubscribed;
    oversubscribed.bits(1, 1);
    oversubscribed.bits(2, 2);
    oversubscribed.bits(0, 5);   // 257 literal and length codes
    oversubscribed.bits(0, 5);   // 1 distance code
    oversubscribed.bits(14, 4);  // 18 code-length lengths, in the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1
    for (uint32_t length : {0, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}) oversubscribed.bits(length, 3);
    for (int i = 0; i < 3; ++i) oversubscribed.code(0, 1);
    oversubscribed.code(3, 2);
    oversubscribed.bits(127, 7);  // 138 zeros
    oversubscribed.code(3, 2);
    oversubscribed.bits(104, 7);  // 115 zeros
    oversubscribed.code(0, 1);    // the end code
    oversubscribed.code(0, 1);    // the distance code
    std::string stored = storedDeflate("hello");
    std::string badLength = stored;
    badLength[3] = 0;
    const struct {
        const char* what;
        std::string stream;
        size_t size;
        InflateResult result;
        const char* output;
    } cases[] = {
        {"fixed codes with a copy", fixed.bytes, 5, kInflateDone, "ababa"},
        {"the same, stated one byte short", fixed.bytes, 4, kInflateTooLong, nullptr},
        {"the same, stated one byte long", fixed.bytes, 6, kInflateTooShort, nullptr},
        {"a copy from before the start", far.bytes, 4, kInflateBadDistance, nullptr},
        {"block type 3", reserved.bytes, 1, kInflateBadBlockType, nullptr},
        {"distance code 30", distance30.bytes, 4, kInflateBadSymbol, nullptr},
        {"over-subscribed literal codes", oversubscribed.bytes + std::string(8, '\0'), 4, kInflateBadCodeLengths, nullptr},
        {"287 literal codes", tooManyCodes.bytes + std::string(20, '\0'), 1, kInflateBadCodeLengths, nullptr},
        {"stored", stored, 5, kInflateDone, "hello"},
        {"stored, LEN and NLEN disagree", badLength, 5, kInflateBadStoredBlock, nullptr},
        {"stored, cut in the data", stored.substr(0, 7), 5, kInflateTruncated, nullptr},
        {"fixed, cut before the end code", fixed.bytes.substr(0, 3), 5, kInflateTruncated, nullptr},
        {"nothing", "", 0, kInflateTruncated, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Decoded decoded = inflateString(c.stream, c.size);
        EXPECT_EQ(decoded.result, c.result);
        if (c.output) EXPECT_EQ(decoded.output, c.output);
        EXPECT_LE(decoded.consumed, c.stream.size());
        EXPECT_NE(inflateFaultText(c.result), nullptr);
    }
    EXPECT_EQ(inflateFaultText(kInflateTooShort + 1), nullptr);
}

TEST(Inflate, LongStoredStreamsAndTrailingBytes) {
    std::string data(200000, 'x');
    for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<char>(i);
    Decoded decoded = inflateString(storedDeflate(data) + "trailing", data.size());
    EXPECT_EQ(decoded.result, kInflateDone);
    EXPECT_EQ(decoded.output, data);
    EXPECT_EQ(decoded.consumed, storedDeflate(data).size());
}

#if STLV_HAVE_ZLIB
std::string zlibDeflate(const std::string& data, int level, int strategy) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy);
    std::string out(deflateBound(&stream, data.size()) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// zlib's reading: the output, or false when zlib refuses or wants more input.
bool zlibInflate(const std::string& stream, size_t limit, std::string* output) {
    z_stream z{};
    inflateInit2(&z, -15);
    output->assign(limit, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(output->data());
    z.avail_out = static_cast<uInt>(limit);
    int status = inflate(&z, Z_FINISH);
    output->resize(z.total_out);
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

// Text like a model part, runs, noise and mixtures, at every zlib level and strategy.
std::string sample(std::mt19937* random, size_t size, int kind) {
    std::string data(size, '\0');
    const char alphabet[] = "<vertex x=\"0.125\" y=\"-3.5\" z=\"12\"/>\n";
    for (size_t i = 0; i < size; ++i) {
        uint32_t r = (*random)();
        if (kind == 0) data[i] = static_cast<char>(r);
        else if (kind == 1) data[i] = alphabet[r % (sizeof alphabet - 1)];
        else if (kind == 2) data[i] = i && r % 5 ? data[i - 1 - r % (i < 400 ? i : 400)] : static_cast<char>('a' + r % 4);
        else data[i] = static_cast<char>(i / (1 + r % 300) % 3);
    }
    return data;
}

TEST(Inflate, SameOutputAsZlib) {
    std::mt19937 random(36);
    for (int round = 0; round < 400; ++round) {
        size_t size = round < 200 ? random() % 600 : random() % 300000;
        std::string data = sample(&random, size, round % 4);
        int level = round % 10, strategy = round / 10 % 5;
        std::string stream = zlibDeflate(data, level, strategy);
        Decoded decoded = inflateString(stream, data.size());
        ASSERT_EQ(decoded.result, kInflateDone) << "round " << round;
        ASSERT_EQ(decoded.output, data) << "round " << round;
        ASSERT_EQ(decoded.consumed, stream.size()) << "round " << round;
        // Continued at a cut that is seldom a multiple of the 64 bytes folded a step.
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data.data());
        size_t cut = data.size() / 3 + round % 7;
        cut = cut < data.size() ? cut : data.size();
        ASSERT_EQ(updateCrc32(updateCrc32(0, bytes, cut), bytes + cut, data.size() - cut),
                  crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    }
}

TEST(Inflate, SameVerdictAsZlibOnChangedStreams) {
    std::mt19937 random(1951);
    for (int round = 0; round < 3000; ++round) {
        std::string data = sample(&random, 64 + random() % 3000, round % 4);
        std::string stream = zlibDeflate(data, 1 + round % 9, round % 3 == 2 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        for (int flips = 1 + random() % 3; flips > 0; --flips) stream[random() % stream.size()] ^= static_cast<char>(1 << random() % 8);
        if (round % 5 == 0) stream.resize(random() % stream.size());
        std::string theirs;
        bool zlibTakes = zlibInflate(stream, 1 << 16, &theirs);
        Decoded ours = inflateString(stream, zlibTakes ? theirs.size() : 1 << 16);
        ASSERT_EQ(ours.result == kInflateDone, zlibTakes) << "round " << round << ": " << ours.result;
        if (zlibTakes) ASSERT_EQ(ours.output, theirs) << "round " << round;
    }
}
#endif

}  // namespace
