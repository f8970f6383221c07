// Windows' own libraries come from the system folder only: by name through LoadSystemLibrary,
// and through the delay-load hook for the libraries our modules link delay-loaded.
#include <windows.h>
#include <mmsystem.h>
// delayimp.h needs windows.h first.
#include <delayimp.h>

#include <string>

#include <gtest/gtest.h>

#include "framework/module_path.h"
#include "framework/scoped_handle.h"
#include "framework/system_library.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? Lower(folder) : std::wstring();
}

TEST(SystemLibrary, LoadsFromTheSystemFolder) {
  ov::ScopedModule version(ov::LoadSystemLibrary(L"version.dll"));
  ASSERT_TRUE(version.IsValid()) << GetLastError();
  EXPECT_EQ(SystemFolder(), Lower(ov::FolderOf(ov::ModuleFilePath(version.Get()))));
}

TEST(SystemLibrary, NeverTakesALibraryBesideTheExecutable) {
  // plugin_good.dll lies beside this test executable, not in the system folder.
  ASSERT_NE(INVALID_FILE_ATTRIBUTES,
            GetFileAttributesW(ov::JoinPath(ov::FolderOf(ov::ModuleFilePath(nullptr)), L"plugin_good.dll").c_str()));
  EXPECT_EQ(nullptr, ov::LoadSystemLibrary(L"plugin_good.dll"));
}

TEST(SystemLibrary, RefusesANameWithAPath) {
  EXPECT_EQ(nullptr, ov::LoadSystemLibrary(L"..\\version.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(SystemLibrary, DelayLoadedLibrariesComeThroughTheHook) {
  // The framework links winmm delay-loaded: its first call loads it from the system folder.
  ASSERT_NE(nullptr, __pfnDliNotifyHook2) << "the CRT's empty default hook was linked";
  timeGetTime();
  HMODULE winmm = GetModuleHandleW(L"winmm.dll");
  ASSERT_NE(nullptr, winmm);
  EXPECT_EQ(SystemFolder(), Lower(ov::FolderOf(ov::ModuleFilePath(winmm))));
}

}  // namespace
