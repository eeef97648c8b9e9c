#include "CrashRestart.h"

namespace hb::win {

HRESULT RegisterCrashRestart(TRegisterRestartProc proc) {
  if (!proc) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel)
      proc = reinterpret_cast<TRegisterRestartProc>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "RegisterApplicationRestart")));
  }
  if (!proc) return E_NOTIMPL;
  // Windows restarts only a program that has run for at least 60 seconds, so a program that
  // crashes at once cannot loop; nothing of ours needs to guard that.
  return proc(L"", 0);
}

} // namespace hb::win
