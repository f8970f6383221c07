// Tallon.dll stand-in: the product-information component ("productinfo"). Values come from
// "tallon.ini" beside the library: section name = the section asked for, key = the id.
//   [Keldor]  0=Orvane Endpoint  1=Orvane Endpoint Security  2=Orvane SRL ...
//   [Glossel] 0=<language root folder>  1=<default language>
#include <windows.h>

#include <map>
#include <string>

#include "framework/module_path.h"
#include "framework/object_registry.h"
#include "framework/plugin.h"
#include "libheaders/glossel.h"

namespace {

class Tallon final : public IServPlugin, public ITallon {
 public:
  void* QueryInterface(GUID iid) override {
    if (ov::SameIid(iid, IID_IOvBaseInterface) || ov::SameIid(iid, IID_IServPlugin)) {
      return static_cast<IServPlugin*>(this);
    }
    if (ov::SameIid(iid, IID_ITallon)) return static_cast<ITallon*>(this);
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

  const wchar_t* GetValue(int id, const wchar_t* section) override {
    const std::wstring ini = ov::JoinPath(ov::FolderOf(ov::ModuleFilePath(ov::ThisModule())), L"tallon.ini");
    wchar_t value[2048] = L"";
    GetPrivateProfileStringW(section != nullptr ? section : L"", std::to_wstring(id).c_str(), L"", value, 2048,
                             ini.c_str());
    std::wstring& stored = m_values[std::wstring(section != nullptr ? section : L"") + L"/" + std::to_wstring(id)];
    stored = value;
    return stored.c_str();
  }

 private:
  std::map<std::wstring, std::wstring> m_values;  // keeps returned texts alive
};

}  // namespace

OV_DECLARE_SINGLETON(Tallon, L"productinfo", tallon);
