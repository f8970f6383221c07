// The engine's side of one window: its options, diagnostics, host callback and event
// handlers, the loaded page with its script, painting (layered or WM_PAINT) and input.
// engine_window.cpp holds the window registry, options, callbacks and the message dispatch;
// engine_resources.cpp loading the page and its files; engine_output.cpp layout at the
// window's DPI and painting; engine_timers.cpp the page's timers; engine_input.cpp the
// mouse, keys and focus. Every method runs on the window's thread.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "page.h"
#include "script.h"
#include "sciter/sciter_api.h"

namespace sciter_engine {

// Process-wide settings (SciterSetOption and SciterSetupDebugOutput with a null window).
struct GlobalSettings {
  UINT runtime_features = 0;
  LPVOID debug_param = nullptr;
  DEBUG_OUTPUT_PROC debug_output = nullptr;
  bool debug_mode = false;
  UINT font_smoothing = 0;
  bool alpha = false;
};
GlobalSettings CurrentGlobalSettings();

class EngineWindow : public ScriptHost, public std::enable_shared_from_this<EngineWindow> {
 public:
  explicit EngineWindow(HWND hwnd, const GlobalSettings& defaults);
  ~EngineWindow();

  HWND hwnd() const { return hwnd_; }

  BOOL SetOption(UINT option, UINT_PTR value);
  void SetupDebugOutput(LPVOID param, DEBUG_OUTPUT_PROC output);
  void SetCallback(SciterHostCallback callback, LPVOID param);
  UINT AttachEventHandler(ElementEventProc proc, LPVOID tag, UINT subscription);
  BOOL LoadFile(const std::wstring& url);
  LRESULT Proc(UINT msg, WPARAM wparam, LPARAM lparam, BOOL* handled);
  HELEMENT RootElement() const;
  bool OwnsElement(HELEMENT element) const;
  bool ScrollInfo(POINT* position, RECT* view, SIZE* content);
  BOOL Call(const char* name, UINT argc, const SCITER_VALUE* argv, SCITER_VALUE* result);

  // Renders the current document into `target` at the window's size (for tests of painting).
  void Diagnose(UINT subsystem, UINT severity, const std::wstring& text);

  // ScriptHost.
  bool CallHostFunction(const std::string& name, const std::vector<Value>& args, Value* result) override;
  void CloseView() override;
  void StartTimer(int id, unsigned milliseconds, bool repeat) override;
  void StopTimer(int id) override;
  void DocumentChanged() override;
  void SetFocus(Node* element) override;
  Node* FocusedElement() override { return focused_; }
  float PixelRatio() override { return Scale(); }
  void UpdateLayoutNow() override { UpdateLayout(); }
  void PictureChanged(Node* element) override;

 private:
  struct Handler {
    ElementEventProc proc;
    LPVOID tag;
    UINT subscription;
  };
  struct Behavior {
    Node* element;
    ElementEventProc proc;
    LPVOID tag;
  };

  UINT Notify(SCITER_CALLBACK_NOTIFICATION* notification);
  bool FetchResource(const std::wstring& path, UINT type, std::string* bytes);
  void AttachBehaviors();
  LayoutOptions CurrentLayoutOptions() const;
  float Scale() const;
  void UpdateLayout();
  void RequestRepaint();
  void RenderAndPresent(HDC paint_dc);
  bool IsLayered() const;

  void OnMouseMove(int x, int y);
  void OnMouseLeave();
  void OnButtonDown(int x, int y, int button);
  void OnButtonUp(int x, int y, int button);
  bool OnKey(UINT msg, WPARAM key);
  void Click(Node* element);
  void SetHover(Node* element);
  void SetActive(Node* element);
  void MoveFocus(bool backwards);
  std::vector<Node*> FocusableElements();
  EventDetails MouseDetails(int x, int y, int button) const;
  void FireTimer(UINT_PTR id);
  void StopAllTimers();
  // The document frees `node`: no pointer of the window may keep it.
  void ForgetNode(Node* node);
  void Teardown();

  HWND hwnd_;
  bool alpha_;
  bool debug_mode_;
  UINT font_smoothing_;
  LPVOID debug_param_ = nullptr;
  DEBUG_OUTPUT_PROC debug_output_ = nullptr;
  SciterHostCallback callback_ = nullptr;
  LPVOID callback_param_ = nullptr;
  std::vector<Handler> handlers_;
  std::vector<Behavior> behaviors_;

  // Destroyed page objects may still be on the stack (a script closing its window).
  std::shared_ptr<Page> page_;
  std::shared_ptr<ScriptEngine> script_;
  PixelBuffer surface_;
  int dpi_ = 0;  // from WM_DPICHANGED; 0 until one came
  Node* focused_ = nullptr;
  Node* hovered_ = nullptr;
  Node* pressed_ = nullptr;
  Node* space_pressed_ = nullptr;
  bool tracking_leave_ = false;
  bool repaint_posted_ = false;
  std::map<int, bool> timers_;  // id -> repeats
  std::wstring url_;
};

// The window's engine state, made on first use; null for a window that does not exist.
std::shared_ptr<EngineWindow> WindowFor(HWND hwnd, bool create);
void ForgetWindow(HWND hwnd);
// The window that owns a handed-out element, if any.
std::shared_ptr<EngineWindow> WindowOfElement(HELEMENT element);

BOOL SetGlobalOption(UINT option, UINT_PTR value);
void SetGlobalDebugOutput(LPVOID param, DEBUG_OUTPUT_PROC output);
// Diagnostics with no window (a null or unknown window): the process-wide output.
void DiagnoseGlobally(UINT subsystem, UINT severity, const std::wstring& text);

}  // namespace sciter_engine
