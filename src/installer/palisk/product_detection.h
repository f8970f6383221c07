// Before the download: an installed older version of the product (whose settings and language
// the new installer keeps) and the free space on the system drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installer/palisk/launch_parameters.h"

class CProductConfig;

namespace palisk {

// A text value under HKEY_LOCAL_MACHINE, from the 64-bit view when the 32-bit one lacks it.
// 0, 1627 for an empty key path, or the registry error.
uint32_t ReadMachineRegistryText(const std::wstring& keyPath, const wchar_t* name, std::wstring& text);

// "Sentiva" when the product key's UpgradeCode is exactly `upgradeCode`; 0 only then.
uint32_t MatchProductKey(const std::wstring& upgradeCode, std::wstring& name);

// Installed products related to `upgradeCode` (Windows Installer, then the product key).
std::vector<std::wstring> RelatedProducts(const std::wstring& upgradeCode);

// With an older version installed: its "tallon.xml" becomes "tallon.old.xml" beside the kit's
// installer, and the language it records becomes the run's language.
void DetectOldVersions(ProductInformation& product, const std::wstring& workingFolder, bool is64Bit,
                       std::wstring& language);

// 0 when the system drive has `minimumMb` free, else 8 after telling the user (or the log).
uint32_t CheckAvailableSpace(wchar_t (&path)[260], bool silent, int64_t minimumMb, CProductConfig& configuration);
// The shortfall shown to the user: what the minimum really lacks, in whole MB, at least 1.
std::wstring ShortfallText(uint64_t freeBytes, int64_t minimumMb);

}  // namespace palisk
