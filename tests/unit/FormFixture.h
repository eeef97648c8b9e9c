#pragma once
// A display window over fakes: a manual clock for its timers, a queue the test drains, the
// recording browser and window host, settings given directly, and a scripted resolution and
// update attempt in place of the network. The log and last-map.txt are real files in a fresh
// folder per test.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "AppIdentity.h"
#include "FakeBrowser.h"
#include "FakeHttpClient.h"
#include "FakeSystem.h"
#include "FakeTimer.h"
#include "FakeUiQueue.h"
#include "FakeWindowHost.h"
#include "FileUtil.h"
#include "Platform.h"
#include "display/uHallBoardMain.h"
#include "settings/Settings.h"
#include "shell/DiagnosticLog.h"

namespace hb::test {

inline std::vector<TSeatMapItem> ThreeStoreMaps() {
  return {{11, "大厅"}, {12, "包间"}, {13, "二楼"}};
}

// Counts what background jobs handed back, so a test ends only after every job has posted.
// The count changes under the queue's own lock together with the post, so once a waiter sees
// it the posting thread is done with the queue.
struct TCountingQueue : TFakeUiQueue {
  void Post(std::function<void()> proc) override {
    std::lock_guard<std::mutex> lock(FCountMutex);
    TFakeUiQueue::Post(std::move(proc));
    ++FPosts;
  }
  int Posts() {
    std::lock_guard<std::mutex> lock(FCountMutex);
    return FPosts;
  }
  // Waits until at least n posts have been made; false when the time runs out.
  bool WaitPosts(int n) {
    for (int i = 0; i < 10000 && Posts() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Posts() >= n;
  }

 private:
  std::mutex FCountMutex;
  int FPosts = 0;
};

struct TFormFixture : ::testing::Test {
  TFakeSystem Sys;
  TFakeWindowHost Host;
  TFakeBrowser Browser;
  TCountingQueue Queue;
  TFakeClock Clock;
  TSettings Settings;
  std::string Folder;
  std::unique_ptr<THallBoardForm> Form;

  // The resolution's answer (read on the resolution thread) and how many were started.
  std::mutex AnswerMutex;
  TResolveResult Answer;
  std::atomic<int> Resolves{0};
  // The update attempt's answer, optionally held until the test releases it.
  std::atomic<int> Updates{0};
  std::atomic<bool> UpdateStarts{false};
  std::mutex HoldMutex;
  std::condition_variable HoldCond;
  bool Hold = false;

  void SetUp() override {
    std::random_device rd;
    Folder =
        (std::filesystem::temp_directory_path() / ("hb-form-" + std::to_string(rd()))).string();
    std::filesystem::create_directories(Folder);
    Sys.AppData = Folder;
    Sys.Exe = Folder + "/";
    Sys.Temp = Folder + "/";
    InstallPlatform(&Sys, nullptr);
    // The log decides its folder once per process; this test's folder is a new one.
    ResetLogFolderTestForTests();
    // Hand-given cloud values: the resolution runs (scripted), and no update timer adds
    // background results of its own unless a test sets a gateway host.
    Settings.ServerOverride = "https://cloud.example.cn";
    Settings.NetBarOverride = "1001";
    Answer = Success(ThreeStoreMaps());
  }

  void TearDown() override {
    Settle();
    Form.reset();
    // A window a test destroyed early may have left jobs running: they still post, once.
    Queue.WaitPosts(Resolves + Updates);
    Queue.Drain();
    ResetLogFolderTestForTests();
    InstallPlatform(nullptr, nullptr);
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }

  // Lets every background job of the live window hand its result back: each one keeps
  // Resolving() or UpdateChecking() set until its result has run.
  void Settle() {
    Release();
    auto busy = [this] { return Form && (Form->Resolving() || Form->UpdateChecking()); };
    for (int i = 0; i < 10000 && busy(); ++i) {
      Queue.Drain();
      if (busy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  static TResolveResult Success(std::vector<TSeatMapItem> maps, std::string store = "星光网咖") {
    TResolveResult r;
    r.Server = "https://cloud.example.cn";
    r.NetBar = "1001";
    r.StoreName = std::move(store);
    r.Maps = std::move(maps);
    return r;
  }
  static TResolveResult Failure() {
    TResolveResult r;
    r.Problem = "连不上门店网关";
    r.Detail = "打不开 192.168.1.10:58001。";
    return r;
  }
  void SetAnswer(TResolveResult r) {
    std::lock_guard<std::mutex> lock(AnswerMutex);
    Answer = std::move(r);
  }

  TFormPorts Ports() {
    // The cache's fetches, if any test fires a resource, fail as "no connection".
    TFormPorts p{
        Host,
        Browser,
        Queue,
        Clock.Factory(),
        [] { return std::unique_ptr<IHttpClient>(std::make_unique<test::TFakeHttpClient>()); },
        Sys};
    p.Settings = &Settings;
    p.Resolve = [this](const TResolveInputs&) {
      ++Resolves;
      std::lock_guard<std::mutex> lock(AnswerMutex);
      return Answer;
    };
    p.UpdateAttempt = [this](const std::string&) {
      ++Updates;
      std::unique_lock<std::mutex> lock(HoldMutex);
      HoldCond.wait(lock, [this] { return !Hold; });
      return UpdateStarts.load();
    };
    return p;
  }

  // The previous window goes first: its destructor detaches it from the browser's events.
  void Make() {
    Settle();
    Form.reset();
    Form = std::make_unique<THallBoardForm>(Ports());
  }

  // Waits for one background result and runs it on this (the user-interface) thread.
  void Deliver() { ASSERT_GE(Queue.WaitAndDrain(1), 1) << "no result arrived"; }

  // Shown, browser created, first resolution delivered.
  void Start() {
    Make();
    Form->FirstShow();
    Browser.FireCreated(0);
    Deliver();
  }

  void Release() {
    {
      std::lock_guard<std::mutex> lock(HoldMutex);
      Hold = false;
    }
    HoldCond.notify_all();
  }

  std::string Log() { return ReadFileBytes(LogFilePath(kAppFolder)).value_or(""); }
};

} // namespace hb::test
