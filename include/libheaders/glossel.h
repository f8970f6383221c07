// The interfaces between Glossel and its clients, and between Glossel and the two optional
// configuration components it loads (Tallon.dll "productinfo", Vantor.dll
// "Product.Configuration.General").
#pragma once

#include <ctime>
#include <string>

#include "framework/guarded_string.h"
#include "framework/list.h"
#include "framework/map.h"
#include "framework/plugin.h"

// The operations both client interfaces share (no QueryInterface slot of their own).
class IGlosselCommon {
 public:
  // 0 with the translated text in `out`, 1627 with `out` empty.
  virtual int GetString(const wchar_t* text, const wchar_t* selector, ov::StringT& out) = 0;
  virtual const wchar_t* FormatString(ov::StringT& out, const wchar_t* format, const ov::IList<ov::StringT>& args) = 0;
  virtual const wchar_t* Format(ov::StringT& out, const wchar_t* format, ...) = 0;
  virtual void ListAvailableLanguages(ov::IMap<ov::StringT, ov::StringT>* out) = 0;
  virtual void AddPunctuation(ov::StringT& text, wchar_t mark) = 0;
  // Appends the UTF-8 date text to `out`; 0 or 87.
  virtual int FormatDate(std::string& out, const tm* time, const char* format, size_t length) = 0;
};

class IGlossel : public IGlosselCommon {
 public:
  virtual int Reload() = 0;
};

class IGlosselEx : public IGlosselCommon {
 public:
  virtual bool SetDictionariesPath(const ov::StringT& path) = 0;
};

// The product information component.
class ITallon {
 public:
  virtual void* QueryInterface(GUID iid) = 0;
  virtual int Reserved2() = 0;
  virtual int Reserved3() = 0;
  virtual int Reserved4() = 0;
  virtual int Reserved5() = 0;
  virtual int Reserved6() = 0;
  // Empty or null when the id is not defined in the section.
  virtual const wchar_t* GetValue(int id, const wchar_t* section) = 0;
};

namespace Product {

struct TechSupportInfo {
  ov::StringT website;
  ov::StringT contact;
  ov::StringT telephone;
  ov::StringT unused;
};

// The general product configuration: language, support data and change notifications.
class IGeneralConfiguration {
 public:
  class IEvents {
   public:
    virtual ~IEvents() = default;
    // 5: the language changed; 2: the technical-support data changed.
    virtual void OnSettingsChanged(int what) = 0;
  };

  virtual void* QueryInterface(GUID iid) = 0;
  virtual int Reserved2() = 0;
  virtual int Reserved3() = 0;
  virtual int Reserved4() = 0;
  virtual int Reserved5() = 0;
  virtual int Reserved6() = 0;
  virtual int Reserved7() = 0;
  virtual int Reserved8() = 0;
  virtual int GetTechSupportInfo(TechSupportInfo* info, ov::StringT& extra) = 0;  // 9
  virtual int Reserved10() = 0;
  virtual int Reserved11() = 0;
  virtual int Reserved12() = 0;
  virtual int Reserved13() = 0;
  virtual int Reserved14() = 0;
  virtual int GetLanguage(ov::StringT& language) = 0;  // 15
  virtual int Reserved16() = 0;
  virtual int Reserved17() = 0;
  virtual int Advise(IEvents* sink, int reserved1, int reserved2) = 0;    // 18
  virtual int Unadvise(IEvents* sink, int reserved1, int reserved2) = 0;  // 19
};

}  // namespace Product

// {5B1E7C2A-0D43-4E8B-9F61-2A7C3D4E5F60} and {7C2F8D3B-1E54-4F9C-A072-3B8D4E5F6071}: the
// optional components' interfaces (ours: the components are the maker's).
constexpr GUID IID_ITallon = {0x5B1E7C2A, 0x0D43, 0x4E8B, {0x9F, 0x61, 0x2A, 0x7C, 0x3D, 0x4E, 0x5F, 0x60}};
constexpr GUID IID_IGeneralConfiguration = {
    0x7C2F8D3B, 0x1E54, 0x4F9C, {0xA0, 0x72, 0x3B, 0x8D, 0x4E, 0x5F, 0x60, 0x71}};

namespace ov {
template <>
struct InterfaceIid<IGlosselEx> {
  static constexpr const GUID& value = IID_IGlosselEx;
};
template <>
struct InterfaceIid<IGlossel> {
  static constexpr const GUID& value = IID_IGlossel;
};
template <>
struct InterfaceIid<ITallon> {
  static constexpr const GUID& value = IID_ITallon;
};
template <>
struct InterfaceIid<Product::IGeneralConfiguration> {
  static constexpr const GUID& value = IID_IGeneralConfiguration;
};
template <>
struct ServPluginScope<IGlossel> {
  static constexpr const wchar_t* value = L"ServPlugin<class IGlossel>::GetPlugin";
};
template <>
struct ServPluginScope<ITallon> {
  static constexpr const wchar_t* value = L"ServPlugin<struct ITallon>::GetPlugin";
};
template <>
struct ServPluginScope<Product::IGeneralConfiguration> {
  static constexpr const wchar_t* value = L"ServPlugin<struct Product::IGeneralConfiguration>::GetPlugin";
};
}  // namespace ov
