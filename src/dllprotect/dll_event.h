// One reported library load of the DLL load protection, and its report file: each event is
// appended as one Blowfish-CBC enciphered record (4-byte little-endian length, ciphertext) to
// "dllReport.<process>.V1" in the report folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dllprotect {

// Eight UTF-8 fields, in the order they are joined with "|".
struct DllProtectInfo {
  std::string requestedName;  // as the caller passed it
  std::string resolvedPath;   // the DOS path that was checked, "UNKNOWN" when there was none
  std::string result;         // "VULNERABLE_PATH", "DLL_BLOCKED", "INIT_DETOUR_FAILED", ...
  std::string hook;           // "LoadLibraryW", "LoadLibraryExW", "LoadLibraryA", "LoadLibraryExA"
  std::string flags;          // "0x" and the load flags in hex
  std::string callerModule;
  std::string callerOffset;   // "0x" and the call's offset within the caller module
  std::string error;
};

// The fields joined with "|"; '%', '|' and a field's trailing blanks are written %25, %7C and
// %20, so that no field can shift another and no blank is taken for padding.
std::string JoinFields(const DllProtectInfo& event);
// "0x" and the value in hex, as the flags field is written.
std::string HexField(uint64_t value);
// The fields of a joined text; false when it does not hold eight as JoinFields writes them.
bool SplitFields(const std::string& text, DllProtectInfo& event);

// The plaintext padded with blanks to a multiple of 8 and enciphered; empty for an empty text.
std::vector<uint8_t> EncipherReportText(const std::string& text);
// The padded plaintext of a ciphertext; false when its length is no multiple of 8 or zero.
bool DecipherReportText(const uint8_t* cipher, size_t size, std::string& text);

// Where reports go: the executable's folder for an elevated process, else
// %ProgramData%\48C4687D-9760-4F5B-BAB3-60351B0841E4 (created when missing); empty without
// a ProgramData variable (then nothing is ever written).
std::wstring DefaultReportFolder();
// %ProgramData%\48C4687D-9760-4F5B-BAB3-60351B0841E4 (not created); empty without the variable.
std::wstring ProgramDataReportFolder();
bool IsProcessElevated();

// Writes events to the report file of one process.
class DllEventDump {
 public:
  static constexpr uint64_t kMaxReportBytes = 0xA00000;

  DllEventDump(const std::wstring& folder, const std::wstring& processName);
  const std::wstring& ReportPath() const { return m_path; }
  // Appends one record; false (and nothing of it left in the file) when it cannot.
  bool Dump(const DllProtectInfo& event) const;
  // Enciphers `text` and writes the record at the file's current position.
  static bool DumpEventToFile(HANDLE file, const std::string& text);
  // Opens (or creates) the report file for appending; waits only while another writer has it
  // open. `attempts` tells how many opens were tried.
  static HANDLE OpenReportFile(const std::wstring& path, int& attempts);
  // 10 ms apart. Writers that finish open again at once while the others sleep, so one that
  // waits may lose several turns in a row: it gives up after 3 s.
  static constexpr int kOpenTries = 300;

 private:
  std::wstring m_folder;
  std::wstring m_path;
};

// The records of a report file's bytes. `error` is empty when every byte was read.
struct ReportContent {
  std::vector<DllProtectInfo> events;
  std::string error;
};
ReportContent ReadReport(const std::string& bytes);

}  // namespace dllprotect
