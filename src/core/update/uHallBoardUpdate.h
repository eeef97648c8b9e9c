#pragma once
// Self-update: the check, download, verification and staging, and the installer script.
#include <cstdint>
#include <string>

#include "IHttpClient.h"

namespace hb {

// One update attempt on the update thread: logs "UPDATE_CHECK", runs CheckForUpdate, logs and
// rethrows its error as "UPDATE_FAILED". True only when an installer has been started.
bool RunUpdateCheck(const std::string& gatewayBase, const std::string& versionText,
                    int64_t versionCode, const THttpClientFactory& newHttp);

} // namespace hb
