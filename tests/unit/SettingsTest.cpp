// hallBoard.ini: the reading rules as a table, the three encodings Notepad saves, hostile files,
// the template's exact bytes, and the remembered map.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#include "FakeSystem.h"
#include "FileUtil.h"
#include "Platform.h"
#include "TestFolders.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

using test::NewTestRoot;
using test::SamePath;
using namespace std::string_literals;

// The three characters of "机位图" in code page 936, and a decoder that knows just them: enough
// to show that a file which is no UTF-8 goes through the platform's GBK decoding.
constexpr const char* kGbkSeatMap = "\xBB\xFA\xCE\xBB\xCD\xBC";

class TGbkSystem : public test::TFakeSystem {
 public:
  int GbkCalls = 0;
  std::string DecodeGbk(const std::string& bytes) override {
    ++GbkCalls;
    static const std::pair<std::string, std::string> kPairs[] = {
        {"\xBB\xFA", "机"}, {"\xCE\xBB", "位"}, {"\xCD\xBC", "图"}};
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
      if (static_cast<unsigned char>(bytes[i]) < 0x80) {
        out += bytes[i++];
        continue;
      }
      std::string decoded = "\xEF\xBF\xBD";
      for (const auto& [gbk, utf8] : kPairs)
        if (bytes.compare(i, 2, gbk) == 0) decoded = utf8;
      out += decoded;
      i += 2;
    }
    return out;
  }
};

std::string Utf16Le(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

class SettingsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = NewTestRoot("hb-settings-");
    fs::remove_all(FRoot);
    fs::create_directories(FRoot + "/exe");
    FSys.Exe = FRoot + "/exe/";
    FSys.AppData = FRoot + "/appdata";
    InstallPlatform(&FSys, nullptr);
  }
  void TearDown() override {
    InstallPlatform(nullptr, nullptr);
    fs::remove_all(FRoot);
  }
  std::string FRoot;
  TGbkSystem FSys;
};

// What each key should read as; a field left at its value here means "the default".
struct TIniCase {
  const char* Name;
  std::string Text;
  TSettings Want;
};

TSettings With(void (*edit)(TSettings&)) {
  TSettings s;
  edit(s);
  return s;
}

void ExpectSettings(const TSettings& got, const TSettings& want) {
  EXPECT_EQ(got.Gateway, want.Gateway);
  EXPECT_EQ(got.GatewayPort, want.GatewayPort);
  EXPECT_EQ(got.MapWant, want.MapWant);
  EXPECT_EQ(got.Monitor, want.Monitor);
  EXPECT_EQ(got.HideCursor, want.HideCursor);
  EXPECT_EQ(got.ServerOverride, want.ServerOverride);
  EXPECT_EQ(got.NetBarOverride, want.NetBarOverride);
}

std::string PortFile(const std::string& value) {
  return "[Gateway]\r\nPort=" + value + "\r\n";
}
std::string HideFile(const std::string& value) {
  return "[Display]\r\nHideCursor=" + value + "\r\n";
}
TSettings Port(int32_t p) {
  TSettings s;
  s.GatewayPort = p;
  return s;
}

TEST_F(SettingsFixture, ReadingRules) {
  const TIniCase kCases[] = {
      {"empty file", "", {}},
      {"every key",
       "[Gateway]\r\nAddress= 192.168.1.10 \r\nPort=8080\r\n[Display]\r\nMap= 一楼 \r\n"
       "Monitor=2\r\nHideCursor=0\r\n[Advanced]\r\nServerUrl=  https://x.cn///  \r\n"
       "NetBarId= 10 01 \r\n",
       With([](TSettings& s) {
         s.Gateway = "192.168.1.10";
         s.GatewayPort = 8080;
         s.MapWant = "一楼";
         s.Monitor = 2;
         s.HideCursor = false;
         s.ServerOverride = "https://x.cn";
         s.NetBarOverride = "10 01";
       })},
      {"port 0", PortFile("0"), {}},
      {"port 70000", PortFile("70000"), {}},
      {"port -1", PortFile("-1"), {}},
      {"port letters", PortFile("abc"), {}},
      {"port with inner blank", PortFile("80 80"), {}},
      {"port with tail", PortFile("8080abc"), {}},
      {"port empty", PortFile(""), {}},
      {"port too wide", PortFile("99999999999999999999"), {}},
      {"port 1", PortFile("1"), Port(1)},
      {"port 65535", PortFile("65535"), Port(65535)},
      {"port 0x hex", PortFile("0x1F90"), Port(8080)},
      {"port 0X hex", PortFile("0X1f90"), Port(8080)},
      {"port $ hex", PortFile("$1F90"), Port(8080)},
      {"port bare 0x", PortFile("0x"), {}},
      {"port leading zeros", PortFile("008080"), Port(8080)},
      // The value is read from after the blanks that follow "=", for numbers as for texts.
      {"integers with blanks around =",
       "[Gateway]\r\nPort \t= \t8080\r\n[Display]\r\nMonitor = 2\r\nHideCursor =\t0\r\n",
       With([](TSettings& s) {
         s.GatewayPort = 8080;
         s.Monitor = 2;
         s.HideCursor = false;
       })},
      {"hide 2", HideFile("2"), {}},
      {"hide 0", HideFile("0"), With([](TSettings& s) { s.HideCursor = false; })},
      {"hide 0x0", HideFile("0x0"), With([](TSettings& s) { s.HideCursor = false; })},
      {"hide letters", HideFile("off"), {}},
      {"monitor letters", "[Display]\nMonitor=two\n", {}},
      {"monitor kept as written", "[Display]\nMonitor=-3\n",
       With([](TSettings& s) { s.Monitor = -3; })},
      {"names in other case", "[gateway]\naddress=h\nPORT=81\n[DISPLAY]\nmap=m\n",
       With([](TSettings& s) {
         s.Gateway = "h";
         s.GatewayPort = 81;
         s.MapWant = "m";
       })},
      {"repeated section: first counts",
       "[Gateway]\nAddress=a\n[Display]\n[GATEWAY]\nAddress=b\nPort=1\n",
       With([](TSettings& s) { s.Gateway = "a"; })},
      {"repeated key: first counts", "[Gateway]\nAddress=a\nAddress=b\n",
       With([](TSettings& s) { s.Gateway = "a"; })},
      {"lines before the first section", "Address=x\nPort=1\n[Gateway]\n", {}},
      {"comments", "[Gateway]\n;Address=x\n   ; Port=1\n", {}},
      {"line without =", "[Gateway]\nAddress\nPort 81\n", {}},
      {"value keeps later =", "[Advanced]\nServerUrl=https://x.cn/?a=b\n",
       With([](TSettings& s) { s.ServerOverride = "https://x.cn/?a=b"; })},
      {"blanks around = and names", "[ Gateway ]\n\t Address \t=\t h \t\n",
       With([](TSettings& s) { s.Gateway = "h"; })},
      {"LF and lone CR endings", "[Gateway]\rAddress=h\r\n[Display]\nMap=m", With([](TSettings& s) {
         s.Gateway = "h";
         s.MapWant = "m";
       })},
      {"unclosed bracket is no section", "[Display]\n[Gateway\nAddress=x\nMap=m\n",
       With([](TSettings& s) { s.MapWant = "m"; })},
      {"only slashes", "[Advanced]\nServerUrl=///\n", {}},
      {"other keys and sections", "[Gateway]\nHost=x\n[Other]\nAddress=y\n", {}},
      {"NUL bytes",
       "[Gateway]\0\r\nPort=80\0"
       "80\r\n\0Address=\0h\0\r\n"s,
       With([](TSettings& s) { s.Gateway = "h"; })},
  };
  for (const TIniCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    ExpectSettings(ParseSettings(c.Text), c.Want);
  }
}

TEST_F(SettingsFixture, NotepadEncodings) {
  const std::string ini = "[Display]\r\nMap=机位图\r\n";
  struct {
    const char* Name;
    std::string Bytes;
    bool ViaGbk;
  } kFiles[] = {
      {"UTF-8", ini, false},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + ini, false},
      {"UTF-16 LE", Utf16Le(u"[Display]\r\nMap=机位图\r\n"), false},
      {"GBK", "[Display]\r\nMap=" + std::string(kGbkSeatMap) + "\r\n", true},
  };
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.Name);
    FSys.GbkCalls = 0;
    EXPECT_EQ(ParseSettings(f.Bytes).MapWant, "机位图");
    EXPECT_EQ(FSys.GbkCalls, f.ViaGbk ? 1 : 0);
  }
  // After a UTF-8 mark a damaged byte stays one replacement character, not a GBK reading.
  FSys.GbkCalls = 0;
  EXPECT_EQ(ParseSettings("\xEF\xBB\xBF[Display]\nMap=a\xFF").MapWant, "a\xEF\xBF\xBD");
  EXPECT_EQ(FSys.GbkCalls, 0);
  // A UTF-16 file cut mid-character, or with a lone surrogate, still reads.
  EXPECT_EQ(ParseSettings(Utf16Le(u"[Display]\nMap=a\xD800") + "x").MapWant,
            "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST_F(SettingsFixture, WithoutAPlatformGbkFilesKeepTheirAscii) {
  InstallPlatform(nullptr, nullptr);
  EXPECT_EQ(ParseSettings("[Gateway]\nAddress=h\n; \xBB\xFA\n").Gateway, "h");
}

TEST_F(SettingsFixture, GarbageGivesDefaults) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(4096 + round * 997, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    const TSettings s = ParseSettings(bytes);
    EXPECT_GE(s.GatewayPort, 1);
    EXPECT_LE(s.GatewayPort, 65535);
  }
  // A very long line is read like any other, and the keys after it still count.
  const std::string longLine(600000, 'x');
  const TSettings s =
      ParseSettings("[Gateway]\n" + longLine + "\nPort=81\n" + "Address=" + longLine);
  EXPECT_EQ(s.GatewayPort, 81);
  EXPECT_EQ(s.Gateway, longLine);
}

// Defaults either way, but a file that is there and not read leaves one log line naming it;
// a missing one (the template could not be written) leaves none.
TEST_F(SettingsFixture, FilesTooLargeOrMissingReadAsEmpty) {
  ResetLogFolderTestForTests();
  const std::string path = FRoot + "/big.ini";
  ASSERT_TRUE(
      WriteFileBytes(path, "[Gateway]\nAddress=h\n; " + std::string(kMaxSettingsBytes, 'x')));
  auto logText = [&] { return ReadFileBytes(LogFilePath("hallBoard")).value_or(""); };
  auto logLines = [&] {
    const std::string text = logText();
    return std::count(text.begin(), text.end(), '\n');
  };
  ExpectSettings(ReadSettingsFile(path), {});
  EXPECT_NE(logText().find(" 设置文件读不出来或超过 1024 KB，按默认设置运行：" + path + "\r\n"),
            std::string::npos)
      << logText();
  EXPECT_EQ(logLines(), 1);
  ExpectSettings(ReadSettingsFile(FRoot + "/none.ini"), {});
  EXPECT_EQ(logLines(), 1);
  ExpectSettings(ReadSettingsFile(FRoot), {}); // a folder
  EXPECT_NE(logText().find("按默认设置运行：" + FRoot + "\r\n"), std::string::npos) << logText();
  ResetLogFolderTestForTests();
}

std::string ExpectedTemplate() {
  const char* const lines[] = {
      "; 机位图前台展示 hallBoard.exe 的设置（与 hallBoard.exe "
      "放在同一个文件夹），改完保存后重新打开 hallBoard.exe",
      "[Gateway]",
      "; 门店网关电脑（运行 StoreRelay 的那台）的局域网 IP，端口一般不用改",
      "Address=",
      "Port=58001",
      "",
      "[Display]",
      "; 留空 = 本店第一张启用的机位图；也可填机位图名称或编号。右键切换后会记住上次的选择",
      "Map=",
      "; 显示在第几块屏幕（1 = 主屏）",
      "Monitor=1",
      "; 鼠标 3 秒不动自动隐藏（1 开 / 0 关）",
      "HideCursor=1",
      "",
      "[Advanced]",
      "; 一般不用填：没有网关时可直接填云端地址与门店编号，例如 https://seatmap.example-cloud.cn "
      "与 1001",
      "ServerUrl=",
      "NetBarId=",
  };
  std::string text = "\xEF\xBB\xBF";
  for (const char* l : lines) text += std::string(l) + "\r\n";
  return text;
}

TEST_F(SettingsFixture, TemplateBytesExactly) {
  const std::string path = FRoot + "/t.ini";
  ASSERT_TRUE(WriteFileBytes(path, "old content that is longer than nothing"));
  WriteDefaultIni(path);
  EXPECT_EQ(ReadFileBytes(path).value_or(""), ExpectedTemplate());
  ExpectSettings(ReadSettingsFile(path), {});
  // Failures are dropped: no path, a missing folder, a folder in the way.
  WriteDefaultIni("");
  WriteDefaultIni(FRoot + "/missing/t.ini");
  WriteDefaultIni(FRoot);
  EXPECT_FALSE(FileExists(FRoot + "/missing/t.ini"));
}

TEST_F(SettingsFixture, LoadSettingsWritesTheTemplateOnlyWhenMissing) {
  EXPECT_TRUE(SamePath(SettingsPath(), FRoot + "/exe/hallBoard.ini"));
  ExpectSettings(LoadSettings(), {});
  EXPECT_EQ(ReadFileBytes(SettingsPath()).value_or(""), ExpectedTemplate());

  ASSERT_TRUE(WriteFileBytes(SettingsPath(), "[Gateway]\r\nAddress=10.0.0.2\r\n"));
  EXPECT_EQ(LoadSettings().Gateway, "10.0.0.2");
  EXPECT_EQ(ReadFileBytes(SettingsPath()).value_or(""), "[Gateway]\r\nAddress=10.0.0.2\r\n");

  // An executable folder that cannot hold files (it sits under a regular file): defaults.
  ASSERT_TRUE(WriteFileBytes(FRoot + "/plain", "x"));
  FSys.Exe = FRoot + "/plain/exe/";
  ExpectSettings(LoadSettings(), {});
}

TEST_F(SettingsFixture, RememberedMap) {
  EXPECT_TRUE(SamePath(AppDataFolder(), FRoot + "/appdata/hallBoard"));
  EXPECT_TRUE(fs::is_directory(FRoot + "/appdata/hallBoard"));
  const std::string path = FRoot + "/appdata/hallBoard/last-map.txt";
  EXPECT_EQ(LoadLastMap(), 0); // no file

  const struct {
    std::string Content;
    int32_t Want;
  } kFiles[] = {
      {"12", 12},
      {"12\r\n", 12},
      {" 12 \n", 12},
      {"-5", -5},
      {"0x10", 16},
      {"abc", 0},
      {"", 0},
      {"12a", 0},
      {"\xEF\xBB\xBF"
       "7",
       7},
      {"99999999999", 0},
  };
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.Content);
    ASSERT_TRUE(WriteFileBytes(path, f.Content));
    EXPECT_EQ(LoadLastMap(), f.Want);
  }

  for (int32_t id : {12, -3, INT32_MAX, INT32_MIN}) {
    SaveLastMap(id);
    EXPECT_EQ(ReadFileBytes(path).value_or(""), std::to_string(id));
    EXPECT_EQ(LoadLastMap(), id);
  }

  // Something that exists but is no readable file counts as no remembered map.
  fs::remove(path);
  fs::create_directories(path);
  EXPECT_EQ(LoadLastMap(), 0);
  SaveLastMap(5); // silently not remembered
  EXPECT_EQ(LoadLastMap(), 0);

  // A per-user folder that cannot be created: nothing is remembered, nothing fails.
  ASSERT_TRUE(WriteFileBytes(FRoot + "/plain", "x"));
  FSys.AppData = FRoot + "/plain";
  SaveLastMap(9);
  EXPECT_EQ(LoadLastMap(), 0);
}

} // namespace
} // namespace hb
