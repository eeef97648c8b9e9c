#pragma once
// The error dialog as a GTK window: borderless, rounded, above everything, modal through a nested
// main loop; the core's TShellDialog lays it out, paints it and decides.
#include <string>
#include <vector>

#include "Geometry.h"

namespace hb::lin {

// Shows the dialog centred on area and returns the clicked button's index, or -1 (Escape, the
// window manager's close).
int ShowShellDialog(const std::string& title, const std::string& text,
                    const std::vector<std::string>& buttons, int primaryIndex, int dangerIndex,
                    const TRect& area);

} // namespace hb::lin
