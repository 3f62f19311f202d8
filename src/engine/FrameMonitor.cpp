#include "engine/FrameMonitor.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

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
  const auto [it, added] = m_index.try_emplace(id, m_rows.size());
  if (added) {
    m_rows.emplace_back();  // sample time and count start at 0
    m_inChanged.push_back(false);
  }
  return it->second;
}

namespace {
// The rows are the 11-bit data frames received; handed-over answers and the frames stored only for
// the observer pass them by.
bool isRowFrame(const RingSlot& slot) noexcept {
  return slot.origin != FrameOrigin::kHandedOver && slot.frame.type == can::kMsgData;
}
}  // namespace

void FrameMonitor::takeIntoRow(const RingSlot& slot) {
  const std::size_t i = rowOf(slot.frame.id);
  MonitorRow& row = m_rows[i];
  row.last = slot.frame;
  if (row.count % kFramesPerSample == 0) {
    // Both wrap like the tick count they come from; the difference of two receive times is
    // the interval even across a wrap.
    row.period = static_cast<std::int32_t>(slot.receiveTime - row.sampleTime);
    row.sampleTime = slot.receiveTime;
  }
  ++row.count;
  if (!m_inChanged[i]) {
    m_inChanged[i] = true;
    m_changed.push_back(i);
  }
}

void FrameMonitor::drain(RxRing& ring) {
  if (m_observer) {
    drainObserved(ring);
    return;
  }
  while (const RingSlot* slot = ring.front()) {
    if (isRowFrame(*slot)) takeIntoRow(*slot);
    ring.pop();  // the slot is finished with: the reader may reuse it
  }
}

void FrameMonitor::drainObserved(RxRing& ring) {
  std::uint64_t lookedAt = lookAtSent();
  while (const RingSlot* slot = ring.front()) {
    // Frames written before this one was received, or in its microsecond, are all kept by now:
    // look again.
    if (slot->timeUs >= lookedAt) lookedAt = lookAtSent();
    passSentBefore(slot);
    m_observer(*slot);
    if (isRowFrame(*slot)) takeIntoRow(*slot);
    ring.pop();
  }
  passSentBefore(nullptr);
}

std::uint64_t FrameMonitor::lookAtSent() {
  return m_sent != nullptr ? m_sent->takeSent(m_sentBatch) : UINT64_MAX;
}

namespace {
// Whether `sent` was stamped before `received`: by time, and within one microsecond by the order
// of stamping (the counter wraps; frames of one microsecond are far fewer than 2^15).
bool stampedBefore(const RingSlot& sent, const RingSlot& received) noexcept {
  if (sent.timeUs != received.timeUs) return sent.timeUs < received.timeUs;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(sent.order - received.order)) < 0;
}
}  // namespace

void FrameMonitor::passSentBefore(const RingSlot* received) {
  while (m_sentNext < m_sentBatch.size() &&
         (received == nullptr || stampedBefore(m_sentBatch[m_sentNext], *received)))
    m_observer(m_sentBatch[m_sentNext++]);
  if (m_sentNext == m_sentBatch.size()) {
    m_sentBatch.clear();
    m_sentNext = 0;
  }
}

void FrameMonitor::setObserver(FrameObserver observer) {
  m_observer = std::move(observer);
  m_sentBatch.clear();
  m_sentNext = 0;
}

void FrameMonitor::takeChanges(std::vector<std::size_t>& changed) {
  changed.swap(m_changed);
  m_changed.clear();
  for (const std::size_t i : changed) m_inChanged[i] = false;
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
