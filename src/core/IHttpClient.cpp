// Answer headers are looked up the way HTTP compares names: without regard to ASCII case.
#include <algorithm>
#include <cctype>

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

} // namespace hb
