#include "values.h"

#include <cstring>

namespace sciter_engine {

namespace {

bool IsHeapType(UINT type) {
  return type == T_STRING || type == T_ARRAY || type == T_MAP || type == T_FUNCTION ||
         type == T_OBJECT;
}

Value* HeapOf(const SCITER_VALUE* value) {
  return reinterpret_cast<Value*>(static_cast<uintptr_t>(value->d));
}

void Reset(SCITER_VALUE* value) {
  if (IsHeapType(value->t)) delete HeapOf(value);
  value->t = T_UNDEFINED;
  value->u = 0;
  value->d = 0;
}

// Makes `value` hold a heap Value of `type` (emptied) and returns it.
Value* MakeHeap(SCITER_VALUE* value, UINT type) {
  Reset(value);
  Value* heap = new Value();
  heap->type = type;
  value->t = type;
  value->d = static_cast<UINT64>(reinterpret_cast<uintptr_t>(heap));
  return heap;
}

}  // namespace

const Value* Value::Find(const Value& key) const {
  if (type != T_MAP) return nullptr;
  for (const auto& pair : pairs) {
    if (pair.first == key) return &pair.second;
  }
  return nullptr;
}

void Value::Set(const Value& key, const Value& value) {
  if (type != T_MAP) {
    *this = Map();
  }
  for (auto& pair : pairs) {
    if (pair.first == key) {
      pair.second = value;
      return;
    }
  }
  pairs.emplace_back(key, value);
}

bool Value::operator==(const Value& other) const {
  if (type != other.type) return false;
  switch (type) {
    case T_UNDEFINED: case T_NULL: return true;
    case T_BOOL: return boolean == other.boolean;
    case T_INT: return integer == other.integer;
    case T_FLOAT: return number == other.number;
    case T_ARRAY: return items == other.items;
    case T_MAP: return pairs == other.pairs;
    default: return text == other.text;
  }
}

Value FromSciterValue(const SCITER_VALUE& value) {
  Value out;
  switch (value.t) {
    case T_UNDEFINED: break;
    case T_NULL: out.type = T_NULL; break;
    case T_BOOL: out = Value::Bool(value.d != 0); break;
    case T_INT: out = Value::Int(static_cast<INT>(static_cast<UINT>(value.d))); break;
    case T_FLOAT: {
      double number;
      std::memcpy(&number, &value.d, sizeof(number));
      out = Value::Float(number);
      break;
    }
    default:
      if (IsHeapType(value.t) && value.d) out = *HeapOf(&value);
      break;
  }
  return out;
}

void ToSciterValue(const Value& value, SCITER_VALUE* out) {
  Reset(out);
  switch (value.type) {
    case T_UNDEFINED: break;
    case T_NULL: out->t = T_NULL; break;
    case T_BOOL: out->t = T_BOOL; out->d = value.boolean ? 1 : 0; break;
    case T_INT: out->t = T_INT; out->d = static_cast<UINT>(value.integer); break;
    case T_FLOAT: out->t = T_FLOAT; std::memcpy(&out->d, &value.number, sizeof(value.number)); break;
    default:
      if (IsHeapType(value.type)) *MakeHeap(out, value.type) = value;
      break;
  }
}

UINT ValueInitImpl(SCITER_VALUE* value) {
  if (!value) return HV_BAD_PARAMETER;
  value->t = T_UNDEFINED;
  value->u = 0;
  value->d = 0;
  return HV_OK;
}

UINT ValueClearImpl(SCITER_VALUE* value) {
  if (!value) return HV_BAD_PARAMETER;
  Reset(value);
  return HV_OK;
}

UINT ValueCopyImpl(SCITER_VALUE* destination, const SCITER_VALUE* source) {
  if (!destination || !source) return HV_BAD_PARAMETER;
  if (destination == source) return HV_OK;
  ToSciterValue(FromSciterValue(*source), destination);
  return HV_OK;
}

UINT ValueTypeImpl(const SCITER_VALUE* value, UINT* type) {
  if (!value || !type) return HV_BAD_PARAMETER;
  *type = value->t;
  return HV_OK;
}

UINT ValueStringDataImpl(const SCITER_VALUE* value, LPCWSTR* chars, UINT* length) {
  if (!value || !chars) return HV_BAD_PARAMETER;
  if (value->t != T_STRING || !value->d) return HV_INCOMPATIBLE_TYPE;
  const Value* heap = HeapOf(value);
  *chars = heap->text.c_str();
  if (length) *length = static_cast<UINT>(heap->text.size());
  return HV_OK;
}

UINT ValueStringDataSetImpl(SCITER_VALUE* value, LPCWSTR chars, UINT length) {
  if (!value || (!chars && length)) return HV_BAD_PARAMETER;
  MakeHeap(value, T_STRING)->text.assign(chars ? chars : L"", length);
  return HV_OK;
}

UINT ValueIntDataImpl(const SCITER_VALUE* value, INT* data) {
  if (!value || !data) return HV_BAD_PARAMETER;
  if (value->t != T_INT && value->t != T_BOOL) return HV_INCOMPATIBLE_TYPE;
  *data = static_cast<INT>(static_cast<UINT>(value->d));
  return HV_OK;
}

UINT ValueIntDataSetImpl(SCITER_VALUE* value, INT data) {
  if (!value) return HV_BAD_PARAMETER;
  Reset(value);
  value->t = T_INT;
  value->d = static_cast<UINT>(data);
  return HV_OK;
}

UINT ValueSetValueToKeyImpl(SCITER_VALUE* map, const SCITER_VALUE* key, const SCITER_VALUE* value) {
  if (!map || !key || !value) return HV_BAD_PARAMETER;
  if (map->t != T_MAP || !map->d) MakeHeap(map, T_MAP);
  HeapOf(map)->Set(FromSciterValue(*key), FromSciterValue(*value));
  return HV_OK;
}

UINT ValueGetValueOfKeyImpl(const SCITER_VALUE* map, const SCITER_VALUE* key, SCITER_VALUE* value) {
  if (!map || !key || !value) return HV_BAD_PARAMETER;
  if (map->t != T_MAP || !map->d) return HV_INCOMPATIBLE_TYPE;
  const Value* found = HeapOf(map)->Find(FromSciterValue(*key));
  ToSciterValue(found ? *found : Value(), value);
  return HV_OK;
}

UINT ValueElementsCountImpl(const SCITER_VALUE* value, INT* count) {
  if (!value || !count) return HV_BAD_PARAMETER;
  *count = 0;
  if (value->t == T_ARRAY && value->d) *count = static_cast<INT>(HeapOf(value)->items.size());
  else if (value->t == T_MAP && value->d) *count = static_cast<INT>(HeapOf(value)->pairs.size());
  else return HV_INCOMPATIBLE_TYPE;
  return HV_OK;
}

UINT ValueNthElementValueImpl(const SCITER_VALUE* value, INT n, SCITER_VALUE* element) {
  if (!value || !element || n < 0) return HV_BAD_PARAMETER;
  if ((value->t != T_ARRAY && value->t != T_MAP) || !value->d) return HV_INCOMPATIBLE_TYPE;
  const Value* heap = HeapOf(value);
  const size_t index = static_cast<size_t>(n);
  if (value->t == T_ARRAY) {
    if (index >= heap->items.size()) return HV_BAD_PARAMETER;
    ToSciterValue(heap->items[index], element);
  } else {
    if (index >= heap->pairs.size()) return HV_BAD_PARAMETER;
    ToSciterValue(heap->pairs[index].second, element);
  }
  return HV_OK;
}

UINT ValueNthElementValueSetImpl(SCITER_VALUE* value, INT n, const SCITER_VALUE* element) {
  // Arrays grow on demand; a huge index would only be a way to exhaust memory.
  if (!value || !element || n < 0 || n > 1 << 24) return HV_BAD_PARAMETER;
  if (value->t != T_ARRAY || !value->d) MakeHeap(value, T_ARRAY);
  std::vector<Value>& items = HeapOf(value)->items;
  if (items.size() <= static_cast<size_t>(n)) items.resize(static_cast<size_t>(n) + 1);
  items[static_cast<size_t>(n)] = FromSciterValue(*element);
  return HV_OK;
}

}  // namespace sciter_engine
