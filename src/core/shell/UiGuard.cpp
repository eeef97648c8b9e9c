#include "shell/UiGuard.h"

#include <cstdio>

namespace hb {

namespace {
TUiExceptionHandler& Handler() {
  static TUiExceptionHandler h;
  return h;
}
bool& Reporting() {
  static bool busy = false;
  return busy;
}
} // namespace

void SetUiExceptionHandler(TUiExceptionHandler handler) {
  Handler() = std::move(handler);
}

void ReportUiException(const std::exception& e) noexcept {
  // The handler shows a modal dialog whose loop runs other handlers; one that fails meanwhile is
  // only written to stderr instead of stacking dialogs.
  if (Reporting() || !Handler()) {
    std::fprintf(stderr, "hallBoard: %s\n", e.what());
    return;
  }
  Reporting() = true;
  try {
    Handler()(e);
  } catch (...) {
    // The handler itself failed (out of memory while building the dialog): nothing is left that
    // could report it, and unwinding further would end the program.
  }
  Reporting() = false;
}

} // namespace hb
