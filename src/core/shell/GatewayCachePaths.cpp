// The pure tests that decide which page requests the gateway may answer, and the Content-Type
// the browser is given. They see every resource of the page, so they stay allocation-free.
#include <array>

#include "shell/GatewayCache.h"

namespace hb {

namespace {

// Path prefixes the gateway caches, compared without regard to ASCII case. "/brand-logo" and
// "/site-logo" have no trailing slash on purpose: the cloud serves "/brand-logo.png" too.
constexpr std::array<std::string_view, 8> kCachePrefixes = {
    "/assets/", "/product-image/",  "/shop/netfee-image/", "/shop/news-image/",
    "/avatar/", "/shop/game-icon/", "/brand-logo",         "/site-logo",
};

constexpr size_t kMaxCacheablePath = 512;
constexpr size_t kMaxStoreNumber = 32;

bool IsLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool AllLowerHex(std::string_view s) {
  for (char c : s)
    if (!IsLowerHex(c)) return false;
  return true;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (AsciiLower(s[i]) != AsciiLower(prefix[i])) return false;
  return true;
}

bool ContainsNoCase(std::string_view s, std::string_view needle) {
  if (needle.size() > s.size()) return false;
  for (size_t i = 0; i + needle.size() <= s.size(); ++i)
    if (StartsWithNoCase(s.substr(i), needle)) return true;
  return false;
}

bool IsStoreNumberChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

} // namespace

bool IsSeatMapMedia(std::string_view path) {
  // "/seatmap/" + 32 hex + "/img/" + 20 hex + extension: the cloud's content-addressed media.
  constexpr std::string_view kHead = "/seatmap/";
  constexpr std::string_view kImg = "/img/";
  if (path.size() != 70 && path.size() != 71) return false;
  if (path.substr(0, kHead.size()) != kHead) return false;
  if (path.substr(41, kImg.size()) != kImg) return false;
  if (!AllLowerHex(path.substr(9, 32)) || !AllLowerHex(path.substr(46, 20))) return false;
  std::string_view ext = path.substr(66);
  return ext == ".jpg" || ext == ".png" || ext == ".webp" || ext == ".gif" || ext == ".mp4";
}

bool IsCacheablePath(std::string_view path) {
  if (IsSeatMapMedia(path)) return true;

  constexpr std::string_view kCatalog = kCatalogPrefix;
  if (path.substr(0, kCatalog.size()) == kCatalog) {
    // Exactly one parameter, the store number: anything else may not be the same document.
    std::string_view store = path.substr(kCatalog.size());
    if (store.empty() || store.size() > kMaxStoreNumber) return false;
    for (char c : store)
      if (!IsStoreNumberChar(c)) return false;
    return true;
  }

  if (path.empty() || path.front() != '/' || path.size() > kMaxCacheablePath) return false;
  for (char c : path) {
    auto u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126 || c == '"' || c == '\\' || c == '#') return false;
  }
  // The gateway maps the path onto its own store: no climbing out, no doubled separators and no
  // escapes that could hide either. The query may carry anything printable.
  std::string_view bare = path.substr(0, path.find('?'));
  if (bare.find("..") != std::string_view::npos || bare.find("//") != std::string_view::npos ||
      bare.find('%') != std::string_view::npos)
    return false;
  for (std::string_view prefix : kCachePrefixes)
    if (StartsWithNoCase(bare, prefix)) return true;
  return false;
}

std::string NormalizeContentType(std::string_view value) {
  std::string_view t = TrimBlanks(value);
  std::string_view base = TrimBlanks(t.substr(0, t.find(';')));
  // Pages and scripts are UTF-8 in the cloud whatever the gateway claims; a stale charset from
  // the gateway would garble the Chinese texts of the page.
  bool textual = StartsWithNoCase(base, "text/") || ContainsNoCase(base, "javascript") ||
                 ContainsNoCase(base, "json") || ContainsNoCase(base, "svg") ||
                 ContainsNoCase(base, "xml");
  if (textual) return std::string(base) + "; charset=utf-8";
  return std::string(t);
}

} // namespace hb
