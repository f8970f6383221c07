#include "installer/palisk/command_line.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "framework/crypt_base64.h"
#include "framework/scoped_handle.h"
#include "framework/utf8.h"
#include "installer/palisk/process_reader.h"
#include "logging/binary_logger.h"

namespace palisk {
namespace {

constexpr char kLogSource[] = "palisk.cpp";
using RovEveduzodi::BinaryLogger::kInfo;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

}  // namespace

CommandLineOptions CommandLineOptions::Parse(const std::wstring& commandLine) {
  CommandLineOptions options;
  if (commandLine.empty()) return options;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(commandLine.c_str(), &count);
  if (arguments == nullptr) return options;
  for (int i = 0; i < count; ++i) {
    std::wstring argument = arguments[i];
    if (!argument.empty() && argument[0] == L'/') argument.erase(0, 1);
    const size_t equals = argument.find(L'=');
    if (equals == std::wstring::npos) {
      options.m_options.emplace(argument, std::wstring());
    } else {
      options.m_options.emplace(argument.substr(0, equals), argument.substr(equals + 1));
    }
  }
  LocalFree(arguments);
  return options;
}

std::wstring CommandLineOptions::Value(const wchar_t* name) const {
  auto it = m_options.find(name);
  return it != m_options.end() ? it->second : std::wstring();
}

ParsedLaunch ReadLaunchOptions(const CommandLineOptions& options) {
  ParsedLaunch launch;
  LaunchParameters& p = launch.parameters;
  launch.silent = options.Has(L"silent");
  p.statusToFile = options.Has(L"statustofile");
  p.onlyCheckPrerequisites = options.Has(L"onlyCheckPrerequisites");
  if (options.Has(L"hwid")) p.hwid = options.Value(L"hwid").c_str();
  if (options.Has(L"configFile")) p.configFile = options.Value(L"configFile").c_str();
  if (options.Has(L"defaultUrl")) p.defaultUrl = options.Value(L"defaultUrl").c_str();
  if (options.Has(L"runParams")) p.runParams = options.Value(L"runParams").c_str();
  if (options.Has(L"taskId")) p.taskId = options.Value(L"taskId").c_str();
  if (options.Has(L"sourceUrlEnc")) {
    launch.sourceUrlEnc = options.Value(L"sourceUrlEnc");
    PALISK_LOG(kInfo, L"[PALISK] command line sourceUrlEnc [%s]", launch.sourceUrlEnc.c_str());
  }
  return launch;
}

DWORD GetParentProcessId() {
  ov::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
  }
  return 0;
}

std::wstring GetParrentProcessCmdLine() {
  const DWORD parentId = GetParentProcessId();
  PALISK_LOG(kInfo, L"[SETUP] GetParrentProcessCmdLine parent process id<%d>", parentId);
  ov::ScopedHandle parent(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, parentId));
  if (!parent.IsValid()) {
    PALISK_LOG(kInfo, L"[SETUP] GetParrentProcessCmdLine could not open parent process handle. error<%d>",
               GetLastError());
    return std::wstring();
  }
  std::wstring why;
  const std::wstring result = ReadProcessCommandLine(parent.Get(), why);
  if (!why.empty()) {
    PALISK_LOG(kInfo, L"[SETUP] GetParrentProcessCmdLine %s", why.c_str());
    return std::wstring();
  }
  PALISK_LOG(kInfo, L"[SETUP] GetParrentProcessCmdLine parent command line<%s>", result.c_str());
  return result;
}

void GetParentImagePath(std::wstring& path) {
  ov::ScopedHandle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetParentProcessId()));
  if (!parent.IsValid()) return;
  const std::wstring image = ProcessImagePath(parent.Get());
  if (!image.empty()) path = image;
}

std::wstring DecodeSourceUrl(const std::wstring& encoded) {
  std::wstring text = encoded;
  std::replace(text.begin(), text.end(), L'-', L'/');
  std::string utf8;
  for (wchar_t c : text) {
    // Base64 is ASCII: anything else makes the decode fail, as it should.
    utf8 += c < 0x80 ? static_cast<char>(c) : '\x80';
  }
  Crypt::Base64ObjectImplementation base64;
  std::vector<uint8_t> bytes;
  if (base64.Decode(utf8, bytes) != 0) return std::wstring();
  bytes.push_back(0);
  return ov::FromUtf8(reinterpret_cast<const char*>(bytes.data()));
}

std::wstring SourceFromPath(std::wstring path, const std::wstring& parentCommandLine) {
  if (!parentCommandLine.empty() && !path.empty()) {
    const size_t at = Lower(parentCommandLine).find(Lower(path));
    // The command line's own spelling wins: the encoded part is case-sensitive.
    if (at != std::wstring::npos) path = parentCommandLine.substr(at, path.size());
  }
  PALISK_LOG(kInfo, L"[SETUP] Found parent path <%s>", path.c_str());

  // The file name (what PathStripPathW leaves) is what may carry "[...]".
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  std::wstring source;
  const size_t open = name.find(L'[');
  if (open != std::wstring::npos) {
    const size_t close = name.find(L']', open + 1);
    if (close != std::wstring::npos) {
      source = name.substr(open + 1, close - open - 1);
      PALISK_LOG(kInfo, L"[SETUP] Found source<%s>", source.c_str());
    }
  }
  if (source.empty()) return std::wstring();
  const std::wstring baseUrl = DecodeSourceUrl(source);
  PALISK_LOG(kInfo, L"[SETUP] DownloadConfigFiles for baseurl<%s>", baseUrl.c_str());
  return baseUrl;
}

std::wstring GetSourceFromParentPath(const std::wstring& parentCommandLine) {
  std::wstring path;
  GetParentImagePath(path);
  return SourceFromPath(path, parentCommandLine);
}

KitLocation ResolveBaseUrlAndLanguage(const LaunchParameters& parameters,
                                      const std::wstring& sourceUrlEnc,
                                      const std::wstring& parentCommandLine) {
  KitLocation location;
  if (!parameters.configFile.IsEmpty()) return location;
  if (!sourceUrlEnc.empty()) {
    location.baseUrl = DecodeSourceUrl(sourceUrlEnc);
    PALISK_LOG(kInfo, L"[SETUP] DownloadConfigFiles for baseurl<%s>", location.baseUrl.c_str());
  }
  if (!location.baseUrl.empty()) return location;

  location.baseUrl = GetSourceFromParentPath(parentCommandLine);
  PALISK_LOG(kInfo, L"[SETUP] sourceNameDecoded [%s]", location.baseUrl.c_str());
  const size_t lang = location.baseUrl.find(L"?lang=");
  if (lang != std::wstring::npos) {
    location.language = location.baseUrl.substr(lang + 6);
    location.baseUrl.erase(lang);
  }
  return location;
}

}  // namespace palisk
