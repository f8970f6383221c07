#include "logging/binary_logger.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>

#include "framework/utf8.h"

namespace RovEveduzodi {
namespace BinaryLogger {
namespace {

Logger* g_activeLogger = nullptr;

ULONGLONG NowFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::wstring FormatWide(const wchar_t* format, va_list args) {
  if (format == nullptr) return std::wstring();
  va_list copy;
  va_copy(copy, args);
  // msvcrt's formatter: "%s" is a wide string in a wide format, as every caller expects.
  const int length = _vscwprintf(format, copy);
  va_end(copy);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  va_copy(copy, args);
  _vsnwprintf(&text[0], text.size(), format, copy);
  va_end(copy);
  text.resize(static_cast<size_t>(length));
  return text;
}

bool AppendFile(HANDLE target, const std::wstring& source) {
  ov::ScopedHandle file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  std::vector<uint8_t> buffer(64 * 1024);
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
         read > 0) {
    DWORD written = 0;
    if (!WriteFile(target, buffer.data(), read, &written, nullptr) || written != read) return false;
  }
  return true;
}

std::wstring DefaultFolder() {
  wchar_t common[MAX_PATH] = L"";
  SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_APPDATA, FALSE);
  return std::wstring(common) + L"\\ovroveveduzodi";
}

}  // namespace

std::string ToUtf8(const std::wstring& text) { return ov::ToUtf8(text); }

std::wstring GuidText(const GUID& guid) {
  wchar_t text[64];
  const unsigned long long d4a = (static_cast<unsigned long long>(guid.Data4[0]) << 8) | guid.Data4[1];
  unsigned long long d4b = 0;
  for (int i = 2; i < 8; ++i) d4b = (d4b << 8) | guid.Data4[i];
  _snwprintf(text, 64, L"{%08llx-%04llx-%04llx-%04llx-%012llx}",
             static_cast<unsigned long long>(guid.Data1), static_cast<unsigned long long>(guid.Data2),
             static_cast<unsigned long long>(guid.Data3), d4a, d4b);
  text[63] = 0;
  return text;
}

std::wstring ComposeBaseName(const std::wstring& prefix, const std::wstring& guid,
                             const std::wstring& suffix) {
  std::wstring base;
  if (!prefix.empty()) base += L"[" + prefix + L"].";
  base += guid;
  if (!suffix.empty()) base += L"." + suffix;
  return base;
}

void RecordBuilder::U32(uint32_t value) {
  uint8_t bytes[4];
  PutU32(bytes, value);
  m_payload.insert(m_payload.end(), bytes, bytes + 4);
}

void RecordBuilder::Scrambled(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    m_payload.push_back(static_cast<uint8_t>(data[i] ^ static_cast<uint8_t>(kScrambleKey[i % kScrambleKeyLength])));
  }
}

void RecordBuilder::String(const std::string& text) {
  U32(static_cast<uint32_t>(text.size()));
  Scrambled(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  m_payload.push_back(0);
}

void RecordBuilder::Block(const std::vector<uint8_t>& data) {
  U32(static_cast<uint32_t>(data.size()));
  Scrambled(data.data(), data.size());
}

DWORD ThreadLogger::Open(const std::wstring& path, const std::wstring& ownerName) {
  m_ownerName = ToUtf8(ownerName);
  m_file.Close();
  m_file.Set(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_file.IsValid()) {
    const DWORD error = GetLastError();
    m_file.Take();  // INVALID_HANDLE_VALUE: nothing to close
    return error;
  }
  m_threadId = GetCurrentThreadId();
  OnThreadStart(ThreadStartEvent{m_threadId, m_ownerName});
  return 0;
}

void ThreadLogger::Emit(uint32_t tag) {
  const std::vector<uint8_t>& payload = m_record.Payload();
  uint8_t header[kHeaderSize];
  const ULONGLONG time = NowFileTime();
  PutU32(header, tag);
  PutU32(header + 4, static_cast<uint32_t>(payload.size()));
  PutU32(header + 8, static_cast<uint32_t>(time));
  PutU32(header + 12, static_cast<uint32_t>(time >> 32));
  HANDLE file = m_file.IsValid() ? m_file.Get() : INVALID_HANDLE_VALUE;
  DWORD written = 0;
  if (WriteFile(file, header, kHeaderSize, &written, nullptr) && written == kHeaderSize &&
      !payload.empty()) {
    WriteFile(file, payload.data(), static_cast<DWORD>(payload.size()), &written, nullptr);
  }
  FlushFileBuffers(file);
}

void ThreadLogger::OnSessionInfo(const SessionInfoEvent& e) {
  m_record.Reset();
  m_record.String(e.text1);
  m_record.String(e.text2);
  m_record.String(e.text3);
  m_record.Byte(e.flag1);
  m_record.Byte(e.flag2);
  Emit(Tag::kSessionInfo);
}

void ThreadLogger::OnProcessInfo(const ProcessInfoEvent& e) {
  m_record.Reset();
  m_record.U32(e.a);
  m_record.U32(e.b);
  m_record.String(e.s1);
  m_record.String(e.s3);
  m_record.String(e.s2);
  m_record.String(e.s4);
  Emit(Tag::kProcessInfo);
}

void ThreadLogger::OnExitCode(uint32_t exitCode) {
  m_record.Reset();
  m_record.U32(exitCode);
  Emit(Tag::kExitCode);
}

void ThreadLogger::OnMessage(const MessageEvent& e) {
  m_record.Reset();
  m_record.Byte(e.level);
  m_record.String(e.message);
  m_record.String(e.sourceFile);
  m_record.U32(e.line);
  Emit(Tag::kMessage);
}

void ThreadLogger::OnThreadStart(const ThreadStartEvent& e) {
  m_record.Reset();
  m_record.U32(e.threadId);
  m_record.String(e.threadName);
  Emit(Tag::kThreadStart);
}

void ThreadLogger::OnThreadEnd() {
  m_record.Reset();
  Emit(Tag::kThreadEnd);
}

void ThreadLogger::OnText(const std::string& text) {
  m_record.Reset();
  m_record.String(text);
  Emit(Tag::kText);
}

void ThreadLogger::OnTextPair(const TextPairEvent& e) {
  m_record.Reset();
  m_record.String(e.first);
  m_record.String(e.second);
  Emit(Tag::kTextPair);
}

void ThreadLogger::OnTextWithNumbers(const TextWithNumbersEvent& e) {
  m_record.Reset();
  m_record.String(e.text);
  m_record.U32(e.first);
  m_record.U32(e.second);
  Emit(Tag::kTextWithNumbers);
}

void ThreadLogger::OnNote(const std::string& text) {
  m_record.Reset();
  m_record.String(text);
  Emit(Tag::kNote);
}

void ThreadLogger::OnMarker() {
  m_record.Reset();
  Emit(Tag::kMarker);
}

void ThreadLogger::OnNumberedText(const NumberedTextEvent& e) {
  m_record.Reset();
  m_record.U32(e.x);
  m_record.String(e.s);
  m_record.U32(e.y);
  Emit(Tag::kNumberedText);
}

void ThreadLogger::OnValue(uint32_t value) {
  m_record.Reset();
  m_record.U32(value);
  Emit(Tag::kValue);
}

void ThreadLogger::OnTaggedText(const std::string& text) {
  m_record.Reset();
  m_record.U32(0);
  m_record.U32(0);
  m_record.String(text);
  Emit(Tag::kTaggedText);
}

void ThreadLogger::OnCounter(uint32_t value) {
  m_record.Reset();
  m_record.U32(value);
  Emit(Tag::kCounter);
}

void ThreadLogger::OnKeyValue(const TextPairEvent& e) {
  m_record.Reset();
  m_record.String(e.first);
  m_record.String(e.second);
  Emit(Tag::kKeyValue);
}

void ThreadLogger::OnNameValue(const TextPairEvent& e) {
  m_record.Reset();
  m_record.String(e.first);
  m_record.String(e.second);
  Emit(Tag::kNameValue);
}

void ThreadLogger::OnTriple(const TripleEvent& e) {
  m_record.Reset();
  m_record.U32(e.a);
  m_record.U32(e.b);
  m_record.U32(e.c);
  Emit(Tag::kTriple);
}

void ThreadLogger::OnBlob(const BlobEvent& e) {
  m_record.Reset();
  m_record.String(e.name);
  m_record.Block(e.data);
  Emit(Tag::kBlob);
}

Logger& Logger::Instance() {
  // Built on first use (thread-safe); the process-exit list destroys it.
  static Logger logger(DefaultFolder());
  return logger;
}

Logger::Logger(const std::wstring& folder) : m_folder(folder) {
  InitializeCriticalSectionAndSpinCount(&m_sharedLock, 1000);
  InitializeCriticalSectionAndSpinCount(&m_partsLock, 1000);
  m_startTime = NowFileTime();
  CreateDirectoryW(m_folder.c_str(), nullptr);  // an existing folder is fine
}

Logger::~Logger() {
  if (g_activeLogger == this) g_activeLogger = nullptr;
  DeleteCriticalSection(&m_sharedLock);
  DeleteCriticalSection(&m_partsLock);
}

void Logger::SetNameParts(const std::wstring& prefix, const std::wstring& suffix) {
  m_prefix = prefix;
  m_suffix = suffix;
  GUID guid = {};
  CoCreateGuid(&guid);
  m_guid = GuidText(guid);
  m_baseName = ComposeBaseName(m_prefix, m_guid, m_suffix);
}

std::wstring Logger::PartPath(DWORD threadId) const {
  return m_folder + L"\\" + m_baseName + L"." + std::to_wstring(threadId) + L".bin";
}

void Logger::AddPart(const std::wstring& path) {
  EnterCriticalSection(&m_partsLock);
  m_parts.push_back(path);
  LeaveCriticalSection(&m_partsLock);
}

void Logger::Start(const std::wstring& threadName) {
  const DWORD threadId = GetCurrentThreadId();
  const std::wstring mainPath = PartPath(threadId);
  {
    // A second Start replaces this thread's logger. The old one is closed before the new one
    // opens the same path: its write handle would otherwise make that open fail and every
    // later record of the thread would be lost.
    std::lock_guard<std::mutex> lock(m_mapMutex);
    m_threads.erase(threadId);
  }
  auto threadLogger = std::make_unique<ThreadLogger>();
  threadLogger->Open(mainPath, threadName);
  {
    std::lock_guard<std::mutex> lock(m_mapMutex);
    m_threads[threadId] = std::move(threadLogger);
  }
  AddPart(mainPath);

  EnterCriticalSection(&m_sharedLock);
  const std::wstring sharedPath = PartPath(0);
  m_shared.Open(sharedPath, L"Unregistered threads logs");
  AddPart(sharedPath);
  LeaveCriticalSection(&m_sharedLock);
}

IEvents* Logger::GetThreadEvents() {
  std::lock_guard<std::mutex> lock(m_mapMutex);
  auto it = m_threads.find(GetCurrentThreadId());
  return it != m_threads.end() ? it->second.get() : nullptr;
}

void Logger::Log(uint32_t level, const char* sourceFile, uint32_t line, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, sourceFile, line, format, args);
  va_end(args);
}

void Logger::LogV(uint32_t level, const char* sourceFile, uint32_t line, const wchar_t* format,
                  va_list args) {
  MessageEvent event;
  event.level = static_cast<uint8_t>(level);
  event.message = ToUtf8(FormatWide(format, args));
  event.sourceFile = sourceFile != nullptr ? sourceFile : "";
  event.line = line;
  if (IEvents* own = GetThreadEvents()) {
    own->OnMessage(event);  // only this thread writes its own part
    return;
  }
  EnterCriticalSection(&m_sharedLock);
  m_shared.OnMessage(event);
  LeaveCriticalSection(&m_sharedLock);
}

void Logger::CloseThread() {
  std::unique_ptr<ThreadLogger> closing;
  {
    std::lock_guard<std::mutex> lock(m_mapMutex);
    auto it = m_threads.find(GetCurrentThreadId());
    if (it == m_threads.end()) return;
    closing = std::move(it->second);
    m_threads.erase(it);
  }
  closing->OnThreadEnd();
  closing->Close();
}

std::wstring Logger::Finish() {
  EnterCriticalSection(&m_sharedLock);
  if (m_shared.IsOpen()) {
    m_shared.OnThreadEnd();
    m_shared.Close();
  }
  LeaveCriticalSection(&m_sharedLock);
  // Parts of threads that were never closed are ended here, so that the joined file is
  // complete and no part stays locked or left behind.
  {
    std::lock_guard<std::mutex> lock(m_mapMutex);
    for (auto& entry : m_threads) {
      entry.second->OnThreadEnd();
      entry.second->Close();
    }
    m_threads.clear();
  }

  const std::wstring result = ResultPath();
  ov::ScopedHandle target(CreateFileW(result.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  EnterCriticalSection(&m_partsLock);
  const std::vector<std::wstring> parts = m_parts;
  m_parts.clear();
  LeaveCriticalSection(&m_partsLock);
  for (const std::wstring& part : parts) {
    if (target.IsValid()) AppendFile(target.Get(), part);
    DeleteFileW(part.c_str());
  }
  return result;
}

Logger* ActiveLogger() { return g_activeLogger; }

void SetActiveLogger(Logger* logger) { g_activeLogger = logger; }

LogExitGuard::~LogExitGuard() {
  if (m_disabled) return;
  Logger* logger = ActiveLogger();
  if (logger == nullptr) return;
  if (IEvents* events = logger->GetThreadEvents()) events->OnExitCode(m_result != nullptr ? *m_result : 0);
  logger->CloseThread();
  logger->Finish();
}

}  // namespace BinaryLogger
}  // namespace RovEveduzodi
