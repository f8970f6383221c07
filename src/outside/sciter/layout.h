// Layout: the styled document to boxes in device pixels. Normal flow for blocks, lines of
// words for inline content (wrapped at the available width), inline-blocks as atoms in those
// lines, and flex rows. CSS pixels are scaled by the display's DPI factor.
#pragma once

#include <memory>
#include <vector>

#include "dom.h"
#include "fonts.h"
#include "style.h"

namespace sciter_engine {

struct TextFragment {
  std::wstring text;
  float x = 0, y = 0;           // top left of the glyph box
  float width = 0, height = 0;  // glyph box (font height)
  float line_top = 0, line_height = 0;
  FontKey font;
  const ComputedStyle* style = nullptr;
  Node* node = nullptr;  // the text's element
  // Inline elements (outermost first) whose backgrounds sit behind this fragment.
  std::vector<Node*> decorated;
};

struct LayoutBox {
  Node* node = nullptr;
  const ComputedStyle* style = nullptr;
  float x = 0, y = 0, width = 0, height = 0;  // border box
  float margin[4] = {0, 0, 0, 0};
  float border[4] = {0, 0, 0, 0};
  float padding[4] = {0, 0, 0, 0};
  std::vector<std::unique_ptr<LayoutBox>> children;  // blocks, inline-blocks, flex items
  std::vector<TextFragment> text;

  float ContentX() const { return x + border[3] + padding[3]; }
  float ContentY() const { return y + border[0] + padding[0]; }
  float ContentWidth() const { return width - border[1] - border[3] - padding[1] - padding[3]; }
  float ContentHeight() const { return height - border[0] - border[2] - padding[0] - padding[2]; }
};

struct LayoutOptions {
  float scale = 1.0f;            // device pixels per CSS pixel
  float viewport_width = 0;      // device pixels; 0: the page's own width (shrink to fit)
  float viewport_height = 0;     // device pixels; 0: unknown
  float max_auto_width = 1920;   // device pixels, the widest a page without a width gets
};

struct LayoutResult {
  std::unique_ptr<LayoutBox> root;
  int content_width = 0;   // device pixels
  int content_height = 0;
};

// The document must be styled. Writes each element's geometry into its node.
LayoutResult LayoutDocument(Document* document, const LayoutOptions& options, FontCache* fonts);

// The innermost element at (x, y) (device pixels in document coordinates), or null.
Node* HitTest(const LayoutBox* box, float x, float y);

}  // namespace sciter_engine
