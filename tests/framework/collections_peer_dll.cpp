// A second module that fills and reads collections made by the test executable, the way
// Glossel fills a caller's map of languages.
#include <windows.h>

#include "framework/guarded_string.h"
#include "framework/list.h"
#include "framework/map.h"

extern "C" __declspec(dllexport) int FillLanguages(ov::IMap<ov::StringT, ov::StringT>* map) {
  int rc = map->Add(L"en-US", L"English");
  if (rc == 0) rc = map->Add(L"fr-FR", L"Fran\u00e7ais");
  if (rc == 0) rc = map->Add(L"ro-RO", L"Rom\u00e2n\u0103");
  return rc;
}

extern "C" __declspec(dllexport) int FillAttributes(
    ov::IMap<ov::StringT, ov::List<ov::StringT>>* map) {
  ov::List<ov::StringT> organisations;
  organisations.AddTail(L"Orvane SRL");
  ov::List<ov::StringT> units;
  units.AddTail(L"Kits");
  units.AddTail(L"Release");
  int rc = map->Add(L"O", organisations);
  if (rc == 0) rc = map->Add(L"OU", units);
  return rc;
}

// Joins the list's texts with "|" into `out`, reading through the interfaces only.
extern "C" __declspec(dllexport) int JoinList(const ov::IList<ov::StringT>* list, ov::StringT* out) {
  ov::IConstListEnum<ov::StringT>* it = list->GetConstEnum();
  if (it == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  for (; it->IsValid(); it->Next()) {
    if (!out->IsEmpty()) out->Append(L'|');
    out->Append(*it->Current());
  }
  it->Release();
  return 0;
}
