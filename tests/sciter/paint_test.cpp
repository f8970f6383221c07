// Painting into a memory bitmap: backgrounds, borders, the bar filled up to its column, text
// pixels inside their box and nowhere else, alpha where nothing is drawn, rounded corners and
// the focus ring.
#include <gtest/gtest.h>

#include <cmath>

#include "outside/sciter/page.h"
#include "sciter/sciter_test_support.h"

namespace sciter_engine {
namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

class PaintTest : public ::testing::Test {
 protected:
  // Lays out and paints `html` into a transparent bitmap of the given size.
  void Render(const std::wstring& html, int width, int height, float scale = 1.0f) {
    page_ = std::make_unique<Page>(diagnostics_.Sink(), ANTIALIASED_QUALITY);
    page_->Load(html, sciter_testing::PagePath(L"inline.html"),
                [](const std::wstring& path, UINT, std::string* bytes) { return ReadWholeFile(path, bytes); });
    LayoutOptions layout;
    layout.scale = scale;
    layout.viewport_width = static_cast<float>(width);
    page_->Layout(layout);
    ASSERT_TRUE(buffer_.Resize(width, height));
    buffer_.Fill(0);
    PaintOptions paint;
    paint.scale = scale;
    paint.subpixel_text = false;
    page_->Paint(&buffer_, paint);
  }
  const NodeGeometry& Box(const wchar_t* id) { return page_->document().FindById(id)->geometry; }
  uint32_t At(int x, int y) const { return buffer_.At(x, y); }
  // Pixels in [left, right) x [top, bottom) that differ from `background`.
  int CountDifferent(int left, int top, int right, int bottom, uint32_t background) const {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) count += At(x, y) != background;
    }
    return count;
  }

  std::unique_ptr<Page> page_;
  PixelBuffer buffer_;
  sciter_testing::DiagnosticRecorder diagnostics_;
};

TEST_F(PaintTest, BackgroundAndBorderPixels) {
  Render(L"<style>html, body { margin: 0 } body { width: 100px; height: 50px; background: #336699; border: 2px solid #ff0000 }</style><body></body>",
         120, 70);
  EXPECT_EQ(At(0, 0), 0xFFFF0000u);
  EXPECT_EQ(At(1, 30), 0xFFFF0000u);
  EXPECT_EQ(At(103, 53), 0xFFFF0000u);
  EXPECT_EQ(At(2, 2), 0xFF336699u);
  EXPECT_EQ(At(101, 51), 0xFF336699u);
  EXPECT_EQ(At(104, 10), 0u) << "right of the body nothing is drawn";
  EXPECT_EQ(At(10, 54), 0u) << "below the body nothing is drawn";
}

TEST_F(PaintTest, TranslucentColoursArePremultiplied) {
  Render(L"<style>html, body { margin: 0 } body { width: 10px; height: 10px; background: rgba(255, 0, 0, 0.5) }</style>", 10, 10);
  EXPECT_EQ(At(5, 5), 0x80800000u);
}

TEST_F(PaintTest, ProgressBarIsFilledUpToItsColumn) {
  Render(L"<style>html, body { margin: 0 } #bar { width: 200px; height: 10px; background: white }"
         L"#fill { width: 35%; height: 100%; background: #00ff00 }</style><div id=bar><div id=fill></div></div>",
         220, 20);
  for (int x = 0; x < 70; ++x) EXPECT_EQ(At(x, 5), 0xFF00FF00u) << "column " << x;
  for (int x = 70; x < 200; ++x) EXPECT_EQ(At(x, 5), kOpaqueWhite) << "column " << x;
  EXPECT_EQ(At(205, 5), 0u);
}

TEST_F(PaintTest, ProgressBarFillScalesWithTheDisplay) {
  Render(L"<style>html, body { margin: 0 } #bar { width: 200px; height: 10px; background: white }"
         L"#fill { width: 35%; height: 100%; background: #00ff00 }</style><div id=bar><div id=fill></div></div>",
         320, 20, 1.5f);
  EXPECT_EQ(At(104, 7), 0xFF00FF00u);
  EXPECT_EQ(At(105, 7), kOpaqueWhite);
  EXPECT_EQ(At(299, 7), kOpaqueWhite);
}

TEST_F(PaintTest, TextPixelsStayInsideTheirBoxAndAreOpaqueOverOpaqueBackground) {
  Render(L"<style>html, body { margin: 0 } body { width: 300px; height: 60px; background: white; font-size: 20px; font-family: Tahoma }"
         L"#t { margin: 10px; width: 200px; color: black }</style><body><div id=t>Hello MWM</div></body>",
         300, 60);
  const NodeGeometry& box = Box(L"t");
  const int inside = CountDifferent(static_cast<int>(box.x), static_cast<int>(box.y),
                                    static_cast<int>(box.x + box.width), static_cast<int>(box.y + box.height), kOpaqueWhite);
  EXPECT_GT(inside, 40) << "the glyphs leave dark pixels";
  EXPECT_EQ(CountDifferent(0, 0, 300, static_cast<int>(box.y) - 2, kOpaqueWhite), 0) << "above the text";
  EXPECT_EQ(CountDifferent(0, static_cast<int>(box.y + box.height) + 2, 300, 60, kOpaqueWhite), 0) << "below the text";
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 300; ++x) ASSERT_EQ(At(x, y) >> 24, 0xFFu) << x << "," << y;
  }
}

TEST_F(PaintTest, TextOnATransparentPageGetsAlphaFromItsCoverage) {
  Render(L"<style>html, body { margin: 0 } body { font-size: 24px; color: #0000ff; font-family: Tahoma }</style><body>Wide WWW</body>", 200, 40);
  int opaque = 0, partial = 0, colour_without_alpha = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 200; ++x) {
      const uint32_t pixel = At(x, y);
      const uint32_t alpha = pixel >> 24;
      if (alpha == 255) ++opaque;
      else if (alpha > 0) ++partial;
      if ((pixel & 0xFF) > alpha || ((pixel >> 16) & 0xFF) != 0) ++colour_without_alpha;
    }
  }
  EXPECT_GT(opaque + partial, 50) << "the text is visible on a layered window";
  EXPECT_EQ(colour_without_alpha, 0) << "premultiplied blue: no red, blue never above alpha";
}

TEST_F(PaintTest, RoundedCornersLeaveTheCornerEmpty) {
  Render(L"<style>html, body { margin: 0 } #r { width: 40px; height: 40px; background: #000080; border-radius: 10px }</style><div id=r></div>",
         40, 40);
  EXPECT_EQ(At(0, 0), 0u);
  EXPECT_EQ(At(39, 39), 0u);
  EXPECT_EQ(At(20, 20), 0xFF000080u);
  EXPECT_EQ(At(0, 20), 0xFF000080u);
  EXPECT_EQ(At(20, 0), 0xFF000080u);
  const uint32_t edge = At(2, 3);
  EXPECT_GT(edge >> 24, 0u) << "the curve is smoothed";
  EXPECT_LT(edge >> 24, 255u) << "the curve is smoothed";
  EXPECT_EQ(edge & 0xFFFF00, 0u) << "premultiplied navy: no red or green";
}

TEST_F(PaintTest, FocusedButtonGetsADottedRing) {
  const std::wstring page = L"<style>html, body { margin: 0 } button { width: 80px; height: 24px; background: white; border: none; padding: 0 }</style>"
                            L"<body><button id=b></button></body>";
  Render(page, 100, 30);
  const int unfocused = CountDifferent(0, 0, 80, 24, kOpaqueWhite);
  page_->document().FindById(L"b")->state |= kStateFocus;
  page_->document().Touch();
  LayoutOptions layout;
  layout.viewport_width = 100;
  page_->Layout(layout);
  buffer_.Fill(0);
  page_->Paint(&buffer_, PaintOptions());
  const int focused = CountDifferent(0, 0, 80, 24, kOpaqueWhite);
  EXPECT_EQ(unfocused, 0);
  EXPECT_GT(focused, 50);
  EXPECT_EQ(At(0, 0), kOpaqueWhite) << "the ring is inside the button";
}

TEST_F(PaintTest, PicturesAreScaledIntoTheirBox) {
  Render(L"<style>html, body { margin: 0 } img { display: block }</style>"
         L"<img id=big src=two_colours.png width=80 height=40><img id=natural src=two_colours.png>"
         L"<img id=wide src=two_colours.png style='width: 16px'><img id=broken src=not_a_picture.png>",
         100, 100);
  EXPECT_FLOAT_EQ(Box(L"big").width, 80);
  EXPECT_FLOAT_EQ(Box(L"big").height, 40);
  EXPECT_EQ(At(10, 10), 0xFFFF0000u);
  EXPECT_EQ(At(70, 10), 0xFF0000FFu);
  const uint32_t translucent = At(70, 35);
  EXPECT_EQ(translucent >> 24, 0x80u) << "the picture's alpha is kept";
  EXPECT_EQ((translucent >> 8) & 0xFF, 0x80u) << "premultiplied green";
  EXPECT_FLOAT_EQ(Box(L"natural").width, 8);
  EXPECT_FLOAT_EQ(Box(L"natural").height, 4);
  EXPECT_FLOAT_EQ(Box(L"wide").width, 16);
  EXPECT_FLOAT_EQ(Box(L"wide").height, 8) << "one given side keeps the proportions";
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"not_a_picture.png")) << diagnostics_.Dump();
  EXPECT_FLOAT_EQ(Box(L"broken").height, 0);
}

TEST_F(PaintTest, BackgroundPicturesArePlacedSizedAndTiled) {
  Render(L"<style>html, body { margin: 0 } div { margin: 0 }"
         L"#corner { width: 40px; height: 20px; background: #ffffff url(two_colours.png) no-repeat right bottom }"
         L"#tiles { width: 16px; height: 4px; background-image: url('two_colours.png') }"
         L"#cover { width: 16px; height: 16px; background-image: url(\"two_colours.png\"); background-repeat: no-repeat;"
         L"  background-position: center; background-size: cover }"
         L"#missing { width: 4px; height: 4px; background: url(nothing_here.png) }</style>"
         L"<div id=corner></div><div id=tiles></div><div id=cover></div><div id=missing></div>",
         60, 60);
  EXPECT_EQ(At(5, 5), kOpaqueWhite);
  EXPECT_EQ(At(33, 17), 0xFFFF0000u);
  EXPECT_EQ(At(38, 17), 0xFF0000FFu);
  EXPECT_EQ(At(1, 21), 0xFFFF0000u) << "first tile";
  EXPECT_EQ(At(6, 21), 0xFF0000FFu);
  EXPECT_EQ(At(9, 21), 0xFFFF0000u) << "second tile";
  EXPECT_EQ(At(4, 26), 0xFFFF0000u) << "cover: scaled 4 times and centred";
  EXPECT_EQ(At(12, 26), 0xFF0000FFu);
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"nothing_here.png")) << diagnostics_.Dump();
}

TEST_F(PaintTest, PopupLikePageRendersCleanly) {
  std::string html;
  ASSERT_TRUE(ReadWholeFile(sciter_testing::PagePath(L"popup_like.html"), &html));
  page_ = std::make_unique<Page>(diagnostics_.Sink(), ANTIALIASED_QUALITY);
  page_->Load(std::wstring(html.begin(), html.end()), sciter_testing::PagePath(L"popup_like.html"),
              [](const std::wstring& path, UINT, std::string* bytes) { return ReadWholeFile(path, bytes); });
  const LayoutResult& layout = page_->Layout(LayoutOptions());
  ASSERT_EQ(layout.content_width, 400);
  ASSERT_EQ(layout.content_height, 180);
  ASSERT_TRUE(buffer_.Resize(400, 180));
  buffer_.Fill(0);
  page_->Paint(&buffer_, PaintOptions());
  EXPECT_EQ(At(0, 0), 0xFF336699u) << "border";
  const NodeGeometry& body = page_->document().Body()->geometry;
  EXPECT_EQ(At(399, 179), 0xFF336699u) << "border; body " << body.x << "," << body.y << " " << body.width << "x" << body.height;
  EXPECT_EQ(At(5, 170), 0xFFF0F0F0u) << "background";
  const NodeGeometry& fill = Box(L"fill");
  const NodeGeometry& bar = Box(L"bar");
  ASSERT_TRUE(fill.laid_out);
  const int y = static_cast<int>(fill.y + fill.height / 2);
  EXPECT_EQ(At(static_cast<int>(fill.x) + 1, y), 0xFF3C7FB1u);
  EXPECT_EQ(At(static_cast<int>(fill.x + fill.width) - 1, y), 0xFF3C7FB1u);
  EXPECT_EQ(At(static_cast<int>(fill.x + fill.width) + 1, y), kOpaqueWhite);
  EXPECT_NEAR(fill.width, (bar.width - 2) * 0.4f, 0.01f);
  const NodeGeometry& title = Box(L"title");
  EXPECT_GT(CountDifferent(static_cast<int>(title.x), static_cast<int>(title.y), static_cast<int>(title.x + title.width),
                           static_cast<int>(title.y + title.height), 0xFFF0F0F0u), 20);
  const NodeGeometry& logo = Box(L"logo");
  EXPECT_FLOAT_EQ(logo.x, 400 - 8 - 16);
  EXPECT_FLOAT_EQ(logo.y, 8);
  EXPECT_EQ(At(static_cast<int>(logo.x) + 2, static_cast<int>(logo.y) + 2), 0xFFFF0000u) << "the logo's red half";
  EXPECT_EQ(diagnostics_.Count(OT_CSS, OS_WARNING) + diagnostics_.Count(OT_DOM, OS_WARNING), 0u) << diagnostics_.Dump();
}

}  // namespace
}  // namespace sciter_engine
