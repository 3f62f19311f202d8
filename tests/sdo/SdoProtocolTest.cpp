// Command-byte fields of the SDO protocol, read and built.
#include "sdo/SdoProtocol.h"

#include <gtest/gtest.h>

namespace bp::sdo::proto {
namespace {

TEST(SdoCommandByte, SegmentDataCountForEveryN) {
  for (int n = 0; n < 8; ++n) {
    for (std::uint8_t toggle : {std::uint8_t{0}, kToggleBit}) {
      for (bool last : {false, true}) {
        const std::uint8_t c = segmentCommand(kScsUploadSegment, toggle, n, last);
        EXPECT_EQ(segmentDataCount(c), 7 - n);
        EXPECT_EQ(toggleOf(c), toggle);
        EXPECT_EQ(isLastSegment(c), last);
        EXPECT_EQ(commandSpecifier(c), kScsUploadSegment);
      }
    }
  }
}

TEST(SdoCommandByte, ExpeditedDataCountHonoursTheSizeBit) {
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(expeditedDataCount(initiateCommand(kScsUploadInitiate, n, true, true)), 4 - n);
    EXPECT_EQ(expeditedDataCount(initiateCommand(kScsUploadInitiate, n, true, false)), 4);
  }
  const std::uint8_t segmented = initiateCommand(kScsUploadInitiate, 0, false, true);
  EXPECT_EQ(segmented, 0x41);
  EXPECT_FALSE(isExpedited(segmented));
  EXPECT_TRUE(isSizeIndicated(segmented));
}

TEST(SdoCommandByte, ClientRequests) {
  EXPECT_EQ(expeditedDownloadCommand(1), 0x2F);
  EXPECT_EQ(expeditedDownloadCommand(2), 0x2B);
  EXPECT_EQ(expeditedDownloadCommand(4), 0x23);
  EXPECT_EQ(expeditedDownloadCommand(0), 0x33);
  EXPECT_EQ(uploadSegmentRequest(0), 0x60);
  EXPECT_EQ(uploadSegmentRequest(kToggleBit), 0x70);
  EXPECT_EQ(uploadSegmentRequest(0xFF), 0x70);  // only the toggle bit is taken
  EXPECT_EQ(commandSpecifier(0x2F), kCcsDownloadInitiate);
  EXPECT_EQ(initiateUnusedBytes(0x2F), 3);
  EXPECT_EQ(initiateCommand(kScsUploadInitiate, 3, true, true), 0x4F);
}

TEST(SdoBlockTransfer, CrcIsCcittXmodemOverTheDataInPieces) {
  const std::uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(blockCrc(text, 9), 0x31C3);  // the check value of CRC-16/XMODEM
  EXPECT_EQ(blockCrc(text + 4, 5, blockCrc(text, 4)), 0x31C3);
  EXPECT_EQ(blockCrc(text, 0), 0);
  EXPECT_EQ(blockEndCommand(kCcsBlockDownload, 3), 0xCD);
  EXPECT_EQ(blockEndUnusedBytes(0xCD), 3);
}

}  // namespace
}  // namespace bp::sdo::proto
