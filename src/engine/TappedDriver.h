#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "can/CanDriver.h"
#include "engine/RxRing.h"

namespace bp::engine {

// The driver as the tool's senders see it: every call goes to the adapter's driver, and while
// tapping is on, every frame written with success is also kept, with the moment before the
// write, for the Bus view (FrameMonitor merges them by time into what its observer sees).
//
// Writers are the window thread and a file transfer's worker, never the reader's thread: a write
// while tapping holds a mutex from its time stamp through the adapter's write to the keeping.
// So a look at the kept frames (takeSent) returns every frame stamped before the look, and the
// stamp comes before the node can answer the frame. At most kCapacity frames wait between two
// looks; further ones are counted in droppedSent() and not kept.
class TappedDriver final : public can::CanDriver {
 public:
  // 32 bytes a frame: 2 MiB, allocated when tapping is turned on and released when it is off.
  static constexpr std::size_t kCapacity = 65536;

  explicit TappedDriver(can::CanDriver& adapter, MicroClock micros = steadyMicros);

  std::uint32_t open(std::uint16_t bitRateCode, std::uint32_t frameType) override {
    return m_adapter.open(bitRateCode, frameType);
  }
  std::uint32_t close() override { return m_adapter.close(); }
  std::uint32_t read(can::CanFrame& frame) noexcept override { return m_adapter.read(frame); }
  std::uint32_t versionText(char* buffer) override { return m_adapter.versionText(buffer); }
  std::uint32_t write(const can::CanFrame& frame) override;
  bool waitForFrames(std::uint32_t timeoutMs) noexcept override { return m_adapter.waitForFrames(timeoutMs); }
  void interruptWait() noexcept override { m_adapter.interruptWait(); }

  // Window thread. Turning tapping off forgets what was kept.
  void setTapping(bool on);
  bool tapping() const noexcept { return m_tapping.load(std::memory_order_acquire); }

  // Window thread. Appends the frames kept since the last look to `out` (origin kSent, in the
  // order written, receiveTime 0) and returns the moment of this look in steadyMicros: every
  // frame stamped before it is in `out` now or was in an earlier look.
  std::uint64_t takeSent(std::vector<RingSlot>& out);

  // Any thread: frames not kept because kCapacity were waiting.
  std::uint64_t droppedSent() const noexcept { return m_dropped.load(std::memory_order_relaxed); }

 private:
  can::CanDriver& m_adapter;
  const MicroClock m_micros;
  std::mutex m_mutex;
  // Writer: the window thread (setTapping), under m_mutex; read without it only to skip the lock.
  std::atomic<bool> m_tapping{false};
  // Writer: the sender holding m_mutex (one at a time).
  std::atomic<std::uint64_t> m_dropped{0};
  std::vector<RingSlot> m_kept;  // under m_mutex; capacity kCapacity while tapping
};

}  // namespace bp::engine
