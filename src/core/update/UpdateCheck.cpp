// One update attempt: ask the gateway, download, check, verify, stage, hand over to the
// installer. Runs on the update thread; reports through the log and its result only.
#include <algorithm>
#include <charconv>
#include <filesystem>

#include "AppIdentity.h"
#include "Exception.h"
#include "FileUtil.h"
#include "Platform.h"
#include "ReleaseKeyLine.h"
#include "shell/DiagnosticLog.h"
#include "signature/uReleaseSignature.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr int kResponseTimeoutMs = 15000;
constexpr int kDownloadRateWindowMs = 4 * kResponseTimeoutMs;
constexpr int64_t kDownloadMinBytesPerSecond = 1024;
// The check's answer is a few hundred bytes; a gateway that streams more is not answering.
constexpr int64_t kMaxCheckBody = 1 << 20;

std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

THttpRequest GatewayRequest(const std::string& url) {
  THttpRequest r;
  r.Url = url;
  r.ConnectTimeoutMs = kConnectTimeoutMs;
  r.ResponseTimeoutMs = kResponseTimeoutMs;
  r.TotalTimeoutMs = kConnectTimeoutMs + kResponseTimeoutMs;
  r.FollowRedirects = false;
  return r;
}

// The package may be large and the line slow, so no total applies; instead the download must
// keep an average over every window of four response time-outs, which a peer sending a byte now
// and then never does.
THttpRequest DownloadRequest(const std::string& url) {
  THttpRequest r = GatewayRequest(url);
  r.TotalTimeoutMs = 0;
  r.RateWindowMs = kDownloadRateWindowMs;
  r.MinBytesPerSecond = kDownloadMinBytesPerSecond;
  return r;
}

// A request that got no complete answer, worded for the log line.
[[noreturn]] void ThrowTransport(const THttpResponse& r, const std::string& what) {
  switch (r.Error) {
  case THttpError::heConnect:
  case THttpError::heResolve:
    throw THttpFailure("连不上门店网关（" + what + "）：" + r.ErrorMessage);
  case THttpError::heTimeout:
    throw THttpFailure("门店网关响应超时（" + what + "）：" + r.ErrorMessage);
  default:
    throw THttpFailure(what + "失败：" + r.ErrorMessage);
  }
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(PathFromUtf8(path), ec);
}

// Whether this user may make files in the folder: one probe file, made and removed.
bool FolderTakesFiles(const std::string& folder) {
  const std::string probe = JoinPath(folder, ".hallBoard-write-check-" + NewNonce());
  const bool made = WriteFileBytes(probe, "");
  RemoveQuietly(probe);
  return made;
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  auto n = std::filesystem::file_size(PathFromUtf8(path), ec);
  return ec ? -1 : static_cast<int64_t>(n);
}

// Everything from the download on: on any error the package and the staging folder go, so a
// failed attempt leaves nothing but (at most) an installer script behind.
std::string InstallOffer(IHttpClient& http, const std::string& base, const TUpdateOffer& offer,
                         const std::string& exeFolder) {
  const std::string temp = System().TempFolder();
  // Without it every name below would be relative to whatever the current folder is.
  if (temp.empty()) throw Exception("无法取得临时文件夹");
  const std::string package = JoinPath(temp, "HallBoard-" + NewNonce() + ".zip");
  const std::string staging = JoinPath(temp, "HallBoard-stage-" + NewNonce());
  const std::string backup = JoinPath(temp, "HallBoard-backup-" + NewNonce());
  try {
    TDownloadResult got =
        DownloadToFile(http, DownloadRequest(base + offer.DownloadPath), package, offer.Size);
    const THttpResponse& r = got.Response;
    // No connection or no bytes in time is the network's fault and says so; a body cut short
    // or running past the size is an incomplete package like any other.
    if (IsTransportFailure(r.Error)) ThrowTransport(r, "下载更新包");
    if (!r.Ok() || got.Overran || r.Status != 200 || FileSize(package) != offer.Size)
      throw Exception("更新包下载不完整");

    std::string digest = FileSha256Hex(package);
    std::string announced = offer.Sha256; // already lower case
    if (digest != announced) throw Exception("更新包 SHA-256 校验失败");

    std::vector<TReleaseKey> keys = TrustedReleaseKeys();
    std::string keyId;
    std::string verdict = VerifyUpdatePackage(package, kComponent, offer.VersionCode, keys, keyId);
    if (!verdict.empty()) throw Exception("更新包签名核对不通过：" + verdict);

    std::string extracted = ExtractUpdatePackage(package, staging);
    if (!extracted.empty()) throw Exception("更新包解压失败：" + extracted);
    if (!IsRegularFile(JoinPath(staging, kProgramFileName)) ||
        !IsRegularFile(JoinPath(staging, "manifest.json")))
      throw Exception("更新包缺少主程序或 manifest.json");
    // A ZIP made on Windows carries no execute bit; the installed program must still start.
    std::error_code ec;
    std::filesystem::permissions(PathFromUtf8(JoinPath(staging, kProgramFileName)),
                                 std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ec);

    const std::string scriptPath = JoinPath(temp, InstallerScriptName(NewNonce()));
    std::string script =
        BuildInstallerScript(staging, exeFolder, backup, package, offer.VersionCode, scriptPath);
    WriteAndLaunchInstaller(scriptPath, script);
    return keyId;
  } catch (...) {
    RemoveQuietly(package);
    RemoveQuietly(staging);
    throw;
  }
}

} // namespace

int64_t ReadInstalledVersionCode(const std::string& folder) {
  const std::string path = JoinPath(folder, ".installed-version-code");
  if (!FileExists(path)) return 0;
  // The installer writes a short decimal line; anything large is not ours.
  std::optional<std::string> bytes = ReadFileBytes(path, 4096);
  if (!bytes) return 0;
  std::string_view text(*bytes);
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  int64_t code = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return 0;
  return code;
}

std::string NewNonce() {
  std::string guid = System().NewGuid();
  std::string out;
  for (char c : guid) {
    if (c == '{' || c == '}') continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  // The nonce names the package, staging, backup and script files: an empty or malformed one
  // would give fixed names that another attempt, or another program, could collide with.
  bool wellFormed = out.size() == 36;
  for (size_t i = 0; wellFormed && i < out.size(); ++i) {
    const char c = out[i];
    wellFormed = (i == 8 || i == 13 || i == 18 || i == 23)
                     ? c == '-'
                     : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
  }
  if (!wellFormed) throw Exception("无法生成 GUID");
  return out;
}

bool MayInstallFrom(const std::string& base, bool developmentKey) {
  if (!developmentKey) return true;
  std::string_view host(base);
  const size_t sep = host.find("://");
  if (sep == std::string_view::npos) return false;
  host.remove_prefix(sep + 3);
  if (host.starts_with("[")) {
    host = host.substr(0, host.find(']') + 1);
  } else {
    host = host.substr(0, host.rfind(':'));
  }
  std::string lower(host);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == "localhost" || lower == "[::1]" || lower == "::1") return true;
  // 127.0.0.0/8, written as four decimal numbers.
  int parts = 0, value = -1;
  for (char c : lower + ".") {
    if (c == '.') {
      if (value < 0 || value > 255 || (parts == 0 && value != 127)) return false;
      ++parts;
      value = -1;
    } else if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value * 10) + (c - '0');
      if (value > 255) return false;
    } else {
      return false;
    }
  }
  return parts == 4;
}

bool CheckForUpdate(const std::string& base, const std::string& versionText, int64_t versionCode,
                    const THttpClientFactory& newHttp) {
  ISystem& sys = System();
  const std::string exeFolder = WithoutTrailingSeparator(sys.ExeFolder());
  const int64_t effective = std::max(versionCode, ReadInstalledVersionCode(exeFolder));
  const int64_t ms = sys.UtcNowUnixMs();
  const int64_t seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);

  std::unique_ptr<IHttpClient> http = newHttp();
  if (!http) throw Exception("无法创建网络连接");

  THttpRequest check = GatewayRequest(base + "/getUpdate");
  check.Method = "POST";
  check.Headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
  check.Body = BuildUpdateRequest(versionText, effective, seconds, NewNonce());
  check.MaxBody = kMaxCheckBody;
  THttpResponse answer = http->Send(check);
  if (!answer.Ok()) ThrowTransport(answer, "检查更新");
  if (answer.Status != 200) {
    WriteLog("UPDATE_CHECK_FAILED 网关返回 HTTP " + std::to_string(answer.Status) + "：" +
             LogExcerpt(answer.Body, 200));
    return false;
  }

  TUpdateOffer offer;
  if (answer.Overflow || !ParseUpdateOffer(answer.Body, offer))
    throw Exception("网关更新响应不是 JSON");
  if (!offer.Update) {
    WriteLog(offer.Reason.empty() ? "UPDATE_IDLE 无需更新（已是网关提供的最新版本）"
                                  : "UPDATE_IDLE 无需更新：" + offer.Reason);
    return false;
  }
  // Checked before the safety rule: an unsafe answer that offers nothing newer is merely idle.
  if (offer.VersionCode <= effective) {
    WriteLog("UPDATE_IDLE 无需更新：本机 " + std::to_string(effective) + "，网关 " +
             std::to_string(offer.VersionCode));
    return false;
  }
  // The same code again while the installed one is older: the last installation of it failed.
  if (int64_t left = HandoffWaitLeftMs(offer.VersionCode, ms); left > 0) {
    WriteLog("UPDATE_SKIPPED 版本代码 " + std::to_string(offer.VersionCode) +
             " 上次交给安装器后没有装上，" + std::to_string((left + 59999) / 60000) +
             " 分钟后再试");
    return false;
  }
  if (!IsSafeOffer(offer)) throw Exception("更新元数据不安全");
  if (!MayInstallFrom(base, kBuiltInReleaseKeyIsDevelopment))
    throw Exception("本程序用开发密钥构建，只安装本机网关提供的更新，不安装网关 " + base +
                    " 提供的版本 " + std::to_string(offer.VersionCode));
  // A program folder this user cannot write (installed by a package manager, or under Program
  // Files by an administrator) cannot take the release: closing the display for an installer
  // that must fail would only make it blink at every check.
  if (!FolderTakesFiles(exeFolder))
    throw Exception(
        "程序文件夹 " + exeFolder +
        " 不可写，无法自动安装更新：请用安装包更新，或让运行机位图的用户可以写这个文件夹");
  WriteLog("UPDATE_DOWNLOADING 目标版本 " + offer.Version + " (" +
           std::to_string(offer.VersionCode) + ")，大小 " + std::to_string(offer.Size) + " 字节");

  std::string keyId = InstallOffer(*http, base, offer, exeFolder);
  RememberHandoff(offer.VersionCode, sys.UtcNowUnixMs());
  WriteLog("UPDATE_INSTALLING 已下载并核对签名（公钥 " + keyId + "）版本代码 " +
           std::to_string(offer.VersionCode) + "，程序退出后由安装器替换并重新打开");
  return true;
}

bool RunUpdateCheck(const std::string& base, const std::string& versionText, int64_t versionCode,
                    const THttpClientFactory& newHttp) {
  try {
    const int64_t installed =
        ReadInstalledVersionCode(WithoutTrailingSeparator(System().ExeFolder()));
    const std::string local =
        "UPDATE_CHECK 本机 " + versionText + " (" + std::to_string(versionCode);
    if (installed > versionCode)
      WriteLog(local + "，已安装更新包 " + std::to_string(installed) + ")，网关 " + base);
    else
      WriteLog(local + ")，网关 " + base);
    return CheckForUpdate(base, versionText, versionCode, newHttp);
  } catch (const std::exception& e) {
    WriteLog("UPDATE_FAILED " + ExceptionKindName(e) + "：" + e.what());
    throw;
  } catch (...) {
    WriteLog("UPDATE_FAILED Exception：未知错误");
    throw;
  }
}

} // namespace hb
