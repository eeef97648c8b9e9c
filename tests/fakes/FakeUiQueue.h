#pragma once
// IUiQueue that collects procedures until the test drains them on its own thread.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "IUiQueue.h"

namespace hb::test {

class TFakeUiQueue : public IUiQueue {
 public:
  void Post(std::function<void()> proc) override {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FItems.push_back(std::move(proc));
    }
    FCond.notify_all();
  }
  // Runs every queued procedure (including ones queued while draining); returns how many ran.
  int Drain() {
    int n = 0;
    for (;;) {
      std::function<void()> p;
      {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FItems.empty()) return n;
        p = std::move(FItems.front());
        FItems.pop_front();
      }
      p();
      ++n;
    }
  }
  // Throws away everything queued without running it, as the window does once it is closing.
  void DropAll() {
    std::deque<std::function<void()>> items;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      items.swap(FItems);
    }
  }
  size_t Pending() {
    std::lock_guard<std::mutex> lock(FMutex);
    return FItems.size();
  }
  // Waits until at least count procedures are queued (or the time runs out), then drains.
  int WaitAndDrain(size_t count = 1, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FCond.wait_for(lock, limit, [&] { return FItems.size() >= count; });
    }
    return Drain();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  std::deque<std::function<void()>> FItems;
};

} // namespace hb::test
