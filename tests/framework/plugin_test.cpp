// The object registry behind OvCreateObject/OvDestroyObject and the plugin loader, with real
// plugin libraries built for the tests.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "framework/module_path.h"
#include "framework/plugin.h"
#include "framework/scoped_handle.h"
#include "support/test_support.h"
#include "tests/framework/test_plugin_interface.h"

namespace {

using testing_support::CopyFileTo;
using testing_support::ScopedTempFolder;
using testing_support::TestBinFolder;

class JournalTest : public testing::Test {
 protected:
  void SetUp() override { JournalTake(); }
};

using PluginLoad = JournalTest;

TEST_F(PluginLoad, GoodPluginRunsItsLifecycleInOrder) {
  {
    ov::ExportedPlugin<ITestGreeter> plugin;
    ASSERT_EQ(0, plugin.Load(L"plugin_good.dll", L"TestPlugin", nullptr));
    ASSERT_NE(nullptr, plugin.Interface());
    EXPECT_STREQ(L"hello from the plugin", plugin.Interface()->Greet());
    EXPECT_NE(nullptr, plugin.QueryInterface(IID_IServPlugin));
    EXPECT_EQ(L"Create;Init;Start;", JournalTake());
  }
  EXPECT_EQ(L"Stop;UnInit;Delete;", JournalTake()) << "teardown is the reverse order";
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_good.dll")) << "the library is freed";
}

TEST_F(PluginLoad, ANewLoadTearsDownTheOldPluginFirst) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  ASSERT_EQ(0, plugin.Load(L"plugin_good.dll", L"TestPlugin", nullptr));
  JournalTake();
  EXPECT_EQ(ERROR_INVALID_PARAMETER, plugin.Load(nullptr, L"TestPlugin", nullptr));
  EXPECT_EQ(L"Stop;UnInit;Delete;", JournalTake());
  EXPECT_EQ(nullptr, plugin.Interface());
  EXPECT_EQ(ERROR_INVALID_PARAMETER, plugin.Load(L"", L"TestPlugin", nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, plugin.Load(L"plugin_good.dll", L"", nullptr));
  EXPECT_EQ(L"", JournalTake());
}

TEST_F(PluginLoad, InitFailureIsPassedOnAndUnloads) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  EXPECT_EQ(31, plugin.Load(L"plugin_init_fails.dll", L"TestPlugin", nullptr));
  EXPECT_EQ(L"Create;Init;Delete;", JournalTake());
  EXPECT_EQ(nullptr, plugin.Interface());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_init_fails.dll"));
}

TEST_F(PluginLoad, StartFailureGetsUnInitButNotStop) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  EXPECT_EQ(1460, plugin.Load(L"plugin_start_fails.dll", L"TestPlugin", nullptr));
  EXPECT_EQ(L"Create;Init;Start;UnInit;Delete;", JournalTake());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_start_fails.dll"));
}

TEST_F(PluginLoad, PluginLackingTheInterfaceGetsStopAndUnInit) {
  ov::ExportedPlugin<ITestMissing> plugin;
  EXPECT_EQ(static_cast<int>(0x80004002), plugin.Load(L"plugin_good.dll", L"TestPlugin", nullptr));
  EXPECT_EQ(L"Create;Init;Start;Stop;UnInit;Delete;", JournalTake());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_good.dll"));
}

TEST_F(PluginLoad, ObjectWithoutServPluginGives632) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  EXPECT_EQ(632, plugin.Load(L"plugin_no_servplugin.dll", L"TestPlugin", nullptr));
  EXPECT_EQ(L"Create;Delete;", JournalTake()) << "the object is given back before the unload";
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_no_servplugin.dll"));
}

TEST_F(PluginLoad, LibraryWithoutOvDestroyObjectIsFreedAgain) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  EXPECT_EQ(ERROR_PROC_NOT_FOUND, plugin.Load(L"plugin_no_destroy.dll", L"TestPlugin", nullptr));
  EXPECT_EQ(L"", JournalTake()) << "nothing is created";
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_no_destroy.dll"));
}

TEST_F(PluginLoad, MissingLibraryReportsTheLoadError) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, plugin.Load(L"no_such_plugin.dll", L"TestPlugin", nullptr));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, plugin.Load(L"C:\\nowhere\\plugin.dll", L"TestPlugin", nullptr));
}

TEST_F(PluginLoad, UnknownObjectNameIsPassedOnFromOvCreateObject) {
  ov::ExportedPlugin<ITestGreeter> plugin;
  EXPECT_EQ(ERROR_NOT_FOUND, plugin.Load(L"plugin_good.dll", L"NoSuchObject", nullptr));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_good.dll"));
}

TEST_F(PluginLoad, AbsolutePathIsLoadedAsGiven) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Make(L"elsewhere\\renamed_plugin.dll");
  ASSERT_TRUE(CopyFileTo(TestBinFolder() + L"\\plugin_good.dll", path));
  {
    ov::ExportedPlugin<ITestGreeter> plugin;
    ASSERT_EQ(0, plugin.Load(path.c_str(), L"TestPlugin", nullptr));
    EXPECT_EQ(path, ov::ModuleFilePath(plugin.Module()));
  }
  JournalTake();
}

class RelativePaths : public JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    const std::wstring sub = folder_.Make(L"sub\\");
    ASSERT_TRUE(CopyFileTo(TestBinFolder() + L"\\plugin_loader.dll", sub + L"plugin_loader.dll"));
    // Only beside the loading library, under a name the executable's folder lacks.
    ASSERT_TRUE(CopyFileTo(TestBinFolder() + L"\\plugin_good.dll", sub + L"sub_only_plugin.dll"));
    // Beside both: the executable's folder must win.
    ASSERT_TRUE(CopyFileTo(TestBinFolder() + L"\\plugin_good.dll", sub + L"plugin_good.dll"));
    loader_.Set(LoadLibraryW((sub + L"plugin_loader.dll").c_str()));
    ASSERT_TRUE(loader_.IsValid());
    load_ = ov::GetProc<decltype(load_)>(loader_.Get(), "LoadGreeterRelative");
    ASSERT_NE(nullptr, load_);
  }
  void TearDown() override {
    loader_.Close();
    JournalTake();
  }

  ScopedTempFolder folder_;
  ov::ScopedModule loader_;
  int (*load_)(const wchar_t*, const wchar_t*, wchar_t*, DWORD) = nullptr;
};

TEST_F(RelativePaths, ExecutableFolderIsTriedFirst) {
  wchar_t loaded[MAX_PATH];
  ASSERT_EQ(0, load_(L"plugin_good.dll", L"TestPlugin", loaded, MAX_PATH));
  EXPECT_EQ(TestBinFolder() + L"\\plugin_good.dll", loaded);
}

TEST_F(RelativePaths, LoadingModulesFolderIsTriedSecond) {
  wchar_t loaded[MAX_PATH];
  ASSERT_EQ(0, load_(L"sub_only_plugin.dll", L"TestPlugin", loaded, MAX_PATH));
  EXPECT_EQ(folder_.Path() + L"\\sub\\sub_only_plugin.dll", loaded);
  // A leading "/" (still a relative path to PathIsRelativeW) is skipped when joining.
  ASSERT_EQ(0, load_(L"/sub_only_plugin.dll", L"TestPlugin", loaded, MAX_PATH));
  EXPECT_EQ(folder_.Path() + L"\\sub\\sub_only_plugin.dll", loaded);
}

TEST_F(RelativePaths, NeitherFolderGivesTheLoadError) {
  wchar_t loaded[MAX_PATH];
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, load_(L"nowhere_plugin.dll", L"TestPlugin", loaded, MAX_PATH));
  EXPECT_STREQ(L"", loaded);
}

class Registry : public testing::Test {
 protected:
  void SetUp() override {
    peer_.Set(LoadLibraryW(L"objects_peer.dll"));
    ASSERT_TRUE(peer_.IsValid());
    create_ = ov::GetProc<OvCreateObjectFn>(peer_.Get(), "OvCreateObject");
    destroy_ = ov::GetProc<OvDestroyObjectFn>(peer_.Get(), "OvDestroyObject");
    stats_ = ov::GetProc<void (*)(LONG*, LONG*)>(peer_.Get(), "PeerStats");
    ASSERT_NE(nullptr, create_);
    ASSERT_NE(nullptr, destroy_);
    ASSERT_NE(nullptr, stats_);
  }
  LONG Built() {
    LONG built, live;
    stats_(&built, &live);
    return built;
  }
  LONG Live() {
    LONG built, live;
    stats_(&built, &live);
    return live;
  }

  ov::ScopedModule peer_;
  OvCreateObjectFn create_ = nullptr;
  OvDestroyObjectFn destroy_ = nullptr;
  void (*stats_)(LONG*, LONG*) = nullptr;
};

TEST_F(Registry, UnregisteredNameGivesNullAnd1168) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ERROR_NOT_FOUND, create_(L"Nobody", IID_IOvBaseInterface, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(ERROR_NOT_FOUND, create_(L"counter", IID_IOvBaseInterface, &out))
      << "names are case-sensitive";
  destroy_(L"Nobody", reinterpret_cast<void*>(0x1234));  // does nothing, and does not crash
  EXPECT_EQ(0, Live());
}

TEST_F(Registry, SingletonIsSharedAndCounted) {
  const LONG builtBefore = Built();
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(0, create_(L"Counter", IID_ITestGreeter, &first));
  ASSERT_EQ(0, create_(L"Counter", IID_IOvBaseInterface, &second));
  EXPECT_EQ(1, Built() - builtBefore) << "one instance for both";
  EXPECT_STREQ(L"counter", static_cast<ITestGreeter*>(first)->Greet())
      << "the first declaration keeps answering; the duplicate was ignored";
  destroy_(L"Counter", first);
  EXPECT_EQ(1, Live()) << "the first destroy keeps it";
  destroy_(L"Counter", second);
  EXPECT_EQ(0, Live()) << "the second deletes it";

  ASSERT_EQ(0, create_(L"Counter", IID_ITestGreeter, &first));
  EXPECT_EQ(2, Built() - builtBefore) << "a later create rebuilds";
  destroy_(L"Counter", first);
  EXPECT_EQ(0, Live());
}

TEST_F(Registry, SingletonAskedForAMissingInterfaceGivesItsUseBack) {
  const LONG builtBefore = Built();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(ERROR_NOT_FOUND, create_(L"Counter", IID_ITestMissing, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(1, Built() - builtBefore) << "built for the first use";
  EXPECT_EQ(0, Live()) << "and deleted again";

  void* held = nullptr;
  ASSERT_EQ(0, create_(L"Counter", IID_ITestGreeter, &held));
  EXPECT_EQ(ERROR_NOT_FOUND, create_(L"Counter", IID_ITestMissing, &out));
  EXPECT_EQ(1, Live()) << "a failed create leaves the count as it was";
  destroy_(L"Counter", held);
  EXPECT_EQ(0, Live());
}

TEST_F(Registry, PerCallObjectsAreNewEachTimeAndDestroyedThroughAnyPart) {
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(0, create_(L"PerCall", IID_ITestGreeter, &a));
  ASSERT_EQ(0, create_(L"PerCall", IID_IOvBaseInterface, &b));
  EXPECT_NE(a, b);
  EXPECT_EQ(2, Live());
  destroy_(L"PerCall", b);  // the part that is not at the object's start
  EXPECT_EQ(1, Live());
  destroy_(L"PerCall", a);
  EXPECT_EQ(0, Live());
  void* none = nullptr;
  EXPECT_EQ(ERROR_NOT_FOUND, create_(L"PerCall", IID_ITestMissing, &none));
  EXPECT_EQ(0, Live()) << "an object nobody can hold is not leaked";
}

TEST_F(Registry, PerCallDestroyIgnoresObjectsOfAnotherClass) {
  void* counter = nullptr;
  ASSERT_EQ(0, create_(L"Counter", IID_IOvBaseInterface, &counter));
  destroy_(L"PerCall", counter);
  EXPECT_EQ(1, Live()) << "not a PerCall: nothing happens";
  destroy_(L"Counter", counter);
  EXPECT_EQ(0, Live());
}

class FakeManager : public IComponentManager {
 public:
  int GetObject(const wchar_t* name, GUID iid, void** out) override {
    asked = name;
    if (!ov::SameIid(iid, IID_ITestGreeter) || std::wstring(name) != L"Greeter") return 1168;
    *out = static_cast<ITestGreeter*>(&greeter);
    return 0;
  }
  void ReleaseObject(const wchar_t* name) override { released += name + std::wstring(L";"); }

  class Greeter : public ITestGreeter {
    const wchar_t* Greet() override { return L"served"; }
  } greeter;
  std::wstring asked;
  std::wstring released;
};

class FakeHost : public IPluginHost {
 public:
  void Reserved() override {}
  IComponentManager* GetComponentManager() override { return &manager; }
  FakeManager manager;
};

TEST(PluginHandle, PrefersTheHostsComponentManager) {
  FakeHost host;
  {
    ov::PluginHandle<ITestGreeter> handle;
    ASSERT_EQ(0, handle.Set(L"plugin_good.dll", L"Greeter", &host));
    EXPECT_STREQ(L"served", handle.Get()->Greet());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"plugin_good.dll")) << "no library with a host";
  }
  EXPECT_EQ(L"Greeter;", host.manager.released);
}

TEST(PluginHandle, HostWithoutTheObjectGives5002) {
  FakeHost host;
  ov::PluginHandle<ITestGreeter> handle;
  EXPECT_EQ(5002, handle.Set(L"plugin_good.dll", L"TestPlugin", &host));
  EXPECT_EQ(nullptr, handle.Get());
  EXPECT_EQ(L"", host.manager.released);
}

TEST(PluginHandle, LoadsTheLibraryWithoutAHost) {
  JournalTake();
  {
    ov::PluginHandle<ITestGreeter> handle;
    ASSERT_EQ(0, handle.Set(L"plugin_good.dll", L"TestPlugin", nullptr));
    EXPECT_STREQ(L"hello from the plugin", handle.Get()->Greet());
    EXPECT_EQ(5002, handle.Set(L"no_such_plugin.dll", L"TestPlugin", nullptr));
    EXPECT_EQ(nullptr, handle.Get());
  }
  EXPECT_EQ(L"Create;Init;Start;Stop;UnInit;Delete;", JournalTake());
}

TEST(ServPlugin, NullManagerGivesNull) {
  ov::ServPlugin<ITestGreeter> served(L"Greeter");
  EXPECT_EQ(nullptr, served.GetPlugin(nullptr));
  FakeManager manager;
  ASSERT_NE(nullptr, served.GetPlugin(&manager));
  EXPECT_EQ(nullptr, served.GetPlugin(nullptr));
  EXPECT_EQ(L"Greeter;", manager.released) << "the held interface is given back first";
}

}  // namespace
