// The simulated drive: the CiA 402 state machine, motion, faults, and the process data that
// carries them (SYNC -> TPDO1, RPDO1 -> control word).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/DriveModel.h"
#include "sim/SimBench.h"

namespace bp::sim::test {
namespace {

using Frames = std::vector<std::string>;
using S = DriveState;

// ---- the state machine alone ----

// Control words that bring a fresh drive into each state.
std::vector<std::uint16_t> pathTo(S s) {
  switch (s) {
    case S::kSwitchOnDisabled: return {};
    case S::kReadyToSwitchOn: return {0x06};
    case S::kSwitchedOn: return {0x06, 0x07};
    case S::kOperationEnabled: return {0x06, 0x07, 0x0F};
    case S::kQuickStopActive: return {0x06, 0x07, 0x0F, 0x02};
    case S::kFault: return {};
  }
  return {};
}

struct Step {
  const char* name;
  S from;
  std::uint16_t controlWord;
  S to;
};

constexpr Step kSteps[] = {
    {"shutdown from switch on disabled", S::kSwitchOnDisabled, 0x06, S::kReadyToSwitchOn},
    {"switch on needs ready first", S::kSwitchOnDisabled, 0x07, S::kSwitchOnDisabled},
    {"enable operation needs ready first", S::kSwitchOnDisabled, 0x0F, S::kSwitchOnDisabled},
    {"switch on", S::kReadyToSwitchOn, 0x07, S::kSwitchedOn},
    {"switch on and enable in one", S::kReadyToSwitchOn, 0x0F, S::kOperationEnabled},
    {"quick stop before operation", S::kReadyToSwitchOn, 0x02, S::kSwitchOnDisabled},
    {"enable operation", S::kSwitchedOn, 0x0F, S::kOperationEnabled},
    {"shutdown from switched on", S::kSwitchedOn, 0x06, S::kReadyToSwitchOn},
    {"disable voltage from switched on", S::kSwitchedOn, 0x00, S::kSwitchOnDisabled},
    {"disable operation", S::kOperationEnabled, 0x07, S::kSwitchedOn},
    {"shutdown from operation", S::kOperationEnabled, 0x06, S::kReadyToSwitchOn},
    {"disable voltage from operation", S::kOperationEnabled, 0x00, S::kSwitchOnDisabled},
    {"disable voltage ignores the other bits", S::kOperationEnabled, 0x0D, S::kSwitchOnDisabled},
    {"quick stop from operation", S::kOperationEnabled, 0x02, S::kQuickStopActive},
    {"quick stop ignores bit 0 and 3", S::kOperationEnabled, 0x0B, S::kQuickStopActive},
    {"enable operation again after quick stop", S::kQuickStopActive, 0x0F, S::kOperationEnabled},
    {"disable voltage after quick stop", S::kQuickStopActive, 0x00, S::kSwitchOnDisabled},
    {"shutdown does not leave quick stop", S::kQuickStopActive, 0x06, S::kQuickStopActive},
    {"shutdown with bit 3 set", S::kOperationEnabled, 0x0E, S::kReadyToSwitchOn},
};

TEST(DriveStateMachine, Transitions) {
  for (const auto& c : kSteps) {
    SCOPED_TRACE(c.name);
    DriveModel d;
    d.reset(0);
    for (std::uint16_t cw : pathTo(c.from)) d.applyControlWord(cw);
    ASSERT_EQ(d.state(), c.from);
    d.applyControlWord(c.controlWord);
    EXPECT_EQ(d.state(), c.to);
    EXPECT_EQ(d.statusWord(), static_cast<std::uint16_t>(c.to));
  }
}

TEST(DriveStateMachine, StatusWordsOfTheStates) {
  EXPECT_EQ(static_cast<std::uint16_t>(S::kSwitchOnDisabled), 0x0040);
  EXPECT_EQ(static_cast<std::uint16_t>(S::kReadyToSwitchOn), 0x0021);
  EXPECT_EQ(static_cast<std::uint16_t>(S::kSwitchedOn), 0x0023);
  EXPECT_EQ(static_cast<std::uint16_t>(S::kOperationEnabled), 0x0027);
  EXPECT_EQ(static_cast<std::uint16_t>(S::kFault), 0x0008);
}

TEST(DriveStateMachine, FaultLeavesOnlyOnARisingEdgeOfBit7) {
  DriveModel d;
  d.reset(0);
  for (std::uint16_t cw : pathTo(S::kOperationEnabled)) d.applyControlWord(cw);
  d.raiseFault();
  EXPECT_EQ(d.statusWord(), 0x0008);
  d.applyControlWord(0x06);
  d.applyControlWord(0x0F);
  EXPECT_EQ(d.state(), S::kFault) << "commands do nothing in fault";
  d.applyControlWord(0x80);
  EXPECT_EQ(d.state(), S::kSwitchOnDisabled);
}

TEST(DriveStateMachine, Bit7HeldThroughTheFaultIsNoEdge) {
  DriveModel d;
  d.reset(0);
  d.applyControlWord(0x80);
  d.raiseFault();
  d.applyControlWord(0x80);
  EXPECT_EQ(d.state(), S::kFault);
  d.applyControlWord(0x00);
  EXPECT_EQ(d.state(), S::kFault);
  d.applyControlWord(0x80);
  EXPECT_EQ(d.state(), S::kSwitchOnDisabled);
}

// ---- motion alone ----

struct Motion {
  const char* name;
  std::int32_t start;
  std::int32_t target;
  std::uint32_t velocity;
  std::uint32_t stepMs;
  int steps;
  std::int32_t end;
};

constexpr Motion kMotions[] = {
    {"500 counts/s for 1 s", 0, 1000, 500, 1, 1000, 500},
    {"never past the target", 0, 1000, 500, 100, 30, 1000},
    {"backwards", 0, -300, 1000, 1, 100, -100},
    {"velocity 0 means 1000 counts/s", 0, 5000, 0, 10, 100, 1000},
    {"fractions carry over: 1 count/s in 1 ms steps", 0, 10, 1, 1, 2999, 2},
    {"large step in one go", 10, 20, 1000, 60000, 1, 20},
    {"from a negative start across zero", -50, 50, 1000, 1, 60, 10},
};

TEST(DriveMotion, MovesTowardTheTargetAtTheVelocity) {
  for (const auto& c : kMotions) {
    SCOPED_TRACE(c.name);
    DriveModel d;
    d.reset(c.start);
    for (std::uint16_t cw : pathTo(S::kOperationEnabled)) d.applyControlWord(cw);
    for (int i = 0; i < c.steps; ++i) d.advance(c.stepMs, c.target, c.velocity);
    EXPECT_EQ(d.position(), c.end);
  }
}

TEST(DriveMotion, OnlyWhileOperationIsEnabled) {
  for (S s : {S::kSwitchOnDisabled, S::kReadyToSwitchOn, S::kSwitchedOn, S::kQuickStopActive}) {
    DriveModel d;
    d.reset(0);
    for (std::uint16_t cw : pathTo(s)) d.applyControlWord(cw);
    d.advance(1000, 1000, 1000);
    EXPECT_EQ(d.position(), 0) << static_cast<int>(s);
  }
  DriveModel d;
  d.reset(0);
  for (std::uint16_t cw : pathTo(S::kOperationEnabled)) d.applyControlWord(cw);
  d.advance(100, 1000, 1000);
  d.raiseFault();
  d.advance(100, 1000, 1000);
  EXPECT_EQ(d.position(), 100) << "a fault stops the motion";
}

// ---- the node: process data ----

TEST(SimPdo, SyncSendsTpdo1InOperationalOnly) {
  SimBench b;
  EXPECT_EQ(b.exchange("080#"), Frames{}) << "pre-operational";
  b.exchange("000#01.05");
  EXPECT_EQ(b.exchange("080#"), Frames{norm("185#40.00.00.00.00.00")});
  EXPECT_EQ(b.exchange("080#01"), Frames{norm("185#40.00.00.00.00.00")}) << "SYNC with a counter";
  EXPECT_EQ(b.exchange("080#R"), Frames{}) << "remote frame";
}

TEST(SimPdo, RpdoControlWordDrivesTheStatusWordToOperationEnabled) {
  SimBench b;
  b.exchange("000#01.05");
  struct Row { const char* rpdo; std::uint16_t status; const char* tpdo; };
  const Row rows[] = {
      {"205#06.00", 0x0021, "185#21.00.00.00.00.00"},
      {"205#07.00", 0x0023, "185#23.00.00.00.00.00"},
      {"205#0F.00.AA.BB", 0x0027, "185#27.00.00.00.00.00"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.rpdo);
    EXPECT_EQ(b.exchange(r.rpdo), Frames{});
    EXPECT_EQ(b.node->statusWord(), r.status);
    EXPECT_EQ(b.node->integerValue(0x6041, 0), r.status);
    EXPECT_EQ(b.exchange("080#"), Frames{norm(r.tpdo)});
  }
  EXPECT_EQ(b.node->integerValue(0x6040, 0), 0x0F);
}

TEST(SimPdo, RpdoIgnoredOutsideOperationalOrWhenShort) {
  SimBench b;
  b.exchange("205#06.00");
  EXPECT_EQ(b.node->statusWord(), 0x0040) << "pre-operational";
  b.exchange("000#01.05");
  b.exchange("205#06");
  EXPECT_EQ(b.node->statusWord(), 0x0040) << "one byte";
  b.exchange("206#06.00");
  EXPECT_EQ(b.node->statusWord(), 0x0040) << "another node";
}

TEST(SimPdo, SdoControlWordDrivesTheStateMachineToo) {
  SimBench b;  // pre-operational: SDO works, PDOs do not
  b.sdo("605#2B.40.60.00.06.00.00.00");
  b.sdo("605#2B.40.60.00.0F.00.00.00");
  EXPECT_EQ(b.sdo("605#40.41.60.00.00.00.00.00"), norm("585#4B.41.60.00.27.00.00.00"));
}

// ---- the node: motion and faults ----

TEST(SimDrive, PositionMovesTowardTheTargetAndShowsEverywhere) {
  SimBench b;
  b.exchange("000#01.05");
  b.sdo("605#23.81.60.00.F4.01.00.00");  // 500 counts/s
  b.sdo("605#23.7A.60.00.E8.03.00.00");  // target 1000
  b.advance(1000);
  EXPECT_EQ(b.node->position(), 0) << "not enabled yet";

  b.exchange({"205#06.00", "205#0F.00"});
  b.advance(1000);
  EXPECT_EQ(b.node->position(), 500);
  EXPECT_EQ(b.sdo("605#40.64.60.00.00.00.00.00"), norm("585#43.64.60.00.F4.01.00.00"));
  EXPECT_EQ(b.exchange("080#"), Frames{norm("185#27.00.F4.01.00.00")});

  b.advance(1500);
  EXPECT_EQ(b.node->position(), 1000) << "stops at the target";

  b.sdo("605#23.7A.60.00.38.FF.FF.FF");  // target -200
  b.advance(1000);
  EXPECT_EQ(b.node->position(), 500);
  b.exchange("205#07.00");  // disable operation
  b.advance(1000);
  EXPECT_EQ(b.node->position(), 500);
}

TEST(SimDrive, FaultShowsInObjectsAndEmcyAndResetsOnBit7) {
  SimBench b;
  b.exchange("000#01.05");
  b.exchange({"205#06.00", "205#0F.00"});
  b.node->raiseFault(0x7300);
  EXPECT_EQ(b.received(), Frames{norm("085#00.73.01.00.00.00.00.00")});
  EXPECT_EQ(b.node->statusWord(), 0x0008);
  EXPECT_EQ(b.node->integerValue(0x603F, 0), 0x7300);
  EXPECT_EQ(b.node->integerValue(0x1001, 0), 1);

  EXPECT_EQ(b.exchange("205#0F.00"), Frames{}) << "no edge of bit 7";
  EXPECT_EQ(b.node->statusWord(), 0x0008);
  EXPECT_EQ(b.exchange("205#80.00"), Frames{norm("085#00.00.00.00.00.00.00.00")});
  EXPECT_EQ(b.node->statusWord(), 0x0040);
  EXPECT_EQ(b.node->integerValue(0x603F, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x1001, 0), 0);
}

TEST(SimDrive, StoppedNodeSendsNoEmcy) {
  SimBench b;
  b.exchange("000#02.05");
  b.node->raiseFault(0x5000);
  EXPECT_EQ(b.received(), Frames{});
  EXPECT_EQ(b.node->driveState(), S::kFault);
}

TEST(SimDrive, ResetNodeClearsTheFaultAndThePosition) {
  SimBench b;
  b.exchange("000#01.05");
  b.sdo("605#23.7A.60.00.E8.03.00.00");
  b.exchange({"205#06.00", "205#0F.00"});
  b.advance(100);
  ASSERT_EQ(b.node->position(), 100);
  b.node->raiseFault(0x7300);
  b.received();
  EXPECT_EQ(b.exchange("000#81.05"), Frames{"705#00"});
  EXPECT_EQ(b.node->driveState(), S::kSwitchOnDisabled);
  EXPECT_EQ(b.node->position(), 0);
  EXPECT_EQ(b.node->integerValue(0x603F, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x6041, 0), 0x0040);
}

TEST(SimDrive, LocalWriteFollowsTheDownloadRules) {
  SimBench b;
  const std::uint8_t shutdown[] = {0x06, 0x00};
  const std::uint8_t tooLong[] = {0x06, 0x00, 0x00};
  EXPECT_EQ(b.node->writeValue(0x6040, 0, shutdown), 0u);
  EXPECT_EQ(b.node->statusWord(), 0x0021);
  EXPECT_EQ(b.node->writeValue(0x6040, 0, tooLong), 0x06070010u);
  EXPECT_EQ(b.node->writeValue(0x1234, 0, shutdown), 0x06020000u);
  EXPECT_EQ(b.node->writeValue(0x1018, 9, shutdown), 0x06090011u);
  EXPECT_EQ(b.node->writeValue(0x1001, 0, std::span<const std::uint8_t>(shutdown, 1)), 0u)
      << "the device writes its read-only objects";
}

}  // namespace
}  // namespace bp::sim::test
