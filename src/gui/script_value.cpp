#include "gui/script_value.h"

#include <cstring>

#include "gui/sciter_engine.h"

namespace ov {
namespace gui {

ScriptValue::ScriptValue() { SciterApi()->ValueInit(&m_value); }

ScriptValue::ScriptValue(const SCITER_VALUE& value) {
  SciterApi()->ValueInit(&m_value);
  SciterApi()->ValueCopy(&m_value, &value);
}

ScriptValue::ScriptValue(const ScriptValue& other) : ScriptValue(other.m_value) {}

ScriptValue::ScriptValue(ScriptValue&& other) noexcept {
  // The three fields are the whole value: moving them leaves `other` a fresh, empty value.
  std::memcpy(&m_value, &other.m_value, sizeof m_value);
  SciterApi()->ValueInit(&other.m_value);
}

ScriptValue& ScriptValue::operator=(const ScriptValue& other) {
  if (this != &other) SciterApi()->ValueCopy(&m_value, &other.m_value);
  return *this;
}

ScriptValue& ScriptValue::operator=(ScriptValue&& other) noexcept {
  if (this != &other) {
    SciterApi()->ValueClear(&m_value);
    std::memcpy(&m_value, &other.m_value, sizeof m_value);
    SciterApi()->ValueInit(&other.m_value);
  }
  return *this;
}

ScriptValue::~ScriptValue() { SciterApi()->ValueClear(&m_value); }

ScriptValue ScriptValue::FromString(const std::wstring& text) {
  ScriptValue value;
  SciterApi()->ValueStringDataSet(&value.m_value, text.c_str(), static_cast<UINT>(text.size()));
  return value;
}

ScriptValue ScriptValue::FromInt(int number) {
  ScriptValue value;
  SciterApi()->ValueIntDataSet(&value.m_value, number);
  return value;
}

UINT ScriptValue::Type() const {
  UINT type = T_UNDEFINED;
  if (SciterApi()->ValueType(&m_value, &type) != HV_OK) return T_UNDEFINED;
  return type;
}

std::wstring ScriptValue::GetString() const {
  LPCWSTR chars = nullptr;
  UINT length = 0;
  if (SciterApi()->ValueStringData(&m_value, &chars, &length) != HV_OK || chars == nullptr) return std::wstring();
  return std::wstring(chars, length);
}

bool ScriptValue::GetInt(int* number) const {
  INT data = 0;
  if (SciterApi()->ValueIntData(&m_value, &data) != HV_OK) return false;
  *number = data;
  return true;
}

void ScriptValue::SetItem(const std::wstring& key, const ScriptValue& item) {
  const ScriptValue keyValue = FromString(key);
  SciterApi()->ValueSetValueToKey(&m_value, &keyValue.m_value, &item.m_value);
}

ScriptValue ScriptValue::GetItem(const std::wstring& key) const {
  const ScriptValue keyValue = FromString(key);
  ScriptValue item;
  if (SciterApi()->ValueGetValueOfKey(&m_value, &keyValue.m_value, &item.m_value) != HV_OK) return ScriptValue();
  return item;
}

void ScriptValue::SetElement(int index, const ScriptValue& element) {
  SciterApi()->ValueNthElementValueSet(&m_value, index, &element.m_value);
}

ScriptValue ScriptValue::GetElement(int index) const {
  ScriptValue element;
  if (SciterApi()->ValueNthElementValue(&m_value, index, &element.m_value) != HV_OK) return ScriptValue();
  return element;
}

int ScriptValue::Count() const {
  INT count = 0;
  if (SciterApi()->ValueElementsCount(&m_value, &count) != HV_OK) return 0;
  return count;
}

void ScriptValue::CopyTo(SCITER_VALUE* target) const { SciterApi()->ValueCopy(target, &m_value); }

}  // namespace gui
}  // namespace ov
