// Placeholder until the update check is written; replaced by its real implementation.
#include "uHallBoardUpdate.h"

#include "Exception.h"

namespace hb {
bool RunUpdateCheck(const std::string&, const std::string&, int64_t, const THttpClientFactory&) {
  throw Exception("未实现");
}
} // namespace hb
