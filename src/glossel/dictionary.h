// Dictionary files: one per selector and language, "key=text" lines. CDictionary keeps every
// loaded file in memory, answers lookups (a missing key is added as its own translation) and
// lets the variable machinery store a processed text back into its entry.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

struct DictEntry {
  int32_t order = 1;
  std::wstring source;
  bool flag = true;
  std::wstring rawKey;
  std::wstring text;
  std::wstring status;  // "translated" (from a file) or "default" (added by a lookup)
  bool filled = false;  // its variables were filled in once (Replace stored the text)
};

struct DictionaryKey {
  std::wstring path;  // the only field ever filled
  std::wstring reserved1, reserved2, reserved3;
  bool operator<(const DictionaryKey& other) const {
    return std::tie(path, reserved1, reserved2, reserved3) <
           std::tie(other.path, other.reserved1, other.reserved2, other.reserved3);
  }
};

using DictionaryMap = std::map<std::wstring, DictEntry>;

class CDictionary {
 public:
  bool Load(const wchar_t* path);
  // `out` points into the entry (valid until its text changes or the store is emptied).
  bool GetString(const wchar_t*& out, const wchar_t* key, const wchar_t* path);
  // The entry of `key` in the dictionary file `path`, or null; changes nothing.
  const DictEntry* Find(const wchar_t* key, const wchar_t* path) const;
  // The new text of `key` in the dictionary at `path` + ".dict", or null.
  const wchar_t* Replace(const wchar_t* key, const wchar_t* text, const wchar_t* path);
  bool LanguageName(const wchar_t*& out) const;
  void Clear() { m_store.clear(); }

  // The per-file maps, created on demand (used by CDictLoader).
  DictionaryMap& Entries(const std::wstring& path) { return m_store[DictionaryKey{path, L"", L"", L""}]; }
  bool Has(const std::wstring& path) const { return m_store.count(DictionaryKey{path, L"", L"", L""}) != 0; }

 private:
  std::map<DictionaryKey, DictionaryMap> m_store;
};

class CDictLoader {
 public:
  CDictLoader(const std::wstring& path, CDictionary* store) : m_path(path), m_store(store) {}
  bool Load();

  // One line's key and text, or false when the line is no entry (the grammar of the files).
  static bool ParseLine(const std::wstring& line, std::wstring& rawKey, std::wstring& text);
  static std::wstring Trim(const std::wstring& text);
  static std::wstring Unescape(const std::wstring& text);

 private:
  std::wstring m_path;
  CDictionary* m_store;
};
