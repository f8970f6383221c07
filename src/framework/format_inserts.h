// Numbered-insert formatting ("%1" ... "%99", with FormatMessage's rules) that never reads
// past the arguments the caller gave: a text may come from a translation and name more
// inserts than its caller knows of, and those become empty text.
#pragma once

#include <string>
#include <vector>

namespace ov {

// `format` without its "[" and "]" characters, formatted by FormatMessageW with `arguments`
// as the argument array. False (and `out` empty) when FormatMessageW fails.
bool FormatInserts(const wchar_t* format, const std::vector<const wchar_t*>& arguments, std::wstring& out);

}  // namespace ov
