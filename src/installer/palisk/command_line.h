// Launch options from Palisk's own command line or its parent's ("/ovparams"), and where the
// kit lives: the encoded base URL from an option or from the parent executable's file name.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "installer/palisk/launch_parameters.h"

namespace palisk {

// Options by name (case-sensitive); a name given twice keeps its first value.
class CommandLineOptions {
 public:
  // Every argument is an option, the first one included; one leading "/" is dropped and the
  // value follows the first "=".
  static CommandLineOptions Parse(const std::wstring& commandLine);

  bool Has(const wchar_t* name) const { return m_options.count(name) != 0; }
  std::wstring Value(const wchar_t* name) const;
  size_t Count() const { return m_options.size(); }

 private:
  std::map<std::wstring, std::wstring> m_options;
};

struct ParsedLaunch {
  LaunchParameters parameters;
  bool silent = false;
  std::wstring sourceUrlEnc;
};

// Reads the recognised options into the launch records.
ParsedLaunch ReadLaunchOptions(const CommandLineOptions& options);

DWORD GetParentProcessId();
// The parent's command line, read from its process environment block (of either bitness);
// "" when it cannot be read, with the reason in the run log.
std::wstring GetParrentProcessCmdLine();
// Full path of the parent's executable; `path` unchanged when it cannot be read.
void GetParentImagePath(std::wstring& path);

// "-" back to "/", then Base64 to UTF-8 to UTF-16. "" when the text does not decode.
std::wstring DecodeSourceUrl(const std::wstring& encoded);

// The base URL encoded between "[" and "]" in the parent executable's file name, spelled as
// the parent's command line spells it; "" when there is none.
std::wstring GetSourceFromParentPath(const std::wstring& parentCommandLine);
// The same, from a known parent path (the testable core).
std::wstring SourceFromPath(std::wstring path, const std::wstring& parentCommandLine);

struct KitLocation {
  std::wstring baseUrl;
  std::wstring language = L"en-US";
};

KitLocation ResolveBaseUrlAndLanguage(const LaunchParameters& parameters,
                                      const std::wstring& sourceUrlEnc,
                                      const std::wstring& parentCommandLine);

}  // namespace palisk
