#include "FakeSystem.h"

#include <cstdio>

#include "FileUtil.h"
#include "update/uHallBoardUpdate.h"

namespace hb::test {

std::string TFakeSystem::NewGuid() {
  char buf[40];
  int n = ++GuidCounter;
  std::snprintf(buf, sizeof buf, "00000000-0000-4000-8000-%012x", n);
  return buf;
}

bool TFakeSystem::LaunchInstaller(const std::string& scriptPath) {
  Launched.push_back(scriptPath);
  if (LaunchResult && AnnounceStart) WriteFileBytes(InstallerStartedMarker(scriptPath), "");
  return LaunchResult;
}

std::string TFakeSystem::FileNameKey(const std::string& name) {
  std::string out;
  for (char c : name) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

} // namespace hb::test
