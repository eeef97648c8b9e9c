#pragma once
// The modal error dialog's native window: a borderless, rounded, top-most, drop-shadowed popup
// with flat-button child windows, around the core's TShellDialog model.
#include <string>
#include <vector>

namespace hb::win {

// Shows the dialog modally and returns the clicked button's index, or -1 (Escape, Alt+F4).
// While it is open its loop keeps dispatching every other message of the thread (timers,
// queued results, browser events).
int ShowShellDialogWindow(const std::string& title, const std::string& text,
                          const std::vector<std::string>& buttons, int primaryIndex,
                          int dangerIndex);

} // namespace hb::win
