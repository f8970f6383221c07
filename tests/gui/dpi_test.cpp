// The skin pages at 150 % (144 DPI): the engine scales their pixels, the windows take the
// scaled content size, and nothing is cut off. Wine reads the DPI once per process from
// HKCU\Control Panel\Desktop "LogPixels", so the test sets it, runs its checks in a child
// process of itself, and puts the old value back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "gui/downloader_interface.h"
#include "gui/message_box.h"
#include "gui_test_support.h"
#include "installer/palisk/glossel_client.h"
#include "skin_layout.h"

namespace {

using gui_testing::WaitFor;
namespace layout = skin_layout;

constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t kExpectVariable[] = L"PALISK_EXPECT_DPI";

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int ExpectedDpi() {
  wchar_t value[16] = L"";
  if (GetEnvironmentVariableW(kExpectVariable, value, 16) == 0) return 0;
  return _wtoi(value);
}

// The frame's border runs along the whole last row and column: the window was not cut.
void ExpectFrameAtTheEdges(const gui_testing::Capture& shot, const char* what) {
  auto frame = [](uint32_t c) { return gui_testing::Near(c, layout::kFrameColour, 40); };
  const int bottom = gui_testing::CountPixels(shot, 0, shot.height - 1, shot.width, shot.height, frame);
  const int right = gui_testing::CountPixels(shot, shot.width - 1, 0, shot.width, shot.height, frame);
  EXPECT_GT(bottom, shot.width * 9 / 10) << what << ": bottom border";
  EXPECT_GT(right, shot.height * 9 / 10) << what << ": right border";
}

// Run only by the child that SkinAt150Percent starts (disabled for the normal listing).
class SkinAtCurrentDpi : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ExpectedDpi() == 0) GTEST_SKIP() << "runs in the child that SkinAt150Percent starts";
    glossel_->SetDictionaryFolder((gui_testing::ExecutableFolder() + L"\\lang\\en-US").c_str());
  }
  GlosselHandle glossel_;
};

TEST_F(SkinAtCurrentDpi, DISABLED_ProgressScreenFitsItsWindow) {
  ASSERT_EQ(ExpectedDpi(), ScreenDpi()) << "Wine did not take LogPixels";
  const double scale = ExpectedDpi() / 96.0;
  gui_testing::FixedStatusManager manager;
  manager.Set(50, 1500.0);
  CDownloaderInterface screen(L"Orvane Endpoint Security", &manager);
  screen.Show(true);
  ASSERT_TRUE(WaitFor([&] { return screen.Handle() != nullptr && IsWindowVisible(screen.Handle()); }));
  // This program has no manifest: the window host itself made the process per-monitor
  // aware before its first window (Windows would otherwise stretch a 96-DPI bitmap).
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto threadContext = reinterpret_cast<HANDLE(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
  const auto awarenessOf = reinterpret_cast<int(WINAPI*)(HANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  ASSERT_TRUE(threadContext != nullptr && awarenessOf != nullptr);
  EXPECT_EQ(2, awarenessOf(threadContext())) << "per-monitor aware";
  RECT rect = {};
  GetWindowRect(screen.Handle(), &rect);
  EXPECT_EQ(static_cast<int>(layout::kProgressWidth * scale), rect.right - rect.left);
  EXPECT_EQ(static_cast<int>(layout::kProgressHeight * scale), rect.bottom - rect.top);
  const RECT area = layout::Scaled(layout::kBarFillArea, scale);
  const int expectedFill = (area.right - area.left) / 2;
  gui_testing::Capture shot;
  WaitFor([&] {
    shot = gui_testing::CaptureWindow(screen.Handle());
    const int row = (area.top + area.bottom) / 2;
    const int fill = gui_testing::CountPixels(shot, area.left, row, area.right, row + 1, [](uint32_t c) {
      return gui_testing::Near(c, layout::kFillColour, 30);
    });
    return std::abs(fill - expectedFill) <= 3;
  }, 5000);
  shot.SavePpm(gui_testing::ScreenshotFolder() + L"\\progress-" + std::to_wstring(ExpectedDpi()) + L"dpi.ppm");
  ExpectFrameAtTheEdges(shot, "progress");
  const RECT cancel = layout::Scaled(layout::kCancelButton, scale);
  EXPECT_GT(gui_testing::CountPixels(shot, cancel.left + 3, cancel.top + 3, cancel.right - 3, cancel.bottom - 3,
                                     gui_testing::IsDark), 20) << "the Cancel text inside its button";
  const RECT speed = layout::Scaled(layout::kSpeedText, scale);
  EXPECT_GT(gui_testing::CountPixels(shot, speed.left, speed.top, speed.right, speed.bottom, gui_testing::IsDark), 30);
  screen.Close();
}

TEST_F(SkinAtCurrentDpi, DISABLED_PopupFitsItsWindow) {
  const double scale = ExpectedDpi() / 96.0;
  CSNMessageBox box;
  gui_testing::Capture shot;
  RECT rect = {};
  std::thread user([&] {
    HWND popup = nullptr;
    if (!WaitFor([&] { return (popup = gui_testing::FindHostWindow()) != nullptr && IsWindowVisible(popup); })) return;
    Sleep(300);
    GetWindowRect(popup, &rect);
    shot = gui_testing::CaptureWindow(popup);
    gui_testing::PressKey(popup, VK_ESCAPE);
  });
  box.ShowMessage(L"The Web Installer cannot download the product files. Please check the network connectivity "
                  L"between this machine and the server.", L"Palisk error!", MB_YESNO, nullptr);
  user.join();
  box.Close();
  ASSERT_GT(shot.width, 0);
  shot.SavePpm(gui_testing::ScreenshotFolder() + L"\\popup-" + std::to_wstring(ExpectedDpi()) + L"dpi.ppm");
  EXPECT_EQ(static_cast<int>(layout::kPopupWidth * scale), rect.right - rect.left);
  EXPECT_EQ(static_cast<int>(layout::kPopupHeight * scale), rect.bottom - rect.top);
  ExpectFrameAtTheEdges(shot, "popup");
  for (const RECT& button : {layout::kFirstOfTwo, layout::kLastButton}) {
    const RECT scaled = layout::Scaled(button, scale);
    EXPECT_GT(gui_testing::CountPixels(shot, scaled.left + 3, scaled.top + 3, scaled.right - 3, scaled.bottom - 3,
                                       gui_testing::IsDark), 10) << "button text inside its button";
  }
  const RECT message = layout::Scaled(layout::kPopupMessage, scale);
  EXPECT_GT(gui_testing::CountPixels(shot, message.left, message.top, message.right, message.bottom,
                                     gui_testing::IsDark), 100) << "the long message wraps inside its box";
}

// Reads and restores one REG_DWORD (or its absence).
class SavedDword {
 public:
  SavedDword(HKEY root, const wchar_t* key, const wchar_t* name) : m_name(name) {
    RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &m_key, nullptr);
    DWORD size = sizeof m_value, type = 0;
    m_present = RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&m_value), &size) ==
                    ERROR_SUCCESS && type == REG_DWORD;
  }
  ~SavedDword() {
    if (m_present) Set(m_value);
    else RegDeleteValueW(m_key, m_name);
    RegCloseKey(m_key);
  }
  void Set(DWORD value) {
    RegSetValueExW(m_key, m_name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }

 private:
  HKEY m_key = nullptr;
  const wchar_t* m_name;
  DWORD m_value = 0;
  bool m_present = false;
};

TEST(SkinAt150Percent, NothingIsClippedAt144Dpi) {
  if (ExpectedDpi() != 0) GTEST_SKIP() << "the child runs the checks";
  DWORD exitCode = 1;
  {
    SavedDword logPixels(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
    logPixels.Set(144);
    SetEnvironmentVariableW(kExpectVariable, L"144");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=SkinAtCurrentDpi.*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    const BOOL started = CreateProcessW(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                        &child);
    SetEnvironmentVariableW(kExpectVariable, nullptr);
    ASSERT_TRUE(started);
    WaitForSingleObject(child.hProcess, 240000);
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  EXPECT_EQ(0u, exitCode) << "the child's checks at 144 DPI failed (its output is above)";
  EXPECT_EQ(96, ScreenDpi()) << "this process kept its own DPI";
}

}  // namespace
