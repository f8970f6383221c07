// Small helpers shared by the tests: scratch folders, files, and where the build put things.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A fresh folder below %TEMP%, removed with everything in it when the object goes.
class ScopedTempFolder {
 public:
  ScopedTempFolder();
  ~ScopedTempFolder();
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

  const std::wstring& Path() const { return m_path; }
  // Path of `relative` inside the folder (subfolders are created).
  std::wstring Make(const std::wstring& relative) const;

 private:
  std::wstring m_path;
};

void RemoveTree(const std::wstring& path);

// The folder of the running test executable (build\tests\bin or a folder below it) and the
// build tree.
std::wstring TestBinFolder();
std::wstring BuildFolder();
// build\outside: the stand-ins for outside components.
std::wstring OutsideFolder();

bool FileExists(const std::wstring& path);
// Copies `source` to `target`, creating the target's folder; false on failure.
bool CopyFileTo(const std::wstring& source, const std::wstring& target);
bool WriteTextFile(const std::wstring& path, const std::string& utf8);
// The whole file decoded from UTF-8; "" when it cannot be read.
std::wstring ReadTextFile(const std::wstring& path);
// The whole file as bytes; "" when it cannot be read.
std::string ReadBinaryFile(const std::wstring& path);
// A kit URL as the kit tool encodes it for sourceUrlEnc and file names ("/" written "-").
std::wstring EncodeSourceUrl(const std::string& url);
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

// A certificate name encoded as X.509 DER: relative names in order, each with its attributes
// (OID, value) as UTF8String. Independent of any system's text form of names.
using NameAttribute = std::pair<const char*, std::wstring>;
std::vector<unsigned char> EncodeCertificateName(const std::vector<std::vector<NameAttribute>>& relativeNames);

}  // namespace testing_support
