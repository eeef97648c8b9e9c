#pragma once
// Reading received JSON by the program's member rules, and writing JSON text.
//
// Members are found by exact name, the first of duplicate names counting; a missing member or
// null gives the caller's default, and so does a value that does not convert to the kind
// wanted. Numbers are kept as the text received (RapidJSON's numbers-as-strings parse), so a
// JSON number and a JSON string holding the same text read alike under every rule. Parsing is
// iterative: deeply nested input costs heap, never stack.
#include <cstdint>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

namespace hb {

using TJsonValue = rapidjson::Value;

// A parsed text. Text that is not valid JSON, or whose top value is not an object, has no
// members: Object() is then null, and every reader below gives its default for a null object.
class TJsonDocument {
 public:
  TJsonDocument() = default;
  TJsonDocument(TJsonDocument&&) = default;
  TJsonDocument& operator=(TJsonDocument&&) = default;

  bool Valid() const { return FValid; } // the whole text was one JSON value
  const TJsonValue* Root() const { return FValid ? &FDoc : nullptr; }
  const TJsonValue* Object() const { return FValid && FDoc.IsObject() ? &FDoc : nullptr; }

 private:
  friend TJsonDocument ParseJsonDocument(std::string_view text);
  rapidjson::Document FDoc;
  bool FValid = false;
};

// Parses text received from outside. It is read as UTF-8: a malformed sequence reads as U+FFFD,
// the way a lenient UTF-8 decoder would present it, so every string taken out is valid UTF-8.
TJsonDocument ParseJsonDocument(std::string_view text);

// The first member of that exact name, or null (also when obj is null or not an object).
const TJsonValue* FindJsonMember(const TJsonValue* obj, std::string_view name);

// One value converted by the rules; v may be null (then, like a JSON null, the default).
std::string JsonValueText(const TJsonValue* v, const std::string& def = {});
int64_t JsonValueInt64(const TJsonValue* v, int64_t def);
int32_t JsonValueInteger(const TJsonValue* v, int32_t def);
bool JsonValueBool(const TJsonValue* v, bool def);

// A member of obj read by the rules.
std::string GetJsonText(const TJsonValue* obj, std::string_view name, const std::string& def = {});
int32_t GetJsonInteger(const TJsonValue* obj, std::string_view name, int32_t def);
int64_t GetJsonInt64(const TJsonValue* obj, std::string_view name, int64_t def);
bool GetJsonBool(const TJsonValue* obj, std::string_view name, bool def);
// The member's array, or null when it is missing, null or anything but an array.
const TJsonValue* GetJsonArray(const TJsonValue* obj, std::string_view name);

// Converts number text the way the whole-number rule reads it: an optional sign, digits with an
// optional fraction and exponent, whose exact value is whole and within [lo, hi]. The value is
// worked out on the decimal digits, never through a double, so 9007199254740993 stays exact and
// 12.0 or 1.2e1 give 12.
bool ParseWholeNumber(std::string_view text, int64_t lo, int64_t hi, int64_t& out);

// A JSON string literal of text, quotes included, in plain ASCII: every character below U+0020
// or above U+007F as a \u escape (a UTF-16 pair beyond the basic plane), " and \ escaped; a
// malformed UTF-8 sequence is written as \ufffd.
std::string JsonQuote(std::string_view text);

} // namespace hb
