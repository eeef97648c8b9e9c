// hallBoard.ini comes from whatever a shop's editor saved. Any bytes must read as settings
// within their ranges, as valid UTF-8, trimmed as the rules say; never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "LinuxSystem.h"
#include "Platform.h"
#include "Utf8.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckText(const std::string& s) {
  Check(hb::IsValidUtf8(s));
  Check(hb::TrimBlanks(s).size() == s.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static hb::TLinuxSystem system; // the real GBK decoder
  hb::InstallPlatform(&system, nullptr);
  const std::string_view bytes(data ? reinterpret_cast<const char*>(data) : "", data ? size : 0);

  const hb::TSettings s = hb::ParseSettings(bytes);
  Check(s.GatewayPort >= 1 && s.GatewayPort <= 65535);
  CheckText(s.Gateway);
  CheckText(s.MapWant);
  CheckText(s.NetBarOverride);
  // Trimmed first, then stripped of its trailing slashes: blanks before a slash may stay.
  Check(hb::IsValidUtf8(s.ServerOverride));
  Check(hb::TrimBlanks(s.ServerOverride).data() == s.ServerOverride.data());
  Check(s.ServerOverride.empty() || s.ServerOverride.back() != '/');

  // A number that converts converts back from its decimal text to the same value.
  int32_t n = 0;
  if (hb::ParseIniInteger(bytes, n)) {
    int32_t again = 0;
    Check(hb::ParseIniInteger(std::to_string(n), again) && again == n);
  }
  return 0;
}
