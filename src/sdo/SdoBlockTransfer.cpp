// SDO block upload and download with CRC, and the fallback to segmented transfer.
#include <algorithm>

#include "sdo/AbortMessages.h"
#include "sdo/SdoTransfer.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::sdo {

namespace {

// The server's subcommand: bits 1..0 in a block download, bit 0 in a block upload.
constexpr std::uint8_t subcommandOf(std::uint8_t c, std::uint8_t scs) noexcept {
  return c & (scs == proto::kScsBlockDownload ? proto::kBlockSubcommandMask : 0x01);
}
constexpr std::uint8_t kBlockInitiate = 0;  // subcommand of the initiate answers

}  // namespace

// The node's answer to a block initiate: true when it takes block transfer. False when it
// refuses (abort 0x05040001) or answers something else (then this client aborts that with
// 0x05040001): the transfer goes segmented. Any other abort fails the transfer.
bool SdoTransfer::acceptBlockInitiate(const can::CanFrame& f, std::uint8_t scs) {
  const std::uint32_t code = loadLe32(f.data.data() + proto::kInitiateDataByte);
  if (isAbort(f)) {
    if (code == proto::kAbortCommandUnknown) return false;
    throw Error(abortText(code));
  }
  const std::uint8_t c = f.data[proto::kCommandByte];
  if (proto::commandSpecifier(c) == scs && subcommandOf(c, scs) == kBlockInitiate && isOurs(f)) return true;
  sendAbort(proto::kAbortCommandUnknown);
  return false;
}

std::uint8_t SdoTransfer::checkedBlockSize(std::uint8_t size) {
  if (size == 0 || size > proto::kMaxBlockSize)
    giveUp(proto::kAbortInvalidBlockSize, "SDO Transfer error, invalid block size");
  return size;
}

// ---- upload ----

bool SdoTransfer::blockUpload(std::string& out) {
  Bytes init = request(proto::kCcsBlockUpload | proto::kBlockCrcBit);
  init[proto::kBlockSizeByte] = checkedBlockSize(m_options.blockSize);
  init[proto::kBlockPstByte] = m_options.protocolSwitch;
  send(init);
  const can::CanFrame f = awaitFrame();
  std::size_t total = 0;
  if (proto::commandSpecifier(f.data[proto::kCommandByte]) == proto::kScsUploadInitiate && isOurs(f)) {
    // Protocol switch: the node answers as to a normal upload.
    if (!readInitiateAnswer(f, out, total)) out = uploadSegments(std::move(out), total);
    return true;
  }
  if (!acceptBlockInitiate(f, proto::kScsBlockUpload)) return false;
  const std::uint8_t c = f.data[proto::kCommandByte];
  const bool crc = (c & proto::kBlockCrcBit) != 0;
  total = (c & proto::kBlockSizeBit) != 0 ? loadLe32(f.data.data() + proto::kInitiateDataByte) : 0;
  checkSize(total);
  send({static_cast<std::uint8_t>(proto::kCcsBlockUpload | proto::kBlockUploadStart)});
  receiveSubBlocks(out, total);

  const can::CanFrame end = await();
  const std::uint8_t e = end.data[proto::kCommandByte];
  if (proto::commandSpecifier(e) != proto::kScsBlockUpload || subcommandOf(e, proto::kScsBlockUpload) != proto::kBlockUploadEnd)
    giveUp(proto::kAbortCommandUnknown, "SDO Transfer error, unexpected answer");
  out.resize(out.size() - std::min<std::size_t>(out.size(), proto::blockEndUnusedBytes(e)));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(out.data());
  if (crc && proto::blockCrc(bytes, out.size()) != loadLe16(end.data.data() + proto::kBlockCrcByte))
    giveUp(proto::kAbortCrcError, "SDO Transfer error, CRC error");
  send({static_cast<std::uint8_t>(proto::kCcsBlockUpload | proto::kBlockUploadEnd)});
  report(out.size(), out.size());
  return true;
}

// Takes sub-blocks until the segment marked last; acknowledges each with the last segment received
// in sequence, so the node repeats the rest of a sub-block that lost one.
void SdoTransfer::receiveSubBlocks(std::string& data, std::size_t total) {
  const std::uint8_t blockSize = m_options.blockSize;
  for (bool last = false; !last;) {
    std::uint8_t ackSeq = 0;
    for (;;) {
      const can::CanFrame f = await();
      const std::uint8_t seq = f.data[0] & proto::kBlockSeqnoMask;
      const bool marked = (f.data[0] & proto::kBlockLastSegmentBit) != 0;
      if (seq == ackSeq + 1) {
        ackSeq = seq;
        data.append(reinterpret_cast<const char*>(f.data.data() + 1), proto::kSegmentDataSize);
        last = marked;
      }
      if (marked || seq >= blockSize) break;
    }
    checkSize(data.size() > proto::kSegmentDataSize ? data.size() - proto::kSegmentDataSize : 0);
    send({static_cast<std::uint8_t>(proto::kCcsBlockUpload | proto::kBlockUploadAck), ackSeq, blockSize});
    report(data.size(), total);
  }
}

// ---- download ----

bool SdoTransfer::blockDownload(std::string_view bytes) {
  Bytes init = request(proto::kCcsBlockDownload | proto::kBlockCrcBit | proto::kBlockSizeBit);
  storeLe32(init.data() + proto::kInitiateDataByte, static_cast<std::uint32_t>(bytes.size()));
  send(init);
  const can::CanFrame f = awaitFrame();
  if (!acceptBlockInitiate(f, proto::kScsBlockDownload)) return false;
  const bool crc = (f.data[proto::kCommandByte] & proto::kBlockCrcBit) != 0;
  std::uint8_t blockSize = checkedBlockSize(f.data[proto::kBlockSizeByte]);

  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t sent = sendSubBlock(bytes, at, blockSize);
    const can::CanFrame ack = await();
    const std::uint8_t c = ack.data[proto::kCommandByte];
    if (proto::commandSpecifier(c) != proto::kScsBlockDownload || subcommandOf(c, proto::kScsBlockDownload) != proto::kBlockDownloadAck)
      giveUp(proto::kAbortCommandUnknown, "SDO Transfer error, unexpected answer");
    const std::size_t acked = ack.data[proto::kBlockAckSeqByte];
    if (acked > sent) giveUp(proto::kAbortInvalidSequence, "SDO Transfer error, invalid sequence number");
    at = std::min(bytes.size(), at + acked * proto::kSegmentDataSize);
    blockSize = checkedBlockSize(ack.data[proto::kBlockNextSizeByte]);
    report(at, bytes.size());
  }

  const std::size_t lastBytes = bytes.size() - (bytes.size() - 1) / proto::kSegmentDataSize * proto::kSegmentDataSize;
  const std::uint16_t sum =
      crc ? proto::blockCrc(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) : 0;
  Bytes end{proto::blockEndCommand(proto::kCcsBlockDownload, static_cast<int>(proto::kSegmentDataSize - lastBytes))};
  storeLe16(end.data() + proto::kBlockCrcByte, sum);
  send(end);
  const std::uint8_t c = await().data[proto::kCommandByte];
  if (proto::commandSpecifier(c) != proto::kScsBlockDownload || subcommandOf(c, proto::kScsBlockDownload) != proto::kBlockDownloadEnd)
    giveUp(proto::kAbortCommandUnknown, "SDO Transfer error, unexpected answer");
  return true;
}

// Sends one sub-block from `at`: up to blockSize segments, the last of the data marked. Returns
// the number of segments sent.
std::size_t SdoTransfer::sendSubBlock(std::string_view bytes, std::size_t at, std::uint8_t blockSize) {
  std::size_t seq = 0;
  while (seq < blockSize && at < bytes.size()) {
    const std::size_t n = std::min(proto::kSegmentDataSize, bytes.size() - at);
    Bytes seg{static_cast<std::uint8_t>(++seq)};
    if (at + n == bytes.size()) seg[0] |= proto::kBlockLastSegmentBit;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, seg.begin() + 1);
    send(seg);
    at += n;
  }
  return seq;
}

}  // namespace bp::sdo
