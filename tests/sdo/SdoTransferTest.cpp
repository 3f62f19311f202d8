// The general transfer (SdoTransfer): segmented download, block upload and download with CRC,
// the fallback to segmented transfer, and every abort the client sends when it gives up.
#include <algorithm>

#include "SdoTestRig.h"
#include "sdo/SdoProtocol.h"
#include "sdo/SdoTransfer.h"
#include "util/LittleEndian.h"

namespace bp::sdo::test {
namespace {

using Bytes = std::array<std::uint8_t, 8>;
constexpr std::uint32_t kReq = 0x605, kRes = 0x585;
constexpr std::uint16_t kIndex = 0x1F50;
constexpr std::uint8_t kSub = 1;

std::string req(Bytes b) { return sdoFrame(kReq, b); }
std::string res(Bytes b) { return sdoFrame(kRes, b); }
// An initiate-shaped frame: command, 0x1F50 sub 1, and a 32-bit field.
Bytes mux(std::uint8_t command, std::uint32_t field = 0) {
  Bytes b{command, 0x50, 0x1F, kSub};
  storeLe32(b.data() + 4, field);
  return b;
}
std::string abortOf(std::uint32_t code) { return req(mux(proto::kCsAbort, code)); }

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + i / 251) & 0xFF);
  return s;
}
std::uint16_t crcOf(const std::string& s) {
  return proto::blockCrc(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}
// Segment `k` (0-based) of the data, 7 bytes, zero-padded.
Bytes segment(const std::string& data, std::size_t k, std::uint8_t first) {
  Bytes b{first};
  for (std::size_t i = 0; i < 7 && k * 7 + i < data.size(); ++i) b[1 + i] = static_cast<std::uint8_t>(data[k * 7 + i]);
  return b;
}
std::size_t segmentsOf(const std::string& data) { return std::max<std::size_t>(1, (data.size() + 6) / 7); }
// An end frame of a block transfer of `data`: n and the CRC.
Bytes endFrame(std::uint8_t cs, const std::string& data, std::uint16_t crc) {
  const auto unused = static_cast<int>(segmentsOf(data) * 7 - data.size());
  return {proto::blockEndCommand(cs, unused), static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
}

// The sub-blocks of a block transfer of `data`, 127 segments each: the segments come from the
// client (download) or the node (upload), each sub-block's acknowledge goes the other way.
void scriptSubBlocks(ScriptedNode& node, const std::string& data, bool download) {
  const std::size_t total = segmentsOf(data);
  for (std::size_t k = 0; k < total; ++k) {
    const auto seq = static_cast<std::uint8_t>(k % 127 + 1);
    const bool last = k + 1 == total;
    const Bytes seg = segment(data, k, static_cast<std::uint8_t>(seq | (last ? 0x80 : 0)));
    const Bytes ack{0xA2, seq, 127};
    download ? node.expect(req(seg)) : node.reply(res(seg));
    if (last || seq == 127) download ? node.reply(res(ack)) : node.expect(req(ack));
  }
}

// The node's side of a block download of `data`.
void scriptBlockDownload(ScriptedNode& node, const std::string& data) {
  node.expect(req(mux(0xC6, static_cast<std::uint32_t>(data.size())))).reply(res(mux(0xA4, 127)));
  scriptSubBlocks(node, data, true);
  node.expect(req(endFrame(proto::kCcsBlockDownload, data, crcOf(data)))).reply(res({0xA1}));
}

// The node's side of a block upload of `data`; `crc` is the CRC it sends in its end frame.
void scriptBlockUpload(ScriptedNode& node, const std::string& data, std::uint16_t crc) {
  node.expect(req({0xA4, 0x50, 0x1F, kSub, 127})).reply(res(mux(0xC6, static_cast<std::uint32_t>(data.size()))));
  node.expect(req({0xA3}));
  scriptSubBlocks(node, data, false);
  node.reply(res(endFrame(proto::kScsBlockUpload, data, crc)));
  if (crc == crcOf(data)) node.expect(req({0xA1}));  // else the client aborts
}

void scriptSegmentedDownload(ScriptedNode& node, const std::string& data) {
  node.expect(req(mux(0x21, static_cast<std::uint32_t>(data.size())))).reply(res(mux(0x60)));
  std::uint8_t toggle = 0;
  for (std::size_t k = 0; k < segmentsOf(data); ++k, toggle ^= proto::kToggleBit) {
    const bool last = k + 1 == segmentsOf(data);
    const int unused = last ? static_cast<int>(segmentsOf(data) * 7 - data.size()) : 0;
    node.expect(req(segment(data, k, proto::segmentCommand(proto::kCcsDownloadSegment, toggle, unused, last))))
        .reply(res({static_cast<std::uint8_t>(0x20 | toggle)}));
  }
}

class SdoTransferTest : public SdoClientTest {
 protected:
  TransferOptions options(bool block) {
    TransferOptions o;
    o.block = block;
    o.progress = [this](std::size_t done, std::size_t total) {
      lastDone = done;
      lastTotal = total;
      if (cancelAt != 0 && done >= cancelAt) cancel = true;
    };
    o.cancel = &cancel;
    return o;
  }
  // Runs a transfer; the error text, or "".
  template <typename F>
  std::string run(F&& f) {
    try {
      f();
      return "";
    } catch (const Error& e) {
      return e.what();
    }
  }
  std::string upload(bool block, std::string* out = nullptr) {
    return run([&] {
      std::string got = SdoTransfer(client, options(block)).upload(kIndex, kSub);
      if (out != nullptr) *out = got;
    });
  }
  std::string download(bool block, const std::string& data) {
    return run([&] { SdoTransfer(client, options(block)).download(kIndex, kSub, data); });
  }

  std::atomic<bool> cancel{false};
  std::size_t cancelAt = 0, lastDone = 0, lastTotal = 0;
};

TEST_F(SdoTransferTest, SegmentedDownloadOf5And300Bytes) {
  for (std::size_t size : {5u, 300u}) {
    SCOPED_TRACE(size);
    const std::string data = pattern(size);
    scriptSegmentedDownload(node, data);
    EXPECT_EQ(download(false, data), "");
    EXPECT_EQ(lastDone, size);
    EXPECT_TRUE(node.allRequestsMet()) << node.requestsMet();
  }
}

TEST_F(SdoTransferTest, BlockTransfersAcrossSegmentAndSubBlockBoundaries) {
  for (std::size_t size : {1u, 7u, 8u, 889u, 65536u}) {
    SCOPED_TRACE(size);
    const std::string data = pattern(size);
    if (size > 4) {  // 4 bytes and less go expedited
      scriptBlockDownload(node, data);
      EXPECT_EQ(download(true, data), "");
      EXPECT_EQ(lastDone, size);
    }
    scriptBlockUpload(node, data, crcOf(data));
    std::string got;
    EXPECT_EQ(upload(true, &got), "");
    EXPECT_TRUE(got == data) << got.size();
    EXPECT_EQ(lastTotal, size);
    EXPECT_TRUE(node.allRequestsMet()) << node.requestsMet() << " " << (node.unexpected().empty() ? "" : node.unexpected()[0]);
  }
}

TEST_F(SdoTransferTest, SmallValuesGoExpeditedAndComeBackExpedited) {
  node.expect(req({0x2B, 0x50, 0x1F, kSub, 0x34, 0x12})).reply(res(mux(0x60)));
  EXPECT_EQ(download(true, "\x34\x12"), "");
  // A block upload answered as a normal upload (protocol switch), expedited.
  node.expect(req({0xA4, 0x50, 0x1F, kSub, 127})).reply(res({0x4B, 0x50, 0x1F, kSub, 0x34, 0x12}));
  std::string got;
  EXPECT_EQ(upload(true, &got), "");
  EXPECT_EQ(got, "\x34\x12");
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoTransferTest, RefusedBlockTransferFallsBackToSegmented) {
  const std::string data = pattern(10);
  // Refused with 0x05040001: no abort of the client's own.
  node.expect(req(mux(0xC6, 10))).reply(res(mux(0x80, proto::kAbortCommandUnknown)));
  scriptSegmentedDownload(node, data);
  EXPECT_EQ(download(true, data), "");
  // Answered with something else: the client aborts that, then goes segmented.
  node.expect(req({0xA4, 0x50, 0x1F, kSub, 127})).reply(res(mux(0x60)));
  node.expect(abortOf(proto::kAbortCommandUnknown));
  node.expect(req(mux(0x40))).reply(res(mux(0x41, 10)));
  node.expect(req({0x60})).reply(res(segment(data, 0, 0x00)));
  node.expect(req({0x70})).reply(res(segment(data, 1, 0x19)));  // 3 bytes, last
  std::string got;
  EXPECT_EQ(upload(true, &got), "");
  EXPECT_EQ(got, data);
  // Any other abort fails the transfer with the node's message, and the client sends none back.
  node.expect(req(mux(0xC6, 10))).reply(res(mux(0x80, proto::kAbortNoObject)));
  EXPECT_EQ(download(true, data), "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary.");
  EXPECT_TRUE(node.allRequestsMet()) << node.requestsMet();
}

// Each way the client gives up: its message, and the abort frame it sends with its code.
TEST_F(SdoTransferTest, ClientAbortsWhatItGivesUp) {
  const std::string data = pattern(20);
  // Time-out: the second segment request gets no answer within 1 s.
  node.expect(req(mux(0x40))).reply(res(mux(0x41, 20)));
  node.expect(req({0x60})).reply(res(segment(data, 0, 0x00)));
  node.expect(req({0x70}));
  node.expect(abortOf(proto::kAbortTimedOut));
  EXPECT_EQ(upload(false), "SDO Transfer timeout\n8016 subindex 1");
  // Toggle error.
  node.expect(req(mux(0x40))).reply(res(mux(0x41, 20)));
  node.expect(req({0x60})).reply(res(segment(data, 0, 0x10)));
  node.expect(abortOf(proto::kAbortToggleNotAlternated));
  EXPECT_EQ(upload(false), "SDO Transfer error, toggle bit not alternated");
  // Size beyond the limit.
  node.expect(req(mux(0x40))).reply(res(mux(0x41, TransferOptions::kMaxFileSize + 1)));
  node.expect(abortOf(proto::kAbortOutOfMemory));
  EXPECT_EQ(upload(false), "SDO Transfer error, SDO too large");
  // CRC mismatch.
  scriptBlockUpload(node, data, static_cast<std::uint16_t>(crcOf(data) ^ 1));
  node.expect(abortOf(proto::kAbortCrcError));
  EXPECT_EQ(upload(true), "SDO Transfer error, CRC error");
  // Cancel, after the first segment of a download.
  cancelAt = 7;
  node.expect(req(mux(0x21, 20))).reply(res(mux(0x60)));
  node.expect(req(segment(data, 0, 0x00))).reply(res({0x20}));
  node.expect(req(segment(data, 1, 0x10)));
  node.expect(abortOf(proto::kAbortGeneralError));
  EXPECT_EQ(download(false, data), "SDO Transfer cancelled");
  EXPECT_TRUE(node.allRequestsMet()) << node.requestsMet() << " " << node.unexpected().size();
}

TEST_F(SdoTransferTest, OneTransferAtATime) {
  ASSERT_TRUE(client.tryClaim());
  EXPECT_TRUE(client.busy());
  auto e = makeEntry(0x1000, 0, od::kUnsigned32);
  EXPECT_EQ(transfer(e), "An SDO file transfer is running");
  EXPECT_EQ(upload(false), "An SDO file transfer is running");
  EXPECT_TRUE(written().empty());
  client.release();
  EXPECT_FALSE(client.busy());
}

}  // namespace
}  // namespace bp::sdo::test
