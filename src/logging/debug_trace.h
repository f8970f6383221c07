// The DLL load protection's own small tracer: switched on by "dbg_trace.ini" (at the root of
// the current drive, else beside the executable), written to the debugger, a log file under
// the machine's logging folder, the Process Monitor device and an ETW provider, and scrambled
// with a one-byte XOR unless the settings cancel the key. Without a settings file a call site
// costs one test of *DbgTraceLevel().
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

namespace dbgtrace {

enum Sink : uint32_t { kDebugger = 1, kFile = 2, kDevice = 4, kEtw = 8 };
// Lines of this category go to the file even when the level lacks kFile.
constexpr uint32_t kForceFile = 8;
constexpr uint32_t kInitialKey = 'Q' | ('V' << 8) | ('R' << 16) | (uint32_t{'K'} << 24);
constexpr size_t kMaxLine = 8196;

struct Settings {
  uint32_t level = 0;
  bool besideExecutable = false;  // where the file was found (else the drive root)
  uint32_t key = kInitialKey;
};

// Reads one settings file: "DLLPROTECT=<n>" or "*=<n>" set the level, "key=<4 bytes>" XORs
// them into the key (while it is not 0). False when the file cannot be opened.
bool ReadSettingsFile(const std::wstring& path, Settings& settings);
// The byte every character is XORed with: second + first - fourth - third byte of the key.
uint8_t ScrambleByte(uint32_t key);
// XORs `text` with the key's byte (a key of 0 leaves it clear), except the character equal to
// that byte, which would become NUL; its own inverse.
void Scramble(std::string& text, uint32_t key);
// What the ETW sink gets: the wide line in clear text, or (with a key) the scrambled bytes.
std::wstring EtwText(const std::string& scrambled, const std::wstring& wide, uint32_t key);
// "a.b.c.d" of the module's version resource (VS_FIXEDFILEINFO), "unknown" without one.
std::string FileVersionOf(HMODULE module);

// The file of a process's trace: <base>\CstLogs\<exe name>\<creation time>__<pid>\<name>.log.
std::wstring TraceFilePath(const Settings& settings, const std::wstring& name);

class Tracer {
 public:
  // The process's tracer, with the settings read on first use.
  static Tracer& Instance();
  explicit Tracer(const Settings& settings, std::wstring filePath = std::wstring());
  ~Tracer();
  Tracer(const Tracer&) = delete;
  Tracer& operator=(const Tracer&) = delete;

  const uint32_t* Level() const { return &m_settings.level; }
  void Write(uint32_t category, const char* prefix, const char* format, ...);
  void WriteV(uint32_t category, const char* prefix, const char* format, va_list args);
  void WriteWide(uint32_t category, const wchar_t* prefix, const wchar_t* format, ...);
  const std::wstring& FilePath() const { return m_filePath; }
  // Writes the file's closing banner; later lines no longer go to the file.
  void Close();

 private:
  void Send(uint32_t category, std::string& line, const std::wstring& wide);
  void ToFile(const std::string& line);
  void ToDevice(const std::string& line);
  void ToEtw(const std::wstring& line);

  Settings m_settings;
  std::wstring m_filePath;
  std::once_flag m_fileOnce;
  HANDLE m_file = INVALID_HANDLE_VALUE;
  std::atomic<bool> m_closed{false};
  std::atomic<int> m_writers{0};
  std::mutex m_deviceLock;
  HANDLE m_device = INVALID_HANDLE_VALUE;
  ULONGLONG m_deviceRetryAt = 0;
  std::once_flag m_etwOnce;
  HMODULE m_advapi = nullptr;
  void* m_eventWrite = nullptr;
  void* m_eventUnregister = nullptr;
  uint64_t m_etwHandle = 0;
};

// What call sites test before they format anything.
inline const uint32_t* DbgTraceLevel() { return Tracer::Instance().Level(); }

// A traced scope: entry line on construction, exit line with the elapsed seconds on exit.
class Scope {
 public:
  Scope(const char* entry, const char* exit);
  ~Scope();

 private:
  const char* m_exit;
  LARGE_INTEGER m_start = {};
};

}  // namespace dbgtrace
