// ov::List<T>: a doubly linked list reached through ov::IList<T>, so that a list made in one
// module can be filled or read by another. Missing elements are reported as 1168.
#pragma once

#include <windows.h>

#include <cstdint>
#include <new>

namespace ov {

template <class T>
class IListEnum {
 public:
  virtual bool IsValid() const = 0;
  virtual void Next() = 0;
  virtual T* Current() = 0;
  virtual void Release() = 0;
  virtual void Reset() = 0;
  virtual ~IListEnum() = default;
};

template <class T>
class IConstListEnum {
 public:
  virtual bool IsValid() const = 0;
  virtual void Next() = 0;
  virtual const T* Current() const = 0;
  virtual void Release() = 0;
  virtual void Reset() = 0;
  virtual ~IConstListEnum() = default;
};

template <class T>
class IList {
 public:
  // Both return 0, or 8 (not enough memory).
  virtual int AddTail(const T& value) = 0;
  virtual int AddHead(const T& value) = 0;
  virtual T* GetTailPtr() = 0;
  virtual const T* GetTailPtr() const = 0;
  virtual int GetTail(T& out) const = 0;
  virtual T* GetHeadPtr() = 0;
  virtual const T* GetHeadPtr() const = 0;
  virtual int GetHead(T& out) const = 0;
  // Removes the element under the enumerator and moves the enumerator to the next one.
  virtual int RemoveAt(IListEnum<T>* position) = 0;
  // Enumerators start on the first element; give them back with Release.
  virtual IConstListEnum<T>* GetConstEnum() const = 0;
  virtual IListEnum<T>* GetEnum() = 0;
  virtual void RemoveAll() = 0;
  virtual uint32_t GetCount() const = 0;
};

template <class T>
class List;

namespace detail {

template <class T>
struct ListNode {
  explicit ListNode(const T& v) : value(v) {}
  T value;
  ListNode* prev = nullptr;
  ListNode* next = nullptr;
};

}  // namespace detail

template <class T>
class ListEnum final : public IListEnum<T> {
 public:
  explicit ListEnum(List<T>* list) : m_list(list), m_cursor(list->m_head) {}
  bool IsValid() const override { return m_cursor != nullptr; }
  void Next() override {
    if (m_cursor != nullptr) m_cursor = m_cursor->next;
  }
  T* Current() override { return m_cursor != nullptr ? &m_cursor->value : nullptr; }
  void Release() override { delete this; }
  void Reset() override { m_cursor = m_list->m_head; }

 private:
  friend class List<T>;
  List<T>* m_list;
  detail::ListNode<T>* m_cursor;
};

template <class T>
class ConstListEnum final : public IConstListEnum<T> {
 public:
  explicit ConstListEnum(const List<T>* list) : m_list(list), m_cursor(list->m_head) {}
  bool IsValid() const override { return m_cursor != nullptr; }
  void Next() override {
    if (m_cursor != nullptr) m_cursor = m_cursor->next;
  }
  const T* Current() const override { return m_cursor != nullptr ? &m_cursor->value : nullptr; }
  void Release() override { delete this; }
  void Reset() override { m_cursor = m_list->m_head; }

 private:
  const List<T>* m_list;
  const detail::ListNode<T>* m_cursor;
};

template <class T>
class List final : public IList<T> {
 public:
  List() = default;
  List(const List& other) { CopyFrom(other); }
  List& operator=(const List& other) {
    if (this != &other) {
      RemoveAll();
      CopyFrom(other);
    }
    return *this;
  }
  ~List() { RemoveAll(); }

  int AddTail(const T& value) override {
    Node* node = new (std::nothrow) Node(value);
    if (node == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    node->prev = m_tail;
    (m_tail != nullptr ? m_tail->next : m_head) = node;
    m_tail = node;
    ++m_count;
    return 0;
  }

  int AddHead(const T& value) override {
    Node* node = new (std::nothrow) Node(value);
    if (node == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    node->next = m_head;
    (m_head != nullptr ? m_head->prev : m_tail) = node;
    m_head = node;
    ++m_count;
    return 0;
  }

  T* GetTailPtr() override { return m_tail != nullptr ? &m_tail->value : nullptr; }
  const T* GetTailPtr() const override { return m_tail != nullptr ? &m_tail->value : nullptr; }
  int GetTail(T& out) const override {
    if (m_tail == nullptr) return ERROR_NOT_FOUND;
    out = m_tail->value;
    return 0;
  }

  T* GetHeadPtr() override { return m_head != nullptr ? &m_head->value : nullptr; }
  const T* GetHeadPtr() const override { return m_head != nullptr ? &m_head->value : nullptr; }
  int GetHead(T& out) const override {
    if (m_head == nullptr) return ERROR_NOT_FOUND;
    out = m_head->value;
    return 0;
  }

  int RemoveAt(IListEnum<T>* position) override {
    // Only our own enumerators carry a cursor into this list.
    auto* cursor = dynamic_cast<ListEnum<T>*>(position);
    if (cursor == nullptr || cursor->m_list != this) return ERROR_INVALID_PARAMETER;
    Node* node = cursor->m_cursor;
    if (node == nullptr) return ERROR_NOT_FOUND;
    cursor->m_cursor = node->next;
    Unlink(node);
    return 0;
  }

  IConstListEnum<T>* GetConstEnum() const override {
    return new (std::nothrow) ConstListEnum<T>(this);
  }
  IListEnum<T>* GetEnum() override { return new (std::nothrow) ListEnum<T>(this); }

  void RemoveAll() override {
    while (m_head != nullptr) Unlink(m_head);
  }

  uint32_t GetCount() const override { return m_count; }

 private:
  using Node = detail::ListNode<T>;
  friend class ListEnum<T>;
  friend class ConstListEnum<T>;

  void CopyFrom(const List& other) {
    for (const Node* node = other.m_head; node != nullptr; node = node->next) AddTail(node->value);
  }

  void Unlink(Node* node) {
    (node->prev != nullptr ? node->prev->next : m_head) = node->next;
    (node->next != nullptr ? node->next->prev : m_tail) = node->prev;
    --m_count;
    delete node;
  }

  Node* m_head = nullptr;
  Node* m_tail = nullptr;
  uint32_t m_count = 0;
};

}  // namespace ov
