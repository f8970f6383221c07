// The script bridge without a window: view.NAME to the host and back, calls of global
// functions by dotted name, value round trips, the DOM, events, timers, errors with their
// place, the time budget and eval permission.
#include <gtest/gtest.h>

#include <map>

#include "outside/sciter/markup.h"
#include "outside/sciter/script.h"
#include "sciter/sciter_test_support.h"

namespace sciter_engine {
namespace {

class FakeHost : public ScriptHost {
 public:
  bool CallHostFunction(const std::string& name, const std::vector<Value>& args, Value* result) override {
    calls.push_back({name, args});
    if (name == "echo" && !args.empty()) {
      *result = args[0];
      return true;
    }
    if (name == "getDownloadProgress") {
      *result = Value::Map();
      result->Set(Value::String(L"progress"), Value::Int(42));
      result->Set(Value::String(L"speed"), Value::String(L"1.50 MB/s"));
      return true;
    }
    if (name == "translate" && args.size() == 1) {
      *result = Value::String(L"[" + args[0].text + L"]");
      return true;
    }
    return false;
  }
  void CloseView() override { ++closes; }
  void StartTimer(int id, unsigned milliseconds, bool repeat) override { timers[id] = {milliseconds, repeat}; }
  void StopTimer(int id) override { timers.erase(id); }
  void DocumentChanged() override { ++changes; }
  void SetFocus(Node* element) override { focused = element; }
  Node* FocusedElement() override { return focused; }
  float PixelRatio() override { return 1.0f; }
  void UpdateLayoutNow() override {}

  std::vector<std::pair<std::string, std::vector<Value>>> calls;
  std::map<int, std::pair<unsigned, bool>> timers;
  int closes = 0;
  int changes = 0;
  Node* focused = nullptr;
};

class ScriptTest : public ::testing::Test {
 protected:
  void Start(const std::wstring& html, UINT features = ALLOW_EVAL) {
    ParseHtml(html, L"page.html", &document_, diagnostics_.Sink());
    engine_ = std::make_unique<ScriptEngine>(&document_, &host_, diagnostics_.Sink(), features);
    ASSERT_TRUE(engine_->ready());
    ASSERT_EQ(diagnostics_.Count(OT_TIS, OS_WARNING), 0u) << diagnostics_.Dump();
  }
  // The value of a script expression, through a global function and CallGlobal.
  Value Eval(const std::string& expression) {
    const std::wstring code = L"function __expression() { return (" + std::wstring(expression.begin(), expression.end()) + L"); }";
    EXPECT_TRUE(engine_->Run(code, L"test.js")) << diagnostics_.Dump();
    Value result;
    EXPECT_TRUE(engine_->CallGlobal("__expression", {}, &result)) << diagnostics_.Dump();
    return result;
  }

  Document document_;
  FakeHost host_;
  sciter_testing::DiagnosticRecorder diagnostics_;
  std::unique_ptr<ScriptEngine> engine_;
};

TEST_F(ScriptTest, ViewNameReachesTheHostWithItsArgumentsAndReturnsTheResult) {
  Start(L"<body></body>");
  const Value echoed = Eval("view.echo({ a: [1, 2.5, 'x', true, null] }, 7)");
  ASSERT_EQ(host_.calls.size(), 1u);
  EXPECT_EQ(host_.calls[0].first, "echo");
  ASSERT_EQ(host_.calls[0].second.size(), 2u);
  EXPECT_EQ(host_.calls[0].second[1], Value::Int(7));
  Value expected = Value::Map();
  Value list = Value::Array();
  list.items = {Value::Int(1), Value::Float(2.5), Value::String(L"x"), Value::Bool(true), Value::Null()};
  expected.Set(Value::String(L"a"), list);
  EXPECT_EQ(host_.calls[0].second[0], expected);
  EXPECT_EQ(echoed, expected);
  EXPECT_EQ(Eval("view.translate('_LSKB/sLS_')"), Value::String(L"[_LSKB/sLS_]"));
  EXPECT_EQ(Eval("view.getDownloadProgress().progress + 1"), Value::Int(43));
  EXPECT_EQ(Eval("Object.keys(view.getDownloadProgress()).join()"), Value::String(L"progress,speed"));
}

TEST_F(ScriptTest, UnhandledHostFunctionIsAScriptError) {
  Start(L"<body></body>");
  EXPECT_EQ(Eval("(function () { try { view.nothing(1); return 'no error'; } catch (e) { return e.message; } })()"),
            Value::String(L"view.nothing: no such host function"));
  EXPECT_FALSE(engine_->Run(L"view.nothing();", L"page.js"));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"view.nothing: no such host function")) << diagnostics_.Dump();
}

TEST_F(ScriptTest, ViewCloseAsksTheHost) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(L"view.close();", L"close.js"));
  EXPECT_EQ(host_.closes, 1);
  EXPECT_TRUE(host_.calls.empty());
}

TEST_F(ScriptTest, CallGlobalFollowsDottedNamesWithThisBound) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(L"var GenericPopup = { prefix: 'T:', setTitle: function (t) { return this.prefix + t; } };"
                           L"var Deep = { a: { b: { twice: function (n) { return n * 2; } } } };",
                           L"popup.js"));
  Value result;
  ASSERT_TRUE(engine_->CallGlobal("GenericPopup.setTitle", {Value::String(L"Hello")}, &result));
  EXPECT_EQ(result, Value::String(L"T:Hello"));
  ASSERT_TRUE(engine_->CallGlobal("Deep.a.b.twice", {Value::Float(1.25)}, &result));
  EXPECT_EQ(result, Value::Float(2.5));
  EXPECT_FALSE(engine_->CallGlobal("Deep.a.missing", {}, &result));
  EXPECT_FALSE(engine_->CallGlobal("Nothing.here", {}, &result));
  EXPECT_FALSE(engine_->CallGlobal("GenericPopup.prefix", {}, &result)) << "not a function";
  EXPECT_FALSE(engine_->CallGlobal("", {}, &result));
}

TEST_F(ScriptTest, ThrowingGettersOnTheWayToACalledFunctionAreAnErrorNotAnAbort) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(L"var GenericPopup = {};"
                           L"Object.defineProperty(GenericPopup, 'setTitle', { get: function () { throw new Error('getter'); } });"
                           L"var Odd = { give: function () {"
                           L"  var o = {}; Object.defineProperty(o, 'x', { enumerable: true, get: function () { throw 1; } });"
                           L"  return o; } };",
                           L"odd.js"));
  Value result;
  EXPECT_FALSE(engine_->CallGlobal("GenericPopup.setTitle", {Value::String(L"t")}, &result));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"getter")) << diagnostics_.Dump();
  // Converting a result whose property throws fails the call the same way.
  EXPECT_FALSE(engine_->CallGlobal("Odd.give", {}, &result));
  EXPECT_EQ(Eval("2 + 2"), Value::Int(4)) << "the engine goes on";
}

TEST_F(ScriptTest, ValuesRoundTripThroughScript) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(L"function same(v) { return v; }", L"same.js"));
  Value map = Value::Map();
  map.Set(Value::String(L"z"), Value::Int(-5));
  map.Set(Value::String(L"a"), Value::String(std::wstring(L"\u00e9\u4e2d") + wchar_t(0xD83D) + wchar_t(0xDE00)));
  map.Set(Value::String(L"n"), Value::Null());
  Value array = Value::Array();
  array.items = {Value::Bool(false), Value::Float(-0.5), Value::Int(2147483647), map};
  const std::vector<Value> samples = {Value(), Value::Null(), Value::Bool(true), Value::Int(0), Value::Int(-2147483647 - 1),
                                      Value::Float(3.75), Value::String(L""), map, array};
  for (const Value& sample : samples) {
    Value result;
    ASSERT_TRUE(engine_->CallGlobal("same", {sample}, &result));
    EXPECT_EQ(result, sample) << "type " << sample.type;
  }
  Value result;
  ASSERT_TRUE(engine_->CallGlobal("same", {Value::Float(4.0)}, &result));
  EXPECT_EQ(result, Value::Int(4)) << "whole numbers come back as integers";
}

TEST_F(ScriptTest, DomQueriesAndChanges) {
  Start(L"<body><h1 id=title class='a b'>Old</h1><ul><li class=i>1</li><li class=i>2</li></ul><div id=box></div></body>");
  EXPECT_EQ(Eval("document.getElementById('title').textContent"), Value::String(L"Old"));
  EXPECT_EQ(Eval("document.querySelectorAll('ul > li.i').length"), Value::Int(2));
  EXPECT_EQ(Eval("document.querySelector('.b').id"), Value::String(L"title"));
  EXPECT_EQ(Eval("document.querySelector('#none')"), Value::Null());
  EXPECT_EQ(Eval("document.getElementById('title') === document.querySelector('h1')"), Value::Bool(true));
  const int changes_before = host_.changes;
  ASSERT_TRUE(engine_->Run(
      L"var t = document.getElementById('title'); t.textContent = 'New';"
      L"t.classList.remove('a'); t.classList.add('c'); t.classList.toggle('b');"
      L"t.style.backgroundColor = '#ff0000'; t.style.width = '40%';"
      L"t.setAttribute('data-x', 'y');"
      L"var p = document.createElement('p'); p.id = 'made'; p.textContent = 'made';"
      L"document.getElementById('box').appendChild(p);"
      L"var items = document.querySelectorAll('li'); items[0].parentNode.removeChild(items[0]);",
      L"dom.js"))
      << diagnostics_.Dump();
  EXPECT_GT(host_.changes, changes_before);
  Node* title = document_.FindById(L"title");
  EXPECT_EQ(title->TextContent(), L"New");
  EXPECT_EQ(*title->Attr(L"class"), L"c");
  EXPECT_EQ(*title->Attr(L"style"), L"background-color: #ff0000; width: 40%;");
  EXPECT_EQ(*title->Attr(L"data-x"), L"y");
  Node* made = document_.FindById(L"made");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->parent, document_.FindById(L"box"));
  EXPECT_EQ(Eval("document.querySelectorAll('li').length"), Value::Int(1));
  EXPECT_EQ(Eval("document.getElementById('title').style.width"), Value::String(L"40%"));
  EXPECT_EQ(Eval("document.getElementById('title').classList.contains('c')"), Value::Bool(true));
  EXPECT_EQ(Eval("document.body.tagName"), Value::String(L"BODY"));
}

TEST_F(ScriptTest, InnerHtmlParsesAndSerialisesMarkup) {
  Start(L"<body><div id=row><span>old</span></div></body>");
  ASSERT_TRUE(engine_->Run(L"document.getElementById('row').innerHTML = "
                           L"'<button id=\"yes\" data-button-id=\"_LSYesLS_\">Yes &amp; go</button><b>x<br>y</b>';",
                           L"html.js"))
      << diagnostics_.Dump();
  Node* row = document_.FindById(L"row");
  ASSERT_EQ(row->ElementChildren().size(), 2u);
  Node* yes = document_.FindById(L"yes");
  ASSERT_NE(yes, nullptr);
  EXPECT_EQ(yes->parent, row);
  EXPECT_EQ(yes->TextContent(), L"Yes & go");
  EXPECT_EQ(Eval("document.getElementById('yes').dataset.buttonId"), Value::String(L"_LSYesLS_"));
  EXPECT_EQ(Eval("document.getElementById('row').innerHTML"),
            Value::String(L"<button id=\"yes\" data-button-id=\"_LSYesLS_\">Yes &amp; go</button><b>x<br>y</b>"));
  ASSERT_TRUE(engine_->Run(L"document.getElementById('row').innerHTML = '<p>unclosed <i>markup';", L"bad.js"));
  EXPECT_EQ(document_.FindById(L"row")->TextContent(), L"unclosed markup");
  EXPECT_GE(diagnostics_.Count(OT_DOM, OS_WARNING), 1u) << "the parser's warning reaches the page's diagnostics";
}

TEST_F(ScriptTest, BadDomUseIsAScriptErrorNotACrash) {
  Start(L"<body><div id=a></div></body>");
  EXPECT_FALSE(engine_->Run(L"document.querySelector('p + + p');", L"bad1.js"));
  EXPECT_FALSE(engine_->Run(L"document.body.appendChild({});", L"bad2.js"));
  EXPECT_FALSE(engine_->Run(L"var a = document.getElementById('a'); a.appendChild(document.body);", L"bad3.js"));
  EXPECT_FALSE(engine_->Run(L"document.body.removeChild(document.createElement('p'));", L"bad4.js"));
  EXPECT_FALSE(engine_->Run(L"document.createElement('<x>');", L"bad5.js"));
  EXPECT_EQ(diagnostics_.Count(OT_TIS, OS_ERROR), 5u) << diagnostics_.Dump();
}

TEST_F(ScriptTest, ClickBubblesFromTheTargetToTheDocument) {
  Start(L"<body><div id=outer onclick=\"order.push('outer-attr')\"><button id=b>x</button></div></body>");
  ASSERT_TRUE(engine_->Run(
      L"var order = [];"
      L"document.getElementById('b').onclick = function (e) { order.push('button:' + e.target.id); };"
      L"document.getElementById('outer').addEventListener('click', function (e) { order.push('outer:' + e.currentTarget.id); });"
      L"document.addEventListener('click', function () { order.push('document'); });"
      L"function result() { return order.join(); }",
      L"events.js"));
  EXPECT_FALSE(engine_->DispatchEvent(document_.FindById(L"b"), L"click", EventDetails()));
  Value order;
  ASSERT_TRUE(engine_->CallGlobal("result", {}, &order));
  EXPECT_EQ(order, Value::String(L"button:b,outer-attr,outer:outer,document"));
}

TEST_F(ScriptTest, KeyHandlersSeeTheKeyAndCanPreventTheDefault) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(
      L"var seen = '';"
      L"document.onkeydown = function (e) { seen = e.key + ':' + e.keyCode; if (e.keyCode == 27) return false; };",
      L"keys.js"));
  EventDetails escape;
  escape.key_code = 27;
  escape.key = L"Escape";
  EXPECT_TRUE(engine_->DispatchEvent(document_.Body(), L"keydown", escape));
  EXPECT_EQ(Eval("seen"), Value::String(L"Escape:27"));
  EventDetails tab;
  tab.key_code = 9;
  tab.key = L"Tab";
  EXPECT_FALSE(engine_->DispatchEvent(document_.Body(), L"keydown", tab));
}

TEST_F(ScriptTest, ErrorsInHandlersAreReportedAndOtherHandlersStillRun) {
  Start(L"<body><button id=b>x</button></body>");
  ASSERT_TRUE(engine_->Run(
      L"var ran = false; var b = document.getElementById('b');"
      L"b.addEventListener('click', function () { throw new Error('first handler fails'); });"
      L"b.addEventListener('click', function () { ran = true; });",
      L"handlers.js"));
  engine_->DispatchEvent(document_.FindById(L"b"), L"click", EventDetails());
  EXPECT_EQ(Eval("ran"), Value::Bool(true));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"first handler fails")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"handlers.js(1)")) << diagnostics_.Dump();
}

TEST_F(ScriptTest, TimersGoThroughTheHost) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(L"var fired = []; var once = setTimeout(function (x) { fired.push(x); }, 25, 'once');"
                           L"var every = setInterval(function () { fired.push('tick'); }, 40);"
                           L"var never = setTimeout(function () { fired.push('never'); }, 5); clearTimeout(never);",
                           L"timers.js"));
  ASSERT_EQ(host_.timers.size(), 2u);
  const int once = host_.timers.begin()->first;
  EXPECT_EQ(host_.timers[once], (std::pair<unsigned, bool>{25, false}));
  const int every = std::prev(host_.timers.end())->first;
  EXPECT_EQ(host_.timers[every], (std::pair<unsigned, bool>{40, true}));
  engine_->FireTimer(once);
  engine_->FireTimer(every);
  engine_->FireTimer(every);
  engine_->FireTimer(once);  // a one-shot timer fires once
  EXPECT_EQ(Eval("fired.join()"), Value::String(L"once,tick,tick"));
  ASSERT_TRUE(engine_->Run(L"clearInterval(every);", L"stop.js"));
  EXPECT_EQ(host_.timers.count(every), 0u);
}

TEST_F(ScriptTest, SyntaxAndRuntimeErrorsNameTheirFileAndLine) {
  Start(L"<body></body>");
  EXPECT_FALSE(engine_->Run(L"var a = 1;\nvar b = ;\n", L"syntax.js"));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"syntax.js(2)")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"SyntaxError")) << diagnostics_.Dump();
  EXPECT_FALSE(engine_->Run(L"\n\nnull.property;", L"runtime.js"));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"runtime.js(3)")) << diagnostics_.Dump();
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"TypeError")) << diagnostics_.Dump();
  EXPECT_TRUE(engine_->Run(L"var fine = 1;", L"after.js"));
}

TEST_F(ScriptTest, RunawayScriptIsStoppedAndTheEngineGoesOn) {
  Start(L"<body></body>");
  engine_->set_time_limit(300);
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(engine_->Run(L"while (true) {}", L"loop.js"));
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 250u);
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"script stopped: it ran longer than 300 ms")) << diagnostics_.Dump();
  // A loop that catches the stop is stopped all the same.
  EXPECT_FALSE(engine_->Run(L"for (;;) { try { while (true) {} } catch (e) {} }", L"stubborn.js"));
  EXPECT_EQ(Eval("1 + 1"), Value::Int(2));
}

TEST_F(ScriptTest, TextWritesKeepTheNodeCountFlat) {
  Start(L"<body><div id=percent>0 %</div><div id=speed></div><div id=box><b>x</b>y</div></body>");
  const size_t before = document_.NodeCount();
  ASSERT_TRUE(engine_->Run(L"var p = document.getElementById('percent'), s = document.getElementById('speed');"
                           L"var b = document.getElementById('box');"
                           L"for (var i = 0; i < 10000; i++) {"
                           L"  p.textContent = (i % 100) + ' %'; s.textContent = i + ' KB/s';"
                           L"  b.textContent = i; }",
                           L"progress.js"))
      << diagnostics_.Dump();
  EXPECT_EQ(Eval("s.textContent"), Value::String(L"9999 KB/s"));
  // One text node for the first speed and one for the box, whose <b>, "x" and "y" are freed.
  EXPECT_EQ(document_.NodeCount(), before - 1);
}

TEST_F(ScriptTest, RemovedNodesAreFreedOnceTheScriptLetsGoOfThem) {
  Start(L"<body><div id=list><p>first</p></div><div id=other></div></body>");
  const size_t before = document_.NodeCount();
  ASSERT_TRUE(engine_->Run(L"var list = document.getElementById('list'), other = document.getElementById('other');"
                           L"for (var i = 0; i < 10000; i++) {"
                           L"  list.innerHTML = '<p class=row onclick=\"go()\">row <b>' + i + '</b></p><!-- note -->';"
                           L"  list.firstChild.addEventListener('click', function () {});"
                           L"  var item = document.createElement('span'); item.textContent = i;"
                           L"  other.appendChild(item); other.removeChild(item);"
                           L"  other.appendChild(document.createTextNode('t')); other.textContent = ''; }"
                           L"item = null;",
                           L"churn.js"))
      << diagnostics_.Dump();
  EXPECT_EQ(Eval("list.querySelector('b').textContent"), Value::String(L"9999"));
  // The list's first <p> and its text became one <p>, <b>, two texts and a comment.
  EXPECT_EQ(document_.NodeCount(), before + 3);
}

TEST_F(ScriptTest, ARemovedNodeTheScriptKeepsStaysUsable) {
  Start(L"<body><div id=box><p id=kept>old <b>bold</b></p></div></body>");
  ASSERT_TRUE(engine_->Run(L"var box = document.getElementById('box');"
                           L"var kept = document.getElementById('kept'), bold = kept.lastChild;"
                           L"kept.onclick = function () { return 'clicked'; };"
                           L"box.innerHTML = '<i>new</i>';"
                           L"var removed = box.removeChild(box.firstChild);",
                           L"keep.js"))
      << diagnostics_.Dump();
  EXPECT_EQ(Eval("kept.textContent + '|' + bold.tagName + '|' + bold.parentNode.id + '|' + removed.tagName"),
            Value::String(L"old bold|B|kept|I"));
  ASSERT_TRUE(engine_->Run(L"kept.setAttribute('title', 'back'); box.appendChild(kept); bold.textContent = 'again';", L"back.js"))
      << diagnostics_.Dump();
  EXPECT_EQ(Eval("document.getElementById('kept') === kept && kept.onclick() === 'clicked'"), Value::Bool(true));
  EXPECT_EQ(Eval("box.innerHTML"), Value::String(L"<p id=\"kept\" title=\"back\">old <b>again</b></p>"));
  // Once nothing holds them, the removed nodes go.
  const size_t held = document_.NodeCount();
  ASSERT_TRUE(engine_->Run(L"removed = null; box.innerHTML = ''; kept = bold = null;", L"drop.js"));
  // <i> with its text, and <p> with its text, <b> and the <b>'s text.
  EXPECT_EQ(document_.NodeCount(), held - 6);
}

TEST_F(ScriptTest, AScriptBeyondTheHeapBudgetFailsAndTheEngineGoesOn) {
  Start(L"<body></body>");
  engine_->set_heap_limit(engine_->heap_used() + (4u << 20));
  // Each string differs (equal ones would be interned once): 100 KB more per round.
  EXPECT_FALSE(engine_->Run(L"var hoard = []; for (;;) hoard.push(new Array(100001).join('x') + hoard.length);", L"hoard.js"));
  EXPECT_GE(diagnostics_.Count(OT_TIS, OS_ERROR), 1u) << diagnostics_.Dump();
  engine_->set_heap_limit(ScriptEngine::kDefaultHeapLimit);
  ASSERT_TRUE(engine_->Run(L"hoard = null;", L"free.js"));
  EXPECT_EQ(Eval("1 + 1"), Value::Int(2));
}

TEST_F(ScriptTest, TimeInHostCallsDoesNotCountAgainstTheBudget) {
  Start(L"<body></body>");
  engine_->set_time_limit(300);
  struct SlowHost : FakeHost {
    bool CallHostFunction(const std::string& name, const std::vector<Value>& args, Value* result) override {
      Sleep(400);  // a modal question to the user
      return FakeHost::CallHostFunction(name, args, result);
    }
  };
  SlowHost slow;
  ScriptEngine engine(&document_, &slow, diagnostics_.Sink(), 0);
  engine.set_time_limit(300);
  EXPECT_TRUE(engine.Run(L"var r = view.echo(1) + 1;", L"slow.js")) << diagnostics_.Dump();
}

TEST_F(ScriptTest, EvalOnlyWithThePermission) {
  Start(L"<body></body>", 0);
  EXPECT_FALSE(engine_->Run(L"eval('1 + 1');", L"eval.js"));
  EXPECT_FALSE(engine_->Run(L"new Function('return 1')();", L"function.js"));
  EXPECT_FALSE(engine_->Run(L"(function () {}).constructor('return 1')();", L"constructor.js"));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"eval is not allowed")) << diagnostics_.Dump();
  Document other;
  ParseHtml(L"<body></body>", L"p.html", &other, DiagnosticSink());
  ScriptEngine allowed(&other, &host_, diagnostics_.Sink(), ALLOW_EVAL);
  EXPECT_TRUE(allowed.Run(L"if (eval('1 + 1') !== 2) throw new Error('eval');", L"eval.js"));
}

TEST_F(ScriptTest, ConsoleGoesToTheScriptDiagnostics) {
  Start(L"<body></body>");
  ASSERT_TRUE(engine_->Run(L"console.log('hello', 42, {a: 1}); console.error('bad');", L"console.js"));
  EXPECT_TRUE(diagnostics_.Contains(OT_TIS, L"console: hello 42 {\"a\":1}")) << diagnostics_.Dump();
  bool error_seen = false;
  for (const auto& d : diagnostics_.all()) error_seen |= d.severity == OS_ERROR && d.text == L"console: bad";
  EXPECT_TRUE(error_seen);
}

TEST_F(ScriptTest, FocusGoesThroughTheHost) {
  Start(L"<body><button id=b>x</button></body>");
  ASSERT_TRUE(engine_->Run(L"document.getElementById('b').focus();", L"focus.js"));
  EXPECT_EQ(host_.focused, document_.FindById(L"b"));
  EXPECT_EQ(Eval("document.activeElement.id"), Value::String(L"b"));
}

}  // namespace
}  // namespace sciter_engine
