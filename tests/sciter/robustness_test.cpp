// Broken pages, style sheets and scripts from a fixed seed: truncations, byte flips and
// spliced-in markup. Every case must parse, style, lay out and paint (scripts run under a
// short budget) and end with diagnostics at most, never a crash or a hang.
#include <gtest/gtest.h>

#include <random>

#include "outside/sciter/css.h"
#include "outside/sciter/markup.h"
#include "outside/sciter/page.h"
#include "outside/sciter/script.h"
#include "outside/sciter/text_codec.h"
#include "sciter/sciter_test_support.h"

namespace sciter_engine {
namespace {

constexpr unsigned kSeed = 20261209;

std::string ReadPage(const wchar_t* name) {
  std::string bytes;
  EXPECT_TRUE(ReadWholeFile(sciter_testing::PagePath(name), &bytes)) << "missing test page";
  return bytes;
}

// One broken variant of `text`.
std::string Mutate(const std::string& text, std::mt19937* random) {
  static const char* const kPieces[] = {"<", ">", "</", "/>", "<!--", "-->", "\"", "'", "=", "&", "&#", "&#x",
                                        "&amp", "{", "}", ";", ":", "/*", "*/", "(", ")", "<div>", "</div>",
                                        "<script>", "</style>", "!important", "\\", "\xC3", "\xFF", "\x00",
                                        "#", ".", ">", "@media", "url(", "rgba(", "\n", "%", "-", "9999999999",
                                        "var(", "var(--accent", "--", "var(--x, var(--y, "};
  std::string out = text;
  std::uniform_int_distribution<int> kind(0, 3);
  const int edits = 1 + static_cast<int>((*random)() % 4);
  for (int e = 0; e < edits && !out.empty(); ++e) {
    const size_t at = (*random)() % out.size();
    switch (kind(*random)) {
      case 0: out.resize(at); break;                                                         // truncated
      case 1: out[at] = static_cast<char>((*random)() & 0xFF); break;                         // byte flipped
      case 2: out.insert(at, kPieces[(*random)() % (sizeof(kPieces) / sizeof(kPieces[0]))]); break;  // spliced
      default: out.erase(at, std::min<size_t>(out.size() - at, (*random)() % 16)); break;     // cut out
    }
  }
  return out;
}

class CountingSink {
 public:
  DiagnosticSink Sink() {
    return [this](UINT, UINT severity, const std::wstring& text) {
      ++count_;
      if (severity > OS_ERROR || text.empty()) ++malformed_;
    };
  }
  size_t count() const { return count_; }
  size_t malformed() const { return malformed_; }

 private:
  size_t count_ = 0;
  size_t malformed_ = 0;
};

TEST(SciterRobustnessTest, BrokenPagesParseStyleLayOutAndPaint) {
  const std::string page = ReadPage(L"popup_like.html");
  const std::string css = ReadPage(L"popup_like.css");
  std::mt19937 random(kSeed);
  CountingSink sink;
  PixelBuffer buffer;
  ASSERT_TRUE(buffer.Resize(240, 120));
  int cases = 0;
  for (int i = 0; i < 3000; ++i, ++cases) {
    // The page with its style sheet inlined, so that both break together.
    std::string html = page;
    const size_t link = html.find("<link");
    html.replace(link, html.find('>', link) - link + 1, "<style>" + css + "</style>");
    const std::string broken = Mutate(html, &random);
    Page variant(sink.Sink(), ANTIALIASED_QUALITY);
    variant.Load(DecodeResourceText(broken), L"C:\\broken\\page.html", nullptr);
    ASSERT_NE(variant.document().root(), nullptr) << "case " << i;
    ASSERT_NE(variant.document().Body(), nullptr) << "case " << i;
    LayoutOptions options;
    options.scale = (i % 2) ? 1.5f : 1.0f;
    options.viewport_width = (i % 3) ? 0.0f : 240.0f;
    const LayoutResult& layout = variant.Layout(options);
    ASSERT_GE(layout.content_width, 0) << "case " << i;
    ASSERT_GE(layout.content_height, 0) << "case " << i;
    buffer.Fill(0);
    variant.Paint(&buffer, PaintOptions());
  }
  EXPECT_EQ(cases, 3000);
  EXPECT_GT(sink.count(), 500u) << "broken input is reported";
  EXPECT_EQ(sink.malformed(), 0u);
}

TEST(SciterRobustnessTest, BrokenStyleSheetsGiveDiagnosticsOnly) {
  const std::string css = ReadPage(L"popup_like.css");
  std::mt19937 random(kSeed + 1);
  CountingSink sink;
  Document document;
  ParseHtml(L"<body><h1 id=title>t</h1><p id=message>m</p><div id=bar><div id=fill></div></div>"
            L"<div class=buttons><button>b</button></div></body>",
            L"page.html", &document, DiagnosticSink());
  for (int i = 0; i < 3000; ++i) {
    const StyleSheet sheet = ParseStyleSheet(DecodeResourceText(Mutate(css, &random)), L"broken.css", sink.Sink());
    StyleResolver resolver({&sheet}, sink.Sink());
    resolver.StyleDocument(&document);
    for (Node* element : document.Elements(document.root())) ASSERT_NE(element->style, nullptr) << "case " << i;
    std::vector<Selector> selectors;
    std::wstring error;
    ParseSelectorList(DecodeResourceText(Mutate("div.buttons > button:hover, #bar #fill", &random)), &selectors, &error);
  }
  EXPECT_GT(sink.count(), 500u);
  EXPECT_EQ(sink.malformed(), 0u);
}

TEST(SciterRobustnessTest, BrokenScriptsAreReportedAndStopped) {
  const std::string script = ReadPage(L"popup_like.js");
  std::mt19937 random(kSeed + 2);
  CountingSink sink;
  struct QuietHost : ScriptHost {
    bool CallHostFunction(const std::string&, const std::vector<Value>&, Value*) override { return false; }
    void CloseView() override {}
    void StartTimer(int, unsigned, bool) override {}
    void StopTimer(int) override {}
    void DocumentChanged() override {}
    void SetFocus(Node*) override {}
    Node* FocusedElement() override { return nullptr; }
    float PixelRatio() override { return 1.0f; }
    void UpdateLayoutNow() override {}
  } host;
  Document document;
  ParseHtml(L"<body><h1 id=title>t</h1><p id=message>m</p><div id=fill></div><div id=buttons></div></body>",
            L"page.html", &document, DiagnosticSink());
  ScriptEngine engine(&document, &host, sink.Sink(), ALLOW_EVAL);
  engine.set_time_limit(100);
  for (int i = 0; i < 300; ++i) {
    engine.Run(DecodeResourceText(Mutate(script, &random)), L"broken.js");
    Value list = Value::Array();
    Value button = Value::Map();
    button.Set(Value::String(L"displayText"), Value::String(L"OK"));
    button.Set(Value::String(L"buttonID"), Value::String(L"_LSOKLS_"));
    list.items.push_back(button);
    Value result;
    engine.CallGlobal("GenericPopup.setButtons", {list}, &result);
    engine.DispatchEvent(document.Body(), L"keydown", EventDetails());
  }
  EXPECT_TRUE(engine.Run(L"var alive = 1;", L"alive.js"));
  EXPECT_GT(sink.count(), 100u);
  EXPECT_EQ(sink.malformed(), 0u);
}

TEST(SciterRobustnessTest, TreesNestedDeeperThanTheParserAllowsStillLayOutAndPaint) {
  struct QuietHost : ScriptHost {
    bool CallHostFunction(const std::string&, const std::vector<Value>&, Value*) override { return false; }
    void CloseView() override {}
    void StartTimer(int, unsigned, bool) override {}
    void StopTimer(int) override {}
    void DocumentChanged() override {}
    void SetFocus(Node*) override {}
    Node* FocusedElement() override { return nullptr; }
    float PixelRatio() override { return 1.0f; }
    void UpdateLayoutNow() override {}
  } host;
  CountingSink sink;
  Page page(sink.Sink(), ANTIALIASED_QUALITY);
  page.Load(L"<body><div id=root></div></body>", L"C:\\deep\\page.html", nullptr);
  ScriptEngine engine(&page.document(), &host, sink.Sink(), 0);
  ASSERT_TRUE(engine.Run(L"var at = document.getElementById('root');"
                         L"for (var i = 0; i < 20000; i++) {"
                         L"  var e = document.createElement(i % 2 ? 'span' : 'div');"
                         L"  e.textContent = 'level ' + i; at.appendChild(e); at = e; }",
                         L"deep.js"));
  const LayoutResult& layout = page.Layout(LayoutOptions());
  EXPECT_GT(layout.content_height, 0);
  PixelBuffer buffer;
  ASSERT_TRUE(buffer.Resize(300, 300));
  page.Paint(&buffer, PaintOptions());
  EXPECT_NE(page.document().FindById(L"root")->TextContent().find(L"level 19999"), std::wstring::npos);
  EXPECT_EQ(sink.malformed(), 0u);
}

TEST(SciterRobustnessTest, DescendantSelectorsThatNeverMatchStayCheapOnDeepTrees) {
  // Each element is tried once per selector part: before, every extra descendant part
  // multiplied the work (60 levels took seconds; 150 would never end).
  std::wstring html = L"<html><head><style>.nope div div div div div div div div span { color: red }</style></head><body>";
  for (int i = 0; i < 150; ++i) html += L"<div>";
  html += L"<span id=leaf>x</span>";
  for (int i = 0; i < 150; ++i) html += L"</div>";
  html += L"</body></html>";
  CountingSink sink;
  Page page(sink.Sink(), ANTIALIASED_QUALITY);
  page.Load(html, L"C:\\deep\\page.html", nullptr);
  page.Layout(LayoutOptions());
  const Node* leaf = page.document().FindById(L"leaf");
  ASSERT_NE(nullptr, leaf);
  std::vector<Selector> selectors;
  std::wstring error;
  ASSERT_TRUE(ParseSelectorList(L".nope div div div div div div div div div span", &selectors, &error));
  EXPECT_FALSE(SelectorMatches(selectors[0], leaf));
  ASSERT_TRUE(ParseSelectorList(L"body div div div div div div div div div span", &selectors, &error));
  EXPECT_TRUE(SelectorMatches(selectors[0], leaf));
  // Selectors longer than the cap are refused as they are parsed.
  std::wstring longest = L"div";
  for (size_t i = 1; i < kMaxSelectorParts; ++i) longest += L" div";
  EXPECT_TRUE(ParseSelectorList(longest, &selectors, &error)) << error;
  EXPECT_FALSE(ParseSelectorList(longest + L" span", &selectors, &error));
}

}  // namespace
}  // namespace sciter_engine
