// Runs palisk.exe (directly or through the agent double) and reads back what the run left:
// exit code and the decoded binary event log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "binlog_reader.h"

namespace testing_support {

struct PaliskRun {
  DWORD exitCode = 0xFFFFFFFF;
  DWORD paliskThreadId = 0;
  std::vector<binlog::Record> log;  // the run's records, in file order
  std::wstring logPath;

  // Every message text, for searching.
  std::vector<std::string> Messages() const;
  bool Logged(const std::string& text) const;  // some message contains `text`
};

struct RunOptions {
  std::wstring palisk;           // default: build\dist\palisk.exe
  std::wstring paliskArguments;  // palisk's own command line tail
  bool throughAgent = false;
  std::wstring agentPath;        // default: tests\bin\test_agent.exe
  std::wstring agentArguments;   // extra text on the agent's command line
  std::wstring tempFolder;       // %TEMP% for the run (empty: inherited)
  // A visible run's popups wait for a user: by default every popup of the run is closed
  // with the system close (as Alt+F4 would), which the progress screen ignores.
  bool closePopups = true;
};

PaliskRun RunPalisk(const RunOptions& options);

// The joined run log whose main part belongs to `threadId`, from %ProgramData%\ovroveveduzodi.
std::wstring FindRunLog(DWORD threadId, const FILETIME& notBefore);

}  // namespace testing_support
