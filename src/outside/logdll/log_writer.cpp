#include "outside/logdll/log_writer.h"

#include <shlobj.h>

#include <cstdio>
#include <vector>

#include "framework/utf8.h"

namespace logdll {
namespace {

// Per-thread nesting of traced scopes: "+1" lines print then indent, "-1" lines unindent
// then print, so an entry and its exit line up.
thread_local int t_depth = 0;

const wchar_t* LevelName(uint32_t level) {
  switch (level) {
    case 4: return L"ERROR";
    case 8: return L"PLUGIN";
    case 16: return L"INFO";
    case 32: return L"TRACE";
    default: return nullptr;
  }
}

std::wstring BaseName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ModuleName(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return n == 0 || n >= MAX_PATH ? std::wstring(L"?") : BaseName(path);
}

std::wstring ExecutableStem() {
  std::wstring name = ModuleName(nullptr);
  const size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring FormatMessageText(const wchar_t* format, va_list args) {
  if (format == nullptr) return std::wstring();
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    // msvcrt's own formatter: "%s" is a wide string in wide formats, as callers expect.
    const int n = _vsnwprintf(buffer.data(), buffer.size() - 1, format, copy);
    va_end(copy);
    if (n >= 0) return std::wstring(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= 65536) {
      buffer[buffer.size() - 1] = 0;
      return std::wstring(buffer.data()) + L" [truncated]";
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::wstring FormatLine(const SYSTEMTIME& time, DWORD pid, DWORD tid, uint32_t level,
                        const std::wstring& module, int depth, const wchar_t* scope,
                        const std::wstring& message) {
  wchar_t head[160];
  const wchar_t* name = LevelName(level);
  wchar_t numeric[16];
  if (name == nullptr) {
    _snwprintf(numeric, 16, L"L%u", level);
    numeric[15] = 0;
    name = numeric;
  }
  _snwprintf(head, 160, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] %-6s %s  ", time.wYear,
             time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds,
             pid, tid, name, module.c_str());
  head[159] = 0;
  std::wstring line = head;
  line.append(static_cast<size_t>(depth) * 2, L' ');
  if (scope != nullptr && *scope != 0) {
    line += scope;
    line += L": ";
  }
  line += message;
  return line;
}

LogWriter::LogWriter() { InitializeCriticalSection(&m_lock); }

LogWriter::~LogWriter() {
  CloseFileLocked();
  DeleteCriticalSection(&m_lock);
}

LogWriter& Writer() {
  static LogWriter writer;
  return writer;
}

void LogWriter::Init(const std::wstring& dllFolder) {
  EnterCriticalSection(&m_lock);
  if (m_initCount++ == 0) m_settings = ReadLogSettings(dllFolder);
  LeaveCriticalSection(&m_lock);
}

void LogWriter::Deinit() {
  EnterCriticalSection(&m_lock);
  if (m_initCount > 0 && --m_initCount == 0) CloseFileLocked();
  LeaveCriticalSection(&m_lock);
}

bool LogWriter::OpenFileLocked() {
  if (m_file != INVALID_HANDLE_VALUE) return true;
  if (m_settings.folder.empty()) return false;
  SHCreateDirectoryExW(nullptr, m_settings.folder.c_str(), nullptr);
  const std::wstring path = m_settings.folder + L"\\" + ExecutableStem() + L".log";
  // Append-only, shared: other processes of the same program append to the same file.
  m_file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE |
                       FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return m_file != INVALID_HANDLE_VALUE;
}

void LogWriter::CloseFileLocked() {
  if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
  m_file = INVALID_HANDLE_VALUE;
}

int LogWriter::Write(int indentChange, uint32_t level, HMODULE module, const wchar_t* scope,
                     const wchar_t* format, va_list args) {
  if (indentChange < 0 && t_depth > 0) --t_depth;
  const int depth = t_depth;
  if (indentChange > 0) ++t_depth;

  EnterCriticalSection(&m_lock);
  const bool wanted = m_settings.enabled && level <= m_settings.maxLevel;
  LeaveCriticalSection(&m_lock);
  if (!wanted) return S_FALSE;

  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string line =
      ov::ToUtf8(FormatLine(now, GetCurrentProcessId(), GetCurrentThreadId(), level,
                        ModuleName(module), depth, scope, FormatMessageText(format, args))) +
      "\r\n";

  EnterCriticalSection(&m_lock);
  int result = E_FAIL;
  if (OpenFileLocked()) {
    DWORD written = 0;
    // One WriteFile per line: appends from several threads or processes never interleave.
    if (WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size()) {
      result = S_OK;
    }
  }
  LeaveCriticalSection(&m_lock);
  return result;
}

void LogWriter::SetEnabled(bool enabled) {
  EnterCriticalSection(&m_lock);
  m_settings.enabled = enabled;
  LeaveCriticalSection(&m_lock);
}

bool LogWriter::Enabled() {
  EnterCriticalSection(&m_lock);
  const bool enabled = m_settings.enabled;
  LeaveCriticalSection(&m_lock);
  return enabled;
}

void LogWriter::SetMaxLevel(uint32_t level) {
  EnterCriticalSection(&m_lock);
  m_settings.maxLevel = level;
  LeaveCriticalSection(&m_lock);
}

uint32_t LogWriter::MaxLevel() {
  EnterCriticalSection(&m_lock);
  const uint32_t level = m_settings.maxLevel;
  LeaveCriticalSection(&m_lock);
  return level;
}

void LogWriter::SetFolder(const std::wstring& folder) {
  EnterCriticalSection(&m_lock);
  CloseFileLocked();
  m_settings.folder = folder;
  LeaveCriticalSection(&m_lock);
}

std::wstring LogWriter::LogFilePath() {
  EnterCriticalSection(&m_lock);
  std::wstring path = m_settings.folder.empty()
                          ? std::wstring()
                          : m_settings.folder + L"\\" + ExecutableStem() + L".log";
  LeaveCriticalSection(&m_lock);
  return path;
}

}  // namespace logdll
