#include "installer/palisk/distinguished_name.h"

#include <windows.h>
#include <ntdsapi.h>

#include "framework/scoped_handle.h"
#include "framework/system_library.h"
#include "logging/log_binding.h"

namespace ov {
namespace {

using DsGetRdnFn = DWORD(WINAPI*)(LPCWCH*, DWORD*, LPCWCH*, DWORD*, LPCWCH*, DWORD*);

std::wstring Trim(std::wstring text) {
  auto trim = [&text](wchar_t c) {
    while (!text.empty() && text.front() == c) text.erase(0, 1);
    while (!text.empty() && text.back() == c) text.pop_back();
  };
  trim(L' ');
  trim(L'"');
  trim(L' ');
  return text;
}

// Wine exports DsGetRdnW but its body ends the process; there the built-in splitter, which
// follows the same rules, does the work.
bool DsGetRdnWorks() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr; }

}  // namespace

unsigned long DistinguishedNameBuilder::NextRdn(const wchar_t*& text, size_t& remaining, std::wstring& key,
                                                std::wstring& value) {
  key.clear();
  value.clear();
  while (remaining > 0 && (*text == L' ' || *text == L',' || *text == L';')) {
    ++text;
    --remaining;
  }
  while (remaining > 0 && *text != L'=') {
    key += *text++;
    --remaining;
  }
  if (remaining == 0) return ERROR_DS_NAME_UNPARSEABLE;
  ++text;  // "="
  --remaining;
  bool quoted = false;
  while (remaining > 0) {
    const wchar_t c = *text;
    if (c == L'\\' && remaining > 1) {
      value += c;
      value += text[1];
      text += 2;
      remaining -= 2;
      continue;
    }
    if (c == L'"') quoted = !quoted;
    if (!quoted && (c == L',' || c == L';' || c == L'+')) break;
    value += c;
    ++text;
    --remaining;
  }
  if (quoted) return ERROR_DS_NAME_UNPARSEABLE;
  if (remaining > 0) {  // the separator
    ++text;
    --remaining;
  }
  return 0;
}

unsigned long DistinguishedNameBuilder::Parse(const std::wstring& name, NameAttributes& attributes) {
  ScopedModule ntdsapi;
  DsGetRdnFn dsGetRdn = nullptr;
  if (DsGetRdnWorks()) {
    ntdsapi.Set(LoadSystemLibrary(L"Ntdsapi.dll"));
    dsGetRdn = GetProc<DsGetRdnFn>(ntdsapi.Get(), "DsGetRdnW");
  }
  const wchar_t* text = name.c_str();
  size_t remaining = name.size();
  while (remaining > 0) {
    std::wstring key, value;
    unsigned long error;
    if (dsGetRdn != nullptr) {
      DWORD left = static_cast<DWORD>(remaining);
      LPCWCH keyStart = nullptr, valueStart = nullptr;
      DWORD keyLength = 0, valueLength = 0;
      error = dsGetRdn(&text, &left, &keyStart, &keyLength, &valueStart, &valueLength);
      remaining = left;
      if (error == 0) {
        key.assign(keyStart, keyLength);
        value.assign(valueStart, valueLength);
      }
    } else {
      error = NextRdn(text, remaining, key, value);
    }
    if (error != 0) {
      logging::LogMessage(logging::kLevelError, L"ov::DistinguishedNameBuilder", L"Error %d\n", error);
      return error;
    }
    key = Trim(key);
    if (key.empty()) continue;
    const StringT attribute(key.c_str());
    List<StringT>* values = attributes.Find(attribute);
    if (values == nullptr) {
      attributes.Add(attribute, List<StringT>());
      values = attributes.Find(attribute);
    }
    values->AddTail(StringT(Trim(value).c_str()));
  }
  return 0;
}

}  // namespace ov
