#include "shell/UiGuard.h"

#include <cstdio>

#include "IUiQueue.h"

namespace hb {

namespace {
TUiExceptionHandler& Handler() {
  static TUiExceptionHandler h;
  return h;
}
IUiQueue*& ReportQueue() {
  static IUiQueue* queue = nullptr;
  return queue;
}

void ReportCaught(const std::exception_ptr& error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ReportUiException(e);
  } catch (...) {
    ReportUiException(std::runtime_error("未知错误"));
  }
}
} // namespace

void SetUiExceptionHandler(TUiExceptionHandler handler) {
  Handler() = std::move(handler);
}

void ReportUiException(const std::exception& e) noexcept {
  // The handler may show a modal dialog whose loop runs other handlers; one that fails meanwhile
  // comes back here, and the handler itself decides not to stack a second dialog (the report
  // still goes to the log).
  if (!Handler()) {
    std::fprintf(stderr, "hallBoard: %s\n", e.what());
    return;
  }
  try {
    Handler()(e);
  } catch (...) {
    // The handler itself failed (out of memory while building the dialog): nothing is left that
    // could report it, and unwinding further would end the program.
  }
}

void SetUiReportQueue(IUiQueue* queue) {
  ReportQueue() = queue;
}

void PostUiException(std::exception_ptr error) noexcept {
  if (!error) return;
  IUiQueue* queue = ReportQueue();
  if (queue) {
    try {
      queue->Post([error] { ReportCaught(error); });
      return;
    } catch (...) {
      // Not even a queued procedure could be made: report here rather than lose it.
    }
  }
  ReportCaught(error);
}

} // namespace hb
