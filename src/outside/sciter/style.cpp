#include "style.h"

#include <algorithm>

#include "url.h"

namespace sciter_engine {

namespace {

// What every page starts with: the usual block elements, headings, buttons.
constexpr wchar_t kDefaultCss[] = LR"css(
html, body, div, p, h1, h2, h3, h4, h5, h6, ul, ol, li, form, header, footer, section,
article, nav, main, aside, blockquote, pre, table, tr, hr, address, fieldset, dl, dt, dd,
figure, figcaption, caption, center, menu { display: block; }
head, script, style, title, meta, link, template, noscript, base { display: none; }
body { margin: 8px; }
p, ul, ol, blockquote, dl, pre, figure { margin-top: 1em; margin-bottom: 1em; }
ul, ol { padding-left: 40px; }
h1 { font-size: 2em; font-weight: bold; margin-top: 0.67em; margin-bottom: 0.67em; }
h2 { font-size: 1.5em; font-weight: bold; margin-top: 0.83em; margin-bottom: 0.83em; }
h3 { font-size: 1.17em; font-weight: bold; margin-top: 1em; margin-bottom: 1em; }
h4 { font-weight: bold; margin-top: 1.33em; margin-bottom: 1.33em; }
h5 { font-size: 0.83em; font-weight: bold; margin-top: 1.67em; margin-bottom: 1.67em; }
h6 { font-size: 0.67em; font-weight: bold; margin-top: 2.33em; margin-bottom: 2.33em; }
b, strong, th { font-weight: bold; }
i, em, cite, var { font-style: italic; }
u, ins { text-decoration: underline; }
small { font-size: smaller; }
center { text-align: center; }
pre { white-space: pre; font-family: Courier New; }
code, kbd, samp, tt { font-family: Courier New; }
hr { border: 1px solid gray; margin-top: 0.5em; margin-bottom: 0.5em; }
a { color: #0000EE; text-decoration: underline; }
button, input, select, textarea { display: inline-block; font-size: 13.333px; }
button { padding: 1px 6px; border: 1px solid #767676; background-color: #EFEFEF;
         text-align: center; white-space: nowrap; }
button:hover { background-color: #E5E5E5; }
button:active { background-color: #F5F5F5; }
img { display: inline-block; }
td, th { display: inline-block; }
)css";

float Resolve(const Length& length, float font_size) {
  return length.unit == Unit::kEm ? length.value * font_size : length.value;
}

// Lengths stay in their unit except em, which becomes px against the element's font size.
Length ToPx(const Length& length, float font_size) {
  if (length.unit == Unit::kEm) return {length.value * font_size, Unit::kPx};
  return length;
}

struct MatchedDeclaration {
  const Declaration* declaration;
  const std::wstring* base;  // url() references are relative to it
  int rank;  // origin and importance
  unsigned specificity;
  int order;
};

Display DisplayOf(const std::wstring& keyword) {
  if (keyword == L"none") return Display::kNone;
  if (keyword == L"block" || keyword == L"list-item") return Display::kBlock;
  if (keyword == L"inline-block") return Display::kInlineBlock;
  if (keyword == L"flex" || keyword == L"inline-flex") return Display::kFlex;
  return Display::kInline;
}

}  // namespace

const StyleSheet& DefaultStyleSheet() {
  static const StyleSheet sheet = ParseStyleSheet(kDefaultCss, L"defaults", DiagnosticSink());
  return sheet;
}

StyleResolver::StyleResolver(std::vector<const StyleSheet*> sheets, const DiagnosticSink& sink,
                             std::wstring page_path)
    : sheets_(std::move(sheets)), sink_(sink), page_path_(std::move(page_path)) {}

std::shared_ptr<ComputedStyle> StyleResolver::Compute(const Node* element,
                                                      const ComputedStyle* parent) const {
  auto style = std::make_shared<ComputedStyle>();
  static const ComputedStyle kInitial;
  const ComputedStyle& inherited = parent ? *parent : kInitial;
  // Inherited properties start from the parent.
  style->color = inherited.color;
  style->font_family = inherited.font_family;
  style->font_size = inherited.font_size;
  style->font_weight = inherited.font_weight;
  style->italic = inherited.italic;
  style->text_align = inherited.text_align;
  style->line_height = inherited.line_height;
  style->line_height_is_factor = inherited.line_height_is_factor;
  style->nowrap = inherited.nowrap;
  style->preserve_spaces = inherited.preserve_spaces;
  style->visible = inherited.visible;
  style->cursor = inherited.cursor;

  // Gather the declarations that apply, then sort them into cascade order.
  std::vector<MatchedDeclaration> matched;
  int order = 0;
  auto add_sheet = [&](const StyleSheet& sheet, int origin) {
    for (const Rule& rule : sheet.rules) {
      unsigned best = 0;
      bool matches = false;
      for (const Selector& selector : rule.selectors) {
        if (SelectorMatches(selector, element)) {
          matches = true;
          best = std::max(best, selector.specificity);
        }
      }
      for (const Declaration& declaration : rule.declarations) {
        ++order;
        if (matches) {
          matched.push_back({&declaration, &sheet.base_path, origin * 2 + (declaration.important ? 4 : 0), best, order});
        }
      }
    }
  };
  add_sheet(DefaultStyleSheet(), 0);
  for (const StyleSheet* sheet : sheets_) add_sheet(*sheet, 1);
  if (const std::wstring* inline_style = element->Attr(L"style")) {
    auto cached = inline_cache_.find(*inline_style);
    if (cached == inline_cache_.end()) {
      if (inline_cache_.size() > 512) inline_cache_.clear();  // scripts animating styles
      cached = inline_cache_.emplace(*inline_style, ParseDeclarations(*inline_style, L"<" + element->tag + L" style>", sink_)).first;
    }
    for (const Declaration& declaration : cached->second) {
      // Inline declarations beat every selector of the same importance.
      matched.push_back({&declaration, &page_path_, 1 * 2 + 1 + (declaration.important ? 4 : 0), 0, ++order});
    }
  }
  std::stable_sort(matched.begin(), matched.end(), [](const MatchedDeclaration& a, const MatchedDeclaration& b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    if (a.specificity != b.specificity) return a.specificity < b.specificity;
    return a.order < b.order;
  });

  // Custom properties of the element, then the declarations that use them, in cascade order.
  style->custom = parent ? parent->custom : nullptr;
  std::map<std::wstring, std::wstring> own_custom;
  bool has_own_custom = false;
  for (const MatchedDeclaration& m : matched) {
    const Declaration& d = *m.declaration;
    if (d.property != Property::kCustomProperty) continue;
    if (!has_own_custom && style->custom) own_custom = *style->custom;
    has_own_custom = true;
    std::wstring value;
    if (SubstituteVariables(d.value.text, own_custom, &value)) own_custom[d.name] = value;
  }
  if (has_own_custom) style->custom = std::make_shared<const std::map<std::wstring, std::wstring>>(std::move(own_custom));
  static const std::map<std::wstring, std::wstring> kNoCustom;
  const std::map<std::wstring, std::wstring>& custom = style->custom ? *style->custom : kNoCustom;
  if (deferred_cache_.size() > 512) deferred_cache_.clear();
  std::vector<const Declaration*> declarations;
  std::vector<const std::wstring*> bases;
  for (const MatchedDeclaration& m : matched) {
    const Declaration& d = *m.declaration;
    if (d.property == Property::kCustomProperty) continue;
    if (d.property != Property::kDeferred) {
      declarations.push_back(&d);
      bases.push_back(m.base);
      continue;
    }
    std::wstring value;
    const bool substituted = SubstituteVariables(d.value.text, custom, &value);
    const std::wstring text = d.name + L": " + (substituted ? value : std::wstring());
    auto cached = deferred_cache_.find(text);
    if (cached == deferred_cache_.end()) {
      if (!substituted) Report(sink_, OT_CSS, OS_WARNING, L"<" + element->tag + L">: " + d.name + L": '" + d.value.text + L"' names an unknown custom property");
      cached = deferred_cache_.emplace(text, substituted ? ParseDeclarations(text, L"<" + element->tag + L"> var()", sink_)
                                                         : std::vector<Declaration>()).first;
    }
    for (const Declaration& parsed : cached->second) {
      declarations.push_back(&parsed);
      bases.push_back(m.base);
    }
  }

  // font-size first: em values of the other properties depend on it.
  for (const Declaration* declaration : declarations) {
    const Declaration& d = *declaration;
    if (d.property != Property::kFontSize) continue;
    if (d.value.kind == CssValue::Kind::kInherit) {
      style->font_size = inherited.font_size;
    } else if (d.value.length.unit == Unit::kPercent) {
      style->font_size = inherited.font_size * d.value.length.value / 100.0f;
    } else {
      style->font_size = Resolve(d.value.length, inherited.font_size);
    }
  }
  const float font_size = style->font_size;
  bool border_color_set[4] = {false, false, false, false};
  std::wstring border_style[4] = {L"none", L"none", L"none", L"none"};
  float border_width[4] = {3, 3, 3, 3};  // "medium"

  for (size_t index = 0; index < declarations.size(); ++index) {
    const Declaration& d = *declarations[index];
    const CssValue& v = d.value;
    const bool inherit = v.kind == CssValue::Kind::kInherit;
    const int p = static_cast<int>(d.property);
    switch (d.property) {
      case Property::kDisplay: style->display = DisplayOf(v.text); break;
      case Property::kWidth: style->width = inherit ? inherited.width : ToPx(v.length, font_size); break;
      case Property::kHeight: style->height = inherit ? inherited.height : ToPx(v.length, font_size); break;
      case Property::kMinWidth: style->min_width = v.length.IsAuto() ? Length{0, Unit::kPx} : ToPx(v.length, font_size); break;
      case Property::kMaxWidth: style->max_width = ToPx(v.length, font_size); break;
      case Property::kMinHeight: style->min_height = v.length.IsAuto() ? Length{0, Unit::kPx} : ToPx(v.length, font_size); break;
      case Property::kMaxHeight: style->max_height = ToPx(v.length, font_size); break;
      case Property::kMarginTop: case Property::kMarginRight: case Property::kMarginBottom: case Property::kMarginLeft:
        style->margin[p - static_cast<int>(Property::kMarginTop)] = ToPx(v.length, font_size);
        break;
      case Property::kPaddingTop: case Property::kPaddingRight: case Property::kPaddingBottom: case Property::kPaddingLeft:
        style->padding[p - static_cast<int>(Property::kPaddingTop)] = ToPx(v.length, font_size);
        break;
      case Property::kBorderTopWidth: case Property::kBorderRightWidth: case Property::kBorderBottomWidth: case Property::kBorderLeftWidth:
        border_width[p - static_cast<int>(Property::kBorderTopWidth)] = Resolve(v.length, font_size);
        break;
      case Property::kBorderTopStyle: case Property::kBorderRightStyle: case Property::kBorderBottomStyle: case Property::kBorderLeftStyle:
        border_style[p - static_cast<int>(Property::kBorderTopStyle)] = v.text;
        break;
      case Property::kBorderTopColor: case Property::kBorderRightColor: case Property::kBorderBottomColor: case Property::kBorderLeftColor: {
        const int side = p - static_cast<int>(Property::kBorderTopColor);
        if (v.kind == CssValue::Kind::kColor) {
          style->border_color[side] = v.color;
          border_color_set[side] = true;
        } else {
          border_color_set[side] = false;  // currentcolor
        }
        break;
      }
      case Property::kBorderRadius: style->border_radius = Resolve(v.length, font_size); break;
      case Property::kColor: style->color = inherit ? inherited.color : v.color; break;
      case Property::kBackgroundColor:
        if (inherit) style->background = inherited.background;
        else if (v.kind == CssValue::Kind::kColor) style->background = v.color;
        else style->background = style->color;  // currentcolor
        break;
      case Property::kFontFamily: style->font_family = inherit ? inherited.font_family : v.text; break;
      case Property::kFontSize: break;  // done above
      case Property::kFontWeight: {
        int weight = static_cast<int>(v.number);
        if (inherit) weight = inherited.font_weight;
        style->font_weight = weight;
        break;
      }
      case Property::kFontStyle: style->italic = inherit ? inherited.italic : v.text != L"normal"; break;
      case Property::kTextAlign:
        if (inherit) style->text_align = inherited.text_align;
        else if (v.text == L"right" || v.text == L"end") style->text_align = TextAlign::kRight;
        else if (v.text == L"center") style->text_align = TextAlign::kCenter;
        else style->text_align = TextAlign::kLeft;
        break;
      case Property::kLineHeight:
        if (inherit) {
          style->line_height = inherited.line_height;
          style->line_height_is_factor = inherited.line_height_is_factor;
        } else if (v.kind == CssValue::Kind::kKeyword) {
          style->line_height = -1;
          style->line_height_is_factor = false;
        } else if (v.kind == CssValue::Kind::kNumber) {
          style->line_height = v.number;
          style->line_height_is_factor = true;
        } else if (v.length.unit == Unit::kPercent) {
          style->line_height = font_size * v.length.value / 100.0f;
          style->line_height_is_factor = false;
        } else {
          style->line_height = Resolve(v.length, font_size);
          style->line_height_is_factor = false;
        }
        break;
      case Property::kWhiteSpace:
        if (inherit) {
          style->nowrap = inherited.nowrap;
          style->preserve_spaces = inherited.preserve_spaces;
        } else {
          style->nowrap = v.text == L"nowrap" || v.text == L"pre";
          style->preserve_spaces = v.text == L"pre" || v.text == L"pre-wrap";
        }
        break;
      case Property::kTextDecoration: style->underline = v.text == L"underline"; break;
      case Property::kOverflow: style->overflow_hidden = v.text != L"visible"; break;
      case Property::kBoxSizing: style->border_box = v.text == L"border-box"; break;
      case Property::kVisibility: style->visible = inherit ? inherited.visible : v.text == L"visible"; break;
      case Property::kFlexDirection: style->flex_column = v.text.compare(0, 6, L"column") == 0; break;
      case Property::kJustifyContent:
        if (v.text == L"flex-end" || v.text == L"end" || v.text == L"right") style->justify = Justify::kEnd;
        else if (v.text == L"center") style->justify = Justify::kCenter;
        else if (v.text == L"space-between") style->justify = Justify::kSpaceBetween;
        else if (v.text == L"space-around") style->justify = Justify::kSpaceAround;
        else style->justify = Justify::kStart;
        break;
      case Property::kAlignItems:
        if (v.text == L"flex-start" || v.text == L"start" || v.text == L"baseline") style->align_items = AlignItems::kStart;
        else if (v.text == L"flex-end" || v.text == L"end") style->align_items = AlignItems::kEnd;
        else if (v.text == L"center") style->align_items = AlignItems::kCenter;
        else style->align_items = AlignItems::kStretch;
        break;
      case Property::kGap: style->gap = Resolve(v.length, font_size); break;
      case Property::kFlexGrow: style->flex_grow = v.number; break;
      case Property::kBehavior: style->behavior = v.text; break;
      case Property::kCustomProperty: case Property::kDeferred: break;  // settled above
      case Property::kPosition:
        if (v.text == L"relative") style->position = Position::kRelative;
        else if (v.text == L"absolute") style->position = Position::kAbsolute;
        else if (v.text == L"fixed") style->position = Position::kFixed;
        else style->position = Position::kStatic;
        break;
      case Property::kBackgroundImage: {
        std::wstring path;
        style->background_image = !v.text.empty() && ResolveReference(*bases[index], v.text, &path) ? path : std::wstring();
        break;
      }
      case Property::kBackgroundRepeat:
        style->background_repeat_x = v.text == L"repeat" || v.text == L"repeat-x";
        style->background_repeat_y = v.text == L"repeat" || v.text == L"repeat-y";
        break;
      case Property::kBackgroundPositionX: style->background_position[0] = ToPx(v.length, font_size); break;
      case Property::kBackgroundPositionY: style->background_position[1] = ToPx(v.length, font_size); break;
      case Property::kBackgroundSizeX:
        if (v.kind == CssValue::Kind::kKeyword) {
          style->background_size_keyword = v.text;
        } else {
          style->background_size_keyword.clear();
          style->background_size[0] = ToPx(v.length, font_size);
        }
        break;
      case Property::kBackgroundSizeY: style->background_size[1] = ToPx(v.length, font_size); break;
      case Property::kCursor: style->cursor = inherit ? inherited.cursor : v.text; break;
      case Property::kTop: case Property::kRight: case Property::kBottom: case Property::kLeft:
        style->offsets[p - static_cast<int>(Property::kTop)] = ToPx(v.length, font_size);
        break;
      case Property::kCount: break;
    }
  }
  for (int side = 0; side < 4; ++side) {
    const bool drawn = border_style[side] != L"none" && border_style[side] != L"hidden";
    style->border_width[side] = drawn ? border_width[side] : 0;
    if (!border_color_set[side]) style->border_color[side] = style->color;
  }
  // The root and floats never flow inline; an inline element inside a flex row is an item.
  if (!parent && style->display == Display::kInline) style->display = Display::kBlock;
  // Positioned out of the flow, an element is laid out as a block.
  if (style->OutOfFlow() && style->display == Display::kInline) style->display = Display::kBlock;
  return style;
}

void StyleResolver::StyleDocument(Document* document) {
  Node* root = document->root();
  if (!root) return;
  // Iterative, parents before children.
  std::vector<std::pair<Node*, const ComputedStyle*>> pending{{root, nullptr}};
  while (!pending.empty()) {
    auto [node, parent_style] = pending.back();
    pending.pop_back();
    std::shared_ptr<ComputedStyle> style = Compute(node, parent_style);
    node->style = style;
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
      if ((*it)->IsElement()) pending.push_back({*it, style.get()});
    }
  }
}

}  // namespace sciter_engine
