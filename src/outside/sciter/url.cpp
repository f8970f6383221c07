#include "url.h"

#include <cwctype>
#include <vector>

#include "text_codec.h"

namespace sciter_engine {

namespace {

int Hex(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// %XX escapes are bytes of UTF-8; the rest of the text stays as it is.
std::wstring PercentDecode(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == L'%' && i + 2 < text.size() && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0) {
      std::string bytes;
      while (i + 2 < text.size() && text[i] == L'%' && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0) {
        bytes += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
        i += 3;
      }
      out += Utf8ToWide(bytes.data(), bytes.size());
      continue;
    }
    out += text[i++];
  }
  return out;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= text.size() || towlower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool IsDrivePath(const std::wstring& path) {
  return path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::wstring StripQuery(const std::wstring& text) {
  const size_t cut = text.find_first_of(L"?#");
  return cut == std::wstring::npos ? text : text.substr(0, cut);
}

// Backslashes, and "." / ".." segments folded.
std::wstring Normalize(const std::wstring& path) {
  std::wstring slashed = path;
  for (wchar_t& c : slashed) {
    if (c == L'/') c = L'\\';
  }
  const bool unc = slashed.compare(0, 2, L"\\\\") == 0;
  std::vector<std::wstring> parts;
  std::wstring part;
  for (size_t i = unc ? 2 : 0; i <= slashed.size(); ++i) {
    if (i == slashed.size() || slashed[i] == L'\\') {
      if (part == L"..") {
        if (parts.size() > 1) parts.pop_back();
      } else if (!part.empty() && part != L".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += slashed[i];
    }
  }
  std::wstring out = unc ? L"\\\\" : L"";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += L'\\';
    out += parts[i];
  }
  if (parts.size() == 1 && IsDrivePath(parts[0] + L"\\")) out += L'\\';
  return out;
}

}  // namespace

bool FileUrlToPath(const std::wstring& url, std::wstring* path) {
  std::wstring rest;
  if (StartsWithNoCase(url, L"file://")) {
    rest = PercentDecode(StripQuery(url.substr(7)));
    if (StartsWithNoCase(rest, L"localhost/")) rest = rest.substr(9);
    // file:///C:/x carries the drive after one more slash; file:////server/share is a share.
    if (rest.size() >= 3 && (rest[0] == L'/' || rest[0] == L'\\') && iswalpha(rest[1]) &&
        (rest[2] == L':' || rest[2] == L'|')) {
      rest = rest.substr(1);
    }
    if (rest.size() >= 2 && iswalpha(rest[0]) && rest[1] == L'|') rest[1] = L':';
    // Drive paths only: a share (//host/x) would open a network connection and hand the
    // user's credentials to the host; device paths (//./x, //?/x) are no page's business.
    if (!IsDrivePath(rest)) return false;
  } else if (IsDrivePath(url)) {
    rest = url;
  } else {
    return false;
  }
  *path = Normalize(rest);
  return !path->empty();
}

bool ResolveReference(const std::wstring& page_path, const std::wstring& reference, std::wstring* path) {
  if (reference.empty()) return false;
  if (StartsWithNoCase(reference, L"file:") || IsDrivePath(reference)) return FileUrlToPath(reference, path);
  if (reference.find(L"://") != std::wstring::npos || StartsWithNoCase(reference, L"data:")) return false;
  const size_t slash = page_path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : page_path.substr(0, slash + 1);
  std::wstring relative = PercentDecode(StripQuery(reference));
  const auto is_slash = [](wchar_t c) { return c == L'/' || c == L'\\'; };
  if (relative.size() >= 2 && is_slash(relative[0]) && is_slash(relative[1])) return false;  // a share or device
  if (!relative.empty() && is_slash(relative[0])) {
    // Rooted: the drive of the page.
    *path = Normalize(page_path.substr(0, 2) + relative);
    return true;
  }
  *path = Normalize(folder + relative);
  return !path->empty();
}

std::wstring PathToFileUrl(const std::wstring& path) {
  // Escaped like any URL, so the host reads back exactly this path whatever its folder names.
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring url = L"file:///";
  for (unsigned char byte : WideToUtf8(path)) {
    const bool plain = iswalnum(byte) && byte < 0x80;
    if (byte == '\\') url += L'/';
    else if (plain || byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/' || byte == ':') url += byte;
    else url += {L'%', kHex[byte >> 4], kHex[byte & 15]};
  }
  return url;
}

}  // namespace sciter_engine
