#pragma once
// The three commands of hallboard-pack. Each prints its own outcome and returns the exit code:
// 0 done, 1 the package is invalid or the work failed, 2 the arguments are wrong.
#include <cstdint>
#include <string>

namespace hb::pack {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Keygen(const std::string& outPath);
int Pack(const std::string& folder, const std::string& outPath, const std::string& component,
         const std::string& version, int64_t versionCode, const std::string& keyPath);
int Verify(const std::string& package, const std::string& component, int64_t versionCode,
           const std::string& keyLine);

} // namespace hb::pack
