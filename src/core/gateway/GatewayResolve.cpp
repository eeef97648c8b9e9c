#include "gateway/GatewayResolve.h"

#include <cctype>
#include <cstdio>
#include <exception>

#include "AppIdentity.h"
#include "Exception.h"
#include "Json.h"
#include "UrlEncode.h"
#include "shell/DiagnosticLog.h"

namespace hb {

namespace {

constexpr int kConnectTimeoutMs = 4000;
constexpr int kResponseTimeoutMs = 8000;
// The gateway and the cloud are outside the program: an entry or a map list is a few hundred
// bytes, so a body past this is broken and must not be held whole.
constexpr int64_t kMaxAnswerBytes = 1024 * 1024;

std::string Format(const char* pattern, const std::string& host, int32_t port) {
  const int n = std::snprintf(nullptr, 0, pattern, host.c_str(), port);
  if (n <= 0) return pattern;
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), pattern, host.c_str(), port);
  out.resize(static_cast<size_t>(n));
  return out;
}

THttpResponse Get(IHttpClient& http, const std::string& url) {
  THttpRequest request;
  request.Method = "GET";
  request.Url = url;
  request.ConnectTimeoutMs = kConnectTimeoutMs;
  request.ResponseTimeoutMs = kResponseTimeoutMs;
  // A peer that sends a byte now and then would never trip the response time-out; the whole
  // exchange gets what the two time-outs allow together.
  request.TotalTimeoutMs = kConnectTimeoutMs + kResponseTimeoutMs;
  request.MaxBody = kMaxAnswerBytes;
  return http.Send(request);
}

// The transport failure as an exception, so both steps word it the same way.
void ThrowIfFailed(const THttpResponse& response) {
  if (response.Ok()) return;
  throw Exception(response.ErrorMessage.empty() ? "网络请求失败" : response.ErrorMessage);
}

// Only a whole status-200 body counts as an answer; anything else has no members.
TJsonDocument UsableAnswer(const THttpResponse& response) {
  if (response.Status != 200 || response.Overflow) return {};
  return ParseJsonDocument(response.Body);
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The message of the exception being handled, for the problem report.
std::string CurrentMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "未知错误";
  }
}

// RFC 3986: a letter, then letters, digits, "+", "-" or ".".
bool IsSchemeName(std::string_view s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s.front()))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return false;
  return true;
}

bool IsWebScheme(std::string_view scheme) {
  return scheme == "http" || scheme == "https";
}

bool HasBlankOrControl(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return true;
  return false;
}

// The failure row of an entry that could not be had, with its M101 report.
void GatewayUnreachable(const TResolveInputs& in, TResolveResult& r, const std::string& report) {
  r.Problem = "连不上门店网关";
  r.Detail = Format("打不开 %s:%d。请确认网关电脑已开机、StoreRelay 在运行，并核对 hallBoard.ini "
                    "里的网关地址。",
                    in.Gateway, in.Port);
  ReportProblem(kAppFolder, "M101", report);
}

void EntryStep(const TResolveInputs& in, IHttpClient& http, TResolveResult& r) {
  try {
    const THttpResponse response = Get(http, Format("http://%s:%d/entry", in.Gateway, in.Port));
    ThrowIfFailed(response);
    const TJsonDocument doc = UsableAnswer(response);
    if (const TJsonValue* entry = doc.Object()) {
      // The gateway's word on the store number counts even when it has none.
      r.NetBar = GetJsonText(entry, "NetBarId");
      const std::string url = GetJsonText(entry, "entry_url");
      if (!url.empty()) r.Server = ReduceEntryUrl(url);
    }
    if (r.Server.empty() || r.NetBar.empty()) {
      r.Problem = "门店网关没有给出云端地址";
      r.Detail = Format("网关 %s:%d 已连上，但没有返回门店编号或云端地址。请在网关电脑上核对 "
                        "StoreRelay.ini 的 NetBarId 与 ServerUrl。",
                        in.Gateway, in.Port);
    }
  } catch (...) {
    GatewayUnreachable(in, r, "GET /entry " + in.Gateway + ": " + CurrentMessage());
  }
}

void MapListStep(IHttpClient& http, TResolveResult& r) {
  try {
    const THttpResponse response =
        Get(http, r.Server + "/seatmap/display/list?NetBarId=" + UrlEncode(r.NetBar));
    ThrowIfFailed(response);
    const TJsonDocument doc = UsableAnswer(response);
    const TJsonValue* list = doc.Object();
    if (!list) return;
    r.StoreName = GetJsonText(list, "store");
    if (const TJsonValue* maps = GetJsonArray(list, "maps")) {
      r.Maps.resize(maps->Size());
      for (rapidjson::SizeType i = 0; i < maps->Size(); ++i) {
        const TJsonValue& element = (*maps)[i];
        r.Maps[i].Id = GetJsonInteger(&element, "id", 0);
        r.Maps[i].Name = GetJsonText(&element, "name");
      }
    }
  } catch (...) {
    // The resolution still succeeds, with whatever was read before the failure dropped.
    r.StoreName.clear();
    r.Maps.clear();
    ReportProblem(kAppFolder, "M102", "GET /seatmap/display/list: " + CurrentMessage());
  }
}

} // namespace

std::string ReduceEntryUrl(const std::string& url) {
  size_t b = 0, e = url.size();
  while (b < e && static_cast<unsigned char>(url[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(url[e - 1]) <= 0x20) --e;
  const std::string_view text = std::string_view(url).substr(b, e - b);
  const auto bad = [&](const char* why) {
    return Exception(std::string("云端地址无效（") + why + "）：" + std::string(text));
  };

  const size_t sep = text.find("://");
  if (sep == std::string_view::npos) throw bad("缺少 ://");
  const std::string scheme = LowerAscii(std::string(text.substr(0, sep)));
  if (!IsSchemeName(scheme)) throw bad("协议名不对");
  // The address ends up in the kiosk's browser: anything but a web page (a browser settings
  // page, a local file, a script) must never fill the screen.
  if (!IsWebScheme(scheme)) throw bad("只支持 http 和 https");

  std::string_view authority = text.substr(sep + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1); // user information

  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') { // an IPv6 literal keeps its brackets
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) throw bad("主机名不完整");
    host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') throw bad("主机名不完整");
    if (!rest.empty()) port = rest.substr(1);
  } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty() || HasBlankOrControl(host)) throw bad("没有主机名");

  int32_t portNumber = 0; // 0: none given, the scheme's default applies
  for (char c : port) {
    if (c < '0' || c > '9') throw bad("端口不是数字");
    portNumber = portNumber * 10 + (c - '0');
    if (portNumber > 65535) throw bad("端口超出范围");
  }
  // Built by appending: gcc 12's -O3 flags a false overlap in operator+ chains here.
  std::string server;
  server.reserve(scheme.size() + 3 + host.size() + 6);
  server.append(scheme).append("://").append(host);
  const bool defaultPort =
      (scheme == "https" && portNumber == 443) || (scheme == "http" && portNumber == 80);
  if (portNumber > 0 && !defaultPort) server.append(":").append(std::to_string(portNumber));
  return server;
}

TResolveResult RunResolution(const TResolveInputs& in, IHttpClient& http) {
  TResolveResult r;
  r.Server = in.ServerOverride;
  r.NetBar = in.NetBarOverride;
  if (r.Server.empty() || r.NetBar.empty()) EntryStep(in, http, r);
  // A hand-given address that the gateway did not replace is held to the same rule as the
  // gateway's: it names a web page or it is unusable, and fails like an unusable entry_url.
  if (r.Problem.empty() && r.Server == in.ServerOverride) {
    try {
      ReduceEntryUrl(r.Server);
    } catch (...) {
      GatewayUnreachable(in, r, "ServerUrl: " + CurrentMessage());
    }
  }
  if (r.Problem.empty()) MapListStep(http, r);
  return r;
}

std::string NoGatewayTitle() {
  return "还没有填写网关地址";
}

std::string NoGatewayDetail(const std::string& settingsPath) {
  return "请用记事本打开 " + settingsPath +
         "，在 Address= 后面填门店网关电脑的 IP（例如 192.168.1.10），保存后重新打开机位图。";
}

} // namespace hb
