// A library that writes through its own log binding, for the tests that need log.dll beside
// the writing module (the binding looks nowhere else).
#include <windows.h>

#include "framework/plugin.h"
#include "logging/log_binding.h"
#include "tests/framework/test_plugin_interface.h"

namespace {
logging::LogHandle* g_held = nullptr;
}

extern "C" __declspec(dllexport) void ClientTrace(const wchar_t* scope) {
  logging::CallTrace trace(scope);
}

extern "C" __declspec(dllexport) void ClientMessage(const wchar_t* text) {
  logging::LogMessage(logging::kLevelInfo, L"Client::Message", L"%s", text);
}

extern "C" __declspec(dllexport) void ClientHold(bool hold) {
  if (hold && g_held == nullptr) g_held = new logging::LogHandle();
  if (!hold) {
    delete g_held;
    g_held = nullptr;
  }
}

extern "C" __declspec(dllexport) void ClientServPluginFailures() {
  ov::ServPlugin<ITestGreeter> served(L"Absent \"plugin\"");
  served.GetPlugin(nullptr);
  class Refusing : public IComponentManager {
    int GetObject(const wchar_t*, GUID, void**) override { return 1168; }
    void ReleaseObject(const wchar_t*) override {}
  } refusing;
  served.GetPlugin(&refusing);
}
