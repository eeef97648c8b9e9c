#pragma once
// UTF-8 checks and conversions for text that arrives from outside (files, answers).
#include <cstdint>
#include <string>
#include <string_view>

namespace hb {

// Decodes one UTF-8 sequence at text[i] and advances i past it. A malformed or overlong
// sequence, a surrogate or a value past U+10FFFF gives U+FFFD and advances one byte, so every
// byte is consumed exactly once and decoding always ends.
uint32_t NextCodePoint(std::string_view text, size_t& i);
void AppendUtf8(std::string& out, uint32_t codePoint);

bool IsValidUtf8(std::string_view text);
// The text with every malformed sequence replaced by U+FFFD (EF BF BD); valid text unchanged.
std::string SanitizeUtf8(std::string_view text);
// UTF-16 little-endian bytes to UTF-8; an unpaired surrogate or a trailing odd byte gives U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes);

} // namespace hb
