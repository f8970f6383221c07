#include "script.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "inline_style.h"
#include "markup.h"
#include "duktape.h"
#include "script_bootstrap.h"
#include "selectors.h"
#include "text_codec.h"

// duktape's exec-timeout hook (its build defines DUK_USE_EXEC_TIMEOUT_CHECK to this name):
// the heap's user data is the ScriptEngine.
extern "C" int palisk_sciter_exec_timeout(void* udata) {
  // The heap's user data is the engine's heap account, which knows its engine.
  return udata && static_cast<sciter_engine::ScriptEngine::HeapAccount*>(udata)->engine->TimeIsUp() ? 1 : 0;
}

namespace sciter_engine {

namespace {

constexpr int kMaxValueDepth = 32;
constexpr const char kNativesKey[] = "\xFF" "natives";
constexpr const char kHandlersKey[] = "\xFF" "handlers";

ScriptEngine* EngineOf(duk_context* ctx) {
  duk_memory_functions functions;
  duk_get_memory_functions(ctx, &functions);
  return static_cast<ScriptEngine::HeapAccount*>(functions.udata)->engine;
}

std::wstring GetString(duk_context* ctx, duk_idx_t index) {
  duk_size_t length = 0;
  const char* bytes = duk_safe_to_lstring(ctx, index, &length);
  return Utf8ToWide(bytes, length);
}

void PushString(duk_context* ctx, const std::wstring& text) {
  const std::string utf8 = WideToUtf8(text);
  duk_push_lstring(ctx, utf8.data(), utf8.size());
}

Node* NodeArg(duk_context* ctx, duk_idx_t index) {
  Node* node = EngineOf(ctx)->document()->FindByNumber(duk_to_int(ctx, index));
  if (!node) (void)duk_range_error(ctx, "no such node");
  return node;
}

Node* ElementArg(duk_context* ctx, duk_idx_t index) {
  Node* node = NodeArg(ctx, index);
  if (!node->IsElement()) (void)duk_type_error(ctx, "not an element");
  return node;
}

int NumberOf(const Node* node) {
  return node ? node->number() : -1;
}

// Nodes of `top`'s subtree whose wrappers the script's cache holds: they are leaving the tree,
// so the cache lets go of them (the script then frees them once it holds them no more).
void CollectCachedWrappers(Node* top, std::vector<int>* numbers) {
  std::vector<Node*> pending = {top};
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    if (node->wrapper_cached) {
      node->wrapper_cached = false;
      numbers->push_back(node->number());
    }
    pending.insert(pending.end(), node->children.begin(), node->children.end());
  }
}

void PushIntArray(duk_context* ctx, const std::vector<int>& numbers) {
  duk_idx_t array = duk_push_array(ctx);
  for (size_t i = 0; i < numbers.size(); ++i) {
    duk_push_int(ctx, numbers[i]);
    duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
  }
}

// Detaches (and frees where it can) all children of `element`; returns the numbers whose
// cached wrappers the script must let go of.
std::vector<int> DiscardChildren(Document* document, Node* element) {
  std::vector<int> uncached;
  for (Node* child : std::vector<Node*>(element->children)) {
    CollectCachedWrappers(child, &uncached);
    document->Discard(child);
  }
  return uncached;
}

void Changed(duk_context* ctx) {
  ScriptEngine* engine = EngineOf(ctx);
  engine->document()->Touch();
  engine->host()->DocumentChanged();
}

void PushIdArray(duk_context* ctx, const std::vector<Node*>& nodes) {
  duk_idx_t array = duk_push_array(ctx);
  for (size_t i = 0; i < nodes.size(); ++i) {
    duk_push_int(ctx, NumberOf(nodes[i]));
    duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
  }
}

// ---- Value conversion ----------------------------------------------------------------------

void PushValue(duk_context* ctx, const Value& value, int depth = 0) {
  if (depth > kMaxValueDepth) {
    duk_push_undefined(ctx);
    return;
  }
  switch (value.type) {
    case T_NULL: duk_push_null(ctx); break;
    case T_BOOL: duk_push_boolean(ctx, value.boolean); break;
    case T_INT: duk_push_int(ctx, value.integer); break;
    case T_FLOAT: duk_push_number(ctx, value.number); break;
    case T_STRING: PushString(ctx, value.text); break;
    case T_ARRAY: {
      duk_idx_t array = duk_push_array(ctx);
      for (size_t i = 0; i < value.items.size(); ++i) {
        PushValue(ctx, value.items[i], depth + 1);
        duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
      }
      break;
    }
    case T_MAP: {
      duk_idx_t object = duk_push_object(ctx);
      for (const auto& pair : value.pairs) {
        if (pair.first.type == T_STRING) PushString(ctx, pair.first.text);
        else if (pair.first.type == T_INT) duk_push_int(ctx, pair.first.integer);
        else continue;
        PushValue(ctx, pair.second, depth + 1);
        duk_put_prop(ctx, object);
      }
      break;
    }
    default: duk_push_undefined(ctx); break;
  }
}

Value GetValue(duk_context* ctx, duk_idx_t index, int depth = 0) {
  index = duk_normalize_index(ctx, index);
  if (depth > kMaxValueDepth) return Value();
  switch (duk_get_type(ctx, index)) {
    case DUK_TYPE_NULL: return Value::Null();
    case DUK_TYPE_BOOLEAN: return Value::Bool(duk_get_boolean(ctx, index) != 0);
    case DUK_TYPE_NUMBER: {
      const double number = duk_get_number(ctx, index);
      if (std::floor(number) == number && number >= -2147483648.0 && number <= 2147483647.0 &&
          !(number == 0 && std::signbit(number))) {
        return Value::Int(static_cast<INT>(number));
      }
      return Value::Float(number);
    }
    case DUK_TYPE_STRING: return Value::String(GetString(ctx, index));
    case DUK_TYPE_OBJECT: {
      if (duk_is_function(ctx, index)) {
        Value function;
        function.type = T_FUNCTION;
        function.text = L"function";
        return function;
      }
      if (duk_is_array(ctx, index)) {
        Value array = Value::Array();
        const duk_size_t length = duk_get_length(ctx, index);
        for (duk_size_t i = 0; i < length && i < (1u << 20); ++i) {
          duk_get_prop_index(ctx, index, static_cast<duk_uarridx_t>(i));
          array.items.push_back(GetValue(ctx, -1, depth + 1));
          duk_pop(ctx);
        }
        return array;
      }
      if (duk_has_prop_string(ctx, index, "__id")) {
        Value object;
        object.type = T_OBJECT;
        object.text = L"element";
        return object;
      }
      Value map = Value::Map();
      duk_enum(ctx, index, DUK_ENUM_OWN_PROPERTIES_ONLY);
      while (duk_next(ctx, -1, 1)) {
        map.pairs.emplace_back(Value::String(GetString(ctx, -2)), GetValue(ctx, -1, depth + 1));
        duk_pop_2(ctx);
      }
      duk_pop(ctx);
      return map;
    }
    default: return Value();
  }
}

// ---- Native DOM functions (the N object of the bootstrap) ----------------------------------

duk_ret_t NIsElement(duk_context* ctx) {
  duk_push_boolean(ctx, NodeArg(ctx, 0)->IsElement());
  return 1;
}

duk_ret_t NNodeType(duk_context* ctx) {
  const Node* node = NodeArg(ctx, 0);
  duk_push_int(ctx, node->IsElement() ? 1 : node->kind() == NodeKind::kText ? 3 : 8);
  return 1;
}

duk_ret_t NParent(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(NodeArg(ctx, 0)->parent));
  return 1;
}

duk_ret_t NChildren(duk_context* ctx) {
  const Node* node = NodeArg(ctx, 0);
  PushIdArray(ctx, duk_to_boolean(ctx, 1) ? node->ElementChildren() : node->children);
  return 1;
}

duk_ret_t NSibling(duk_context* ctx) {
  const Node* node = NodeArg(ctx, 0);
  const int direction = duk_to_int(ctx, 1);
  const Node* found = nullptr;
  if (node->parent) {
    const auto& siblings = node->parent->children;
    for (size_t i = 0; i < siblings.size(); ++i) {
      if (siblings[i] != node) continue;
      if (direction > 0 && i + 1 < siblings.size()) found = siblings[i + 1];
      if (direction < 0 && i > 0) found = siblings[i - 1];
    }
  }
  duk_push_int(ctx, NumberOf(found));
  return 1;
}

duk_ret_t NTag(duk_context* ctx) {
  PushString(ctx, ElementArg(ctx, 0)->tag);
  return 1;
}

duk_ret_t NGetText(duk_context* ctx) {
  PushString(ctx, NodeArg(ctx, 0)->TextContent());
  return 1;
}

duk_ret_t NSetText(duk_context* ctx) {
  Node* node = NodeArg(ctx, 0);
  const std::wstring text = GetString(ctx, 1);
  Document* document = EngineOf(ctx)->document();
  std::vector<int> uncached;
  if (node->IsElement()) {
    // A progress page rewrites its texts several times a second: the one text node is
    // kept and rewritten; replaced children are freed.
    const bool reusable = !text.empty() && node->children.size() == 1 && node->children[0]->kind() == NodeKind::kText;
    if (reusable) {
      node->children[0]->text = text;
    } else {
      uncached = DiscardChildren(document, node);
      if (!text.empty()) document->AppendChild(node, document->CreateText(text));
    }
  } else {
    node->text = text;
  }
  Changed(ctx);
  PushIntArray(ctx, uncached);
  return 1;
}

duk_ret_t NGetAttr(duk_context* ctx) {
  const std::wstring* value = ElementArg(ctx, 0)->Attr(AsciiLower(GetString(ctx, 1)));
  if (value) PushString(ctx, *value);
  else duk_push_null(ctx);
  return 1;
}

duk_ret_t NSetAttr(duk_context* ctx) {
  Node* element = ElementArg(ctx, 0);
  const std::wstring name = AsciiLower(GetString(ctx, 1));
  element->SetAttr(name, GetString(ctx, 2));
  if (element->tag == L"img" && name == L"src") EngineOf(ctx)->host()->PictureChanged(element);
  Changed(ctx);
  return 0;
}

duk_ret_t NRemoveAttr(duk_context* ctx) {
  ElementArg(ctx, 0)->RemoveAttr(AsciiLower(GetString(ctx, 1)));
  Changed(ctx);
  return 0;
}

// op 0 add, 1 remove, 3 contains.
duk_ret_t NClassOp(duk_context* ctx) {
  Node* element = ElementArg(ctx, 0);
  const int op = duk_to_int(ctx, 1);
  const std::wstring name = GetString(ctx, 2);
  if (op == 3) {
    duk_push_boolean(ctx, element->HasClass(name));
    return 1;
  }
  if (name.empty() || name.find_first_of(L" \t\r\n") != std::wstring::npos) {
    return duk_error(ctx, DUK_ERR_SYNTAX_ERROR, "classList: '%s' is not a class name", duk_safe_to_string(ctx, 2));
  }
  if (op == 0) element->AddClass(name);
  else element->RemoveClass(name);
  Changed(ctx);
  return 0;
}

duk_ret_t NQuery(duk_context* ctx) {
  ScriptEngine* engine = EngineOf(ctx);
  Document* document = engine->document();
  const int from = duk_to_int(ctx, 0);
  const std::wstring text = GetString(ctx, 1);
  const bool all = duk_to_boolean(ctx, 2) != 0;
  std::vector<Selector> selectors;
  std::wstring error;
  if (!ParseSelectorList(text, &selectors, &error)) {
    return duk_error(ctx, DUK_ERR_SYNTAX_ERROR, "'%s' is not a valid selector", duk_safe_to_string(ctx, 1));
  }
  std::vector<Node*> candidates;
  if (from < 0) {
    if (document->root()) candidates.push_back(document->root());
    const std::vector<Node*> below = document->Elements(document->root());
    candidates.insert(candidates.end(), below.begin(), below.end());
  } else {
    candidates = document->Elements(ElementArg(ctx, 0));
  }
  std::vector<Node*> found;
  for (Node* candidate : candidates) {
    for (const Selector& selector : selectors) {
      if (SelectorMatches(selector, candidate)) {
        found.push_back(candidate);
        break;
      }
    }
    if (!all && !found.empty()) break;
  }
  PushIdArray(ctx, found);
  return 1;
}

duk_ret_t NById(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->document()->FindById(GetString(ctx, 0))));
  return 1;
}

duk_ret_t NCreate(duk_context* ctx) {
  const std::wstring tag = AsciiLower(GetString(ctx, 0));
  if (tag.empty() || tag.find_first_of(L" <>/\"'=") != std::wstring::npos) {
    return duk_error(ctx, DUK_ERR_SYNTAX_ERROR, "createElement: '%s' is not a tag name", duk_safe_to_string(ctx, 0));
  }
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->document()->CreateElement(tag)));
  return 1;
}

// Copies `source` (from another document) and what is below it into `document`.
Node* CloneInto(Document* document, const Node* source, int depth) {
  Node* copy = nullptr;
  if (source->kind() == NodeKind::kText) return document->CreateText(source->text);
  if (source->kind() == NodeKind::kComment) return document->CreateComment(source->text);
  copy = document->CreateElement(source->tag);
  for (const Attribute& attribute : source->attributes()) copy->SetAttr(attribute.name, attribute.value);
  if (depth < 256) {
    for (const Node* child : source->children) document->AppendChild(copy, CloneInto(document, child, depth + 1));
  }
  return copy;
}

std::wstring EscapeHtml(const std::wstring& text, bool attribute) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'&') out += L"&amp;";
    else if (c == L'<') out += L"&lt;";
    else if (c == L'>') out += L"&gt;";
    else if (c == L'"' && attribute) out += L"&quot;";
    else out += c;
  }
  return out;
}

void Serialize(const Node* node, std::wstring* out, int depth) {
  if (node->kind() == NodeKind::kText) {
    const bool raw = node->parent && (node->parent->tag == L"script" || node->parent->tag == L"style");
    *out += raw ? node->text : EscapeHtml(node->text, false);
    return;
  }
  if (node->kind() == NodeKind::kComment) {
    *out += L"<!--" + node->text + L"-->";
    return;
  }
  *out += L"<" + node->tag;
  for (const Attribute& attribute : node->attributes()) *out += L" " + attribute.name + L"=\"" + EscapeHtml(attribute.value, true) + L"\"";
  *out += L">";
  static const wchar_t* const kVoid[] = {L"br", L"img", L"input", L"hr", L"meta", L"link", L"area", L"base", L"col", L"wbr"};
  for (const wchar_t* name : kVoid) {
    if (node->tag == name) return;
  }
  if (depth < 256) {
    for (const Node* child : node->children) Serialize(child, out, depth + 1);
  }
  *out += L"</" + node->tag + L">";
}

duk_ret_t NGetHtml(duk_context* ctx) {
  std::wstring html;
  for (const Node* child : ElementArg(ctx, 0)->children) Serialize(child, &html, 0);
  PushString(ctx, html);
  return 1;
}

// innerHTML = "...": the markup parsed as body content (scripts in it do not run).
duk_ret_t NSetHtml(duk_context* ctx) {
  Node* element = ElementArg(ctx, 0);
  ScriptEngine* engine = EngineOf(ctx);
  Document fragment;
  ParseHtml(GetString(ctx, 1), L"innerHTML", &fragment,
            [engine](UINT subsystem, UINT severity, const std::wstring& text) {
              engine->DiagnoseIn(subsystem, severity, text);
            });
  Document* document = engine->document();
  Node* focused = engine->host()->FocusedElement();
  if (focused && element->IsAncestorOf(focused)) engine->host()->SetFocus(nullptr);
  const std::vector<int> uncached = DiscardChildren(document, element);
  if (Node* body = fragment.Body()) {
    for (const Node* child : body->children) document->AppendChild(element, CloneInto(document, child, 0));
  }
  Changed(ctx);
  PushIntArray(ctx, uncached);
  return 1;
}

duk_ret_t NCreateText(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->document()->CreateText(GetString(ctx, 0))));
  return 1;
}

duk_ret_t NInsert(duk_context* ctx) {
  Node* parent = ElementArg(ctx, 0);
  Node* child = NodeArg(ctx, 1);
  const int before_number = duk_to_int(ctx, 2);
  Node* before = before_number >= 0 ? NodeArg(ctx, 2) : nullptr;
  Document* document = EngineOf(ctx)->document();
  // A node taken out of a removed subtree may leave that subtree with no holder.
  Node* old_top = child->parent;
  while (old_top && old_top->parent) old_top = old_top->parent;
  if (!document->InsertBefore(parent, child, before)) {
    return duk_error(ctx, DUK_ERR_ERROR, "the node cannot be inserted there");
  }
  document->FreeIfUnreferenced(old_top);
  Changed(ctx);
  return 0;
}

duk_ret_t NRemove(duk_context* ctx) {
  Node* parent = NodeArg(ctx, 0);
  Node* child = NodeArg(ctx, 1);
  if (child->parent != parent) {
    duk_push_false(ctx);
    return 1;
  }
  ScriptEngine* engine = EngineOf(ctx);
  Node* focused = engine->host()->FocusedElement();
  if (focused && (focused == child || child->IsAncestorOf(focused))) engine->host()->SetFocus(nullptr);
  std::vector<int> uncached;
  CollectCachedWrappers(child, &uncached);
  engine->document()->Discard(child);
  Changed(ctx);
  PushIntArray(ctx, uncached);
  return 1;
}

// The script made a wrapper for the node (`cached`: its cache keeps it, as for nodes in
// the tree); the node stays while the wrapper lives.
duk_ret_t NRetain(duk_context* ctx) {
  Node* node = NodeArg(ctx, 0);
  ++node->script_refs;
  if (duk_to_boolean(ctx, 1)) node->wrapper_cached = true;
  return 0;
}

// A wrapper was finalized by the script's collector.
duk_ret_t NRelease(duk_context* ctx) {
  ScriptEngine* engine = EngineOf(ctx);
  if (engine->closing()) return 0;  // the heap goes first, then the document with all nodes
  Node* node = engine->document()->FindByNumber(duk_to_int(ctx, 0));
  if (!node || node->script_refs <= 0) return 0;
  --node->script_refs;
  engine->document()->FreeIfUnreferenced(node);
  return 0;
}

duk_ret_t NInTree(duk_context* ctx) {
  duk_push_boolean(ctx, EngineOf(ctx)->document()->InTree(NodeArg(ctx, 0)));
  return 1;
}

// A wrapper held by the script went back into the cache (its node was inserted again).
duk_ret_t NCached(duk_context* ctx) {
  NodeArg(ctx, 0)->wrapper_cached = true;
  return 0;
}

duk_ret_t NTakeFreed(duk_context* ctx) {
  PushIntArray(ctx, EngineOf(ctx)->document()->TakeFreedNumbers());
  return 1;
}

duk_ret_t NContains(duk_context* ctx) {
  Node* node = NodeArg(ctx, 0);
  Node* other = NodeArg(ctx, 1);
  duk_push_boolean(ctx, node == other || node->IsAncestorOf(other));
  return 1;
}

duk_ret_t NSetStyle(duk_context* ctx) {
  Node* element = ElementArg(ctx, 0);
  const std::wstring* old = element->Attr(L"style");
  const std::wstring updated = SetInlineStyleProperty(old ? *old : std::wstring(), GetString(ctx, 1), GetString(ctx, 2));
  if (updated.empty()) element->RemoveAttr(L"style");
  else element->SetAttr(L"style", updated);
  Changed(ctx);
  return 0;
}

duk_ret_t NGetStyle(duk_context* ctx) {
  const std::wstring* style = ElementArg(ctx, 0)->Attr(L"style");
  PushString(ctx, style ? GetInlineStyleProperty(*style, GetString(ctx, 1)) : std::wstring());
  return 1;
}

duk_ret_t NCssName(duk_context* ctx) {
  PushString(ctx, CssNameFromCamelCase(GetString(ctx, 0)));
  return 1;
}

duk_ret_t NGeometry(duk_context* ctx) {
  Node* element = ElementArg(ctx, 0);
  EngineOf(ctx)->host()->UpdateLayoutNow();
  const NodeGeometry& g = element->geometry;
  duk_idx_t array = duk_push_array(ctx);
  const float values[4] = {g.x, g.y, g.width, g.height};
  for (int i = 0; i < 4; ++i) {
    duk_push_number(ctx, values[i]);
    duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
  }
  return 1;
}

duk_ret_t NPixelRatio(duk_context* ctx) {
  duk_push_number(ctx, EngineOf(ctx)->host()->PixelRatio());
  return 1;
}

duk_ret_t NFocus(duk_context* ctx) {
  EngineOf(ctx)->host()->SetFocus(ElementArg(ctx, 0));
  return 0;
}

duk_ret_t NBlur(duk_context* ctx) {
  ScriptEngine* engine = EngineOf(ctx);
  if (engine->host()->FocusedElement() == ElementArg(ctx, 0)) engine->host()->SetFocus(nullptr);
  return 0;
}

duk_ret_t NActiveElement(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->host()->FocusedElement()));
  return 1;
}

duk_ret_t NRoot(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->document()->root()));
  return 1;
}

duk_ret_t NBody(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->document()->Body()));
  return 1;
}

duk_ret_t NHead(duk_context* ctx) {
  duk_push_int(ctx, NumberOf(EngineOf(ctx)->document()->FirstByTag(L"head")));
  return 1;
}

duk_ret_t NLog(duk_context* ctx) {
  const int severity = duk_to_int(ctx, 0);
  EngineOf(ctx)->Diagnose(severity == 2 ? OS_ERROR : severity == 1 ? OS_WARNING : OS_INFO,
                          L"console: " + GetString(ctx, 1));
  return 0;
}

duk_ret_t NSetTimer(duk_context* ctx) {
  const double milliseconds = duk_to_number(ctx, 1);
  const unsigned clamped = milliseconds < 1 ? 1u : milliseconds > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<unsigned>(milliseconds);
  EngineOf(ctx)->host()->StartTimer(duk_to_int(ctx, 0), clamped, duk_to_boolean(ctx, 2) != 0);
  return 0;
}

duk_ret_t NKillTimer(duk_context* ctx) {
  EngineOf(ctx)->host()->StopTimer(duk_to_int(ctx, 0));
  return 0;
}

duk_ret_t NClose(duk_context* ctx) {
  EngineOf(ctx)->host()->CloseView();
  return 0;
}

}  // namespace

// While the host runs a view.NAME call (which may run a modal loop), the script's clock stops.
class ScriptEngine::HostCallPause {
 public:
  explicit HostCallPause(ScriptEngine* engine) : engine_(engine), start_(GetTickCount64()), saved_(engine->deadline_) {
    engine_->deadline_ = 0;
  }
  ~HostCallPause() {
    engine_->deadline_ = saved_ ? saved_ + (GetTickCount64() - start_) : 0;
  }

 private:
  ScriptEngine* engine_;
  ULONGLONG start_;
  ULONGLONG saved_;
};

namespace {

duk_ret_t NCall(duk_context* ctx) {
  ScriptEngine* engine = EngineOf(ctx);
  const std::wstring name = GetString(ctx, 0);
  std::vector<Value> args;
  if (duk_is_array(ctx, 1)) {
    const duk_size_t count = duk_get_length(ctx, 1);
    for (duk_size_t i = 0; i < count && i < 64; ++i) {
      duk_get_prop_index(ctx, 1, static_cast<duk_uarridx_t>(i));
      args.push_back(GetValue(ctx, -1));
      duk_pop(ctx);
    }
  }
  Value result;
  bool handled;
  {
    ScriptEngine::HostCallPause pause(engine);
    handled = engine->host()->CallHostFunction(WideToUtf8(name), args, &result);
  }
  if (!handled) {
    return duk_error(ctx, DUK_ERR_REFERENCE_ERROR, "view.%s: no such host function", WideToUtf8(name).c_str());
  }
  PushValue(ctx, result);
  return 1;
}

// The function of an onNAME="..." attribute, compiled once per element and text.
duk_ret_t NAttributeHandler(duk_context* ctx) {
  Node* element = ElementArg(ctx, 0);
  const std::wstring attribute = AsciiLower(GetString(ctx, 1));
  const std::wstring* code = element->Attr(attribute);
  if (!code) return 0;
  const std::string key = std::to_string(element->number()) + ":" + WideToUtf8(attribute) + ":" + WideToUtf8(*code);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kHandlersKey);
  if (duk_get_prop_lstring(ctx, -1, key.data(), key.size())) return 1;
  duk_pop(ctx);
  const std::string source = "(function (event) {\n" + WideToUtf8(*code) + "\n})";
  const std::string file = "<" + WideToUtf8(element->tag) + " " + WideToUtf8(attribute) + ">";
  duk_push_string(ctx, file.c_str());
  if (duk_pcompile_lstring_filename(ctx, DUK_COMPILE_EVAL, source.data(), source.size()) != 0) {
    EngineOf(ctx)->ReportError(L"");
    return 0;
  }
  if (duk_pcall(ctx, 0) != 0) {
    EngineOf(ctx)->ReportError(L"");
    return 0;
  }
  duk_dup_top(ctx);
  duk_put_prop_lstring(ctx, -3, key.data(), key.size());
  return 1;
}

duk_ret_t NReportError(duk_context* ctx) {
  duk_dup(ctx, 0);
  EngineOf(ctx)->ReportError(duk_is_string(ctx, 1) ? GetString(ctx, 1) : std::wstring());
  return 0;
}

struct NativeFunction {
  const char* name;
  duk_c_function function;
  duk_idx_t arguments;
};

constexpr NativeFunction kNatives[] = {
    {"isElement", NIsElement, 1}, {"nodeType", NNodeType, 1}, {"parent", NParent, 1},
    {"children", NChildren, 2},   {"sibling", NSibling, 2},   {"tag", NTag, 1},
    {"getText", NGetText, 1},     {"setText", NSetText, 2},   {"getAttr", NGetAttr, 2},
    {"setAttr", NSetAttr, 3},     {"removeAttr", NRemoveAttr, 2}, {"classOp", NClassOp, 3},
    {"query", NQuery, 3},         {"byId", NById, 1},         {"create", NCreate, 1},
    {"createText", NCreateText, 1}, {"getHtml", NGetHtml, 1}, {"setHtml", NSetHtml, 2}, {"insert", NInsert, 3},   {"remove", NRemove, 2},
    {"contains", NContains, 2},   {"setStyle", NSetStyle, 3}, {"getStyle", NGetStyle, 2},
    {"cssName", NCssName, 1},     {"geometry", NGeometry, 1}, {"pixelRatio", NPixelRatio, 0}, {"focus", NFocus, 1},
    {"blur", NBlur, 1},           {"activeElement", NActiveElement, 0}, {"root", NRoot, 0},
    {"body", NBody, 0},           {"head", NHead, 0},         {"log", NLog, 2},
    {"setTimer", NSetTimer, 3},   {"killTimer", NKillTimer, 1}, {"close", NClose, 0},
    {"call", NCall, 2},           {"attributeHandler", NAttributeHandler, 2},
    {"reportError", NReportError, 2},
    {"retain", NRetain, 2},       {"release", NRelease, 1},   {"inTree", NInTree, 1},
    {"cached", NCached, 1},       {"takeFreed", NTakeFreed, 0},
};

// The heap's allocator: each block carries its size in front, so the account knows what a
// free or a resize gives back.
constexpr size_t kBlockHeader = 16;  // keeps the blocks' alignment

void* CappedAlloc(void* udata, duk_size_t size) {
  auto* heap = static_cast<ScriptEngine::HeapAccount*>(udata);
  if (size == 0) return nullptr;
  if (heap->enforced && (size > heap->limit || heap->used > heap->limit - size)) return nullptr;
  char* block = static_cast<char*>(std::malloc(size + kBlockHeader));
  if (!block) return nullptr;
  *reinterpret_cast<size_t*>(block) = size;
  heap->used += size;
  return block + kBlockHeader;
}

void CappedFree(void* udata, void* pointer) {
  if (!pointer) return;
  char* block = static_cast<char*>(pointer) - kBlockHeader;
  static_cast<ScriptEngine::HeapAccount*>(udata)->used -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}

void* CappedRealloc(void* udata, void* pointer, duk_size_t size) {
  auto* heap = static_cast<ScriptEngine::HeapAccount*>(udata);
  if (!pointer) return CappedAlloc(udata, size);
  if (size == 0) {
    CappedFree(udata, pointer);
    return nullptr;
  }
  char* block = static_cast<char*>(pointer) - kBlockHeader;
  const size_t old_size = *reinterpret_cast<size_t*>(block);
  if (heap->enforced && size > old_size &&
      (size - old_size > heap->limit || heap->used > heap->limit - (size - old_size))) {
    return nullptr;
  }
  char* grown = static_cast<char*>(std::realloc(block, size + kBlockHeader));
  if (!grown) return nullptr;
  *reinterpret_cast<size_t*>(grown) = size;
  heap->used = heap->used - old_size + size;
  return grown + kBlockHeader;
}

void FatalError(void* udata, const char* message) {
  // Only reached when an error escapes every protected call: a bug in this engine.
  ScriptEngine* engine = static_cast<ScriptEngine::HeapAccount*>(udata)->engine;
  if (engine) engine->Diagnose(OS_ERROR, L"script engine failure: " + Utf8ToWide(message, strlen(message)));
  std::abort();
}

}  // namespace

// Every entry from the engine into script: starts the clock (or a nested one) and restores
// the outer deadline afterwards.
class ScriptEngine::Entry {
 public:
  explicit Entry(ScriptEngine* engine) : engine_(engine), saved_(engine->deadline_) {
    engine_->deadline_ = GetTickCount64() + engine_->time_limit_;
    if (engine_->depth_++ == 0) engine_->timed_out_reported_ = false;
    top_ = duk_get_top(engine_->context_);
  }
  ~Entry() {
    duk_set_top(engine_->context_, top_);
    engine_->deadline_ = saved_;
    --engine_->depth_;
  }

 private:
  ScriptEngine* engine_;
  ULONGLONG saved_;
  duk_idx_t top_;
};

// The heap budget holds while page code runs, inside the protected call only: the engine's
// own work around it (arguments, error reports) must never meet a failed allocation.
class ScriptEngine::Enforced {
 public:
  explicit Enforced(ScriptEngine* engine) : heap_(engine->heap_), saved_(heap_.enforced) { heap_.enforced = true; }
  ~Enforced() { heap_.enforced = saved_; }

 private:
  HeapAccount& heap_;
  bool saved_;
};

ScriptEngine::ScriptEngine(Document* document, ScriptHost* host, DiagnosticSink sink, UINT features)
    : document_(document), host_(host), sink_(std::move(sink)) {
  heap_.engine = this;
  context_ = duk_create_heap(CappedAlloc, CappedRealloc, CappedFree, &heap_, FatalError);
  if (!context_) {
    Diagnose(OS_ERROR, L"the script engine could not start (out of memory)");
    return;
  }
  InstallBootstrap(features);
}

ScriptEngine::~ScriptEngine() {
  closing_ = true;  // the heap's last finalizers must not free nodes
  if (context_) duk_destroy_heap(context_);
}

void ScriptEngine::Diagnose(UINT severity, const std::wstring& text) {
  Report(sink_, OT_TIS, severity, text);
}

void ScriptEngine::DiagnoseIn(UINT subsystem, UINT severity, const std::wstring& text) {
  Report(sink_, subsystem, severity, text);
}

bool ScriptEngine::TimeIsUp() {
  if (deadline_ == 0 || GetTickCount64() <= deadline_) return false;
  if (!timed_out_reported_) {
    timed_out_reported_ = true;
    Diagnose(OS_ERROR, L"script stopped: it ran longer than " + std::to_wstring(time_limit_) + L" ms");
  }
  return true;
}

void ScriptEngine::ReportError(const std::wstring& context) {
  duk_context* ctx = context_;
  std::wstring message;
  if (duk_is_error(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "fileName");
    const std::wstring file = duk_is_string(ctx, -1) ? GetString(ctx, -1) : std::wstring();
    duk_pop(ctx);
    duk_get_prop_string(ctx, -1, "lineNumber");
    const int line = duk_is_number(ctx, -1) ? duk_get_int(ctx, -1) : 0;
    duk_pop(ctx);
    if (!file.empty()) message = file + (line > 0 ? L"(" + std::to_wstring(line) + L")" : L"") + L": ";
    duk_dup_top(ctx);
    message += GetString(ctx, -1);
    duk_pop(ctx);
  } else {
    duk_dup_top(ctx);
    message = L"uncaught " + GetString(ctx, -1);
    duk_pop(ctx);
  }
  if (!context.empty()) message += L" (in " + context + L")";
  Diagnose(OS_ERROR, message);
}

void ScriptEngine::InstallBootstrap(UINT features) {
  Entry entry(this);
  duk_context* ctx = context_;
  duk_push_global_stash(ctx);
  duk_push_object(ctx);
  duk_put_prop_string(ctx, -2, kHandlersKey);
  duk_idx_t natives = duk_push_object(ctx);
  for (const NativeFunction& native : kNatives) {
    duk_push_c_function(ctx, native.function, native.arguments);
    duk_put_prop_string(ctx, natives, native.name);
  }
  duk_dup(ctx, natives);
  duk_put_prop_string(ctx, -3, kNativesKey);
  // Stack: stash natives.
  duk_push_string(ctx, "<engine>");
  if (duk_pcompile_lstring_filename(ctx, DUK_COMPILE_EVAL, kScriptBootstrap, kScriptBootstrapLength) != 0 ||
      duk_pcall(ctx, 0) != 0) {
    ReportError(L"engine bootstrap");
    return;
  }
  duk_push_global_object(ctx);
  duk_dup(ctx, natives);
  duk_push_boolean(ctx, (features & ALLOW_EVAL) != 0);
  if (duk_pcall(ctx, 3) != 0) ReportError(L"engine bootstrap");
}

bool ScriptEngine::Run(const std::wstring& code, const std::wstring& file_name) {
  if (!context_) return false;
  Entry entry(this);
  const std::string source = WideToUtf8(code);
  PushString(context_, file_name);
  if (duk_pcompile_lstring_filename(context_, 0, source.data(), source.size()) != 0) {
    ReportError(L"");
    return false;
  }
  int failed = 0;
  {
    Enforced enforced(this);
    failed = duk_pcall(context_, 0);
  }
  if (failed != 0) {
    ReportError(L"");
    return false;
  }
  return true;
}

namespace {

struct GlobalCall {
  const std::string* dotted_name;
  const std::vector<Value>* args;
  Value* result;
  bool found;
};

// Inside duk_safe_call: walking the name can run getters and converting the result can run
// toString, and either may throw (or hit the time limit); a throw here lands in the safe
// call, never in the fatal handler.
duk_ret_t CallGlobalProtected(duk_context* ctx, void* udata) {
  GlobalCall* call = static_cast<GlobalCall*>(udata);
  const std::string& dotted_name = *call->dotted_name;
  duk_push_global_object(ctx);  // the holder
  duk_push_global_object(ctx);  // the current object
  size_t start = 0;
  for (;;) {
    const size_t dot = dotted_name.find('.', start);
    const std::string part = dotted_name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty() || !duk_is_object(ctx, -1)) return 0;
    duk_get_prop_lstring(ctx, -1, part.data(), part.size());
    duk_remove(ctx, -3);  // the old holder; the object becomes the holder
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (!duk_is_function(ctx, -1)) return 0;
  call->found = true;
  duk_swap(ctx, -1, -2);  // function, this
  for (const Value& arg : *call->args) PushValue(ctx, arg);
  duk_call_method(ctx, static_cast<duk_idx_t>(call->args->size()));
  if (call->result) *call->result = GetValue(ctx, -1);
  return 0;
}

}  // namespace

bool ScriptEngine::CallGlobal(const std::string& dotted_name, const std::vector<Value>& args, Value* result) {
  if (!context_ || dotted_name.empty()) return false;
  Entry entry(this);
  GlobalCall call = {&dotted_name, &args, result, false};
  const std::wstring name = Utf8ToWide(dotted_name.data(), dotted_name.size());
  duk_int_t called = DUK_EXEC_SUCCESS;
  {
    Enforced enforced(this);
    called = duk_safe_call(context_, CallGlobalProtected, &call, 0, 1);
  }
  if (called != DUK_EXEC_SUCCESS) {
    ReportError(name);
    return false;
  }
  if (!call.found) {
    Diagnose(OS_WARNING, L"no script function " + name);
    return false;
  }
  return true;
}

bool ScriptEngine::DispatchEvent(Node* target, const std::wstring& type, const EventDetails& details) {
  if (!context_) return false;
  Entry entry(this);
  duk_context* ctx = context_;
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kNativesKey);
  duk_get_prop_string(ctx, -1, "dispatch");
  if (!duk_is_function(ctx, -1)) return false;
  duk_push_int(ctx, NumberOf(target));
  PushString(ctx, type);
  duk_idx_t info = duk_push_object(ctx);
  duk_push_int(ctx, details.key_code);
  duk_put_prop_string(ctx, info, "keyCode");
  PushString(ctx, details.key);
  duk_put_prop_string(ctx, info, "key");
  duk_push_boolean(ctx, details.shift);
  duk_put_prop_string(ctx, info, "shift");
  duk_push_boolean(ctx, details.ctrl);
  duk_put_prop_string(ctx, info, "ctrl");
  duk_push_boolean(ctx, details.alt);
  duk_put_prop_string(ctx, info, "alt");
  duk_push_int(ctx, details.client_x);
  duk_put_prop_string(ctx, info, "x");
  duk_push_int(ctx, details.client_y);
  duk_put_prop_string(ctx, info, "y");
  duk_push_int(ctx, details.button);
  duk_put_prop_string(ctx, info, "button");
  int failed = 0;
  {
    Enforced enforced(this);
    failed = duk_pcall(ctx, 3);
  }
  if (failed != 0) {
    ReportError(type + L" event");
    return false;
  }
  return duk_to_boolean(ctx, -1) != 0;
}

void ScriptEngine::FireTimer(int id) {
  if (!context_) return;
  Entry entry(this);
  duk_context* ctx = context_;
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kNativesKey);
  duk_get_prop_string(ctx, -1, "fireTimer");
  if (!duk_is_function(ctx, -1)) return;
  duk_push_int(ctx, id);
  int failed = 0;
  {
    Enforced enforced(this);
    failed = duk_pcall(ctx, 1);
  }
  if (failed != 0) ReportError(L"timer");
}

}  // namespace sciter_engine
