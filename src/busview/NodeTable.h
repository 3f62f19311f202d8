#pragma once
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "busview/Decoder.h"
#include "busview/TraceFrame.h"

namespace bp::busview {

// What the Bus view knows of one node, from the frames it heard.
struct NodeRow {
  std::uint8_t node = 0;
  std::int16_t state = -1;             // NMT state byte last reported (toggle removed); -1: none yet
  std::uint64_t lastHeardUs = 0;       // the latest frame of the node (see NodeTable::feed)
  std::uint64_t heartbeatPeriodUs = 0; // between its last two heartbeats; 0 until measured
  bool lost = false;                   // silent too long, or a guarding request went unanswered
  bool back = false;                   // was lost and has been heard again since
  std::uint32_t losses = 0;            // how often it was found lost
};

// One row per node heard (boot-up, heartbeat, guarding answer, EMCY, SDO answer), fed the trace
// frame by frame with their decoded meaning, on the caller's clock: deterministic, no real time.
// A heartbeat producer is lost when update() finds it silent beyond 1.5 times its measured period;
// a guarded node is lost when a guarding request finds the one before still unanswered. One thread.
class NodeTable {
 public:
  // Takes one frame (in bus order). True when a row was added or changed its state, lost or back.
  bool feed(const TraceFrame& tf, const Decoded& d);
  // Checks the heartbeat producers at `nowUs` (same clock as the frames). True when one got lost.
  bool update(std::uint64_t nowUs);
  // Forgets every node.
  void clear();

  // The rows, by node ID.
  std::vector<NodeRow> rows() const;
  // The row of `node`, or nullptr when it was not heard.
  const NodeRow* row(int node) const;

 private:
  struct Node {
    NodeRow row;
    bool heard = false;
    bool guardPending = false;
    std::uint64_t lastHeartbeatUs = 0;
    bool heartbeatSeen = false;
  };
  bool heardAlive(Node& n, std::uint64_t timeUs);
  static void markLost(Node& n);

  std::array<Node, 128> m_nodes{};
};

// The State column's text: "lost" for a lost node, else nmtStateName of its state ("" unknown).
std::string_view stateText(const NodeRow& row) noexcept;

}  // namespace bp::busview
