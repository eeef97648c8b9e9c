// The browser executable's identity, looked at now and then on the main loop.
#include "ChromiumUpgradeWatch.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "UiGuard.h"
#include "shell/DiagnosticLog.h"

namespace hb::lin {

bool FileIdentityOf(const std::string& path, TFileIdentity& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  out.Device = st.st_dev;
  out.Inode = st.st_ino;
  out.Size = st.st_size;
  out.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

void TChromiumUpgradeWatch::Watch(const std::string& executable, uint32_t periodMs,
                                  std::function<void()> replaced) {
  Stop();
  char resolved[PATH_MAX];
  FPath = realpath(executable.c_str(), resolved) ? std::string(resolved) : executable;
  // A file we cannot read now gives nothing to compare with: no watch for this browser.
  if (!FileIdentityOf(FPath, FIdentity)) return;
  FReplaced = std::move(replaced);
  FSource = g_timeout_add(periodMs ? periodMs : 1, &TChromiumUpgradeWatch::Tick, this);
}

void TChromiumUpgradeWatch::Stop() {
  if (FSource) g_source_remove(FSource);
  FSource = 0;
  FReplaced = nullptr;
}

bool TChromiumUpgradeWatch::Check() {
  TFileIdentity now;
  // Missing for the moment: a replacement under way; the next look decides.
  if (!FReplaced || !FileIdentityOf(FPath, now) || now == FIdentity) return false;
  // For support staff: why the browser will start anew at the next quiet moment.
  WriteLog("浏览器程序 " + FPath + " 已被更换，将在空闲时换用新版本");
  auto replaced = std::move(FReplaced);
  Stop();
  replaced();
  return true;
}

gboolean TChromiumUpgradeWatch::Tick(gpointer p) {
  auto* self = static_cast<TChromiumUpgradeWatch*>(p);
  bool done = false;
  CallbackGuarded([&] { done = self->Check(); });
  if (done) return G_SOURCE_REMOVE; // Stop has already forgotten the source
  return G_SOURCE_CONTINUE;
}

} // namespace hb::lin
