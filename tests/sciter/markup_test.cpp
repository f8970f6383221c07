// The HTML parser: trees of known pages, character references, raw text, and how broken
// markup is recovered and reported.
#include <gtest/gtest.h>

#include "outside/sciter/markup.h"
#include "sciter/sciter_test_support.h"

namespace sciter_engine {
namespace {

using sciter_testing::DiagnosticRecorder;

class MarkupTest : public ::testing::Test {
 protected:
  Node* Parse(const std::wstring& html) {
    ParseHtml(html, L"page.html", &document_, diagnostics_.Sink());
    return document_.root();
  }
  static std::vector<std::wstring> Tags(const Node* node) {
    std::vector<std::wstring> tags;
    for (const Node* child : node->ElementChildren()) tags.push_back(child->tag);
    return tags;
  }

  Document document_;
  DiagnosticRecorder diagnostics_;
};

TEST_F(MarkupTest, KnownPageBuildsItsTree) {
  Node* root = Parse(
      L"<!DOCTYPE html>\n<html lang=en><head><title>T &amp; t</title><style>p { color: red }</style></head>\n"
      L"<body><h1 id=\"main\" class='big title'>Hello</h1><p>one<br>two</p><!-- note --></body></html>");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->tag, L"html");
  EXPECT_EQ(*root->Attr(L"lang"), L"en");
  EXPECT_EQ(Tags(root), (std::vector<std::wstring>{L"head", L"body"}));
  Node* head = root->ElementChildren()[0];
  EXPECT_EQ(Tags(head), (std::vector<std::wstring>{L"title", L"style"}));
  EXPECT_EQ(head->ElementChildren()[0]->TextContent(), L"T & t");
  EXPECT_EQ(head->ElementChildren()[1]->TextContent(), L"p { color: red }");
  Node* body = document_.Body();
  EXPECT_EQ(Tags(body), (std::vector<std::wstring>{L"h1", L"p"}));
  Node* h1 = document_.FindById(L"main");
  ASSERT_NE(h1, nullptr);
  EXPECT_TRUE(h1->HasClass(L"big"));
  EXPECT_TRUE(h1->HasClass(L"title"));
  EXPECT_FALSE(h1->HasClass(L"bi"));
  Node* p = body->ElementChildren()[1];
  ASSERT_EQ(p->children.size(), 3u);
  EXPECT_EQ(p->children[0]->text, L"one");
  EXPECT_EQ(p->children[1]->tag, L"br");
  EXPECT_EQ(p->children[2]->text, L"two");
  EXPECT_EQ(body->children.back()->kind(), NodeKind::kComment);
  EXPECT_EQ(body->children.back()->text, L" note ");
  EXPECT_EQ(diagnostics_.Count(OT_DOM, OS_WARNING), 0u) << diagnostics_.Dump();
}

TEST_F(MarkupTest, CharacterReferencesAreDecoded) {
  Parse(L"<p id=x title=\"a&quot;b&#39;c\">&amp; &lt; &gt; &quot; &nbsp;&#65;&#x42;&#128512;&bogus;&amp</p>");
  Node* p = document_.FindById(L"x");
  ASSERT_NE(p, nullptr);
  const std::wstring expected = std::wstring(L"& < > \" ") + wchar_t(0xA0) + L"AB" + wchar_t(0xD83D) +
                                wchar_t(0xDE00) + L"&bogus;&amp";
  EXPECT_EQ(p->TextContent(), expected);
  EXPECT_EQ(*p->Attr(L"title"), L"a\"b'c");
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"unknown character reference &bogus;")) << diagnostics_.Dump();
  EXPECT_EQ(DecodeEntities(L"&#0;&#xD800;&#99999999;"), std::wstring(3, wchar_t(0xFFFD)));
}

TEST_F(MarkupTest, AttributesQuotedUnquotedAndBoolean) {
  Parse(L"<button id=ok disabled data-x = 'one two' class=primary>OK</button>");
  Node* button = document_.FindById(L"ok");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(*button->Attr(L"data-x"), L"one two");
  ASSERT_NE(button->Attr(L"disabled"), nullptr);
  EXPECT_EQ(*button->Attr(L"disabled"), L"");
  EXPECT_EQ(*button->Attr(L"class"), L"primary");
}

TEST_F(MarkupTest, VoidAndSelfClosingElementsHaveNoChildren) {
  Parse(L"<div id=d><br><img src=a.png><input type=text>text<span/>after</div>");
  Node* div = document_.FindById(L"d");
  ASSERT_NE(div, nullptr);
  ASSERT_EQ(div->children.size(), 6u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(div->children[i]->children.empty());
  EXPECT_EQ(div->children[3]->text, L"text");
  EXPECT_EQ(div->children[4]->tag, L"span");
  EXPECT_TRUE(div->children[4]->children.empty());
  EXPECT_EQ(div->children[5]->text, L"after");
}

TEST_F(MarkupTest, RawTextElementsKeepMarkupAsText) {
  Parse(L"<script>if (a < b && c > d) s = \"<div>\" + '</p>';</SCRIPT><p id=after>x</p>");
  Node* script = document_.FirstByTag(L"script");
  ASSERT_NE(script, nullptr);
  EXPECT_EQ(script->TextContent(), L"if (a < b && c > d) s = \"<div>\" + '</p>';");
  EXPECT_NE(document_.FindById(L"after"), nullptr);
}

TEST_F(MarkupTest, PageWithoutHtmlAndBodyGetsThem) {
  Node* root = Parse(L"<p>alone</p>text");
  EXPECT_EQ(root->tag, L"html");
  Node* body = document_.Body();
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->tag, L"body");
  EXPECT_EQ(body->parent, root);
  EXPECT_EQ(body->ElementChildren()[0]->tag, L"p");
  EXPECT_EQ(body->children.back()->text, L"text");
}

TEST_F(MarkupTest, ParagraphsAndListItemsCloseThemselves) {
  Parse(L"<body><p>one<p>two<div>block</div><ul><li>a<li>b</ul></body>");
  Node* body = document_.Body();
  EXPECT_EQ(Tags(body), (std::vector<std::wstring>{L"p", L"p", L"div", L"ul"}));
  EXPECT_EQ(Tags(body->ElementChildren()[3]), (std::vector<std::wstring>{L"li", L"li"}));
  EXPECT_EQ(diagnostics_.Count(OT_DOM, OS_WARNING), 0u) << diagnostics_.Dump();
}

TEST_F(MarkupTest, UnclosedElementsAreRecoveredWithWarnings) {
  Parse(L"<body>\n<div id=outer><span id=s>a<div id=inner>b</div>\n</body>");
  Node* outer = document_.FindById(L"outer");
  Node* inner = document_.FindById(L"inner");
  ASSERT_NE(outer, nullptr);
  ASSERT_NE(inner, nullptr);
  EXPECT_TRUE(outer->IsAncestorOf(inner));
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"<span> closed by </body>")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"page.html(3)")) << diagnostics_.Dump();
}

TEST_F(MarkupTest, StrayEndTagIsIgnoredWithAWarning) {
  Parse(L"<body><p id=a>x</span>y</p></body>");
  EXPECT_EQ(document_.FindById(L"a")->TextContent(), L"xy");
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"stray end tag </span>")) << diagnostics_.Dump();
}

TEST_F(MarkupTest, UnclosedCommentScriptAndTagAreErrorsNotCrashes) {
  Parse(L"<body><p>a</p><!-- never closed <p>b</p>");
  EXPECT_GE(diagnostics_.Count(OT_DOM, OS_ERROR), 1u);
  Document second;
  DiagnosticRecorder second_diagnostics;
  ParseHtml(L"<body><script>var x = 1;", L"s.html", &second, second_diagnostics.Sink());
  EXPECT_TRUE(second_diagnostics.Contains(OT_DOM, L"<script> is not closed")) << second_diagnostics.Dump();
  Document third;
  DiagnosticRecorder third_diagnostics;
  ParseHtml(L"<body><div class=\"x", L"t.html", &third, third_diagnostics.Sink());
  EXPECT_NE(third.Body(), nullptr);
  EXPECT_GE(third_diagnostics.Count(OT_DOM, OS_WARNING), 1u);
}

TEST_F(MarkupTest, DeepNestingIsFlattenedWithAnError) {
  std::wstring html = L"<body>";
  for (int i = 0; i < 1000; ++i) html += L"<div>";
  html += L"deep";
  Parse(html);
  int depth = 0;
  for (const Node* node = document_.Body(); !node->children.empty(); node = node->children.back()) ++depth;
  EXPECT_LE(depth, 202);
  EXPECT_NE(document_.Body()->TextContent().find(L"deep"), std::wstring::npos);
  EXPECT_TRUE(diagnostics_.Contains(OT_DOM, L"nest deeper than")) << diagnostics_.Dump();
}

TEST_F(MarkupTest, TreeChangesKeepParentsConsistent) {
  Parse(L"<body><div id=a></div><div id=b></div></body>");
  Node* a = document_.FindById(L"a");
  Node* b = document_.FindById(L"b");
  EXPECT_TRUE(document_.AppendChild(a, b));
  EXPECT_EQ(b->parent, a);
  EXPECT_FALSE(document_.AppendChild(b, a)) << "a node cannot become its own descendant";
  document_.Detach(b);
  EXPECT_EQ(b->parent, nullptr);
  EXPECT_TRUE(a->children.empty());
  EXPECT_EQ(document_.FindById(L"b"), nullptr);
}

}  // namespace
}  // namespace sciter_engine
