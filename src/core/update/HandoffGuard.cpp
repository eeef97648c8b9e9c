// The guard against a restart loop. A release that installs but cannot stay running is rolled
// back by the installer, the old program starts again, and ten seconds later the gateway offers
// the same release again. Without a memory of that, a display would download and restart for
// ever. So the version code last handed to the installer is kept in the per-user folder, and an
// offer of that same code, while the installed code is still older, is taken as a failed
// installation and skipped for a while: an hour, doubling with every further failure, at most a
// day. A newer code is tried at once.
#include <algorithm>
#include <charconv>
#include <string_view>

#include "FileUtil.h"
#include "settings/Settings.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

constexpr const char* kHandoffFileName = "update-handoff.txt";
constexpr int64_t kHourMs = 3600LL * 1000;
constexpr int64_t kDayMs = 24 * kHourMs;

bool ReadNumber(std::string_view& text, int64_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

} // namespace

THandoffRecord ReadHandoffRecord() {
  THandoffRecord r;
  std::optional<std::string> bytes =
      ReadFileBytes(JoinPath(AppDataFolder(), kHandoffFileName), 256);
  if (!bytes) return r;
  std::string_view text(*bytes);
  THandoffRecord got;
  if (!ReadNumber(text, got.VersionCode) || !ReadNumber(text, got.Count) ||
      !ReadNumber(text, got.AtUnixMs) || got.Count < 1)
    return r; // unreadable: no memory, which at worst costs one more attempt
  return got;
}

void WriteHandoffRecord(const THandoffRecord& r) {
  WriteFileBytes(JoinPath(AppDataFolder(), kHandoffFileName),
                 std::to_string(r.VersionCode) + " " + std::to_string(r.Count) + " " +
                     std::to_string(r.AtUnixMs) + "\n");
}

int64_t HandoffPauseMs(int64_t failures) {
  int64_t pause = kHourMs;
  for (int64_t i = 1; i < failures && pause < kDayMs; ++i) pause *= 2;
  return std::min(pause, kDayMs);
}

int64_t HandoffWaitLeftMs(int64_t versionCode, int64_t nowUnixMs) {
  THandoffRecord r = ReadHandoffRecord();
  if (r.VersionCode != versionCode) return 0;
  if (nowUnixMs < r.AtUnixMs) {
    // The clock went back: count the pause from now, so it still ends.
    r.AtUnixMs = nowUnixMs;
    WriteHandoffRecord(r);
  }
  const int64_t left = HandoffPauseMs(r.Count) - (nowUnixMs - r.AtUnixMs);
  return left > 0 ? left : 0;
}

void RememberHandoff(int64_t versionCode, int64_t nowUnixMs) {
  THandoffRecord r = ReadHandoffRecord();
  r.Count = r.VersionCode == versionCode ? r.Count + 1 : 1;
  r.VersionCode = versionCode;
  r.AtUnixMs = nowUnixMs;
  WriteHandoffRecord(r);
}

} // namespace hb
