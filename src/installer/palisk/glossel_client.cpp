#include "installer/palisk/glossel_client.h"

#include <string>

#include "framework/format_inserts.h"

void GlosselClient::Lock() {
  while (InterlockedExchange(&m_lock, 1) != 0) Sleep(1);
}

bool GlosselClient::EnsureLoaded() {
  if (m_active != nullptr) return true;
  if (m_host == nullptr) {
    // Relative: beside the executable first, then beside Palisk's own module.
    if (m_plugin.Load(L"Glossel.dll", m_name.c_str(), nullptr) == 0) {
      m_active = m_plugin.Interface();
      m_fromManager = false;
    }
    if (m_plugin.Interface() != nullptr && !m_folder.IsEmpty()) m_plugin.Interface()->SetDictionariesPath(m_folder);
  } else if (IGlossel* served = m_served.GetPlugin(m_host->GetComponentManager())) {
    m_active = served;
    m_fromManager = true;
  }
  if (m_active == nullptr) Unload();
  return m_active != nullptr;
}

void GlosselClient::Unload() {
  // A new Load with no path runs Stop, UnInit and the unload of what the holder has.
  m_plugin.Load(nullptr, nullptr, nullptr);
  if (m_fromManager) m_served.GetPlugin(nullptr);
  m_fromManager = false;
  m_active = nullptr;
}

const ov::StringT& GlosselClient::Translate(ov::StringT& out, const wchar_t* text, const wchar_t* selector) {
  Lock();
  EnsureLoaded();
  IGlosselCommon* active = m_active;
  Unlock();
  out.Clear();
  if (active == nullptr || active->GetString(text, selector, out) != 0) out = text != nullptr ? text : L"";
  return out;
}

int GlosselClient::SetDictionaryFolder(const wchar_t* folder) {
  Lock();
  if (m_fromManager) {
    Unlock();
    return ERROR_NOT_SUPPORTED;
  }
  m_folder = folder != nullptr ? folder : L"";
  if (m_plugin.Interface() != nullptr) m_plugin.Interface()->SetDictionariesPath(m_folder);
  Unlock();
  return 0;
}

const wchar_t* GlosselClient::FormatArguments(ov::StringT& out, const wchar_t* format,
                                              std::vector<const wchar_t*> arguments) {
  out.Clear();
  std::wstring formatted;
  if (ov::FormatInserts(format, arguments, formatted)) out = formatted.c_str();
  return out.c_str();
}

namespace palisk {

std::wstring Translate(const wchar_t* token) {
  GlosselHandle client;
  ov::StringT out;
  client->Translate(out, token);
  return out.c_str();
}

}  // namespace palisk
