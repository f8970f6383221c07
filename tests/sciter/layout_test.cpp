// Layout: box geometry of known pages at 96 and 144 DPI, percentages, wrapped text, the flex
// row of buttons, inline-blocks, margins, and the document size.
#include <gtest/gtest.h>

#include <cmath>

#include "outside/sciter/page.h"
#include "sciter/sciter_test_support.h"

namespace sciter_engine {
namespace {

class LayoutTest : public ::testing::TestWithParam<float> {
 protected:
  const LayoutResult& Lay(const std::wstring& html, float viewport_width = 0) {
    page_ = std::make_unique<Page>(diagnostics_.Sink(), CLEARTYPE_QUALITY);
    page_->Load(html, L"C:\\test\\page.html", nullptr);
    LayoutOptions options;
    options.scale = scale();
    options.viewport_width = viewport_width;
    return page_->Layout(options);
  }
  const NodeGeometry& Box(const wchar_t* id) {
    Node* node = page_->document().FindById(id);
    EXPECT_NE(node, nullptr) << id;
    static const NodeGeometry kNone;
    return node ? node->geometry : kNone;
  }
  float scale() const { return GetParam(); }
  float Px(float css) const { return css * scale(); }

  std::unique_ptr<Page> page_;
  sciter_testing::DiagnosticRecorder diagnostics_;
};

constexpr wchar_t kBase[] = L"<style>html, body { margin: 0; padding: 0 } body { font-family: Tahoma; font-size: 12px }</style>";

TEST_P(LayoutTest, FixedBodySizeIsTheDocumentSize) {
  const LayoutResult& result = Lay(std::wstring(kBase) + L"<body style='width: 400px; height: 200px; border: 1px solid black'>x</body>");
  EXPECT_EQ(result.content_width, static_cast<int>(std::ceil(Px(400) + 2 * std::max(1.0f, std::floor(Px(1) + 0.5f)))));
  EXPECT_EQ(result.content_height, static_cast<int>(std::ceil(Px(200) + 2 * std::max(1.0f, std::floor(Px(1) + 0.5f)))));
}

TEST_P(LayoutTest, BorderBoxSizingKeepsTheGivenSize) {
  const LayoutResult& result = Lay(std::wstring(kBase) +
      L"<body style='width: 400px; height: 180px; box-sizing: border-box; border: 1px solid black; padding: 10px'>x</body>");
  EXPECT_EQ(result.content_width, static_cast<int>(std::ceil(Px(400))));
  EXPECT_EQ(result.content_height, static_cast<int>(std::ceil(Px(180))));
}

TEST_P(LayoutTest, BlockBoxModelNumbers) {
  Lay(std::wstring(kBase) +
      L"<body><div id=outer style='width: 300px; padding: 5px; border: 2px solid red; margin: 10px'>"
      L"<div id=inner style='height: 20px; margin: 4px 6px'></div></div></body>");
  const NodeGeometry& outer = Box(L"outer");
  EXPECT_FLOAT_EQ(outer.x, Px(10));
  EXPECT_FLOAT_EQ(outer.y, Px(10));
  EXPECT_FLOAT_EQ(outer.width, Px(300 + 10) + 2 * std::floor(Px(2) + 0.5f));
  const NodeGeometry& inner = Box(L"inner");
  const float border = std::floor(Px(2) + 0.5f);
  EXPECT_FLOAT_EQ(inner.x, Px(10 + 5 + 6) + border);
  EXPECT_FLOAT_EQ(inner.y, Px(10 + 5 + 4) + border);
  EXPECT_FLOAT_EQ(inner.width, Px(300 - 12));
  EXPECT_FLOAT_EQ(inner.height, Px(20));
  EXPECT_FLOAT_EQ(outer.height, Px(20 + 8 + 10) + 2 * border);
}

TEST_P(LayoutTest, ProgressBarFillIsAPercentageOfItsBar) {
  Lay(std::wstring(kBase) +
      L"<body><div id=bar style='width: 250px; height: 10px; border: 1px solid gray'>"
      L"<div id=fill style='width: 40%; height: 100%; background: blue'></div></div></body>");
  const NodeGeometry& bar = Box(L"bar");
  const NodeGeometry& fill = Box(L"fill");
  EXPECT_FLOAT_EQ(fill.width, Px(250) * 0.4f);
  EXPECT_FLOAT_EQ(fill.height, Px(10));
  EXPECT_FLOAT_EQ(fill.x, bar.x + std::max(1.0f, std::floor(Px(1) + 0.5f)));
}

TEST_P(LayoutTest, LongTextWrapsIntoSeveralLinesOfTheSameHeight) {
  const std::wstring text = L"The quick brown fox jumps over the lazy dog and keeps running through the field";
  Lay(std::wstring(kBase) + L"<body><div id=narrow style='width: 120px'>" + text +
      L"</div><div id=wide style='width: 2000px'>" + text + L"</div><div id=nowrap style='width: 120px; white-space: nowrap'>" +
      text + L"</div></body>");
  const float one_line = Box(L"wide").height;
  ASSERT_GT(one_line, 0);
  const float lines = Box(L"narrow").height / one_line;
  EXPECT_GE(lines, 4.0f);
  EXPECT_FLOAT_EQ(lines, std::round(lines)) << "every line has the height of one line";
  EXPECT_FLOAT_EQ(Box(L"nowrap").height, one_line);
}

TEST_P(LayoutTest, FlexRowPutsButtonsAtTheRight) {
  Lay(std::wstring(kBase) +
      L"<body><div id=row style='display: flex; justify-content: flex-end; gap: 8px; width: 400px'>"
      L"<button id=yes style='width: 80px'>Yes</button><button id=no style='width: 80px'>No</button></div></body>");
  const NodeGeometry& row = Box(L"row");
  const NodeGeometry& yes = Box(L"yes");
  const NodeGeometry& no = Box(L"no");
  EXPECT_FLOAT_EQ(no.x + no.width, row.x + row.width);
  EXPECT_FLOAT_EQ(yes.x + yes.width + Px(8), no.x);
  EXPECT_FLOAT_EQ(yes.y, no.y);
  EXPECT_GT(yes.width, Px(80)) << "content-box width plus padding and border";
}

TEST_P(LayoutTest, FlexRowCentresAndSpacesItems) {
  Lay(std::wstring(kBase) +
      L"<body><div id=c style='display: flex; justify-content: center; width: 300px'>"
      L"<div id=a style='width: 100px; height: 10px'></div></div>"
      L"<div id=s style='display: flex; justify-content: space-between; width: 300px'>"
      L"<div id=l style='width: 50px; height: 10px'></div><div id=m style='width: 50px; height: 30px'></div>"
      L"<div id=r style='width: 50px; height: 10px'></div></div></body>");
  EXPECT_FLOAT_EQ(Box(L"a").x, Px(100));
  EXPECT_FLOAT_EQ(Box(L"l").x, 0);
  EXPECT_FLOAT_EQ(Box(L"m").x, Px(125));
  EXPECT_FLOAT_EQ(Box(L"r").x, Px(250));
  EXPECT_FLOAT_EQ(Box(L"s").height, Px(30));
  EXPECT_FLOAT_EQ(Box(L"l").height, Px(10)) << "explicit heights are not stretched";
}

TEST_P(LayoutTest, InlineBlockShrinksToItsContentAndSitsInTheLine) {
  Lay(std::wstring(kBase) +
      L"<body><div id=line style='width: 500px'>before <span id=ib style='display: inline-block; padding: 0 10px'>label</span> after</div>"
      L"<div id=ref style='width: 500px'><span id=word style='display: inline-block'>label</span></div></body>");
  const NodeGeometry& ib = Box(L"ib");
  const float word_width = Box(L"word").width;
  EXPECT_NEAR(ib.width, word_width + Px(20), 1.0f);
  EXPECT_GT(ib.x, 0);
  EXPECT_LT(ib.x + ib.width, Px(500));
}

TEST_P(LayoutTest, AutoMarginsCentreAndVerticalMarginsCollapse) {
  Lay(std::wstring(kBase) +
      L"<body style='width: 400px'><div id=centered style='width: 100px; height: 10px; margin: 0 auto'></div>"
      L"<div id=first style='height: 10px; margin-bottom: 10px'></div><div id=second style='height: 10px; margin-top: 20px'></div></body>");
  EXPECT_FLOAT_EQ(Box(L"centered").x, Px(150));
  EXPECT_FLOAT_EQ(Box(L"second").y - (Box(L"first").y + Box(L"first").height), Px(20));
}

TEST_P(LayoutTest, HiddenElementsTakeNoRoom) {
  Lay(std::wstring(kBase) + L"<body><div id=a style='height: 10px'></div><div id=gone style='display: none; height: 50px'></div>"
                            L"<div id=b style='height: 10px'></div></body>");
  EXPECT_FALSE(Box(L"gone").laid_out);
  EXPECT_FLOAT_EQ(Box(L"b").y, Px(10));
}

TEST_P(LayoutTest, PageWithoutAWidthShrinksToItsWidestLine) {
  const LayoutResult& shrunk = Lay(std::wstring(kBase) + L"<body><p id=p style='margin: 0'>Short line</p></body>");
  const float text_width = Box(L"p").width;
  EXPECT_EQ(shrunk.content_width, static_cast<int>(std::ceil(text_width - 0.01f)));
  const LayoutResult& wide = Lay(std::wstring(kBase) + L"<body><p style='margin: 0'>Short line</p></body>", 700);
  EXPECT_EQ(wide.content_width, 700);
}

TEST_P(LayoutTest, AbsoluteBoxesSitAtTheirOffsetsInsideThePositionedAncestor) {
  Lay(std::wstring(kBase) +
      L"<body><div id=frame style='position: relative; width: 400px; height: 200px; border: 1px solid black'>"
      L"<div id=flow style='height: 20px'></div>"
      L"<div id=buttons style='position: absolute; right: 10px; bottom: 10px; width: 100px; height: 30px'></div>"
      L"<div id=stretch style='position: absolute; left: 5px; right: 5px; top: 50px; height: 10px'></div>"
      L"<div id=after style='height: 20px'></div></div>"
      L"<div id=rel style='position: relative; left: 10px; top: 5px; height: 10px'></div></body>");
  const float border = std::max(1.0f, std::floor(Px(1) + 0.5f));
  EXPECT_FLOAT_EQ(Box(L"buttons").x, border + Px(400 - 10 - 100));
  EXPECT_FLOAT_EQ(Box(L"buttons").y, border + Px(200 - 10 - 30));
  EXPECT_FLOAT_EQ(Box(L"stretch").x, border + Px(5));
  EXPECT_FLOAT_EQ(Box(L"stretch").width, Px(390));
  EXPECT_FLOAT_EQ(Box(L"stretch").y, border + Px(50));
  EXPECT_FLOAT_EQ(Box(L"after").y, border + Px(20)) << "positioned boxes take no room in the flow";
  EXPECT_FLOAT_EQ(Box(L"frame").height, Px(200) + 2 * border);
  EXPECT_FLOAT_EQ(Box(L"rel").x, Px(10));
  EXPECT_FLOAT_EQ(Box(L"rel").y, Px(200) + 2 * border + Px(5));
}

// The fragments of `text` anywhere in the box tree.
const TextFragment* FindText(const LayoutBox* box, const std::wstring& text) {
  for (const TextFragment& fragment : box->text) {
    if (fragment.text == text) return &fragment;
  }
  for (const auto& child : box->children) {
    if (const TextFragment* found = FindText(child.get(), text)) return found;
  }
  return nullptr;
}

TEST_P(LayoutTest, ButtonLabelsAreCentredInTallButtons) {
  const LayoutResult& result = Lay(std::wstring(kBase) + L"<body><button id=b style='width: 120px; height: 40px'>Label</button></body>");
  const TextFragment* label = FindText(result.root.get(), L"Label");
  ASSERT_NE(label, nullptr);
  const NodeGeometry& button = Box(L"b");
  EXPECT_NEAR(label->y + label->height / 2, button.y + button.height / 2, 1.0f);
  EXPECT_NEAR(label->x + label->width / 2, button.x + button.width / 2, 1.0f);
}

INSTANTIATE_TEST_SUITE_P(Dpi, LayoutTest, ::testing::Values(1.0f, 1.5f),
                         [](const ::testing::TestParamInfo<float>& info) {
                           return info.param == 1.0f ? std::string("At96Dpi") : std::string("At144Dpi");
                         });

}  // namespace
}  // namespace sciter_engine
