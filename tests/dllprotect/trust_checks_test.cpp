// The trust decisions against real files and folders of the test prefix: system folders by
// file identity, the executable folder below program files, the blacklist file, NT paths in
// both forms, and the whole check on real libraries.
#include "dllprotect/trust_checks.h"

#include <windows.h>
#include <sddl.h>

#include <cwctype>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using namespace dllprotect;
using testing_support::CopyFileTo;
using testing_support::OutsideFolder;
using testing_support::ScopedTempFolder;
using testing_support::WriteTextFile;

std::wstring SystemFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder) + L"\\" + name;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

TEST(TrustedPaths, SystemFolderByIdentityNotByText) {
  const TrustedFolders folders = TrustedFolders::OfThisProcess();
  EXPECT_TRUE(IsTrustedPath(SystemFile(L"kernel32.dll"), folders));
  EXPECT_TRUE(IsTrustedPath(Upper(SystemFile(L"kernel32.dll")), folders)) << "another case";
  // <system>\.\..\<last component of system>\kernel32.dll
  const std::wstring last = folders.system.substr(folders.system.find_last_of(L'\\') + 1);
  const std::wstring dotted = folders.system + L"\\.\\..\\" + last + L"\\kernel32.dll";
  EXPECT_TRUE(IsInsideFolder(dotted, folders.system)) << testing_support::WideToUtf8(dotted);
  ScopedTempFolder temp;
  const std::wstring planted = temp.Path() + L"\\kernel32.dll";
  ASSERT_TRUE(CopyFileTo(SystemFile(L"kernel32.dll"), planted));
  EXPECT_FALSE(IsTrustedPath(planted, folders)) << "the same name elsewhere";
  EXPECT_FALSE(IsInsideFolder(SystemFile(L"no-such-file.dll"), folders.system)) << "the file must exist";
}

TEST(TrustedPaths, ExecutableFolderCountsOnlyBelowProgramFiles) {
  TrustedFolders folders = TrustedFolders::OfThisProcess();
  ASSERT_FALSE(folders.programFiles.empty());
  const std::wstring installed = folders.programFiles + L"\\PaliskTrustTest-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(installed.c_str(), nullptr);
  const std::wstring beside = installed + L"\\helper.dll";
  ASSERT_TRUE(WriteTextFile(beside, "not really a dll"));
  folders.executable = installed;
  EXPECT_TRUE(IsTrustedPath(beside, folders)) << "installed under program files";
  ScopedTempFolder downloads;
  const std::wstring fromDownloads = downloads.Path() + L"\\helper.dll";
  ASSERT_TRUE(WriteTextFile(fromDownloads, "not really a dll"));
  folders.executable = downloads.Path();
  EXPECT_FALSE(IsTrustedPath(fromDownloads, folders)) << "run from a downloads folder";
  DeleteFileW(beside.c_str());
  RemoveDirectoryW(installed.c_str());
}

TEST(Blacklist, OnlyAnArrayOfStringsAndOnlyLowerCaseEntriesMatch) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\dllblacklist.json";
  WriteTextFile(path, "{\"blacklist\": [\"bad.dll\", \"Bad2.dll\", \"C:\\\\x\\\\in-a-path.dll\"]}");
  const std::set<std::wstring> list = ReadBlacklistJson(path);
  EXPECT_EQ(3u, list.size());
  EXPECT_TRUE(IsBlacklisted(L"C:\\Temp\\BAD.DLL", list));
  EXPECT_FALSE(IsBlacklisted(L"C:\\Temp\\Bad2.dll", list)) << "an entry with capitals never matches";
  EXPECT_FALSE(IsBlacklisted(L"C:\\x\\in-a-path.dll", list)) << "a path in an entry never matches";
  for (const char* bad : {"{\"blacklist\": \"bad.dll\"}", "[\"bad.dll\"]", "{\"blacklist\": [\"a.dll\", 3]}", "{",
                          "", "{\"other\": []}", "\xEF\xBB\xBF{\"blacklist\": [\"bad.dll\""}) {
    WriteTextFile(path, bad);
    EXPECT_TRUE(ReadBlacklistJson(path).empty()) << bad;
  }
  EXPECT_TRUE(ReadBlacklistJson(folder.Path() + L"\\missing.json").empty());
}

TEST(NtPaths, BothFormsBecomeDosPaths) {
  const std::wstring kernel32 = SystemFile(L"kernel32.dll");
  std::wstring dos;
  ASSERT_EQ(0u, NtPathToDosPath(L"\\??\\" + kernel32, dos));
  EXPECT_EQ(0, _wcsicmp(kernel32.c_str(), dos.c_str()));
  wchar_t device[MAX_PATH];
  ASSERT_NE(0u, QueryDosDeviceW(kernel32.substr(0, 2).c_str(), device, MAX_PATH));
  ASSERT_EQ(0u, NtPathToDosPath(std::wstring(device) + kernel32.substr(2), dos)) << "the \\Device\\... form";
  EXPECT_EQ(0, _wcsicmp(kernel32.c_str(), dos.c_str())) << testing_support::WideToUtf8(dos);
  EXPECT_NE(0u, NtPathToDosPath(L"\\Device\\NoSuchDevice\\x.dll", dos));
}

TEST(SecurityChecks, RealLibrariesFromTrustedAndUntrustedPlaces) {
  const TrustedFolders folders = TrustedFolders::OfThisProcess();
  std::set<std::wstring> blacklist = {L"hypra.dll"};
  CheckContext context;
  context.loadLibraryExW = &LoadLibraryExW;
  context.folders = &folders;
  context.blacklist = &blacklist;
  std::wstring resolved, error;
  EXPECT_EQ(kTrusted, PerformSecurityChecks(context, L"kernel32.dll", 0, resolved, error));
  EXPECT_TRUE(IsInsideFolder(resolved, folders.system)) << testing_support::WideToUtf8(resolved);

  ScopedTempFolder downloads;
  const std::wstring planted = downloads.Path() + L"\\hypra.dll";
  ASSERT_TRUE(CopyFileTo(OutsideFolder() + L"\\hypra.dll", planted));
  EXPECT_EQ(kVulnerablePath, PerformSecurityChecks(context, planted, 0, resolved, error));
  EXPECT_EQ(0, _wcsicmp(planted.c_str(), resolved.c_str()));
  context.options = kCheckSignature;
  EXPECT_EQ(kVulnerablePath, PerformSecurityChecks(context, planted, 0, resolved, error)) << "unsigned";
  context.options = kCheckBlacklist;
  EXPECT_EQ(kTrusted, PerformSecurityChecks(context, planted, 0, resolved, error)) << "report mode lets it load";
  context.blockMode = true;
  EXPECT_EQ(kDllBlocked, PerformSecurityChecks(context, planted, 0, resolved, error));

  EXPECT_EQ(kLoadFailed, PerformSecurityChecks(context, L"no-such-library-at-all.dll", 0, resolved, error));
  EXPECT_EQ(L"no-such-library-at-all.dll", resolved) << "the name as the caller passed it";
  EXPECT_EQ(nullptr, GetModuleHandleW(planted.c_str())) << "the data-file mapping was released";
}

TEST(SecurityChecks, UserFoldersAreWritable) {
  ScopedTempFolder folder;
  EXPECT_TRUE(CanUserWrite(folder.Path()));
  EXPECT_TRUE(CanUserWrite(folder.Path() + L"\\missing")) << "permissions that cannot be read are not safe";
}

bool Writable(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
      << testing_support::WideToUtf8(sddl);
  if (descriptor == nullptr) return false;
  const bool writable = DescriptorLetsOrdinaryAccountsWrite(descriptor);
  LocalFree(descriptor);
  return writable;
}

TEST(SecurityChecks, WriteAccessIsJudgedBySidOwnerAndEveryWriteRight) {
  // Administrators, SYSTEM and TrustedInstaller own and write; users read and execute.
  const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  EXPECT_FALSE(Writable(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"));
  EXPECT_FALSE(Writable((std::wstring(L"O:") + kTrustedInstaller + L"D:P(A;;FA;;;" + kTrustedInstaller +
                         L")(A;;0x1200a9;;;BU)").c_str()));
  EXPECT_FALSE(Writable(L"O:BAD:P(A;;FA;;;SY)(A;OICIIO;FA;;;CO)")) << "inherit-only entries do not apply here";
  // An ordinary owner may rewrite the DACL, unless OWNER RIGHTS says otherwise.
  EXPECT_TRUE(Writable(L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)(A;;0x1200a9;;;BU)"));
  EXPECT_FALSE(Writable(L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)(A;;0x1200a9;;;OW)"));
  // Rights to change the permissions count as write rights.
  EXPECT_TRUE(Writable(L"O:BAD:P(A;;FA;;;SY)(A;;0x40000;;;BU)")) << "WRITE_DAC";
  EXPECT_TRUE(Writable(L"O:BAD:P(A;;FA;;;SY)(A;;0x80000;;;BU)")) << "WRITE_OWNER";
  EXPECT_TRUE(Writable(L"O:BAD:P(A;;FA;;;SY)(A;;0x2;;;AU)")) << "FILE_ADD_FILE";
  // A null DACL (built by hand: Wine's SDDL parser reads "D:NO_ACCESS_CONTROL" as an empty one).
  SECURITY_DESCRIPTOR unrestricted;
  ASSERT_TRUE(InitializeSecurityDescriptor(&unrestricted, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&unrestricted, TRUE, nullptr, FALSE));
  PSID administrators = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-544", &administrators));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&unrestricted, administrators, FALSE));
  EXPECT_TRUE(DescriptorLetsOrdinaryAccountsWrite(&unrestricted)) << "a null DACL";
  LocalFree(administrators);
}

TEST(TrustedPaths, PrefixedAndUncPathsKeepTheirRoot) {
  const TrustedFolders folders = TrustedFolders::OfThisProcess();
  // A path that starts with two separators is no relative path from the current folder.
  EXPECT_TRUE(IsInsideFolder(L"\\\\?\\" + SystemFile(L"kernel32.dll"), folders.system));
  EXPECT_TRUE(IsInsideFolder(SystemFile(L"kernel32.dll"), L"\\\\?\\" + folders.system));
  EXPECT_EQ(L"\\\\srv\\share\\dir\\", LeadingComponents(L"\\\\srv\\share\\dir\\sub", 3));
  EXPECT_EQ(L"\\\\srv\\share\\", LeadingComponents(L"\\\\?\\UNC\\srv\\share\\dir", 2));
  EXPECT_EQ(L"C:\\Windows\\", LeadingComponents(L"\\\\?\\C:\\Windows\\System32", 2));
  EXPECT_EQ(L"", LeadingComponents(L"\\\\srv\\share", 3));
}

}  // namespace
