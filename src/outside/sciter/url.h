// Page addresses: "file://" URLs (file://C:/dir/page.html, file:///C:/..., file://C:\...,
// with %-escapes of UTF-8 bytes) to Windows paths, and references inside a page (src=,
// href=) resolved against the page's folder.
#pragma once

#include <string>

namespace sciter_engine {

// False for anything that is not a local file address. A plain absolute path is accepted too.
bool FileUrlToPath(const std::wstring& url, std::wstring* path);
// `reference` as a path: absolute references (file:// or a drive path) stand alone, others
// are relative to the folder of `page_path`. Query strings and fragments are dropped.
bool ResolveReference(const std::wstring& page_path, const std::wstring& reference, std::wstring* path);
// The path written as a file:// URL (for the host's callbacks).
std::wstring PathToFileUrl(const std::wstring& path);

}  // namespace sciter_engine
