// Which page requests the gateway cache takes, and the Content-Type it hands to the browser.
#include <gtest/gtest.h>

#include <string>

#include "shell/GatewayCache.h"

namespace hb {
namespace {

const std::string kHex32 = "0123456789abcdef0123456789abcdef";
const std::string kHex20 = "abcdef0123456789abcd";
std::string Media(const std::string& ext) {
  return "/seatmap/" + kHex32 + "/img/" + kHex20 + ext;
}

struct TPathCase {
  std::string Path;
  bool SeatMap;
  bool Cacheable;
};

TEST(GatewayCachePaths, SeatMapMediaAndCacheableTable) {
  std::string upperHex = "/seatmap/0123456789ABCDEF0123456789abcdef/img/" + kHex20 + ".png";
  std::string badImg = "/seatmap/" + kHex32 + "/IMG/" + kHex20 + ".png";
  std::string short19 = "/seatmap/" + kHex32 + "/img/" + kHex20.substr(1) + ".png";
  std::string catalog = "/shop/catalog-version?NetBarId=";
  std::string longAsset = "/assets/" + std::string(504, 'a'); // 512 characters
  const TPathCase cases[] = {
      {Media(".webp"), true, true},
      {Media(".jpg"), true, true},
      {Media(".png"), true, true},
      {Media(".gif"), true, true},
      {Media(".mp4"), true, true},
      {Media(".WEBP"), false, false},
      {Media(".webp") + "?v=1", false, false},
      {Media(".jpeg"), false, false},
      {Media(".svg"), false, false},
      {upperHex, false, false},
      {badImg, false, false},
      {short19, false, false},
      {"/seatmap/x/img/y.png", false, false},
      {catalog + "1001", false, true},
      {catalog + "ab-_Z9", false, true},
      {catalog, false, false},
      {catalog + std::string(32, '7'), false, true},
      {catalog + std::string(33, '7'), false, false},
      {catalog + "1001&x=1", false, false},
      {catalog + "10.01", false, false},
      {"/shop/catalog-version?netbarid=1001", false, false},
      {"/assets/app.js?v=3", false, true},
      {"/ASSETS/app.js?v=3", false, true},
      {"/assets/", false, true},
      {"/assets", false, false},
      {"/assets/../x", false, false},
      {"/assets//x", false, false},
      {"/assets/a%20b.png", false, false},
      {"/assets/a b.png", false, false},
      {"/assets/a.png#top", false, false},
      {"/assets/a\"b.png", false, false},
      {"/assets/a\\b.png", false, false},
      {"/assets/\xE5\x9B\xBE.png", false, false},
      {"/assets/a\tb.png", false, false},
      {"/assets/x.png?name=%E4", false, true},
      {"/assets/x.png?a=..//b", false, true},
      {longAsset, false, true},
      {longAsset + "a", false, false},
      {"/brand-logo.png", false, true},
      {"/brand-logos/a.png", false, true},
      {"/site-logo", false, true},
      {"/product-image/1.jpg", false, true},
      {"/shop/netfee-image/1.jpg", false, true},
      {"/shop/news-image/1.jpg", false, true},
      {"/avatar/u.png", false, true},
      {"/shop/game-icon/g.png", false, true},
      {"/shop/other/g.png", false, false},
      {"/index.html", false, false},
      {"assets/x.png", false, false},
      {"", false, false},
      {"/", false, false},
  };
  for (const TPathCase& c : cases) {
    EXPECT_EQ(IsSeatMapMedia(c.Path), c.SeatMap) << c.Path;
    EXPECT_EQ(IsCacheablePath(c.Path), c.Cacheable) << c.Path;
  }
  EXPECT_EQ(Media(".webp").size(), 71u);
  EXPECT_EQ(longAsset.size(), 512u);
}

TEST(GatewayCachePaths, NormalizeContentTypeTable) {
  const std::pair<std::string, std::string> cases[] = {
      {"text/html; charset=gbk", "text/html; charset=utf-8"},
      {"  text/css  ", "text/css; charset=utf-8"},
      {"TEXT/Plain;charset=ISO-8859-1", "TEXT/Plain; charset=utf-8"},
      {"image/svg+xml", "image/svg+xml; charset=utf-8"},
      {"Application/JSON", "Application/JSON; charset=utf-8"},
      {"application/javascript; charset=utf-8", "application/javascript; charset=utf-8"},
      {"application/xml ; q=1", "application/xml; charset=utf-8"},
      {"image/png", "image/png"},
      {" image/png ", "image/png"},
      {"video/mp4; codecs=avc1", "video/mp4; codecs=avc1"},
      {"application/octet-stream", "application/octet-stream"},
      {"", ""},
      {"   ", ""},
      {";charset=gbk", ";charset=gbk"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeContentType(in), out) << in;
}

} // namespace
} // namespace hb
