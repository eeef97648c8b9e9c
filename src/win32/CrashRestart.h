#pragma once
// Restart after the program's own crash or hang, through Windows' own mechanism: the program
// registers once at start, and Windows Error Reporting starts it again when it dies of an
// unhandled exception or is ended as not responding. hallBoard is the only thing on the shop's
// screen: without this a crash leaves a desktop until someone comes by.
#include <windows.h>

namespace hb::win {

// The signature of kernel32's RegisterApplicationRestart.
using TRegisterRestartProc = HRESULT(WINAPI*)(PCWSTR commandLine, DWORD flags);

// Registers this process for restart after a crash, a hang, an update and a reboot (no flag
// excludes any), with no command-line arguments: the restarted program starts as normal. proc
// null: kernel32's own, looked up at run time. Returns the call's result (E_NOTIMPL when the
// system has no such function).
HRESULT RegisterCrashRestart(TRegisterRestartProc proc = nullptr);

} // namespace hb::win
