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
  bool changed = false;          // a frame was taken since the row was last shown
};

// The consumer side of the receive ring, on the window thread.
class FrameMonitor {
 public:
  // Takes every stored frame out of the ring into the rows (new identifiers append a row).
  // Window thread only: the one writer of the ring's tail. Called on every monitor tick and,
  // while an SDO transfer waits, on every pass of its wait; rows made between two ticks are
  // shown by the next one.
  void drain(RxRing& ring);

  std::vector<MonitorRow>& rows() noexcept { return m_rows; }
  const std::vector<MonitorRow>& rows() const noexcept { return m_rows; }

  // Texts of a row's columns.
  static std::string captionText(const MonitorRow& row);  // "0x%03X"
  static std::string lengthText(const MonitorRow& row);
  static std::string dataText(const MonitorRow& row);     // "%02X" bytes, one blank between
  static std::string periodText(const MonitorRow& row);   // empty before the second sample
  static std::string countText(const MonitorRow& row);

 private:
  static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);
  // The first row in list order whose last frame has this identifier, or kNoRow.
  std::size_t rowOf(std::uint32_t id);
  void rebuildIndex();

  std::vector<MonitorRow> m_rows;                         // in order of creation
  std::unordered_map<std::uint32_t, std::size_t> m_index;  // identifier -> its row in m_rows
  std::size_t m_indexedRows = 0;                          // rows covered by m_index
};

}  // namespace bp::engine
