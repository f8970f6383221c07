// The two exports through which a plugin library publishes its registry. Linked only into
// modules that export objects (Glossel, plugins), never into Palisk.
#include "framework/object_registry.h"

extern "C" __declspec(dllexport) int OvCreateObject(const wchar_t* name, GUID iid, void** out) {
  if (out == nullptr) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  if (name == nullptr) return ERROR_NOT_FOUND;
  IObjectConstructor* declaration;
  {
    ov::RegistryHandle registry;
    declaration = registry->Find(name);
  }
  if (declaration == nullptr) return ERROR_NOT_FOUND;

  *out = declaration->Create(iid);  // outside the registry lock
  if (*out != nullptr) return 0;

  // Give back the use that Create took: a fresh singleton is deleted again.
  ov::RegistryHandle registry;
  registry->DestroyUnderLock(name, nullptr);
  return ERROR_NOT_FOUND;
}

extern "C" __declspec(dllexport) void OvDestroyObject(const wchar_t* name, void* object) {
  if (name == nullptr) return;
  ov::RegistryHandle registry;
  registry->DestroyUnderLock(name, object);
}
