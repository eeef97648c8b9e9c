#pragma once
// The user-interface thread's queue: the only way background work hands results back.
#include <functional>

namespace hb {

class IUiQueue {
public:
  virtual ~IUiQueue() = default;
  // Queues proc to run later on the user-interface thread. Callable from any thread; never waits
  // and never runs proc inside the call.
  virtual void Post(std::function<void()> proc) = 0;
};

} // namespace hb
