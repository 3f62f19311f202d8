// NMT, node guarding, SYNC and the CiA 402 drive, driven through busprobe's driver and SDO engine
// against the simulated drive; what the node sends comes back through the reader and the ring.
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "e2e/BusRig.h"
#include "nmt/NmtFrames.h"

namespace bp::e2e {
namespace {

using NodeControlOnBus = BusRig;

// CiA 402 status word: the bits that tell the power states apart.
constexpr std::uint32_t kStateMaskShort = 0x4F;  // switch on disabled
constexpr std::uint32_t kStateMask = 0x6F;       // every other state

struct ResetCase {
  const char* name;
  const char* command;
  bool applicationReset;  // manufacturer and profile areas back to their defaults too
};

TEST_F(NodeControlOnBus, NmtResetBootsTheNodeAgain) {
  // The frame the NMT reset command of the tool sends, as the test writes it by hand.
  EXPECT_EQ(test::frameText(nmt::nmtCommandFrame(canopen::kNmtResetNode, kNode)), norm("000#81.05"));

  const ResetCase cases[] = {
      {"reset node", "000#81.05", true},
      {"reset communication", "000#82.05", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write(0x2000, 1, 5000);  // manufacturer area
    write(0x100C, 0, 300);   // communication area
    write(0x6040, 0, 0x06);  // shutdown: ready to switch on
    ASSERT_EQ(static_cast<std::uint32_t>(read(0x6041, 0).value) & kStateMask, 0x21u);

    drainRing();
    const std::size_t mark = stored.size();
    send(c.command);
    ASSERT_TRUE(waitForStored("705#00", mark)) << "boot-up after the reset";
    EXPECT_EQ(storedTexts(mark), std::vector<std::string>{norm("705#00")});
    EXPECT_EQ(node->nmtState(), sim::NmtState::kPreOperational);

    EXPECT_EQ(read(0x100C, 0).value, 0);
    EXPECT_EQ(read(0x2000, 1).value, c.applicationReset ? 6000 : 5000);
    const auto status = static_cast<std::uint32_t>(read(0x6041, 0).value);
    if (c.applicationReset) {
      EXPECT_EQ(status & kStateMaskShort, 0x40u) << "switch on disabled";
    } else {
      EXPECT_EQ(status & kStateMask, 0x21u) << "the drive keeps its state";
    }
  }
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

struct SyncCase {
  const char* name;
  int nmtCommand;          // -1: none
  std::uint8_t guardState;  // the node's NMT state as guarding reports it
  const char* tpdo;        // "" when the node must send none
};

// After each NMT command: SYNC, then a guarding request. The node handles frames in order, so
// when the guarding answer is in the ring, a TPDO sent for the SYNC is already before it.
TEST_F(NodeControlOnBus, SyncGivesTpdo1OnlyInOperationalState) {
  const SyncCase cases[] = {
      {"pre-operational after boot-up", -1, 0x7F, ""},
      {"operational", canopen::kNmtStart, 0x05, "185#40.00.00.00.00.00"},
      {"stopped", canopen::kNmtStop, 0x04, ""},
      {"pre-operational again", canopen::kNmtPreOperational, 0x7F, ""},
      {"operational again", canopen::kNmtStart, 0x05, "185#40.00.00.00.00.00"},
  };
  std::uint8_t toggle = 0x00;  // bit 7 of the guarding answers alternates, 0 first
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    drainRing();
    const std::size_t mark = stored.size();
    if (c.nmtCommand >= 0) nmt::sendNmtCommand(*session.driver, static_cast<std::uint8_t>(c.nmtCommand), kNode);
    nmt::sendSync(*session.driver);
    nmt::sendGuardRequest(*session.driver, kNode);

    char guard[16];
    std::snprintf(guard, sizeof guard, "705#%02X", c.guardState | toggle);
    toggle ^= 0x80;
    ASSERT_TRUE(waitForStored(guard, mark));
    std::vector<std::string> expected;
    if (*c.tpdo != '\0') expected.push_back(norm(c.tpdo));
    expected.push_back(norm(guard));
    EXPECT_EQ(storedTexts(mark), expected);
  }
}

TEST_F(NodeControlOnBus, HeartbeatSetBySdoArrivesWithReceiveTimes) {
  drainRing();
  const std::size_t mark = stored.size();
  write(0x1017, 0, 20);  // producer heartbeat every 20 ms
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (stored.size() < mark + 5 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);
    drainRing();
  }
  write(0x1017, 0, 0);
  ASSERT_GE(stored.size(), mark + 5);
  for (std::size_t i = mark; i < mark + 5; ++i) {
    EXPECT_EQ(test::frameText(stored[i].frame), norm("705#7F")) << "heartbeat " << i - mark;
    if (i > mark) {
      EXPECT_GE(stored[i].receiveTime, stored[i - 1].receiveTime);
    }
  }
  // The node keeps the cadence from the write on: the fifth beat is due 100 ms after it, the
  // first at 20 ms (sent late by less than a period at worst).
  EXPECT_GE(stored[mark + 4].receiveTime - stored[mark].receiveTime, 60u);
}

}  // namespace
}  // namespace bp::e2e
