#pragma once
// One instance per user logon: a named mutex in the logon's own namespace, and a registered
// wake-up message posted to every top-level window when a second copy starts.
#include <cstdint>
#include <string>

namespace hb::win {

// Registers "QV." + id + ".ShowMain"; 0 when registration fails.
uint32_t ShowMainMessage(const std::string& id);

// True when this process may go on as the only instance. False when "Local\QV." + id +
// ".SingleInstance" already existed (or exists but is closed to us): the running instance has
// then been woken (the message is
// posted, never sent, to every top-level window with wakeParam as its first parameter). Without
// a mutex at all the program runs unprotected. The handle stays open until the process ends.
bool EnsureSingleInstance(const std::string& id, uintptr_t wakeParam);

// CreateMutexW's answer read: whether another instance already holds the mutex. A mutex that
// exists but may not be opened (ERROR_ACCESS_DENIED, made by an elevated first instance) counts.
bool AnotherInstanceHolds(bool gotHandle, unsigned long lastError);

} // namespace hb::win
