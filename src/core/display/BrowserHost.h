#pragma once
// The window's side of the embedded browser: its fixed options, the lock-down applied once it
// exists, the navigation-completed registration, and the texts of its failures.
#include <cstdint>
#include <functional>
#include <string>

#include "IBrowser.h"

namespace hb {

constexpr const char* kBrowserLanguage = "zh-CN";
// Browser switches. Microsoft's "WebView2 browser flags" page warns that production programs
// should not depend on them (Chromium may drop or change any switch), so each one here is kept
// only because neither runtime offers a setting or call for what it does; a switch the browser
// no longer knows is ignored, and the display then merely loses that help:
// - --disable-background-timer-throttling and --disable-renderer-backgrounding: the cover is a
//   window above the browser's, and while it shows (start-up, countdowns, a new runtime being
//   taken) the browser may count the page as hidden and slow its timers and renderer, so the
//   map would load late behind it. The only related call, the controller's IsVisible, is
//   already kept TRUE and says nothing about windows laid over the browser.
// - --autoplay-policy=no-user-gesture-required: seat-map media must play on a display nobody
//   clicks; WebView2 has no autoplay setting (only muting), and Chromium none but this switch.
// Everything that has a setting (context menus, developer tools, zoom, accelerator keys,
// autofill, pinch and swipe) is switched off through the settings, never through switches.
constexpr const char* kBrowserArgs = "--disable-background-timer-throttling "
                                     "--disable-renderer-backgrounding "
                                     "--autoplay-policy=no-user-gesture-required";

// Options with the data folder "WebView2" inside appDataFolder.
TBrowserOptions DisplayBrowserOptions(const std::string& appDataFolder);

// The basic switches: default context menus, status bar, developer tools and zoom control off,
// web messages on.
void LockDownBrowser(IBrowser& browser);
// The newer switches (accelerator keys, password autosave, general autofill, pinch zoom, swipe
// navigation) off where offered, then the drag-and-reload script. Does nothing without a web
// view; never throws.
void HardenBrowser(IBrowser& browser);
// Registers proc for the navigation-completed event; false (and nothing done) without a web view.
bool AddNavCompletedHandler(IBrowser& browser, std::function<void(const TNavCompleted&)> proc);

// Problem texts and cover texts of the browser's failures.
std::string BrowserInitFailedText(int32_t result); // "WebView2 初始化失败 HRESULT=%X"
// Only a runtime (or browser binary) that is not installed, or a loader missing beside the
// program, is "missing": the install advice fits it and no countdown could help. Every other
// failure (a data folder still held by an exiting browser, a full disk, a refused folder, a
// browser that died while starting) may pass, and is tried again on a countdown.
constexpr int32_t kRuntimeNotFound = static_cast<int32_t>(0x80070002u); // ERROR_FILE_NOT_FOUND
bool BrowserMissing(int32_t result, const std::string& missingFile);
// The M103 text of a failure that is not a missing runtime: the code, then plain words.
std::string BrowserStartFailedText(int32_t result);
// What such a failure means, in plain words, for the cover and the log.
std::string BrowserStartFailedWords(int32_t result);
constexpr const char* kBrowserStartFailedTitle = "浏览器没有启动";
// The creation deadline's own code: HRESULT_FROM_WIN32(ERROR_TIMEOUT).
constexpr int32_t kCreationTimedOut = static_cast<int32_t>(0x800705B4u);
constexpr const char* kMissingRuntimeTitle = "缺少 WebView2 运行库";
constexpr const char* kMissingRuntimeAdvice =
    "这台电脑需要先安装 Microsoft Edge WebView2 运行库（与收银端相同），装好后重新打开机位图。"
    "错误码 ";
// The advice when a file of the program's own is missing: installing the runtime would not help.
std::string MissingFileAdvice(const std::string& file);   // ends with "错误码 "
std::string NavigationFailedText(int32_t webErrorStatus); // "打开机位图失败 WebErrorStatus=%d"
constexpr const char* kCloudUnreachableTitle = "连不上云端";
constexpr const char* kCloudUnreachableDetail =
    "门店网关已连上，但打不开云端的机位图。请检查这台电脑能不能上网，稍后会自动重试。";
// Log lines of the quiet reloads: an HTTP error status of the map's page (or of a page the page
// opened itself), and a page's own navigation that failed.
std::string HttpErrorText(int32_t httpStatus, bool pageOwn);
std::string PageNavigationFailedText(int32_t webErrorStatus);
// WebView2's "operation cancelled": a navigation stopped on purpose, by us or by the page.
constexpr int32_t kNavigationCancelledStatus = 14;
std::string ProcessFailedText(int32_t kind); // "页面进程异常 Kind=%d"
constexpr const char* kPageCrashedTitle = "机位图页面出错了";
constexpr const char* kPageCrashedDetail = "浏览器页面意外退出，稍后会自动重新打开。";

// The web message, in its JSON form, that opens the menu.
constexpr const char* kMenuMessage = "\"menu\"";
// The web message of someone's input in the page (throttled by the page's script).
constexpr const char* kInputMessage = "\"input\"";
// How long another document than the map's page may stay without input before the map returns.
constexpr uint32_t kIdleResetMs = 180000;
std::string IdleResetText(); // the log line of a return to the map
// The origin of an address: scheme, host and port as browsers write them ("http://host:port",
// the port only when it is not the scheme's own), lower case; empty for anything but http and
// https. The page may not lead the display out of the cloud's.
std::string OriginOf(const std::string& url);

} // namespace hb
