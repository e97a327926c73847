// Names and dates read from files are 8-bit text in an unknown code page.
#pragma once
#include <cstdint>
#include "core/status.h"

constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePageCyrillic = 1251;
constexpr uint32_t kCodePageSystem = 0;

// UTF-8 when any well-formed multi-byte lead appears, Cyrillic when at least
// three quarters of the bytes are 0xC0 or above, else the system code page.
uint32_t detectCodePage(const char* bytes, uint32_t length);

// Writes at most text->length units, no terminator; returns the position after them.
Utf16* widenCountedText(const CountedText* text, Utf16* destination);
