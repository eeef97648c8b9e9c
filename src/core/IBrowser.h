#pragma once
// The embedded browser as the display window sees it. WebView2 on Windows, Chromium over the
// DevTools protocol on Linux, a recording fake in tests. Every call and event is on the
// user-interface thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hb {

// Fixed before creation.
struct TBrowserOptions {
  std::string UserDataFolder;   // AppDataFolder + "WebView2"
  std::string Language;         // "zh-CN"
  std::string AdditionalArgs;   // extra browser command-line switches
};

// Switches the window turns off or on once the browser exists. The first five are the basic
// settings; the rest belong to newer settings generations and may be missing.
enum class TBrowserSetting {
  bsDefaultContextMenus,
  bsStatusBar,
  bsDevTools,
  bsZoomControl,
  bsWebMessages,
  bsAcceleratorKeys,   // third generation
  bsPasswordAutosave,  // fourth
  bsGeneralAutofill,   // fourth
  bsPinchZoom,         // fifth
  bsSwipeNavigation,   // sixth
};

// Whose top-level navigation a completion belongs to. Only the program's latest Navigate decides
// what the window shows: a navigation that it replaced ends as cancelled, and one the page or the
// person at the screen started (a link, the page's reload or redirect, history) is the page's.
enum TNavSource : int32_t {
  nsOwn,      // the latest navigation the program asked for
  nsReplaced, // an earlier one of the program's, replaced before it finished
  nsPage,     // started by the page or by a person, not by the program
};

struct TNavCompleted {
  bool Success = false;
  int32_t WebErrorStatus = 0;  // WebView2's COREWEBVIEW2_WEB_ERROR_STATUS numbers
  int32_t HttpStatus = 0;      // 0 when no status is known
  uint64_t NavigationId = 0;
  TNavSource Source = nsOwn;   // the adapter matches completions to its Navigate calls by id
  // The document's address once committed (fragment included); empty when the adapter does not
  // know it. Tells the map's own page from another one the page led to.
  std::string Uri{};
};

// WebView2's COREWEBVIEW2_PROCESS_FAILED_KIND numbers.
enum TProcessFailedKind : int32_t {
  pfBrowserProcessExited = 0,
  pfRenderProcessExited = 1,
  pfRenderProcessUnresponsive = 2,
  pfFrameRenderProcessExited = 3, // a subframe's renderer; the top-level page lives on
};

// One intercepted resource request. Without Defer() the request continues to the network when
// the handler returns. After Defer() the browser waits until Complete() is called (exactly once,
// on the user-interface thread); a response set before Complete() answers the request, without
// one the request continues to the network.
class IResourceRequest {
public:
  virtual ~IResourceRequest() = default;
  virtual std::string Uri() = 0;
  virtual std::string Method() = 0;
  virtual bool HasHeader(const std::string& name) = 0;  // name compared without regard to case
  virtual bool Defer() = 0;                             // false when no deferral could be taken
  // headers: "Name: value" lines joined with CR LF, none after the last. False on failure.
  // The body is the adapter's from here on: callers hand it over with std::move (bodies are
  // large), and an adapter keeps no copy it does not need.
  virtual bool SetResponse(int status, const std::string& reason, const std::string& headers,
                           std::string body) = 0;
  virtual void Complete() = 0;
};

using TResourceRequestedProc = std::function<void(std::shared_ptr<IResourceRequest>)>;

class IBrowser {
public:
  virtual ~IBrowser() = default;

  // Starts creating the browser; the outcome arrives once through OnCreated (a negative
  // HRESULT-style code means failure). May be called again after pfBrowserProcessExited.
  virtual void Create(const TBrowserOptions& options) = 0;
  virtual bool HasWebView() const = 0;
  // Identity of the current web view, for "hooked at most once per web view"; null without one.
  virtual const void* WebViewIdentity() const = 0;
  // False when the switch is not offered or the call failed.
  virtual bool SetSetting(TBrowserSetting setting, bool on) = 0;
  // Runs script at the creation of every later document, in the order added. The browser
  // confirms each one later (see WhenConfigured).
  virtual void AddScriptOnDocumentCreated(const std::string& script) = 0;
  // Runs proc once, later and on the user-interface thread, when the browser has answered every
  // set-up request made so far on this web view: the document scripts (ours and the shell's own),
  // the page bridge and the page events. Until then a navigation could commit a document that
  // runs without them. Dropped when the web view goes before that.
  virtual void WhenConfigured(std::function<void()> proc) = 0;
  // True when Navigate may come before that moment: the browser then fetches the page at once
  // but lets no document commit until its set-up is answered, so the page still runs with it.
  // The first page's fetch then overlaps the set-up instead of following it.
  virtual bool NavigatesWhileConfiguring() const { return false; }
  virtual void Navigate(const std::string& url) = 0;
  // Resource interception for every resource kind; '*' is the wildcard. False on failure.
  virtual bool AddResourceFilter(const std::string& uriPattern) = 0;
  virtual bool SetResourceRequestedHandler(TResourceRequestedProc proc) = 0;
  // Gives the page the keyboard focus, so its keys work without a click first. A browser that
  // cannot do this leaves the focus where it is.
  virtual void MoveFocus() {}
  // After a failed creation: the file of the browser's own parts that was not there (the
  // WebView2 loader beside the program), so the cover can name it; empty for any other cause.
  virtual std::string MissingFile() const { return {}; }
  // The version of the browser runtime in use; empty when not known.
  virtual std::string BrowserVersion() const { return {}; }

  // Events, set by the window before Create.
  std::function<void(int32_t result)> OnCreated;
  std::function<void(const TNavCompleted&)> OnNavigationCompleted;
  std::function<void(const std::string& json)> OnWebMessage;  // the message in its JSON form
  std::function<void(int32_t kind)> OnProcessFailed;          // a TProcessFailedKind
  // A newer runtime has been installed (an update of the system's runtime); the browser uses it
  // only once it is created anew.
  std::function<void()> OnNewBrowserVersion;
};

} // namespace hb
