#include "settings/IniFile.h"

#include <limits>
#include <unordered_set>

#include "Platform.h"
#include "Utf8.h"

namespace hb {

namespace {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

} // namespace

std::string_view TrimBlanks(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
  return text.substr(b, e - b);
}

std::string DecodeIniBytes(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE") return Utf16LeToUtf8(bytes.substr(2));
  // The UTF-8 mark states the encoding, so a damaged byte after it stays one U+FFFD instead of
  // turning the whole file into GBK mojibake.
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return SanitizeUtf8(bytes.substr(3));
  if (IsValidUtf8(bytes)) return std::string(bytes);
  try {
    return SanitizeUtf8(System().DecodeGbk(std::string(bytes)));
  } catch (...) {
    // No platform to decode with: keep what ASCII there is, which holds every key we read.
    return SanitizeUtf8(bytes);
  }
}

bool ParseIniInteger(std::string_view text, int32_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (text.substr(i, 1) == "$") {
    base = 16;
    i += 1;
  } else if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit =
        base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * base + digit;
    if (magnitude > int64_t{1} << 31) return false;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    return false;
  out = static_cast<int32_t>(value);
  return true;
}

TIniFile TIniFile::FromBytes(std::string_view bytes) {
  return FromText(DecodeIniBytes(bytes));
}

TIniFile TIniFile::FromText(std::string_view text) {
  TIniFile ini;
  TSection* current = nullptr; // null before the first section and inside a repeated one
  std::unordered_set<std::string> seenSections;
  size_t pos = 0;
  while (pos <= text.size()) {
    // Lines end with CR LF, LF or a lone CR, whichever editor saved the file.
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = TrimBlanks(text.substr(pos, end - pos));
    pos = end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      const std::string_view name = TrimBlanks(line.substr(1, line.size() - 2));
      current = nullptr;
      if (seenSections.insert(LowerAscii(name)).second) {
        ini.FSections.push_back({std::string(name), {}});
        current = &ini.FSections.back();
      }
      continue;
    }
    if (!current) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = TrimBlanks(line.substr(0, eq));
    const std::string_view value = TrimBlanks(line.substr(eq + 1));
    // Kept in file order; a lookup takes the first match, so a repeated key loses.
    current->Values.emplace_back(std::string(key), std::string(value));
  }
  return ini;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& def) const {
  for (const TSection& s : FSections) {
    if (!EqualsNoCase(s.Name, section)) continue;
    for (const auto& kv : s.Values)
      if (EqualsNoCase(kv.first, key)) return kv.second;
    return def;
  }
  return def;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  int32_t n = 0;
  return ParseIniInteger(ReadString(section, key), n) ? n : def;
}

} // namespace hb
