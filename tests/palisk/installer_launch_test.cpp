// The installer's command line and how its end becomes the run's result.
#include "installer/palisk/installer_launch.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

namespace {

// A taskId comes from the agent's command line; with a blank or a quote in it, it must not add
// switches to the signed installer's command line.
TEST(InstallerParameters, TaskIdStaysOneQuotedArgument) {
  LaunchParameters launch;
  launch.taskId = L"T-1 /evil \"x";
  const std::wstring parameters = palisk::InstallerParameters(L"currentDownloadLink=\"http://h/k\"", launch, true);
  EXPECT_EQ(L" currentDownloadLink=\"http://h/k\" /silent taskId=\"T-1%20/evil%20%22x\"", parameters);
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW((L"Installer.exe" + parameters).c_str(), &count);
  ASSERT_NE(nullptr, arguments);
  EXPECT_EQ(4, count);
  LocalFree(arguments);
  launch.taskId = L"T-42";
  EXPECT_EQ(L"  /silent taskId=\"T-42\"", palisk::InstallerParameters(L"", launch, true)) << "an ordinary id as it is";
}

DWORD WINAPI FailingWait(HANDLE, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return WAIT_FAILED;
}
BOOL WINAPI FailingExitCode(HANDLE, DWORD*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

class ProcessWaitSeam : public testing::Test {
 protected:
  void TearDown() override { palisk::SetProcessWaitForTesting(nullptr); }
  const std::wstring kExits7 = L"cmd.exe /c exit 7";
};

TEST_F(ProcessWaitSeam, ExitCodeOfAProcessThatRan) {
  uint32_t code = 0;
  EXPECT_TRUE(palisk::RunProcess(kExits7, L"", &code));
  EXPECT_EQ(7u, code);
}

// A run whose installer's end cannot be known must not pass for a success.
TEST_F(ProcessWaitSeam, FailedWaitOrExitCodeGivesTheErrorAndFails) {
  const palisk::ProcessWait failingWait = {&FailingWait, &GetExitCodeProcess};
  palisk::SetProcessWaitForTesting(&failingWait);
  uint32_t code = 0;
  EXPECT_FALSE(palisk::RunProcess(kExits7, L"", &code));
  EXPECT_EQ(static_cast<uint32_t>(ERROR_ACCESS_DENIED), code);

  const palisk::ProcessWait failingRead = {&WaitForSingleObject, &FailingExitCode};
  palisk::SetProcessWaitForTesting(&failingRead);
  EXPECT_FALSE(palisk::RunProcess(kExits7, L"", &code));
  EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_HANDLE), code);
}

}  // namespace
