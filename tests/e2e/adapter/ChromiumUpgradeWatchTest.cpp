// The browser executable's replacement as a package upgrade or a person does it, on real files.
#include "ChromiumUpgradeWatch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace hb::lin {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

class ChromiumUpgradeWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/hb-upgrade-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    FDir = dir;
    Write(FDir / "chromium", "#!/bin/sh\nexec old \"$@\"\n");
  }
  void TearDown() override { fs::remove_all(FDir); }
  fs::path FDir;
};

TEST_F(ChromiumUpgradeWatchTest, ReplacementsAreNoticedOnceAndTheUntouchedFileIsNot) {
  struct TCase {
    const char* Name;
    bool Replaced;
    std::function<void(const fs::path& dir)> Change;
  };
  const TCase cases[] = {
      {"untouched", false, [](const fs::path&) {}},
      {"read only", false, [](const fs::path& d) { std::ifstream(d / "chromium").get(); }},
      // What dpkg does: the new file beside the old, then renamed over it.
      {"renamed over", true,
       [](const fs::path& d) {
         Write(d / "chromium.dpkg-new", "#!/bin/sh\nexec new \"$@\"\n");
         fs::rename(d / "chromium.dpkg-new", d / "chromium");
       }},
      {"rewritten in place", true,
       [](const fs::path& d) { Write(d / "chromium", "#!/bin/sh\nexec newer \"$@\"\n"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Write(FDir / "chromium", "#!/bin/sh\nexec old \"$@\"\n");
    TChromiumUpgradeWatch watch;
    int raised = 0;
    watch.Watch((FDir / "chromium").string(), 3600000, [&] { ++raised; });
    c.Change(FDir);
    EXPECT_EQ(watch.Check(), c.Replaced);
    EXPECT_FALSE(watch.Check()); // once per browser
    EXPECT_EQ(raised, c.Replaced ? 1 : 0);
  }
}

TEST_F(ChromiumUpgradeWatchTest, TheFileALinkNamesIsWatchedAndAMomentaryGapIsNoReplacement) {
  fs::create_symlink(FDir / "chromium", FDir / "chromium-browser");
  TChromiumUpgradeWatch watch;
  int raised = 0;
  watch.Watch((FDir / "chromium-browser").string(), 3600000, [&] { ++raised; });
  // In the middle of a replacement the file may be missing: nothing to compare yet.
  fs::remove(FDir / "chromium");
  EXPECT_FALSE(watch.Check());
  Write(FDir / "chromium", "#!/bin/sh\nexec new \"$@\"\n");
  EXPECT_TRUE(watch.Check());
  EXPECT_EQ(raised, 1);
}

TEST_F(ChromiumUpgradeWatchTest, AFileThatCannotBeReadIsNotWatched) {
  TChromiumUpgradeWatch watch;
  int raised = 0;
  watch.Watch((FDir / "missing").string(), 3600000, [&] { ++raised; });
  Write(FDir / "missing", "now here");
  EXPECT_FALSE(watch.Check());
  EXPECT_EQ(raised, 0);
}

} // namespace
} // namespace hb::lin
