// NMT commands, node-guarding requests and SYNC frames: exact frames and the fire-and-forget send.
#include "nmt/NmtFrames.h"

#include <gtest/gtest.h>

#include "support/FakeDriver.h"
#include "support/FrameText.h"

namespace bp::nmt {
namespace {

struct CommandRow {
  const char* name;
  std::uint8_t cs;
  std::int32_t node;
  const char* frame;
};
constexpr CommandRow kCommands[] = {
    {"start node 0 (all nodes)", canopen::kNmtStart, 0, "000#01.00"},
    {"start node 5", canopen::kNmtStart, 5, "000#01.05"},
    {"start node 127", canopen::kNmtStart, 127, "000#01.7F"},
    {"stop node 0", canopen::kNmtStop, 0, "000#02.00"},
    {"stop node 5", canopen::kNmtStop, 5, "000#02.05"},
    {"stop node 127", canopen::kNmtStop, 127, "000#02.7F"},
    {"pre-operational node 0", canopen::kNmtPreOperational, 0, "000#80.00"},
    {"pre-operational node 5", canopen::kNmtPreOperational, 5, "000#80.05"},
    {"pre-operational node 127", canopen::kNmtPreOperational, 127, "000#80.7F"},
    {"reset node 0", canopen::kNmtResetNode, 0, "000#81.00"},
    {"reset node 5", canopen::kNmtResetNode, 5, "000#81.05"},
    {"reset node 127", canopen::kNmtResetNode, 127, "000#81.7F"},
};

TEST(NmtCommandFrame, EveryCommandForNodes0_5_127) {
  for (const auto& c : kCommands) {
    SCOPED_TRACE(c.name);
    const can::CanFrame f = nmtCommandFrame(c.cs, c.node);
    EXPECT_EQ(test::frameText(f), test::norm(c.frame));
    // The whole record, not only the bytes inside the length, must be as cleared.
    EXPECT_EQ(f, test::frame(c.frame));
    EXPECT_EQ(f.type, can::kMsgData);
  }
}

TEST(NmtCommandFrame, NodeByteIsLowEightBits) {
  EXPECT_EQ(nmtCommandFrame(canopen::kNmtStart, 0x105).data[1], 0x05);
}

TEST(GuardRequestFrame, RemoteFrameOn0x700PlusNode) {
  EXPECT_EQ(guardRequestFrame(0), test::frame("700#R"));
  EXPECT_EQ(guardRequestFrame(5), test::frame("705#R"));
  EXPECT_EQ(guardRequestFrame(9), test::frame("709#R"));
  EXPECT_EQ(guardRequestFrame(127), test::frame("77F#R"));
  EXPECT_EQ(guardRequestFrame(5).type, can::kMsgRemote);
  EXPECT_EQ(guardRequestFrame(5).len, 0);
}

TEST(SyncFrame, EmptyDataFrameOn0x080) {
  const can::CanFrame f = syncFrame();
  EXPECT_EQ(f, test::frame("080#"));
  EXPECT_EQ(f.type, can::kMsgData);
  EXPECT_EQ(f.len, 0);
}

TEST(NmtSend, WritesOneFramePerCallAndIgnoresTheResult) {
  test::FakeDriver driver;
  driver.writeResult = can::kErrNotOpen;  // bus closed: nothing is reported
  EXPECT_NO_THROW(sendNmtCommand(driver, canopen::kNmtResetNode, 5));
  EXPECT_NO_THROW(sendNmtCommand(driver, canopen::kNmtResetNode, 5));
  EXPECT_NO_THROW(sendGuardRequest(driver, 5));
  EXPECT_NO_THROW(sendSync(driver));
  const auto w = driver.written();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(test::frameText(w[0]), "000#8105");
  EXPECT_EQ(test::frameText(w[1]), "000#8105");
  EXPECT_EQ(w[2], test::frame("705#R"));
  EXPECT_EQ(w[3], test::frame("080#"));
}

TEST(NmtSend, NodeOutsideRangeSendsNothing) {
  test::FakeDriver driver;
  sendNmtCommand(driver, canopen::kNmtStart, 128);
  sendNmtCommand(driver, canopen::kNmtStart, -1);
  sendGuardRequest(driver, 128);
  sendGuardRequest(driver, -1);
  EXPECT_TRUE(driver.written().empty());
}

}  // namespace
}  // namespace bp::nmt
