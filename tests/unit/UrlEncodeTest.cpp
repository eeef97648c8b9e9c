// Query-value encoding: what stays, the blank, and every other byte as upper-case %XX.
#include <gtest/gtest.h>

#include "UrlEncode.h"

namespace hb {
namespace {

TEST(UrlEncode, Table) {
  const struct {
    std::string In;
    const char* Out;
  } kCases[] = {
      {"", ""},
      {"AZaz09", "AZaz09"},
      {"!$'()*-.@_", "!$'()*-.@_"},
      {" ", "+"},
      {"1001 机", "1001+%E6%9C%BA"},
      {"&=+/?#%~", "%26%3D%2B%2F%3F%23%25%7E"},
      {",;:\"<>[]{}|\\^`", "%2C%3B%3A%22%3C%3E%5B%5D%7B%7D%7C%5C%5E%60"},
      {"\xF0\x9F\x98\x80", "%F0%9F%98%80"}, // beyond the basic plane: one character, four bytes
      {std::string("a\0b", 3), "a%00b"},
      {"\r\n\t", "%0D%0A%09"},
      {"\x7f\xff", "%7F%FF"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Out);
    EXPECT_EQ(UrlEncode(c.In), c.Out);
  }
}

} // namespace
} // namespace hb
