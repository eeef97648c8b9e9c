#pragma once
// Every handler the user-interface loop runs (window procedures, GLib sources, timers, queued
// procedures, browser callbacks) runs inside UiGuarded: an exception never unwinds into the
// operating system's or the browser's code; it goes to the program's exception handler (the log
// and the error dialog) and the loop carries on.
#include <exception>
#include <functional>
#include <stdexcept>

namespace hb {

using TUiExceptionHandler = std::function<void(const std::exception&)>;
void SetUiExceptionHandler(TUiExceptionHandler handler);
void ReportUiException(const std::exception& e) noexcept;

template <class F> void UiGuarded(F&& f) noexcept {
  try {
    f();
  } catch (const std::exception& e) {
    ReportUiException(e);
  } catch (...) {
    ReportUiException(std::runtime_error("未知错误"));
  }
}

} // namespace hb
