// Script values through the API's value functions: ownership, texts, integers, maps in
// insertion order, arrays that grow, deep copies and the errors of wrong use.
#include <gtest/gtest.h>

#include "outside/sciter/values.h"

namespace sciter_engine {
namespace {

class ScopedValue {
 public:
  ScopedValue() { ValueInitImpl(&value_); }
  explicit ScopedValue(const wchar_t* text) : ScopedValue() { Set(text); }
  explicit ScopedValue(INT number) : ScopedValue() { ValueIntDataSetImpl(&value_, number); }
  ~ScopedValue() { ValueClearImpl(&value_); }
  void Set(const wchar_t* text) { ValueStringDataSetImpl(&value_, text, static_cast<UINT>(wcslen(text))); }
  SCITER_VALUE* get() { return &value_; }
  UINT Type() const { UINT type = 99; ValueTypeImpl(&value_, &type); return type; }
  std::wstring Text() const {
    LPCWSTR chars = nullptr;
    UINT length = 0;
    if (ValueStringDataImpl(&value_, &chars, &length) != HV_OK) return L"<none>";
    return std::wstring(chars, length);
  }
  INT Int() const { INT n = -12345; ValueIntDataImpl(&value_, &n); return n; }

 private:
  SCITER_VALUE value_;
};

TEST(ValuesTest, FreshValueIsUndefined) {
  ScopedValue value;
  EXPECT_EQ(value.Type(), static_cast<UINT>(T_UNDEFINED));
  LPCWSTR chars;
  EXPECT_EQ(ValueStringDataImpl(value.get(), &chars, nullptr), static_cast<UINT>(HV_INCOMPATIBLE_TYPE));
}

TEST(ValuesTest, TextsKeepTheirLengthAndEmbeddedZeros) {
  ScopedValue value;
  const wchar_t text[] = L"ab\0cd";
  ASSERT_EQ(ValueStringDataSetImpl(value.get(), text, 5), static_cast<UINT>(HV_OK));
  EXPECT_EQ(value.Type(), static_cast<UINT>(T_STRING));
  EXPECT_EQ(value.Text(), std::wstring(text, 5));
  ASSERT_EQ(ValueStringDataSetImpl(value.get(), nullptr, 0), static_cast<UINT>(HV_OK));
  EXPECT_EQ(value.Text(), L"");
  EXPECT_EQ(ValueStringDataSetImpl(value.get(), nullptr, 3), static_cast<UINT>(HV_BAD_PARAMETER));
}

TEST(ValuesTest, IntegersReplaceWhatTheValueHeld) {
  ScopedValue value(L"text");
  ASSERT_EQ(ValueIntDataSetImpl(value.get(), -42), static_cast<UINT>(HV_OK));
  EXPECT_EQ(value.Type(), static_cast<UINT>(T_INT));
  EXPECT_EQ(value.Int(), -42);
  ScopedValue text(L"7");
  INT n = 0;
  EXPECT_EQ(ValueIntDataImpl(text.get(), &n), static_cast<UINT>(HV_INCOMPATIBLE_TYPE));
}

TEST(ValuesTest, MapsKeepInsertionOrderAndReplaceByKey) {
  ScopedValue map, progress(L"progress"), speed(L"speed"), etl(L"etl"), fifty(50), text(L"1.00 KB/s"), zero(L"0");
  ASSERT_EQ(ValueSetValueToKeyImpl(map.get(), progress.get(), fifty.get()), static_cast<UINT>(HV_OK));
  ValueSetValueToKeyImpl(map.get(), speed.get(), text.get());
  ValueSetValueToKeyImpl(map.get(), etl.get(), zero.get());
  ScopedValue sixty(60);
  ValueSetValueToKeyImpl(map.get(), progress.get(), sixty.get());
  EXPECT_EQ(map.Type(), static_cast<UINT>(T_MAP));
  INT count = 0;
  ASSERT_EQ(ValueElementsCountImpl(map.get(), &count), static_cast<UINT>(HV_OK));
  EXPECT_EQ(count, 3);
  ScopedValue first, second, got;
  ValueNthElementValueImpl(map.get(), 0, first.get());
  ValueNthElementValueImpl(map.get(), 1, second.get());
  EXPECT_EQ(first.Int(), 60);
  EXPECT_EQ(second.Text(), L"1.00 KB/s");
  ASSERT_EQ(ValueGetValueOfKeyImpl(map.get(), etl.get(), got.get()), static_cast<UINT>(HV_OK));
  EXPECT_EQ(got.Text(), L"0");
  ScopedValue missing_key(L"missing");
  ASSERT_EQ(ValueGetValueOfKeyImpl(map.get(), missing_key.get(), got.get()), static_cast<UINT>(HV_OK));
  EXPECT_EQ(got.Type(), static_cast<UINT>(T_UNDEFINED));
}

TEST(ValuesTest, SettingAKeyOnANonMapMakesAnEmptyMapFirst) {
  ScopedValue value(L"was text"), key(L"k"), item(1);
  ValueSetValueToKeyImpl(value.get(), key.get(), item.get());
  INT count = 0;
  ValueElementsCountImpl(value.get(), &count);
  EXPECT_EQ(value.Type(), static_cast<UINT>(T_MAP));
  EXPECT_EQ(count, 1);
  ScopedValue text(L"t"), got;
  EXPECT_EQ(ValueGetValueOfKeyImpl(text.get(), key.get(), got.get()), static_cast<UINT>(HV_INCOMPATIBLE_TYPE));
}

TEST(ValuesTest, ArraysGrowToTheIndexSet) {
  ScopedValue array, item(L"third");
  ASSERT_EQ(ValueNthElementValueSetImpl(array.get(), 2, item.get()), static_cast<UINT>(HV_OK));
  INT count = 0;
  ValueElementsCountImpl(array.get(), &count);
  EXPECT_EQ(array.Type(), static_cast<UINT>(T_ARRAY));
  EXPECT_EQ(count, 3);
  ScopedValue first, third;
  ValueNthElementValueImpl(array.get(), 0, first.get());
  ValueNthElementValueImpl(array.get(), 2, third.get());
  EXPECT_EQ(first.Type(), static_cast<UINT>(T_UNDEFINED));
  EXPECT_EQ(third.Text(), L"third");
  ScopedValue out;
  EXPECT_EQ(ValueNthElementValueImpl(array.get(), 3, out.get()), static_cast<UINT>(HV_BAD_PARAMETER));
  EXPECT_EQ(ValueNthElementValueSetImpl(array.get(), -1, item.get()), static_cast<UINT>(HV_BAD_PARAMETER));
}

TEST(ValuesTest, CopiesAreIndependent) {
  ScopedValue original, key(L"k"), one(1), copy;
  ValueSetValueToKeyImpl(original.get(), key.get(), one.get());
  ASSERT_EQ(ValueCopyImpl(copy.get(), original.get()), static_cast<UINT>(HV_OK));
  ScopedValue two(2);
  ValueSetValueToKeyImpl(original.get(), key.get(), two.get());
  ScopedValue from_copy, from_original;
  ValueGetValueOfKeyImpl(copy.get(), key.get(), from_copy.get());
  ValueGetValueOfKeyImpl(original.get(), key.get(), from_original.get());
  EXPECT_EQ(from_copy.Int(), 1);
  EXPECT_EQ(from_original.Int(), 2);
  EXPECT_EQ(ValueCopyImpl(copy.get(), copy.get()), static_cast<UINT>(HV_OK));
}

TEST(ValuesTest, NullArgumentsAreBadParameters) {
  ScopedValue value;
  UINT type;
  EXPECT_EQ(ValueInitImpl(nullptr), static_cast<UINT>(HV_BAD_PARAMETER));
  EXPECT_EQ(ValueClearImpl(nullptr), static_cast<UINT>(HV_BAD_PARAMETER));
  EXPECT_EQ(ValueTypeImpl(nullptr, &type), static_cast<UINT>(HV_BAD_PARAMETER));
  EXPECT_EQ(ValueCopyImpl(value.get(), nullptr), static_cast<UINT>(HV_BAD_PARAMETER));
  EXPECT_EQ(ValueSetValueToKeyImpl(value.get(), nullptr, value.get()), static_cast<UINT>(HV_BAD_PARAMETER));
  EXPECT_EQ(ValueElementsCountImpl(value.get(), nullptr), static_cast<UINT>(HV_BAD_PARAMETER));
}

TEST(ValuesTest, EngineValuesRoundTripThroughTheHostForm) {
  Value nested = Value::Map();
  nested.Set(Value::String(L"list"), Value::Array());
  nested.pairs[0].second.items = {Value::Int(1), Value::Float(2.5), Value::Bool(true), Value::Null(), Value::String(L"x")};
  nested.Set(Value::String(L"name"), Value::String(L"palisk"));
  SCITER_VALUE host;
  ValueInitImpl(&host);
  ToSciterValue(nested, &host);
  EXPECT_EQ(FromSciterValue(host), nested);
  ValueClearImpl(&host);
}

}  // namespace
}  // namespace sciter_engine
