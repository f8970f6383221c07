// Local paths as file: URLs and back. Every byte of the path's UTF-8 that could mean
// something else in a URL ("#", "?", "%", spaces...) is escaped, so any folder name works.
#pragma once

#include <string>

namespace ov {
namespace gui {

// "C:\a b\p.html" -> "file:///C:/a%20b/p.html".
std::wstring FileUrlOfPath(const std::wstring& path);
// A file: URL (escapes decoded) or a plain path, as a full path with backslashes; false for
// anything else.
bool PathOfFileUrl(const std::wstring& url, std::wstring* path);
// True when `path` (a full path) lies inside `folder` ("." and ".." folded first).
bool PathIsInsideFolder(const std::wstring& path, const std::wstring& folder);

}  // namespace gui
}  // namespace ov
