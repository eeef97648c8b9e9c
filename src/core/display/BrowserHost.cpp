#include "display/BrowserHost.h"

#include <cctype>
#include <cstdio>

#include "FileUtil.h"
#include "display/PageScripts.h"

namespace hb {

TBrowserOptions DisplayBrowserOptions(const std::string& appDataFolder) {
  TBrowserOptions o;
  o.UserDataFolder = JoinPath(appDataFolder, "WebView2");
  o.Language = kBrowserLanguage;
  o.AdditionalArgs = kBrowserArgs;
  return o;
}

void LockDownBrowser(IBrowser& browser) {
  browser.SetSetting(TBrowserSetting::bsDefaultContextMenus, false);
  browser.SetSetting(TBrowserSetting::bsStatusBar, false);
  browser.SetSetting(TBrowserSetting::bsDevTools, false);
  browser.SetSetting(TBrowserSetting::bsZoomControl, false);
  browser.SetSetting(TBrowserSetting::bsWebMessages, true);
}

void HardenBrowser(IBrowser& browser) {
  try {
    if (!browser.HasWebView()) return;
    // Each switch belongs to a settings generation the runtime may not offer; a refused one is
    // simply skipped.
    browser.SetSetting(TBrowserSetting::bsAcceleratorKeys, false);
    browser.SetSetting(TBrowserSetting::bsPasswordAutosave, false);
    browser.SetSetting(TBrowserSetting::bsGeneralAutofill, false);
    browser.SetSetting(TBrowserSetting::bsPinchZoom, false);
    browser.SetSetting(TBrowserSetting::bsSwipeNavigation, false);
    browser.AddScriptOnDocumentCreated(kDragReloadScript);
  } catch (...) {
    // A kiosk page that keeps a browser feature is better than a window that fails to open.
  }
}

bool AddNavCompletedHandler(IBrowser& browser, std::function<void(const TNavCompleted&)> proc) {
  if (!browser.HasWebView()) return false;
  browser.OnNavigationCompleted = std::move(proc);
  return true;
}

std::string OriginOf(const std::string& url) {
  std::string lower = url;
  size_t schemeEnd = lower.find("://");
  if (schemeEnd == std::string::npos) return {};
  for (size_t i = 0; i < schemeEnd; ++i)
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
  const std::string scheme = lower.substr(0, schemeEnd);
  if (scheme != "http" && scheme != "https") return {};
  const size_t hostStart = schemeEnd + 3;
  size_t end = lower.find_first_of("/?#", hostStart);
  if (end == std::string::npos) end = lower.size();
  std::string authority = lower.substr(hostStart, end - hostStart);
  // Credentials never belong to the origin.
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  for (auto& c : authority) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The scheme's own port is left out, as the browser writes it.
  const std::string ownPort = scheme == "http" ? ":80" : ":443";
  if (authority.size() > ownPort.size() &&
      authority.compare(authority.size() - ownPort.size(), ownPort.size(), ownPort) == 0)
    authority.erase(authority.size() - ownPort.size());
  if (authority.empty()) return {};
  return scheme + "://" + authority;
}

std::string IdleResetText() {
  return "页面离开机位图 3 分钟无人操作，回到机位图";
}

std::string BrowserInitFailedText(int32_t result) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "WebView2 初始化失败 HRESULT=%X", static_cast<uint32_t>(result));
  return buf;
}

bool BrowserMissing(int32_t result, const std::string& missingFile) {
  return result == kRuntimeNotFound || !missingFile.empty();
}

std::string BrowserStartFailedWords(int32_t result) {
  // The codes the runtime's reference names for a creation that may succeed when tried again.
  switch (static_cast<uint32_t>(result)) {
  case 0x8007139Fu: // ERROR_INVALID_STATE
    return "浏览器的数据文件夹还被上一个浏览器进程占用，或者浏览器进程刚刚退出";
  case 0x800700AAu: // ERROR_BUSY
    return "浏览器的数据文件夹正被占用";
  case 0x80070070u: // ERROR_DISK_FULL
    return "磁盘已满，浏览器写不了它的数据文件夹";
  case 0x80070005u: // E_ACCESSDENIED
    return "浏览器没有权限使用它的数据文件夹";
  case 0x80004004u: // E_ABORT
    return "浏览器的启动被中止了";
  case 0x8000FFFFu: // E_UNEXPECTED
    return "浏览器启动时出了意外";
  case 0x800705B4u: // ERROR_TIMEOUT, our own creation deadline
    return "浏览器没有在 60 秒内启动";
  default:
    return "浏览器启动失败";
  }
}

std::string BrowserStartFailedText(int32_t result) {
  return BrowserInitFailedText(result) + " " + BrowserStartFailedWords(result);
}

std::string MissingFileAdvice(const std::string& file) {
  return "机位图程序的文件夹里缺少 " + file +
         "，请重新安装机位图（这个文件要和机位图程序放在同一个文件夹里），装好后重新打开。错误码 ";
}

std::string NavigationFailedText(int32_t webErrorStatus) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "打开机位图失败 WebErrorStatus=%d", webErrorStatus);
  return buf;
}

std::string HttpErrorText(int32_t httpStatus, bool pageOwn) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s返回 HTTP %d，稍后重新打开机位图",
                pageOwn ? "页面自己打开的网页" : "机位图页面", httpStatus);
  return buf;
}

std::string PageNavigationFailedText(int32_t webErrorStatus) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "页面自己打开的网页没有打开 WebErrorStatus=%d，稍后重新打开机位图",
                webErrorStatus);
  return buf;
}

std::string ProcessFailedText(int32_t kind) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "页面进程异常 Kind=%d", kind);
  return buf;
}

} // namespace hb
