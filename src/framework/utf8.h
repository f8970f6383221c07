// UTF-16 <-> UTF-8 conversions: texts are UTF-16 in the program, UTF-8 on the wire, in files
// and in logs.
#pragma once

#include <string>

namespace ov {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace ov
