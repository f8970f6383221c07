// CGlossel: Glossel's one service. It translates user-visible texts for a selector into the
// current language, fills product variables, formats messages and dates, lists the installed
// languages, and reloads when the product configuration announces a change.
#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "framework/plugin.h"
#include "glossel/dictionary.h"
#include "glossel/sync_rw_lock.h"
#include "libheaders/glossel.h"

class CGlossel : public IServPlugin,
                 public IGlossel,
                 public IGlosselEx,
                 public Product::IGeneralConfiguration::IEvents {
 public:
  CGlossel();
  ~CGlossel() override;
  CGlossel(const CGlossel&) = delete;
  CGlossel& operator=(const CGlossel&) = delete;

  // IServPlugin
  void* QueryInterface(GUID iid) override;
  int Init(IPluginHost* host) override;
  void UnInit() override;
  int Start() override { return 0; }
  void Stop() override {}

  // IGlosselCommon
  int GetString(const wchar_t* text, const wchar_t* selector, ov::StringT& out) override;
  const wchar_t* FormatString(ov::StringT& out, const wchar_t* format, const ov::IList<ov::StringT>& args) override;
  const wchar_t* Format(ov::StringT& out, const wchar_t* format, ...) override;
  void ListAvailableLanguages(ov::IMap<ov::StringT, ov::StringT>* out) override;
  void AddPunctuation(ov::StringT& text, wchar_t mark) override;
  int FormatDate(std::string& out, const tm* time, const char* format, size_t length) override;
  // IGlossel
  int Reload() override;
  // IGlosselEx
  bool SetDictionariesPath(const ov::StringT& path) override;
  // IEvents
  void OnSettingsChanged(int what) override;

  const std::wstring& Language() const { return m_language; }
  const std::wstring& DictionariesPath() const { return m_dictsPath; }

 private:
  int LoadDictionaryForSelector(const wchar_t* selector);
  // A text that earlier calls translated and filled completely, copied into `out` (null
  // selector: the text cache). Under m_entriesLock, shared.
  bool FinishedText(const std::wstring& key, const wchar_t* selector, ov::StringT& out);
  int BuildLangPath();
  std::wstring GuessLangPath() const;
  std::wstring GetLanguageDisplayName(const std::wstring& root, const std::wstring& folder);
  bool GetAllowedLanguages(std::vector<std::wstring>& allowed);
  void Clear();
  int LoadMCR();
  int ReplaceVariables(const std::wstring& source, const wchar_t*& text, const wchar_t* selector);
  std::wstring DictionaryFile(const wchar_t* selector) const;

  LONG m_initCount = 0;
  ov::PluginHandle<ITallon> m_tallon;
  ov::PluginHandle<Product::IGeneralConfiguration> m_general;
  CDictionary m_dictionary;
  std::wstring m_dictsPath;
  std::wstring m_langFolder;
  std::set<std::wstring> m_loadedSelectors;
  std::map<std::wstring, std::wstring> m_mcrMap;
  std::map<std::wstring, std::wstring> m_textCache;
  CRITICAL_SECTION m_allowedLock;
  std::vector<std::wstring> m_allowedLanguages;
  bool m_allowedRead = false;
  std::wstring m_language;
  CRITICAL_SECTION m_variablesLock;
  CRITICAL_SECTION m_initLock;
  // Guards the dictionaries' entries, the loaded selectors and the text cache inside the read
  // side of m_rwLock (shared: reading finished texts; exclusive: anything that changes them).
  SRWLOCK m_entriesLock = SRWLOCK_INIT;
  volatile DWORD m_entriesWriter = 0;  // the thread holding it exclusively, 0 when none
  CSyncRWLock m_rwLock;
};
