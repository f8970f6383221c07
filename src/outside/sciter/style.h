// The cascade: every element's computed style from the engine's own defaults, the page's
// style sheets in order and its style="" attributes, by importance, specificity and order;
// text properties inherit. Lengths are CSS pixels here (em already resolved); percentages
// stay percentages for layout, which knows the containing block.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "css.h"
#include "dom.h"

namespace sciter_engine {

enum class Display { kNone, kBlock, kInline, kInlineBlock, kFlex };
enum class TextAlign { kLeft, kRight, kCenter };
enum class Justify { kStart, kEnd, kCenter, kSpaceBetween, kSpaceAround };
enum class AlignItems { kStretch, kStart, kEnd, kCenter };
enum class Position { kStatic, kRelative, kAbsolute, kFixed };

struct ComputedStyle {
  Display display = Display::kInline;
  Length width{0, Unit::kAuto}, height{0, Unit::kAuto};
  Length min_width{0, Unit::kPx}, max_width{0, Unit::kNone};
  Length min_height{0, Unit::kPx}, max_height{0, Unit::kNone};
  Length margin[4];   // top right bottom left; may be auto
  Length padding[4];
  float border_width[4] = {0, 0, 0, 0};  // 0 when the side's style is none
  Color border_color[4];
  float border_radius = 0;
  Color color{0, 0, 0, 255};
  Color background{0, 0, 0, 0};
  // background-image as a resolved file path ("" for none), its repeat, position and size.
  std::wstring background_image;
  bool background_repeat_x = true, background_repeat_y = true;
  Length background_position[2] = {{0, Unit::kPercent}, {0, Unit::kPercent}};
  std::wstring background_size_keyword;  // "cover", "contain" or "" for the lengths
  Length background_size[2] = {{0, Unit::kAuto}, {0, Unit::kAuto}};
  std::wstring font_family = L"Segoe UI";
  float font_size = 16;
  int font_weight = 400;
  bool italic = false;
  bool underline = false;
  TextAlign text_align = TextAlign::kLeft;
  // line-height: < 0 means normal; a factor of the font size when line_height_is_factor.
  float line_height = -1;
  bool line_height_is_factor = false;
  bool nowrap = false;        // white-space: nowrap (and pre)
  bool preserve_spaces = false;  // white-space: pre / pre-wrap
  bool overflow_hidden = false;
  bool border_box = false;    // box-sizing
  bool visible = true;        // visibility
  bool flex_column = false;
  Justify justify = Justify::kStart;
  AlignItems align_items = AlignItems::kStretch;
  float gap = 0;
  float flex_grow = 0;
  std::wstring behavior;
  Position position = Position::kStatic;
  std::wstring cursor = L"auto";  // inherited
  // Custom properties (--name), inherited; shared with the parent until the element sets one.
  std::shared_ptr<const std::map<std::wstring, std::wstring>> custom;
  Length offsets[4] = {{0, Unit::kAuto}, {0, Unit::kAuto}, {0, Unit::kAuto}, {0, Unit::kAuto}};  // top right bottom left

  bool OutOfFlow() const { return position == Position::kAbsolute || position == Position::kFixed; }
};

// The engine's defaults (what a page without style sheets looks like).
const StyleSheet& DefaultStyleSheet();

class StyleResolver {
 public:
  // `sheets` are the page's, in document order; they must outlive the resolver.
  // `page_path` is where url() of style="" attributes is relative to.
  explicit StyleResolver(std::vector<const StyleSheet*> sheets, const DiagnosticSink& sink,
                         std::wstring page_path = std::wstring());

  // Computes the style of every element below and including the root.
  void StyleDocument(Document* document);
  // The computed style of one element given its parent's.
  std::shared_ptr<ComputedStyle> Compute(const Node* element, const ComputedStyle* parent) const;

 private:
  std::vector<const StyleSheet*> sheets_;
  DiagnosticSink sink_;
  std::wstring page_path_;
  // style="" texts parsed once each, so their diagnostics come once and restyling is cheap.
  mutable std::map<std::wstring, std::vector<Declaration>> inline_cache_;
  // Declarations with var() once their values are substituted, parsed once each.
  mutable std::map<std::wstring, std::vector<Declaration>> deferred_cache_;
};

}  // namespace sciter_engine
