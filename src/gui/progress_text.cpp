#include "gui/progress_text.h"

#include <cwchar>

namespace ov {
namespace gui {
namespace {

constexpr double kMegabyteThreshold = 1000.0;
constexpr double kKilobytesToMegabytes = 0.0009765625;  // 1 / 1024
constexpr UINT kButtonSetMask = 0x0F;

constexpr wchar_t kOkToken[] = L"_LSOKLS_";
constexpr wchar_t kYesToken[] = L"_LSYesLS_";
constexpr wchar_t kNoToken[] = L"_LSNoLS_";

}  // namespace

bool SpeedInMegabytes(double kilobytesPerSecond) { return kilobytesPerSecond >= kMegabyteThreshold; }

std::wstring FormatSpeed(double kilobytesPerSecond, const std::wstring& kbUnit, const std::wstring& mbUnit) {
  const bool megabytes = SpeedInMegabytes(kilobytesPerSecond);
  const double value = megabytes ? kilobytesPerSecond * kKilobytesToMegabytes : kilobytesPerSecond;
  const std::wstring& unit = megabytes ? mbUnit : kbUnit;
  // The number takes at most a few dozen characters even for absurd speeds; the unit is
  // appended separately so that no translated unit can be cut.
  wchar_t number[64];
  const int written = _snwprintf(number, 64, L"%4.2f", value);
  number[63] = 0;
  if (written < 0) return unit;
  return std::wstring(number) + L" " + unit;
}

std::vector<const wchar_t*> ButtonTokensForType(UINT type) {
  switch (type & kButtonSetMask) {
    case MB_OK: return {kOkToken};
    case MB_YESNO: return {kYesToken, kNoToken};
    default: return {};
  }
}

bool ResultOfButtonToken(const std::wstring& token, int* result) {
  if (token == kOkToken) *result = IDOK;
  else if (token == kYesToken) *result = IDYES;
  else if (token == kNoToken) *result = IDNO;
  else return false;
  return true;
}

}  // namespace gui
}  // namespace ov
