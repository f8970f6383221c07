#include "logging/debug_trace.h"

#include <evntprov.h>
#include <share.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/module_path.h"

namespace dbgtrace {
namespace {

constexpr DWORD kProcmonIoctl = 0x95358204;
constexpr ULONGLONG kDeviceRetryMs = 10000;
// {1D3D3AE4-D26E-4870-AB3B-C80E3B5A4CE2}
constexpr GUID kProvider = {0x1D3D3AE4, 0xD26E, 0x4870, {0xAB, 0x3B, 0xC8, 0x0E, 0x3B, 0x5A, 0x4C, 0xE2}};

using EventRegisterFn = ULONG(WINAPI*)(LPCGUID, PENABLECALLBACK, PVOID, PREGHANDLE);
using EventUnregisterFn = ULONG(WINAPI*)(REGHANDLE);
using EventWriteFn = ULONG(WINAPI*)(REGHANDLE, PCEVENT_DESCRIPTOR, ULONG, PEVENT_DATA_DESCRIPTOR);

bool StartsWith(const char* line, const char* word) { return _strnicmp(line, word, strlen(word)) == 0; }

Settings ReadProcessSettings() {
  Settings settings;
  if (ReadSettingsFile(L"\\dbg_trace.ini", settings)) return settings;
  // Beside the executable, as long as that path stays below MAX_PATH.
  const std::wstring beside = ov::JoinPath(ov::FolderOf(ov::ModuleFilePath(nullptr)), L"dbg_trace.ini");
  if (beside.size() >= MAX_PATH) return settings;
  if (ReadSettingsFile(beside, settings)) settings.besideExecutable = true;
  return settings;
}

double Frequency() {
  static const double frequency = [] {
    LARGE_INTEGER value = {};
    QueryPerformanceFrequency(&value);
    return value.QuadPart != 0 ? static_cast<double>(value.QuadPart) : 1.0;
  }();
  return frequency;
}

void CreateFolder(const std::wstring& folder, bool notIndexed) {
  CreateDirectoryW(folder.c_str(), nullptr);
  if (notIndexed) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      SetFileAttributesW(folder.c_str(), attributes | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    }
  }
}

std::string Banner(const char* what) {
  static const std::string version = FileVersionOf(GetModuleHandleW(nullptr));
  SYSTEMTIME now;
  GetLocalTime(&now);
  const ULONGLONG up = GetTickCount64();
  char text[512];
  std::snprintf(text, sizeof text,
                " ----------------------------- \n>%s : %.4d-%.2d-%.2d %.2d:%.2d:%.2d\n"
                ">UpTime     : %u Days %.2uh %.2um %.2us :: %u ms (%u)\n>Version    : %s\n"
                " ----------------------------- \n",
                what, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                static_cast<unsigned>(up / 86400000), static_cast<unsigned>(up / 3600000 % 24),
                static_cast<unsigned>(up / 60000 % 60), static_cast<unsigned>(up / 1000 % 60),
                static_cast<unsigned>(up % 1000), static_cast<unsigned>(up), version.c_str());
  return text;
}

}  // namespace

bool ReadSettingsFile(const std::wstring& path, Settings& settings) {
  FILE* file = _wfsopen(path.c_str(), L"r", _SH_DENYNO);
  if (file == nullptr) return false;
  char line[512];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    const char* equals = std::strchr(line, '=');
    if (equals == nullptr) continue;
    if (StartsWith(line, "DLLPROTECT") || line[0] == '*') {
      settings.level = static_cast<uint32_t>(std::strtoul(equals + 1, nullptr, 10));
    } else if (StartsWith(line, "key") && settings.key != 0) {
      uint32_t bytes = 0;
      for (int i = 0; i < 4 && equals[1 + i] != 0 && equals[1 + i] != '\n' && equals[1 + i] != '\r'; ++i) {
        bytes |= static_cast<uint32_t>(static_cast<uint8_t>(equals[1 + i])) << (8 * i);
      }
      settings.key ^= bytes;
    }
  }
  std::fclose(file);
  return true;
}

std::string FileVersionOf(HMODULE module) {
  // The version resource: VS_VERSIONINFO's header (three WORDs), its key, padding to a 32-bit
  // boundary, then VS_FIXEDFILEINFO. Read from the module's own image, without version.dll.
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const auto* data = static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  const DWORD size = found != nullptr ? SizeofResource(module, found) : 0;
  static const wchar_t kKey[] = L"VS_VERSION_INFO";
  const size_t keyAt = 6, valueAt = (keyAt + sizeof kKey + 3) & ~size_t{3};
  if (data == nullptr || size < valueAt + sizeof(VS_FIXEDFILEINFO) || memcmp(data + keyAt, kKey, sizeof kKey) != 0) {
    return "unknown";
  }
  uint16_t valueLength;
  memcpy(&valueLength, data + 2, 2);
  VS_FIXEDFILEINFO info;
  memcpy(&info, data + valueAt, sizeof info);
  if (valueLength < sizeof info || info.dwSignature != 0xFEEF04BD) return "unknown";
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(info.dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(info.dwFileVersionMS)), static_cast<unsigned>(HIWORD(info.dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(info.dwFileVersionLS)));
  return text;
}

uint8_t ScrambleByte(uint32_t key) {
  const uint8_t b0 = key & 0xFF, b1 = (key >> 8) & 0xFF, b2 = (key >> 16) & 0xFF, b3 = key >> 24;
  return static_cast<uint8_t>(b1 + b0 - b3 - b2);
}

void Scramble(std::string& text, uint32_t key) {
  if (key == 0) return;
  const char mask = static_cast<char>(ScrambleByte(key));
  // The character equal to the mask would become NUL, which ends the text for the debugger: it
  // stays as it is. No other character scrambles to it (texts hold no NUL), so this is still
  // its own inverse.
  for (char& c : text) {
    if (c != mask) c ^= mask;
  }
}

std::wstring TraceFilePath(const Settings& settings, const std::wstring& name) {
  std::wstring base;
  const std::wstring exe = ov::ModuleFilePath(nullptr);
  if (settings.besideExecutable) {
    base = exe.substr(0, 3) + L"ProgramData\\OVLogging";
  } else {
    wchar_t expanded[MAX_PATH];
    const DWORD n = ExpandEnvironmentStringsW(L"%programdata%\\OVLogging", expanded, MAX_PATH);
    base = n > 0 && n <= MAX_PATH ? expanded : L"%programdata%\\OVLogging";
    if (base.find(L"%programdata%") != std::wstring::npos) {
      ExpandEnvironmentStringsW(L"%ALLUSERSPROFILE%\\Application Data\\OVLogging", expanded, MAX_PATH);
      base = expanded;
    }
  }
  FILETIME created, exited, kernel, user;
  SYSTEMTIME time = {};
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) FileTimeToSystemTime(&created, &time);
  wchar_t dated[64];
  _snwprintf(dated, 64, L"%.2d-%.2d-%.2d_%.2d_%.2d_%.2d__%.4d", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond, static_cast<int>(GetCurrentProcessId()));
  const std::wstring exeName = exe.substr(exe.find_last_of(L'\\') + 1);
  return base + L"\\CstLogs\\" + exeName + L"\\" + dated + L"\\" + (name.empty() ? L"DLLPROTECT" : name) + L".log";
}

Tracer& Tracer::Instance() {
  static Tracer* tracer = [] {
    auto* made = new Tracer(ReadProcessSettings());  // lives as long as the hooks that trace
    // It is never destroyed, so the file's closing banner is written as the process exits.
    if (made->m_settings.level != 0) std::atexit([] { Tracer::Instance().Close(); });
    return made;
  }();
  return *tracer;
}

void Tracer::Close() {
  std::call_once(m_fileOnce, [] {});  // a file not opened by now stays unopened
  if (m_file == INVALID_HANDLE_VALUE || m_closed.exchange(true)) return;
  std::string banner = Banner("Closed  at");
  Scramble(banner, m_settings.key);
  DWORD written = 0;
  WriteFile(m_file, banner.data(), static_cast<DWORD>(banner.size()), &written, nullptr);
  FlushFileBuffers(m_file);
}

Tracer::Tracer(const Settings& settings, std::wstring filePath) : m_settings(settings), m_filePath(std::move(filePath)) {
  if (m_filePath.empty() && m_settings.level != 0) m_filePath = TraceFilePath(m_settings, L"");
}

Tracer::~Tracer() {
  Close();
  if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
  if (m_device != INVALID_HANDLE_VALUE) CloseHandle(m_device);
  if (m_etwHandle != 0 && m_eventUnregister != nullptr) {
    reinterpret_cast<EventUnregisterFn>(m_eventUnregister)(m_etwHandle);
  }
  if (m_advapi != nullptr) FreeLibrary(m_advapi);
}

void Tracer::Write(uint32_t category, const char* prefix, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(category, prefix, format, args);
  va_end(args);
}

void Tracer::WriteV(uint32_t category, const char* prefix, const char* format, va_list args) {
  if (m_settings.level == 0) return;
  char head[64];
  std::snprintf(head, sizeof head, "[%.10lu][%.6lu] x ", static_cast<unsigned long>(GetTickCount64() & 0xFFFFFFFF),
                static_cast<unsigned long>(GetCurrentThreadId()));
  std::string line = std::string(head) + (prefix != nullptr ? prefix : "");
  char body[kMaxLine];
  std::vsnprintf(body, sizeof body, format, args);
  line += body;
  if (line.size() > kMaxLine - 1) line.resize(kMaxLine - 1);  // a cut line keeps its line end
  line += '\n';
  Send(category, line, std::wstring(line.begin(), line.end()));
}

void Tracer::WriteWide(uint32_t category, const wchar_t* prefix, const wchar_t* format, ...) {
  if (m_settings.level == 0) return;
  wchar_t head[64];
  _snwprintf(head, 64, L"[%.10lu][%.6lu] x ", static_cast<unsigned long>(GetTickCount64() & 0xFFFFFFFF),
             static_cast<unsigned long>(GetCurrentThreadId()));
  std::wstring wide = std::wstring(head) + (prefix != nullptr ? prefix : L"");
  std::vector<wchar_t> body(kMaxLine);
  va_list args;
  va_start(args, format);
  _vsnwprintf(body.data(), kMaxLine - 1, format, args);
  va_end(args);
  body[kMaxLine - 1] = 0;
  wide += body.data();
  if (wide.size() > kMaxLine - 1) wide.resize(kMaxLine - 1);
  wide += L'\n';
  // Narrowed to one byte per character, as the scrambled form is.
  std::string line;
  for (wchar_t c : wide) line += static_cast<char>(c);
  Send(category, line, wide);
}

void Tracer::Send(uint32_t category, std::string& line, const std::wstring& wide) {
  // A sink may load a library (the ETW functions) while the load hooks trace: the nested line is
  // dropped rather than re-entering a sink that is being set up on this very thread.
  thread_local bool sending = false;
  if (sending) return;
  sending = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{sending};
  const uint32_t level = m_settings.level;
  Scramble(line, m_settings.key);
  if (level & kEtw) ToEtw(EtwText(line, wide, m_settings.key));
  if (level & kDebugger) OutputDebugStringA(line.c_str());
  if ((level & kFile) || category == kForceFile) ToFile(line);
  if (level & kDevice) ToDevice(line);
}

std::wstring EtwText(const std::string& scrambled, const std::wstring& wide, uint32_t key) {
  if (key == 0) return wide;
  // Scrambled like the other sinks' text, one byte per character.
  std::wstring text;
  for (char c : scrambled) text += static_cast<wchar_t>(static_cast<uint8_t>(c));
  return text;
}

void Tracer::ToFile(const std::string& line) {
  std::call_once(m_fileOnce, [this] {
    if (m_filePath.empty()) return;
    // Every folder on the way; CstLogs, the executable's and the dated one are not indexed.
    const size_t cst = m_filePath.find(L"\\CstLogs\\");
    for (size_t at = m_filePath.find(L'\\', 3); at != std::wstring::npos; at = m_filePath.find(L'\\', at + 1)) {
      CreateFolder(m_filePath.substr(0, at), cst != std::wstring::npos && at >= cst + 8);
    }
    m_file = CreateFileW(m_filePath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file != INVALID_HANDLE_VALUE) {
      std::string banner = Banner("Started at");
      Scramble(banner, m_settings.key);
      DWORD written = 0;
      WriteFile(m_file, banner.data(), static_cast<DWORD>(banner.size()), &written, nullptr);
    }
  });
  if (m_file == INVALID_HANDLE_VALUE || m_closed) return;
  ++m_writers;
  DWORD written = 0;
  WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  if (--m_writers == 0) FlushFileBuffers(m_file);
}

void Tracer::ToDevice(const std::string& line) {
  std::lock_guard<std::mutex> hold(m_deviceLock);
  if (m_device == INVALID_HANDLE_VALUE) {
    // Process Monitor may not be running: try again at most every 10 seconds.
    const ULONGLONG now = GetTickCount64();
    if (now < m_deviceRetryAt) return;
    m_device = CreateFileW(L"\\\\.\\Global\\ProcmonDebugLogger", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_device == INVALID_HANDLE_VALUE) {
      m_deviceRetryAt = now + kDeviceRetryMs;
      return;
    }
  }
  DWORD returned = 0;
  if (!DeviceIoControl(m_device, kProcmonIoctl, const_cast<char*>(line.data()), static_cast<DWORD>(line.size()),
                       nullptr, 0, &returned, nullptr)) {
    CloseHandle(m_device);
    m_device = INVALID_HANDLE_VALUE;
    m_deviceRetryAt = GetTickCount64() + kDeviceRetryMs;
  }
}

void Tracer::ToEtw(const std::wstring& line) {
  std::call_once(m_etwOnce, [this] {
    m_advapi = LoadLibraryW(L"Advapi32.dll");
    if (m_advapi == nullptr) return;
    auto eventRegister = reinterpret_cast<EventRegisterFn>(reinterpret_cast<void*>(GetProcAddress(m_advapi, "EventRegister")));
    m_eventUnregister = reinterpret_cast<void*>(GetProcAddress(m_advapi, "EventUnregister"));
    m_eventWrite = reinterpret_cast<void*>(GetProcAddress(m_advapi, "EventWrite"));
    if (eventRegister == nullptr || m_eventUnregister == nullptr || m_eventWrite == nullptr) {
      FreeLibrary(m_advapi);
      m_advapi = nullptr;
      m_eventWrite = nullptr;
      return;
    }
    REGHANDLE handle = 0;
    if (eventRegister(&kProvider, nullptr, nullptr, &handle) == ERROR_SUCCESS) m_etwHandle = handle;
  });
  if (m_eventWrite == nullptr || m_etwHandle == 0) return;
  EVENT_DESCRIPTOR descriptor = {};
  descriptor.Id = 1;
  descriptor.Channel = 16;
  descriptor.Level = 4;
  descriptor.Keyword = 0x8000000000000000ull;
  EVENT_DATA_DESCRIPTOR data;
  EventDataDescCreate(&data, line.c_str(), static_cast<ULONG>((line.size() + 1) * sizeof(wchar_t)));
  reinterpret_cast<EventWriteFn>(m_eventWrite)(m_etwHandle, &descriptor, 1, &data);
}

Scope::Scope(const char* entry, const char* exit) : m_exit(exit) {
  Tracer& tracer = Tracer::Instance();
  if (*tracer.Level() == 0) return;
  QueryPerformanceCounter(&m_start);
  tracer.Write(0, entry, "%s%s", "", "");
}

Scope::~Scope() {
  Tracer& tracer = Tracer::Instance();
  if (*tracer.Level() == 0) return;
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  tracer.Write(0, "", "%s\n[> %.6f <]", m_exit, static_cast<double>(end.QuadPart - m_start.QuadPart) / Frequency());
}

}  // namespace dbgtrace
