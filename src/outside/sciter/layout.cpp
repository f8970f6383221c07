#include "layout.h"

#include <algorithm>
#include <cmath>

#include "image.h"

namespace sciter_engine {

namespace {

constexpr float kUnknown = -1;
// Nesting below this is not laid out (the parser already flattens deeper trees).
constexpr int kMaxLayoutDepth = 220;

void Offset(LayoutBox* box, float dx, float dy);

bool IsSpaceText(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), IsHtmlSpace);
}

const ComputedStyle* StyleOf(const Node* node) {
  return node && node->IsElement() ? node->style.get() : nullptr;
}

// Nodes that produce nothing: comments, unstyled or display:none elements.
bool Skipped(const Node* node) {
  if (node->kind() == NodeKind::kComment) return true;
  if (node->kind() == NodeKind::kText) return false;
  const ComputedStyle* style = StyleOf(node);
  return !style || style->display == Display::kNone || style->OutOfFlow();
}

bool IsOutOfFlow(const Node* node) {
  const ComputedStyle* style = StyleOf(node);
  return style && style->display != Display::kNone && style->OutOfFlow();
}

// Moves what is inside a box (not the box itself).
void OffsetContent(LayoutBox* box, float dy) {
  for (TextFragment& fragment : box->text) {
    fragment.y += dy;
    fragment.line_top += dy;
  }
  for (auto& child : box->children) Offset(child.get(), 0, dy);
}

bool IsBlockLevel(const Node* node) {
  const ComputedStyle* style = StyleOf(node);
  return style && (style->display == Display::kBlock || style->display == Display::kFlex);
}

void Offset(LayoutBox* box, float dx, float dy) {
  box->x += dx;
  box->y += dy;
  if (box->node) {
    box->node->geometry.x = box->x;
    box->node->geometry.y = box->y;
  }
  for (TextFragment& fragment : box->text) {
    fragment.x += dx;
    fragment.y += dy;
    fragment.line_top += dy;
  }
  for (auto& child : box->children) Offset(child.get(), dx, dy);
}

class Layouter {
 public:
  Layouter(const LayoutOptions& options, FontCache* fonts) : options_(options), fonts_(fonts) {}

  std::unique_ptr<LayoutBox> LayoutBlock(Node* element, float x, float y, float cw, float ch,
                                         float forced_width, float forced_height, int depth);
  float MaxContentWidth(Node* element, int depth);
  float HorizontalMargins(const ComputedStyle& style, float cw) {
    return Edge(style.margin[1], cw) + Edge(style.margin[3], cw);
  }

 private:
  struct Item {
    enum Kind { kWord, kAtom, kBreak } kind = kWord;
    std::wstring text;
    float width = 0;
    float space_width = 0;
    bool space_before = false;
    FontKey font;
    const ComputedStyle* style = nullptr;
    Node* node = nullptr;
    std::vector<Node*> decorated;
    std::unique_ptr<LayoutBox> atom;
  };

  float Scaled(float css_px) const { return css_px * options_.scale; }
  // A length in device pixels; percentages of `base` (0 when the base is unknown).
  float Px(const Length& length, float base) const {
    if (length.unit == Unit::kPercent) return base < 0 ? 0 : length.value * base / 100.0f;
    if (length.unit == Unit::kAuto || length.unit == Unit::kNone) return 0;
    return Scaled(length.value);
  }
  float Edge(const Length& length, float base) const { return Px(length, base); }
  float BorderPx(float css_px) const {
    if (css_px <= 0) return 0;
    return std::max(1.0f, std::floor(Scaled(css_px) + 0.5f));  // borders stay crisp
  }

  FontKey FontOf(const ComputedStyle& style) const {
    FontKey key;
    key.family = style.font_family;
    // GDI draws any size, but glyphs taller than a screen only cost memory.
    key.pixel_size = std::min(2000, std::max(1, static_cast<int>(std::lround(Scaled(style.font_size)))));
    key.weight = style.font_weight;
    key.italic = style.italic;
    key.underline = style.underline;
    return key;
  }
  float LineHeightOf(const ComputedStyle& style) {
    if (style.line_height < 0) return fonts_->Metrics(FontOf(style)).height;
    if (style.line_height_is_factor) return style.line_height * Scaled(style.font_size);
    return Scaled(style.line_height);
  }

  float ClampWidth(const ComputedStyle& style, float border_width, float cw, float edges) {
    const float extra = style.border_box ? 0 : edges;
    if (style.max_width.unit != Unit::kNone && !(style.max_width.unit == Unit::kPercent && cw < 0)) {
      border_width = std::min(border_width, Px(style.max_width, cw) + extra);
    }
    border_width = std::max(border_width, Px(style.min_width, cw) + extra);
    return std::max(border_width, edges);
  }

  void ResolveEdges(LayoutBox* box, float cw) {
    const ComputedStyle& style = *box->style;
    for (int side = 0; side < 4; ++side) {
      box->margin[side] = Edge(style.margin[side], cw);
      box->padding[side] = Edge(style.padding[side], cw);
      box->border[side] = BorderPx(style.border_width[side]);
    }
  }

  float LayoutFlow(LayoutBox* box, float x, float y, float width, float height, int depth);
  float LayoutFlexRow(LayoutBox* box, float x, float y, float width, float height, int depth);
  float LayoutFlexColumn(LayoutBox* box, float x, float y, float width, float height, int depth);
  float LayoutInline(LayoutBox* box, const std::vector<Node*>& nodes, float x, float y,
                     float width, int depth);
  void Collect(Node* node, float width, bool measure_only, int depth,
               std::vector<Node*>* decorated, bool* pending_space, std::vector<Item>* items);
  float InlineMaxWidth(const std::vector<Node*>& nodes, int depth);
  std::vector<Node*> FlowChildren(const Node* element) {
    std::vector<Node*> children;
    for (Node* child : element->children) {
      if (!Skipped(child)) children.push_back(child);
    }
    return children;
  }

  // Absolutely positioned elements wait for their containing block (the nearest positioned
  // ancestor, or the root) to have its size.
  struct OutOfFlow {
    Node* node;
    float static_x, static_y;  // NAN: the containing block's corner
  };
  void Defer(Node* node, float static_x, float static_y) {
    std::vector<OutOfFlow>& frame = StyleOf(node)->position == Position::kFixed ? containers_.front() : containers_.back();
    for (OutOfFlow& pending : frame) {
      if (pending.node == node) {
        pending = {node, static_x, static_y};
        return;
      }
    }
    frame.push_back({node, static_x, static_y});
  }
  void LayoutOutOfFlow(const OutOfFlow& pending, LayoutBox* container, int depth);

  // An <img>'s size (device pixels) from its width / height attributes, else from its picture;
  // one side given keeps the picture's proportions. False for an <img> with neither.
  bool ImageSize(const Node* element, float* width, float* height) const {
    const Image* image = element->image.get();
    const std::wstring* width_attribute = element->Attr(L"width");
    const std::wstring* height_attribute = element->Attr(L"height");
    const float aw = width_attribute ? static_cast<float>(_wtof(width_attribute->c_str())) : -1;
    const float ah = height_attribute ? static_cast<float>(_wtof(height_attribute->c_str())) : -1;
    const float nw = image ? static_cast<float>(image->width) : 0, nh = image ? static_cast<float>(image->height) : 0;
    if (aw < 0 && ah < 0 && !image) return false;
    float w = nw, h = nh;
    if (aw >= 0 && ah >= 0) { w = aw; h = ah; }
    else if (aw >= 0) { w = aw; h = nw > 0 ? aw * nh / nw : 0; }
    else if (ah >= 0) { h = ah; w = nh > 0 ? ah * nw / nh : 0; }
    *width = Scaled(std::min(w, 1e5f));
    *height = Scaled(std::min(h, 1e5f));
    return true;
  }
  // The content height of an <img> laid out `content_width` wide.
  float ImageHeight(const Node* element, float content_width, bool width_given) const {
    float w = 0, h = 0;
    if (!ImageSize(element, &w, &h)) return 0;
    if (!width_given || w <= 0) return h;
    return content_width * h / w;
  }

  const LayoutOptions& options_;
  FontCache* fonts_;
  std::vector<std::vector<OutOfFlow>> containers_;
};

std::unique_ptr<LayoutBox> Layouter::LayoutBlock(Node* element, float x, float y, float cw,
                                                 float ch, float forced_width,
                                                 float forced_height, int depth) {
  auto box = std::make_unique<LayoutBox>();
  box->node = element;
  box->style = StyleOf(element);
  const ComputedStyle& style = *box->style;
  const bool containing_block = style.position != Position::kStatic || containers_.empty();
  if (containing_block) containers_.emplace_back();
  ResolveEdges(box.get(), cw);
  const float horizontal = box->border[1] + box->border[3] + box->padding[1] + box->padding[3];
  const float vertical = box->border[0] + box->border[2] + box->padding[0] + box->padding[2];
  float border_width;
  const bool explicit_width = !style.width.IsAuto() && !(style.width.unit == Unit::kPercent && cw < 0);
  if (forced_width >= 0) {
    border_width = forced_width;
  } else if (explicit_width) {
    const float width = Px(style.width, cw);
    border_width = style.border_box ? width : width + horizontal;
  } else if (float w, h; element->tag == L"img" && ImageSize(element, &w, &h)) {
    border_width = MaxContentWidth(element, depth);  // pictures keep their own width, even as blocks
  } else {
    border_width = std::max(0.0f, cw) - box->margin[1] - box->margin[3];
  }
  if (forced_width < 0) border_width = ClampWidth(style, border_width, cw, horizontal);
  border_width = std::max(border_width, horizontal);
  // margin: 0 auto centres a block of a given width.
  if (forced_width < 0 && explicit_width && style.margin[1].IsAuto() && style.margin[3].IsAuto()) {
    const float free = cw - border_width;
    if (free > 0) box->margin[1] = box->margin[3] = free / 2;
  }
  box->x = x + box->margin[3];
  box->y = y + box->margin[0];
  box->width = border_width;

  float known_height = kUnknown;
  if (!style.height.IsAuto() && !(style.height.unit == Unit::kPercent && ch < 0)) {
    const float height = Px(style.height, ch);
    known_height = std::max(0.0f, style.border_box ? height - vertical : height);
  }
  float used = 0;
  if (element->tag == L"img") {
    used = ImageHeight(element, box->ContentWidth(), explicit_width);
  } else if (depth < kMaxLayoutDepth) {
    if (style.display == Display::kFlex && !style.flex_column) {
      used = LayoutFlexRow(box.get(), box->ContentX(), box->ContentY(), box->ContentWidth(), known_height, depth);
    } else if (style.display == Display::kFlex) {
      used = LayoutFlexColumn(box.get(), box->ContentX(), box->ContentY(), box->ContentWidth(), known_height, depth);
    } else {
      used = LayoutFlow(box.get(), box->ContentX(), box->ContentY(), box->ContentWidth(), known_height, depth);
    }
  }
  float content_height = known_height >= 0 ? known_height : used;
  const float extra = style.border_box ? vertical : 0;
  if (style.max_height.unit != Unit::kNone && !(style.max_height.unit == Unit::kPercent && ch < 0)) {
    content_height = std::min(content_height, Px(style.max_height, ch) - extra);
  }
  content_height = std::max(content_height, Px(style.min_height, ch) - extra);
  if (forced_height >= 0) content_height = std::max(content_height, forced_height - vertical);
  box->height = std::max(0.0f, content_height) + vertical;
  // A button's label sits in the middle of a button taller than the label.
  if (element->tag == L"button" && content_height > used + 0.5f) OffsetContent(box.get(), (content_height - used) / 2);

  element->geometry = {true, box->x, box->y, box->width, box->height};
  for (Node* child : element->children) {
    if (IsOutOfFlow(child)) Defer(child, box->ContentX(), box->ContentY());
  }
  if (containing_block) {
    std::vector<OutOfFlow> pending;
    pending.swap(containers_.back());
    containers_.pop_back();
    for (const OutOfFlow& item : pending) LayoutOutOfFlow(item, box.get(), depth + 1);
  }
  if (style.position == Position::kRelative) {
    float dx = 0, dy = 0;
    if (!style.offsets[3].IsAuto()) dx = Px(style.offsets[3], cw);
    else if (!style.offsets[1].IsAuto()) dx = -Px(style.offsets[1], cw);
    if (!style.offsets[0].IsAuto()) dy = Px(style.offsets[0], ch);
    else if (!style.offsets[2].IsAuto()) dy = -Px(style.offsets[2], ch);
    if (dx != 0 || dy != 0) Offset(box.get(), dx, dy);
  }
  return box;
}

void Layouter::LayoutOutOfFlow(const OutOfFlow& pending, LayoutBox* container, int depth) {
  Node* element = pending.node;
  const ComputedStyle& style = *StyleOf(element);
  // The containing block is the container's padding box.
  const float cb_x = container->x + container->border[3];
  const float cb_y = container->y + container->border[0];
  const float cb_width = container->width - container->border[1] - container->border[3];
  const float cb_height = container->height - container->border[0] - container->border[2];
  const bool has_left = !style.offsets[3].IsAuto(), has_right = !style.offsets[1].IsAuto();
  const bool has_top = !style.offsets[0].IsAuto(), has_bottom = !style.offsets[2].IsAuto();
  const float left = Px(style.offsets[3], cb_width), right = Px(style.offsets[1], cb_width);
  const float top = Px(style.offsets[0], cb_height), bottom = Px(style.offsets[2], cb_height);
  const float margins = HorizontalMargins(style, cb_width);
  const float vertical_margins = Edge(style.margin[0], cb_height) + Edge(style.margin[2], cb_height);
  float forced_width = kUnknown, forced_height = kUnknown;
  if (style.width.IsAuto()) {
    forced_width = has_left && has_right ? std::max(0.0f, cb_width - left - right - margins)
                                         : std::min(MaxContentWidth(element, depth), std::max(0.0f, cb_width - margins));
  }
  if (style.height.IsAuto() && has_top && has_bottom) {
    forced_height = std::max(0.0f, cb_height - top - bottom - vertical_margins);
  }
  auto box = LayoutBlock(element, 0, 0, cb_width, cb_height, forced_width, forced_height, depth);
  const float margin_width = box->width + box->margin[1] + box->margin[3];
  const float margin_height = box->height + box->margin[0] + box->margin[2];
  float x = std::isnan(pending.static_x) ? cb_x : pending.static_x;
  float y = std::isnan(pending.static_y) ? cb_y : pending.static_y;
  if (has_left) x = cb_x + left;
  else if (has_right) x = cb_x + cb_width - right - margin_width;
  if (has_top) y = cb_y + top;
  else if (has_bottom) y = cb_y + cb_height - bottom - margin_height;
  Offset(box.get(), x + box->margin[3] - box->x, y + box->margin[0] - box->y);
  container->children.push_back(std::move(box));
}

float Layouter::LayoutFlow(LayoutBox* box, float x, float y, float width, float height, int depth) {
  const std::vector<Node*> children = FlowChildren(box->node);
  if (std::none_of(children.begin(), children.end(), IsBlockLevel)) {
    return LayoutInline(box, children, x, y, width, depth);
  }
  float cursor = y;
  float previous_margin = 0;
  std::vector<Node*> run;
  auto flush_run = [&]() {
    bool content = false;
    for (Node* node : run) {
      if (node->IsElement() || !IsSpaceText(node->text)) content = true;
    }
    if (content) {
      cursor += previous_margin;
      previous_margin = 0;
      cursor += LayoutInline(box, run, x, cursor, width, depth);
    }
    run.clear();
  };
  for (Node* child : children) {
    if (!IsBlockLevel(child)) {
      run.push_back(child);
      continue;
    }
    flush_run();
    // Adjacent vertical margins collapse to the larger one.
    const float top_margin = Edge(StyleOf(child)->margin[0], width);
    const float gap = std::max(previous_margin, top_margin);
    auto child_box = LayoutBlock(child, x, cursor + gap - top_margin, width, height, kUnknown, kUnknown, depth + 1);
    cursor = child_box->y + child_box->height;
    previous_margin = child_box->margin[2];
    box->children.push_back(std::move(child_box));
  }
  flush_run();
  cursor += previous_margin;
  return cursor - y;
}

float Layouter::LayoutFlexRow(LayoutBox* box, float x, float y, float width, float height, int depth) {
  const ComputedStyle& style = *box->style;
  std::vector<Node*> items;
  for (Node* child : FlowChildren(box->node)) {
    if (child->IsElement()) items.push_back(child);
  }
  if (items.empty()) return 0;
  const float gap = Scaled(style.gap);
  std::vector<float> widths, margins;
  float total = gap * static_cast<float>(items.size() - 1);
  float grow_sum = 0;
  for (Node* item : items) {
    const ComputedStyle& item_style = *StyleOf(item);
    const float margin = HorizontalMargins(item_style, width);
    float item_width;
    if (!item_style.width.IsAuto()) {
      const float horizontal = Px(item_style.padding[1], width) + Px(item_style.padding[3], width) +
                               BorderPx(item_style.border_width[1]) + BorderPx(item_style.border_width[3]);
      const float specified = Px(item_style.width, width);
      item_width = item_style.border_box ? std::max(specified, horizontal) : specified + horizontal;
    } else {
      item_width = std::min(MaxContentWidth(item, depth + 1), std::max(0.0f, width - margin));
    }
    widths.push_back(item_width);
    margins.push_back(margin);
    total += item_width + margin;
    grow_sum += item_style.flex_grow;
  }
  float free = width - total;
  if (free > 0 && grow_sum > 0) {
    for (size_t i = 0; i < items.size(); ++i) widths[i] += free * StyleOf(items[i])->flex_grow / grow_sum;
    free = 0;
  } else if (free < 0) {
    // Too wide: every item gives up room in proportion to its width.
    float sum = 0;
    for (float w : widths) sum += w;
    if (sum > 0) {
      for (float& w : widths) w = std::max(0.0f, w + free * w / sum);
    }
    free = 0;
  }
  float offset = 0, spacing = 0;
  const size_t count = items.size();
  switch (style.justify) {
    case Justify::kStart: break;
    case Justify::kEnd: offset = free; break;
    case Justify::kCenter: offset = free / 2; break;
    case Justify::kSpaceBetween: spacing = count > 1 ? free / static_cast<float>(count - 1) : 0; break;
    case Justify::kSpaceAround: spacing = free / static_cast<float>(count); offset = spacing / 2; break;
  }
  std::vector<std::unique_ptr<LayoutBox>> boxes;
  float row_height = 0;
  float cursor = x + offset;
  for (size_t i = 0; i < count; ++i) {
    auto item_box = LayoutBlock(items[i], cursor, y, width, height, widths[i], kUnknown, depth + 1);
    row_height = std::max(row_height, item_box->height + item_box->margin[0] + item_box->margin[2]);
    cursor += item_box->width + margins[i] + gap + spacing;
    boxes.push_back(std::move(item_box));
  }
  if (height >= 0) row_height = height;
  for (size_t i = 0; i < count; ++i) {
    LayoutBox* item_box = boxes[i].get();
    const float margin_height = item_box->height + item_box->margin[0] + item_box->margin[2];
    if (style.align_items == AlignItems::kStretch && StyleOf(items[i])->height.IsAuto()) {
      const float item_x = item_box->x - item_box->margin[3];
      boxes[i] = LayoutBlock(items[i], item_x, y, width, height, widths[i],
                             row_height - item_box->margin[0] - item_box->margin[2], depth + 1);
    } else if (style.align_items == AlignItems::kCenter) {
      Offset(item_box, 0, (row_height - margin_height) / 2);
    } else if (style.align_items == AlignItems::kEnd) {
      Offset(item_box, 0, row_height - margin_height);
    }
    box->children.push_back(std::move(boxes[i]));
  }
  return row_height;
}

float Layouter::LayoutFlexColumn(LayoutBox* box, float x, float y, float width, float height, int depth) {
  const ComputedStyle& style = *box->style;
  const float gap = Scaled(style.gap);
  float cursor = y;
  bool first = true;
  for (Node* child : FlowChildren(box->node)) {
    if (!child->IsElement()) continue;
    if (!first) cursor += gap;
    first = false;
    const ComputedStyle& item_style = *StyleOf(child);
    float forced = kUnknown;
    if (style.align_items != AlignItems::kStretch && item_style.width.IsAuto()) {
      forced = std::min(MaxContentWidth(child, depth + 1), width - HorizontalMargins(item_style, width));
    }
    auto item_box = LayoutBlock(child, x, cursor, width, height, forced, kUnknown, depth + 1);
    const float free = width - item_box->width - item_box->margin[1] - item_box->margin[3];
    if (style.align_items == AlignItems::kCenter) Offset(item_box.get(), free / 2, 0);
    if (style.align_items == AlignItems::kEnd) Offset(item_box.get(), free, 0);
    cursor = item_box->y + item_box->height + item_box->margin[2];
    box->children.push_back(std::move(item_box));
  }
  return cursor - y;
}

void Layouter::Collect(Node* node, float width, bool measure_only, int depth,
                       std::vector<Node*>* decorated, bool* pending_space, std::vector<Item>* items) {
  if (IsOutOfFlow(node)) {
    if (!measure_only) Defer(node, NAN, NAN);
    return;
  }
  // Scripts can nest inline elements without limit; the stack cannot.
  if (Skipped(node) || depth > kMaxLayoutDepth + 8) return;
  if (node->kind() == NodeKind::kText) {
    const ComputedStyle* style = StyleOf(node->parent);
    if (!style) return;
    const FontKey font = FontOf(*style);
    const float space_width = fonts_->TextWidth(font, L" ");
    auto push_word = [&](const std::wstring& word) {
      Item item;
      item.style = style;
      item.font = font;
      item.node = node->parent;
      item.decorated = *decorated;
      item.space_width = space_width;
      item.text = word;
      item.width = fonts_->TextWidth(item.font, word);
      item.space_before = *pending_space;
      *pending_space = false;
      items->push_back(std::move(item));
    };
    if (style->preserve_spaces) {
      // Pre-formatted: each source line is one unbreakable piece, tabs as four spaces.
      std::wstring line;
      for (wchar_t c : node->text) {
        if (c == L'\n') {
          if (!line.empty()) push_word(line);
          line.clear();
          Item line_break;
          line_break.kind = Item::kBreak;
          line_break.style = style;
          items->push_back(std::move(line_break));
        } else if (c == L'\t') {
          line += L"    ";
        } else if (c != L'\r') {
          line += c;
        }
      }
      if (!line.empty()) push_word(line);
      return;
    }
    std::wstring word;
    for (wchar_t c : node->text) {
      if (IsHtmlSpace(c)) {
        if (!word.empty()) push_word(word);
        word.clear();
        *pending_space = true;
      } else {
        word += c;
      }
    }
    if (!word.empty()) push_word(word);
    return;
  }
  const ComputedStyle& style = *StyleOf(node);
  if (node->tag == L"br") {
    Item line_break;
    line_break.kind = Item::kBreak;
    line_break.style = &style;
    items->push_back(std::move(line_break));
    *pending_space = false;
    return;
  }
  if (style.display != Display::kInline || depth >= kMaxLayoutDepth) {
    // An atom in the line: inline-block (and blocks inside inline elements).
    Item item;
    item.kind = Item::kAtom;
    item.style = &style;
    item.node = node;
    item.space_before = *pending_space;
    *pending_space = false;
    const float margins = HorizontalMargins(style, width);
    if (measure_only) {
      item.width = MaxContentWidth(node, depth + 1) + margins;
    } else {
      float forced = kUnknown;
      if (style.width.IsAuto()) forced = std::min(MaxContentWidth(node, depth + 1), std::max(0.0f, width - margins));
      item.atom = LayoutBlock(node, 0, 0, width, kUnknown, forced, kUnknown, depth + 1);
      item.width = item.atom->width + item.atom->margin[1] + item.atom->margin[3];
    }
    items->push_back(std::move(item));
    return;
  }
  const bool draws = style.background.a > 0;
  if (draws) decorated->push_back(node);
  for (Node* child : node->children) Collect(child, width, measure_only, depth + 1, decorated, pending_space, items);
  if (draws) decorated->pop_back();
}

float Layouter::LayoutInline(LayoutBox* box, const std::vector<Node*>& nodes, float x, float y,
                             float width, int depth) {
  std::vector<Item> items;
  std::vector<Node*> decorated;
  bool pending_space = false;
  for (Node* node : nodes) Collect(node, width, false, depth, &decorated, &pending_space, &items);
  if (items.empty()) return 0;

  const ComputedStyle& block_style = *box->style;
  const float strut = LineHeightOf(block_style);
  float line_top = y;
  std::vector<Item*> line;
  std::vector<float> line_x;  // item offsets within the line
  float line_width = 0;
  auto finish_line = [&](bool forced_break) {
    if (line.empty() && !forced_break) return;
    float line_height = strut;
    for (Item* item : line) {
      if (item->kind == Item::kWord) line_height = std::max(line_height, LineHeightOf(*item->style));
      if (item->kind == Item::kAtom) {
        line_height = std::max(line_height, item->atom->height + item->atom->margin[0] + item->atom->margin[2]);
      }
    }
    float shift = 0;
    const float free = width - line_width;
    if (free > 0 && block_style.text_align == TextAlign::kRight) shift = free;
    if (free > 0 && block_style.text_align == TextAlign::kCenter) shift = free / 2;
    for (size_t i = 0; i < line.size(); ++i) {
      Item* item = line[i];
      const float item_x = x + shift + line_x[i];
      if (item->kind == Item::kWord) {
        TextFragment fragment;
        fragment.text = item->text;
        fragment.font = item->font;
        fragment.style = item->style;
        fragment.node = item->node;
        fragment.decorated = item->decorated;
        const float glyph_height = fonts_->Metrics(item->font).height;
        fragment.x = item_x;
        fragment.width = item->width;
        fragment.height = glyph_height;
        fragment.line_top = line_top;
        fragment.line_height = line_height;
        fragment.y = line_top + (line_height - glyph_height) / 2;
        box->text.push_back(std::move(fragment));
      } else if (item->kind == Item::kAtom) {
        LayoutBox* atom = item->atom.get();
        const float margin_height = atom->height + atom->margin[0] + atom->margin[2];
        // Atoms sit on the line's bottom (their baseline is their bottom margin edge).
        Offset(atom, item_x + atom->margin[3] - atom->x, line_top + line_height - margin_height + atom->margin[0] - atom->y);
        box->children.push_back(std::move(item->atom));
      }
    }
    line_top += line_height;
    line.clear();
    line_x.clear();
    line_width = 0;
  };
  for (Item& item : items) {
    if (item.kind == Item::kBreak) {
      finish_line(true);
      continue;
    }
    float space = 0;
    if (!line.empty() && item.space_before) space = item.kind == Item::kWord ? item.space_width : fonts_->TextWidth(FontOf(*item.style), L" ");
    const bool may_wrap = !item.style->nowrap && !block_style.nowrap;
    if (!line.empty() && may_wrap && line_width + space + item.width > width) {
      finish_line(false);
      space = 0;
    }
    line_x.push_back(line_width + space);
    line_width += space + item.width;
    line.push_back(&item);
  }
  finish_line(false);
  return line_top - y;
}

float Layouter::InlineMaxWidth(const std::vector<Node*>& nodes, int depth) {
  std::vector<Item> items;
  std::vector<Node*> decorated;
  bool pending_space = false;
  for (Node* node : nodes) Collect(node, 0, true, depth, &decorated, &pending_space, &items);
  float widest = 0, current = 0;
  bool line_start = true;
  for (const Item& item : items) {
    if (item.kind == Item::kBreak) {
      widest = std::max(widest, current);
      current = 0;
      line_start = true;
      continue;
    }
    if (!line_start && item.space_before) {
      current += item.kind == Item::kWord ? item.space_width : fonts_->TextWidth(FontOf(*item.style), L" ");
    }
    current += item.width;
    line_start = false;
  }
  return std::max(widest, current);
}

float Layouter::MaxContentWidth(Node* element, int depth) {
  const ComputedStyle& style = *StyleOf(element);
  float horizontal = Px(style.padding[1], 0) + Px(style.padding[3], 0) +
                     BorderPx(style.border_width[1]) + BorderPx(style.border_width[3]);
  if (!style.width.IsAuto() && style.width.unit != Unit::kPercent) {
    const float width = Px(style.width, 0);
    return ClampWidth(style, style.border_box ? width : width + horizontal, kUnknown, horizontal);
  }
  float content = 0;
  float image_width = 0, image_height = 0;
  if (element->tag == L"img" && ImageSize(element, &image_width, &image_height)) {
    // A given CSS height scales the picture's width with it.
    if (!style.height.IsAuto() && style.height.unit != Unit::kPercent && image_height > 0) {
      image_width = image_width * Px(style.height, 0) / image_height;
    }
    content = image_width;
  } else if (depth < kMaxLayoutDepth) {
    const std::vector<Node*> children = FlowChildren(element);
    if (style.display == Display::kFlex && !style.flex_column) {
      int count = 0;
      for (Node* child : children) {
        if (!child->IsElement()) continue;
        content += MaxContentWidth(child, depth + 1) + HorizontalMargins(*StyleOf(child), 0);
        ++count;
      }
      if (count > 1) content += Scaled(style.gap) * static_cast<float>(count - 1);
    } else {
      std::vector<Node*> run;
      for (Node* child : children) {
        if (IsBlockLevel(child) || (style.display == Display::kFlex && child->IsElement())) {
          content = std::max(content, InlineMaxWidth(run, depth + 1));
          run.clear();
          content = std::max(content, MaxContentWidth(child, depth + 1) + HorizontalMargins(*StyleOf(child), 0));
        } else {
          run.push_back(child);
        }
      }
      content = std::max(content, InlineMaxWidth(run, depth + 1));
    }
  }
  return ClampWidth(style, std::ceil(content) + horizontal, kUnknown, horizontal);
}

void ClearGeometry(Node* root) {
  std::vector<Node*> pending{root};
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    node->geometry = NodeGeometry();
    for (Node* child : node->children) {
      if (child->IsElement()) pending.push_back(child);
    }
  }
}

}  // namespace

LayoutResult LayoutDocument(Document* document, const LayoutOptions& options, FontCache* fonts) {
  LayoutResult result;
  Node* root = document->root();
  if (!root || !root->style) return result;
  ClearGeometry(root);
  Layouter layouter(options, fonts);
  float viewport = options.viewport_width;
  if (viewport <= 0) {
    viewport = layouter.MaxContentWidth(root, 0) + layouter.HorizontalMargins(*root->style, 0);
    viewport = std::min(viewport, options.max_auto_width);
  }
  const float viewport_height = options.viewport_height > 0 ? options.viewport_height : kUnknown;
  result.root = layouter.LayoutBlock(root, 0, 0, viewport, viewport_height, kUnknown, kUnknown, 0);
  const LayoutBox& box = *result.root;
  result.content_width = static_cast<int>(std::ceil(box.x + box.width + box.margin[1] - 0.01f));
  result.content_height = static_cast<int>(std::ceil(box.y + box.height + box.margin[2] - 0.01f));
  return result;
}

Node* HitTest(const LayoutBox* box, float x, float y) {
  if (!box) return nullptr;
  const bool inside = x >= box->x && x < box->x + box->width && y >= box->y && y < box->y + box->height;
  if (!inside && box->style && box->style->overflow_hidden) return nullptr;
  for (auto it = box->children.rbegin(); it != box->children.rend(); ++it) {
    if (Node* hit = HitTest(it->get(), x, y)) return hit;
  }
  for (const TextFragment& fragment : box->text) {
    if (x >= fragment.x && x < fragment.x + fragment.width && y >= fragment.line_top &&
        y < fragment.line_top + fragment.line_height) {
      return fragment.node;
    }
  }
  return inside ? box->node : nullptr;
}

}  // namespace sciter_engine
