// The script bridge: a duktape heap per page with a small DOM over the engine's document,
// timers, console, and the `view` object whose functions reach the host. Every entry into
// script runs under a time budget, so a runaway loop is stopped with a diagnostic.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "dom.h"
#include "values.h"

// duktape's context type (duk_context), declared here to keep duktape.h out of this header.
struct duk_hthread;

namespace sciter_engine {

// What the page's script needs from the window it runs in.
class ScriptHost {
 public:
  // view.NAME(args): true when a host handler answered (with *result).
  virtual bool CallHostFunction(const std::string& name, const std::vector<Value>& args,
                                Value* result) = 0;
  // view.close(): the window goes once the script has returned.
  virtual void CloseView() = 0;
  virtual void StartTimer(int id, unsigned milliseconds, bool repeat) = 0;
  virtual void StopTimer(int id) = 0;
  // The tree, an attribute or a style changed: restyle, lay out and repaint soon.
  virtual void DocumentChanged() = 0;
  // element.focus() / blur(); null clears the focus.
  virtual void SetFocus(Node* element) = 0;
  virtual Node* FocusedElement() = 0;
  // Device pixels per CSS pixel (window.devicePixelRatio).
  virtual float PixelRatio() = 0;
  // Brings element geometry up to date with the document (before the script reads it).
  virtual void UpdateLayoutNow() = 0;
  // An <img>'s src changed.
  virtual void PictureChanged(Node*) {}

 protected:
  ~ScriptHost() = default;
};

// Details of a mouse or key event for the page's handlers.
struct EventDetails {
  int key_code = 0;
  std::wstring key;
  bool shift = false, ctrl = false, alt = false;
  int client_x = 0, client_y = 0;  // CSS pixels
  int button = 0;
};

class ScriptEngine {
 public:
  // `features`: SCITER_SET_SCRIPT_RUNTIME_FEATURES bits; eval and new Function only with
  // ALLOW_EVAL.
  ScriptEngine(Document* document, ScriptHost* host, DiagnosticSink sink, UINT features);
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  bool ready() const { return context_ != nullptr; }
  // Compiles and runs a page script; errors go to the diagnostics. False on any error.
  bool Run(const std::wstring& code, const std::wstring& file_name);
  // Calls a global function by dotted name ("GenericPopup.setTitle"), `this` being the
  // object that holds it. False when there is no such function or it threw.
  bool CallGlobal(const std::string& dotted_name, const std::vector<Value>& args, Value* result);
  // Runs the page's handlers from `target` up to document and window. True when one of them
  // called preventDefault (or returned false).
  bool DispatchEvent(Node* target, const std::wstring& type, const EventDetails& details);
  void FireTimer(int id);

  // How long one entry into script may run (default 5 s); time in host calls does not count.
  void set_time_limit(DWORD milliseconds) { time_limit_ = milliseconds; }
  // For the exec-timeout hook of duktape.
  bool TimeIsUp();
  // The script heap's budget (default 64 MiB): while page code runs, an allocation beyond it
  // fails, which the script sees as an out-of-memory error. The engine's own work around
  // the calls (arguments, error reports) may go past it, so that a full heap never meets a
  // failed allocation outside a protected call (which would end the process).
  static constexpr size_t kDefaultHeapLimit = 64u << 20;
  void set_heap_limit(size_t bytes) { heap_.limit = bytes; }
  size_t heap_used() const { return heap_.used; }
  struct HeapAccount {
    size_t used = 0;
    size_t limit = kDefaultHeapLimit;
    bool enforced = false;  // page code is running
    ScriptEngine* engine = nullptr;
  };

  // Helpers the native DOM functions use.
  Document* document() const { return document_; }
  ScriptHost* host() const { return host_; }
  // The engine is being destroyed (its heap's finalizers run).
  bool closing() const { return closing_; }
  void Diagnose(UINT severity, const std::wstring& text);  // as OT_TIS
  void DiagnoseIn(UINT subsystem, UINT severity, const std::wstring& text);
  // Reports the error at the top of the value stack (and leaves it there).
  void ReportError(const std::wstring& context);
  class HostCallPause;

 private:
  class Entry;
  class Enforced;
  void InstallBootstrap(UINT features);

  ::duk_hthread* context_ = nullptr;
  Document* document_;
  ScriptHost* host_;
  DiagnosticSink sink_;
  DWORD time_limit_ = 5000;
  ULONGLONG deadline_ = 0;  // 0: not running or paused
  bool timed_out_reported_ = false;
  int depth_ = 0;
  bool closing_ = false;
  HeapAccount heap_;
};

}  // namespace sciter_engine
