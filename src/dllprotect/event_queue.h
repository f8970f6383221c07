// The callback path of DLL events: a queue served by one worker thread that hands each event,
// in arrival order, to the consumer (the installed callback).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "dllprotect/dll_event.h"

namespace dllprotect {

class EventsConsumerBase {
 public:
  virtual void Consume(const DllProtectInfo& event) = 0;

 protected:
  ~EventsConsumerBase() = default;
};

using DllEventCallback = void (*)(void* user, const DllProtectInfo& event);

class EventsCbkDumper final : public EventsConsumerBase {
 public:
  EventsCbkDumper(DllEventCallback callback, void* user) : m_callback(callback), m_user(user) {}
  void Consume(const DllProtectInfo& event) override {
    if (m_callback != nullptr) m_callback(m_user, event);
  }

 private:
  DllEventCallback m_callback;
  void* m_user;
};

class DllEventQueue {
 public:
  explicit DllEventQueue(EventsConsumerBase& consumer);
  ~DllEventQueue() { Stop(); }
  DllEventQueue(const DllEventQueue&) = delete;
  DllEventQueue& operator=(const DllEventQueue&) = delete;

  void Post(const DllProtectInfo& event);
  // Hands on what is queued, then ends the worker. Idempotent.
  void Stop();

 private:
  void Serve();

  EventsConsumerBase& m_consumer;
  std::mutex m_lock;
  std::condition_variable m_ready;
  std::deque<DllProtectInfo> m_events;
  bool m_stopping = false;
  std::thread m_worker;
};

}  // namespace dllprotect
