// The texts of the progress page and the popup's button set, kept apart from the windows so
// that they can be checked on their own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ov {
namespace gui {

// "%4.2lf %s": kilobytes per second below 1000, else megabytes (divided by 1024), so that
// 1000 KB/s reads as 0.98 MB/s.
std::wstring FormatSpeed(double kilobytesPerSecond, const std::wstring& kbUnit, const std::wstring& mbUnit);
// True when the speed is shown in megabytes per second.
bool SpeedInMegabytes(double kilobytesPerSecond);

// The button tokens of a message-box type, in display order: OK for MB_OK, Yes and No for
// MB_YESNO (only the low four bits count); none for any other set.
std::vector<const wchar_t*> ButtonTokensForType(UINT type);
// The message-box result of a pressed button's token; false for anything but the exact token.
bool ResultOfButtonToken(const std::wstring& token, int* result);

}  // namespace gui
}  // namespace ov
