// The JSON member rules: every kind wanted against every kind received, duplicates, bodies
// without members, hostile input, and the ASCII-only writer.
#include <gtest/gtest.h>

#include <string>

#include "Json.h"

namespace hb {
namespace {

// One received value (as JSON text) and what each reader makes of it. Readers are called with
// the defaults "DEF", -7 and both Boolean defaults, so a default is told apart from a value.
struct TRuleCase {
  const char* Json;
  const char* Text; // nullptr: the default
  bool IntOk;
  int32_t Int;
  bool Int64Ok;
  int64_t Int64;
  int Bool; // 1 true, 0 false, -1 the default
  bool IsArray;
};

constexpr int64_t kI64Max = INT64_MAX;
constexpr int64_t kI64Min = INT64_MIN;

const TRuleCase kRules[] = {
    // Strings and numbers with the same text read alike (numbers are kept as their text).
    {R"("abc")", "abc", false, 0, false, 0, -1, false},
    {"1001", "1001", true, 1001, true, 1001, 1, false},
    {R"("1001")", "1001", true, 1001, true, 1001, 1, false},
    {"12.0", "12.0", true, 12, true, 12, 1, false},
    {R"("12.0")", "12.0", true, 12, true, 12, 1, false},
    {"1.2e1", "1.2e1", true, 12, true, 12, 1, false},
    {"1200e-2", "1200e-2", true, 12, true, 12, 1, false},
    {"12.5", "12.5", false, 0, false, 0, 1, false},
    {R"("12.5")", "12.5", false, 0, false, 0, 1, false},
    {"1e-5", "1e-5", false, 0, false, 0, 1, false},
    {"0", "0", true, 0, true, 0, 0, false},
    {"-0.0", "-0.0", true, 0, true, 0, 0, false},
    {R"("0.000")", "0.000", true, 0, true, 0, 0, false},
    {"-3", "-3", true, -3, true, -3, 1, false},
    // A fraction alone is not zero: true, whether the integer part is 0 or absent.
    {"0.5", "0.5", false, 0, false, 0, 1, false},
    {R"("0.5")", "0.5", false, 0, false, 0, 1, false},
    {"-0.001", "-0.001", false, 0, false, 0, 1, false},
    {"0.5e-3", "0.5e-3", false, 0, false, 0, 1, false},
    {"0e7", "0e7", true, 0, true, 0, 0, false},
    // Range edges of both widths.
    {"2147483647", "2147483647", true, INT32_MAX, true, INT32_MAX, 1, false},
    {"2147483648", "2147483648", false, 0, true, 2147483648LL, 1, false},
    {"-2147483648", "-2147483648", true, INT32_MIN, true, INT32_MIN, 1, false},
    {"-2147483649", "-2147483649", false, 0, true, -2147483649LL, 1, false},
    {"9223372036854775807", "9223372036854775807", false, 0, true, kI64Max, 1, false},
    {"9223372036854775808", "9223372036854775808", false, 0, false, 0, 1, false},
    {"-9223372036854775808", "-9223372036854775808", false, 0, true, kI64Min, 1, false},
    {"9223372036854775807.0", "9223372036854775807.0", false, 0, true, kI64Max, 1, false},
    {"1e19", "1e19", false, 0, false, 0, 1, false},
    {"123456789012345678901234567890", "123456789012345678901234567890", false, 0, false, 0, 1,
     false},
    // Above 2^53: exact, never rounded through a double.
    {"9007199254740993", "9007199254740993", false, 0, true, 9007199254740993LL, 1, false},
    // Strings people type: a plus sign and leading zeros are numbers; blanks and hex are not.
    {R"("+5")", "+5", true, 5, true, 5, 1, false},
    {R"("007")", "007", true, 7, true, 7, 1, false},
    {R"(" 12")", " 12", false, 0, false, 0, -1, false},
    {R"("0x10")", "0x10", false, 0, false, 0, -1, false},
    {R"("12abc")", "12abc", false, 0, false, 0, -1, false},
    {R"("1e")", "1e", false, 0, false, 0, -1, false},
    {R"(".")", ".", false, 0, false, 0, -1, false},
    {R"("")", "", false, 0, false, 0, -1, false},
    // Booleans.
    {"true", "true", true, 1, true, 1, 1, false},
    {"false", "false", true, 0, true, 0, 0, false},
    {R"("TRUE")", "TRUE", false, 0, false, 0, 1, false},
    {R"("False")", "False", false, 0, false, 0, 0, false},
    {R"("yes")", "yes", false, 0, false, 0, -1, false},
    // Null, objects and arrays.
    {"null", nullptr, false, 0, false, 0, -1, false},
    {"{}", nullptr, false, 0, false, 0, -1, false},
    {R"({"v":1})", nullptr, false, 0, false, 0, -1, false},
    {"[]", nullptr, false, 0, false, 0, -1, true},
    {"[1,2]", nullptr, false, 0, false, 0, -1, true},
};

TEST(JsonRules, EveryKindWantedAgainstEveryKindReceived) {
  for (const TRuleCase& c : kRules) {
    SCOPED_TRACE(c.Json);
    const TJsonDocument doc = ParseJsonDocument(std::string(R"({"v":)") + c.Json + "}");
    const TJsonValue* obj = doc.Object();
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(GetJsonText(obj, "v", "DEF"), c.Text ? c.Text : "DEF");
    EXPECT_EQ(GetJsonInteger(obj, "v", -7), c.IntOk ? c.Int : -7);
    EXPECT_EQ(GetJsonInt64(obj, "v", -7), c.Int64Ok ? c.Int64 : -7);
    const bool whenFalse = GetJsonBool(obj, "v", false), whenTrue = GetJsonBool(obj, "v", true);
    if (c.Bool == -1) {
      EXPECT_FALSE(whenFalse);
      EXPECT_TRUE(whenTrue);
    } else {
      EXPECT_EQ(whenFalse, c.Bool == 1);
      EXPECT_EQ(whenTrue, c.Bool == 1);
    }
    EXPECT_EQ(GetJsonArray(obj, "v") != nullptr, c.IsArray);
  }
}

TEST(JsonRules, MissingMembersAndNullObjectsGiveDefaults) {
  const TJsonDocument doc = ParseJsonDocument(R"({"Name":"x"})");
  // Names match exactly: letter case counts, and a path is just an unknown name.
  EXPECT_EQ(GetJsonText(doc.Object(), "name", "DEF"), "DEF");
  EXPECT_EQ(GetJsonText(doc.Object(), "Name", "DEF"), "x");
  EXPECT_EQ(GetJsonText(doc.Object(), "Name.x", "DEF"), "DEF");
  EXPECT_EQ(GetJsonText(nullptr, "Name", "DEF"), "DEF");
  EXPECT_EQ(GetJsonInteger(nullptr, "Name", 3), 3);
  EXPECT_EQ(GetJsonInt64(nullptr, "Name", 4), 4);
  EXPECT_TRUE(GetJsonBool(nullptr, "Name", true));
  EXPECT_EQ(GetJsonArray(nullptr, "Name"), nullptr);
  // An element that is not an object has no members either.
  const TJsonDocument arr = ParseJsonDocument(R"({"a":[5,"x",null]})");
  const TJsonValue* a = GetJsonArray(arr.Object(), "a");
  ASSERT_NE(a, nullptr);
  for (const TJsonValue& e : a->GetArray()) EXPECT_EQ(GetJsonInteger(&e, "id", -1), -1);
}

TEST(JsonRules, FirstOfDuplicateNamesWinsEvenWhenNull) {
  const TJsonDocument doc = ParseJsonDocument(R"({"a":1,"a":2,"b":null,"b":"x"})");
  EXPECT_EQ(GetJsonInteger(doc.Object(), "a", 0), 1);
  EXPECT_EQ(GetJsonText(doc.Object(), "b", "DEF"), "DEF");
}

TEST(JsonRules, NamesWithEmbeddedNulAreExact) {
  const TJsonDocument doc = ParseJsonDocument(R"({"a\u0000b":1,"a":2})");
  EXPECT_EQ(GetJsonInteger(doc.Object(), "a", 0), 2);
  EXPECT_EQ(GetJsonInteger(doc.Object(), std::string_view("a\0b", 3), 0), 1);
}

TEST(JsonRules, BodiesThatAreNotObjectsHaveNoMembers) {
  const char* const kBodies[] = {
      "",
      "   ",
      "[1,2]",
      "\"x\"",
      "12",
      "null",
      "{",
      "{\"a\":1",
      "{} x",
      "{\"a\":1,}",
      "{'a':1}",
      "<html>",
      "{\"a\":NaN}",
      "{\"a\":01}",
      "\xEF\xBB\xBF",
      "\xEF\xBB\xBF[]",
      // RapidJSON refuses numbers beyond a double's range; such a body is not JSON to us.
      "{\"a\":1e400}",
  };
  for (const char* body : kBodies) {
    SCOPED_TRACE(body);
    const TJsonDocument doc = ParseJsonDocument(body);
    EXPECT_EQ(doc.Object(), nullptr);
    EXPECT_EQ(GetJsonText(doc.Object(), "a", "DEF"), "DEF");
  }
  EXPECT_TRUE(ParseJsonDocument("[1]").Valid());
  EXPECT_TRUE(ParseJsonDocument(" {} ").Object() != nullptr);
  EXPECT_EQ(GetJsonText(ParseJsonDocument("\xEF\xBB\xBF{\"a\":\"x\"}").Object(), "a"), "x");
}

TEST(JsonRules, MalformedUtf8ReadsAsReplacementCharacters) {
  const TJsonDocument doc = ParseJsonDocument("{\"store\":\"A\xFF\xC3\"}");
  ASSERT_NE(doc.Object(), nullptr);
  EXPECT_EQ(GetJsonText(doc.Object(), "store"), "A\xEF\xBF\xBD\xEF\xBF\xBD");
  // Escapes of lone surrogates are no characters either.
  const TJsonDocument lone = ParseJsonDocument(R"({"a":"x\udc00y","b":"\ud83d\ude00"})");
  EXPECT_EQ(GetJsonText(lone.Object(), "a"), "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDy");
  EXPECT_EQ(GetJsonText(lone.Object(), "b"), "\xF0\x9F\x98\x80");
  const TJsonDocument ok = ParseJsonDocument("{\"store\":\"网吧\"}");
  EXPECT_EQ(GetJsonText(ok.Object(), "store"), "网吧");
}

TEST(JsonRules, DeepNestingNeverRecurses) {
  // Far deeper than any stack could take if parsing or freeing recursed.
  const size_t depth = 500000;
  const std::string open(depth, '['), close(depth, ']');
  EXPECT_FALSE(ParseJsonDocument(open).Valid());
  const TJsonDocument doc = ParseJsonDocument("{\"maps\":" + open + close + ",\"store\":\"s\"}");
  ASSERT_NE(doc.Object(), nullptr);
  EXPECT_NE(GetJsonArray(doc.Object(), "maps"), nullptr);
  EXPECT_EQ(GetJsonText(doc.Object(), "store"), "s");
  std::string objects;
  for (size_t i = 0; i < depth; ++i) objects += "{\"a\":";
  EXPECT_FALSE(ParseJsonDocument(objects).Valid());
}

TEST(JsonQuote, EscapesEverythingOutsidePrintableAscii) {
  const struct {
    std::string In;
    const char* Out;
  } kCases[] = {
      {"", R"("")"},
      {"plain text 1.0", R"("plain text 1.0")"},
      {"a\"b\\c/", R"("a\"b\\c/")"},
      {"\n\t\r\x01\x1f", R"("\u000a\u0009\u000d\u0001\u001f")"},
      {std::string("\0", 1), R"("\u0000")"},
      {"\x7f", "\"\x7f\""},
      {"é", R"("\u00e9")"},
      {"机位图", R"("\u673a\u4f4d\u56fe")"},
      {"\xF0\x9F\x98\x80", R"("\ud83d\ude00")"}, // U+1F600 as a UTF-16 pair
      {"\xFF", R"("\ufffd")"},
      {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"}, // an encoded surrogate is not a character
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Out);
    EXPECT_EQ(JsonQuote(c.In), c.Out);
  }
}

TEST(JsonQuote, ReadsBackAsTheSameText) {
  const std::string texts[] = {"门店 1001", "tab\there", "\xF0\x9F\x98\x80 end", "q\"\\"};
  for (const std::string& t : texts) {
    const TJsonDocument doc = ParseJsonDocument("{\"k\":" + JsonQuote(t) + "}");
    EXPECT_EQ(GetJsonText(doc.Object(), "k", "DEF"), t);
  }
}

} // namespace
} // namespace hb
