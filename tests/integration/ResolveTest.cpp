// Gateway resolution over real loopback HTTP: the libcurl client against hallboard-demo, with
// the demo's fault switches standing in for every way a gateway or cloud can fail.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>

#include "CurlHttpClient.h"
#include "DemoProcess.h"
#include "FakeSystem.h"
#include "FileUtil.h"
#include "Json.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "gateway/GatewayResolve.h"
#include "shell/DiagnosticLog.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNoCloud = "门店网关没有给出云端地址";
constexpr const char* kNoGateway = "连不上门店网关";

class ResolveOverLoopback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sDemo = std::make_unique<test::TDemoProcess>(); }
  static void TearDownTestSuite() { sDemo.reset(); }

  void SetUp() override {
    FRoot = (fs::temp_directory_path() / ("hb-resolve-it-" + std::to_string(::getpid()))).string();
    fs::remove_all(FRoot);
    fs::create_directories(FRoot + "/exe");
    FSys.Exe = FRoot + "/exe/";
    FSys.AppData = FRoot + "/appdata";
    InstallPlatform(&FSys, &FHasher);
    ResetLogFolderTestForTests();
    sDemo->SetFault(R"({"reset":true})");
    sDemo->ResetStats();
    FIn.Gateway = "127.0.0.1";
    FIn.Port = sDemo->GatewayPort();
  }
  void TearDown() override {
    ResetLogFolderTestForTests();
    InstallPlatform(nullptr, nullptr);
    fs::remove_all(FRoot);
  }

  TResolveResult Resolve(const TResolveInputs& in) {
    TCurlHttpClient http; // one client per resolution, as on the resolution thread
    return RunResolution(in, http);
  }
  // The log's lines without their time of day.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(LogFilePath("hallBoard")).value_or(""));
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(9, l.size() - 10));
    return lines;
  }
  // How often a path was asked of the gateway (true) or the cloud.
  int64_t Requests(bool gateway, const char* path) {
    const TJsonDocument stats = ParseJsonDocument(sDemo->Stats(gateway));
    return GetJsonInt64(FindJsonMember(stats.Object(), "requests"), path, 0);
  }
  std::string Cloud() const { return sDemo->CloudBase(); }

  static std::unique_ptr<test::TDemoProcess> sDemo;
  std::string FRoot;
  test::TFakeSystem FSys;
  TOpenSslHasher FHasher;
  TResolveInputs FIn;
};

std::unique_ptr<test::TDemoProcess> ResolveOverLoopback::sDemo;

const std::vector<TSeatMapItem> kDemoMaps = {{1, "大厅"}, {2, "包间区"}, {3, "电竞区"}};

TEST_F(ResolveOverLoopback, Success) {
  const TResolveResult r = Resolve(FIn);
  EXPECT_EQ(r.Problem, "");
  EXPECT_EQ(r.Server, Cloud()); // the entry_url's path and query are dropped
  EXPECT_EQ(r.NetBar, "1001");
  EXPECT_EQ(r.StoreName, "演示网吧");
  EXPECT_EQ(r.Maps, kDemoMaps);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(Requests(true, "/entry"), 1);
  EXPECT_EQ(Requests(false, "/seatmap/display/list"), 1);
}

TEST_F(ResolveOverLoopback, HandGivenCloudAndStoreNeverAskTheGateway) {
  TResolveInputs in; // no gateway address at all
  in.ServerOverride = Cloud();
  in.NetBarOverride = "2002 店";
  const TResolveResult r = Resolve(in);
  EXPECT_EQ(r.Problem, "");
  EXPECT_EQ(r.Server, Cloud());
  EXPECT_EQ(r.NetBar, "2002 店");
  EXPECT_EQ(r.Maps, kDemoMaps);
  EXPECT_EQ(Requests(true, "/entry"), 0);
  EXPECT_EQ(Requests(false, "/seatmap/display/list"), 1);
  const TJsonDocument stats = ParseJsonDocument(sDemo->Stats(false));
  EXPECT_EQ(GetJsonText(FindJsonMember(stats.Object(), "last_query"), "/seatmap/display/list"),
            "NetBarId=2002+%E5%BA%97");
}

TEST_F(ResolveOverLoopback, FailureRows) {
  const struct {
    const char* Fault;
    const char* Problem; // "" for a success
    size_t Maps;
    const char* LogStart; // the problem line's start after the tag, or nullptr for none
  } kCases[] = {
      {R"({"gateway":"down"})", kNoGateway, 0, "GET /entry 127.0.0.1: "},
      {R"({"entry":"500"})", kNoCloud, 0, nullptr},
      {R"({"entry":"text"})", kNoCloud, 0, nullptr},
      {R"({"entry":"no-netbarid"})", kNoCloud, 0, nullptr},
      {R"({"entry":"no-entry-url"})", kNoCloud, 0, nullptr},
      {R"({"entry":"bad-entry-url"})", kNoGateway, 0, "GET /entry 127.0.0.1: 云端地址无效"},
      {R"({"entry":"huge"})", kNoCloud, 0, nullptr},
      {R"({"entry":"deep"})", "", 3, nullptr}, // valid JSON with every member we read
      {R"({"cloud":"down"})", "", 0, "GET /seatmap/display/list: "},
      {R"({"maplist":"fail"})", "", 0, nullptr},
      {R"({"maplist":"object"})", "", 0, nullptr},
      {R"({"maplist":"not-object"})", "", 0, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Fault);
    fs::remove_all(FRoot + "/exe/logs");
    sDemo->SetFault(R"({"reset":true})");
    sDemo->SetFault(c.Fault);
    const TResolveResult r = Resolve(FIn);
    EXPECT_EQ(r.Problem, c.Problem);
    EXPECT_EQ(r.Maps.size(), c.Maps);
    const std::vector<std::string> log = LogLines();
    if (c.LogStart) {
      ASSERT_EQ(log.size(), 1u);
      EXPECT_EQ(log[0].substr(0, 2), "[M");
      EXPECT_EQ(log[0].substr(12, std::string(c.LogStart).size()), c.LogStart) << log[0];
    } else {
      EXPECT_TRUE(log.empty());
    }
  }
  sDemo->SetFault(R"({"reset":true})");
}

TEST_F(ResolveOverLoopback, HangingGatewayFailsAfterTheResponseTimeOut) {
  sDemo->SetFault(R"({"entry":"hang"})");
  const auto start = std::chrono::steady_clock::now();
  const TResolveResult r = Resolve(FIn);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  sDemo->SetFault(R"({"reset":true})");
  EXPECT_EQ(r.Problem, kNoGateway);
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].substr(0, 6), "[M101-");
  // It waited for the answer's time-out, not for the demo's two-minute hang.
  EXPECT_GE(seconds, 7.5);
  EXPECT_LT(seconds, 60.0);
}

} // namespace
} // namespace hb
