#include "support/palisk_run.h"

#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <memory>

#include "support/test_support.h"

namespace testing_support {
namespace {

// Runs `commandLine` with %TEMP% set to `temp` (when given); returns the process information.
bool Start(const std::wstring& program, std::wstring commandLine, const std::wstring& temp,
           PROCESS_INFORMATION& process) {
  wchar_t oldTemp[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH);
  if (!temp.empty()) {
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    SetEnvironmentVariableW(L"TMP", temp.c_str());
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &process);
  if (!temp.empty()) {
    SetEnvironmentVariableW(L"TEMP", oldTemp);
    SetEnvironmentVariableW(L"TMP", oldTemp);
  }
  return started != FALSE;
}

// While it lives, sends the system close to every window of Palisk's window class whose
// process runs `program`, ten times a second.
class PopupCloser {
 public:
  explicit PopupCloser(const std::wstring& program) : m_program(program) {
    m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, &PopupCloser::Loop, this, 0, nullptr);
  }
  ~PopupCloser() {
    SetEvent(m_stop);
    if (m_thread != nullptr) {
      WaitForSingleObject(m_thread, INFINITE);
      CloseHandle(m_thread);
    }
    CloseHandle(m_stop);
  }
  PopupCloser(const PopupCloser&) = delete;
  PopupCloser& operator=(const PopupCloser&) = delete;

 private:
  static DWORD WINAPI Loop(LPVOID param) {
    auto* self = static_cast<PopupCloser*>(param);
    while (WaitForSingleObject(self->m_stop, 100) == WAIT_TIMEOUT) EnumWindows(&PopupCloser::Visit, reinterpret_cast<LPARAM>(param));
    return 0;
  }
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<PopupCloser*>(param);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"ov::gui::window") != 0) return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) return TRUE;
    wchar_t image[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    const bool ours = QueryFullProcessImageNameW(process, 0, image, &size) && _wcsicmp(image, self->m_program.c_str()) == 0;
    CloseHandle(process);
    if (ours) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return TRUE;
  }

  std::wstring m_program;
  HANDLE m_stop = nullptr;
  HANDLE m_thread = nullptr;
};

}  // namespace

std::vector<std::string> PaliskRun::Messages() const {
  std::vector<std::string> messages;
  for (const binlog::Record& record : log) {
    if (record.kind == "message") messages.push_back(record.Message());
  }
  return messages;
}

bool PaliskRun::Logged(const std::string& text) const {
  for (const std::string& message : Messages()) {
    if (message.find(text) != std::string::npos) return true;
  }
  return false;
}

std::wstring FindRunLog(DWORD threadId, const FILETIME& notBefore) {
  wchar_t common[MAX_PATH];
  SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_APPDATA, FALSE);
  const std::wstring folder = std::wstring(common) + L"\\ovroveveduzodi";
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*.bin").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring found;
  do {
    const std::wstring path = folder + L"\\" + data.cFileName;
    // Thread ids are reused: only a file written since the run started can be its log.
    if (CompareFileTime(&data.ftLastWriteTime, &notBefore) < 0) continue;
    // Joined files only: part files end in ".<thread id>.bin".
    const binlog::ReadResult read = binlog::Parse(ReadBinaryFile(path));
    if (!read.records.empty() && read.records[0].kind == "thread-start" &&
        read.records[0].fields[0].number == threadId &&
        read.records[0].fields[1].text == "Palisk main thread") {
      found = path;
    }
  } while (found.empty() && FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

PaliskRun RunPalisk(const RunOptions& options) {
  PaliskRun run;
  FILETIME started;
  GetSystemTimeAsFileTime(&started);
  // File times on some file systems are coarse: allow two seconds of slack.
  ULARGE_INTEGER slack;
  slack.LowPart = started.dwLowDateTime;
  slack.HighPart = started.dwHighDateTime;
  slack.QuadPart -= 20000000ULL;
  started.dwLowDateTime = slack.LowPart;
  started.dwHighDateTime = slack.HighPart;
  const std::wstring palisk = options.palisk.empty() ? BuildFolder() + L"\\dist\\palisk.exe" : options.palisk;
  PROCESS_INFORMATION process = {};
  std::unique_ptr<PopupCloser> closer;
  if (options.closePopups) closer.reset(new PopupCloser(palisk));
  if (options.throughAgent) {
    ScopedTempFolder scratch;
    const std::wstring agent = options.agentPath.empty() ? TestBinFolder() + L"\\test_agent.exe" : options.agentPath;
    const std::wstring report = scratch.Path() + L"\\report.txt";
    std::wstring commandLine = L"\"" + agent + L"\" --run \"" + palisk + L"\" --args \"" +
                               options.paliskArguments + L"\" --report \"" + report + L"\" " +
                               options.agentArguments;
    if (!Start(agent, commandLine, options.tempFolder, process)) return run;
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    unsigned long pid = 0, tid = 0, code = 0;
    FILE* in = _wfopen(report.c_str(), L"r");
    if (in != nullptr) {
      if (std::fscanf(in, "%lu %lu %lu", &pid, &tid, &code) == 3) {
        run.paliskThreadId = tid;
        run.exitCode = code;  // exact, where the agent's own code passed through an int
      }
      std::fclose(in);
    }
  } else {
    std::wstring commandLine = L"\"" + palisk + L"\" " + options.paliskArguments;
    if (!Start(palisk, commandLine, options.tempFolder, process)) return run;
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    run.paliskThreadId = process.dwThreadId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  run.logPath = FindRunLog(run.paliskThreadId, started);
  if (!run.logPath.empty()) {
    run.log = binlog::Parse(ReadBinaryFile(run.logPath)).records;
    DeleteFileW(run.logPath.c_str());  // read once; the folder is shared by every run
  }
  return run;
}

}  // namespace testing_support
