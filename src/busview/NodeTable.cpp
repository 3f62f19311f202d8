#include "busview/NodeTable.h"

namespace bp::busview {

bool NodeTable::feed(const TraceFrame& tf, const Decoded& d) {
  if (d.node == 0 || d.node >= m_nodes.size()) return false;
  Node& n = m_nodes[d.node];
  switch (d.service) {
    case Service::GuardRequest: {
      // The answer to the previous request never came.
      const bool lost = n.heard && n.guardPending && !n.row.lost;
      if (lost) markLost(n);
      n.guardPending = true;
      return lost;
    }
    case Service::Emcy:
    case Service::SdoAnswer: {
      const bool added = !n.heard;
      n.heard = true;
      n.row.node = d.node;
      n.row.lastHeardUs = tf.timeUs;
      return added;
    }
    case Service::BootUp:
    case Service::Heartbeat:
    case Service::GuardAnswer: break;
    default: return false;
  }
  bool changed = heardAlive(n, tf.timeUs);
  if (tf.frame.len > 0) {
    const std::int16_t state = tf.frame.data[0] & 0x7F;
    changed = changed || state != n.row.state;
    n.row.state = state;
  }
  if (d.service == Service::GuardAnswer) n.guardPending = false;
  if (d.service == Service::BootUp) {
    // A restarted node may produce heartbeats at another period, or none: measure afresh.
    n.row.heartbeatPeriodUs = 0;
    n.heartbeatSeen = false;
  }
  if (d.service == Service::Heartbeat) {
    if (n.heartbeatSeen && tf.timeUs > n.lastHeartbeatUs)
      n.row.heartbeatPeriodUs = tf.timeUs - n.lastHeartbeatUs;
    n.lastHeartbeatUs = tf.timeUs;
    n.heartbeatSeen = true;
  }
  return changed;
}

// A frame that shows the node alive: adds its row, or brings it back when it was lost.
bool NodeTable::heardAlive(Node& n, std::uint64_t timeUs) {
  bool changed = !n.heard;
  n.heard = true;
  n.row.node = static_cast<std::uint8_t>(&n - m_nodes.data());
  n.row.lastHeardUs = timeUs;
  if (n.row.lost) {
    n.row.lost = false;
    n.row.back = true;
    // The silence is no period, and the period before it may be gone with a restart or a new
    // setting: measured afresh, or the node would flap between lost and back.
    n.heartbeatSeen = false;
    n.row.heartbeatPeriodUs = 0;
    changed = true;
  }
  return changed;
}

void NodeTable::markLost(Node& n) {
  n.row.lost = true;
  n.row.back = false;
  ++n.row.losses;
}

bool NodeTable::update(std::uint64_t nowUs) {
  bool changed = false;
  for (Node& n : m_nodes) {
    const std::uint64_t period = n.row.heartbeatPeriodUs;
    if (!n.heard || n.row.lost || period == 0 || nowUs <= n.lastHeartbeatUs) continue;
    if (nowUs - n.lastHeartbeatUs <= period + period / 2) continue;
    markLost(n);
    changed = true;
  }
  return changed;
}

void NodeTable::clear() { m_nodes = {}; }

std::vector<NodeRow> NodeTable::rows() const {
  std::vector<NodeRow> out;
  for (const Node& n : m_nodes)
    if (n.heard) out.push_back(n.row);
  return out;
}

const NodeRow* NodeTable::row(int node) const {
  if (node < 0 || node >= static_cast<int>(m_nodes.size())) return nullptr;
  const Node& n = m_nodes[static_cast<std::size_t>(node)];
  return n.heard ? &n.row : nullptr;
}

std::string_view stateText(const NodeRow& row) noexcept {
  if (row.lost) return "lost";
  return row.state < 0 ? std::string_view{} : nmtStateName(static_cast<std::uint8_t>(row.state));
}

}  // namespace bp::busview
