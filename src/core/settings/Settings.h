#pragma once
// hallBoard.ini beside the executable, its template, the per-user folder and the remembered map.
// The settings are read once at start; the program never writes them back.
#include <cstdint>
#include <string>
#include <string_view>

namespace hb {

struct TSettings {
  std::string Gateway;         // [Gateway] Address: host name or IP of the store gateway
  int32_t GatewayPort = 58001; // [Gateway] Port, 1..65535
  std::string MapWant;         // [Display] Map: name or id of the map to show
  int32_t Monitor = 1;         // [Display] Monitor, 1-based (range checked by the window)
  bool HideCursor = true;      // [Display] HideCursor, on unless 0
  std::string ServerOverride;  // [Advanced] ServerUrl, no trailing "/"
  std::string NetBarOverride;  // [Advanced] NetBarId
};

// Writes the template when no file exists at SettingsPath, then reads that file.
TSettings LoadSettings();
// Reads the settings from a file; a file that is missing, unreadable or larger than
// kMaxSettingsBytes reads as empty, so every key takes its default.
TSettings ReadSettingsFile(const std::string& path);
// The settings in a file's raw bytes.
TSettings ParseSettings(std::string_view bytes);

// No hand-edited settings file comes near this; anything larger is not one.
inline constexpr uint64_t kMaxSettingsBytes = 1024 * 1024;

std::string SettingsPath();  // executable folder + "hallBoard.ini"
std::string AppDataFolder(); // LOCALAPPDATA + "hallBoard", created (with parents) on every call
// Writes the settings template (UTF-8 with byte-order mark, CR LF), replacing any file there.
// Never fails towards the caller.
void WriteDefaultIni(const std::string& path);
// The template's exact bytes.
std::string DefaultIniText();

// The map id last chosen from the menu, or 0 when none is remembered (also when last-map.txt
// cannot be read or holds no number).
int32_t LoadLastMap();
// Remembers the map id; failures are silent (the choice is then not remembered).
void SaveLastMap(int32_t id);

} // namespace hb
