// Vantor.dll stand-in: the general product configuration ("Product.Configuration.General").
// Settings come from "vantor.ini" beside the library ([general] language=, website=, contact=,
// telephone=). The export VantorRaiseSettingsChanged(what) tells every advised sink, so tests
// can announce a change of language (5) or of the support data (2).
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "framework/module_path.h"
#include "framework/object_registry.h"
#include "framework/plugin.h"
#include "libheaders/glossel.h"

namespace {

std::mutex g_sinksLock;
std::vector<Product::IGeneralConfiguration::IEvents*> g_sinks;

std::wstring Setting(const wchar_t* key) {
  const std::wstring ini = ov::JoinPath(ov::FolderOf(ov::ModuleFilePath(ov::ThisModule())), L"vantor.ini");
  wchar_t value[2048] = L"";
  GetPrivateProfileStringW(L"general", key, L"", value, 2048, ini.c_str());
  return value;
}

class GeneralConfiguration final : public IServPlugin, public Product::IGeneralConfiguration {
 public:
  void* QueryInterface(GUID iid) override {
    if (ov::SameIid(iid, IID_IOvBaseInterface) || ov::SameIid(iid, IID_IServPlugin)) {
      return static_cast<IServPlugin*>(this);
    }
    if (ov::SameIid(iid, IID_IGeneralConfiguration)) return static_cast<Product::IGeneralConfiguration*>(this);
    return nullptr;
  }
  int Init(IPluginHost*) override { return 0; }
  void UnInit() override {}
  int Start() override { return 0; }
  void Stop() override {}
  int Reserved2() override { return 0; }
  int Reserved3() override { return 0; }
  int Reserved4() override { return 0; }
  int Reserved5() override { return 0; }
  int Reserved6() override { return 0; }
  int Reserved7() override { return 0; }
  int Reserved8() override { return 0; }
  int GetTechSupportInfo(Product::TechSupportInfo* info, ov::StringT& extra) override {
    if (info == nullptr) return ERROR_INVALID_PARAMETER;
    info->website = Setting(L"website").c_str();
    info->contact = Setting(L"contact").c_str();
    info->telephone = Setting(L"telephone").c_str();
    extra.Clear();
    return 0;
  }
  int Reserved10() override { return 0; }
  int Reserved11() override { return 0; }
  int Reserved12() override { return 0; }
  int Reserved13() override { return 0; }
  int Reserved14() override { return 0; }
  int GetLanguage(ov::StringT& language) override {
    language = Setting(L"language").c_str();
    return 0;
  }
  int Reserved16() override { return 0; }
  int Reserved17() override { return 0; }
  int Advise(IEvents* sink, int, int) override {
    std::lock_guard<std::mutex> lock(g_sinksLock);
    g_sinks.push_back(sink);
    return 0;
  }
  int Unadvise(IEvents* sink, int, int) override {
    std::lock_guard<std::mutex> lock(g_sinksLock);
    for (auto it = g_sinks.begin(); it != g_sinks.end(); ++it) {
      if (*it == sink) {
        g_sinks.erase(it);
        break;
      }
    }
    return 0;
  }
};

}  // namespace

OV_DECLARE_SINGLETON(GeneralConfiguration, L"Product.Configuration.General", general);

extern "C" __declspec(dllexport) void VantorRaiseSettingsChanged(int what) {
  std::vector<Product::IGeneralConfiguration::IEvents*> sinks;
  {
    std::lock_guard<std::mutex> lock(g_sinksLock);
    sinks = g_sinks;
  }
  for (auto* sink : sinks) sink->OnSettingsChanged(what);
}
