// GBK decoding reads settings files that shop staff saved in any editor, and file-name keys see
// every entry name of an update package: whatever the bytes, both must give valid UTF-8, and a
// name must share its key with its own upper-case ASCII spelling.
#include <glib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "LinuxSystem.h"

// glib refuses NUL bytes inside a length-bounded check; they are valid UTF-8 all the same.
static bool ValidUtf8(const std::string& s) {
  size_t start = 0;
  for (;;) {
    size_t nul = s.find('\0', start);
    size_t end = nul == std::string::npos ? s.size() : nul;
    if (!g_utf8_validate(s.data() + start, static_cast<gssize>(end - start), nullptr)) return false;
    if (nul == std::string::npos) return true;
    start = nul + 1;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static hb::TLinuxSystem sys;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string text = sys.DecodeGbk(bytes);
  if (!ValidUtf8(text)) std::abort();
  // Every ASCII byte but NUL decodes to itself, so nothing shorter than the ASCII part comes out.
  if (text.size() < bytes.size() / 2) std::abort();

  std::string key = sys.FileNameKey(bytes);
  if (!ValidUtf8(key)) std::abort();
  std::string upper = bytes;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (sys.FileNameKey(upper) != key) std::abort();
  // NULs are kept: a name never shares its key with a shorter one cut at a NUL.
  if (std::count(bytes.begin(), bytes.end(), '\0') != std::count(key.begin(), key.end(), '\0'))
    std::abort();
  return 0;
}
