#include "can/CanFrame.h"

#include <gtest/gtest.h>

#include "support/FrameText.h"

namespace bp::can {
namespace {

TEST(CanFrameRecord, EncodesFieldByFieldLittleEndian) {
  CanFrame f;
  f.id = 0x12345678;
  f.type = kMsgRemote;
  f.len = 8;
  for (std::uint8_t i = 0; i < 8; ++i) f.data[i] = static_cast<std::uint8_t>(0xA0 + i);
  const auto b = encodeFrame(f);
  const std::array<std::uint8_t, 16> expected{0x78, 0x56, 0x34, 0x12, 0x01, 0x08, 0xA0, 0xA1,
                                              0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0x00, 0x00};
  EXPECT_EQ(b, expected);
  EXPECT_EQ(decodeFrame(b), f);
}

TEST(CanFrameRecord, ValueInitialisedRecordIsAllZero) {
  const auto b = encodeFrame(CanFrame{});
  for (auto byte : b) EXPECT_EQ(byte, 0);
}

TEST(CanFrameRecord, DecodeKeepsPaddingBytes) {
  std::array<std::uint8_t, 16> b{};
  b[14] = 0x55;
  b[15] = 0xAA;
  const CanFrame f = decodeFrame(b);
  EXPECT_EQ(f.pad[0], 0x55);
  EXPECT_EQ(f.pad[1], 0xAA);
  EXPECT_EQ(encodeFrame(f), b);
}

TEST(FrameTextNotation, ParsesDataRemoteAndEmptyFrames) {
  EXPECT_EQ(test::norm("605#2B.40.60.00.34.12.00.00"), "605#2B40600034120000");
  const CanFrame remote = test::frame("705#R");
  EXPECT_EQ(remote.type, kMsgRemote);
  EXPECT_EQ(remote.len, 0);
  EXPECT_EQ(test::frame("080#").len, 0);
}

}  // namespace
}  // namespace bp::can
