// sciter.dll through its API in real windows (under Xvfb): loading a page into a layered
// popup, the content size, the host callback, SciterCall, view.NAME calls to the attached
// handler, mouse clicks, Tab / Enter / Space / Escape, timers and script errors.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sciter/sciter_api.h"
#include "sciter/sciter_test_support.h"
#include "support/test_support.h"

namespace {

using sciter_testing::PagePath;
using sciter_testing::PageUrl;

const ISciterAPI* Api() {
  static const ISciterAPI* api = [] {
    HMODULE module = LoadLibraryW((testing_support::OutsideFolder() + L"\\sciter.dll").c_str());
    if (!module) return static_cast<const ISciterAPI*>(nullptr);
    auto entry = reinterpret_cast<SciterAPI_ptr>(reinterpret_cast<void*>(GetProcAddress(module, "SciterAPI")));
    return entry ? static_cast<const ISciterAPI*>(entry()) : nullptr;
  }();
  return api;
}

std::wstring StringOf(const SCITER_VALUE& value) {
  LPCWSTR chars = nullptr;
  UINT length = 0;
  if (Api()->ValueStringData(&value, &chars, &length) != HV_OK) return L"<not a string>";
  return std::wstring(chars, length);
}

struct HostCall {
  std::string name;
  std::vector<std::wstring> args;  // strings as they are, maps as their "buttonID"
};

// A window host as Palisk's is: layered popup, engine options, debug output, host callback
// and one event handler for everything.
class TestWindow {
 public:
  // The window class every test window (and the bare ones) is made of.
  static const wchar_t* WindowClass() {
    static const ATOM atom = [] {
      WNDCLASSEXW wc = {};
      wc.cbSize = sizeof(wc);
      wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
      wc.lpfnWndProc = WndProc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"sciter-test-window";
      return RegisterClassExW(&wc);
    }();
    EXPECT_NE(atom, 0);
    return L"sciter-test-window";
  }

  explicit TestWindow(DWORD ex_style = WS_EX_LAYERED) {
    WindowClass();
    hwnd_ = CreateWindowExW(ex_style, L"sciter-test-window", L"test", WS_POPUP, 100, 100, 0, 0,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return;
    const ISciterAPI* api = Api();
    api->SciterSetOption(nullptr, SCITER_SET_SCRIPT_RUNTIME_FEATURES, ALLOW_FILE_IO | ALLOW_EVAL | ALLOW_SYSINFO);
    api->SciterSetOption(hwnd_, SCITER_ALPHA_WINDOW, 1);
    api->SciterSetOption(hwnd_, SCITER_SET_DEBUG_MODE, 0);
    api->SciterSetOption(hwnd_, SCITER_SET_FONT_SMOOTHING, 3);
    api->SciterSetupDebugOutput(hwnd_, this, Debug);
    api->SciterSetCallback(hwnd_, Callback, this);
    api->SciterWindowAttachEventHandler(hwnd_, ElementProc, this, HANDLE_ALL);
  }
  ~TestWindow() {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  }

  HWND hwnd() const { return hwnd_; }
  bool Load(const std::wstring& page) { return Api()->SciterLoadFile(hwnd_, PageUrl(page).c_str()) != FALSE; }

  SIZE ContentSize() {
    HELEMENT root = nullptr;
    SIZE size = {-1, -1};
    EXPECT_EQ(Api()->SciterGetRootElement(hwnd_, &root), SCDOM_OK);
    POINT position;
    RECT view;
    EXPECT_EQ(Api()->SciterGetScrollInfo(root, &position, &view, &size), SCDOM_OK);
    return size;
  }

  // Dispatches messages until `done` says so or `milliseconds` have passed.
  bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 3000) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (!done()) {
      if (GetTickCount64() > end) return false;
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
  }
  void Pump(DWORD milliseconds) { PumpUntil([] { return false; }, milliseconds); }

  const HostCall* FindCall(const std::string& name) const {
    for (const HostCall& call : calls_) {
      if (call.name == name) return &call;
    }
    return nullptr;
  }
  const std::vector<UINT>& notifications() const { return notifications_; }
  const std::vector<std::wstring>& loaded() const { return loaded_; }
  const std::vector<UINT>& load_types() const { return load_types_; }
  sciter_testing::DiagnosticRecorder& diagnostics() { return diagnostics_; }
  void set_discard(const std::wstring& suffix) { discard_suffix_ = suffix; }
  void set_progress(int percent) { progress_ = percent; }
  size_t CountCalls(const std::string& name) const {
    size_t count = 0;
    for (const HostCall& call : calls_) count += call.name == name;
    return count;
  }

  void Click(int x, int y) {
    const LPARAM at = MAKELPARAM(x, y);
    PostMessageW(hwnd_, WM_MOUSEMOVE, 0, at);
    PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd_, WM_LBUTTONUP, 0, at);
  }
  // A popup question on this thread, as the progress screen asks whether to quit: the popup
  // runs its own message loop while this window's page waits in its host call.
  int AskModal();

  void Key(WPARAM key) {
    PostMessageW(hwnd_, WM_KEYDOWN, key, 1);
    PostMessageW(hwnd_, WM_KEYUP, key, 0xC0000001);
  }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    BOOL handled = FALSE;
    const LRESULT result = Api()->SciterProcND(hwnd, msg, wparam, lparam, &handled);
    return handled ? result : DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  static void Debug(LPVOID param, UINT subsystem, UINT severity, LPCWSTR text, UINT length) {
    static_cast<TestWindow*>(param)->diagnostics_.Sink()(subsystem, severity, std::wstring(text, length));
  }
  static UINT Callback(SCITER_CALLBACK_NOTIFICATION* notification, LPVOID param) {
    TestWindow* self = static_cast<TestWindow*>(param);
    self->notifications_.push_back(notification->code);
    if (notification->code == SC_ATTACH_BEHAVIOR) {
      auto* attach = reinterpret_cast<SCN_ATTACH_BEHAVIOR*>(notification);
      self->behaviors_.push_back(attach->behaviorName);
      attach->elementProc = BehaviorProc;
      attach->elementTag = self;
      return 1;
    }
    if (notification->code == SC_LOAD_DATA) {
      const std::wstring uri = reinterpret_cast<SCN_LOAD_DATA*>(notification)->uri;
      self->loaded_.push_back(uri);
      self->load_types_.push_back(reinterpret_cast<SCN_LOAD_DATA*>(notification)->dataType);
      static const char kSupplied[] = "html, body { margin: 0 } body { width: 123px; height: 45px }";
      if (uri.find(L"virtual/supplied.css") != std::wstring::npos) {
        auto* load = reinterpret_cast<SCN_LOAD_DATA*>(notification);
        load->outData = reinterpret_cast<const BYTE*>(kSupplied);
        load->outDataSize = sizeof(kSupplied) - 1;
        return LOAD_OK;
      }
      const std::wstring& suffix = self->discard_suffix_;
      if (!suffix.empty() && uri.size() >= suffix.size() && uri.compare(uri.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return LOAD_DISCARD;
      }
    }
    return 0;
  }
  static BOOL ElementProc(LPVOID tag, HELEMENT, UINT group, LPVOID params) {
    if (group != HANDLE_SCRIPTING_METHOD_CALL) return FALSE;
    TestWindow* self = static_cast<TestWindow*>(tag);
    auto* call = static_cast<SCRIPTING_METHOD_PARAMS*>(params);
    HostCall recorded{call->name, {}};
    for (UINT i = 0; i < call->argc; ++i) {
      UINT type = 0;
      Api()->ValueType(&call->argv[i], &type);
      if (type == T_MAP) {
        SCITER_VALUE key, value;
        Api()->ValueInit(&key);
        Api()->ValueInit(&value);
        Api()->ValueStringDataSet(&key, L"buttonID", 8);
        Api()->ValueGetValueOfKey(&call->argv[i], &key, &value);
        recorded.args.push_back(StringOf(value));
        Api()->ValueClear(&key);
        Api()->ValueClear(&value);
      } else if (type == T_INT) {
        INT number = 0;
        Api()->ValueIntData(&call->argv[i], &number);
        recorded.args.push_back(std::to_wstring(number));
      } else {
        recorded.args.push_back(StringOf(call->argv[i]));
      }
    }
    self->calls_.push_back(recorded);
    if (recorded.name == "translate" && call->argc == 1) {
      const std::wstring translated = L"T:" + recorded.args[0];
      Api()->ValueStringDataSet(&call->result, translated.c_str(), static_cast<UINT>(translated.size()));
      return TRUE;
    }
    if (recorded.name == "nosuchfunction") return FALSE;
    if (recorded.name == "destroyNow") DestroyWindow(self->hwnd_);  // under the running script
    if (recorded.name == "askModal") {
      Api()->ValueIntDataSet(&call->result, self->AskModal());
      return TRUE;
    }
    if (recorded.name == "getDownloadProgress") {
      SCITER_VALUE key, value;
      Api()->ValueInit(&key);
      Api()->ValueInit(&value);
      Api()->ValueStringDataSet(&key, L"progress", 8);
      Api()->ValueIntDataSet(&value, self->progress_);
      Api()->ValueSetValueToKey(&call->result, &key, &value);
      Api()->ValueStringDataSet(&key, L"speed", 5);
      Api()->ValueStringDataSet(&value, L"0.98 MB/s", 9);
      Api()->ValueSetValueToKey(&call->result, &key, &value);
      Api()->ValueClear(&key);
      Api()->ValueClear(&value);
      return TRUE;
    }
    if (recorded.name == "onCancel") {
      Api()->ValueIntDataSet(&call->result, 1);
      return TRUE;
    }
    Api()->ValueIntDataSet(&call->result, 0);
    return TRUE;
  }

  static BOOL BehaviorProc(LPVOID tag, HELEMENT, UINT group, LPVOID params) {
    if (group == HANDLE_INITIALIZATION) {
      static_cast<TestWindow*>(tag)->behavior_events_.push_back(static_cast<INITIALIZATION_PARAMS*>(params)->cmd);
    }
    return FALSE;
  }

 public:
  const std::vector<std::string>& behaviors() const { return behaviors_; }
  const std::vector<UINT>& behavior_events() const { return behavior_events_; }

 private:
  std::vector<std::string> behaviors_;
  std::vector<UINT> behavior_events_;
  HWND hwnd_ = nullptr;
  std::vector<HostCall> calls_;
  std::vector<UINT> notifications_;
  std::vector<std::wstring> loaded_;
  std::vector<UINT> load_types_;
  std::wstring discard_suffix_;
  int progress_ = 0;
  sciter_testing::DiagnosticRecorder diagnostics_;
};

int TestWindow::AskModal() {
  TestWindow popup;
  if (!popup.Load(L"popup_like.html")) return -1;
  SCITER_VALUE list, result, map, key, value;
  for (SCITER_VALUE* v : {&list, &result, &map, &key, &value}) Api()->ValueInit(v);
  Api()->ValueStringDataSet(&key, L"displayText", 11);
  Api()->ValueStringDataSet(&value, L"Yes", 3);
  Api()->ValueSetValueToKey(&map, &key, &value);
  Api()->ValueStringDataSet(&key, L"buttonID", 8);
  Api()->ValueStringDataSet(&value, L"_LSYesLS_", 9);
  Api()->ValueSetValueToKey(&map, &key, &value);
  Api()->ValueNthElementValueSet(&list, 0, &map);
  Api()->SciterCall(popup.hwnd(), "GenericPopup.setButtons", 1, &list, &result);
  for (SCITER_VALUE* v : {&list, &result, &map, &key, &value}) Api()->ValueClear(v);
  ShowWindow(popup.hwnd(), SW_SHOWNOACTIVATE);
  Pump(100);  // the outer page's timers keep running meanwhile
  popup.Key(VK_TAB);
  popup.Key(VK_RETURN);
  popup.PumpUntil([&] { return !IsWindow(popup.hwnd()); });
  const HostCall* pressed = popup.FindCall("onButtonPressed");
  return pressed && pressed->args[0] == L"_LSYesLS_" ? IDYES : IDNO;
}

float DisplayScale() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi / 96.0f;
}

// A value holder for SciterCall arguments and results.
class ScopedValue {
 public:
  ScopedValue() { Api()->ValueInit(&value_); }
  explicit ScopedValue(const std::wstring& text) : ScopedValue() {
    Api()->ValueStringDataSet(&value_, text.c_str(), static_cast<UINT>(text.size()));
  }
  ~ScopedValue() { Api()->ValueClear(&value_); }
  SCITER_VALUE* get() { return &value_; }

 private:
  SCITER_VALUE value_;
};

// [{displayText, buttonID}, ...] as the popup host builds it.
void MakeButtons(const std::vector<std::pair<std::wstring, std::wstring>>& buttons, SCITER_VALUE* list) {
  for (size_t i = 0; i < buttons.size(); ++i) {
    ScopedValue map, text_key(L"displayText"), id_key(L"buttonID"), text(buttons[i].first), id(buttons[i].second);
    Api()->ValueSetValueToKey(map.get(), text_key.get(), text.get());
    Api()->ValueSetValueToKey(map.get(), id_key.get(), id.get());
    Api()->ValueNthElementValueSet(list, static_cast<INT>(i), map.get());
  }
}

// The text a global script function of the window's page returns.
std::wstring CallForText(HWND hwnd, const char* function) {
  SCITER_VALUE result;
  Api()->ValueInit(&result);
  std::wstring text = L"<call failed>";
  if (Api()->SciterCall(hwnd, function, 0, nullptr, &result)) text = StringOf(result);
  Api()->ValueClear(&result);
  return text;
}

class SciterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Api(), nullptr) << "sciter.dll or its SciterAPI export is missing"; }

  // Loads the popup page with Yes / No buttons.
  void LoadPopup(TestWindow* window) {
    ASSERT_NE(window->hwnd(), nullptr);
    ASSERT_TRUE(window->Load(L"popup_like.html")) << window->diagnostics().Dump();
    ScopedValue list, result;
    MakeButtons({{L"Yes", L"_LSYesLS_"}, {L"No", L"_LSNoLS_"}}, list.get());
    ASSERT_TRUE(Api()->SciterCall(window->hwnd(), "GenericPopup.setButtons", 1, list.get(), result.get()));
    INT count = 0;
    EXPECT_EQ(Api()->ValueIntData(result.get(), &count), HV_OK);
    EXPECT_EQ(count, 2);
    ShowWindow(window->hwnd(), SW_SHOWNOACTIVATE);
    SendMessageW(window->hwnd(), RegisterWindowMessageW(L"SciterUpdateLayered"), 0, 0);
  }

  POINT ButtonCenter(TestWindow* window, int index) {
    ScopedValue arg, result, x_key(L"x"), y_key(L"y"), x, y;
    Api()->ValueIntDataSet(arg.get(), index);
    EXPECT_TRUE(Api()->SciterCall(window->hwnd(), "buttonCenter", 1, arg.get(), result.get()));
    Api()->ValueGetValueOfKey(result.get(), x_key.get(), x.get());
    Api()->ValueGetValueOfKey(result.get(), y_key.get(), y.get());
    INT px = -1, py = -1;
    Api()->ValueIntData(x.get(), &px);
    Api()->ValueIntData(y.get(), &py);
    const float scale = DisplayScale();
    return POINT{static_cast<LONG>(px * scale), static_cast<LONG>(py * scale)};
  }
};

TEST_F(SciterWindowTest, PopupPageLoadsWithTheBodySizeAsContentSize) {
  TestWindow window;
  LoadPopup(&window);
  const SIZE size = window.ContentSize();
  const float scale = DisplayScale();
  EXPECT_EQ(size.cx, static_cast<LONG>(400 * scale + 0.5f));
  EXPECT_EQ(size.cy, static_cast<LONG>(180 * scale + 0.5f));
  EXPECT_EQ(window.diagnostics().Count(OT_DOM, OS_WARNING), 0u) << window.diagnostics().Dump();
  EXPECT_EQ(window.diagnostics().Count(OT_CSS, OS_WARNING), 0u) << window.diagnostics().Dump();
  EXPECT_EQ(window.diagnostics().Count(OT_TIS, OS_WARNING), 0u) << window.diagnostics().Dump();
}

TEST_F(SciterWindowTest, HostCallbackSeesThePageAndEveryLinkedFile) {
  TestWindow window;
  LoadPopup(&window);
  ASSERT_EQ(window.loaded().size(), 4u);
  EXPECT_NE(window.loaded()[0].find(L"popup_like.html"), std::wstring::npos);
  EXPECT_NE(window.loaded()[1].find(L"popup_like.css"), std::wstring::npos);
  EXPECT_NE(window.loaded()[2].find(L"popup_like.js"), std::wstring::npos);
  EXPECT_NE(window.loaded()[3].find(L"two_colours.png"), std::wstring::npos);
  EXPECT_EQ(window.load_types(), (std::vector<UINT>{0, 2, 4, 1}));
  size_t data_loaded = 0;
  for (UINT code : window.notifications()) data_loaded += code == SC_DATA_LOADED;
  EXPECT_EQ(data_loaded, 4u);
}

TEST_F(SciterWindowTest, StyleSheetTheHostDiscardsIsNotApplied) {
  TestWindow window;
  window.set_discard(L"popup_like.css");
  ASSERT_TRUE(window.Load(L"popup_like.html"));
  // Without its style sheet the body has no fixed size: the content is the text's size.
  const SIZE size = window.ContentSize();
  EXPECT_NE(size.cx, static_cast<LONG>(400 * DisplayScale() + 0.5f));
  EXPECT_GT(size.cy, 0);
}

TEST_F(SciterWindowTest, HostCanSupplyAResourceItself) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"supplied.html")) << window.diagnostics().Dump();
  const SIZE size = window.ContentSize();
  EXPECT_EQ(size.cx, static_cast<LONG>(123 * DisplayScale() + 0.5f));
  EXPECT_EQ(size.cy, static_cast<LONG>(45 * DisplayScale() + 0.5f));
  EXPECT_EQ(window.diagnostics().Count(OT_DOM, OS_ERROR), 0u) << window.diagnostics().Dump();
}

TEST_F(SciterWindowTest, MissingPageIsRefusedWithADiagnostic) {
  TestWindow window;
  EXPECT_FALSE(window.Load(L"no_such_page.html"));
  EXPECT_GE(window.diagnostics().Count(OT_DOM, OS_ERROR), 1u);
  EXPECT_FALSE(Api()->SciterLoadFile(window.hwnd(), L"http://example.com/page.html"));
}

TEST_F(SciterWindowTest, SciterCallReachesDottedFunctionsAndReturnsTheirResult) {
  TestWindow window;
  LoadPopup(&window);
  ScopedValue title(L"Palisk setup"), result;
  ASSERT_TRUE(Api()->SciterCall(window.hwnd(), "GenericPopup.setTitle", 1, title.get(), result.get()));
  EXPECT_EQ(StringOf(*result.get()), L"title:Palisk setup");
  EXPECT_FALSE(Api()->SciterCall(window.hwnd(), "GenericPopup.noSuchFunction", 1, title.get(), result.get()));
  EXPECT_FALSE(Api()->SciterCall(window.hwnd(), "NoSuchObject.setTitle", 1, title.get(), result.get()));
}

TEST_F(SciterWindowTest, ClickOnASecondButtonCallsTheHostAndClosesTheWindow) {
  TestWindow window;
  LoadPopup(&window);
  const POINT center = ButtonCenter(&window, 1);
  window.Click(center.x, center.y);
  ASSERT_TRUE(window.PumpUntil([&] { return !IsWindow(window.hwnd()); })) << window.diagnostics().Dump();
  const HostCall* call = window.FindCall("onButtonPressed");
  ASSERT_NE(call, nullptr);
  ASSERT_EQ(call->args.size(), 1u);
  EXPECT_EQ(call->args[0], L"_LSNoLS_");
  size_t destroyed = 0;
  for (UINT code : window.notifications()) destroyed += code == SC_ENGINE_DESTROYED;
  EXPECT_EQ(destroyed, 1u);
}

TEST_F(SciterWindowTest, ClickOutsideTheButtonsDoesNothing) {
  TestWindow window;
  LoadPopup(&window);
  window.Click(5, 5);
  window.Pump(200);
  EXPECT_TRUE(IsWindow(window.hwnd()));
  EXPECT_EQ(window.FindCall("onButtonPressed"), nullptr);
}

TEST_F(SciterWindowTest, TabThenEnterActivatesTheFirstButton) {
  TestWindow window;
  LoadPopup(&window);
  window.Key(VK_TAB);
  window.Key(VK_RETURN);
  ASSERT_TRUE(window.PumpUntil([&] { return !IsWindow(window.hwnd()); }));
  const HostCall* call = window.FindCall("onButtonPressed");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->args[0], L"_LSYesLS_");
}

TEST_F(SciterWindowTest, TabTwiceThenSpaceActivatesTheSecondButton) {
  TestWindow window;
  LoadPopup(&window);
  window.Key(VK_TAB);
  window.Key(VK_TAB);
  window.Key(VK_SPACE);
  ASSERT_TRUE(window.PumpUntil([&] { return !IsWindow(window.hwnd()); }));
  const HostCall* call = window.FindCall("onButtonPressed");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->args[0], L"_LSNoLS_");
}

TEST_F(SciterWindowTest, ArrowKeysWalkTheButtons) {
  TestWindow window;
  LoadPopup(&window);
  window.Key(VK_TAB);    // Yes
  window.Key(VK_RIGHT);  // No
  window.Key(VK_RIGHT);  // back to Yes
  window.Key(VK_LEFT);   // No
  window.Key(VK_RETURN);
  ASSERT_TRUE(window.PumpUntil([&] { return !IsWindow(window.hwnd()); }));
  const HostCall* call = window.FindCall("onButtonPressed");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->args[0], L"_LSNoLS_");
}

TEST_F(SciterWindowTest, EscapeReachesThePageKeyHandler) {
  TestWindow window;
  LoadPopup(&window);
  window.Key(VK_ESCAPE);
  ASSERT_TRUE(window.PumpUntil([&] { return !IsWindow(window.hwnd()); }));
  const HostCall* call = window.FindCall("onButtonPressed");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->args[0], L"escape");
}

TEST_F(SciterWindowTest, HostDestroyingTheWindowUnderARunningScriptIsSafe) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"destroy_inside.html"));
  ASSERT_TRUE(window.PumpUntil([&] { return !IsWindow(window.hwnd()); }));
  window.Pump(50);
  // The script ran on over its page after the window went; the host's handlers were detached
  // with the window, so its last call finds none.
  EXPECT_EQ(window.FindCall("afterDestroy"), nullptr);
  EXPECT_TRUE(window.diagnostics().Contains(OT_TIS, L"view.afterDestroy: no such host function")) << window.diagnostics().Dump();
  size_t destroyed = 0;
  for (UINT code : window.notifications()) destroyed += code == SC_ENGINE_DESTROYED;
  EXPECT_EQ(destroyed, 1u);
}

TEST_F(SciterWindowTest, ModalPopupFromAHostCallLetsTheWaitingPageRunItsTimers) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"modal_outer.html"));
  SCITER_VALUE result;
  Api()->ValueInit(&result);
  ASSERT_TRUE(Api()->SciterCall(window.hwnd(), "ask", 0, nullptr, &result)) << window.diagnostics().Dump();
  INT answer = 0;
  Api()->ValueIntData(&result, &answer);
  Api()->ValueClear(&result);
  EXPECT_EQ(answer, IDYES);
  const HostCall* done = window.FindCall("modalDone");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->args, (std::vector<std::wstring>{L"6", L"timers ran"}));
  EXPECT_EQ(window.diagnostics().Count(OT_TIS, OS_WARNING), 0u) << window.diagnostics().Dump();
}

TEST_F(SciterWindowTest, TimersFireAndCanBeCancelled) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"timers.html"));
  ASSERT_TRUE(window.PumpUntil([&] { return window.FindCall("intervalDone") && window.FindCall("timeoutFired"); }))
      << window.diagnostics().Dump();
  EXPECT_EQ(window.FindCall("intervalDone")->args, std::vector<std::wstring>{L"3"});
  EXPECT_EQ(window.FindCall("timeoutFired")->args, (std::vector<std::wstring>{L"first", L"2"}));
  window.Pump(100);
  EXPECT_EQ(window.FindCall("cancelledFired"), nullptr);
}

TEST_F(SciterWindowTest, ScriptErrorsReachTheDebugOutputAndLaterScriptsStillRun) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"script_errors.html"));
  auto& diagnostics = window.diagnostics();
  EXPECT_TRUE(diagnostics.Contains(OT_TIS, L"script_syntax_error.js(3)")) << diagnostics.Dump();
  EXPECT_TRUE(diagnostics.Contains(OT_TIS, L"undefinedFunctionCall")) << diagnostics.Dump();
  EXPECT_TRUE(diagnostics.Contains(OT_TIS, L"view.nosuchfunction: no such host function")) << diagnostics.Dump();
  EXPECT_GE(diagnostics.Count(OT_TIS, OS_ERROR), 3u);
  const HostCall* call = window.FindCall("afterErrors");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->args[0], L"yes");
}

TEST_F(SciterWindowTest, PageCallsTranslateWhileLoading) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html")) << window.diagnostics().Dump();
  const HostCall* call = window.FindCall("translate");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->args, std::vector<std::wstring>{L"_LSOKLS_"});
  EXPECT_EQ(CallForText(window.hwnd(), "labelText"), L"T:_LSOKLS_");
}

TEST_F(SciterWindowTest, ScriptChangingAPictureSourceLoadsIt) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html"));
  const size_t loads = window.loaded().size();
  EXPECT_EQ(CallForText(window.hwnd(), "showPicture"), L"0 -> 8");
  ASSERT_EQ(window.loaded().size(), loads + 1);
  EXPECT_NE(window.loaded().back().find(L"two_colours.png"), std::wstring::npos);
  EXPECT_EQ(window.load_types().back(), 1u);
}

TEST_F(SciterWindowTest, UnknownBehaviourIsOfferedToTheHostAndDetachedAtTheEnd) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html"));
  EXPECT_EQ(window.behaviors(), std::vector<std::string>{"progress-ring"});
  EXPECT_EQ(window.behavior_events(), std::vector<UINT>{0});
  DestroyWindow(window.hwnd());
  EXPECT_EQ(window.behavior_events(), (std::vector<UINT>{0, 1}));
}

// {x, y} of a page function, in device pixels.
POINT CallForPoint(HWND hwnd, const char* function) {
  SCITER_VALUE center, x_key, x, y_key, y;
  for (SCITER_VALUE* v : {&center, &x_key, &x, &y_key, &y}) Api()->ValueInit(v);
  EXPECT_TRUE(Api()->SciterCall(hwnd, function, 0, nullptr, &center));
  Api()->ValueStringDataSet(&x_key, L"x", 1);
  Api()->ValueStringDataSet(&y_key, L"y", 1);
  Api()->ValueGetValueOfKey(&center, &x_key, &x);
  Api()->ValueGetValueOfKey(&center, &y_key, &y);
  INT px = 0, py = 0;
  Api()->ValueIntData(&x, &px);
  Api()->ValueIntData(&y, &py);
  for (SCITER_VALUE* v : {&center, &x_key, &x, &y_key, &y}) Api()->ValueClear(v);
  const float scale = DisplayScale();
  return POINT{static_cast<LONG>(px * scale), static_cast<LONG>(py * scale)};
}

TEST_F(SciterWindowTest, CaptionElementsMoveTheWindowButNotTheirButtons) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html"));
  const SIZE size = window.ContentSize();
  SetWindowPos(window.hwnd(), nullptr, 50, 60, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  auto hit = [&](POINT client) {
    return SendMessageW(window.hwnd(), WM_NCHITTEST, 0, MAKELPARAM(50 + client.x, 60 + client.y));
  };
  const float scale = DisplayScale();
  EXPECT_EQ(hit(POINT{static_cast<LONG>(12 * scale), static_cast<LONG>(15 * scale)}), HTCAPTION);
  EXPECT_EQ(hit(CallForPoint(window.hwnd(), "insideCenter")), HTCLIENT);
  EXPECT_EQ(hit(CallForPoint(window.hwnd(), "hotCenter")), HTCLIENT);
}

TEST_F(SciterWindowTest, MouseOverAnElementGivesItTheHoverState) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html"));
  SetWindowPos(window.hwnd(), nullptr, 0, 0, window.ContentSize().cx, window.ContentSize().cy, SWP_NOMOVE | SWP_NOZORDER);
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  EXPECT_EQ(CallForText(window.hwnd(), "hovered"), L"");
  SCITER_VALUE center, x_key, x, y_key, y;
  for (SCITER_VALUE* v : {&center, &x_key, &x, &y_key, &y}) Api()->ValueInit(v);
  ASSERT_TRUE(Api()->SciterCall(window.hwnd(), "hotCenter", 0, nullptr, &center));
  Api()->ValueStringDataSet(&x_key, L"x", 1);
  Api()->ValueStringDataSet(&y_key, L"y", 1);
  Api()->ValueGetValueOfKey(&center, &x_key, &x);
  Api()->ValueGetValueOfKey(&center, &y_key, &y);
  INT px = 0, py = 0;
  Api()->ValueIntData(&x, &px);
  Api()->ValueIntData(&y, &py);
  for (SCITER_VALUE* v : {&center, &x_key, &x, &y_key, &y}) Api()->ValueClear(v);
  const float scale = DisplayScale();
  PostMessageW(window.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<int>(px * scale), static_cast<int>(py * scale)));
  window.Pump(100);
  EXPECT_EQ(CallForText(window.hwnd(), "hovered"), L"hot");
  PostMessageW(window.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
  window.Pump(100);
  EXPECT_EQ(CallForText(window.hwnd(), "hovered"), L"");
  EXPECT_EQ(CallForText(window.hwnd(), "pointerEvents"), L"over:hot,out:hot");
}

TEST_F(SciterWindowTest, CursorFollowsThePageStyle) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html"));
  const SIZE size = window.ContentSize();
  SetWindowPos(window.hwnd(), HWND_TOPMOST, 40, 40, size.cx, size.cy, SWP_NOACTIVATE);
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  window.Pump(50);
  const float scale = DisplayScale();
  auto cursor_at = [&](int x, int y) {
    SetCursorPos(40 + x, 40 + y);
    SendMessageW(window.hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(window.hwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  };
  EXPECT_EQ(cursor_at(static_cast<int>(30 * scale), static_cast<int>(45 * scale)), LoadCursorW(nullptr, IDC_HAND));
  EXPECT_EQ(cursor_at(static_cast<int>(150 * scale), static_cast<int>(80 * scale)), LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(SciterWindowTest, WindowWithoutLayeringPaintsInWmPaint) {
  TestWindow window(0);
  Api()->SciterSetOption(window.hwnd(), SCITER_ALPHA_WINDOW, 0);
  ASSERT_TRUE(window.Load(L"solid.html"));
  const SIZE size = window.ContentSize();
  SetWindowPos(window.hwnd(), HWND_TOPMOST, 10, 10, size.cx, size.cy, SWP_NOACTIVATE);
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  UpdateWindow(window.hwnd());
  window.Pump(200);
  HDC dc = GetDC(window.hwnd());
  const COLORREF body = GetPixel(dc, size.cx - 5, size.cy - 5);
  const COLORREF hot = GetPixel(dc, static_cast<int>(20 * DisplayScale()), static_cast<int>(45 * DisplayScale()));
  ReleaseDC(window.hwnd(), dc);
  EXPECT_EQ(body, RGB(0x20, 0x40, 0xC0));
  EXPECT_EQ(hot, RGB(0x80, 0x80, 0x80));
}

TEST_F(SciterWindowTest, LayeredWindowShowsThePage) {
  TestWindow window;
  ASSERT_TRUE(window.Load(L"solid.html"));
  const SIZE size = window.ContentSize();
  // A layered window's picture can only be read from the screen: a corner of it no other
  // test window uses (these tests also hold a CTest lock against each other).
  const int left = 1000, top = 850;
  SetWindowPos(window.hwnd(), HWND_TOPMOST, left, top, size.cx, size.cy, SWP_NOACTIVATE);
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  SendMessageW(window.hwnd(), RegisterWindowMessageW(L"SciterUpdateLayered"), 0, 0);
  window.Pump(200);
  HDC screen = GetDC(nullptr);
  const COLORREF body = GetPixel(screen, left + size.cx - 5, top + size.cy - 5);
  const COLORREF hot = GetPixel(screen, left + static_cast<int>(20 * DisplayScale()), top + static_cast<int>(45 * DisplayScale()));
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(body, RGB(0x20, 0x40, 0xC0));
  EXPECT_EQ(hot, RGB(0x80, 0x80, 0x80));
  EXPECT_EQ(window.diagnostics().Count(OT_DOM, OS_WARNING), 0u) << window.diagnostics().Dump();
}

TEST_F(SciterWindowTest, OptionsAreCheckedAndUnknownOnesRefused) {
  TestWindow window;
  EXPECT_FALSE(Api()->SciterSetOption(window.hwnd(), 999, 1));
  EXPECT_FALSE(Api()->SciterSetOption(nullptr, 999, 1));
  EXPECT_FALSE(Api()->SciterSetOption(window.hwnd(), SCITER_SET_FONT_SMOOTHING, 7));
  EXPECT_FALSE(Api()->SciterSetOption(window.hwnd(), SCITER_SET_SCRIPT_RUNTIME_FEATURES, 0xD)) << "process-wide only";
  EXPECT_TRUE(Api()->SciterSetOption(window.hwnd(), SCITER_SET_FONT_SMOOTHING, 2));
  EXPECT_TRUE(Api()->SciterSetOption(window.hwnd(), SCITER_SET_DEBUG_MODE, 1));
  EXPECT_FALSE(Api()->SciterSetOption(reinterpret_cast<HWND>(0x5C1), SCITER_ALPHA_WINDOW, 1)) << "not a window";
  HELEMENT root = reinterpret_cast<HELEMENT>(0x1);
  EXPECT_EQ(Api()->SciterGetRootElement(window.hwnd(), &root), static_cast<UINT>(SCDOM_OPERATION_FAILED)) << "nothing loaded";
  EXPECT_EQ(root, nullptr);
  SIZE size;
  EXPECT_EQ(Api()->SciterGetScrollInfo(reinterpret_cast<HELEMENT>(0x1234), nullptr, nullptr, &size),
            static_cast<UINT>(SCDOM_INVALID_HANDLE));
  EXPECT_FALSE(Api()->SciterCall(window.hwnd(), "anything", 0, nullptr, nullptr));
}

// The numbers of an array a page function returns.
std::vector<double> CallForNumbers(HWND hwnd, const char* function) {
  SCITER_VALUE result, item;
  Api()->ValueInit(&result);
  Api()->ValueInit(&item);
  std::vector<double> numbers;
  if (Api()->SciterCall(hwnd, function, 0, nullptr, &result)) {
    INT count = 0;
    Api()->ValueElementsCount(&result, &count);
    for (INT i = 0; i < count; ++i) {
      Api()->ValueNthElementValue(&result, i, &item);
      INT number = 0;
      if (Api()->ValueIntData(&item, &number) == HV_OK) numbers.push_back(number);
      else numbers.push_back(-1);  // the page rounds what it returns
    }
  }
  Api()->ValueClear(&item);
  Api()->ValueClear(&result);
  return numbers;
}

TEST_F(SciterWindowTest, ProgressPagePollsTheHostAndCancelsThroughIt) {
  TestWindow window;
  window.set_progress(35);
  ASSERT_TRUE(window.Load(L"progress_like.html")) << window.diagnostics().Dump();
  const SIZE size = window.ContentSize();
  const float scale = DisplayScale();
  EXPECT_EQ(size.cx, static_cast<LONG>(360 * scale + 0.5f));
  SetWindowPos(window.hwnd(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  ASSERT_TRUE(window.PumpUntil([&] { return window.CountCalls("getDownloadProgress") >= 3; })) << window.diagnostics().Dump();
  window.Pump(50);
  EXPECT_EQ(CallForText(window.hwnd(), "speedText"), L"0.98 MB/s");
  SCITER_VALUE ratio;
  Api()->ValueInit(&ratio);
  ASSERT_TRUE(Api()->SciterCall(window.hwnd(), "fillRatio", 0, nullptr, &ratio));
  INT percent = -1;
  Api()->ValueIntData(&ratio, &percent);
  EXPECT_EQ(percent, 35);
  window.set_progress(80);
  window.Pump(100);
  ASSERT_TRUE(Api()->SciterCall(window.hwnd(), "fillRatio", 0, nullptr, &ratio));
  Api()->ValueIntData(&ratio, &percent);
  EXPECT_EQ(percent, 80);
  Api()->ValueClear(&ratio);
  // The cancel button is pinned to the bottom right corner of the page (the body is not
  // positioned, so the root is its containing block).
  const std::vector<double> cancel = CallForNumbers(window.hwnd(), "cancelCenter");
  ASSERT_EQ(cancel.size(), 4u);
  EXPECT_EQ(cancel[2], 360 - 10);
  EXPECT_EQ(cancel[3], 120 - 10);
  window.Click(static_cast<int>(cancel[0] * scale), static_cast<int>(cancel[1] * scale));
  ASSERT_TRUE(window.PumpUntil([&] { return window.FindCall("onCancel") != nullptr; }));
  const size_t polls = window.CountCalls("getDownloadProgress");
  window.Pump(100);
  EXPECT_EQ(window.CountCalls("getDownloadProgress"), polls) << "polling stops once cancelled";
  EXPECT_EQ(window.diagnostics().Count(OT_TIS, OS_WARNING), 0u) << window.diagnostics().Dump();
}

std::vector<std::wstring>* g_process_wide = nullptr;
void ProcessWideOutput(LPVOID, UINT, UINT, LPCWSTR text, UINT length) {
  if (g_process_wide) g_process_wide->push_back(std::wstring(text, length));
}

TEST_F(SciterWindowTest, ProcessWideDebugOutputServesWindowsWithoutTheirOwn) {
  std::vector<std::wstring> seen;
  g_process_wide = &seen;
  Api()->SciterSetupDebugOutput(nullptr, nullptr, ProcessWideOutput);
  HWND hwnd = CreateWindowExW(0, TestWindow::WindowClass(), L"bare", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(Api()->SciterLoadFile(hwnd, PageUrl(L"script_errors.html").c_str()));
  DestroyWindow(hwnd);
  Api()->SciterSetupDebugOutput(nullptr, nullptr, nullptr);
  g_process_wide = nullptr;
  bool syntax_error = false;
  for (const std::wstring& text : seen) syntax_error |= text.find(L"script_syntax_error.js(3)") != std::wstring::npos;
  EXPECT_TRUE(syntax_error);
}

}  // namespace
