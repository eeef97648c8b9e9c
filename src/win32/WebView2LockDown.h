#pragma once
// The kiosk's lock-down of the WebView2 behind the display: the runtime's defaults would open
// what the page or a passer-by asks for (a popup window with an address bar, modal script
// dialogs, permission prompts whose "Allow" is kept, other sites in the display's view, files
// saved behind a download panel, a file dragged in opened in a window of its own). The
// adapter hands this piece its web view once; it keeps to itself what it needs for that. Every
// handler runs on the user-interface thread.
#include <cstdint>
#include <memory>
#include <string>

#include "WebView2Abi.h"

namespace hb::win {

// What the handlers share: the origin the page may stay in, and when each kind of thing stopped
// was last logged (one line a minute at most for each).
struct TWebView2LockState {
  std::string Origin;
  static constexpr int kLogKinds = 11;
  uint64_t LastLog[kLogKinds] = {};
  // The program navigates its page: the address's origin is the one the page may stay in.
  void OwnNavigation(const std::string& url);
  void LogThrottled(int kind, const std::string& text);
};

// Registers the handlers (new windows, script dialogs, permissions, navigations of the page and
// its frames, downloads, sign-in and client certificate prompts, launches of other programs, the
// save dialog, screen capture), switches the runtime's
// own script dialogs, error page and PDF save and print buttons off, and refuses files dragged in
// from outside (the controller's part). The web messages of the page's frames are handed to
// `messages`, the page's own handler. False when any of them could not be put in place; the rest
// still hold.
bool LockDownWebView(wv2::ICoreWebView2* webView, wv2::ICoreWebView2Controller* controller,
                     wv2::ICoreWebView2WebMessageReceivedEventHandler* messages,
                     std::shared_ptr<TWebView2LockState> state);

} // namespace hb::win
