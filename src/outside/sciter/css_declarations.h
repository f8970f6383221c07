// CSS declarations ("name: value" lists, from a rule's braces or a style="" attribute) to
// typed values. Values are checked here, per property: a declaration the engine cannot use is
// reported (OT_CSS warning) and dropped, so the cascade sees only good ones. Shorthands
// (margin, padding, border, background, font, flex) become their longhands.
#pragma once

#include <string>
#include <vector>

#include "css_values.h"
#include "diagnostics.h"

namespace sciter_engine {

enum class Property {
  kDisplay,
  kWidth, kHeight, kMinWidth, kMaxWidth, kMinHeight, kMaxHeight,
  kMarginTop, kMarginRight, kMarginBottom, kMarginLeft,
  kPaddingTop, kPaddingRight, kPaddingBottom, kPaddingLeft,
  kBorderTopWidth, kBorderRightWidth, kBorderBottomWidth, kBorderLeftWidth,
  kBorderTopStyle, kBorderRightStyle, kBorderBottomStyle, kBorderLeftStyle,
  kBorderTopColor, kBorderRightColor, kBorderBottomColor, kBorderLeftColor,
  kBorderRadius,
  kColor, kBackgroundColor,
  kFontFamily, kFontSize, kFontWeight, kFontStyle,
  kTextAlign, kLineHeight, kWhiteSpace, kTextDecoration,
  kOverflow, kBoxSizing, kVisibility,
  kFlexDirection, kJustifyContent, kAlignItems, kGap, kFlexGrow,
  kBehavior,
  kPosition, kTop, kRight, kBottom, kLeft,
  kCursor,
  kBackgroundImage, kBackgroundRepeat, kBackgroundPositionX, kBackgroundPositionY,
  kBackgroundSizeX, kBackgroundSizeY,
  // A custom property (--name: value), and a declaration whose value uses var(): both are
  // settled in the cascade, where the custom properties of the element are known.
  kCustomProperty, kDeferred,
  kCount
};

// One checked value: which field counts depends on the property.
struct CssValue {
  enum class Kind { kKeyword, kLength, kColor, kNumber, kString, kInherit };
  Kind kind = Kind::kKeyword;
  std::wstring text;  // keyword (lower case) or string
  Length length;
  Color color;
  float number = 0;
};

struct Declaration {
  Property property;
  CssValue value;  // for kCustomProperty and kDeferred: the value text
  bool important = false;
  std::wstring name;  // kCustomProperty: "--name"; kDeferred: the property
};

// The inside of a style="" attribute (or of one rule's braces), comments included.
std::vector<Declaration> ParseDeclarations(const std::wstring& text,
                                           const std::wstring& source_name,
                                           const DiagnosticSink& sink);
// The same for text already free of comments, appending to `out`; `source` names the place
// in diagnostics.
void ParseDeclarationBlock(const std::wstring& text, const std::wstring& source,
                           const DiagnosticSink& sink, std::vector<Declaration>* out);

}  // namespace sciter_engine
