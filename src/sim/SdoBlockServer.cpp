// The SDO server's block transfers (CiA 301): upload and download in sub-blocks of up to 127
// segments, a CRC over the data when both sides take one, the protocol switch of block upload.
#include <algorithm>

#include "sdo/SdoProtocol.h"
#include "sim/SdoServer.h"
#include "util/LittleEndian.h"

namespace bp::sim {
namespace {

namespace proto = sdo::proto;

// Segments that carry `size` bytes; an empty value still takes one (with no data).
std::size_t segmentsFor(std::size_t size) noexcept {
  return std::max<std::size_t>(1, (size + proto::kSegmentDataSize - 1) / proto::kSegmentDataSize);
}

bool validBlockSize(std::uint8_t size) noexcept { return size >= 1 && size <= proto::kMaxBlockSize; }

}  // namespace

// ---- upload ----

void SdoServer::blockUpload(const can::CanFrame& request) {
  const std::uint8_t c = request.data[proto::kCommandByte];
  switch (c & proto::kBlockSubcommandMask) {
    case proto::kBlockInitiate: return initiateBlockUpload(request);
    case proto::kBlockUploadStart:
      if (m_mode != Mode::BlockUploadStart) return abort(proto::kAbortCommandUnknown);
      m_mode = Mode::BlockUpload;
      m_segment = 0;
      return sendSubBlock();
    case proto::kBlockUploadAck: return blockUploadAck(request);
    default:  // kBlockUploadEnd: the client has the data and the CRC; the transfer is over
      if (m_mode != Mode::BlockUploadEnd) return abort(proto::kAbortCommandUnknown);
      cancel();
      return;
  }
}

void SdoServer::initiateBlockUpload(const can::CanFrame& request) {
  cancel();
  takeObject(request);
  if (!m_blockTransfer) return abort(proto::kAbortCommandUnknown);
  const Variable* v = nullptr;
  if (const std::uint32_t code = m_store.checkRead(m_index, m_subIndex, v)) return abort(code);
  const std::uint8_t blockSize = request.data[proto::kBlockSizeByte];
  if (!validBlockSize(blockSize)) return abort(proto::kAbortInvalidBlockSize);

  // Protocol switch: a value of at most pst bytes (pst not 0) goes as a normal upload.
  const std::uint8_t pst = request.data[proto::kBlockPstByte];
  if (pst != 0 && v->value.size() <= pst) return startUpload(*v);

  const std::uint8_t c = request.data[proto::kCommandByte];
  m_crc = (c & proto::kBlockCrcBit) != 0;
  m_blockSize = blockSize;
  m_buffer = v->value;
  m_mode = Mode::BlockUploadStart;
  can::CanFrame f = objectResponse(proto::kScsBlockUpload | proto::kBlockCrcBit | proto::kBlockSizeBit);
  storeLe32(&f.data[proto::kInitiateDataByte], static_cast<std::uint32_t>(m_buffer.size()));
  m_send(f);
}

void SdoServer::blockUploadAck(const can::CanFrame& request) {
  if (m_mode != Mode::BlockUpload) return abort(proto::kAbortCommandUnknown);
  const std::uint8_t ackseq = request.data[proto::kBlockAckSeqByte];
  const std::uint8_t nextSize = request.data[proto::kBlockNextSizeByte];
  if (ackseq > m_sent) return abort(proto::kAbortInvalidSequence);
  if (!validBlockSize(nextSize)) return abort(proto::kAbortInvalidBlockSize);

  // The next sub-block starts after the last segment the client took, so segments it missed
  // go again.
  m_segment += ackseq;
  m_blockSize = nextSize;
  const std::size_t size = m_buffer.size();
  if (m_segment < segmentsFor(size)) return sendSubBlock();

  const auto unused = static_cast<int>(segmentsFor(size) * proto::kSegmentDataSize - size);
  can::CanFrame f = response(proto::blockEndCommand(proto::kScsBlockUpload, unused));
  if (m_crc) storeLe16(&f.data[proto::kBlockCrcByte], proto::blockCrc(m_buffer.data(), size));
  m_mode = Mode::BlockUploadEnd;
  m_send(f);
}

void SdoServer::sendSubBlock() {
  const std::size_t size = m_buffer.size();
  const std::size_t total = segmentsFor(size);
  m_sent = static_cast<std::uint8_t>(std::min<std::size_t>(m_blockSize, total - m_segment));
  for (std::uint8_t seqno = 1; seqno <= m_sent; ++seqno) {
    const std::size_t segment = m_segment + seqno - 1;
    const std::size_t offset = segment * proto::kSegmentDataSize;
    const std::size_t count = std::min(proto::kSegmentDataSize, size - offset);
    const bool last = segment + 1 == total;
    can::CanFrame f = response(static_cast<std::uint8_t>(seqno | (last ? proto::kBlockLastSegmentBit : 0)));
    std::copy_n(m_buffer.begin() + static_cast<std::ptrdiff_t>(offset), count,
                f.data.begin() + proto::kSegmentDataByte);
    m_send(f);
  }
}

// ---- download ----

void SdoServer::blockDownload(const can::CanFrame& request) {
  const std::uint8_t c = request.data[proto::kCommandByte];
  if ((c & proto::kBlockDownloadEnd) == 0) return initiateBlockDownload(request);
  endBlockDownload(request);
}

void SdoServer::initiateBlockDownload(const can::CanFrame& request) {
  cancel();
  takeObject(request);
  if (!m_blockTransfer) return abort(proto::kAbortCommandUnknown);
  Variable* v = nullptr;
  if (const std::uint32_t code = m_store.checkWrite(m_index, m_subIndex, v)) return abort(code);

  const std::uint8_t c = request.data[proto::kCommandByte];
  if ((c & proto::kBlockSizeBit) != 0) {
    const std::size_t size = loadLe32(&request.data[proto::kInitiateDataByte]);
    if (const std::uint32_t code = ObjectStore::checkLength(*v, size)) return abort(code);
    m_announced = size;
  }
  m_capacity = v->maxSize;
  m_crc = (c & proto::kBlockCrcBit) != 0;
  m_blockSize = kDownloadBlockSize;
  m_seqno = 0;
  m_mode = Mode::BlockDownload;
  can::CanFrame f = objectResponse(proto::kScsBlockDownload | proto::kBlockCrcBit);
  f.data[proto::kBlockSizeByte] = m_blockSize;
  m_send(f);
}

void SdoServer::blockDownloadSegment(const can::CanFrame& request) {
  const std::uint8_t c = request.data[proto::kCommandByte];
  if (c == proto::kCsAbort) {
    cancel();  // the client's abort: sequence number 0 is no segment
    return;
  }
  const std::uint8_t seqno = c & proto::kBlockSeqnoMask;
  if (seqno == 0 || seqno > m_blockSize) return abort(proto::kAbortInvalidSequence);
  const bool last = (c & proto::kBlockLastSegmentBit) != 0;

  // A segment out of order (one before it went missing) is dropped: the acknowledge at the end
  // of the sub-block names the last one taken in order, and the client sends the rest again.
  if (seqno == m_seqno + 1) {
    // The data may end anywhere in the last segment, which only the end frame tells.
    if (segmentsFor(downloadLimit()) * proto::kSegmentDataSize < m_buffer.size() + proto::kSegmentDataSize) {
      return abort(m_announced ? proto::kAbortLengthMismatch : proto::kAbortLengthTooHigh);
    }
    const auto* data = &request.data[proto::kSegmentDataByte];
    m_buffer.insert(m_buffer.end(), data, data + proto::kSegmentDataSize);
    m_seqno = seqno;
    if (last) m_mode = Mode::BlockDownloadEnd;
  }
  if (seqno != m_blockSize && !last) return;

  can::CanFrame ack = response(proto::kScsBlockDownload | proto::kBlockDownloadAck);
  ack.data[proto::kBlockAckSeqByte] = m_seqno;
  ack.data[proto::kBlockNextSizeByte] = m_blockSize;
  m_seqno = 0;
  m_send(ack);
}

void SdoServer::endBlockDownload(const can::CanFrame& request) {
  if (m_mode != Mode::BlockDownloadEnd) return abort(proto::kAbortCommandUnknown);
  const std::uint8_t c = request.data[proto::kCommandByte];
  // n: bytes of the last segment that carry no data (the buffer holds at least that segment).
  m_buffer.resize(m_buffer.size() - proto::blockEndUnusedBytes(c));

  if (m_announced && m_buffer.size() != *m_announced) return abort(proto::kAbortLengthMismatch);
  if (m_crc && loadLe16(&request.data[proto::kBlockCrcByte]) !=
                   proto::blockCrc(m_buffer.data(), m_buffer.size())) {
    return abort(proto::kAbortCrcError);
  }
  Variable* v = m_store.find(m_index, m_subIndex);
  if (v == nullptr) return abort(proto::kAbortNoObject);
  finishDownload(*v, std::move(m_buffer), response(proto::kScsBlockDownload | proto::kBlockDownloadEnd));
}

}  // namespace bp::sim
