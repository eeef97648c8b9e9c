#pragma once
// Every callback that GLib or GTK runs for us (signals, idle and timeout sources, pipe watches)
// runs inside Guarded: an exception never unwinds into C code; it goes to the program's exception
// handler (the log and the error dialog) and the main loop carries on.
#include <exception>
#include <functional>
#include <stdexcept>

namespace hb::lin {

using TUiExceptionHandler = std::function<void(const std::exception&)>;
void SetUiExceptionHandler(TUiExceptionHandler handler);
void ReportUiException(const std::exception& e) noexcept;

template <class F> void Guarded(F&& f) noexcept {
  try {
    f();
  } catch (const std::exception& e) {
    ReportUiException(e);
  } catch (...) {
    ReportUiException(std::runtime_error("未知错误"));
  }
}

} // namespace hb::lin
