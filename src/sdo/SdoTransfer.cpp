#include "sdo/SdoTransfer.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "can/DriverErrors.h"
#include "sdo/AbortMessages.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::sdo {
namespace {

constexpr int kSpinPasses = 64;
constexpr auto kNap = std::chrono::microseconds(50);

}  // namespace

// Holds the client's claim for one transfer and routes the answers to the frame queue.
class SdoTransfer::Claim {
 public:
  explicit Claim(SdoTransfer& t) : m_transfer(t) {
    if (!t.m_claimAdopted && !t.m_client.tryClaim()) throw Error("An SDO file transfer is running");
    t.m_claimAdopted = t.m_holdClaim;  // held: the next call finds it ours; else released below
    t.m_client.routeToQueue(true);
  }
  ~Claim() {
    if (!m_transfer.m_holdClaim) m_transfer.m_client.release();
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;

 private:
  SdoTransfer& m_transfer;
};

SdoTransfer::~SdoTransfer() {
  if (m_holdClaim && m_claimAdopted) m_client.release();
}

std::string SdoTransfer::upload(std::uint16_t index, std::uint8_t subIndex) {
  Claim claim(*this);
  m_index = index;
  m_subIndex = subIndex;
  std::string data;
  if (m_options.block && blockUpload(data)) return data;
  return segmentedUpload();
}

void SdoTransfer::download(std::uint16_t index, std::uint8_t subIndex, std::string_view bytes) {
  Claim claim(*this);
  m_index = index;
  m_subIndex = subIndex;
  if (bytes.size() > m_options.maxSize || bytes.size() > 0xFFFFFFFFu)
    throw Error("SDO Transfer error, SDO too large");  // nothing was sent
  if (m_options.block && bytes.size() > proto::kInitiateDataSize && blockDownload(bytes)) return;
  segmentedDownload(bytes);
}

void writeEntry(SdoClient& client, const od::ObjectEntry& entry, std::string_view bytes) {
  TransferOptions options;
  options.timeoutMs = SdoClient::kTimeoutMs;
  options.block = false;
  options.windowThread = true;
  options.objectName = entry.nameText();
  SdoTransfer(client, std::move(options))
      .download(static_cast<std::uint16_t>(entry.index), static_cast<std::uint8_t>(entry.subIndex), bytes);
}

// ---- segmented ----

std::string SdoTransfer::segmentedUpload() {
  send(request(proto::kCcsUploadInitiate));
  std::string data;
  std::size_t total = 0;
  if (readInitiateAnswer(awaitAnswer(proto::kScsUploadInitiate), data, total)) return data;
  return uploadSegments(std::move(data), total);
}

// The answer to an upload initiate (also a block upload's protocol switch): true when it carried
// the data (expedited); else `total` is the announced size (0: not indicated).
bool SdoTransfer::readInitiateAnswer(const can::CanFrame& f, std::string& data, std::size_t& total) {
  const std::uint8_t c = f.data[proto::kCommandByte];
  const auto* d = f.data.data() + proto::kInitiateDataByte;
  if (proto::isExpedited(c)) {
    data.assign(reinterpret_cast<const char*>(d), static_cast<std::size_t>(proto::expeditedDataCount(c)));
    report(data.size(), data.size());
    return true;
  }
  total = proto::isSizeIndicated(c) ? loadLe32(d) : 0;
  checkSize(total);
  return false;
}

std::string SdoTransfer::uploadSegments(std::string data, std::size_t total) {
  std::uint8_t toggle = 0;
  for (;;) {
    send({proto::uploadSegmentRequest(toggle)});  // bytes 1..7 reserved
    const can::CanFrame f = awaitAnswer(proto::kScsUploadSegment);
    const std::uint8_t c = f.data[proto::kCommandByte];
    if (proto::toggleOf(c) != toggle)
      giveUp(proto::kAbortToggleNotAlternated, "SDO Transfer error, toggle bit not alternated");
    data.append(reinterpret_cast<const char*>(f.data.data() + proto::kSegmentDataByte),
                static_cast<std::size_t>(proto::segmentDataCount(c)));
    checkSize(data.size());
    report(data.size(), total);
    if (proto::isLastSegment(c)) return data;
    toggle ^= proto::kToggleBit;
  }
}

void SdoTransfer::segmentedDownload(std::string_view bytes) {
  const std::size_t size = bytes.size();
  if (size > 0 && size <= proto::kInitiateDataSize) {
    Bytes f = request(proto::expeditedDownloadCommand(size));
    std::copy(bytes.begin(), bytes.end(), f.begin() + proto::kInitiateDataByte);
    send(f);
    awaitAnswer(proto::kScsDownloadInitiate);
    report(size, size);
    return;
  }
  Bytes init = request(proto::initiateCommand(proto::kCcsDownloadInitiate, 0, false, true));
  storeLe32(init.data() + proto::kInitiateDataByte, static_cast<std::uint32_t>(size));
  send(init);
  awaitAnswer(proto::kScsDownloadInitiate);
  std::uint8_t toggle = 0;
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(proto::kSegmentDataSize, size - at);
    const bool last = at + n == size;
    Bytes seg{proto::segmentCommand(proto::kCcsDownloadSegment, toggle, static_cast<int>(7 - n), last)};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, seg.begin() + proto::kSegmentDataByte);
    send(seg);
    const can::CanFrame f = awaitAnswer(proto::kScsDownloadSegment);
    if (proto::toggleOf(f.data[proto::kCommandByte]) != toggle)
      giveUp(proto::kAbortToggleNotAlternated, "SDO Transfer error, toggle bit not alternated");
    at += n;
    report(at, size);
    toggle ^= proto::kToggleBit;
  } while (at < size);
}

// ---- primitives ----

SdoTransfer::Bytes SdoTransfer::request(std::uint8_t command) const noexcept {
  return {command, static_cast<std::uint8_t>(m_index), static_cast<std::uint8_t>(m_index >> 8), m_subIndex};
}

void SdoTransfer::send(const Bytes& data) {
  const std::uint32_t error = m_client.sendToNode(data);
  if (error != 0) throw Error(can::sendErrorMessage(error));
}

// The next frame of the node. The wait polls the frame queue and yields the processor between
// polls; it gives up after timeoutMs without an answer, or when cancelled.
can::CanFrame SdoTransfer::await() {
  const can::CanFrame f = awaitFrame();
  if (isAbort(f)) throw Error(abortText(loadLe32(f.data.data() + proto::kInitiateDataByte)));
  return f;
}

can::CanFrame SdoTransfer::awaitFrame() {
  Clock& clock = m_client.clock();
  const std::uint32_t t0 = clock.tickMs();
  can::CanFrame f{};
  for (int pass = 0;; ++pass) {
    m_client.waitPass(m_options.windowThread);
    if (m_client.nextAnswer(f)) break;
    if (m_options.cancel != nullptr && m_options.cancel->load(std::memory_order_acquire))
      giveUp(proto::kAbortGeneralError, "SDO Transfer cancelled");
    if (static_cast<std::uint32_t>(clock.tickMs() - t0) >= m_options.timeoutMs) {
      const auto name = m_options.objectName.empty() ? std::nullopt
                                                     : std::optional<std::string_view>(m_options.objectName);
      sendAbort(proto::kAbortTimedOut);
      throw TimeoutError(timeoutText(name, m_index, m_subIndex));
    }
    // The window thread spins as R/A/W do; a worker naps once an answer is not there at once, so
    // a file transfer does not hold a processor for its whole length.
    if (m_options.windowThread || pass < kSpinPasses)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(kNap);
  }
  return f;
}

can::CanFrame SdoTransfer::awaitAnswer(std::uint8_t scs) {
  const can::CanFrame f = await();
  const std::uint8_t c = f.data[proto::kCommandByte];
  const bool hasMux = scs != proto::kScsUploadSegment && scs != proto::kScsDownloadSegment;
  if (proto::commandSpecifier(c) != scs || (hasMux && !isOurs(f)))
    giveUp(proto::kAbortCommandUnknown, "SDO Transfer error, unexpected answer");
  return f;
}

// An abort of this transfer. A block segment never has this command byte (its sequence number is
// at least 1).
bool SdoTransfer::isAbort(const can::CanFrame& f) const noexcept {
  return f.data[proto::kCommandByte] == proto::kCsAbort && isOurs(f);
}

bool SdoTransfer::isOurs(const can::CanFrame& f) const noexcept {
  return loadLe16(f.data.data() + proto::kIndexLowByte) == m_index && f.data[proto::kSubIndexByte] == m_subIndex;
}

void SdoTransfer::giveUp(std::uint32_t code, const std::string& message) {
  sendAbort(code);
  throw Error(message);
}

void SdoTransfer::sendAbort(std::uint32_t code) { m_client.sendAbort(m_index, m_subIndex, code); }

void SdoTransfer::checkSize(std::size_t size) {
  if (size > m_options.maxSize) giveUp(proto::kAbortOutOfMemory, "SDO Transfer error, SDO too large");
}

void SdoTransfer::report(std::size_t done, std::size_t total) const {
  if (m_options.progress) m_options.progress(done, total);
}

}  // namespace bp::sdo
