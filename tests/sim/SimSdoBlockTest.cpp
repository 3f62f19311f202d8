// The simulated node's block transfers of any length into and out of the program-data DOMAIN
// 0x1F50 sub 1 of the sample EDS, byte for byte; the short cases are scripts in
// SimSdoServerTest.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sdo/SdoProtocol.h"
#include "sim/DemoEds.h"
#include "sim/SimBench.h"

namespace bp::sim::test {
namespace {

// One segment; one full segment; one full and one of 1 byte; one full sub-block of 127 segments;
// 64 KiB, 73 sub-blocks and one of 91 segments, the last holding 1 byte.
constexpr std::size_t kSizes[] = {1, 7, 8, 889, 65536};

std::size_t segmentsFor(std::size_t size) { return (size + 6) / 7; }

// Segment `k` (from 0) of `data` sent as sequence number `seqno`; the last carries bit 7.
std::string blockSegment(std::uint32_t id, const std::vector<std::uint8_t>& data, std::size_t k,
                         std::size_t seqno) {
  const std::size_t at = k * 7;
  const std::size_t count = std::min<std::size_t>(7, data.size() - at);
  const bool last = at + count == data.size();
  return sdoFrame(id, static_cast<std::uint8_t>(seqno | (last ? 0x80 : 0)), {data.data() + at, count});
}

// Segments `first` to `first + count - 1` as sequence numbers 1 to count.
std::vector<std::string> subBlock(std::uint32_t id, const std::vector<std::uint8_t>& data,
                                  std::size_t first, std::size_t count) {
  std::vector<std::string> out;
  for (std::size_t k = 0; k < count; ++k) out.push_back(blockSegment(id, data, first + k, k + 1));
  return out;
}

// The end frame: `command` with n (bytes of the last segment without data) and the CRC.
std::string endFrame(std::uint32_t id, std::uint8_t command, const std::vector<std::uint8_t>& data) {
  const auto n = static_cast<std::uint8_t>(segmentsFor(data.size()) * 7 - data.size());
  const std::uint16_t crc = sdo::proto::blockCrc(data.data(), data.size());
  const std::uint8_t rest[] = {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
  return sdoFrame(id, static_cast<std::uint8_t>(command | n << 2), rest);
}

std::vector<std::string> one(std::string frame) { return {std::move(frame)}; }

TEST(SimSdoBlock, DownloadOfAnyLengthWithCrc) {
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(size);
    SimBench b(demoEdsText());
    const auto data = testData(size);
    EXPECT_EQ(b.sdo(sdoFrame(0x605, 0xC6, initiateFields(0x1F50, 1, size))),
              sdoFrame(0x585, 0xA4, initiateFields(0x1F50, 1, 127)));
    // Each sub-block gets one acknowledge, after its last segment.
    const std::size_t segments = segmentsFor(size);
    for (std::size_t first = 0; first < segments; first += 127) {
      const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(127, segments - first));
      const std::uint8_t ack[] = {count, 127};
      EXPECT_EQ(b.exchange(subBlock(0x605, data, first, count)), one(sdoFrame(0x585, 0xA2, ack)));
    }
    EXPECT_EQ(b.sdo(endFrame(0x605, 0xC1, data)), sdoFrame(0x585, 0xA1));
    EXPECT_EQ(b.node->value(0x1F50, 1), data);
  }
}

TEST(SimSdoBlock, UploadOfAnyLengthWithCrc) {
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(size);
    SimBench b(demoEdsText());
    const auto data = testData(size);
    ASSERT_EQ(b.node->writeValue(0x1F50, 1, data), 0u);
    EXPECT_EQ(b.sdo(sdoFrame(0x605, 0xA4, initiateFields(0x1F50, 1, 127))),
              sdoFrame(0x585, 0xC6, initiateFields(0x1F50, 1, size)));
    // Start, then an acknowledge of every sub-block, each answered by the next.
    std::string request = sdoFrame(0x605, 0xA3);
    const std::size_t segments = segmentsFor(size);
    for (std::size_t first = 0; first < segments; first += 127) {
      const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(127, segments - first));
      EXPECT_EQ(b.exchange(request), subBlock(0x585, data, first, count));
      const std::uint8_t ack[] = {count, 127};
      request = sdoFrame(0x605, 0xA2, ack);
    }
    EXPECT_EQ(b.sdo(request), endFrame(0x585, 0xC1, data));
    EXPECT_EQ(b.sdo(sdoFrame(0x605, 0xA1)), "");
  }
}

TEST(SimSdoBlock, UploadSendsAgainFromTheClientsLastSegment) {
  SimBench b(demoEdsText());
  const auto data = testData(889);
  ASSERT_EQ(b.node->writeValue(0x1F50, 1, data), 0u);
  b.sdo(sdoFrame(0x605, 0xA4, initiateFields(0x1F50, 1, 127)));
  EXPECT_EQ(b.exchange(sdoFrame(0x605, 0xA3)), subBlock(0x585, data, 0, 127));
  // The client took 100 and asks for blocks of 20: segments 101 to 120, then 121 to 127.
  const std::uint8_t took100[] = {100, 20};
  EXPECT_EQ(b.exchange(sdoFrame(0x605, 0xA2, took100)), subBlock(0x585, data, 100, 20));
  const std::uint8_t took20[] = {20, 127};
  EXPECT_EQ(b.exchange(sdoFrame(0x605, 0xA2, took20)), subBlock(0x585, data, 120, 7));
  const std::uint8_t took7[] = {7, 127};
  EXPECT_EQ(b.sdo(sdoFrame(0x605, 0xA2, took7)), endFrame(0x585, 0xC1, data));
}

}  // namespace
}  // namespace bp::sim::test
