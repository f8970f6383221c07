// ScriptValue: one engine script value owned for its lifetime (initialised on construction,
// cleared on destruction), with the few conversions the window host needs: text, integers,
// maps by text key and arrays.
#pragma once

#include <string>

#include "sciter/sciter_api.h"

namespace ov {
namespace gui {

class ScriptValue {
 public:
  ScriptValue();
  // A copy of a value the engine owns (arguments of a script call).
  explicit ScriptValue(const SCITER_VALUE& value);
  ScriptValue(const ScriptValue& other);
  ScriptValue(ScriptValue&& other) noexcept;
  ScriptValue& operator=(const ScriptValue& other);
  ScriptValue& operator=(ScriptValue&& other) noexcept;
  ~ScriptValue();

  static ScriptValue FromString(const std::wstring& text);
  static ScriptValue FromInt(int number);

  UINT Type() const;
  bool IsString() const { return Type() == T_STRING; }
  // The text of a string value; "" for any other type.
  std::wstring GetString() const;
  // False (and `number` untouched) for a value that holds no integer.
  bool GetInt(int* number) const;

  // Map access by text key; setting a key turns a non-map into an empty map first.
  void SetItem(const std::wstring& key, const ScriptValue& item);
  // Undefined when the key is missing or this is no map.
  ScriptValue GetItem(const std::wstring& key) const;

  // Array access; setting element n grows the array to n + 1 elements.
  void SetElement(int index, const ScriptValue& element);
  ScriptValue GetElement(int index) const;
  int Count() const;

  // Copies this value into one the engine owns (the result of a script call).
  void CopyTo(SCITER_VALUE* target) const;

  SCITER_VALUE* Get() { return &m_value; }
  const SCITER_VALUE* Get() const { return &m_value; }

 private:
  SCITER_VALUE m_value;
};

}  // namespace gui
}  // namespace ov
