// Gateway resolution against a scripted HTTP client: the entry_url reduction, every row of the
// failure table with its texts and log lines, hand-given values, and hostile answers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "Exception.h"
#include "FakeHttpClient.h"
#include "FakeSystem.h"
#include "FileUtil.h"
#include "Platform.h"
#include "TestFolders.h"
#include "gateway/GatewayResolve.h"
#include "shell/DiagnosticLog.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

using test::NewTestRoot;
using test::TFakeHttpClient;

TEST(ReduceEntryUrl, KeepsSchemeHostAndANonDefaultPort) {
  const struct {
    const char* In;
    const char* Out;
  } kCases[] = {
      {"https://cloud.example.cn", "https://cloud.example.cn"},
      {"https://cloud.example.cn:8443/x?y=1", "https://cloud.example.cn:8443"},
      {"https://cloud.example.cn:443/x", "https://cloud.example.cn"},
      {"http://h:80/", "http://h"},
      {"http://h:443", "http://h:443"},
      {"https://h:80", "https://h:80"},
      {"HTTPS://Host.CN/Path", "https://Host.CN"},
      {"  https://h/a \t", "https://h"},
      {"https://user:pw@h:8443/", "https://h:8443"},
      {"http://[::1]:8080/x", "http://[::1]:8080"},
      {"http://[::1]/x", "http://[::1]"},
      {"https://h:0/", "https://h"},
      {"https://h:/", "https://h"},
      {"https://h#frag", "https://h"},
      {"https://h?q=1", "https://h"},
      {"http://127.0.0.1:18080", "http://127.0.0.1:18080"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(ReduceEntryUrl(c.In), c.Out);
  }
}

TEST(ReduceEntryUrl, RefusesWhatIsNoFullUrl) {
  const char* const kBad[] = {
      "cloud.example.cn",
      "",
      "   ",
      "://h",
      "https://",
      "https:///x",
      "https://h:abc",
      "https://h:70000",
      "https://a b",
      "1http://h",
      "https://[::1",
      "htt p://h",
      "https://h\x01/",
      "ftp://h:21",
      "chrome://settings",
      "file:///C:/x",
      "javascript://%0aalert(1)",
      "data://text/html,x",
  };
  for (const char* url : kBad) {
    SCOPED_TRACE(url);
    EXPECT_THROW(ReduceEntryUrl(url), Exception);
  }
}

TEST(NoGateway, Texts) {
  EXPECT_EQ(NoGatewayTitle(), "还没有填写网关地址");
  EXPECT_EQ(NoGatewayDetail("C:\\机位图\\hallBoard.ini"),
            "请用记事本打开 C:\\机位图\\hallBoard.ini，在 Address= 后面填门店网关电脑的 IP（例如 "
            "192.168.1.10），保存后重新打开机位图。");
}

constexpr const char* kEntryUrl = "http://10.0.0.2:58001/entry";
constexpr const char* kListUrl = "https://c.cn:8443/seatmap/display/list?NetBarId=1001";
constexpr const char* kNoCloud = "门店网关没有给出云端地址";
constexpr const char* kNoGateway = "连不上门店网关";
constexpr const char* kGoodEntry = R"({"NetBarId":1001,"entry_url":"https://c.cn:8443/p?x=1"})";
constexpr const char* kGoodList =
    R"({"store":"一号店","maps":[{"id":"12","name":"大厅"},{"id":3},{"name":"包间"}]})";

class ResolveFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    FRoot = NewTestRoot("hb-resolve-");
    fs::remove_all(FRoot);
    fs::create_directories(FRoot + "/exe");
    FSys.Exe = FRoot + "/exe/";
    FSys.AppData = FRoot + "/appdata";
    InstallPlatform(&FSys, nullptr);
    ResetLogFolderTestForTests();
    FIn.Gateway = "10.0.0.2";
    FIn.Port = 58001;
  }
  void TearDown() override {
    ResetLogFolderTestForTests();
    InstallPlatform(nullptr, nullptr);
    fs::remove_all(FRoot);
  }
  // The log's lines without their time of day.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(LogFilePath("hallBoard")).value_or(""));
    for (std::string l; std::getline(in, l);) lines.push_back(l.substr(9, l.size() - 10));
    return lines;
  }
  std::string GatewayDetail() const {
    return "打不开 10.0.0.2:58001。请确认网关电脑已开机、StoreRelay 在运行，并核对 hallBoard.ini "
           "里的网关地址。";
  }
  std::string NoCloudDetail() const {
    return "网关 10.0.0.2:58001 已连上，但没有返回门店编号或云端地址。请在网关电脑上核对 "
           "StoreRelay.ini 的 NetBarId 与 ServerUrl。";
  }

  std::string FRoot;
  test::TFakeSystem FSys;
  TFakeHttpClient FHttp;
  TResolveInputs FIn;
};

TEST_F(ResolveFixture, Success) {
  FHttp.On(kEntryUrl, TFakeHttpClient::Answer(200, kGoodEntry));
  FHttp.On(kListUrl, TFakeHttpClient::Answer(200, kGoodList));
  const TResolveResult r = RunResolution(FIn, FHttp);
  EXPECT_EQ(r.Problem, "");
  EXPECT_EQ(r.Server, "https://c.cn:8443");
  EXPECT_EQ(r.NetBar, "1001");
  EXPECT_EQ(r.StoreName, "一号店");
  EXPECT_EQ(r.Maps, (std::vector<TSeatMapItem>{{12, "大厅"}, {3, ""}, {0, "包间"}}));
  EXPECT_TRUE(LogLines().empty());
  // Both exchanges: plain GETs with the two time-outs, their sum as the total, and the body cap.
  const std::vector<THttpRequest> sent = FHttp.Requests();
  ASSERT_EQ(sent.size(), 2u);
  for (const THttpRequest& q : sent) {
    EXPECT_EQ(q.Method, "GET");
    EXPECT_EQ(q.ConnectTimeoutMs, 4000);
    EXPECT_EQ(q.ResponseTimeoutMs, 8000);
    EXPECT_EQ(q.TotalTimeoutMs, 12000);
    EXPECT_EQ(q.MaxBody, 1024 * 1024);
    EXPECT_TRUE(q.Headers.empty());
    EXPECT_TRUE(q.Body.empty());
  }
  EXPECT_EQ(sent[0].Url, kEntryUrl);
  EXPECT_EQ(sent[1].Url, kListUrl);
}

// One scripted entry answer and what the resolution makes of it.
struct TEntryCase {
  const char* Name;
  THttpResponse Entry;
  const char* Problem;
  const char* LogAfterTag; // the M101 line's text, or nullptr for no log line
};

TEST_F(ResolveFixture, EntryFailureRows) {
  const std::string huge = R"({"NetBarId":"1","entry_url":"https://c.cn","pad":")" +
                           std::string(1024 * 1024, 'x') + "\"}";
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  const TEntryCase kCases[] = {
      {"no connection", TFakeHttpClient::Failure(THttpError::heConnect, "连接被拒绝"), kNoGateway,
       "GET /entry 10.0.0.2: 连接被拒绝"},
      {"time-out", TFakeHttpClient::Failure(THttpError::heTimeout, "等待应答超时"), kNoGateway,
       "GET /entry 10.0.0.2: 等待应答超时"},
      {"name not resolved", TFakeHttpClient::Failure(THttpError::heResolve, "无法解析主机名"),
       kNoGateway, "GET /entry 10.0.0.2: 无法解析主机名"},
      {"failure without words", TFakeHttpClient::Failure(THttpError::heOther, ""), kNoGateway,
       "GET /entry 10.0.0.2: 网络请求失败"},
      {"entry_url without ://",
       TFakeHttpClient::Answer(200, R"({"NetBarId":"1","entry_url":"c.cn"})"), kNoGateway,
       "GET /entry 10.0.0.2: 云端地址无效（缺少 ://）：c.cn"},
      // Anything but a web page would fill the kiosk screen with whatever it names.
      {"entry_url a browser page",
       TFakeHttpClient::Answer(200, R"({"NetBarId":"1","entry_url":"chrome://settings"})"),
       kNoGateway, "GET /entry 10.0.0.2: 云端地址无效（只支持 http 和 https）：chrome://settings"},
      {"entry_url a local file",
       TFakeHttpClient::Answer(200, R"({"NetBarId":"1","entry_url":"FILE:///etc/x"})"), kNoGateway,
       "GET /entry 10.0.0.2: 云端地址无效（只支持 http 和 https）：FILE:///etc/x"},
      {"entry_url a number", TFakeHttpClient::Answer(200, R"({"NetBarId":"1","entry_url":5})"),
       kNoGateway, "GET /entry 10.0.0.2: 云端地址无效（缺少 ://）：5"},
      {"status 500", TFakeHttpClient::Answer(500, kGoodEntry), kNoCloud, nullptr},
      {"status 302", TFakeHttpClient::Answer(302, kGoodEntry), kNoCloud, nullptr},
      {"text, not JSON", TFakeHttpClient::Answer(200, "StoreRelay ok"), kNoCloud, nullptr},
      {"an array", TFakeHttpClient::Answer(200, "[" + std::string(kGoodEntry) + "]"), kNoCloud,
       nullptr},
      {"empty body", TFakeHttpClient::Answer(200, ""), kNoCloud, nullptr},
      {"no NetBarId", TFakeHttpClient::Answer(200, R"({"entry_url":"https://c.cn"})"), kNoCloud,
       nullptr},
      {"NetBarId null",
       TFakeHttpClient::Answer(200, R"({"NetBarId":null,"entry_url":"https://c.cn"})"), kNoCloud,
       nullptr},
      {"NetBarId an object",
       TFakeHttpClient::Answer(200, R"({"NetBarId":{},"entry_url":"https://c.cn"})"), kNoCloud,
       nullptr},
      {"no entry_url", TFakeHttpClient::Answer(200, R"({"NetBarId":"1"})"), kNoCloud, nullptr},
      {"entry_url empty", TFakeHttpClient::Answer(200, R"({"NetBarId":"1","entry_url":""})"),
       kNoCloud, nullptr},
      {"entry_url an array", TFakeHttpClient::Answer(200, R"({"NetBarId":"1","entry_url":[]})"),
       kNoCloud, nullptr},
      {"body past 1 MiB", TFakeHttpClient::Answer(200, huge), kNoCloud, nullptr},
      {"deeply nested", TFakeHttpClient::Answer(200, deep), kNoCloud, nullptr},
  };
  for (const TEntryCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(FRoot + "/exe/logs");
    TFakeHttpClient http;
    http.On(kEntryUrl, c.Entry);
    http.SetHandler([](const THttpRequest&) { return TFakeHttpClient::Answer(200, kGoodList); });
    const TResolveResult r = RunResolution(FIn, http);
    EXPECT_EQ(r.Problem, c.Problem);
    EXPECT_EQ(r.Detail, c.Problem == std::string(kNoGateway) ? GatewayDetail() : NoCloudDetail());
    EXPECT_TRUE(r.Maps.empty());
    EXPECT_EQ(http.Requests().size(), 1u); // the map list is not asked after a failure
    const std::vector<std::string> log = LogLines();
    if (c.LogAfterTag) {
      ASSERT_EQ(log.size(), 1u);
      EXPECT_EQ(log[0].substr(0, 6), "[M101-");
      EXPECT_EQ(log[0].substr(12), c.LogAfterTag);
    } else {
      EXPECT_TRUE(log.empty());
    }
  }
}

// A hand-given cloud address that is not a web page fails like an unusable entry_url, unless
// the gateway's own address replaces it.
TEST_F(ResolveFixture, HandGivenServerMustBeAWebPage) {
  struct TCase {
    const char* Name;
    const char* Override;
    const char* NetBar;
    const char* Problem;
    const char* LogAfterTag;
  };
  const TCase kCases[] = {
      {"both hand-given, a browser page", "chrome://settings", "1001", kNoGateway,
       "ServerUrl: 云端地址无效（只支持 http 和 https）：chrome://settings"},
      {"both hand-given, no scheme", "c.cn", "1001", kNoGateway,
       "ServerUrl: 云端地址无效（缺少 ://）：c.cn"},
      {"both hand-given, upper-case HTTPS", "HTTPS://c.cn:8443", "1001", "", nullptr},
      {"replaced by the gateway's entry_url", "javascript://x", "", "", nullptr},
  };
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(FRoot + "/exe/logs");
    TFakeHttpClient http;
    http.On(kEntryUrl, TFakeHttpClient::Answer(200, kGoodEntry));
    http.SetHandler([](const THttpRequest&) { return TFakeHttpClient::Answer(200, kGoodList); });
    TResolveInputs in = FIn;
    in.ServerOverride = c.Override;
    in.NetBarOverride = c.NetBar;
    const TResolveResult r = RunResolution(in, http);
    EXPECT_EQ(r.Problem, c.Problem);
    const std::vector<std::string> log = LogLines();
    if (c.LogAfterTag) {
      EXPECT_EQ(r.Detail, GatewayDetail());
      EXPECT_TRUE(http.Requests().empty()); // nothing is asked of an unusable address
      ASSERT_EQ(log.size(), 1u);
      EXPECT_EQ(log[0].substr(0, 6), "[M101-");
      EXPECT_EQ(log[0].substr(12), c.LogAfterTag);
    } else {
      EXPECT_FALSE(http.Requests().empty());
      EXPECT_TRUE(log.empty());
    }
  }
}

TEST_F(ResolveFixture, GbkBytesInAnUnreadMemberDoNotSpoilTheAnswer) {
  FHttp.On(kEntryUrl, TFakeHttpClient::Answer(
                          200, "{\"name\":\"\xD2\xBB\xBA\xC5\xB5\xEA\xFF\",\"NetBarId\":\"1001\","
                               "\"entry_url\":\"https://c.cn:8443\"}"));
  FHttp.On(kListUrl, TFakeHttpClient::Answer(200, kGoodList));
  const TResolveResult r = RunResolution(FIn, FHttp);
  EXPECT_EQ(r.Problem, "");
  EXPECT_EQ(r.Maps.size(), 3u);
}

// One scripted map-list answer: the resolution succeeds, with these maps.
struct TListCase {
  const char* Name;
  THttpResponse List;
  const char* Store;
  std::vector<TSeatMapItem> Maps;
  const char* LogAfterTag; // the M102 line's text, or nullptr
};

TEST_F(ResolveFixture, MapListRows) {
  const std::string huge =
      R"({"store":"s","maps":[{"id":1,"name":")" + std::string(1024 * 1024, 'x') + "\"}]}";
  const TListCase kCases[] = {
      {"no connection",
       TFakeHttpClient::Failure(THttpError::heConnect, "连接被拒绝"),
       "",
       {},
       "GET /seatmap/display/list: 连接被拒绝"},
      {"time-out",
       TFakeHttpClient::Failure(THttpError::heTimeout, "等待应答超时"),
       "",
       {},
       "GET /seatmap/display/list: 等待应答超时"},
      {"status 500", TFakeHttpClient::Answer(500, kGoodList), "", {}, nullptr},
      {"text", TFakeHttpClient::Answer(200, "<html>busy</html>"), "", {}, nullptr},
      {"an array", TFakeHttpClient::Answer(200, R"([{"id":1}])"), "", {}, nullptr},
      {"maps an object",
       TFakeHttpClient::Answer(200, R"({"store":"s","maps":{"id":1}})"),
       "s",
       {},
       nullptr},
      {"maps null", TFakeHttpClient::Answer(200, R"({"store":"s","maps":null})"), "s", {}, nullptr},
      {"maps missing", TFakeHttpClient::Answer(200, R"({"store":7})"), "7", {}, nullptr},
      {"body past 1 MiB", TFakeHttpClient::Answer(200, huge), "", {}, nullptr},
      {"elements of every kind",
       TFakeHttpClient::Answer(
           200,
           R"({"store":"s","maps":[5,"x",null,[],{"id":12.0,"name":7},{"id":"2147483648"},)"
           R"({"id":true,"name":null},{"ID":4,"Name":"n"},{"id":1,"id":2,"name":"a","name":"b"}]})"),
       "s",
       {{0, ""}, {0, ""}, {0, ""}, {0, ""}, {12, "7"}, {0, ""}, {1, ""}, {0, ""}, {1, "a"}},
       nullptr},
  };
  for (const TListCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(FRoot + "/exe/logs");
    TFakeHttpClient http;
    http.On(kEntryUrl, TFakeHttpClient::Answer(200, kGoodEntry));
    http.On(kListUrl, c.List);
    const TResolveResult r = RunResolution(FIn, http);
    EXPECT_EQ(r.Problem, "");
    EXPECT_EQ(r.Detail, "");
    EXPECT_EQ(r.Server, "https://c.cn:8443");
    EXPECT_EQ(r.NetBar, "1001");
    EXPECT_EQ(r.StoreName, c.Store);
    EXPECT_EQ(r.Maps, c.Maps);
    const std::vector<std::string> log = LogLines();
    if (c.LogAfterTag) {
      ASSERT_EQ(log.size(), 1u);
      EXPECT_EQ(log[0].substr(0, 6), "[M102-");
      EXPECT_EQ(log[0].substr(12), c.LogAfterTag);
    } else {
      EXPECT_TRUE(log.empty());
    }
  }
}

TEST_F(ResolveFixture, HandGivenValues) {
  // Both given: the gateway is never asked, even without an address.
  {
    TFakeHttpClient http;
    http.On("https://own.cn/seatmap/display/list?NetBarId=2002",
            TFakeHttpClient::Answer(200, kGoodList));
    TResolveInputs in;
    in.ServerOverride = "https://own.cn";
    in.NetBarOverride = "2002";
    const TResolveResult r = RunResolution(in, http);
    EXPECT_EQ(r.Problem, "");
    EXPECT_EQ(r.Server, "https://own.cn");
    EXPECT_EQ(r.NetBar, "2002");
    EXPECT_EQ(r.Maps.size(), 3u);
    EXPECT_EQ(http.Urls(),
              std::vector<std::string>{"https://own.cn/seatmap/display/list?NetBarId=2002"});
  }
  const struct {
    const char* Name;
    const char* Server;
    const char* NetBar;
    const char* Entry;
    int Status;
    const char* WantServer;
    const char* WantNetBar;
    const char* WantProblem;
  } kCases[] = {
      {"server given, gateway's entry_url replaces it", "https://own.cn", "", kGoodEntry, 200,
       "https://c.cn:8443", "1001", ""},
      {"server given, gateway without entry_url", "https://own.cn", "", R"({"NetBarId":"7"})", 200,
       "https://own.cn", "7", ""},
      {"server given, gateway without NetBarId", "https://own.cn", "",
       R"({"entry_url":"https://c.cn"})", 200, "https://c.cn", "", kNoCloud},
      {"store given, gateway's NetBarId replaces it", "", "2002", kGoodEntry, 200,
       "https://c.cn:8443", "1001", ""},
      {"store given, gateway without NetBarId empties it", "", "2002",
       R"({"entry_url":"https://c.cn"})", 200, "https://c.cn", "", kNoCloud},
      {"store given, gateway answers 500", "", "2002", kGoodEntry, 500, "", "2002", kNoCloud},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Name);
    TFakeHttpClient http;
    http.On(kEntryUrl, TFakeHttpClient::Answer(c.Status, c.Entry));
    http.SetHandler([](const THttpRequest&) { return TFakeHttpClient::Answer(200, kGoodList); });
    TResolveInputs in = FIn;
    in.ServerOverride = c.Server;
    in.NetBarOverride = c.NetBar;
    const TResolveResult r = RunResolution(in, http);
    EXPECT_EQ(http.CountFor(kEntryUrl), 1);
    EXPECT_EQ(r.Problem, c.WantProblem);
    if (*c.WantProblem) continue;
    EXPECT_EQ(r.Server, c.WantServer);
    EXPECT_EQ(r.NetBar, c.WantNetBar);
    EXPECT_EQ(http.Urls().back(),
              std::string(c.WantServer) + "/seatmap/display/list?NetBarId=" + c.WantNetBar);
  }
}

TEST_F(ResolveFixture, StoreNumberIsQueryEncoded) {
  FHttp.On(kEntryUrl, TFakeHttpClient::Answer(
                          200, R"({"NetBarId":"10 01 机&x=1","entry_url":"https://c.cn:8443"})"));
  const TResolveResult r = RunResolution(FIn, FHttp);
  EXPECT_EQ(r.NetBar, "10 01 机&x=1");
  EXPECT_EQ(FHttp.Urls().back(),
            "https://c.cn:8443/seatmap/display/list?NetBarId=10+01+%E6%9C%BA%26x%3D1");
}

TEST_F(ResolveFixture, AGatewayOnAnotherPortAndHostName) {
  FIn.Gateway = "relay.local";
  FIn.Port = 8080;
  FHttp.On("http://relay.local:8080/entry", TFakeHttpClient::Answer(200, kGoodEntry));
  FHttp.On(kListUrl, TFakeHttpClient::Answer(200, kGoodList));
  EXPECT_EQ(RunResolution(FIn, FHttp).Problem, "");
  FHttp.On("http://relay.local:8080/entry", TFakeHttpClient::Answer(404, ""));
  EXPECT_EQ(RunResolution(FIn, FHttp).Detail,
            "网关 relay.local:8080 已连上，但没有返回门店编号或云端地址。请在网关电脑上核对 "
            "StoreRelay.ini 的 NetBarId 与 ServerUrl。");
}

} // namespace
} // namespace hb
