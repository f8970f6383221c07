#include "framework/format_inserts.h"

#include <windows.h>

namespace ov {
namespace {

// FormatMessageW knows inserts %1 to %99; one with a printf form such as "!*s!" or "!I64d!"
// reads a second slot. Slots past the caller's arguments hold an empty string.
constexpr size_t kArgumentSlots = 2 * 99 + 2;

}  // namespace

bool FormatInserts(const wchar_t* format, const std::vector<const wchar_t*>& arguments, std::wstring& out) {
  out.clear();
  if (format == nullptr || *format == 0) return false;
  std::wstring source;
  for (const wchar_t* c = format; *c != 0; ++c) {
    if (*c != L'[' && *c != L']') source += *c;
  }
  std::vector<DWORD_PTR> slots(kArgumentSlots > arguments.size() ? kArgumentSlots : arguments.size(),
                               reinterpret_cast<DWORD_PTR>(L""));
  for (size_t i = 0; i < arguments.size(); ++i) {
    slots[i] = reinterpret_cast<DWORD_PTR>(arguments[i] != nullptr ? arguments[i] : L"");
  }
  wchar_t* produced = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                     source.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&produced), 0,
                     reinterpret_cast<va_list*>(slots.data()));
  if (length != 0 && produced != nullptr) out.assign(produced, length);
  if (produced != nullptr) LocalFree(produced);
  return length != 0;
}

}  // namespace ov
