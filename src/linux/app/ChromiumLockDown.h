#pragma once
// The kiosk's lock-down of the Chromium behind the display: what the page or a passer-by could
// otherwise open over the seat map (other windows, dialogs, downloads, permission prompts, file
// choosers, dropped files, other sites, history entries we never chose). The adapter hands this
// piece its connection, its page's session and every protocol event; it keeps to itself what is
// needed for that, so the adapter only calls in at a few places. Everything runs on the
// user-interface thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "DevToolsConnection.h"

namespace hb::lin {

// The document script of the lock-down: no new window from a link, a form or window.open, no
// dialog of the page's script, no print or file picker, nothing dropped from outside opens,
// Shift+Esc (the browser's task manager) does nothing, the page neither moves nor resizes the
// browser's window (an app window obeys, and the desktop would show around it), and it never
// takes the pointer away.
std::string LockDownScript();

// Preferences that deny what the page could ask the person at the screen for, merged into the
// profile's preferences document.
void AddLockDownPreferences(rapidjson::Document& doc);

class TChromiumLockDown {
 public:
  // Sends a set-up command on the page's session whose answer the window waits for.
  using TSetupProc = std::function<void(const std::string& method, const std::string& params)>;

  // A new browser: the browser-wide rules (downloads, permissions, holding new targets until we
  // have looked at them) go out first on its connection.
  void BrowserStarted(std::shared_ptr<TDevToolsConnection> conn);
  // The browser went: nothing of it is kept.
  void Forget();
  // Our page's session is attached: its lock-down goes out as set-up commands, and a page the
  // browser holds for us runs from then on.
  void PageAttached(const std::string& targetId, const std::string& session, TSetupProc setup);
  // Every document script of our page, so that frames of other sites get them too.
  void ScriptAdded(const std::string& script);
  // The program navigates its page: the address's origin is the one the page may stay in.
  void OwnNavigation(const std::string& url);
  // One of the program's navigations committed: the history holds nothing before it.
  void OwnDocumentCommitted();

  // Handles what belongs to the lock-down alone: other targets, frames of other sites, dialogs.
  // True when the adapter has nothing more to do with the event.
  bool OnEvent(const std::string& method, const std::string& session, const rapidjson::Value& p);
  // The filter's extra patterns (a JSON array's members, each followed by a comma).
  std::string FetchPatterns() const;
  // A main-frame document's request before it goes out: true when it was stopped (another site),
  // with the request failed as aborted, so that its navigation ends as cancelled.
  bool StopsDocument(const rapidjson::Value& p, const std::string& mainFrame);
  // The parameters of Fetch.continueResponse for a paused document response of the top-level
  // page (its headers with our permissions policy added), or "" when it goes on unchanged.
  std::string DocumentResponse(const rapidjson::Value& p, const std::string& mainFrame) const;

  // A target that is not the display's page: developer tools, a page other than own, or (while
  // own is not yet known) a page that cannot be the one we started with.
  static bool Foreign(const rapidjson::Value& targetInfo, const std::string& own);

  // A web message from a frame of another site (the page's menu request from inside it).
  std::function<void(const std::string& json)> OnWebMessage;

 private:
  void ChildAttached(const std::string& parent, const rapidjson::Value& p);
  void FrameSetup(const std::string& session);
  // The top-level page committed a document outside the cloud's origin that the request filter
  // never saw: back to the one before it.
  void LeaveForeignDocument(const rapidjson::Value& frame);
  // Back to the history entry before the current one.
  void GoBack();
  // One log line a minute at most for each kind of thing stopped.
  void LogThrottled(int kind, const std::string& text);
  // Closes every foreign target the browser has now.
  void CloseForeignTargets();
  void CloseTarget(const std::string& targetId);

  std::shared_ptr<TDevToolsConnection> FConn;
  std::string FTargetId;
  std::string FSession;
  std::string FOrigin;
  std::vector<std::string> FScripts;
  std::vector<std::string> FFrameSessions;
  uint64_t FLastLog[4] = {};
  bool FLeaving = false; // a foreign document is loading; back once it has
};

} // namespace hb::lin
