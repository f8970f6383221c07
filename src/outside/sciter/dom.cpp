#include "dom.h"

#include <algorithm>

namespace sciter_engine {

std::wstring AsciiLower(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower;
}

bool IsHtmlSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}

std::wstring TrimHtmlSpace(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsHtmlSpace(text[begin])) ++begin;
  while (end > begin && IsHtmlSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

const std::wstring* Node::Attr(const std::wstring& name) const {
  for (const Attribute& attribute : attributes_) {
    if (attribute.name == name) return &attribute.value;
  }
  return nullptr;
}

void Node::SetAttr(const std::wstring& name, const std::wstring& value) {
  for (Attribute& attribute : attributes_) {
    if (attribute.name == name) {
      attribute.value = value;
      return;
    }
  }
  attributes_.push_back({name, value});
}

void Node::RemoveAttr(const std::wstring& name) {
  attributes_.erase(std::remove_if(attributes_.begin(), attributes_.end(),
                                   [&](const Attribute& a) { return a.name == name; }),
                    attributes_.end());
}

namespace {

std::vector<std::wstring> SplitWords(const std::wstring& text) {
  std::vector<std::wstring> words;
  std::wstring word;
  for (wchar_t c : text) {
    if (IsHtmlSpace(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::wstring JoinWords(const std::vector<std::wstring>& words) {
  std::wstring joined;
  for (const std::wstring& word : words) {
    if (!joined.empty()) joined += L' ';
    joined += word;
  }
  return joined;
}

}  // namespace

bool Node::HasClass(const std::wstring& name) const {
  const std::wstring* classes = Attr(L"class");
  if (!classes || name.empty()) return false;
  const std::vector<std::wstring> words = SplitWords(*classes);
  return std::find(words.begin(), words.end(), name) != words.end();
}

void Node::AddClass(const std::wstring& name) {
  if (name.empty() || HasClass(name)) return;
  const std::wstring* classes = Attr(L"class");
  std::vector<std::wstring> words = classes ? SplitWords(*classes) : std::vector<std::wstring>();
  words.push_back(name);
  SetAttr(L"class", JoinWords(words));
}

void Node::RemoveClass(const std::wstring& name) {
  const std::wstring* classes = Attr(L"class");
  if (!classes) return;
  std::vector<std::wstring> words = SplitWords(*classes);
  words.erase(std::remove(words.begin(), words.end(), name), words.end());
  SetAttr(L"class", JoinWords(words));
}

std::wstring Node::TextContent() const {
  if (kind_ == NodeKind::kText) return text;
  if (kind_ == NodeKind::kComment) return std::wstring();
  // Iterative: a script may nest elements deeper than the stack would allow.
  std::wstring all;
  std::vector<const Node*> pending(children.rbegin(), children.rend());
  while (!pending.empty()) {
    const Node* node = pending.back();
    pending.pop_back();
    if (node->kind_ == NodeKind::kText) all += node->text;
    pending.insert(pending.end(), node->children.rbegin(), node->children.rend());
  }
  return all;
}

bool Node::IsAncestorOf(const Node* other) const {
  for (const Node* n = other ? other->parent : nullptr; n; n = n->parent) {
    if (n == this) return true;
  }
  return false;
}

std::vector<Node*> Node::ElementChildren() const {
  std::vector<Node*> elements;
  for (Node* child : children) {
    if (child->IsElement()) elements.push_back(child);
  }
  return elements;
}

Document::Document() = default;

Node* Document::Make(NodeKind kind) {
  const int number = next_number_++;
  return (nodes_[number] = std::make_unique<Node>(kind, number)).get();
}

Node* Document::CreateElement(const std::wstring& tag) {
  Node* node = Make(NodeKind::kElement);
  node->tag = AsciiLower(tag);
  return node;
}

Node* Document::CreateText(const std::wstring& text) {
  Node* node = Make(NodeKind::kText);
  node->text = text;
  return node;
}

Node* Document::CreateComment(const std::wstring& text) {
  Node* node = Make(NodeKind::kComment);
  node->text = text;
  return node;
}

void Document::Detach(Node* child) {
  if (!child || !child->parent) return;
  std::vector<Node*>& siblings = child->parent->children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
  child->parent = nullptr;
  Touch();
}

void Document::Discard(Node* child) {
  if (!child) return;
  Detach(child);
  FreeIfUnreferenced(child);
}

bool Document::InTree(const Node* node) const {
  while (node && node->parent) node = node->parent;
  return node && node == root_;
}

void Document::FreeIfUnreferenced(Node* node) {
  if (!node || !root_) return;  // no tree yet: the parser is still building it
  Node* top = node;
  while (top->parent) top = top->parent;
  if (top == root_) return;
  // Iterative walks: a script may nest nodes deeper than the stack would allow.
  std::vector<Node*> subtree;
  std::vector<Node*> pending = {top};
  while (!pending.empty()) {
    Node* current = pending.back();
    pending.pop_back();
    if (current->script_refs > 0) return;
    subtree.push_back(current);
    pending.insert(pending.end(), current->children.begin(), current->children.end());
  }
  for (Node* freed : subtree) {
    if (free_listener_) free_listener_(freed);
    freed_numbers_.push_back(freed->number());
  }
  for (Node* freed : subtree) nodes_.erase(freed->number());
}

std::vector<int> Document::TakeFreedNumbers() {
  std::vector<int> numbers;
  numbers.swap(freed_numbers_);
  return numbers;
}

bool Document::AppendChild(Node* parent, Node* child) {
  return InsertBefore(parent, child, nullptr);
}

bool Document::InsertBefore(Node* parent, Node* child, Node* before) {
  if (!parent || !child || parent == child || child->IsAncestorOf(parent) ||
      !parent->IsElement()) {
    return false;
  }
  if (before && before->parent != parent) return false;
  Detach(child);
  auto position = before ? std::find(parent->children.begin(), parent->children.end(), before)
                         : parent->children.end();
  parent->children.insert(position, child);
  child->parent = parent;
  Touch();
  return true;
}

Node* Document::Body() const {
  Node* body = FirstByTag(L"body");
  return body ? body : root_;
}

std::vector<Node*> Document::Elements(const Node* from) const {
  std::vector<Node*> found;
  if (!from) return found;
  // Iterative walk: pages nest deeply when their markup is broken.
  std::vector<const Node*> pending(from->children.rbegin(), from->children.rend());
  while (!pending.empty()) {
    const Node* node = pending.back();
    pending.pop_back();
    if (!node->IsElement()) continue;
    found.push_back(const_cast<Node*>(node));
    pending.insert(pending.end(), node->children.rbegin(), node->children.rend());
  }
  return found;
}

Node* Document::FindById(const std::wstring& id) const {
  if (!root_ || id.empty()) return nullptr;
  if (const std::wstring* own = root_->Attr(L"id"); own && *own == id) return root_;
  for (Node* node : Elements(root_)) {
    const std::wstring* value = node->Attr(L"id");
    if (value && *value == id) return node;
  }
  return nullptr;
}

Node* Document::FindByNumber(int number) const {
  auto found = nodes_.find(number);
  return found == nodes_.end() ? nullptr : found->second.get();
}

Node* Document::FirstByTag(const std::wstring& tag) const {
  if (!root_) return nullptr;
  if (root_->tag == tag) return root_;
  for (Node* node : Elements(root_)) {
    if (node->tag == tag) return node;
  }
  return nullptr;
}

}  // namespace sciter_engine
