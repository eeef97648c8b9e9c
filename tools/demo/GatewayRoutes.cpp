// The demo store gateway: the entry answer and the cache relay in front of the demo cloud.
#include <httplib.h>

#include "Demo.h"

namespace hb::demo {

namespace {

constexpr int kHangMs = 120000;

void Json(httplib::Response& res, const std::string& body, int status = 200) {
  res.status = status;
  res.set_content(body, "application/json; charset=utf-8");
}

} // namespace

void TDemo::AddGatewayRoutes(httplib::Server& server) {
  server.Get("/entry", [this](const httplib::Request&, httplib::Response& res) {
    std::string fault = Faults.Get("entry");
    std::string id = JsonQuote(Options().NetBarId);
    std::string cloud = "127.0.0.1:" + std::to_string(CloudSlot().Port());
    std::string url = JsonQuote("http://" + cloud + "/seatmap/?from=gateway");
    if (fault == "hang") {
      HoldWhile(GatewaySlot(), "entry", "hang", kHangMs);
      res.status = 503;
      res.set_content("hang ended", "text/plain");
    } else if (fault == "500") {
      Json(res, "{\"code\":500,\"msg\":\"网关内部错误\"}", 500);
    } else if (fault == "text") {
      res.set_content("网关正在启动，请稍候", "text/plain; charset=utf-8");
    } else if (fault == "no-netbarid") {
      Json(res, "{\"entry_url\":" + url + "}");
    } else if (fault == "no-entry-url") {
      Json(res, "{\"NetBarId\":" + id + "}");
    } else if (fault == "bad-entry-url") {
      Json(res, "{\"NetBarId\":" + id + ",\"entry_url\":" + JsonQuote(cloud + "/seatmap/") + "}");
    } else if (fault == "huge") {
      // Valid and complete, but far beyond what an entry answer may be.
      Json(res, "{\"NetBarId\":" + id + ",\"entry_url\":" + url + ",\"pad\":\"" +
                    std::string((2 << 20) + 4096, 'x') + "\"}");
    } else if (fault == "deep") {
      constexpr size_t kDepth = 200000;
      Json(res, "{\"NetBarId\":" + id + ",\"entry_url\":" + url +
                    ",\"deep\":" + std::string(kDepth, '[') + std::string(kDepth, ']') + "}");
    } else {
      Json(res, "{\"NetBarId\":" + id + ",\"entry_url\":" + url + "}");
    }
  });

  server.Get("/cache", [this](const httplib::Request& req, httplib::Response& res) {
    std::string u = req.has_param("u") ? req.get_param_value("u") : "";
    GatewayStats.CacheRequested(u);
    std::string fault = Faults.Get("cache");
    if (fault == "429") {
      Json(res, "{\"code\":429,\"msg\":\"网关繁忙\"}", 429);
      return;
    }
    if (fault == "404-no-api") {
      Json(res, "{\"code\":404,\"msg\":\"接口不存在\"}", 404);
      return;
    }
    if (fault == "404") {
      Json(res, "{\"code\":404,\"msg\":\"文件不在缓存中\"}", 404);
      return;
    }
    if (fault == "500") {
      Json(res, "{\"code\":500,\"msg\":\"网关内部错误\"}", 500);
      return;
    }
    if (fault == "hang") {
      HoldWhile(GatewaySlot(), "cache", "hang", kHangMs);
      res.status = 503;
      res.set_content("hang ended", "text/plain");
      return;
    }
    if (fault == "empty") {
      res.set_header("Cache-Control", "public, max-age=60");
      res.set_content("", "image/png");
      return;
    }
    if (fault == "oversized" || fault == "maximal") {
      // oversized: above both the 12 MiB and the 32 MiB limits. maximal: exactly the largest body
      // the program takes, 32 MiB for seat-map pictures and 12 MiB for everything else, as a
      // hostile gateway would answer. Streamed so the demo never holds it.
      const bool media = u.starts_with("/seatmap/") && u.find("/img/") != std::string::npos;
      const size_t size = fault == "oversized" ? (32u << 20) + 1 : media ? 32u << 20 : 12u << 20;
      // The maximal answer may not be kept, so every reload asks for all of it again.
      res.set_header("Cache-Control", fault == "maximal" ? "no-store" : "public, max-age=60");
      res.set_content_provider(size, "image/png",
                               [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                 static const std::string kBlock(64 * 1024, '\x5a');
                                 if (Stopping() || GatewaySlot().Stopping()) return false;
                                 (void)offset;
                                 return sink.write(kBlock.data(), std::min(length, kBlock.size()));
                               });
      if (fault == "maximal") GatewayStats.CacheServed(u);
      return;
    }
    if (u.empty() || u[0] != '/') {
      Json(res, "{\"code\":400,\"msg\":\"缺少参数 u\"}", 400);
      return;
    }
    // A file the cache holds goes out from memory at once, as a store's gateway serves its LAN;
    // anything else is fetched from the cloud (over the cloud's line) and kept when it may be.
    TCachedAnswer kept;
    if (CacheLookup(u, kept)) {
      res.set_header("Cache-Control", kept.CacheControl);
      res.set_header("X-Demo-Extra", "gateway-only");
      res.set_content(kept.Body, kept.ContentType.c_str());
      GatewayStats.CacheServed(u);
      GatewayStats.Sent("/cache", static_cast<int64_t>(kept.Body.size()));
      return;
    }
    httplib::Client cloud("127.0.0.1", CloudSlot().Port());
    cloud.set_connection_timeout(2);
    // As long as the cloud may keep an answer waiting: a slow cloud makes a slow gateway, as in a
    // store, not a failing one.
    cloud.set_read_timeout(kHangMs / 1000 + 5);
    auto answer = cloud.Get(u.c_str());
    if (!answer) {
      Json(res, "{\"code\":502,\"msg\":\"云端不可达\"}", 502);
      return;
    }
    TCachedAnswer fetched;
    fetched.CacheControl = answer->get_header_value("Cache-Control");
    fetched.ContentType = answer->has_header("Content-Type")
                              ? answer->get_header_value("Content-Type")
                              : "application/octet-stream";
    fetched.Body = answer->body;
    res.status = answer->status;
    if (answer->has_header("Cache-Control")) res.set_header("Cache-Control", fetched.CacheControl);
    // A header the program must not pass on to the page.
    res.set_header("X-Demo-Extra", "gateway-only");
    res.set_content(answer->body, fetched.ContentType.c_str());
    if (answer->status == 200 && !answer->body.empty()) {
      GatewayStats.CacheServed(u);
      GatewayStats.Sent("/cache", static_cast<int64_t>(answer->body.size()));
      // What the cloud marks as not to be kept (the catalogue version) is asked for every time.
      const std::string& cc = fetched.CacheControl;
      if (cc.find("no-cache") == std::string::npos && cc.find("no-store") == std::string::npos)
        CacheStore(u, std::move(fetched));
    }
  });

  server.Post("/demo/cache/clear", [this](const httplib::Request&, httplib::Response& res) {
    CacheClear();
    Json(res, "{\"ok\":true}");
  });
}

} // namespace hb::demo
