// Glossel from several threads at once: translating (known keys, keys added on lookup,
// variables filled and stored), loading another selector and switching the language, all
// together. Every answer must be one the dictionaries can give, and nothing may crash.
#include "glossel/glossel.h"

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logging/log_binding.h"
#include "support/test_support.h"

namespace {

using testing_support::TestBinFolder;

struct Expectation {
  const wchar_t* token;
  const wchar_t* selector;
  std::set<std::wstring> answers;  // in either language
};

TEST(GlosselConcurrency, TranslatingLoadingAndSwitchingTogether) {
  // As in Palisk, where the HTTP client holds the log binding for the whole run: otherwise
  // every call trace would load and unload log.dll around itself.
  logging::LogHandle keepLogBound;
  CGlossel glossel;
  glossel.Init(nullptr);
  const ov::StringT english((TestBinFolder() + L"\\lang\\en-US").c_str());
  const ov::StringT german((TestBinFolder() + L"\\lang\\de-DE").c_str());
  glossel.SetDictionariesPath(english);

  const std::vector<Expectation> expectations = {
      {L"_LSAre you sure you want to quit?LS_", L"palisk", {L"Are you sure you want to quit?", L"Wirklich beenden?"}},
      {L"Welcome", L"palisk", {L"Welcome to Orvane Endpoint Security!", L"Welcome"}},
      {L"Twice", L"palisk", {L"Orvane Endpoint Security and Orvane Endpoint Security", L"Twice"}},
      {L"Unknown", L"palisk", {L"Hello [NoSuchVariable]", L"Unknown"}},
      {L"March", L"console", {L"March", L"M\u00e4rz"}},
      {L"see [SupportWebsite]", L"", {L"see https://help.orvane.example"}},
  };

  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<long> translations{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (unsigned n = 0; !stop; ++n) {
        const Expectation& e = expectations[(n + t) % expectations.size()];
        ov::StringT out;
        glossel.GetString(e.token, e.selector, out);
        if (e.answers.count(out.c_str()) == 0) ++wrong;
        // A key no dictionary has is added on lookup and comes back as itself.
        const std::wstring missing = L"missing " + std::to_wstring(t) + L"-" + std::to_wstring(n % 64);
        glossel.GetString(missing.c_str(), L"palisk", out);
        if (missing != out.c_str()) ++wrong;
        translations += 2;
      }
    });
  }
  threads.emplace_back([&] {
    for (int n = 0; !stop; ++n) {
      glossel.SetDictionariesPath(n % 2 == 0 ? german : english);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  stop = true;
  for (std::thread& thread : threads) thread.join();
  glossel.UnInit();
  EXPECT_EQ(0, wrong.load()) << "of " << translations.load() << " translations";
  EXPECT_GT(translations.load(), 1000);
}

}  // namespace
