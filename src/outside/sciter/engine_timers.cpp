#include "engine_window.h"

#include <algorithm>

#include "engine_messages.h"

namespace sciter_engine {

void EngineWindow::StartTimer(int id, unsigned milliseconds, bool repeat) {
  if (id <= 0 || static_cast<UINT_PTR>(id) >= kTimerBase) return;
  timers_[id] = repeat;
  ::SetTimer(hwnd_, kTimerBase + id, std::max<unsigned>(milliseconds, USER_TIMER_MINIMUM), nullptr);
}

void EngineWindow::StopAllTimers() {
  for (const auto& timer : timers_) KillTimer(hwnd_, kTimerBase + timer.first);
  timers_.clear();
}

void EngineWindow::StopTimer(int id) {
  timers_.erase(id);
  KillTimer(hwnd_, kTimerBase + id);
}

void EngineWindow::FireTimer(UINT_PTR timer) {
  const int id = static_cast<int>(timer - kTimerBase);
  auto found = timers_.find(id);
  if (found == timers_.end()) {
    KillTimer(hwnd_, timer);
    return;
  }
  if (!found->second) StopTimer(id);
  std::shared_ptr<Page> page = page_;
  std::shared_ptr<ScriptEngine> script = script_;
  if (script) script->FireTimer(id);
}

}  // namespace sciter_engine
