#include "display/MapChoice.h"

#include "UrlEncode.h"

namespace hb {

bool SameTextAsciiNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int32_t ChooseInitialMap(const std::vector<TSeatMapItem>& maps, int32_t rememberedId,
                         const std::string& mapWant) {
  int32_t current = -1;
  const int32_t count = static_cast<int32_t>(maps.size());
  if (rememberedId > 0)
    for (int32_t i = 0; i < count; ++i)
      if (maps[i].Id == rememberedId) current = i;
  if (current < 0 && !mapWant.empty())
    for (int32_t i = 0; i < count; ++i)
      if (std::to_string(maps[i].Id) == mapWant || SameTextAsciiNoCase(maps[i].Name, mapWant))
        current = i;
  if (current < 0 && count > 0) current = 0;
  return current;
}

std::string BuildDisplayUrl(const std::string& server, const std::string& netBar,
                            const std::vector<TSeatMapItem>& maps, int32_t currentMap,
                            const std::string& mapWant) {
  std::string url = server + "/seatmap/display?NetBarId=" + UrlEncode(netBar) + "&embed=1";
  if (currentMap >= 0 && currentMap < static_cast<int32_t>(maps.size()))
    url += "&m=" + std::to_string(maps[currentMap].Id);
  else if (!mapWant.empty())
    url += "&m=" + UrlEncode(mapWant);
  return url;
}

} // namespace hb
