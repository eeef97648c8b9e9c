// What the linked program carries: the icon at the sizes the windows load, the version
// information, and the manifest asking for per-monitor DPI awareness.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "AppVersion.h"
#include "WinText.h"

namespace hb::win {
namespace {

struct TProgram {
  HMODULE Module = LoadLibraryExW(Wide(HB_PROGRAM_EXE).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ~TProgram() {
    if (Module) FreeLibrary(Module);
  }
};

TEST(ProgramResources, IconAtEverySizeTheWindowsUse) {
  TProgram p;
  ASSERT_NE(p.Module, nullptr) << HB_PROGRAM_EXE;
  for (int size : {16, 32, 48, 96, 256}) {
    auto* icon = static_cast<HICON>(
        LoadImageW(p.Module, L"MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, size);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  // The dialog's "STATEOK" does not exist: the place stays empty.
  EXPECT_EQ(LoadImageW(p.Module, L"STATEOK", IMAGE_ICON, 32, 32, 0), nullptr);
}

TEST(ProgramResources, VersionAndManifest) {
  std::wstring path = Wide(HB_PROGRAM_EXE);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
  // The resource carries the version set in CMakeLists.txt, the one the program reports.
  EXPECT_EQ(fixed->dwFileVersionMS, (DWORD{HALLBOARD_VERSION_MAJOR} << 16) | HALLBOARD_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileVersionLS, DWORD{HALLBOARD_VERSION_PATCH} << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  for (const wchar_t* name : {L"\\StringFileInfo\\080404b0\\ProductVersion",
                              L"\\StringFileInfo\\080404b0\\FileVersion"}) {
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), name, reinterpret_cast<void**>(&text), &len)) << name;
    EXPECT_EQ(Utf8(text), HALLBOARD_VERSION_TEXT) << name;
  }

  TProgram p;
  HRSRC manifest = FindResourceW(p.Module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  auto* bytes = static_cast<const char*>(LockResource(LoadResource(p.Module, manifest)));
  std::string xml(bytes, SizeofResource(p.Module, manifest));
  EXPECT_NE(xml.find("PerMonitorV2"), std::string::npos);
}

} // namespace
} // namespace hb::win
