#include "Json.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "Utf8.h"

namespace hb {

namespace {

constexpr unsigned kParseFlags =
    rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;

std::string_view StringOf(const TJsonValue& v) {
  return {v.GetString(), v.GetStringLength()};
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// The decimal number grammar shared by the whole-number and Boolean rules: sign, digits,
// fraction, exponent. JSON's own number text always fits it; a string may add a "+" sign or
// leading zeros, which people write in ids.
struct TDecimal {
  bool Negative = false;
  std::string_view IntDigits, FracDigits;
  int64_t Exponent = 0; // saturated far beyond anything that can still be in range
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool ParseDecimal(std::string_view t, TDecimal& d) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) d.Negative = t[i++] == '-';
  size_t start = i;
  while (i < t.size() && IsDigit(t[i])) ++i;
  d.IntDigits = t.substr(start, i - start);
  if (i < t.size() && t[i] == '.') {
    start = ++i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    d.FracDigits = t.substr(start, i - start);
  }
  if (d.IntDigits.empty() && d.FracDigits.empty()) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) expNegative = t[i++] == '-';
    if (i == t.size() || !IsDigit(t[i])) return false;
    int64_t e = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i)
      e = std::min<int64_t>(e * 10 + (t[i] - '0'), 1000000);
    d.Exponent = expNegative ? -e : e;
  }
  return i == t.size();
}

bool AllZero(std::string_view digits) {
  return digits.find_first_not_of('0') == std::string_view::npos;
}

bool NumberTextNonZero(std::string_view text, bool& nonZero) {
  TDecimal d;
  if (!ParseDecimal(text, d)) return false;
  nonZero = !AllZero(d.IntDigits) || !AllZero(d.FracDigits);
  return true;
}

void AppendEscape(std::string& out, uint32_t unit) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit & 0xFFFF));
  out += buf;
}

} // namespace

TJsonDocument ParseJsonDocument(std::string_view text) {
  TJsonDocument doc;
  // A byte-order mark in front is allowed to be ignored (RFC 8259), and some servers send one.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::string clean = SanitizeUtf8(text);
  doc.FDoc.Parse<kParseFlags>(clean.data(), clean.size());
  doc.FValid = !doc.FDoc.HasParseError();
  return doc;
}

const TJsonValue* FindJsonMember(const TJsonValue* obj, std::string_view name) {
  if (!obj || !obj->IsObject()) return nullptr;
  // RapidJSON keeps members in written order; the first of a repeated name is the one we want.
  for (auto it = obj->MemberBegin(); it != obj->MemberEnd(); ++it)
    if (StringOf(it->name) == name) return &it->value;
  return nullptr;
}

bool ParseWholeNumber(std::string_view text, int64_t lo, int64_t hi, int64_t& out) {
  TDecimal d;
  if (!ParseDecimal(text, d)) return false;
  // All the digits as one significand, scaled by a power of ten.
  std::string digits;
  digits.reserve(d.IntDigits.size() + d.FracDigits.size());
  digits.append(d.IntDigits).append(d.FracDigits);
  int64_t scale = d.Exponent - static_cast<int64_t>(d.FracDigits.size());
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    if (lo > 0 || hi < 0) return false;
    out = 0;
    return true;
  }
  digits.erase(0, first);
  while (digits.back() == '0') {
    digits.pop_back();
    ++scale;
  }
  if (scale < 0) return false; // a non-zero digit after the decimal point
  if (static_cast<int64_t>(digits.size()) + scale > 20) return false;
  digits.append(static_cast<size_t>(scale), '0');
  uint64_t magnitude = 0;
  for (char c : digits) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  constexpr uint64_t kMinMagnitude = uint64_t{1} << 63; // |INT64_MIN|
  int64_t value = 0;
  if (d.Negative) {
    if (magnitude > kMinMagnitude) return false;
    value = magnitude == kMinMagnitude ? std::numeric_limits<int64_t>::min()
                                       : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude >= kMinMagnitude) return false;
    value = static_cast<int64_t>(magnitude);
  }
  if (value < lo || value > hi) return false;
  out = value;
  return true;
}

std::string JsonValueText(const TJsonValue* v, const std::string& def) {
  if (!v) return def;
  // A number arrives here as its text. A lone surrogate escape ("\udc00") comes out of the
  // parser as bytes that are no UTF-8; they read as U+FFFD like any other malformed input.
  if (v->IsString()) return SanitizeUtf8(StringOf(*v));
  if (v->IsBool()) return v->GetBool() ? "true" : "false";
  return def;
}

int64_t JsonValueInt64(const TJsonValue* v, int64_t def) {
  if (!v) return def;
  if (v->IsBool()) return v->GetBool() ? 1 : 0;
  int64_t n = 0;
  if (v->IsString() && ParseWholeNumber(StringOf(*v), std::numeric_limits<int64_t>::min(),
                                        std::numeric_limits<int64_t>::max(), n))
    return n;
  return def;
}

int32_t JsonValueInteger(const TJsonValue* v, int32_t def) {
  if (!v) return def;
  if (v->IsBool()) return v->GetBool() ? 1 : 0;
  int64_t n = 0;
  if (v->IsString() && ParseWholeNumber(StringOf(*v), std::numeric_limits<int32_t>::min(),
                                        std::numeric_limits<int32_t>::max(), n))
    return static_cast<int32_t>(n);
  return def;
}

bool JsonValueBool(const TJsonValue* v, bool def) {
  if (!v) return def;
  if (v->IsBool()) return v->GetBool();
  if (!v->IsString()) return def;
  const std::string_view t = StringOf(*v);
  if (EqualsNoCase(t, "true")) return true;
  if (EqualsNoCase(t, "false")) return false;
  bool nonZero = false;
  return NumberTextNonZero(t, nonZero) ? nonZero : def;
}

std::string GetJsonText(const TJsonValue* obj, std::string_view name, const std::string& def) {
  return JsonValueText(FindJsonMember(obj, name), def);
}

int32_t GetJsonInteger(const TJsonValue* obj, std::string_view name, int32_t def) {
  return JsonValueInteger(FindJsonMember(obj, name), def);
}

int64_t GetJsonInt64(const TJsonValue* obj, std::string_view name, int64_t def) {
  return JsonValueInt64(FindJsonMember(obj, name), def);
}

bool GetJsonBool(const TJsonValue* obj, std::string_view name, bool def) {
  return JsonValueBool(FindJsonMember(obj, name), def);
}

const TJsonValue* GetJsonArray(const TJsonValue* obj, std::string_view name) {
  const TJsonValue* v = FindJsonMember(obj, name);
  return v && v->IsArray() ? v : nullptr;
}

std::string JsonQuote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
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
  out += '"';
  return out;
}

} // namespace hb
