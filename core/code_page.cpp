#include "core/code_page.h"

namespace {

bool isContinuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// Number of continuation bytes a UTF-8 lead byte announces, 0 for no lead.
uint32_t continuationsAfter(unsigned char byte) {
    if (byte >= 0xC0 && byte <= 0xDF) return 1;
    if (byte >= 0xE0 && byte <= 0xEF) return 2;
    if (byte >= 0xF0 && byte <= 0xF7) return 3;
    return 0;
}

bool startsUtf8Sequence(const unsigned char* bytes, uint32_t position, uint32_t length) {
    uint32_t needed = continuationsAfter(bytes[position]);
    if (needed == 0 || needed >= length - position) return false;
    for (uint32_t i = 1; i <= needed; ++i)
        if (!isContinuation(bytes[position + i])) return false;
    return true;
}

}  // namespace

uint32_t detectCodePage(const char* text, uint32_t length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    uint32_t highBytes = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (startsUtf8Sequence(bytes, i, length)) return kCodePageUtf8;
        if (bytes[i] >= 0xC0) ++highBytes;
    }
    return highBytes >= static_cast<uint64_t>(length) * 3 / 4 ? kCodePageCyrillic : kCodePageSystem;
}

Utf16* widenCountedText(const CountedText* text, Utf16* destination) {
    if (text->length == 0) return destination;
    uint32_t codePage = text->codePage ? text->codePage : detectCodePage(text->bytes, text->length);
    return destination + widenInCodePage(codePage, text->bytes, text->length, destination);
}
