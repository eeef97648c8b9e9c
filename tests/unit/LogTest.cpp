// The diagnostic log: where the folder test sends the lines, the line and file format, the day
// change, incident tags, and whole lines under concurrent writers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "FakeSystem.h"
#include "FileUtil.h"
#include "Platform.h"
#include "TestFolders.h"
#include "shell/DiagnosticLog.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

using test::NewTestRoot;
using test::SamePath;

class LogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = NewTestRoot("hb-log-");
    fs::remove_all(FRoot);
    fs::create_directories(FRoot + "/exe");
    FSys.Exe = FRoot + "/exe/";
    FSys.AppData = FRoot + "/appdata";
    FSys.SetLocal({2026, 12, 10, 9, 30, 5});
    InstallPlatform(&FSys, nullptr);
    ResetLogFolderTestForTests();
  }
  void TearDown() override {
    ResetLogFolderTestForTests();
    InstallPlatform(nullptr, nullptr);
    fs::remove_all(FRoot);
  }
  std::string Read(const std::string& path) { return ReadFileBytes(path).value_or("<missing>"); }

  std::string FRoot;
  test::TFakeSystem FSys;
};

TEST_F(LogFixture, WritableExecutableFolderHoldsTheLog) {
  AppendLogLine("hallBoard", "STARTED 1.0.1");
  const std::string file = FRoot + "/exe/logs/20261210.log";
  EXPECT_EQ(Read(file), "09:30:05 STARTED 1.0.1\r\n");
  EXPECT_FALSE(fs::exists(FRoot + "/exe/logs/.write-test"));
  EXPECT_FALSE(fs::exists(FRoot + "/appdata"));
  EXPECT_TRUE(SamePath(LogFilePath("hallBoard"), file));
}

TEST_F(LogFixture, UnwritableExecutableFolderFallsBackToThePerUserFolder) {
  // Tests may run as root, where permissions stop nothing: a folder under a regular file can
  // never be created, which is what a protected installation folder looks like to us.
  ASSERT_TRUE(WriteFileBytes(FRoot + "/plain", "x"));
  FSys.Exe = FRoot + "/plain/exe/";
  ReportProblem("hallBoard", "M101", "GET /entry 10.0.0.2: 连接被拒绝");
  const std::string file = FRoot + "/appdata/hallBoard/logs/20261210.log";
  EXPECT_TRUE(SamePath(LogFilePath("hallBoard"), file));
  EXPECT_NE(Read(file).find("] GET /entry 10.0.0.2: 连接被拒绝\r\n"), std::string::npos);
  // The decision holds for the process, even once the executable folder would work again.
  FSys.Exe = FRoot + "/exe/";
  WriteLog("later");
  EXPECT_FALSE(fs::exists(FRoot + "/exe/logs"));
  EXPECT_NE(Read(file).find("09:30:05 later\r\n"), std::string::npos);
}

// Text from outside (a gateway's reason, an entry name, an exception message) must never end
// its line and start a genuine-looking one of its own: every control character is escaped.
TEST_F(LogFixture, NoTextStartsALineOfItsOwn) {
  using namespace std::string_literals;
  SetAppFolder("hallBoard");
  const struct {
    std::string In;
    const char* Out;
  } kCases[] = {
      {"两行\r\n12:00:00 UPDATE_INSTALLED 9", "两行\\r\\n12:00:00 UPDATE_INSTALLED 9"},
      {"lf\nonly", "lf\\nonly"},
      {"cr\ronly", "cr\\ronly"},
      {"tab\there", "tab\\there"},
      {"nul\x00 esc\x1B[2J del\x7F bs\x08 ff\x0C vt\x0B"s,
       "nul\\x00 esc\\x1B[2J del\\x7F bs\\x08 ff\\x0C vt\\x0B"},
      {"nel\xC2\x85 c1\xC2\x9F", "nel\\u0085 c1\\u009F"},
      {"ls\xE2\x80\xA8 ps\xE2\x80\xA9", "ls\\u2028 ps\\u2029"},
      {"kept: é \xE2\x80\x94 机位图 \xC2\xA0 trailing ",
       "kept: é \xE2\x80\x94 机位图 \xC2\xA0 trailing "},
      {"", ""},
  };
  std::string want;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(LogSafeText(c.In), c.Out);
    want += std::string("09:30:05 ") + c.Out + "\r\n";
  }
  for (const auto& c : kCases) WriteLog(c.In);
  ReportProblem("hallBoard", "M900", "x\r\ny");
  const std::string all = Read(FRoot + "/exe/logs/20261210.log");
  EXPECT_EQ(all.substr(0, want.size()), want);
  EXPECT_NE(all.find("] x\\r\\ny\r\n"), std::string::npos);
  EXPECT_EQ(AppFolder(), "hallBoard");
}

TEST_F(LogFixture, EachLineGoesToTheFileOfItsOwnDate) {
  FSys.SetLocal({2026, 12, 31, 23, 59, 59});
  WriteLog("before");
  FSys.SetLocal({2027, 1, 1, 0, 0, 0});
  WriteLog("after");
  EXPECT_EQ(Read(FRoot + "/exe/logs/20261231.log"), "23:59:59 before\r\n");
  EXPECT_EQ(Read(FRoot + "/exe/logs/20270101.log"), "00:00:00 after\r\n");
  EXPECT_TRUE(SamePath(LogFilePath("hallBoard"), FRoot + "/exe/logs/20270101.log"));
}

TEST_F(LogFixture, IncidentTags) {
  const std::regex shape("M101-[2-9A-HJ-NP-Z]{4}");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string tag = ReportProblem("hallBoard", "M101", "x");
    ASSERT_EQ(tag.size(), 9u);
    ASSERT_TRUE(std::regex_match(tag, shape)) << tag;
    seen.insert(tag);
  }
  EXPECT_GT(seen.size(), 150u); // varied: 32^4 choices, a handful of repeats at most
  const std::string tag = ReportProblem("hallBoard", "M102", "GET /seatmap/display/list: 超时");
  const std::string log = Read(FRoot + "/exe/logs/20261210.log");
  EXPECT_NE(log.find("09:30:05 [" + tag + "] GET /seatmap/display/list: 超时\r\n"),
            std::string::npos);
}

TEST_F(LogFixture, AnUnwritableLogStillGivesTagsAndNeverThrows) {
  // Both folders impossible, as when the log file is locked by another program.
  ASSERT_TRUE(WriteFileBytes(FRoot + "/plain", "x"));
  FSys.Exe = FRoot + "/plain/exe/";
  FSys.AppData = FRoot + "/plain/appdata";
  EXPECT_EQ(ReportProblem("hallBoard", "M900", "x").size(), 9u);
  WriteLog("lost");
  // No platform at all: still no exception towards the caller.
  InstallPlatform(nullptr, nullptr);
  WriteLog("lost too");
  EXPECT_EQ(ReportProblem("hallBoard", "M101", "x").substr(0, 5), "M101-");
  EXPECT_EQ(LogFilePath("hallBoard"), "");
}

TEST_F(LogFixture, ConcurrentWritersProduceWholeLinesOnly) {
  constexpr int kThreads = 8, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string body(200 + t * 37, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) {
        if (i % 50 == 0)
          LogFilePath("hallBoard"); // the installer script asks for the path directly
        if (i % 3 == 0)
          ReportProblem("hallBoard", "M101", body);
        else
          WriteLog(std::to_string(t) + " " + body);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  // Every line is one writer's whole line: the time, a prefix, then one thread's letter
  // repeated exactly as often as that thread wrote it.
  const auto whole = [](const std::string& line) {
    const std::string head = "09:30:05 ";
    if (line.size() < head.size() + 3 || line.compare(0, head.size(), head) != 0 ||
        line.back() != '\r')
      return false;
    std::string rest = line.substr(head.size(), line.size() - head.size() - 1);
    const std::regex tag(R"(\[M101-[2-9A-HJ-NP-Z]{4}\] )");
    if (rest.size() > 12 && std::regex_match(rest.substr(0, 12), tag)) {
      rest = rest.substr(12);
    } else if (rest[0] >= '0' && rest[0] <= '7' && rest[1] == ' ') {
      if (rest[2] != 'a' + (rest[0] - '0')) return false;
      rest = rest.substr(2);
    } else {
      return false;
    }
    const int t = rest[0] - 'a';
    return t >= 0 && t < 8 && rest == std::string(200 + t * 37, rest[0]);
  };
  std::istringstream in(Read(FRoot + "/exe/logs/20261210.log"));
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_TRUE(whole(line)) << line.substr(0, 60);
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

} // namespace
} // namespace hb
