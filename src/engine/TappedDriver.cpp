#include "engine/TappedDriver.h"

namespace bp::engine {

TappedDriver::TappedDriver(can::CanDriver& adapter, MicroClock micros) : m_adapter(adapter), m_micros(micros) {}

std::uint32_t TappedDriver::write(const can::CanFrame& frame) {
  if (!m_tapping.load(std::memory_order_acquire)) return m_adapter.write(frame);
  const std::lock_guard lock(m_mutex);
  if (!m_tapping.load(std::memory_order_relaxed)) return m_adapter.write(frame);  // turned off meanwhile
  const std::uint64_t timeUs = m_micros();  // before the write: before any answer to it
  const std::uint16_t order = nextFrameOrder();
  const std::uint32_t result = m_adapter.write(frame);
  if (result != can::kOk) return result;  // not on the bus: not in the trace
  if (m_kept.size() == kCapacity) {
    m_dropped.fetch_add(1, std::memory_order_relaxed);
    return result;
  }
  RingSlot& slot = m_kept.emplace_back();  // within the reserved capacity: no allocation
  slot.frame = frame;
  slot.origin = FrameOrigin::kSent;
  slot.timeUs = timeUs;
  slot.order = order;
  return result;
}

void TappedDriver::setTapping(bool on) {
  const std::lock_guard lock(m_mutex);
  if (on) {
    m_kept.reserve(kCapacity);  // only while something observes: a program without it keeps none
  } else {
    std::vector<RingSlot>().swap(m_kept);
  }
  m_tapping.store(on, std::memory_order_release);
}

std::uint64_t TappedDriver::takeSent(std::vector<RingSlot>& out) {
  const std::lock_guard lock(m_mutex);
  out.insert(out.end(), m_kept.begin(), m_kept.end());
  m_kept.clear();
  return m_micros();
}

}  // namespace bp::engine
