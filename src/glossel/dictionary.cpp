#include "glossel/dictionary.h"

#include <cstdio>
#include <vector>

#include "logging/log_binding.h"

namespace {

using logging::kLevelError;
using logging::kLevelTrace;
using logging::LogMessage;
constexpr wchar_t kScope[] = L"CDictionary::Load";
constexpr size_t kLineBuffer = 8192;

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

std::wstring CDictLoader::Trim(const std::wstring& text) {
  const wchar_t* set = L"\t\n ";
  const size_t first = text.find_first_not_of(set);
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(set) - first + 1);
}

std::wstring CDictLoader::Unescape(const std::wstring& text) { return Replaced(text, L"\\\"", L"\""); }

bool CDictLoader::ParseLine(const std::wstring& line, std::wstring& rawKey, std::wstring& text) {
  size_t equals = 0;
  for (wchar_t c : line) equals += c == L'=' ? 1 : 0;
  if (equals % 2 == 0) return false;
  // The middle "=" separates: key and text may hold "=" as long as they hold as many.
  size_t separator = std::wstring::npos;
  for (size_t i = 0, seen = 0; i < line.size(); ++i) {
    if (line[i] == L'=' && ++seen == equals / 2 + 1) {
      separator = i;
      break;
    }
  }
  if (line[0] != L'"') {
    if (separator == 0 || separator + 1 >= line.size()) return false;
    rawKey = line.substr(0, separator);
    text = line.substr(separator + 1);
    return true;
  }
  // Quoted: "key"="text", with at least one character of text.
  if (separator < 3 || line[separator - 1] != L'"') return false;
  if (separator + 1 >= line.size() || line[separator + 1] != L'"' || line.back() != L'"') return false;
  if (line.size() < separator + 4) return false;
  rawKey = line.substr(1, separator - 2);
  text = line.substr(separator + 2, line.size() - separator - 3);
  return true;
}

bool CDictLoader::Load() {
  if (m_path.empty()) {
    LogMessage(kLevelError, L"CDictLoader::Load", L"null file name");
    return false;
  }
  FILE* file = _wfopen(m_path.c_str(), L"r, ccs=UTF-8");
  if (file == nullptr) {
    LogMessage(kLevelError, L"CDictLoader::Load", L"Failed to open file %s", m_path.c_str());
    return false;
  }
  LogMessage(kLevelTrace, L"CDictLoader::Load", L"Loading the dict: %s", m_path.c_str());
  DictionaryMap& entries = m_store->Entries(m_path);
  std::vector<wchar_t> buffer(kLineBuffer, 0);
  while (fgetws(buffer.data(), static_cast<int>(kLineBuffer), file) != nullptr) {
    std::wstring line = buffer.data();
    const size_t end = line.find_first_of(L"\r\n");
    if (end != std::wstring::npos) line.erase(end);
    if (line.empty() || (line.size() == 1 && line[0] == 0xFEFF)) continue;
    if (line[0] == 0xFEFF) line.erase(0, 1);
    std::wstring rawKey, text;
    if (!ParseLine(line, rawKey, text)) continue;
    const std::wstring key = Unescape(Trim(rawKey));
    auto existing = entries.find(key);
    if (existing == entries.end()) {
      DictEntry entry;
      entry.order = 1;
      entry.source = m_path;
      entry.rawKey = rawKey;
      entry.text = Unescape(text);
      entry.status = L"translated";
      entries.emplace(key, entry);
    } else if (Trim(text) != Trim(existing->second.text)) {
      std::wprintf(L"Found a new translation for the string \n\"%ls\"\n\t=>%ls\n", key.c_str(), text.c_str());
    }
  }
  std::fclose(file);
  return true;
}

bool CDictionary::Load(const wchar_t* path) {
  LogMessage(kLevelTrace, kScope, L"dictionary file: %s", path != nullptr ? path : L"$null");
  const std::wstring name = path != nullptr ? path : L"";
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) {
    LogMessage(kLevelTrace, kScope, L"unknown dictionary extension (no extension)");
    return false;
  }
  const std::wstring extension = name.substr(dot + 1);
  if (extension == L"xlf") return true;
  if (extension == L"dict") return CDictLoader(name, this).Load();
  LogMessage(kLevelError, kScope, L"unknown dictionary extension (%s)", extension.c_str());
  return false;
}

bool CDictionary::GetString(const wchar_t*& out, const wchar_t* key, const wchar_t* path) {
  out = nullptr;
  const std::wstring k = CDictLoader::Trim(key != nullptr ? key : L"");
  if (k.empty()) return true;
  auto dictionary = m_store.find(DictionaryKey{path != nullptr ? path : L"", L"", L"", L""});
  if (dictionary == m_store.end()) return false;
  DictionaryMap& entries = dictionary->second;
  auto found = entries.find(k);
  if (found == entries.end()) {
    DictEntry entry;
    entry.order = static_cast<int32_t>(entries.size());
    entry.source = L"resDLL";
    entry.rawKey = k;
    entry.text = k;
    entry.status = L"default";
    found = entries.emplace(k, entry).first;
  }
  out = found->second.text.c_str();
  return true;
}

const DictEntry* CDictionary::Find(const wchar_t* key, const wchar_t* path) const {
  const std::wstring k = CDictLoader::Trim(key != nullptr ? key : L"");
  auto dictionary = m_store.find(DictionaryKey{path != nullptr ? path : L"", L"", L"", L""});
  if (k.empty() || dictionary == m_store.end()) return nullptr;
  auto found = dictionary->second.find(k);
  return found != dictionary->second.end() ? &found->second : nullptr;
}

const wchar_t* CDictionary::Replace(const wchar_t* key, const wchar_t* text, const wchar_t* path) {
  LogMessage(kLevelTrace, L"CDictionary::Replace", L"src: %s, selector: %s", key != nullptr ? key : L"",
             path != nullptr ? path : L"");
  const std::wstring k = CDictLoader::Trim(key != nullptr ? key : L"");
  if (k.empty()) return nullptr;
  auto dictionary = m_store.find(DictionaryKey{std::wstring(path != nullptr ? path : L"") + L".dict", L"", L"", L""});
  if (dictionary == m_store.end()) return nullptr;
  auto found = dictionary->second.find(k);
  if (found == dictionary->second.end()) {
    LogMessage(kLevelTrace, L"CDictionary::Replace", L"src <%s> string not found in dict !!!", k.c_str());
    return nullptr;
  }
  found->second.text = text != nullptr ? text : L"";
  found->second.filled = true;
  LogMessage(kLevelTrace, L"CDictionary::Replace", L"String replaced: %s, %s", k.c_str(), found->second.text.c_str());
  return found->second.text.c_str();
}

bool CDictionary::LanguageName(const wchar_t*& out) const {
  for (const auto& dictionary : m_store) {
    auto found = dictionary.second.find(L"[LanguageName]");
    if (found != dictionary.second.end()) {
      out = found->second.text.c_str();
      return true;
    }
  }
  return false;
}
