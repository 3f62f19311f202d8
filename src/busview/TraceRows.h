#pragma once
// The rows of the trace list: the frames of the history that pass the filter. No Qt; window thread.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "busview/Decoder.h"
#include "busview/TraceBuffer.h"

namespace bp::busview {

// Which frames the trace list shows; every part left empty lets every frame pass.
struct TraceFilter {
  std::optional<std::uint8_t> node;     // the frame's node (Decoded::node); 0 for frames of no node
  std::optional<Service> service;
  std::optional<std::uint32_t> id;      // the frame's identifier
  bool passesAll() const noexcept { return !node && !service && !id; }
  bool passes(const TraceFrame& f, const Decoded& d) const noexcept;
};

// How the rows changed since the last look: `removed` rows went from the top (the oldest frames,
// pushed out of the history), then `added` rows came at the end.
struct RowChange {
  std::size_t removed = 0;
  std::size_t added = 0;
  bool any() const noexcept { return removed != 0 || added != 0; }
};

// Row i of the list is the frame numbered number(i) in the history. Without a filter the rows are
// the history's shown frames themselves; with one, the numbers of the frames that pass are kept,
// each frame looked at once. Follows the history's pause: rows end where its shown frames end.
class TraceRows {
 public:
  // A new filter: the rows are found afresh from the whole history (at most its capacity).
  void setFilter(const TraceFilter& filter, const TraceBuffer& history);
  const TraceFilter& filter() const noexcept { return m_filter; }
  // Takes in what the history gained and lost since the last call (or setFilter).
  RowChange update(const TraceBuffer& history);
  // Forgets the rows (the history was cleared).
  void reset();

  std::size_t size() const noexcept { return m_size; }
  std::uint64_t number(std::size_t row) const noexcept {
    return m_filter.passesAll() ? m_first + row : m_numbers[row];
  }

 private:
  std::size_t countShown(const TraceBuffer& history) const;

  TraceFilter m_filter;
  std::deque<std::uint64_t> m_numbers;  // with a filter: the passing frames' numbers, ascending
  std::uint64_t m_scanned = 0;          // frames below this number were looked at
  std::uint64_t m_first = 0;            // the history's first number at the last look
  std::size_t m_size = 0;               // rows at the last look
};

}  // namespace bp::busview
