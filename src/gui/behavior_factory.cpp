#include "gui/behavior_factory.h"

#include <cstring>

namespace ov {
namespace gui {
namespace {

// A list that needs no construction: factories register from static constructors.
BehaviorFactory* g_first = nullptr;
SRWLOCK g_lock = SRWLOCK_INIT;

}  // namespace

BehaviorFactory::BehaviorFactory(const char* name) : m_name(name) {
  AcquireSRWLockExclusive(&g_lock);
  m_next = g_first;
  g_first = this;
  ReleaseSRWLockExclusive(&g_lock);
}

sciter::event_handler* BehaviorFactory::CreateHandler(const char* name, HELEMENT element) {
  if (name == nullptr) return nullptr;
  AcquireSRWLockShared(&g_lock);
  BehaviorFactory* found = g_first;
  while (found != nullptr && std::strcmp(found->m_name, name) != 0) found = found->m_next;
  ReleaseSRWLockShared(&g_lock);
  return found != nullptr ? found->Create(element) : nullptr;
}

}  // namespace gui
}  // namespace ov
