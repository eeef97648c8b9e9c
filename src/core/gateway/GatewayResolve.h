#pragma once
// Finding the store number, the cloud address and the store's seat maps: the gateway's /entry,
// then the cloud's map list. Runs on a background thread; touches no window.
#include <cstdint>
#include <string>
#include <vector>

#include "IHttpClient.h"

namespace hb {

struct TSeatMapItem {
  int32_t Id = 0;
  std::string Name;
  bool operator==(const TSeatMapItem&) const = default;
};

// Copies of the window's settings, taken when a resolution starts.
struct TResolveInputs {
  std::string Gateway;
  int32_t Port = 58001;
  std::string ServerOverride;
  std::string NetBarOverride;
};

struct TResolveResult {
  std::string Server;     // cloud address: scheme://host[:port], no path, no trailing "/"
  std::string NetBar;     // store number
  std::string StoreName;
  std::vector<TSeatMapItem> Maps;
  std::string Problem;    // empty on success; else the cover's headline
  std::string Detail;     // the cover's explanatory text on failure
};

// One whole resolution with its two exchanges, failure rows and problem reports.
TResolveResult RunResolution(const TResolveInputs& in, IHttpClient& http);

// Reduces an "entry_url" to scheme, "://", host and a non-default port. Throws Exception for a
// URL without "://".
std::string ReduceEntryUrl(const std::string& url);

// The cover shown when neither a gateway address nor both hand-given values are set.
std::string NoGatewayTitle();
std::string NoGatewayDetail(const std::string& settingsPath);

} // namespace hb
