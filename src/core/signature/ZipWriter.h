#pragma once
// A small ZIP writer for the release tool and the tests: stored or deflate entries written in one
// pass, CRC and sizes patched into the local header afterwards, ZIP64 records when sizes, offsets
// or the entry count need them. Throws Exception on any write failure.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace hb {

struct TZipWriteOptions {
  bool Deflate = true;         // falls back to stored when deflate does not make the entry smaller
  bool DataDescriptor = false; // also write a data descriptor after the data (flag bit 3)
  bool ForceZip64 = false;     // ZIP64 extra fields and end records even when small
};

class TZipWriter {
 public:
  explicit TZipWriter(const std::string& path);
  void AddFile(const std::string& name, const std::string& content, TZipWriteOptions options = {});
  // Streams the file at sourcePath into the archive without holding it whole.
  void AddFileFrom(const std::string& name, const std::string& sourcePath,
                   TZipWriteOptions options = {});
  void AddFolder(const std::string& name);
  void Finish();

 private:
  struct TSource;
  struct TRecord {
    std::string Name;
    uint16_t Method, Flags;
    uint32_t Crc;
    uint64_t CompressedSize, UncompressedSize, Offset;
    bool Zip64;
  };
  void Add(const std::string& name, TSource& source, TZipWriteOptions options);
  void Write(const void* data, size_t size);
  void WriteAt(uint64_t offset, const std::string& bytes);

  std::string FPath;
  std::ofstream FOut;
  uint64_t FPos = 0;
  std::vector<TRecord> FRecords;
  bool FForceZip64 = false;
  bool FFinished = false;
};

} // namespace hb
