#pragma once
// The three commands of hallboard-pack. Each prints its own outcome and returns the exit code:
// 0 done, 1 the package is invalid or the work failed, 2 the arguments are wrong.
#include <cstdint>
#include <string>

namespace hb::pack {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The program file a release must carry at its top, unless --program names another (the Linux
// program's releases carry "hallBoard").
constexpr const char* kDefaultProgramFileName = "hallBoard.exe";

int Keygen(const std::string& outPath);
// Both say OK only for a package the program installs: signed and complete, with every name one
// that extraction takes.
int Pack(const std::string& folder, const std::string& outPath, const std::string& component,
         const std::string& version, int64_t versionCode, const std::string& keyPath,
         const std::string& programFileName = kDefaultProgramFileName);
int Verify(const std::string& package, const std::string& component, int64_t versionCode,
           const std::string& keyLine,
           const std::string& programFileName = kDefaultProgramFileName);

} // namespace hb::pack
