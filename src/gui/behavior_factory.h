// Behaviours a page may name in its style that the engine does not know itself: factories
// registered by name for the whole process; the window host asks them when the engine does.
#pragma once

#include <windows.h>

#include "sciter/sciter_host.h"

namespace ov {
namespace gui {

class BehaviorFactory {
 public:
  // Registers the factory under `name` for the life of the process (factories are statics).
  explicit BehaviorFactory(const char* name);
  BehaviorFactory(const BehaviorFactory&) = delete;
  BehaviorFactory& operator=(const BehaviorFactory&) = delete;

  // A handler for `element`, owned by the element from now on; null when none can be made.
  virtual sciter::event_handler* Create(HELEMENT element) = 0;
  const char* Name() const { return m_name; }

  // The handler that the factory named `name` makes for `element`; null when there is none.
  static sciter::event_handler* CreateHandler(const char* name, HELEMENT element);

 protected:
  ~BehaviorFactory() = default;

 private:
  const char* m_name;
  BehaviorFactory* m_next = nullptr;
};

}  // namespace gui
}  // namespace ov
