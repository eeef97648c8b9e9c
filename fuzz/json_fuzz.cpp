// Gateway and cloud answers are outside data. Whatever arrives: parsing ends, every reader gives
// a value of its kind, texts are valid UTF-8 and survive the writer, the integer readers agree
// with each other, and query encoding leaves only safe characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Json.h"
#include "UrlEncode.h"
#include "Utf8.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckMember(const hb::TJsonValue* obj, std::string_view name) {
  const std::string text = hb::GetJsonText(obj, name, "\x01");
  Check(text == "\x01" || hb::IsValidUtf8(text));
  // The writer's output is plain ASCII and reads back as the same text.
  const std::string quoted = hb::JsonQuote(text);
  for (unsigned char c : quoted) Check(c >= 0x20 && c <= 0x7F);
  const hb::TJsonDocument back = hb::ParseJsonDocument("{\"k\":" + quoted + "}");
  Check(hb::GetJsonText(back.Object(), "k") == text);

  const int32_t i32 = hb::GetJsonInteger(obj, name, -1);
  const int64_t i64 = hb::GetJsonInt64(obj, name, -1);
  if (i32 != -1) Check(i64 == i32);
  const bool b1 = hb::GetJsonBool(obj, name, false), b2 = hb::GetJsonBool(obj, name, true);
  if (i64 != -1 && b1 == b2) Check(b1 == (i64 != 0));
  const hb::TJsonValue* arr = hb::GetJsonArray(obj, name);
  if (arr) {
    Check(arr->IsArray());
    for (const hb::TJsonValue& e : arr->GetArray()) {
      (void)hb::GetJsonInteger(&e, "id", 0);
      Check(hb::IsValidUtf8(hb::GetJsonText(&e, "name")));
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(data ? reinterpret_cast<const char*>(data) : "", data ? size : 0);
  const hb::TJsonDocument doc = hb::ParseJsonDocument(bytes);
  const hb::TJsonValue* obj = doc.Object();
  Check(!obj || obj->IsObject());
  if (obj) {
    for (auto it = obj->MemberBegin(); it != obj->MemberEnd(); ++it) {
      const std::string_view name(it->name.GetString(), it->name.GetStringLength());
      // The first member of a name is the one found.
      const hb::TJsonValue* found = hb::FindJsonMember(obj, name);
      Check(found != nullptr);
      CheckMember(obj, name);
    }
  }
  for (const char* name : {"NetBarId", "entry_url", "store", "maps", "id"}) CheckMember(obj, name);

  // The bytes as number text: the 32-bit and 64-bit readings agree.
  int64_t wide = 0, narrow = 0;
  if (hb::ParseWholeNumber(bytes, INT32_MIN, INT32_MAX, narrow))
    Check(hb::ParseWholeNumber(bytes, INT64_MIN, INT64_MAX, wide) && wide == narrow);

  const std::string encoded = hb::UrlEncode(bytes);
  for (char c : encoded)
    Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
          std::strchr("!$'()*-.@_+%", c) != nullptr);
  return 0;
}
