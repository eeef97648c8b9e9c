#include <gtest/gtest.h>

#include <map>
#include <random>

#include "Exception.h"
#include "SignatureTestKit.h"
#include "signature/ZipReader.h"
#include "signature/ZipWriter.h"

namespace hb {
namespace {

using test::ReadAll;
using test::TTempFolder;
using test::WriteAll;

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::string Compressible(size_t n) {
  std::string s;
  while (s.size() < n) s += "seat " + std::to_string(s.size() % 977) + " free\n";
  return s.substr(0, n);
}

// Every file entry of the archive, read through the stream in small uneven pieces and compared
// with ReadWhole, by name.
std::map<std::string, std::string> ReadEverything(const std::string& path) {
  std::string error;
  auto zip = TZipReader::Open(path, error);
  EXPECT_TRUE(zip) << error;
  std::map<std::string, std::string> out;
  if (!zip) return out;
  for (size_t i = 0; i < zip->Entries().size(); ++i) {
    const TZipEntry& e = zip->Entries()[i];
    if (!e.Name.empty() && e.Name.back() == '/') continue;
    std::string streamed;
    auto stream = zip->OpenStream(i);
    char buf[7777];
    for (size_t n; (n = stream->Read(buf, sizeof buf)) > 0;) streamed.append(buf, n);
    std::string whole;
    EXPECT_TRUE(zip->ReadWhole(i, UINT64_MAX, whole));
    EXPECT_EQ(whole, streamed) << e.Name;
    EXPECT_EQ(e.UncompressedSize, whole.size()) << e.Name;
    out[e.Name] = whole;
  }
  return out;
}

const std::map<std::string, std::string>& SampleFiles() {
  static const std::map<std::string, std::string> files = {
      {"hallBoard.exe", RandomBytes(300000, 1)},
      {"readme.txt", Compressible(2500000)},
      {"empty.dat", ""},
      {"web/地图.json", "{\"名称\":\"一楼\"}"},
      {"web/deep/x.txt", "x"},
  };
  return files;
}

TEST(ZipReader, ReadsOwnWriterInEveryMode) {
  TTempFolder tmp;
  struct {
    const char* Name;
    TZipWriteOptions Options;
  } modes[] = {
      {"deflate", {true, false, false}},
      {"stored", {false, false, false}},
      {"descriptor", {true, true, false}},
      {"zip64", {true, false, true}},
      {"zip64 descriptor stored", {false, true, true}},
  };
  for (auto& m : modes) {
    std::string path = tmp / (std::string(m.Name) + ".zip");
    TZipWriter w(path);
    w.AddFolder("web");
    for (auto& [name, content] : SampleFiles()) w.AddFile(name, content, m.Options);
    w.Finish();
    EXPECT_EQ(ReadEverything(path), SampleFiles()) << m.Name;
  }
}

// Archives written by other tools, made at run time from the same folder.
TEST(ZipReader, ReadsArchivesOfOtherTools) {
  TTempFolder tmp;
  std::string src = tmp / "src";
  for (auto& [name, content] : SampleFiles()) WriteAll(src + "/" + name, content);
  struct {
    const char* Tool;
    std::string Command;
  } tools[] = {
      {"zip", "cd '" + src + "' && zip -q -r ../info.zip ."},
      {"zip", "cd '" + src + "' && zip -q -r -0 ../info-stored.zip ."},
      {"7z", "cd '" + src + "' && 7z a -tzip -bd ../7z.zip . >/dev/null"},
      {"bsdtar", "cd '" + src + "' && bsdtar -a -cf ../bsdtar.zip *"},
      {"python3", "cd '" + src +
                      "' && python3 -c \"import zipfile,os\n"
                      "z=zipfile.ZipFile('../py.zip','w',zipfile.ZIP_DEFLATED)\n"
                      "for d,_,fs in os.walk('.'):\n"
                      "  for f in fs:\n"
                      "    p=os.path.join(d,f)[2:]\n"
                      "    with open(p,'rb') as i, z.open(p,'w',force_zip64=True) as o:"
                      " o.write(i.read())\n"
                      "z.close()\""},
  };
  for (auto& t : tools) {
    if (!test::ToolAvailable(t.Tool)) GTEST_SKIP() << t.Tool << " is not installed";
  }
  for (auto& t : tools) {
    ASSERT_EQ(std::system(t.Command.c_str()), 0) << t.Command;
  }
  for (const char* name : {"info.zip", "info-stored.zip", "7z.zip", "bsdtar.zip", "py.zip"})
    EXPECT_EQ(ReadEverything(tmp / name), SampleFiles()) << name;
}

// A two-entry stored archive whose layout is known byte by byte: local headers at 0 and 40,
// directory entries at 80 and 131, end record at 182.
std::string TwoEntryArchive(const TTempFolder& tmp) {
  TZipWriter w(tmp / "base.zip");
  TZipWriteOptions stored{false, false, false};
  w.AddFile("a.txt", "hello", stored);
  w.AddFile("b.txt", "world", stored);
  w.Finish();
  std::string bytes = ReadAll(tmp / "base.zip");
  EXPECT_EQ(bytes.size(), 204u);
  return bytes;
}

void Put(std::string& s, size_t pos, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) s[pos + i] = static_cast<char>(value >> (8 * i) & 0xff);
}

TEST(ZipReader, RefusesMalformedArchivesWithAReason) {
  TTempFolder tmp;
  const std::string base = TwoEntryArchive(tmp);
  auto patched = [&](size_t pos, uint64_t value, int width) {
    std::string s = base;
    Put(s, pos, value, width);
    return s;
  };
  struct {
    const char* Case;
    std::string Bytes;
    std::string Error;
  } cases[] = {
      {"empty file", "", "文件太短，不是 ZIP 包"},
      {"not a zip", std::string(500, 'x'), "找不到 ZIP 目录结尾记录"},
      {"end record cut off", base.substr(0, base.size() - 5), "找不到 ZIP 目录结尾记录"},
      {"comment longer than the file", patched(182 + 20, 50, 2), "找不到 ZIP 目录结尾记录"},
      {"front cut off", base.substr(40), "ZIP 目录超出文件范围"},
      {"directory offset past the end", patched(182 + 16, 5000, 4), "ZIP 目录超出文件范围"},
      {"directory size past the end", patched(182 + 12, 0x7fffffff, 4), "ZIP 目录超出文件范围"},
      {"absurd entry count", patched(182 + 8, 60000, 2) /* disk count too */, "不支持分卷 ZIP 包"},
      {"absurd entry count on one disk",
       [&] {
         std::string s = patched(182 + 8, 60000, 2);
         Put(s, 182 + 10, 60000, 2);
         return s;
       }(),
       "ZIP 目录条目数不合理"},
      {"second disk", patched(182 + 4, 1, 2), "不支持分卷 ZIP 包"},
      {"bad directory signature", patched(131, 0x12345678, 4), "ZIP 目录条目损坏（第 2 条）"},
      {"name runs past the directory", patched(131 + 28, 200, 2), "ZIP 目录条目损坏（第 2 条）"},
      {"header offset past the data", patched(131 + 42, 79, 4), "ZIP 条目超出文件范围：b.txt"},
      {"size past the directory", patched(131 + 20, 45, 4), "ZIP 条目大小不一致：b.txt"},
      {"stored size past the directory",
       [&] {
         std::string s = patched(131 + 20, 45, 4);
         Put(s, 131 + 24, 45, 4);
         return s;
       }(),
       "ZIP 条目超出文件范围：b.txt"},
      {"entries overlap", patched(131 + 42, 0, 4), "ZIP 条目相互重叠：b.txt"},
      {"local name differs", patched(40 + 30, 'c', 1), "ZIP 本地文件头损坏：b.txt"},
      {"local signature", patched(40, 0, 4), "ZIP 本地文件头损坏：b.txt"},
      {"unsupported method",
       [&] {
         std::string s = patched(131 + 10, 12, 2);
         Put(s, 40 + 8, 12, 2);
         return s;
       }(),
       "不支持的压缩方式 12：b.txt"},
      {"encrypted", patched(131 + 8, 0x0801, 2), "不支持加密的 ZIP 条目：b.txt"},
      {"name not UTF-8", patched(131 + 46, 0xff, 1), "ZIP 条目名不是 UTF-8 编码：\xEF\xBF\xBD.txt"},
  };
  for (auto& c : cases) {
    std::string path = tmp / "case.zip";
    WriteAll(path, c.Bytes);
    std::string error;
    auto zip = TZipReader::Open(path, error);
    EXPECT_FALSE(zip) << c.Case;
    EXPECT_EQ(error, c.Error) << c.Case;
  }
  std::string error;
  EXPECT_FALSE(TZipReader::Open(tmp / "missing.zip", error));
  EXPECT_EQ(error, "无法读取文件");
}

std::string Expect(TZipReader& zip, size_t index) {
  std::string out;
  try {
    zip.ReadWhole(index, UINT64_MAX, out);
  } catch (const Exception& e) {
    return e.what();
  }
  return "read";
}

TEST(ZipReader, DamagedContentRaisesWhileReading) {
  TTempFolder tmp;
  std::string content = Compressible(200000);
  TZipWriter w(tmp / "d.zip");
  w.AddFile("d.txt", content);
  w.Finish();
  const std::string base = ReadAll(tmp / "d.zip");
  std::string error;
  auto open = [&](const std::string& bytes) {
    WriteAll(tmp / "case.zip", bytes);
    auto zip = TZipReader::Open(tmp / "case.zip", error);
    EXPECT_TRUE(zip) << error;
    return zip;
  };
  const size_t data = 30 + 5;
  const size_t dir = base.size() - 22 - 46 - 5;
  {
    std::string s = base;
    for (size_t i = data + 100; i < data + 400; ++i) s[i] = static_cast<char>(0xff);
    EXPECT_EQ(Expect(*open(s), 0), "ZIP 条目压缩数据损坏：d.txt");
  }
  {
    std::string s = base;
    Put(s, dir + 16, 0x12345678, 4); // recorded CRC
    EXPECT_EQ(Expect(*open(s), 0), "ZIP 条目校验和不对：d.txt");
  }
  {
    std::string s = base;
    Put(s, dir + 24, content.size() - 1, 4); // recorded size one short
    EXPECT_EQ(Expect(*open(s), 0), "ZIP 条目内容比记录的长：d.txt");
    Put(s, dir + 24, content.size() + 1, 4);
    EXPECT_EQ(Expect(*open(s), 0), "ZIP 条目内容比记录的短：d.txt");
  }
  {
    // The deflate data cut short: the recorded compressed size no longer holds the end block.
    std::string s = base;
    uint64_t csize = static_cast<uint8_t>(s[dir + 20]) | static_cast<uint8_t>(s[dir + 21]) << 8 |
                     static_cast<uint8_t>(s[dir + 22]) << 16;
    Put(s, dir + 20, csize / 2, 4);
    EXPECT_EQ(Expect(*open(s), 0), "ZIP 条目压缩数据不完整：d.txt");
  }
}

TEST(ZipReader, ReadWholeHonoursItsCapAndLookupIgnoresAsciiCase) {
  TTempFolder tmp;
  TZipWriter w(tmp / "c.zip");
  w.AddFile("Update-Manifest.JSON", std::string(100, 'm'));
  w.AddFile("Ä.txt", "a");
  w.Finish();
  std::string error;
  auto zip = TZipReader::Open(tmp / "c.zip", error);
  ASSERT_TRUE(zip) << error;
  EXPECT_EQ(zip->FindIgnoringAsciiCase("update-manifest.json"), 0);
  EXPECT_EQ(zip->FindIgnoringAsciiCase("ä.txt"), -1); // only ASCII letters fold here
  EXPECT_EQ(zip->FindIgnoringAsciiCase("Ä.TXT"), 1);
  std::string out = "untouched";
  EXPECT_FALSE(zip->ReadWhole(0, 99, out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(zip->ReadWhole(0, 100, out));
  EXPECT_EQ(out.size(), 100u);
}

} // namespace
} // namespace hb
