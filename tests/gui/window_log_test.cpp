// What the window host writes through the text log: the engine's diagnostics by severity,
// a missing icon, the loop's end and the window's last messages; and behaviours a page asks
// for that the program registered.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "framework/scoped_handle.h"
#include "gui/behavior_factory.h"
#include "gui/window.h"
#include "gui_test_support.h"
#include "logging/log_binding.h"
#include "support/test_support.h"

namespace {

using gui_testing::WaitFor;
using testing_support::ScopedTempFolder;

class TestWindow final : public ov::gui::Window {
 public:
  TestWindow(const std::wstring& page, const std::wstring& icon) : Window(page.c_str(), icon.c_str()) {}
  ~TestWindow() { StopAndWait(); }
};

// The log.dll stand-in, loaded from a folder of the test's own and writing every level there.
class WindowLog : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring folder = folder_.Path();
    ASSERT_TRUE(testing_support::CopyFileTo(testing_support::OutsideFolder() + L"\\log.dll", folder + L"\\log.dll"));
    ASSERT_TRUE(testing_support::WriteTextFile(folder + L"\\log.ini", "[log]\r\nenabled=1\r\nlevel=trace\r\nfolder=" +
                                                                          testing_support::WideToUtf8(folder) +
                                                                          "\\logs\r\n"));
    module_.Set(LoadLibraryW((folder + L"\\log.dll").c_str()));
    ASSERT_TRUE(module_.IsValid());
    binding_.reset(new logging::LogHandle());
  }
  void TearDown() override { binding_.reset(); }

  std::wstring Log() { return testing_support::ReadTextFile(folder_.Path() + L"\\logs\\gui_log_test.log"); }
  // The line that holds `text`, "" when there is none.
  std::wstring LineWith(const std::wstring& text) {
    const std::wstring log = Log();
    const size_t at = log.find(text);
    if (at == std::wstring::npos) return std::wstring();
    const size_t start = log.rfind(L'\n', at);
    const size_t end = log.find(L'\n', at);
    return log.substr(start == std::wstring::npos ? 0 : start + 1, end == std::wstring::npos ? end : end - start - 1);
  }
  std::wstring Page(const std::string& html) {
    const std::wstring path = folder_.Make(L"page" + std::to_wstring(++pages_) + L".html");
    EXPECT_TRUE(testing_support::WriteTextFile(path, html));
    return path;
  }
  std::wstring Icon() const { return gui_testing::ExecutableFolder() + L"\\skin\\ovicon.ico"; }

  ScopedTempFolder folder_;
  ov::ScopedModule module_;
  std::unique_ptr<logging::LogHandle> binding_;
  int pages_ = 0;
};

TEST_F(WindowLog, EngineDiagnosticsBySeverityAndSubsystem) {
  auto output = [](UINT subsystem, UINT severity, const std::wstring& text) {
    ov::gui::Window::DebugOutput(nullptr, subsystem, severity, text.c_str(), static_cast<UINT>(text.size()));
  };
  output(OT_DOM, OS_INFO, L"dom info");
  output(OT_CSSS, OS_WARNING, L"csss warning");
  output(OT_CSS, OS_ERROR, L"css error");
  output(OT_TIS, OS_ERROR, L"script error");
  output(9, OS_INFO, L"other subsystem");
  output(OT_DOM, 3, L"severity three");
  output(OT_DOM, 7, L"severity seven");
  const std::wstring scope = L"ov::gui::Window::DebugOutput";
  EXPECT_NE(std::wstring::npos, LineWith(L"DOM: dom info").find(L"INFO")) << Log();
  EXPECT_NE(std::wstring::npos, LineWith(L"csss!: csss warning").find(L"PLUGIN"));
  EXPECT_NE(std::wstring::npos, LineWith(L"css: css error").find(L"ERROR"));
  EXPECT_NE(std::wstring::npos, LineWith(L"script: script error").find(L"ERROR"));
  EXPECT_NE(std::wstring::npos, LineWith(L"html: other subsystem").find(L"INFO"));
  EXPECT_NE(std::wstring::npos, LineWith(L"DOM: dom info").find(scope));
  EXPECT_EQ(std::wstring::npos, Log().find(L"severity three"));
  EXPECT_EQ(std::wstring::npos, Log().find(L"severity seven"));
}

TEST_F(WindowLog, ThePagesOwnDiagnosticsArriveAndTheWindowsEndIsLogged) {
  TestWindow window(Page("<html><head><style>div { color: red; } p</style></head><body style=\"width: 100px; "
                         "height: 40px\"><div>x</div><script>console.error('from the page');</script></body></html>"),
                    folder_.Path() + L"\\missing.ico");
  EXPECT_NE(std::wstring::npos, LineWith(L"Could not load icon from file: " + folder_.Path() + L"\\missing.ico")
                                    .find(L"ERROR"));
  EXPECT_NE(std::wstring::npos, LineWith(L"Could not load icon").find(L"ov::gui::Window::Window"));
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return window.Handle() != nullptr && IsWindowVisible(window.Handle()); }));
  window.Close();
  EXPECT_NE(std::wstring::npos, LineWith(L"from the page").find(L"script: ")) << Log();
  EXPECT_NE(std::wstring::npos, LineWith(L"Stop event signaled for this window... Will close").find(L"TRACE"));
  EXPECT_NE(std::wstring::npos, LineWith(L"Window::WndProc WM_DESTROY").find(L"ov::gui::Window::WndProc"));
}

TEST_F(WindowLog, ClosingThroughTheSystemLogsWmClose) {
  TestWindow window(Page("<html><body style=\"width: 100px; height: 40px\">x</body></html>"), Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return window.Handle() != nullptr && IsWindowVisible(window.Handle()); }));
  PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !window.IsRunning(); }));
  EXPECT_NE(std::wstring::npos, Log().find(L"Window::WndProc WM_CLOSE"));
  EXPECT_NE(std::wstring::npos, Log().find(L"Window::WndProc WM_DESTROY"));
  EXPECT_EQ(std::wstring::npos, Log().find(L"Stop event signaled")) << "the loop ended with the window";
}

// A behaviour of the program's own: counts what it receives.
class CountingHandler : public sciter::event_handler {
 public:
  bool handle_event(HELEMENT, UINT group, LPVOID params) override {
    if (group == HANDLE_INITIALIZATION && params != nullptr) {
      ++(static_cast<INITIALIZATION_PARAMS*>(params)->cmd == 0 ? attached : detached);
    }
    return false;
  }
  std::atomic<int> attached{0};
  std::atomic<int> detached{0};
};

class CountingFactory : public ov::gui::BehaviorFactory {
 public:
  CountingFactory() : BehaviorFactory("palisk-counting") {}
  sciter::event_handler* Create(HELEMENT) override {
    ++created;
    return &handler;
  }
  CountingHandler handler;
  std::atomic<int> created{0};
};

CountingFactory g_countingFactory;

TEST_F(WindowLog, RegisteredBehavioursAttachAndUnknownOnesAreRefused) {
  TestWindow window(Page("<html><body style=\"width: 120px; height: 40px\">"
                         "<div style=\"behavior: palisk-counting\">known</div>"
                         "<div style=\"behavior: nobody-registered-this\">unknown</div></body></html>"),
                    Icon());
  window.Show(true);
  ASSERT_TRUE(WaitFor([&] { return window.Handle() != nullptr && IsWindowVisible(window.Handle()); }));
  window.Close();
  EXPECT_EQ(1, g_countingFactory.created.load());
  EXPECT_EQ(1, g_countingFactory.handler.attached.load());
  EXPECT_EQ(1, g_countingFactory.handler.detached.load()) << "and detached when the window went";
  EXPECT_EQ(nullptr, ov::gui::BehaviorFactory::CreateHandler("nobody-registered-this", nullptr));
  EXPECT_NE(std::wstring::npos, Log().find(L"nobody-registered-this")) << "the engine says it was refused";
}

}  // namespace
