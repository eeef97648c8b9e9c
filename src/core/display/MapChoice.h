#pragma once
// Which map to show and the display page's address: pure rules over the resolved map list.
#include <cstdint>
#include <string>
#include <vector>

#include "gateway/GatewayResolve.h"

namespace hb {

// The index to show after a resolution: the remembered id (> 0) when it is in the list, else
// the "Map" setting matching an id's decimal text exactly or a name with ASCII letters compared
// without case, else the first map; -1 for an empty list. With several matches the last wins.
int32_t ChooseInitialMap(const std::vector<TSeatMapItem>& maps, int32_t rememberedId,
                         const std::string& mapWant);

// server + "/seatmap/display?NetBarId=" + encoded store number + "&embed=1", then "&m=" with the
// current map's id, else with the encoded "Map" setting, else nothing.
std::string BuildDisplayUrl(const std::string& server, const std::string& netBar,
                            const std::vector<TSeatMapItem>& maps, int32_t currentMap,
                            const std::string& mapWant);

// Equal when they differ at most in the case of ASCII letters.
bool SameTextAsciiNoCase(const std::string& a, const std::string& b);

} // namespace hb
