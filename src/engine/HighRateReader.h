#pragma once
#include <atomic>
#include <cstdint>

#include "can/CanDriver.h"
#include "engine/FrameHandOver.h"
#include "engine/PeriodicTimer.h"
#include "engine/RxRing.h"
#include "util/Clock.h"

namespace bp::engine {

// Drains the driver into the receive ring, on the periodic timer's thread.
// Each run: take the tick base on the first run; stop when the ring is full (frames wait in the
// driver's queue); store every data frame with its receive time (ms since the tick base, and
// steadyMicros), except frames of the hand-over's identifier: those go to it at once.
// While the monitor has an observer (setObserving, for the Bus view) the reader stores everything:
// the handed-over frames too, marked kHandedOver, just before they go; and the frames that are
// no 11-bit data frames (remote requests, 29-bit identifiers, error frames), which the monitor's
// rows pass by. Without an observer those are dropped.
class HighRateReader {
 public:
  HighRateReader(can::CanDriver& driver, RxRing& ring, Clock& clock, MicroClock micros = steadyMicros) noexcept
      : m_driver(driver), m_ring(ring), m_clock(clock), m_micros(micros) {}

  // Set before the reader's thread starts; never changed while it runs.
  void setHandOver(FrameHandOver* handOver) noexcept { m_handOver = handOver; }

  // Window thread (Session::observeFrames): whether every frame is stored, from the next frame on.
  void setObserving(bool on) noexcept { m_observing.store(on, std::memory_order_relaxed); }

  // One run of the reader. Reader's thread only. Allocates nothing, never throws. True when it
  // took everything the driver had; false when it stopped at a full ring, with frames perhaps
  // still waiting in the driver (the next run should come soon, not only on new frames).
  bool runOnce() noexcept {
    if (!m_haveTickBase) {
      m_tickBase = m_clock.tickMs();
      m_haveTickBase = true;
    }
    for (;;) {
      RingSlot* slot = m_ring.producerSlot();
      if (slot == nullptr) return false;                  // full: frames stay in the driver
      if (m_driver.read(slot->frame) != can::kOk) return true;  // empty, closed or gone
      const bool observing = m_observing.load(std::memory_order_relaxed);
      const bool data = slot->frame.type == can::kMsgData;
      if (!data && !observing) continue;  // the slot is overwritten by the next read
      slot->receiveTime = m_clock.tickMs() - m_tickBase;
      slot->timeUs = m_micros();
      slot->order = observing ? nextFrameOrder() : 0;  // only the observer's merge orders by it
      slot->origin = FrameOrigin::kReceived;
      if (!data || m_handOver == nullptr || slot->frame.id != m_handOver->handOverId()) {
        m_ring.commit();
        continue;
      }
      const can::CanFrame frame = slot->frame;
      if (observing) {
        // Stored before it is handed over: once a waiting transfer sees its answer, and sends its
        // next request, the answer is in the ring ahead of anything received after the request.
        slot->origin = FrameOrigin::kHandedOver;
        m_ring.commit();
      }  // else the slot is reused by the next read
      m_handOver->takeFrame(frame);
    }
  }

  // One run, as the reader's thread routine (PeriodicTimer::startOnFrames): the next run comes
  // with new frames, or after retryMs when this one stopped at a full ring.
  PeriodicTimer::NextRun runScheduled(std::uint32_t retryMs) noexcept {
    if (runOnce()) return {PeriodicTimer::kIdleWakeMs, true};
    return {retryMs, false};
  }

  // The tick base taken on the first run. Reader's thread, or any thread once the periodic
  // timer that runs the reader has been stopped.
  std::uint32_t tickBase() const noexcept { return m_tickBase; }

 private:
  can::CanDriver& m_driver;
  RxRing& m_ring;
  Clock& m_clock;
  const MicroClock m_micros;
  FrameHandOver* m_handOver = nullptr;
  std::atomic<bool> m_observing{false};  // writer: the window thread (setObserving)
  // Reader's thread only:
  bool m_haveTickBase = false;
  std::uint32_t m_tickBase = 0;
};

}  // namespace bp::engine
