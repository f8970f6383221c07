// NT paths to DOS paths with the answers Windows gives: stand-ins for NtCreateFile,
// GetFinalPathNameByHandleW, QueryDosDeviceW and GetLongPathNameW that answer from a small
// table of volumes and files as Windows' functions are documented to (a buffer that is too
// small gets the size needed, its null included; a volume without a drive letter has no DOS
// name), once as on Windows, where NtCreateFile opens "\Device\HarddiskVolumeN\..." names, and
// once as on Wine, where it does not.
#include "dllprotect/nt_paths.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace dllprotect;

struct FakeFile {
  std::wstring ntPath;     // what NtCreateFile opens
  std::wstring finalPath;  // GetFinalPathNameByHandleW, VOLUME_NAME_DOS; empty: no DOS name
  std::wstring guidPath;   // GetFinalPathNameByHandleW, VOLUME_NAME_GUID
};

const std::wstring kLongFolder = L"\\Users\\bob\\" + std::wstring(280, L'n');
const std::wstring kNoLetterVolume = L"\\\\?\\Volume{6f1d3a52-0000-4c1e-9a1b-7e2d5c4b3a21}";
const std::vector<FakeFile> kFiles = {
    {L"\\Device\\HarddiskVolume3\\Users\\bob\\x.dll", L"\\\\?\\C:\\Users\\bob\\x.dll",
     L"\\\\?\\Volume{0c0c0c0c-0000-0000-0000-000000000003}\\Users\\bob\\x.dll"},
    {L"\\Device\\Mup\\server\\share\\x.dll", L"\\\\?\\UNC\\server\\share\\x.dll", L""},
    {L"\\Device\\HarddiskVolume1\\y.dll", L"", kNoLetterVolume + L"\\y.dll"},
    {L"\\??\\Volume{6f1d3a52-0000-4c1e-9a1b-7e2d5c4b3a21}\\y.dll", L"", kNoLetterVolume + L"\\y.dll"},
    {L"\\Device\\HarddiskVolume3" + kLongFolder + L"\\x.dll", L"\\\\?\\C:" + kLongFolder + L"\\x.dll", L""},
};

bool windowsOpens = true;  // NtCreateFile opens "\Device\..." names (Windows), or not (Wine)
int opened = 0;
int closed = 0;

HANDLE HandleOf(size_t index) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(index + 1)); }

DWORD Open(const std::wstring& ntPath, HANDLE& file) {
  for (size_t i = 0; i < kFiles.size(); ++i) {
    if (windowsOpens && _wcsicmp(kFiles[i].ntPath.c_str(), ntPath.c_str()) == 0) {
      file = HandleOf(i);
      ++opened;
      return 0;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

BOOL WINAPI Close(HANDLE) {
  ++closed;
  return TRUE;
}

// The text into the caller's buffer as the path functions put it there: its length when it
// fits with its null, else the size needed with the null.
DWORD Answer(const std::wstring& text, LPWSTR buffer, DWORD size) {
  if (size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  wmemcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

DWORD WINAPI FinalPath(HANDLE file, LPWSTR buffer, DWORD size, DWORD flags) {
  const size_t index = reinterpret_cast<uintptr_t>(file) - 1;
  if (index >= kFiles.size()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const std::wstring& text = flags == VOLUME_NAME_GUID ? kFiles[index].guidPath : kFiles[index].finalPath;
  if (text.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  return Answer(text, buffer, size);
}

// Each target list ends with two nulls.
DWORD WINAPI QueryDosDevice(LPCWSTR drive, LPWSTR buffer, DWORD size) {
  std::wstring targets;
  if (_wcsicmp(drive, L"C:") == 0) targets = L"\\Device\\HarddiskVolume3";
  if (_wcsicmp(drive, L"D:") == 0) targets = L"\\Device\\HarddiskVolume31";
  if (targets.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  targets += L'\0';
  if (size < targets.size() + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  wmemcpy(buffer, targets.c_str(), targets.size() + 1);
  return static_cast<DWORD>(targets.size() + 1);
}

// The files that exist, by their long names, and one short name.
DWORD WINAPI LongPath(LPCWSTR path, LPWSTR buffer, DWORD size) {
  const std::wstring existing[] = {L"C:\\Users\\bob\\x.dll", L"D:\\z.dll", L"\\\\?\\C:" + kLongFolder + L"\\x.dll"};
  if (_wcsicmp(path, L"C:\\PROGRA~1\\x.dll") == 0) return Answer(L"C:\\Program Files\\x.dll", buffer, size);
  for (const std::wstring& name : existing) {
    if (_wcsicmp(path, name.c_str()) == 0) return Answer(name, buffer, size);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

const PathApi kFakes = {&Open, &Close, &FinalPath, &QueryDosDevice, &LongPath};

class NtPathConversion : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    windowsOpens = GetParam();
    opened = closed = 0;
  }
  void TearDown() override { EXPECT_EQ(opened, closed) << "every handle closed"; }
  static std::wstring Dos(const std::wstring& ntPath, DWORD expectedError = 0) {
    std::wstring dos = L"stale";
    EXPECT_EQ(expectedError, NtPathToDosPath(ntPath, dos, kFakes)) << testing::PrintToString(ntPath);
    return dos;
  }
};

TEST_P(NtPathConversion, VolumeDevicePathsBecomeDrivePaths) {
  EXPECT_EQ(L"C:\\Users\\bob\\x.dll", Dos(L"\\Device\\HarddiskVolume3\\Users\\bob\\x.dll"));
  EXPECT_EQ(L"C:" + kLongFolder + L"\\x.dll", Dos(L"\\Device\\HarddiskVolume3" + kLongFolder + L"\\x.dll"))
      << "longer than MAX_PATH: the buffer grows, the \"\\\\?\\\" prefix goes";
}

TEST_P(NtPathConversion, PrefixedDosPathsAreTakenAsTheyStand) {
  const int before = opened;
  EXPECT_EQ(L"C:\\x.dll", Dos(L"\\??\\C:\\x.dll"));
  EXPECT_EQ(L"C:\\x.dll", Dos(L"\\\\?\\C:\\x.dll"));
  EXPECT_EQ(L"\\\\server\\share\\x.dll", Dos(L"\\??\\UNC\\server\\share\\x.dll"));
  EXPECT_EQ(before, opened) << "nothing to open";
}

TEST_P(NtPathConversion, VolumeWithoutADriveLetterKeepsItsGuidPathOrIsNotGuessed) {
  // The mapped-file name of such a volume never becomes the relative "Volume{...}\y.dll".
  const std::wstring byGuid = kNoLetterVolume + L"\\y.dll";
  EXPECT_EQ(windowsOpens ? byGuid : L"", Dos(L"\\??\\Volume{6f1d3a52-0000-4c1e-9a1b-7e2d5c4b3a21}\\y.dll",
                                             windowsOpens ? 0 : ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(windowsOpens ? byGuid : L"", Dos(L"\\Device\\HarddiskVolume1\\y.dll", windowsOpens ? 0 : ERROR_PATH_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(NtPaths, NtPathConversion, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "AsOnWindows" : "AsOnWine");
                         });

// Where NtCreateFile does not open device names (Wine), the drive letters' device names give
// the drive, whole components only, and the rest gets its long form.
TEST(NtPaths, DriveLettersStandInWhereDeviceNamesDoNotOpen) {
  windowsOpens = false;
  std::wstring dos;
  ASSERT_EQ(0u, NtPathToDosPath(L"\\Device\\HarddiskVolume3\\PROGRA~1\\x.dll", dos, kFakes));
  EXPECT_EQ(L"C:\\Program Files\\x.dll", dos);
  ASSERT_EQ(0u, NtPathToDosPath(L"\\Device\\HarddiskVolume31\\z.dll", dos, kFakes));
  EXPECT_EQ(L"D:\\z.dll", dos) << "HarddiskVolume31 is not HarddiskVolume3 with a 1";
  ASSERT_EQ(0u, NtPathToDosPath(L"\\Device\\HarddiskVolume3" + kLongFolder + L"\\x.dll", dos, kFakes));
  EXPECT_EQ(L"C:" + kLongFolder + L"\\x.dll", dos) << "the long-path prefix it was looked up with is gone";
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            NtPathToDosPath(L"\\Device\\HarddiskVolume3\\gone.dll", dos, kFakes));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), NtPathToDosPath(L"\\Device\\Floppy0\\a.dll", dos, kFakes));
}

// The section hook names an open file by its DOS path: drive and UNC paths lose "\\?\".
TEST(NtPaths, OpenFilesAreNamedByTheirDosPaths) {
  std::wstring dos;
  ASSERT_EQ(0u, DosPathOfFile(HandleOf(0), dos, kFakes));
  EXPECT_EQ(L"C:\\Users\\bob\\x.dll", dos);
  ASSERT_EQ(0u, DosPathOfFile(HandleOf(1), dos, kFakes));
  EXPECT_EQ(L"\\\\server\\share\\x.dll", dos);
  ASSERT_EQ(0u, DosPathOfFile(HandleOf(2), dos, kFakes));
  EXPECT_EQ(kNoLetterVolume + L"\\y.dll", dos);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), DosPathOfFile(INVALID_HANDLE_VALUE, dos, kFakes));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), DosPathOfFile(HandleOf(99), dos, kFakes));
  EXPECT_TRUE(dos.empty());
}

}  // namespace
