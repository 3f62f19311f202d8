#pragma once
#include <cstdint>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "can/CanFrame.h"
#include "engine/RxRing.h"

namespace bp::engine {

// One row of the frame monitor, one per identifier seen since start.
struct MonitorRow {
  can::CanFrame last;                 // the last frame taken for this identifier; its id is the key
  std::uint32_t sampleTime = 0;  // receive time at the last period sample
  std::int32_t period = 0;       // difference of the last two sample times (ten frames)
  std::uint64_t count = 0;       // frames taken; 64 bits never wrap on any bus
};

// The consumer side of the receive ring, on the window thread. Its rows are read-only outside;
// what changed since the window last looked is kept here, not in the rows.
class FrameMonitor {
 public:
  // Takes every stored frame out of the ring into the rows (new identifiers append a row).
  // Window thread only: the one writer of the ring's tail. Called on every monitor tick and,
  // while an SDO transfer waits, on every pass of its wait; rows made or changed between two
  // looks of the window are all reported by the next takeChanges.
  void drain(RxRing& ring);

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

  std::vector<MonitorRow> m_rows;                          // in order of creation
  std::unordered_map<std::uint32_t, std::size_t> m_index;  // identifier -> its row in m_rows
  std::vector<std::size_t> m_changed;                      // rows changed since the last look
  std::vector<bool> m_inChanged;                           // per row: listed in m_changed
};

}  // namespace bp::engine
