#pragma once
// What the Bus view knows of the bus, fed frame by frame from the live bus or a log: the decoded
// history, the nodes, the emergencies, the selected node's PDOs and their plotted values, and the
// recording. No Qt; window thread (the monitor's observer runs there).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "busview/Decoder.h"
#include "busview/LogFiles.h"
#include "busview/NodeTable.h"
#include "busview/PdoMapping.h"
#include "busview/PlotData.h"
#include "busview/TraceBuffer.h"

namespace bp::busview {

// One emergency, as the log of emergencies lists it.
struct EmcyEntry {
  std::uint64_t timeUs = 0;  // trace time: from the history's first frame
  std::uint8_t node = 0;
  Emcy emcy;
};

// The latest frame of one PDO of the selected node.
struct PdoLatest {
  can::CanFrame frame{};
  std::uint64_t timeUs = 0;  // trace time
  std::uint64_t count = 0;   // frames since the table was set
};

// A mapped object drawn in the plot: object `object` of PDO `pdo` (indices into PdoTable::pdos()).
struct PlotLink {
  std::size_t pdo = 0;
  std::size_t object = 0;
  int series = 0;
};

class BusView {
 public:
  static constexpr std::size_t kMaxEmergencies = 10'000;
  // Heartbeat producers are checked this often on the frames' own clock (a log has no other).
  static constexpr std::uint64_t kNodeCheckUs = 10'000;

  explicit BusView(std::size_t traceCapacity = TraceBuffer::kDefaultCapacity);

  // Takes one frame, in bus order, stamped on the source's clock.
  void feed(const TraceFrame& frame);
  // Live: finds heartbeat producers silent too long at `nowUs` (the frames' clock).
  void checkNodes(std::uint64_t nowUs);
  // Forgets every frame, node, emergency, PDO frame and plotted sample (a new trace begins).
  void clear();

  TraceBuffer& trace() noexcept { return m_trace; }
  const TraceBuffer& trace() const noexcept { return m_trace; }
  const NodeTable& nodes() const noexcept { return m_nodes; }
  // True once after a node was added or changed its state, got lost or came back.
  bool takeNodesChanged() noexcept { return std::exchange(m_nodesChanged, false); }
  const std::deque<EmcyEntry>& emergencies() const noexcept { return m_emcy; }
  std::uint64_t emergencyCount() const noexcept { return m_emcyCount; }  // since clear()

  // The node whose EMCY codes also get their CiA 402 drive texts (0: none).
  void setDriveNode(std::uint8_t node) noexcept { m_driveNode = node; }
  bool isDrive(std::uint8_t node) const noexcept { return node != 0 && node == m_driveNode; }
  // The text of frame number `n` of the history.
  std::string describeFrame(std::uint64_t n) const;

  // The selected node's PDOs; their latest frames and plot links start afresh.
  void setPdos(PdoTable table);
  const PdoTable& pdos() const noexcept { return m_pdos; }
  const std::vector<PdoLatest>& latest() const noexcept { return m_latest; }
  // The PDOs that brought a frame since the last call, as indices into pdos().pdos().
  std::vector<std::size_t> takeChangedPdos();

  // The plot: its series and the mapped objects feeding them.
  PlotData& plots() noexcept { return m_plots; }
  const PlotData& plots() const noexcept { return m_plots; }
  void setPlotLinks(std::vector<PlotLink> links) { m_links = std::move(links); }
  // Plots what the history holds of a link's object (a new link over a log already read).
  void plotHistory(const PlotLink& link);
  const std::vector<PlotLink>& plotLinks() const noexcept { return m_links; }
  void setDecimalSeparator(char sep) noexcept { m_decimalSep = sep; }

  // The recording: every frame fed goes to it while it records. A write that fails stops it;
  // its error is kept for the window (feed never throws).
  LogRecorder& recorder() noexcept { return m_recorder; }
  void pollRecorder();
  std::optional<std::string> takeRecordError() { return std::exchange(m_recordError, std::nullopt); }

 private:
  void record(const TraceFrame& frame);
  void takeEmcy(const TraceFrame& kept, const Decoded& d);
  void takePdo(const TraceFrame& kept);
  void plot(std::size_t pdo, const TraceFrame& kept, std::span<const PlotLink> links);

  TraceBuffer m_trace;
  Decoder m_decoder;
  NodeTable m_nodes;
  bool m_nodesChanged = false;
  std::uint64_t m_nextCheckUs = 0;
  std::deque<EmcyEntry> m_emcy;
  std::uint64_t m_emcyCount = 0;
  std::uint8_t m_driveNode = 0;
  PdoTable m_pdos;
  std::vector<PdoLatest> m_latest;
  std::vector<bool> m_pdoChanged;  // per PDO: a frame came since takeChangedPdos
  PlotData m_plots;
  std::vector<PlotLink> m_links;
  char m_decimalSep = '.';
  LogRecorder m_recorder;
  std::optional<std::string> m_recordError;
};

}  // namespace bp::busview
