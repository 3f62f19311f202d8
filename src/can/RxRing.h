#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "can/CanFrame.h"

namespace bp::can {

// One slot of the receive ring: a frame exactly as the driver's read filled it, and its receive
// time in milliseconds since the reader's first run (wrapping modulo 2^32).
struct RingSlot {
  CanFrame frame;
  std::uint32_t receiveTime = 0;
};

// The receive ring: 1024 slots, at most 1023 frames; the slot at head is always free.
// Single producer (the high-rate reader's thread) and single consumer (the window thread),
// no lock. Each index is advanced with release after its slot work is done and read with acquire
// by the other side.
class RxRing {
 public:
  static constexpr std::int32_t kSlots = 1024;

  static constexpr std::int32_t advance(std::int32_t index) noexcept { return (index + 1) % kSlots; }

  // Producer only. The slot at head to fill in place, or nullptr when the ring is full.
  RingSlot* producerSlot() noexcept {
    const std::int32_t h = m_head.load(std::memory_order_relaxed);
    if (advance(h) == m_tail.load(std::memory_order_acquire)) return nullptr;
    return &m_slots[static_cast<std::size_t>(h)];
  }
  // Producer only. Publishes the slot at head (filled completely beforehand).
  void commit() noexcept {
    m_head.store(advance(m_head.load(std::memory_order_relaxed)), std::memory_order_release);
  }

  // Consumer only. The oldest stored slot, or nullptr when the ring is empty.
  const RingSlot* front() const noexcept {
    const std::int32_t t = m_tail.load(std::memory_order_relaxed);
    if (t == m_head.load(std::memory_order_acquire)) return nullptr;
    return &m_slots[static_cast<std::size_t>(t)];
  }
  // Consumer only. Frees the slot returned by front() after it has been read.
  void pop() noexcept {
    m_tail.store(advance(m_tail.load(std::memory_order_relaxed)), std::memory_order_release);
  }

  // Either thread; a snapshot.
  std::int32_t size() const noexcept {
    const std::int32_t h = m_head.load(std::memory_order_acquire);
    const std::int32_t t = m_tail.load(std::memory_order_acquire);
    return (h - t + kSlots) % kSlots;
  }
  std::int32_t head() const noexcept { return m_head.load(std::memory_order_acquire); }
  std::int32_t tail() const noexcept { return m_tail.load(std::memory_order_acquire); }

 private:
  std::array<RingSlot, kSlots> m_slots{};
  alignas(64) std::atomic<std::int32_t> m_head{0};  // written by the high-rate reader only
  alignas(64) std::atomic<std::int32_t> m_tail{0};  // written by the frame monitor only
  static_assert(std::atomic<std::int32_t>::is_always_lock_free);
};

}  // namespace bp::can
