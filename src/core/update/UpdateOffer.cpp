// The /getUpdate exchange's two texts: the request body we send and the offer we read back.
#include <string>

#include "AppIdentity.h"
#include "Json.h"
#include "Utf8.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A digest that is not 64 hexadecimal digits can match no file: refusing it here saves a
// download of up to 300 MiB that could only end in a failed comparison.
bool IsSha256Hex(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

} // namespace

std::string BuildUpdateRequest(const std::string& versionText, int64_t effectiveCode,
                               int64_t unixSeconds, const std::string& nonce) {
  return "{\"component\":" + JsonQuote(kComponent) +
         ",\"current_version\":" + JsonQuote(versionText) +
         ",\"current_version_code\":" + std::to_string(effectiveCode) +
         ",\"ts\":" + std::to_string(unixSeconds) + ",\"nonce\":" + JsonQuote(nonce) + "}";
}

std::string LogExcerpt(const std::string& text, size_t maxChars) {
  std::string out;
  size_t count = 0;
  for (size_t i = 0; i < text.size() && count < maxChars; ++count) {
    uint32_t cp = NextCodePoint(text, i);
    // One event, one log line: an error page's line breaks become blanks.
    AppendUtf8(out, cp == '\r' || cp == '\n' ? ' ' : cp);
  }
  return out;
}

bool ParseUpdateOffer(const std::string& body, TUpdateOffer& offer) {
  offer = TUpdateOffer{};
  TJsonDocument doc = ParseJsonDocument(body);
  const TJsonValue* o = doc.Object();
  if (!o) return false;
  offer.Update = GetJsonBool(o, "update", false);
  offer.Reason = GetJsonText(o, "reason", "");
  offer.DownloadPath = GetJsonText(o, "download_path", "");
  offer.Sha256 = Lower(GetJsonText(o, "sha256", ""));
  offer.Size = GetJsonInt64(o, "size", 0);
  offer.VersionCode = GetJsonInt64(o, "version_code", 0);
  offer.Version = GetJsonText(o, "version", "");
  return true;
}

bool IsSafeOffer(const TUpdateOffer& offer) {
  return offer.DownloadPath.starts_with("/downloadUpdate?") && IsSha256Hex(offer.Sha256) &&
         offer.Size >= 1 && offer.Size <= kMaxPackageSize;
}

} // namespace hb
