#pragma once
// How the browser process is started: which executable, which switches, which profile
// preferences. Kept apart from the protocol so the choices can be read (and tested) in one place.
#include <string>
#include <vector>

#include "Geometry.h"

namespace hb::lin {

struct TChromiumLaunch {
  std::string Executable;    // full path; empty when no browser was found
  std::string ProfileFolder; // the user data folder, trailing '/'
  std::string Language = "zh-CN";
  std::string AdditionalArgs; // blank-separated switches, passed on as given
  std::string StartPage;      // the app window's first page; empty: kStartPage
  TRect Bounds;               // the monitor the window covers
  bool RunningAsRoot = false; // the sandbox refuses to start as root
};

// The browser executable: $HALLBOARD_CHROMIUM when set, else Debian's binary, else "chromium" or
// "chromium-browser" on PATH. Empty when none exists.
std::string FindChromium();

// The user data folder for the browser: the options' folder with its last component
// ("WebView2" on Windows) replaced by "Chromium", so both live under the per-user folder.
std::string ChromiumProfileFolder(const std::string& webViewFolder);

// The page the app window opens with: an empty dark page that ignores every key and click.
extern const char* const kStartPage;

// Where the last start placed the browser's window (the display monitor's bounds then), kept
// in the profile folder: with it the browser can start before the program opens the display,
// and is moved if the monitors say otherwise by the time it answers. Read back only as four
// integers of a plausible screen rectangle; false otherwise.
bool LoadStartWindow(const std::string& profileFolder, TRect& bounds);
bool SaveStartWindow(const std::string& profileFolder, const TRect& bounds);

// The full argument vector, executable first.
std::vector<std::string> ChromiumArguments(const TChromiumLaunch& launch);

// Preferences that lock the profile down (no password or autofill prompts, no translation bar, no
// "restore pages" bubble after a crash), merged into the profile's
// "Default/Preferences" file. Returns false when the file could not be written; the browser then
// runs with its defaults and the switches still apply.
bool WriteLockDownPreferences(const std::string& profileFolder, const std::string& language);

// Our own document script, added before the window's scripts: the bridge that turns
// window.chrome.webview.postMessage(x) into the binding call carrying JSON.stringify(x), and the
// key and wheel handling that WebView2 settings give on Windows (no zoom, no browser shortcuts,
// no developer tools).
constexpr const char* kBindingName = "__hbHostPost";
std::string BridgeScript();

} // namespace hb::lin
