// A stand-in for Windows PowerShell, placed by the smoke runs where the program looks for it
// (the system folder's WindowsPowerShell\v1.0\powershell.exe). It records where it was started
// from and its command line, then does what the real installer script does first: it creates
// the start marker named in the script's second line ($started), so the program knows the installer
// runs and closes. It installs nothing; the smoke run checks the staged files it leaves.
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

bool WriteAll(const std::wstring& path, const std::string& bytes, DWORD disposition) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

std::string ReadAll(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(h);
  return out;
}

// The marker path of "$started='<marker>'", quotes undoubled.
std::string MarkerOf(const std::string& script) {
  const std::string head = "\r\n$started='", tail = "'\r\n";
  size_t at = script.find(head);
  if (at == std::string::npos) return {};
  at += head.size();
  size_t end = script.find(tail, at);
  if (end == std::string::npos) return {};
  std::string quoted = script.substr(at, end - at), out;
  for (size_t i = 0; i < quoted.size(); ++i) {
    out += quoted[i];
    if (quoted[i] == '\'' && i + 1 < quoted.size() && quoted[i + 1] == '\'') ++i;
  }
  return out;
}

} // namespace

int main() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::string record = Utf8(std::wstring(self, n)) + "\n" + Utf8(GetCommandLineW()) + "\n";
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring script;
  for (int i = 1; argv && i + 1 < argc; ++i)
    if (lstrcmpiW(argv[i], L"-File") == 0) script = argv[i + 1];
  if (argv) LocalFree(argv);
  const std::string marker = MarkerOf(ReadAll(script));
  record += "marker " + marker + "\n";
  WriteAll(L"C:\\powershell-record.txt", record, CREATE_ALWAYS);
  if (marker.empty()) return 2;
  return WriteAll(Wide(marker), "", CREATE_NEW) ? 0 : 3;
}
