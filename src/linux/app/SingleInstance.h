#pragma once
// One instance per user session: a lock file in the session's runtime folder held with flock for
// the life of the process, and a Unix socket beside it on which the running instance listens. A
// second start finds the lock taken, sends "wake" on the socket and ends.
#include <functional>
#include <string>

namespace hb::lin {

// The folder for the lock and the socket: $XDG_RUNTIME_DIR when it is set and ours, else
// /tmp/hallBoard-<uid> (created private). Trailing '/'. Empty when neither can be used.
std::string RuntimeFolder();

// Sends one command line to the running instance and returns its answer line ("" when there
// is no answer). Used by a second start ("wake") and by test tools.
std::string SendToRunningInstance(const std::string& folder, const std::string& command,
                                  int timeoutMs = 5000);

class TSingleInstance {
 public:
  // A command received on the socket (one line without its newline) and a way to answer it.
  using TCommandProc = std::function<void(const std::string& command,
                                          std::function<void(const std::string&)> reply)>;

  TSingleInstance() = default;
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when this process may go on as the only instance. False when another holds the lock;
  // it has then been woken. When the lock cannot be made at all the program runs without the
  // protection, as the Windows program does when its mutex cannot be created.
  bool Acquire(const std::string& folder);
  // Starts listening for commands on the main loop (after Acquire returned true). A client that
  // has not sent its whole line within idleTimeoutMs is closed.
  void Listen(TCommandProc proc, int idleTimeoutMs = kIdleTimeoutMs);

  static constexpr int kIdleTimeoutMs = 5000;
  // Longest pause of the listening socket after accept fails (descriptors run out, say).
  static constexpr int kMaxAcceptPauseMs = 5000;
  // Times accept failed since Listen (for tests: a failure must not repeat without a pause).
  int AcceptFailures() const { return FAcceptFailures; }

 private:
  static int Accept(int fd, unsigned condition, void* self);
  static int ResumeAccept(void* self);
  void Watch();
  int FLockFd = -1;
  int FListenFd = -1;
  unsigned FSource = 0;
  unsigned FResume = 0;
  int FIdleTimeoutMs = kIdleTimeoutMs;
  int FAcceptPauseMs = 0;
  int FAcceptFailures = 0;
  std::string FSocketPath;
  TCommandProc FProc;
};

} // namespace hb::lin
