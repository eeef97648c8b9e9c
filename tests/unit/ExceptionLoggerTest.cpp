// The exception logger: what reaches the log, what the dialog says, and that nothing escapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "Exception.h"
#include "FakeSystem.h"
#include "FakeUiQueue.h"
#include "Platform.h"
#include "shell/DiagnosticLog.h"
#include "shell/ExceptionLogger.h"
#include "shell/UiGuard.h"

namespace hb {
namespace {

struct TShown {
  std::string Title, Text;
  std::vector<std::string> Buttons;
  int Primary = 0, Danger = 0;
};

class ExceptionLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = std::filesystem::temp_directory_path() /
            ("hb-exclog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FRoot / "exe");
    System.Exe = (FRoot / "exe").string() + "/";
    System.AppData = (FRoot / "appdata").string();
    try {
      FOldSystem = &hb::System();
    } catch (const Exception&) {
    }
    try {
      FOldHasher = &Hasher();
    } catch (const Exception&) {
    }
    InstallPlatform(&System, FOldHasher);
    ResetLogFolderTestForTests();
    InstallExceptionLogger("hallBoardTest", "M900", "机位图程序遇到问题，请关闭后重新打开",
                           [this](const std::string& title, const std::string& text,
                                  const std::vector<std::string>& buttons, int primary,
                                  int danger) {
                             Shown.push_back({title, text, buttons, primary, danger});
                             if (WhileShown) WhileShown();
                             if (ShowThrows) throw std::runtime_error("no window");
                             return 0;
                           });
  }
  void TearDown() override {
    // The logger and the platform outlive this fixture: leave neither pointing into it.
    InstallExceptionLogger("hallBoardTest", "M900", "机位图程序遇到问题，请关闭后重新打开", {});
    InstallPlatform(FOldSystem, FOldHasher);
    ResetLogFolderTestForTests();
    std::error_code ec;
    std::filesystem::remove_all(FRoot, ec);
  }

  std::string LogText() {
    std::ifstream in(std::filesystem::u8path(LogFilePath("hallBoardTest")), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The tag shown in the last dialog.
  std::string ShownTag() {
    std::smatch m;
    static const std::regex kTag("错误码 (M9\\d\\d-[2-9A-HJ-NP-Z]{4})$");
    if (Shown.empty() || !std::regex_search(Shown.back().Text, m, kTag)) return "";
    return m[1];
  }

  test::TFakeSystem System;
  std::vector<TShown> Shown;
  bool ShowThrows = false;
  // Runs inside the dialog, as a handler its modal loop dispatches would.
  std::function<void()> WhileShown;

 private:
  std::filesystem::path FRoot;
  ISystem* FOldSystem = nullptr;
  IHasher* FOldHasher = nullptr;
};

TEST_F(ExceptionLoggerTest, ReportsAndShowsTheDialog) {
  Guarded([] { throw Exception("打不开机位图"); });
  ASSERT_EQ(Shown.size(), 1u);
  const TShown& d = Shown[0];
  EXPECT_EQ(d.Title, "遇到一点问题");
  std::string tag = ShownTag();
  ASSERT_FALSE(tag.empty()) << d.Text;
  EXPECT_EQ(d.Text, "机位图程序遇到问题，请关闭后重新打开。\r\n错误码 " + tag);
  EXPECT_EQ(d.Buttons, std::vector<std::string>{"知道了"});
  EXPECT_EQ(d.Primary, 0);
  EXPECT_EQ(d.Danger, -1);
  EXPECT_NE(LogText().find("[" + tag + "] Exception：打不开机位图\r\n"), std::string::npos)
      << LogText();
}

TEST_F(ExceptionLoggerTest, DetailTable) {
  struct TCase {
    std::function<void()> Throw;
    std::string Detail;
  };
  const TCase cases[] = {
      {[] { throw Exception(""); }, "Exception："},
      {[] { throw std::runtime_error("disk full"); }, "Exception：disk full"},
      {[] { throw std::out_of_range("index 7"); }, "ERangeError：index 7"},
      {[] { throw 42; }, "Exception：未知错误"},
  };
  for (const TCase& c : cases) {
    Guarded(c.Throw);
    std::string tag = ShownTag();
    ASSERT_FALSE(tag.empty());
    EXPECT_NE(LogText().find("[" + tag + "] " + c.Detail + "\r\n"), std::string::npos) << c.Detail;
  }
  EXPECT_EQ(Shown.size(), std::size(cases));
}

TEST_F(ExceptionLoggerTest, NothingEscapesAndNothingShownWithoutFault) {
  bool ran = false;
  Guarded([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(Shown.empty());

  // A dialog that cannot be built leaves the report in the log; the handler returns normally.
  ShowThrows = true;
  EXPECT_NO_THROW(Guarded([] { throw Exception("第二次"); }));
  std::string tag = ShownTag();
  EXPECT_NE(LogText().find("[" + tag + "] Exception：第二次"), std::string::npos);
}

TEST_F(ExceptionLoggerTest, SecondInstallReplacesTexts) {
  TExceptionLogger* first = ExceptionLogger();
  ASSERT_NE(first, nullptr);
  InstallExceptionLogger("hallBoardTest", "M901", "换了说法",
                         [this](auto& t, auto& x, auto& b, int p, int d) {
                           Shown.push_back({t, x, b, p, d});
                           return -1;
                         });
  EXPECT_EQ(ExceptionLogger(), first);
  EXPECT_EQ(first->Code, "M901");
  EXPECT_EQ(first->FriendlyText, "换了说法");
  Guarded([] { throw Exception("x"); });
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].Text.rfind("换了说法。\r\n错误码 M901-", 0), 0u) << Shown[0].Text;
}

TEST_F(ExceptionLoggerTest, ExceptionWhileTheDialogIsOpenIsLoggedWithoutASecondDialog) {
  SetUiExceptionHandler([](const std::exception& e) { HandleException(e); });
  int nested = 0;
  WhileShown = [&] {
    if (nested++ > 0) return;
    UiGuarded([] { throw Exception("定时器里的错误"); });
  };
  UiGuarded([] { throw Exception("第一个错误"); });
  SetUiExceptionHandler(nullptr);
  EXPECT_EQ(Shown.size(), 1u);
  const std::string log = LogText();
  EXPECT_NE(log.find("Exception：第一个错误"), std::string::npos) << log;
  EXPECT_NE(log.find("Exception：定时器里的错误"), std::string::npos) << log;
  // Both under their own M900 tag.
  EXPECT_EQ(std::count(log.begin(), log.end(), '['), 2) << log;
  // Once the dialog has closed, the next exception has its dialog again.
  WhileShown = nullptr;
  Guarded([] { throw Exception("第三个错误"); });
  EXPECT_EQ(Shown.size(), 2u);
}

TEST_F(ExceptionLoggerTest, BrowserCallbackPostsItsReportToTheQueue) {
  test::TFakeUiQueue queue;
  std::vector<std::string> reported;
  SetUiExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
  SetUiReportQueue(&queue);
  CallbackGuarded([] { throw Exception("回调里的错误"); });
  CallbackGuarded([] { throw 42; });
  // Nothing reported (no dialog) inside the callback: both wait in the queue.
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(queue.Drain(), 2);
  EXPECT_EQ(reported, (std::vector<std::string>{"回调里的错误", "未知错误"}));
  // Without a queue the report is made at once.
  SetUiReportQueue(nullptr);
  CallbackGuarded([] { throw Exception("没有队列"); });
  EXPECT_EQ(reported.back(), "没有队列");
  SetUiExceptionHandler(nullptr);
}

} // namespace
} // namespace hb
