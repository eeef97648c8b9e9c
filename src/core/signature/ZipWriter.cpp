#include "signature/ZipWriter.h"

#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "Exception.h"
#include "FileUtil.h"

namespace hb {
namespace {

constexpr size_t kChunk = 1 << 20;

void Put16(std::string& s, uint64_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>(v >> 8 & 0xff);
}
void Put32(std::string& s, uint64_t v) {
  Put16(s, v & 0xffff);
  Put16(s, v >> 16 & 0xffff);
}
void Put64(std::string& s, uint64_t v) {
  Put32(s, v & 0xffffffffu);
  Put32(s, v >> 32);
}

} // namespace

// Bytes to store, from memory or from a file, readable twice (for the stored fallback).
struct TZipWriter::TSource {
  const std::string* Memory = nullptr;
  std::ifstream File;
  size_t Pos = 0;
  uint64_t Size = 0;
  void Rewind() {
    Pos = 0;
    if (!Memory) {
      File.clear();
      File.seekg(0);
    }
  }
  size_t Read(char* buf, size_t n) {
    if (Memory) {
      size_t k = std::min(n, Memory->size() - Pos);
      std::memcpy(buf, Memory->data() + Pos, k);
      Pos += k;
      return k;
    }
    File.read(buf, static_cast<std::streamsize>(n));
    if (File.bad()) throw Exception("读取文件失败");
    return static_cast<size_t>(File.gcount());
  }
};

TZipWriter::TZipWriter(const std::string& path) : FPath(path) {
  FOut.open(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!FOut) throw Exception("无法创建文件：" + path);
}

void TZipWriter::Write(const void* data, size_t size) {
  FOut.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!FOut) throw Exception("写入 ZIP 文件失败");
  FPos += size;
}

void TZipWriter::WriteAt(uint64_t offset, const std::string& bytes) {
  FOut.seekp(static_cast<std::streamoff>(offset));
  FOut.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FOut.seekp(static_cast<std::streamoff>(FPos));
  if (!FOut) throw Exception("写入 ZIP 文件失败");
}

void TZipWriter::AddFile(const std::string& name, const std::string& content,
                         TZipWriteOptions options) {
  TSource source;
  source.Memory = &content;
  source.Size = content.size();
  Add(name, source, options);
}

void TZipWriter::AddFileFrom(const std::string& name, const std::string& sourcePath,
                             TZipWriteOptions options) {
  TSource source;
  std::error_code ec;
  source.Size = std::filesystem::file_size(PathFromUtf8(sourcePath), ec);
  source.File.open(PathFromUtf8(sourcePath), std::ios::binary);
  if (ec || !source.File) throw Exception("无法读取文件：" + sourcePath);
  Add(name, source, options);
}

void TZipWriter::AddFolder(const std::string& name) {
  std::string empty;
  TZipWriteOptions stored;
  stored.Deflate = false;
  AddFile(name.empty() || name.back() == '/' ? name : name + "/", empty, stored);
}

void TZipWriter::Add(const std::string& name, TSource& source, TZipWriteOptions options) {
  if (name.size() > 0xffff) throw Exception("文件名太长：" + name);
  FForceZip64 |= options.ForceZip64;
  TRecord r{name, 0, 0x0800, 0, 0, 0, FPos, false};
  // Near 4 GiB the sizes may not fit the classic fields; decide before the header is written.
  r.Zip64 = options.ForceZip64 || source.Size >= 0xfff00000u;
  if (options.DataDescriptor) r.Flags |= 0x0008;

  std::string header;
  Put32(header, 0x04034b50);
  Put16(header, r.Zip64 ? 45 : 20);
  Put16(header, r.Flags);
  Put16(header, 0); // method, patched
  Put32(header, 0); // time and date: a fixed 1980-01-01 keeps packages reproducible
  Put32(header, 0); // crc, patched
  Put32(header, 0);
  Put32(header, 0);
  Put16(header, name.size());
  Put16(header, r.Zip64 ? 20 : 0);
  header += name;
  if (r.Zip64) {
    Put16(header, 1);
    Put16(header, 16);
    Put64(header, 0);
    Put64(header, 0);
  }
  Write(header.data(), header.size());
  uint64_t dataStart = FPos;

  std::vector<char> in(kChunk), out(kChunk);
  auto storeAll = [&] {
    source.Rewind();
    r.Method = 0;
    r.Crc = 0;
    r.UncompressedSize = 0;
    for (size_t n; (n = source.Read(in.data(), in.size())) > 0;) {
      r.Crc = static_cast<uint32_t>(crc32_z(r.Crc, reinterpret_cast<Bytef*>(in.data()), n));
      r.UncompressedSize += n;
      Write(in.data(), n);
    }
    r.CompressedSize = r.UncompressedSize;
  };
  if (options.Deflate && source.Size > 0) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
      throw Exception("压缩初始化失败");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);
    r.Method = 8;
    bool end = false;
    while (!end) {
      size_t n = source.Read(in.data(), in.size());
      r.Crc = static_cast<uint32_t>(crc32_z(r.Crc, reinterpret_cast<Bytef*>(in.data()), n));
      r.UncompressedSize += n;
      z.next_in = reinterpret_cast<Bytef*>(in.data());
      z.avail_in = static_cast<uInt>(n);
      int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
      do {
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        if (deflate(&z, flush) == Z_STREAM_END) end = true;
        Write(out.data(), out.size() - z.avail_out);
      } while (z.avail_out == 0);
    }
    r.CompressedSize = FPos - dataStart;
    if (r.CompressedSize >= r.UncompressedSize) {
      // Incompressible: rewrite the entry stored over the deflate output.
      FOut.seekp(static_cast<std::streamoff>(dataStart));
      FPos = dataStart;
      storeAll();
    }
  } else {
    storeAll();
  }
  if (!r.Zip64 && (r.UncompressedSize >= 0xffffffffu || r.CompressedSize >= 0xffffffffu))
    throw Exception("文件在打包时变大了：" + name);

  std::string patch;
  Put16(patch, r.Method);
  WriteAt(r.Offset + 8, patch);
  patch.clear();
  Put32(patch, r.Crc);
  Put32(patch, r.Zip64 ? 0xffffffffu : r.CompressedSize);
  Put32(patch, r.Zip64 ? 0xffffffffu : r.UncompressedSize);
  WriteAt(r.Offset + 14, patch);
  if (r.Zip64) {
    patch.clear();
    Put64(patch, r.UncompressedSize);
    Put64(patch, r.CompressedSize);
    WriteAt(r.Offset + 30 + name.size() + 4, patch);
  }
  if (options.DataDescriptor) {
    std::string d;
    Put32(d, 0x08074b50);
    Put32(d, r.Crc);
    if (r.Zip64) {
      Put64(d, r.CompressedSize);
      Put64(d, r.UncompressedSize);
    } else {
      Put32(d, r.CompressedSize);
      Put32(d, r.UncompressedSize);
    }
    Write(d.data(), d.size());
  }
  FRecords.push_back(r);
}

void TZipWriter::Finish() {
  if (FFinished) return;
  FFinished = true;
  uint64_t dirStart = FPos;
  std::string dir;
  for (const TRecord& r : FRecords) {
    bool big = r.Zip64 || r.Offset >= 0xffffffffu;
    dir.clear();
    Put32(dir, 0x02014b50);
    Put16(dir, 0x0300 | (big ? 45 : 20)); // made on Unix, so the permissions below are read
    Put16(dir, big ? 45 : 20);
    Put16(dir, r.Flags);
    Put16(dir, r.Method);
    Put32(dir, 0);
    Put32(dir, r.Crc);
    Put32(dir, big ? 0xffffffffu : r.CompressedSize);
    Put32(dir, big ? 0xffffffffu : r.UncompressedSize);
    Put16(dir, r.Name.size());
    Put16(dir, big ? 28 : 0);
    Put16(dir, 0);
    Put16(dir, 0);
    Put16(dir, 0);
    bool folder = !r.Name.empty() && r.Name.back() == '/';
    Put32(dir, (folder ? 040755u : 0100644u) << 16 | (folder ? 0x10 : 0));
    Put32(dir, big ? 0xffffffffu : r.Offset);
    dir += r.Name;
    if (big) {
      Put16(dir, 1);
      Put16(dir, 24);
      Put64(dir, r.UncompressedSize);
      Put64(dir, r.CompressedSize);
      Put64(dir, r.Offset);
    }
    Write(dir.data(), dir.size());
  }
  uint64_t dirSize = FPos - dirStart;
  uint64_t count = FRecords.size();
  bool zip64 = FForceZip64 || count >= 0xffff || dirStart >= 0xffffffffu;
  std::string end;
  if (zip64) {
    uint64_t recordPos = FPos;
    Put32(end, 0x06064b50);
    Put64(end, 44);
    Put16(end, 0x032d);
    Put16(end, 45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, count);
    Put64(end, count);
    Put64(end, dirSize);
    Put64(end, dirStart);
    Put32(end, 0x07064b50);
    Put32(end, 0);
    Put64(end, recordPos);
    Put32(end, 1);
  }
  Put32(end, 0x06054b50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, zip64 ? 0xffff : count);
  Put16(end, zip64 ? 0xffff : count);
  Put32(end, zip64 ? 0xffffffffu : dirSize);
  Put32(end, zip64 ? 0xffffffffu : dirStart);
  Put16(end, 0);
  Write(end.data(), end.size());
  FOut.close();
  if (!FOut) throw Exception("写入 ZIP 文件失败");
  // A stored fallback can leave deflate output past the real end; cut it off.
  std::error_code ec;
  std::filesystem::resize_file(PathFromUtf8(FPath), FPos, ec);
  if (ec) throw Exception("写入 ZIP 文件失败");
}

} // namespace hb
