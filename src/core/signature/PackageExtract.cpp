// Extraction of a verified package into a staging folder. Every name is checked again here, folder
// entries included (a hostile name is refused even where it would be ignored), so nothing can be
// created outside the staging folder whoever calls this.
#include <filesystem>
#include <fstream>

#include "Exception.h"
#include "FileUtil.h"
#include "signature/PackageNames.h"
#include "signature/ZipReader.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

constexpr size_t kCopyBuffer = 1048576;

bool IsDeviceName(std::string piece) {
  piece = piece.substr(0, piece.find('.'));
  for (char& c : piece)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (piece == "CON" || piece == "PRN" || piece == "AUX" || piece == "NUL" || piece == "CONIN$" ||
      piece == "CONOUT$")
    return true;
  return piece.size() == 4 && (piece.starts_with("COM") || piece.starts_with("LPT")) &&
         piece[3] >= '0' && piece[3] <= '9';
}

std::string ExtractEntries(TZipReader& zip, const std::string& stagingFolder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path root = PathFromUtf8(stagingFolder);
  fs::create_directories(root, ec);
  if (!fs::is_directory(root, ec)) return "无法创建文件夹：" + stagingFolder;

  std::vector<char> buffer(kCopyBuffer);
  for (size_t i = 0; i < zip.Entries().size(); ++i) {
    const TZipEntry& e = zip.Entries()[i];
    if (e.Name.empty()) continue;
    const bool folder = e.Name.back() == '/';
    const std::string name = folder ? e.Name.substr(0, e.Name.size() - 1) : e.Name;
    if (!IsSafeEntryName(name) || !IsPortableEntryName(name))
      return "更新包含不安全的路径：" + e.Name;
    // A folder entry is not in the signed file list, so it is not trusted to create anything:
    // folders come only as parents of listed files. Ignored rather than refused, because ZIP
    // tools write one for every folder they pack, and an empty folder has no use in a release.
    // (A folder named ".installed-version-code" would otherwise break every later install.)
    if (folder) continue;
    const fs::path target = root / PathFromUtf8(name);
    fs::create_directories(target.parent_path(), ec);
    if (!fs::is_directory(target.parent_path(), ec)) return "无法创建文件夹：" + e.Name;
    if (fs::exists(fs::symlink_status(target, ec))) return "更新包有重复的文件：" + e.Name;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return "无法写入文件：" + e.Name;
    auto stream = zip.OpenStream(i);
    uint64_t count = 0;
    for (size_t n; (n = stream->Read(buffer.data(), buffer.size())) > 0;) {
      count += n;
      if (count > e.UncompressedSize) return "更新包内容与目录不符：" + e.Name;
      out.write(buffer.data(), static_cast<std::streamsize>(n));
      if (!out) return "无法写入文件：" + e.Name;
    }
    out.close();
    if (!out) return "无法写入文件：" + e.Name;
    if (count != e.UncompressedSize) return "更新包内容与目录不符：" + e.Name;
  }
  return "";
}

} // namespace

bool IsPortableEntryName(const std::string& name) {
  size_t start = 0;
  for (;;) {
    size_t slash = name.find('/', start);
    std::string piece = name.substr(start, slash - start);
    if (piece.empty() || piece.back() == '.' || piece.back() == ' ' || IsDeviceName(piece))
      return false;
    for (char c : piece)
      if (static_cast<unsigned char>(c) < 32 ||
          std::string_view("<>\"|?*").find(c) != std::string_view::npos)
        return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::string ExtractUpdatePackage(const std::string& packagePath, const std::string& stagingFolder) {
  std::string error;
  std::unique_ptr<TZipReader> zip = TZipReader::Open(packagePath, error);
  if (!zip) return "更新包打不开：" + error;
  try {
    return ExtractEntries(*zip, stagingFolder);
  } catch (const Exception& e) {
    return e.what();
  } catch (const std::filesystem::filesystem_error& e) {
    return std::string("无法写入文件：") + e.what();
  }
}

} // namespace hb
