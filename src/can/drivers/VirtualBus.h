#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "can/CanDriver.h"

namespace bp::can {

class VirtualBusEndpoint;

// An in-process CAN bus: a frame written by one open endpoint reaches the receive queue of every
// other open endpoint, not its own. Safe under concurrent use from any number of threads.
class VirtualBus : public std::enable_shared_from_this<VirtualBus> {
 public:
  static std::shared_ptr<VirtualBus> create() { return std::shared_ptr<VirtualBus>(new VirtualBus); }

  // A new endpoint on this bus (closed until its open succeeds).
  std::unique_ptr<VirtualBusEndpoint> endpoint(std::size_t queueCapacity = 65536);

  // Frames placed into endpoints' receive queues since creation (one per receiving endpoint;
  // frames dropped by a full queue are not counted).
  std::uint64_t deliveredFrames() const noexcept { return m_delivered.load(std::memory_order_relaxed); }

 private:
  friend class VirtualBusEndpoint;
  VirtualBus() = default;
  void attach(VirtualBusEndpoint* ep);
  void detach(VirtualBusEndpoint* ep);
  void broadcast(const VirtualBusEndpoint* from, const CanFrame& frame);

  std::mutex m_mutex;                           // guards m_endpoints
  std::vector<VirtualBusEndpoint*> m_endpoints;  // the open endpoints
  std::atomic<std::uint64_t> m_delivered{0};
};

// One endpoint of a virtual bus, used as a driver. Its receive queue is bounded; frames beyond
// its capacity are dropped and counted (as a controller's overrun would).
class VirtualBusEndpoint final : public CanDriver {
 public:
  ~VirtualBusEndpoint() override;

  std::uint32_t open(std::uint16_t bitRateCode, std::uint32_t frameType) override;
  std::uint32_t close() override;
  std::uint32_t read(CanFrame& frame) noexcept override;
  std::uint32_t versionText(char* buffer) override;
  std::uint32_t write(const CanFrame& frame) override;
  bool waitForFrames(std::uint32_t timeoutMs) noexcept override;
  void interruptWait() noexcept override;

  bool isOpen() const noexcept { return m_open.load(std::memory_order_acquire); }
  std::uint64_t droppedFrames() const noexcept { return m_dropped.load(std::memory_order_relaxed); }
  std::size_t queuedFrames();
  // Counts of the operations, for tests.
  std::uint32_t openCalls() const noexcept { return m_openCalls.load(); }
  std::uint32_t closeCalls() const noexcept { return m_closeCalls.load(); }
  std::uint16_t lastBitRateCode() const noexcept { return m_lastCode.load(); }

 private:
  friend class VirtualBus;
  VirtualBusEndpoint(std::shared_ptr<VirtualBus> bus, std::size_t capacity)
      : m_bus(std::move(bus)), m_capacity(capacity) {}
  // Queues the frame; false when the queue was full and the frame was dropped.
  bool deliver(const CanFrame& frame);

  std::shared_ptr<VirtualBus> m_bus;
  const std::size_t m_capacity;
  std::mutex m_queueMutex;          // guards m_queue, m_waiting and m_interrupted
  std::condition_variable m_frameArrived;
  std::deque<CanFrame> m_queue;
  bool m_waiting = false;           // a reader sleeps in waitForFrames
  bool m_interrupted = false;       // interruptWait() was called since the last wait
  std::atomic<bool> m_open{false};  // written by open/close (window thread)
  std::atomic<std::uint64_t> m_dropped{0};
  std::atomic<std::uint32_t> m_openCalls{0};
  std::atomic<std::uint32_t> m_closeCalls{0};
  std::atomic<std::uint16_t> m_lastCode{0};
};

}  // namespace bp::can
