// Loading plugin libraries and driving their lifecycle: a library is loaded by path, its
// object created by name through OvCreateObject, then Init, Start, and the wanted interface.
// Teardown runs in exactly the reverse order: Stop, UnInit, OvDestroyObject, FreeLibrary.
#pragma once

#include <windows.h>

#include <new>

#include "framework/guarded_string.h"
#include "framework/interfaces.h"
#include "framework/object_registry.h"
#include "framework/scoped_handle.h"
#include "logging/log_binding.h"

class IComponentManager {
 public:
  virtual int GetObject(const wchar_t* name, GUID iid, void** out) = 0;
  virtual void ReleaseObject(const wchar_t* name) = 0;
};

class IPluginHost {
 public:
  virtual void Reserved() = 0;  // never called here
  virtual IComponentManager* GetComponentManager() = 0;
};

class IServPlugin : public IOvBaseInterface {
 public:
  virtual int Init(IPluginHost* host) = 0;
  virtual void UnInit() = 0;
  virtual int Start() = 0;
  virtual void Stop() = 0;
};

namespace ov {

// The IID of each interface a plugin handle can ask for.
template <class T>
struct InterfaceIid;
template <>
struct InterfaceIid<IServPlugin> {
  static constexpr const GUID& value = IID_IServPlugin;
};
template <>
struct InterfaceIid<IOvBaseInterface> {
  static constexpr const GUID& value = IID_IOvBaseInterface;
};

// A library that loads but yields no plugin (or fails with no error code) gives 632.
constexpr int kNoPluginResult = 632;
constexpr int kNoInterfaceResult = static_cast<int>(0x80004002);  // E_NOINTERFACE
constexpr int kPluginUnavailableResult = 5002;

// One object created from a loaded library.
template <class I>
class ExportedObject final {
 public:
  ExportedObject() = default;
  ExportedObject(const ExportedObject&) = delete;
  ExportedObject& operator=(const ExportedObject&) = delete;
  ~ExportedObject() { Unload(); }

  virtual void* QueryInterface(GUID iid) {
    return m_object != nullptr ? m_object->QueryInterface(iid) : nullptr;
  }

  // Loads `path` (relative: beside the executable first, then beside this module), creates
  // `name` and keeps its I part. 0 or a Win32 code; after a failure nothing stays loaded.
  int Load(const wchar_t* path, const wchar_t* name);
  void Unload();

  I* Plugin() const { return m_plugin; }
  HMODULE Module() const { return m_module; }

 private:
  HMODULE m_module = nullptr;
  IOvBaseInterface* m_object = nullptr;
  I* m_plugin = nullptr;
  OvDestroyObjectFn m_destroy = nullptr;
  OvCreateObjectFn m_create = nullptr;
  StringT m_name;
};

// Loads a library with the flags and candidates of the plugin loader.
HMODULE LoadPluginLibrary(const wchar_t* path);

template <class I>
int ExportedObject<I>::Load(const wchar_t* path, const wchar_t* name) {
  Unload();
  m_name = name;
  auto fail = [this](int code) {
    Unload();
    return code;
  };
  auto lastError = []() {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : kNoPluginResult;
  };

  m_module = LoadPluginLibrary(path);
  if (m_module == nullptr) return fail(lastError());
  m_create = GetProc<OvCreateObjectFn>(m_module, "OvCreateObject");
  if (m_create == nullptr) return fail(lastError());
  m_destroy = GetProc<OvDestroyObjectFn>(m_module, "OvDestroyObject");
  if (m_destroy == nullptr) return fail(lastError());

  void* object = nullptr;
  const int rc = m_create(name, IID_IOvBaseInterface, &object);
  m_object = static_cast<IOvBaseInterface*>(object);
  if (rc != 0) return fail(rc);
  if (m_object == nullptr) return fail(kNoPluginResult);
  m_plugin = static_cast<I*>(m_object->QueryInterface(InterfaceIid<I>::value));
  if (m_plugin == nullptr) return fail(kNoPluginResult);
  return 0;
}

template <class I>
void ExportedObject<I>::Unload() {
  if (m_object != nullptr && m_destroy != nullptr) m_destroy(m_name.c_str(), m_object);
  m_plugin = nullptr;
  m_object = nullptr;
  if (m_module != nullptr) {
    // Keep the caller's error: a failed load reports it after this cleanup.
    const DWORD error = GetLastError();
    FreeLibrary(m_module);
    SetLastError(error);
  }
  m_module = nullptr;
  m_destroy = nullptr;
  m_create = nullptr;
  m_name.Clear();
}

// A plugin library driven through IServPlugin, handing out its interface T.
template <class T, class U = T>
class ExportedPlugin final {
 public:
  ExportedPlugin() = default;
  ExportedPlugin(const ExportedPlugin&) = delete;
  ExportedPlugin& operator=(const ExportedPlugin&) = delete;
  ~ExportedPlugin() { TearDown(); }

  virtual void* QueryInterface(GUID iid) {
    IServPlugin* plugin = m_object.Plugin();
    return plugin != nullptr ? plugin->QueryInterface(iid) : nullptr;
  }

  // 0; 87 for an empty path or name; a load, Init or Start code; 0x80004002 without T.
  int Load(const wchar_t* path, const wchar_t* name, IPluginHost* host) {
    TearDown();
    if (path == nullptr || *path == 0 || name == nullptr || *name == 0) {
      return ERROR_INVALID_PARAMETER;
    }
    int rc = m_object.Load(path, name);
    if (rc != 0) return rc;
    IServPlugin* plugin = m_object.Plugin();
    rc = plugin->Init(host);
    if (rc != 0) {
      m_object.Unload();
      return rc;
    }
    rc = plugin->Start();
    if (rc != 0) {
      plugin->UnInit();
      m_object.Unload();
      return rc;
    }
    m_interface = static_cast<T*>(plugin->QueryInterface(InterfaceIid<T>::value));
    if (m_interface == nullptr) {
      plugin->Stop();
      plugin->UnInit();
      m_object.Unload();
      return kNoInterfaceResult;
    }
    return 0;
  }

  T* Interface() const { return m_interface; }
  HMODULE Module() const { return m_object.Module(); }

 private:
  void TearDown() {
    if (IServPlugin* plugin = m_object.Plugin()) {
      plugin->Stop();
      plugin->UnInit();
    }
    m_object.Unload();
    m_interface = nullptr;
  }

  ExportedObject<IServPlugin> m_object;
  T* m_interface = nullptr;
};

// The scope names of ServPlugin's log lines, per interface.
template <class T>
struct ServPluginScope;

// An interface handed out by a host's component manager.
template <class T>
class ServPlugin {
 public:
  explicit ServPlugin(const wchar_t* name) : m_name(name) {}
  ServPlugin(const ServPlugin&) = delete;
  ServPlugin& operator=(const ServPlugin&) = delete;
  ~ServPlugin() { ReleaseHeld(); }

  T* GetPlugin(IComponentManager* manager) {
    ReleaseHeld();
    if (manager == nullptr) {
      logging::LogMessage(logging::kLevelError, ServPluginScope<T>::value, L"Null component manager");
      return nullptr;
    }
    void* out = nullptr;
    const int rc = manager->GetObject(m_name.c_str(), InterfaceIid<T>::value, &out);
    if (rc != 0) {
      logging::LogMessage(logging::kLevelPluginError, ServPluginScope<T>::value,
                          L"Error %d getting plugin \"%s\"", rc, m_name.c_str());
      return nullptr;
    }
    m_manager = manager;
    m_interface = static_cast<T*>(out);
    return m_interface;
  }

  T* Interface() const { return m_interface; }

 private:
  void ReleaseHeld() {
    if (m_interface != nullptr && m_manager != nullptr) m_manager->ReleaseObject(m_name.c_str());
    m_interface = nullptr;
    m_manager = nullptr;
  }

  IComponentManager* m_manager = nullptr;
  T* m_interface = nullptr;
  StringT m_name;
};

// An interface from either source: a host's component manager, or a library loaded by path.
template <class T>
class PluginHandle {
 public:
  PluginHandle() = default;
  PluginHandle(const PluginHandle&) = delete;
  PluginHandle& operator=(const PluginHandle&) = delete;
  ~PluginHandle() { Reset(); }

  // 0 when an interface was obtained, else 5002 (and the handle is empty).
  int Set(const wchar_t* path, const wchar_t* name, IPluginHost* host) {
    Reset();
    if (host != nullptr) {
      m_served = new (std::nothrow) ServPlugin<T>(name);
      if (m_served != nullptr) m_served->GetPlugin(host->GetComponentManager());
    } else {
      m_exported = new (std::nothrow) ExportedPlugin<T, T>();
      if (m_exported != nullptr) m_exported->Load(path, name, nullptr);
    }
    if (Get() != nullptr) return 0;
    Reset();
    return kPluginUnavailableResult;
  }

  T* Get() const {
    if (m_served != nullptr) return m_served->Interface();
    if (m_exported != nullptr) return m_exported->Interface();
    return nullptr;
  }

  void Reset() {
    delete m_served;
    m_served = nullptr;
    delete m_exported;
    m_exported = nullptr;
  }

 private:
  // At most one alternative is live.
  ServPlugin<T>* m_served = nullptr;
  ExportedPlugin<T, T>* m_exported = nullptr;
};

}  // namespace ov
