#include "css_declarations.h"

#include <cwctype>

#include "dom.h"

namespace sciter_engine {

namespace {

class DeclarationParser {
 public:
  DeclarationParser(const std::wstring& source, const DiagnosticSink& sink,
                    std::vector<Declaration>* out)
      : source_(source), sink_(sink), out_(out) {}

  void Parse(const std::wstring& name_in, const std::wstring& value_in) {
    name_ = AsciiLower(TrimHtmlSpace(name_in));
    std::wstring value = TrimHtmlSpace(value_in);
    important_ = false;
    const size_t bang = value.rfind(L'!');
    if (bang != std::wstring::npos && AsciiLower(TrimHtmlSpace(value.substr(bang + 1))) == L"important") {
      important_ = true;
      value = TrimHtmlSpace(value.substr(0, bang));
    }
    if (name_.empty()) {
      Warn(L"declaration without a property name");
      return;
    }
    if (value.empty()) {
      Warn(L"property " + name_ + L" has no value");
      return;
    }
    if (name_.compare(0, 2, L"--") == 0 || AsciiLower(value).find(L"var(") != std::wstring::npos) {
      Declaration deferred;
      deferred.property = name_.compare(0, 2, L"--") == 0 ? Property::kCustomProperty : Property::kDeferred;
      deferred.value.kind = CssValue::Kind::kString;
      deferred.value.text = value;
      deferred.important = important_;
      deferred.name = name_;
      out_->push_back(std::move(deferred));
      return;
    }
    if (AsciiLower(value) == L"inherit") {
      if (!ParseInherit()) Unknown();
      return;
    }
    if (!ParseProperty(value)) {
      if (known_) Warn(L"bad value '" + value + L"' for " + name_ + L"; declaration ignored");
      else Unknown();
    }
  }

 private:
  void Warn(const std::wstring& message) {
    Report(sink_, OT_CSS, OS_WARNING, source_ + L": " + message);
  }
  void Unknown() { Warn(L"unknown property " + name_ + L" ignored"); }

  void Add(Property property, const CssValue& value) {
    out_->push_back({property, value, important_, std::wstring()});
  }
  void AddLength(Property property, const Length& length) {
    CssValue value;
    value.kind = CssValue::Kind::kLength;
    value.length = length;
    Add(property, value);
  }
  void AddKeyword(Property property, const std::wstring& keyword) {
    CssValue value;
    value.kind = CssValue::Kind::kKeyword;
    value.text = keyword;
    Add(property, value);
  }
  void AddColor(Property property, const Color& color) {
    CssValue value;
    value.kind = CssValue::Kind::kColor;
    value.color = color;
    Add(property, value);
  }

  bool Keyword(const std::wstring& value, std::initializer_list<const wchar_t*> allowed,
               Property property) {
    known_ = true;
    const std::wstring word = AsciiLower(value);
    for (const wchar_t* keyword : allowed) {
      if (word == keyword) {
        AddKeyword(property, word);
        return true;
      }
    }
    return false;
  }

  bool OneLength(const std::wstring& value, unsigned flags, Property property) {
    known_ = true;
    Length length;
    if (!ParseLength(value, flags, &length)) return false;
    AddLength(property, length);
    return true;
  }

  // margin / padding / border-width style: one to four values for top right bottom left.
  bool FourSides(const std::wstring& value, Property top, bool lengths, unsigned flags) {
    known_ = true;
    const std::vector<std::wstring> words = SplitValue(value, false);
    if (words.empty() || words.size() > 4) return false;
    static const int kSideOf[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 2, 1}, {0, 1, 2, 3}};
    std::vector<CssValue> values;
    for (const std::wstring& word : words) {
      CssValue parsed;
      if (lengths) {
        if (!ParseBorderWidth(word, flags, &parsed.length)) return false;
        parsed.kind = CssValue::Kind::kLength;
      } else if (top == Property::kBorderTopColor) {
        if (!ParseColor(word, &parsed.color)) return false;
        parsed.kind = CssValue::Kind::kColor;
      } else {
        if (!IsBorderStyle(word)) return false;
        parsed.text = AsciiLower(word);
      }
      values.push_back(parsed);
    }
    for (int side = 0; side < 4; ++side) {
      Add(static_cast<Property>(static_cast<int>(top) + side), values[kSideOf[words.size() - 1][side]]);
    }
    return true;
  }

  static bool IsBorderStyle(const std::wstring& word) {
    static const wchar_t* const kStyles[] = {L"none", L"hidden", L"solid", L"dotted", L"dashed",
                                             L"double", L"groove", L"ridge", L"inset", L"outset"};
    const std::wstring lower = AsciiLower(word);
    for (const wchar_t* style : kStyles) {
      if (lower == style) return true;
    }
    return false;
  }

  static bool ParseBorderWidth(const std::wstring& word, unsigned flags, Length* length) {
    const std::wstring lower = AsciiLower(word);
    if (!(flags & kAllowPercent)) {  // only border widths take these names
      if (lower == L"thin") { *length = {1, Unit::kPx}; return true; }
      if (lower == L"medium") { *length = {3, Unit::kPx}; return true; }
      if (lower == L"thick") { *length = {5, Unit::kPx}; return true; }
    }
    return ParseLength(word, flags, length);
  }

  // border / border-SIDE: width, style and colour in any order.
  bool Border(const std::wstring& value, int first_side, int side_count) {
    known_ = true;
    Length width{3, Unit::kPx};
    std::wstring style = L"none";
    Color color{0, 0, 0, 255};
    bool has_color = false;
    for (const std::wstring& word : SplitValue(value, false)) {
      Length length;
      Color parsed;
      if (IsBorderStyle(word)) style = AsciiLower(word);
      else if (ParseBorderWidth(word, 0, &length)) width = length;
      else if (ParseColor(word, &parsed)) { color = parsed; has_color = true; }
      else return false;
    }
    for (int side = first_side; side < first_side + side_count; ++side) {
      AddLength(static_cast<Property>(static_cast<int>(Property::kBorderTopWidth) + side), width);
      AddKeyword(static_cast<Property>(static_cast<int>(Property::kBorderTopStyle) + side), style);
      CssValue color_value;
      if (has_color) {
        color_value.kind = CssValue::Kind::kColor;
        color_value.color = color;
      } else {
        color_value.kind = CssValue::Kind::kKeyword;
        color_value.text = L"currentcolor";
      }
      Add(static_cast<Property>(static_cast<int>(Property::kBorderTopColor) + side), color_value);
    }
    return true;
  }

  bool ColorValue(const std::wstring& value, Property property) {
    known_ = true;
    Color color;
    if (AsciiLower(value) == L"currentcolor" && property != Property::kColor) {
      AddKeyword(property, L"currentcolor");
      return true;
    }
    if (!ParseColor(value, &color)) return false;
    AddColor(property, color);
    return true;
  }

  static bool ParseUrl(const std::wstring& word, std::wstring* url) {
    const std::wstring lower = AsciiLower(word);
    if (lower.compare(0, 4, L"url(") != 0 || word.back() != L')') return false;
    std::wstring inside = TrimHtmlSpace(word.substr(4, word.size() - 5));
    if (inside.size() >= 2 && (inside[0] == L'"' || inside[0] == L'\'') && inside.back() == inside[0]) {
      inside = inside.substr(1, inside.size() - 2);
    }
    *url = inside;
    return !inside.empty();
  }
  static bool IsRepeat(const std::wstring& lower) {
    return lower == L"no-repeat" || lower == L"repeat" || lower == L"repeat-x" || lower == L"repeat-y";
  }
  static bool IsPositionWord(const std::wstring& lower) {
    return lower == L"left" || lower == L"center" || lower == L"right" || lower == L"top" || lower == L"bottom";
  }
  // One to two position words (keywords or lengths) to x and y.
  bool BackgroundPosition(const std::vector<std::wstring>& words) {
    if (words.empty() || words.size() > 2) return false;
    Length x{0, Unit::kPercent}, y{0, Unit::kPercent};
    auto keyword = [](const std::wstring& lower, Length* out) {
      if (lower == L"left" || lower == L"top") *out = {0, Unit::kPercent};
      else if (lower == L"center") *out = {50, Unit::kPercent};
      else if (lower == L"right" || lower == L"bottom") *out = {100, Unit::kPercent};
      else return false;
      return true;
    };
    std::wstring first = AsciiLower(words[0]);
    std::wstring second = words.size() > 1 ? AsciiLower(words[1]) : L"center";
    if (first == L"top" || first == L"bottom" || second == L"left" || second == L"right") std::swap(first, second);
    if (!keyword(first, &x) && !ParseLength(first, kAllowPercent | kAllowNegative, &x)) return false;
    if (!keyword(second, &y) && !ParseLength(second, kAllowPercent | kAllowNegative, &y)) return false;
    if (first == L"top" || first == L"bottom" || second == L"left" || second == L"right") return false;
    AddLength(Property::kBackgroundPositionX, x);
    AddLength(Property::kBackgroundPositionY, y);
    return true;
  }
  bool BackgroundSize(const std::vector<std::wstring>& words) {
    if (words.empty() || words.size() > 2) return false;
    const std::wstring first = AsciiLower(words[0]);
    if (words.size() == 1 && (first == L"cover" || first == L"contain")) {
      AddKeyword(Property::kBackgroundSizeX, first);
      AddLength(Property::kBackgroundSizeY, {0, Unit::kAuto});
      return true;
    }
    Length x, y{0, Unit::kAuto};
    if (!ParseLength(first, kAllowPercent | kAllowAuto, &x)) return false;
    if (words.size() > 1 && !ParseLength(words[1], kAllowPercent | kAllowAuto, &y)) return false;
    AddLength(Property::kBackgroundSizeX, x);
    AddLength(Property::kBackgroundSizeY, y);
    return true;
  }
  void AddImage(const std::wstring& url) {
    CssValue image;
    image.kind = CssValue::Kind::kString;
    image.text = url;
    Add(Property::kBackgroundImage, image);
  }

  // background: colour, url() picture, repeat and position; gradients are not drawn.
  bool Background(const std::wstring& value) {
    known_ = true;
    const std::vector<std::wstring> words = SplitValue(value, false);
    if (words.size() == 1 && AsciiLower(words[0]) == L"none") {
      AddColor(Property::kBackgroundColor, Color{0, 0, 0, 0});
      AddImage(L"");
      return true;
    }
    std::wstring url;
    std::wstring repeat = L"repeat";
    std::vector<std::wstring> position;
    bool found = false;
    Color color{0, 0, 0, 0};
    for (const std::wstring& word : words) {
      const std::wstring lower = AsciiLower(word);
      Color parsed;
      Length length;
      if (ParseColor(word, &parsed)) {
        color = parsed;
      } else if (ParseUrl(word, &url)) {
      } else if (IsRepeat(lower)) {
        repeat = lower;
      } else if (IsPositionWord(lower) || ParseLength(lower, kAllowPercent | kAllowNegative, &length)) {
        position.push_back(lower);
      } else if (lower.find(L"gradient(") != std::wstring::npos || lower == L"none") {
        Report(sink_, OT_CSS, OS_INFO, source_ + L": background '" + word + L"' is not drawn");
      } else {
        return false;
      }
      found = true;
    }
    if (!found) return false;
    // The shorthand sets every part: what it leaves out goes back to the initial value.
    AddColor(Property::kBackgroundColor, color);
    AddImage(url);
    AddKeyword(Property::kBackgroundRepeat, repeat);
    if (position.empty()) position = {L"0%", L"0%"};
    return BackgroundPosition(position);
  }

  bool FontFamily(const std::wstring& value) {
    known_ = true;
    std::wstring family;
    for (const std::wstring& word : SplitValue(value, true)) {
      std::wstring name = word;
      if (name.size() >= 2 && (name[0] == L'"' || name[0] == L'\'')) name = name.substr(1, name.size() - 2);
      if (!name.empty()) {
        if (!family.empty()) family += L',';
        family += name;
      }
    }
    // Unquoted multi-word names ("Segoe UI") come apart at the spaces: join them back.
    std::wstring joined;
    const std::wstring trimmed = TrimHtmlSpace(value);
    bool quoted = trimmed.find_first_of(L"\"'") != std::wstring::npos;
    if (!quoted) {
      std::wstring current;
      for (wchar_t c : trimmed) {
        if (c == L',') {
          if (!joined.empty()) joined += L',';
          joined += TrimHtmlSpace(current);
          current.clear();
        } else {
          current += c;
        }
      }
      if (!joined.empty()) joined += L',';
      joined += TrimHtmlSpace(current);
      family = joined;
    }
    if (family.empty()) return false;
    CssValue parsed;
    parsed.kind = CssValue::Kind::kString;
    parsed.text = family;
    Add(Property::kFontFamily, parsed);
    return true;
  }

  bool FontSize(const std::wstring& value) {
    known_ = true;
    static const struct { const wchar_t* name; float px; } kNamed[] = {
        {L"xx-small", 9}, {L"x-small", 10}, {L"small", 13}, {L"medium", 16},
        {L"large", 18},   {L"x-large", 24}, {L"xx-large", 32}};
    const std::wstring lower = AsciiLower(value);
    for (const auto& named : kNamed) {
      if (lower == named.name) {
        AddLength(Property::kFontSize, {named.px, Unit::kPx});
        return true;
      }
    }
    if (lower == L"smaller") { AddLength(Property::kFontSize, {0.83f, Unit::kEm}); return true; }
    if (lower == L"larger") { AddLength(Property::kFontSize, {1.2f, Unit::kEm}); return true; }
    return OneLength(value, kAllowPercent, Property::kFontSize);
  }

  bool FontWeight(const std::wstring& value) {
    known_ = true;
    const std::wstring lower = AsciiLower(value);
    CssValue parsed;
    parsed.kind = CssValue::Kind::kNumber;
    if (lower == L"normal") parsed.number = 400;
    else if (lower == L"bold") parsed.number = 700;
    else if (lower == L"bolder") parsed.number = 700;
    else if (lower == L"lighter") parsed.number = 300;
    else {
      std::wstring unit;
      if (!ParseNumber(lower, &parsed.number, &unit) || !unit.empty() || parsed.number < 1 ||
          parsed.number > 1000) {
        return false;
      }
    }
    Add(Property::kFontWeight, parsed);
    return true;
  }

  // font: [style] [weight] size[/line-height] family.
  bool Font(const std::wstring& value) {
    known_ = true;
    const std::vector<std::wstring> words = SplitValue(value, false);
    size_t i = 0;
    bool weight_set = false;
    for (; i < words.size(); ++i) {
      const std::wstring lower = AsciiLower(words[i]);
      if (lower == L"italic" || lower == L"oblique") {
        AddKeyword(Property::kFontStyle, L"italic");
      } else if (lower == L"normal") {
      } else if (lower == L"bold" || lower == L"bolder" || lower == L"lighter" ||
                 (!lower.empty() && std::iswdigit(lower[0]) && lower.find_first_not_of(L"0123456789") == std::wstring::npos)) {
        if (!FontWeight(lower)) return false;
        weight_set = true;
      } else {
        break;
      }
    }
    if (i >= words.size()) return false;
    std::wstring size = words[i];
    const size_t slash = size.find(L'/');
    if (slash != std::wstring::npos) {
      if (!LineHeight(size.substr(slash + 1))) return false;
      size = size.substr(0, slash);
    }
    if (!FontSize(size)) return false;
    if (!weight_set) {
      CssValue normal;
      normal.kind = CssValue::Kind::kNumber;
      normal.number = 400;
      Add(Property::kFontWeight, normal);
    }
    std::wstring family;
    for (++i; i < words.size(); ++i) family += (family.empty() ? L"" : L" ") + words[i];
    return family.empty() || FontFamily(family);
  }

  bool LineHeight(const std::wstring& value) {
    known_ = true;
    const std::wstring lower = AsciiLower(value);
    if (lower == L"normal") {
      AddKeyword(Property::kLineHeight, L"normal");
      return true;
    }
    float number;
    std::wstring unit;
    if (ParseNumber(lower, &number, &unit) && unit.empty() && number >= 0) {
      CssValue parsed;
      parsed.kind = CssValue::Kind::kNumber;
      parsed.number = number;
      Add(Property::kLineHeight, parsed);
      return true;
    }
    return OneLength(value, kAllowPercent, Property::kLineHeight);
  }

  bool Flex(const std::wstring& value) {
    known_ = true;
    const std::vector<std::wstring> words = SplitValue(value, false);
    if (words.empty()) return false;
    const std::wstring first = AsciiLower(words[0]);
    CssValue grow;
    grow.kind = CssValue::Kind::kNumber;
    if (first == L"none" || first == L"auto") {
      grow.number = first == L"auto" ? 1.0f : 0.0f;
    } else {
      std::wstring unit;
      if (!ParseNumber(first, &grow.number, &unit) || !unit.empty() || grow.number < 0) return false;
    }
    Add(Property::kFlexGrow, grow);
    return true;
  }

  bool ParseInherit() {
    static const struct { const wchar_t* name; Property property; } kInheritable[] = {
        {L"color", Property::kColor},           {L"font-family", Property::kFontFamily},
        {L"font-size", Property::kFontSize},    {L"font-weight", Property::kFontWeight},
        {L"font-style", Property::kFontStyle},  {L"text-align", Property::kTextAlign},
        {L"line-height", Property::kLineHeight}, {L"white-space", Property::kWhiteSpace},
        {L"visibility", Property::kVisibility}, {L"background-color", Property::kBackgroundColor},
        {L"width", Property::kWidth},           {L"height", Property::kHeight}};
    for (const auto& entry : kInheritable) {
      if (name_ == entry.name) {
        CssValue value;
        value.kind = CssValue::Kind::kInherit;
        Add(entry.property, value);
        return true;
      }
    }
    return false;
  }

  bool ParseProperty(const std::wstring& value) {
    known_ = false;
    const std::wstring& n = name_;
    const unsigned lp = kAllowPercent;
    if (n == L"display") return Keyword(value, {L"block", L"inline", L"inline-block", L"none", L"flex", L"inline-flex", L"list-item"}, Property::kDisplay);
    if (n == L"width") return OneLength(value, lp | kAllowAuto, Property::kWidth);
    if (n == L"height") return OneLength(value, lp | kAllowAuto, Property::kHeight);
    if (n == L"min-width") return OneLength(value, lp | kAllowAuto, Property::kMinWidth);
    if (n == L"min-height") return OneLength(value, lp | kAllowAuto, Property::kMinHeight);
    if (n == L"max-width") return OneLength(value, lp | kAllowNone, Property::kMaxWidth);
    if (n == L"max-height") return OneLength(value, lp | kAllowNone, Property::kMaxHeight);
    if (n == L"margin") return FourSides(value, Property::kMarginTop, true, lp | kAllowAuto | kAllowNegative);
    if (n == L"padding") return FourSides(value, Property::kPaddingTop, true, lp);
    static const wchar_t* const kSides[] = {L"top", L"right", L"bottom", L"left"};
    for (int side = 0; side < 4; ++side) {
      const std::wstring s = kSides[side];
      auto at = [&](Property first) { return static_cast<Property>(static_cast<int>(first) + side); };
      if (n == L"margin-" + s) return OneLength(value, lp | kAllowAuto | kAllowNegative, at(Property::kMarginTop));
      if (n == L"padding-" + s) return OneLength(value, lp, at(Property::kPaddingTop));
      if (n == L"border-" + s) return Border(value, side, 1);
      if (n == L"border-" + s + L"-width") {
        known_ = true;
        Length length;
        if (!ParseBorderWidth(value, 0, &length)) return false;
        AddLength(at(Property::kBorderTopWidth), length);
        return true;
      }
      if (n == L"border-" + s + L"-style") {
        known_ = true;
        if (!IsBorderStyle(value)) return false;
        AddKeyword(at(Property::kBorderTopStyle), AsciiLower(value));
        return true;
      }
      if (n == L"border-" + s + L"-color") return ColorValue(value, at(Property::kBorderTopColor));
    }
    if (n == L"border") return Border(value, 0, 4);
    if (n == L"border-width") return FourSides(value, Property::kBorderTopWidth, true, 0);
    if (n == L"border-style") return FourSides(value, Property::kBorderTopStyle, false, 0);
    if (n == L"border-color") return FourSides(value, Property::kBorderTopColor, false, 0);
    if (n == L"border-radius") {
      // Corners may come as up to four values (and "/ vertical"); one radius is drawn: the first.
      known_ = true;
      const std::vector<std::wstring> words = SplitValue(value, false);
      Length length;
      if (words.empty() || !ParseLength(words[0], lp, &length)) return false;
      for (const std::wstring& word : words) {
        Length other;
        if (word != L"/" && !ParseLength(word, lp, &other)) return false;
      }
      AddLength(Property::kBorderRadius, length);
      return true;
    }
    if (n == L"color") return ColorValue(value, Property::kColor);
    if (n == L"background-color") return ColorValue(value, Property::kBackgroundColor);
    if (n == L"background") return Background(value);
    if (n == L"background-image") {
      known_ = true;
      std::wstring url;
      if (AsciiLower(value) == L"none") { AddImage(L""); return true; }
      if (AsciiLower(value).find(L"gradient(") != std::wstring::npos) {
        Report(sink_, OT_CSS, OS_INFO, source_ + L": background-image '" + value + L"' is not drawn");
        return true;
      }
      if (!ParseUrl(value, &url)) return false;
      AddImage(url);
      return true;
    }
    if (n == L"background-repeat") return Keyword(value, {L"repeat", L"no-repeat", L"repeat-x", L"repeat-y"}, Property::kBackgroundRepeat);
    if (n == L"background-position") { known_ = true; return BackgroundPosition(SplitValue(value, false)); }
    if (n == L"background-size") { known_ = true; return BackgroundSize(SplitValue(value, false)); }
    if (n == L"font-family") return FontFamily(value);
    if (n == L"font-size") return FontSize(value);
    if (n == L"font-weight") return FontWeight(value);
    if (n == L"font-style") return Keyword(value, {L"normal", L"italic", L"oblique"}, Property::kFontStyle);
    if (n == L"font") return Font(value);
    if (n == L"text-align") return Keyword(value, {L"left", L"right", L"center", L"justify", L"start", L"end"}, Property::kTextAlign);
    if (n == L"line-height") return LineHeight(value);
    if (n == L"white-space") return Keyword(value, {L"normal", L"nowrap", L"pre", L"pre-wrap", L"pre-line"}, Property::kWhiteSpace);
    if (n == L"text-decoration" || n == L"text-decoration-line") return Keyword(value, {L"none", L"underline", L"line-through"}, Property::kTextDecoration);
    if (n == L"overflow" || n == L"overflow-x" || n == L"overflow-y") return Keyword(value, {L"visible", L"hidden", L"auto", L"scroll", L"clip"}, Property::kOverflow);
    if (n == L"box-sizing") return Keyword(value, {L"content-box", L"border-box"}, Property::kBoxSizing);
    if (n == L"visibility") return Keyword(value, {L"visible", L"hidden", L"collapse"}, Property::kVisibility);
    if (n == L"flex-direction") return Keyword(value, {L"row", L"column", L"row-reverse", L"column-reverse"}, Property::kFlexDirection);
    if (n == L"justify-content") return Keyword(value, {L"flex-start", L"flex-end", L"center", L"space-between", L"space-around", L"start", L"end", L"normal", L"left", L"right"}, Property::kJustifyContent);
    if (n == L"align-items") return Keyword(value, {L"stretch", L"flex-start", L"flex-end", L"center", L"start", L"end", L"baseline", L"normal"}, Property::kAlignItems);
    if (n == L"gap" || n == L"column-gap") {
      known_ = true;
      const std::vector<std::wstring> words = SplitValue(value, false);
      Length length;
      if (words.empty() || words.size() > 2) return false;
      // "gap: row column": the row is laid out horizontally, so the column gap is the one used.
      if (!ParseLength(words.back(), 0, &length)) return false;
      AddLength(Property::kGap, length);
      return true;
    }
    if (n == L"flex-grow") {
      known_ = true;
      float number;
      std::wstring unit;
      if (!ParseNumber(value, &number, &unit) || !unit.empty() || number < 0) return false;
      CssValue grow;
      grow.kind = CssValue::Kind::kNumber;
      grow.number = number;
      Add(Property::kFlexGrow, grow);
      return true;
    }
    if (n == L"flex") return Flex(value);
    if (n == L"behavior") {
      known_ = true;
      const std::wstring name = TrimHtmlSpace(value);
      if (name.empty() || name.find_first_of(L" \t;{}") != std::wstring::npos) return false;
      CssValue parsed;
      parsed.kind = CssValue::Kind::kString;
      parsed.text = name;
      Add(Property::kBehavior, parsed);
      return true;
    }
    // Properties the pages may use that change nothing in this engine's drawing.
    static const wchar_t* const kAccepted[] = {
        L"user-select", L"-webkit-user-select", L"transition", L"outline",
        L"outline-offset", L"vertical-align", L"letter-spacing", L"box-shadow", L"text-shadow",
        L"flex-shrink", L"flex-basis", L"flex-wrap", L"align-self", L"opacity", L"z-index",
        L"text-overflow", L"word-wrap", L"overflow-wrap", L"word-break", L"list-style",
        L"list-style-type", L"animation", L"transform", L"text-transform", L"font-variant",
        L"-webkit-font-smoothing", L"text-rendering", L"pointer-events", L"content"};
    for (const wchar_t* accepted : kAccepted) {
      if (n == accepted) {
        known_ = true;
        return true;
      }
    }
    if (n == L"cursor") {
      // The last word counts: "url(x.cur), pointer" falls back to pointer.
      known_ = true;
      const std::vector<std::wstring> words = SplitValue(value, true);
      if (words.empty()) return false;
      AddKeyword(Property::kCursor, AsciiLower(words.back()));
      return true;
    }
    if (n == L"position") return Keyword(value, {L"static", L"relative", L"absolute", L"fixed"}, Property::kPosition);
    if (n == L"top") return OneLength(value, lp | kAllowAuto | kAllowNegative, Property::kTop);
    if (n == L"right") return OneLength(value, lp | kAllowAuto | kAllowNegative, Property::kRight);
    if (n == L"bottom") return OneLength(value, lp | kAllowAuto | kAllowNegative, Property::kBottom);
    if (n == L"left") return OneLength(value, lp | kAllowAuto | kAllowNegative, Property::kLeft);
    if (n == L"float" || n == L"clear") {
      known_ = true;
      Report(sink_, OT_CSS, OS_WARNING, source_ + L": " + n + L" is not supported; laid out in normal flow");
      return true;
    }
    return false;
  }

  const std::wstring& source_;
  const DiagnosticSink& sink_;
  std::vector<Declaration>* out_;
  std::wstring name_;
  bool important_ = false;
  bool known_ = false;
};

}  // namespace

void ParseDeclarationBlock(const std::wstring& text, const std::wstring& source,
                           const DiagnosticSink& sink, std::vector<Declaration>* out) {
  DeclarationParser parser(source, sink, out);
  std::wstring item;
  int depth = 0;
  wchar_t quote = 0;
  auto flush = [&]() {
    const std::wstring declaration = TrimHtmlSpace(item);
    item.clear();
    if (declaration.empty()) return;
    const size_t colon = declaration.find(L':');
    if (colon == std::wstring::npos) {
      Report(sink, OT_CSS, OS_WARNING, source + L": '" + declaration + L"' is not a declaration");
      return;
    }
    parser.Parse(declaration.substr(0, colon), declaration.substr(colon + 1));
  };
  for (wchar_t c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == L'"' || c == L'\'') {
      quote = c;
    } else if (c == L'(') {
      ++depth;
    } else if (c == L')' && depth > 0) {
      --depth;
    } else if (c == L';' && depth == 0) {
      flush();
      continue;
    }
    item += c;
  }
  flush();
}

std::vector<Declaration> ParseDeclarations(const std::wstring& text,
                                           const std::wstring& source_name,
                                           const DiagnosticSink& sink) {
  bool unclosed = false;
  const std::wstring clean = StripComments(text, &unclosed);
  if (unclosed) Report(sink, OT_CSS, OS_WARNING, source_name + L": comment is not closed");
  std::vector<Declaration> declarations;
  ParseDeclarationBlock(clean, source_name, sink, &declarations);
  return declarations;
}

}  // namespace sciter_engine
