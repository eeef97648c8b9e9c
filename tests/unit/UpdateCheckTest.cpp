// The update check against a scripted gateway: the request, the installed version code, the
// log lines of every outcome, the safety rule, and the download's clean-up.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppIdentity.h"
#include "Exception.h"
#include "FakeSystem.h"
#include "FileUtil.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "ReleaseKeyLine.h"
#include "shell/DiagnosticLog.h"
#include "update/uHallBoardUpdate.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

// A gateway without a network: one answer for the check, one for the download. Records what
// it was asked and how many body bytes the sink still accepted.
class TScriptedGateway : public IHttpClient {
 public:
  int CheckStatus = 200;
  std::string CheckBody;
  THttpError CheckError = THttpError::heNone;
  int DownloadStatus = 200;
  std::string DownloadBody;
  int64_t DownloadRepeat = 1; // the body is sent this many times over
  THttpError DownloadError = THttpError::heNone;
  std::vector<THttpRequest> Requests;
  int64_t Delivered = 0;

  THttpResponse Send(const THttpRequest& request, IHttpSink* sink) override {
    Requests.push_back(request);
    THttpResponse r;
    if (request.Url.find("/getUpdate") != std::string::npos) {
      r.Error = CheckError;
      if (r.Error != THttpError::heNone) {
        r.ErrorMessage = "connection refused";
        return r;
      }
      r.Status = CheckStatus;
      r.Body = CheckBody;
      r.BodyBytes = static_cast<int64_t>(r.Body.size());
      // As the real clients do: a body past the cap is cut there and marked.
      if (request.MaxBody >= 0 && r.BodyBytes > request.MaxBody) {
        r.Body.resize(static_cast<size_t>(request.MaxBody));
        r.Overflow = true;
      }
      return r;
    }
    r.Status = DownloadStatus;
    for (int64_t i = 0; i < DownloadRepeat; ++i) {
      if (!sink->Write(DownloadBody.data(), DownloadBody.size())) {
        r.Error = THttpError::heAborted;
        return r;
      }
      Delivered += static_cast<int64_t>(DownloadBody.size());
    }
    if (DownloadError != THttpError::heNone) {
      r.Error = DownloadError;
      r.ErrorMessage = "no bytes for 15 s";
    }
    return r;
  }
};

const std::string kBase = "http://127.0.0.1:58001";
const std::string kZeros(64, '0');

std::string ReadAll(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The log goes to "logs" in the suite's executable folder; each test reads what it added.
class UpdateCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/hb-update-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    sRoot = tmpl;
  }
  static void TearDownTestSuite() {
    ResetLogFolderTestForTests();
    std::error_code ec;
    fs::remove_all(sRoot, ec);
  }

  void SetUp() override {
    FSys.Exe = sRoot + "/exe/";
    FSys.Temp = sRoot + "/temp/";
    FSys.AppData = sRoot + "/appdata";
    fs::remove_all(FSys.AppData);
    fs::create_directories(FSys.Exe);
    fs::create_directories(FSys.Temp);
    fs::remove(FSys.Exe + ".installed-version-code");
    InstallPlatform(&FSys, &FHasher);
    ResetLogFolderTestForTests();
    FLogPath = LogFilePath(kAppFolder);
    FLogStart = ReadAll(FLogPath).size();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(FSys.Temp, ec);
    InstallPlatform(nullptr, nullptr);
  }

  // The log lines written since the test began, without their time of day.
  std::vector<std::string> NewLogLines() {
    std::string tail = ReadAll(FLogPath).substr(FLogStart);
    std::vector<std::string> lines;
    std::istringstream in(tail);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line.substr(9));
    }
    return lines;
  }

  // Runs one attempt; the error's message (empty when none) for the caller to check.
  std::string Run(bool& started) {
    started = false;
    THttpClientFactory factory = [this] {
      return std::unique_ptr<IHttpClient>(new TForward(FGateway));
    };
    try {
      started = RunUpdateCheck(kBase, kAppVersion, kAppVersionCode, factory);
      return {};
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  std::vector<std::string> TempEntries() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(FSys.Temp)) names.push_back(e.path().filename());
    return names;
  }

  void Offer(const std::string& members) {
    FGateway.CheckBody = "{\"update\":true," + members + "}";
  }

  struct TForward : IHttpClient {
    explicit TForward(TScriptedGateway& g) : G(g) {}
    THttpResponse Send(const THttpRequest& r, IHttpSink* s) override { return G.Send(r, s); }
    TScriptedGateway& G;
  };

  static inline std::string sRoot;
  test::TFakeSystem FSys;
  TOpenSslHasher FHasher;
  TScriptedGateway FGateway;
  std::string FLogPath;
  size_t FLogStart = 0;
};

TEST_F(UpdateCheck, InstalledVersionCodeRules) {
  struct {
    const char* content; // nullptr: no file
    int64_t want;
  } cases[] = {
      {nullptr, 0},
      {" 7 \r\n", 7},
      {"7", 7},
      {"abc", 0},
      {"", 0},
      {"12x", 0},
      {"1 2", 0},
      {"\t5\n", 5},
      {"0x10", 0},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", 0},
  };
  const std::string folder = sRoot + "/exe";
  for (const auto& c : cases) {
    fs::remove(folder + "/.installed-version-code");
    if (c.content) WriteFileBytes(folder + "/.installed-version-code", c.content);
    EXPECT_EQ(ReadInstalledVersionCode(folder), c.want) << (c.content ? c.content : "(none)");
  }
}

TEST_F(UpdateCheck, RequestBodyIsCompactOrderedAndAscii) {
  EXPECT_EQ(BuildUpdateRequest("1.0.1", 5, 1765324800, "0a-b"),
            "{\"component\":\"HallBoard\",\"current_version\":\"1.0.1\","
            "\"current_version_code\":5,\"ts\":1765324800,\"nonce\":\"0a-b\"}");
  // Control characters, quotes, Chinese and a character beyond the basic plane; a stray byte
  // that is not UTF-8 becomes U+FFFD rather than invalid JSON.
  EXPECT_EQ(BuildUpdateRequest("版\"\\\n\x7f\xF0\x9F\x98\x80\xFF", -1, 0, ""),
            "{\"component\":\"HallBoard\",\"current_version\":\"\\u7248\\\"\\\\\\u000a\x7f"
            "\\ud83d\\ude00\\ufffd\",\"current_version_code\":-1,\"ts\":0,\"nonce\":\"\"}");
}

TEST_F(UpdateCheck, NonceIsALowerCaseGuidWithoutBraces) {
  struct TBraced : test::TFakeSystem {
    std::string NewGuid() override { return "{6B29FC40-CA47-1067-B31D-00DD010662DA}"; }
  } sys;
  InstallPlatform(&sys, &FHasher);
  EXPECT_EQ(NewNonce(), "6b29fc40-ca47-1067-b31d-00dd010662da");
}

// A failed GUID or temporary-folder call is an error of the attempt, never an empty name.
TEST_F(UpdateCheck, NoGuidOrNoTemporaryFolderFailsTheAttempt) {
  struct TNoGuid : test::TFakeSystem {
    std::string Guid;
    std::string NewGuid() override { return Guid; }
  } sys;
  InstallPlatform(&sys, &FHasher);
  for (const char* guid : {"", "{}", "not-a-guid", "6b29fc40-ca47-1067-b31d-00dd010662d"}) {
    sys.Guid = guid;
    EXPECT_THROW(NewNonce(), Exception) << guid;
  }
  InstallPlatform(&FSys, &FHasher);

  FSys.Temp = "";
  Offer("\"version_code\":3,\"version\":\"1.0.2\",\"download_path\":\"/downloadUpdate?v=3\","
        "\"sha256\":\"" +
        kZeros + "\",\"size\":10");
  bool started = true;
  EXPECT_EQ(Run(started), "无法取得临时文件夹");
  EXPECT_FALSE(started);
  EXPECT_EQ(NewLogLines().back(), "UPDATE_FAILED Exception：无法取得临时文件夹");
  EXPECT_EQ(FGateway.Requests.size(), 1u); // nothing downloaded to a relative path
}

TEST(UpdateSource, DevelopmentKeyInstallsOnlyFromThisMachine) {
  const struct {
    const char* Base;
    bool Loopback;
  } kCases[] = {
      {"http://127.0.0.1:58001", true},
      {"http://127.8.9.10:1", true},
      {"http://localhost:58001", true},
      {"http://LOCALHOST:1", true},
      {"http://[::1]:58001", true},
      {"http://192.168.1.10:58001", false},
      {"http://10.0.0.2:58001", false},
      {"http://127.0.0.1.evil.cn:1", false},
      {"http://localhost.evil.cn:1", false},
      {"http://1127.0.0.1:1", false},
      {"http://127.0.0.256:1", false},
      {"http://[::2]:1", false},
      {"http://:58001", false},
      {"127.0.0.1:58001", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MayInstallFrom(c.Base, true), c.Loopback) << c.Base;
    EXPECT_TRUE(MayInstallFrom(c.Base, false)) << c.Base; // a deployment key trusts its gateway
  }
}

// This test build trusts the development key: a gateway elsewhere on the network is told no in
// one line, before anything is downloaded.
TEST_F(UpdateCheck, DevelopmentKeyBuildRefusesAGatewayElsewhere) {
  ASSERT_TRUE(kBuiltInReleaseKeyIsDevelopment);
  Offer("\"version_code\":3,\"version\":\"1.0.2\",\"download_path\":\"/downloadUpdate?v=3\","
        "\"sha256\":\"" +
        kZeros + "\",\"size\":10");
  const std::string elsewhere = "http://192.168.1.10:58001";
  THttpClientFactory factory = [this] {
    return std::unique_ptr<IHttpClient>(new TForward(FGateway));
  };
  EXPECT_THROW(RunUpdateCheck(elsewhere, kAppVersion, kAppVersionCode, factory), Exception);
  EXPECT_EQ(NewLogLines().back(),
            "UPDATE_FAILED Exception：本程序用开发密钥构建，只安装本机网关提供的更新，不安装网关 " +
                elsewhere + " 提供的版本 3");
  EXPECT_EQ(FGateway.Requests.size(), 1u); // the check only
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(UpdateCheck, PostsTheRequestWithBothHeadersAndNoRedirects) {
  FGateway.CheckBody = "{\"update\":false}";
  bool started = true;
  EXPECT_EQ(Run(started), "");
  EXPECT_FALSE(started);
  ASSERT_EQ(FGateway.Requests.size(), 1u);
  const THttpRequest& r = FGateway.Requests[0];
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.Url, kBase + "/getUpdate");
  std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "application/json"},
                                                              {"Accept", "application/json"}};
  EXPECT_EQ(r.Headers, headers);
  EXPECT_FALSE(r.FollowRedirects);
  EXPECT_EQ(r.ConnectTimeoutMs, 3000);
  EXPECT_EQ(r.ResponseTimeoutMs, 15000);
  EXPECT_EQ(r.TotalTimeoutMs, 18000);
  EXPECT_EQ(r.MinBytesPerSecond, 0);
  EXPECT_EQ(r.Body, "{\"component\":\"HallBoard\",\"current_version\":\"1.0.1\","
                    "\"current_version_code\":2,\"ts\":1765324800,\"nonce\":\"" +
                        std::string("00000000-0000-4000-8000-000000000001") + "\"}");
  EXPECT_EQ(NewLogLines(), (std::vector<std::string>{
                               "UPDATE_CHECK 本机 1.0.1 (2)，网关 " + kBase,
                               "UPDATE_IDLE 无需更新（已是网关提供的最新版本）",
                           }));
}

TEST_F(UpdateCheck, InstalledCodeAboveTheBuiltInOneIsReportedAndSent) {
  WriteFileBytes(FSys.Exe + ".installed-version-code", "5\r\n");
  FGateway.CheckBody = "{\"update\":true,\"version_code\":5}";
  bool started = true;
  EXPECT_EQ(Run(started), "");
  EXPECT_NE(FGateway.Requests.at(0).Body.find("\"current_version_code\":5,"), std::string::npos);
  EXPECT_EQ(NewLogLines(), (std::vector<std::string>{
                               "UPDATE_CHECK 本机 1.0.1 (2，已安装更新包 5)，网关 " + kBase,
                               "UPDATE_IDLE 无需更新：本机 5，网关 5",
                           }));
}

TEST_F(UpdateCheck, IdleAnswers) {
  struct {
    std::string body, line;
  } cases[] = {
      {"{\"update\":false,\"reason\":\"门店已关闭自动更新\"}",
       "UPDATE_IDLE 无需更新：门店已关闭自动更新"},
      {"{\"update\":false,\"reason\":\"\"}", "UPDATE_IDLE 无需更新（已是网关提供的最新版本）"},
      {"{\"reason\":null}", "UPDATE_IDLE 无需更新（已是网关提供的最新版本）"},
      {"{\"update\":\"no\",\"version_code\":9}", "UPDATE_IDLE 无需更新（已是网关提供的最新版本）"},
      {"{\"update\":true,\"version_code\":2}", "UPDATE_IDLE 无需更新：本机 2，网关 2"},
      {"{\"update\":true,\"version_code\":1}", "UPDATE_IDLE 无需更新：本机 2，网关 1"},
      {"{\"update\":true}", "UPDATE_IDLE 无需更新：本机 2，网关 0"},
      // Not newer wins over unsafe: only idle.
      {"{\"update\":true,\"version_code\":2,\"download_path\":\"/evil\",\"size\":0}",
       "UPDATE_IDLE 无需更新：本机 2，网关 2"},
  };
  for (const auto& c : cases) {
    FGateway.CheckBody = c.body;
    FLogStart = ReadAll(FLogPath).size();
    bool started = true;
    EXPECT_EQ(Run(started), "") << c.body;
    EXPECT_FALSE(started);
    std::vector<std::string> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u) << c.body;
    EXPECT_EQ(lines[1], c.line) << c.body;
  }
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(UpdateCheck, ErrorStatusIsOneLineQuoting200Characters) {
  std::string page = "<html>\r\n<body>" + std::string(100, 'x');
  for (int i = 0; i < 200; ++i) page += "错";
  FGateway.CheckStatus = 500;
  FGateway.CheckBody = page;
  bool started = true;
  EXPECT_EQ(Run(started), "");
  EXPECT_FALSE(started);
  std::string quoted = "<html>  <body>" + std::string(100, 'x');
  for (int i = 0; i < 86; ++i) quoted += "错";
  std::vector<std::string> lines = NewLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "UPDATE_CHECK_FAILED 网关返回 HTTP 500：" + quoted);

  // A redirect is not followed: it is just another status.
  FGateway.CheckStatus = 302;
  FGateway.CheckBody = "";
  FLogStart = ReadAll(FLogPath).size();
  EXPECT_EQ(Run(started), "");
  EXPECT_EQ(NewLogLines().at(1), "UPDATE_CHECK_FAILED 网关返回 HTTP 302：");
}

TEST_F(UpdateCheck, FailuresAreLoggedOnceWithKindAndMessage) {
  struct {
    std::string body, line;
  } cases[] = {
      {"[1,2]", "UPDATE_FAILED Exception：网关更新响应不是 JSON"},
      {"<html>oops</html>", "UPDATE_FAILED Exception：网关更新响应不是 JSON"},
      {"", "UPDATE_FAILED Exception：网关更新响应不是 JSON"},
      {"{\"update\":true,\"version_code\":3,\"download_path\":\"/DownloadUpdate?v=3\","
       "\"sha256\":\"" +
           kZeros + "\",\"size\":10}",
       "UPDATE_FAILED Exception：更新元数据不安全"},
  };
  for (const auto& c : cases) {
    FGateway.CheckBody = c.body;
    FLogStart = ReadAll(FLogPath).size();
    bool started = true;
    EXPECT_NE(Run(started), "") << c.body;
    std::vector<std::string> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u) << c.body;
    EXPECT_EQ(lines[1], c.line);
  }
  FGateway.CheckError = THttpError::heConnect;
  FLogStart = ReadAll(FLogPath).size();
  bool started = true;
  EXPECT_NE(Run(started), "");
  EXPECT_EQ(NewLogLines().at(1).rfind("UPDATE_FAILED EHttpError：连不上门店网关", 0), 0u);
}

// The check answer is read into memory only up to 1 MiB; a longer one is refused even when
// its first MiB is a complete offer, and nothing is downloaded.
TEST_F(UpdateCheck, CheckAnswerPastOneMiBIsRefused) {
  const std::string offer = "{\"update\":true,\"version_code\":3,\"version\":\"1.0.2\","
                            "\"download_path\":\"/downloadUpdate?v=3\",\"sha256\":\"" +
                            kZeros + "\",\"size\":10}";
  const std::string idle = "{\"update\":false,\"reason\":\"r\"}";
  constexpr size_t kCap = 1048576;
  struct {
    std::string Body;
    std::string Line;
    bool Threw;
  } cases[] = {
      // Exactly the cap is still read whole.
      {idle + std::string(kCap - idle.size(), ' '), "UPDATE_IDLE 无需更新：r", false},
      {offer + std::string(kCap + 1 - offer.size(), ' '),
       "UPDATE_FAILED Exception：网关更新响应不是 JSON", true},
      {offer + std::string(8 * kCap, ' '), "UPDATE_FAILED Exception：网关更新响应不是 JSON", true},
  };
  for (const auto& c : cases) {
    FGateway.CheckBody = c.Body;
    FGateway.Requests.clear();
    FLogStart = ReadAll(FLogPath).size();
    bool started = true;
    EXPECT_EQ(Run(started) != "", c.Threw) << c.Body.size();
    EXPECT_FALSE(started);
    ASSERT_EQ(FGateway.Requests.size(), 1u) << c.Body.size(); // no download
    EXPECT_EQ(FGateway.Requests[0].MaxBody, static_cast<int64_t>(kCap));
    std::vector<std::string> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u) << c.Body.size();
    EXPECT_EQ(lines[1], c.Line) << c.Body.size();
  }
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(UpdateCheck, OfferMemberRules) {
  struct {
    std::string json;
    bool update;
    int64_t size, code;
    std::string sha;
  } cases[] = {
      {"{\"update\":\"TRUE\",\"size\":\"123\",\"version_code\":12.0}", true, 123, 12, ""},
      {"{\"update\":1,\"size\":1e3,\"version_code\":true}", true, 1000, 1, ""},
      {"{\"update\":\"0\",\"size\":1.5,\"version_code\":9223372036854775808}", false, 0, 0, ""},
      {"{\"update\":true,\"update\":false,\"size\":[1],\"sha256\":\"ABc\"}", true, 0, 0, "abc"},
      {"{\"update\":null,\"size\":-5,\"version_code\":\"x\",\"sha256\":5}", false, -5, 0, "5"},
  };
  for (const auto& c : cases) {
    TUpdateOffer o;
    ASSERT_TRUE(ParseUpdateOffer(c.json, o)) << c.json;
    EXPECT_EQ(o.Update, c.update) << c.json;
    EXPECT_EQ(o.Size, c.size) << c.json;
    EXPECT_EQ(o.VersionCode, c.code) << c.json;
    EXPECT_EQ(o.Sha256, c.sha) << c.json;
  }
  TUpdateOffer o;
  EXPECT_FALSE(ParseUpdateOffer("\"update\"", o));
  EXPECT_FALSE(ParseUpdateOffer("{\"update\":true", o));
}

TEST_F(UpdateCheck, SafetyRuleBoundaries) {
  auto offer = [](std::string path, std::string sha, int64_t size) {
    TUpdateOffer o;
    o.DownloadPath = path;
    o.Sha256 = sha;
    o.Size = size;
    return o;
  };
  const std::string ok = "/downloadUpdate?v=3";
  EXPECT_TRUE(IsSafeOffer(offer(ok, kZeros, 1)));
  EXPECT_TRUE(IsSafeOffer(offer(ok, kZeros, kMaxPackageSize)));
  EXPECT_TRUE(IsSafeOffer(offer("/downloadUpdate?", kZeros, 10)));
  EXPECT_FALSE(IsSafeOffer(offer(ok, kZeros, kMaxPackageSize + 1)));
  EXPECT_FALSE(IsSafeOffer(offer(ok, kZeros, 0)));
  EXPECT_FALSE(IsSafeOffer(offer(ok, kZeros, -1)));
  EXPECT_FALSE(IsSafeOffer(offer("/downloadupdate?v=3", kZeros, 10)));
  EXPECT_FALSE(IsSafeOffer(offer("/downloadUpdate", kZeros, 10)));
  EXPECT_FALSE(IsSafeOffer(offer("http://evil/downloadUpdate?v=3", kZeros, 10)));
  EXPECT_FALSE(IsSafeOffer(offer(ok, std::string(63, '0'), 10)));
  EXPECT_FALSE(IsSafeOffer(offer(ok, std::string(65, '0'), 10)));
  // A digest no file can have is refused before anything is downloaded.
  const std::string hex = "0123456789abcdefABCDEF0123456789abcdef0123456789abcdef0123456789";
  ASSERT_EQ(hex.size(), 64u);
  EXPECT_TRUE(IsSafeOffer(offer(ok, hex, 10)));
  for (const std::string& bad : {std::string(64, 'g'), std::string(63, '0') + " ",
                                 std::string(63, '0') + "x", "-" + std::string(63, '0'),
                                 std::string(62, '0') + "\xC3\xA4", std::string(63, '0') + '\0'}) {
    ASSERT_EQ(bad.size(), 64u);
    EXPECT_FALSE(IsSafeOffer(offer(ok, bad, 10))) << bad;
  }
  // Upper-case hexadecimal is accepted: the reader lower-cases it.
  TUpdateOffer upper;
  ASSERT_TRUE(ParseUpdateOffer("{\"sha256\":\"" + std::string(64, 'A') + "\"}", upper));
  EXPECT_TRUE(IsSafeOffer(offer(ok, upper.Sha256, 10)));
}

// Every download failure leaves the temporary folder as it was.
// A code handed to the installer that is offered again while the program still reports an older
// one failed to install. It is skipped (one line per check) for 1 h, then 2 h, 4 h, ... at most
// 24 h after each further hand-over; a newer code goes ahead at once. The clock is the fake's.
TEST_F(UpdateCheck, AFailedInstallationIsNotRetriedAtOnce) {
  const int64_t hour = 3600LL * 1000, t0 = FSys.UtcMs;
  auto offer = [&](int64_t code) {
    FGateway = TScriptedGateway{};
    Offer("\"version_code\":" + std::to_string(code) +
          ",\"version\":\"1.0.x\",\"download_path\":\"/downloadUpdate?v=3\","
          "\"sha256\":\"" +
          std::string(kZeros) + "\",\"size\":10");
  };
  // The outcome of one check at a time: the skip line, or "tried" when it went for the package.
  auto checkAt = [&](int64_t now, int64_t code) {
    FSys.UtcMs = now;
    offer(code);
    FLogStart = ReadAll(FLogPath).size();
    bool started = true;
    Run(started);
    std::vector<std::string> lines = NewLogLines();
    if (lines.size() >= 2 && lines[1].rfind("UPDATE_DOWNLOADING ", 0) == 0)
      return std::string("tried");
    EXPECT_EQ(lines.size(), 2u);
    return lines.size() >= 2 ? lines[1] : std::string("?");
  };
  RememberHandoff(3, t0);
  EXPECT_EQ(checkAt(t0 + 10000, 3),
            "UPDATE_SKIPPED 版本代码 3 上次交给安装器后没有装上，60 分钟后再试");
  EXPECT_EQ(checkAt(t0 + hour - 1, 3),
            "UPDATE_SKIPPED 版本代码 3 上次交给安装器后没有装上，1 分钟后再试");
  EXPECT_EQ(checkAt(t0 + 20000, 4), "tried"); // a newer code at once
  EXPECT_EQ(checkAt(t0 + hour, 3), "tried");
  RememberHandoff(3, t0 + hour); // handed over again, and again it did not install
  EXPECT_EQ(checkAt(t0 + 3 * hour - 1, 3),
            "UPDATE_SKIPPED 版本代码 3 上次交给安装器后没有装上，1 分钟后再试");
  EXPECT_EQ(checkAt(t0 + 3 * hour, 3), "tried");
  // A clock set back far does not park the code for the years in between: the pause counts
  // from the time the clock now shows.
  EXPECT_EQ(checkAt(t0 - 400LL * 24 * hour, 3),
            "UPDATE_SKIPPED 版本代码 3 上次交给安装器后没有装上，120 分钟后再试");
  EXPECT_EQ(checkAt(t0 - 400LL * 24 * hour + 2 * hour, 3), "tried");

  const int64_t pauses[] = {1, 2, 4, 8, 16, 24, 24};
  for (int64_t failures = 1; failures <= 7; ++failures)
    EXPECT_EQ(HandoffPauseMs(failures), pauses[failures - 1] * hour) << failures;
  // A record in the per-user folder that is not ours is no memory at all.
  WriteFileBytes(JoinPath(JoinPath(FSys.AppData, "hallBoard"), "update-handoff.txt"), "3 x");
  EXPECT_EQ(checkAt(t0 + 10000, 3), "tried");
}

TEST_F(UpdateCheck, DownloadFailuresCleanUp) {
  const std::string body = "PK\x03\x04 not really a package";
  struct {
    const char* name;
    int status;
    std::string body;
    int64_t repeat;
    THttpError error;
    std::string announcedSha;
    const char* failure;
  } cases[] = {
      {"short", 200, body.substr(0, 10), 1, THttpError::heNone, kZeros, "更新包下载不完整"},
      {"redirect", 302, "", 1, THttpError::heNone, kZeros, "更新包下载不完整"},
      {"not found", 404, body, 1, THttpError::heNone, kZeros, "更新包下载不完整"},
      {"endless", 200, body, 1000000, THttpError::heNone, kZeros, "更新包下载不完整"},
      {"wrong digest", 200, body, 1, THttpError::heNone, kZeros, "更新包 SHA-256 校验失败"},
      {"cut off", 200, body.substr(0, 5), 1, THttpError::heOther, kZeros, "更新包下载不完整"},
      {"stalled", 200, body.substr(0, 5), 1, THttpError::heTimeout, kZeros,
       "门店网关响应超时（下载更新包）：no bytes for 15 s"},
  };
  for (const auto& c : cases) {
    FGateway = TScriptedGateway{};
    FGateway.DownloadStatus = c.status;
    FGateway.DownloadBody = c.body;
    FGateway.DownloadRepeat = c.repeat;
    FGateway.DownloadError = c.error;
    Offer("\"version_code\":3,\"version\":\"1.0.2\",\"download_path\":\"/downloadUpdate?v=3\","
          "\"sha256\":\"" +
          c.announcedSha + "\",\"size\":" + std::to_string(body.size()));
    FLogStart = ReadAll(FLogPath).size();
    bool started = true;
    EXPECT_EQ(Run(started), c.failure) << c.name;
    EXPECT_FALSE(started);
    EXPECT_TRUE(TempEntries().empty()) << c.name;
    EXPECT_TRUE(FSys.Launched.empty());
    std::vector<std::string> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 3u) << c.name;
    EXPECT_EQ(lines[1], "UPDATE_DOWNLOADING 目标版本 1.0.2 (3)，大小 " +
                            std::to_string(body.size()) + " 字节");
    EXPECT_EQ(lines[2].rfind("UPDATE_FAILED ", 0), 0u);
    EXPECT_NE(lines[2].find(c.failure), std::string::npos);
    ASSERT_EQ(FGateway.Requests.size(), 2u);
    EXPECT_EQ(FGateway.Requests[1].Url, kBase + "/downloadUpdate?v=3");
    EXPECT_FALSE(FGateway.Requests[1].FollowRedirects);
    // No total for a package of any size, but a floor on its average rate.
    EXPECT_EQ(FGateway.Requests[1].TotalTimeoutMs, 0);
    EXPECT_EQ(FGateway.Requests[1].MinBytesPerSecond, 1024);
    EXPECT_EQ(FGateway.Requests[1].RateWindowMs, 60000);
    // A gateway that keeps sending is cut off at the announced size.
    EXPECT_LE(FGateway.Delivered, static_cast<int64_t>(body.size())) << c.name;
  }
}

TEST_F(UpdateCheck, AProgramFolderThisUserCannotWriteIsNeverHandedToTheInstaller) {
  // Installed by the package manager, or under Program Files by an administrator: the installer
  // could only fail, after the display had closed for it. The folder is made read-only for real:
  // a read-only bind mount in a mount namespace of our own (root passes any permission bits),
  // or, for an ordinary user, the permission bits.
  const std::string exe = FSys.Exe.substr(0, FSys.Exe.size() - 1);
  bool mounted = false;
  if (unshare(CLONE_NEWNS) == 0 &&
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
      mount(exe.c_str(), exe.c_str(), nullptr, MS_BIND, nullptr) == 0) {
    mounted = mount(nullptr, exe.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (!mounted) umount(exe.c_str());
  }
  if (!mounted) {
    if (geteuid() == 0)
      GTEST_SKIP() << "skipped: no read-only bind mount here, and root writes anywhere";
    fs::permissions(exe, fs::perms::owner_read | fs::perms::owner_exec);
  }
  // The log moves to the per-user folder, as it does for the program.
  ResetLogFolderTestForTests();
  FLogPath = LogFilePath(kAppFolder);
  FLogStart = ReadAll(FLogPath).size();
  Offer("\"version_code\":3,\"version\":\"1.0.2\",\"download_path\":\"/downloadUpdate?v=3\","
        "\"sha256\":\"" +
        kZeros + "\",\"size\":10");
  bool started = true;
  const std::string failure = Run(started);
  if (mounted)
    umount(exe.c_str());
  else
    fs::permissions(exe, fs::perms::owner_all);
  ResetLogFolderTestForTests();

  const std::string want =
      "程序文件夹 " + exe +
      " 不可写，无法自动安装更新：请用安装包更新，或让运行机位图的用户可以写这个文件夹";
  EXPECT_EQ(failure, want);
  EXPECT_FALSE(started);
  const std::vector<std::string> lines = NewLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "UPDATE_FAILED Exception：" + want);
  EXPECT_EQ(FGateway.Requests.size(), 1u) << "nothing downloaded";
  EXPECT_TRUE(FSys.Launched.empty());
  EXPECT_TRUE(TempEntries().empty());
  for (auto& e : fs::directory_iterator(exe))
    EXPECT_NE(e.path().filename().string().rfind(".hallBoard-write-check-", 0), 0u);
}

} // namespace
} // namespace hb
