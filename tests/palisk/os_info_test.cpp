// What Palisk asks of Windows itself, whichever flavour asks.
#include "installer/palisk/os_info.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// The test prefix is a 64-bit Windows: the i686 product sees it through WOW64, the x64 build
// directly, and both must choose the "x64" kit.
TEST(OsInfo, SixtyFourBitWindowsIsSeenFromEitherFlavour) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_EQ(sizeof(void*) == 4, wow64 != FALSE) << "the i686 flavour runs under WOW64, the x64 one natively";
  EXPECT_TRUE(palisk::IsOs64Bit());
}

}  // namespace
