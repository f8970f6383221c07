#include "dllprotect/event_queue.h"

namespace dllprotect {

DllEventQueue::DllEventQueue(EventsConsumerBase& consumer) : m_consumer(consumer) {
  m_worker = std::thread([this] { Serve(); });
}

void DllEventQueue::Post(const DllProtectInfo& event) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_stopping) return;
    m_events.push_back(event);
  }
  m_ready.notify_one();
}

void DllEventQueue::Stop() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopping = true;
  }
  m_ready.notify_one();
  if (m_worker.joinable()) m_worker.join();
}

void DllEventQueue::Serve() {
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    m_ready.wait(hold, [this] { return m_stopping || !m_events.empty(); });
    if (m_events.empty()) return;  // stopping, and nothing left to hand on
    const DllProtectInfo event = m_events.front();
    m_events.pop_front();
    hold.unlock();
    m_consumer.Consume(event);
    hold.lock();
  }
}

}  // namespace dllprotect
