#include "engine_window.h"

#include <windowsx.h>

#include <algorithm>
#include <mutex>

#include "engine_messages.h"

namespace sciter_engine {

namespace {

std::mutex g_mutex;
GlobalSettings g_settings;
std::map<HWND, std::shared_ptr<EngineWindow>>& Windows() {
  static auto* windows = new std::map<HWND, std::shared_ptr<EngineWindow>>();
  return *windows;
}

LPCWSTR CursorFor(const Node* element) {
  const std::wstring cursor = element && element->style ? element->style->cursor : L"auto";
  if (cursor == L"pointer" || cursor == L"hand") return IDC_HAND;
  if (cursor == L"text") return IDC_IBEAM;
  if (cursor == L"wait" || cursor == L"progress") return cursor == L"wait" ? IDC_WAIT : IDC_APPSTARTING;
  if (cursor == L"move") return IDC_SIZEALL;
  if (cursor == L"not-allowed") return IDC_NO;
  if (cursor == L"help") return IDC_HELP;
  return IDC_ARROW;
}

}  // namespace

GlobalSettings CurrentGlobalSettings() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_settings;
}

BOOL SetGlobalOption(UINT option, UINT_PTR value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  switch (option) {
    case SCITER_SET_SCRIPT_RUNTIME_FEATURES: g_settings.runtime_features = static_cast<UINT>(value); return TRUE;
    case SCITER_SET_DEBUG_MODE: g_settings.debug_mode = value != 0; return TRUE;
    case SCITER_SET_FONT_SMOOTHING:
      if (value > 3) return FALSE;
      g_settings.font_smoothing = static_cast<UINT>(value);
      return TRUE;
    case SCITER_ALPHA_WINDOW: g_settings.alpha = value != 0; return TRUE;
    case SCITER_SMOOTH_SCROLL: return TRUE;  // nothing scrolls in these pages
    default: return FALSE;
  }
}

void SetGlobalDebugOutput(LPVOID param, DEBUG_OUTPUT_PROC output) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_settings.debug_param = param;
  g_settings.debug_output = output;
}

void DiagnoseGlobally(UINT subsystem, UINT severity, const std::wstring& text) {
  const GlobalSettings settings = CurrentGlobalSettings();
  if (settings.debug_output) {
    settings.debug_output(settings.debug_param, subsystem, severity, text.c_str(), static_cast<UINT>(text.size()));
  } else {
    OutputDebugStringW((L"sciter: " + text + L"\n").c_str());
  }
}

std::shared_ptr<EngineWindow> WindowFor(HWND hwnd, bool create) {
  if (!hwnd) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = Windows().find(hwnd);
    if (found != Windows().end()) return found->second;
  }
  if (!create || !IsWindow(hwnd)) return nullptr;
  auto window = std::make_shared<EngineWindow>(hwnd, CurrentGlobalSettings());
  std::lock_guard<std::mutex> lock(g_mutex);
  return Windows().emplace(hwnd, window).first->second;
}

void ForgetWindow(HWND hwnd) {
  std::shared_ptr<EngineWindow> last;  // released outside the lock
  std::lock_guard<std::mutex> lock(g_mutex);
  auto found = Windows().find(hwnd);
  if (found != Windows().end()) {
    last = found->second;
    Windows().erase(found);
  }
}

std::shared_ptr<EngineWindow> WindowOfElement(HELEMENT element) {
  if (!element) return nullptr;
  std::vector<std::shared_ptr<EngineWindow>> windows;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const auto& entry : Windows()) windows.push_back(entry.second);
  }
  for (const auto& window : windows) {
    if (window->OwnsElement(element)) return window;
  }
  return nullptr;
}

EngineWindow::EngineWindow(HWND hwnd, const GlobalSettings& defaults)
    : hwnd_(hwnd), alpha_(defaults.alpha), debug_mode_(defaults.debug_mode),
      font_smoothing_(defaults.font_smoothing) {}

EngineWindow::~EngineWindow() = default;

void EngineWindow::Diagnose(UINT subsystem, UINT severity, const std::wstring& text) {
  // Informational notes of the parsers are for debugging pages only.
  if (!debug_mode_ && severity == OS_INFO && subsystem != OT_TIS) return;
  if (debug_output_) {
    debug_output_(debug_param_, subsystem, severity, text.c_str(), static_cast<UINT>(text.size()));
  } else {
    DiagnoseGlobally(subsystem, severity, text);
  }
}

BOOL EngineWindow::SetOption(UINT option, UINT_PTR value) {
  switch (option) {
    case SCITER_ALPHA_WINDOW:
      alpha_ = value != 0;
      RequestRepaint();
      return TRUE;
    case SCITER_SET_DEBUG_MODE:
      debug_mode_ = value != 0;
      return TRUE;
    case SCITER_SET_FONT_SMOOTHING:
      if (value > 3) return FALSE;
      font_smoothing_ = static_cast<UINT>(value);
      if (page_) page_->SetFontQuality(FontQualityForSmoothing(font_smoothing_));
      RequestRepaint();
      return TRUE;
    case SCITER_SMOOTH_SCROLL:
      return TRUE;
    default:
      return FALSE;  // runtime features are process-wide only
  }
}

void EngineWindow::SetupDebugOutput(LPVOID param, DEBUG_OUTPUT_PROC output) {
  debug_param_ = param;
  debug_output_ = output;
}

void EngineWindow::SetCallback(SciterHostCallback callback, LPVOID param) {
  callback_ = callback;
  callback_param_ = param;
}

UINT EngineWindow::AttachEventHandler(ElementEventProc proc, LPVOID tag, UINT subscription) {
  if (!proc) return SCDOM_INVALID_PARAMETER;
  for (Handler& handler : handlers_) {
    if (handler.proc == proc && handler.tag == tag) {
      handler.subscription = subscription;
      return SCDOM_OK;
    }
  }
  handlers_.push_back({proc, tag, subscription});
  INITIALIZATION_PARAMS attached = {0};
  proc(tag, RootElement(), HANDLE_INITIALIZATION, &attached);
  return SCDOM_OK;
}

UINT EngineWindow::Notify(SCITER_CALLBACK_NOTIFICATION* notification) {
  return callback_ ? callback_(notification, callback_param_) : 0;
}

LRESULT EngineWindow::Proc(UINT msg, WPARAM wparam, LPARAM lparam, BOOL* handled) {
  auto keep_alive = shared_from_this();
  *handled = FALSE;
  if (msg == RepaintMessage()) {
    repaint_posted_ = false;
    if (alpha_ && IsLayered()) RenderAndPresent(nullptr);
    else InvalidateRect(hwnd_, nullptr, FALSE);
    *handled = TRUE;
    return 0;
  }
  if (msg == UpdateLayeredMessage()) {
    RenderAndPresent(nullptr);
    *handled = TRUE;
    return 0;
  }
  if (msg == CloseMessage()) {
    DestroyWindow(hwnd_);
    *handled = TRUE;
    return 0;
  }
  switch (msg) {
    case WM_PAINT: {
      if (!page_) return 0;
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd_, &paint);
      if (alpha_ && IsLayered()) RenderAndPresent(nullptr);
      else RenderAndPresent(dc);
      EndPaint(hwnd_, &paint);
      *handled = TRUE;
      return 0;
    }
    case WM_ERASEBKGND:
      if (!page_) return 0;
      *handled = TRUE;
      return 1;
    case WM_SIZE:
      RequestRepaint();
      return 0;
    case WM_DPICHANGED:
      // The window moved to a monitor of another DPI (or the user changed it): lay the page
      // out anew at that DPI; the host sizes the window.
      dpi_ = LOWORD(wparam);
      UpdateLayout();
      RequestRepaint();
      return 0;
    case WM_TIMER:
      if (wparam >= kTimerBase) {
        FireTimer(wparam);
        *handled = TRUE;
      }
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      *handled = TRUE;
      return 0;
    case WM_MOUSELEAVE:
      OnMouseLeave();
      *handled = TRUE;
      return 0;
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
      OnButtonDown(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam),
                   msg == WM_RBUTTONDOWN ? 2 : msg == WM_MBUTTONDOWN ? 1 : 0);
      *handled = TRUE;
      return 0;
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP:
      OnButtonUp(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), msg == WM_RBUTTONUP ? 2 : msg == WM_MBUTTONUP ? 1 : 0);
      *handled = TRUE;
      return 0;
    case WM_KEYDOWN: case WM_KEYUP:
      *handled = OnKey(msg, wparam) ? TRUE : FALSE;
      return 0;
    case WM_NCHITTEST: {
      // Elements marked role="window-caption" move the window, as a title bar does.
      if (!page_) return 0;
      POINT at = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      ScreenToClient(hwnd_, &at);
      UpdateLayout();
      for (Node* node = page_->HitTest(static_cast<float>(at.x), static_cast<float>(at.y)); node; node = node->parent) {
        if (node->tag == L"button" || node->tag == L"input" || node->Attr(L"tabindex")) break;
        const std::wstring* role = node->Attr(L"role");
        if (role && *role == L"window-caption") {
          *handled = TRUE;
          return HTCAPTION;
        }
      }
      return 0;
    }
    case WM_SETCURSOR:
      // The window class has no cursor: the page's cursor style decides over the client area.
      if (LOWORD(lparam) != HTCLIENT || !page_) return 0;
      {
        // WM_SETCURSOR comes before the WM_MOUSEMOVE of the same move: look where it is now.
        POINT at = {};
        GetCursorPos(&at);
        ScreenToClient(hwnd_, &at);
        UpdateLayout();
        ::SetCursor(LoadCursorW(nullptr, CursorFor(page_->HitTest(static_cast<float>(at.x), static_cast<float>(at.y)))));
      }
      *handled = TRUE;
      return TRUE;
    case WM_SETFOCUS: case WM_KILLFOCUS:
      RequestRepaint();
      return 0;
    case WM_DESTROY: {
      Teardown();
      SCITER_CALLBACK_NOTIFICATION destroyed = {SC_ENGINE_DESTROYED, hwnd_};
      Notify(&destroyed);
      std::vector<Handler> handlers;
      handlers.swap(handlers_);
      for (const Handler& handler : handlers) {
        INITIALIZATION_PARAMS detached = {1};
        handler.proc(handler.tag, nullptr, HANDLE_INITIALIZATION, &detached);
      }
      ForgetWindow(hwnd_);
      return 0;
    }
    default:
      return 0;
  }
}

HELEMENT EngineWindow::RootElement() const {
  return page_ ? static_cast<HELEMENT>(page_->document().root()) : nullptr;
}

bool EngineWindow::OwnsElement(HELEMENT element) const {
  if (!page_ || !element) return false;
  if (element == page_->document().root()) return true;
  return std::any_of(behaviors_.begin(), behaviors_.end(), [&](const Behavior& b) { return b.element == element; });
}

BOOL EngineWindow::Call(const char* name, UINT argc, const SCITER_VALUE* argv, SCITER_VALUE* result) {
  // Both stay alive even if the called script gets its window destroyed.
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (!script || !name || (argc && !argv)) return FALSE;
  std::vector<Value> args;
  for (UINT i = 0; i < argc; ++i) args.push_back(FromSciterValue(argv[i]));
  Value value;
  if (!script->CallGlobal(name, args, &value)) return FALSE;
  if (result) ToSciterValue(value, result);
  return TRUE;
}

bool EngineWindow::CallHostFunction(const std::string& name, const std::vector<Value>& args, Value* result) {
  std::vector<SCITER_VALUE> argv(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    ValueInitImpl(&argv[i]);
    ToSciterValue(args[i], &argv[i]);
  }
  bool handled = false;
  const std::vector<Handler> handlers = handlers_;  // a handler may attach others
  for (const Handler& handler : handlers) {
    if (!(handler.subscription & HANDLE_SCRIPTING_METHOD_CALL)) continue;
    SCRIPTING_METHOD_PARAMS params = {name.c_str(), argv.data(), static_cast<UINT>(argv.size()), {}};
    ValueInitImpl(&params.result);
    if (handler.proc(handler.tag, RootElement(), HANDLE_SCRIPTING_METHOD_CALL, &params)) {
      *result = FromSciterValue(params.result);
      handled = true;
    }
    ValueClearImpl(&params.result);
    if (handled) break;
  }
  for (SCITER_VALUE& value : argv) ValueClearImpl(&value);
  return handled;
}

void EngineWindow::CloseView() {
  // Never destroy the window under the running script: it goes when the script has returned.
  PostMessageW(hwnd_, CloseMessage(), 0, 0);
}

void EngineWindow::DocumentChanged() { RequestRepaint(); }

}  // namespace sciter_engine
