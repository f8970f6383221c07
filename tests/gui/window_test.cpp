// The window host with pages of the test's own: window size from the content, the script
// function "translate", calls run on the window's thread, Show and Close across threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "gui/dpi_awareness.h"
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

std::string Page(int width, int height, const std::string& script = "", const std::string& body = "") {
  return "<html><head><style>body { margin: 0; width: " + std::to_string(width) + "px; height: " +
         std::to_string(height) + "px; background-color: #336699; }</style><script>" + script +
         "</script></head><body><div>page</div>" + body + "</body></html>";
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

// The text a page function returns, called on the window's thread.
std::wstring CallPage(ov::gui::Window& window, const char* function) {
  std::wstring text;
  window.SendCall([&] {
    ov::gui::ScriptValue result;
    ov::gui::SciterApi()->SciterCall(window.Handle(), function, 0, nullptr, result.Get());
    text = result.GetString();
  });
  return text;
}

TEST_F(WindowHost, PagesOpenFromFoldersWhoseNamesLookLikeUrlSyntax) {
  // "#" cuts a URL, "%25" decodes to "%": both must stay part of the folder's name.
  const std::wstring page = folder_.Make(L"C# 50%25 x\\skin\\page.html");
  ASSERT_TRUE(testing_support::WriteTextFile(page, Page(120, 60, "", "<script src='marker.js'></script>")));
  ASSERT_TRUE(testing_support::WriteTextFile(folder_.Make(L"C# 50%25 x\\skin\\marker.js"),
                                             "function probe() { return 'loaded'; }"));
  TestWindow window(page, Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); })) << "the page did not load";
  EXPECT_EQ(L"loaded", CallPage(window, "probe")) << "its script beside it did not load";
  window.Close();
}

TEST_F(WindowHost, PagesReadOnlyFilesOfTheirOwnFolder) {
  const std::string marks = "var seen = []; function probe() { return seen.join(','); }";
  const std::wstring page = folder_.Make(L"app\\skin\\page.html");
  const std::wstring outside = folder_.Make(L"outside.js");
  ASSERT_TRUE(testing_support::WriteTextFile(outside, "seen.push('outside');"));
  ASSERT_TRUE(testing_support::WriteTextFile(folder_.Make(L"app\\skin\\inside.js"), "seen.push('inside');"));
  std::string absolute(outside.begin(), outside.end());
  ASSERT_TRUE(testing_support::WriteTextFile(
      page, Page(120, 60, marks,
                 "<script src='..\\..\\outside.js'></script><script src='" + absolute +
                     "'></script><script src='\\\\host\\share\\x.js'></script><script src='inside.js'></script>")));
  TestWindow window(page, Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  EXPECT_EQ(L"inside", CallPage(window, "probe")) << "above the folder, another path or a share was read";
  window.Close();
}

TEST_F(WindowHost, EachWindowShowsItsOwnLiveIcon) {
  {
    TestWindow first(WritePage(Page(100, 50)), Icon());
    first.Show(true);
    ASSERT_TRUE(WaitFor([&] { return Visible(first); }));
    first.Close();
  }  // its icon is destroyed with it
  TestWindow second(WritePage(Page(100, 50)), Icon());
  second.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(second); }));
  ASSERT_NE(nullptr, second.Icon());
  EXPECT_EQ(second.Icon(), reinterpret_cast<HICON>(SendMessageW(second.Handle(), WM_GETICON, ICON_BIG, 0)));
  EXPECT_EQ(second.Icon(), reinterpret_cast<HICON>(SendMessageW(second.Handle(), WM_GETICON, ICON_SMALL, 0)));
  EXPECT_EQ(0, GetClassLongPtrW(second.Handle(), GCLP_HICON)) << "the class keeps no window's icon";
  second.Close();
}

TEST_F(WindowHost, CallMessagesFromOthersAreIgnored) {
  TestWindow window(WritePage(Page(100, 50)), Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  // A stray sender: this thread is not the window's, and the pointers were never registered.
  EXPECT_EQ(0, SendMessageW(window.Handle(), ov::gui::kSendCallMessage, 0, 0));
  EXPECT_EQ(0, SendMessageW(window.Handle(), ov::gui::kSendCallMessage, 0x1234, 0));
  EXPECT_EQ(0, SendMessageW(window.Handle(), ov::gui::kPostCallMessage, 0, 0));
  PostMessageW(window.Handle(), ov::gui::kPostCallMessage, 0x5678, 0);
  bool ran = false;
  ASSERT_TRUE(window.SendCall([&] { ran = true; })) << "the window is still there";
  EXPECT_TRUE(ran);
  window.Close();
}

TEST(WindowPlacement, CentredOnTheWorkAreaWhereverItStarts) {
  // A taskbar on the left (work area from x 100) or on top (from y 50), or a second monitor.
  const POINT at = ov::gui::CentredOn(RECT{100, 50, 1100, 850}, SIZE{400, 200});
  EXPECT_EQ(400, at.x);
  EXPECT_EQ(350, at.y);
  const POINT left = ov::gui::CentredOn(RECT{-1920, 0, 0, 1080}, SIZE{440, 170});
  EXPECT_EQ(-1920 + 740, left.x);
  EXPECT_EQ(455, left.y);
}

TEST_F(WindowHost, ANewDpiLaysThePageOutAgainInTheSuggestedRectangle) {
  TestWindow window(WritePage(Page(200, 100)), Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return Visible(window); }));
  // The window went to a monitor at 200 %: Windows suggests a rectangle for it there.
  RECT suggested = {30, 40, 30 + 400, 40 + 200};
  SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  RECT rect = {};
  GetWindowRect(window.Handle(), &rect);
  EXPECT_EQ(30, rect.left);
  EXPECT_EQ(40, rect.top);
  EXPECT_EQ(400, rect.right - rect.left);
  EXPECT_EQ(200, rect.bottom - rect.top);
  int width = 0;
  int height = 0;
  ASSERT_TRUE(window.SendCall([&] { window.GetContentSize(&width, &height); }));
  EXPECT_EQ(400, width) << "laid out at 192 DPI";
  EXPECT_EQ(200, height);
  window.Close();
}

}  // namespace
