// Kernel, COM and shell services behind ISystem.
#include "Win32System.h"

#include <windows.h>
// after windows.h
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>

#include "WinText.h"

namespace hb::win {
namespace {

std::string WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return Utf8(folder);
}

} // namespace

uint64_t TWin32System::TickCount64() {
  return GetTickCount64();
}

int64_t TWin32System::UtcNowUnixMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // FILETIME counts 100 ns steps since 1601-01-01.
  return static_cast<int64_t>((t - 116444736000000000ULL) / 10000);
}

TLocalTime TWin32System::LocalNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

std::string TWin32System::NewGuid() {
  GUID g;
  if (FAILED(CoCreateGuid(&g))) return {};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::string TWin32System::ExeFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2); // truncated: long paths beyond MAX_PATH
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string() : Utf8(path.substr(0, slash + 1));
}

std::string TWin32System::TempFolder() {
  wchar_t shortPath[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, shortPath);
  if (n == 0 || n > MAX_PATH) return {};
  // GetTempPathW may hand back an 8.3 form (C:\Users\ADMINI~1\...); the long form is what the
  // log and the installer script show to people.
  DWORD need = GetLongPathNameW(shortPath, nullptr, 0);
  if (need == 0) return WithSeparator(shortPath);
  std::wstring longPath(need, L'\0');
  DWORD got = GetLongPathNameW(shortPath, longPath.data(), need);
  if (got == 0 || got >= need) return WithSeparator(shortPath);
  longPath.resize(got);
  return WithSeparator(longPath);
}

std::string TWin32System::LocalAppData() {
  DWORD need = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (need != 0) {
    std::wstring value(need, L'\0');
    DWORD got = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), need);
    if (got != 0 && got < need) {
      value.resize(got);
      if (!PathIsRelativeW(value.c_str())) return Utf8(value);
    }
  }
  // Missing or relative (a service account, a stripped environment): a relative folder would be
  // resolved against the program's folder by the browser and against the working folder by the
  // program, two different places. The shell's own answer for this user is absolute.
  wchar_t path[MAX_PATH] = {};
  if (SUCCEEDED(
          SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)) &&
      path[0] && !PathIsRelativeW(path))
    return Utf8(path);
  // Last resort, still absolute and still this user's.
  std::string temp = TempFolder();
  if (!temp.empty() && (temp.back() == '\\' || temp.back() == '/')) temp.pop_back();
  return temp;
}

bool TWin32System::FileLockedElsewhere(const std::string& path) {
  // An open for reading is refused while the installer holds the file without sharing (one for
  // the attributes alone is not: sharing guards the data only).
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

uint32_t TWin32System::ProcessId() {
  return GetCurrentProcessId();
}

void TWin32System::KeepAwake(bool on) {
  SetThreadExecutionState(on ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)
                             : ES_CONTINUOUS);
}

std::wstring InstallerParameters(const std::wstring& scriptPath) {
  return L"-NoProfile -ExecutionPolicy Bypass -File \"" + scriptPath + L"\"";
}

std::wstring WindowsPowerShellPath() {
  wchar_t dir[MAX_PATH];
  UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::wstring path(dir, n);
  if (path.back() != L'\\') path += L'\\';
  return path + L"WindowsPowerShell\\v1.0\\powershell.exe";
}

bool TWin32System::LaunchInstaller(const std::string& scriptPath) {
  // The full path from the system folder: a bare "powershell.exe" is looked up along the search
  // path, starting in folders an attacker may be able to write.
  const std::wstring exe = WindowsPowerShellPath();
  if (exe.empty()) return false;
  std::wstring params = InstallerParameters(Wide(scriptPath));
  // ShellExecuteW may hand the start to a shell extension through COM; the update thread has
  // no apartment of its own, so it gets one for the call.
  HRESULT co = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  HINSTANCE h = ShellExecuteW(nullptr, L"open", exe.c_str(), params.c_str(), nullptr, SW_HIDE);
  if (SUCCEEDED(co)) CoUninitialize();
  return reinterpret_cast<INT_PTR>(h) > 32;
}

std::string TWin32System::FileNameKey(const std::string& name) {
  std::wstring w = Wide(name);
  if (w.empty()) return {};
  // The invariant upper-case mapping is the one the file system uses for its names: one code
  // unit for one, every alphabet, no locale tailoring (no Turkish dotless i surprises).
  std::wstring upper(w.size(), L'\0');
  int n =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, w.data(), static_cast<int>(w.size()),
                    upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (n <= 0) {
    upper = w;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  } else {
    upper.resize(static_cast<size_t>(n));
  }
  return Utf8(upper);
}

std::string TWin32System::DecodeGbk(const std::string& bytes) {
  if (bytes.empty()) return {};
  auto convert = [](const char* p, int n, std::wstring& out) {
    int len = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, p, n, nullptr, 0);
    if (len <= 0) return false;
    out.resize(static_cast<size_t>(len));
    return MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, p, n, out.data(), len) == len;
  };
  std::wstring whole;
  if (convert(bytes.data(), static_cast<int>(bytes.size()), whole)) return Utf8(whole);
  // Some sequence is invalid: the system would silently put its own default character there, so
  // decode piece by piece and mark each bad byte with U+FFFD instead.
  std::wstring out;
  size_t i = 0;
  while (i < bytes.size()) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    std::wstring piece;
    if (i + 1 < bytes.size() && convert(bytes.data() + i, 2, piece) && piece.size() == 1) {
      out += piece;
      i += 2;
    } else if (convert(bytes.data() + i, 1, piece) && piece.size() == 1) {
      out += piece; // a single-byte character of the code page (0x80 is the euro sign)
      ++i;
    } else {
      out += L'\xFFFD';
      ++i;
    }
  }
  return Utf8(out);
}

} // namespace hb::win
