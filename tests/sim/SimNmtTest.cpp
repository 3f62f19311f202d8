// The simulated node's network management: boot-up, NMT states, guarding and heartbeat.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "od/EdsReader.h"
#include "sim/SimBench.h"
#include "util/Error.h"

namespace bp::sim::test {
namespace {

using Frames = std::vector<std::string>;

TEST(SimBoot, NothingBeforeTheFirstStepThenBootUp) {
  auto bus = can::VirtualBus::create();
  auto nodeEp = bus->endpoint();
  auto master = bus->endpoint();
  nodeEp->open(0x001C, 0);
  master->open(0x001C, 0);
  SimNode node(*nodeEp, 5, kTestEds);
  EXPECT_EQ(master->queuedFrames(), 0u);
  EXPECT_EQ(node.nmtState(), NmtState::kInitialising);

  node.step(0);
  can::CanFrame f{};
  ASSERT_EQ(master->read(f), can::kOk);
  EXPECT_EQ(bp::test::frameText(f), "705#00");
  EXPECT_EQ(master->read(f), can::kErrQueueEmpty);
  EXPECT_EQ(node.nmtState(), NmtState::kPreOperational);

  node.step(1);  // boot-up only once
  EXPECT_EQ(master->read(f), can::kErrQueueEmpty);
}

TEST(SimBoot, RefusesNodeIdOutsideOneTo127) {
  auto bus = can::VirtualBus::create();
  auto ep = bus->endpoint();
  EXPECT_THROW(SimNode(*ep, 0, kTestEds), bp::Error);
  EXPECT_THROW(SimNode(*ep, 128, kTestEds), bp::Error);
  EXPECT_NO_THROW(SimNode(*ep, 127, kTestEds));
}

TEST(SimBoot, RefusesBrokenEdsWithTheLine) {
  auto bus = can::VirtualBus::create();
  auto ep = bus->endpoint();
  try {
    SimNode node(*ep, 5, "[1000]\nDataType=0x0007\n[10zz]\n");
    FAIL() << "no error";
  } catch (const od::EdsReadError& e) {
    EXPECT_EQ(e.line(), 3);
  }
}

struct Transition {
  const char* name;
  std::vector<const char*> commands;
  NmtState after;
};

const Transition kTransitions[] = {
    {"start", {"000#01.05"}, NmtState::kOperational},
    {"stop", {"000#02.05"}, NmtState::kStopped},
    {"pre-operational after start", {"000#01.05", "000#80.05"}, NmtState::kPreOperational},
    {"start after stop", {"000#02.05", "000#01.05"}, NmtState::kOperational},
    {"pre-operational after stop", {"000#02.05", "000#80.05"}, NmtState::kPreOperational},
    {"node 0 addresses every node", {"000#01.00"}, NmtState::kOperational},
    {"another node's command is not ours", {"000#01.06"}, NmtState::kPreOperational},
    {"one byte is no command", {"000#01"}, NmtState::kPreOperational},
    {"unknown specifier changes nothing", {"000#01.05", "000#03.05"}, NmtState::kOperational},
    {"remote frame on 0x000 is no command", {"000#R"}, NmtState::kPreOperational},
};

TEST(SimNmt, StateTransitions) {
  for (const auto& c : kTransitions) {
    SCOPED_TRACE(c.name);
    SimBench b;
    for (const char* cmd : c.commands) EXPECT_EQ(b.exchange(cmd), Frames{}) << cmd;
    EXPECT_EQ(b.node->nmtState(), c.after);
  }
}

TEST(SimNmt, ResetNodeRestoresEveryDefaultAndBootsAgain) {
  SimBench b;
  b.exchange("000#01.05");
  b.sdo("605#2B.01.20.00.78.79.00.00");  // label "xy"
  b.sdo("605#23.7A.60.00.E8.03.00.00");  // target 1000
  b.sdo("605#2B.17.10.00.64.00.00.00");  // heartbeat 100 ms

  EXPECT_EQ(b.exchange("000#81.05"), Frames{"705#00"});
  EXPECT_EQ(b.node->nmtState(), NmtState::kPreOperational);
  EXPECT_EQ(b.node->value(0x2001, 0), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(b.node->integerValue(0x607A, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x1017, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x1200, 1), 0x605) << "COB-IDs keep their node ID";
}

TEST(SimNmt, ResetCommunicationRestoresOnlyTheCommunicationArea) {
  SimBench b;
  b.exchange("000#01.05");
  b.sdo("605#23.7A.60.00.E8.03.00.00");  // target 1000
  b.sdo("605#2B.17.10.00.64.00.00.00");  // heartbeat 100 ms

  EXPECT_EQ(b.exchange("000#82.00"), Frames{"705#00"});
  EXPECT_EQ(b.node->nmtState(), NmtState::kPreOperational);
  EXPECT_EQ(b.node->integerValue(0x1017, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x607A, 0), 1000);
}

TEST(SimNmt, ResetEndsARunningSdoTransfer) {
  SimBench b;
  EXPECT_EQ(b.sdo("605#40.08.10.00.00.00.00.00"), norm("585#41.08.10.00.0C.00.00.00"));
  b.exchange("000#82.05");
  // No upload runs any more; the abort names the object of the last transfer.
  EXPECT_EQ(b.sdo("605#60.00.00.00.00.00.00.00"), norm("585#80.08.10.00.01.00.04.05"));
}

TEST(SimNmt, StoppedNodeAnswersOnlyNmtAndGuarding) {
  SimBench b;
  b.exchange("000#01.05");
  b.exchange("000#02.05");
  EXPECT_EQ(b.exchange("605#40.00.10.00.00.00.00.00"), Frames{}) << "SDO";
  EXPECT_EQ(b.exchange("080#"), Frames{}) << "SYNC";
  EXPECT_EQ(b.exchange("205#06.00"), Frames{}) << "RPDO";
  EXPECT_EQ(b.node->integerValue(0x6040, 0), 0);
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#04"}) << "guarding";

  b.exchange("000#80.05");
  EXPECT_EQ(b.exchange("605#40.00.10.00.00.00.00.00"), Frames{norm("585#43.00.10.00.92.01.02.00")});
}

// ---- node guarding ----

TEST(SimGuarding, StateWithToggleStartingAtZero) {
  SimBench b;
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#7F"});
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#FF"});
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#7F"});
  b.exchange("000#01.05");
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#85"});
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#05"});
  b.exchange("000#02.05");
  EXPECT_EQ(b.exchange("705#R"), Frames{"705#84"});
  // Two requests in one step get two answers, toggled.
  EXPECT_EQ(b.exchange({"705#R", "705#R"}), (Frames{"705#04", "705#84"}));
}

TEST(SimGuarding, ResetStartsTheToggleAgain) {
  for (const char* reset : {"000#81.05", "000#82.05"}) {
    SCOPED_TRACE(reset);
    SimBench b;
    EXPECT_EQ(b.exchange("705#R"), Frames{"705#7F"});
    EXPECT_EQ(b.exchange(reset), Frames{"705#00"});
    EXPECT_EQ(b.exchange("705#R"), Frames{"705#7F"});
  }
}

TEST(SimGuarding, OnlyRemoteFramesOfItsOwnId) {
  SimBench b;
  EXPECT_EQ(b.exchange("706#R"), Frames{});
  EXPECT_EQ(b.exchange("705#00"), Frames{}) << "a data frame is somebody's boot-up";
}

// ---- heartbeat ----

std::vector<std::uint32_t> timesOf(const std::vector<SimBench::Timed>& frames) {
  std::vector<std::uint32_t> t;
  for (const auto& f : frames) t.push_back(f.atMs);
  return t;
}

TEST(SimHeartbeat, PeriodCountsFromTheWrite) {
  SimBench b;
  EXPECT_EQ(b.advance(500).size(), 0u) << "0x1017 = 0: no heartbeat";
  const std::uint32_t t0 = b.now;
  EXPECT_EQ(b.sdo("605#2B.17.10.00.64.00.00.00"), norm("585#60.17.10.00.00.00.00.00"));
  const auto frames = b.advance(350);
  EXPECT_EQ(timesOf(frames), (std::vector<std::uint32_t>{t0 + 100, t0 + 200, t0 + 300}));
  for (const auto& f : frames) EXPECT_EQ(f.frame, "705#7F");
}

TEST(SimHeartbeat, CarriesTheStateWithoutToggle) {
  SimBench b;
  b.sdo("605#2B.17.10.00.0A.00.00.00");  // 10 ms
  b.exchange("705#R");                   // toggle now 1; heartbeats do not use it
  b.exchange("000#01.05");
  auto frames = b.advance(20);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].frame, "705#05");
  b.exchange("000#02.05");
  frames = b.advance(10);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].frame, "705#04") << "a stopped node goes on beating";
}

TEST(SimHeartbeat, ZeroStopsIt) {
  SimBench b;
  b.sdo("605#2B.17.10.00.0A.00.00.00");
  EXPECT_EQ(b.advance(30).size(), 3u);
  b.sdo("605#2B.17.10.00.00.00.00.00");
  EXPECT_EQ(b.advance(100).size(), 0u);
}

TEST(SimHeartbeat, DefaultFromTheEdsRunsFromBoot) {
  std::string eds(kTestEds);
  const std::string from = "Producer heartbeat time\nDataType=0x0006\nAccessType=rw\nDefaultValue=0";
  eds.replace(eds.find(from), from.size(),
              "Producer heartbeat time\nDataType=0x0006\nAccessType=rw\nDefaultValue=250");
  SimBench b(eds);
  const std::uint32_t boot = b.now;
  EXPECT_EQ(timesOf(b.advance(600)), (std::vector<std::uint32_t>{boot + 250, boot + 500}));
}

TEST(SimHeartbeat, LongPauseGivesOneFrameNotABurst) {
  SimBench b;
  b.sdo("605#2B.17.10.00.0A.00.00.00");
  b.now += 1000;
  b.node->step(b.now);
  EXPECT_EQ(b.received().size(), 1u);
  const std::uint32_t pause = b.now;
  EXPECT_EQ(timesOf(b.advance(25)), (std::vector<std::uint32_t>{pause + 10, pause + 20}));
}

TEST(SimHeartbeat, SurvivesTheTickWrapping) {
  SimBench b;
  b.sdo("605#2B.17.10.00.64.00.00.00");  // 100 ms, counted from now = 1000
  b.now = 0xFFFFFFF0u;                    // far ahead: one frame, then the cadence restarts
  b.node->step(b.now);
  EXPECT_EQ(b.received().size(), 1u);
  const auto frames = b.advance(250);     // wraps through 0
  EXPECT_EQ(timesOf(frames), (std::vector<std::uint32_t>{0xFFFFFFF0u + 100, 0xFFFFFFF0u + 200}));
}

}  // namespace
}  // namespace bp::sim::test
