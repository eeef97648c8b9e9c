#pragma once
// The shell's name for the core's handler guard (see shell/UiGuard.h).
#include <utility>

#include "shell/UiGuard.h"

namespace hb::lin {

using hb::CallbackGuarded;
using hb::ReportUiException;
using hb::SetUiExceptionHandler;
using hb::SetUiReportQueue;
using hb::TUiExceptionHandler;

template <class F> void Guarded(F&& f) noexcept {
  UiGuarded(std::forward<F>(f));
}

} // namespace hb::lin
