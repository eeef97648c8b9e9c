#include "ChromiumLaunch.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "ChromiumLockDown.h"
#include "FileUtil.h"

namespace hb::lin {

// Dark like our backdrop, and deaf: it has the keyboard before any of our scripts is in place,
// so its own script swallows every key, right-click, middle-click and drop (the browser's
// shortcuts, its menu and its developer tools stay shut).
const char* const kStartPage =
    "data:text/"
    "html,%3Chtml%20style%3D%22background%3A%23070D18%22%3E%3Cscript%3E%5B%22keydown%22%2C%"
    "22contextmenu%22%2C%22mousedown%22%2C%22auxclick%22%2C%22dragover%22%2C%22drop%22%5D.forEach%"
    "28function%28t%29%7BaddEventListener%28t%2Cfunction%28e%29%7Be.preventDefault%28%29%7D%2Ctrue%"
    "29%7D%29%3C%2Fscript%3E%3C%2Fhtml%3E";

namespace {
constexpr const char* kStartWindowFile = "start-window";
constexpr int kScreenMax = 100000; // beyond any desktop's coordinates

bool WriteAtomically(const std::string& folder, const char* name, const std::string& text) {
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) return false;
  const std::string path = folder + name;
  return g_file_set_contents(path.c_str(), text.data(), static_cast<gssize>(text.size()), nullptr);
}
} // namespace

bool LoadStartWindow(const std::string& profileFolder, TRect& bounds) {
  const auto text = ReadFileBytes(profileFolder + kStartWindowFile, 64);
  if (!text) return false;
  std::istringstream in(*text);
  TRect r;
  std::string rest;
  if (!(in >> r.Left >> r.Top >> r.Width >> r.Height) || (in >> rest)) return false;
  if (r.Width < 1 || r.Height < 1 || r.Width > kScreenMax || r.Height > kScreenMax ||
      r.Left < -kScreenMax || r.Left > kScreenMax || r.Top < -kScreenMax || r.Top > kScreenMax)
    return false;
  bounds = r;
  return true;
}

bool SaveStartWindow(const std::string& profileFolder, const TRect& bounds) {
  return WriteAtomically(profileFolder, kStartWindowFile,
                         std::to_string(bounds.Left) + " " + std::to_string(bounds.Top) + " " +
                             std::to_string(bounds.Width) + " " + std::to_string(bounds.Height));
}

std::string FindChromium() {
  if (const char* env = g_getenv("HALLBOARD_CHROMIUM"); env && *env)
    return g_file_test(env, G_FILE_TEST_IS_EXECUTABLE) ? std::string(env) : std::string();
  // Debian's /usr/bin/chromium is a shell wrapper; the binary itself starts faster and passes
  // the debugging pipes on without a shell in between.
  if (g_file_test("/usr/lib/chromium/chromium", G_FILE_TEST_IS_EXECUTABLE))
    return "/usr/lib/chromium/chromium";
  for (const char* name : {"chromium", "chromium-browser"}) {
    gchar* found = g_find_program_in_path(name);
    if (found) {
      std::string out = found;
      g_free(found);
      return out;
    }
  }
  return {};
}

std::string ChromiumProfileFolder(const std::string& webViewFolder) {
  std::string f = webViewFolder;
  while (!f.empty() && f.back() == '/') f.pop_back();
  size_t slash = f.find_last_of('/');
  std::string parent = slash == std::string::npos ? std::string() : f.substr(0, slash + 1);
  return parent + "Chromium/";
}

std::vector<std::string> ChromiumArguments(const TChromiumLaunch& l) {
  std::vector<std::string> a = {
      l.Executable,
      "--remote-debugging-pipe",
      "--user-data-dir=" + l.ProfileFolder,
      "--lang=" + l.Language,
      // An app window: no tabs, no address bar, no menu. Dark like our backdrop until the seat
      // map arrives.
      "--app=" + (l.StartPage.empty() ? std::string(kStartPage) : l.StartPage),
      "--window-position=" + std::to_string(l.Bounds.Left) + "," + std::to_string(l.Bounds.Top),
      "--window-size=" + std::to_string(l.Bounds.Width) + "," + std::to_string(l.Bounds.Height),
      // Nothing that asks the person in front of the display a question.
      "--no-first-run",
      "--no-default-browser-check",
      "--noerrdialogs",
      "--disable-infobars",
      "--hide-crash-restore-bubble",
      "--password-store=basic",
      "--disable-features=Translate,AutofillServerCommunication,MediaRouter,"
      "OptimizationHints,InterestFeedContentSuggestions,DesktopPWAsLinkCapturing,"
      "DownloadBubble,DownloadBubbleV2,GlobalMediaControls,HoverCard",
      // Nothing the page asks for reaches the person at the screen as a prompt, and no
      // extension's window or shelf exists.
      "--deny-permission-prompts",
      "--disable-extensions",
      // No traffic of its own: the display computer's line is for the seat map.
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-breakpad",
      "--disable-domain-reliability",
      // QUIC would bypass the gateway's view of what the page fetched and is often blocked in
      // shops; plain TCP behaves the same everywhere.
      "--disable-quic",
      // Display computers often have no working GPU driver; software rendering always works.
      "--disable-gpu",
      // The window lies under our cover while the seat map loads, and under the menu later.
      // Chromium takes a covered window for a hidden one and loads its page a few requests at a
      // time, so the first map would arrive late.
      "--disable-backgrounding-occluded-windows",
      // Touch screens: no pinch zoom, no swipe back/forward.
      "--disable-pinch",
      "--overscroll-history-navigation=0",
  };
  if (l.RunningAsRoot) {
    a.push_back("--no-sandbox");
    // Without it the browser puts a warning bar about the switch above the seat map.
    a.push_back("--test-type");
  }
  std::istringstream extra(l.AdditionalArgs);
  for (std::string s; extra >> s;) a.push_back(s);
  return a;
}

namespace {

using TDoc = rapidjson::Document;

rapidjson::Value& Child(rapidjson::Value& parent, const char* name, TDoc::AllocatorType& alloc) {
  auto it = parent.FindMember(name);
  if (it != parent.MemberEnd()) {
    if (!it->value.IsObject()) it->value.SetObject();
    return it->value;
  }
  parent.AddMember(rapidjson::Value(name, alloc), rapidjson::Value(rapidjson::kObjectType), alloc);
  return parent.FindMember(name)->value;
}

void Set(rapidjson::Value& parent, const char* name, rapidjson::Value value,
         TDoc::AllocatorType& alloc) {
  auto it = parent.FindMember(name);
  if (it != parent.MemberEnd())
    it->value = value;
  else
    parent.AddMember(rapidjson::Value(name, alloc), value, alloc);
}

} // namespace

bool WriteLockDownPreferences(const std::string& profileFolder, const std::string& language) {
  std::string dir = profileFolder + "Default";
  if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) return false;
  std::string path = dir + "/Preferences";
  TDoc doc;
  {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    doc.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
    // A damaged file is replaced: the browser would otherwise reset it and lose our settings.
    if (doc.HasParseError() || !doc.IsObject()) doc.SetObject();
  }
  auto& a = doc.GetAllocator();
  Set(doc, "credentials_enable_service", rapidjson::Value(false), a);
  auto& profile = Child(doc, "profile", a);
  Set(profile, "password_manager_enabled", rapidjson::Value(false), a);
  // The browser is stopped by closing its pipe or by the update; either way the next start
  // must not offer to restore pages.
  Set(profile, "exit_type", rapidjson::Value("Normal", a), a);
  Set(profile, "exited_cleanly", rapidjson::Value(true), a);
  auto& autofill = Child(doc, "autofill", a);
  Set(autofill, "profile_enabled", rapidjson::Value(false), a);
  Set(autofill, "credit_card_enabled", rapidjson::Value(false), a);
  Set(Child(doc, "translate", a), "enabled", rapidjson::Value(false), a);
  Set(Child(doc, "browser", a), "enable_spellchecking", rapidjson::Value(false), a);
  std::string langs = language.empty() ? std::string("zh-CN,zh") : language + ",zh";
  Set(Child(doc, "intl", a), "accept_languages", rapidjson::Value(langs.c_str(), a), a);
  AddLockDownPreferences(doc);
  // Developer tools stay allowed here: the preference that forbids them also forbids the
  // protocol this program drives the browser with. The keys that open them are swallowed by
  // the bridge script instead.

  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  doc.Accept(writer);
  std::string tmp = path + ".hb-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(buffer.GetString(), static_cast<std::streamsize>(buffer.GetSize()));
    if (!out) return false;
  }
  return g_rename(tmp.c_str(), path.c_str()) == 0;
}

std::string BridgeScript() {
  return std::string(R"JS((function(){
var B=")JS") +
         kBindingName + R"JS(";
var w=window.chrome||(window.chrome={});
if(!w.webview)w.webview={};
w.webview.postMessage=function(m){var p=window[B];if(typeof p!=="function")return;var s=JSON.stringify(m);p(s===undefined?"null":s);};
document.addEventListener("keydown",function(e){var k=(e.key||"").toLowerCase();var c=e.ctrlKey||e.metaKey;
if(k==="f12"||k==="f11"||k==="f7"||k==="f3"||(c&&e.shiftKey&&(k==="i"||k==="j"||k==="c"||k==="n"||k==="t"||k==="delete"))||
(c&&["+","=","-","_","0","n","t","w","p","s","o","u","f","g","h","j","d","l","e","k"].indexOf(k)>=0)||(e.altKey&&(k==="arrowleft"||k==="arrowright"||k==="home"))){e.preventDefault();}},true);
window.addEventListener("wheel",function(e){if(e.ctrlKey)e.preventDefault();},{capture:true,passive:false});
})();)JS";
}

} // namespace hb::lin
