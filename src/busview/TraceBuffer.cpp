#include "busview/TraceBuffer.h"

#include <algorithm>

namespace bp::busview {

TraceBuffer::TraceBuffer(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1)),
      m_frames(new TraceFrame[m_capacity]),
      m_meanings(new Decoded[m_capacity]) {}

void TraceBuffer::append(const TraceFrame& frame, const Decoded& meaning) noexcept {
  if (m_total == 0) m_originUs = frame.timeUs;
  const std::size_t slot = slotOf(m_total);
  TraceFrame& kept = m_frames[slot];
  kept = frame;
  kept.timeUs = frame.timeUs >= m_originUs ? frame.timeUs - m_originUs : 0;
  m_meanings[slot] = meaning;
  ++m_total;
}

std::size_t TraceBuffer::size() const noexcept {
  const std::uint64_t first = dropped();
  const std::uint64_t end = m_paused ? m_pauseEnd : m_total;
  return end > first ? static_cast<std::size_t>(end - first) : 0;
}

void TraceBuffer::setPaused(bool paused) noexcept {
  if (paused && !m_paused) m_pauseEnd = m_total;
  m_paused = paused;
}

void TraceBuffer::clear() noexcept {
  m_total = 0;
  m_pauseEnd = 0;
}

TraceFrame traceFrameOf(const engine::RingSlot& slot) noexcept {
  return {slot.timeUs, slot.frame,
          slot.origin == engine::FrameOrigin::kSent ? Direction::Sent : Direction::Received};
}

}  // namespace bp::busview
