#include "DevToolsConnection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <glib.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace hb::lin {
namespace {

TEST(FrameSplitter, SplitsAtEveryNulWhateverTheChunking) {
  struct TCase {
    std::vector<std::string> Chunks;
    std::vector<std::string> Frames;
    size_t Left;
  };
  const std::vector<TCase> cases = {
      {{std::string("{\"a\":1}\0", 8)}, {"{\"a\":1}"}, 0},
      {{"{\"a\"", std::string(":1}\0{\"b\"", 8), std::string(":2}\0", 4)},
       {"{\"a\":1}", "{\"b\":2}"},
       0},
      {{std::string("x\0\0y", 4)},
       {
           "x",
           "",
       },
       1},
      {{"partial"}, {}, 7},
  };
  for (const auto& c : cases) {
    TFrameSplitter s;
    std::vector<std::string> got;
    for (const auto& chunk : c.Chunks)
      for (auto& f : s.Feed(chunk.data(), chunk.size())) got.push_back(f);
    EXPECT_EQ(got, c.Frames);
    EXPECT_EQ(s.Buffered(), c.Left);
  }
}

TEST(FrameSplitter, DropsAnOversizedFrameAndKeepsTheNext) {
  TFrameSplitter s(8);
  std::string big(20, 'x');
  EXPECT_TRUE(s.Feed(big.data(), 10).empty());
  EXPECT_LE(s.Buffered(), 8u);
  std::string rest = big.substr(10) + std::string("\0ok\0", 4);
  auto frames = s.Feed(rest.data(), rest.size());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], "ok");
  EXPECT_EQ(s.Dropped(), 1u);
}

// A connection over two real pipes; the test plays the browser on the far ends.
class DevToolsPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(FToBrowser, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(FFromBrowser, O_CLOEXEC), 0);
    FConn = std::make_shared<TDevToolsConnection>(FToBrowser[1], FFromBrowser[0]);
  }
  void TearDown() override {
    FConn.reset();
    close(FToBrowser[0]);
    if (FFromBrowser[1] >= 0) close(FFromBrowser[1]);
  }
  std::string ReadCommand() {
    std::string out;
    char c;
    while (read(FToBrowser[0], &c, 1) == 1 && c != '\0') out.push_back(c);
    return out;
  }
  void Answer(const std::string& json) {
    std::string frame = json;
    frame.push_back('\0');
    ASSERT_EQ(write(FFromBrowser[1], frame.data(), frame.size()),
              static_cast<ssize_t>(frame.size()));
  }
  template <class P> void SpinUntil(P done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < end)
      g_main_context_iteration(nullptr, FALSE);
  }
  int FToBrowser[2];
  int FFromBrowser[2];
  std::shared_ptr<TDevToolsConnection> FConn;
};

TEST_F(DevToolsPipe, CommandsCarryIdSessionAndParamsAndRepliesFindTheirCaller) {
  std::string result, error;
  bool replied = false, failed = false;
  FConn->Send("Page.navigate", "{\"url\":\"http://x/\\\"q\"}", "S1", [&](const TDevToolsReply& r) {
    replied = true;
    result = JsonString(*r.Result, "frameId");
  });
  FConn->Send("Bad.method", "{}", {}, [&](const TDevToolsReply& r) {
    failed = true;
    error = r.Error;
  });
  EXPECT_EQ(ReadCommand(),
            "{\"id\":1,\"method\":\"Page.navigate\",\"sessionId\":\"S1\",\"params\":{\"url\":"
            "\"http://x/\\\"q\"}}");
  EXPECT_EQ(ReadCommand(), "{\"id\":2,\"method\":\"Bad.method\",\"params\":{}}");
  // Answers in the other order, with noise between them.
  Answer("{\"id\":2,\"error\":{\"code\":-32601,\"message\":\"'Bad.method' wasn't found\"}}");
  Answer("not json at all");
  Answer("{\"id\":99,\"result\":{}}");
  Answer("{\"id\":1,\"result\":{\"frameId\":\"F\"}}");
  SpinUntil([&] { return replied && failed; });
  EXPECT_EQ(result, "F");
  EXPECT_EQ(error, "'Bad.method' wasn't found");
}

TEST_F(DevToolsPipe, EventsArriveWithTheirSessionAndParams) {
  std::vector<std::string> seen;
  FConn->OnEvent = [&](const std::string& m, const std::string& s, const rapidjson::Value& p) {
    seen.push_back(m + "|" + s + "|" + JsonString(p, "name"));
  };
  Answer("{\"method\":\"Runtime.bindingCalled\",\"sessionId\":\"S\",\"params\":{\"name\":\"b\"}}");
  Answer("{\"method\":\"Target.targetCreated\",\"params\":\"not an object\"}");
  SpinUntil([&] { return seen.size() == 2; });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Runtime.bindingCalled|S|b");
  EXPECT_EQ(seen[1], "Target.targetCreated||");
}

TEST_F(DevToolsPipe, ABrowserThatGoesAwayFailsWhatWasPendingAndLaterSends) {
  bool closed = false;
  std::vector<std::string> errors;
  FConn->OnClosed = [&] { closed = true; };
  FConn->Send("Page.enable", "{}", "S",
              [&](const TDevToolsReply& r) { errors.push_back(r.Error); });
  close(FFromBrowser[1]);
  FFromBrowser[1] = -1;
  SpinUntil([&] { return closed; });
  EXPECT_TRUE(closed);
  EXPECT_FALSE(FConn->Open());
  FConn->Send("Page.reload", "{}", "S",
              [&](const TDevToolsReply& r) { errors.push_back(r.Error); });
  EXPECT_EQ(errors.size(), 1u); // never answered inside Send
  SpinUntil([&] { return errors.size() == 2; });
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_FALSE(errors[0].empty());
  EXPECT_FALSE(errors[1].empty());
}

// A resource's answer is larger than the pipe holds: it goes out whole, between the commands
// sent before and after it, while the browser reads at its own pace; each message reports once
// the pipe has all of it, and nothing stays queued afterwards.
TEST_F(DevToolsPipe, LargeAnswersGoOutWholeAndInOrderThroughAFullPipe) {
  const std::string body(3 << 20, 'Q'); // beyond the pipe's 1 MiB
  std::string params = "{\"requestId\":\"r1\",\"body\":\"" + body + "\"}";
  const std::string expected = params;
  std::vector<std::string> written;
  FConn->Send("Page.enable", "{}", "S", {}, [&] { written.push_back("first"); });
  FConn->Send("Fetch.fulfillRequest", std::move(params), "S", {},
              [&] { written.push_back("answer"); });
  FConn->Send("Page.reload", "{}", "S", {}, [&] { written.push_back("last"); });
  EXPECT_EQ(written, std::vector<std::string>{"first"}); // the answer waits for the browser
  EXPECT_GT(FConn->Queued(), 2u << 20);

  std::vector<std::string> frames;
  std::atomic<bool> readAll{false};
  std::thread browser([&] {
    std::string frame;
    char buf[65536];
    while (frames.size() < 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a browser busy elsewhere
      ssize_t n = read(FToBrowser[0], buf, sizeof buf);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\0') {
          frame.push_back(buf[i]);
          continue;
        }
        frames.push_back(std::move(frame));
        frame.clear();
      }
    }
    readAll = true;
  });
  SpinUntil([&] { return readAll && written.size() == 3; });
  browser.join();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], "{\"id\":1,\"method\":\"Page.enable\",\"sessionId\":\"S\",\"params\":{}}");
  const std::string answer =
      "{\"id\":2,\"method\":\"Fetch.fulfillRequest\",\"sessionId\":\"S\",\"params\":" + expected +
      "}";
  EXPECT_EQ(frames[1], answer);
  EXPECT_EQ(frames[2], "{\"id\":3,\"method\":\"Page.reload\",\"sessionId\":\"S\",\"params\":{}}");
  EXPECT_EQ(written, (std::vector<std::string>{"first", "answer", "last"}));
  EXPECT_EQ(FConn->Queued(), 0u);
}

// A browser that goes away with answers still queued: they are dropped and reported as gone
// (their owners count them no longer), and so is anything sent afterwards.
TEST_F(DevToolsPipe, AnswersQueuedWhenTheBrowserGoesAreDroppedAndReported) {
  bool closed = false;
  FConn->OnClosed = [&] { closed = true; };
  int gone = 0;
  FConn->Send("Fetch.fulfillRequest", "{\"body\":\"" + std::string(3 << 20, 'Q') + "\"}", "S", {},
              [&] { ++gone; });
  EXPECT_EQ(gone, 0);
  close(FFromBrowser[1]);
  FFromBrowser[1] = -1;
  SpinUntil([&] { return closed; });
  EXPECT_TRUE(closed);
  EXPECT_EQ(gone, 1);
  EXPECT_EQ(FConn->Queued(), 0u);
  FConn->Send("Fetch.fulfillRequest", "{}", "S", {}, [&] { ++gone; });
  EXPECT_EQ(gone, 2);
}

// A fetch thread letting go of a paused request answers it through the main loop: nothing is
// written from that thread, and a connection gone by the time the loop runs sends nothing.
TEST_F(DevToolsPipe, ACommandFromAnotherThreadIsWrittenFromTheMainLoop) {
  auto sendFromThread = [this] {
    std::thread([conn = std::weak_ptr<TDevToolsConnection>(FConn)] {
      TDevToolsConnection::SendFromMainLoop(conn, "Fetch.continueRequest", "{\"requestId\":\"r1\"}",
                                            "S");
    }).join();
  };
  pollfd ready{FToBrowser[0], POLLIN, 0};
  sendFromThread();
  EXPECT_EQ(poll(&ready, 1, 0), 0); // not written by the thread
  SpinUntil([&] { return poll(&ready, 1, 0) > 0; });
  EXPECT_EQ(ReadCommand(), "{\"id\":1,\"method\":\"Fetch.continueRequest\",\"sessionId\":\"S\","
                           "\"params\":{\"requestId\":\"r1\"}}");

  sendFromThread();
  FConn.reset(); // the browser went before the main loop ran
  for (int i = 0; i < 10; ++i) g_main_context_iteration(nullptr, FALSE);
  char c;
  EXPECT_EQ(read(FToBrowser[0], &c, 1), 0); // closed, and nothing was written
}

} // namespace
} // namespace hb::lin
