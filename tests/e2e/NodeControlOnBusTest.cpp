// NMT, node guarding, SYNC and the CiA 402 drive, driven through busprobe's driver and SDO engine
// against the simulated drive; what the node sends comes back through the reader and the ring.
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "e2e/SimNodeRig.h"
#include "nmt/NmtFrames.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

using NodeControlOnBus = SimNodeRig;

TEST_F(NodeControlOnBus, NmtResetBootsTheNodeAgain) {
  // The frame the NMT reset command of the tool sends, as the scenario writes it by hand.
  EXPECT_EQ(frameText(nmt::nmtCommandFrame(canopen::kNmtResetNode, kNode)), norm("000#81.05"));
  expectNmtResetsBootTheNodeAgain();
  EXPECT_EQ(node->nmtState(), sim::NmtState::kPreOperational);
}

struct DriveStep {
  const char* name;
  std::int32_t controlWord;
  std::uint32_t mask;
  std::uint32_t state;
};

TEST_F(NodeControlOnBus, Cia402SequenceEnablesTheDriveAndItMovesToTheTarget) {
  ASSERT_EQ(static_cast<std::uint32_t>(read(0x6041, 0).value) & kStateMaskShort, 0x40u)
      << "switch on disabled after power-on";
  const DriveStep steps[] = {
      {"shutdown: ready to switch on", 0x06, kStateMask, 0x21},
      {"switch on: switched on", 0x07, kStateMask, 0x23},
      {"enable operation: operation enabled", 0x0F, kStateMask, 0x27},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    write(0x6040, 0, s.controlWord);
    EXPECT_EQ(static_cast<std::uint32_t>(read(0x6041, 0).value) & s.mask, s.state);
  }

  // 3000 counts at 6000 counts/s: about half a second of motion, read as it goes.
  constexpr std::int32_t kTarget = 3000;
  write(0x6081, 0, 6000);
  write(0x607A, 0, kTarget);
  std::vector<std::int32_t> positions;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < until) {
    positions.push_back(read(0x6064, 0).value);
    if (positions.back() == kTarget) break;
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.back(), kTarget);
  int between = 0;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    EXPECT_GE(positions[i], 0);
    EXPECT_LE(positions[i], kTarget) << "never beyond the target";
    if (i > 0) {
      EXPECT_GE(positions[i], positions[i - 1]) << "moves one way";
    }
    if (positions[i] > 0 && positions[i] < kTarget) ++between;
  }
  EXPECT_GE(between, 1) << "the position moves over time rather than jumping to the target";

  // The same state and position travel in TPDO1 once the node is operational.
  const std::size_t mark = stored.size();
  nmt::sendNmtCommand(*session.driver, canopen::kNmtStart, kNode);
  nmt::sendSync(*session.driver);
  EXPECT_TRUE(waitForStored("185#27.00.B8.0B.00.00", mark));
}

TEST_F(NodeControlOnBus, SyncGivesTpdo1OnlyInOperationalState) { expectSyncAndGuardingFollowTheNmtCommands(); }

TEST_F(NodeControlOnBus, HeartbeatSetBySdoArrivesWithReceiveTimes) {
  drainRing();
  const std::size_t mark = stored.size();
  write(0x1017, 0, 20);  // producer heartbeat every 20 ms
  waitUntil(
      [&] {
        drainRing();
        return stored.size() >= mark + 5;
      },
      kPatience);
  write(0x1017, 0, 0);
  ASSERT_GE(stored.size(), mark + 5);
  for (std::size_t i = mark; i < mark + 5; ++i) {
    EXPECT_EQ(frameText(stored[i].frame), norm("705#7F")) << "heartbeat " << i - mark;
    if (i > mark) {
      EXPECT_GE(stored[i].receiveTime, stored[i - 1].receiveTime);
    }
  }
  // The node keeps the cadence from the write on: the fifth beat is due 100 ms after it, the
  // first at 20 ms (sent late by less than a period at worst).
  EXPECT_GE(stored[mark + 4].receiveTime - stored[mark].receiveTime, 60u);
}

}  // namespace
}  // namespace bp::test
