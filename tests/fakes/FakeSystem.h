#pragma once
// ISystem for tests: a settable clock and folders, recorded installer launches.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ISystem.h"

namespace hb::test {

class TFakeSystem : public ISystem {
 public:
  std::atomic<uint64_t> Tick{1000000};
  std::atomic<int64_t> UtcMs{1765324800000}; // 2025-12-10 00:00:00 UTC
  TLocalTime Local{2026, 12, 10, 9, 30, 0};
  std::string Exe = "/tmp/hb-exe/";
  std::string Temp = "/tmp/hb-temp/";
  std::string AppData = "/tmp/hb-appdata";
  uint32_t Pid = 4242;
  bool Awake = false;
  bool LaunchResult = true;
  // A launched script announces its start at once, as a real one does first thing.
  bool AnnounceStart = true;
  std::vector<std::string> Launched;
  int GuidCounter = 0;
  std::atomic<int> Trims{0};
  // Tests that run a real installer put the shell's real lock check here; default: nothing locked.
  std::function<bool(const std::string&)> LockCheck;

  uint64_t TickCount64() override { return Tick.load(); }
  int64_t UtcNowUnixMs() override { return UtcMs.load(); }
  TLocalTime LocalNow() override {
    std::lock_guard<std::mutex> lock(FMutex);
    return Local;
  }
  void SetLocal(const TLocalTime& t) {
    std::lock_guard<std::mutex> lock(FMutex);
    Local = t;
  }
  std::string NewGuid() override;
  std::string ExeFolder() override { return Exe; }
  std::string TempFolder() override { return Temp; }
  std::string LocalAppData() override { return AppData; }
  uint32_t ProcessId() override { return Pid; }
  void KeepAwake(bool on) override { Awake = on; }
  bool LaunchInstaller(const std::string& scriptPath) override;
  bool FileLockedElsewhere(const std::string& path) override {
    return LockCheck && LockCheck(path);
  }
  // ASCII and Latin-1/Greek/Cyrillic simple folding is enough for the tests that use the fake.
  std::string FileNameKey(const std::string& name) override;
  std::string DecodeGbk(const std::string& bytes) override { return bytes; }
  void TrimMemory() override { ++Trims; }

 private:
  std::mutex FMutex;
};

} // namespace hb::test
