// ov::Map<K,V>: a hash map reached through ov::IMap<K,V>, so that a map made in one module can
// be filled or read by another. Entries are visited in insertion order. Missing keys are
// reported as 1168 and existing ones as 183.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <new>

#include "framework/guarded_string.h"

namespace ov {

template <class K, class V>
class IEnum {
 public:
  virtual bool IsValid() const = 0;
  virtual void Next() = 0;
  virtual V* Value() = 0;
  virtual const K* Key() const = 0;
  virtual void Release() = 0;
  virtual void Reset() = 0;
  virtual ~IEnum() = default;
};

template <class K, class V>
class IConstEnum {
 public:
  virtual bool IsValid() const = 0;
  virtual void Next() = 0;
  virtual const K* Key() const = 0;
  virtual const V* Value() const = 0;
  virtual void Release() = 0;
  virtual void Reset() = 0;
  virtual ~IConstEnum() = default;
};

template <class K, class V>
class IMap {
 public:
  // 0, 183 when the key is present, 8 when out of memory.
  virtual int Add(const K& key, const V& value) = 0;
  virtual V* Find(const K& key) = 0;
  virtual const V* Find(const K& key) const = 0;
  virtual int Get(const K& key, V& out) const = 0;
  // Removes the entry under the enumerator and moves the enumerator to the next one.
  virtual int RemoveAt(IEnum<K, V>* position) = 0;
  virtual int Remove(const K& key) = 0;
  virtual IConstEnum<K, V>* GetConstEnum() const = 0;
  virtual IEnum<K, V>* GetEnum() = 0;
  virtual void RemoveAll() = 0;
  virtual uint32_t GetCount() const = 0;
};

// How keys are hashed and compared.
template <class K>
struct MapKeyTraits {
  static uint32_t Hash(const K& key) { return static_cast<uint32_t>(std::hash<K>()(key)); }
  static bool Equal(const K& a, const K& b) { return a == b; }
};

// Texts: h = h * 33 + u over the UTF-16 code units from 5381; compared exactly.
template <>
struct MapKeyTraits<StringT> {
  static uint32_t Hash(const StringT& key) {
    uint32_t h = 5381;
    const wchar_t* text = key.c_str();
    for (uint32_t i = 0, n = key.Length(); i < n; ++i) h = h * 33 + static_cast<uint16_t>(text[i]);
    return h;
  }
  static bool Equal(const StringT& a, const StringT& b) { return a == b; }
};

template <class K, class V>
class Map;

namespace detail {

template <class K, class V>
struct MapEntry {
  MapEntry(const K& k, const V& v, uint32_t h) : key(k), value(v), hash(h) {}
  K key;
  V value;
  uint32_t hash;
  MapEntry* bucketNext = nullptr;  // chain within one bucket
  MapEntry* prev = nullptr;        // insertion order
  MapEntry* next = nullptr;
};

}  // namespace detail

template <class K, class V>
class Enum final : public IEnum<K, V> {
 public:
  explicit Enum(Map<K, V>* map) : m_map(map), m_cursor(map->m_first) {}
  bool IsValid() const override { return m_cursor != nullptr; }
  void Next() override {
    if (m_cursor != nullptr) m_cursor = m_cursor->next;
  }
  V* Value() override { return m_cursor != nullptr ? &m_cursor->value : nullptr; }
  const K* Key() const override { return m_cursor != nullptr ? &m_cursor->key : nullptr; }
  void Release() override { delete this; }
  void Reset() override { m_cursor = m_map->m_first; }

 private:
  friend class Map<K, V>;
  Map<K, V>* m_map;
  detail::MapEntry<K, V>* m_cursor;
};

template <class K, class V>
class ConstEnum final : public IConstEnum<K, V> {
 public:
  explicit ConstEnum(const Map<K, V>* map) : m_map(map), m_cursor(map->m_first) {}
  bool IsValid() const override { return m_cursor != nullptr; }
  void Next() override {
    if (m_cursor != nullptr) m_cursor = m_cursor->next;
  }
  const K* Key() const override { return m_cursor != nullptr ? &m_cursor->key : nullptr; }
  const V* Value() const override { return m_cursor != nullptr ? &m_cursor->value : nullptr; }
  void Release() override { delete this; }
  void Reset() override { m_cursor = m_map->m_first; }

 private:
  const Map<K, V>* m_map;
  const detail::MapEntry<K, V>* m_cursor;
};

template <class K, class V>
class Map final : public IMap<K, V> {
 public:
  Map() = default;
  Map(const Map& other) { CopyFrom(other); }
  Map& operator=(const Map& other) {
    if (this != &other) {
      RemoveAll();
      CopyFrom(other);
    }
    return *this;
  }
  ~Map() {
    RemoveAll();
    delete[] m_buckets;
  }

  int Add(const K& key, const V& value) override {
    const uint32_t hash = Traits::Hash(key);
    if (Lookup(key, hash) != nullptr) return ERROR_ALREADY_EXISTS;
    if (!EnsureBuckets(m_count + 1)) return ERROR_NOT_ENOUGH_MEMORY;
    Entry* entry = new (std::nothrow) Entry(key, value, hash);
    if (entry == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    Entry*& bucket = m_buckets[hash % m_bucketCount];
    entry->bucketNext = bucket;
    bucket = entry;
    entry->prev = m_last;
    (m_last != nullptr ? m_last->next : m_first) = entry;
    m_last = entry;
    ++m_count;
    return 0;
  }

  V* Find(const K& key) override {
    Entry* entry = Lookup(key, Traits::Hash(key));
    return entry != nullptr ? &entry->value : nullptr;
  }
  const V* Find(const K& key) const override {
    const Entry* entry = Lookup(key, Traits::Hash(key));
    return entry != nullptr ? &entry->value : nullptr;
  }

  int Get(const K& key, V& out) const override {
    const V* value = Find(key);
    if (value == nullptr) return ERROR_NOT_FOUND;
    out = *value;
    return 0;
  }

  int RemoveAt(IEnum<K, V>* position) override {
    auto* cursor = dynamic_cast<Enum<K, V>*>(position);
    if (cursor == nullptr || cursor->m_map != this) return ERROR_INVALID_PARAMETER;
    Entry* entry = cursor->m_cursor;
    if (entry == nullptr) return ERROR_NOT_FOUND;
    cursor->m_cursor = entry->next;
    Unlink(entry);
    return 0;
  }

  int Remove(const K& key) override {
    Entry* entry = Lookup(key, Traits::Hash(key));
    if (entry == nullptr) return ERROR_NOT_FOUND;
    Unlink(entry);
    return 0;
  }

  IConstEnum<K, V>* GetConstEnum() const override { return new (std::nothrow) ConstEnum<K, V>(this); }
  IEnum<K, V>* GetEnum() override { return new (std::nothrow) Enum<K, V>(this); }

  void RemoveAll() override {
    while (m_first != nullptr) Unlink(m_first);
  }

  uint32_t GetCount() const override { return m_count; }

 private:
  using Entry = detail::MapEntry<K, V>;
  using Traits = MapKeyTraits<K>;
  friend class Enum<K, V>;
  friend class ConstEnum<K, V>;

  Entry* Lookup(const K& key, uint32_t hash) const {
    if (m_buckets == nullptr) return nullptr;
    for (Entry* entry = m_buckets[hash % m_bucketCount]; entry != nullptr; entry = entry->bucketNext) {
      if (entry->hash == hash && Traits::Equal(entry->key, key)) return entry;
    }
    return nullptr;
  }

  // Keeps the load factor at or below one by doubling the bucket array.
  bool EnsureBuckets(uint32_t count) {
    if (m_buckets != nullptr && count <= m_bucketCount) return true;
    const uint32_t bucketCount = m_bucketCount == 0 ? 16 : m_bucketCount * 2;
    Entry** buckets = new (std::nothrow) Entry*[bucketCount]();
    if (buckets == nullptr) return false;
    for (Entry* entry = m_first; entry != nullptr; entry = entry->next) {
      Entry*& bucket = buckets[entry->hash % bucketCount];
      entry->bucketNext = bucket;
      bucket = entry;
    }
    delete[] m_buckets;
    m_buckets = buckets;
    m_bucketCount = bucketCount;
    return true;
  }

  void Unlink(Entry* entry) {
    Entry** link = &m_buckets[entry->hash % m_bucketCount];
    while (*link != entry) link = &(*link)->bucketNext;
    *link = entry->bucketNext;
    (entry->prev != nullptr ? entry->prev->next : m_first) = entry->next;
    (entry->next != nullptr ? entry->next->prev : m_last) = entry->prev;
    --m_count;
    delete entry;
  }

  void CopyFrom(const Map& other) {
    for (const Entry* entry = other.m_first; entry != nullptr; entry = entry->next) {
      Add(entry->key, entry->value);
    }
  }

  Entry** m_buckets = nullptr;
  uint32_t m_bucketCount = 0;
  Entry* m_first = nullptr;
  Entry* m_last = nullptr;
  uint32_t m_count = 0;
};

}  // namespace ov
