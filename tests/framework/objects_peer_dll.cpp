// A library that declares objects for the registry tests: a singleton, a per-call object
// and a second declaration under an existing name.
#include <windows.h>

#include "framework/object_registry.h"
#include "tests/framework/test_plugin_interface.h"

namespace {

LONG g_built = 0;
LONG g_live = 0;

class Counter : public IOvBaseInterface, public ITestGreeter {
 public:
  Counter() {
    ++g_built;
    ++g_live;
  }
  ~Counter() { --g_live; }
  void* QueryInterface(GUID iid) override {
    if (ov::SameIid(iid, IID_IOvBaseInterface)) return static_cast<IOvBaseInterface*>(this);
    if (ov::SameIid(iid, IID_ITestGreeter)) return static_cast<ITestGreeter*>(this);
    return nullptr;
  }
  const wchar_t* Greet() override { return L"counter"; }
};

// ITestGreeter first, so its IOvBaseInterface part is not at the object's start.
class PerCall : public ITestGreeter, public IOvBaseInterface {
 public:
  PerCall() {
    ++g_built;
    ++g_live;
  }
  ~PerCall() { --g_live; }
  void* QueryInterface(GUID iid) override {
    if (ov::SameIid(iid, IID_IOvBaseInterface)) return static_cast<IOvBaseInterface*>(this);
    if (ov::SameIid(iid, IID_ITestGreeter)) return static_cast<ITestGreeter*>(this);
    return nullptr;
  }
  const wchar_t* Greet() override { return L"per call"; }
};

class Impostor : public IOvBaseInterface, public ITestGreeter {
 public:
  void* QueryInterface(GUID iid) override {
    if (ov::SameIid(iid, IID_ITestGreeter)) return static_cast<ITestGreeter*>(this);
    return static_cast<IOvBaseInterface*>(this);
  }
  const wchar_t* Greet() override { return L"impostor"; }
};

}  // namespace

OV_DECLARE_SINGLETON(Counter, L"Counter", counter);
OV_DECLARE_OBJECT(PerCall, L"PerCall", perCall);
OV_DECLARE_OBJECT(Impostor, L"Counter", duplicate);  // ignored: the name is taken

extern "C" __declspec(dllexport) void PeerStats(LONG* built, LONG* live) {
  *built = g_built;
  *live = g_live;
}
