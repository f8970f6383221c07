// CDownloaderInterface on the real skin page "palisk": the numbers it hands the page, the bar
// drawn from them, the quit question and what the download thread sees of it, and the system
// close that does nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "gui/downloader_interface.h"
#include "gui/sciter_engine.h"
#include "gui_test_support.h"
#include "installer/palisk/glossel_client.h"
#include "skin_layout.h"

namespace {

using gui_testing::WaitFor;
namespace layout = skin_layout;

double ScaleOf(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return static_cast<double>(rect.right - rect.left) / layout::kProgressWidth;
}

class ProgressScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    glossel_->SetDictionaryFolder((gui_testing::ExecutableFolder() + L"\\lang\\en-US").c_str());
  }
  bool Up(CDownloaderInterface& screen) {
    return WaitFor([&] { return screen.Handle() != nullptr && IsWindowVisible(screen.Handle()); });
  }
  // The fill's width on the middle row of the bar, in screen pixels.
  static int FillWidth(const gui_testing::Capture& shot) {
    const double scale = static_cast<double>(shot.width) / layout::kProgressWidth;
    const RECT area = layout::Scaled(layout::kBarFillArea, scale);
    const int row = (area.top + area.bottom) / 2;
    return gui_testing::CountPixels(shot, area.left, row, area.right, row + 1,
                                    [](uint32_t c) { return gui_testing::Near(c, layout::kFillColour, 30); });
  }
  gui_testing::Capture ShotWhenFilled(CDownloaderInterface& screen, int expectedWidth) {
    gui_testing::Capture shot;
    // The page polls four times a second; wait until a poll has drawn the new numbers.
    WaitFor([&] {
      shot = gui_testing::CaptureWindow(screen.Handle());
      return shot.width > 0 && std::abs(FillWidth(shot) - expectedWidth) <= 2;
    }, 5000);
    return shot;
  }

  GlosselHandle glossel_;
  gui_testing::FixedStatusManager manager_;
};

std::wstring Text(const ov::gui::ScriptValue& map, const wchar_t* key) { return map.GetItem(key).GetString(); }

TEST_F(ProgressScreen, ProgressMapCarriesPercentSpeedAndEtl) {
  ov::gui::SciterApi();
  CDownloaderInterface screen(L"Orvane", &manager_);
  manager_.Set(42, 999.99);
  ov::gui::ScriptValue status = screen.getDownloadProgress();
  int percent = -1;
  ASSERT_TRUE(status.GetItem(L"progress").GetInt(&percent));
  EXPECT_EQ(42, percent);
  EXPECT_EQ(L"999.99 KB/s", Text(status, L"speed"));
  EXPECT_EQ(L"0", Text(status, L"etl"));
  EXPECT_EQ(3, status.Count()) << "progress, speed, etl";
  manager_.Set(100, 1000.0);
  status = screen.getDownloadProgress();
  EXPECT_EQ(L"0.98 MB/s", Text(status, L"speed"));
}

TEST_F(ProgressScreen, UnitsFollowTheLanguage) {
  glossel_->SetDictionaryFolder((gui_testing::ExecutableFolder() + L"\\lang\\fr-FR").c_str());
  ov::gui::SciterApi();
  CDownloaderInterface screen(L"Orvane", &manager_);
  manager_.Set(1, 12.5);
  EXPECT_EQ(L"12.50 Ko/s", Text(screen.getDownloadProgress(), L"speed"));
  manager_.Set(1, 2048.0);
  EXPECT_EQ(L"2.00 Mo/s", Text(screen.getDownloadProgress(), L"speed"));
}

TEST_F(ProgressScreen, BarFollowsThePercentAndTextsAreDrawn) {
  CDownloaderInterface screen(L"Orvane Endpoint Security", &manager_);
  manager_.Set(25, 512.0);
  screen.Show(true);
  ASSERT_TRUE(Up(screen));
  wchar_t title[128] = L"";
  GetWindowTextW(screen.Handle(), title, 128);
  EXPECT_STREQ(L"Orvane Endpoint Security", title);
  const double scale = ScaleOf(screen.Handle());
  const int full = layout::kBarFillArea.right - layout::kBarFillArea.left;
  for (const int percent : {25, 75, 100, 0}) {
    manager_.Set(percent, 512.0);
    const int expected = static_cast<int>(full * scale * percent / 100);
    const gui_testing::Capture shot = ShotWhenFilled(screen, expected);
    shot.SavePpm(gui_testing::ScreenshotFolder() + L"\\progress-" + std::to_wstring(percent) + L".ppm");
    EXPECT_NEAR(expected, FillWidth(shot), 2) << percent << " %";
    if (percent == 75) {
      const RECT speed = layout::Scaled(layout::kSpeedText, scale);
      const RECT percentText = layout::Scaled(layout::kPercentText, scale);
      const RECT cancel = layout::Scaled(layout::kCancelButton, scale);
      const RECT caption = layout::Scaled(layout::kCaption, scale);
      EXPECT_GT(gui_testing::CountPixels(shot, speed.left, speed.top, speed.right, speed.bottom, gui_testing::IsDark),
                20) << "speed text";
      EXPECT_GT(gui_testing::CountPixels(shot, percentText.left, percentText.top, percentText.right,
                                         percentText.bottom, gui_testing::IsDark), 10) << "percent text";
      EXPECT_GT(gui_testing::CountPixels(shot, cancel.left + 2, cancel.top + 2, cancel.right - 2, cancel.bottom - 2,
                                         gui_testing::IsDark), 10) << "Cancel text";
      EXPECT_GT(gui_testing::CountPixels(shot, caption.left, caption.top, caption.right, caption.bottom,
                                         [](uint32_t c) { return gui_testing::Near(c, 0xFFFFFF, 40); }), 40)
          << "caption text";
    }
  }
  screen.Close();
  EXPECT_FALSE(screen.IsRunning());
}

TEST_F(ProgressScreen, SystemCloseAndAltF4DoNothing) {
  CDownloaderInterface screen(L"Orvane", &manager_);
  screen.Show(true);
  ASSERT_TRUE(Up(screen));
  gui_testing::PressAltF4(screen.Handle());
  PostMessageW(screen.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  // Both have been handled once a call sent after them has run.
  ASSERT_TRUE(screen.SendCall([] {}));
  Sleep(300);
  EXPECT_TRUE(screen.IsRunning());
  EXPECT_TRUE(IsWindowVisible(screen.Handle()));
  screen.Close();
}

TEST_F(ProgressScreen, CancelNoLetsTheHeldDownloadGoOnThenYesCancels) {
  CDownloaderInterface screen(L"Orvane", &manager_);
  manager_.Set(10, 100.0);
  screen.Show(true);
  ASSERT_TRUE(Up(screen));
  EXPECT_EQ(0, screen.QueryCancel());
  const double scale = ScaleOf(screen.Handle());
  const POINT cancel = layout::Centre(layout::kCancelButton, scale);

  for (const bool yes : {false, true}) {
    gui_testing::Click(screen.Handle(), cancel.x, cancel.y);
    HWND question = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      question = gui_testing::FindHostWindow(screen.Handle());
      return question != nullptr && IsWindowVisible(question);
    })) << "the quit question is owned by the progress window";
    // The question disables its parent once its loop runs, right after it is shown.
    EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(screen.Handle()); }));
    // A click that still reaches the disabled window opens no second question.
    gui_testing::Click(screen.Handle(), cancel.x, cancel.y);
    std::atomic<bool> clickHandled{false};
    ASSERT_TRUE(screen.PostCall([&] { clickHandled = true; }));  // queued behind the click
    ASSERT_TRUE(WaitFor([&] { return clickHandled.load(); }));
    Sleep(200);
    EXPECT_EQ(2, gui_testing::CountHostWindows()) << "the screen and one question";
    // The download thread's next question waits for the answer.
    std::atomic<int> answer{1};
    std::thread download([&] { answer = screen.QueryCancel(); });
    Sleep(500);
    EXPECT_EQ(1, answer.load()) << "held while the question is open";
    if (yes) gui_testing::PressKey(question, VK_RETURN);  // Yes is chosen first
    else {
      const double popupScale = static_cast<double>([&] {
        RECT r = {};
        GetWindowRect(question, &r);
        return r.right - r.left;
      }()) / layout::kPopupWidth;
      const POINT no = layout::Centre(layout::kLastButton, popupScale);
      gui_testing::Click(question, no.x, no.y);
    }
    download.join();
    EXPECT_EQ(yes ? DownloadStatus::kCancelled : 0, answer.load());
    EXPECT_EQ(yes, screen.IsCancelled());
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(question) && IsWindowEnabled(screen.Handle()); }));
  }
  EXPECT_EQ(DownloadStatus::kCancelled, screen.QueryCancel()) << "every later question gives -2";
  EXPECT_TRUE(screen.IsRunning()) << "the screen does not close itself";
  screen.Close();
}

TEST_F(ProgressScreen, SecondCancelAfterYesAsksAgainAndStillAnswersOne) {
  CDownloaderInterface screen(L"Orvane", &manager_);
  screen.Show(true);
  ASSERT_TRUE(Up(screen));
  const POINT cancel = layout::Centre(layout::kCancelButton, ScaleOf(screen.Handle()));
  for (const UINT key : {static_cast<UINT>(VK_RETURN), static_cast<UINT>(VK_ESCAPE)}) {
    gui_testing::Click(screen.Handle(), cancel.x, cancel.y);
    HWND question = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (question = gui_testing::FindHostWindow(screen.Handle())) != nullptr; }));
    Sleep(200);
    gui_testing::PressKey(question, key);  // Yes first; then the question closed without an answer
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(question); }));
  }
  EXPECT_TRUE(screen.IsCancelled()) << "a later question without Yes never clears the flag";
  EXPECT_EQ(DownloadStatus::kCancelled, screen.QueryCancel());
  screen.Close();
}

}  // namespace
