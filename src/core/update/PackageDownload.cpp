// The package download: streamed from the gateway straight into a file, never held in memory,
// and hashed afterwards by reading the file back.
#include <cstdio>
#include <fstream>
#include <vector>

#include "Exception.h"
#include "FileUtil.h"
#include "Platform.h"
#include "uHallBoardUpdate.h"

namespace hb {

namespace {

// Writes the body to the file and refuses anything past the announced size, so a gateway that
// keeps sending cannot fill the disk.
class TPackageSink : public IHttpSink {
 public:
  TPackageSink(std::ofstream& out, int64_t limit) : FOut(out), FLimit(limit) {}
  bool Write(const void* data, size_t size) override {
    if (static_cast<uint64_t>(FWritten) + size > static_cast<uint64_t>(FLimit)) {
      Overran = true;
      return false;
    }
    FOut.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!FOut) {
      WriteFailed = true;
      return false;
    }
    FWritten += static_cast<int64_t>(size);
    return true;
  }
  bool Overran = false;
  bool WriteFailed = false;

 private:
  std::ofstream& FOut;
  int64_t FLimit;
  int64_t FWritten = 0;
};

} // namespace

TDownloadResult DownloadToFile(IHttpClient& http, const THttpRequest& request,
                               const std::string& path, int64_t maxBytes) {
  TDownloadResult result;
  std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!out) throw Exception("无法创建更新包文件：" + path);
  TPackageSink sink(out, maxBytes);
  result.Response = http.Send(request, &sink);
  out.close();
  result.Overran = sink.Overran;
  if (sink.WriteFailed || out.fail()) throw Exception("无法写入更新包文件：" + path);
  return result;
}

std::string FileSha256Hex(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw Exception("无法读取更新包文件：" + path);
  auto ctx = Hasher().Start(THashAlg::haSha256);
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    std::streamsize got = in.gcount();
    if (got > 0) ctx->Feed(buf.data(), static_cast<size_t>(got));
  }
  if (in.bad()) throw Exception("无法读取更新包文件：" + path);
  std::string hex;
  for (uint8_t b : ctx->Finish()) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

} // namespace hb
