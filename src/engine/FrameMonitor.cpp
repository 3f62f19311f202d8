#include "engine/FrameMonitor.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace bp::engine {

namespace {

// Frames of an identifier between two period samples.
constexpr std::uint64_t kFramesPerSample = 10;

template <typename Integer>
std::string decimal(Integer value) {
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  (void)ec;  // 24 characters hold every 64-bit value
  return std::string(buf, end);
}

}  // namespace

std::size_t FrameMonitor::rowOf(std::uint32_t id) {
  // The index only speeds up "the first row in list order with this identifier". A hit is
  // checked against the row; a miss (a new identifier, once per identifier) or a stale hit, which
  // only rows changed from outside can cause, falls back to the linear search.
  if (m_indexedRows != m_rows.size()) rebuildIndex();
  if (const auto it = m_index.find(id);
      it != m_index.end() && it->second < m_rows.size() && m_rows[it->second].last.id == id)
    return it->second;
  const auto found = std::find_if(m_rows.begin(), m_rows.end(),
                                  [id](const MonitorRow& r) { return r.last.id == id; });
  if (found == m_rows.end()) return kNoRow;
  const auto i = static_cast<std::size_t>(found - m_rows.begin());
  m_index.insert_or_assign(id, i);
  return i;
}

void FrameMonitor::rebuildIndex() {
  m_index.clear();
  for (std::size_t i = 0; i < m_rows.size(); ++i) m_index.try_emplace(m_rows[i].last.id, i);  // first wins
  m_indexedRows = m_rows.size();
}

void FrameMonitor::drain(RxRing& ring) {
  while (const RingSlot* slot = ring.front()) {
    std::size_t i = rowOf(slot->frame.id);
    if (i == kNoRow) {
      m_rows.emplace_back();  // sample time and count start at 0
      i = m_rows.size() - 1;
      m_index.try_emplace(slot->frame.id, i);
      m_indexedRows = m_rows.size();
    }
    MonitorRow& row = m_rows[i];
    row.last = slot->frame;
    if (row.count % kFramesPerSample == 0) {
      // Both wrap like the tick count they come from; the difference of two receive times is
      // the interval even across a wrap.
      row.period = static_cast<std::int32_t>(slot->receiveTime - row.sampleTime);
      row.sampleTime = slot->receiveTime;
    }
    ++row.count;
    row.changed = true;
    ring.pop();  // the slot is finished with: the reader may reuse it
  }
}

std::string FrameMonitor::captionText(const MonitorRow& row) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%03X", static_cast<unsigned>(row.last.id));
  return buf;
}

std::string FrameMonitor::lengthText(const MonitorRow& row) { return decimal(row.last.len); }

std::string FrameMonitor::dataText(const MonitorRow& row) {
  // A record that claims more than 8 bytes shows the 8 it has.
  const std::size_t n = std::min<std::size_t>(row.last.len, row.last.data.size());
  std::string text;
  text.reserve(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", static_cast<unsigned>(row.last.data[i]));
    text += buf;
  }
  return text;
}

std::string FrameMonitor::periodText(const MonitorRow& row) {
  // The first sample is taken at the identifier's first frame and measures from the reader's
  // start, not an interval: nothing is shown until the second sample (the 11th frame).
  if (row.count <= kFramesPerSample) return {};
  // A tenth of the period, halves rounded away from zero, in integers: 155 -> 16, -155 -> -16.
  const std::int64_t p = row.period;
  const std::int64_t tenth = p >= 0 ? (p + 5) / 10 : -((-p + 5) / 10);
  return decimal(tenth);
}

std::string FrameMonitor::countText(const MonitorRow& row) { return decimal(row.count); }

}  // namespace bp::engine
