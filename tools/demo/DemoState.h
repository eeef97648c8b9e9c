#pragma once
// What the demo servers share: the fault switches, the request counters and the offered release.
// Every handler thread of both servers reads and writes these, so each keeps its own mutex.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace hb::demo {

// Fault switches by name; each has a fixed set of values, the first being the default ("ok").
// The number switches (the cloud's line: latency and rate) take a whole number instead, 0 being
// the default and meaning "as fast as loopback".
class TFaults {
 public:
  TFaults();
  static const std::vector<std::pair<std::string, std::vector<std::string>>>& Table();
  static const std::vector<std::pair<std::string, int64_t>>& NumberTable(); // name, largest value
  std::string Get(const std::string& name) const;
  int64_t Number(const std::string& name) const;
  bool Is(const std::string& name, const std::string& value) const { return Get(name) == value; }
  // Sets one switch; returns a worded error (and changes nothing) for an unknown name or value.
  std::string Set(const std::string& name, const std::string& value);
  // Applies a JSON object of switches ({"reset":true} first resets all). All or nothing.
  std::string ApplyJson(const std::string& body);
  void Reset();
  std::string Json() const;

 private:
  mutable std::mutex FMutex;
  std::map<std::string, std::string> FValues;
};

// Request counters of one server, and on the gateway what went through /cache.
class TStats {
 public:
  void Count(const std::string& path, const std::string& query);
  void CacheRequested(const std::string& path);
  void CacheServed(const std::string& path);
  // Body bytes a server sent for a path (the cloud counts what went over its line).
  void Sent(const std::string& path, int64_t bytes);
  void Reset();
  std::string Json(const std::string& server) const;

 private:
  mutable std::mutex FMutex;
  std::map<std::string, int64_t> FRequests;
  std::map<std::string, std::string> FLastQuery;
  std::map<std::string, int64_t> FCacheRequested;
  std::map<std::string, int64_t> FCacheServed;
  std::vector<std::string> FCacheOrder; // served paths in order, capped
  std::map<std::string, int64_t> FSent;
  int64_t FSentTotal = 0;
};

// The release the gateway offers: a package file on disk with its digest.
struct TRelease {
  std::string Path; // file on disk
  std::string Name; // its file name, the download's "file" value
  std::string Version;
  int64_t VersionCode = 0;
  std::string Sha256; // lower-case hex
  int64_t Size = 0;
};

class TReleaseSlot {
 public:
  // Reads the file and computes its digest; returns a worded error, or "" when set.
  std::string Set(const std::string& path, int64_t versionCode, const std::string& version);
  void Clear();
  bool Get(TRelease& out) const;

  void SetLastRequest(const std::string& body);
  bool LastRequest(std::string& out) const;

 private:
  mutable std::mutex FMutex;
  bool FHas = false;
  TRelease FRelease;
  bool FHasRequest = false;
  std::string FLastRequest;
};

std::string JsonQuote(const std::string& text);

} // namespace hb::demo
