#include "settings/Settings.h"

#include <filesystem>
#include <system_error>

#include "AppIdentity.h"
#include "FileUtil.h"
#include "Platform.h"
#include "settings/IniFile.h"
#include "shell/DiagnosticLog.h"

namespace hb {

namespace {

constexpr const char* kIniName = "hallBoard.ini";
constexpr const char* kLastMapName = "last-map.txt";
constexpr int32_t kDefaultPort = 58001;
// The example cloud address the template's last comment shows.
constexpr const char* kExampleCloud = "https://seatmap.example-cloud.cn";

const char* const kTemplateLines[] = {
    "; 机位图前台展示 hallBoard.exe 的设置（与 hallBoard.exe "
    "放在同一个文件夹），改完保存后重新打开 "
    "hallBoard.exe",
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
    nullptr, // the example line, put together below
    "ServerUrl=",
    "NetBarId=",
};

std::string LastMapPath() {
  return JoinPath(AppDataFolder(), kLastMapName);
}

} // namespace

TSettings ParseSettings(std::string_view bytes) {
  const TIniFile ini = TIniFile::FromBytes(bytes);
  TSettings s;
  s.Gateway = std::string(TrimBlanks(ini.ReadString("Gateway", "Address")));
  s.GatewayPort = ini.ReadInteger("Gateway", "Port", kDefaultPort);
  if (s.GatewayPort < 1 || s.GatewayPort > 65535) s.GatewayPort = kDefaultPort;
  s.MapWant = std::string(TrimBlanks(ini.ReadString("Display", "Map")));
  s.Monitor = ini.ReadInteger("Display", "Monitor", 1);
  s.HideCursor = ini.ReadInteger("Display", "HideCursor", 1) != 0;
  std::string server(TrimBlanks(ini.ReadString("Advanced", "ServerUrl")));
  while (!server.empty() && server.back() == '/') server.pop_back();
  s.ServerOverride = server;
  s.NetBarOverride = std::string(TrimBlanks(ini.ReadString("Advanced", "NetBarId")));
  return s;
}

TSettings ReadSettingsFile(const std::string& path) {
  try {
    // A missing or unreadable file, or one too large to be a settings file, reads as empty. A
    // file that is there but is not read says so in the log: the shop would otherwise see the
    // request for a gateway address with the address filled in, and nothing to explain it.
    std::optional<std::string> bytes = ReadFileBytes(path, kMaxSettingsBytes);
    std::error_code ec;
    if (!bytes && std::filesystem::exists(PathFromUtf8(path), ec))
      WriteLog("设置文件读不出来或超过 " + std::to_string(kMaxSettingsBytes / 1024) +
               " KB，按默认设置运行：" + path);
    return ParseSettings(bytes ? *bytes : std::string());
  } catch (...) {
    WriteLog("设置文件读不出来，按默认设置运行：" + path);
    return TSettings{};
  }
}

TSettings LoadSettings() {
  try {
    const std::string path = SettingsPath();
    std::error_code ec;
    if (!std::filesystem::exists(PathFromUtf8(path), ec)) WriteDefaultIni(path);
    return ReadSettingsFile(path);
  } catch (...) {
    return TSettings{};
  }
}

std::string SettingsPath() {
  return JoinPath(System().ExeFolder(), kIniName);
}

std::string AppDataFolder() {
  const std::string folder = JoinPath(System().LocalAppData(), kAppFolder);
  std::error_code ec;
  std::filesystem::create_directories(PathFromUtf8(folder), ec);
  return folder;
}

std::string DefaultIniText() {
  std::string text = "\xEF\xBB\xBF";
  for (const char* line : kTemplateLines) {
    if (line) {
      text += line;
    } else {
      text += std::string("; 一般不用填：没有网关时可直接填云端地址与门店编号，例如 ") +
              kExampleCloud + " 与 1001";
    }
    text += "\r\n";
  }
  return text;
}

void WriteDefaultIni(const std::string& path) {
  try {
    WriteFileBytes(path, DefaultIniText());
  } catch (...) {
  }
}

int32_t LoadLastMap() {
  try {
    const std::string path = LastMapPath();
    if (!FileExists(path)) return 0;
    // A locked or unreadable file, or one far too long for an id, is no remembered map.
    std::optional<std::string> bytes = ReadFileBytes(path, 4096);
    if (!bytes) return 0;
    std::string_view text = *bytes;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3); // saved by a hand editor
    int32_t id = 0;
    return ParseIniInteger(TrimBlanks(text), id) ? id : 0;
  } catch (...) {
    return 0;
  }
}

void SaveLastMap(int32_t id) {
  try {
    WriteFileBytes(LastMapPath(), std::to_string(id));
  } catch (...) {
  }
}

} // namespace hb
