// How the protection is switched on: environment variables (present or not, never read) and
// the executable's IFEO values (REG_DWORD only), and the decision made from them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dllprotect/protect_switches.h"
#include "dllprotect/protection.h"

using namespace dllprotect;

namespace {

const char* const kAllSwitches[] = {kSanitiserOn, kSanitiserOff, kProtectionOn, kProtectionBlock, kProtectionNoReport,
                                    kProtectionOff};

void SetSwitch(const char* suffix, const char* value = "1") {
  SetEnvironmentVariableA((std::string(kSwitchPrefix) + suffix).c_str(), value);
}

std::wstring IfeoKeyOfThisTest() {
  std::wstring executable;
  EXPECT_EQ(0u, ExecutableNameForIfeo(executable));
  return L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\" + executable;
}

// Every test starts without switches and without IFEO values for this executable.
class Switches : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const char* suffix : kAllSwitches) SetEnvironmentVariableA((std::string(kSwitchPrefix) + suffix).c_str(), nullptr);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, IfeoKeyOfThisTest().c_str());
  }
  static void SetIfeo(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, IfeoKeyOfThisTest().c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
  }
  static void SetIfeoDword(const wchar_t* name, DWORD value) { SetIfeo(name, REG_DWORD, &value, sizeof value); }
};

}  // namespace

TEST_F(Switches, AVariableCountsWhenPresentWhateverItsValue) {
  EXPECT_FALSE(IsSwitchSet(kProtectionOn));
  SetSwitch(kProtectionOn, "");
  EXPECT_TRUE(IsSwitchSet(kProtectionOn)) << "an empty value is still a variable";
  SetSwitch(kProtectionOn, "0");
  EXPECT_TRUE(IsSwitchSet(kProtectionOn)) << "the value is never read";
  EXPECT_FALSE(IsSwitchSet(kProtectionBlock)) << "only the exact name";
}

TEST_F(Switches, EnvironmentMatrix) {
  EXPECT_FALSE(DecideProtection().start) << "nothing set";

  SetSwitch(kProtectionOn);
  ProtectionDecision decision = DecideProtection();
  EXPECT_TRUE(decision.start);
  EXPECT_TRUE(decision.fromEnvironment);
  EXPECT_FALSE(decision.blockMode);
  EXPECT_TRUE(decision.report);
  EXPECT_EQ(0x12u, decision.Options());
  EXPECT_EQ(L"dllprotect_test.exe", decision.processName);
  EXPECT_NE(std::wstring::npos, decision.reportFolder.find(L"\\48C4687D-9760-4F5B-BAB3-60351B0841E4"));

  SetSwitch(kProtectionNoReport);
  EXPECT_TRUE(DecideProtection().start);
  EXPECT_FALSE(DecideProtection().report);

  SetSwitch(kProtectionOff);
  EXPECT_FALSE(DecideProtection().start) << "disabled wins";
  Clear();

  SetSwitch(kProtectionBlock);
  decision = DecideProtection();
  EXPECT_TRUE(decision.start) << "block alone switches the protection on";
  EXPECT_TRUE(decision.blockMode);
  EXPECT_EQ(0x22u, decision.Options());
}

TEST_F(Switches, EnvironmentReportingNeedsAProgramDataFolder) {
  wchar_t saved[MAX_PATH] = L"";
  const DWORD n = GetEnvironmentVariableW(L"ProgramData", saved, MAX_PATH);
  SetSwitch(kProtectionOn);
  SetEnvironmentVariableW(L"ProgramData", nullptr);
  const ProtectionDecision decision = DecideProtection();
  if (n != 0) SetEnvironmentVariableW(L"ProgramData", saved);
  EXPECT_TRUE(decision.start);
  EXPECT_TRUE(decision.reportFolder.empty());
  EXPECT_FALSE(decision.report) << "no folder to report to";
}

TEST_F(Switches, IfeoDwordOnlyAndAnyNonZeroValue) {
  DWORD value = 0;
  std::wstring executable;
  ASSERT_EQ(0u, ExecutableNameForIfeo(executable));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadIfeoDword(executable, kIfeoProtection, value)) << "no key";

  SetIfeoDword(kIfeoProtection, 5);
  ASSERT_EQ(ERROR_SUCCESS, ReadIfeoDword(executable, kIfeoProtection, value));
  EXPECT_EQ(5u, value);
  ProtectionDecision decision = DecideProtection();
  EXPECT_TRUE(decision.start) << "5 switches report mode on";
  EXPECT_FALSE(decision.fromEnvironment);
  EXPECT_FALSE(decision.blockMode);
  EXPECT_TRUE(decision.report);

  SetIfeoDword(kIfeoProtection, 0);
  EXPECT_FALSE(DecideProtection().start);

  const wchar_t text[] = L"5";
  SetIfeo(kIfeoProtection, REG_SZ, text, sizeof text);
  EXPECT_EQ(ERROR_INVALID_DATA, ReadIfeoDword(executable, kIfeoProtection, value));
  EXPECT_FALSE(DecideProtection().start) << "the same number as text does not count";

  SetIfeoDword(kIfeoProtection, 1);
  SetSwitch(kProtectionNoReport);
  decision = DecideProtection();
  EXPECT_TRUE(decision.start);
  EXPECT_FALSE(decision.report);

  SetSwitch(kProtectionOff);
  EXPECT_FALSE(DecideProtection().start) << "the environment's off switch beats the registry";
}

TEST_F(Switches, StartRefusesReportAndBlockTogetherAndTouchesNoCode) {
  auto* code = reinterpret_cast<const uint8_t*>(&LoadLibraryExW);
  uint8_t before[16];
  memcpy(before, code, sizeof before);
  EXPECT_FALSE(DllProtectStart(0x30, nullptr));
  EXPECT_FALSE(Protection().active);
  EXPECT_EQ(0, memcmp(before, code, sizeof before));
  EXPECT_NE(nullptr, LoadLibraryW(L"kernel32.dll"));
}
