// The demo cloud: the store's map list, the seat-map display page and everything it loads.
#include <httplib.h>

#include <rapidjson/document.h>

#include "Demo.h"
#include "Png.h"

#include <cstdio>
#include <vector>

namespace hb::demo {

namespace {

struct TMap {
  int Id;
  const char* Name;
  const char* Background; // full-page colour, so a screenshot tells the maps apart
};
constexpr TMap kMaps[] = {
    {1, "大厅", "#0E4D3A"},
    {2, "包间区", "#4D0E3A"},
    {3, "电竞区", "#3A4D0E"},
};

struct TPicture {
  const char* Path;
  int Width, Height;
  uint32_t Colour, Accent;
  const char* CacheControl;
};
constexpr const char* kSeatMapMedia =
    "/seatmap/5f2c8a91d04b4e7c9a3e61b0f7d2c845/img/0a1b2c3d4e5f60718293.png";
constexpr TPicture kPictures[] = {
    {"/assets/seat-free.png", 48, 48, 0x2E7D32, 0xA5D6A7, "public, max-age=86400"},
    {"/assets/seat-busy.png", 48, 48, 0xC62828, 0xEF9A9A, "public, max-age=86400"},
    {"/assets/seat-offline.png", 48, 48, 0x616161, 0xBDBDBD, "public, max-age=86400"},
    {"/product-image/cola.png", 64, 64, 0xB71C1C, 0xFFFFFF, "public, max-age=3600"},
    {"/product-image/noodles.png", 64, 64, 0xF9A825, 0x6D4C41, "public, max-age=3600"},
    {"/avatar/staff-01.png", 40, 40, 0x1565C0, 0xFFE0B2, "public, max-age=3600"},
    {"/brand-logo.png", 120, 40, 0xFFFFFF, 0xD32F2F, "public, max-age=86400"},
    {"/site-logo.png", 120, 40, 0xFFFFFF, 0x1976D2, "public, max-age=86400"},
    {kSeatMapMedia, 160, 90, 0x263238, 0x80CBC4, "public, max-age=31536000, immutable"},
};

// The page's weight: forty shop pictures of the cacheable kinds, about 45 KiB each (photographs
// compress poorly, so their pixels are noise), about 1.8 MB in all.
struct TWeight {
  const char* Prefix;
  int Count;
};
constexpr TWeight kWeights[] = {
    {"/product-image/goods-", 12}, {"/shop/netfee-image/card-", 8}, {"/shop/news-image/news-", 8},
    {"/shop/game-icon/game-", 8},  {"/avatar/member-", 4},
};
constexpr int kWeightSide = 140;

std::vector<std::string> WeightPaths() {
  std::vector<std::string> paths;
  for (const auto& w : kWeights)
    for (int i = 1; i <= w.Count; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%02d.png", i);
      paths.push_back(std::string(w.Prefix) + name);
    }
  return paths;
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '&':
      out += "&amp;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

const TMap* FindMap(const std::string& text) {
  if (text.empty()) return &kMaps[0];
  for (const auto& m : kMaps)
    if (text == std::to_string(m.Id)) return &m;
  return nullptr;
}

// `light`: the same page without any picture (the catalogue version alone goes through the
// cache), so a benchmark can bring the program's cache into a state before the measured load.
std::string DisplayPage(const TMap& map, const std::string& store, const std::string& netBarId,
                        bool light) {
  std::string name = HtmlEscape(map.Name);
  std::string seats;
  for (int i = 0; i < (light ? 0 : 40); ++i) {
    const char* pic = i % 7 == 3   ? "/assets/seat-offline.png"
                      : i % 3 == 0 ? "/assets/seat-busy.png"
                                   : "/assets/seat-free.png";
    char label[8];
    std::snprintf(label, sizeof label, "%c%02d", 'A' + i / 10, i % 10 + 1);
    seats += std::string("<div class=\"seat\"><img src=\"") + pic + "\" alt=\"\"><span>" + label +
             "</span></div>";
  }
  std::string shop;
  if (!light)
    for (const auto& path : WeightPaths()) shop += "<img src=\"" + path + "\" alt=\"\">";
  auto img = [light](const char* path) {
    return light ? std::string() : "<img src=\"" + std::string(path) + "\" alt=\"\">";
  };
  // The page id goes into a script string, so keep only characters that need no escaping.
  std::string id;
  for (char c : netBarId)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') id += c;
  return R"(<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8">
<title>机位图 - )" +
         name + R"(</title>
<style>
html,body{margin:0;height:100%;background:)" +
         map.Background + R"(;color:#F5F5F5;
  font-family:"Microsoft YaHei UI","WenQuanYi Zen Hei",sans-serif;overflow:hidden}
header{display:flex;align-items:center;gap:16px;padding:16px 32px}
header h1{margin:0;font-size:32px;flex:1}
main{display:flex;gap:32px;padding:0 32px}
.grid{display:grid;grid-template-columns:repeat(10,64px);gap:12px}
.shop{display:grid;grid-template-columns:repeat(20,32px);gap:5px;margin-top:24px}
.shop img{width:32px;height:32px}
.seat{display:flex;flex-direction:column;align-items:center;font-size:12px}
aside{display:flex;flex-direction:column;gap:12px;align-items:flex-start}
#catalog{font-size:14px;opacity:.8}
</style></head>
<body data-map=")" +
         std::to_string(map.Id) + R"(" data-state="loading">
<header>)" +
         img("/brand-logo.png") + "<h1>" + name + R"(</h1>
<span>)" +
         HtmlEscape(store) + "</span>" + img("/site-logo.png") + R"(</header>
<main><div><section class="grid">)" +
         seats + R"(</section>
<section class="shop">)" +
         shop + R"(</section></div>
<aside>)" +
         img(kSeatMapMedia) + img("/product-image/cola.png") + img("/product-image/noodles.png") +
         img("/avatar/staff-01.png") + R"(<div id="catalog">商品目录版本 …</div></aside></main>
<script>
(function () {
  var name = ")" +
         name + R"(";
  var loaded = new Promise(function (resolve) {
    if (document.readyState === "complete") resolve(); else window.addEventListener("load", resolve);
  });
  var catalog = fetch("/shop/catalog-version?NetBarId=)" +
         id + R"(")
    .then(function (r) { if (!r.ok) throw new Error("HTTP " + r.status); return r.json(); })
    .then(function (j) { document.getElementById("catalog").textContent = "商品目录版本 " + j.version; return true; })
    .catch(function () { return false; });
  Promise.all([loaded, catalog]).then(function (r) {
    var ok = r[1];
    for (var i = 0; i < document.images.length; i++)
      if (!document.images[i].complete || document.images[i].naturalWidth === 0) ok = false;
    var state = ok ? "ready" : "failed";
    document.body.setAttribute("data-state", state);
    document.title = "机位图 - " + name + " - " + state;
    // For the benchmarks: how long from the navigation until the load event and until every
    // picture was decoded and the next frame drawn, told back to the demo cloud.
    var images = Array.prototype.slice.call(document.images).map(function (img) {
      return img.decode().catch(function () {});
    });
    Promise.all(images).then(function () {
      requestAnimationFrame(function () {
        requestAnimationFrame(function () {
          var nav = performance.getEntriesByType("navigation")[0] || {};
          // The resource that ended last, so that a slow run says where its time went.
          var last = performance.getEntriesByType("resource").sort(function (x, y) {
            return y.responseEnd - x.responseEnd;
          })[0] || {};
          var report = JSON.stringify({
            map: )" +
         std::to_string(map.Id) + R"(, state: state, images: document.images.length,
            load: nav.loadEventStart || 0, drawn: performance.now(),
            // The navigation's start on the wall clock, and its response and DOM milestones, so
            // that a start-up benchmark can lay them against the moment it started the program.
            origin: performance.timeOrigin, response: nav.responseStart || 0,
            interactive: nav.domInteractive || 0,
            last: [String(last.name || "").replace(/^[a-z]+:\/\/[^\/]+/, ""),
                   Math.round(last.startTime || 0), Math.round(last.responseEnd || 0)]
          });
          try { navigator.sendBeacon("/demo/report", report); } catch (e) {}
        });
      });
    });
  });
})();
</script>
</body></html>
)";
}

} // namespace

void TDemo::AddCloudRoutes(httplib::Server& server) {
  // What the page reports about its own timing (see DisplayPage); not a cloud route, no line.
  server.Post("/demo/report", [this](const httplib::Request& req, httplib::Response& res) {
    rapidjson::Document doc;
    doc.Parse(req.body.c_str(), req.body.size());
    if (req.body.size() > 4096 || doc.HasParseError() || !doc.IsObject()) {
      res.status = 400;
      res.set_content("{\"ok\":false,\"error\":\"a report is one JSON object\"}",
                      "application/json");
      return;
    }
    AddReport(req.body);
    res.set_content("{\"ok\":true}", "application/json");
  });
  server.Get("/demo/reports", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(Reports(), "application/json");
  });

  auto get = [this, &server](const std::string& pattern, THandler handler) {
    server.Get(pattern, OverLine(std::move(handler)));
  };
  get("/seatmap/display/list", [this](const httplib::Request&, httplib::Response& res) {
    std::string fault = Faults.Get("maplist");
    if (fault == "fail") {
      res.status = 500;
      res.set_content("{\"code\":500,\"msg\":\"服务器内部错误\"}",
                      "application/json; charset=utf-8");
      return;
    }
    std::string items;
    for (const auto& m : kMaps) {
      // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about a chain of + here.
      if (!items.empty()) items += ',';
      items.append("{\"id\":").append(std::to_string(m.Id)).append(",\"name\":");
      items.append(JsonQuote(m.Name)).append("}");
    }
    std::string store = JsonQuote(Options().StoreName);
    std::string body;
    if (fault == "object")
      body = "{\"store\":" + store + ",\"maps\":{\"id\":1,\"name\":\"大厅\"}}";
    else if (fault == "not-object")
      body = "[" + items + "]";
    else
      body = "{\"store\":" + store + ",\"maps\":[" + items + "]}";
    res.set_content(body, "application/json; charset=utf-8");
  });

  get("/seatmap/display", [this](const httplib::Request& req, httplib::Response& res) {
    const TMap* map = FindMap(req.has_param("m") ? req.get_param_value("m") : "");
    if (!map || Faults.Is("page", "404")) {
      res.status = 404;
      res.set_content("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                      "<title>404</title></head><body>机位图不存在</body></html>",
                      "text/html; charset=utf-8");
      return;
    }
    std::string id = req.has_param("NetBarId") ? req.get_param_value("NetBarId") : "";
    res.set_header("Cache-Control", "no-store");
    res.set_content(DisplayPage(*map, Options().StoreName, id, Faults.Is("page", "light")),
                    "text/html; charset=utf-8");
  });

  // Where the gateway's entry_url points: the cloud's front door, never opened by the program.
  get("/seatmap/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                    "<title>机位图</title></head><body>机位图</body></html>",
                    "text/html; charset=utf-8");
  });

  get("/shop/catalog-version", [](const httplib::Request& req, httplib::Response& res) {
    std::string id = req.has_param("NetBarId") ? req.get_param_value("NetBarId") : "";
    res.set_header("Cache-Control", "no-cache");
    res.set_content("{\"NetBarId\":" + JsonQuote(id) + ",\"version\":\"20251210.3\"}",
                    "application/json; charset=utf-8");
  });

  // A picture at a literal path: the regular-expression characters the router would see are
  // escaped.
  auto picture = [this, &get](const std::string& path, std::string png, std::string cacheControl) {
    std::string pattern;
    for (char c : path) {
      if (c == '.') pattern += '\\';
      pattern += c;
    }
    const bool media = path == kSeatMapMedia;
    get(pattern, [this, media, png = std::move(png), cacheControl = std::move(cacheControl)](
                     const httplib::Request&, httplib::Response& res) {
      // The seat-map media is the page's largest wait; the gateway fetches it here, so it is as
      // slow as this.
      if (int64_t delay = media ? Faults.Number("media-delay-ms") : 0; delay > 0)
        LineWait(std::chrono::steady_clock::now() + std::chrono::milliseconds(delay));
      res.set_header("Cache-Control", cacheControl);
      res.set_content(png, "image/png");
    });
  };
  for (const auto& pic : kPictures)
    picture(pic.Path, SolidPng(pic.Width, pic.Height, pic.Colour, pic.Accent), pic.CacheControl);
  uint32_t seed = 1;
  for (const auto& path : WeightPaths())
    picture(path, NoisyPng(kWeightSide, kWeightSide, seed++), "public, max-age=3600");
}

} // namespace hb::demo
