// The SocketCAN driver and can-utils on one bus: frames that cansend puts on vcan0 are read
// field by field, and frames the driver writes are printed by candump exactly as written.
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "can/BitRate.h"
#include "can/drivers/SocketCanDriver.h"
#include "socketcan/BusTools.h"
#include "support/FrameText.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t k500k = can::kBitRateTable[can::kDefaultBitRateIndex].code;

class CanUtils : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kCansend, X_OK) != 0 || ::access(kCandump, X_OK) != 0)
      GTEST_SKIP() << "can-utils (cansend, candump) are not installed";
    ASSERT_EQ(driver.open(k500k, 0), can::kOk);
  }
  can::SocketCanDriver driver{kVcan};
};

struct Incoming {
  const char* cansendText;
  std::uint8_t type;
  std::uint32_t id;
  std::uint8_t len;
  std::array<std::uint8_t, 8> data;
};

TEST_F(CanUtils, CansendFramesAreReadFieldByField) {
  const Incoming rows[] = {
      {"123#DEADBEEF", can::kMsgData, 0x123, 4, {0xDE, 0xAD, 0xBE, 0xEF}},
      {"5A1#11.2233.44556677.88", can::kMsgData, 0x5A1, 8, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
      {"5AA#", can::kMsgData, 0x5AA, 0, {}},
      {"000#0105", can::kMsgData, 0x000, 2, {0x01, 0x05}},
      {"7FF#FF", can::kMsgData, 0x7FF, 1, {0xFF}},
      {"705#R", can::kMsgRemote, 0x705, 0, {}},
      {"123#R3", can::kMsgRemote, 0x123, 3, {}},  // a remote request carries a length, no data
      {"1F334455#1122334455667788", can::kMsgExtended, 0x1F334455, 8,
       {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
      {"00000123#R3", can::kMsgExtended | can::kMsgRemote, 0x123, 3, {}},
  };
  for (const Incoming& r : rows) {
    SCOPED_TRACE(r.cansendText);
    ASSERT_EQ(cansend(r.cansendText), 0);
    can::CanFrame f;
    f.data.fill(0xCC);  // every byte must be written by the read
    f.pad.fill(0xCC);
    ASSERT_EQ(readWithin(driver, f), can::kOk);
    EXPECT_EQ(f.type, r.type);
    EXPECT_EQ(f.id, r.id);
    EXPECT_EQ(f.len, r.len);
    EXPECT_EQ(f.data, r.data);
    EXPECT_EQ(f.pad, (std::array<std::uint8_t, 2>{}));
  }
  can::CanFrame none;
  EXPECT_EQ(driver.read(none), can::kErrQueueEmpty);
}

TEST_F(CanUtils, FlexibleDataRateFramesNeverReachTheDriver) {
  // vcan0 carries CAN FD; the driver's socket takes classic frames only, so an FD frame is not
  // delivered at all (neither truncated nor garbled), and the classic frame behind it is.
  ASSERT_EQ(cansend("123##1112233"), 0);
  ASSERT_EQ(cansend("124##0112233445566778899AABBCCDDEEFF00"), 0);
  ASSERT_EQ(cansend("125#01"), 0);
  can::CanFrame f;
  ASSERT_EQ(readWithin(driver, f), can::kOk);
  EXPECT_EQ(frameText(f), "125#01");
  EXPECT_EQ(driver.read(f), can::kErrQueueEmpty);
}

struct Outgoing {
  const char* name;
  const char* frameText;  // the record written (FrameText notation)
  std::uint8_t type;
  std::uint8_t len;       // for remote requests: the length field sent
  const char* candump;    // what candump -L prints
};

TEST_F(CanUtils, CandumpPrintsWhatTheDriverWritesExactly) {
  const Outgoing rows[] = {
      {"NMT start node 5", "000#01.05", can::kMsgData, 2, "000#0105"},
      {"NMT reset all nodes", "000#81.00", can::kMsgData, 2, "000#8100"},
      {"SYNC, empty", "080#", can::kMsgData, 0, "080#"},
      {"SDO upload request", "605#40.08.10.00.00.00.00.00", can::kMsgData, 8, "605#4008100000000000"},
      {"RxPDO 4 of node 127, eight bytes", "57F#01.02.03.04.05.06.07.FF", can::kMsgData, 8,
       "57F#01020304050607FF"},
      {"guarding request", "705#R", can::kMsgRemote, 0, "705#R"},
      {"remote request with a length", "705#R", can::kMsgRemote, 4, "705#R4"},
      {"extended data", "1ABCDEF0#DE.AD", can::kMsgExtended, 2, "1ABCDEF0#DEAD"},
      {"extended identifier below 0x800", "00000005#01", can::kMsgExtended, 1, "00000005#01"},
      {"extended remote", "1FFFFFFF#R", can::kMsgExtended | can::kMsgRemote, 0, "1FFFFFFF#R"},
  };
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  std::vector<std::string> expected;
  for (const Outgoing& r : rows) {
    SCOPED_TRACE(r.name);
    can::CanFrame f = frame(r.frameText);
    f.type = r.type;
    f.len = r.len;
    ASSERT_EQ(driver.write(f), can::kOk);
    expected.push_back(r.candump);
  }
  EXPECT_EQ(dump.frames(expected.size()), expected);
  EXPECT_EQ(dump.framesWithin(100ms), std::vector<std::string>{});
}

TEST_F(CanUtils, RefusedWritesPutNothingOnTheBus) {
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  can::CanFrame tooLong = frame("181#01.02.03.04.05.06.07.08");
  tooLong.len = 9;
  can::CanFrame wide = frame("800#01");
  can::CanFrame errorType = frame("181#01");
  errorType.type = can::kMsgError;
  for (const can::CanFrame& f : {tooLong, wide, errorType}) EXPECT_EQ(driver.write(f), can::kErrIllegalParam);
  ASSERT_EQ(driver.write(frame("181#AA")), can::kOk);  // a marker behind them
  EXPECT_EQ(dump.frames(1), std::vector<std::string>{"181#AA"});
}

}  // namespace
}  // namespace bp::test
