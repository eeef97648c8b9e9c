#pragma once
// ISystem over kernel32, ole32, shell32: clocks, folders, identity, keep-awake, installer launch.
#include "ISystem.h"

namespace hb::win {

class TWin32System : public ISystem {
 public:
  uint64_t TickCount64() override;
  int64_t UtcNowUnixMs() override;
  TLocalTime LocalNow() override;
  std::string NewGuid() override;
  std::string ExeFolder() override;
  std::string TempFolder() override;
  std::string LocalAppData() override;
  uint32_t ProcessId() override;
  void KeepAwake(bool on) override;
  bool LaunchInstaller(const std::string& scriptPath) override;
  bool FileLockedElsewhere(const std::string& path) override;
  std::string FileNameKey(const std::string& name) override;
  std::string DecodeGbk(const std::string& bytes) override;
};

// The parameters handed to powershell.exe for an installer script.
std::wstring InstallerParameters(const std::wstring& scriptPath);
// Windows PowerShell by its full path in the system folder; empty when that folder is unknown.
std::wstring WindowsPowerShellPath();

} // namespace hb::win
