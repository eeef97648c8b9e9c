#pragma once
// A strict ZIP reader over zlib for update packages: the central directory (found by a bounded
// backward search for its end record, ZIP64 records and extra fields understood), stored and
// deflate entries, data descriptors. Malformed archives are refused when opened, with a worded
// reason; damaged compressed data is found while reading and raises Exception. Nothing is read
// whole unless asked for with a cap.
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace hb {

struct TZipEntry {
  std::string Name;    // as stored, UTF-8
  uint16_t Method = 0; // 0 stored, 8 deflate
  uint32_t Crc = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0; // as recorded in the central directory
  uint64_t HeaderOffset = 0;     // of the local file header
  uint64_t DataOffset = 0;       // of the entry's (compressed) bytes
};

class TZipReader;

// Reads one entry's content, inflating as it goes. The content is not cut at the recorded size:
// a caller that must bound it counts the bytes itself. The CRC-32 is checked when the content ends
// with exactly the recorded size.
class TZipEntryStream {
 public:
  TZipEntryStream(TZipReader& reader, const TZipEntry& entry);
  ~TZipEntryStream();
  TZipEntryStream(const TZipEntryStream&) = delete;
  TZipEntryStream& operator=(const TZipEntryStream&) = delete;
  // Up to size bytes into buffer; 0 at the end. Throws Exception on damaged data.
  size_t Read(void* buffer, size_t size);

 private:
  void Finish();
  TZipReader& FReader;
  const TZipEntry& FEntry;
  uint64_t FInputLeft; // compressed bytes not yet read from the file
  uint64_t FInputPos;
  uint64_t FProduced = 0;
  uint32_t FCrc = 0;
  bool FEnded = false;
  struct TInflate;
  std::unique_ptr<TInflate> FInflate;
};

class TZipReader {
 public:
  // Opens the archive and checks its directory; nullptr with error set when it is not a ZIP
  // archive this reader accepts.
  static std::unique_ptr<TZipReader> Open(const std::string& path, std::string& error);

  const std::vector<TZipEntry>& Entries() const { return FEntries; }
  // Index of the first entry whose name equals name ignoring ASCII letter case; -1 when none.
  int FindIgnoringAsciiCase(const std::string& name) const;
  // The whole content when it is at most cap bytes; false (out untouched) when it is longer.
  // Throws Exception on damaged data or a content that differs from the recorded size.
  bool ReadWhole(size_t index, uint64_t cap, std::string& out);
  std::unique_ptr<TZipEntryStream> OpenStream(size_t index);

  // Reads exactly size bytes at offset; throws Exception when the file cannot give them.
  void ReadAt(uint64_t offset, void* buffer, size_t size);
  uint64_t FileSize() const { return FSize; }

 private:
  TZipReader() = default;
  std::string Load(const std::string& path);
  std::string LoadDirectory(uint64_t offset, uint64_t size, uint64_t count);
  std::string CheckLayout();

  std::ifstream FFile;
  uint64_t FSize = 0;
  uint64_t FDirectoryOffset = 0;
  std::vector<TZipEntry> FEntries;
};

} // namespace hb
