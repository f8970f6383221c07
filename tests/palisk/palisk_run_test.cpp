// palisk.exe as a whole: which command line it reads, the result hand-off, the clean-up, and
// what its binary event log says.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "palisk_version.h"
#include "support/kit_server.h"
#include "support/palisk_run.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyFileTo;
using testing_support::PaliskRun;
using testing_support::RunOptions;
using testing_support::ScopedTempFolder;
using testing_support::TestBinFolder;

// A run without any kit URL finds no configuration XML (ERROR_PATH_NOT_FOUND).
constexpr DWORD kNoConfiguration = ERROR_PATH_NOT_FOUND;
// The fixture's kit installer (the installer double, with no settings) exits with 0.
constexpr DWORD kInstallerExitCode = 0;

std::wstring BasicKitUrl() {
  testing_support::KitServer server;
  return server.Connect() ? server.KitUrl("basic") : std::wstring();
}

std::string Narrow(const std::wstring& text) { return testing_support::WideToUtf8(text); }

using testing_support::EncodeSourceUrl;

bool NoWorkingFolderLeft(const std::wstring& temp) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((temp + L"\\ovtempdir*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return true;
  FindClose(find);
  return false;
}

TEST(PaliskRun, ReadsItsOptionsFromTheParentBehindTheMarker) {
  ScopedTempFolder temp;
  RunOptions options;
  options.throughAgent = true;
  options.paliskArguments = L"unrelated=1";
  const std::wstring kit = BasicKitUrl();
  ASSERT_FALSE(kit.empty()) << "the KitServer fixture is not running";
  options.agentArguments = L"/ovparams silent taskId=T-42 sourceUrlEnc=" + EncodeSourceUrl(Narrow(kit));
  options.tempFolder = temp.Path();
  const PaliskRun run = testing_support::RunPalisk(options);
  ASSERT_FALSE(run.log.empty()) << "no run log found";
  EXPECT_EQ(kInstallerExitCode, run.exitCode);
  EXPECT_TRUE(run.Logged("[PALISK] Using parent process command line."));
  EXPECT_TRUE(run.Logged("/ovparams silent taskId=T-42"));
  EXPECT_TRUE(run.Logged("[PALISK] command line sourceUrlEnc ["));
  EXPECT_TRUE(run.Logged("[SETUP] DownloadConfigFiles for baseurl<" + Narrow(kit) + ">"));
  EXPECT_TRUE(run.Logged("SetData: config url = \"" + Narrow(kit) + "installer.xml\""));
  EXPECT_TRUE(run.Logged("[PALISK] RegOpen failed ret[2]")) << "silent came from the parent";
  EXPECT_TRUE(NoWorkingFolderLeft(temp.Path()));
}

TEST(PaliskRun, WithoutTheMarkerItReadsItsOwnCommandLine) {
  ScopedTempFolder temp;
  RunOptions options;
  options.throughAgent = true;
  options.paliskArguments = L"/taskId=own";
  options.agentArguments = L"silent taskId=parents";
  options.tempFolder = temp.Path();
  const PaliskRun run = testing_support::RunPalisk(options);
  ASSERT_FALSE(run.log.empty());
  EXPECT_TRUE(run.Logged("[PALISK] Using current process command line."));
  EXPECT_TRUE(run.Logged("[PALISK] Current process command line : \"/taskId=own\"."));
  EXPECT_TRUE(run.Logged("[PALISK] NOT SILENT, exit code not set in registry."))
      << "the parent's silent option is not read";
}

TEST(PaliskRun, LogStartsWithTheVersionAndEndsWithTheExitCode) {
  ScopedTempFolder temp;
  RunOptions options;
  options.tempFolder = temp.Path();
  const PaliskRun run = testing_support::RunPalisk(options);
  ASSERT_GE(run.log.size(), 4u);
  EXPECT_EQ("thread-start", run.log[0].kind);
  EXPECT_EQ("Palisk main thread", run.log[0].fields[1].text);
  EXPECT_EQ("KitVersion: [" PALISK_VERSION_TEXT "]", run.Messages().at(0));
  EXPECT_EQ("palisk.cpp", run.log[1].Source());
  bool exitRecorded = false;
  for (const binlog::Record& record : run.log) {
    if (record.kind == "exit-code") exitRecorded = record.fields[0].number == run.exitCode;
  }
  EXPECT_TRUE(exitRecorded);
  EXPECT_EQ("Unregistered threads logs", run.log[run.log.size() - 2].fields.at(1).text);
  EXPECT_TRUE(run.Logged("[SETUP] GetParrentProcessCmdLine parent process id<"));
  EXPECT_TRUE(run.Logged("Reading palisk data (from data.xml) failed: error = 3; tempDir = \""));
  EXPECT_TRUE(NoWorkingFolderLeft(temp.Path()));
}

TEST(PaliskRun, SilentResultGoesToTheRegistryOnlyWhenTheKeyExists) {
  const wchar_t* kKey = L".DEFAULT\\Software\\Vudidavi";
  RegDeleteKeyW(HKEY_USERS, kKey);
  ScopedTempFolder temp;
  RunOptions options;
  options.paliskArguments = L"/silent";
  options.tempFolder = temp.Path();

  PaliskRun run = testing_support::RunPalisk(options);
  EXPECT_EQ(kNoConfiguration, run.exitCode);
  EXPECT_TRUE(run.Logged("[PALISK] RegOpen failed ret[2] last err["));
  HKEY key = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_USERS, kKey, 0, KEY_READ, &key)) << "never created";

  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_USERS, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  const DWORD stale = 7;
  RegSetValueExW(key, L"dwErrCode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stale), sizeof stale);
  run = testing_support::RunPalisk(options);
  DWORD value = 0, size = sizeof value, type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"dwErrCode", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(run.exitCode, value);
  EXPECT_FALSE(run.Logged("RegOpen failed"));
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_USERS, kKey);
}

TEST(PaliskRun, UrlFromTheParentsFileNameSetsTheLanguage) {
  ScopedTempFolder temp;
  const std::wstring kit = BasicKitUrl();
  ASSERT_FALSE(kit.empty()) << "the KitServer fixture is not running";
  const std::wstring agent = temp.Path() + L"\\Agent[" + EncodeSourceUrl(Narrow(kit) + "?lang=de-DE") + L"].exe";
  ASSERT_TRUE(CopyFileTo(TestBinFolder() + L"\\test_agent.exe", agent));
  RunOptions options;
  options.throughAgent = true;
  options.agentPath = agent;
  options.tempFolder = temp.Path();
  const PaliskRun run = testing_support::RunPalisk(options);
  ASSERT_FALSE(run.log.empty());
  EXPECT_TRUE(run.Logged("[SETUP] Found source<"));
  EXPECT_TRUE(run.Logged("[SETUP] sourceNameDecoded [" + Narrow(kit) + "?lang=de-DE]"));
  EXPECT_TRUE(run.Logged("SetData: config url = \"" + Narrow(kit) + "installer.xml\"")) << "cut before ?lang=";
}

}  // namespace
