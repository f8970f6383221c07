#include "glossel/glossel.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <cwctype>

#include "framework/format_inserts.h"
#include "framework/module_path.h"
#include "framework/utf8.h"
#include "logging/log_binding.h"
#include "tinyxml.h"

namespace {

using logging::CallTrace;
using logging::kLevelError;
using logging::kLevelInfo;
using logging::kLevelTrace;
using logging::LogMessage;

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

struct Variable {
  const wchar_t* reference;
  int id;
};
const Variable kVariables[] = {{L"[InternalProductName]", 0}, {L"[ProductName]", 1},   {L"[Manufacturer]", 2},
                               {L"[ProductWebsite]", 4},      {L"[SupportWebsite]", 5}, {L"[SupportTelephone]", 6},
                               {L"[SupportContact]", 7}};

std::wstring GlosselFolder() {
  std::wstring folder = ov::FolderOf(ov::ModuleFilePath(ov::ThisModule()));
  return folder + L"\\";
}

std::wstring RemoveAll(std::wstring text, const std::wstring& part) {
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at)) text.erase(at, part.size());
  return text;
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool IsReferenceChar(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'); }

using ov::FromUtf8;
using ov::ToUtf8;

}  // namespace

CGlossel::CGlossel() {
  InitializeCriticalSection(&m_allowedLock);
  InitializeCriticalSection(&m_variablesLock);
  InitializeCriticalSection(&m_initLock);
}

CGlossel::~CGlossel() {
  DeleteCriticalSection(&m_allowedLock);
  DeleteCriticalSection(&m_variablesLock);
  DeleteCriticalSection(&m_initLock);
}

void* CGlossel::QueryInterface(GUID iid) {
  if (ov::SameIid(iid, IID_IOvBaseInterface) || ov::SameIid(iid, IID_IServPlugin)) return static_cast<IServPlugin*>(this);
  if (ov::SameIid(iid, IID_IGlossel)) return static_cast<IGlossel*>(this);
  if (ov::SameIid(iid, IID_IGlosselEx)) return static_cast<IGlosselEx*>(this);
  return nullptr;
}

int CGlossel::Init(IPluginHost* host) {
  CallTrace trace(L"CGlossel::Init");
  EnterCriticalSection(&m_initLock);
  const LONG count = ++m_initCount;
  LogMessage(kLevelTrace, L"CGlossel::Init", L"Current init count requested: %d", count);
  if (count == 1) {
    const std::wstring folder = GlosselFolder();
    m_tallon.Set((folder + L"Tallon.dll").c_str(), L"productinfo", host);
    m_general.Set((folder + L"Vantor.dll").c_str(), L"Product.Configuration.General", host);
    if (m_general.Get() != nullptr) m_general.Get()->Advise(this, 0, 0);
    LoadMCR();
    BuildLangPath();
  }
  LeaveCriticalSection(&m_initLock);
  return 0;
}

void CGlossel::UnInit() {
  CallTrace trace(L"CGlossel::UnInit");
  EnterCriticalSection(&m_initLock);
  LogMessage(kLevelTrace, L"CGlossel::UnInit", L"Current init count requested: %d", m_initCount);
  if (m_initCount-- == 1) {
    if (m_general.Get() != nullptr) m_general.Get()->Unadvise(this, 0, 0);
    m_general.Reset();
    m_tallon.Reset();
    Clear();
    m_mcrMap.clear();
  }
  LeaveCriticalSection(&m_initLock);
}

void CGlossel::Clear() {
  CallTrace trace(L"CGlossel::Clear");
  AcquireSRWLockExclusive(&m_entriesLock);
  m_dictionary.Clear();
  m_loadedSelectors.clear();
  m_textCache.clear();
  ReleaseSRWLockExclusive(&m_entriesLock);
}

bool CGlossel::FinishedText(const std::wstring& key, const wchar_t* selector, ov::StringT& out) {
  const std::wstring* text = nullptr;
  if (selector != nullptr && m_loadedSelectors.count(selector) != 0) {
    const DictEntry* entry = m_dictionary.Find(key.c_str(), DictionaryFile(selector).c_str());
    if (entry != nullptr && entry->filled) text = &entry->text;
  } else if (selector == nullptr) {
    auto cached = m_textCache.find(key);
    if (cached != m_textCache.end()) text = &cached->second;
  }
  // A text with a "[" may still hold a reference that a later pass can fill.
  if (text == nullptr || text->find(L'[') != std::wstring::npos) return false;
  out = text->c_str();
  return true;
}

std::wstring CGlossel::DictionaryFile(const wchar_t* selector) const {
  std::wstring path = m_dictsPath;
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return path + selector + L".dict";
}

int CGlossel::GetString(const wchar_t* text, const wchar_t* selector, ov::StringT& out) {
  CallTrace trace(L"CGlossel::GetString");
  ReadLock read(m_rwLock);
  out.Clear();
  if (text == nullptr) {
    LogMessage(kLevelError, L"CGlossel::GetString", L"Null text to be translated.");
    return ERROR_FUNCTION_FAILED;
  }
  const std::wstring key = RemoveAll(RemoveAll(text, L"_LS"), L"LS_");
  const bool hasSelector = selector != nullptr && *selector != 0;
  if (!hasSelector) LogMessage(kLevelInfo, L"CGlossel::GetString", L"The selector is empty : ");

  // Texts already translated and filled are only read: translating threads share this.
  const bool nested = m_entriesWriter == GetCurrentThreadId();
  if (!nested) {
    AcquireSRWLockShared(&m_entriesLock);
    const bool finished = FinishedText(key, hasSelector ? selector : nullptr, out);
    ReleaseSRWLockShared(&m_entriesLock);
    if (finished) return 0;
  }
  // Loading a selector, adding a missing key, storing a filled text and copying it out change
  // or read shared maps: one thread at a time, until the copy is made.
  if (!nested) {
    AcquireSRWLockExclusive(&m_entriesLock);
    m_entriesWriter = GetCurrentThreadId();
  }
  const wchar_t* result = nullptr;
  const bool useCache = !hasSelector || LoadDictionaryForSelector(selector) != 0;
  if (!useCache) {
    const std::wstring file = DictionaryFile(selector);
    if (m_dictionary.GetString(result, key.c_str(), file.c_str()) && result != nullptr) {
      ReplaceVariables(key, result, selector);
    } else {
      result = nullptr;
      LogMessage(kLevelError, L"CGlossel::GetString", L"Failed to translate the string %s", text);
    }
    if (result != nullptr) out = result;
  } else {
    auto cached = m_textCache.find(key);
    if (cached == m_textCache.end()) {
      cached = m_textCache.emplace(key, key).first;
      result = cached->second.c_str();
      ReplaceVariables(key, result, L"");
    } else {
      result = cached->second.c_str();
    }
    if (result != nullptr) out = result;
  }
  if (!nested) {
    m_entriesWriter = 0;
    ReleaseSRWLockExclusive(&m_entriesLock);
  }
  return result != nullptr ? 0 : ERROR_FUNCTION_FAILED;
}

int CGlossel::LoadDictionaryForSelector(const wchar_t* selector) {
  CallTrace trace(L"CGlossel::LoadDictionaryForSelector");
  LogMessage(kLevelTrace, L"CGlossel::LoadDictionaryForSelector", L"selector: %s", selector != nullptr ? selector : L"$null$");
  if (m_loadedSelectors.count(selector) != 0) {
    LogMessage(kLevelTrace, L"CGlossel::LoadDictionaryForSelector", L"Dictionary already loaded !");
    return 0;
  }
  LogMessage(kLevelTrace, L"CGlossel::LoadDictionaryForSelector", L"dictinary path: %s", m_dictsPath.c_str());
  if (m_dictsPath.empty()) {
    // No dictionaries folder: nothing to load (not "\\<selector>.dict" at a drive's root).
    LogMessage(kLevelError, L"CGlossel::LoadDictionaryForSelector", L"No dictionaries folder for <%s>.", selector);
    return ERROR_FUNCTION_FAILED;
  }
  const std::wstring file = DictionaryFile(selector);
  LogMessage(kLevelTrace, L"CGlossel::LoadDictionaryForSelector", L"fullName: %s", file.c_str());
  if (m_dictionary.Load(file.c_str())) {
    LogMessage(kLevelTrace, L"CGlossel::LoadDictionaryForSelector", L"Dictionary from <%s> loaded.", file.c_str());
    m_loadedSelectors.insert(selector);
    return 0;
  }
  LogMessage(kLevelError, L"CGlossel::LoadDictionaryForSelector", L"Failed to load the dictionary for the selector <%s>.",
             selector);
  return ERROR_FUNCTION_FAILED;
}

int CGlossel::ReplaceVariables(const std::wstring& source, const wchar_t*& text, const wchar_t* selector) {
  CallTrace trace(L"CGlossel::ReplaceVariables");
  EnterCriticalSection(&m_variablesLock);
  LogMessage(kLevelTrace, L"CGlossel::ReplaceVariables", L"Source: %s, selector: %s", source.c_str(), selector);
  const std::wstring entry = text != nullptr ? text : L"";
  std::wstring w = ReplaceAll(entry, L"\\n\\r", L"\n");
  LogMessage(kLevelTrace, L"CGlossel::ReplaceVariables", L"outText: %s", w.c_str());
  std::wstring base = m_dictsPath;
  if (base.empty() || base.back() != L'\\') base += L'\\';
  base += selector;
  const bool hasSelector = selector != nullptr && *selector != 0;
  if (hasSelector) {
    if (const wchar_t* stored = m_dictionary.Replace(source.c_str(), w.c_str(), base.c_str())) text = stored;
  }
  auto store = [&]() {
    if (hasSelector) {
      if (const wchar_t* stored = m_dictionary.Replace(source.c_str(), w.c_str(), base.c_str())) text = stored;
    } else {
      auto cached = m_textCache.find(source);
      if (cached != m_textCache.end()) {
        cached->second = w;
        text = cached->second.c_str();
      }
    }
  };
  // References: "[" letters or digits "]", scanned over the text as it was on entry.
  for (size_t at = entry.find(L'['); at != std::wstring::npos; at = entry.find(L'[', at + 1)) {
    size_t end = at + 1;
    while (end < entry.size() && IsReferenceChar(entry[end])) ++end;
    if (end == at + 1 || end >= entry.size() || entry[end] != L']') continue;
    const std::wstring reference = entry.substr(at, end - at + 1);
    LogMessage(kLevelTrace, L"CGlossel::ReplaceVariables", L"Matched text is '%s'", reference.c_str());
    if (m_mcrMap.empty()) {
      LogMessage(kLevelTrace, L"CGlossel::ReplaceVariables", L"The map is empty -> reload it !");
      LoadMCR();
    }
    auto value = m_mcrMap.find(reference);
    if (value == m_mcrMap.end()) {
      LogMessage(kLevelError, L"CGlossel::ReplaceVariables", L"Variable '%s' not found in map (map size is: %d) !",
                 reference.c_str(), static_cast<int>(m_mcrMap.size()));
      at = end;
      continue;
    }
    LogMessage(kLevelTrace, L"CGlossel::ReplaceVariables", L"Replace %s with '%s' .", reference.c_str(),
               value->second.c_str());
    if (w.find(reference) != std::wstring::npos) {
      w = ReplaceAll(w, reference, value->second);
      store();
    }
    at = end;
  }
  LogMessage(kLevelTrace, L"CGlossel::ReplaceVariables", L"return: %s", text != nullptr ? text : L"");
  LeaveCriticalSection(&m_variablesLock);
  return 0;
}

int CGlossel::LoadMCR() {
  CallTrace trace(L"CGlossel::LoadMCR");
  ITallon* tallon = m_tallon.Get();
  if (tallon == nullptr) {
    LogMessage(kLevelError, L"CGlossel::LoadMCR", L"m_pTallon is NULL : returns ERROR_FUNCTION_FAILED");
    return ERROR_FUNCTION_FAILED;
  }
  LogMessage(kLevelTrace, L"CGlossel::LoadMCR", L"Se sterge continutul lui m_mcrMap");
  m_mcrMap.clear();
  for (const Variable& variable : kVariables) {
    const wchar_t* value = tallon->GetValue(variable.id, L"Keldor");
    if (value == nullptr || *value == 0) {
      LogMessage(kLevelError, L"CGlossel::LoadMCR", L"Failed to get value for %s (%d)", variable.reference, variable.id);
      break;
    }
    LogMessage(kLevelTrace, L"CGlossel::LoadMCR", L"%s -> %s", variable.reference, value);
    m_mcrMap[variable.reference] = value;
  }
  if (Product::IGeneralConfiguration* general = m_general.Get()) {
    Product::TechSupportInfo info;
    ov::StringT extra;
    const int result = general->GetTechSupportInfo(&info, extra);
    LogMessage(kLevelTrace, L"CGlossel::LoadMCR", L"res = %d", result);
    if (result == 0) {
      LogMessage(kLevelTrace, L"CGlossel::LoadMCR", L"Tech support info:\n%s\n%s\n%s", info.website.c_str(),
                 info.telephone.c_str(), info.contact.c_str());
      const std::pair<const wchar_t*, const ov::StringT*> overrides[] = {{L"[ProductWebsite]", &info.website},
                                                                         {L"[SupportWebsite]", &info.website},
                                                                         {L"[SupportTelephone]", &info.telephone},
                                                                         {L"[SupportContact]", &info.contact}};
      for (const auto& item : overrides) {
        m_mcrMap[item.first] = item.second->c_str();
        LogMessage(kLevelTrace, L"CGlossel::LoadMCR", L"%s -> %s", item.first, item.second->c_str());
      }
    }
  }
  return 0;
}

std::wstring CGlossel::GuessLangPath() const {
  CallTrace trace(L"CGlossel::GuessLangPath");
  const std::wstring path = GlosselFolder() + L"lang\\";
  if (PathFileExistsW(path.c_str())) {
    LogMessage(kLevelInfo, L"CGlossel::GuessLangPath", L"Guessed path to lang folder: %s", path.c_str());
    return path;
  }
  LogMessage(kLevelInfo, L"CGlossel::GuessLangPath", L"Cannot guess lang path");
  return std::wstring();
}

int CGlossel::BuildLangPath() {
  CallTrace trace(L"CGlossel::BuildLangPath");
  std::wstring root;
  if (ITallon* tallon = m_tallon.Get()) {
    const wchar_t* value = tallon->GetValue(0, L"Glossel");
    if (value != nullptr) root = value;
  }
  if (root.empty()) root = GuessLangPath();
  if (root.empty()) {
    LogMessage(kLevelError, L"CGlossel::BuildLangPath", L"Path to lang folder is unknown");
    return ERROR_FUNCTION_FAILED;
  }
  std::wstring language;
  if (Product::IGeneralConfiguration* general = m_general.Get()) {
    ov::StringT value;
    general->GetLanguage(value);
    language = value.c_str();
  }
  if (language.empty() && m_tallon.Get() != nullptr) {
    const wchar_t* value = m_tallon.Get()->GetValue(1, L"Glossel");
    if (value != nullptr) language = value;
  }
  if (language.empty()) language = L"en-US";
  m_language = language;
  m_langFolder = root;
  m_dictsPath = root + m_language;
  LogMessage(kLevelTrace, L"CGlossel::BuildLangPath", L"m_dictsPath = %s", m_dictsPath.c_str());
  if (PathFileExistsW(m_dictsPath.c_str())) return 0;
  LogMessage(kLevelInfo, L"CGlossel::BuildLangPath", L"Try the en-US way ....");
  m_dictsPath = root + L"en-US";
  LogMessage(kLevelTrace, L"CGlossel::BuildLangPath", L"m_dictsPath = %s", m_dictsPath.c_str());
  if (PathFileExistsW(m_dictsPath.c_str())) return 0;
  m_dictsPath.clear();
  LogMessage(kLevelError, L"CGlossel::BuildLangPath", L"Cannot find the language folder !");
  return ERROR_FUNCTION_FAILED;
}

int CGlossel::Reload() {
  CallTrace trace(L"CGlossel::Reload");
  WriteLock write(m_rwLock);
  const int result = BuildLangPath();
  Clear();
  LoadMCR();
  return result;
}

bool CGlossel::SetDictionariesPath(const ov::StringT& path) {
  CallTrace trace(L"CGlossel::SetDictionariesPath");
  WriteLock write(m_rwLock);
  m_dictsPath = path.c_str();
  Clear();
  LoadMCR();
  return true;
}

void CGlossel::OnSettingsChanged(int what) {
  CallTrace trace(L"CGlossel::OnSettingsChanged");
  if (what == 5) {
    LogMessage(kLevelTrace, L"CGlossel::OnSettingsChanged", L"The language has changed");
    CallTrace thread(L"CGlossel::ThreadOnSettingsChanged");
    WriteLock write(m_rwLock);
    BuildLangPath();
    Clear();
  } else if (what == 2) {
    LogMessage(kLevelTrace, L"CGlossel::OnSettingsChanged_TechSupportInfo", L"TechnicalSupport info have changed !");
    WriteLock write(m_rwLock);
    Clear();
    LoadMCR();
  }
}

bool CGlossel::GetAllowedLanguages(std::vector<std::wstring>& allowed) {
  CallTrace trace(L"CGlossel::GetAllowedLanguages");
  EnterCriticalSection(&m_allowedLock);
  if (!m_allowedRead) {
    const std::wstring widePath = GlosselFolder() + L"lang\\langconfig.xml";
    const std::string path = ToUtf8(widePath);
    TiXmlDocument document;
    unsigned status = 0;
    // Opened here with the wide path: TinyXML's own fopen takes a narrow (ANSI) name, which
    // cannot name every folder (a user name in another script, say).
    FILE* file = _wfopen(widePath.c_str(), L"rb");
    const bool loaded = file != nullptr && document.LoadFile(file);
    if (file != nullptr) fclose(file);
    if (!loaded) {
      LogMessage(kLevelError, L"CGlossel::GetAllowedLanguages", L"Failed to load the file %S", path.c_str());
      status = ERROR_FUNCTION_FAILED;
    } else {
      TiXmlElement* root = document.RootElement();
      TiXmlElement* list = root != nullptr && std::string(root->Value()) == "root"
                               ? root->FirstChildElement("allowedLanguages")
                               : nullptr;
      TiXmlElement* lang = list != nullptr ? list->FirstChildElement("lang") : nullptr;
      if (lang == nullptr) {
        LogMessage(kLevelError, L"CGlossel::GetAllowedLanguages",
                   L"Failed to parse the xml document (path //root/allowedLanguages/lang)");
        status = 1465;  // ERROR_INVALID_DLL: the document lacks the expected elements
      } else {
        for (TiXmlElement* e = lang; e != nullptr; e = e->NextSiblingElement()) {
          const char* name = e->Attribute("name");
          if (name != nullptr && *name != 0) m_allowedLanguages.push_back(FromUtf8(name));
        }
      }
    }
    LogMessage(kLevelTrace, L"CGlossel::GetAllowedLanguages", L"lang configuration completed [status = %x] [count = %u]",
               status, static_cast<unsigned>(m_allowedLanguages.size()));
    m_allowedRead = true;
  }
  allowed = m_allowedLanguages;
  LeaveCriticalSection(&m_allowedLock);
  return true;
}

std::wstring CGlossel::GetLanguageDisplayName(const std::wstring& root, const std::wstring& folder) {
  CallTrace trace(L"CGlossel::GetLanguageDisplayName");
  CDictionary names;
  const std::wstring file = root + folder + L"\\language.dict";
  const wchar_t* name = nullptr;
  if (names.Load(file.c_str()) && names.LanguageName(name) && name != nullptr) return name;
  return folder;
}

void CGlossel::ListAvailableLanguages(ov::IMap<ov::StringT, ov::StringT>* out) {
  CallTrace trace(L"CGlossel::ListAvailableLanguages");
  if (out == nullptr) return;
  out->RemoveAll();
  std::wstring root;
  {
    // BuildLangPath writes the language fields, and Reload or a change of settings may do so
    // on another thread at any time: the folder is read under the lock, and used as copied.
    WriteLock write(m_rwLock);
    if (m_langFolder.empty()) {
      LogMessage(kLevelInfo, L"CGlossel::ListAvailableLanguages", L"Empty languagesPath");
      BuildLangPath();
    }
    root = m_langFolder;
  }
  if (root.empty()) return;
  std::vector<std::wstring> allowed;
  GetAllowedLanguages(allowed);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    LogMessage(kLevelError, L"CGlossel::ListAvailableLanguages", L"Cannot iterate folders");
    return;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::wstring code;
    if (allowed.empty()) {
      code = name;
    } else {
      for (const std::wstring& candidate : allowed) {
        if (_wcsicmp(candidate.c_str(), name.c_str()) == 0) code = candidate;
      }
      if (code.empty()) continue;
    }
    out->Add(code.c_str(), GetLanguageDisplayName(root, name).c_str());
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

const wchar_t* CGlossel::FormatString(ov::StringT& out, const wchar_t* format, const ov::IList<ov::StringT>& args) {
  CallTrace trace(L"CGlossel::FormatString");
  ReadLock read(m_rwLock);
  std::vector<const wchar_t*> texts;
  ov::IConstListEnum<ov::StringT>* it = args.GetConstEnum();
  for (; it != nullptr && it->IsValid(); it->Next()) texts.push_back(it->Current()->c_str());
  if (it != nullptr) it->Release();
  out.Clear();
  // An insert the list does not cover ("%2" with one argument, "%10") becomes empty text.
  std::wstring formatted;
  if (ov::FormatInserts(format, texts, formatted)) out = formatted.c_str();
  return out.c_str();
}

const wchar_t* CGlossel::Format(ov::StringT& out, const wchar_t* format, ...) {
  CallTrace trace(L"CGlossel::Format");
  if (format == nullptr || *format == 0) return out.c_str();
  int count = 0;
  for (const wchar_t* c = format; *c != 0; ++c) {
    if (*c == L'%' && c[1] >= L'0' && c[1] <= L'9') ++count;
  }
  ov::List<ov::StringT> args;
  va_list list;
  va_start(list, format);
  for (int i = 0; i < count; ++i) {
    const wchar_t* arg = va_arg(list, const wchar_t*);
    args.AddTail(arg != nullptr ? arg : L"");
  }
  va_end(list);
  return FormatString(out, format, args);
}

void CGlossel::AddPunctuation(ov::StringT& text, wchar_t mark) {
  if (mark != L'.' && mark != L'?' && mark != L'!') return;
  std::wstring value = text.c_str();
  while (!value.empty() && value.back() == L' ') value.pop_back();
  const wchar_t last = value.empty() ? 0 : value.back();
  bool chinese = false;
  {
    ReadLock read(m_rwLock);  // m_language changes under the write lock
    chinese = _wcsicmp(m_language.c_str(), L"zh-CN") == 0;
  }
  if (chinese && mark == L'.') {
    if (last == L'.') value.back() = 0x3002;
    else if (last != 0x3002 && last != L'?' && last != L'!') value += static_cast<wchar_t>(0x3002);
  } else if (last != L'.' && last != L'?' && last != L'!') {
    value += mark;
  }
  text = value.c_str();
}

int CGlossel::FormatDate(std::string& out, const tm* time, const char* format, size_t length) {
  if (time == nullptr || format == nullptr) return ERROR_INVALID_PARAMETER;
  char number[16];
  for (size_t i = 0; i < length; ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 >= length) break;
    const char specifier = format[++i];
    switch (specifier) {
      case 'd':
        std::snprintf(number, sizeof number, "%02d", time->tm_mday);
        out += number;
        break;
      case 'B': {
        if (time->tm_mon < 0 || time->tm_mon > 11) return ERROR_INVALID_PARAMETER;
        ov::StringT translated;
        const std::wstring month = FromUtf8(kMonths[time->tm_mon]);
        if (GetString(month.c_str(), L"console", translated) != 0) translated = month.c_str();
        out += ToUtf8(translated.c_str());
        break;
      }
      case 'Y':
        if (time->tm_year + 1900 > 9999) return ERROR_INVALID_PARAMETER;
        std::snprintf(number, sizeof number, "%d", time->tm_year + 1900);
        out += number;
        break;
      case 'H':
        std::snprintf(number, sizeof number, "%02d", time->tm_hour);
        out += number;
        break;
      case 'M':
        std::snprintf(number, sizeof number, "%02d", time->tm_min);
        out += number;
        break;
      default:
        out += specifier;  // "%%" gives "%"; any other: the character alone
    }
  }
  return 0;
}
