#include "can/drivers/VirtualBus.h"

#include <algorithm>
#include <cstdio>

#include "can/BitRate.h"

namespace bp::can {

std::unique_ptr<VirtualBusEndpoint> VirtualBus::endpoint(std::size_t queueCapacity) {
  return std::unique_ptr<VirtualBusEndpoint>(new VirtualBusEndpoint(shared_from_this(), queueCapacity));
}

void VirtualBus::attach(VirtualBusEndpoint* ep) {
  std::lock_guard lock(m_mutex);
  if (std::find(m_endpoints.begin(), m_endpoints.end(), ep) == m_endpoints.end())
    m_endpoints.push_back(ep);
}

void VirtualBus::detach(VirtualBusEndpoint* ep) {
  std::lock_guard lock(m_mutex);
  std::erase(m_endpoints, ep);
}

void VirtualBus::broadcast(const VirtualBusEndpoint* from, const CanFrame& frame) {
  std::lock_guard lock(m_mutex);
  for (VirtualBusEndpoint* ep : m_endpoints) {
    if (ep == from) continue;
    if (ep->deliver(frame)) m_delivered.fetch_add(1, std::memory_order_relaxed);
  }
}

VirtualBusEndpoint::~VirtualBusEndpoint() { close(); }

std::uint32_t VirtualBusEndpoint::open(std::uint16_t bitRateCode, std::uint32_t frameType) {
  (void)frameType;
  m_openCalls.fetch_add(1);
  m_lastCode.store(bitRateCode);
  if (bitRateOfCode(bitRateCode) == 0) return kErrIllegalParam;
  m_bus->attach(this);
  m_open.store(true, std::memory_order_release);
  return kOk;
}

std::uint32_t VirtualBusEndpoint::close() {
  m_closeCalls.fetch_add(1);
  m_open.store(false, std::memory_order_release);
  m_bus->detach(this);
  std::lock_guard lock(m_queueMutex);
  m_queue.clear();
  return kOk;
}

std::uint32_t VirtualBusEndpoint::read(CanFrame& frame) noexcept {
  if (!m_open.load(std::memory_order_acquire)) return kErrNotOpen;
  std::lock_guard lock(m_queueMutex);
  if (m_queue.empty()) return kErrQueueEmpty;
  frame = m_queue.front();
  m_queue.pop_front();
  return kOk;
}

std::uint32_t VirtualBusEndpoint::versionText(char* buffer) {
  std::snprintf(buffer, kVersionTextSize, "Virtual CAN bus (in-process)");
  return kOk;
}

std::uint32_t VirtualBusEndpoint::write(const CanFrame& frame) {
  if (!m_open.load(std::memory_order_acquire)) return kErrNotOpen;
  if (frame.len > 8) return kErrIllegalParam;
  m_bus->broadcast(this, frame);
  return kOk;
}

bool VirtualBusEndpoint::waitForFrames(std::uint32_t timeoutMs) noexcept {
  std::unique_lock lock(m_queueMutex);
  m_waiting = true;
  m_frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return !m_queue.empty() || m_interrupted; });
  m_waiting = false;
  m_interrupted = false;
  return true;
}

void VirtualBusEndpoint::interruptWait() noexcept {
  {
    std::lock_guard lock(m_queueMutex);
    m_interrupted = true;
  }
  m_frameArrived.notify_all();
}

std::size_t VirtualBusEndpoint::queuedFrames() {
  std::lock_guard lock(m_queueMutex);
  return m_queue.size();
}

bool VirtualBusEndpoint::deliver(const CanFrame& frame) {
  std::lock_guard lock(m_queueMutex);
  if (m_queue.size() >= m_capacity) {
    m_dropped.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  m_queue.push_back(frame);
  if (m_waiting) m_frameArrived.notify_one();  // only a sleeping reader needs the system call
  return true;
}

}  // namespace bp::can
