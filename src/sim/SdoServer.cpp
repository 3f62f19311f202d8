#include "sim/SdoServer.h"

#include <algorithm>

#include "sdo/SdoProtocol.h"
#include "util/LittleEndian.h"

namespace bp::sim {

namespace proto = sdo::proto;

can::CanFrame SdoServer::response(std::uint8_t command) const noexcept {
  can::CanFrame f{};
  f.id = canopen::kSdoResponseBase + m_nodeId;
  f.type = can::kMsgData;
  f.len = static_cast<std::uint8_t>(proto::kFrameLength);
  f.data[proto::kCommandByte] = command;
  return f;
}

can::CanFrame SdoServer::objectResponse(std::uint8_t command) const noexcept {
  can::CanFrame f = response(command);
  storeLe16(&f.data[proto::kIndexLowByte], m_index);
  f.data[proto::kSubIndexByte] = m_subIndex;
  return f;
}

void SdoServer::abort(std::uint32_t code) {
  can::CanFrame f = objectResponse(proto::kCsAbort);
  storeLe32(&f.data[proto::kInitiateDataByte], code);
  cancel();
  m_send(f);
}

void SdoServer::takeObject(const can::CanFrame& request) noexcept {
  m_index = loadLe16(&request.data[proto::kIndexLowByte]);
  m_subIndex = request.data[proto::kSubIndexByte];
}

void SdoServer::cancel() noexcept {
  m_mode = Mode::Idle;
  m_buffer.clear();
  m_offset = 0;
  m_announced.reset();
}

void SdoServer::handleRequest(const can::CanFrame& request) {
  // CiA 301 SDO frames always carry 8 bytes; shorter ones are not SDO requests.
  if (request.len < proto::kFrameLength) return;
  // Inside a sub-block byte 0 is a sequence number, not a command.
  if (m_mode == Mode::BlockDownload) return blockDownloadSegment(request);

  switch (proto::commandSpecifier(request.data[proto::kCommandByte])) {
    case proto::kCcsUploadInitiate: return initiateUpload(request);
    case proto::kCcsUploadSegment: return uploadSegment(request);
    case proto::kCcsDownloadInitiate: return initiateDownload(request);
    case proto::kCcsDownloadSegment: return downloadSegment(request);
    case proto::kCcsBlockUpload: return blockUpload(request);
    case proto::kCcsBlockDownload: return blockDownload(request);
    case proto::kCsAbort:
      cancel();  // the client gives up; no answer
      return;
    default:
      // The unused specifier 7. The abort names the object of the request.
      takeObject(request);
      return abort(proto::kAbortCommandUnknown);
  }
}

void SdoServer::initiateUpload(const can::CanFrame& request) {
  cancel();  // a new initiate ends whatever ran before
  takeObject(request);
  const Variable* v = nullptr;
  if (const std::uint32_t code = m_store.checkRead(m_index, m_subIndex, v)) return abort(code);
  startUpload(*v);
}

void SdoServer::startUpload(const Variable& v) {
  const std::size_t size = v.value.size();
  if (v.fixedSize != 0 && size <= proto::kInitiateDataSize) {
    // Expedited, size indicated: n = bytes of 4..7 without data.
    const int unused = static_cast<int>(proto::kInitiateDataSize - size);
    can::CanFrame f = objectResponse(proto::initiateCommand(proto::kScsUploadInitiate, unused, true, true));
    std::copy(v.value.begin(), v.value.end(), f.data.begin() + proto::kInitiateDataByte);
    return m_send(f);
  }

  // Segmented: announce the size, then serve segments from a snapshot of the value.
  can::CanFrame f = objectResponse(proto::initiateCommand(proto::kScsUploadInitiate, 0, false, true));
  storeLe32(&f.data[proto::kInitiateDataByte], static_cast<std::uint32_t>(size));
  m_mode = Mode::Upload;
  m_buffer = v.value;
  m_offset = 0;
  m_toggle = 0;
  m_send(f);
}

void SdoServer::uploadSegment(const can::CanFrame& request) {
  if (m_mode != Mode::Upload) return abort(proto::kAbortCommandUnknown);
  const std::uint8_t c = request.data[proto::kCommandByte];
  if (proto::toggleOf(c) != m_toggle) return abort(proto::kAbortToggleNotAlternated);

  const std::size_t left = m_buffer.size() - m_offset;
  const std::size_t count = std::min(left, proto::kSegmentDataSize);
  const bool last = count == left;
  can::CanFrame f = response(proto::segmentCommand(
      proto::kScsUploadSegment, m_toggle, static_cast<int>(proto::kSegmentDataSize - count), last));
  std::copy_n(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_offset), count,
              f.data.begin() + proto::kSegmentDataByte);
  m_offset += count;
  m_toggle ^= proto::kToggleBit;
  if (last) cancel();
  m_send(f);
}

void SdoServer::initiateDownload(const can::CanFrame& request) {
  cancel();
  takeObject(request);
  const std::uint8_t c = request.data[proto::kCommandByte];

  Variable* v = nullptr;
  if (const std::uint32_t code = m_store.checkWrite(m_index, m_subIndex, v)) return abort(code);
  const can::CanFrame ok = objectResponse(proto::kScsDownloadInitiate);

  const std::uint8_t* data = &request.data[proto::kInitiateDataByte];
  if (proto::isExpedited(c)) {
    std::size_t count = proto::kInitiateDataSize;
    if (proto::isSizeIndicated(c)) {
      count = static_cast<std::size_t>(proto::expeditedDataCount(c));
    } else if (v->fixedSize != 0 && v->fixedSize < count) {
      count = v->fixedSize;  // size unspecified: the object's own size
    } else if (v->fixedSize == 0) {
      // Size unspecified for a string: the text ends at its first zero byte.
      count = static_cast<std::size_t>(std::find(data, data + count, 0) - data);
    }
    return finishDownload(*v, std::vector<std::uint8_t>(data, data + count), ok);
  }

  // Segmented: check an indicated size now, so a wrong length fails before any segment.
  if (proto::isSizeIndicated(c)) {
    const std::size_t size = loadLe32(data);
    if (const std::uint32_t code = ObjectStore::checkLength(*v, size)) return abort(code);
    m_announced = size;
  }
  m_capacity = v->maxSize;
  m_mode = Mode::Download;
  m_toggle = 0;
  m_send(ok);
}

void SdoServer::downloadSegment(const can::CanFrame& request) {
  if (m_mode != Mode::Download) return abort(proto::kAbortCommandUnknown);
  const std::uint8_t c = request.data[proto::kCommandByte];
  if (proto::toggleOf(c) != m_toggle) return abort(proto::kAbortToggleNotAlternated);

  const auto count = static_cast<std::size_t>(proto::segmentDataCount(c));
  if (m_buffer.size() + count > downloadLimit()) {
    return abort(m_announced ? proto::kAbortLengthMismatch : proto::kAbortLengthTooHigh);
  }
  const auto* data = &request.data[proto::kSegmentDataByte];
  m_buffer.insert(m_buffer.end(), data, data + count);

  const can::CanFrame answer =
      response(proto::segmentCommand(proto::kScsDownloadSegment, m_toggle, 0, false));
  m_toggle ^= proto::kToggleBit;
  if (!proto::isLastSegment(c)) return m_send(answer);

  if (m_announced && m_buffer.size() != *m_announced) return abort(proto::kAbortLengthMismatch);
  Variable* v = m_store.find(m_index, m_subIndex);
  if (v == nullptr) return abort(proto::kAbortNoObject);
  finishDownload(*v, std::move(m_buffer), answer);
}

void SdoServer::finishDownload(Variable& v, std::vector<std::uint8_t> bytes, const can::CanFrame& ok) {
  if (const std::uint32_t code = ObjectStore::checkLength(v, bytes.size())) return abort(code);
  v.value = std::move(bytes);
  cancel();
  if (m_writeHook) m_writeHook(v);
  m_send(ok);
}

}  // namespace bp::sim
