#include "busview/PollSchedule.h"

#include <algorithm>

namespace bp::busview {

void PollSchedule::add(std::uint16_t index, std::uint8_t subIndex, std::uint32_t periodMs, int series) {
  const Entry entry{index, subIndex, std::max<std::uint32_t>(periodMs, 1), series};
  for (Slot& slot : m_slots) {
    if (slot.entry.index == index && slot.entry.subIndex == subIndex) {
      slot = Slot{entry};
      return;
    }
  }
  m_slots.push_back(Slot{entry});
}

void PollSchedule::remove(std::uint16_t index, std::uint8_t subIndex) {
  std::erase_if(m_slots, [&](const Slot& s) { return s.entry.index == index && s.entry.subIndex == subIndex; });
}

std::vector<PollSchedule::Entry> PollSchedule::due(std::uint64_t nowMs) {
  std::vector<Entry> out;
  for (Slot& slot : m_slots) {
    const std::uint64_t dueMs = slot.started ? slot.nextMs : nowMs;
    if (dueMs > nowMs) continue;
    out.push_back(slot.entry);
    slot.started = true;
    slot.nextMs = dueMs + slot.entry.periodMs;
    if (slot.nextMs <= nowMs) slot.nextMs = nowMs + slot.entry.periodMs;
  }
  return out;
}

}  // namespace bp::busview
