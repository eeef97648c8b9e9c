#pragma once
// Notices that the browser's executable was replaced on disk while the browser runs. On Linux the
// distribution upgrades Chromium under a running program: the running browser keeps the old code
// (and its security holes) for as long as it lives, and may no longer start renderers against the
// replaced files. The window takes the new version at a quiet moment once told.
#include <glib.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

namespace hb::lin {

// What tells one file at a path from the next: a package upgrade writes the new file beside the
// old and renames it over, so the device and inode change; a rewrite in place changes the size or
// the modification time.
struct TFileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  int64_t ModifiedNs = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// False when the file cannot be read now (for example in the moment of its replacement).
bool FileIdentityOf(const std::string& path, TFileIdentity& out);

// How often the executable is looked at: one stat of one file, cheap, and an upgrade waits for a
// quiet moment anyway.
constexpr uint32_t kUpgradeCheckMs = 30000;

class TChromiumUpgradeWatch {
 public:
  TChromiumUpgradeWatch() = default;
  TChromiumUpgradeWatch(const TChromiumUpgradeWatch&) = delete;
  TChromiumUpgradeWatch& operator=(const TChromiumUpgradeWatch&) = delete;
  ~TChromiumUpgradeWatch() { Stop(); }

  // Watches the executable a browser is being started from (a symbolic link is followed to the
  // file it names, which is what a package replaces). `replaced` runs once, on the main loop, when
  // another file stands there; a later Watch (the next browser) starts over.
  void Watch(const std::string& executable, uint32_t periodMs, std::function<void()> replaced);
  void Stop();
  // Looks now; true when the file was found replaced (and `replaced` has run).
  bool Check();

 private:
  static gboolean Tick(gpointer self);

  std::string FPath;
  TFileIdentity FIdentity;
  std::function<void()> FReplaced;
  unsigned FSource = 0;
};

} // namespace hb::lin
