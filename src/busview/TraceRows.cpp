#include "busview/TraceRows.h"

#include <algorithm>

namespace bp::busview {

bool TraceFilter::passes(const TraceFrame& f, const Decoded& d) const noexcept {
  return (!node || d.node == *node) && (!service || d.service == *service) && (!id || f.frame.id == *id);
}

void TraceRows::setFilter(const TraceFilter& filter, const TraceBuffer& history) {
  m_filter = filter;
  m_numbers.clear();
  m_scanned = history.firstNumber();
  m_first = history.firstNumber();
  m_size = 0;
  update(history);
}

void TraceRows::reset() {
  m_numbers.clear();
  m_scanned = m_first = 0;
  m_size = 0;
}

RowChange TraceRows::update(const TraceBuffer& history) {
  const std::uint64_t first = history.firstNumber();
  // Rows whose frames were pushed out of the history go from the top.
  std::size_t gone = 0;
  if (m_filter.passesAll()) {
    gone = static_cast<std::size_t>(std::max(first, m_first) - m_first);
  } else {
    while (!m_numbers.empty() && m_numbers.front() < first) {
      m_numbers.pop_front();
      ++gone;
    }
    for (std::uint64_t n = std::max(m_scanned, first); n < history.totalSeen(); ++n)
      if (m_filter.passes(history.byNumber(n), history.meaningByNumber(n))) m_numbers.push_back(n);
  }
  m_scanned = history.totalSeen();
  m_first = first;
  RowChange change;
  change.removed = std::min(gone, m_size);
  const std::size_t kept = m_size - change.removed;
  m_size = countShown(history);
  change.added = m_size > kept ? m_size - kept : 0;
  return change;
}

std::size_t TraceRows::countShown(const TraceBuffer& history) const {
  if (m_filter.passesAll()) return history.size();
  const auto end = std::lower_bound(m_numbers.begin(), m_numbers.end(), history.shownEnd());
  return static_cast<std::size_t>(end - m_numbers.begin());
}

}  // namespace bp::busview
