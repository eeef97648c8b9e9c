#include "shell/ExceptionLogger.h"

#include <memory>

#include "AppIdentity.h"
#include "Exception.h"
#include "shell/DiagnosticLog.h"

namespace hb {

namespace {

// User-interface thread only, like every handler it serves.
std::unique_ptr<TExceptionLogger>& Instance() {
  static std::unique_ptr<TExceptionLogger> logger;
  return logger;
}

} // namespace

std::string TExceptionLogger::Detail(const std::exception& e) {
  return ExceptionKindName(e) + "：" + e.what();
}

std::string TExceptionLogger::Message(const std::string& tag) const {
  return FriendlyText + "。\r\n错误码 " + tag;
}

void TExceptionLogger::Report(const std::string& detail) noexcept {
  std::string tag;
  try {
    tag = ReportProblem(AppFolder, Code, detail);
  } catch (...) {
    return; // not even a tag could be made (out of memory): nothing sensible to show
  }
  if (FShowing) return; // the open dialog already asks the user; the line is in the log
  FShowing = true;
  try {
    // A copy: a handler run inside the dialog's modal loop may install the logger anew.
    TShowShellDialogProc show = Show;
    if (show) show(kExceptionDialogTitle, Message(tag), {kExceptionDialogButton}, 0, -1);
  } catch (...) {
    // The dialog could not be built; the report is in the log and the program carries on.
  }
  FShowing = false;
}

void TExceptionLogger::Handle(const std::exception& e) noexcept {
  std::string detail;
  try {
    detail = Detail(e);
  } catch (...) {
    return;
  }
  Report(detail);
}

void TExceptionLogger::HandleUnknown() noexcept {
  try {
    Report(std::string("Exception") + "：" + kUnknownExceptionText);
  } catch (...) {
  }
}

void InstallExceptionLogger(const std::string& appFolder, const std::string& code,
                            const std::string& friendlyText, TShowShellDialogProc show) {
  std::unique_ptr<TExceptionLogger>& logger = Instance();
  if (!logger) logger = std::make_unique<TExceptionLogger>();
  logger->AppFolder = appFolder;
  logger->Code = code;
  logger->FriendlyText = friendlyText;
  logger->Show = std::move(show);
}

TExceptionLogger* ExceptionLogger() {
  return Instance().get();
}

void HandleException(const std::exception& e) noexcept {
  if (TExceptionLogger* logger = ExceptionLogger()) {
    logger->Handle(e);
    return;
  }
  try {
    TExceptionLogger fallback;
    fallback.AppFolder = kAppFolder;
    fallback.Code = kExceptionCode;
    fallback.FriendlyText = kExceptionFriendlyText;
    fallback.Handle(e);
  } catch (...) {
  }
}

void HandleUnknownException() noexcept {
  if (TExceptionLogger* logger = ExceptionLogger()) {
    logger->HandleUnknown();
    return;
  }
  try {
    TExceptionLogger fallback;
    fallback.AppFolder = kAppFolder;
    fallback.Code = kExceptionCode;
    fallback.FriendlyText = kExceptionFriendlyText;
    fallback.HandleUnknown();
  } catch (...) {
  }
}

} // namespace hb
