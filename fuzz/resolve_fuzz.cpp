// The whole resolution with answers made of fuzz bytes: the entry answer and the map-list
// answer, split at the first NUL. It must always end with a worded result: a problem with its
// detail, or a cloud address of scheme and host only, with the store number it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IHttpClient.h"
#include "ISystem.h"
#include "Platform.h"
#include "gateway/GatewayResolve.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Folders that can never be created, so problem reports are dropped instead of filling a disk.
class TNoDiskSystem : public hb::ISystem {
 public:
  uint64_t TickCount64() override { return 0; }
  int64_t UtcNowUnixMs() override { return 0; }
  hb::TLocalTime LocalNow() override { return {}; }
  std::string NewGuid() override { return "00000000-0000-4000-8000-000000000000"; }
  std::string ExeFolder() override { return "/dev/null/exe/"; }
  std::string TempFolder() override { return "/dev/null/temp/"; }
  std::string LocalAppData() override { return "/dev/null/appdata"; }
  uint32_t ProcessId() override { return 1; }
  void KeepAwake(bool) override {}
  bool LaunchInstaller(const std::string&) override { return false; }
  bool FileLockedElsewhere(const std::string&) override { return false; }
  std::string FileNameKey(const std::string& name) override { return name; }
  std::string DecodeGbk(const std::string& bytes) override { return bytes; }
};

class TScripted : public hb::IHttpClient {
 public:
  std::string Entry, List;
  hb::THttpResponse Send(const hb::THttpRequest& request, hb::IHttpSink*) override {
    hb::THttpResponse r;
    const bool entry = request.Url.find("/entry") != std::string::npos && !EntryDone;
    EntryDone = EntryDone || entry;
    const std::string& body = entry ? Entry : List;
    if (body.size() > 0 && body[0] == 'X') { // a transport failure
      r.Error = hb::THttpError::heConnect;
      r.ErrorMessage = body;
      return r;
    }
    r.Status = body.size() > 0 && body[0] == '5' ? 500 : 200;
    r.Body = body.substr(0, static_cast<size_t>(request.MaxBody));
    r.Overflow = body.size() > static_cast<size_t>(request.MaxBody);
    return r;
  }
  bool EntryDone = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TNoDiskSystem system;
  hb::InstallPlatform(&system, nullptr);
  const std::string bytes(data ? reinterpret_cast<const char*>(data) : "", data ? size : 0);
  const size_t split = bytes.find('\0');
  TScripted http;
  http.Entry = bytes.substr(0, split);
  http.List = split == std::string::npos ? std::string() : bytes.substr(split + 1);

  hb::TResolveInputs in;
  in.Gateway = "10.0.0.2";
  const hb::TResolveResult r = hb::RunResolution(in, http);
  if (!r.Problem.empty()) {
    Check(!r.Detail.empty());
    Check(r.Maps.empty());
    return 0;
  }
  Check(!r.NetBar.empty());
  const size_t sep = r.Server.find("://");
  Check(sep != std::string::npos && sep > 0);
  Check(r.Server.find_first_of("/?#", sep + 3) == std::string::npos);
  return 0;
}
