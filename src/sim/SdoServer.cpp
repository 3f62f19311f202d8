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

can::CanFrame SdoServer::abort(std::uint32_t code) noexcept {
  can::CanFrame f = response(proto::kCsAbort);
  storeLe16(&f.data[proto::kIndexLowByte], m_index);
  f.data[proto::kSubIndexByte] = m_subIndex;
  storeLe32(&f.data[proto::kInitiateDataByte], code);
  cancel();
  return f;
}

void SdoServer::cancel() noexcept {
  m_mode = Mode::Idle;
  m_buffer.clear();
  m_offset = 0;
  m_announced.reset();
}

std::optional<can::CanFrame> SdoServer::handleRequest(const can::CanFrame& request) {
  // CiA 301 SDO frames always carry 8 bytes; shorter ones are not SDO requests.
  if (request.len < proto::kFrameLength) return std::nullopt;

  const std::uint8_t c = request.data[proto::kCommandByte];
  switch (proto::commandSpecifier(c)) {
    case proto::kCcsUploadInitiate: return initiateUpload(request);
    case proto::kCcsUploadSegment: return uploadSegment(request);
    case proto::kCcsDownloadInitiate: return initiateDownload(request);
    case proto::kCcsDownloadSegment: return downloadSegment(request);
    case proto::kCsAbort:
      cancel();  // the client gives up; no answer
      return std::nullopt;
    default:
      // Block transfers and the unused specifier 7. The abort names the object of the request.
      m_index = loadLe16(&request.data[proto::kIndexLowByte]);
      m_subIndex = request.data[proto::kSubIndexByte];
      return abort(proto::kAbortCommandUnknown);
  }
}

can::CanFrame SdoServer::initiateUpload(const can::CanFrame& request) {
  cancel();  // a new initiate ends whatever ran before
  m_index = loadLe16(&request.data[proto::kIndexLowByte]);
  m_subIndex = request.data[proto::kSubIndexByte];

  const Variable* v = nullptr;
  if (const std::uint32_t code = m_store.checkRead(m_index, m_subIndex, v)) return abort(code);

  const std::size_t size = v->value.size();
  if (v->fixedSize != 0 && size <= proto::kInitiateDataSize) {
    // Expedited, size indicated: n = bytes of 4..7 without data.
    const int unused = static_cast<int>(proto::kInitiateDataSize - size);
    can::CanFrame f = response(proto::initiateCommand(proto::kScsUploadInitiate, unused, true, true));
    storeLe16(&f.data[proto::kIndexLowByte], m_index);
    f.data[proto::kSubIndexByte] = m_subIndex;
    std::copy(v->value.begin(), v->value.end(), f.data.begin() + proto::kInitiateDataByte);
    return f;
  }

  // Segmented: announce the size, then serve segments from a snapshot of the value.
  can::CanFrame f = response(proto::initiateCommand(proto::kScsUploadInitiate, 0, false, true));
  storeLe16(&f.data[proto::kIndexLowByte], m_index);
  f.data[proto::kSubIndexByte] = m_subIndex;
  storeLe32(&f.data[proto::kInitiateDataByte], static_cast<std::uint32_t>(size));
  m_mode = Mode::Upload;
  m_buffer = v->value;
  m_offset = 0;
  m_toggle = 0;
  return f;
}

can::CanFrame SdoServer::uploadSegment(const can::CanFrame& request) {
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
  return f;
}

can::CanFrame SdoServer::initiateDownload(const can::CanFrame& request) {
  cancel();
  m_index = loadLe16(&request.data[proto::kIndexLowByte]);
  m_subIndex = request.data[proto::kSubIndexByte];
  const std::uint8_t c = request.data[proto::kCommandByte];

  Variable* v = nullptr;
  if (const std::uint32_t code = m_store.checkWrite(m_index, m_subIndex, v)) return abort(code);

  can::CanFrame ok = response(proto::kScsDownloadInitiate);
  storeLe16(&ok.data[proto::kIndexLowByte], m_index);
  ok.data[proto::kSubIndexByte] = m_subIndex;

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
    return finishDownload(*v, std::vector<std::uint8_t>(data, data + count), ok.data[0]);
  }

  // Segmented: check an indicated size now, so a wrong length fails before any segment.
  if (proto::isSizeIndicated(c)) {
    const std::size_t size = loadLe32(data);
    if (const std::uint32_t code = ObjectStore::checkLength(*v, size)) return abort(code);
    m_announced = size;
  }
  m_mode = Mode::Download;
  m_toggle = 0;
  return ok;
}

can::CanFrame SdoServer::downloadSegment(const can::CanFrame& request) {
  if (m_mode != Mode::Download) return abort(proto::kAbortCommandUnknown);
  const std::uint8_t c = request.data[proto::kCommandByte];
  if (proto::toggleOf(c) != m_toggle) return abort(proto::kAbortToggleNotAlternated);

  const auto count = static_cast<std::size_t>(proto::segmentDataCount(c));
  const std::size_t limit = m_announced.value_or(ObjectStore::kMaxValueSize);
  if (m_buffer.size() + count > limit) {
    return abort(m_announced ? proto::kAbortLengthMismatch : proto::kAbortLengthTooHigh);
  }
  const auto* data = &request.data[proto::kSegmentDataByte];
  m_buffer.insert(m_buffer.end(), data, data + count);

  const std::uint8_t answer = proto::segmentCommand(proto::kScsDownloadSegment, m_toggle, 0, false);
  m_toggle ^= proto::kToggleBit;
  if (!proto::isLastSegment(c)) return response(answer);

  if (m_announced && m_buffer.size() != *m_announced) return abort(proto::kAbortLengthMismatch);
  Variable* v = m_store.find(m_index, m_subIndex);
  if (v == nullptr) return abort(proto::kAbortNoObject);
  return finishDownload(*v, std::move(m_buffer), answer);
}

can::CanFrame SdoServer::finishDownload(Variable& v, std::vector<std::uint8_t> bytes,
                                        std::uint8_t command) {
  if (const std::uint32_t code = ObjectStore::checkLength(v, bytes.size())) return abort(code);
  can::CanFrame f = response(command);
  if (command == proto::kScsDownloadInitiate) {
    storeLe16(&f.data[proto::kIndexLowByte], m_index);
    f.data[proto::kSubIndexByte] = m_subIndex;
  }
  v.value = std::move(bytes);
  cancel();
  if (m_writeHook) m_writeHook(v);
  return f;
}

}  // namespace bp::sim
