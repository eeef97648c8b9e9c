#pragma once
// POSIX and glib services behind ISystem.
#include <functional>
#include <string>
#include <vector>

#include "ISystem.h"

namespace hb {

// The installer's command line: `/bin/sh scriptPath`, inside a systemd service wrapped in
// `systemd-run --user --scope` so that the installer leaves the service's control group.
std::vector<std::string> InstallerCommand(const std::string& scriptPath);
// Whether another open of the file holds an exclusive flock on it (TLinuxSystem's answer).
bool FileFlockedElsewhere(const std::string& path);

class TLinuxSystem : public ISystem {
 public:
  // Set by the GTK program: inhibits idle and suspend for the session while on. Default: nothing.
  std::function<void(bool)> OnKeepAwake;

  uint64_t TickCount64() override;
  int64_t UtcNowUnixMs() override;
  TLocalTime LocalNow() override;
  std::string NewGuid() override;
  std::string ExeFolder() override;
  std::string TempFolder() override;
  // $LOCALAPPDATA when set, else $XDG_DATA_HOME, else $HOME/.local/share (no trailing "/").
  std::string LocalAppData() override;
  uint32_t ProcessId() override;
  void KeepAwake(bool on) override;
  // Runs InstallerCommand fully detached: its own session, stdio on /dev/null, no inherited
  // descriptors, so it outlives the program it is about to replace.
  bool LaunchInstaller(const std::string& scriptPath) override;
  bool FileLockedElsewhere(const std::string& path) override { return FileFlockedElsewhere(path); }
  // Full Unicode case folding, then NFC. So "Straße" and "STRASSE" share a key, as do Greek
  // "Σ", "σ" and "ς"; Turkish "İ" (U+0130) folds to "i" + U+0307 and stays apart from "I"/"i",
  // and dotless "ı" stays apart from both. Invalid UTF-8 is first made valid (U+FFFD).
  std::string FileNameKey(const std::string& name) override;
  std::string DecodeGbk(const std::string& bytes) override;
  void TrimMemory() override;
};

} // namespace hb
