#pragma once
#include <cstdint>
#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "can/CanFrame.h"
#include "engine/RxRing.h"
#include "engine/TappedDriver.h"

namespace bp::engine {

// One row of the frame monitor, one per identifier seen since start.
struct MonitorRow {
  can::CanFrame last;                 // the last frame taken for this identifier; its id is the key
  std::uint32_t sampleTime = 0;  // receive time at the last period sample
  std::int32_t period = 0;       // difference of the last two sample times (ten frames)
  std::uint64_t count = 0;       // frames taken; 64 bits never wrap on any bus
};

// Sees every frame the window takes, on the window thread, before its slot is released.
using FrameObserver = std::function<void(const RingSlot&)>;

// The consumer side of the receive ring, on the window thread. Its rows are read-only outside;
// what changed since the window last looked is kept here, not in the rows.
class FrameMonitor {
 public:
  // Takes every stored frame out of the ring into the rows (new identifiers append a row), except
  // frames handed over by the reader (kHandedOver), which are never rows.
  // Window thread only: the one writer of the ring's tail. Called on every monitor tick and,
  // while an SDO transfer waits, on every pass of its wait; rows made or changed between two
  // looks of the window are all reported by the next takeChanges.
  // With an observer set, it also sees every slot, handed-over ones included, and the frames the
  // tool wrote (setSentFrames) merged in by steadyMicros time, and within one microsecond by
  // nextFrameOrder: a sent frame comes before every received frame stamped after it (an answer
  // never comes before its request, nor the next request before the answer). The sent frames
  // left when the ring is empty follow at the end of the drain, so a frame received microseconds
  // before one of them, but stored only after the ring was found empty, may come after it.
  void drain(RxRing& ring);

  // Window thread. Sets (or, empty, removes) the observer (Session::observeFrames). Without one,
  // drain costs one test per frame more than the rows.
  void setObserver(FrameObserver observer);
  // Where the frames the tool writes are kept (Session wires its TappedDriver); may be null.
  void setSentFrames(TappedDriver* sent) noexcept { m_sent = sent; }

  // Puts into `changed` the indices of the rows created or changed since the last call, each
  // once, in the order of their first change, and starts a new record. The two vectors trade
  // places: once both have held every row, no call allocates.
  void takeChanges(std::vector<std::size_t>& changed);

  const std::vector<MonitorRow>& rows() const noexcept { return m_rows; }

  // Texts of a row's columns.
  static std::string captionText(const MonitorRow& row);  // "0x%03X"
  static std::string lengthText(const MonitorRow& row);
  static std::string dataText(const MonitorRow& row);     // "%02X" bytes, one blank between
  static std::string periodText(const MonitorRow& row);   // empty before the second sample
  static std::string countText(const MonitorRow& row);

 private:
  // The row of this identifier, appended when it is new.
  std::size_t rowOf(std::uint32_t id);
  void takeIntoRow(const RingSlot& slot);
  // drain with an observer; the sent frames kept since the last look (returns the look's time);
  // the observer's pass over the sent frames of the batch stamped before `received` (all: null).
  void drainObserved(RxRing& ring);
  std::uint64_t lookAtSent();
  void passSentBefore(const RingSlot* received);

  std::vector<MonitorRow> m_rows;                          // in order of creation
  std::unordered_map<std::uint32_t, std::size_t> m_index;  // identifier -> its row in m_rows
  std::vector<std::size_t> m_changed;                      // rows changed since the last look
  std::vector<bool> m_inChanged;                           // per row: listed in m_changed
  FrameObserver m_observer;
  TappedDriver* m_sent = nullptr;
  std::vector<RingSlot> m_sentBatch;  // sent frames taken, not yet passed to the observer
  std::size_t m_sentNext = 0;         // the first of them not yet passed
};

}  // namespace bp::engine
