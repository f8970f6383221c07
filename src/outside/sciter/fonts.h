// Fonts for layout and painting: one GDI font per (family, size, weight, style, smoothing),
// kept for the document's life, and text measurement on a memory DC.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <tuple>

namespace sciter_engine {

struct FontKey {
  std::wstring family;  // CSS list: "Segoe UI,Arial"; the first installed one is used
  int pixel_size = 16;  // device pixels (em height)
  int weight = 400;
  bool italic = false;
  bool underline = false;
  bool operator<(const FontKey& o) const {
    return std::tie(family, pixel_size, weight, italic, underline) <
           std::tie(o.family, o.pixel_size, o.weight, o.italic, o.underline);
  }
};

struct FontMetrics {
  float height = 0;  // ascent + descent
  float ascent = 0;
};

// SCITER_SET_FONT_SMOOTHING values to a CreateFontW quality.
DWORD FontQualityForSmoothing(UINT smoothing);

class FontCache {
 public:
  explicit FontCache(DWORD quality = CLEARTYPE_QUALITY);
  ~FontCache();
  FontCache(const FontCache&) = delete;
  FontCache& operator=(const FontCache&) = delete;

  HFONT Get(const FontKey& key);
  float TextWidth(const FontKey& key, const std::wstring& text);
  FontMetrics Metrics(const FontKey& key);
  DWORD quality() const { return quality_; }

 private:
  struct Entry {
    HFONT font = nullptr;
    FontMetrics metrics;
    std::map<std::wstring, float> widths;  // measured words
  };
  Entry& Lookup(const FontKey& key);
  // The first family of the list GDI has (else the first one: GDI substitutes).
  std::wstring PickFamily(const std::wstring& families);

  DWORD quality_;
  HDC dc_;
  std::map<FontKey, Entry> fonts_;
  std::map<std::wstring, std::wstring> families_;
};

}  // namespace sciter_engine
