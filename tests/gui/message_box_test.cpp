// CSNMessageBox on the real skin page "popup": button sets, results of presses by mouse and
// keyboard, the system close, and the parent disabled while it is up.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "gui/message_box.h"
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
  return static_cast<double>(rect.right - rect.left) / layout::kPopupWidth;
}

// Runs `user` on another thread once the popup is up and drawn; it gets the popup window.
int AskWith(CSNMessageBox& box, UINT type, const std::function<void(HWND)>& user, HWND parent = nullptr) {
  std::thread helper([&] {
    HWND popup = nullptr;
    if (!WaitFor([&] { return (popup = gui_testing::FindHostWindow(parent)) != nullptr && IsWindowVisible(popup); })) {
      return;
    }
    Sleep(200);  // the page has received its buttons by now
    user(popup);
  });
  const int result = box.ShowMessage(L"Are you sure you want to quit?", L"Orvane", type, parent);
  helper.join();
  box.Close();
  return result;
}

class Popup : public ::testing::Test {
 protected:
  void SetUp() override {
    glossel_->SetDictionaryFolder((gui_testing::ExecutableFolder() + L"\\lang\\en-US").c_str());
  }
  GlosselHandle glossel_;
};

TEST_F(Popup, TypeZeroShowsOneOkButtonAndAClickGivesOne) {
  CSNMessageBox box;
  gui_testing::Capture shot;
  const int result = AskWith(box, MB_OK, [&](HWND popup) {
    const double scale = ScaleOf(popup);
    shot = gui_testing::CaptureWindow(popup);
    shot.SavePpm(gui_testing::ScreenshotFolder() + L"\\popup-ok.ppm");
    const POINT ok = layout::Centre(layout::kLastButton, scale);
    gui_testing::Click(popup, ok.x, ok.y);
  });
  EXPECT_EQ(IDOK, result);
  ASSERT_GT(shot.width, 0);
  const double scale = static_cast<double>(shot.width) / layout::kPopupWidth;
  const RECT ok = layout::Scaled(layout::kLastButton, scale);
  const RECT other = layout::Scaled(layout::kFirstOfTwo, scale);
  EXPECT_GT(gui_testing::CountPixels(shot, ok.left + 2, ok.top + 2, ok.right - 2, ok.bottom - 2, gui_testing::IsDark), 10)
      << "the OK text is drawn";
  EXPECT_EQ(0, gui_testing::CountPixels(shot, other.left, other.top, other.right, other.bottom, gui_testing::IsDark))
      << "one button only";
  const RECT message = layout::Scaled(layout::kPopupMessage, scale);
  EXPECT_GT(gui_testing::CountPixels(shot, message.left, message.top, message.right, message.bottom,
                                     gui_testing::IsDark), 50)
      << "the message is drawn";
  const RECT title = layout::Scaled(layout::kPopupTitle, scale);
  EXPECT_GT(gui_testing::CountPixels(shot, title.left, title.top, title.right, title.bottom,
                                     [](uint32_t c) { return gui_testing::Near(c, 0xFFFFFF, 40); }), 20)
      << "the caption is drawn in white on the title bar";
}

TEST_F(Popup, YesNoQuestionShowsYesThenNo) {
  {
    CSNMessageBox box;
    EXPECT_EQ(IDYES, AskWith(box, MB_YESNO | MB_ICONQUESTION, [](HWND popup) {
      const POINT yes = layout::Centre(layout::kFirstOfTwo, ScaleOf(popup));
      gui_testing::Click(popup, yes.x, yes.y);
    }));
  }
  {
    CSNMessageBox box;
    EXPECT_EQ(IDNO, AskWith(box, MB_YESNO | MB_ICONQUESTION, [](HWND popup) {
      const POINT no = layout::Centre(layout::kLastButton, ScaleOf(popup));
      gui_testing::Click(popup, no.x, no.y);
    }));
  }
}

TEST_F(Popup, KeyboardTabMovesTheChoiceAndEnterOrSpacePressesIt) {
  {
    CSNMessageBox box;
    EXPECT_EQ(IDYES, AskWith(box, MB_YESNO, [](HWND popup) { gui_testing::PressKey(popup, VK_RETURN); }))
        << "the first button is chosen at the start";
  }
  {
    CSNMessageBox box;
    EXPECT_EQ(IDNO, AskWith(box, MB_YESNO, [](HWND popup) {
      gui_testing::PressKey(popup, VK_TAB);
      gui_testing::PressKey(popup, VK_SPACE);
    }));
  }
}

TEST_F(Popup, EscapeAndAltF4CloseWithoutAButtonResult) {
  {
    CSNMessageBox box;
    EXPECT_EQ(CSNMessageBox::kNoButton, AskWith(box, MB_YESNO, [](HWND popup) {
      gui_testing::PressKey(popup, VK_ESCAPE);
    }));
  }
  {
    CSNMessageBox box;
    EXPECT_EQ(CSNMessageBox::kNoButton, AskWith(box, MB_OK, [](HWND popup) { gui_testing::PressAltF4(popup); }));
  }
}

TEST_F(Popup, OnlyTheExactButtonTokenChangesTheResult) {
  ov::gui::SciterApi();
  CSNMessageBox box;
  auto press = [&](const std::wstring& id) {
    ov::gui::ScriptValue button;
    button.SetItem(L"buttonID", ov::gui::ScriptValue::FromString(id));
    int answer = -1;
    EXPECT_TRUE(box.onButtonPressed(button).GetInt(&answer));
    EXPECT_EQ(0, answer);
  };
  press(L"_LSNoLS_");
  EXPECT_EQ(IDNO, box.Result());
  press(L"_LSyesLS_");
  press(L"_LSOkLS_");
  press(L"Yes");
  EXPECT_EQ(IDNO, box.Result()) << "wrong-case and untranslated ids change nothing";
  ov::gui::ScriptValue noId;
  noId.SetItem(L"displayText", ov::gui::ScriptValue::FromString(L"_LSYesLS_"));
  box.onButtonPressed(noId);
  EXPECT_EQ(IDNO, box.Result()) << "a map without buttonID changes nothing";
  press(L"_LSOKLS_");
  EXPECT_EQ(IDOK, box.Result());
}

TEST_F(Popup, ParentIsDisabledWhileThePopupIsUpAndActiveAfter) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 200, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, parent);
  CSNMessageBox box;
  std::atomic<bool> disabled{false};
  std::atomic<bool> owned{false};
  const int result = AskWith(box, MB_OK, [&](HWND popup) {
    disabled = IsWindowEnabled(parent) == FALSE;
    owned = GetWindow(popup, GW_OWNER) == parent;
    gui_testing::PressKey(popup, VK_RETURN);
  }, parent);
  EXPECT_EQ(IDOK, result);
  EXPECT_TRUE(disabled.load());
  EXPECT_TRUE(owned.load());
  EXPECT_TRUE(IsWindowEnabled(parent));
  EXPECT_EQ(parent, GetActiveWindow());
  DestroyWindow(parent);
}

TEST_F(Popup, ButtonsAreTranslated) {
  glossel_->SetDictionaryFolder((gui_testing::ExecutableFolder() + L"\\lang\\fr-FR").c_str());
  CSNMessageBox box;
  gui_testing::Capture french;
  AskWith(box, MB_YESNO, [&](HWND popup) {
    french = gui_testing::CaptureWindow(popup);
    french.SavePpm(gui_testing::ScreenshotFolder() + L"\\popup-fr-FR.ppm");
    gui_testing::PressKey(popup, VK_ESCAPE);
  });
  glossel_->SetDictionaryFolder((gui_testing::ExecutableFolder() + L"\\lang\\en-US").c_str());
  CSNMessageBox english;
  gui_testing::Capture shot;
  AskWith(english, MB_YESNO, [&](HWND popup) {
    shot = gui_testing::CaptureWindow(popup);
    gui_testing::PressKey(popup, VK_ESCAPE);
  });
  ASSERT_EQ(shot.width, french.width);
  const RECT yes = layout::Scaled(layout::kFirstOfTwo, static_cast<double>(shot.width) / layout::kPopupWidth);
  int differing = 0;
  for (int y = yes.top; y < yes.bottom; ++y) {
    for (int x = yes.left; x < yes.right; ++x) differing += shot.At(x, y) != french.At(x, y) ? 1 : 0;
  }
  EXPECT_GT(differing, 10) << "\"Oui\" is drawn where \"Yes\" was";
}

}  // namespace
