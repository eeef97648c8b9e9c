// POSIX and glib services behind ISystem. Depends on glibc (iconv, getrandom) and glib-2.0.
#include "LinuxSystem.h"

#include <fcntl.h>
#include <glib.h>
#include <iconv.h>
#include <malloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

namespace hb {

namespace {

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool RandomBytes(unsigned char* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = getrandom(out + got, n - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    got += static_cast<size_t>(r);
  }
  if (got == n) return true;
  // Kernels without getrandom: the device gives the same bytes.
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  got = 0;
  while (got < n) {
    ssize_t r = read(fd, out + got, n - got);
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      break;
    }
    got += static_cast<size_t>(r);
  }
  close(fd);
  return got == n;
}

} // namespace

uint64_t TLinuxSystem::TickCount64() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

int64_t TLinuxSystem::UtcNowUnixMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

TLocalTime TLinuxSystem::LocalNow() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string TLinuxSystem::NewGuid() {
  unsigned char b[16];
  if (!RandomBytes(b, sizeof b)) return {};
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return buf;
}

std::string TLinuxSystem::ExeFolder() {
  std::string path(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
  path.resize(static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TLinuxSystem::TempFolder() {
  std::string folder = Env("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  // The real path, as Windows gives the long form: what the log and installer show is the
  // folder as it is, not a symbolic link to it.
  std::unique_ptr<char, decltype(&std::free)> real(realpath(folder.c_str(), nullptr), std::free);
  if (real) return WithSlash(real.get());
  return folder == "/tmp" ? "/tmp/" : WithSlash(folder);
}

std::string TLinuxSystem::LocalAppData() {
  // A relative folder would be resolved against whatever folder the program was started in.
  std::string v = Env("LOCALAPPDATA");
  if (!v.empty() && v[0] == '/') return v;
  // XDG: a relative value is invalid and must be ignored.
  v = Env("XDG_DATA_HOME");
  if (!v.empty() && v[0] == '/') return v;
  std::string home = Env("HOME");
  if (home.empty()) home = g_get_home_dir() ? g_get_home_dir() : "";
  if (home.empty() || home[0] != '/') {
    // No home at all: still an absolute folder, never a relative one.
    std::string temp = g_get_tmp_dir();
    return temp.empty() ? std::string("/tmp") : temp;
  }
  if (home.back() == '/') home.pop_back();
  return home + "/.local/share";
}

bool FileFlockedElsewhere(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  // A shared lock is refused exactly while some other open holds the exclusive one.
  bool held = false;
  while (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    held = errno == EWOULDBLOCK;
    break;
  }
  close(fd); // also drops our own shared lock
  return held;
}

uint32_t TLinuxSystem::ProcessId() {
  return static_cast<uint32_t>(getpid());
}

void TLinuxSystem::KeepAwake(bool on) {
  if (OnKeepAwake) OnKeepAwake(on);
}

std::vector<std::string> InstallerCommand(const std::string& scriptPath) {
  // Under a systemd service (hallBoard.service) the installer must not stay in the service's
  // control group: when the program exits for the update the service ends, and systemd kills
  // what is left in it, installer included, half-way. A scope of its own outside the service
  // lets it finish and start the new program; without systemd it runs as it is.
  const char* invocation = g_getenv("INVOCATION_ID");
  if (invocation && *invocation) {
    std::unique_ptr<gchar, decltype(&g_free)> run(g_find_program_in_path("systemd-run"), g_free);
    if (run)
      return {run.get(), "--user", "--scope", "--quiet", "--collect", "--", "/bin/sh", scriptPath};
  }
  return {"/bin/sh", scriptPath};
}

bool TLinuxSystem::LaunchInstaller(const std::string& scriptPath) {
  if (scriptPath.empty()) return false;
  // Everything the children need is made before fork: after it only system calls are safe.
  std::vector<std::string> words = InstallerCommand(scriptPath);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) return false;

  pid_t child = fork();
  if (child < 0) {
    close(status[0]);
    close(status[1]);
    return false;
  }
  if (child == 0) {
    // First child: a new session, then the real child, then leave at once so the script is
    // adopted by init and never becomes our zombie.
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    sigset_t all;
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
    signal(SIGPIPE, SIG_DFL);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    // Keep only stdio and the status pipe (moved to 3, closed by exec).
    if (dup2(status[1], 3) == 3) fcntl(3, F_SETFD, FD_CLOEXEC);
    close_range(4, ~0U, 0);
    (void)!chdir("/");
    execv(argv[0], argv.data());
    int error = errno;
    (void)!write(3, &error, sizeof error);
    _exit(127);
  }
  close(status[1]);
  int childStatus = 0;
  while (waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes without a word when exec succeeds; an errno arrives when it failed.
  int error = 0;
  ssize_t n;
  while ((n = read(status[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(status[0]);
  return WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0 && n == 0;
}

std::string TLinuxSystem::FileNameKey(const std::string& name) {
  // glib's text functions stop at a NUL; a name from a package may carry one, so each piece
  // between NULs is keyed on its own and the NULs are kept, never letting "a\0b" meet "a\0c".
  std::string key;
  size_t start = 0;
  for (;;) {
    size_t nul = name.find('\0', start);
    size_t end = nul == std::string::npos ? name.size() : nul;
    if (end > start) {
      std::unique_ptr<gchar, decltype(&g_free)> valid(
          g_utf8_make_valid(name.data() + start, static_cast<gssize>(end - start)), g_free);
      std::unique_ptr<gchar, decltype(&g_free)> folded(g_utf8_casefold(valid.get(), -1), g_free);
      std::unique_ptr<gchar, decltype(&g_free)> composed(
          g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFC), g_free);
      key += composed ? composed.get() : folded.get();
    }
    if (nul == std::string::npos) break;
    key += '\0';
    start = nul + 1;
  }
  return key;
}

std::string TLinuxSystem::DecodeGbk(const std::string& bytes) {
  if (bytes.empty()) return {};
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buffer, static_cast<size_t>(o - buffer));
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ (a byte that starts no character here) or EINVAL (cut off at the end): mark one
    // byte and go on after it, as the Windows decoder does.
    out += kReplacement;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

// glibc keeps freed blocks of a large body in its arenas, and after freeing one it raises its
// threshold for mapping such blocks directly, so a few peaks would stay resident for good. From
// the first large body on, blocks of a megabyte or more are mapped directly (and so unmapped as
// soon as they are freed), and what the arenas hold free now goes back.
void TLinuxSystem::TrimMemory() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 1024 * 1024); });
  malloc_trim(0);
#endif
}

} // namespace hb
