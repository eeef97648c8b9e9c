#pragma once
// Standard base64 (RFC 4648 alphabet, "=" fill to a multiple of four characters).
#include <optional>
#include <string>
#include <string_view>

namespace hb {

// The decoded bytes; nullopt for a character outside the alphabet, a length that is not a
// multiple of four, or misplaced "=" fill. No white space is skipped.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);
// Appends the encoding to out, written in place (large bodies are encoded without a copy).
void AppendBase64(std::string& out, std::string_view bytes);

} // namespace hb
