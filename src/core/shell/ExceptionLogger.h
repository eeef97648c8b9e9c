#pragma once
// The program's last word on an exception that escaped an event handler on the user-interface
// thread: a problem report with an incident tag in the log, and a small dialog that tells the
// user in plain words, with the tag to quote to support. The program then carries on.
//
// The shells wrap every handler they run (window procedures, COM and GTK callbacks, timers) in
// Guarded, so no exception ever crosses into the operating system.
#include <exception>
#include <string>

#include "shell/ShellDialog.h"

namespace hb {

constexpr const char* kExceptionDialogTitle = "遇到一点问题";
constexpr const char* kExceptionDialogButton = "知道了";
// What an exception that carries no message or kind of its own is logged as.
constexpr const char* kUnknownExceptionText = "未知错误";

class TExceptionLogger {
 public:
  std::string AppFolder;
  std::string Code;
  std::string FriendlyText;
  TShowShellDialogProc Show;

  // Reports e and shows the dialog. Never throws: a dialog that cannot be shown leaves the
  // report in the log.
  void Handle(const std::exception& e) noexcept;
  // For exceptions of no known kind.
  void HandleUnknown() noexcept;

  // The texts, for the shells and the tests.
  static std::string Detail(const std::exception& e);
  std::string Message(const std::string& tag) const;

 private:
  void Report(const std::string& detail) noexcept;
  // The dialog is open: a report made meanwhile (from a handler its modal loop runs) is logged
  // without a second dialog.
  bool FShowing = false;
};

// Creates the process-wide logger on the first call; every call sets its texts and the shell's
// dialog procedure (a later call replaces the earlier values).
void InstallExceptionLogger(const std::string& appFolder, const std::string& code,
                            const std::string& friendlyText, TShowShellDialogProc show);
// The process-wide logger; null before InstallExceptionLogger.
TExceptionLogger* ExceptionLogger();

// Hands e to the installed logger. Before one is installed the report still reaches the log
// under the program's folder and code, without a dialog.
void HandleException(const std::exception& e) noexcept;
void HandleUnknownException() noexcept;

// Runs f and hands anything it throws to the logger; nothing escapes.
template <class F> void Guarded(F&& f) noexcept {
  try {
    f();
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    HandleUnknownException();
  }
}

} // namespace hb
