// ov::gui::Window: a top-level window of our own class drawn by the HTML engine. It creates
// the window, loads the page, runs a message loop that another thread can stop, turns the
// engine's diagnostics into log lines, offers the page "translate" (through Glossel), and lets
// other threads run code on the window's thread. The progress screen and the message popup
// derive from it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "framework/scoped_handle.h"
#include "gui/script_value.h"
#include "installer/palisk/glossel_client.h"
#include "sciter/sciter_host.h"

namespace ov {
namespace gui {

class IWindow {
 public:
  // Async: the window gets a UI thread of its own and Show returns at once (0). Otherwise the
  // window runs on the calling thread and Show returns Run's result once it has closed.
  virtual int Show(bool async) = 0;
  // Stops the window's loop and waits for its UI thread; never call it on that thread.
  virtual int Close() = 0;

 protected:
  ~IWindow() = default;
};

// Private messages: wParam points to a std::function<void()> run on the window's thread.
// Only pointers that SendCall/PostCall registered are followed; others are logged and ignored.
// kSendCallMessage: the sender owns the callable and waits (SendMessageW).
// kPostCallMessage: allocated with new by the poster, deleted after the call (PostMessageW).
constexpr UINT kSendCallMessage = WM_USER + 1;
constexpr UINT kPostCallMessage = WM_USER + 2;

class Window : public sciter::host<Window>, public sciter::event_handler, public virtual IWindow {
 public:
  static constexpr DWORD kDefaultStyle = WS_POPUP | WS_MINIMIZEBOX;
  static constexpr DWORD kDefaultExStyle = WS_EX_LAYERED;
  // What Create returns when the engine refuses the page.
  static constexpr int kPageNotLoaded = 552;

  Window(const wchar_t* pagePath, const wchar_t* iconPath);
  // Not virtual: windows are destroyed as what they are, and the slots hold only the operations
  // below (a virtual destructor would take two).
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  int Show(bool async) override;
  int Close() override;

  // Engine notifications (host callback), in the order the engine's codes route to them.
  // OnLoadData answers LOAD_DISCARD for anything outside the page's folder.
  virtual int OnLoadData(SCN_LOAD_DATA* notification);
  virtual int OnDataLoaded(SCN_DATA_LOADED* notification);
  virtual int OnAttachBehavior(SCN_ATTACH_BEHAVIOR* notification);
  virtual int OnEngineDestroyed();
  virtual int OnPostedNotification(SCN_POSTED_NOTIFICATION* notification);
  virtual void OnGraphicsCriticalFailure();
  // Seen first for every message of the window; set *handled to answer it with *result.
  virtual void OnMessage(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled, LRESULT* result);
  virtual void OnDocumentLoaded();
  virtual void OnDestroy();
  // The text of `text` translated with the window's selector, as a string value in `out`.
  virtual ScriptValue& Translate(ScriptValue& out, const ScriptValue& text);

  // Makes the window and loads the page: 0, a Windows error, or kPageNotLoaded.
  int Create();
  // The UI thread's body: create, show, loop; returns Create's result.
  int Run();
  // The message loop: ends when the window is destroyed or the stop event is signalled.
  void DoModal();
  // Moves the window to the middle of the work area (content size, no resize).
  void CenterOnWorkArea();
  // The page's content size in pixels; false when the engine cannot tell.
  bool GetContentSize(int* width, int* height);

  // Runs `call` on the window's thread and waits for it; false when there is no window.
  bool SendCall(const std::function<void()>& call);
  // Queues `call` for the window's thread; false (and nothing runs) when there is no window.
  bool PostCall(std::function<void()> call);

  // The loop also ends when `ownerStop` (another window's stop event, not owned) is
  // signalled: a popup asked from a window goes when that window is told to close.
  void StopAlongWith(HANDLE ownerStop) { m_ownerStop = ownerStop; }

  HWND Handle() const { return m_hwnd.load(); }
  HWND Parent() const { return m_parent; }
  bool IsRunning() const { return m_running.load(); }
  const std::wstring& PageUrl() const { return m_pageUrl; }
  HICON Icon() const { return m_icon; }
  const std::wstring& Title() const { return m_title; }

  // Entry of sciter::host: routes a host-callback notification by its code.
  UINT handle_notification(SCITER_CALLBACK_NOTIFICATION* notification);
  // Script calls reach the host here; "translate" with one argument is answered.
  bool handle_event(HELEMENT element, UINT group, LPVOID params) override;

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static void DebugOutput(LPVOID param, UINT subsystem, UINT severity, LPCWSTR text, UINT length);

 protected:
  void SetTitle(const std::wstring& title);
  void SetParent(HWND parent) { m_parent = parent; }
  void SetSelector(const std::wstring& selector) { m_selector = selector; }
  const std::wstring& Selector() const { return m_selector; }
  GlosselClient* Glossel() const { return m_glossel.Get(); }
  // Signals the stop event and waits for the UI thread: subclasses call it first in their
  // destructors, so that their page calls never reach a half-destroyed object.
  void StopAndWait();
  HANDLE StopEvent() const { return m_stopEvent.Get(); }
  // True once Close (or destruction) has begun.
  bool StopRequested() const;

 private:
  static DWORD WINAPI ThreadStart(LPVOID param);
  // The table of calls in flight (true: posted, owned by the table until run).
  void RegisterCall(void* call, bool posted);
  bool TakeCall(void* call, bool posted);
  bool IsPendingCall(void* call);

  std::atomic<HWND> m_hwnd{nullptr};
  HWND m_parent = nullptr;
  std::wstring m_pageUrl;
  std::wstring m_pageFolder;  // the only folder the page may read from
  HICON m_icon = nullptr;
  DWORD m_style = kDefaultStyle;
  DWORD m_exStyle = kDefaultExStyle;
  std::wstring m_title;
  std::wstring m_selector;
  std::atomic<bool> m_running{false};
  std::function<int()> m_threadRoutine;
  ScopedHandle m_thread;
  ScopedHandle m_stopEvent;
  HANDLE m_ownerStop = nullptr;
  GlosselHandle m_glossel;
  UINT m_updateLayeredMessage = 0;
  std::mutex m_callsLock;
  std::map<void*, bool> m_pendingCalls;
};

// "<program folder>\skin\<name><extension>": where the skin pages and the icon lie.
std::wstring SkinFilePath(const wchar_t* name, const wchar_t* extension);

}  // namespace gui
}  // namespace ov
