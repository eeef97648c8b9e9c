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

} // namespace hb
