// Objects created by name across module boundaries. Each module keeps its own registry of
// declarations (static objects); a DLL publishes it through OvCreateObject/OvDestroyObject.
#pragma once

#include <windows.h>

#include <map>
#include <new>
#include <string>
#include <typeinfo>

#include "framework/interfaces.h"
#include "framework/shared_instance.h"

// The factory behind one declared name.
class IObjectConstructor {
 public:
  // The new or shared object's interface for `iid`, or null.
  virtual void* Create(GUID iid) = 0;
  // Gives back any interface pointer that Create returned.
  virtual void Destroy(void* object) = 0;
  virtual bool IsInUse() = 0;
};

namespace ov {

// Declarations delete objects as their exact complete type T (made by Create, or checked by
// run-time type in Destroy); exported classes have no virtual destructor by contract.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

class ObjectRegistry {
 public:
  ObjectRegistry();
  ~ObjectRegistry();
  ObjectRegistry(const ObjectRegistry&) = delete;
  ObjectRegistry& operator=(const ObjectRegistry&) = delete;

  // 0, or 183 when the name is taken (the first declaration stays).
  int Register(const wchar_t* name, IObjectConstructor* constructor);
  void Unregister(const wchar_t* name, IObjectConstructor* constructor);
  IObjectConstructor* Find(const wchar_t* name);
  // Runs `constructor->Destroy(object)` for `name` while holding the registry lock.
  bool DestroyUnderLock(const wchar_t* name, void* object);

 private:
  CRITICAL_SECTION m_lock;
  // std::wstring orders by UTF-16 code unit, the shorter name first on a common prefix.
  std::map<std::wstring, IObjectConstructor*> m_declarations;
};

using RegistryHandle = SharedHandle<ObjectRegistry>;

// Registers itself at construction (module start-up) and erases its name at destruction.
class DeclarationBase : public IObjectConstructor {
 protected:
  explicit DeclarationBase(const wchar_t* name);
  ~DeclarationBase();
  DeclarationBase(const DeclarationBase&) = delete;
  DeclarationBase& operator=(const DeclarationBase&) = delete;

  RegistryHandle m_registry;
  std::wstring m_name;
};

// A new object for every Create; Destroy deletes objects of type T only.
template <class T>
class ExportedObjectDeclaration final : public DeclarationBase {
 public:
  explicit ExportedObjectDeclaration(const wchar_t* name) : DeclarationBase(name) {}

  void* Create(GUID iid) override {
    T* object = new (std::nothrow) T();
    if (object == nullptr) return nullptr;
    void* part = object->QueryInterface(iid);
    if (part == nullptr) delete object;  // nobody could ever give it back
    return part;
  }

  void Destroy(void* object) override {
    if (object == nullptr) return;
    // The pointer may be any interface part of the object. Every part starts with a vtable
    // pointer, and (Itanium C++ ABI) every vtable of an object records the complete object's
    // type and offset, so reading through the part as an IOvBaseInterface finds both.
    auto* part = static_cast<IOvBaseInterface*>(object);
    if (typeid(*part) != typeid(T)) return;
    delete static_cast<T*>(dynamic_cast<void*>(part));
  }

  bool IsInUse() override { return false; }
};

// One shared instance, counted; the last Destroy deletes it and the next Create rebuilds.
template <class T>
class ExportedSingletonDeclaration final : public DeclarationBase {
 public:
  explicit ExportedSingletonDeclaration(const wchar_t* name) : DeclarationBase(name) {}

  void* Create(GUID iid) override {
    if (m_instance == nullptr) {
      m_instance = new (std::nothrow) T();
      if (m_instance == nullptr) return nullptr;
    }
    ++m_useCount;
    return m_instance->QueryInterface(iid);
  }

  void Destroy(void*) override {
    if (m_useCount <= 0) return;
    if (--m_useCount == 0) {
      delete m_instance;
      m_instance = nullptr;
    }
  }

  bool IsInUse() override { return m_useCount > 0; }

 private:
  T* m_instance = nullptr;
  LONG m_useCount = 0;
};

#pragma GCC diagnostic pop

}  // namespace ov

// Declares an exported object: OV_DECLARE_OBJECT(Crypt::Base64ObjectImplementation,
// L"Crypt.Base64", base64). The last argument only names the static declaration.
#define OV_DECLARE_OBJECT(Class, Name, Id) \
  static ::ov::ExportedObjectDeclaration<Class> g_ovDeclaration_##Id(Name)
#define OV_DECLARE_SINGLETON(Class, Name, Id) \
  static ::ov::ExportedSingletonDeclaration<Class> g_ovDeclaration_##Id(Name)

// The two exports of a plugin library (C linkage, caller cleans, GUID by value).
extern "C" {
typedef int (*OvCreateObjectFn)(const wchar_t* name, GUID iid, void** out);
typedef void (*OvDestroyObjectFn)(const wchar_t* name, void* object);
}
