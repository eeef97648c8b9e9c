#include "DemoState.h"

#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <rapidjson/document.h>

namespace hb::demo {

const std::vector<std::pair<std::string, std::vector<std::string>>>& TFaults::Table() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> kTable = {
      {"gateway", {"ok", "down"}},
      {"entry",
       {"ok", "hang", "500", "text", "no-netbarid", "no-entry-url", "bad-entry-url", "huge",
        "deep"}},
      {"cloud", {"ok", "down"}},
      {"maplist", {"ok", "fail", "object", "not-object"}},
      {"page", {"ok", "404", "light"}},
      {"cache", {"ok", "429", "404-no-api", "404", "hang", "empty", "oversized", "maximal", "500"}},
      {"update",
       {"ok", "none", "none-no-reason", "500-html", "array", "text", "path-case", "digest-63",
        "digest-65", "size-0", "size-huge", "short", "wrong-digest", "redirect-check",
        "redirect-download", "endless", "stall"}},
  };
  return kTable;
}

const std::vector<std::pair<std::string, int64_t>>& TFaults::NumberTable() {
  static const std::vector<std::pair<std::string, int64_t>> kTable = {
      {"cloud-latency-ms", 60000},   // a minute: anything longer is an outage, not a line
      {"cloud-rate-kbps", 10000000}, // 10 Gbit/s
      {"media-delay-ms", 120000},    // as long as a hanging answer may last
  };
  return kTable;
}

TFaults::TFaults() {
  Reset();
}

void TFaults::Reset() {
  std::lock_guard<std::mutex> lock(FMutex);
  FValues.clear();
  for (const auto& [name, values] : Table()) FValues[name] = values.front();
  for (const auto& [name, largest] : NumberTable()) FValues[name] = std::string(1, '0');
}

std::string TFaults::Get(const std::string& name) const {
  std::lock_guard<std::mutex> lock(FMutex);
  auto it = FValues.find(name);
  return it == FValues.end() ? std::string() : it->second;
}

int64_t TFaults::Number(const std::string& name) const {
  std::string text = Get(name);
  return text.empty() ? 0 : std::stoll(text); // only digit strings are ever stored
}

static const int64_t* NumberSwitch(const std::string& name) {
  for (const auto& [n, largest] : TFaults::NumberTable())
    if (n == name) return &largest;
  return nullptr;
}

static std::string CheckSwitch(const std::string& name, const std::string& value) {
  if (const int64_t* largest = NumberSwitch(name)) {
    bool digits = !value.empty() && value.size() <= 11 &&
                  value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoll(value) > *largest)
      return "switch \"" + name + "\" wants a whole number from 0 to " + std::to_string(*largest) +
             ", got " + value;
    return "";
  }
  for (const auto& [n, values] : TFaults::Table()) {
    if (n != name) continue;
    for (const auto& v : values)
      if (v == value) return "";
    std::string allowed;
    for (const auto& v : values) allowed += (allowed.empty() ? "" : "|") + v;
    return "fault \"" + name + "\" has no value \"" + value + "\" (allowed: " + allowed + ")";
  }
  return "unknown fault switch \"" + name + "\"";
}

std::string TFaults::Set(const std::string& name, const std::string& value) {
  std::string error = CheckSwitch(name, value);
  if (!error.empty()) return error;
  std::lock_guard<std::mutex> lock(FMutex);
  FValues[name] = value;
  return "";
}

std::string TFaults::ApplyJson(const std::string& body) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseIterativeFlag>(body.c_str(), body.size());
  if (doc.HasParseError() || !doc.IsObject()) return "the body must be a JSON object of switches";
  bool reset = false;
  std::vector<std::pair<std::string, std::string>> changes;
  for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m) {
    std::string name(m->name.GetString(), m->name.GetStringLength());
    if (name == "reset") {
      if (!m->value.IsBool()) return "\"reset\" must be true or false";
      reset = m->value.GetBool();
      continue;
    }
    std::string value;
    if (NumberSwitch(name) && m->value.IsUint64())
      value = std::to_string(m->value.GetUint64());
    else if (m->value.IsString())
      value.assign(m->value.GetString(), m->value.GetStringLength());
    else if (NumberSwitch(name))
      return CheckSwitch(name, "not a whole number");
    else
      return "fault \"" + name + "\" needs a text value";
    std::string error = CheckSwitch(name, value);
    if (!error.empty()) return error;
    changes.emplace_back(name, value);
  }
  if (reset) Reset();
  std::lock_guard<std::mutex> lock(FMutex);
  for (const auto& [name, value] : changes) FValues[name] = value;
  return "";
}

std::string TFaults::Json() const {
  std::lock_guard<std::mutex> lock(FMutex);
  std::string out = "{";
  // Appended piece by piece: GCC 12 at -O3 warns (falsely) about the chained temporaries.
  for (const auto& [name, value] : FValues) {
    if (out.size() > 1) out += ',';
    out += JsonQuote(name);
    out += ':';
    out += NumberSwitch(name) ? value : JsonQuote(value);
  }
  return out + "}";
}

void TStats::Count(const std::string& path, const std::string& query) {
  std::lock_guard<std::mutex> lock(FMutex);
  ++FRequests[path];
  FLastQuery[path] = query;
}

void TStats::CacheRequested(const std::string& path) {
  std::lock_guard<std::mutex> lock(FMutex);
  ++FCacheRequested[path];
}

void TStats::CacheServed(const std::string& path) {
  std::lock_guard<std::mutex> lock(FMutex);
  ++FCacheServed[path];
  if (FCacheOrder.size() < 10000) FCacheOrder.push_back(path);
}

void TStats::Sent(const std::string& path, int64_t bytes) {
  std::lock_guard<std::mutex> lock(FMutex);
  FSent[path] += bytes;
  FSentTotal += bytes;
}

void TStats::Reset() {
  std::lock_guard<std::mutex> lock(FMutex);
  FSent.clear();
  FSentTotal = 0;
  FRequests.clear();
  FLastQuery.clear();
  FCacheRequested.clear();
  FCacheServed.clear();
  FCacheOrder.clear();
}

static std::string CounterObject(const std::map<std::string, int64_t>& counters) {
  std::string out = "{";
  for (const auto& [key, count] : counters) {
    if (out.size() > 1) out += ',';
    out += JsonQuote(key);
    out += ':';
    out += std::to_string(count);
  }
  return out + "}";
}

std::string TStats::Json(const std::string& server) const {
  std::lock_guard<std::mutex> lock(FMutex);
  std::string out =
      "{\"server\":" + JsonQuote(server) + ",\"requests\":" + CounterObject(FRequests);
  out += ",\"last_query\":{";
  bool first = true;
  for (const auto& [key, query] : FLastQuery) {
    if (!first) out += ',';
    out += JsonQuote(key);
    out += ':';
    out += JsonQuote(query);
    first = false;
  }
  out += "}";
  out += ",\"bytes_sent\":" + std::to_string(FSentTotal) + ",\"sent\":" + CounterObject(FSent);
  if (server == "gateway") {
    out += ",\"cache_requested\":" + CounterObject(FCacheRequested);
    out += ",\"cache_served\":" + CounterObject(FCacheServed);
    out += ",\"cache_order\":[";
    for (size_t i = 0; i < FCacheOrder.size(); ++i) {
      if (i) out += ',';
      out += JsonQuote(FCacheOrder[i]);
    }
    out += "]";
  }
  return out + "}";
}

static bool Sha256File(const std::string& path, std::string& hex, int64_t& size) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return false;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  std::vector<char> buffer(1 << 20);
  size = 0;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), f.get())) > 0) {
    EVP_DigestUpdate(ctx.get(), buffer.data(), n);
    size += static_cast<int64_t>(n);
  }
  if (std::ferror(f.get())) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &len);
  static const char kHex[] = "0123456789abcdef";
  hex.clear();
  for (unsigned int i = 0; i < len; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return true;
}

std::string TReleaseSlot::Set(const std::string& path, int64_t versionCode,
                              const std::string& version) {
  TRelease r;
  r.Path = path;
  r.Name = std::filesystem::path(path).filename().string();
  r.Version = version;
  r.VersionCode = versionCode;
  if (r.Name.empty() || !std::filesystem::is_regular_file(path))
    return "release file not found: " + path;
  if (!Sha256File(path, r.Sha256, r.Size)) return "release file cannot be read: " + path;
  std::lock_guard<std::mutex> lock(FMutex);
  FRelease = r;
  FHas = true;
  return "";
}

void TReleaseSlot::Clear() {
  std::lock_guard<std::mutex> lock(FMutex);
  FHas = false;
}

bool TReleaseSlot::Get(TRelease& out) const {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FHas) out = FRelease;
  return FHas;
}

void TReleaseSlot::SetLastRequest(const std::string& body) {
  std::lock_guard<std::mutex> lock(FMutex);
  FLastRequest = body;
  FHasRequest = true;
}

bool TReleaseSlot::LastRequest(std::string& out) const {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FHasRequest) out = FLastRequest;
  return FHasRequest;
}

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  return out + "\"";
}

} // namespace hb::demo
