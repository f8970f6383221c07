// Glossel with both optional components beside it (Tallon.dll for product facts, Vantor.dll
// for the language and support data), and Palisk's client loading Glossel.dll.
#include "glossel/glossel.h"

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "installer/palisk/glossel_client.h"
#include "support/test_support.h"

namespace {

using testing_support::TestBinFolder;

class WithComponents : public testing::Test {
 protected:
  void SetUp() override { glossel_.Init(nullptr); }
  void TearDown() override { glossel_.UnInit(); }
  std::wstring Translate(const wchar_t* text, const wchar_t* selector = L"palisk") {
    ov::StringT out;
    glossel_.GetString(text, selector, out);
    return out.c_str();
  }
  CGlossel glossel_;
};

TEST_F(WithComponents, LanguageComesFromTheGeneralConfiguration) {
  EXPECT_EQ(L"de-DE", glossel_.Language());
  EXPECT_EQ(L"Wirklich beenden?", Translate(L"_LSAre you sure you want to quit?LS_"));
}

TEST_F(WithComponents, VariablesAreReplacedOnceAndStored) {
  ov::StringT english((TestBinFolder() + L"\\lang\\en-US").c_str());
  glossel_.SetDictionariesPath(english);
  EXPECT_EQ(L"Welcome to Orvane Endpoint Security!", Translate(L"Welcome"));
  EXPECT_EQ(L"Welcome to Orvane Endpoint Security!", Translate(L"Welcome"));
  EXPECT_EQ(L"Orvane Endpoint Security and Orvane Endpoint Security", Translate(L"Twice"));
  EXPECT_EQ(L"Hello [NoSuchVariable]", Translate(L"Unknown"));
  EXPECT_EQ(L"[%1] of [%2]", Translate(L"Numbered")) << "never a variable";
}

TEST_F(WithComponents, EmptyTallonValueStopsTheTableButSupportDataStillFills) {
  ov::StringT english((TestBinFolder() + L"\\lang\\en-US").c_str());
  glossel_.SetDictionariesPath(english);
  EXPECT_EQ(L"Made by [Manufacturer]", Translate(L"Manufacturer")) << "id 2 is empty in tallon.ini";
  EXPECT_EQ(L"see https://help.orvane.example", Translate(L"see [SupportWebsite]", L""))
      << "the general configuration's website";
}

TEST_F(WithComponents, LanguageChangeNotificationReloads) {
  ov::ScopedModule vantor(LoadLibraryW((TestBinFolder() + L"\\Vantor.dll").c_str()));
  auto raise = ov::GetProc<void (*)(int)>(vantor.Get(), "VantorRaiseSettingsChanged");
  ASSERT_NE(nullptr, raise);
  ov::StringT english((TestBinFolder() + L"\\lang\\en-US").c_str());
  glossel_.SetDictionariesPath(english);
  EXPECT_EQ(L"Are you sure you want to quit?", Translate(L"_LSAre you sure you want to quit?LS_"));
  raise(5);  // the language "changed" (to the configured de-DE)
  EXPECT_EQ(L"Wirklich beenden?", Translate(L"_LSAre you sure you want to quit?LS_"));
}

TEST(GlosselClientLoaded, FolderSetBeforeTheFirstTranslationIsUsed) {
  GlosselClient client;
  ASSERT_EQ(0, client.SetDictionaryFolder((TestBinFolder() + L"\\lang\\en-US").c_str()));
  ov::StringT out;
  EXPECT_EQ(client.Translate(out, L"_LSAre you sure you want to quit?LS_"), L"Are you sure you want to quit?");
  EXPECT_TRUE(client.Loaded());
  ASSERT_EQ(0, client.SetDictionaryFolder((TestBinFolder() + L"\\lang\\de-DE").c_str()));
  EXPECT_EQ(client.Translate(out, L"_LSAre you sure you want to quit?LS_"), L"Wirklich beenden?")
      << "a folder set after loading takes effect at once";
}

}  // namespace
