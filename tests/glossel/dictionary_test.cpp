// Dictionary files: the line grammar, loading, lookups and replacement.
#include "glossel/dictionary.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

bool Parse(const std::wstring& line, std::wstring* key = nullptr, std::wstring* text = nullptr) {
  std::wstring k, t;
  const bool ok = CDictLoader::ParseLine(line, k, t);
  if (key != nullptr) *key = k;
  if (text != nullptr) *text = t;
  return ok;
}

TEST(DictionaryGrammar, OddNumberOfEqualsSplitsAtTheMiddleOne) {
  std::wstring key, text;
  ASSERT_TRUE(Parse(L"Cancel=Abbrechen", &key, &text));
  EXPECT_EQ(L"Cancel", key);
  EXPECT_EQ(L"Abbrechen", text);
  EXPECT_FALSE(Parse(L"a=b=c")) << "two \"=\": ignored";
  ASSERT_TRUE(Parse(L"a=b=c=d", &key, &text));
  EXPECT_EQ(L"a=b", key);
  EXPECT_EQ(L"c=d", text);
  EXPECT_FALSE(Parse(L"no separator"));
  EXPECT_FALSE(Parse(L"=text")) << "an empty key";
  EXPECT_FALSE(Parse(L"key=")) << "an empty text";
}

TEST(DictionaryGrammar, QuotedForm) {
  std::wstring key, text;
  ASSERT_TRUE(Parse(L"\"Cancel \"=\" Abbrechen \"", &key, &text));
  EXPECT_EQ(L"Cancel ", key);
  EXPECT_EQ(L" Abbrechen ", text);
  EXPECT_FALSE(Parse(L"\"Cancel\"=\"\"")) << "quoted empty text";
  EXPECT_FALSE(Parse(L"\"Cancel\"=text")) << "a quoted line that breaks the rules is not read unquoted";
  EXPECT_FALSE(Parse(L"\"\"=\"x\"")) << "fewer than three characters before the separator";
}

TEST(DictionaryGrammar, TrimAndEscapes) {
  EXPECT_EQ(L"key", CDictLoader::Trim(L" \tkey \n"));
  EXPECT_EQ(L"key\r", CDictLoader::Trim(L"key\r")) << "CR is not trimmed";
  EXPECT_EQ(L"say \"hi\" \\n", CDictLoader::Unescape(L"say \\\"hi\\\" \\n"));
}

class DictionaryFile : public testing::Test {
 protected:
  std::wstring Write(const wchar_t* name, const std::string& utf8) {
    const std::wstring path = folder_.Path() + L"\\" + name;
    testing_support::WriteTextFile(path, utf8);
    return path;
  }
  testing_support::ScopedTempFolder folder_;
  CDictionary store_;
};

TEST_F(DictionaryFile, LoadsTrimsKeysButNotTexts) {
  const std::wstring path = Write(L"palisk.dict",
                                  "Cancel = Abbrechen\r\nQuote=say \\\"hi\\\"\r\nignored line\r\n\"Q\"=\"A\"\n"
                                  "caf\xC3\xA9=\xC3\xA9t\xC3\xA9\n");
  ASSERT_TRUE(store_.Load(path.c_str()));
  const wchar_t* text = nullptr;
  ASSERT_TRUE(store_.GetString(text, L"Cancel", path.c_str()));
  EXPECT_STREQ(L" Abbrechen", text) << "the blank after \"=\" stays";
  ASSERT_TRUE(store_.GetString(text, L"  Cancel\t", path.c_str()));
  EXPECT_STREQ(L" Abbrechen", text);
  ASSERT_TRUE(store_.GetString(text, L"Quote", path.c_str()));
  EXPECT_STREQ(L"say \"hi\"", text);
  ASSERT_TRUE(store_.GetString(text, L"Q", path.c_str()));
  EXPECT_STREQ(L"A", text);
  ASSERT_TRUE(store_.GetString(text, L"caf\u00e9", path.c_str()));
  EXPECT_STREQ(L"\u00e9t\u00e9", text) << "UTF-8";
}

TEST_F(DictionaryFile, MissingKeyIsAddedAsItself) {
  const std::wstring path = Write(L"palisk.dict", "A=B\n");
  ASSERT_TRUE(store_.Load(path.c_str()));
  const wchar_t* text = nullptr;
  ASSERT_TRUE(store_.GetString(text, L"Not there", path.c_str()));
  EXPECT_STREQ(L"Not there", text);
  EXPECT_EQ(L"default", store_.Entries(path)[L"Not there"].status);
  EXPECT_EQ(1, store_.Entries(path)[L"Not there"].order) << "the count before it was added";
  ASSERT_TRUE(store_.GetString(text, L"   ", path.c_str()));
  EXPECT_EQ(nullptr, text) << "a blank key is not looked up";
  EXPECT_FALSE(store_.GetString(text, L"A", L"C:\\no\\such.dict"));
}

TEST_F(DictionaryFile, DuplicatesKeepTheFirstAndReportTheDifference) {
  const std::wstring path = Write(L"palisk.dict", "K=first\nK=second\nK= first \n");
  testing::internal::CaptureStdout();
  ASSERT_TRUE(store_.Load(path.c_str()));
  const std::string reported = testing::internal::GetCapturedStdout();
  const wchar_t* text = nullptr;
  store_.GetString(text, L"K", path.c_str());
  EXPECT_STREQ(L"first", text);
  EXPECT_NE(std::string::npos, reported.find("Found a new translation for the string")) << reported;
  EXPECT_NE(std::string::npos, reported.find("=>second"));
  EXPECT_EQ(std::string::npos, reported.find("=> first")) << "the same text, trimmed, is no news";
}

TEST_F(DictionaryFile, ExtensionsAndReplace) {
  EXPECT_TRUE(store_.Load(Write(L"palisk.xlf", "K=V\n").c_str())) << "accepted without reading";
  EXPECT_FALSE(store_.Load(Write(L"palisk.DICT", "K=V\n").c_str()));
  EXPECT_FALSE(store_.Load(Write(L"noextension", "K=V\n").c_str()));
  EXPECT_FALSE(store_.Load((folder_.Path() + L"\\missing.dict").c_str()));
  const std::wstring path = Write(L"palisk.dict", "K=V\n[LanguageName]=Deutsch\n");
  ASSERT_TRUE(store_.Load(path.c_str()));
  const std::wstring base = folder_.Path() + L"\\palisk";
  EXPECT_STREQ(L"new", store_.Replace(L" K ", L"new", base.c_str()));
  EXPECT_EQ(nullptr, store_.Replace(L"absent", L"x", base.c_str()));
  const wchar_t* name = nullptr;
  ASSERT_TRUE(store_.LanguageName(name));
  EXPECT_STREQ(L"Deutsch", name);
}

}  // namespace
