// The update attempt over real loopback HTTP against hallboard-demo: the gateway's odd answers,
// an attack table (each ending with nothing installed, no installer started, the failure logged
// and nothing left in the temporary folder), and a real install on Linux with the sh installer.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "AppIdentity.h"
#include "CurlHttpClient.h"
#include "DemoProcess.h"
#include "FakeSystem.h"
#include "FileUtil.h"
#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "shell/DiagnosticLog.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string Hex(const unsigned char* d, size_t n) {
  static const char* k = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += k[d[i] >> 4];
    s += k[d[i] & 15];
  }
  return s;
}

std::string Sha256(const std::string& bytes) {
  unsigned char d[32];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), d, &n, EVP_sha256(), nullptr);
  return Hex(d, n);
}

// ---- A package writer for the tests: stored ZIP entries, the signed manifest, the file list.

struct TEntry {
  std::string Name, Bytes;
};

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

std::string Zip(const std::vector<TEntry>& entries) {
  std::string out, central;
  for (const auto& e : entries) {
    uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(e.Bytes.data()), static_cast<uInt>(e.Bytes.size()));
    uint32_t offset = static_cast<uint32_t>(out.size());
    uint32_t size = static_cast<uint32_t>(e.Bytes.size());
    std::string common; // version needed .. extra length
    Put16(common, 20);
    Put16(common, 0x0800); // UTF-8 names
    Put16(common, 0);      // stored
    Put32(common, 0);      // time and date
    Put32(common, crc);
    Put32(common, size);
    Put32(common, size);
    Put16(common, static_cast<uint32_t>(e.Name.size()));
    Put16(common, 0);
    Put32(out, 0x04034b50);
    out += common + e.Name + e.Bytes;
    Put32(central, 0x02014b50);
    Put16(central, 0x031E); // made on Unix
    central += common;
    Put16(central, 0); // comment
    Put16(central, 0); // disk
    Put16(central, 0); // internal attributes
    Put32(central, 0100755u << 16);
    Put32(central, offset);
    central += e.Name;
  }
  uint32_t cdOffset = static_cast<uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put32(out, 0);
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, cdOffset);
  Put16(out, 0);
  return out;
}

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

TKey DevKey() {
  std::unique_ptr<FILE, decltype(&fclose)> f(
      fopen(HB_TEST_DATA "/signature/dev-release-key.pem", "rb"), &fclose);
  if (!f) return TKey(nullptr, &EVP_PKEY_free);
  return TKey(PEM_read_PrivateKey(f.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
}

TKey StrangerKey() {
  return TKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free);
}

std::string KeyId(EVP_PKEY* key) {
  unsigned char pub[32];
  size_t n = sizeof pub;
  EVP_PKEY_get_raw_public_key(key, pub, &n);
  return Sha256(std::string(reinterpret_cast<char*>(pub), n)).substr(0, 16);
}

std::string Sign(EVP_PKEY* key, const std::string& message) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char sig[64];
  size_t n = sizeof sig;
  EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key);
  EVP_DigestSign(ctx.get(), sig, &n, reinterpret_cast<const unsigned char*>(message.data()),
                 message.size());
  unsigned char b64[128];
  int len = EVP_EncodeBlock(b64, sig, static_cast<int>(n));
  return std::string(reinterpret_cast<char*>(b64), len);
}

// A release as a release engineer would pack it, with knobs that turn it into an attack.
struct TRelease {
  std::vector<TEntry> Files;    // listed files, manifest.json included
  std::vector<TEntry> Unlisted; // entries the file list leaves out
  std::string Component = "HallBoard";
  int64_t VersionCode = 3;
  std::string Version = "1.0.2";
  const TRelease* SignedMetadataFrom = nullptr; // reuse another release's signed files
  bool StrangerSigns = false;
  bool FlipSignature = false;
};

std::string ManifestJson(const std::string& component, int64_t code, const std::string& version) {
  return "{\"component\":\"" + component + "\",\"version\":\"" + version +
         "\",\"version_code\":" + std::to_string(code) + "}";
}

// A stand-in program: records its start (and its id, for the test to end it), then keeps
// running as the real one does; one that cannot run here ends at once with a failure.
std::string StandIn(const std::string& name, const std::string& starts, bool runs = true) {
  return "#!/bin/sh\necho \"$$\" >> '" + starts + ".pids'\necho " + name + " >> '" + starts +
         "'\n" + (runs ? "exec sleep 300\n" : "exit 1\n");
}

TRelease StandardRelease(const std::string& starts, int64_t code = 3) {
  TRelease r;
  r.VersionCode = code;
  r.Files = {
      {kProgramFileName, StandIn("new", starts)},
      {"manifest.json", ManifestJson("HallBoard", code, "1.0.2")},
      {"lib/readme.txt", "release notes"},
  };
  return r;
}

// The three signature files of a release.
std::vector<TEntry> SignedFiles(const TRelease& r) {
  std::string list = "{\"files\":{";
  for (size_t i = 0; i < r.Files.size(); ++i)
    list += (i ? "," : "") + std::string("\"") + r.Files[i].Name + "\":{\"sha256\":\"" +
            Sha256(r.Files[i].Bytes) + "\",\"size\":" + std::to_string(r.Files[i].Bytes.size()) +
            "}";
  list += "}}";
  std::string manifest = "{\"format\":\"qvtk-component-package-1\",\"component\":\"" + r.Component +
                         "\",\"version_code\":" + std::to_string(r.VersionCode) +
                         ",\"files_sha256\":\"" + Sha256(list) +
                         "\",\"files\":" + std::to_string(r.Files.size()) + ",\"version\":\"" +
                         r.Version + "\"}";
  TKey key = r.StrangerSigns ? StrangerKey() : DevKey();
  std::string sig = Sign(key.get(), manifest);
  if (r.FlipSignature) sig[10] = sig[10] == 'A' ? 'B' : 'A';
  std::string sigJson =
      "{\"alg\":\"ed25519\",\"key\":\"" + KeyId(key.get()) + "\",\"sig\":\"" + sig + "\"}";
  return {{"update-manifest.json", manifest},
          {"update-manifest.sig", sigJson},
          {"update-files.json", list}};
}

std::string Pack(const TRelease& r) {
  std::vector<TEntry> entries = SignedFiles(r.SignedMetadataFrom ? *r.SignedMetadataFrom : r);
  entries.insert(entries.end(), r.Files.begin(), r.Files.end());
  entries.insert(entries.end(), r.Unlisted.begin(), r.Unlisted.end());
  return Zip(entries);
}

// ---- The fixture: a real program and temporary folder, the demo gateway, the real client.

// A stand-in for the running program. The installer waits for it to end, as it waits for the
// real one, and the program ends only after the check has returned: so the program's own lines
// come before the installer's and the start marker is seen before the script removes it, as in
// real use. An id that has already ended would let the script race the check.
class TRunningProgram {
 public:
  TRunningProgram() : FPid(fork()) {
    if (FPid == 0) {
      for (;;) pause();
    }
  }
  ~TRunningProgram() { End(); }
  uint32_t Pid() const { return static_cast<uint32_t>(FPid); }
  // The program exits: killed and reaped, so not even a zombie is left.
  void End() {
    if (FPid <= 0) return;
    kill(FPid, SIGKILL);
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
  }

 private:
  pid_t FPid;
};

// Folders and clocks of the fake, but an installer launch that can be the real detached one.
class TTestSystem : public test::TFakeSystem {
 public:
  bool RealLaunch = false;
  bool LaunchInstaller(const std::string& scriptPath) override {
    if (!RealLaunch) return TFakeSystem::LaunchInstaller(scriptPath);
    Launched.push_back(scriptPath);
    return TLinuxSystem().LaunchInstaller(scriptPath);
  }
};

class UpdateFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/hb-update-flow-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FRoot = tmpl;
    FSys.Exe = (FRoot / "program").string() + "/";
    FSys.Temp = (FRoot / "temp").string() + "/";
    FSys.AppData = (FRoot / "appdata").string();
    FStarts = (FRoot / "starts.txt").string();
    Write(fs::path(FSys.Exe) / kProgramFileName, StandIn("old", FStarts));
    fs::permissions(fs::path(FSys.Exe) / kProgramFileName, fs::perms::owner_all);
    Write(fs::path(FSys.Exe) / "hallBoard.ini", "[Gateway]\nAddress=127.0.0.1\n");
    fs::create_directories(FSys.Temp);
    InstallPlatform(&FSys, &FHasher);
    ResetLogFolderTestForTests();
    FLog = LogFilePath(kAppFolder);
    FDemo = std::make_unique<test::TDemoProcess>();
    // The stand-ins keep running, so a second of health check tells as much as ten.
    SetInstallerHealthSecondsForTests(1);
  }
  void TearDown() override {
    // End the stand-in programs the installers started, and any mount made for the test.
    std::istringstream pids(Read(FStarts + ".pids"));
    for (long pid; pids >> pid;)
      if (pid > 1) kill(static_cast<pid_t>(pid), SIGKILL);
    for (auto it = FMounts.rbegin(); it != FMounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    SetInstallerHealthSecondsForTests(0);
    FDemo.reset();
    ResetLogFolderTestForTests();
    InstallPlatform(nullptr, nullptr);
    std::error_code ec;
    fs::remove_all(FRoot, ec);
  }

  void Offer(const std::string& package, int64_t code) {
    fs::path p = FRoot / ("release-" + std::to_string(++FReleases) + ".zip");
    Write(p, package);
    FDemo->SetRelease("{\"path\":\"" + p.string() + "\",\"version_code\":" + std::to_string(code) +
                      ",\"version\":\"1.0.2\"}");
  }

  // One attempt as the update thread runs it; the error's message, empty when none.
  std::string Attempt(bool& started) {
    started = false;
    THttpClientFactory factory = [] { return std::make_unique<TCurlHttpClient>(); };
    try {
      started = RunUpdateCheck(FDemo->GatewayBase(), kAppVersion, kAppVersionCode, factory);
      return {};
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(Read(FLog));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > 9) lines.push_back(line.substr(9));
    }
    return lines;
  }

  std::vector<std::string> TempEntries() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(FSys.Temp)) names.push_back(e.path().filename());
    return names;
  }

  // Nothing installed, nothing started, nothing left behind, and the reason in the log.
  void ExpectRejected(const std::string& error, const std::string& failedLine) {
    EXPECT_TRUE(FSys.Launched.empty());
    EXPECT_TRUE(TempEntries().empty()) << TempEntries().front();
    EXPECT_FALSE(fs::exists(fs::path(FSys.Exe) / ".installed-version-code"));
    EXPECT_FALSE(fs::exists(fs::path(FSys.Exe) / "lib"));
    EXPECT_EQ(Read(fs::path(FSys.Exe) / kProgramFileName), StandIn("old", FStarts));
    std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), failedLine);
    EXPECT_EQ("UPDATE_FAILED Exception：" + error, failedLine);
  }

  // A small tmpfs at folder; false when this machine does not allow mounting one.
  bool Mount(const fs::path& folder, const char* size) {
    fs::create_directories(folder);
    const std::string options = std::string("size=") + size;
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
    FMounts.push_back(folder);
    return true;
  }

  // Waits until the real installer has ended: a program started (its line is the wanted
  // count) and only installer scripts are left in the temporary folder.
  void WaitForInstaller(size_t starts) {
    auto done = [&] {
      std::istringstream in(Read(FStarts));
      size_t n = 0;
      for (std::string line; std::getline(in, line);) ++n;
      if (n < starts) return false;
      for (auto& name : TempEntries())
        if (name.find("HallBoard-install-") != 0 || !name.ends_with(".sh")) return false;
      return true;
    };
    for (int i = 0; i < 2400 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(done()) << Read(FStarts);
  }

  // One check that hands a release to the real installer, which the program "exits" for.
  void AttemptInstall() {
    TRunningProgram program;
    FSys.Pid = program.Pid();
    FSys.RealLaunch = true;
    bool started = false;
    const std::string error = Attempt(started);
    FLinesAtHandover = LogLines(); // while the installer still waits for the program
    program.End();
    ASSERT_EQ(error, "");
    ASSERT_TRUE(started);
  }

  // Only installer scripts in the temporary folder: no package, stage, backup or marker.
  void ExpectOnlyScriptsLeft() {
    for (auto& name : TempEntries())
      EXPECT_TRUE(name.find("HallBoard-install-") == 0 && name.ends_with(".sh")) << name;
  }

  fs::path FRoot;
  std::vector<fs::path> FMounts;
  std::string FStarts, FLog;
  std::vector<std::string> FLinesAtHandover;
  TTestSystem FSys;
  TOpenSslHasher FHasher;
  std::unique_ptr<test::TDemoProcess> FDemo;
  int FReleases = 0;
};

TEST_F(UpdateFlow, OffersAreInstalledForRealAndTheProgramRestarts) {
  Offer(Pack(StandardRelease(FStarts)), 3);
  AttemptInstall();
  std::vector<std::string> lines = FLinesAtHandover;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "UPDATE_CHECK 本机 1.0.1 (2)，网关 " + FDemo->GatewayBase());
  EXPECT_EQ(lines[1].rfind("UPDATE_DOWNLOADING 目标版本 1.0.2 (3)，大小 ", 0), 0u);
  EXPECT_EQ(lines.back(), "UPDATE_INSTALLING 已下载并核对签名（公钥 4c4c6d37f8a1da95）版本代码 3，"
                          "程序退出后由安装器替换并重新打开");
  // The request the gateway saw: compact, in order, with the effective code.
  std::string request = FDemo->LastUpdateRequest();
  EXPECT_EQ(request.rfind("{\"component\":\"HallBoard\",\"current_version\":\"1.0.1\","
                          "\"current_version_code\":2,\"ts\":",
                          0),
            0u)
      << request;

  ASSERT_EQ(FSys.Launched.size(), 1u);
  const std::string script = FSys.Launched[0];
  EXPECT_EQ(fs::path(script).parent_path(), fs::path(FSys.Temp).parent_path());
  EXPECT_EQ(fs::path(script).filename().string().rfind("HallBoard-install-", 0), 0u);
  // The program has exited (its id is gone): the detached installer does the rest and starts
  // the new program; only the script stays in the temporary folder.
  const std::vector<std::string> onlyScript = {fs::path(script).filename().string()};
  for (int i = 0; i < 2400 && (Read(FStarts).empty() || TempEntries() != onlyScript); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Read(FStarts), "new\n");
  EXPECT_EQ(Read(fs::path(FSys.Exe) / "lib" / "readme.txt"), "release notes");
  EXPECT_FALSE(fs::exists(fs::path(FSys.Exe) / "manifest.json"));
  EXPECT_EQ(Read(fs::path(FSys.Exe) / "hallBoard.ini"), "[Gateway]\nAddress=127.0.0.1\n");
  // Installed, then seen running: each line says what has happened.
  const auto installed = LogLines();
  ASSERT_GE(installed.size(), 2u);
  EXPECT_EQ(installed[installed.size() - 2],
            "UPDATE_INSTALLED 已安装版本代码 3，正在重新打开机位图");
  EXPECT_EQ(installed.back().rfind("UPDATE_INSTALLED 新版本已在运行（进程 ", 0), 0u)
      << installed.back();
  EXPECT_EQ(TempEntries(), onlyScript);

  // The next check reports the installed code, and the same release is no longer new.
  bool started = false;
  ASSERT_EQ(Attempt(started), "");
  EXPECT_FALSE(started);
  lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2],
            "UPDATE_CHECK 本机 1.0.1 (2，已安装更新包 3)，网关 " + FDemo->GatewayBase());
  EXPECT_EQ(lines.back(), "UPDATE_IDLE 无需更新：已是最新版本");
  EXPECT_NE(FDemo->LastUpdateRequest().find("\"current_version_code\":3,"), std::string::npos);
}

// Each row: a package that must never be installed, and the reason the log gives.
TEST_F(UpdateFlow, AttackTable) {
  TRelease good = StandardRelease(FStarts);
  TRelease older = StandardRelease(FStarts, 2);
  TRelease otherBuild = StandardRelease(FStarts);
  otherBuild.Files[2].Bytes = "release NOTES"; // same size, other bytes
  struct TAttack {
    const char* name;
    TRelease release;
    int64_t announced;
    std::string error;
  };
  std::vector<TAttack> attacks;
  auto add = [&](const char* name, TRelease r, int64_t announced, std::string error) {
    attacks.push_back({name, std::move(r), announced, std::move(error)});
  };
  {
    TRelease r = good;
    r.FlipSignature = true;
    add("bad signature", r, 3, "更新包签名核对不通过：签名核对不通过，包可能被改动过");
  }
  {
    TRelease r = good;
    r.StrangerSigns = true;
    add("unknown key", r, 3, ""); // the id is the stranger's; checked by prefix below
  }
  {
    TRelease r = good;
    r.Files[0].Bytes.replace(r.Files[0].Bytes.find("new"), 3, "bad"); // same size
    add("tampered file", r, 3, "");
    attacks.back().release.SignedMetadataFrom = &good;
    attacks.back().error =
        "更新包签名核对不通过：文件内容与清单不符：" + std::string(kProgramFileName);
  }
  // Rollback: a gateway announcing 3 while the signed release is 2.
  add("rollback", older, 3, "更新包签名核对不通过：签名清单的版本代码与云端下发不一致");
  {
    // Mix-and-match: this release's files with another build's signed file list.
    TRelease r = good;
    r.SignedMetadataFrom = &otherBuild;
    add("mix-and-match files", r, 3, "更新包签名核对不通过：文件内容与清单不符：lib/readme.txt");
  }
  {
    TRelease r = good;
    r.Files[1].Bytes = ManifestJson("HallBoard", 3, "0.9.0");
    add("mix-and-match manifest", r, 3, "更新包签名核对不通过：manifest.json 与签名清单不一致");
  }
  {
    TRelease r = good;
    r.Component = "CashDesk";
    r.Files[1].Bytes = ManifestJson("CashDesk", 3, "1.0.2");
    add("wrong software", r, 3, "更新包签名核对不通过：签名清单的组件（CashDesk）与云端下发不一致");
  }
  {
    TRelease r = good;
    r.Unlisted = {{"extra.so", "payload"}};
    add("extraneous file", r, 3, "更新包签名核对不通过：包里有清单外的文件：extra.so");
  }
  {
    TRelease r = good;
    r.Files.push_back({"../escape.txt", "out"});
    add("path traversal", r, 3, "更新包签名核对不通过：更新包含不安全的路径：../escape.txt");
  }
  {
    TRelease r = good;
    r.Files.push_back({"/etc/escape.txt", "out"});
    add("absolute path", r, 3, "更新包签名核对不通过：更新包含不安全的路径：/etc/escape.txt");
  }
  {
    TRelease r = good;
    r.Files.erase(r.Files.begin());
    add("no program file", r, 3, "更新包缺少主程序或 manifest.json");
  }

  for (auto& a : attacks) {
    SCOPED_TRACE(a.name);
    FSys.Launched.clear();
    Offer(Pack(a.release), a.announced);
    bool started = true;
    std::string error = Attempt(started);
    EXPECT_FALSE(started);
    if (std::string(a.name) == "unknown key") {
      EXPECT_EQ(error.rfind("更新包签名核对不通过：更新包不是用认可的私钥签名的（公钥编号 ", 0), 0u)
          << error;
      a.error = error;
    }
    EXPECT_EQ(error, a.error);
    ExpectRejected(error, "UPDATE_FAILED Exception：" + a.error);
    EXPECT_FALSE(fs::exists(FRoot / "escape.txt"));
  }
}

// The gateway's faults as the program meets them on the wire.
TEST_F(UpdateFlow, GatewayFaults) {
  Offer(Pack(StandardRelease(FStarts)), 3);
  struct {
    const char* fault;
    std::string error; // empty: no error, the attempt just ends
    std::string lastLine;
  } cases[] = {
      {"none", "", "UPDATE_IDLE 无需更新：已是最新版本"},
      {"none-no-reason", "", "UPDATE_IDLE 无需更新（已是网关提供的最新版本）"},
      {"array", "网关更新响应不是 JSON", "UPDATE_FAILED Exception：网关更新响应不是 JSON"},
      {"text", "网关更新响应不是 JSON", "UPDATE_FAILED Exception：网关更新响应不是 JSON"},
      {"redirect-check", "", "UPDATE_CHECK_FAILED 网关返回 HTTP 302："},
      {"path-case", "更新元数据不安全", "UPDATE_FAILED Exception：更新元数据不安全"},
      {"digest-63", "更新元数据不安全", "UPDATE_FAILED Exception：更新元数据不安全"},
      {"digest-65", "更新元数据不安全", "UPDATE_FAILED Exception：更新元数据不安全"},
      {"size-0", "更新元数据不安全", "UPDATE_FAILED Exception：更新元数据不安全"},
      {"size-huge", "更新元数据不安全", "UPDATE_FAILED Exception：更新元数据不安全"},
      {"short", "更新包下载不完整", "UPDATE_FAILED Exception：更新包下载不完整"},
      {"redirect-download", "更新包下载不完整", "UPDATE_FAILED Exception：更新包下载不完整"},
      {"endless", "更新包下载不完整", "UPDATE_FAILED Exception：更新包下载不完整"},
      {"wrong-digest", "更新包 SHA-256 校验失败",
       "UPDATE_FAILED Exception：更新包 SHA-256 校验失败"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    FDemo->SetFault(std::string("{\"update\":\"") + c.fault + "\"}");
    bool started = true;
    EXPECT_EQ(Attempt(started), c.error);
    EXPECT_FALSE(started);
    EXPECT_EQ(LogLines().back(), c.lastLine);
    EXPECT_TRUE(FSys.Launched.empty());
    EXPECT_TRUE(TempEntries().empty());
  }

  // A long error page: one line quoting its first 200 characters, no failure.
  FDemo->SetFault("{\"update\":\"500-html\"}");
  bool started = true;
  EXPECT_EQ(Attempt(started), "");
  std::vector<std::string> lines = LogLines();
  const std::string head = "UPDATE_CHECK_FAILED 网关返回 HTTP 500：";
  ASSERT_EQ(lines.back().rfind(head, 0), 0u);
  EXPECT_EQ(lines.back().substr(head.size()), LogExcerpt(lines.back().substr(head.size()), 200));
  EXPECT_EQ(lines.back().substr(head.size(), 15), "<!DOCTYPE html>");
  EXPECT_EQ(lines[lines.size() - 2].rfind("UPDATE_CHECK ", 0), 0u);
}

// A download that stops sending ends by the response time-out, not never.
TEST_F(UpdateFlow, StalledDownloadEndsByTimeOut) {
  Offer(Pack(StandardRelease(FStarts)), 3);
  FDemo->SetFault("{\"update\":\"stall\"}");
  bool started = true;
  std::string error = Attempt(started);
  EXPECT_FALSE(started);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(LogLines().back().rfind("UPDATE_FAILED EHttpError：门店网关响应超时", 0), 0u)
      << LogLines().back();
  EXPECT_TRUE(TempEntries().empty());
  EXPECT_TRUE(FSys.Launched.empty());
}

TEST_F(UpdateFlow, UnreachableGatewayIsOneFailedLine) {
  FDemo->SetFault("{\"gateway\":\"down\"}");
  bool started = true;
  EXPECT_NE(Attempt(started), "");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("UPDATE_FAILED EHttpError：连不上门店网关", 0), 0u) << lines[1];
}

} // namespace
} // namespace hb

namespace hb {
namespace {

// ---- Hostile conditions around the installation itself. Each ends with a program that runs
// and nothing in the temporary folder but installer scripts.

TEST_F(UpdateFlow, FullTemporaryFolderDuringTheBackupLeavesTheProgramAsItWas) {
  // Room for the package and the staging folder, not for a backup of the old lib folder.
  if (!Mount(FSys.Temp, "384k"))
    GTEST_SKIP() << "skipped: this machine does not allow a tmpfs mount";
  Write(fs::path(FSys.Exe) / "lib" / "readme.txt", std::string(512 * 1024, 'o'));
  const std::string oldProgram = Read(fs::path(FSys.Exe) / kProgramFileName);
  Offer(Pack(StandardRelease(FStarts)), 3);
  AttemptInstall();
  WaitForInstaller(1);
  EXPECT_EQ(Read(FStarts), "old\n");
  EXPECT_EQ(Read(fs::path(FSys.Exe) / kProgramFileName), oldProgram);
  EXPECT_EQ(Read(fs::path(FSys.Exe) / "lib" / "readme.txt").size(), 512u * 1024);
  EXPECT_FALSE(fs::exists(fs::path(FSys.Exe) / ".installed-version-code"));
  const auto lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("UPDATE_INSTALL_FAILED 安装失败（备份 lib）：", 0), 0u)
      << lines[lines.size() - 2];
  EXPECT_EQ(lines.back().rfind("UPDATE_INSTALL_FAILED 程序文件未改动，原版本已在运行（进程 ", 0),
            0u)
      << lines.back();
  ExpectOnlyScriptsLeft();
}

TEST_F(UpdateFlow, FullDiskDuringTheInstallRollsBack) {
  // The program folder on a small file system that the release's large file does not fit.
  const fs::path exe = FSys.Exe;
  const std::string oldProgram = Read(exe / kProgramFileName);
  const std::string ini = Read(exe / "hallBoard.ini");
  if (!Mount(exe, "256k")) GTEST_SKIP() << "skipped: this machine does not allow a tmpfs mount";
  Write(exe / kProgramFileName, oldProgram);
  fs::permissions(exe / kProgramFileName, fs::perms::owner_all);
  Write(exe / "hallBoard.ini", ini);
  TRelease r = StandardRelease(FStarts);
  r.Files.push_back({"zz-data.bin", std::string(512 * 1024, 'z')});
  Offer(Pack(r), 3);
  AttemptInstall();
  WaitForInstaller(1);
  EXPECT_EQ(Read(FStarts), "old\n");
  EXPECT_EQ(Read(exe / kProgramFileName), oldProgram);
  EXPECT_FALSE(fs::exists(exe / "lib"));
  EXPECT_FALSE(fs::exists(exe / "zz-data.bin"));
  EXPECT_FALSE(fs::exists(exe / ".installed-version-code"));
  ExpectOnlyScriptsLeft();
}

TEST_F(UpdateFlow, UnsignedFolderEntriesCreateNothing) {
  // Folder entries are outside the signed list: the release installs, they create nothing, and
  // a later release still installs (a folder named after the recorded code would break it).
  TRelease r = StandardRelease(FStarts);
  r.Unlisted = {{".installed-version-code/", ""}, {"empty/", ""}, {"lib/", ""}};
  Offer(Pack(r), 3);
  AttemptInstall();
  WaitForInstaller(1);
  EXPECT_EQ(Read(FStarts), "new\n");
  EXPECT_FALSE(fs::exists(fs::path(FSys.Exe) / "empty"));
  EXPECT_EQ(ReadInstalledVersionCode(FSys.Exe), 3);
  EXPECT_EQ(Read(fs::path(FSys.Exe) / "lib" / "readme.txt"), "release notes");
  ExpectOnlyScriptsLeft();
}

TEST_F(UpdateFlow, AReleaseThatCannotRunIsRolledBackAndNotRetriedAtOnce) {
  // A signed release whose program ends at once (built for another machine). Every check that
  // follows offers it again; it is handed over once, then paused, not downloaded every time.
  TRelease r = StandardRelease(FStarts);
  r.Files[0].Bytes = StandIn("new", FStarts, false);
  Offer(Pack(r), 3);
  SetInstallerHealthSecondsForTests(3); // the failing program is seen as it ends, not after 3 s
  AttemptInstall();
  WaitForInstaller(2);
  EXPECT_EQ(Read(FStarts), "new\nold\n");
  EXPECT_EQ(Read(fs::path(FSys.Exe) / kProgramFileName), StandIn("old", FStarts));
  EXPECT_FALSE(fs::exists(fs::path(FSys.Exe) / "lib"));
  const auto lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2],
            "UPDATE_INSTALL_FAILED 安装失败（启动新版本）：新版本启动后即退出，退出代码 1");
  EXPECT_EQ(lines.back().rfind("UPDATE_INSTALL_FAILED 已回滚到原版本，原版本已在运行（进程 ", 0),
            0u)
      << lines.back();
  ExpectOnlyScriptsLeft();

  // The restarted program checks again ten seconds later, and again within the hour.
  const int64_t t0 = FSys.UtcMs;
  for (int64_t later : {10000LL, 3600LL * 1000 - 1}) {
    FSys.UtcMs = t0 + later;
    bool started = true;
    EXPECT_EQ(Attempt(started), "");
    EXPECT_FALSE(started);
    EXPECT_EQ(LogLines().back().rfind("UPDATE_SKIPPED 版本代码 3 上次交给安装器后没有装上，", 0),
              0u)
        << LogLines().back();
  }
  // After the pause it is tried once more, fails the same way, and the next pause is longer.
  FSys.UtcMs = t0 + 3600LL * 1000;
  AttemptInstall();
  WaitForInstaller(4);
  EXPECT_EQ(Read(FStarts), "new\nold\nnew\nold\n");
  FSys.UtcMs += 10000;
  bool started = true;
  EXPECT_EQ(Attempt(started), "");
  EXPECT_EQ(LogLines().back(),
            "UPDATE_SKIPPED 版本代码 3 上次交给安装器后没有装上，120 分钟后再试");
  EXPECT_EQ(Read(fs::path(FSys.Exe) / kProgramFileName), StandIn("old", FStarts));
  ExpectOnlyScriptsLeft();
}

} // namespace
} // namespace hb
