// ov::List and ov::Map through their interfaces, in one module and across two.
#include <windows.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "framework/guarded_string.h"
#include "framework/list.h"
#include "framework/map.h"

namespace {

using ov::List;
using ov::Map;
using ov::StringT;

std::wstring Join(const ov::IList<StringT>& list) {
  std::wstring joined;
  ov::IConstListEnum<StringT>* it = list.GetConstEnum();
  for (; it->IsValid(); it->Next()) {
    if (!joined.empty()) joined += L',';
    joined += it->Current()->c_str();
  }
  it->Release();
  return joined;
}

TEST(List, AddsAtBothEndsAndCounts) {
  List<StringT> list;
  ov::IList<StringT>& l = list;
  EXPECT_EQ(0, l.AddTail(L"b"));
  EXPECT_EQ(0, l.AddTail(L"c"));
  EXPECT_EQ(0, l.AddHead(L"a"));
  EXPECT_EQ(3u, l.GetCount());
  EXPECT_EQ(L"a,b,c", Join(l));
  EXPECT_EQ(*l.GetHeadPtr(), L"a");
  EXPECT_EQ(*l.GetTailPtr(), L"c");
  StringT head, tail;
  EXPECT_EQ(0, l.GetHead(head));
  EXPECT_EQ(0, l.GetTail(tail));
  EXPECT_EQ(head, L"a");
  EXPECT_EQ(tail, L"c");
  l.RemoveAll();
  EXPECT_EQ(0u, l.GetCount());
  EXPECT_EQ(L"", Join(l));
}

TEST(List, EmptyListReportsNotFoundAndLeavesOutputAlone) {
  List<StringT> list;
  StringT out(L"untouched");
  EXPECT_EQ(ERROR_NOT_FOUND, list.GetHead(out));
  EXPECT_EQ(ERROR_NOT_FOUND, list.GetTail(out));
  EXPECT_EQ(out, L"untouched");
  EXPECT_EQ(nullptr, list.GetHeadPtr());
  EXPECT_EQ(nullptr, static_cast<const List<StringT>&>(list).GetTailPtr());
}

TEST(List, RemoveAtMovesTheEnumeratorToTheNextElement) {
  List<int> list;
  for (int i = 1; i <= 5; ++i) list.AddTail(i);
  ov::IListEnum<int>* it = list.GetEnum();
  it->Next();  // on 2
  ASSERT_EQ(0, list.RemoveAt(it));
  ASSERT_TRUE(it->IsValid());
  EXPECT_EQ(3, *it->Current());
  // Remove the remaining odd ones while walking.
  it->Reset();
  while (it->IsValid()) {
    if (*it->Current() % 2 == 1) {
      ASSERT_EQ(0, list.RemoveAt(it));
    } else {
      it->Next();
    }
  }
  EXPECT_EQ(ERROR_NOT_FOUND, list.RemoveAt(it)) << "past the end there is nothing to remove";
  it->Release();
  ASSERT_EQ(1u, list.GetCount());
  EXPECT_EQ(4, *list.GetHeadPtr());
  EXPECT_EQ(4, *list.GetTailPtr());
}

TEST(List, EnumeratorOfAnotherListIsRefused) {
  List<int> a, b;
  a.AddTail(1);
  b.AddTail(2);
  ov::IListEnum<int>* it = b.GetEnum();
  EXPECT_EQ(ERROR_INVALID_PARAMETER, a.RemoveAt(it));
  it->Release();
  EXPECT_EQ(1u, a.GetCount());
  EXPECT_EQ(1u, b.GetCount());
}

TEST(List, CopiesAreDeep) {
  List<StringT> a;
  a.AddTail(L"x");
  List<StringT> b(a);
  b.AddTail(L"y");
  *b.GetHeadPtr() = L"changed";
  EXPECT_EQ(L"x", Join(a));
  EXPECT_EQ(L"changed,y", Join(b));
  a = b;
  EXPECT_EQ(L"changed,y", Join(a));
}

TEST(Map, KeysAreCaseSensitiveAndUnique) {
  Map<StringT, StringT> map;
  ov::IMap<StringT, StringT>& m = map;
  EXPECT_EQ(0, m.Add(L"lang", L"en-US"));
  EXPECT_EQ(0, m.Add(L"Lang", L"fr-FR"));
  EXPECT_EQ(ERROR_ALREADY_EXISTS, m.Add(L"lang", L"de-DE"));
  EXPECT_EQ(2u, m.GetCount());
  EXPECT_EQ(*m.Find(L"lang"), L"en-US") << "the first value stays";
  EXPECT_EQ(*m.Find(L"Lang"), L"fr-FR");
  EXPECT_EQ(nullptr, m.Find(L"LANG"));
}

TEST(Map, GetRemoveAndMissingKeys) {
  Map<StringT, StringT> map;
  map.Add(L"a", L"1");
  StringT out(L"untouched");
  EXPECT_EQ(ERROR_NOT_FOUND, map.Get(L"b", out));
  EXPECT_EQ(out, L"untouched");
  EXPECT_EQ(0, map.Get(L"a", out));
  EXPECT_EQ(out, L"1");
  EXPECT_EQ(ERROR_NOT_FOUND, map.Remove(L"b"));
  EXPECT_EQ(0, map.Remove(L"a"));
  EXPECT_EQ(0u, map.GetCount());
  EXPECT_EQ(nullptr, map.Find(L"a"));
  EXPECT_EQ(0, map.Add(L"a", L"2")) << "a removed key can come back";
}

TEST(Map, HashIsTimes33FromFiveThousandThreeHundredEightyOne) {
  EXPECT_EQ(5381u, ov::MapKeyTraits<StringT>::Hash(StringT()));
  EXPECT_EQ(5381u * 33 + 'a', ov::MapKeyTraits<StringT>::Hash(L"a"));
  EXPECT_EQ((5381u * 33 + 'a') * 33 + 0x00E9, ov::MapKeyTraits<StringT>::Hash(L"a\u00e9"));
}

TEST(Map, ManyEntriesSurviveRehashingInInsertionOrder) {
  Map<StringT, int> map;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(0, map.Add(StringT(std::to_wstring(i).c_str()), i));
  }
  int expected = 0;
  ov::IConstEnum<StringT, int>* it = map.GetConstEnum();
  for (; it->IsValid(); it->Next(), ++expected) {
    EXPECT_EQ(std::to_wstring(expected), it->Key()->c_str());
    EXPECT_EQ(expected, *it->Value());
  }
  it->Release();
  EXPECT_EQ(1000, expected);
  for (int i = 0; i < 1000; i += 2) ASSERT_EQ(0, map.Remove(StringT(std::to_wstring(i).c_str())));
  EXPECT_EQ(500u, map.GetCount());
  EXPECT_EQ(nullptr, map.Find(L"998"));
  ASSERT_NE(nullptr, map.Find(L"999"));
  EXPECT_EQ(999, *map.Find(L"999"));
}

TEST(Map, RemoveAtDuringEnumerationKeepsTheRest) {
  Map<StringT, int> map;
  for (int i = 0; i < 10; ++i) map.Add(StringT(std::to_wstring(i).c_str()), i);
  ov::IEnum<StringT, int>* it = map.GetEnum();
  std::set<int> seen;
  while (it->IsValid()) {
    const int value = *it->Value();
    seen.insert(value);
    if (value % 3 == 0) {
      ASSERT_EQ(0, map.RemoveAt(it));
    } else {
      it->Next();
    }
  }
  it->Release();
  EXPECT_EQ(10u, seen.size()) << "every entry was visited once";
  EXPECT_EQ(6u, map.GetCount());
  EXPECT_EQ(nullptr, map.Find(L"3"));
  EXPECT_NE(nullptr, map.Find(L"4"));
}

TEST(Map, ListValuesAreCopiedIntoTheCallersList) {
  Map<StringT, List<StringT>> map;
  List<StringT> values;
  values.AddTail(L"Orvane SRL");
  map.Add(L"O", values);
  values.AddTail(L"not in the map");
  List<StringT> out;
  out.AddTail(L"replaced");
  ASSERT_EQ(0, map.Get(L"O", out));
  EXPECT_EQ(L"Orvane SRL", Join(out));
}

// Calls virtual slot `slot` of `object` directly, as another module's code would.
template <class R, class... Args>
R CallSlot(const void* object, int slot, Args... args) {
  using Fn = R(__thiscall*)(const void*, Args...);
  const Fn* vtable = *static_cast<const Fn* const*>(object);
  return vtable[slot](object, args...);
}

TEST(CollectionSlots, InterfacesKeepTheirSlotOrder) {
  List<int> list;
  list.AddTail(7);
  list.AddTail(9);
  const ov::IList<int>* l = &list;
  EXPECT_EQ(2u, (CallSlot<uint32_t>(l, 12)));
  int out = 0;
  EXPECT_EQ(0, (CallSlot<int, int*>(l, 4, &out)));  // GetTail
  EXPECT_EQ(9, out);
  EXPECT_EQ(0, (CallSlot<int, int*>(l, 7, &out)));  // GetHead
  EXPECT_EQ(7, out);

  Map<StringT, int> map;
  map.Add(L"k", 1);
  const ov::IMap<StringT, int>* m = &map;
  EXPECT_EQ(1u, (CallSlot<uint32_t>(m, 9)));  // GetCount
  StringT key(L"k");
  EXPECT_EQ(0, (CallSlot<int, const StringT*>(m, 5, &key)));  // Remove
  EXPECT_EQ(0u, map.GetCount());

  map.Add(L"k", 1);
  ov::IEnum<StringT, int>* e = map.GetEnum();
  EXPECT_EQ(*(CallSlot<const StringT*>(e, 3)), L"k");  // Key
  ov::IConstEnum<StringT, int>* c = map.GetConstEnum();
  EXPECT_EQ(*(CallSlot<const StringT*>(c, 2)), L"k");  // Key comes first on const enumerators
  CallSlot<void>(e, 4);                                // Release
  c->Release();
}

class PeerModule : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"collections_peer.dll");
    ASSERT_NE(nullptr, module_) << "error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  template <class Fn>
  Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  HMODULE module_ = nullptr;
};

TEST_F(PeerModule, FillsTheCallersTextMap) {
  auto fill = Entry<int (*)(ov::IMap<StringT, StringT>*)>("FillLanguages");
  ASSERT_NE(nullptr, fill);
  Map<StringT, StringT> languages;
  ASSERT_EQ(0, fill(&languages));
  ASSERT_EQ(3u, languages.GetCount());
  EXPECT_EQ(*languages.Find(L"fr-FR"), L"Fran\u00e7ais");
  EXPECT_EQ(ERROR_ALREADY_EXISTS, fill(&languages)) << "the second fill meets existing keys";
  languages.RemoveAll();  // blocks made over there are freed here
  EXPECT_EQ(0u, languages.GetCount());
}

TEST_F(PeerModule, FillsTheCallersMapOfLists) {
  auto fill = Entry<int (*)(ov::IMap<StringT, List<StringT>>*)>("FillAttributes");
  ASSERT_NE(nullptr, fill);
  Map<StringT, List<StringT>> attributes;
  ASSERT_EQ(0, fill(&attributes));
  List<StringT> units;
  ASSERT_EQ(0, attributes.Get(L"OU", units));
  EXPECT_EQ(L"Kits,Release", Join(units));
  EXPECT_EQ(L"Orvane SRL", Join(*attributes.Find(L"O")));
}

TEST_F(PeerModule, ReadsTheCallersList) {
  auto join = Entry<int (*)(const ov::IList<StringT>*, StringT*)>("JoinList");
  ASSERT_NE(nullptr, join);
  List<StringT> list;
  list.AddTail(L"one");
  list.AddTail(L"two");
  StringT out;
  ASSERT_EQ(0, join(&list, &out));
  EXPECT_EQ(out, L"one|two");
}

}  // namespace
