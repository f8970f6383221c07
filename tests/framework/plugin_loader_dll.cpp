// A library that loads a plugin with the framework's loader, so that a relative path is
// tried beside the executable first and then beside this library.
#include <windows.h>

#include "framework/module_path.h"
#include "framework/plugin.h"
#include "tests/framework/test_plugin_interface.h"

extern "C" __declspec(dllexport) int LoadGreeterRelative(const wchar_t* path, const wchar_t* name,
                                                         wchar_t* loadedFrom, DWORD capacity) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  const int rc = plugin.Load(path, name, nullptr);
  loadedFrom[0] = 0;
  if (rc == 0) GetModuleFileNameW(plugin.Module(), loadedFrom, capacity);
  return rc;
}
