#pragma once
// Every handler the user-interface loop runs (window procedures, GLib sources, timers, queued
// procedures, browser callbacks) runs inside UiGuarded: an exception never unwinds into the
// operating system's or the browser's code; it goes to the program's exception handler (the log
// and the error dialog) and the loop carries on.
#include <exception>
#include <functional>
#include <stdexcept>

namespace hb {

class IUiQueue;

using TUiExceptionHandler = std::function<void(const std::exception&)>;
void SetUiExceptionHandler(TUiExceptionHandler handler);
void ReportUiException(const std::exception& e) noexcept;

// The queue that callbacks of the browser hand their exceptions to (null: none; they are then
// reported at once). Set by the shell once its queue exists, cleared before it goes.
void SetUiReportQueue(IUiQueue* queue);
// Reports the exception from the user-interface queue, outside the callback that caught it.
void PostUiException(std::exception_ptr error) noexcept;

// For callbacks of the browser (WebView2's COM handlers, the DevTools pipe): the report shows a
// modal dialog, and a modal loop run inside the browser's own callback lets the browser call in
// again while it is mid-call, or stalls the pipe the page's requests wait on. So the report is
// posted and runs from the queue.
template <class F> void CallbackGuarded(F&& f) noexcept {
  try {
    f();
  } catch (...) {
    PostUiException(std::current_exception());
  }
}

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
