#include "SingleInstance.h"

#include <windows.h>

#include "WinText.h"

namespace hb::win {
namespace {

struct TInstanceState {
  HANDLE Mutex = nullptr;
  uintptr_t WakeParam = 0;
  ~TInstanceState() {
    if (Mutex) CloseHandle(Mutex);
  }
};

TInstanceState& State() {
  static TInstanceState s;
  return s;
}

struct TWake {
  UINT Message;
  WPARAM Param;
};

BOOL CALLBACK PostWake(HWND hwnd, LPARAM lp) {
  auto* w = reinterpret_cast<TWake*>(lp);
  PostMessageW(hwnd, w->Message, w->Param, 0); // windows that do not know it ignore it
  return TRUE;                                 // always on to the last window
}

} // namespace

bool AnotherInstanceHolds(bool gotHandle, unsigned long lastError) {
  if (gotHandle) return lastError == ERROR_ALREADY_EXISTS;
  // An instance started elevated made the mutex with a security that lets this one not even
  // open it: it is running all the same. Any other failure leaves us unprotected, not stopped.
  return lastError == ERROR_ACCESS_DENIED;
}

uint32_t ShowMainMessage(const std::string& id) {
  return RegisterWindowMessageW(Wide("QV." + id + ".ShowMain").c_str());
}

bool EnsureSingleInstance(const std::string& id, uintptr_t wakeParam) {
  TInstanceState& s = State();
  s.WakeParam = wakeParam;
  std::wstring name = Wide("Local\\QV." + id + ".SingleInstance");
  HANDLE h = CreateMutexW(nullptr, TRUE, name.c_str());
  DWORD err = GetLastError();
  if (h) {
    if (s.Mutex) CloseHandle(s.Mutex);
    s.Mutex = h;
  }
  if (!AnotherInstanceHolds(h != nullptr, err)) return true;
  AllowSetForegroundWindow(ASFW_ANY); // the running instance may bring itself to the front
  TWake wake{ShowMainMessage(id), static_cast<WPARAM>(s.WakeParam)};
  EnumWindows(PostWake, reinterpret_cast<LPARAM>(&wake));
  return false;
}

} // namespace hb::win
