// CSS selectors: parsing (tag, *, .class, #id, [attr], [attr=value], the states and the
// structural pseudo-classes, descendant and child combinators) and matching them against
// elements in time linear in parts x tree depth.
#pragma once

#include <string>
#include <vector>

#include "dom.h"

namespace sciter_engine {

// One compound selector: tag (empty for any), #id, .classes, :states, [attributes].
struct CompoundSelector {
  std::wstring tag;
  std::wstring id;
  std::vector<std::wstring> classes;
  unsigned states = 0;  // ElementState bits
  bool first_child = false;
  bool last_child = false;
  bool root = false;      // :root
  int disabled = -1;      // :disabled 1, :enabled 0
  struct AttributeTest {
    std::wstring name;
    bool has_value = false;
    std::wstring value;
  };
  std::vector<AttributeTest> attributes;
};

struct Selector {
  // parts[0] is the leftmost; combinators[i] joins parts[i] and parts[i + 1]: ' ' or '>'.
  std::vector<CompoundSelector> parts;
  std::vector<wchar_t> combinators;
  unsigned specificity = 0;  // ids << 16 | classes, attributes and states << 8 | tags
};

// Compound parts a selector may have; longer ones are refused when parsed.
constexpr size_t kMaxSelectorParts = 32;

// A selector list as querySelector takes it; false (and a message) when it is not valid.
bool ParseSelectorList(const std::wstring& text, std::vector<Selector>* selectors,
                       std::wstring* error);
bool SelectorMatches(const Selector& selector, const Node* element);

}  // namespace sciter_engine
