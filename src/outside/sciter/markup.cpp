#include "markup.h"

#include <algorithm>
#include <cwctype>

namespace sciter_engine {

namespace {

// Deeper nesting than this is flattened: layout and painting recurse over the tree.
constexpr size_t kMaxDepth = 200;

bool IsVoidElement(const std::wstring& tag) {
  static const wchar_t* const kVoid[] = {L"area", L"base", L"br",    L"col",  L"embed",
                                         L"hr",   L"img",  L"input", L"link", L"meta",
                                         L"param", L"source", L"track", L"wbr"};
  for (const wchar_t* name : kVoid) {
    if (tag == name) return true;
  }
  return false;
}

// Elements whose content is raw text up to their end tag.
bool IsRawTextElement(const std::wstring& tag) {
  return tag == L"script" || tag == L"style" || tag == L"textarea" || tag == L"title";
}

// Start tags that end an open <p>, as in HTML.
bool ClosesParagraph(const std::wstring& tag) {
  static const wchar_t* const kBlocks[] = {
      L"address", L"article", L"aside", L"blockquote", L"div", L"dl", L"fieldset", L"footer",
      L"form", L"h1", L"h2", L"h3", L"h4", L"h5", L"h6", L"header", L"hr", L"menu", L"nav",
      L"ol", L"p", L"pre", L"section", L"table", L"ul"};
  for (const wchar_t* name : kBlocks) {
    if (tag == name) return true;
  }
  return false;
}

// Elements whose end tag may be left out without a warning.
bool EndTagOptional(const std::wstring& tag) {
  return tag == L"p" || tag == L"li" || tag == L"html" || tag == L"body" || tag == L"head" ||
         tag == L"option" || tag == L"td" || tag == L"th" || tag == L"tr" || tag == L"dt" ||
         tag == L"dd";
}

bool IsNameChar(wchar_t c) {
  return !IsHtmlSpace(c) && c != L'>' && c != L'/' && c != L'=' && c != L'<' && c != L'"' &&
         c != L'\'' && c != 0;
}

struct NamedEntity {
  const wchar_t* name;
  wchar_t value;
};
constexpr NamedEntity kEntities[] = {
    {L"amp", L'&'},     {L"lt", L'<'},      {L"gt", L'>'},      {L"quot", L'"'},
    {L"apos", L'\''},   {L"nbsp", 0x00A0},  {L"copy", 0x00A9},  {L"reg", 0x00AE},
    {L"trade", 0x2122}, {L"hellip", 0x2026}, {L"mdash", 0x2014}, {L"ndash", 0x2013},
    {L"laquo", 0x00AB}, {L"raquo", 0x00BB}, {L"times", 0x00D7}, {L"middot", 0x00B7},
    {L"bull", 0x2022},  {L"euro", 0x20AC},  {L"deg", 0x00B0}};

void AppendCodePoint(unsigned long code, std::wstring* out) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    *out += static_cast<wchar_t>(0xFFFD);
  } else if (code >= 0x10000) {
    code -= 0x10000;
    *out += static_cast<wchar_t>(0xD800 + (code >> 10));
    *out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
  } else {
    *out += static_cast<wchar_t>(code);
  }
}

class Parser {
 public:
  Parser(const std::wstring& html, const std::wstring& source, Document* document,
         const DiagnosticSink& sink)
      : text_(html), source_(source), doc_(document), sink_(sink) {}

  void Run() {
    Node* top = doc_->CreateElement(L"#top");  // holds the top level until the root is known
    stack_.push_back(top);
    while (pos_ < text_.size()) {
      if (text_[pos_] == L'<') {
        ParseMarkup();
      } else {
        ParseText();
      }
    }
    for (size_t i = stack_.size(); i-- > 1;) {
      if (!EndTagOptional(stack_[i]->tag)) {
        Warn(L"<" + stack_[i]->tag + L"> is not closed at the end of the page");
      }
    }
    BuildRoot(top);
  }

 private:
  void Warn(const std::wstring& message) { Diagnose(OS_WARNING, message); }
  void Diagnose(UINT severity, const std::wstring& message) {
    Report(sink_, OT_DOM, severity,
           source_ + L"(" + std::to_wstring(line_) + L"): " + message);
  }

  void Advance(size_t count) {
    for (size_t i = 0; i < count && pos_ < text_.size(); ++i, ++pos_) {
      if (text_[pos_] == L'\n') ++line_;
    }
  }

  bool StartsWithAt(size_t at, const wchar_t* prefix, bool ignore_case) const {
    for (size_t i = 0; prefix[i]; ++i) {
      if (at + i >= text_.size()) return false;
      wchar_t c = text_[at + i];
      if (ignore_case) c = static_cast<wchar_t>(std::towlower(c));
      if (c != prefix[i]) return false;
    }
    return true;
  }

  Node* Current() const { return stack_.back(); }

  void AppendNode(Node* node) {
    doc_->AppendChild(Current(), node);
  }

  void ParseText() {
    const size_t start = pos_;
    size_t end = text_.find(L'<', pos_);
    if (end == std::wstring::npos) end = text_.size();
    const std::wstring raw = text_.substr(start, end - start);
    Advance(end - start);
    std::wstring unknown;
    const std::wstring decoded = DecodeEntities(raw, &unknown);
    if (!unknown.empty()) Warn(L"unknown character reference &" + unknown + L";");
    AppendText(decoded);
  }

  void AppendText(const std::wstring& text) {
    if (text.empty()) return;
    Node* parent = Current();
    if (!parent->children.empty() && parent->children.back()->kind() == NodeKind::kText) {
      parent->children.back()->text += text;
      return;
    }
    AppendNode(doc_->CreateText(text));
  }

  void ParseMarkup() {
    if (StartsWithAt(pos_, L"<!--", false)) {
      const size_t end = text_.find(L"-->", pos_ + 4);
      if (end == std::wstring::npos) {
        Diagnose(OS_ERROR, L"comment is not closed; the rest of the page is ignored");
        AppendNode(doc_->CreateComment(text_.substr(pos_ + 4)));
        Advance(text_.size());
        return;
      }
      AppendNode(doc_->CreateComment(text_.substr(pos_ + 4, end - pos_ - 4)));
      Advance(end + 3 - pos_);
      return;
    }
    if (StartsWithAt(pos_, L"<!", false) || StartsWithAt(pos_, L"<?", false)) {
      // <!DOCTYPE ...>, <![CDATA[...]]>, processing instructions: nothing for the tree.
      const size_t end = text_.find(L'>', pos_);
      if (end == std::wstring::npos) {
        Warn(L"declaration is not closed");
        Advance(text_.size());
      } else {
        Advance(end + 1 - pos_);
      }
      return;
    }
    if (StartsWithAt(pos_, L"</", false)) {
      ParseEndTag();
      return;
    }
    if (pos_ + 1 < text_.size() && std::iswalpha(text_[pos_ + 1])) {
      ParseStartTag();
      return;
    }
    // A lone "<" is text.
    Advance(1);
    AppendText(L"<");
  }

  std::wstring ReadName() {
    std::wstring name;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) {
      name += text_[pos_];
      Advance(1);
    }
    return AsciiLower(name);
  }

  void SkipSpaces() {
    while (pos_ < text_.size() && IsHtmlSpace(text_[pos_])) Advance(1);
  }

  void ParseEndTag() {
    Advance(2);
    const std::wstring tag = ReadName();
    const size_t close = text_.find(L'>', pos_);
    if (close == std::wstring::npos) {
      Warn(L"end tag </" + tag + L" is not closed");
      Advance(text_.size());
    } else {
      Advance(close + 1 - pos_);
    }
    if (tag.empty()) {
      Warn(L"end tag without a name");
      return;
    }
    for (size_t i = stack_.size(); i-- > 1;) {
      if (stack_[i]->tag == tag) {
        for (size_t j = stack_.size() - 1; j > i; --j) {
          if (!EndTagOptional(stack_[j]->tag)) {
            Warn(L"<" + stack_[j]->tag + L"> closed by </" + tag + L">");
          }
        }
        stack_.resize(i);
        return;
      }
    }
    if (tag != L"br" && tag != L"p") Warn(L"stray end tag </" + tag + L"> ignored");
  }

  void ParseStartTag() {
    const int tag_line = line_;
    Advance(1);
    const std::wstring tag = ReadName();
    Node* element = doc_->CreateElement(tag);
    bool self_closing = false;
    bool closed = false;
    while (pos_ < text_.size()) {
      SkipSpaces();
      if (pos_ >= text_.size()) break;
      const wchar_t c = text_[pos_];
      if (c == L'>') {
        Advance(1);
        closed = true;
        break;
      }
      if (c == L'/') {
        Advance(1);
        if (pos_ < text_.size() && text_[pos_] == L'>') {
          Advance(1);
          self_closing = true;
          closed = true;
          break;
        }
        continue;
      }
      if (c == L'<') break;  // a tag without its ">": let the next one start here
      std::wstring name = ReadName();
      if (name.empty()) {  // a stray quote or "="
        Warn(L"unexpected '" + std::wstring(1, c) + L"' in <" + tag + L">");
        Advance(1);
        continue;
      }
      std::wstring value;
      SkipSpaces();
      if (pos_ < text_.size() && text_[pos_] == L'=') {
        Advance(1);
        SkipSpaces();
        value = ReadAttributeValue(tag);
      }
      if (element->Attr(name)) {
        Warn(L"attribute " + name + L" repeated in <" + tag + L">; the first one counts");
      } else {
        element->SetAttr(name, value);
      }
    }
    if (!closed) {
      line_ = tag_line;
      Warn(L"<" + tag + L"> is not closed with '>'");
    }
    OpenElement(element, self_closing || IsVoidElement(tag));
    if (!self_closing && IsRawTextElement(tag)) ReadRawText(element);
  }

  std::wstring ReadAttributeValue(const std::wstring& tag) {
    std::wstring raw;
    if (pos_ < text_.size() && (text_[pos_] == L'"' || text_[pos_] == L'\'')) {
      const wchar_t quote = text_[pos_];
      const size_t end = text_.find(quote, pos_ + 1);
      if (end == std::wstring::npos) {
        Warn(L"attribute value in <" + tag + L"> is not closed");
        raw = text_.substr(pos_ + 1);
        Advance(text_.size());
      } else {
        raw = text_.substr(pos_ + 1, end - pos_ - 1);
        Advance(end + 1 - pos_);
      }
    } else {
      while (pos_ < text_.size() && !IsHtmlSpace(text_[pos_]) && text_[pos_] != L'>') {
        raw += text_[pos_];
        Advance(1);
      }
    }
    std::wstring unknown;
    std::wstring value = DecodeEntities(raw, &unknown);
    if (!unknown.empty()) Warn(L"unknown character reference &" + unknown + L";");
    return value;
  }

  void OpenElement(Node* element, bool is_void) {
    const std::wstring& tag = element->tag;
    // Implied end tags: a block closes an open paragraph, an item closes the previous item.
    if (ClosesParagraph(tag)) CloseIfOpenInScope(L"p");
    if (tag == L"li") CloseIfOpenInScope(L"li");
    if (tag == L"option") CloseIfOpenInScope(L"option");
    if (stack_.size() > kMaxDepth) {
      if (!depth_warned_) {
        Diagnose(OS_ERROR, L"elements nest deeper than " + std::to_wstring(kMaxDepth) +
                               L" levels; deeper ones are placed at that level");
        depth_warned_ = true;
      }
      stack_.resize(kMaxDepth);
    }
    AppendNode(element);
    if (!is_void) stack_.push_back(element);
  }

  // Closes the innermost open `tag` unless a block element of another kind is open inside it.
  void CloseIfOpenInScope(const wchar_t* tag) {
    for (size_t i = stack_.size(); i-- > 1;) {
      const std::wstring& open = stack_[i]->tag;
      if (open == tag) {
        stack_.resize(i);
        return;
      }
      if (open == L"div" || open == L"ul" || open == L"ol" || open == L"table" ||
          open == L"body" || open == L"button" || open == L"select") {
        return;
      }
    }
  }

  void ReadRawText(Node* element) {
    const std::wstring end_tag = L"</" + element->tag;
    size_t end = pos_;
    for (;;) {
      end = text_.find(L"</", end);
      if (end == std::wstring::npos || StartsWithAt(end, end_tag.c_str(), true)) break;
      end += 2;
    }
    std::wstring content;
    if (end == std::wstring::npos) {
      Diagnose(OS_ERROR, L"<" + element->tag + L"> is not closed; it takes the rest of the page");
      content = text_.substr(pos_);
      Advance(text_.size());
    } else {
      content = text_.substr(pos_, end - pos_);
      Advance(end - pos_);
      const size_t close = text_.find(L'>', pos_);
      Advance(close == std::wstring::npos ? text_.size() : close + 1 - pos_);
    }
    if (element->tag == L"title" || element->tag == L"textarea") content = DecodeEntities(content);
    if (!content.empty()) doc_->AppendChild(element, doc_->CreateText(content));
    stack_.pop_back();
  }

  // Gives the tree the <html><head/><body/></html> frame the rest of the engine expects.
  void BuildRoot(Node* top) {
    Node* html = nullptr;
    for (Node* child : top->children) {
      if (child->IsElement() && child->tag == L"html") {
        html = child;
        break;
      }
    }
    if (!html) {
      html = doc_->CreateElement(L"html");
      std::vector<Node*> content = top->children;
      Node* head = nullptr;
      Node* body = nullptr;
      for (Node* child : content) {
        if (child->IsElement() && child->tag == L"head") head = child;
        if (child->IsElement() && child->tag == L"body") body = child;
      }
      if (head) doc_->AppendChild(html, head);
      if (!body) {
        body = doc_->CreateElement(L"body");
        for (Node* child : content) {
          if (child != head) doc_->AppendChild(body, child);
        }
      } else {
        for (Node* child : content) {
          if (child != head && child != body && child->IsElement()) {
            Warn(L"<" + child->tag + L"> outside <body> moved into it");
            doc_->InsertBefore(body, child, body->children.empty() ? nullptr : body->children[0]);
          }
        }
      }
      doc_->AppendChild(html, body);
    } else {
      for (Node* child : std::vector<Node*>(top->children)) {
        if (child != html && child->IsElement()) {
          Warn(L"<" + child->tag + L"> outside <html> ignored");
        }
      }
      bool has_body = false;
      for (const Node* child : html->children) has_body |= child->IsElement() && child->tag == L"body";
      if (!has_body) {
        // Content straight in <html>: wrap everything but <head> into a body.
        Node* body = doc_->CreateElement(L"body");
        for (Node* child : std::vector<Node*>(html->children)) {
          if (!(child->IsElement() && child->tag == L"head")) doc_->AppendChild(body, child);
        }
        doc_->AppendChild(html, body);
      }
    }
    doc_->Detach(html);
    doc_->set_root(html);
  }

  const std::wstring& text_;
  const std::wstring& source_;
  Document* doc_;
  const DiagnosticSink& sink_;
  size_t pos_ = 0;
  int line_ = 1;
  std::vector<Node*> stack_;
  bool depth_warned_ = false;
};

}  // namespace

std::wstring DecodeEntities(const std::wstring& text, std::wstring* unknown) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'&') {
      out += text[i];
      continue;
    }
    const size_t semicolon = text.find(L';', i + 1);
    if (semicolon == std::wstring::npos || semicolon - i > 12) {
      out += L'&';
      continue;
    }
    const std::wstring name = text.substr(i + 1, semicolon - i - 1);
    bool decoded = false;
    if (name.size() > 1 && name[0] == L'#') {
      unsigned long code = 0;
      const bool hex = name[1] == L'x' || name[1] == L'X';
      size_t digits = 0;
      bool valid = true;
      for (size_t k = hex ? 2 : 1; k < name.size(); ++k, ++digits) {
        const wchar_t c = name[k];
        int digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (hex && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (hex && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else { valid = false; break; }
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF) code = 0x110000;  // stays invalid, no overflow
      }
      if (valid && digits > 0) {
        AppendCodePoint(code, &out);
        decoded = true;
      }
    } else {
      for (const NamedEntity& entity : kEntities) {
        if (name == entity.name) {
          out += entity.value;
          decoded = true;
          break;
        }
      }
    }
    if (decoded) {
      i = semicolon;
    } else {
      if (unknown && unknown->empty()) *unknown = name;
      out += L'&';
    }
  }
  return out;
}

void ParseHtml(const std::wstring& html, const std::wstring& source_name, Document* document,
               const DiagnosticSink& sink) {
  Parser(html, source_name, document, sink).Run();
}

}  // namespace sciter_engine
