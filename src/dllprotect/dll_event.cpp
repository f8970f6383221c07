#include "dllprotect/dll_event.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "dllprotect/protect_trace.h"
#include "framework/crypt_blowfish.h"
#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/scoped_handle.h"

namespace dllprotect {
namespace {

// The report key is built from these two halves at run time, so it never stands in the binary
// as one run of bytes.
constexpr uint32_t kKeyHigh = 0x9E4C17;
constexpr uint32_t kKeyLow = 0x2BD3A5;

const Crypt::class_blowfish& Cipher() {
  static const Crypt::class_blowfish* cipher = [] {
    auto* made = new Crypt::class_blowfish();
    const uint8_t key[6] = {static_cast<uint8_t>(kKeyHigh >> 16), static_cast<uint8_t>(kKeyHigh >> 8),
                            static_cast<uint8_t>(kKeyHigh),       static_cast<uint8_t>(kKeyLow >> 16),
                            static_cast<uint8_t>(kKeyLow >> 8),   static_cast<uint8_t>(kKeyLow)};
    made->SetKey(key, sizeof key);
    return made;
  }();
  return *cipher;
}

uint32_t BigEndian(const uint8_t* at) {
  return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

void PutBigEndian(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

std::wstring FileNameOnly(const std::wstring& name) {
  const size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

}  // namespace

namespace {

// '%', '|' and a field's trailing blanks are written as %25, %7C and %20.
std::string EscapeField(const std::string& field) {
  size_t keep = field.size();
  while (keep > 0 && field[keep - 1] == ' ') --keep;  // trailing blanks would read as padding
  std::string escaped;
  for (size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c == '%') escaped += "%25";
    else if (c == '|') escaped += "%7C";
    else if (c == ' ' && i >= keep) escaped += "%20";
    else escaped += c;
  }
  return escaped;
}

bool UnescapeField(const std::string& field, std::string& text) {
  text.clear();
  if (!field.empty() && field.back() == ' ') return false;  // never written so
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      text += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return false;
    const std::string hex = field.substr(i + 1, 2);
    if (!isxdigit(static_cast<unsigned char>(hex[0])) || !isxdigit(static_cast<unsigned char>(hex[1]))) return false;
    text += static_cast<char>(strtoul(hex.c_str(), nullptr, 16));
    i += 2;
  }
  return true;
}

}  // namespace

std::string JoinFields(const DllProtectInfo& e) {
  const std::string* fields[] = {&e.requestedName, &e.resolvedPath, &e.result,       &e.hook,
                                 &e.flags,         &e.callerModule, &e.callerOffset, &e.error};
  std::string joined;
  for (const std::string* field : fields) {
    if (field != fields[0]) joined += '|';
    joined += EscapeField(*field);
  }
  return joined;
}

bool SplitFields(const std::string& text, DllProtectInfo& e) {
  std::string* fields[] = {&e.requestedName, &e.resolvedPath, &e.result,       &e.hook,
                           &e.flags,         &e.callerModule, &e.callerOffset, &e.error};
  size_t start = 0;
  for (size_t i = 0; i < 8; ++i) {
    const size_t bar = text.find('|', start);
    // Exactly seven separators: a '|' inside a field is always written escaped.
    if ((i < 7) != (bar != std::string::npos)) return false;
    if (!UnescapeField(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start), *fields[i])) {
      return false;
    }
    start = bar + 1;
  }
  return true;
}

std::vector<uint8_t> EncipherReportText(const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  if (data.empty()) return data;
  data.resize((data.size() + 7) / 8 * 8, ' ');
  uint32_t chainLeft = 0, chainRight = 0;  // CBC with a zero initial value
  for (size_t at = 0; at < data.size(); at += 8) {
    uint32_t left = BigEndian(&data[at]) ^ chainLeft, right = BigEndian(&data[at + 4]) ^ chainRight;
    Cipher().EncipherBlock(left, right);
    PutBigEndian(&data[at], left);
    PutBigEndian(&data[at + 4], right);
    chainLeft = left;
    chainRight = right;
  }
  return data;
}

bool DecipherReportText(const uint8_t* cipher, size_t size, std::string& text) {
  text.clear();
  if (size == 0 || size % 8 != 0) return false;
  uint32_t chainLeft = 0, chainRight = 0;
  for (size_t at = 0; at < size; at += 8) {
    const uint32_t cipherLeft = BigEndian(cipher + at), cipherRight = BigEndian(cipher + at + 4);
    uint32_t left = cipherLeft, right = cipherRight;
    Cipher().DecipherBlock(left, right);
    uint8_t plain[8];
    PutBigEndian(plain, left ^ chainLeft);
    PutBigEndian(plain + 4, right ^ chainRight);
    text.append(reinterpret_cast<const char*>(plain), 8);
    chainLeft = cipherLeft;
    chainRight = cipherRight;
  }
  return true;
}

bool IsProcessElevated() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  ov::ScopedHandle token(raw);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

std::wstring ProgramDataReportFolder() {
  wchar_t data[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(data, n) + L"\\48C4687D-9760-4F5B-BAB3-60351B0841E4";
}

std::wstring DefaultReportFolder() {
  if (IsProcessElevated()) return ov::FolderOf(ov::ModuleFilePath(nullptr));
  const std::wstring folder = ProgramDataReportFolder();
  if (!folder.empty()) CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

DllEventDump::DllEventDump(const std::wstring& folder, const std::wstring& processName) : m_folder(folder) {
  if (!m_folder.empty()) m_path = m_folder + L"\\dllReport." + FileNameOnly(processName) + L".V1";
}

bool DllEventDump::DumpEventToFile(HANDLE file, const std::string& text) {
  dbgtrace::Scope scope("[DLLPROTECT] :: DumpEventToFile -> ", "[DLLPROTECT] :: DumpEventToFile <- ");
  if (*dbgtrace::DbgTraceLevel() != 0) TraceA("%s", fmt::format("event dump is: {}", text).c_str());
  const std::vector<uint8_t> cipher = EncipherReportText(text);
  if (cipher.empty()) {  // an empty text cannot be enciphered ("Incorrect buffer length")
    TraceA("encrypt failed");
    return false;
  }
  const uint32_t length = static_cast<uint32_t>(cipher.size());
  uint8_t prefix[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                       static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
  DWORD written = 0;
  if (!WriteFile(file, prefix, 4, &written, nullptr) || written != 4 ||
      !WriteFile(file, cipher.data(), length, &written, nullptr) || written != length) {
    TraceA("WriteFile failed 0x%x  dw: 0x%x size: 0x%x", static_cast<unsigned>(GetLastError()),
           static_cast<unsigned>(written), static_cast<unsigned>(length));
    return false;
  }
  return true;
}

HANDLE DllEventDump::OpenReportFile(const std::wstring& path, int& attempts) {
  // No sharing: concurrent writers take turns, each finding the file busy until the other closes
  // it. Only that is waited for; a file this process may not open (another user's report, say)
  // is given up at once rather than stalling the loading thread.
  for (attempts = 1;; ++attempts) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (GetLastError() != ERROR_SHARING_VIOLATION || attempts >= kOpenTries) return INVALID_HANDLE_VALUE;
    Sleep(10);
  }
}

bool DllEventDump::Dump(const DllProtectInfo& event) const {
  dbgtrace::Scope scope("[DLLPROTECT] :: DumpDllProtEvent -> ", "[DLLPROTECT] :: DumpDllProtEvent <- ");
  if (m_path.empty()) return false;
  // The folder may have been made by another user of a shared folder: a link put in its place
  // would send the records (written with this process's rights) elsewhere.
  const DWORD attributes = GetFileAttributesW(m_folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    TraceA("no report folder, or a link in its place");
    return false;
  }
  int attempts = 0;
  ov::ScopedHandle file(OpenReportFile(m_path, attempts));
  if (!file.IsValid()) {
    TraceA("cannot open write file: error %u after %d attempts", static_cast<unsigned>(GetLastError()), attempts);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  LARGE_INTEGER size = {};
  if (!GetFileInformationByHandle(file.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      info.nNumberOfLinks > 1 || !GetFileSizeEx(file.Get(), &size)) {
    // Not a plain file of its own, or no end to append at: nothing is written.
    TraceA("report file refused: attributes 0x%x links %u error %u", static_cast<unsigned>(info.dwFileAttributes),
           static_cast<unsigned>(info.nNumberOfLinks), static_cast<unsigned>(GetLastError()));
    return false;
  }
  if (static_cast<uint64_t>(size.QuadPart) > kMaxReportBytes) {
    SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file.Get());
    size.QuadPart = 0;
  }
  LARGE_INTEGER end = size;
  if (!SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN)) return false;
  if (DumpEventToFile(file.Get(), JoinFields(event))) return true;
  TraceA("DumpEventToFile failed");
  // No partial record stays behind.
  SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN);
  SetEndOfFile(file.Get());
  return false;
}

std::string HexField(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

ReportContent ReadReport(const std::string& bytes) {
  ReportContent content;
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4) {
      content.error = "truncated record length at offset " + std::to_string(at);
      return content;
    }
    uint32_t length;
    memcpy(&length, bytes.data() + at, 4);
    at += 4;
    if (length > bytes.size() - at) {
      content.error = "record at offset " + std::to_string(at - 4) + " runs past the end";
      return content;
    }
    std::string text;
    DllProtectInfo event;
    if (!DecipherReportText(reinterpret_cast<const uint8_t*>(bytes.data() + at), length, text)) {
      content.error = "record at offset " + std::to_string(at - 4) + " has a bad length";
      return content;
    }
    // The padding; blanks that belong to the text are written escaped.
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!SplitFields(text, event)) {
      content.error = "record at offset " + std::to_string(at - 4) + " does not hold eight fields as written";
      return content;
    }
    content.events.push_back(event);
    at += length;
  }
  return content;
}

}  // namespace dllprotect
