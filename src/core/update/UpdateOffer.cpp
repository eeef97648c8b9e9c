// The /getUpdate exchange's two texts: the request body we send and the offer we read back.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include <rapidjson/document.h>

#include "AppIdentity.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

using TJsonValue = rapidjson::Value;

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input yields U+FFFD for one byte,
// so a broken version text can never produce invalid JSON.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= s.size() || (byte(i + k) & 0xC0) != 0x80) {
      extra = 0;
      break;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (extra == 0 || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += extra + 1;
  return cp;
}

void AppendEscape(std::string& out, uint32_t unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
  out += buf;
}

// A JSON string literal with every character outside U+0020..U+007F as a \u escape (UTF-16
// pairs beyond the basic plane), so the body is plain ASCII whatever the gateway's decoder.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = NextCodePoint(text, i);
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp >= 0x20 && cp <= 0x7F) {
      out += static_cast<char>(cp);
    } else if (cp > 0xFFFF) {
      cp -= 0x10000;
      AppendEscape(out, 0xD800 + (cp >> 10));
      AppendEscape(out, 0xDC00 + (cp & 0x3FF));
    } else {
      AppendEscape(out, cp);
    }
  }
  return out + "\"";
}

// The program's member rules: found by exact name, first occurrence; missing, null or
// unconvertible gives the default. Numbers arrive as their text (parsed as strings).
const TJsonValue* Member(const TJsonValue& obj, const char* name) {
  auto it = obj.FindMember(name);
  if (it == obj.MemberEnd() || it->value.IsNull()) return nullptr;
  return &it->value;
}

std::string GetText(const TJsonValue& obj, const char* name, const std::string& def) {
  const TJsonValue* v = Member(obj, name);
  if (!v) return def;
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  if (v->IsBool()) return v->GetBool() ? "true" : "false";
  return def;
}

bool NumberText(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  auto [p, ec] = std::from_chars(first, last, out);
  if (ec == std::errc() && p == last) return true;
  double d = 0;
  auto [q, ec2] = std::from_chars(first, last, d);
  if (ec2 != std::errc() || q != last || !std::isfinite(d) || d != std::floor(d)) return false;
  // 2^63 is exactly representable; anything at or past it is out of range.
  if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return false;
  out = static_cast<int64_t>(d);
  return true;
}

int64_t GetInt64(const TJsonValue& obj, const char* name, int64_t def) {
  const TJsonValue* v = Member(obj, name);
  if (!v) return def;
  if (v->IsBool()) return v->GetBool() ? 1 : 0;
  int64_t n = 0;
  if (v->IsString() && NumberText(std::string(v->GetString(), v->GetStringLength()), n)) return n;
  return def;
}

bool GetBool(const TJsonValue& obj, const char* name, bool def) {
  const TJsonValue* v = Member(obj, name);
  if (!v) return def;
  if (v->IsBool()) return v->GetBool();
  if (!v->IsString()) return def;
  std::string t(v->GetString(), v->GetStringLength());
  std::string lower;
  for (char c : t) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower == "true") return true;
  if (lower == "false") return false;
  const char* first = t.data();
  double d = 0;
  auto [p, ec] = std::from_chars(first, first + t.size(), d);
  if (ec == std::errc() && p == first + t.size()) return d != 0;
  return def;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

} // namespace

std::string BuildUpdateRequest(const std::string& versionText, int64_t effectiveCode,
                               int64_t unixSeconds, const std::string& nonce) {
  return "{\"component\":" + JsonString(kComponent) +
         ",\"current_version\":" + JsonString(versionText) +
         ",\"current_version_code\":" + std::to_string(effectiveCode) +
         ",\"ts\":" + std::to_string(unixSeconds) + ",\"nonce\":" + JsonString(nonce) + "}";
}

std::string LogExcerpt(const std::string& text, size_t maxChars) {
  std::string out;
  size_t count = 0;
  for (size_t i = 0; i < text.size() && count < maxChars; ++count) {
    uint32_t cp = NextCodePoint(text, i);
    if (cp == '\r' || cp == '\n') cp = ' ';
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool ParseUpdateOffer(const std::string& body, TUpdateOffer& offer) {
  offer = TUpdateOffer{};
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag>(body.data(),
                                                                                    body.size());
  if (doc.HasParseError() || !doc.IsObject()) return false;
  offer.Update = GetBool(doc, "update", false);
  offer.Reason = GetText(doc, "reason", "");
  offer.DownloadPath = GetText(doc, "download_path", "");
  offer.Sha256 = Lower(GetText(doc, "sha256", ""));
  offer.Size = GetInt64(doc, "size", 0);
  offer.VersionCode = GetInt64(doc, "version_code", 0);
  offer.Version = GetText(doc, "version", "");
  return true;
}

bool IsSafeOffer(const TUpdateOffer& offer) {
  return offer.DownloadPath.starts_with("/downloadUpdate?") && offer.Sha256.size() == 64 &&
         offer.Size >= 1 && offer.Size <= kMaxPackageSize;
}

} // namespace hb
