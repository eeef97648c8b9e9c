#pragma once
// Keeps the display on and the computer awake while the program runs: the session's screen saver
// is inhibited (org.freedesktop.ScreenSaver) and sleep is held off through logind. Best effort:
// without a session bus (a bare X server, a service account) nothing happens and nothing fails.
namespace hb::lin {

void SetKeepAwake(bool on);

} // namespace hb::lin
