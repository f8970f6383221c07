#include "installer/palisk/product_detection.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>

#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/scoped_handle.h"
#include "framework/system_library.h"
#include "gui/message_box.h"
#include "installer/palisk/glossel_client.h"
#include "installer/palisk/productconfig.h"
#include "installer/palisk/run_result_codes.h"
#include "installer/palisk/xml_document.h"
#include "logging/binary_logger.h"

namespace palisk {
namespace {

constexpr char kLogSource[] = "palisk.cpp";
using namespace RovEveduzodi::BinaryLogger;
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sentiva";
constexpr uint32_t kNotEnoughSpace = run_result::kNotEnoughSpace;

// Windows Installer entries, imported by ordinal from msi.dll.
using EnumRelatedFn = UINT(WINAPI*)(LPCWSTR, DWORD, DWORD, LPWSTR);
using SetInternalUiFn = int(WINAPI*)(int, HWND*);
using OpenProductFn = UINT(WINAPI*)(LPCWSTR, DWORD*);
using GetPropertyFn = UINT(WINAPI*)(DWORD, LPCWSTR, LPWSTR, LPDWORD);
using CloseHandleFn = UINT(WINAPI*)(DWORD);

template <class Fn>
Fn Ordinal(HMODULE module, WORD ordinal) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

uint32_t ReadMachineRegistryText(const std::wstring& keyPath, const wchar_t* name, std::wstring& text) {
  if (keyPath.empty()) return ERROR_FUNCTION_FAILED;
  HKEY raw = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &raw);
  if (result != ERROR_SUCCESS) result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &raw);
  if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
  ov::ScopedRegKey key(raw);
  DWORD size = 0;
  result = RegQueryValueExW(key.Get(), name, nullptr, nullptr, nullptr, &size);
  if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  result = RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value[0]), &size);
  if (result == ERROR_SUCCESS) text.assign(value.c_str());
  return static_cast<uint32_t>(result);
}

uint32_t MatchProductKey(const std::wstring& upgradeCode, std::wstring& name) {
  if (upgradeCode.empty()) return ERROR_FUNCTION_FAILED;
  std::wstring installed;
  const uint32_t result = ReadMachineRegistryText(kProductKey, L"UpgradeCode", installed);
  if (result != 0) return result;
  // Only the same upgrade code is the same product: another product's key is not an
  // installed older version of this one.
  if (installed != upgradeCode) return ERROR_NOT_FOUND;
  name = L"Sentiva";
  return 0;
}

std::vector<std::wstring> RelatedProducts(const std::wstring& upgradeCode) {
  std::vector<std::wstring> products;
  if (upgradeCode.empty()) return products;
  ov::ScopedModule msi(ov::LoadSystemLibrary(L"msi.dll"));
  auto enumerate = Ordinal<EnumRelatedFn>(msi.Get(), 205);
  auto setUi = Ordinal<SetInternalUiFn>(msi.Get(), 141);
  auto open = Ordinal<OpenProductFn>(msi.Get(), 96);
  auto property = Ordinal<GetPropertyFn>(msi.Get(), 72);
  auto close = Ordinal<CloseHandleFn>(msi.Get(), 8);
  if (enumerate != nullptr && setUi != nullptr && open != nullptr && property != nullptr && close != nullptr) {
    for (DWORD index = 0;; ++index) {
      wchar_t product[39] = L"";
      if (enumerate(upgradeCode.c_str(), 0, index, product) != ERROR_SUCCESS) break;
      auto readVersion = [&](std::wstring& version, DWORD& length) {
        HWND window = nullptr;
        setUi(2, &window);  // no user interface
        DWORD handle = 0;
        if (open(product, &handle) != ERROR_SUCCESS) return static_cast<UINT>(ERROR_UNKNOWN_PRODUCT);
        version.assign(length, L'\0');
        DWORD size = length;
        const UINT read = property(handle, L"ProductVersion", length != 0 ? &version[0] : nullptr, &size);
        close(handle);
        length = size + 1;
        return read;
      };
      std::wstring version;
      DWORD length = 0;
      UINT read = readVersion(version, length);
      if (read == ERROR_MORE_DATA) read = readVersion(version, length);
      if (read != ERROR_SUCCESS) break;
      products.push_back(product);
    }
  }
  std::wstring name;
  if (MatchProductKey(upgradeCode, name) == 0) products.push_back(name);
  return products;
}

void DetectOldVersions(ProductInformation& product, const std::wstring& workingFolder, bool is64Bit,
                       std::wstring& language) {
  if (RelatedProducts(product.upgradeCode.c_str()).empty()) return;
  std::wstring installed;
  ReadMachineRegistryText(kProductKey, L"InstallLocation", installed);
  product.installedFolder = installed.c_str();
  if (installed.empty()) {
    // Without the product's folder there is no configuration to keep: never "\\tallon.xml"
    // at the root of the current drive.
    PALISK_LOG(kError, L"DetectOldVersions: the installed product's InstallLocation cannot be read.");
    return;
  }
  const std::wstring source = ov::JoinPath(installed, L"tallon.xml");
  const std::wstring target = ov::JoinPath(workingFolder, is64Bit ? L"x64" : L"x86");
  CreateDirectoryW(target.c_str(), nullptr);
  const std::wstring copy = ov::JoinPath(target, L"tallon.old.xml");
  CopyFileW(source.c_str(), copy.c_str(), FALSE);

  XmlDocument document;
  if (FAILED(document.Create())) {
    PALISK_LOG(kError, L"DetectOldVersions error %d on creating XML instance.", GetLastError());
    return;
  }
  bool loaded = false;
  const HRESULT result = document.Load(copy, loaded);
  if (!loaded) {
    PALISK_LOG(kError, L"DetectOldVersions: error loading XML \"%s\" - retVal = %d; loadsuccess = %d;  last error = %d.",
               copy.c_str(), result, loaded ? 1 : 0, GetLastError());
    return;
  }
  std::wstring localization;
  if (document.SelectText(L"//root/operations/value[@var=\"Localization\"]", localization) == S_OK) {
    language = localization;
  }
  const std::wstring folder =
      ov::JoinPath(ov::JoinPath(ov::FolderOf(ov::ModuleFilePath(nullptr)), L"lang"), language.c_str());
  if (ov::FolderExists(folder)) {
    GlosselHandle client;
    client->SetDictionaryFolder(folder.c_str());
  }
}

std::wstring ShortfallText(uint64_t freeBytes, int64_t minimumMb) {
  const uint64_t freeMb = freeBytes >> 20;
  const uint64_t minimum = minimumMb > 0 ? static_cast<uint64_t>(minimumMb) : 0;
  const uint64_t shortfall = minimum > freeMb ? minimum - freeMb : 0;
  if (shortfall > 1) {
    PALISK_LOG(kInfo, L"Free [%lld]", static_cast<long long>(shortfall));
    wchar_t text[32];
    _snwprintf(text, 32, L"%lld", static_cast<long long>(shortfall));
    text[31] = 0;
    return text;
  }
  PALISK_LOG(kInfo, L"Free 1Mb");
  return L"1";
}

uint32_t CheckAvailableSpace(wchar_t (&path)[260], bool silent, int64_t minimumMb, CProductConfig& configuration) {
  SHGetSpecialFolderPathW(nullptr, path, CSIDL_SYSTEM, FALSE);
  PathStripToRootW(path);
  ULARGE_INTEGER available = {}, total = {}, free = {};
  GetDiskFreeSpaceExW(path, &available, &total, &free);
  if (available.QuadPart >= static_cast<uint64_t>(minimumMb) * 1048576ULL) return 0;
  const std::wstring shortfall = ShortfallText(available.QuadPart, minimumMb);
  const std::wstring translated = Translate(L"_LSNot enough free space on drive [%1]. Please free [%2] MB.");
  ov::StringT formatted;
  GlosselClient::Format(formatted, translated.c_str(), static_cast<const wchar_t*>(path), shortfall.c_str());
  const std::wstring message = formatted.c_str();
  if (silent) PALISK_LOG(kError, L"[SETUP] %s", message.c_str());
  else ov::gui::ShowMessageBox(message, configuration.GetProductDisplayName(), MB_OK | MB_ICONWARNING);
  return kNotEnoughSpace;
}

}  // namespace palisk
