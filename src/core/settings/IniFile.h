#pragma once
// The reader of hallBoard.ini, which shop staff edit with Notepad. Rules:
//   - each line is trimmed; empty lines and lines starting with ";" are skipped;
//   - "[name]" starts a section (name trimmed); a section that occurs again is skipped whole;
//   - in a section, a line splits at its first "=" into key and value, each trimmed; lines
//     before the first section and lines without "=" are skipped; of a key repeated in one
//     section the first occurrence counts, as with sections;
//   - section and key names compare without regard to (ASCII) letter case.
// Decoding: a file starting with the UTF-16 LE byte-order mark is UTF-16; a file starting with
// the UTF-8 byte-order mark, or valid as UTF-8, is UTF-8; anything else is GBK (code page 936,
// what an older Notepad saves as "ANSI" on Chinese Windows), decoded by the platform.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hb {

class TIniFile {
 public:
  // From the file's raw bytes (decoded as above).
  static TIniFile FromBytes(std::string_view bytes);
  // From UTF-8 text.
  static TIniFile FromText(std::string_view text);

  // The value of a key, or def when the section or key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         const std::string& def = {}) const;
  // The value converted as a whole number (see ParseIniInteger), or def when missing, empty or
  // not convertible.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;

 private:
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Values;
  };
  std::vector<TSection> FSections;
};

// The file's bytes as UTF-8 text, by the decoding rules above (byte-order marks removed).
std::string DecodeIniBytes(std::string_view bytes);

// A 32-bit whole number: optional sign, then decimal digits, or hexadecimal after "0x", "0X" or
// "$". The whole text must convert and the value must fit in 32 signed bits.
bool ParseIniInteger(std::string_view text, int32_t& out);

// Removes the blanks and control characters (everything up to U+0020) around a text.
std::string_view TrimBlanks(std::string_view text);

} // namespace hb
