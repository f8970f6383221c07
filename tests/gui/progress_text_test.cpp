// The progress page's speed text and the popup's button set, without any window.
#include <gtest/gtest.h>

#include <vector>

#include "gui/progress_text.h"

namespace {

using ov::gui::ButtonTokensForType;
using ov::gui::FormatSpeed;
using ov::gui::ResultOfButtonToken;

TEST(SpeedText, BelowThousandKilobytesStaysInKilobytes) {
  EXPECT_EQ(L"999.99 KB/s", FormatSpeed(999.99, L"KB/s", L"MB/s"));
  EXPECT_EQ(L"0.00 KB/s", FormatSpeed(0.0, L"KB/s", L"MB/s"));
  EXPECT_EQ(L"12.50 Ko/s", FormatSpeed(12.5, L"Ko/s", L"Mo/s"));
}

TEST(SpeedText, ThousandKilobytesSwitchesToMegabytesOfTwoPowerTen) {
  // The switch is at 1000, the division by 1024: 1000 KB/s reads as 0.98 MB/s.
  EXPECT_EQ(L"0.98 MB/s", FormatSpeed(1000.0, L"KB/s", L"MB/s"));
  EXPECT_EQ(L"1.00 MB/s", FormatSpeed(1024.0, L"KB/s", L"MB/s"));
  EXPECT_EQ(L"100.00 MB/s", FormatSpeed(102400.0, L"KB/s", L"MB/s"));
}

TEST(SpeedText, LongTranslatedUnitIsKeptWhole) {
  const std::wstring unit(200, L'u');
  EXPECT_EQ(L"1.50 " + unit, FormatSpeed(1.5, unit, L"MB/s"));
}

TEST(PopupButtons, TypeZeroShowsOk) {
  const std::vector<const wchar_t*> tokens = ButtonTokensForType(MB_OK);
  ASSERT_EQ(1u, tokens.size());
  EXPECT_STREQ(L"_LSOKLS_", tokens[0]);
}

TEST(PopupButtons, YesNoWithQuestionIconShowsYesThenNo) {
  const std::vector<const wchar_t*> tokens = ButtonTokensForType(MB_YESNO | MB_ICONQUESTION);
  ASSERT_EQ(2u, tokens.size());
  EXPECT_STREQ(L"_LSYesLS_", tokens[0]);
  EXPECT_STREQ(L"_LSNoLS_", tokens[1]);
  EXPECT_EQ(1u, ButtonTokensForType(MB_OK | MB_ICONERROR).size()) << "icon bits are ignored";
}

TEST(PopupButtons, OtherButtonSetsShowNone) {
  EXPECT_TRUE(ButtonTokensForType(MB_OKCANCEL).empty());
  EXPECT_TRUE(ButtonTokensForType(MB_YESNOCANCEL).empty());
  EXPECT_TRUE(ButtonTokensForType(MB_RETRYCANCEL).empty());
}

TEST(PopupButtons, OnlyExactTokensGiveResults) {
  int result = 99;
  EXPECT_TRUE(ResultOfButtonToken(L"_LSOKLS_", &result));
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(ResultOfButtonToken(L"_LSYesLS_", &result));
  EXPECT_EQ(IDYES, result);
  EXPECT_TRUE(ResultOfButtonToken(L"_LSNoLS_", &result));
  EXPECT_EQ(IDNO, result);
  result = 99;
  EXPECT_FALSE(ResultOfButtonToken(L"_LSyesLS_", &result));
  EXPECT_FALSE(ResultOfButtonToken(L"Yes", &result));
  EXPECT_FALSE(ResultOfButtonToken(L"", &result));
  EXPECT_FALSE(ResultOfButtonToken(L"_LSNoLS_ ", &result));
  EXPECT_EQ(99, result) << "a wrong token leaves the result alone";
}

}  // namespace
