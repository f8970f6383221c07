// The run's binary event log: tagged, timestamped records with scrambled strings. Each
// registered thread writes its own part file, every other thread a shared part; at the end of
// the run the parts are joined into "[version].{guid}.palisk.bin" below the common
// application-data folder and deleted.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/scoped_handle.h"

namespace RovEveduzodi {
namespace BinaryLogger {

// Strings are XORed with this text's bytes (not its hex meaning), position modulo 32.
constexpr char kScrambleKey[] = "7E19C0A4D25B3f87A60C14E9B38D5F21";
constexpr size_t kScrambleKeyLength = 32;
constexpr size_t kHeaderSize = 16;

namespace Tag {
constexpr uint32_t kSessionInfo = 0xACFFA196;
constexpr uint32_t kProcessInfo = 0x4543B1A4;
constexpr uint32_t kExitCode = 0x349FF25B;
constexpr uint32_t kMessage = 0x6AF92F1D;
constexpr uint32_t kThreadStart = 0x50509074;
constexpr uint32_t kThreadEnd = 0xF270708A;
constexpr uint32_t kText = 0xDF96AABD;
constexpr uint32_t kTextPair = 0xB47EEAE7;
constexpr uint32_t kTextWithNumbers = 0x4EB2A8BE;
constexpr uint32_t kNote = 0x22CFDBC4;
constexpr uint32_t kMarker = 0xC7B31FF6;
constexpr uint32_t kNumberedText = 0xC65F1E57;
constexpr uint32_t kValue = 0x98860155;
constexpr uint32_t kTaggedText = 0x16377E0D;
constexpr uint32_t kCounter = 0xB32E133F;
constexpr uint32_t kKeyValue = 0xB4824A97;
constexpr uint32_t kNameValue = 0x208CD413;
constexpr uint32_t kTriple = 0x1E335351;
constexpr uint32_t kBlob = 0xC03E20EA;
}  // namespace Tag

// Severities of Palisk's messages; the logger stores the byte and gives it no meaning.
enum Level : uint32_t { kError = 0, kWarning = 1, kNotice = 2, kInfo = 3 };

struct SessionInfoEvent { std::string text1, text2, text3; uint8_t flag1 = 0, flag2 = 0; };
// Written as a, b, s1, s3, s2, s4.
struct ProcessInfoEvent { uint32_t a = 0; std::string s1, s2; uint32_t b = 0; std::string s3, s4; };
struct MessageEvent { uint8_t level = 0; std::string message; std::string sourceFile; uint32_t line = 0; };
struct ThreadStartEvent { uint32_t threadId = 0; std::string threadName; };
struct TextPairEvent { std::string first, second; };
struct TextWithNumbersEvent { std::string text; uint32_t first = 0, second = 0; };
// Written as x, s, y.
struct NumberedTextEvent { std::string s; uint32_t x = 0, y = 0; };
struct TripleEvent { uint32_t a = 0, b = 0, c = 0; };
struct BlobEvent { std::string name; std::vector<uint8_t> data; };

class IEvents {
 public:
  virtual ~IEvents() = default;
  virtual void OnSessionInfo(const SessionInfoEvent& event) = 0;
  virtual void OnProcessInfo(const ProcessInfoEvent& event) = 0;
  virtual void OnExitCode(uint32_t exitCode) = 0;
  virtual void OnMessage(const MessageEvent& event) = 0;
  virtual void OnThreadStart(const ThreadStartEvent& event) = 0;
  virtual void OnThreadEnd() = 0;
  virtual void OnText(const std::string& text) = 0;
  virtual void OnTextPair(const TextPairEvent& event) = 0;
  virtual void OnTextWithNumbers(const TextWithNumbersEvent& event) = 0;
  virtual void OnNote(const std::string& text) = 0;
  virtual void OnMarker() = 0;
  virtual void OnNumberedText(const NumberedTextEvent& event) = 0;
  virtual void OnValue(uint32_t value) = 0;
  virtual void OnTaggedText(const std::string& text) = 0;
  virtual void OnCounter(uint32_t value) = 0;
  virtual void OnKeyValue(const TextPairEvent& event) = 0;
  virtual void OnNameValue(const TextPairEvent& event) = 0;
  virtual void OnTriple(const TripleEvent& event) = 0;
  virtual void OnBlob(const BlobEvent& event) = 0;
};

// Builds one record's payload.
class RecordBuilder {
 public:
  void Reset() { m_payload.clear(); }
  void Byte(uint8_t value) { m_payload.push_back(value); }
  void U32(uint32_t value);
  void String(const std::string& text);  // length, scrambled bytes, a plain 0
  void Block(const std::vector<uint8_t>& data);  // length, scrambled bytes
  const std::vector<uint8_t>& Payload() const { return m_payload; }

 private:
  void Scrambled(const uint8_t* data, size_t size);
  std::vector<uint8_t> m_payload;
};

// Writes the records of one part file.
class ThreadLogger : public IEvents {
 public:
  ThreadLogger() = default;
  ThreadLogger(const ThreadLogger&) = delete;
  ThreadLogger& operator=(const ThreadLogger&) = delete;

  // Opens (truncating) `path` and writes the thread record. 0 or the Win32 error.
  DWORD Open(const std::wstring& path, const std::wstring& ownerName);
  void Close() { m_file.Close(); }
  bool IsOpen() const { return m_file.IsValid(); }
  DWORD OwnerThreadId() const { return m_threadId; }

  void OnSessionInfo(const SessionInfoEvent& event) override;
  void OnProcessInfo(const ProcessInfoEvent& event) override;
  void OnExitCode(uint32_t exitCode) override;
  void OnMessage(const MessageEvent& event) override;
  void OnThreadStart(const ThreadStartEvent& event) override;
  void OnThreadEnd() override;
  void OnText(const std::string& text) override;
  void OnTextPair(const TextPairEvent& event) override;
  void OnTextWithNumbers(const TextWithNumbersEvent& event) override;
  void OnNote(const std::string& text) override;
  void OnMarker() override;
  void OnNumberedText(const NumberedTextEvent& event) override;
  void OnValue(uint32_t value) override;
  void OnTaggedText(const std::string& text) override;
  void OnCounter(uint32_t value) override;
  void OnKeyValue(const TextPairEvent& event) override;
  void OnNameValue(const TextPairEvent& event) override;
  void OnTriple(const TripleEvent& event) override;
  void OnBlob(const BlobEvent& event) override;

 private:
  // Two unbuffered writes (header, then payload) and a flush: on disk before returning.
  void Emit(uint32_t tag);

  RecordBuilder m_record;
  ov::ScopedHandle m_file;
  std::string m_ownerName;
  DWORD m_threadId = 0;
};

// What the run hands over about its process (kept for diagnostics; not written as a record).
struct ProcessRecord {
  std::wstring note, parentCommandLine, programPath;
  std::string ansiCommandLine;
  DWORD processId = 0;
};

class Logger {
 public:
  // The process-wide logger, in the machine's "ovroveveduzodi" folder.
  static Logger& Instance();
  // A logger writing into `folder` (tests; the folder is created).
  explicit Logger(const std::wstring& folder);
  virtual ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // `format` may be null (an empty message). Wide printf rules: "%s" is a wide string.
  virtual void Log(uint32_t level, const char* sourceFile, uint32_t line, const wchar_t* format, ...);
  // The calling thread's own part, or null.
  virtual IEvents* GetThreadEvents();

  void LogV(uint32_t level, const char* sourceFile, uint32_t line, const wchar_t* format, va_list args);
  void SetNameParts(const std::wstring& prefix, const std::wstring& suffix);
  // Opens the calling thread's part (named `threadName`) and the shared part.
  void Start(const std::wstring& threadName);
  // Writes the end record of the calling thread's part, closes it and forgets it.
  void CloseThread();
  // Joins the parts into base + ".bin" and deletes them; returns the result's path.
  std::wstring Finish();
  void SetProcessRecord(const ProcessRecord& record) { m_process = record; }

  const std::wstring& Folder() const { return m_folder; }
  const std::wstring& BaseName() const { return m_baseName; }
  std::wstring ResultPath() const { return m_folder + L"\\" + m_baseName + L".bin"; }

 private:
  std::wstring PartPath(DWORD threadId) const;
  void AddPart(const std::wstring& path);

  ThreadLogger m_shared;
  ULONGLONG m_startTime = 0;
  std::wstring m_folder;
  std::wstring m_prefix, m_suffix, m_guid, m_baseName;
  std::vector<std::wstring> m_parts;
  CRITICAL_SECTION m_sharedLock;
  CRITICAL_SECTION m_partsLock;
  std::mutex m_mapMutex;
  std::map<DWORD, std::unique_ptr<ThreadLogger>> m_threads;
  ProcessRecord m_process;
};

// The logger that message sites write to; null (nothing written) until the program sets it.
Logger* ActiveLogger();
void SetActiveLogger(Logger* logger);

// "{8-4-4-4-12}" in lowercase hexadecimal.
std::wstring GuidText(const GUID& guid);
// "[prefix].guid.suffix", leaving out the empty parts with their dots.
std::wstring ComposeBaseName(const std::wstring& prefix, const std::wstring& guid,
                             const std::wstring& suffix);
std::string ToUtf8(const std::wstring& text);

// Ends the run's log when the main function returns: exit-code record, the main thread's part
// closed, the parts joined.
class LogExitGuard {
 public:
  explicit LogExitGuard(const uint32_t* result) : m_result(result) {}
  ~LogExitGuard();
  LogExitGuard(const LogExitGuard&) = delete;
  LogExitGuard& operator=(const LogExitGuard&) = delete;
  void Disable() { m_disabled = true; }

 private:
  const uint32_t* m_result;
  bool m_disabled = false;
};

}  // namespace BinaryLogger
}  // namespace RovEveduzodi

// A message from a source file that defines `kLogSource` (its name as the log shows it).
#define PALISK_LOG(level, ...)                                                           \
  do {                                                                                   \
    if (::RovEveduzodi::BinaryLogger::Logger* palisk_logger_ =                           \
            ::RovEveduzodi::BinaryLogger::ActiveLogger()) {                              \
      palisk_logger_->Log((level), kLogSource, __LINE__, __VA_ARGS__);                   \
    }                                                                                    \
  } while (0)
