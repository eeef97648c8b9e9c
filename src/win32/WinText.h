#pragma once
// UTF-8 <-> UTF-16 at the Windows boundary: the core speaks UTF-8, every Win32 call is a W call.
#include <string>

namespace hb::win {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide, size_t length);
// "0x80070002"-style text of an HRESULT or Win32 error, for log lines.
std::string HexCode(unsigned long code);

} // namespace hb::win
