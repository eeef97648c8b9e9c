#include "Demo.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace hb::demo {

TDemo::TDemo(TDemoOptions options)
    : FOptions(std::move(options)), FGateway("gateway",
                                             [this](httplib::Server& s) {
                                               AddCommonRoutes(s, FGateway, GatewayStats);
                                               AddGatewayRoutes(s);
                                               AddUpdateRoutes(s);
                                             }),
      FCloud("cloud", [this](httplib::Server& s) {
        AddCommonRoutes(s, FCloud, CloudStats);
        AddCloudRoutes(s);
      }) {}

bool TDemo::Start() {
  for (const auto& [name, value] : FOptions.Faults) {
    std::string error = Faults.Set(name, value);
    if (!error.empty()) {
      std::fprintf(stderr, "hallboard-demo: %s\n", error.c_str());
      return false;
    }
  }
  if (!FOptions.ReleasePath.empty()) {
    std::string error =
        Release.Set(FOptions.ReleasePath, FOptions.ReleaseVersionCode, FOptions.ReleaseVersion);
    if (!error.empty()) {
      std::fprintf(stderr, "hallboard-demo: %s\n", error.c_str());
      return false;
    }
  }
  // Both ports are bound even when a server starts "down", so the port is known and stays ours.
  if (!FGateway.Start(FOptions.GatewayPort) || !FCloud.Start(FOptions.CloudPort)) return false;
  Reconcile();
  return true;
}

static void ReconcileSlot(TServerSlot& slot, bool wantUp) {
  slot.Want(wantUp);
}

void TDemo::Reconcile() {
  if (FStop) return;
  ReconcileSlot(FGateway, !Faults.Is("gateway", "down"));
  ReconcileSlot(FCloud, !Faults.Is("cloud", "down"));
}

void TDemo::Stop() {
  FStop = true;
  FGateway.Stop();
  FCloud.Stop();
}

void TDemo::HoldWhile(const TServerSlot& slot, const std::string& fault, const std::string& value,
                      int maxMs) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  while (!FStop && !slot.Stopping() && Faults.Is(fault, value) &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void TDemo::LineWait(std::chrono::steady_clock::time_point until) const {
  while (!FStop && !FCloud.Stopping()) {
    auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
  }
}

void TDemo::LineSend(size_t bytes, int64_t kbps) {
  // kbit/s is bits per millisecond, so bytes * 8 / kbps milliseconds on the line.
  auto cost = std::chrono::microseconds(static_cast<int64_t>(bytes) * 8000 / kbps);
  std::chrono::steady_clock::time_point until;
  {
    std::lock_guard<std::mutex> lock(FLineMutex);
    auto now = std::chrono::steady_clock::now();
    if (FLineFree < now) FLineFree = now;
    FLineFree += cost;
    until = FLineFree;
  }
  LineWait(until);
}

TDemo::THandler TDemo::OverLine(THandler handler) {
  return [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
    int64_t latency = Faults.Number("cloud-latency-ms");
    if (latency > 0)
      LineWait(std::chrono::steady_clock::now() + std::chrono::milliseconds(latency));
    handler(req, res);
    CloudStats.Sent(req.path, static_cast<int64_t>(res.body.size()));
    if (res.body.empty() || Faults.Number("cloud-rate-kbps") <= 0) return;
    // The body leaves in small pieces, each waiting its turn on the line; the rate is read per
    // piece, so a change through /demo/fault applies to answers already under way.
    auto body = std::make_shared<std::string>(std::move(res.body));
    res.body.clear();
    std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type");
    res.set_content_provider(body->size(), type.c_str(),
                             [this, body](size_t offset, size_t length, httplib::DataSink& sink) {
                               constexpr size_t kPiece = 16 * 1024;
                               size_t n = std::min({length, kPiece, body->size() - offset});
                               int64_t kbps = Faults.Number("cloud-rate-kbps");
                               if (kbps > 0) LineSend(n, kbps);
                               if (FStop || FCloud.Stopping()) return false;
                               return sink.write(body->data() + offset, n);
                             });
  };
}

bool TDemo::CacheLookup(const std::string& pathQuery, TCachedAnswer& out) const {
  std::lock_guard<std::mutex> lock(FCacheMutex);
  auto it = FCache.find(pathQuery);
  if (it == FCache.end()) return false;
  out = it->second;
  return true;
}

void TDemo::CacheStore(const std::string& pathQuery, TCachedAnswer answer) {
  std::lock_guard<std::mutex> lock(FCacheMutex);
  FCache[pathQuery] = std::move(answer);
}

void TDemo::CacheClear() {
  std::lock_guard<std::mutex> lock(FCacheMutex);
  FCache.clear();
}

void TDemo::AddReport(const std::string& json) {
  std::lock_guard<std::mutex> lock(FReportMutex);
  FReports.push_back(json);
  while (FReports.size() > 1000) FReports.pop_front();
}

std::string TDemo::Reports() const {
  std::lock_guard<std::mutex> lock(FReportMutex);
  std::string out = "[";
  for (const auto& r : FReports) out += (out.size() > 1 ? "," : "") + r;
  return out + "]";
}

static void SendJson(httplib::Response& res, int status, const std::string& body) {
  res.status = status;
  res.set_content(body, "application/json; charset=utf-8");
}

void TDemo::HandleFault(const httplib::Request& req, httplib::Response& res, TServerSlot& self) {
  std::string error = Faults.ApplyJson(req.body);
  if (!error.empty()) {
    SendJson(res, 400, "{\"ok\":false,\"error\":" + JsonQuote(error) + "}");
    return;
  }
  // The other server changes before we answer, so the caller can rely on it at once; this
  // server can only go down after the answer is out, which the main loop does within ~50 ms.
  TServerSlot& other = &self == &FGateway ? FCloud : FGateway;
  ReconcileSlot(other, !Faults.Is(other.Name(), "down"));
  bool pending = Faults.Is(self.Name(), "down");
  SendJson(res, 200,
           std::string("{\"ok\":true,\"pending\":") + (pending ? "true" : "false") +
               ",\"faults\":" + Faults.Json() + "}");
}

void TDemo::AddCommonRoutes(httplib::Server& server, TServerSlot& slot, TStats& stats) {
  server.set_pre_routing_handler([&stats](const httplib::Request& req, httplib::Response&) {
    if (req.path != "/demo/stats") {
      auto q = req.target.find('?');
      stats.Count(req.path, q == std::string::npos ? std::string() : req.target.substr(q + 1));
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendJson(res, 500, "{\"error\":\"demo handler failed\"}");
      });
  server.Post("/demo/fault", [this, &slot](const httplib::Request& req, httplib::Response& res) {
    HandleFault(req, res, slot);
  });
  server.Get("/demo/fault", [this](const httplib::Request&, httplib::Response& res) {
    SendJson(res, 200, Faults.Json());
  });
  server.Get("/demo/stats", [&stats, &slot](const httplib::Request&, httplib::Response& res) {
    SendJson(res, 200, stats.Json(slot.Name()));
  });
  server.Post("/demo/stats/reset", [&stats](const httplib::Request&, httplib::Response& res) {
    stats.Reset();
    SendJson(res, 200, "{\"ok\":true}");
  });
  // Echo: what arrived, so a client's method, headers and body can be checked.
  auto echo = [](const httplib::Request& req, httplib::Response& res) {
    std::string out = "{\"method\":" + JsonQuote(req.method) +
                      ",\"target\":" + JsonQuote(req.target) + ",\"headers\":{";
    bool first = true;
    for (const auto& [name, value] : req.headers) {
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT")
        continue;
      if (!first) out += ',';
      out += JsonQuote(name);
      out += ':';
      out += JsonQuote(value);
      first = false;
    }
    out += "},\"body\":" + JsonQuote(req.body) + "}";
    res.set_header("X-Demo-Echo", "yes");
    SendJson(res, 200, out);
  };
  server.Get("/demo/echo", echo);
  server.Post("/demo/echo", echo);
  server.Put("/demo/echo", echo);
  server.Delete("/demo/echo", echo);
  server.Get("/demo/set-cookie", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "demo=1; Path=/");
    res.set_content("cookie set", "text/plain");
  });
  server.Get("/demo/redirect", [](const httplib::Request& req, httplib::Response& res) {
    std::string to = req.has_param("to") ? req.get_param_value("to") : "/demo/echo";
    if (to.empty() || to[0] != '/') to = "/demo/echo";
    res.set_redirect(to, 302);
  });
  // Trickle: `count` small pieces `interval_ms` apart, to tell a per-read time-out from a total.
  server.Get("/demo/trickle", [this, &slot](const httplib::Request& req, httplib::Response& res) {
    int count = req.has_param("count") ? std::atoi(req.get_param_value("count").c_str()) : 5;
    int interval =
        req.has_param("interval_ms") ? std::atoi(req.get_param_value("interval_ms").c_str()) : 200;
    count = std::clamp(count, 0, 1000);
    interval = std::clamp(interval, 0, 10000);
    res.set_chunked_content_provider(
        "text/plain", [this, &slot, count, interval](size_t offset, httplib::DataSink& sink) {
          if (offset >= static_cast<size_t>(count) * 6) {
            sink.done();
            return true;
          }
          if (offset > 0) {
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
            while (!FStop && !slot.Stopping() && std::chrono::steady_clock::now() < end)
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (FStop || slot.Stopping()) return false;
          }
          return sink.write("piece\n", 6);
        });
  });
}

} // namespace hb::demo
