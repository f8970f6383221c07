// The window host with pages of the test's own: window size from the content, the script
// function "translate", calls run on the window's thread, Show and Close across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "gui/sciter_engine.h"
#include "gui/window.h"
#include "gui_test_support.h"
#include "support/test_support.h"

namespace {

using gui_testing::WaitFor;
using testing_support::ScopedTempFolder;

class TestWindow final : public ov::gui::Window {
 public:
  TestWindow(const std::wstring& page, const std::wstring& icon) : Window(page.c_str(), icon.c_str()) {}
  ~TestWindow() { StopAndWait(); }
  using Window::SetParent;
  using Window::SetSelector;
  std::atomic<int> documentsLoaded{0};
  std::atomic<int> destroyed{0};
  void OnDocumentLoaded() override { ++documentsLoaded; }
  void OnDestroy() override { ++destroyed; }
};

std::string Page(int width, int height, const std::string& script = "") {
  return "<html><head><style>body { margin: 0; width: " + std::to_string(width) + "px; height: " +
         std::to_string(height) + "px; background-color: #336699; }</style><script>" + script +
         "</script></head><body><div>page</div></body></html>";
}

class WindowHost : public ::testing::Test {
 protected:
  std::wstring WritePage(const std::string& html) {
    const std::wstring path = folder_.Make(L"page" + std::to_wstring(++pages_) + L".html");
    EXPECT_TRUE(testing_support::WriteTextFile(path, html));
    return path;
  }
  std::wstring Icon() const { return gui_testing::ExecutableFolder() + L"\\skin\\ovicon.ico"; }

  ScopedTempFolder folder_;
  int pages_ = 0;
};

bool Visible(const ov::gui::Window& window) {
  return window.Handle() != nullptr && IsWindowVisible(window.Handle());
}

SIZE WindowSize(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

TEST_F(WindowHost, WindowTakesExactlyTheContentSize) {
  const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int value = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return value;
  }();
  for (const SIZE wanted : {SIZE{120, 60}, SIZE{300, 140}, SIZE{900, 700}}) {
    TestWindow window(WritePage(Page(wanted.cx, wanted.cy)), Icon());
    window.Show(true);
    ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
    const SIZE size = WindowSize(window.Handle());
    EXPECT_EQ(wanted.cx * dpi / 96, size.cx) << "dpi " << dpi;
    EXPECT_EQ(wanted.cy * dpi / 96, size.cy) << "dpi " << dpi;
    EXPECT_EQ(1, window.documentsLoaded.load());
    window.Close();
    EXPECT_FALSE(window.IsRunning());
  }
}

TEST_F(WindowHost, IconFromTheSkinFileAndTitle) {
  TestWindow window(WritePage(Page(100, 50)), Icon());
  EXPECT_NE(nullptr, window.Icon());
  TestWindow without(WritePage(Page(100, 50)), folder_.Path() + L"\\missing.ico");
  EXPECT_EQ(nullptr, without.Icon()) << "a missing icon leaves a usable window without one";
  without.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(without); }));
  wchar_t className[64] = L"";
  GetClassNameW(without.Handle(), className, 64);
  EXPECT_STREQ(L"ov::gui::window", className);
  EXPECT_EQ(static_cast<LONG_PTR>(WS_POPUP | WS_MINIMIZEBOX),
            GetWindowLongPtrW(without.Handle(), GWL_STYLE) & (WS_POPUP | WS_MINIMIZEBOX | WS_CAPTION));
  EXPECT_TRUE(GetWindowLongPtrW(without.Handle(), GWL_EXSTYLE) & WS_EX_LAYERED);
  without.Close();
}

TEST_F(WindowHost, PageThatCannotBeLoadedGives552AndNoLoop) {
  TestWindow window(folder_.Path() + L"\\no-such-page.html", Icon());
  EXPECT_EQ(ov::gui::Window::kPageNotLoaded, window.Show(false));
  EXPECT_FALSE(window.IsRunning());
  EXPECT_EQ(0, window.documentsLoaded.load());
  EXPECT_EQ(nullptr, window.Handle()) << "the hidden window is gone";
}

TEST_F(WindowHost, TranslateAnswersTheScriptWithTheSelectorsText) {
  ov::gui::SciterApi();
  TestWindow window(WritePage(Page(200, 80, "function probe(text) { return view.translate(text); }"
                                            "function probeTwo() { return typeof view.translate('a', 'b'); }")),
                    Icon());
  window.SetSelector(L"palisk");
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  std::wstring answer;
  std::wstring twoArguments;
  ASSERT_TRUE(window.SendCall([&] {
    ov::gui::ScriptValue argument = ov::gui::ScriptValue::FromString(L"_LSCancelLS_");
    ov::gui::ScriptValue result;
    ov::gui::SciterApi()->SciterCall(window.Handle(), "probe", 1, argument.Get(), result.Get());
    answer = result.GetString();
    ov::gui::ScriptValue none;
    ov::gui::SciterApi()->SciterCall(window.Handle(), "probeTwo", 0, nullptr, none.Get());
    twoArguments = none.GetString();
  }));
  // The test folder has English dictionaries: Glossel gives the text, never the raw token.
  EXPECT_EQ(L"Cancel", answer);
  EXPECT_NE(L"string", twoArguments) << "two arguments are not the host's translate";
  window.Close();
}

TEST_F(WindowHost, SentAndPostedCallsRunOnTheWindowsThread) {
  TestWindow window(WritePage(Page(100, 50)), Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  const DWORD uiThread = GetWindowThreadProcessId(window.Handle(), nullptr);
  ASSERT_NE(GetCurrentThreadId(), uiThread);
  DWORD sentOn = 0;
  ASSERT_TRUE(window.SendCall([&] { sentOn = GetCurrentThreadId(); }));
  EXPECT_EQ(uiThread, sentOn) << "SendCall returns after the call ran";
  std::atomic<DWORD> postedOn{0};
  ASSERT_TRUE(window.PostCall([&] { postedOn = GetCurrentThreadId(); }));
  ASSERT_TRUE(WaitFor([&] { return postedOn.load() != 0; }));
  EXPECT_EQ(uiThread, postedOn.load());
  window.Close();
  EXPECT_FALSE(window.SendCall([] {})) << "no window, no call";
  EXPECT_FALSE(window.PostCall([] {}));
}

TEST_F(WindowHost, SecondShowBringsTheRunningWindowToTheFront) {
  TestWindow window(WritePage(Page(200, 100)), Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  const int windows = gui_testing::CountHostWindows();
  // Another window of ours takes the foreground, and ours goes to the task bar.
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, other);
  SetForegroundWindow(other);
  window.PostCall([&] { ShowWindow(window.Handle(), SW_MINIMIZE); });
  ASSERT_TRUE(WaitFor([&] { return IsIconic(window.Handle()) != FALSE; }));
  EXPECT_NE(window.Handle(), GetForegroundWindow());

  EXPECT_EQ(0, window.Show(true));
  EXPECT_TRUE(WaitFor([&] { return !IsIconic(window.Handle()) && GetForegroundWindow() == window.Handle(); }))
      << "restored and in front";
  EXPECT_EQ(windows, gui_testing::CountHostWindows()) << "no second window";
  DestroyWindow(other);
  window.Close();
}

TEST_F(WindowHost, CloseFromAnotherThreadEndsTheLoopOfAPageThatIgnoresIt) {
  // The page swallows every key and never closes itself.
  TestWindow window(WritePage(Page(200, 100, "document.onkeydown = function () { return true; };")), Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  HWND hwnd = window.Handle();
  std::thread closer([&] { window.Close(); });
  closer.join();
  EXPECT_FALSE(window.IsRunning()) << "Close returns once the UI thread has ended";
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(1, window.destroyed.load());
  // The same object can come up again.
  window.Show(true);
  EXPECT_TRUE(WaitFor([&] { return Visible(window); }));
  window.Close();
  EXPECT_FALSE(window.IsRunning());
}

TEST_F(WindowHost, ParentIsDisabledWhileTheWindowRunsAndActiveAfter) {
  HWND parent = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, parent);
  TestWindow window(WritePage(Page(200, 100)), Icon());
  window.SetParent(parent);
  std::atomic<bool> sawDisabled{false};
  std::thread watcher([&] {
    if (WaitFor([&] { return Visible(window); })) {
      // The loop disables the parent right after the window is shown.
      sawDisabled = WaitFor([&] { return IsWindowEnabled(parent) == FALSE; });
      PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
    }
  });
  EXPECT_EQ(0, window.Show(false)) << "a synchronous Show runs the loop here";
  watcher.join();
  EXPECT_TRUE(sawDisabled.load());
  EXPECT_TRUE(IsWindowEnabled(parent));
  EXPECT_EQ(parent, GetActiveWindow());
  DestroyWindow(parent);
}

}  // namespace
