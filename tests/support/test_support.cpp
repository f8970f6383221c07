#include "support/test_support.h"

#include <shlobj.h>
#include <wincrypt.h>

#include <atomic>
#include <vector>

#include "framework/crypt_base64.h"
#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/scoped_handle.h"

namespace testing_support {

ScopedTempFolder::ScopedTempFolder() {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  for (;;) {
    m_path = std::wstring(temp) + L"palisk-test-" + std::to_wstring(GetCurrentProcessId()) +
             L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
    if (CreateDirectoryW(m_path.c_str(), nullptr)) break;
  }
}

ScopedTempFolder::~ScopedTempFolder() { RemoveTree(m_path); }

std::wstring ScopedTempFolder::Make(const std::wstring& relative) const {
  const std::wstring path = m_path + L"\\" + relative;
  const std::wstring folder = ov::FolderOf(path);
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  return path;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  ov::ScopedFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &data));
  if (find.IsValid()) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find.Get(), &data));
  }
  find.Close();
  RemoveDirectoryW(path.c_str());
}

std::wstring TestBinFolder() { return ov::FolderOf(ov::ModuleFilePath(nullptr)); }

std::wstring BuildFolder() {
  // The first folder above the executable that holds the CMake cache: test executables live
  // at different depths below the build tree.
  for (std::wstring folder = TestBinFolder(); !folder.empty(); folder = ov::FolderOf(folder)) {
    if (FileExists(folder + L"\\CMakeCache.txt")) return folder;
  }
  return ov::FolderOf(ov::FolderOf(TestBinFolder()));
}

std::wstring OutsideFolder() { return BuildFolder() + L"\\outside"; }

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyFileTo(const std::wstring& source, const std::wstring& target) {
  SHCreateDirectoryExW(nullptr, ov::FolderOf(target).c_str(), nullptr);
  return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

bool WriteTextFile(const std::wstring& path, const std::string& utf8) {
  SHCreateDirectoryExW(nullptr, ov::FolderOf(path).c_str(), nullptr);
  ov::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) &&
         written == utf8.size();
}

std::wstring ReadTextFile(const std::wstring& path) { return Utf8ToWide(ReadBinaryFile(path)); }

std::string ReadBinaryFile(const std::wstring& path) {
  std::string bytes;
  ov::ReadWholeFile(path, bytes);
  return bytes;
}

std::wstring EncodeSourceUrl(const std::string& url) {
  Crypt::Base64ObjectImplementation base64;
  std::string text;
  base64.Encode(url.data(), static_cast<uint32_t>(url.size()), text, true);
  std::wstring wide(text.begin(), text.end());
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'-';
  }
  return wide;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n,
                      nullptr, nullptr);
  return utf8;
}

std::vector<unsigned char> EncodeCertificateName(const std::vector<std::vector<NameAttribute>>& relativeNames) {
  std::vector<std::vector<CERT_RDN_ATTR>> attributes;
  std::vector<CERT_RDN> rdns;
  for (const auto& names : relativeNames) {
    attributes.emplace_back();
    for (const NameAttribute& name : names) {
      CERT_RDN_ATTR attribute = {};
      attribute.pszObjId = const_cast<char*>(name.first);
      attribute.dwValueType = CERT_RDN_UTF8_STRING;
      attribute.Value.cbData = static_cast<DWORD>(name.second.size() * sizeof(wchar_t));
      attribute.Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(name.second.c_str()));
      attributes.back().push_back(attribute);
    }
  }
  for (auto& rdn : attributes) rdns.push_back({static_cast<DWORD>(rdn.size()), rdn.data()});
  CERT_NAME_INFO info = {static_cast<DWORD>(rdns.size()), rdns.data()};
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, &info, 0, nullptr, nullptr, &size)) return {};
  std::vector<unsigned char> encoded(size);
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, &info, 0, nullptr, encoded.data(), &size)) return {};
  encoded.resize(size);
  return encoded;
}

}  // namespace testing_support
