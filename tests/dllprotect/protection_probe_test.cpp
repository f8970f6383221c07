// The protection at work in a process of its own (dllprotect_probe.exe), switched on as an
// administrator switches it: planted libraries of our own names in user folders are refused or
// reported, system names and signed files pass, recursive loads are reported once, and the report
// file holds exactly those events.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dllprotect/dll_event.h"
#include "dllprotect/protect_switches.h"
#include "support/test_support.h"

using namespace dllprotect;
using testing_support::CopyFileTo;
using testing_support::ReadBinaryFile;
using testing_support::ScopedTempFolder;
using testing_support::TestBinFolder;

namespace {

const wchar_t kProbe[] = L"dllprotect_probe.exe";

struct ProbeRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::string> lines;
  ReportContent report;
  bool reportExists = false;
  std::string Line(size_t i) const { return i < lines.size() ? lines[i] : std::string("<missing>"); }
};

std::wstring SwitchName(const char* suffix) {
  const std::string name = std::string(kSwitchPrefix) + suffix;
  return std::wstring(name.begin(), name.end());
}

// The environment of this process without any switch, with ProgramData in `programData` and
// the given switches added.
std::vector<wchar_t> ChildEnvironment(const std::wstring& programData, const std::vector<const char*>& switches) {
  std::map<std::wstring, std::wstring> variables;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* at = block; *at != 0; at += wcslen(at) + 1) {
    const std::wstring entry = at;
    const size_t equals = entry.find(L'=', 1);
    if (equals == std::wstring::npos) continue;
    const std::wstring name = entry.substr(0, equals);
    if (name.find(SwitchName("")) == 0 || _wcsicmp(name.c_str(), L"ProgramData") == 0) continue;
    variables[name] = entry.substr(equals + 1);
  }
  FreeEnvironmentStringsW(block);
  variables[L"ProgramData"] = programData;
  for (const char* suffix : switches) variables[SwitchName(suffix)] = L"1";
  std::vector<wchar_t> result;
  for (const auto& variable : variables) {
    const std::wstring entry = variable.first + L"=" + variable.second;
    result.insert(result.end(), entry.begin(), entry.end());
    result.push_back(0);
  }
  result.push_back(0);
  return result;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::string text = ReadBinaryFile(path), line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  return lines;
}

class ProtectionProbe : public ::testing::Test {
 protected:
  // Runs the probe (by default the one beside this test) with `switches` and `arguments`.
  ProbeRun Run(const std::vector<const char*>& switches, const std::wstring& arguments,
               const std::wstring& probe = std::wstring()) {
    ProbeRun run;
    const std::wstring program = probe.empty() ? TestBinFolder() + L"\\" + kProbe : probe;
    const std::wstring resultFile = m_scratch.Path() + L"\\result.txt";
    DeleteFileW(resultFile.c_str());
    // Switched on from the environment the report goes to ProgramData; otherwise an elevated
    // process reports beside its executable.
    const std::wstring reports[] = {ReportPath(), FolderOf(program) + L"\\dllReport." + kProbe + L".V1"};
    for (const std::wstring& report : reports) DeleteFileW(report.c_str());
    std::wstring commandLine = L"\"" + program + L"\" \"" + resultFile + L"\" " + arguments;
    std::vector<wchar_t> environment = ChildEnvironment(m_programData.Path(), switches);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), nullptr, &startup, &process)) {
      ADD_FAILURE() << "cannot start the probe: " << GetLastError();
      return run;
    }
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 99);
      ADD_FAILURE() << "the probe did not end";
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.lines = ReadLines(resultFile);
    for (const std::wstring& report : reports) {
      if (GetFileAttributesW(report.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      EXPECT_FALSE(run.reportExists) << "one report file only";
      run.reportExists = true;
      run.report = ReadReport(ReadBinaryFile(report));
    }
    return run;
  }

  // A copy of the probe in a folder of its own, for runs that report beside the executable.
  std::wstring OwnProbe() {
    const std::wstring probe = m_scratch.Make(L"app\\dllprotect_probe.exe");
    EXPECT_TRUE(CopyFileTo(TestBinFolder() + L"\\" + kProbe, probe));
    return probe;
  }

  static std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

  std::wstring ReportPath() const {
    return m_programData.Path() + L"\\48C4687D-9760-4F5B-BAB3-60351B0841E4\\dllReport." + kProbe + L".V1";
  }

  // A copy of a test library in a user folder (the kind of place planted files come from).
  std::wstring Plant(const wchar_t* library, const std::wstring& subfolder = L"Downloads") {
    const std::wstring target = m_scratch.Make(subfolder + L"\\" + library);
    EXPECT_TRUE(CopyFileTo(TestBinFolder() + L"\\" + library, target));
    return target;
  }

  ScopedTempFolder m_scratch;
  ScopedTempFolder m_programData;
};

std::string Utf8(const std::wstring& text) {
  return testing_support::WideToUtf8(text);
}

bool SamePath(const std::string& a, const std::wstring& b) { return _stricmp(a.c_str(), Utf8(b).c_str()) == 0; }

}  // namespace

TEST_F(ProtectionProbe, ReportModeLoadsAnUnsignedPlantedLibraryAndReportsIt) {
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({kProtectionOn}, L"load \"" + planted + L"\"");
  ASSERT_EQ(0u, run.exitCode);
  EXPECT_EQ("started 1 active 1 options 0x12", run.Line(0));
  EXPECT_EQ("process dllprotect_probe.exe", run.Line(1));
  EXPECT_EQ("load loaded", run.Line(2));
  EXPECT_EQ("ended", run.Line(3));
  ASSERT_TRUE(run.reportExists);
  EXPECT_EQ("", run.report.error);
  ASSERT_EQ(1u, run.report.events.size());
  const DllProtectInfo& event = run.report.events[0];
  EXPECT_EQ("VULNERABLE_PATH", event.result);
  EXPECT_EQ("LoadLibraryW", event.hook);
  EXPECT_EQ(Utf8(planted), event.requestedName);
  EXPECT_TRUE(SamePath(event.resolvedPath, planted)) << event.resolvedPath;
  EXPECT_EQ("0x0", event.flags);
  EXPECT_EQ("dllprotect_probe.exe", event.callerModule);
  EXPECT_EQ(0u, event.callerOffset.find("0x"));
  EXPECT_GT(event.callerOffset.size(), 2u);
}

TEST_F(ProtectionProbe, BlockModeRefusesItAndReportsDllBlocked) {
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({kProtectionBlock}, L"load \"" + planted + L"\" loadex \"" + planted + L"\" 8");
  ASSERT_EQ(0u, run.exitCode);
  EXPECT_EQ("started 1 active 1 options 0x22", run.Line(0));
  EXPECT_EQ("load refused 5", run.Line(2)) << "ERROR_ACCESS_DENIED, whatever the report's file I/O left";
  EXPECT_EQ("loadex refused 5", run.Line(3));
  ASSERT_EQ(2u, run.report.events.size());
  EXPECT_EQ("DLL_BLOCKED", run.report.events[0].result);
  EXPECT_EQ("LoadLibraryW", run.report.events[0].hook);
  EXPECT_EQ("DLL_BLOCKED", run.report.events[1].result);
  EXPECT_EQ("LoadLibraryExW", run.report.events[1].hook);
  EXPECT_EQ("0x8", run.report.events[1].flags);
}

TEST_F(ProtectionProbe, CallsToKernelbaseItselfAreDiverted) {
  // Other system DLLs and COM servers call kernelbase, not kernel32's stubs.
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({kProtectionBlock}, L"loadkb \"" + planted + L"\"");
  EXPECT_EQ("loadkb refused 5", run.Line(2));
  ASSERT_EQ(1u, run.report.events.size());
  EXPECT_EQ("DLL_BLOCKED", run.report.events[0].result);
}

TEST_F(ProtectionProbe, BlockModeWithNoReportRefusesAndWritesNoFile) {
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({kProtectionBlock, kProtectionNoReport}, L"load \"" + planted + L"\"");
  EXPECT_EQ("started 1 active 1 options 0x22", run.Line(0));
  EXPECT_EQ("load refused 5", run.Line(2));
  EXPECT_FALSE(run.reportExists) << "events go to the do-nothing callback in block mode too";
}

TEST_F(ProtectionProbe, LoadsTheLoaderWouldNotFindNeverComeFromTheCurrentFolder) {
  // A library in the current folder that these loads must not find: the search flags leave the
  // current folder out, and so does an empty DLL directory.
  const std::wstring current = FolderOf(Plant(L"planted_probe.dll", L"Current"));
  ASSERT_TRUE(CopyFileTo(current + L"\\planted_probe.dll", current + L"\\cwd_probe.dll"));
  const std::wstring commands = L"cd \"" + current +
                                L"\" loadex cwd_probe.dll 800 loadex cwd_probe.dll 200 loadex cwd_probe.dll 100 "
                                L"loadex .\\cwd_probe.dll 800 setdlldir \"\" load cwd_probe.dll";
  const ProbeRun unprotected = Run({}, commands);
  ASSERT_EQ("cd", unprotected.Line(2));
  for (size_t line = 3; line <= 5; ++line) {
    EXPECT_EQ(0u, unprotected.Line(line).find("loadex refused")) << "unhooked: " << unprotected.Line(line);
  }
  // Report mode gives the loader's own answers; block mode may refuse instead, but never loads
  // what the unprotected process did not.
  for (const char* mode : {kProtectionOn, kProtectionBlock}) {
    const ProbeRun run = Run({mode}, commands);
    const bool block = mode == kProtectionBlock;
    for (size_t line = 3; line <= 5; ++line) {
      if (block) EXPECT_EQ(0u, run.Line(line).find("loadex refused")) << run.Line(line);
      else EXPECT_EQ(unprotected.Line(line), run.Line(line)) << "the loader's own answer, line " << line;
    }
    if (unprotected.Line(6) == "loadex loaded") {
      // The loader takes a path relative to the current folder as it stands: judged there.
      EXPECT_EQ(block ? "loadex refused 5" : "loadex loaded", run.Line(6)) << mode;
    } else if (block) {
      EXPECT_EQ(0u, run.Line(6).find("loadex refused")) << run.Line(6);
    } else {
      EXPECT_EQ(unprotected.Line(6), run.Line(6));
    }
    // (Wine's loader still searches the current folder after SetDllDirectory(""); Windows' does not.)
    if (unprotected.Line(8) == "load loaded") EXPECT_EQ(block ? "load refused 5" : "load loaded", run.Line(8)) << mode;
    else EXPECT_EQ(unprotected.Line(8), run.Line(8)) << mode;
  }
}

TEST_F(ProtectionProbe, SystemNamesAndSignedLibrariesPassWithoutEvents) {
  const std::wstring signedCopy = Plant(L"planted_probe_signed.dll");
  const ProbeRun run = Run({kProtectionBlock}, L"load version.dll load kernel32.dll load \"" + signedCopy + L"\"");
  ASSERT_EQ(0u, run.exitCode);
  EXPECT_EQ("load loaded", run.Line(2)) << "a bare system name comes from the system folder";
  EXPECT_EQ("load loaded", run.Line(3)) << "already loaded";
  EXPECT_EQ("load loaded", run.Line(4)) << "a valid embedded signature is accepted";
  EXPECT_TRUE(run.report.events.empty()) << run.report.events.size() << " events, first "
                                         << (run.report.events.empty() ? "" : run.report.events[0].resolvedPath);
}

TEST_F(ProtectionProbe, ARecursiveLoadIsReportedOnce) {
  const std::wstring planted = Plant(L"recursive_probe.dll");
  const ProbeRun run = Run({kProtectionOn}, L"load \"" + planted + L"\"");
  ASSERT_EQ(0u, run.exitCode);
  EXPECT_EQ("load loaded", run.Line(2));
  ASSERT_EQ(2u, run.report.events.size());
  EXPECT_EQ("VULNERABLE_PATH", run.report.events[0].result);
  const DllProtectInfo& recursion = run.report.events[1];
  EXPECT_EQ("RECURSIVE_DLL_LOAD_LOADLIBRARY", recursion.result);
  EXPECT_EQ("LoadLibraryW", recursion.hook);
  EXPECT_EQ(0u, recursion.error.find("loaded dlls: ")) << recursion.error;
  EXPECT_NE(std::string::npos, recursion.error.find("recursive_probe.dll")) << recursion.error;
}

TEST_F(ProtectionProbe, LoadLibraryAReadsItsNameInTheAnsiCodePage) {
  // The probe passes the path in the ANSI code page, as every A-function caller does.
  const std::wstring planted = Plant(L"planted_probe.dll", L"Jos\u00e9 T\u00e9l\u00e9chargements");
  const ProbeRun run = Run({kProtectionOn}, L"loada \"" + planted + L"\"");
  ASSERT_EQ(0u, run.exitCode);
  EXPECT_EQ("loada loaded", run.Line(2));
  ASSERT_EQ(1u, run.report.events.size());
  EXPECT_EQ("LoadLibraryA", run.report.events[0].hook);
  EXPECT_EQ(Utf8(planted), run.report.events[0].requestedName);
}

TEST_F(ProtectionProbe, SwitchedOffOrSilencedNothingIsWritten) {
  const std::wstring planted = Plant(L"planted_probe.dll");
  ProbeRun run = Run({kProtectionOn, kProtectionNoReport}, L"load \"" + planted + L"\"");
  EXPECT_EQ("started 1 active 1 options 0x12", run.Line(0));
  EXPECT_EQ("load loaded", run.Line(2));
  EXPECT_FALSE(run.reportExists) << "events go to the do-nothing callback";

  run = Run({kProtectionOn, kProtectionOff}, L"load \"" + planted + L"\"");
  EXPECT_EQ("started 0 active 0 options 0x0", run.Line(0)) << "disabled wins";
  EXPECT_EQ("load loaded", run.Line(2));
  EXPECT_FALSE(run.reportExists);

  run = Run({}, L"load \"" + planted + L"\"");
  EXPECT_EQ("started 0 active 0 options 0x0", run.Line(0));
  EXPECT_FALSE(run.reportExists);
}

TEST_F(ProtectionProbe, AMalformedBlacklistLeavesTheProtectionRunning) {
  // The probe in a folder of its own, with a broken dllblacklist.json beside it.
  const std::wstring probe = OwnProbe();
  const std::wstring planted = Plant(L"planted_probe.dll");
  for (const char* json : {"{\"blacklist\": [\"planted_probe.dll\"", "[1, 2", "{\"blacklist\": 7}", "\xff\xfe"}) {
    ASSERT_TRUE(testing_support::WriteTextFile(m_scratch.Path() + L"\\app\\dllblacklist.json", json));
    const ProbeRun run = Run({kProtectionOn}, L"load \"" + planted + L"\"", probe);
    EXPECT_EQ(0u, run.exitCode) << json;
    EXPECT_EQ("started 1 active 1 options 0x12", run.Line(0)) << json;
    EXPECT_EQ("load loaded", run.Line(2)) << json;
  }
  // A good one, with the blacklist and block mode asked for directly: the listed name is refused.
  ASSERT_TRUE(testing_support::WriteTextFile(m_scratch.Path() + L"\\app\\dllblacklist.json",
                                             "{\"blacklist\": [\"planted_probe.dll\"]}"));
  const std::wstring signedCopy = Plant(L"planted_probe_signed.dll", L"Signed");
  const std::wstring listedButSigned = m_scratch.Make(L"Signed\\planted_probe.dll");
  ASSERT_TRUE(MoveFileW(signedCopy.c_str(), listedButSigned.c_str()));
  const ProbeRun run = Run({}, L"start 26 load \"" + listedButSigned + L"\"", probe);
  EXPECT_EQ("started 1 active 1 options 0x26", run.Line(0));
  EXPECT_EQ(0u, run.Line(2).find("load refused")) << "blacklisted, even with a valid signature: " << run.Line(2);
}

TEST_F(ProtectionProbe, SectionHookRefusesABlacklistedImageInBlockModeAndReportsItInReportMode) {
  const std::wstring probe = OwnProbe();
  ASSERT_TRUE(testing_support::WriteTextFile(m_scratch.Path() + L"\\app\\dllblacklist.json",
                                             "{\"blacklist\": [\"recursive_probe.dll\"]}"));
  const std::wstring listed = Plant(L"recursive_probe.dll", L"Other");
  // Block mode, blacklist, section hook (and signatures): an NT error status, no section.
  ProbeRun run = Run({}, L"start a6 section \"" + listed + L"\"", probe);
  EXPECT_EQ("started 1 active 1 options 0xa6", run.Line(0));
  EXPECT_EQ("section status 0xc0000022", run.Line(2)) << "STATUS_ACCESS_DENIED";
  ASSERT_EQ(1u, run.report.events.size());
  EXPECT_EQ("DLL_BLOCKED", run.report.events[0].result);
  EXPECT_EQ("blacklisted", run.report.events[0].error);
  // Report mode: the section is made, and the hit reported.
  run = Run({}, L"start 96 section \"" + listed + L"\"", probe);
  EXPECT_EQ("section status 0x0", run.Line(2));
  ASSERT_EQ(1u, run.report.events.size());
  EXPECT_EQ("VULNERABLE_PATH_NTCREATE_SECTION", run.report.events[0].result);
  EXPECT_EQ("NtCreateSection", run.report.events[0].hook);
  EXPECT_EQ("blacklisted", run.report.events[0].error);
}

TEST_F(ProtectionProbe, StartWithReportAndBlockTogetherHooksNothing) {
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({}, L"start 30 load \"" + planted + L"\"", OwnProbe());
  EXPECT_EQ("started 1 active 0 options 0x30", run.Line(0));
  EXPECT_EQ("load loaded", run.Line(2));
  EXPECT_FALSE(run.reportExists);
}

TEST_F(ProtectionProbe, SectionHookReportsImagesMappedOutsideTheLoader) {
  const std::wstring planted = Plant(L"planted_probe.dll");
  const std::wstring other = Plant(L"recursive_probe.dll", L"Other");
  const ProbeRun run = Run({}, L"start 92 load \"" + planted + L"\" section \"" + other + L"\"", OwnProbe());
  EXPECT_EQ("started 1 active 1 options 0x92", run.Line(0));
  EXPECT_EQ("load loaded", run.Line(2));
  EXPECT_EQ("section status 0x0", run.Line(3));
  std::vector<std::string> results;
  for (const DllProtectInfo& event : run.report.events) results.push_back(event.result + " " + event.hook);
  ASSERT_EQ(2u, results.size()) << "the load is judged once, by the LoadLibrary hook";
  EXPECT_EQ("VULNERABLE_PATH LoadLibraryW", results[0]);
  EXPECT_EQ("VULNERABLE_PATH_NTCREATE_SECTION NtCreateSection", results[1]);
  EXPECT_NE(std::string::npos, run.report.events[1].requestedName.find("recursive_probe.dll"));
}

// IFEO values of the probe's executable name (shared by every copy of it: these tests do not
// run at the same time as others that use the probe, see the CMake lock).
class ProbeIfeo : public ProtectionProbe {
 protected:
  static std::wstring Key() {
    return std::wstring(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\") + kProbe;
  }
  void SetUp() override { RegDeleteKeyW(HKEY_LOCAL_MACHINE, Key().c_str()); }
  void TearDown() override { RegDeleteKeyW(HKEY_LOCAL_MACHINE, Key().c_str()); }
  static void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, Key().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
  }
  static void SetDword(const wchar_t* name, DWORD value) { SetValue(name, REG_DWORD, &value, sizeof value); }
};

TEST_F(ProbeIfeo, RegistrySwitchesReportModeOnAndReportsToTheDefaultFolder) {
  SetDword(kIfeoProtection, 5);
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({}, L"load \"" + planted + L"\"", OwnProbe());
  EXPECT_EQ("started 1 active 1 options 0x12", run.Line(0));
  ASSERT_EQ(1u, run.report.events.size()) << "reported to the default folder";
  EXPECT_EQ("VULNERABLE_PATH", run.report.events[0].result);
  const wchar_t text[] = L"5";
  SetValue(kIfeoProtection, REG_SZ, text, sizeof text);
  EXPECT_EQ("started 0 active 0 options 0x0", Run({}, L"path").Line(0)) << "REG_SZ does not count";
}

TEST_F(ProbeIfeo, SanitiserOnlyForTheValueOne) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::string sanitised = "path " + Utf8(TestBinFolder()) + ";" + Utf8(system);
  SetDword(kIfeoSanitiser, 2);
  EXPECT_NE(sanitised, Run({}, L"path").Line(2));
  SetDword(kIfeoSanitiser, 1);
  EXPECT_EQ(sanitised, Run({}, L"path").Line(2));
  EXPECT_NE(sanitised, Run({kSanitiserOff}, L"path").Line(2)) << "the environment's off switch wins";
}

TEST_F(ProbeIfeo, SanitiserFromTheEnvironment) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ("path " + Utf8(TestBinFolder()) + ";" + Utf8(system), Run({kSanitiserOn}, L"path").Line(2));
}

TEST_F(ProtectionProbe, TracedHooksWriteTheirLinesWithEveryLocalSinkOn) {
  // File and ETW sinks, clear text.
  const std::wstring probe = OwnProbe();
  ASSERT_TRUE(testing_support::WriteTextFile(m_scratch.Path() + L"\\app\\dbg_trace.ini", "DLLPROTECT=10\r\nkey=QVRK\r\n"));
  const std::wstring planted = Plant(L"planted_probe.dll");
  const ProbeRun run = Run({kProtectionOn}, L"load \"" + planted + L"\"", probe);
  ASSERT_EQ(0u, run.exitCode);
  EXPECT_EQ("load loaded", run.Line(2));

  // The newest DLLPROTECT.log of the probe, below <drive>\ProgramData\OVLogging\CstLogs.
  const std::wstring logs = probe.substr(0, 2) + L"\\ProgramData\\OVLogging\\CstLogs\\dllprotect_probe.exe";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((logs + L"\\*__*").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search) << "no trace folder below " << Utf8(logs);
  std::wstring newest;
  FILETIME newestTime = {};
  do {
    if (CompareFileTime(&found.ftCreationTime, &newestTime) >= 0) {
      newestTime = found.ftCreationTime;
      newest = found.cFileName;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  const std::string trace = ReadBinaryFile(logs + L"\\" + newest + L"\\DLLPROTECT.log");
  for (const char* expected : {"[DLLPROTECT] :: DllProtectStart -> ", "options: 18, proc_name: dllprotect_probe.exe",
                               "[DLLPROTECT] :: LoadLibraryW_Hook -> ", "GenericLoadLibrary_Hook called with:",
                               "is a VULNERABLE_PATH", "calling TrueLoadLibraryExW with",
                               "[DLLPROTECT] :: DllProtectEnd <- ", ">Version    : unknown\n"}) {
    EXPECT_NE(std::string::npos, trace.find(expected)) << expected;
  }
  EXPECT_NE(std::string::npos, trace.find(">Closed  at : ", trace.find("DllProtectEnd <- ")))
      << "the closing banner, as the process ends";
}
