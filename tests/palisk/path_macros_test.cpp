// Path macros through the shell's folders and the environment, and the working folder.
#include "installer/palisk/path_macros.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <vector>

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

TEST(RemoveFolderTree, FileOpenForReadingDoesNotKeepItsName) {
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

// What Windows keeps for the next restart: pairs of names, each pair ending in an empty name.
std::wstring PendingRenames() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return std::wstring();
  }
  std::vector<wchar_t> value(65536);
  DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  std::wstring all;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(value.data()), &size) == ERROR_SUCCESS) {
    all.assign(value.data(), size / sizeof(wchar_t));
  }
  RegCloseKey(key);
  return all;
}

TEST(RemoveFolderTree, LoadedLibraryIsRenamedAndLeftForTheNextRestart) {
  ScopedTempFolder folder;
  const std::wstring root = folder.Make(L"ovtempdir01");
  const std::wstring dll = root + L"\\busy.dll";
  ASSERT_TRUE(testing_support::CopyFileTo(testing_support::TestBinFolder() + L"\\collections_peer.dll", dll));
  HMODULE module = LoadLibraryW(dll.c_str());
  ASSERT_NE(nullptr, module);
  palisk::RemoveFolderTree(root);
  EXPECT_FALSE(FileExists(dll)) << "the name is free for the next run";

  // Windows cannot delete a mapped image: the renamed file stays, scheduled for the restart,
  // and so does its folder. (Wine may delete it at once; then nothing is left to schedule.)
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + L"\\busy.dll*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    const std::wstring left = data.cFileName;
    FindClose(find);
    EXPECT_EQ(0u, left.find(L"busy.dll"));
    EXPECT_GT(left.size(), 8u) << "renamed with the time in seconds appended";
    EXPECT_NE(std::wstring::npos, PendingRenames().find(left));
  }
  FreeLibrary(module);
}

}  // namespace

namespace {

// A name longer than any file system allows cannot be made long: the text stays as it is.
TEST(ToLongPath, OverlongNamesFailAndLeaveThePathAlone) {
  std::wstring path = L"C:\\" + std::wstring(2000, L'x') + L"\\file.txt";
  const std::wstring before = path;
  EXPECT_EQ(static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE), palisk::ToLongPath(path));
  EXPECT_EQ(before, path);
  // An unknown variable that long stays as written (the environment has no such name).
  const std::wstring unknown = L"%" + std::wstring(1500, L'x') + L"%";
  std::wstring expanded;
  ASSERT_TRUE(palisk::ExpandPathMacros(unknown, expanded));
  EXPECT_EQ(unknown, expanded);
}

}  // namespace
