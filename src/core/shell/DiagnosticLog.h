#pragma once
// The daily diagnostic log for support staff, and problem reports with incident tags.
//
// One file per local day, "yyyymmdd.log", in "logs" beside the executable when that folder
// proves writable (tested once per process), else in LOCALAPPDATA\<app folder>\logs. Each line
// is "hh:nn:ss", a blank, the text (control characters escaped) and CR LF, in UTF-8. Every call may
// come from any thread; one process-wide lock keeps lines whole. Nothing here ever throws: a line
// that cannot be written is lost silently.
#include <string>
#include <string_view>

namespace hb {

// The process-wide application folder name WriteLog uses ("hallBoard" until set).
void SetAppFolder(const std::string& appFolder);
std::string AppFolder();

// Appends one line to the log of the process-wide application folder.
void WriteLog(const std::string& text);
// Appends one line to the log of the given application folder.
void AppendLogLine(const std::string& appFolder, const std::string& text);
// Makes an incident tag (code, "-", four characters of "23456789ABCDEFGHJKLMNPQRSTUVWXYZ"),
// appends "[tag] text" and returns the tag, even when the line could not be written.
std::string ReportProblem(const std::string& appFolder, const std::string& code,
                          const std::string& text);
// Today's log file (the folder decision and its creation included). "" only when even the
// platform is missing.
std::string LogFilePath(const std::string& appFolder);

// The text as a line holds it: CR, LF, tab and the other control characters (C0, DEL, C1, the
// Unicode line and paragraph separators) written as visible escapes ("\r", "\x1B", "\u2028"),
// so that no text from outside can end its line and start one of its own.
std::string LogSafeText(std::string_view text);

// Four characters of an incident tag.
std::string NewTagSuffix();

// Tests only: forget the folder decision so the next line tests the executable folder again.
void ResetLogFolderTestForTests();

} // namespace hb
