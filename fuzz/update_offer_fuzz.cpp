// The gateway's /getUpdate answer and its error pages are outside data: reading the offer, the
// safety rule and the log excerpt must never crash, an offer the rule accepts must keep every
// rule, and the excerpt must stay within its limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/uHallBoardUpdate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  hb::TUpdateOffer offer;
  if (hb::ParseUpdateOffer(body, offer)) {
    for (char c : offer.Sha256)
      if (c >= 'A' && c <= 'Z') std::abort();
    // An accepted offer keeps every rule, each written out here on its own: the exact path
    // prefix, 64 hexadecimal digits, and 1 to 300 MiB.
    if (hb::IsSafeOffer(offer)) {
      if (offer.DownloadPath.compare(0, 16, "/downloadUpdate?") != 0) std::abort();
      if (offer.Sha256.size() != 64 ||
          offer.Sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
        std::abort();
      if (offer.Size < 1 || offer.Size > 314572800) std::abort();
    }
  }
  std::string excerpt = hb::LogExcerpt(body, 200);
  // At most 200 characters of at most 4 bytes each, and never a line break.
  if (excerpt.size() > 800 || excerpt.find('\n') != std::string::npos) std::abort();
  // The request body must stay plain ASCII whatever version text it carries.
  for (char c : hb::BuildUpdateRequest(body, 2, 0, body))
    if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) std::abort();
  return 0;
}
