#include "FileUtil.h"

#include <fstream>
#include <system_error>

namespace hb {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const fs::path& path) {
  std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  if (last == '/' || last == '\\') return folder + name;
  return folder + static_cast<char>(fs::path::preferred_separator) + name;
}

std::optional<std::string> ReadFileBytes(const std::string& path, uint64_t maxBytes) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string out;
  char buf[65536];
  while (in) {
    in.read(buf, sizeof buf);
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    if (out.size() + static_cast<uint64_t>(got) > maxBytes) return std::nullopt;
    out.append(buf, static_cast<size_t>(got));
  }
  if (in.bad()) return std::nullopt;
  return out;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  if (path.empty()) return false;
  try {
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
  } catch (...) {
    return false;
  }
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(PathFromUtf8(path), ec);
}

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove_all(PathFromUtf8(path), ec);
}

} // namespace hb
