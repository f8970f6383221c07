// Path macros through the shell's folders and the environment, and the working folder.
#include "installer/palisk/path_macros.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <cstring>
#include <cwctype>
#include <vector>

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "installer/palisk/working_folder.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ScopedTempFolder;
using testing_support::Utf8ToWide;
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

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The allowed entries of a file's or folder's DACL, and its control flags.
struct Dacl {
  explicit Dacl(const std::wstring& path) {
    PACL dacl = nullptr;
    read = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                 nullptr, &descriptor) == ERROR_SUCCESS;
    DWORD revision = 0;
    if (read) GetSecurityDescriptorControl(descriptor, &control, &revision);
    for (DWORD i = 0; read && dacl != nullptr && i < dacl->AceCount; ++i) {
      ACE_HEADER* ace = nullptr;
      if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
        allowed.push_back(reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace));
      }
    }
  }
  ~Dacl() { LocalFree(descriptor); }
  // The entry that grants `sid` something; null when none does.
  const ACCESS_ALLOWED_ACE* For(PSID sid) const {
    for (const ACCESS_ALLOWED_ACE* ace : allowed) {
      if (EqualSid(sid, const_cast<DWORD*>(&ace->SidStart))) return ace;
    }
    return nullptr;
  }
  const ACCESS_ALLOWED_ACE* For(WELL_KNOWN_SID_TYPE type) const {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    return CreateWellKnownSid(type, nullptr, sid, &size) ? For(sid) : nullptr;
  }

  bool read = false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  std::vector<const ACCESS_ALLOWED_ACE*> allowed;
};

std::vector<BYTE> ProcessUser() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  GetTokenInformation(token, TokenUser, user.data(), size, &size);
  CloseHandle(token);
  return user;
}

// Under C:\Windows\Temp other users may create files in a new subfolder: the working folder
// must not take %temp%'s rights. Wine keeps no stored descriptors: it turns the one given into
// unix permission bits and reads back a DACL made from them (SYSTEM and the user, never the
// administrators, never protected, and new files inside get theirs from the umask). There only
// what the bits can say is checked.
TEST(WorkingFolder, IsPrivateToTheUserSystemAndAdministrators) {
  ScopedTempFolder folder;
  ScopedTemp temp(folder.Path());
  std::wstring working;
  ASSERT_EQ(0u, palisk::CreateWorkingFolder(working));
  const Dacl dacl(working);
  ASSERT_TRUE(dacl.read);
  for (WELL_KNOWN_SID_TYPE others : {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid}) {
    EXPECT_EQ(nullptr, dacl.For(others)) << "well-known SID type " << others;
  }
  const std::vector<BYTE> user = ProcessUser();
  ASSERT_FALSE(user.empty());
  for (const ACCESS_ALLOWED_ACE* ace : {dacl.For(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid),
                                        dacl.For(WinLocalSystemSid)}) {
    ASSERT_NE(nullptr, ace);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask & FILE_ALL_ACCESS);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
  }
  if (UnderWine()) return;
  EXPECT_TRUE(dacl.control & SE_DACL_PROTECTED) << "nothing inherited from %temp%";
  ASSERT_NE(nullptr, dacl.For(WinBuiltinAdministratorsSid));
  EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), dacl.For(WinBuiltinAdministratorsSid)->Mask & FILE_ALL_ACCESS);

  ASSERT_TRUE(WriteTextFile(working + L"\\x64\\kit.dll", "MZ"));
  const Dacl inside(working + L"\\x64\\kit.dll");
  ASSERT_TRUE(inside.read);
  ASSERT_EQ(3u, inside.allowed.size());
  for (const ACCESS_ALLOWED_ACE* ace : inside.allowed) EXPECT_TRUE(ace->Header.AceFlags & INHERITED_ACE);
  EXPECT_EQ(nullptr, inside.For(WinWorldSid));
  EXPECT_EQ(nullptr, inside.For(WinBuiltinUsersSid));
  EXPECT_NE(nullptr, inside.For(WinBuiltinAdministratorsSid));
}

// A Windows path's unix name under Wine ("" elsewhere).
std::string UnixName(const std::wstring& path) {
  using UnixNameFn = char*(CDECL*)(const wchar_t*);
  auto unixName = ov::GetProc<UnixNameFn>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
  char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
  if (name == nullptr) return std::string();
  std::string copy = name;
  HeapFree(GetProcessHeap(), 0, name);
  return copy;
}

// Wine starts unix programs too: the way to a unix symbolic link, which it shows as a folder
// that is a reparse point, as Windows shows a junction.
// `program` is a unix path below /, which a Wine prefix maps to Z:. True when it ran.
bool RunUnix(const std::wstring& program, const std::wstring& arguments) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring file = L"Z:" + program;
  for (wchar_t& c : file) {
    if (c == L'/') c = L'\\';
  }
  std::wstring line = program + L" " + arguments;
  if (!CreateProcessW(file.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return false;
  // Wine cannot read a unix program's exit code: callers look at what it did.
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// A junction (a mount-point reparse point) at `link` to `target`. Wine 8 has no reparse points
// (FSCTL_SET_REPARSE_POINT fails with 50): there the link is a unix symbolic link.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  constexpr size_t kReparseHeader = 8;  // tag, data length, reserved
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const std::wstring substitute = L"\\??\\" + target;
  std::vector<BYTE> buffer(kReparseHeader + 8 + (substitute.size() + target.size() + 2) * 2);
  auto* data = reinterpret_cast<REPARSE_GUID_DATA_BUFFER*>(buffer.data());  // tag and length only
  data->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  data->ReparseDataLength = static_cast<WORD>(buffer.size() - kReparseHeader);
  WORD* names = reinterpret_cast<WORD*>(buffer.data() + kReparseHeader);
  names[0] = 0;                                              // substitute name offset
  names[1] = static_cast<WORD>(substitute.size() * 2);       // its length
  names[2] = static_cast<WORD>(names[1] + 2);                // print name offset
  names[3] = static_cast<WORD>(target.size() * 2);           // its length
  std::memcpy(names + 4, substitute.c_str(), names[1]);
  std::memcpy(reinterpret_cast<BYTE*>(names + 4) + names[2], target.c_str(), names[3]);
  ov::ScopedHandle folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  DWORD returned = 0;
  if (folder.IsValid() && DeviceIoControl(folder.Get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                          static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr)) {
    return true;
  }
  folder.Close();
  RemoveDirectoryW(link.c_str());
  const std::string unixTarget = UnixName(target), unixLink = UnixName(link);
  if (unixTarget.empty() || unixLink.empty() ||
      !RunUnix(L"/bin/ln", L"-s \"" + Utf8ToWide(unixTarget) + L"\" \"" + Utf8ToWide(unixLink) + L"\"")) {
    return false;
  }
  // Wine's handle to a unix process may be signalled before the program has run: wait for the link.
  for (int tries = 0; tries < 200 && GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++tries) Sleep(25);
  return true;
}

// A junction in the working folder to a folder outside: the run running as SYSTEM must not
// empty the folder it points to.
TEST(RemoveFolderTree, JunctionIsRemovedAndNothingBehindIt) {
  ScopedTempFolder folder;
  const std::wstring outside = folder.Make(L"outside");
  ASSERT_TRUE(WriteTextFile(outside + L"\\keep.txt", "keep"));
  ASSERT_TRUE(WriteTextFile(outside + L"\\sub\\keep.dll", "keep"));
  const std::wstring root = folder.Make(L"ovtempdir01");
  ASSERT_TRUE(WriteTextFile(root + L"\\kit.cat", "cat"));
  const std::wstring link = root + L"\\x64";
  ASSERT_TRUE(MakeJunction(link, outside));
  const DWORD attributes = GetFileAttributesW(link.c_str());
  ASSERT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
  ASSERT_TRUE(FileExists(link + L"\\keep.txt")) << "the link leads outside";

  EXPECT_EQ(1, palisk::RemoveFolderTree(root));
  EXPECT_TRUE(FileExists(outside + L"\\keep.txt"));
  EXPECT_TRUE(FileExists(outside + L"\\sub\\keep.dll"));
  EXPECT_FALSE(FileExists(root + L"\\kit.cat"));
  if (!UnderWine()) {
    EXPECT_FALSE(FileExists(link)) << "the junction itself is removed";
    EXPECT_FALSE(FileExists(root));
  } else {
    // Wine opens a link's target even when asked for the link: the link is left, never
    // deleted through a handle to what it points to.
    RunUnix(L"/bin/rm", L"\"" + Utf8ToWide(UnixName(link)) + L"\"");
  }
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
