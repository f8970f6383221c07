// How the code every shipped module carries ends a run that cannot go on: a failure inside the
// C++ library's strings and containers, and a system function the system folder lacks.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

// A function winmm.dll does not have, linked through a delay-load library made for this test.
extern "C" void PaliskNoSuchFunction();

namespace {

using RuntimeFailuresDeathTest = testing::Test;

constexpr int kAbortExit = 3;  // what abort() leaves as the exit code on Windows

TEST_F(RuntimeFailuresDeathTest, PositionPastTheEndSaysWhereAsTheUncaughtExceptionWould) {
  EXPECT_EXIT(
      {
        std::string text("abc");
        volatile size_t position = 5;
        text = text.substr(position);
      },
      testing::ExitedWithCode(kAbortExit),
      "terminate called after throwing an instance of 'St12out_of_range'\n"
      "  what\\(\\):  basic_string::substr: __pos \\(which is 5\\) > this->size\\(\\) \\(which is 3\\)");
}

TEST_F(RuntimeFailuresDeathTest, VectorAtOutOfRangeFormatsBothNumbers) {
  EXPECT_EXIT(
      {
        std::vector<int> values(2);
        volatile size_t index = 7;
        values.at(index) = 1;
      },
      testing::ExitedWithCode(kAbortExit),
      "'St12out_of_range'\n  what\\(\\):  vector::_M_range_check: __n \\(which is 7\\) >= this->size\\(\\) "
      "\\(which is 2\\)");
}

TEST_F(RuntimeFailuresDeathTest, LengthPastTheMaximumEndsTheRun) {
  EXPECT_EXIT(
      {
        std::wstring text;
        text.reserve(text.max_size() + 1);
      },
      testing::ExitedWithCode(kAbortExit), "'St12length_error'\n  what\\(\\):  basic_string::_M_create");
}

TEST_F(RuntimeFailuresDeathTest, NullPointerForAStringEndsTheRun) {
  EXPECT_EXIT(
      {
        const char* volatile none = nullptr;
        std::string text(none);
      },
      testing::ExitedWithCode(kAbortExit), "'St11logic_error'\n  what\\(\\):  basic_string: construction from null");
}

TEST_F(RuntimeFailuresDeathTest, MissingSystemFunctionEndsTheRunWithTheLoadersError) {
  // The delay-load helper finds winmm.dll in the system folder, then not the function: the hook
  // ends the run with the loader's error rather than letting an exception that nothing handles go.
  EXPECT_EXIT(PaliskNoSuchFunction(), testing::ExitedWithCode(ERROR_PROC_NOT_FOUND), "");
}

}  // namespace
