// vcan0 going down and up (and away and back) under the SocketCAN driver and under a running
// session: nothing crashes, reads deliver nothing and writes fail with a code while the link is
// down, and traffic flows again once it is up and the bit rate has been selected again.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "nmt/NmtFrames.h"
#include "nmt/RxPdo.h"
#include "socketcan/VcanSession.h"
#include "support/ErrorText.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSendFailed = "Error sending message, errorcode = 1024";

class LinkDownUp : public VcanSession {
 protected:
  void SetUp() override {
    if (!link.unavailableReason().empty()) GTEST_SKIP() << link.unavailableReason();
    VcanSession::SetUp();
  }
  LinkControl link;
};

TEST_F(LinkDownUp, RunningSessionSurvivesTheLinkGoingDownAndUp) {
  ASSERT_EQ(cansend("321#01"), 0);
  ASSERT_TRUE(waitForStored("321#01"));

  ASSERT_TRUE(link.down());
  EXPECT_NE(cansend("321#02"), 0) << "nobody can send on a link that is down";
  // Writes fail with the driver's code; the senders that report it say so, the others stay quiet.
  EXPECT_EQ(session.driver->write(frame("181#01")), can::kErrSystem);
  EXPECT_EQ(errorOf([&] { nmt::sendNmtCommand(*session.driver, canopen::kNmtStart, kNode); }), "");
  EXPECT_EQ(errorOf([&] { nmt::sendSync(*session.driver); }), "");
  EXPECT_EQ(errorOf([&] { nmt::sendGuardRequest(*session.driver, kNode); }), "");
  EXPECT_EQ(errorOf([&] { nmt::sendRxPdo(*session.driver, "1 2 3", 0, kNode); }), kSendFailed);
  od::ObjectEntry e = entry(0x1000, 0);
  e.direction = od::kRead;
  EXPECT_EQ(failureOf(e), kSendFailed);
  // The reader goes on running and stores nothing.
  drainRing();
  const std::size_t mark = stored.size();
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(session.timer.running());
  EXPECT_EQ(storedTexts(mark), std::vector<std::string>{});

  ASSERT_TRUE(link.up());
  ASSERT_EQ(reselectBitRate(), can::kOk);
  ASSERT_EQ(cansend("321#03"), 0);
  EXPECT_TRUE(waitForStored("321#03", mark));
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  nmt::sendNmtCommand(*session.driver, canopen::kNmtStart, kNode);
  nmt::sendRxPdo(*session.driver, "1 2 3", 0, kNode);
  EXPECT_EQ(dump.frames(2), (std::vector<std::string>{"000#0105", "205#010203"}));
}

TEST_F(LinkDownUp, SelectingTheBitRateWhileDownLeavesTheBusClosedUntilTheLinkIsUp) {
  ASSERT_TRUE(link.down());
  EXPECT_EQ(reselectBitRate(), can::kErrNoInterface);
  EXPECT_FALSE(driver().isOpen());
  EXPECT_EQ(session.driver->write(frame("181#01")), can::kErrNotOpen);
  std::this_thread::sleep_for(20ms);  // the reader runs on a closed bus meanwhile
  EXPECT_TRUE(session.timer.running());

  ASSERT_TRUE(link.up());
  EXPECT_EQ(session.driver->write(frame("181#01")), can::kErrNotOpen) << "up again, but not opened again";
  ASSERT_EQ(reselectBitRate(), can::kOk);
  ASSERT_EQ(cansend("322#AA"), 0);
  EXPECT_TRUE(waitForStored("322#AA"));
}

// Without a reader nothing takes the kernel's report that the link went down; it must not fail
// the first write after the link is up again. The socket stays bound across the down and up,
// so traffic resumes both ways even before the bit rate is selected again.
TEST_F(LinkDownUp, TrafficResumesAfterDownAndUpWithoutAReader) {
  session.timer.stop();
  can::SocketCanDriver& d = driver();
  ASSERT_TRUE(link.down());
  can::CanFrame f;
  for (int i = 0; i < 5; ++i) EXPECT_NE(d.read(f), can::kOk) << "read " << i << " while down";
  ASSERT_TRUE(link.up());
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  EXPECT_EQ(d.write(frame("323#01")), can::kOk);
  EXPECT_EQ(dump.frames(1), std::vector<std::string>{"323#01"});
  ASSERT_EQ(cansend("324#02"), 0);
  ASSERT_EQ(readWithin(d, f), can::kOk);
  EXPECT_EQ(frameText(f), "324#02");

  // Down and up with no read and no write in between.
  ASSERT_TRUE(link.down());
  ASSERT_TRUE(link.up());
  CanDump again;
  ASSERT_TRUE(again.ready()) << again.output();
  EXPECT_EQ(d.write(frame("325#03")), can::kOk) << "the first write after the link came back";
  EXPECT_EQ(again.frames(1), std::vector<std::string>{"325#03"});
}

TEST_F(LinkDownUp, WriteWhileDownFailsEveryTime) {
  session.timer.stop();  // nothing else touches the socket
  ASSERT_TRUE(link.down());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(session.driver->write(frame("181#01")), can::kErrSystem) << "write " << i;
  ASSERT_TRUE(link.up());
  EXPECT_EQ(session.driver->write(frame("181#01")), can::kOk);
}

TEST_F(LinkDownUp, InterfaceRemovedAndCreatedAgain) {
  ASSERT_TRUE(link.remove());
  EXPECT_NE(session.driver->write(frame("181#01")), can::kOk);
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(session.timer.running());
  EXPECT_EQ(reselectBitRate(), can::kErrNoInterface);
  EXPECT_EQ(session.driver->write(frame("181#01")), can::kErrNotOpen);

  ASSERT_TRUE(link.recreate());
  // A new interface of the same name (with another index): opening finds it.
  ASSERT_EQ(reselectBitRate(), can::kOk);
  ASSERT_EQ(cansend("326#04"), 0);
  EXPECT_TRUE(waitForStored("326#04"));
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  ASSERT_EQ(session.driver->write(frame("327#05")), can::kOk);
  EXPECT_EQ(dump.frames(1), std::vector<std::string>{"327#05"});
}

}  // namespace
}  // namespace bp::test
