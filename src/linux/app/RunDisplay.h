#pragma once
// Runs the display window on GTK until it closes: the windows, the browser, the queue and timers,
// the exception logger, the command socket. Returns the process's exit code.
#include "ISystem.h"
#include "SingleInstance.h"

namespace hb::lin {

int RunDisplay(ISystem& system, TSingleInstance& instance, int argc, char** argv);

} // namespace hb::lin
