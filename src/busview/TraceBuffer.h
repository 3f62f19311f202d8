#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "busview/Decoder.h"
#include "busview/TraceFrame.h"
#include "engine/RxRing.h"

namespace bp::busview {

// The Bus view's history: the last `capacity` frames with their decoded meaning, oldest first, for
// the trace's list. Window thread only. The frames are allocated once, when it is made: 36 bytes a
// frame (the frame and its 4-byte meaning), 36 MiB for the default 1,048,576. Appending is O(1) and never allocates; when full, the
// oldest frame goes and is counted in dropped().
//
// Times: append keeps each frame's time as microseconds from the first frame appended since
// construction or clear(); a frame stamped earlier than that first one gets 0.
//
// Pause freezes what the list shows, not the recording: while paused, size() and at() keep to the
// frames appended before the pause, and frames arriving meanwhile are kept behind them (and
// counted in totalSeen()), shown when the pause ends. The oldest frames still go when the buffer
// is full, shown or not, so nothing recent is lost by pausing; a pause longer than the buffer
// holds (about 50 s of a saturated 1 Mbit/s bus) empties the frozen list from the top.
class TraceBuffer {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

  explicit TraceBuffer(std::size_t capacity = kDefaultCapacity);  // capacity at least 1
  TraceBuffer(const TraceBuffer&) = delete;
  TraceBuffer& operator=(const TraceBuffer&) = delete;

  void append(const TraceFrame& frame, const Decoded& meaning = {}) noexcept;

  // The frames the list shows (see pause), oldest first; at(0) is the oldest, i < size().
  std::size_t size() const noexcept;
  const TraceFrame& at(std::size_t i) const noexcept { return byNumber(firstNumber() + i); }

  // Frames by running number: frame n is the n-th appended since clear(); the buffer holds the
  // numbers firstNumber() .. totalSeen()-1, and the list shows those below shownEnd().
  std::uint64_t firstNumber() const noexcept { return dropped(); }
  std::uint64_t shownEnd() const noexcept { return m_paused ? m_pauseEnd : m_total; }
  const TraceFrame& byNumber(std::uint64_t n) const noexcept { return m_frames[slotOf(n)]; }
  const Decoded& meaningByNumber(std::uint64_t n) const noexcept { return m_meanings[slotOf(n)]; }
  // The source time of the first frame: times in the buffer count from it.
  std::uint64_t originUs() const noexcept { return m_originUs; }

  std::uint64_t totalSeen() const noexcept { return m_total; }  // appended since clear()
  std::uint64_t dropped() const noexcept { return m_total - held(); }  // pushed out as oldest
  std::size_t capacity() const noexcept { return m_capacity; }

  void setPaused(bool paused) noexcept;
  bool paused() const noexcept { return m_paused; }

  // Forgets every frame and starts counting and timing afresh; a pause goes on (showing nothing
  // before the frames that come after).
  void clear() noexcept;

 private:
  std::size_t slotOf(std::uint64_t n) const noexcept { return static_cast<std::size_t>(n % m_capacity); }
  std::size_t held() const noexcept { return m_total < m_capacity ? static_cast<std::size_t>(m_total) : m_capacity; }

  const std::size_t m_capacity;
  const std::unique_ptr<TraceFrame[]> m_frames;   // frame n in slot n % capacity
  const std::unique_ptr<Decoded[]> m_meanings;    // beside its frame
  std::uint64_t m_total = 0;       // frames appended since clear(); frame n is the n-th of them
  std::uint64_t m_originUs = 0;    // the source time of frame 0
  bool m_paused = false;
  std::uint64_t m_pauseEnd = 0;    // while paused: frames appended before the pause
};

// A frame the monitor's observer sees, as the Bus view keeps it (source time: steadyMicros).
TraceFrame traceFrameOf(const engine::RingSlot& slot) noexcept;

}  // namespace bp::busview
