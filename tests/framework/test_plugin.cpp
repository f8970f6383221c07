// A plugin library for the loader tests. Compile-time switches make the failing variants:
//   PLUGIN_INIT_RESULT, PLUGIN_START_RESULT  results of Init and Start (default 0)
//   PLUGIN_NO_SERVPLUGIN                     the object does not answer IServPlugin
//   PLUGIN_NO_DESTROY                        the library lacks OvDestroyObject
#include "framework/object_registry.h"
#include "tests/framework/test_plugin_interface.h"

#ifndef PLUGIN_INIT_RESULT
#define PLUGIN_INIT_RESULT 0
#endif
#ifndef PLUGIN_START_RESULT
#define PLUGIN_START_RESULT 0
#endif

namespace {

class TestPlugin : public IServPlugin, public ITestGreeter {
 public:
  TestPlugin() { JournalAppend(L"Create"); }
  ~TestPlugin() { JournalAppend(L"Delete"); }

  void* QueryInterface(GUID iid) override {
    if (ov::SameIid(iid, IID_IOvBaseInterface)) return static_cast<IServPlugin*>(this);
#ifndef PLUGIN_NO_SERVPLUGIN
    if (ov::SameIid(iid, IID_IServPlugin)) return static_cast<IServPlugin*>(this);
#endif
    if (ov::SameIid(iid, IID_ITestGreeter)) return static_cast<ITestGreeter*>(this);
    return nullptr;
  }
  int Init(IPluginHost*) override {
    JournalAppend(L"Init");
    return PLUGIN_INIT_RESULT;
  }
  void UnInit() override { JournalAppend(L"UnInit"); }
  int Start() override {
    JournalAppend(L"Start");
    return PLUGIN_START_RESULT;
  }
  void Stop() override { JournalAppend(L"Stop"); }
  const wchar_t* Greet() override { return L"hello from the plugin"; }
};

}  // namespace

#ifdef PLUGIN_NO_DESTROY
// Only the create export: the loader must refuse the library and free it.
extern "C" __declspec(dllexport) int OvCreateObject(const wchar_t*, GUID iid, void** out) {
  TestPlugin* plugin = new TestPlugin();
  *out = plugin->QueryInterface(iid);
  return 0;
}
#else
OV_DECLARE_SINGLETON(TestPlugin, L"TestPlugin", plugin);
#endif
