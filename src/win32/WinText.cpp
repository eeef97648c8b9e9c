#include "WinText.h"

#include <windows.h>

#include <cstdio>

namespace hb::win {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const wchar_t* wide, size_t length) {
  if (!wide || length == 0) return {};
  int n =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Utf8(const std::wstring& wide) {
  return Utf8(wide.data(), wide.size());
}

std::string HexCode(unsigned long code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", code);
  return buf;
}

} // namespace hb::win
