#include "fonts.h"

#include <vector>

namespace sciter_engine {

namespace {

int CALLBACK FoundFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

std::wstring TrimSpaces(const std::wstring& text) {
  const size_t begin = text.find_first_not_of(L" \t");
  if (begin == std::wstring::npos) return std::wstring();
  const size_t end = text.find_last_not_of(L" \t");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

DWORD FontQualityForSmoothing(UINT smoothing) {
  switch (smoothing) {
    case 1: return NONANTIALIASED_QUALITY;
    case 2: return ANTIALIASED_QUALITY;
    case 3: return CLEARTYPE_QUALITY;
    default: return DEFAULT_QUALITY;
  }
}

FontCache::FontCache(DWORD quality) : quality_(quality), dc_(CreateCompatibleDC(nullptr)) {}

FontCache::~FontCache() {
  for (auto& entry : fonts_) {
    if (entry.second.font) DeleteObject(entry.second.font);
  }
  if (dc_) DeleteDC(dc_);
}

std::wstring FontCache::PickFamily(const std::wstring& families) {
  auto cached = families_.find(families);
  if (cached != families_.end()) return cached->second;
  std::vector<std::wstring> names;
  std::wstring current;
  for (wchar_t c : families + L",") {
    if (c == L',') {
      current = TrimSpaces(current);
      if (!current.empty()) names.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  std::wstring chosen;
  for (std::wstring name : names) {
    // Generic CSS families to faces every Windows has.
    if (name == L"sans-serif" || name == L"system-ui") name = L"Segoe UI";
    else if (name == L"serif") name = L"Times New Roman";
    else if (name == L"monospace") name = L"Courier New";
    LOGFONTW query = {};
    query.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(query.lfFaceName, name.c_str(), LF_FACESIZE);
    bool found = false;
    if (dc_) EnumFontFamiliesExW(dc_, &query, FoundFamily, reinterpret_cast<LPARAM>(&found), 0);
    if (found) {
      chosen = name;
      break;
    }
    if (chosen.empty() && !names.empty()) chosen = name;
  }
  // Not one of them is installed (Wine has few fonts): the first name, GDI maps it.
  if (chosen.empty()) chosen = L"Segoe UI";
  families_[families] = chosen;
  return chosen;
}

FontCache::Entry& FontCache::Lookup(const FontKey& key) {
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return found->second;
  Entry entry;
  const std::wstring face = PickFamily(key.family);
  entry.font = CreateFontW(-(key.pixel_size > 0 ? key.pixel_size : 1), 0, 0, 0, key.weight,
                           key.italic, key.underline, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality_,
                           DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  if (!entry.font) entry.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW metrics = {};
  HGDIOBJ old = SelectObject(dc_, entry.font);
  if (GetTextMetricsW(dc_, &metrics)) {
    entry.metrics.height = static_cast<float>(metrics.tmHeight);
    entry.metrics.ascent = static_cast<float>(metrics.tmAscent);
  } else {
    entry.metrics.height = static_cast<float>(key.pixel_size) * 1.2f;
    entry.metrics.ascent = static_cast<float>(key.pixel_size);
  }
  SelectObject(dc_, old);
  return fonts_.emplace(key, std::move(entry)).first->second;
}

HFONT FontCache::Get(const FontKey& key) { return Lookup(key).font; }

float FontCache::TextWidth(const FontKey& key, const std::wstring& text) {
  if (text.empty()) return 0;
  Entry& entry = Lookup(key);
  auto cached = entry.widths.find(text);
  if (cached != entry.widths.end()) return cached->second;
  HGDIOBJ old = SelectObject(dc_, entry.font);
  SIZE size = {};
  GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc_, old);
  const float width = static_cast<float>(size.cx);
  if (entry.widths.size() < 4096) entry.widths[text] = width;
  return width;
}

FontMetrics FontCache::Metrics(const FontKey& key) { return Lookup(key).metrics; }

}  // namespace sciter_engine
