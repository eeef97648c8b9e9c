// The ZIP reader on arbitrary bytes: opening must end in a reader or a worded error, and reading
// any entry in a reader or an Exception; never a crash, an over-read or a runaway allocation.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Exception.h"
#include "signature/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/hb-zip-fuzz-" + std::to_string(getpid()) + ".zip";
  // One scratch file per process, gone when the process ends.
  static const struct TScratch {
    ~TScratch() { std::remove(path.c_str()); }
  } scratch;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  std::string error;
  auto zip = hb::TZipReader::Open(path, error);
  if (!zip) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  std::vector<char> buffer(65536);
  for (size_t i = 0; i < zip->Entries().size(); ++i) {
    try {
      std::string whole;
      zip->ReadWhole(i, 1 << 20, whole);
    } catch (const hb::Exception&) {
    }
    try {
      // A small entry may inflate far past its record; read like the verifier, up to a bound.
      auto stream = zip->OpenStream(i);
      uint64_t total = 0;
      for (size_t n; (n = stream->Read(buffer.data(), buffer.size())) > 0;)
        if ((total += n) > (4u << 20)) break;
    } catch (const hb::Exception&) {
    }
  }
  return 0;
}
