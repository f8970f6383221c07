// The CSS parser and the cascade: selectors and specificity, importance and order,
// shorthands, colours, units, inheritance, and bad CSS reported and ignored.
#include <gtest/gtest.h>

#include "outside/sciter/inline_style.h"
#include "outside/sciter/markup.h"
#include "outside/sciter/style.h"
#include "sciter/sciter_test_support.h"

namespace sciter_engine {
namespace {

using sciter_testing::DiagnosticRecorder;

class StyleTest : public ::testing::Test {
 protected:
  // Parses the page and the sheet and styles every element.
  void Style(const std::wstring& css, const std::wstring& html) {
    ParseHtml(html, L"page.html", &document_, diagnostics_.Sink());
    sheet_ = ParseStyleSheet(css, L"test.css", diagnostics_.Sink());
    StyleResolver resolver({&sheet_}, diagnostics_.Sink());
    resolver.StyleDocument(&document_);
  }
  const ComputedStyle& Of(const wchar_t* id) {
    Node* node = document_.FindById(id);
    EXPECT_NE(node, nullptr) << id;
    return *node->style;
  }

  Document document_;
  StyleSheet sheet_;
  DiagnosticRecorder diagnostics_;
};

constexpr Color kRed{255, 0, 0, 255};
constexpr Color kGreen{0, 128, 0, 255};
constexpr Color kBlue{0, 0, 255, 255};

TEST_F(StyleTest, SpecificityDecidesBetweenTagClassAndId) {
  Style(L"#i { color: blue } .c { color: green } p { color: red }",
        L"<p id=i class=c>a</p><p id=j class=c>b</p><p id=k>c</p>");
  EXPECT_EQ(Of(L"i").color, kBlue);
  EXPECT_EQ(Of(L"j").color, kGreen);
  EXPECT_EQ(Of(L"k").color, kRed);
}

TEST_F(StyleTest, LaterRuleWinsAtEqualSpecificityAndImportantBeatsAll) {
  Style(L"p { color: red } p { color: green } .x { color: red !important } #y { color: blue }",
        L"<p id=a>a</p><p id=y class=x>b</p><p id=z style='color: blue'>c</p>");
  EXPECT_EQ(Of(L"a").color, kGreen);
  EXPECT_EQ(Of(L"y").color, kRed);
  EXPECT_EQ(Of(L"z").color, kBlue) << "style=\"\" beats selectors";
}

TEST_F(StyleTest, DescendantAndChildCombinators) {
  Style(L"div p { color: green } section > p { color: blue } .a .b > em { font-weight: bold }",
        L"<div><section><p id=child>x</p><div><p id=deep>y</p></div></section></div>"
        L"<div class=a><span class=b><em id=em>z</em></span></div><em id=plain>w</em>");
  EXPECT_EQ(Of(L"child").color, kBlue);
  EXPECT_EQ(Of(L"deep").color, kGreen);
  EXPECT_EQ(Of(L"em").font_weight, 700);
  EXPECT_EQ(Of(L"plain").font_weight, 400);
}

TEST_F(StyleTest, StatesSelectOnlyWhileSet) {
  ParseHtml(L"<button id=b>x</button>", L"p.html", &document_, diagnostics_.Sink());
  sheet_ = ParseStyleSheet(L"button { color: red } button:hover { color: green } button:focus { color: blue }",
                           L"t.css", diagnostics_.Sink());
  StyleResolver resolver({&sheet_}, diagnostics_.Sink());
  resolver.StyleDocument(&document_);
  EXPECT_EQ(Of(L"b").color, kRed);
  document_.FindById(L"b")->state = kStateHover;
  resolver.StyleDocument(&document_);
  EXPECT_EQ(Of(L"b").color, kGreen);
  document_.FindById(L"b")->state = kStateHover | kStateFocus;
  resolver.StyleDocument(&document_);
  EXPECT_EQ(Of(L"b").color, kBlue);
}

TEST_F(StyleTest, BoxShorthandsExpandToTheirSides) {
  Style(L"#a { margin: 1px 2px 3px 4px; padding: 5px 6px } #b { margin: 7px; padding: 1px 2px 3px }"
        L"#c { border: 2px solid red; border-left: 4px dashed #00f } #d { border-width: 1px 2px; border-style: solid; border-color: green }",
        L"<div id=a></div><div id=b></div><div id=c></div><div id=d></div>");
  const ComputedStyle& a = Of(L"a");
  EXPECT_EQ(a.margin[0].value, 1);
  EXPECT_EQ(a.margin[1].value, 2);
  EXPECT_EQ(a.margin[2].value, 3);
  EXPECT_EQ(a.margin[3].value, 4);
  EXPECT_EQ(a.padding[0].value, 5);
  EXPECT_EQ(a.padding[1].value, 6);
  EXPECT_EQ(a.padding[2].value, 5);
  EXPECT_EQ(a.padding[3].value, 6);
  const ComputedStyle& b = Of(L"b");
  for (int side = 0; side < 4; ++side) EXPECT_EQ(b.margin[side].value, 7);
  EXPECT_EQ(b.padding[3].value, 2);
  EXPECT_EQ(b.padding[2].value, 3);
  const ComputedStyle& c = Of(L"c");
  EXPECT_EQ(c.border_width[0], 2);
  EXPECT_EQ(c.border_color[0], kRed);
  EXPECT_EQ(c.border_width[3], 4);
  EXPECT_EQ(c.border_color[3], kBlue);
  const ComputedStyle& d = Of(L"d");
  EXPECT_EQ(d.border_width[0], 1);
  EXPECT_EQ(d.border_width[1], 2);
  EXPECT_EQ(d.border_color[2], kGreen);
}

TEST_F(StyleTest, BorderWithoutStyleDrawsNothing) {
  Style(L"#a { border-width: 3px; border-color: red }", L"<div id=a></div>");
  for (int side = 0; side < 4; ++side) EXPECT_EQ(Of(L"a").border_width[side], 0);
}

TEST_F(StyleTest, ColoursInEveryNotation) {
  Color color;
  ASSERT_TRUE(ParseColor(L"#abc", &color));
  EXPECT_EQ(color, (Color{0xAA, 0xBB, 0xCC, 255}));
  ASSERT_TRUE(ParseColor(L"#A1B2C3", &color));
  EXPECT_EQ(color, (Color{0xA1, 0xB2, 0xC3, 255}));
  ASSERT_TRUE(ParseColor(L"#10203080", &color));
  EXPECT_EQ(color, (Color{0x10, 0x20, 0x30, 0x80}));
  ASSERT_TRUE(ParseColor(L"rgb(1, 2, 3)", &color));
  EXPECT_EQ(color, (Color{1, 2, 3, 255}));
  ASSERT_TRUE(ParseColor(L"rgba(10,20,30,0.5)", &color));
  EXPECT_EQ(color, (Color{10, 20, 30, 128}));
  ASSERT_TRUE(ParseColor(L"RGB(100%, 0%, 50%)", &color));
  EXPECT_EQ(color, (Color{255, 0, 128, 255}));
  ASSERT_TRUE(ParseColor(L"Navy", &color));
  EXPECT_EQ(color, (Color{0, 0, 128, 255}));
  ASSERT_TRUE(ParseColor(L"transparent", &color));
  EXPECT_EQ(color.a, 0);
  EXPECT_FALSE(ParseColor(L"#12", &color));
  EXPECT_FALSE(ParseColor(L"#ggg", &color));
  EXPECT_FALSE(ParseColor(L"rgb(1,2)", &color));
  EXPECT_FALSE(ParseColor(L"notacolour", &color));
}

TEST_F(StyleTest, FontSizesInPxPtEmAndPercentInherit) {
  Style(L"body { font-size: 12pt; color: #123456 } #a { font-size: 2em } #b { font-size: 50% } #c { font-size: 10px; width: 3em }",
        L"<body><div id=a><span id=b>x</span></div><div id=c>y</div></body>");
  EXPECT_FLOAT_EQ(Of(L"a").font_size, 32.0f);
  EXPECT_FLOAT_EQ(Of(L"b").font_size, 16.0f);
  EXPECT_EQ(Of(L"b").color, (Color{0x12, 0x34, 0x56, 255})) << "colour inherits";
  EXPECT_FLOAT_EQ(Of(L"c").width.value, 30.0f);
  EXPECT_EQ(Of(L"c").width.unit, Unit::kPx);
}

TEST_F(StyleTest, NonInheritedPropertiesStartFresh) {
  Style(L"#p { background: #ff0000; border: 1px solid black; width: 50% }", L"<div id=p><div id=c>x</div></div>");
  EXPECT_EQ(Of(L"c").background.a, 0);
  EXPECT_EQ(Of(L"c").border_width[0], 0);
  EXPECT_TRUE(Of(L"c").width.IsAuto());
  EXPECT_EQ(Of(L"p").width.unit, Unit::kPercent);
}

TEST_F(StyleTest, FlexRowPropertiesAndDisplay) {
  Style(L".row { display: flex; justify-content: space-between; gap: 8px; align-items: center } .hidden { display: none }",
        L"<div id=r class=row></div><span id=h class=hidden></span><span id=s></span><head id=hd></head>");
  EXPECT_EQ(Of(L"r").display, Display::kFlex);
  EXPECT_EQ(Of(L"r").justify, Justify::kSpaceBetween);
  EXPECT_EQ(Of(L"r").align_items, AlignItems::kCenter);
  EXPECT_FLOAT_EQ(Of(L"r").gap, 8.0f);
  EXPECT_EQ(Of(L"h").display, Display::kNone);
  EXPECT_EQ(Of(L"s").display, Display::kInline);
}

TEST_F(StyleTest, UnknownPropertiesAndBadValuesAreReportedAndIgnored) {
  Style(L"#a { color: green; colr: red; color: nonsense; width: -5px; margin: 1px 2px 3px 4px 5px; zoom: 2 }",
        L"<div id=a>x</div>");
  EXPECT_EQ(Of(L"a").color, kGreen);
  EXPECT_TRUE(Of(L"a").width.IsAuto());
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"unknown property colr")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"bad value 'nonsense' for color")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"bad value '-5px' for width")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"unknown property zoom")) << diagnostics_.Dump();
  EXPECT_EQ(diagnostics_.Count(OT_CSS, OS_WARNING), 5u) << diagnostics_.Dump();
}

TEST_F(StyleTest, BrokenRulesAreDroppedAndTheRestStillApplies) {
  Style(L"p + p { color: red }\n div::before { color: red }\n #a { color: blue\n"
        L"}\n} .b { color: green } @import url(x.css); @media print { .b { color: red } } .c { color: red",
        L"<div id=a>x</div><div id=b class=b>y</div><div id=c class=c>z</div>");
  EXPECT_EQ(Of(L"a").color, kBlue);
  EXPECT_EQ(Of(L"b").color, kGreen) << "rules after a stray brace still apply";
  EXPECT_EQ(Of(L"c").color, kRed) << "an unclosed last block still counts";
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"sibling combinators are not supported")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"pseudo-elements")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"test.css(1)")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"stray '}'")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"@import")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"block is not closed")) << diagnostics_.Dump();
}

TEST_F(StyleTest, PositionAndOffsets) {
  Style(L"#a { position: absolute; right: 10px; bottom: 2em } #b { position: sticky; top: x }", L"<span id=a>x</span><div id=b>y</div>");
  EXPECT_EQ(Of(L"a").position, Position::kAbsolute);
  EXPECT_EQ(Of(L"a").display, Display::kBlock) << "positioned elements are blocks";
  EXPECT_FLOAT_EQ(Of(L"a").offsets[1].value, 10.0f);
  EXPECT_FLOAT_EQ(Of(L"a").offsets[2].value, 32.0f);
  EXPECT_TRUE(Of(L"a").offsets[0].IsAuto());
  EXPECT_EQ(Of(L"b").position, Position::kStatic);
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"bad value 'sticky' for position")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"bad value 'x' for top")) << diagnostics_.Dump();
}

TEST_F(StyleTest, CustomPropertiesInheritAndSubstitute) {
  Style(L":root { --accent: #0000ff; --pad: 4px; --both: var(--pad) 9px } .a { color: var(--accent); padding: var(--pad) var(--missing, 6px) }"
        L".b { --accent: green } .c { color: var(--nope) } .d { margin: var(--both); font-size: var(--size, 20px) }",
        L"<div class=a id=a1></div><div class=b><p class=a id=a2></p></div><p id=c class=c></p><p id=d class=d></p>");
  EXPECT_EQ(Of(L"a1").color, kBlue);
  EXPECT_FLOAT_EQ(Of(L"a1").padding[0].value, 4.0f);
  EXPECT_FLOAT_EQ(Of(L"a1").padding[1].value, 6.0f);
  EXPECT_EQ(Of(L"a2").color, kGreen) << "a nearer definition wins";
  EXPECT_EQ(Of(L"c").color, (Color{0, 0, 0, 255}));
  EXPECT_TRUE(diagnostics_.Contains(OT_CSS, L"unknown custom property")) << diagnostics_.Dump();
  EXPECT_FLOAT_EQ(Of(L"d").margin[0].value, 4.0f);
  EXPECT_FLOAT_EQ(Of(L"d").margin[1].value, 9.0f);
  EXPECT_FLOAT_EQ(Of(L"d").font_size, 20.0f);
}

TEST_F(StyleTest, BackgroundShorthandAndLonghandsForPictures) {
  ParseHtml(L"<div id=a></div><div id=b></div><div id=c></div>", L"page.html", &document_, diagnostics_.Sink());
  sheet_ = ParseStyleSheet(L"#a { background: url(img/logo.png) no-repeat right 10px #ff0000 }"
                           L"#b { background-image: url('../x.png'); background-position: 25% bottom; background-size: 50% auto }"
                           L"#c { background: url(a.png) repeat-x; background-image: none; background-size: contain }",
                           L"skin.css", diagnostics_.Sink());
  sheet_.base_path = L"C:\\app\\skin\\skin.css";
  StyleResolver resolver({&sheet_}, diagnostics_.Sink());
  resolver.StyleDocument(&document_);
  const ComputedStyle& a = Of(L"a");
  EXPECT_EQ(a.background_image, L"C:\\app\\skin\\img\\logo.png");
  EXPECT_FALSE(a.background_repeat_x);
  EXPECT_FALSE(a.background_repeat_y);
  EXPECT_EQ(a.background_position[0].unit, Unit::kPercent);
  EXPECT_FLOAT_EQ(a.background_position[0].value, 100);
  EXPECT_FLOAT_EQ(a.background_position[1].value, 10);
  EXPECT_EQ(a.background, kRed);
  const ComputedStyle& b = Of(L"b");
  EXPECT_EQ(b.background_image, L"C:\\app\\x.png");
  EXPECT_FLOAT_EQ(b.background_position[0].value, 25);
  EXPECT_FLOAT_EQ(b.background_position[1].value, 100);
  EXPECT_FLOAT_EQ(b.background_size[0].value, 50);
  EXPECT_TRUE(b.background_size[1].IsAuto());
  const ComputedStyle& c = Of(L"c");
  EXPECT_EQ(c.background_image, L"");
  EXPECT_TRUE(c.background_repeat_x);
  EXPECT_FALSE(c.background_repeat_y);
  EXPECT_EQ(c.background_size_keyword, L"contain");
  EXPECT_EQ(diagnostics_.Count(OT_CSS, OS_WARNING), 0u) << diagnostics_.Dump();
}

TEST_F(StyleTest, RootAndDisabledPseudoClasses) {
  Style(L":root { color: green } button:disabled { color: red } button:enabled { color: blue }",
        L"<html id=h><body id=b><button id=off disabled>x</button><button id=on>y</button></body></html>");
  EXPECT_EQ(Of(L"h").color, kGreen);
  EXPECT_EQ(Of(L"b").color, kGreen) << "inherited, not matched";
  EXPECT_EQ(Of(L"off").color, kRed);
  EXPECT_EQ(Of(L"on").color, kBlue);
}

TEST_F(StyleTest, CursorInheritsAndTakesItsFallback) {
  Style(L".buttons { cursor: url(hand.cur), pointer }", L"<div class=buttons><button id=b>x</button></div><p id=p>y</p>");
  EXPECT_EQ(Of(L"b").cursor, L"pointer");
  EXPECT_EQ(Of(L"p").cursor, L"auto");
}

TEST_F(StyleTest, InlineStyleTextIsEditedPropertyByProperty) {
  std::wstring style = SetInlineStyleProperty(L"color: red; width: 10px", L"width", L"40%");
  EXPECT_EQ(GetInlineStyleProperty(style, L"width"), L"40%");
  EXPECT_EQ(GetInlineStyleProperty(style, L"color"), L"red");
  style = SetInlineStyleProperty(style, L"color", L"");
  EXPECT_EQ(GetInlineStyleProperty(style, L"color"), L"");
  EXPECT_EQ(CssNameFromCamelCase(L"backgroundColor"), L"background-color");
}

}  // namespace
}  // namespace sciter_engine
