#include "ChromiumLaunch.h"
#include "NetErrorStatus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <rapidjson/document.h>

namespace hb::lin {
namespace {

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(ChromiumLaunch, ArgumentsPlaceAnAppWindowOverTheMonitorWithTheGivenSwitches) {
  TChromiumLaunch l;
  l.Executable = "/usr/lib/chromium/chromium";
  l.ProfileFolder = "/home/u/.local/share/hallBoard/Chromium/";
  l.Bounds = {1920, -40, 1280, 1024};
  l.AdditionalArgs = "--disable-background-timer-throttling  --disable-renderer-backgrounding "
                     "--autoplay-policy=no-user-gesture-required";
  auto a = ChromiumArguments(l);
  EXPECT_EQ(a.front(), l.Executable);
  for (const char* s :
       {"--remote-debugging-pipe", "--user-data-dir=/home/u/.local/share/hallBoard/Chromium/",
        "--lang=zh-CN", "--window-position=1920,-40", "--window-size=1280,1024",
        "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
        "--autoplay-policy=no-user-gesture-required", "--no-first-run", "--disable-pinch",
        "--disable-backgrounding-occluded-windows", "--overscroll-history-navigation=0"})
    EXPECT_TRUE(Has(a, s)) << s;
  EXPECT_FALSE(Has(a, ""));
  EXPECT_FALSE(Has(a, "--no-sandbox"));
  l.RunningAsRoot = true;
  EXPECT_TRUE(Has(ChromiumArguments(l), "--no-sandbox"));
}

TEST(ChromiumLaunch, ProfileFolderSitsBesideTheWebViewFolder) {
  EXPECT_EQ(ChromiumProfileFolder("/data/hallBoard/WebView2"), "/data/hallBoard/Chromium/");
  EXPECT_EQ(ChromiumProfileFolder("/data/hallBoard/WebView2/"), "/data/hallBoard/Chromium/");
  EXPECT_EQ(ChromiumProfileFolder("WebView2"), "Chromium/");
}

TEST(ChromiumLaunch, FindsTheBrowserNamedInTheEnvironmentOrNone) {
  setenv("HALLBOARD_CHROMIUM", "/bin/true", 1);
  EXPECT_EQ(FindChromium(), "/bin/true");
  setenv("HALLBOARD_CHROMIUM", "/nonexistent/chromium", 1);
  EXPECT_EQ(FindChromium(), "");
  unsetenv("HALLBOARD_CHROMIUM");
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(ChromiumLaunch, PreferencesAreMergedIntoWhatTheBrowserKeptAndReplaceADamagedFile) {
  auto dir = std::filesystem::temp_directory_path() /
             ("hb-prefs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "Default");
  std::string folder = dir.string() + "/";
  struct TCase {
    std::string Before;
    bool KeepsOther;
  };
  for (const TCase& c : {TCase{"{\"other\":{\"x\":1},\"profile\":{\"name\":\"P\"}}", true},
                         TCase{"{\"profile\": [1,", false}, TCase{"", false}}) {
    { std::ofstream(dir / "Default" / "Preferences", std::ios::binary) << c.Before; }
    ASSERT_TRUE(WriteLockDownPreferences(folder, "zh-CN"));
    rapidjson::Document d;
    d.Parse(ReadAll(dir / "Default" / "Preferences").c_str());
    ASSERT_TRUE(d.IsObject()) << c.Before;
    EXPECT_FALSE(d["credentials_enable_service"].GetBool());
    EXPECT_FALSE(d["profile"]["password_manager_enabled"].GetBool());
    EXPECT_FALSE(d["autofill"]["profile_enabled"].GetBool());
    EXPECT_STREQ(d["intl"]["accept_languages"].GetString(), "zh-CN,zh");
    // What the page could ask the person at the screen for is blocked before any rule is sent.
    for (const char* blocked : {"notifications", "geolocation", "media_stream_camera",
                                "media_stream_mic", "popups", "automatic_downloads", "clipboard"})
      EXPECT_EQ(d["profile"]["default_content_setting_values"][blocked].GetInt(), 2) << blocked;
    EXPECT_EQ(d.HasMember("other"), c.KeepsOther);
    if (c.KeepsOther) {
      EXPECT_STREQ(d["profile"]["name"].GetString(), "P");
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ChromiumLaunch, TheWindowAlwaysOpensOnTheDarkPageWhatEverAnEarlierStartKept) {
  auto dir = std::filesystem::temp_directory_path() /
             ("hb-start-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  // An earlier version kept the last map's address here and opened it before our lock-down.
  { std::ofstream(dir / "start-page") << "http://127.0.0.1:8080/seatmap/display?m=2"; }
  TChromiumLaunch l;
  l.ProfileFolder = dir.string() + "/";
  EXPECT_TRUE(Has(ChromiumArguments(l), std::string("--app=") + kStartPage));
  // The dark page carries no web address, only its own guard.
  EXPECT_EQ(std::string(kStartPage).rfind("data:text/html,", 0), 0u);
  std::filesystem::remove_all(dir);
}

TEST(ChromiumLaunch, TheKeptWindowIsReadBackOnlyAsAPlausibleScreenRectangle) {
  auto dir = std::filesystem::temp_directory_path() /
             ("hb-window-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(dir);
  const std::string folder = dir.string() + "/";
  TRect r{1, 2, 3, 4};
  EXPECT_FALSE(LoadStartWindow(folder, r)); // nothing kept yet, not even the folder
  ASSERT_TRUE(SaveStartWindow(folder, {-1920, 0, 1920, 1080}));
  ASSERT_TRUE(LoadStartWindow(folder, r));
  EXPECT_EQ(r, (TRect{-1920, 0, 1920, 1080}));
  struct TCase {
    const char* Kept;
    bool Read;
  };
  for (const TCase& c :
       {TCase{"0 0 1280 720", true}, TCase{" 0 0 1280 720\n", true}, TCase{"0 0 1280", false},
        TCase{"0 0 1280 720 5", false}, TCase{"0 0 0 720", false}, TCase{"0 0 1280 -720", false},
        TCase{"0 0 1280 100001", false}, TCase{"-100001 0 1280 720", false},
        TCase{"0 0 12x0 720", false}, TCase{"0 0 99999999999 720", false}, TCase{"", false}}) {
    { std::ofstream(dir / "start-window", std::ios::binary) << c.Kept; }
    TRect got{7, 7, 7, 7};
    EXPECT_EQ(LoadStartWindow(folder, got), c.Read) << c.Kept;
    if (!c.Read) {
      EXPECT_EQ(got, (TRect{7, 7, 7, 7})) << c.Kept; // left as it was
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(NetErrorStatus, ChromiumNamesMapOntoWebViewNumbers) {
  struct TCase {
    const char* Name;
    int32_t Status;
  };
  for (const TCase& c : {TCase{"net::ERR_CONNECTION_REFUSED", wsCannotConnect},
                         {"ERR_CONNECTION_REFUSED", wsCannotConnect},
                         {"net::ERR_NAME_NOT_RESOLVED", wsHostNameNotResolved},
                         {"net::ERR_CONNECTION_TIMED_OUT", wsTimeout},
                         {"net::ERR_CONNECTION_RESET", wsConnectionReset},
                         {"net::ERR_INTERNET_DISCONNECTED", wsDisconnected},
                         {"net::ERR_EMPTY_RESPONSE", wsErrorHttpInvalidServerResponse},
                         {"net::ERR_CERT_DATE_INVALID", wsCertificateExpired},
                         {"net::ERR_TOO_MANY_REDIRECTS", wsRedirectFailed},
                         {"net::ERR_ABORTED", wsOperationCanceled},
                         {"net::ERR_SOMETHING_NEW", wsUnknown},
                         {"", wsUnknown},
                         {"net::", wsUnknown}})
    EXPECT_EQ(WebErrorStatusOf(c.Name), c.Status) << c.Name;
}

TEST(NetErrorStatus, InterceptionReasonsMapLikeTheirNetErrors) {
  struct TCase {
    const char* Reason;
    int32_t Status;
  };
  for (auto c : {TCase{"ConnectionRefused", wsCannotConnect},
                 {"NameNotResolved", wsHostNameNotResolved},
                 {"TimedOut", wsTimeout},
                 {"ConnectionReset", wsConnectionReset},
                 {"AddressUnreachable", wsServerUnreachable},
                 {"InternetDisconnected", wsDisconnected},
                 {"Failed", wsUnexpectedError},
                 {"Aborted", wsOperationCanceled},
                 {"BlockedByClient", wsUnknown},
                 {"connection_refused", wsUnknown},
                 {"", wsUnknown}})
    EXPECT_EQ(WebErrorStatusOfReason(c.Reason), c.Status) << c.Reason;
}

} // namespace
} // namespace hb::lin
