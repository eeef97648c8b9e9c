// ZIP reading over zlib. Every size and offset read from the archive is checked against the file
// before it is used, so a hostile archive costs at most its own size in work and a bounded amount
// of memory.
#include "signature/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "Exception.h"
#include "FileUtil.h"
#include "Utf8.h"

namespace hb {
namespace {

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kZip64EndSig = 0x06064b50;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kMaxComment = 65535;
// Far beyond any release, small enough that the entry table stays a few hundred MiB at worst.
constexpr uint64_t kMaxEntries = 1u << 20;
constexpr size_t kInputChunk = 256 * 1024;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16;
}
uint64_t U64(const uint8_t* p) {
  return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32;
}

// Reads the central directory sequentially through a bounded window, so its size never decides
// how much memory is taken.
class TDirectoryCursor {
 public:
  TDirectoryCursor(TZipReader& reader, uint64_t offset, uint64_t size)
      : FReader(reader), FPos(offset), FEnd(offset + size) {}
  uint64_t Left() const { return FEnd - FPos; }
  bool Take(size_t n, std::string& out) {
    if (n > Left()) return false;
    out.resize(n);
    if (n) FReader.ReadAt(FPos, out.data(), n);
    FPos += n;
    return true;
  }

 private:
  TZipReader& FReader;
  uint64_t FPos, FEnd;
};

// The fields that the ZIP64 extra field (id 1) may replace, in its order.
bool ApplyZip64Extra(const std::string& extra, uint64_t& usize, uint64_t& csize, uint64_t& offset) {
  size_t i = 0;
  while (i + 4 <= extra.size()) {
    auto p = reinterpret_cast<const uint8_t*>(extra.data()) + i;
    uint16_t id = U16(p), len = U16(p + 2);
    if (i + 4 + len > extra.size()) return false;
    if (id == 1) {
      const uint8_t* q = p + 4;
      size_t left = len;
      for (uint64_t* field : {&usize, &csize, &offset}) {
        if (*field != 0xffffffffu) continue;
        if (left < 8) return false;
        *field = U64(q);
        q += 8;
        left -= 8;
      }
      return true;
    }
    i += 4 + len;
  }
  return usize != 0xffffffffu && csize != 0xffffffffu && offset != 0xffffffffu;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Opening: end record, directory, local headers
// ---------------------------------------------------------------------------------------------

std::unique_ptr<TZipReader> TZipReader::Open(const std::string& path, std::string& error) {
  std::unique_ptr<TZipReader> reader(new TZipReader());
  try {
    error = reader->Load(path);
  } catch (const Exception& e) {
    error = e.what();
  }
  if (!error.empty()) return nullptr;
  return reader;
}

void TZipReader::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (offset > FSize || size > FSize - offset) throw Exception("读取超出 ZIP 文件范围");
  FFile.clear();
  FFile.seekg(static_cast<std::streamoff>(offset));
  FFile.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
  if (!FFile || static_cast<size_t>(FFile.gcount()) != size) throw Exception("读取 ZIP 文件失败");
}

std::string TZipReader::Load(const std::string& path) {
  std::error_code ec;
  auto fsPath = PathFromUtf8(path);
  FSize = std::filesystem::file_size(fsPath, ec);
  if (ec) return "无法读取文件";
  FFile.open(fsPath, std::ios::binary);
  if (!FFile) return "无法读取文件";
  if (FSize < kEndSize) return "文件太短，不是 ZIP 包";

  // The end record sits in the last 22 + 65535 bytes: search that window backwards for its
  // signature with a comment length that fits the bytes after it.
  size_t window = static_cast<size_t>(std::min<uint64_t>(FSize, kEndSize + kMaxComment));
  std::string tail(window, '\0');
  ReadAt(FSize - window, tail.data(), window);
  auto t = reinterpret_cast<const uint8_t*>(tail.data());
  size_t found = std::string::npos;
  for (size_t i = window - kEndSize + 1; i-- > 0;) {
    if (U32(t + i) == kEndSig && i + kEndSize + U16(t + i + 20) <= window) {
      found = i;
      break;
    }
  }
  if (found == std::string::npos) return "找不到 ZIP 目录结尾记录";
  const uint8_t* end = t + found;
  uint64_t endPos = FSize - window + found;
  uint64_t count = U16(end + 10), dirSize = U32(end + 12), dirOffset = U32(end + 16);
  if (U16(end + 4) != 0 || U16(end + 6) != 0 || U16(end + 8) != U16(end + 10))
    return "不支持分卷 ZIP 包";
  uint64_t dirLimit = endPos; // the directory must end before the record that describes it

  if (count == 0xffff || dirSize == 0xffffffffu || dirOffset == 0xffffffffu) {
    if (endPos < kZip64LocatorSize) return "ZIP64 目录结尾记录损坏";
    uint8_t loc[kZip64LocatorSize];
    ReadAt(endPos - kZip64LocatorSize, loc, sizeof loc);
    if (U32(loc) != kZip64LocatorSig) return "ZIP64 目录结尾记录损坏";
    uint64_t rec = U64(loc + 8);
    if (U32(loc + 4) != 0 || U32(loc + 16) > 1) return "不支持分卷 ZIP 包";
    if (rec > endPos - kZip64LocatorSize || endPos - kZip64LocatorSize - rec < kZip64EndSize)
      return "ZIP64 目录结尾记录损坏";
    uint8_t z[kZip64EndSize];
    ReadAt(rec, z, sizeof z);
    if (U32(z) != kZip64EndSig) return "ZIP64 目录结尾记录损坏";
    if (U32(z + 16) != 0 || U32(z + 20) != 0 || U64(z + 24) != U64(z + 32))
      return "不支持分卷 ZIP 包";
    count = U64(z + 32);
    dirSize = U64(z + 40);
    dirOffset = U64(z + 48);
    dirLimit = rec;
  }
  if (dirOffset > dirLimit || dirSize > dirLimit - dirOffset) return "ZIP 目录超出文件范围";
  if (count > kMaxEntries || count > dirSize / kCentralHeaderSize) return "ZIP 目录条目数不合理";
  FDirectoryOffset = dirOffset;
  std::string error = LoadDirectory(dirOffset, dirSize, count);
  return error.empty() ? CheckLayout() : error;
}

std::string TZipReader::LoadDirectory(uint64_t offset, uint64_t size, uint64_t count) {
  TDirectoryCursor cursor(*this, offset, size);
  FEntries.reserve(static_cast<size_t>(count));
  std::string fixed, name, extra, comment;
  for (uint64_t n = 0; n < count; ++n) {
    std::string where = "ZIP 目录条目损坏（第 " + std::to_string(n + 1) + " 条）";
    if (!cursor.Take(kCentralHeaderSize, fixed)) return where;
    auto h = reinterpret_cast<const uint8_t*>(fixed.data());
    if (U32(h) != kCentralHeaderSig) return where;
    uint16_t flags = U16(h + 8);
    TZipEntry e;
    e.Method = U16(h + 10);
    e.Crc = U32(h + 16);
    e.CompressedSize = U32(h + 20);
    e.UncompressedSize = U32(h + 24);
    e.HeaderOffset = U32(h + 42);
    if (!cursor.Take(U16(h + 28), name) || !cursor.Take(U16(h + 30), extra) ||
        !cursor.Take(U16(h + 32), comment))
      return where;
    if (U16(h + 34) != 0 && U16(h + 34) != 0xffff) return "不支持分卷 ZIP 包";
    if (!ApplyZip64Extra(extra, e.UncompressedSize, e.CompressedSize, e.HeaderOffset)) return where;
    // Bit 11 declares UTF-8; without it, tools on every platform we ship from still write
    // UTF-8, and anything else could not match a name in the file list anyway.
    if (!IsValidUtf8(name)) return "ZIP 条目名不是 UTF-8 编码：" + SanitizeUtf8(name);
    e.Name = name;
    if (flags & 0x41) return "不支持加密的 ZIP 条目：" + e.Name;
    if (e.Method != 0 && e.Method != 8)
      return "不支持的压缩方式 " + std::to_string(e.Method) + "：" + e.Name;
    if (e.Method == 0 && e.CompressedSize != e.UncompressedSize)
      return "ZIP 条目大小不一致：" + e.Name;
    FEntries.push_back(std::move(e));
  }
  return "";
}

// Each entry's local header must be where the directory says, name the same entry, and its data
// must lie before the directory without running into the next entry: overlapping entries are the
// trick by which a small archive inflates to many times its size.
std::string TZipReader::CheckLayout() {
  std::vector<size_t> order(FEntries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return FEntries[a].HeaderOffset < FEntries[b].HeaderOffset;
  });
  uint64_t previousEnd = 0;
  std::string name;
  for (size_t i : order) {
    TZipEntry& e = FEntries[i];
    if (e.HeaderOffset < previousEnd) return "ZIP 条目相互重叠：" + e.Name;
    if (e.HeaderOffset > FDirectoryOffset || FDirectoryOffset - e.HeaderOffset < kLocalHeaderSize)
      return "ZIP 条目超出文件范围：" + e.Name;
    uint8_t h[kLocalHeaderSize];
    ReadAt(e.HeaderOffset, h, sizeof h);
    uint64_t nameLen = U16(h + 26), extraLen = U16(h + 28);
    uint64_t dataStart = e.HeaderOffset + kLocalHeaderSize + nameLen + extraLen;
    if (U32(h) != kLocalHeaderSig || U16(h + 8) != e.Method || dataStart > FDirectoryOffset)
      return "ZIP 本地文件头损坏：" + e.Name;
    name.resize(nameLen);
    ReadAt(e.HeaderOffset + kLocalHeaderSize, name.data(), nameLen);
    if (name != e.Name) return "ZIP 本地文件头损坏：" + e.Name;
    if (e.CompressedSize > FDirectoryOffset - dataStart) return "ZIP 条目超出文件范围：" + e.Name;
    e.DataOffset = dataStart;
    previousEnd = dataStart + e.CompressedSize;
  }
  return "";
}

int TZipReader::FindIgnoringAsciiCase(const std::string& name) const {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const std::string& n = FEntries[i].Name;
    if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(),
                                              [&](char a, char b) { return lower(a) == lower(b); }))
      return static_cast<int>(i);
  }
  return -1;
}

bool TZipReader::ReadWhole(size_t index, uint64_t cap, std::string& out) {
  const TZipEntry& e = FEntries.at(index);
  if (e.UncompressedSize > cap) return false;
  std::string content(static_cast<size_t>(e.UncompressedSize), '\0');
  TZipEntryStream stream(*this, e);
  size_t got = 0;
  while (got < content.size()) {
    size_t n = stream.Read(content.data() + got, content.size() - got);
    if (n == 0) throw Exception("ZIP 条目内容比记录的短：" + e.Name);
    got += n;
  }
  char extra;
  if (stream.Read(&extra, 1) != 0) throw Exception("ZIP 条目内容比记录的长：" + e.Name);
  out = std::move(content);
  return true;
}

std::unique_ptr<TZipEntryStream> TZipReader::OpenStream(size_t index) {
  return std::make_unique<TZipEntryStream>(*this, FEntries.at(index));
}

// ---------------------------------------------------------------------------------------------
// Entry streams
// ---------------------------------------------------------------------------------------------

struct TZipEntryStream::TInflate {
  z_stream Z{};
  std::vector<uint8_t> Input = std::vector<uint8_t>(kInputChunk);
  bool Ready = false;
  ~TInflate() {
    if (Ready) inflateEnd(&Z);
  }
};

TZipEntryStream::TZipEntryStream(TZipReader& reader, const TZipEntry& entry)
    : FReader(reader), FEntry(entry), FInputLeft(entry.CompressedSize),
      FInputPos(entry.DataOffset) {
  if (entry.Method == 8) {
    FInflate = std::make_unique<TInflate>();
    if (inflateInit2(&FInflate->Z, -MAX_WBITS) != Z_OK) throw Exception("解压初始化失败");
    FInflate->Ready = true;
  }
}

TZipEntryStream::~TZipEntryStream() = default;

void TZipEntryStream::Finish() {
  FEnded = true;
  if (FProduced == FEntry.UncompressedSize && FCrc != FEntry.Crc)
    throw Exception("ZIP 条目校验和不对：" + FEntry.Name);
}

size_t TZipEntryStream::Read(void* buffer, size_t size) {
  if (FEnded || size == 0) return 0;
  auto out = static_cast<uint8_t*>(buffer);
  size_t produced = 0;
  bool done = false;
  if (!FInflate) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(size, FInputLeft));
    if (n) FReader.ReadAt(FInputPos, out, n);
    FInputPos += n;
    FInputLeft -= n;
    produced = n;
    done = FInputLeft == 0;
  } else {
    z_stream& z = FInflate->Z;
    z.next_out = out;
    z.avail_out = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    uInt wanted = z.avail_out;
    while (z.avail_out > 0 && !done) {
      if (z.avail_in == 0 && FInputLeft > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(FInflate->Input.size(), FInputLeft));
        FReader.ReadAt(FInputPos, FInflate->Input.data(), n);
        FInputPos += n;
        FInputLeft -= n;
        z.next_in = FInflate->Input.data();
        z.avail_in = static_cast<uInt>(n);
      }
      uInt before = z.avail_out;
      int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        // Bytes after the end of the deflate data would be hidden from every reader but us.
        if (z.avail_in != 0 || FInputLeft != 0)
          throw Exception("ZIP 条目压缩数据损坏：" + FEntry.Name);
        done = true;
      } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        throw Exception("ZIP 条目压缩数据损坏：" + FEntry.Name);
      } else if (z.avail_out == before && z.avail_in == 0 && FInputLeft == 0) {
        throw Exception("ZIP 条目压缩数据不完整：" + FEntry.Name);
      }
    }
    produced = wanted - z.avail_out;
  }
  FCrc = static_cast<uint32_t>(crc32_z(FCrc, out, produced));
  FProduced += produced;
  if (done) Finish();
  return produced;
}

} // namespace hb
