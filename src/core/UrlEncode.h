#pragma once
// Encoding a text as a URL query value.
#include <string>
#include <string_view>

namespace hb {

// ASCII letters, digits and ! $ ' ( ) * - . @ _ stay; a blank becomes "+"; every other byte of
// the UTF-8 text becomes "%" and two upper-case hexadecimal digits (so a character beyond the
// basic plane is its four bytes, one character).
std::string UrlEncode(std::string_view utf8);

} // namespace hb
