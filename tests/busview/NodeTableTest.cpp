// The Bus view's node table: rows of the nodes heard, NMT states, the measured heartbeat period,
// lost and back, all on the test's clock.
#include "busview/NodeTable.h"

#include <gtest/gtest.h>

#include "support/FrameText.h"

namespace bp::busview {
namespace {

constexpr std::uint64_t kMs = 1000;

class NodeTableTest : public ::testing::Test {
 protected:
  // Decodes the frame as the Bus view does and feeds it at `timeUs`; the table's answer.
  bool hear(const char* text, std::uint64_t timeUs) {
    const TraceFrame tf{timeUs, test::frame(text), Direction::Received};
    return table.feed(tf, decoder.decode(tf.frame));
  }
  std::string_view state(int node) const {
    const NodeRow* row = table.row(node);
    return row == nullptr ? "no row" : stateText(*row);
  }

  Decoder decoder;
  NodeTable table;
};

TEST_F(NodeTableTest, RowsOfNodesHeardWithTheirStates) {
  const std::pair<const char*, std::string_view> kSteps[] = {
      {"705#00", "Boot-up"},         {"705#7F", "Pre-operational"}, {"705#05", "Operational"},
      {"705#04", "Stopped"},         {"705#R", "Stopped"},          {"705#85", "Operational"},
  };
  std::uint64_t t = 0;
  for (const auto& [frame, want] : kSteps) {
    SCOPED_TRACE(frame);
    hear(frame, t += 10 * kMs);
    EXPECT_EQ(state(5), want);
    EXPECT_EQ(table.row(5)->lastHeardUs, frame[4] == 'R' ? t - 10 * kMs : t);
  }
  // EMCY and SDO answers add a row without a state; PDOs, requests and NMT commands add none.
  EXPECT_TRUE(hear("083#0000000000000000", 100 * kMs));
  EXPECT_TRUE(hear("587#6000100000000000", 110 * kMs));
  EXPECT_FALSE(hear("189#00", 120 * kMs));
  EXPECT_FALSE(hear("609#4000100000000000", 130 * kMs));
  EXPECT_FALSE(hear("000#0109", 140 * kMs));
  EXPECT_FALSE(hear("70A#R", 150 * kMs));
  EXPECT_FALSE(hear("70A#R", 160 * kMs));
  EXPECT_EQ(state(3), "");
  EXPECT_EQ(table.row(7)->lastHeardUs, 110 * kMs);
  std::vector<int> nodes;
  for (const NodeRow& r : table.rows()) nodes.push_back(r.node);
  EXPECT_EQ(nodes, (std::vector<int>{3, 5, 7}));
  table.clear();
  EXPECT_TRUE(table.rows().empty());
}

TEST_F(NodeTableTest, HeartbeatSilentBeyondOneAndAHalfPeriodsIsLostThenBack) {
  EXPECT_TRUE(hear("705#05", 0));
  EXPECT_FALSE(hear("705#05", 100 * kMs));
  EXPECT_FALSE(hear("705#05", 200 * kMs));
  EXPECT_EQ(table.row(5)->heartbeatPeriodUs, 100 * kMs);
  EXPECT_FALSE(table.update(350 * kMs));  // exactly 1.5 periods: not yet
  EXPECT_EQ(state(5), "Operational");
  EXPECT_TRUE(table.update(350 * kMs + 1));
  EXPECT_EQ(state(5), "lost");
  EXPECT_FALSE(table.update(900 * kMs));  // lost once, reported once

  EXPECT_TRUE(hear("705#05", 1000 * kMs));
  const NodeRow& row = *table.row(5);
  EXPECT_FALSE(row.lost);
  EXPECT_TRUE(row.back);
  EXPECT_EQ(row.losses, 1u);
  // Neither the silence nor the period before it holds: measured afresh (a short first interval
  // after a restart would otherwise keep the node flapping between lost and back).
  EXPECT_EQ(row.heartbeatPeriodUs, 0u);
  EXPECT_FALSE(table.update(1110 * kMs));
  EXPECT_EQ(state(5), "Operational");
  hear("705#05", 1120 * kMs);
  EXPECT_EQ(row.heartbeatPeriodUs, 120 * kMs);
  EXPECT_TRUE(table.update(1300 * kMs + 1));
  EXPECT_FALSE(table.row(5)->back);
  EXPECT_EQ(table.row(5)->losses, 2u);
}

TEST_F(NodeTableTest, BootUpRestartsTheHeartbeatMeasurement) {
  hear("705#05", 0);
  hear("705#05", 100 * kMs);
  EXPECT_TRUE(table.update(300 * kMs));
  EXPECT_TRUE(hear("705#00", 400 * kMs));
  EXPECT_TRUE(table.row(5)->back);
  EXPECT_EQ(table.row(5)->heartbeatPeriodUs, 0u);
  EXPECT_FALSE(table.update(10'000 * kMs));  // no period: nothing to miss
  EXPECT_EQ(state(5), "Boot-up");
}

TEST_F(NodeTableTest, GuardingRequestWithoutAnswerByTheNextIsLost) {
  hear("705#R", 0);
  hear("705#7F", 5 * kMs);
  EXPECT_FALSE(hear("705#R", 100 * kMs));
  EXPECT_FALSE(table.row(5)->lost);
  hear("705#FF", 105 * kMs);
  EXPECT_FALSE(hear("705#R", 200 * kMs));
  EXPECT_TRUE(hear("705#R", 300 * kMs));  // the answer to 200 ms never came
  EXPECT_EQ(state(5), "lost");
  EXPECT_FALSE(hear("705#R", 400 * kMs));
  EXPECT_TRUE(hear("705#7F", 405 * kMs));
  EXPECT_EQ(state(5), "Pre-operational");
  EXPECT_TRUE(table.row(5)->back);
  EXPECT_EQ(table.row(5)->losses, 1u);
  EXPECT_EQ(table.row(5)->heartbeatPeriodUs, 0u);  // guarding answers are no heartbeats
}

}  // namespace
}  // namespace bp::busview
