#include "UiGuard.h"

#include <windows.h>

#include <stdexcept>

namespace hb::win {
namespace {
TUiExceptionHandler& Handler() {
  static TUiExceptionHandler h;
  return h;
}
} // namespace

void SetUiExceptionHandler(TUiExceptionHandler handler) {
  Handler() = std::move(handler);
}

void ReportUiException(const std::exception& e) noexcept {
  try {
    if (Handler()) {
      Handler()(e);
      return;
    }
    OutputDebugStringA(e.what());
  } catch (...) {
    // The handler itself failed (e.g. out of memory while building the dialog): nothing is left
    // that could report it, and unwinding further would end the program.
  }
}

} // namespace hb::win
