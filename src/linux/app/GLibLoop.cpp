#include "GLibLoop.h"

#include <glib.h>

#include "UiGuard.h"

namespace hb::lin {

namespace {
struct TQueued {
  std::function<void()> Proc;
  std::shared_ptr<void> Owner;
  std::atomic<bool>* Closed;
};
} // namespace

TGLibUiQueue::TGLibUiQueue() : FState(std::make_shared<TState>()) {}

TGLibUiQueue::~TGLibUiQueue() {
  Shutdown();
}

void TGLibUiQueue::Post(std::function<void()> proc) {
  if (FState->Closed.load()) return;
  auto* item = new TQueued{std::move(proc), FState, &FState->Closed};
  // Always through an idle source, so that a post from the user-interface thread itself never
  // runs inside the call.
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        auto* q = static_cast<TQueued*>(p);
        if (!q->Closed->load()) Guarded([&] { q->Proc(); });
        return G_SOURCE_REMOVE;
      },
      item, [](gpointer p) { delete static_cast<TQueued*>(p); });
}

void TGLibUiQueue::Shutdown() {
  FState->Closed.store(true);
}

TGLibTimer::~TGLibTimer() {
  Stop();
}

void TGLibTimer::SetInterval(uint32_t ms) {
  if (ms == FInterval) return;
  FInterval = ms;
  if (FSource) {
    Stop();
    Start();
  }
}

void TGLibTimer::SetEnabled(bool on) {
  if (on && !FSource) Start();
  if (!on) Stop();
}

void TGLibTimer::Start() {
  if (FInterval == 0) return;
  FSource = g_timeout_add(FInterval, reinterpret_cast<GSourceFunc>(&TGLibTimer::Tick), this);
}

void TGLibTimer::Stop() {
  if (FSource) g_source_remove(FSource);
  FSource = 0;
}

int TGLibTimer::Tick(void* p) {
  auto* self = static_cast<TGLibTimer*>(p);
  // The tick may disable, re-time or destroy this timer: each of those removes this source with
  // g_source_remove, after which GLib ignores what we return. So self is not touched after the
  // call, and OnTick is copied because destroying the timer would free it mid-call.
  auto tick = self->OnTick;
  if (tick) Guarded([&] { tick(); });
  return G_SOURCE_CONTINUE;
}

TTimerFactory GLibTimerFactory() {
  return [] { return std::unique_ptr<ITimer>(std::make_unique<TGLibTimer>()); };
}

} // namespace hb::lin
