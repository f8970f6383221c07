#include "robustness/mutator.h"

#include <cstdio>
#include <cstdlib>

namespace robustness {
namespace {

const std::vector<std::string>& GenericTokens() {
  static const std::vector<std::string> tokens = {
      std::string("\xEF\xBB\xBF"), std::string("\xFF\xFE"), std::string("\xFE\xFF"),  // BOMs
      std::string("\xC0\xAF"), std::string("\xED\xA0\x80"), std::string("\xF8\x88\x80\x80\x80"),
      std::string("\x80"), std::string("\xFF"),                                         // invalid UTF-8
      std::string(1, '\0'), std::string("\r\n"), std::string("\n"), std::string("\r"), std::string("\t"),
      "99999999999999999999", "4294967296", "-2147483649", "-1", "0", "18446744073709551616",
      "%", "%n%s%x", "\\", "\"", "'", "=", "[", "]", "<", ">", "&", "..", "/", "\\\\?\\",
      std::string(4096, 'x'),                                                           // a long line
  };
  return tokens;
}

template <typename Text>
Text RandomRun(Rng& rng, size_t length) {
  Text run;
  for (size_t i = 0; i < length; ++i) run += static_cast<typename Text::value_type>(rng.Next() & 0xFF);
  return run;
}

template <typename Text>
void MutateOnce(Text& text, Rng& rng, const std::vector<Text>& tokens) {
  using Unit = typename Text::value_type;
  const size_t size = text.size();
  switch (rng.Below(8)) {
    case 0:  // truncate
      text.resize(rng.Below(size + 1));
      break;
    case 1:  // flip bits
      for (size_t n = 1 + rng.Below(8); n > 0 && size > 0; --n) {
        text[rng.Below(size)] ^= static_cast<Unit>(1u << rng.Below(8 * sizeof(Unit)));
      }
      break;
    case 2:  // insert random units
      text.insert(rng.Below(size + 1), RandomRun<Text>(rng, 1 + rng.Below(16)));
      break;
    case 3: {  // delete a run
      const size_t at = rng.Below(size + 1);
      text.erase(at, rng.Below(size - at + 1));
      break;
    }
    case 4: {  // repeat a chunk: long lines, deep nesting
      if (size == 0) break;
      const size_t at = rng.Below(size);
      const Text chunk = text.substr(at, 1 + rng.Below(size - at < 32 ? size - at : 32));
      Text repeated;
      for (size_t n = 2 + rng.Below(rng.OneIn(8) ? 2000 : 20); n > 0; --n) repeated += chunk;
      text.insert(at, repeated);
      break;
    }
    case 5:  // overwrite with one unit
      if (size > 0) text[rng.Below(size)] = static_cast<Unit>(rng.Next());
      break;
    default:  // a troublesome token
      if (!tokens.empty()) text.insert(rng.Below(size + 1), tokens[rng.Below(tokens.size())]);
      break;
  }
}

template <typename Text>
Text MutateText(const Text& sample, Rng& rng, const std::vector<Text>& tokens) {
  Text text = sample;
  if (rng.OneIn(64)) return RandomRun<Text>(rng, rng.Below(256));  // nothing like the sample
  for (size_t n = 1 + rng.Below(4); n > 0; --n) MutateOnce(text, rng, tokens);
  return text;
}

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == 0) return fallback;
  return std::strtoull(value, nullptr, 0);
}

}  // namespace

uint64_t Rng::Next() {
  m_state ^= m_state >> 12;
  m_state ^= m_state << 25;
  m_state ^= m_state >> 27;
  return m_state * 0x2545F4914F6CDD1Dull;
}

uint64_t RunSeed() { return FromEnvironment("PALISK_ROBUSTNESS_SEED", 20261209); }

size_t CasesPerParser() { return static_cast<size_t>(FromEnvironment("PALISK_ROBUSTNESS_CASES", 10000)); }

std::string Mutate(const std::string& sample, Rng& rng, const std::vector<std::string>& tokens) {
  std::vector<std::string> all = GenericTokens();
  all.insert(all.end(), tokens.begin(), tokens.end());
  return MutateText(sample, rng, all);
}

std::wstring MutateWide(const std::wstring& sample, Rng& rng, const std::vector<std::wstring>& tokens) {
  std::vector<std::wstring> all = {std::wstring(1, L'\0'), std::wstring(1, static_cast<wchar_t>(0xD800)),
                                   std::wstring(1, static_cast<wchar_t>(0xDFFF)), std::wstring(1, static_cast<wchar_t>(0xFFFF)),
                                   std::wstring(1, static_cast<wchar_t>(0xFEFF)), L"\"", L"\\", L"%", L"[", L"]",
                                   L"=", L"/", L" ", L"\t", std::wstring(4096, L'x'), L"99999999999999999999"};
  all.insert(all.end(), tokens.begin(), tokens.end());
  return MutateText(sample, rng, all);
}

}  // namespace robustness
