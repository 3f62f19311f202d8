#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "can/CanFrame.h"

namespace bp::sdo {

// A fixed-size single-producer, single-consumer queue of SDO answers: the reader's thread pushes
// (SdoClient::takeFrame), the thread running an SdoTransfer pops. Holds more than a whole block
// upload sub-block (127 segments) plus its end frame; no allocation, no lock.
class FrameQueue {
 public:
  static constexpr std::uint32_t kSlots = 256;  // a power of two

  // Producer (reader's thread). False when full: the frame is dropped and counted.
  bool push(const can::CanFrame& frame) noexcept {
    const std::uint32_t head = m_head.load(std::memory_order_relaxed);
    if (head - m_tail.load(std::memory_order_acquire) >= kSlots) {
      m_dropped.store(m_dropped.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      return false;
    }
    m_slots[head % kSlots] = frame;
    m_head.store(head + 1, std::memory_order_release);
    return true;
  }

  // Consumer. False when empty.
  bool pop(can::CanFrame& frame) noexcept {
    const std::uint32_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail == m_head.load(std::memory_order_acquire)) return false;
    frame = m_slots[tail % kSlots];
    m_tail.store(tail + 1, std::memory_order_release);
    return true;
  }

  // Consumer: drops everything queued so far.
  void clear() noexcept { m_tail.store(m_head.load(std::memory_order_acquire), std::memory_order_release); }

  // Any thread: frames dropped on a full queue since construction.
  std::uint32_t dropped() const noexcept { return m_dropped.load(std::memory_order_relaxed); }

 private:
  std::array<can::CanFrame, kSlots> m_slots{};
  std::atomic<std::uint32_t> m_head{0};     // writer: the producer (reader's thread)
  std::atomic<std::uint32_t> m_tail{0};     // writer: the consumer (the transfer's thread)
  std::atomic<std::uint32_t> m_dropped{0};  // writer: the producer
};

}  // namespace bp::sdo
