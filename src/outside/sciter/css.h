// The CSS parser: style sheets (from <style> and linked files) and style="" attributes to
// rules of typed declarations. Values are checked here, per property: a declaration the
// engine cannot use is reported (OT_CSS warning) and dropped, so the cascade sees only good
// ones. Shorthands (margin, padding, border, background, font, flex) become their longhands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "dom.h"
#include "selectors.h"

namespace sciter_engine {

struct Color {
  uint8_t r = 0, g = 0, b = 0, a = 0;  // straight (not premultiplied) alpha
  bool operator==(const Color& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

enum class Unit { kPx, kPercent, kEm, kAuto, kNone };

struct Length {
  float value = 0;
  Unit unit = Unit::kPx;
  bool IsAuto() const { return unit == Unit::kAuto; }
};

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

// `text` with every var(--name[, fallback]) replaced from `custom`; false when a name is
// unknown and has no fallback.
bool SubstituteVariables(const std::wstring& text, const std::map<std::wstring, std::wstring>& custom,
                         std::wstring* out);


struct Rule {
  std::vector<Selector> selectors;
  std::vector<Declaration> declarations;
};

struct StyleSheet {
  std::vector<Rule> rules;
  // Where the sheet's url() references are relative to (the sheet's own file).
  std::wstring base_path;
};

StyleSheet ParseStyleSheet(const std::wstring& text, const std::wstring& source_name,
                           const DiagnosticSink& sink);
// The inside of a style="" attribute (or of one rule's braces).
std::vector<Declaration> ParseDeclarations(const std::wstring& text,
                                           const std::wstring& source_name,
                                           const DiagnosticSink& sink);

bool ParseColor(const std::wstring& text, Color* color);
// A CSS name in script spelling ("backgroundColor") as CSS writes it ("background-color").
std::wstring CssNameFromCamelCase(const std::wstring& name);
// style="" text with one property set (an empty value removes it) or read back.
std::wstring SetInlineStyleProperty(const std::wstring& style_text, const std::wstring& name,
                                    const std::wstring& value);
std::wstring GetInlineStyleProperty(const std::wstring& style_text, const std::wstring& name);

}  // namespace sciter_engine
