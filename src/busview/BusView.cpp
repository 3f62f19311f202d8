#include "busview/BusView.h"

#include <utility>

#include "busview/PdoValues.h"

namespace bp::busview {

BusView::BusView(std::size_t traceCapacity) : m_trace(traceCapacity) {}

void BusView::feed(const TraceFrame& frame) {
  const Decoded d = m_decoder.decode(frame.frame);
  m_trace.append(frame, d);
  const TraceFrame& kept = m_trace.byNumber(m_trace.totalSeen() - 1);
  if (m_nodes.feed(frame, d)) m_nodesChanged = true;
  if (frame.timeUs >= m_nextCheckUs) checkNodes(frame.timeUs);
  if (d.service == Service::Emcy) takeEmcy(kept, d);
  if (!m_latest.empty()) takePdo(kept);
  if (m_recorder.recording()) record(frame);
}

void BusView::checkNodes(std::uint64_t nowUs) {
  if (m_nodes.update(nowUs)) m_nodesChanged = true;
  m_nextCheckUs = nowUs + kNodeCheckUs;
}

void BusView::clear() {
  m_trace.clear();
  m_decoder.reset();
  m_nodes.clear();
  m_nodesChanged = true;
  m_nextCheckUs = 0;
  m_emcy.clear();
  m_emcyCount = 0;
  m_latest.assign(m_latest.size(), PdoLatest{});
  m_pdoChanged.assign(m_pdoChanged.size(), true);
  m_plots.clear();
}

std::string BusView::describeFrame(std::uint64_t n) const {
  const Decoded& d = m_trace.meaningByNumber(n);
  return describe(d, m_trace.byNumber(n).frame, isDrive(d.node));
}

void BusView::takeEmcy(const TraceFrame& kept, const Decoded& d) {
  m_emcy.push_back({kept.timeUs, d.node, emcyOf(kept.frame)});
  ++m_emcyCount;
  if (m_emcy.size() > kMaxEmergencies) m_emcy.pop_front();
}

void BusView::setPdos(PdoTable table) {
  m_pdos = std::move(table);
  m_latest.assign(m_pdos.pdos().size(), PdoLatest{});
  m_pdoChanged.assign(m_latest.size(), true);
  m_links.clear();
}

void BusView::takePdo(const TraceFrame& kept) {
  const PdoMapping* pdo = m_pdos.find(kept.frame);
  if (pdo == nullptr) return;
  const auto index = static_cast<std::size_t>(pdo - m_pdos.pdos().data());
  PdoLatest& latest = m_latest[index];
  latest.frame = kept.frame;
  latest.timeUs = kept.timeUs;
  ++latest.count;
  m_pdoChanged[index] = true;
  plot(index, kept, m_links);
}

// Adds the samples of the links among `links` that plot PDO `index` from its frame.
void BusView::plot(std::size_t index, const TraceFrame& kept, std::span<const PlotLink> links) {
  bool plotted = false;
  for (const PlotLink& link : links) plotted = plotted || link.pdo == index;
  if (!plotted) return;
  const DecodedPdo values = splitPdo(m_pdos.pdos()[index], kept.frame, m_decimalSep);
  const double seconds = static_cast<double>(kept.timeUs) / 1e6;
  for (const PlotLink& link : links)
    if (link.pdo == index && link.object < values.values.size())
      m_plots.add(link.series, seconds, values.values[link.object].number);
}

void BusView::plotHistory(const PlotLink& link) {
  for (std::uint64_t n = m_trace.firstNumber(); n < m_trace.totalSeen(); ++n) {
    const TraceFrame& kept = m_trace.byNumber(n);
    const PdoMapping* pdo = m_pdos.find(kept.frame);
    if (pdo != nullptr && static_cast<std::size_t>(pdo - m_pdos.pdos().data()) == link.pdo)
      plot(link.pdo, kept, std::span(&link, 1));
  }
}

std::vector<std::size_t> BusView::takeChangedPdos() {
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < m_pdoChanged.size(); ++i)
    if (m_pdoChanged[i]) changed.push_back(i);
  m_pdoChanged.assign(m_pdoChanged.size(), false);
  return changed;
}

void BusView::record(const TraceFrame& frame) {
  try {
    m_recorder.record(frame);
  } catch (const std::exception& e) {
    m_recordError = e.what();
  }
}

void BusView::pollRecorder() {
  try {
    m_recorder.poll();
  } catch (const std::exception& e) {
    m_recordError = e.what();
  }
}

}  // namespace bp::busview
