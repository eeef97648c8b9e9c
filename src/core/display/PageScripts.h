#pragma once
// The two scripts the browser runs at the creation of every document, in this order: first the
// drag-and-reload script, then the page script behind its cursor prefix.
#include <string>

namespace hb {

// Cancels drags except from editable or draggable elements; F5 and Ctrl/Meta+R reload the page.
extern const char* const kDragReloadScript;
// Right-click posts "menu" to the program (a frame below the page's own frames through its
// parents), text selection is blocked, and with window.__hbHideCursor the cursor hides after 3
// seconds without movement.
extern const char* const kPageScript;

// Tells the program, at most every 10 seconds, that someone moved the mouse, pressed a key or touched
// the screen: the web message "input", which holds off the return to the map (passed up as "menu"
// is).
extern const char* const kInputScript;

// "window.__hbHideCursor=true;" or "...=false;" followed directly by kPageScript.
std::string PageScriptWithPrefix(bool hideCursor);

} // namespace hb
