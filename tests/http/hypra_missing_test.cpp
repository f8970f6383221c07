// Without hypra.dll beside the executable the client stays usable and every request fails.
#include "libheaders/hyprawrapper.h"

#include <gtest/gtest.h>

namespace {

TEST(HypraMissing, LoadGives5002AndRequestsGive21) {
  CHypraWrapper wrapper;
  EXPECT_EQ(5002u, wrapper.LoadResult());
  EXPECT_EQ(21u, wrapper.SendRequest(L"http://127.0.0.1:1/x", L"", nullptr, L""));
  EXPECT_EQ(1627u, wrapper.SendRequest(L"bad url", L"", nullptr, L"")) << "the URL is checked first";
}

}  // namespace
