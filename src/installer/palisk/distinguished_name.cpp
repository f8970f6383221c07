#include "installer/palisk/distinguished_name.h"

#include <windows.h>
#include <ntdsapi.h>

#include <cstring>

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

struct AttributeName {
  const char* oid;
  const wchar_t* name;
};
// The short names CertNameToStrW uses for the attributes certificates carry.
constexpr AttributeName kAttributeNames[] = {
    {szOID_COMMON_NAME, L"CN"},      {szOID_ORGANIZATION_NAME, L"O"}, {szOID_ORGANIZATIONAL_UNIT_NAME, L"OU"},
    {szOID_COUNTRY_NAME, L"C"},      {szOID_LOCALITY_NAME, L"L"},     {szOID_STATE_OR_PROVINCE_NAME, L"S"},
    {szOID_STREET_ADDRESS, L"STREET"}, {szOID_TITLE, L"T"},          {szOID_GIVEN_NAME, L"G"},
    {szOID_SUR_NAME, L"SN"},         {szOID_DEVICE_SERIAL_NUMBER, L"SERIALNUMBER"},
    {szOID_RSA_emailAddr, L"E"},     {szOID_DOMAIN_COMPONENT, L"DC"},
};

std::wstring AttributeNameOf(const char* oid) {
  for (const AttributeName& known : kAttributeNames) {
    if (strcmp(known.oid, oid) == 0) return known.name;
  }
  std::wstring name = L"OID.";
  for (const char* c = oid; *c != '\0'; ++c) name += static_cast<wchar_t>(*c);
  return name;
}

void AddValue(NameAttributes& attributes, const std::wstring& key, const std::wstring& value) {
  const StringT attribute(key.c_str());
  List<StringT>* values = attributes.Find(attribute);
  if (values == nullptr) {
    attributes.Add(attribute, List<StringT>());
    values = attributes.Find(attribute);
  }
  values->AddTail(StringT(value.c_str()));
}

}  // namespace

unsigned long DistinguishedNameBuilder::Decode(const CERT_NAME_BLOB& name, NameAttributes& attributes) {
  CERT_NAME_INFO* info = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, name.pbData, name.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &info, &size)) {
    const DWORD error = GetLastError();
    logging::LogMessage(logging::kLevelError, L"ov::DistinguishedNameBuilder", L"Error %d\n", error);
    return error != 0 ? error : ERROR_INVALID_DATA;
  }
  for (DWORD r = 0; r < info->cRDN; ++r) {
    const CERT_RDN& rdn = info->rgRDN[r];
    for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
      CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[a];
      const DWORD length = CertRDNValueToStrW(attribute.dwValueType, &attribute.Value, nullptr, 0);
      std::wstring value(length, L'\0');
      if (length > 0) CertRDNValueToStrW(attribute.dwValueType, &attribute.Value, &value[0], length);
      value.resize(wcsnlen(value.c_str(), value.size()));
      AddValue(attributes, AttributeNameOf(attribute.pszObjId), value);
    }
  }
  LocalFree(info);
  return 0;
}

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
    AddValue(attributes, key, Trim(value));
  }
  return 0;
}

}  // namespace ov
