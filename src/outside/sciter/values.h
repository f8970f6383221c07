// Script values as the host sees them (SCITER_VALUE) and as the engine works with them
// (Value). A SCITER_VALUE keeps booleans, integers and floats in its 64-bit field; texts,
// arrays, maps and opaque functions/objects live in a Value on the heap that the SCITER_VALUE
// owns. Copies are deep, so every holder owns its own.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "sciter/sciter_api.h"

namespace sciter_engine {

struct Value {
  UINT type = T_UNDEFINED;
  bool boolean = false;
  INT integer = 0;
  double number = 0;
  std::wstring text;  // T_STRING; a description for T_FUNCTION / T_OBJECT
  std::vector<Value> items;                      // T_ARRAY
  std::vector<std::pair<Value, Value>> pairs;    // T_MAP, in insertion order

  static Value Null() { Value v; v.type = T_NULL; return v; }
  static Value Bool(bool b) { Value v; v.type = T_BOOL; v.boolean = b; return v; }
  static Value Int(INT i) { Value v; v.type = T_INT; v.integer = i; return v; }
  static Value Float(double f) { Value v; v.type = T_FLOAT; v.number = f; return v; }
  static Value String(std::wstring s) { Value v; v.type = T_STRING; v.text = std::move(s); return v; }
  static Value Array() { Value v; v.type = T_ARRAY; return v; }
  static Value Map() { Value v; v.type = T_MAP; return v; }

  // Map lookup by key; null when absent or not a map.
  const Value* Find(const Value& key) const;
  void Set(const Value& key, const Value& value);
  bool operator==(const Value& other) const;
};

// Reads a host value (which must be initialised).
Value FromSciterValue(const SCITER_VALUE& value);
// Replaces what `out` held.
void ToSciterValue(const Value& value, SCITER_VALUE* out);

// The value functions of the API table.
UINT ValueInitImpl(SCITER_VALUE* value);
UINT ValueClearImpl(SCITER_VALUE* value);
UINT ValueCopyImpl(SCITER_VALUE* destination, const SCITER_VALUE* source);
UINT ValueTypeImpl(const SCITER_VALUE* value, UINT* type);
UINT ValueStringDataImpl(const SCITER_VALUE* value, LPCWSTR* chars, UINT* length);
UINT ValueStringDataSetImpl(SCITER_VALUE* value, LPCWSTR chars, UINT length);
UINT ValueIntDataImpl(const SCITER_VALUE* value, INT* data);
UINT ValueIntDataSetImpl(SCITER_VALUE* value, INT data);
UINT ValueSetValueToKeyImpl(SCITER_VALUE* map, const SCITER_VALUE* key, const SCITER_VALUE* value);
UINT ValueGetValueOfKeyImpl(const SCITER_VALUE* map, const SCITER_VALUE* key, SCITER_VALUE* value);
UINT ValueElementsCountImpl(const SCITER_VALUE* value, INT* count);
UINT ValueNthElementValueImpl(const SCITER_VALUE* value, INT n, SCITER_VALUE* element);
UINT ValueNthElementValueSetImpl(SCITER_VALUE* value, INT n, const SCITER_VALUE* element);

}  // namespace sciter_engine
