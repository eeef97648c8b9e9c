#include "signature/Base64.h"

#include <cstdint>

namespace hb {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

} // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t fill = 0;
  if (!text.empty() && text.back() == '=') fill = text[text.size() - 2] == '=' ? 2 : 1;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    uint32_t group = 0;
    for (size_t k = 0; k < 4; ++k) {
      char c = text[i + k];
      int d;
      if (c == '=' && last && k >= 4 - fill)
        d = 0;
      else if ((d = Digit(c)) < 0)
        return std::nullopt;
      group = group << 6 | static_cast<uint32_t>(d);
    }
    out += static_cast<char>(group >> 16);
    if (!(last && fill == 2)) out += static_cast<char>(group >> 8 & 0xff);
    if (!(last && fill >= 1)) out += static_cast<char>(group & 0xff);
  }
  return out;
}

void AppendBase64(std::string& out, std::string_view bytes) {
  size_t at = out.size();
  out.resize(at + (bytes.size() + 2) / 3 * 4);
  char* o = out.data() + at;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
    *o++ = kAlphabet[group >> 18 & 63];
    *o++ = kAlphabet[group >> 12 & 63];
    *o++ = n > 1 ? kAlphabet[group >> 6 & 63] : '=';
    *o++ = n > 2 ? kAlphabet[group & 63] : '=';
  }
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  AppendBase64(out, bytes);
  return out;
}

} // namespace hb
