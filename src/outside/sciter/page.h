// One loaded page without a window: its document, style sheets and scripts (from the page
// and the files it links), the cascade, layout and painting. The window engine drives it;
// tests render it into a memory bitmap directly.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "dom.h"
#include "fonts.h"
#include "layout.h"
#include "paint.h"
#include "style.h"

namespace sciter_engine {

// Resource data types of SCN_LOAD_DATA.
enum ResourceType : UINT { kResourceHtml = 0, kResourceImage = 1, kResourceStyle = 2, kResourceScript = 4 };

// Reads a linked resource; false when it cannot be had (the page goes on without it).
using ResourceFetcher = std::function<bool(const std::wstring& path, UINT type, std::string* bytes)>;

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

class Page {
 public:
  struct Script {
    std::wstring code;
    std::wstring name;  // file name or "page.html(<line>)" for inline ones
  };

  Page(DiagnosticSink sink, DWORD font_quality);

  // Parses the page text and the style sheets and scripts it names (read through `fetch`).
  void Load(const std::wstring& html, const std::wstring& page_path, const ResourceFetcher& fetch);

  Document& document() { return document_; }
  const std::wstring& path() const { return path_; }
  const std::vector<Script>& scripts() const { return scripts_; }

  // Lays out again when the document or the options changed since the last time.
  const LayoutResult& Layout(const LayoutOptions& options);
  bool NeedsLayout(const LayoutOptions& options) const;
  void Paint(PixelBuffer* target, const PaintOptions& options);
  Node* HitTest(float x, float y) const;

  // Loads (again) the picture of an <img> from its src, as after a script changed it.
  void LoadPicture(Node* element, const ResourceFetcher& fetch);

  FontCache& fonts() { return *fonts_; }
  void SetFontQuality(DWORD quality);

 private:
  void CollectResources(const ResourceFetcher& fetch);
  // Gives every element the picture its background-image names (each file read once).
  void AttachBackgroundImages();
  std::shared_ptr<const Image> Picture(const std::wstring& path);

  DiagnosticSink sink_;
  Document document_;
  std::wstring path_;
  std::vector<std::unique_ptr<StyleSheet>> sheets_;
  std::vector<Script> scripts_;
  ResourceFetcher fetch_;
  std::map<std::wstring, std::shared_ptr<const Image>> pictures_;  // null: could not be had
  std::unique_ptr<StyleResolver> resolver_;
  std::unique_ptr<FontCache> fonts_;
  LayoutResult layout_;
  LayoutOptions laid_out_with_;
  unsigned long long laid_out_version_ = 0;
};

}  // namespace sciter_engine
