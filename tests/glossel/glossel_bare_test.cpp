// Glossel as Palisk deploys it: no Tallon.dll and no Vantor.dll beside it. And Palisk's client
// in a folder without Glossel.dll.
#include "glossel/glossel.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/module_path.h"
#include "installer/palisk/glossel_client.h"
#include "support/test_support.h"

namespace {

using testing_support::TestBinFolder;

class Bare : public testing::Test {
 protected:
  void SetUp() override { glossel_.Init(nullptr); }
  void TearDown() override { glossel_.UnInit(); }
  std::wstring Translate(const wchar_t* text, const wchar_t* selector = L"palisk") {
    ov::StringT out;
    last_ = glossel_.GetString(text, selector, out);
    return out.c_str();
  }
  CGlossel glossel_;
  int last_ = 0;
};

TEST_F(Bare, FindsTheLangFolderBesideItselfAndUsesEnglish) {
  EXPECT_EQ(L"en-US", glossel_.Language());
  EXPECT_EQ(TestBinFolder() + L"\\lang\\en-US", glossel_.DictionariesPath());
}

TEST_F(Bare, TranslatesKnownKeysAndReturnsUnknownOnesAsThemselves) {
  EXPECT_EQ(L"Are you sure you want to quit?", Translate(L"_LSAre you sure you want to quit?LS_"));
  EXPECT_EQ(L"Not in the dictionary", Translate(L"_LSNot in the dictionaryLS_"));
  EXPECT_EQ(0, last_);
  EXPECT_EQ(L"Mid ddle", Translate(L"Mid_LS dLS_dle")) << "markers vanish anywhere, \"_LS\" first";
}

TEST_F(Bare, MarkerOnlyTextFailsWithADictionaryButNotWithout) {
  EXPECT_EQ(L"", Translate(L"_LS LS_"));
  EXPECT_EQ(ERROR_FUNCTION_FAILED, last_);
  EXPECT_EQ(L" ", Translate(L"_LS LS_", L""));
  EXPECT_EQ(0, last_) << "the empty selector takes the cache path";
  ov::StringT out(L"stale");
  EXPECT_EQ(ERROR_FUNCTION_FAILED, glossel_.GetString(nullptr, L"palisk", out));
  EXPECT_TRUE(out.IsEmpty());
}

TEST_F(Bare, WithoutTallonVariablesStay) {
  EXPECT_EQ(L"Welcome to [ProductName]!", Translate(L"Welcome"));
}

TEST_F(Bare, EscapedLineBreakBecomesARealOne) { EXPECT_EQ(L"first\nsecond", Translate(L"Lines")); }

TEST_F(Bare, SetDictionariesPathSwitchesFolders) {
  ov::StringT german((TestBinFolder() + L"\\lang\\de-DE").c_str());
  ASSERT_TRUE(glossel_.SetDictionariesPath(german));
  EXPECT_EQ(L"Wirklich beenden?", Translate(L"_LSAre you sure you want to quit?LS_"));
  EXPECT_EQ(L"en-US", glossel_.Language()) << "the language code is not changed";
}

TEST_F(Bare, ListsOnlyAllowedLanguagesWithTheirNames) {
  ov::Map<ov::StringT, ov::StringT> languages;
  glossel_.ListAvailableLanguages(&languages);
  EXPECT_EQ(2u, languages.GetCount()) << "xx-XX is not allowed";
  ASSERT_NE(nullptr, languages.Find(L"en-US"));
  EXPECT_EQ(*languages.Find(L"en-US"), L"English");
  ASSERT_NE(nullptr, languages.Find(L"DE-de")) << "the code as the configuration writes it";
  EXPECT_EQ(*languages.Find(L"DE-de"), L"Deutsch");
}

// Glossel and its lang tree in a folder whose name the ANSI code page cannot spell: the
// language configuration is still read (the list above, with xx-XX left out), because the
// file is opened by its wide path.
TEST(BareElsewhere, LanguageConfigurationInANonAnsiFolder) {
  testing_support::ScopedTempFolder folder;
  const std::wstring home = folder.Path() + L"\\\u03a9\u03bc\u03ad\u03b3\u03b1-\u6587\u4ef6";
  const std::wstring exe = home + L"\\glossel_bare_test.exe";
  ASSERT_TRUE(testing_support::CopyFileTo(ov::ModuleFilePath(nullptr), exe));
  const std::wstring lang = TestBinFolder() + L"\\lang\\";
  for (const wchar_t* file : {L"langconfig.xml", L"en-US\\language.dict", L"en-US\\palisk.dict",
                              L"de-DE\\language.dict", L"de-DE\\palisk.dict", L"xx-XX\\readme.txt"}) {
    ASSERT_TRUE(testing_support::CopyFileTo(lang + file, home + L"\\lang\\" + file)) << file;
  }
  std::wstring command = L"\"" + exe + L"\" --gtest_filter=Bare.ListsOnlyAllowedLanguagesWithTheirNames";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, home.c_str(), &startup,
                             &process));
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(0u, code);
}

// No dictionaries folder: nothing is loaded, not a "\\palisk.dict" at the current drive's root.
TEST(BareElsewhere, EmptyDictionariesFolderLoadsNothing) {
  testing_support::ScopedTempFolder folder;
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));
  const std::wstring planted = folder.Path().substr(0, 2) + L"\\palisk.dict";
  const bool wrote = testing_support::WriteTextFile(planted, "Hello=Planted\r\n");
  CGlossel glossel;
  glossel.Init(nullptr);
  glossel.SetDictionariesPath(ov::StringT(L""));
  ov::StringT out;
  glossel.GetString(L"Hello", L"palisk", out);
  glossel.UnInit();
  if (wrote) DeleteFileW(planted.c_str());
  SetCurrentDirectoryW(previous);
  ASSERT_TRUE(wrote);
  EXPECT_EQ(out, L"Hello") << "the raw text, as without any dictionary";
}

TEST_F(Bare, FormatDropsBracketsAndCountsNumberedArguments) {
  ov::StringT out;
  EXPECT_STREQ(L"a b and c d", glossel_.Format(out, L"[%1] [%2] and [%3] [%4]", L"a", L"b", L"c", L"d"));
  EXPECT_STREQ(L"x and x", glossel_.Format(out, L"%1 and %2", L"x", L"x"));
  ov::StringT untouched(L"kept");
  glossel_.Format(untouched, L"");
  EXPECT_EQ(untouched, L"kept");
}

// A translated text may name more inserts than the caller's list holds: those become empty,
// and nothing past the list is read.
TEST_F(Bare, FormatStringInsertsPastTheListAreEmpty) {
  ov::List<ov::StringT> one;
  one.AddTail(L"a");
  ov::StringT out;
  EXPECT_STREQ(L"a and ", glossel_.FormatString(out, L"[%1] and [%2]", one));
  EXPECT_STREQ(L"<>", glossel_.FormatString(out, L"<%10>", one));
  EXPECT_STREQ(L"<a> <>", glossel_.FormatString(out, L"<%1!s!> <%99!s!>", one));
  ov::List<ov::StringT> none;
  EXPECT_STREQ(L"x  y", glossel_.FormatString(out, L"x %1 y", none));
}

TEST(GlosselClientFormat, TranslationNamingMoreInsertsThanGivenGetsEmptyText) {
  ov::StringT out;
  // As a translator might write it: the drive twice, and a third insert the caller never gives.
  EXPECT_STREQ(L"C: C: 12 ", GlosselClient::Format(out, L"[%1] %1 [%2] [%3]", L"C:", L"12"));
  EXPECT_STREQ(L"only text", GlosselClient::Format(out, L"only text"));
  EXPECT_STREQ(L"", GlosselClient::Format(out, L"", L"a"));
}

TEST_F(Bare, AddPunctuation) {
  ov::StringT text(L"Done  ");
  glossel_.AddPunctuation(text, L'.');
  EXPECT_EQ(text, L"Done.");
  text = L"Really?";
  glossel_.AddPunctuation(text, L'.');
  EXPECT_EQ(text, L"Really?");
  text = L"x";
  glossel_.AddPunctuation(text, L',');
  EXPECT_EQ(text, L"x");
}

TEST_F(Bare, FormatDateUsesTheConsoleDictionary) {
  tm time = {};
  time.tm_mday = 7;
  time.tm_mon = 2;
  time.tm_year = 126;
  time.tm_hour = 9;
  time.tm_min = 5;
  std::string out;
  ASSERT_EQ(0, glossel_.FormatDate(out, &time, "%d %B %Y %H:%M %%", 17));
  EXPECT_EQ("07 March 2026 09:05 %", out);
  time.tm_mon = 12;
  std::string bad;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, glossel_.FormatDate(bad, &time, "%B", 2));
}

TEST_F(Bare, SecondInitOnlyCounts) {
  glossel_.Init(nullptr);
  glossel_.UnInit();
  EXPECT_EQ(L"Are you sure you want to quit?", Translate(L"_LSAre you sure you want to quit?LS_"));
}

TEST(GlosselClient, WithoutGlosselDllTheRawTokenIsShown) {
  GlosselClient client;
  ov::StringT out;
  EXPECT_EQ(client.Translate(out, L"_LSKB/sLS_"), L"_LSKB/sLS_");
  EXPECT_FALSE(client.Loaded());
  EXPECT_STREQ(L"C:\\ 12", GlosselClient::Format(out, L"[%1] [%2]", L"C:\\", L"12"));
}

}  // namespace
