// The display window over real loopback HTTP: the resolution thread, the gateway cache and the
// update attempt run the program's own code with the libcurl client against hallboard-demo;
// only the native window, the browser and the clock are fakes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "AppIdentity.h"
#include "CurlHttpClient.h"
#include "DemoProcess.h"
#include "FakeBrowser.h"
#include "FakeSystem.h"
#include "FakeTimer.h"
#include "FakeUiQueue.h"
#include "FakeWindowHost.h"
#include "FileUtil.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "display/uHallBoardMain.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

class FormOverLoopback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sDemo = std::make_unique<test::TDemoProcess>(); }
  static void TearDownTestSuite() { sDemo.reset(); }

  void SetUp() override {
    FRoot = (fs::temp_directory_path() / ("hb-form-it-" + std::to_string(::getpid()))).string();
    fs::remove_all(FRoot);
    fs::create_directories(FRoot + "/exe");
    FSys.Exe = FRoot + "/exe/";
    FSys.Temp = FRoot + "/exe/";
    FSys.AppData = FRoot + "/appdata";
    InstallPlatform(&FSys, &FHasher);
    ResetLogFolderTestForTests();
    sDemo->SetFault(R"({"reset":true})");
    FSettings.Gateway = "127.0.0.1";
    FSettings.GatewayPort = sDemo->GatewayPort();
  }
  void TearDown() override {
    // Every background job hands its result back before the window and the fakes go: each
    // keeps Resolving() or UpdateChecking() set until its result has run.
    DrainUntil([&] { return !FForm || (!FForm->Resolving() && !FForm->UpdateChecking()); });
    FForm.reset();
    ResetLogFolderTestForTests();
    InstallPlatform(nullptr, nullptr);
    fs::remove_all(FRoot);
  }

  void Make() {
    TFormPorts p{FHost,
                 FBrowser,
                 FQueue,
                 FClock.Factory(),
                 [] { return std::make_unique<TCurlHttpClient>(); },
                 FSys};
    p.Settings = &FSettings;
    FForm = std::make_unique<THallBoardForm>(std::move(p));
  }
  // Runs queued results until pred holds (other jobs, such as the update attempt, may hand
  // their results back in between); false when it does not within 20 seconds.
  template <class F> bool DrainUntil(F pred) {
    for (int i = 0; i < 200 && !pred(); ++i) FQueue.WaitAndDrain(1, std::chrono::milliseconds(100));
    return pred();
  }
  std::string Log() { return ReadFileBytes(LogFilePath(kAppFolder)).value_or(""); }

  static std::unique_ptr<test::TDemoProcess> sDemo;
  std::string FRoot;
  test::TFakeSystem FSys;
  TOpenSslHasher FHasher;
  test::TFakeWindowHost FHost;
  test::TFakeBrowser FBrowser;
  test::TFakeUiQueue FQueue;
  test::TFakeClock FClock;
  TSettings FSettings;
  std::unique_ptr<THallBoardForm> FForm;
};

std::unique_ptr<test::TDemoProcess> FormOverLoopback::sDemo;

TEST_F(FormOverLoopback, ResolvesAndOpensTheDisplayPageThroughTheCache) {
  Make();
  FForm->FirstShow();
  FBrowser.FireCreated(0);
  ASSERT_EQ(FQueue.WaitAndDrain(1), 1);
  ASSERT_EQ(FBrowser.Navigations.size(), 1u);
  // What the demo serves by default: store 1001 "演示网吧" with maps 1 大厅, 2 包间区, 3 电竞区.
  EXPECT_EQ(FForm->NetBarId(), "1001");
  EXPECT_EQ(FForm->StoreName(), "演示网吧");
  ASSERT_EQ(FForm->Maps().size(), 3u);
  const std::pair<int32_t, std::string> kMaps[] = {{1, "大厅"}, {2, "包间区"}, {3, "电竞区"}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(FForm->Maps()[i].Id, kMaps[i].first);
    EXPECT_EQ(FForm->Maps()[i].Name, kMaps[i].second);
  }
  EXPECT_EQ(FForm->ServerUrl(), sDemo->CloudBase());
  EXPECT_EQ(FBrowser.Navigations[0], "http://127.0.0.1:" + std::to_string(sDemo->CloudPort()) +
                                         "/seatmap/display?NetBarId=1001&embed=1&m=1");
  EXPECT_TRUE(FForm->CacheHooked());
  EXPECT_FALSE(FBrowser.Filters.empty());
  EXPECT_TRUE(FBrowser.ResourceHandler);
}

TEST_F(FormOverLoopback, UnreachableGatewayCountsDownAndRecovers) {
  sDemo->SetFault(R"({"gateway":"down"})");
  Make();
  FForm->FirstShow();
  FBrowser.FireCreated(0);
  ASSERT_EQ(FQueue.WaitAndDrain(1), 1);
  EXPECT_EQ(FForm->CoverTitle(), "连不上门店网关");
  EXPECT_EQ(FForm->CoverHint(), "30 秒后自动重试 · 右键可退出");
  EXPECT_NE(Log().find("[M101-"), std::string::npos) << Log();
  EXPECT_TRUE(FBrowser.Navigations.empty());

  sDemo->SetFault(R"({"reset":true})");
  FClock.Advance(30000);
  EXPECT_EQ(FForm->CoverDetail(), "正在重新连接门店网关…");
  EXPECT_TRUE(DrainUntil([&] { return !FBrowser.Navigations.empty(); }));
}

TEST_F(FormOverLoopback, UpdateTickWithNothingOfferedKeepsTheWindowOpen) {
  Make();
  FForm->FirstShow();
  ASSERT_EQ(FQueue.WaitAndDrain(1), 1); // the resolution
  FClock.Advance(10000);
  EXPECT_TRUE(FForm->UpdateChecking());
  ASSERT_EQ(FQueue.WaitAndDrain(1), 1); // the update attempt
  EXPECT_FALSE(FForm->UpdateChecking());
  const std::string log = Log();
  EXPECT_NE(log.find("UPDATE_CHECK"), std::string::npos) << log;
  EXPECT_NE(log.find("UPDATE_IDLE"), std::string::npos) << log;
  EXPECT_EQ(log.find("UPDATE_RESTART"), std::string::npos) << log;
  EXPECT_EQ(FHost.Closes, 0);
  EXPECT_EQ(FForm->UpdateTimer().Interval(), 10800000u);
}

} // namespace
} // namespace hb
