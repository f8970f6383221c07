// The document tree the markup parser builds and the script changes: elements with their
// attributes, text and comments. The document owns its nodes (numbered, never renumbered,
// numbers never reused). A subtree out of the tree is freed as soon as no script wrapper
// holds one of its nodes: at once when it is removed, or when the script's collector
// finalizes the last wrapper.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sciter_engine {

struct ComputedStyle;
struct Image;

enum class NodeKind { kElement, kText, kComment };

// Interaction states the style sheet can select on.
enum ElementState : unsigned {
  kStateHover = 1,
  kStateFocus = 2,
  kStateActive = 4,
};

struct Attribute {
  std::wstring name;  // lower case
  std::wstring value;
};

// Where layout put an element, in device pixels relative to the document's top left.
struct NodeGeometry {
  bool laid_out = false;
  float x = 0, y = 0, width = 0, height = 0;  // border box
};

class Node {
 public:
  Node(NodeKind kind, int number) : kind_(kind), number_(number) {}

  NodeKind kind() const { return kind_; }
  bool IsElement() const { return kind_ == NodeKind::kElement; }
  // Unique within the document; the script refers to nodes by it.
  int number() const { return number_; }

  std::wstring tag;   // elements: lower case
  std::wstring text;  // text and comment nodes

  Node* parent = nullptr;
  std::vector<Node*> children;

  const std::wstring* Attr(const std::wstring& name) const;
  void SetAttr(const std::wstring& name, const std::wstring& value);
  void RemoveAttr(const std::wstring& name);
  const std::vector<Attribute>& attributes() const { return attributes_; }

  // class="" as a list of words.
  bool HasClass(const std::wstring& name) const;
  void AddClass(const std::wstring& name);
  void RemoveClass(const std::wstring& name);

  // All text below this node, in document order.
  std::wstring TextContent() const;
  bool IsAncestorOf(const Node* other) const;
  // Element children only.
  std::vector<Node*> ElementChildren() const;

  unsigned state = 0;  // ElementState bits
  // Script wrappers alive for this node: while there is one, the node is not freed.
  int script_refs = 0;
  // The script's wrapper cache holds one of them (only for nodes in the tree).
  bool wrapper_cached = false;
  NodeGeometry geometry;
  // Filled by the cascade; null for elements not styled yet.
  std::shared_ptr<const ComputedStyle> style;
  // <img>: the decoded picture, null when there is none.
  std::shared_ptr<const Image> image;
  // The picture of its background-image style, null when there is none.
  std::shared_ptr<const Image> background_image;

 private:
  NodeKind kind_;
  int number_;
  std::vector<Attribute> attributes_;
};

class Document {
 public:
  Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Node* CreateElement(const std::wstring& tag);
  Node* CreateText(const std::wstring& text);
  Node* CreateComment(const std::wstring& text);

  // Tree changes; each detaches `child` from its old parent first. False for a change that
  // would make a node its own ancestor.
  bool AppendChild(Node* parent, Node* child);
  bool InsertBefore(Node* parent, Node* child, Node* before);
  void Detach(Node* child);
  // Detaches `child` and frees its subtree unless a script wrapper holds one of its nodes.
  void Discard(Node* child);
  // Frees the tree `node` is in when that tree is out of the document and no script wrapper
  // holds a node of it.
  void FreeIfUnreferenced(Node* node);
  // Whether `node` is in the document's tree (the root is).
  bool InTree(const Node* node) const;
  // Told about each node just before it is freed (the window forgets its pointers to it).
  void SetFreeListener(std::function<void(Node*)> listener) { free_listener_ = std::move(listener); }
  // Numbers of the nodes freed since the last call (the script drops what it kept for them).
  std::vector<int> TakeFreedNumbers();
  // Nodes alive now.
  size_t NodeCount() const { return nodes_.size(); }

  // The <html> element (made by the parser when the page has none).
  Node* root() const { return root_; }
  void set_root(Node* root) { root_ = root; }
  // <body>, or the root when there is none.
  Node* Body() const;
  Node* FindById(const std::wstring& id) const;
  Node* FindByNumber(int number) const;
  // Elements in document order below (not including) `from`.
  std::vector<Node*> Elements(const Node* from) const;
  // The first element with the tag, in document order.
  Node* FirstByTag(const std::wstring& tag) const;

  // Grows with every change to the tree, attributes or states; layout compares it.
  unsigned long long version() const { return version_; }
  void Touch() { ++version_; }

 private:
  Node* Make(NodeKind kind);

  std::unordered_map<int, std::unique_ptr<Node>> nodes_;  // by number
  int next_number_ = 0;
  std::vector<int> freed_numbers_;
  std::function<void(Node*)> free_listener_;
  Node* root_ = nullptr;
  unsigned long long version_ = 1;
};

// Lower-cases ASCII letters (tags, attribute names, keywords).
std::wstring AsciiLower(const std::wstring& text);
bool IsHtmlSpace(wchar_t c);
// `text` without the HTML white space at either end.
std::wstring TrimHtmlSpace(const std::wstring& text);

}  // namespace sciter_engine
