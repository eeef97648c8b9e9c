// Which map is shown after a resolution, and the display page's address.
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "display/MapChoice.h"

namespace hb {
namespace {

TEST(MapChoice, Precedence) {
  const std::vector<TSeatMapItem> maps = {{11, "大厅"}, {12, "VIP Room"}, {7, "12"}, {0, "Ä区"}};
  struct TCase {
    const char* Why;
    std::vector<TSeatMapItem> Maps;
    int32_t Remembered;
    std::string Want;
    int32_t Index;
  };
  const TCase cases[] = {
      {"remembered id in the list beats Map", maps, 11, "VIP Room", 0},
      {"remembered id gone: Map applies", maps, 99, "vip room", 1},
      {"remembered id gone, no Map: first", maps, 99, "", 0},
      {"0 or less is no remembered id", maps, 0, "12", 2},
      {"negative remembered id", {{-5, "a"}, {6, "b"}}, -5, "", 0},
      {"digits match an id and a name: the later entry wins", maps, 0, "12", 2},
      {"digits match an id only", maps, 0, "7", 2},
      {"an id match earlier than a name match", {{3, "x"}, {4, "3"}}, 0, "3", 1},
      {"a leading zero is not the id", {{5, "a"}, {6, "b"}}, 0, "05", 0},
      {"ASCII case is ignored", maps, 0, "vIP rOOM", 1},
      {"non-ASCII case is not", maps, 0, "ä区", 0},
      {"Map naming no map: first", maps, 0, "三楼", 0},
      {"map with id 0 by its id", maps, 0, "0", 3},
      {"repeated remembered id: the last", {{5, "a"}, {5, "b"}, {6, "c"}}, 5, "", 1},
      {"empty list", {}, 11, "大厅", -1},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ChooseInitialMap(c.Maps, c.Remembered, c.Want), c.Index) << c.Why;
}

TEST(MapChoice, DisplayUrl) {
  const std::string base = "https://cloud.example.cn:8443/seatmap/display?NetBarId=";
  const std::vector<TSeatMapItem> maps = {{11, "大厅"}, {0, ""}};
  struct TCase {
    std::vector<TSeatMapItem> Maps;
    int32_t Current;
    std::string Want;
    std::string NetBar;
    std::string Url;
  };
  const TCase cases[] = {
      {maps, 0, "二楼", "1001", base + "1001&embed=1&m=11"},
      {maps, 1, "", "1001", base + "1001&embed=1&m=0"}, // a missing id is sent as 0
      {{}, -1, "二 楼", "1001", base + "1001&embed=1&m=%E4%BA%8C+%E6%A5%BC"},
      {{}, -1, "", "1001", base + "1001&embed=1"},
      {maps, 5, "", "1001", base + "1001&embed=1"}, // not a valid index
      {{}, -1, "", "门店 1", base + "%E9%97%A8%E5%BA%97+1&embed=1"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(BuildDisplayUrl("https://cloud.example.cn:8443", c.NetBar, c.Maps, c.Current, c.Want),
              c.Url);
}

using test::TFormFixture;

TEST_F(TFormFixture, ResolutionPicksTheRememberedMapOverTheSetting) {
  Settings.MapWant = "二楼";
  WriteFileBytes(JoinPath(AppDataFolder(), "last-map.txt"), "12");
  Start();
  EXPECT_EQ(Form->CurrentMap(), 1);
  EXPECT_EQ(Form->DisplayUrl(),
            "https://cloud.example.cn/seatmap/display?NetBarId=1001&embed=1&m=12");
  // The store dropped that map: the setting applies at the next resolution.
  RemoveQuietly(JoinPath(AppDataFolder(), "last-map.txt"));
  Make();
  Form->FirstShow();
  Deliver();
  EXPECT_EQ(Form->CurrentMap(), 2);
}

TEST_F(TFormFixture, FailedResolutionKeepsEarlierValues) {
  Start();
  SetAnswer(Failure());
  Form->ResolveFinished(Failure());
  EXPECT_EQ(Form->ServerUrl(), "https://cloud.example.cn");
  EXPECT_EQ(Form->Maps().size(), 3u);
  EXPECT_EQ(Form->CoverTitle(), "连不上门店网关");
  Clock.Advance(30000); // a known cloud address: the countdown navigates
  EXPECT_EQ(Browser.Navigations.size(), 2u);
  EXPECT_EQ(Resolves, 1);
}

} // namespace
} // namespace hb
