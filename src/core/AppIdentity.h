#pragma once
// Fixed identity values of the program.
#include <cstdint>

#include "AppVersion.h" // generated from the version set in CMakeLists.txt

namespace hb {

inline constexpr const char* kAppFolder = "hallBoard";          // per-user folder and log name
inline constexpr const char* kSingleInstanceId = "HallBoard";   // mutex and wake-up message
inline constexpr const char* kAppTitle = "机位图";
inline constexpr const char* kAppVersion = HALLBOARD_VERSION_TEXT;
inline constexpr int64_t kAppVersionCode = HALLBOARD_VERSION_CODE;
inline constexpr const char* kExceptionCode = "M900";
inline constexpr const char* kExceptionFriendlyText = "机位图程序遇到问题，请关闭后重新打开";
inline constexpr const char* kComponent = "HallBoard";          // update component name
// The program file a release must carry and the installer restarts.
#ifdef _WIN32
inline constexpr const char* kProgramFileName = "hallBoard.exe";
#else
inline constexpr const char* kProgramFileName = "hallBoard";
#endif

} // namespace hb
