#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "can/CanFrame.h"

namespace bp::engine {

// Microseconds of the system's monotonic clock (std::chrono::steady_clock): the one time base of
// every frame the Bus view sees, received or sent. Any thread; allocates nothing.
using MicroClock = std::uint64_t (*)() noexcept;
inline std::uint64_t steadyMicros() noexcept {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// Where a frame came from: received and stored for the monitor; received and handed over at once
// (the selected node's SDO answers: stored too while the Bus view observes, never a monitor row);
// or written by the tool itself (never in the ring: TappedDriver).
enum class FrameOrigin : std::uint8_t { kReceived, kHandedOver, kSent };

// The order of stamping, modulo 2^16, for frames stamped in the same microsecond: the reader and
// the senders each take it right after their steadyMicros stamp, so an answer stored before the
// next request is written, or a request written before its answer is read, has the lower number.
// Any thread; one relaxed increment of a process-wide counter (its writers: every stamping thread).
inline std::uint16_t nextFrameOrder() noexcept {
  static_assert(std::atomic<std::uint16_t>::is_always_lock_free, "the reader takes no lock");
  static std::atomic<std::uint16_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed);
}

// One slot of the receive ring: a frame exactly as the driver's read filled it; its receive time
// in milliseconds since the reader's first run (wrapping modulo 2^32: the monitor's period); the
// same moment in steadyMicros (the Bus view's time); its origin; and its nextFrameOrder. 32 bytes.
struct RingSlot {
  can::CanFrame frame;
  std::uint32_t receiveTime = 0;
  FrameOrigin origin = FrameOrigin::kReceived;
  std::uint16_t order = 0;
  std::uint64_t timeUs = 0;
};
static_assert(sizeof(RingSlot) == 32);

// The receive ring: 16384 slots (512 KiB), at most 16383 frames; the slot at head is always free.
// That is room for more than two 200 ms monitor ticks of a saturated 1 Mbit/s bus of empty frames
// (about 21,000 frames/s). The slots are allocated once, when the ring is made, and never again.
// Single producer (the high-rate reader's thread) and single consumer (the window thread),
// no lock. Each index is advanced with release after its slot work is done and read with acquire
// by the other side.
class RxRing {
 public:
  static constexpr std::int32_t kSlots = 16384;

  // A ring of `slotCount` slots (a power of two, at least 2; tests use small rings).
  explicit RxRing(std::int32_t slotCount = kSlots)
      : m_mask(validSlotCount(slotCount) - 1),
        m_slots(std::make_unique<RingSlot[]>(static_cast<std::size_t>(slotCount))) {}
  RxRing(const RxRing&) = delete;
  RxRing& operator=(const RxRing&) = delete;

  std::int32_t slotCount() const noexcept { return m_mask + 1; }
  std::int32_t capacity() const noexcept { return m_mask; }  // frames it holds at most
  std::int32_t advance(std::int32_t index) const noexcept { return (index + 1) & m_mask; }

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
    return (h - t) & m_mask;
  }
  std::int32_t head() const noexcept { return m_head.load(std::memory_order_acquire); }
  std::int32_t tail() const noexcept { return m_tail.load(std::memory_order_acquire); }

 private:
  static std::int32_t validSlotCount(std::int32_t n) {
    if (n < 2 || (n & (n - 1)) != 0) throw std::invalid_argument("ring slots: a power of two");
    return n;
  }

  const std::int32_t m_mask;
  const std::unique_ptr<RingSlot[]> m_slots;
  alignas(64) std::atomic<std::int32_t> m_head{0};  // written by the high-rate reader only
  alignas(64) std::atomic<std::int32_t> m_tail{0};  // written by the frame monitor only
  static_assert(std::atomic<std::int32_t>::is_always_lock_free);
};

}  // namespace bp::engine
