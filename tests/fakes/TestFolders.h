#pragma once
// Scratch folders and path comparison for tests that touch real files.
#include <chrono>
#include <filesystem>
#include <string>

#include "FileUtil.h"

namespace hb::test {

// Paths compare by their parts, so either separator may join them.
inline bool SamePath(const std::string& a, const std::string& b) {
  return PathFromUtf8(a) == PathFromUtf8(b);
}

// A fresh folder path per call, unique across runs and processes without any OS call.
inline std::string NewTestRoot(const char* prefix) {
  static int counter = 0;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return PathToUtf8(
      std::filesystem::temp_directory_path() /
      (std::string(prefix) + std::to_string(stamp) + "-" + std::to_string(++counter)));
}

} // namespace hb::test
