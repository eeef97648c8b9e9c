// Update scheduling in the display window: 10 seconds, then every 3 hours; one attempt at a
// time; an installer that started closes the window with the restart line.
#include "Exception.h"
#include "FormFixture.h"

namespace hb {
namespace {

// With a gateway host, so the update timer runs.
struct TFormUpdate : test::TFormFixture {
  void SetUp() override {
    TFormFixture::SetUp();
    Settings.Gateway = "192.168.1.10";
  }
};

constexpr const char* kRestartLine =
    "UPDATE_RESTART 发现新版本，机位图退出，安装器更新后自动重新打开";

TEST_F(TFormUpdate, TicksAfterTenSecondsThenEveryThreeHours) {
  Start();
  Clock.Advance(9999);
  EXPECT_EQ(Updates, 0);
  Clock.Advance(1);
  Deliver();
  EXPECT_EQ(Updates, 1);
  EXPECT_EQ(Form->UpdateTimer().Interval(), 10800000u);
  EXPECT_FALSE(Form->UpdateChecking());
  Clock.Advance(10800000 - 1);
  EXPECT_EQ(Updates, 1);
  Clock.Advance(1);
  Deliver();
  EXPECT_EQ(Updates, 2);
  EXPECT_EQ(Host.Closes, 0);
  EXPECT_EQ(Log().find("UPDATE_"), std::string::npos);
}

TEST_F(TFormUpdate, NoGatewayNoUpdates) {
  Settings.Gateway = "";
  Start(); // a cloud address given by hand, no gateway host
  Clock.Advance(4 * 10800000ull);
  EXPECT_EQ(Updates, 0);
  EXPECT_FALSE(Form->UpdateTimer().Enabled());
}

TEST_F(TFormUpdate, OneAttemptAtATime) {
  Start();
  Hold = true;
  Clock.Advance(10000);
  for (int i = 0; i < 5000 && Updates < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(Form->UpdateChecking());
  Form->UpdateTick(); // a tick while the attempt runs changes nothing but the interval
  Clock.Advance(10800000);
  EXPECT_EQ(Updates, 1);
  Release();
  Deliver();
  EXPECT_FALSE(Form->UpdateChecking());
  Clock.Advance(10800000);
  Deliver();
  EXPECT_EQ(Updates, 2);
}

TEST_F(TFormUpdate, StartedInstallerClosesWithTheRestartLine) {
  Start();
  UpdateStarts = true;
  Clock.Advance(10000);
  Deliver();
  EXPECT_NE(Log().find(kRestartLine), std::string::npos);
  EXPECT_EQ(Host.Closes, 1);
}

TEST_F(TFormUpdate, StartedInstallerAfterClosingDoesNothing) {
  Start();
  UpdateStarts = true;
  Hold = true;
  Clock.Advance(10000);
  for (int i = 0; i < 5000 && Updates < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Form.reset();
  Release();
  ASSERT_TRUE(Queue.WaitPosts(2));
  Queue.Drain();
  EXPECT_EQ(Log().find("UPDATE_RESTART"), std::string::npos);
  EXPECT_EQ(Host.Closes, 0);
}

TEST_F(TFormUpdate, FailedAttemptKeepsTheWindowOpen) {
  TFormPorts p = Ports();
  std::atomic<int> attempts{0};
  std::string gateway;
  p.UpdateAttempt = [&](const std::string& g) -> bool {
    gateway = g;
    ++attempts;
    ++Updates;
    throw Exception("网关更新响应不是 JSON");
  };
  Settings.GatewayPort = 58002;
  Form = std::make_unique<THallBoardForm>(std::move(p));
  Form->FirstShow();
  Deliver();
  Clock.Advance(10000);
  Deliver();
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(gateway, "http://192.168.1.10:58002");
  EXPECT_FALSE(Form->UpdateChecking());
  EXPECT_EQ(Host.Closes, 0);
}

} // namespace
} // namespace hb
