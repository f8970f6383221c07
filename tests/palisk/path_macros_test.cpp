// Path macros through the shell's folders and the environment, and the working folder.
#include "installer/palisk/path_macros.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "installer/palisk/working_folder.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ScopedTempFolder;
using testing_support::WriteTextFile;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Points %TEMP% of this process at a scratch folder for one test.
class ScopedTemp {
 public:
  explicit ScopedTemp(const std::wstring& folder) {
    wchar_t old[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TEMP", old, MAX_PATH);
    m_old = old;
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
  }
  ~ScopedTemp() { SetEnvironmentVariableW(L"TEMP", m_old.c_str()); }

 private:
  std::wstring m_old;
};

TEST(PathMacros, TableNamesGoThroughTheShellAndComeBackLowercased) {
  wchar_t folder[MAX_PATH];
  ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder));
  SetEnvironmentVariableW(L"ProgramFiles", L"C:\\Not\\From\\The\\Environment");
  std::wstring out;
  ASSERT_TRUE(palisk::ExpandPathMacros(L"%ProgramFiles%\\Orvane", out));
  EXPECT_EQ(Lower(folder) + L"\\orvane", out);
  ASSERT_TRUE(palisk::ExpandPathMacros(L"%ProgramData%", out));
  std::wstring common;
  ASSERT_TRUE(palisk::ExpandPathMacros(L"%commonappdata%", common));
  EXPECT_EQ(common, out);
}

TEST(PathMacros, EnvironmentNamesGiveTheirLongForm) {
  ScopedTempFolder folder;
  const std::wstring longName = folder.Make(L"Long Folder Name");
  CreateDirectoryW(longName.c_str(), nullptr);
  wchar_t shortName[MAX_PATH];
  ASSERT_NE(0u, GetShortPathNameW(longName.c_str(), shortName, MAX_PATH));
  ScopedTemp temp(shortName);
  std::wstring out;
  ASSERT_TRUE(palisk::ExpandPathMacros(L"%TEMP%\\Kit", out));
  std::wstring expected = longName;
  palisk::ToLongPath(expected);
  EXPECT_EQ(expected + L"\\kit", out) << "the literal part is lowercased";
}

TEST(PathMacros, PercentSignsAndUnknownNames) {
  std::wstring out;
  ASSERT_TRUE(palisk::ExpandPathMacros(L"100%%", out));
  EXPECT_EQ(L"100%", out);
  ASSERT_TRUE(palisk::ExpandPathMacros(L"a%b", out));
  EXPECT_EQ(L"a%b", out);
  ASSERT_TRUE(palisk::ExpandPathMacros(L"X%NoSuchVariable_Palisk%Y", out));
  EXPECT_EQ(L"x%nosuchvariable_palisk%y", out);
  EXPECT_FALSE(palisk::ExpandPathMacros(L"", out));
  EXPECT_EQ(L"", out);
}

TEST(WorkingFolder, TakesTheFirstFreeNumber) {
  ScopedTempFolder folder;
  ScopedTemp temp(folder.Path());
  for (int n = 1; n <= 5; ++n) {
    CreateDirectoryW((folder.Path() + L"\\ovtempdir0" + std::to_wstring(n)).c_str(), nullptr);
  }
  std::wstring working;
  ASSERT_EQ(0u, palisk::CreateWorkingFolder(working));
  std::wstring expected = folder.Path();
  palisk::ToLongPath(expected);
  EXPECT_EQ(expected + L"\\ovtempdir06", working);
}

TEST(WorkingFolder, NinetyNineTakenGives1627AndNoFolder) {
  ScopedTempFolder folder;
  ScopedTemp temp(folder.Path());
  for (int n = 1; n <= 99; ++n) {
    wchar_t name[16];
    _snwprintf(name, 16, L"ovtempdir%02d", n);
    CreateDirectoryW((folder.Path() + L"\\" + name).c_str(), nullptr);
  }
  std::wstring working = L"stale";
  EXPECT_EQ(static_cast<unsigned long>(ERROR_FUNCTION_FAILED), palisk::CreateWorkingFolder(working));
  EXPECT_EQ(L"", working);
}

TEST(RemoveFolderTree, RemovesNestedAndReadOnlyFiles) {
  ScopedTempFolder folder;
  const std::wstring root = folder.Make(L"ovtempdir01");
  ASSERT_TRUE(WriteTextFile(root + L"\\x86\\Installer.exe", "MZ"));
  ASSERT_TRUE(WriteTextFile(root + L"\\x86\\deep\\data.xml", "<x/>"));
  ASSERT_TRUE(WriteTextFile(root + L"\\kit.cat", "cat"));
  SetFileAttributesW((root + L"\\kit.cat").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(1, palisk::RemoveFolderTree(root));
  EXPECT_FALSE(FileExists(root));
}

TEST(RemoveFolderTree, MissingOrEmptyPathDoesNothing) {
  EXPECT_EQ(0, palisk::RemoveFolderTree(L""));
  ScopedTempFolder folder;
  EXPECT_EQ(0, palisk::RemoveFolderTree(folder.Path() + L"\\absent"));
}

TEST(RemoveFolderTree, HeldFileIsRenamedAndTheFolderStays) {
  ScopedTempFolder folder;
  const std::wstring root = folder.Make(L"ovtempdir01");
  const std::wstring held = root + L"\\held.dll";
  ASSERT_TRUE(WriteTextFile(held, "locked"));
  ASSERT_TRUE(WriteTextFile(root + L"\\free.txt", "free"));
  // Open without FILE_SHARE_DELETE: the file can be neither deleted nor renamed... on
  // Windows. Sharing for delete lets the rename through while the deletion stays pending.
  ov::ScopedHandle handle(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(handle.IsValid());
  palisk::RemoveFolderTree(root);
  EXPECT_FALSE(FileExists(held)) << "the name is free again";
  EXPECT_FALSE(FileExists(root + L"\\free.txt"));
  handle.Close();
}

}  // namespace
