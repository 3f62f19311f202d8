#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bp::busview {

// The objects the Bus view reads by SDO again and again to plot them, each at its own period. It
// keeps no clock: the caller passes the time (milliseconds, from any fixed start) to due().
class PollSchedule {
 public:
  struct Entry {
    std::uint16_t index;
    std::uint8_t subIndex;
    std::uint32_t periodMs;
    int series;  // the PlotData series the values go to
  };

  // Polls the object every `periodMs` (at least 1), first at the next due(). An object already
  // there takes the new period and series and is due at once.
  void add(std::uint16_t index, std::uint8_t subIndex, std::uint32_t periodMs, int series);
  void remove(std::uint16_t index, std::uint8_t subIndex);
  void clear() { m_slots.clear(); }
  std::size_t size() const noexcept { return m_slots.size(); }

  // The entries due at `nowMs`, in the order they were added. Each is next due one period after
  // the time it was due; when the caller came a period or more late, one period after `nowMs`,
  // so missed polls never pile up.
  std::vector<Entry> due(std::uint64_t nowMs);

 private:
  struct Slot {
    Entry entry;
    bool started = false;  // false: due at the next call
    std::uint64_t nextMs = 0;
  };
  std::vector<Slot> m_slots;
};

}  // namespace bp::busview
