// Answer headers are looked up the way HTTP compares names: without regard to ASCII case.
#include <algorithm>
#include <cctype>
#include <string>

#include "IHttpClient.h"

namespace hb {

std::string THttpResponse::Header(const std::string& name) const {
  auto same = [](const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (const auto& [n, v] : Headers)
    if (same(n, name)) return v;
  return {};
}

bool RateTooLow(int64_t bytes, int64_t elapsedMs, int64_t minBytesPerSecond) {
  // bytes / (elapsedMs / 1000) < minBytesPerSecond, without the division's rounding.
  return bytes < 0 || (bytes * 1000 < minBytesPerSecond * elapsedMs);
}

std::string TotalTimeoutText(int totalMs) {
  return "服务器应答超时（" + std::to_string(totalMs) + " 毫秒内没有收完）";
}

std::string SlowAnswerText(int64_t minBytesPerSecond, int windowMs) {
  return "服务器应答太慢（" + std::to_string(windowMs) + " 毫秒内平均每秒不到 " +
         std::to_string(minBytesPerSecond) + " 字节）";
}

} // namespace hb
