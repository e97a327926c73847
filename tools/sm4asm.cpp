// The assembler proper: text to tokens, tokens and signatures to a container.
#include "tools/sm4asm.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace sm4 {

namespace {
PlantedFault plantedFault = PlantedFault::kNone;
}  // namespace

// ---------------------------------------------------------------------------
// Checksum

namespace {

uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

uint32_t loadLe(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeLe(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

const uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const int kMd5Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

struct Md5State {
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

    void compress(const uint8_t* block) {
        uint32_t m[16];
        for (int i = 0; i < 16; ++i) m[i] = loadLe(block + 4 * i);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            int round = i / 16;
            uint32_t f;
            int g;
            switch (round) {
                case 0: f = (b & c) | (~b & d); g = i; break;
                case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
                case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
                default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
            }
            uint32_t next = b + rotl(a + f + kMd5Sines[i] + m[g], kMd5Shifts[round][i % 4]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }

    void digest(uint8_t out[16]) const {
        for (int i = 0; i < 4; ++i) storeLe(out + 4 * i, h[i]);
    }
};

}  // namespace

void md5(const uint8_t* data, size_t size, uint8_t digest[16]) {
    Md5State state;
    size_t whole = size / 64 * 64;
    for (size_t i = 0; i < whole; i += 64) state.compress(data + i);
    uint8_t tail[128] = {};
    size_t rest = size - whole;
    memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    size_t tailSize = rest < 56 ? 64 : 128;
    uint64_t bits = uint64_t(size) * 8;
    storeLe(tail + tailSize - 8, uint32_t(bits));
    storeLe(tail + tailSize - 4, uint32_t(bits >> 32));
    for (size_t i = 0; i < tailSize; i += 64) state.compress(tail + i);
    state.digest(digest);
}

// MD5's compression with its own padding: the 32-bit bit count leads the
// last block, and (bits >> 2) | 1 closes it.
void dxbcChecksum(const uint8_t* container, size_t size, uint8_t digest[16]) {
    const uint8_t* message = container + 20;
    size_t length = size - 20;
    uint32_t bits = uint32_t(length * 8);
    Md5State state;
    size_t whole = length / 64 * 64;
    for (size_t i = 0; i < whole; i += 64) state.compress(message + i);
    size_t rest = length - whole;
    uint8_t block[64] = {};
    if (rest < 56) {
        storeLe(block, bits);
        memcpy(block + 4, message + whole, rest);
        block[4 + rest] = 0x80;
        storeLe(block + 60, (bits >> 2) | 1);
        state.compress(block);
    } else {
        memcpy(block, message + whole, rest);
        block[rest] = 0x80;
        state.compress(block);
        memset(block, 0, sizeof block);
        storeLe(block, bits);
        storeLe(block + 60, (bits >> 2) | 1);
        state.compress(block);
    }
    state.digest(digest);
}

// ---------------------------------------------------------------------------
// Container

namespace {

void appendU32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

void padTo4(std::vector<uint8_t>* out) {
    while (out->size() % 4) out->push_back(0xAB);
}

}  // namespace

std::vector<uint8_t> signatureChunkData(const std::vector<SignatureElement>& elements) {
    std::vector<uint8_t> out;
    uint32_t count = uint32_t(elements.size());
    appendU32(&out, count);
    appendU32(&out, 8);
    // Names follow the table, each distinct name once.
    std::map<std::string, uint32_t> nameOffsets;
    std::string names;
    uint32_t namesStart = 8 + 24 * count;
    for (const SignatureElement& e : elements) {
        if (!nameOffsets.count(e.name)) {
            nameOffsets[e.name] = namesStart + uint32_t(names.size());
            names += e.name;
            names += '\0';
        }
    }
    for (const SignatureElement& e : elements) {
        appendU32(&out, nameOffsets[e.name]);
        appendU32(&out, e.semanticIndex);
        appendU32(&out, e.systemValue);
        appendU32(&out, e.componentType);
        appendU32(&out, e.reg);
        out.push_back(e.mask);
        out.push_back(e.readWriteMask);
        out.push_back(0);
        out.push_back(0);
    }
    out.insert(out.end(), names.begin(), names.end());
    padTo4(&out);
    return out;
}

std::vector<uint8_t> buildContainer(const std::vector<Chunk>& chunks) {
    std::vector<uint8_t> out(20, 0);  // magic, then the checksum, filled in last
    memcpy(out.data(), "DXBC", 4);
    uint32_t count = uint32_t(chunks.size());
    appendU32(&out, 1);
    appendU32(&out, 0);  // total size, filled in below
    appendU32(&out, count);
    uint32_t offset = 32 + 4 * count;
    for (const Chunk& c : chunks) {
        appendU32(&out, offset);
        offset += 8 + uint32_t((c.data.size() + 3) / 4 * 4);
    }
    for (const Chunk& c : chunks) {
        out.insert(out.end(), c.fourcc, c.fourcc + 4);
        appendU32(&out, uint32_t((c.data.size() + 3) / 4 * 4));
        out.insert(out.end(), c.data.begin(), c.data.end());
        padTo4(&out);
    }
    storeLe(out.data() + 24, uint32_t(out.size()));
    dxbcChecksum(out.data(), out.size(), out.data() + 4);
    return out;
}

std::vector<uint8_t> buildBlob(const Program& program) {
    std::vector<Chunk> chunks(3);
    memcpy(chunks[0].fourcc, "ISGN", 4);
    chunks[0].data = signatureChunkData(program.inputs);
    memcpy(chunks[1].fourcc, "OSGN", 4);
    chunks[1].data = signatureChunkData(program.outputs);
    memcpy(chunks[2].fourcc, "SHDR", 4);
    for (uint32_t t : program.tokens) appendU32(&chunks[2].data, t);
    return buildContainer(chunks);
}

// ---------------------------------------------------------------------------
// Parser

namespace {

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& message) { throw Error(message); }

enum : uint32_t {
    kTemp = 0,
    kInput = 1,
    kOutput = 2,
    kImmediate32 = 4,
    kConstantBuffer = 8,
    kNull = 13,
};

struct Index {
    uint32_t value = 0;  // the immediate part
    bool relative = false;
    uint32_t relativeTemp = 0;
    uint32_t relativeComponent = 0;
};

struct Operand {
    uint32_t type = kTemp;
    std::vector<Index> indices;
    bool negate = false;
    bool absolute = false;
    bool hasComponents = false;
    std::string components;
    std::vector<uint32_t> immediate;
};

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (char& c : s) c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits at commas outside brackets and parentheses.
std::vector<std::string> splitOperands(const std::string& s) {
    std::vector<std::string> parts;
    int depth = 0;
    std::string current;
    for (char c : s) {
        if (c == '(' || c == '[') ++depth;
        if (c == ')' || c == ']') --depth;
        if (c == ',' && depth == 0) {
            parts.push_back(trim(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!trim(current).empty() || !parts.empty()) parts.push_back(trim(current));
    for (const std::string& p : parts)
        if (p.empty()) fail("empty operand");
    return parts;
}

std::vector<std::string> splitWords(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

int componentIndex(char c) {
    switch (c) {
        case 'x': return 0;
        case 'y': return 1;
        case 'z': return 2;
        case 'w': return 3;
        default: return -1;
    }
}

// Letters in xyzw order, each at most once.
uint8_t parseMask(const std::string& letters) {
    if (letters.empty()) fail("empty component mask");
    uint8_t mask = 0;
    int last = -1;
    for (char c : letters) {
        int i = componentIndex(c);
        if (i < 0) fail("bad component '" + std::string(1, c) + "' in mask ." + letters);
        if (i <= last) fail("mask ." + letters + " is not in xyzw order");
        last = i;
        mask |= uint8_t(1 << i);
    }
    return mask;
}

// Decimal digits only, within 32 bits.
uint32_t parseU32(const std::string& digits) {
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
        fail("expected a number, not '" + digits + "'");
    unsigned long long v = std::stoull(digits);
    if (v > 0xFFFFFFFFull) fail(digits + " does not fit in 32 bits");
    return uint32_t(v);
}

uint32_t parseLiteral(const std::string& text) {
    std::string t = trim(text);
    if (t.empty()) fail("empty literal");
    std::string l = lower(t);
    bool hex = l.rfind("0x", 0) == 0 || l.rfind("-0x", 0) == 0;
    bool isFloat = !hex && (l.find('.') != std::string::npos || l.find('e') != std::string::npos ||
                            l.find("inf") != std::string::npos || l.find("nan") != std::string::npos);
    char* end = nullptr;
    errno = 0;
    if (isFloat) {
        float f = strtof(t.c_str(), &end);
        if (*end || errno == ERANGE) fail("bad float literal " + t);
        uint32_t bits;
        memcpy(&bits, &f, 4);
        return bits;
    }
    if (hex) {
        if (l[0] == '-') fail("negative hexadecimal literal " + t);
        unsigned long long v = strtoull(t.c_str(), &end, 16);
        if (*end || v > 0xFFFFFFFFull || errno) fail("bad hexadecimal literal " + t);
        return uint32_t(v);
    }
    long long v = strtoll(t.c_str(), &end, 10);
    if (*end || errno || v < INT32_MIN || v > UINT32_MAX) fail("bad integer literal " + t);
    return uint32_t(v);
}

class OperandReader {
public:
    explicit OperandReader(const std::string& s) : s_(s) {}

    Operand read() {
        Operand op;
        skip();
        if (eat('-')) op.negate = true;
        skip();
        if (eat('|')) op.absolute = true;
        skip();
        if (peekWord("l(")) {
            pos_ += 2;
            size_t close = s_.find(')', pos_);
            if (close == std::string::npos) fail("missing ')' in " + s_);
            std::string inside = s_.substr(pos_, close - pos_);
            pos_ = close + 1;
            std::string item;
            std::istringstream in(inside);
            while (std::getline(in, item, ',')) op.immediate.push_back(parseLiteral(item));
            if (op.immediate.size() != 1 && op.immediate.size() != 4)
                fail("a literal has 1 or 4 values: " + s_);
            op.type = kImmediate32;
        } else if (peekWord("null")) {
            pos_ += 4;
            op.type = kNull;
        } else if (peekWord("cb")) {
            pos_ += 2;
            op.type = kConstantBuffer;
            Index slot;
            slot.value = number();
            op.indices.push_back(slot);
            op.indices.push_back(bracket());
        } else if (peekWord("r") || peekWord("o")) {
            op.type = s_[pos_] == 'r' ? kTemp : kOutput;
            ++pos_;
            Index i;
            i.value = number();
            op.indices.push_back(i);
        } else if (peekWord("v")) {
            op.type = kInput;
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] == '[') {
                op.indices.push_back(bracket());
                op.indices.push_back(bracket());
            } else {
                Index i;
                i.value = number();
                op.indices.push_back(i);
            }
        } else {
            fail("unknown operand " + s_);
        }
        if (eat('.')) {
            op.hasComponents = true;
            while (pos_ < s_.size() && isalpha(static_cast<unsigned char>(s_[pos_]))) op.components += s_[pos_++];
            if (op.components.empty()) fail("missing components after '.' in " + s_);
        }
        skip();
        if (op.absolute && !eat('|')) fail("missing closing '|' in " + s_);
        skip();
        if (pos_ != s_.size()) fail("unexpected text in operand " + s_);
        return op;
    }

private:
    void skip() {
        while (pos_ < s_.size() && isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool eat(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool peekWord(const char* w) const { return s_.compare(pos_, strlen(w), w) == 0; }
    uint32_t number() {
        size_t start = pos_;
        while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
        if (start == pos_) fail("missing register number in " + s_);
        return parseU32(s_.substr(start, pos_ - start));
    }
    // [n], [r#.c] or [r#.c + n]
    Index bracket() {
        skip();
        if (!eat('[')) fail("missing '[' in " + s_);
        skip();
        Index index;
        if (eat('r')) {
            index.relative = true;
            index.relativeTemp = number();
            if (!eat('.')) fail("a relative index names one component: " + s_);
            int c = pos_ < s_.size() ? componentIndex(s_[pos_]) : -1;
            if (c < 0) fail("a relative index names one component: " + s_);
            ++pos_;
            index.relativeComponent = uint32_t(c);
            skip();
            if (eat('+')) {
                skip();
                index.value = number();
            }
        } else {
            index.value = number();
        }
        skip();
        if (!eat(']')) fail("missing ']' in " + s_);
        return index;
    }

    const std::string& s_;
    size_t pos_ = 0;
};

Operand readOperand(const std::string& text) { return OperandReader(text).read(); }

enum class Role { Destination, Source, Declaration };

// Encodes an index; a zero offset with a register is the plain relative form.
void encodeIndex(const Index& index, uint32_t* representation, std::vector<uint32_t>* tail) {
    if (!index.relative) {
        *representation = 0;
        tail->push_back(index.value);
        return;
    }
    *representation = index.value ? 3 : 2;
    if (index.value) tail->push_back(index.value);
    tail->push_back(0x0010000a | index.relativeComponent << 4);  // r#.c, select-1
    tail->push_back(index.relativeTemp);
}

void encodeOperand(const Operand& op, Role role, std::vector<uint32_t>* out) {
    uint32_t token = 0;
    std::vector<uint32_t> tail;
    if (op.type == kImmediate32) {
        if (role != Role::Source) fail("a literal can only be a source");
        if (op.negate || op.absolute) fail("literals take no modifiers");
        if (op.hasComponents) fail("literals take no components");
        token = (op.immediate.size() == 1 ? 1u : 2u) | kImmediate32 << 12;
        out->push_back(token);
        out->insert(out->end(), op.immediate.begin(), op.immediate.end());
        return;
    }
    if (op.type == kNull) {
        if (role != Role::Destination) fail("null can only be a destination");
        out->push_back(kNull << 12);
        return;
    }
    token = 2;  // four components
    if (role == Role::Source) {
        if (!op.hasComponents || op.components.size() == 4) {
            std::string c = op.hasComponents ? op.components : "xyzw";
            uint32_t swizzle = 0;
            for (int i = 0; i < 4; ++i) {
                int s = componentIndex(c[i]);
                if (s < 0) fail("bad swizzle ." + c);
                swizzle |= uint32_t(s) << (2 * i);
            }
            token |= 1u << 2 | swizzle << 4;
        } else if (op.components.size() == 1) {
            int s = componentIndex(op.components[0]);
            if (s < 0) fail("bad component ." + op.components);
            token |= 2u << 2 | uint32_t(s) << 4;
        } else {
            fail("a source swizzle has one or four letters: ." + op.components);
        }
    } else {
        if (op.negate || op.absolute) fail("modifiers belong to sources");
        uint8_t mask = op.hasComponents ? parseMask(op.components) : 0xF;
        token |= uint32_t(mask) << 4;
    }
    token |= op.type << 12;
    token |= uint32_t(op.indices.size()) << 20;
    for (size_t i = 0; i < op.indices.size(); ++i) {
        uint32_t representation;
        encodeIndex(op.indices[i], &representation, &tail);
        token |= representation << (22 + 3 * i);
    }
    uint32_t modifier = (op.negate ? 1u : 0u) | (op.absolute ? 2u : 0u);
    if (modifier) token |= 0x80000000u;
    out->push_back(token);
    if (modifier) out->push_back(1u | modifier << 6);
    out->insert(out->end(), tail.begin(), tail.end());
}

struct InstructionInfo {
    const char* name;
    uint32_t opcode;
    int destinations;
    int sources;
    bool saturate;  // may take _sat
    bool test;      // needs _z or _nz
};

const InstructionInfo kInstructions[] = {
    {"add", 0, 1, 2, true, false},         {"and", 1, 1, 2, false, false},
    {"break", 2, 0, 0, false, false},      {"breakc", 3, 0, 1, false, true},
    {"continue", 7, 0, 0, false, false},   {"continuec", 8, 0, 1, false, true},
    {"cut", 9, 0, 0, false, false},        {"discard", 13, 0, 1, false, true},
    {"div", 14, 1, 2, true, false},        {"dp2", 15, 1, 2, true, false},
    {"dp3", 16, 1, 2, true, false},        {"dp4", 17, 1, 2, true, false},
    {"else", 18, 0, 0, false, false},      {"emit", 19, 0, 0, false, false},
    {"endif", 21, 0, 0, false, false},
    {"endloop", 22, 0, 0, false, false},   {"eq", 24, 1, 2, false, false},
    {"exp", 25, 1, 1, true, false},        {"frc", 26, 1, 1, true, false},
    {"ftoi", 27, 1, 1, false, false},      {"ftou", 28, 1, 1, false, false},
    {"ge", 29, 1, 2, false, false},        {"iadd", 30, 1, 2, false, false},
    {"if", 31, 0, 1, false, true},         {"ieq", 32, 1, 2, false, false},
    {"ige", 33, 1, 2, false, false},       {"ilt", 34, 1, 2, false, false},
    {"imad", 35, 1, 3, false, false},      {"imax", 36, 1, 2, false, false},
    {"imin", 37, 1, 2, false, false},      {"ine", 39, 1, 2, false, false},
    {"ineg", 40, 1, 1, false, false},      {"ishl", 41, 1, 2, false, false},
    {"ishr", 42, 1, 2, false, false},      {"itof", 43, 1, 1, false, false},
    {"log", 47, 1, 1, true, false},        {"loop", 48, 0, 0, false, false},
    {"lt", 49, 1, 2, false, false},        {"mad", 50, 1, 3, true, false},
    {"min", 51, 1, 2, true, false},        {"max", 52, 1, 2, true, false},
    {"mov", 54, 1, 1, true, false},        {"movc", 55, 1, 3, true, false},
    {"mul", 56, 1, 2, true, false},        {"ne", 57, 1, 2, false, false},
    {"nop", 58, 0, 0, false, false},       {"not", 59, 1, 1, false, false},
    {"or", 60, 1, 2, false, false},        {"ret", 62, 0, 0, false, false},
    {"retc", 63, 0, 1, false, true},       {"round_ne", 64, 1, 1, true, false},
    {"round_ni", 65, 1, 1, true, false},   {"round_pi", 66, 1, 1, true, false},
    {"round_z", 67, 1, 1, true, false},    {"rsq", 68, 1, 1, true, false},
    {"sqrt", 75, 1, 1, true, false},       {"ult", 79, 1, 2, false, false},
    {"uge", 80, 1, 2, false, false},       {"umax", 83, 1, 2, false, false},
    {"umin", 84, 1, 2, false, false},      {"ushr", 85, 1, 2, false, false},
    {"utof", 86, 1, 1, false, false},      {"xor", 87, 1, 2, false, false},
};

const InstructionInfo* findInstruction(const std::string& name) {
    for (const InstructionInfo& info : kInstructions)
        if (name == info.name) return &info;
    return nullptr;
}

const std::pair<const char*, uint32_t> kSystemValueNames[] = {
    {"position", 1},          {"clip_distance", 2},          {"cull_distance", 3},
    {"rendertarget_array_index", 4}, {"viewport_array_index", 5}, {"vertex_id", 6},
    {"primitive_id", 7},      {"instance_id", 8},            {"is_front_face", 9},
    {"sampleindex", 10},
};

const std::pair<const char*, uint32_t> kSemanticSystemValues[] = {
    {"sv_position", 1},       {"sv_clipdistance", 2},        {"sv_culldistance", 3},
    {"sv_rendertargetarrayindex", 4}, {"sv_viewportarrayindex", 5}, {"sv_vertexid", 6},
    {"sv_primitiveid", 7},    {"sv_instanceid", 8},          {"sv_isfrontface", 9},
    {"sv_sampleindex", 10},   {"sv_target", 0},
};

uint32_t lookup(const std::pair<const char*, uint32_t>* table, size_t count, const std::string& key,
                const char* what) {
    std::string k = lower(key);
    for (size_t i = 0; i < count; ++i)
        if (k == table[i].first) return table[i].second;
    fail(std::string("unknown ") + what + " '" + key + "'");
}

uint32_t systemValueName(const std::string& name) {
    return lookup(kSystemValueNames, std::size(kSystemValueNames), trim(name), "system value");
}

const std::pair<const char*, uint32_t> kInterpolationModes[] = {
    {"constant", 1},
    {"linear", 2},
    {"linear centroid", 3},
    {"linear noperspective", 4},
    {"linear noperspective centroid", 5},
    {"linear sample", 6},
    {"linear noperspective sample", 7},
};

const std::pair<const char*, uint32_t> kInputPrimitives[] = {
    {"point", 1}, {"line", 2}, {"triangle", 3}, {"lineadj", 6}, {"triangleadj", 7},
};

const std::pair<const char*, uint32_t> kOutputTopologies[] = {
    {"pointlist", 1}, {"linestrip", 3}, {"trianglestrip", 5},
};

uint32_t parseCount(const std::string& text, uint32_t limit) {
    uint32_t n = parseU32(trim(text));
    if (n > limit) fail(trim(text) + " is more than " + std::to_string(limit));
    return n;
}

// One declared input or output register, checked against the signatures.
struct DeclaredRegister {
    int line;
    bool input;
    uint32_t reg;
    uint8_t mask;
    uint32_t systemValue;  // from the _siv/_sgv name; 0 for plain declarations
};

class Parser {
public:
    bool run(const std::string& text, Program* program, std::string* error) {
        std::istringstream in(text);
        std::string raw;
        int lineNumber = 0;
        try {
            while (std::getline(in, raw)) {
                ++lineNumber;
                line_ = lineNumber;
                size_t comment = raw.find("//");
                if (comment != std::string::npos) raw.resize(comment);
                std::string l = trim(raw);
                if (l.empty()) continue;
                parseLine(l);
            }
            line_ = lineNumber;
            finish();
        } catch (const std::exception& e) {  // Error, or whatever the library throws
            std::ostringstream message;
            message << "line " << line_ << ": " << e.what();
            *error = message.str();
            return false;
        }
        *program = program_;
        return true;
    }

private:
    void parseLine(const std::string& l) {
        size_t space = l.find_first_of(" \t");
        std::string mnemonic = space == std::string::npos ? l : l.substr(0, space);
        std::string rest = space == std::string::npos ? "" : trim(l.substr(space));
        if (!haveProfile_) {
            parseProfile(mnemonic, rest);
            return;
        }
        if (mnemonic == "input" || mnemonic == "output") {
            if (program_.tokens.size() > 2) fail("signatures come before the program");
            parseSignature(mnemonic == "input", rest);
            return;
        }
        if (mnemonic.rfind("dcl_", 0) == 0) {
            if (sawInstruction_) fail("declarations come before instructions");
            parseDeclaration(mnemonic, rest);
            return;
        }
        sawInstruction_ = true;
        parseInstruction(mnemonic, rest);
    }

    void parseProfile(const std::string& mnemonic, const std::string& rest) {
        if (!rest.empty()) fail("unexpected text after the profile");
        const std::string kinds = "pvg";  // in program type order
        size_t type = mnemonic.empty() ? std::string::npos : kinds.find(mnemonic[0]);
        if (type == std::string::npos || mnemonic.size() != 6 || mnemonic.compare(1, 4, "s_4_") != 0 ||
            (mnemonic[5] != '0' && mnemonic[5] != '1'))
            fail("expected vs_4_0, gs_4_0 or ps_4_0 first, not '" + mnemonic + "'");
        program_.programType = uint32_t(type);
        uint32_t minor = uint32_t(mnemonic[5] - '0');
        program_.tokens.push_back(program_.programType << 16 | 4u << 4 | minor);
        program_.tokens.push_back(0);  // length, set at the end
        haveProfile_ = true;
    }

    // input|output SEMANTIC REGISTER.MASK [read MASK|none] [written MASK|none] [float|int|uint]
    void parseSignature(bool input, const std::string& rest) {
        std::vector<std::string> words = splitWords(rest);
        if (words.size() < 2) fail("a signature element needs a semantic and a register");
        SignatureElement e;
        std::string semantic = words[0];
        size_t digits = semantic.size();
        while (digits > 0 && isdigit(static_cast<unsigned char>(semantic[digits - 1]))) --digits;
        e.name = semantic.substr(0, digits);
        if (e.name.empty()) fail("bad semantic " + semantic);
        if (digits < semantic.size()) e.semanticIndex = parseU32(semantic.substr(digits));
        std::string lowered = lower(e.name);
        if (lowered.rfind("sv_", 0) == 0)
            e.systemValue = lookup(kSemanticSystemValues, std::size(kSemanticSystemValues), e.name, "system value");

        Operand reg = readOperand(words[1]);
        if (reg.type != (input ? kInput : kOutput) || reg.indices.size() != 1 || reg.indices[0].relative)
            fail(std::string("expected a register ") + (input ? "v#" : "o#") + " with a mask: " + words[1]);
        e.reg = reg.indices[0].value;
        e.mask = reg.hasComponents ? parseMask(reg.components) : 0xF;
        uint8_t used = e.mask;  // read (inputs) or written (outputs)
        for (size_t i = 2; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w == "float" || w == "int" || w == "uint") {
                e.componentType = w == "float" ? 3 : w == "int" ? 2 : 1;
            } else if ((w == "read" && input) || (w == "written" && !input)) {
                if (++i == words.size()) fail("missing mask after " + w);
                used = words[i] == "none" ? 0 : parseMask(words[i]);
                if (used & ~e.mask) fail("." + words[i] + " lies outside the element's mask");
            } else {
                fail("unexpected '" + w + "' in a signature element");
            }
        }
        e.readWriteMask = input ? used : uint8_t(0xF & ~used);
        std::vector<SignatureElement>& list = input ? program_.inputs : program_.outputs;
        if (!list.empty() && list.back().reg > e.reg) fail("signature elements go in register order");
        list.push_back(e);
    }

    void emit(uint32_t opcodeToken, const std::vector<uint32_t>& body) {
        size_t length = body.size() + 1;
        if (length > 127) fail("instruction longer than 127 tokens");
        if (plantedFault == PlantedFault::kDeclarationLength && !sawInstruction_ && length > 2) --length;
        program_.tokens.push_back(opcodeToken | uint32_t(length) << 24);
        program_.tokens.insert(program_.tokens.end(), body.begin(), body.end());
    }

    void checkRegister(const Operand& op) {
        for (const Index& i : op.indices)
            if (i.relative && i.relativeTemp >= temps_) fail("r" + std::to_string(i.relativeTemp) + " is not declared");
        if (op.type == kTemp && op.indices[0].value >= temps_)
            fail("r" + std::to_string(op.indices[0].value) + " is not declared (dcl_temps " +
                 std::to_string(temps_) + ")");
        if (op.type == kInput) {
            size_t want = program_.programType == kGeometryProgram ? 2 : 1;
            if (op.indices.size() != want)
                fail(want == 2 ? "geometry shader inputs are v[vertex][register]" : "inputs are v#");
        }
        if (op.type == kOutput && op.indices[0].relative) fail("outputs take no relative index");
        if (op.type == kInput && !declaredInputs_.count(op.indices.back().value))
            fail("v" + std::to_string(op.indices.back().value) + " is not declared");
        if (op.type == kOutput && !declaredOutputs_.count(op.indices[0].value))
            fail("o" + std::to_string(op.indices[0].value) + " is not declared");
        if (op.type == kConstantBuffer) {
            auto slot = constantBuffers_.find(op.indices[0].value);
            if (slot == constantBuffers_.end()) fail("cb" + std::to_string(op.indices[0].value) + " is not declared");
            if (!op.indices[1].relative && op.indices[1].value >= slot->second)
                fail("cb" + std::to_string(slot->first) + "[" + std::to_string(op.indices[1].value) +
                     "] lies beyond the declared " + std::to_string(slot->second) + " registers");
        }
    }

    Operand declaredRegister(const std::string& text, bool input) {
        Operand op = readOperand(text);
        if (op.type != (input ? kInput : kOutput)) fail(std::string("expected an ") + (input ? "input" : "output") + " register");
        for (const Index& i : op.indices)
            if (i.relative) fail("declarations take no relative index");
        size_t want = input && program_.programType == kGeometryProgram ? 2 : 1;
        if (op.indices.size() != want)
            fail(want == 2 ? "geometry shader inputs are declared v[vertices][register]" : "expected v# or o#");
        return op;
    }

    void noteDeclared(const Operand& op, bool input, uint32_t systemValue) {
        DeclaredRegister d;
        d.line = line_;
        d.input = input;
        d.reg = op.indices.back().value;
        d.mask = op.hasComponents ? parseMask(op.components) : 0xF;
        d.systemValue = systemValue;
        declared_.push_back(d);
        (input ? declaredInputs_ : declaredOutputs_).insert(d.reg);
    }

    void parseDeclaration(const std::string& mnemonic, const std::string& rest) {
        uint32_t type = program_.programType;
        std::vector<uint32_t> body;
        if (mnemonic == "dcl_globalFlags") {
            uint32_t flags = 0;
            std::istringstream in(rest);
            std::string flag;
            while (std::getline(in, flag, '|')) {
                if (trim(flag) == "refactoringAllowed") flags |= 1;
                else fail("unknown global flag '" + trim(flag) + "'");
            }
            emit(0x6a | flags << 11, body);
        } else if (mnemonic == "dcl_constantbuffer") {
            std::vector<std::string> parts = splitOperands(rest);
            if (parts.size() != 2) fail("dcl_constantbuffer cb#[size], immediateIndexed|dynamicIndexed");
            Operand op = readOperand(parts[0]);
            if (op.type != kConstantBuffer || op.hasComponents || op.negate || op.absolute || op.indices[1].relative)
                fail("expected cb#[size]");
            uint32_t access;
            if (parts[1] == "immediateIndexed") access = 0;
            else if (parts[1] == "dynamicIndexed") access = 1;
            else fail("unknown access pattern '" + parts[1] + "'");
            if (op.indices[1].value > 4096) fail("a constant buffer holds at most 4096 registers");
            encodeOperand(op, Role::Source, &body);
            if (plantedFault == PlantedFault::kConstantBufferSize) body.back() = 0;
            constantBuffers_[op.indices[0].value] = op.indices[1].value;
            emit(0x59 | access << 11, body);
        } else if (mnemonic == "dcl_input" || mnemonic == "dcl_output") {
            bool input = mnemonic == "dcl_input";
            std::vector<std::string> parts = splitOperands(rest);
            if (parts.size() != 1) fail(mnemonic + " takes one register");
            Operand op = declaredRegister(parts[0], input);
            encodeOperand(op, Role::Declaration, &body);
            noteDeclared(op, input, 0);
            emit(input ? 0x5f : 0x65, body);
        } else if (mnemonic == "dcl_input_siv" || mnemonic == "dcl_input_sgv" || mnemonic == "dcl_output_siv" ||
                   mnemonic == "dcl_output_sgv") {
            bool input = mnemonic.rfind("dcl_input", 0) == 0;
            bool sgv = mnemonic.compare(mnemonic.size() - 3, 3, "sgv") == 0;
            std::vector<std::string> parts = splitOperands(rest);
            if (parts.size() != 2) fail(mnemonic + " takes a register and a system value");
            Operand op = declaredRegister(parts[0], input);
            uint32_t name = systemValueName(parts[1]);
            encodeOperand(op, Role::Declaration, &body);
            body.push_back(name);
            noteDeclared(op, input, name);
            emit(input ? (sgv ? 0x60 : 0x61) : (sgv ? 0x66 : 0x67), body);
        } else if (mnemonic == "dcl_input_ps" || mnemonic == "dcl_input_ps_siv" || mnemonic == "dcl_input_ps_sgv") {
            if (type != kPixelProgram) fail(mnemonic + " belongs to pixel shaders");
            std::vector<std::string> parts = splitOperands(rest);
            bool named = mnemonic != "dcl_input_ps";
            if (parts.size() != (named ? 2u : 1u)) fail(mnemonic + ": wrong number of operands");
            std::vector<std::string> words = splitWords(parts[0]);
            if (words.size() < 2 && mnemonic != "dcl_input_ps_sgv") fail(mnemonic + " needs an interpolation mode");
            std::string regText = words.back();
            words.pop_back();
            std::string mode;
            for (const std::string& w : words) mode += (mode.empty() ? "" : " ") + w;
            uint32_t interpolation =
                mode.empty() ? 0 : lookup(kInterpolationModes, std::size(kInterpolationModes), mode, "interpolation mode");
            Operand op = declaredRegister(regText, true);
            encodeOperand(op, Role::Declaration, &body);
            uint32_t name = 0;
            if (named) {
                name = systemValueName(parts[1]);
                body.push_back(name);
            }
            noteDeclared(op, true, name);
            uint32_t opcode = mnemonic == "dcl_input_ps" ? 0x62 : mnemonic == "dcl_input_ps_sgv" ? 0x63 : 0x64;
            emit(opcode | interpolation << 11, body);
        } else if (mnemonic == "dcl_temps") {
            temps_ = parseCount(rest, 4096);
            body.push_back(temps_);
            emit(0x68, body);
        } else if (mnemonic == "dcl_inputprimitive" || mnemonic == "dcl_outputtopology" || mnemonic == "dcl_maxout") {
            if (type != kGeometryProgram) fail(mnemonic + " belongs to geometry shaders");
            if (mnemonic == "dcl_maxout") {
                body.push_back(parseCount(rest, 1024));
                emit(0x5e, body);
            } else if (mnemonic == "dcl_inputprimitive") {
                emit(0x5d | lookup(kInputPrimitives, std::size(kInputPrimitives), rest, "input primitive") << 11, body);
            } else {
                emit(0x5c | lookup(kOutputTopologies, std::size(kOutputTopologies), rest, "output topology") << 11, body);
            }
        } else {
            fail("unknown declaration " + mnemonic);
        }
    }

    void parseInstruction(const std::string& mnemonic, const std::string& rest) {
        std::string name = mnemonic;
        bool saturate = false;
        int test = -1;  // -1 none, 0 zero, 1 non-zero
        const InstructionInfo* info = findInstruction(name);
        if (!info && name.size() > 4 && name.compare(name.size() - 4, 4, "_sat") == 0) {
            saturate = true;
            name.resize(name.size() - 4);
            info = findInstruction(name);
        } else if (!info && name.size() > 3 && name.compare(name.size() - 3, 3, "_nz") == 0) {
            test = 1;
            name.resize(name.size() - 3);
            info = findInstruction(name);
        } else if (!info && name.size() > 2 && name.compare(name.size() - 2, 2, "_z") == 0) {
            test = 0;
            name.resize(name.size() - 2);
            info = findInstruction(name);
        }
        if (!info) fail("unknown instruction " + mnemonic);
        if (saturate && !info->saturate) fail(name + " takes no _sat");
        if (info->test && test < 0) fail(name + " needs _z or _nz");
        if (!info->test && test >= 0) fail(name + " takes no _z or _nz");
        if (program_.programType != kGeometryProgram &&
            (info->opcode == 9 || info->opcode == 19))
            fail(name + " belongs to geometry shaders");
        if (program_.programType != kPixelProgram && info->opcode == 13) fail("discard belongs to pixel shaders");

        std::vector<std::string> parts = rest.empty() ? std::vector<std::string>() : splitOperands(rest);
        if (int(parts.size()) != info->destinations + info->sources)
            fail(name + " takes " + std::to_string(info->destinations + info->sources) + " operands");
        std::vector<uint32_t> body;
        for (size_t i = 0; i < parts.size(); ++i) {
            Operand op = readOperand(parts[i]);
            bool destination = int(i) < info->destinations;
            if (destination && op.type != kTemp && op.type != kOutput && op.type != kNull)
                fail("the destination must be r#, o# or null");
            if (op.type == kNull && !destination) fail("null can only be a destination");
            if (op.type != kImmediate32 && op.type != kNull) checkRegister(op);
            encodeOperand(op, destination ? Role::Destination : Role::Source, &body);
        }

        switch (info->opcode) {
            case 48: nesting_.push_back('l'); break;  // loop
            case 31: nesting_.push_back('i'); break;  // if
            case 18:                                   // else
                if (nesting_.empty() || nesting_.back() != 'i') fail("else without if");
                nesting_.back() = 'e';
                break;
            case 21:  // endif
                if (nesting_.empty() || nesting_.back() == 'l') fail("endif without if");
                nesting_.pop_back();
                break;
            case 22:  // endloop
                if (nesting_.empty() || nesting_.back() != 'l') fail("endloop without loop");
                nesting_.pop_back();
                break;
            case 2: case 3: case 7: case 8:  // break, breakc, continue, continuec
                if (std::find(nesting_.begin(), nesting_.end(), 'l') == nesting_.end()) fail(name + " outside a loop");
                break;
            default: break;
        }
        lastOpcode_ = info->opcode;
        uint32_t controls = (saturate ? 1u << 13 : 0) | (test == 1 ? 1u << 18 : 0);
        emit(info->opcode | controls, body);
    }

    void finish() {
        if (!haveProfile_) fail("empty program");
        if (!nesting_.empty()) fail("unclosed loop or if");
        if (lastOpcode_ != 62) fail("the program must end with ret");
        for (const DeclaredRegister& d : declared_) {
            const std::vector<SignatureElement>& list = d.input ? program_.inputs : program_.outputs;
            bool found = false;
            for (const SignatureElement& e : list) {
                if (e.reg == d.reg && !(d.mask & ~e.mask) && d.systemValue == e.systemValue) found = true;
            }
            if (!found) {
                line_ = d.line;
                fail(std::string("no ") + (d.input ? "input" : "output") +
                     " signature element covers this register and mask");
            }
        }
        program_.tokens[1] = uint32_t(program_.tokens.size());
    }

    Program program_;
    int line_ = 0;
    bool haveProfile_ = false;
    bool sawInstruction_ = false;
    uint32_t temps_ = 0;
    uint32_t lastOpcode_ = ~0u;
    std::string nesting_;
    std::vector<DeclaredRegister> declared_;
    std::set<uint32_t> declaredInputs_;
    std::set<uint32_t> declaredOutputs_;
    std::map<uint32_t, uint32_t> constantBuffers_;  // slot, registers
};

}  // namespace

bool parseProgram(const std::string& text, Program* program, std::string* error) {
    return Parser().run(text, program, error);
}

bool assemble(const std::string& text, std::vector<uint8_t>* blob, std::string* error) {
    Program program;
    if (!parseProgram(text, &program, error)) return false;
    *blob = buildBlob(program);
    return true;
}

void plantFault(PlantedFault fault) {
    plantedFault = fault;
}

}  // namespace sm4
