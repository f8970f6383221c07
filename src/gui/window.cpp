#include "gui/window.h"

#include <ole2.h>

#include <memory>
#include <utility>

#include "framework/fatal.h"
#include "framework/module_path.h"
#include "gui/behavior_factory.h"
#include "gui/bring_to_front.h"
#include "gui/dpi_awareness.h"
#include "gui/file_url.h"
#include "gui/sciter_engine.h"
#include "logging/log_binding.h"

namespace ov {
namespace gui {
namespace {

constexpr wchar_t kClassName[] = L"ov::gui::window";
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
// File input/output, eval and system information; no sockets.
constexpr UINT kScriptFeatures = ALLOW_FILE_IO | ALLOW_EVAL | ALLOW_SYSINFO;
constexpr UINT kClearType = 3;

const wchar_t* SubsystemName(UINT subsystem) {
  switch (subsystem) {
    case OT_DOM: return L"DOM";
    case OT_CSSS: return L"csss!";
    case OT_CSS: return L"css";
    case OT_TIS: return L"script";
    default: return L"html";
  }
}

// Engine severities 0, 1 and 2 as log levels; anything else is not logged.
bool LevelOfSeverity(UINT severity, uint32_t* level) {
  switch (severity) {
    case OS_INFO: *level = logging::kLevelInfo; return true;
    case OS_WARNING: *level = logging::kLevelPluginError; return true;
    case OS_ERROR: *level = logging::kLevelError; return true;
    default: return false;
  }
}

}  // namespace

std::wstring SkinFilePath(const wchar_t* name, const wchar_t* extension) {
  std::wstring path = JoinPath(FolderOf(ModuleFilePath(nullptr)), L"skin\\");
  path += name;
  path += extension;
  return path;
}

Window::Window(const wchar_t* pagePath, const wchar_t* iconPath)
    // Escaped, so that a "#", "%" or "?" in the program's folder stays part of the path.
    : m_pageUrl(FileUrlOfPath(pagePath != nullptr ? pagePath : L"")),
      m_pageFolder(FolderOf(pagePath != nullptr ? pagePath : L"")) {
  // A window is never made without the engine: load it now, so a missing one ends the
  // process before anything shows.
  SciterApi();
  m_updateLayeredMessage = RegisterWindowMessageW(L"SciterUpdateLayered");
  m_icon = static_cast<HICON>(
      LoadImageW(nullptr, iconPath, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_LOADFROMFILE));
  if (m_icon == nullptr) {
    logging::LogMessage(logging::kLevelError, L"ov::gui::Window::Window", L"Could not load icon from file: %s",
                        iconPath != nullptr ? iconPath : L"");
  }
}

Window::~Window() {
  StopAndWait();
  // Calls posted to a window that ended before it ran them.
  for (const auto& pending : m_pendingCalls) {
    if (pending.second) delete static_cast<std::function<void()>*>(pending.first);
  }
  if (m_icon != nullptr) DestroyIcon(m_icon);
}

void Window::RegisterCall(void* call, bool posted) {
  std::lock_guard<std::mutex> lock(m_callsLock);
  m_pendingCalls[call] = posted;
}

bool Window::IsPendingCall(void* call) {
  std::lock_guard<std::mutex> lock(m_callsLock);
  const auto found = m_pendingCalls.find(call);
  return found != m_pendingCalls.end() && !found->second;
}

bool Window::TakeCall(void* call, bool posted) {
  std::lock_guard<std::mutex> lock(m_callsLock);
  const auto found = m_pendingCalls.find(call);
  if (found == m_pendingCalls.end() || found->second != posted) return false;
  m_pendingCalls.erase(found);
  return true;
}

void Window::StopAndWait() {
  if (m_stopEvent.IsValid()) SetEvent(m_stopEvent.Get());
  if (m_thread.IsValid() && GetThreadId(m_thread.Get()) != GetCurrentThreadId()) {
    WaitForSingleObject(m_thread.Get(), INFINITE);
  }
}

bool Window::StopRequested() const {
  return m_stopEvent.IsValid() && WaitForSingleObject(m_stopEvent.Get(), 0) == WAIT_OBJECT_0;
}

void Window::SetTitle(const std::wstring& title) {
  m_title = title;
  if (HWND hwnd = Handle()) SetWindowTextW(hwnd, m_title.c_str());
}

int Window::Show(bool async) {
  if (m_running.exchange(true)) {
    // Already up (or coming up): bring it forward on its own thread.
    PostCall([this] { BringWindowToFront(Handle()); });
    return 0;
  }
  m_stopEvent.Set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!async) return Run();
  if (m_thread.IsValid()) {
    WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Close();
  }
  m_threadRoutine = [this] { return Run(); };
  m_thread.Set(CreateThread(nullptr, 0, &Window::ThreadStart, this, 0, nullptr));
  if (!m_thread.IsValid()) m_running.store(false);
  return 0;
}

DWORD WINAPI Window::ThreadStart(LPVOID param) {
  Window* window = static_cast<Window*>(param);
  return static_cast<DWORD>(window->m_threadRoutine());
}

int Window::Close() {
  StopAndWait();
  return 0;
}

int Window::Run() {
  struct RunningFlagReset {
    std::atomic<bool>& flag;
    ~RunningFlagReset() { flag.store(false); }
  } runningReset{m_running};
  // On a thread already in the multithreaded apartment (the run stages' main thread) this
  // fails; only a successful call may be paired with OleUninitialize, which would otherwise
  // take the caller's own COM initialisation away.
  const bool oleReady = SUCCEEDED(OleInitialize(nullptr));
  const int created = Create();
  if (created == 0) {
    ShowWindow(Handle(), SW_SHOW);
    SendMessageW(Handle(), m_updateLayeredMessage, 0, 0);
    DoModal();
  }
  // A loop ended by the stop event leaves the window behind: it belongs to this thread,
  // so it goes here, before a synchronous caller carries on or the UI thread ends.
  if (HWND hwnd = Handle()) DestroyWindow(hwnd);
  if (oleReady) OleUninitialize();
  return created;
}

int Window::Create() {
  if (Handle() != nullptr) return 0;
  EnableDpiAwareness();  // before the process's first window
  ISciterAPI* api = SciterApi();
  api->SciterSetOption(nullptr, SCITER_SET_SCRIPT_RUNTIME_FEATURES, kScriptFeatures);

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = kClassStyle;
  windowClass.lpfnWndProc = &Window::WndProc;
  windowClass.hInstance = ThisModule();
  // No class icon: the class outlives every window, and a window's icon goes with its
  // object. Each window gets its own with WM_SETICON below.
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // fails harmlessly when the class exists already

  HWND hwnd = CreateWindowExW(m_exStyle, kClassName, m_title.c_str(), m_style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                              m_parent, nullptr, ThisModule(), this);
  if (hwnd == nullptr) return static_cast<int>(GetLastError());
  m_hwnd.store(hwnd);
  if (m_icon != nullptr) {
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
  }

  api->SciterSetOption(hwnd, SCITER_ALPHA_WINDOW, TRUE);
  api->SciterSetOption(hwnd, SCITER_SET_DEBUG_MODE, FALSE);
  api->SciterSetOption(hwnd, SCITER_SET_FONT_SMOOTHING, kClearType);
  api->SciterSetupDebugOutput(hwnd, this, &Window::DebugOutput);
  api->SciterSetCallback(hwnd, &sciter::host<Window>::callback, this);
  api->SciterWindowAttachEventHandler(hwnd, &sciter::event_handler::element_proc, tag(), HANDLE_ALL);
  if (!api->SciterLoadFile(hwnd, m_pageUrl.c_str())) return kPageNotLoaded;

  OnDocumentLoaded();
  int width = 0;
  int height = 0;
  if (GetContentSize(&width, &height)) {
    SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

void Window::DoModal() {
  const bool hasParent = m_parent != nullptr && m_parent != GetDesktopWindow();
  if (hasParent) EnableWindow(m_parent, FALSE);
  HANDLE stops[2] = {m_stopEvent.Get(), m_ownerStop};
  const DWORD stopCount = m_ownerStop != nullptr ? 2 : 1;
  bool quit = false;
  while (Handle() != nullptr && !quit) {
    const DWORD woken = MsgWaitForMultipleObjects(stopCount, stops, FALSE, INFINITE, QS_ALLINPUT);
    if (woken < WAIT_OBJECT_0 + stopCount) {
      logging::LogMessage(logging::kLevelTrace, L"ov::gui::Window::DoModal",
                          L"Stop event signaled for this window... Will close");
      break;
    }
    if (woken != WAIT_OBJECT_0 + stopCount) break;  // no stop event to wait on: nothing can end the loop cleanly
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) {
        // WM_QUIT belongs to an outer loop of this thread: hand it back and stop.
        if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
        quit = true;
        break;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (hasParent) {
    EnableWindow(m_parent, TRUE);
    SetActiveWindow(m_parent);
  }
}

bool Window::GetContentSize(int* width, int* height) {
  HWND hwnd = Handle();
  if (hwnd == nullptr) return false;
  ISciterAPI* api = SciterApi();
  HELEMENT root = nullptr;
  if (api->SciterGetRootElement(hwnd, &root) != SCDOM_OK || root == nullptr) return false;
  POINT position = {};
  RECT view = {};
  SIZE content = {};
  if (api->SciterGetScrollInfo(root, &position, &view, &content) != SCDOM_OK) return false;
  *width = content.cx;
  *height = content.cy;
  return true;
}

void Window::CenterOnWorkArea() {
  int width = 0;
  int height = 0;
  if (!GetContentSize(&width, &height)) return;
  // The monitor of the parent (a popup over the progress screen), else the one under the
  // cursor: where the user is looking. Its work area may start anywhere (a taskbar on the
  // left or top, a second monitor).
  POINT cursor = {};
  GetCursorPos(&cursor);
  HMONITOR monitor = m_parent != nullptr ? MonitorFromWindow(m_parent, MONITOR_DEFAULTTONEAREST)
                                         : MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  RECT workArea = {};
  if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) workArea = info.rcWork;
  else if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0)) return;
  const POINT at = CentredOn(workArea, SIZE{width, height});
  SetWindowPos(Handle(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Window::SendCall(const std::function<void()>& call) {
  HWND hwnd = Handle();
  if (hwnd == nullptr) return false;
  void* key = const_cast<std::function<void()>*>(&call);
  RegisterCall(key, false);
  SendMessageW(hwnd, kSendCallMessage, reinterpret_cast<WPARAM>(key), 0);
  TakeCall(key, false);  // still there when the window was gone before the call ran
  return true;
}

bool Window::PostCall(std::function<void()> call) {
  HWND hwnd = Handle();
  if (hwnd == nullptr) return false;
  std::unique_ptr<std::function<void()>> owned(new std::function<void()>(std::move(call)));
  RegisterCall(owned.get(), true);
  if (!PostMessageW(hwnd, kPostCallMessage, reinterpret_cast<WPARAM>(owned.get()), 0)) {
    TakeCall(owned.get(), true);
    return false;
  }
  owned.release();  // the window's thread (or the destructor) deletes it
  return true;
}

LRESULT CALLBACK Window::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* window = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window != nullptr) {
    BOOL handled = FALSE;
    LRESULT result = 0;
    window->OnMessage(message, wParam, lParam, &handled, &result);
    if (handled) return result;
  }
  switch (message) {
    case WM_CREATE: {
      const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      window = static_cast<Window*>(creation->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
      if (window != nullptr) window->m_hwnd.store(hwnd);
      break;
    }
    case WM_QUIT:
      logging::LogMessage(logging::kLevelTrace, L"ov::gui::Window::WndProc", L"Window::WndProc WM_QUIT");
      break;
    case WM_CLOSE:
      logging::LogMessage(logging::kLevelTrace, L"ov::gui::Window::WndProc", L"Window::WndProc WM_CLOSE");
      break;
    case WM_DESTROY:
      logging::LogMessage(logging::kLevelTrace, L"ov::gui::Window::WndProc", L"Window::WndProc WM_DESTROY");
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (window != nullptr) {
        window->OnDestroy();
        window->m_hwnd.store(nullptr);  // ends DoModal
      }
      break;
    case kSendCallMessage:
    case kPostCallMessage: {
      // Any process or thread can send these numbers: only calls this window registered
      // are pointers worth following.
      auto* call = reinterpret_cast<std::function<void()>*>(wParam);
      const bool posted = message == kPostCallMessage;
      const bool known = window != nullptr && (posted ? window->TakeCall(call, true) : window->IsPendingCall(call));
      if (!known) {
        logging::LogMessage(logging::kLevelError, L"ov::gui::Window::WndProc",
                            L"Ignored window call message 0x%x with an unknown parameter", message);
        return 0;
      }
      std::unique_ptr<std::function<void()>> owned(posted ? call : nullptr);
      if (!*call) EndProcessOnCorruption("empty window call");
      (*call)();
      return 0;
    }
    case WM_DPICHANGED: {
      // The engine lays the page out at the new DPI first; the window then takes the
      // rectangle Windows suggests, which keeps it where the user put it.
      BOOL engineHandled = FALSE;
      SciterApi()->SciterProcND(hwnd, message, wParam, lParam, &engineHandled);
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      if (suggested != nullptr) {
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    }
    default:
      break;
  }
  BOOL handled = FALSE;
  const LRESULT result = SciterApi()->SciterProcND(hwnd, message, wParam, lParam, &handled);
  if (handled) return result;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Window::DebugOutput(LPVOID, UINT subsystem, UINT severity, LPCWSTR text, UINT length) {
  uint32_t level = 0;
  if (!LevelOfSeverity(severity, &level)) return;
  const std::wstring line = text != nullptr ? std::wstring(text, length) : std::wstring();
  logging::LogMessage(level, L"ov::gui::Window::DebugOutput", L"%s: %s", SubsystemName(subsystem), line.c_str());
}

UINT Window::handle_notification(SCITER_CALLBACK_NOTIFICATION* notification) {
  if (notification == nullptr) return 0;
  switch (notification->code) {
    case SC_LOAD_DATA: return static_cast<UINT>(OnLoadData(reinterpret_cast<SCN_LOAD_DATA*>(notification)));
    case SC_DATA_LOADED: return static_cast<UINT>(OnDataLoaded(reinterpret_cast<SCN_DATA_LOADED*>(notification)));
    case SC_ATTACH_BEHAVIOR:
      return static_cast<UINT>(OnAttachBehavior(reinterpret_cast<SCN_ATTACH_BEHAVIOR*>(notification)));
    case SC_ENGINE_DESTROYED: return static_cast<UINT>(OnEngineDestroyed());
    case SC_POSTED_NOTIFICATION:
      return static_cast<UINT>(OnPostedNotification(reinterpret_cast<SCN_POSTED_NOTIFICATION*>(notification)));
    case SC_GRAPHICS_CRITICAL_FAILURE: OnGraphicsCriticalFailure(); return 0;
    default: return 0;
  }
}

bool Window::handle_event(HELEMENT, UINT group, LPVOID params) {
  if (group != HANDLE_SCRIPTING_METHOD_CALL || params == nullptr) return false;
  auto* call = static_cast<SCRIPTING_METHOD_PARAMS*>(params);
  if (call->name == nullptr || std::string(call->name) != "translate" || call->argc != 1) return false;
  ScriptValue translated;
  Translate(translated, ScriptValue(call->argv[0]));
  translated.CopyTo(&call->result);
  return true;
}

int Window::OnLoadData(SCN_LOAD_DATA* notification) {
  // A page reads only the skin's own files: nothing above its folder, on another drive, on a
  // share or behind a device name.
  std::wstring path;
  const std::wstring uri = notification != nullptr && notification->uri != nullptr ? notification->uri : L"";
  if (PathOfFileUrl(uri, &path) && PathIsInsideFolder(path, m_pageFolder)) return LOAD_OK;
  logging::LogMessage(logging::kLevelError, L"ov::gui::Window::OnLoadData", L"Refused to load %s", uri.c_str());
  return LOAD_DISCARD;
}
int Window::OnDataLoaded(SCN_DATA_LOADED*) { return 0; }

int Window::OnAttachBehavior(SCN_ATTACH_BEHAVIOR* notification) {
  sciter::event_handler* handler = BehaviorFactory::CreateHandler(notification->behaviorName, notification->element);
  if (handler == nullptr) return 0;
  notification->elementProc = &sciter::event_handler::element_proc;
  notification->elementTag = handler->tag();
  return 1;
}

int Window::OnEngineDestroyed() { return 0; }
int Window::OnPostedNotification(SCN_POSTED_NOTIFICATION*) { return 0; }
void Window::OnGraphicsCriticalFailure() {}
void Window::OnMessage(UINT, WPARAM, LPARAM, BOOL*, LRESULT*) {}
void Window::OnDocumentLoaded() {}
void Window::OnDestroy() {}

ScriptValue& Window::Translate(ScriptValue& out, const ScriptValue& text) {
  const std::wstring source = text.GetString();
  ov::StringT translated;
  m_glossel->Translate(translated, source.c_str(), m_selector.c_str());
  out = ScriptValue::FromString(translated.c_str());
  return out;
}

}  // namespace gui
}  // namespace ov
