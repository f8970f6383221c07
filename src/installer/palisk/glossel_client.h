// GlosselClient: the one place in Palisk that talks to Glossel. It loads Glossel.dll on first
// use (again after a failure), translates tokens with the selector "palisk" and formats
// messages with numbered arguments. Without Glossel the raw tokens are shown.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/guarded_string.h"
#include "framework/plugin.h"
#include "framework/shared_instance.h"
#include "libheaders/glossel.h"

class GlosselClient {
 public:
  GlosselClient() = default;
  ~GlosselClient() { Unload(); }
  GlosselClient(const GlosselClient&) = delete;
  GlosselClient& operator=(const GlosselClient&) = delete;

  const ov::StringT& Translate(ov::StringT& out, const wchar_t* text, const wchar_t* selector = L"palisk");
  // 0, or 50 when the interface came from a component manager.
  int SetDictionaryFolder(const wchar_t* folder);
  // "[" and "]" removed, then %1, %2... filled from the wide-string arguments. The count of
  // arguments is known here, so a translated text that names more inserts than the caller
  // gave gets empty text for them instead of reading past the arguments.
  template <typename... Texts>
  static const wchar_t* Format(ov::StringT& out, const wchar_t* format, Texts... texts) {
    return FormatArguments(out, format, {static_cast<const wchar_t*>(texts)...});
  }
  bool EnsureLoaded();
  void Unload();
  bool Loaded() const { return m_active != nullptr; }

 private:
  static const wchar_t* FormatArguments(ov::StringT& out, const wchar_t* format,
                                        std::vector<const wchar_t*> arguments);
  void Lock();
  void Unlock() { InterlockedExchange(&m_lock, 0); }

  ov::ServPlugin<IGlossel> m_served{L"Glossel"};
  ov::StringT m_name = L"Glossel";
  ov::ExportedPlugin<IGlosselEx> m_plugin;
  IPluginHost* m_host = nullptr;
  IGlosselCommon* m_active = nullptr;
  bool m_fromManager = false;
  LONG m_lock = 0;
  ov::StringT m_folder;
};

using GlosselHandle = ov::SharedHandle<GlosselClient>;

namespace palisk {
// The translation of `token` through the process's client (raw when Glossel is missing).
std::wstring Translate(const wchar_t* token);
}  // namespace palisk
