#include "framework/object_registry.h"

namespace ov {

ObjectRegistry::ObjectRegistry() { InitializeCriticalSection(&m_lock); }

ObjectRegistry::~ObjectRegistry() { DeleteCriticalSection(&m_lock); }

int ObjectRegistry::Register(const wchar_t* name, IObjectConstructor* constructor) {
  EnterCriticalSection(&m_lock);
  const bool inserted = m_declarations.emplace(name, constructor).second;
  LeaveCriticalSection(&m_lock);
  return inserted ? 0 : ERROR_ALREADY_EXISTS;
}

void ObjectRegistry::Unregister(const wchar_t* name, IObjectConstructor* constructor) {
  EnterCriticalSection(&m_lock);
  auto it = m_declarations.find(name);
  // A duplicate declaration never got in: it must not erase the first one's entry.
  if (it != m_declarations.end() && it->second == constructor) m_declarations.erase(it);
  LeaveCriticalSection(&m_lock);
}

IObjectConstructor* ObjectRegistry::Find(const wchar_t* name) {
  EnterCriticalSection(&m_lock);
  auto it = m_declarations.find(name);
  IObjectConstructor* found = it != m_declarations.end() ? it->second : nullptr;
  LeaveCriticalSection(&m_lock);
  return found;
}

bool ObjectRegistry::DestroyUnderLock(const wchar_t* name, void* object) {
  EnterCriticalSection(&m_lock);
  auto it = m_declarations.find(name);
  const bool found = it != m_declarations.end();
  if (found) it->second->Destroy(object);
  LeaveCriticalSection(&m_lock);
  return found;
}

DeclarationBase::DeclarationBase(const wchar_t* name) : m_name(name) {
  m_registry->Register(name, this);
}

DeclarationBase::~DeclarationBase() { m_registry->Unregister(m_name.c_str(), this); }

}  // namespace ov
