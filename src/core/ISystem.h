#pragma once
// Operating-system services the core needs: clocks, folders, identity, keep-awake, installer.
#include <cstdint>
#include <string>

namespace hb {

struct TLocalTime {
  int Year = 1970, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};

// Paths are UTF-8 text; folders returned here end with the platform's path separator.
class ISystem {
public:
  virtual ~ISystem() = default;
  virtual uint64_t TickCount64() = 0;    // milliseconds since system start
  virtual int64_t UtcNowUnixMs() = 0;    // milliseconds since 1970-01-01 UTC
  virtual TLocalTime LocalNow() = 0;     // local calendar time, for log names and lines
  virtual std::string NewGuid() = 0;     // 36 lower-case characters, no braces
  virtual std::string ExeFolder() = 0;   // folder of the running executable, trailing separator
  virtual std::string TempFolder() = 0;  // the user's temporary folder, long form, trailing separator
  virtual std::string LocalAppData() = 0;  // value of LOCALAPPDATA (or its Linux equivalent); "" when unset
  virtual uint32_t ProcessId() = 0;
  virtual void KeepAwake(bool on) = 0;   // keep display and system on while the window exists
  // Starts the installer script detached; true when it was started.
  virtual bool LaunchInstaller(const std::string& scriptPath) = 0;
  // True while another process holds the file locked for itself alone: the installer keeps its
  // lock file so for as long as it lives, and the lock goes with the process however it ends
  // (an open without sharing on Windows; flock on Linux, which is also what .NET's
  // FileShare.None takes there). A missing file is not locked.
  virtual bool FileLockedElsewhere(const std::string& path) = 0;
  // A key under which two file names compare equal exactly when they are the same name
  // without regard to letter case, for every alphabet.
  virtual std::string FileNameKey(const std::string& name) = 0;
  // Decodes text in the system's legacy Chinese code page (936, GBK) to UTF-8; invalid
  // sequences become U+FFFD.
  virtual std::string DecodeGbk(const std::string& bytes) = 0;
  // Gives memory that the program freed back to the system, where the allocator keeps it
  // otherwise (after large bodies); nothing where the platform does it unasked.
  virtual void TrimMemory() {}
};

} // namespace hb
