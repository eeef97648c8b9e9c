#pragma once
// Every handler the message loop runs (window procedures, timers, queued procedures, browser
// callbacks) runs inside Guarded: an exception never unwinds into Windows or COM code, it goes to
// the program's exception handler (the log and the error dialog) and the loop carries on.
#include <exception>
#include <functional>
#include <stdexcept>

namespace hb::win {

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

} // namespace hb::win
