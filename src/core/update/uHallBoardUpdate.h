#pragma once
// Self-update: the check, download, verification and staging, and the installer script.
#include <cstdint>
#include <string>
#include <vector>

#include "Exception.h"
#include "IHttpClient.h"

namespace hb {

// One update attempt on the update thread: logs "UPDATE_CHECK", runs CheckForUpdate, logs and
// rethrows its error as "UPDATE_FAILED". True only when an installer has been started.
bool RunUpdateCheck(const std::string& gatewayBase, const std::string& versionText,
                    int64_t versionCode, const THttpClientFactory& newHttp);

// The whole attempt: ask the gateway, download, check size and digest, verify the signature,
// stage and launch the installer. Throws on failure after cleaning up what it wrote; false when
// there is nothing to install (or the gateway answered other than 200, which is only logged).
bool CheckForUpdate(const std::string& gatewayBase, const std::string& versionText,
                    int64_t versionCode, const THttpClientFactory& newHttp);

// The version code the installer recorded in folder's ".installed-version-code"; 0 when the file
// is missing or does not hold a whole decimal number.
int64_t ReadInstalledVersionCode(const std::string& folder);

// A fresh GUID: 36 lower-case characters, no braces.
std::string NewNonce();

// The compact JSON body of POST /getUpdate, every character outside U+0020..U+007F escaped.
std::string BuildUpdateRequest(const std::string& versionText, int64_t effectiveCode,
                               int64_t unixSeconds, const std::string& nonce);

// What the gateway offered, read from the /getUpdate answer.
struct TUpdateOffer {
  bool Update = false;
  std::string Reason;
  std::string DownloadPath;
  std::string Sha256; // lower-cased
  int64_t Size = 0;
  int64_t VersionCode = 0;
  std::string Version;
};

inline constexpr int64_t kMaxPackageSize = 300LL * 1024 * 1024;

// False when the body is not a JSON object.
bool ParseUpdateOffer(const std::string& body, TUpdateOffer& offer);
// The download path, digest length and size limits an offer must keep before anything is fetched.
bool IsSafeOffer(const TUpdateOffer& offer);
// Whether an update offered by the gateway at base ("http://host:port") may be installed. A
// build that trusts the development key (whose private half is public test data) installs only
// what a gateway on this machine offers: the tests and the demo run one there, and no one on the
// network can then sign a package that such a build accepts.
bool MayInstallFrom(const std::string& base, bool developmentKey);

// A transport failure of a gateway request (no connection, time-out): its own kind name in the
// log line, so support staff can tell an unreachable gateway from a rejected package.
class THttpFailure : public Exception {
 public:
  using Exception::Exception;
  const char* KindName() const noexcept override { return "EHttpError"; }
};

// The announced size's download: the answer, and whether the body ran past the size (the
// transfer was then stopped).
struct TDownloadResult {
  THttpResponse Response;
  bool Overran = false;
};
// Streams the request's body into a new file at path (replacing one), refusing more than
// maxBytes. Throws Exception when the file cannot be created or written.
TDownloadResult DownloadToFile(IHttpClient& http, const THttpRequest& request,
                               const std::string& path, int64_t maxBytes);
// Lower-case hexadecimal SHA-256 of a file, read back in 1 MiB chunks.
std::string FileSha256Hex(const std::string& path);
// The first maxChars characters of a UTF-8 text, line breaks as blanks, for one log line.
std::string LogExcerpt(const std::string& text, size_t maxChars);

// ---- The restart-loop guard ----

// The version code last handed to the installer, how many times in a row, and when last.
struct THandoffRecord {
  int64_t VersionCode = 0;
  int64_t Count = 0;
  int64_t AtUnixMs = 0;
};
THandoffRecord ReadHandoffRecord();
void WriteHandoffRecord(const THandoffRecord& r);
// The pause after this many failed installations of one code: 1 h, doubling, at most 24 h.
int64_t HandoffPauseMs(int64_t failures);
// How long an offer of versionCode must still wait; 0 when it may be tried now (a code other
// than the last one handed over is always tried at once).
int64_t HandoffWaitLeftMs(int64_t versionCode, int64_t nowUnixMs);
// Called once the installer has announced itself with versionCode.
void RememberHandoff(int64_t versionCode, int64_t nowUnixMs);

// ---- The installer script ----

// How long a freshly installed program must keep running before the installer trusts it and
// drops the backup: a program for another processor or a newer C library ends within a second.
inline constexpr int kInstallerHealthSeconds = 10;
// How long the program waits for a started installer to announce itself before it takes the
// launch for failed. Windows PowerShell can take several seconds to start on a slow machine.
inline constexpr int kInstallerStartWaitMs = 30000;
// How long the installer waits for the old program to exit before it ends it by its process id.
inline constexpr int kInstallerWaitSeconds = 120;
// The installer's work folder inside the program folder (see InstallRecovery.cpp), and the
// variable it sets for the program it starts, which must then leave that folder alone.
inline constexpr const char* kInstallWorkFolder = ".hallBoard-update";
inline constexpr const char* kInstallerChildVariable = "HALLBOARD_INSTALLER";
// The file in the work folder that a running installer keeps locked from its first step to its
// end; a lock that is free means the installer is gone.
inline constexpr const char* kInstallerLockFile = "installer.lock";

// Everything an installer script needs. The log path and process id are taken when the script
// is built (BuildInstallerScript); tests fill them in directly.
struct TInstallerInputs {
  std::string LogPath;
  uint32_t ProcessId = 0;
  std::string Staging;
  std::string ProgramFolder; // without a trailing separator
  std::string Backup;
  std::string Package;
  int64_t VersionCode = 0;
  std::string Started; // the start marker (InstallerStartedMarker)
  int HealthSeconds = kInstallerHealthSeconds;
  // How long the old program has to exit before the installer ends it.
  int WaitSeconds = kInstallerWaitSeconds;
  // Tests only: the script kills itself with SIGKILL right after its step number KillAtStep
  // (every copied file, rename and marker is a step); 0 never.
  int KillAtStep = 0;
};

// A PowerShell single-quoted literal. PowerShell also ends such a literal at the typographic
// single quotes U+2018..U+201B, so those are doubled as well as the ASCII quote.
std::string PsQuote(const std::string& text);
// A POSIX sh single-quoted literal: embedded quotes become '\''.
std::string ShQuote(const std::string& text);

// The Windows PowerShell installer: 26 lines joined by CR LF, no line end after the last. The
// caller writes it with a UTF-8 byte-order mark (WriteInstallerScript does).
std::string PowerShellInstallerText(const TInstallerInputs& in);
// The POSIX sh installer for the Linux program: same steps, same log lines.
std::string ShInstallerText(const TInstallerInputs& in);

// The platform's installer text with the current log path and process id; the start marker
// belongs to the script file at scriptPath.
std::string BuildInstallerScript(const std::string& staging, const std::string& programFolder,
                                 const std::string& backup, const std::string& package,
                                 int64_t versionCode, const std::string& scriptPath);
// The script file's name for a nonce: "HallBoard-install-" + nonce + ".ps1" (".sh" on Linux).
std::string InstallerScriptName(const std::string& nonce);
// The file a started script creates first, beside it and under the same nonce:
// "HallBoard-install-" + nonce + ".started".
std::string InstallerStartedMarker(const std::string& scriptPath);
// Writes the script (with the byte-order mark on Windows), starts it through ISystem and waits,
// at most startWaitMs, for its start marker. Throws Exception("无法启动更新安装器") when it
// cannot be written or started, or never announces itself; in that last case the marker is
// made here, so a script that starts after all stops before it changes anything.
void WriteAndLaunchInstaller(const std::string& scriptPath, const std::string& text,
                             int startWaitMs = kInstallerStartWaitMs);

// Brings the program folder back to the old tree after a swap stopped anywhere: the release's
// entries that are in place go back into the work folder, the old ones come back from it (or,
// should one be missing there, from the backup copy). Every step is a rename and can be repeated.
// "" when all is back, else what could not be restored.
std::string ReverseInstall(const std::string& programFolder, const std::string& backup,
                           const std::vector<std::string>& released,
                           const std::vector<std::string>& replaced);
// Run at every start, before anything shows: finishes an installation that was interrupted
// after it was whole, reverses one that was not, removes what it left in the temporary folder
// and logs one line saying which. The installer's own child skips it. The line written, or ""
// when there was nothing to do.
std::string RecoverInterruptedInstall(const std::string& programFolder);

// True when an installer is at work on the program folder right now (it holds its lock): a
// start by hand in the moments between the old program's exit and the new one's start. Such a
// start must leave at once; the installer opens the program itself. False for the installer's
// own child, which the installer watches.
bool InstallerAtWork(const std::string& programFolder);

// What a start does first about installations, before it shows anything: false (with one log
// line) when an installer is at work, and the start must end; else any interrupted installation
// is recovered, and true.
bool SettleInstallAtStart(const std::string& programFolder);

// Tests shorten the health period of real runs; 0 or less restores it.
void SetInstallerHealthSecondsForTests(int healthSeconds);

} // namespace hb
