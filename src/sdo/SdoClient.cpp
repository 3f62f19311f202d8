#include "sdo/SdoClient.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

#include "can/DriverErrors.h"
#include "canopen/Identifiers.h"
#include "od/ValueEncoding.h"
#include "sdo/AbortMessages.h"
#include "sdo/SdoProtocol.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::sdo {

namespace {

// The types R and A read as bytes and store with od::storeValueBytes; the others keep the older
// rules (integers up to 32 bits into value, REAL32 into realValue, VISIBLE_STRING as text).
bool readsAsBytes(std::int8_t t) noexcept {
  return od::isWideInteger(t) || t == od::kReal64 || t == od::kOctetString || t == od::kUnicodeString ||
         t == od::kDomain;
}

// Bytes a download carries, by data type code; -1 where the type has no length (the strings and
// unknown codes). TIME_OF_DAY and TIME_DIFFERENCE go out as 4 bytes.
constexpr int kNoLength = -1;
constexpr int kDownloadLength[] = {0, 1, 1, 2, 4, 1, 2, 4, 4, kNoLength, kNoLength, kNoLength, 4, 4};

int downloadLength(std::int8_t dataType) noexcept {
  if (dataType < 0 || dataType >= static_cast<int>(std::size(kDownloadLength))) return kNoLength;
  return kDownloadLength[dataType];
}

constexpr std::int32_t kMaxReceivedCount = 0x7FFFFFFF - 8;

}  // namespace

SdoClient::SdoClient(can::CanDriver& driver, const std::atomic<std::int32_t>& nodeId,
                     Clock& clock) noexcept
    : m_driver(driver), m_nodeId(nodeId), m_clock(clock) {}

// ---- window thread ----

void SdoClient::TransferSdo(od::ObjectEntry& entry) {
  if (busy()) throw Error("An SDO file transfer is running");
  const bool download = entry.direction == od::kWrite;
  const int length = download ? downloadLength(entry.dataType) : 0;
  if (length == kNoLength) throw Error("Can't write this type of object");

  std::uint8_t command = proto::kCcsUploadInitiate;
  std::array<std::uint8_t, 4> data{};
  if (download) {
    command = proto::expeditedDownloadCommand(static_cast<std::size_t>(length));
    std::array<std::uint8_t, 4> all{};
    storeLe32(all.data(), static_cast<std::uint32_t>(entry.value));
    for (int i = 0; i < length; ++i) data[static_cast<std::size_t>(i)] = all[static_cast<std::size_t>(i)];
  }

  // Armed before the initiate frame goes out, so an answer that comes at once is matched.
  armTransfer(entry, download ? Kind::kDownload : Kind::kUpload);
  const std::uint32_t transfer = m_lastTransfer;

  std::uint32_t sendError = 0;
  bool finished = false;
  try {
    sendError = sendRequest(command, data);
    if (sendError == 0) finished = waitForEnd(transfer, sendError);
  } catch (...) {
    closeTransfer();  // a throwing driver or wait hook: nothing is published
    throw;
  }
  closeTransfer();
  if (m_transfer.state != State::kAborted) publishInto(entry);  // an abort leaves the entry as it was
  if (m_transfer.sizeOnly) sendAbort(proto::kAbortOutOfMemory);  // the rest of a long DOMAIN
  throwFailure(entry, finished, sendError);
}

// The message of a failed transfer, after the abort frame of what the client gives up.
void SdoClient::throwFailure(const od::ObjectEntry& entry, bool finished, std::uint32_t sendError) {
  if (sendError != 0) throw Error(can::sendErrorMessage(sendError));
  // A state that left "in progress" before the transfer was closed wins over the time-out.
  if (!finished && m_transfer.state == State::kInProgress) {
    sendAbort(proto::kAbortTimedOut);
    throw Error(timeoutText(entry.nameText(), entry.index, entry.subIndex));
  }
  switch (m_transfer.state) {
    case State::kAborted:
      throw Error(abortText(m_transfer.abortCode));
    case State::kTooLarge:
      sendAbort(proto::kAbortOutOfMemory);
      throw Error("SDO Transfer error, SDO too large");
    case State::kInProgress:  // only reached after a send error, handled above
    case State::kDone:
      break;
  }
}

bool SdoClient::tryClaim() noexcept {
  bool expected = false;
  return m_claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
}

void SdoClient::release() noexcept {
  m_toQueue.store(false, std::memory_order_seq_cst);
  // As in closeTransfer: once the handler is out, nothing more is pushed for this transfer.
  while (m_handlerBusy.load(std::memory_order_seq_cst)) {
  }
  m_claimed.store(false, std::memory_order_release);
}

void SdoClient::routeToQueue(bool on) noexcept {
  if (on) m_queue.clear();  // answers left from an earlier transfer
  m_toQueue.store(on, std::memory_order_seq_cst);
}

void SdoClient::armTransfer(const od::ObjectEntry& entry, Kind kind) {
  // No transfer is open here, so m_transfer belongs to this thread.
  Transfer& t = m_transfer;
  t.kind = kind;
  t.index = entry.index;
  t.subIndex = entry.subIndex;
  t.dataType = entry.dataType;
  t.state = State::kInProgress;
  t.value = static_cast<std::uint32_t>(entry.value);
  t.abortCode = 0;
  t.realBytes = {};
  t.realStored = false;
  t.segmentBuffer.fill('\0');
  t.textLength = 0;
  t.textStored = false;
  t.announcedSize = 0;
  t.receivedCount = 0;
  t.expectedToggle = 0;
  t.bytesStored = false;
  t.sizeOnly = false;
  m_segmentRequestSeen = m_segmentRequest.load(std::memory_order_acquire);

  if (++m_lastTransfer == 0) ++m_lastTransfer;  // 0 means "none open"
  m_openTransfer.store(m_lastTransfer, std::memory_order_seq_cst);  // hands m_transfer over
}

// The busy wait: no sleep and no window messages. True when the transfer finished, false on a
// time-out or when a segment request could not be sent (sendError then holds the driver's code).
bool SdoClient::waitForEnd(std::uint32_t transfer, std::uint32_t& sendError) {
  std::uint32_t t0 = m_clock.tickMs();
  for (;;) {
    if (m_waitHook) m_waitHook();
    if (m_busyWork) m_busyWork();
    const std::uint32_t request = m_segmentRequest.load(std::memory_order_acquire);
    if (request != m_segmentRequestSeen) {
      m_segmentRequestSeen = request;
      const std::uint8_t toggle = (request & 1u) != 0 ? proto::kToggleBit : 0;
      sendError = sendRequest(proto::uploadSegmentRequest(toggle), {});
      if (sendError != 0) return false;
      t0 = m_clock.tickMs();
    }
    if (m_finishedTransfer.load(std::memory_order_acquire) == transfer) return true;
    if (static_cast<std::uint32_t>(m_clock.tickMs() - t0) >= kTimeoutMs) return false;
  }
}

std::uint32_t SdoClient::sendRequest(std::uint8_t command, const std::array<std::uint8_t, 4>& data) {
  // Only read on this thread while the transfer is open; the handler reads them too.
  std::array<std::uint8_t, 8> bytes{command, static_cast<std::uint8_t>(m_transfer.index),
                                    static_cast<std::uint8_t>(m_transfer.index >> 8),
                                    static_cast<std::uint8_t>(m_transfer.subIndex)};
  for (std::size_t i = 0; i < data.size(); ++i) bytes[proto::kInitiateDataByte + i] = data[i];
  return sendToNode(bytes);
}

std::uint32_t SdoClient::sendToNode(const std::array<std::uint8_t, 8>& data) {
  can::CanFrame f{};
  f.id = canopen::kSdoRequestBase + static_cast<std::uint32_t>(m_nodeId.load(std::memory_order_relaxed));
  f.type = can::kMsgData;
  f.len = proto::kFrameLength;
  f.data = data;
  return m_driver.write(f);
}

// Tells the node that the client gives the transfer up. A send error is not reported: the
// failure's own message follows.
void SdoClient::sendAbort(std::uint32_t code) noexcept {
  sendAbort(static_cast<std::uint16_t>(m_transfer.index), static_cast<std::uint8_t>(m_transfer.subIndex), code);
}

void SdoClient::sendAbort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code) noexcept {
  std::array<std::uint8_t, 8> bytes{proto::kCsAbort, static_cast<std::uint8_t>(index),
                                    static_cast<std::uint8_t>(index >> 8), subIndex};
  storeLe32(bytes.data() + proto::kInitiateDataByte, code);
  try {
    (void)sendToNode(bytes);
  } catch (...) {
  }
}

void SdoClient::closeTransfer() noexcept {
  m_openTransfer.store(0, std::memory_order_seq_cst);
  // The handler is inside one frame at most: a few hundred nanoseconds.
  while (m_handlerBusy.load(std::memory_order_seq_cst)) {
  }
}

void SdoClient::publishInto(od::ObjectEntry& entry) const {
  const Transfer& t = m_transfer;
  entry.value = static_cast<std::int32_t>(t.value);
  if (t.realStored)
    entry.realValue = static_cast<double>(std::bit_cast<float>(loadLe32(t.realBytes.data())));
  if (t.textStored) entry.textValue.assign(t.text.data(), t.textLength);
  if (t.bytesStored) {
    const auto received = static_cast<std::size_t>(t.receivedCount);
    const std::size_t kept = std::min(received, kSegmentBufferSize);
    const std::size_t total = t.sizeOnly ? static_cast<std::uint32_t>(t.announcedSize) : received;
    od::storeValueBytes(entry, {t.segmentBuffer.data(), kept}, total);
  }
}

// ---- reader's thread ----

std::uint32_t SdoClient::handOverId() const noexcept {
  return canopen::kSdoResponseBase + static_cast<std::uint32_t>(m_nodeId.load(std::memory_order_relaxed));
}

void SdoClient::takeFrame(const can::CanFrame& frame) noexcept {
  m_handlerBusy.store(true, std::memory_order_seq_cst);
  if (m_toQueue.load(std::memory_order_seq_cst)) {
    (void)m_queue.push(frame);  // a full queue drops it; the transfer then times out
    m_handlerBusy.store(false, std::memory_order_release);
    return;
  }
  const std::uint32_t transfer = m_openTransfer.load(std::memory_order_seq_cst);
  if (transfer != 0) applyResponse(frame, transfer);  // else: consumed, nothing changes
  m_handlerBusy.store(false, std::memory_order_release);
}

void SdoClient::applyResponse(const can::CanFrame& frame, std::uint32_t transfer) noexcept {
  Transfer& t = m_transfer;
  const std::uint8_t* d = frame.data.data();
  const std::uint8_t cs = proto::commandSpecifier(d[proto::kCommandByte]);
  const bool matches = d[proto::kIndexLowByte] == (t.index & 0xFF) &&
                       d[proto::kIndexHighByte] == ((t.index >> 8) & 0xFF) &&
                       d[proto::kSubIndexByte] == t.subIndex;

  // The four rules, each tried on its own, in this order.
  if (t.kind == Kind::kUpload && cs == proto::kScsUploadInitiate && matches) applyUploadInitiate(d, transfer);

  if (cs == proto::kCsAbort && matches) {
    t.abortCode = loadLe32(d + proto::kInitiateDataByte);
    finish(State::kAborted, transfer);
  }

  if (cs == proto::kScsDownloadInitiate && matches) finish(State::kDone, transfer);

  // Segment responses carry no index, so there is no match test.
  if (t.kind == Kind::kUpload && cs == proto::kScsUploadSegment) applyUploadSegment(d, transfer);
  // Anything else (download segment and block responses, frames for other objects) changes
  // nothing.
}

void SdoClient::applyUploadInitiate(const std::uint8_t* d, std::uint32_t transfer) noexcept {
  Transfer& t = m_transfer;
  const std::uint8_t c = d[proto::kCommandByte];
  if (proto::isExpedited(c)) {
    const int count = proto::expeditedDataCount(c);
    if (readsAsBytes(t.dataType)) {
      storeSegmentData(d + proto::kInitiateDataByte, count);
    } else if (t.dataType <= od::kUnsigned32) {
      // The low-order bytes only; the higher ones keep their contents.
      const std::uint32_t mask = count >= 4 ? 0xFFFFFFFFu : (1u << (8 * count)) - 1u;
      t.value = (t.value & ~mask) | loadLeN(d + proto::kInitiateDataByte, static_cast<std::size_t>(count));
    } else if (t.dataType == od::kReal32) {
      for (int i = 0; i < count; ++i)
        t.realBytes[static_cast<std::size_t>(i)] = d[proto::kInitiateDataByte + static_cast<std::size_t>(i)];
      t.realStored = true;
    }
    finish(State::kDone, transfer);
    return;
  }
  t.segmentBuffer.fill('\0');
  t.announcedSize = static_cast<std::int32_t>(loadLe32(d + proto::kInitiateDataByte));
  t.receivedCount = 0;
  // The size is compared as a signed number, as it always was; a DOMAIN's as unsigned.
  const bool longDomain = t.dataType == od::kDomain && static_cast<std::uint32_t>(t.announcedSize) > kSegmentBufferSize;
  if (longDomain || t.announcedSize > static_cast<std::int32_t>(kSegmentBufferSize)) {
    t.sizeOnly = longDomain;  // shows its size; the rest is aborted after the transfer
    t.bytesStored = longDomain;
    finish(longDomain ? State::kDone : State::kTooLarge, transfer);  // no segment is requested
  } else {
    t.expectedToggle = 0;
    requestSegment();
  }
}

void SdoClient::applyUploadSegment(const std::uint8_t* d, std::uint32_t transfer) noexcept {
  Transfer& t = m_transfer;
  const std::uint8_t c = d[proto::kCommandByte];
  if (proto::toggleOf(c) == t.expectedToggle)
    storeSegmentData(d + proto::kSegmentDataByte, proto::segmentDataCount(c));
  // else: wrong toggle, the data is dropped
  t.expectedToggle ^= proto::kToggleBit;
  if (!proto::isLastSegment(c)) {
    requestSegment();
    return;
  }
  if (t.dataType == od::kVisibleString) {
    std::size_t n = 0;
    while (n < kSegmentBufferSize && t.segmentBuffer[n] != '\0') ++n;
    for (std::size_t i = 0; i < n; ++i) t.text[i] = t.segmentBuffer[i];
    t.textLength = n;
    t.textStored = true;
  }
  finish(State::kDone, transfer);
}

// Copies one segment's data at the received count into the destination of the data type. Bytes
// past the end of the destination are dropped.
void SdoClient::storeSegmentData(const std::uint8_t* data, int count) noexcept {
  Transfer& t = m_transfer;
  for (int i = 0; i < count; ++i) {
    const std::int64_t at = static_cast<std::int64_t>(t.receivedCount) + i;
    if (t.dataType == od::kVisibleString || readsAsBytes(t.dataType)) {
      t.bytesStored = t.dataType != od::kVisibleString;
      if (at < static_cast<std::int64_t>(kSegmentBufferSize))
        t.segmentBuffer[static_cast<std::size_t>(at)] = static_cast<char>(data[i]);
    } else if (t.dataType == od::kReal32) {
      if (at < 4) {
        t.realBytes[static_cast<std::size_t>(at)] = data[i];
        t.realStored = true;
      }
    } else if (at < 4) {
      const unsigned shift = 8u * static_cast<unsigned>(at);
      t.value = (t.value & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(data[i]) << shift);
    }
  }
  if (t.receivedCount < kMaxReceivedCount) t.receivedCount += count;
}

// Publishes a state that is not "in progress", after every result byte has been stored.
void SdoClient::finish(State state, std::uint32_t transfer) noexcept {
  m_transfer.state = state;
  m_finishedTransfer.store(transfer, std::memory_order_release);
}

// Asks TransferSdo for the next segment request, with the toggle it must carry.
void SdoClient::requestSegment() noexcept {
  ++m_segmentRequestCount;
  const std::uint32_t word = (m_segmentRequestCount << 1) | (m_transfer.expectedToggle != 0 ? 1u : 0u);
  m_segmentRequest.store(word, std::memory_order_release);
}

}  // namespace bp::sdo
