#include "page.h"

#include "css.h"
#include "image.h"
#include "framework/scoped_handle.h"
#include "markup.h"
#include "text_codec.h"
#include "url.h"

namespace sciter_engine {

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  ov::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  LARGE_INTEGER size = {};
  // Pages, style sheets and scripts are small; anything past 64 MiB is not one of them.
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20)) return false;
  bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (size.QuadPart > 0 &&
      (!ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
       read != size.QuadPart)) {
    return false;
  }
  return true;
}

Page::Page(DiagnosticSink sink, DWORD font_quality)
    : sink_(std::move(sink)), fonts_(std::make_unique<FontCache>(font_quality)) {}

void Page::Load(const std::wstring& html, const std::wstring& page_path, const ResourceFetcher& fetch) {
  path_ = page_path;
  const size_t slash = page_path.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? page_path : page_path.substr(slash + 1);
  fetch_ = fetch;
  ParseHtml(html, name, &document_, sink_);
  CollectResources(fetch);
  std::vector<const StyleSheet*> sheets;
  for (const auto& sheet : sheets_) sheets.push_back(sheet.get());
  resolver_ = std::make_unique<StyleResolver>(sheets, sink_, page_path);
}

void Page::CollectResources(const ResourceFetcher& fetch) {
  const size_t slash = path_.find_last_of(L"\\/");
  const std::wstring page_name = slash == std::wstring::npos ? path_ : path_.substr(slash + 1);
  int inline_scripts = 0, inline_styles = 0;
  auto fetch_text = [&](const std::wstring& reference, UINT type, std::wstring* text, std::wstring* resolved) {
    std::string bytes;
    if (!ResolveReference(path_, reference, resolved)) {
      Report(sink_, OT_DOM, OS_WARNING, page_name + L": '" + reference + L"' is not a local file; not loaded");
      return false;
    }
    if (!fetch || !fetch(*resolved, type, &bytes)) {
      Report(sink_, OT_DOM, OS_ERROR, page_name + L": cannot load " + *resolved);
      return false;
    }
    bool bad = false;
    *text = DecodeResourceText(bytes, &bad);
    if (bad) Report(sink_, OT_DOM, OS_WARNING, *resolved + L": not valid UTF-8; bad bytes replaced");
    return true;
  };
  for (Node* element : document_.Elements(document_.root())) {
    if (element->tag == L"style") {
      const std::wstring name = page_name + L" <style> #" + std::to_wstring(++inline_styles);
      sheets_.push_back(std::make_unique<StyleSheet>(ParseStyleSheet(element->TextContent(), name, sink_)));
      sheets_.back()->base_path = path_;
    } else if (element->tag == L"link") {
      const std::wstring* rel = element->Attr(L"rel");
      const std::wstring* href = element->Attr(L"href");
      if (!rel || AsciiLower(*rel) != L"stylesheet" || !href) continue;
      std::wstring text, resolved;
      if (fetch_text(*href, kResourceStyle, &text, &resolved)) {
        const size_t cut = resolved.find_last_of(L"\\/");
        sheets_.push_back(std::make_unique<StyleSheet>(
            ParseStyleSheet(text, cut == std::wstring::npos ? resolved : resolved.substr(cut + 1), sink_)));
        sheets_.back()->base_path = resolved;
      }
    } else if (element->tag == L"img") {
      LoadPicture(element, fetch);
    } else if (element->tag == L"script") {
      const std::wstring* type = element->Attr(L"type");
      if (type) {
        const std::wstring lower = AsciiLower(*type);
        if (lower != L"text/javascript" && lower != L"application/javascript" && lower != L"text/tiscript" &&
            lower != L"module" && !lower.empty()) {
          continue;  // data blocks and templates
        }
      }
      Script script;
      if (const std::wstring* src = element->Attr(L"src")) {
        std::wstring resolved;
        if (!fetch_text(*src, kResourceScript, &script.code, &resolved)) continue;
        const size_t cut = resolved.find_last_of(L"\\/");
        script.name = cut == std::wstring::npos ? resolved : resolved.substr(cut + 1);
      } else {
        script.code = element->TextContent();
        script.name = page_name + L" <script> #" + std::to_wstring(++inline_scripts);
      }
      scripts_.push_back(std::move(script));
    }
  }
}

std::shared_ptr<const Image> Page::Picture(const std::wstring& path) {
  auto cached = pictures_.find(path);
  if (cached != pictures_.end()) return cached->second;
  std::shared_ptr<const Image> picture;
  std::string bytes;
  auto image = std::make_shared<Image>();
  std::wstring error;
  if (!fetch_ || !fetch_(path, kResourceImage, &bytes)) {
    Report(sink_, OT_DOM, OS_WARNING, L"cannot load background picture " + path);
  } else if (!DecodeImage(bytes, image.get(), &error)) {
    Report(sink_, OT_DOM, OS_WARNING, path + L": " + error);
  } else {
    picture = image;
  }
  if (pictures_.size() < 256) pictures_[path] = picture;
  return picture;
}

void Page::AttachBackgroundImages() {
  std::vector<Node*> elements = document_.Elements(document_.root());
  if (document_.root()) elements.push_back(document_.root());
  for (Node* element : elements) {
    const std::wstring& path = element->style ? element->style->background_image : std::wstring();
    element->background_image = path.empty() ? nullptr : Picture(path);
  }
}

void Page::LoadPicture(Node* element, const ResourceFetcher& fetch) {
  element->image.reset();
  document_.Touch();
  const std::wstring* src = element->Attr(L"src");
  if (!src || src->empty()) return;
  const size_t slash = path_.find_last_of(L"\\/");
  const std::wstring page_name = slash == std::wstring::npos ? path_ : path_.substr(slash + 1);
  std::wstring resolved;
  std::string bytes;
  if (!ResolveReference(path_, *src, &resolved)) {
    Report(sink_, OT_DOM, OS_WARNING, page_name + L": picture '" + *src + L"' is not a local file; not shown");
    return;
  }
  if (!fetch || !fetch(resolved, kResourceImage, &bytes)) {
    Report(sink_, OT_DOM, OS_WARNING, page_name + L": cannot load picture " + resolved);
    return;
  }
  auto image = std::make_shared<Image>();
  std::wstring error;
  if (!DecodeImage(bytes, image.get(), &error)) {
    Report(sink_, OT_DOM, OS_WARNING, resolved + L": " + error);
    return;
  }
  element->image = image;
}

bool Page::NeedsLayout(const LayoutOptions& options) const {
  return !layout_.root || laid_out_version_ != document_.version() ||
         options.scale != laid_out_with_.scale || options.viewport_width != laid_out_with_.viewport_width ||
         options.viewport_height != laid_out_with_.viewport_height ||
         options.max_auto_width != laid_out_with_.max_auto_width;
}

const LayoutResult& Page::Layout(const LayoutOptions& options) {
  if (!NeedsLayout(options)) return layout_;
  if (!resolver_) return layout_;
  if (laid_out_version_ != document_.version() || !layout_.root) {
    resolver_->StyleDocument(&document_);
    AttachBackgroundImages();
  }
  layout_ = LayoutDocument(&document_, options, fonts_.get());
  laid_out_with_ = options;
  laid_out_version_ = document_.version();
  return layout_;
}

void Page::Paint(PixelBuffer* target, const PaintOptions& options) {
  PaintDocument(layout_.root.get(), options, fonts_.get(), target);
}

Node* Page::HitTest(float x, float y) const {
  // Boxes of a layout older than the tree may point at nodes freed since.
  if (laid_out_version_ != document_.version()) return nullptr;
  return sciter_engine::HitTest(layout_.root.get(), x, y);
}

void Page::SetFontQuality(DWORD quality) {
  if (quality == fonts_->quality()) return;
  fonts_ = std::make_unique<FontCache>(quality);
  document_.Touch();
}

}  // namespace sciter_engine
