// Seeded generation of malformed inputs: a valid sample, mutated one to four times by
// truncation, bit flips, inserted or deleted runs, repeated chunks (long lines, deep nesting)
// and the tokens parsers trip over (BOMs, invalid UTF-8, NULs, huge numbers). The same seed
// gives the same cases, so a failure can be replayed with PALISK_ROBUSTNESS_SEED.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace robustness {

// xorshift64*: small, fast and the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : m_state(seed != 0 ? seed : 0x9E3779B97F4A7C15ull) {}
  uint64_t Next();
  // Uniform in [0, bound); 0 when bound is 0.
  size_t Below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(Next() % bound); }
  bool OneIn(size_t n) { return Below(n) == 0; }

 private:
  uint64_t m_state;
};

// The seed of this run (PALISK_ROBUSTNESS_SEED, else a fixed default) and the number of
// cases per parser (PALISK_ROBUSTNESS_CASES, else 10000).
uint64_t RunSeed();
size_t CasesPerParser();

// Byte-level mutation of `sample`; `tokens` adds the format's own troublemakers (markup,
// separators) to the generic ones.
std::string Mutate(const std::string& sample, Rng& rng, const std::vector<std::string>& tokens = {});
// The same for UTF-16 texts (lone surrogates, NULs, U+FFFF and friends included).
std::wstring MutateWide(const std::wstring& sample, Rng& rng, const std::vector<std::wstring>& tokens = {});

}  // namespace robustness
