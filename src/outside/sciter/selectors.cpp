#include "selectors.h"

#include <cwctype>
#include <set>
#include <utility>

namespace sciter_engine {

namespace {

bool IsIdentChar(wchar_t c) {
  return std::iswalnum(c) || c == L'-' || c == L'_' || c > 0x7F;
}

bool ParseCompound(const std::wstring& text, size_t* pos, CompoundSelector* out,
                   unsigned* specificity, std::wstring* error) {
  size_t& i = *pos;
  auto ident = [&]() {
    std::wstring name;
    while (i < text.size() && IsIdentChar(text[i])) name += text[i++];
    return name;
  };
  bool any = false;
  if (i < text.size() && text[i] == L'*') {
    ++i;
    any = true;
  } else if (i < text.size() && IsIdentChar(text[i])) {
    out->tag = AsciiLower(ident());
    *specificity += 1;
    any = true;
  }
  while (i < text.size()) {
    const wchar_t c = text[i];
    if (c == L'#') {
      ++i;
      out->id = ident();
      if (out->id.empty()) { *error = L"'#' without a name"; return false; }
      *specificity += 1 << 16;
    } else if (c == L'.') {
      ++i;
      const std::wstring name = ident();
      if (name.empty()) { *error = L"'.' without a class name"; return false; }
      out->classes.push_back(name);
      *specificity += 1 << 8;
    } else if (c == L':') {
      ++i;
      if (i < text.size() && text[i] == L':') { *error = L"pseudo-elements are not supported"; return false; }
      const std::wstring name = AsciiLower(ident());
      if (name == L"hover") out->states |= kStateHover;
      else if (name == L"focus" || name == L"focus-visible") out->states |= kStateFocus;
      else if (name == L"active") out->states |= kStateActive;
      else if (name == L"first-child") out->first_child = true;
      else if (name == L"last-child") out->last_child = true;
      else if (name == L"root") out->root = true;
      else if (name == L"disabled") out->disabled = 1;
      else if (name == L"enabled") out->disabled = 0;
      else { *error = L"unsupported pseudo-class :" + name; return false; }
      *specificity += 1 << 8;
    } else if (c == L'[') {
      const size_t close = text.find(L']', i);
      if (close == std::wstring::npos) { *error = L"'[' without ']'"; return false; }
      std::wstring inside = TrimHtmlSpace(text.substr(i + 1, close - i - 1));
      i = close + 1;
      CompoundSelector::AttributeTest test;
      const size_t equals = inside.find(L'=');
      if (equals == std::wstring::npos) {
        test.name = AsciiLower(inside);
      } else {
        if (equals > 0 && std::wcschr(L"~|^$*", inside[equals - 1])) {
          *error = L"unsupported attribute operator"; return false;
        }
        test.name = AsciiLower(TrimHtmlSpace(inside.substr(0, equals)));
        test.has_value = true;
        test.value = TrimHtmlSpace(inside.substr(equals + 1));
        if (test.value.size() >= 2 && (test.value[0] == L'"' || test.value[0] == L'\'')) {
          test.value = test.value.substr(1, test.value.size() - 2);
        }
      }
      if (test.name.empty()) { *error = L"attribute selector without a name"; return false; }
      out->attributes.push_back(test);
      *specificity += 1 << 8;
    } else {
      break;
    }
    any = true;
  }
  if (!any) {
    *error = i < text.size() ? L"unexpected '" + std::wstring(1, text[i]) + L"'" : L"empty selector";
    return false;
  }
  return true;
}

bool ParseSelector(const std::wstring& text_in, Selector* selector, std::wstring* error) {
  const std::wstring text = TrimHtmlSpace(text_in);
  size_t i = 0;
  for (;;) {
    CompoundSelector compound;
    if (!ParseCompound(text, &i, &compound, &selector->specificity, error)) return false;
    if (selector->parts.size() >= kMaxSelectorParts) {
      *error = L"more than " + std::to_wstring(kMaxSelectorParts) + L" parts";
      return false;
    }
    selector->parts.push_back(compound);
    bool space = false;
    while (i < text.size() && IsHtmlSpace(text[i])) {
      ++i;
      space = true;
    }
    if (i >= text.size()) return true;
    wchar_t combinator = L' ';
    if (text[i] == L'>') {
      combinator = L'>';
      ++i;
      while (i < text.size() && IsHtmlSpace(text[i])) ++i;
    } else if (text[i] == L'+' || text[i] == L'~') {
      *error = L"sibling combinators are not supported";
      return false;
    } else if (!space) {
      *error = L"unexpected '" + std::wstring(1, text[i]) + L"'";
      return false;
    }
    selector->combinators.push_back(combinator);
  }
}

bool CompoundMatches(const CompoundSelector& compound, const Node* element) {
  if (!element || !element->IsElement()) return false;
  if (!compound.tag.empty() && compound.tag != element->tag) return false;
  if (!compound.id.empty()) {
    const std::wstring* id = element->Attr(L"id");
    if (!id || *id != compound.id) return false;
  }
  for (const std::wstring& name : compound.classes) {
    if (!element->HasClass(name)) return false;
  }
  if ((element->state & compound.states) != compound.states) return false;
  for (const auto& test : compound.attributes) {
    const std::wstring* value = element->Attr(test.name);
    if (!value || (test.has_value && *value != test.value)) return false;
  }
  if (compound.root && element->parent) return false;
  if (compound.disabled >= 0 && (element->Attr(L"disabled") != nullptr) != (compound.disabled == 1)) return false;
  if (compound.first_child || compound.last_child) {
    if (!element->parent) return false;
    const std::vector<Node*> siblings = element->parent->ElementChildren();
    if (compound.first_child && siblings.front() != element) return false;
    if (compound.last_child && siblings.back() != element) return false;
  }
  return true;
}

// Pairs (part index, element) already known not to match: with them each pair is tried at
// most once, so a match costs at most parts x depth tests instead of growing exponentially
// with the descendant combinators.
using FailedMatches = std::set<std::pair<int, const Node*>>;

// Matches parts[0..index] with parts[index] at `element`.
bool MatchesFrom(const Selector& selector, int index, const Node* element, FailedMatches* failed) {
  if (failed->count({index, element})) return false;
  bool matched = false;
  if (CompoundMatches(selector.parts[index], element)) {
    if (index == 0) return true;
    const wchar_t combinator = selector.combinators[index - 1];
    if (combinator == L'>') {
      matched = MatchesFrom(selector, index - 1, element->parent, failed);
    } else {
      for (const Node* ancestor = element->parent; ancestor && !matched; ancestor = ancestor->parent) {
        matched = MatchesFrom(selector, index - 1, ancestor, failed);
      }
    }
  }
  if (!matched) failed->insert({index, element});
  return matched;
}

std::vector<std::wstring> SplitSelectorList(const std::wstring& text) {
  std::vector<std::wstring> parts;
  std::wstring part;
  int brackets = 0;
  for (wchar_t c : text) {
    if (c == L'[') ++brackets;
    if (c == L']' && brackets > 0) --brackets;
    if (c == L',' && brackets == 0) {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

}  // namespace

bool ParseSelectorList(const std::wstring& text, std::vector<Selector>* selectors,
                       std::wstring* error) {
  selectors->clear();
  for (const std::wstring& part : SplitSelectorList(text)) {
    Selector selector;
    if (!ParseSelector(part, &selector, error)) return false;
    selectors->push_back(selector);
  }
  return !selectors->empty();
}

bool SelectorMatches(const Selector& selector, const Node* element) {
  if (selector.parts.empty()) return false;
  FailedMatches failed;
  return MatchesFrom(selector, static_cast<int>(selector.parts.size()) - 1, element, &failed);
}

}  // namespace sciter_engine
