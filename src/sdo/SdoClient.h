#pragma once
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "can/CanDriver.h"
#include "engine/FrameHandOver.h"
#include "od/ObjectEntry.h"
#include "sdo/FrameQueue.h"
#include "util/Clock.h"

namespace bp::sdo {

// The SDO client: one transfer at a time to the selected node over its default SDO channel.
// TransferSdo (R/A/W) runs on the window thread and blocks it until the transfer is done, aborted,
// too large or timed out; handOverId and takeFrame run on the high-rate reader's thread. A time-out
// or a size beyond the buffer is also told to the node by an abort frame (0x05040000, 0x05040005)
// after the failure's message is made. General transfers of any type and size (SdoTransfer,
// TransferJob) claim the client and take the answers through its frame queue instead.
//
// The response handler never touches an object entry: it stores into buffers of the running
// transfer that this client owns, and TransferSdo copies them into the entry on the window thread
// when the transfer ends. No pointer to the entry is kept after TransferSdo returns, so records may
// be released at any time between transfers; a response arriving then is consumed and ignored.
class SdoClient final : public engine::FrameHandOver {
 public:
  static constexpr std::uint32_t kTimeoutMs = 250;
  static constexpr std::size_t kSegmentBufferSize = 256;

  // nodeId: one writer, the window thread; read afresh for every frame sent and tested.
  // The driver, node ID and clock must outlive the client.
  SdoClient(can::CanDriver& driver, const std::atomic<std::int32_t>& nodeId, Clock& clock) noexcept;

  // Window thread. Uploads (direction 0) or downloads (direction 1) the entry. Returns when the
  // transfer is done; throws bp::Error with the message of the failure otherwise. The entry holds
  // the result when it returns or throws, except after an abort: then it keeps every value it had
  // (a read shows what it showed, a write entry keeps the value to write). A download of a data type without a length (strings,
  // unknown codes) is refused before anything is sent. Must not be called again while it runs.
  void TransferSdo(od::ObjectEntry& entry);

  // Reader's thread. One response frame of the selected node. Never blocks, allocates or throws.
  // The selected node's answers, handed over by the reader (on its thread).
  std::uint32_t handOverId() const noexcept override;
  void takeFrame(const can::CanFrame& frame) noexcept override;

  // One transfer at a time across the client. A file transfer (SdoTransfer, see TransferJob)
  // claims the client on the window thread before it starts and releases it on the thread that
  // ran it; while it is claimed, TransferSdo refuses with "An SDO file transfer is running".
  bool busy() const noexcept { return m_claimed.load(std::memory_order_acquire); }
  bool tryClaim() noexcept;          // window thread; false when already claimed
  void release() noexcept;           // the claim's holder

  // For the claim's holder (SdoTransfer): answers go to the frame queue while routed there.
  void routeToQueue(bool on) noexcept;
  bool nextAnswer(can::CanFrame& frame) noexcept { return m_queue.pop(frame); }
  // Any thread: answers lost to a full frame queue since start (the transfer then times out).
  std::uint32_t droppedAnswers() const noexcept { return m_queue.dropped(); }
  // Sends an SDO request (8 bytes) to the selected node; the driver's result.
  std::uint32_t sendToNode(const std::array<std::uint8_t, 8>& data);
  // Tells the node that the client gives up the transfer of this object, with the CiA 301 code.
  // A send error is not reported: the failure's own message follows.
  void sendAbort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code) noexcept;
  Clock& clock() const noexcept { return m_clock; }
  // One pass of a wait: the test hook (setWaitHook), and on the window thread the busy work.
  void waitPass(bool windowThread) {
    if (m_waitHook) m_waitHook();
    if (windowThread && m_busyWork) m_busyWork();
  }

  // Tests: called on every pass of the busy wait (to step a scripted node or a fake clock).
  void setWaitHook(std::function<void()> hook) { m_waitHook = std::move(hook); }
  // Work of the waiting thread that must go on during a transfer, called on every pass of the
  // busy wait: the owner takes frames out of the receive ring, so the reader never stops for want
  // of room while an answer may be queued behind other traffic. Must be short and not throw.
  void setBusyWork(std::function<void()> work) { m_busyWork = std::move(work); }

 private:
  enum class Kind : std::uint8_t { kNone = 0, kUpload = 2, kDownload = 3 };
  enum class State : std::uint8_t { kInProgress = 1, kDone = 4, kAborted = 5, kTooLarge = 6 };

  // Everything a response may change, plus what it is matched against. Owned by the window thread
  // while no transfer is open and by the reader's thread while one is (see m_openTransfer); it is
  // never touched by both at once, so its fields are plain.
  struct Transfer {
    // Set by TransferSdo when it arms the transfer; only read by the handler.
    Kind kind = Kind::kNone;
    std::int32_t index = 0;
    std::int32_t subIndex = 0;
    std::int8_t dataType = 0;
    // Results, written by the handler.
    State state = State::kDone;
    std::uint32_t value = 0;                     // the entry's value at arm time, then the result
    std::uint32_t abortCode = 0;                 // the code of an abort response
    std::array<std::uint8_t, 4> realBytes{};     // REAL32 result, least significant byte first
    bool realStored = false;                     // realBytes holds received bytes
    std::array<char, kSegmentBufferSize> segmentBuffer{};
    std::array<char, kSegmentBufferSize> text{}; // textValue taken at the last segment
    std::size_t textLength = 0;
    bool textStored = false;
    std::int32_t announcedSize = 0;
    std::int32_t receivedCount = 0;
    std::uint8_t expectedToggle = 0;             // 0x00 or 0x10
    bool bytesStored = false;                    // readsAsBytes types: segmentBuffer holds data
    bool sizeOnly = false;                       // a DOMAIN beyond the buffer: its size only
  };

  // Window thread.
  void armTransfer(const od::ObjectEntry& entry, Kind kind);
  bool waitForEnd(std::uint32_t transfer, std::uint32_t& sendError);
  std::uint32_t sendRequest(std::uint8_t command, const std::array<std::uint8_t, 4>& data);
  void closeTransfer() noexcept;
  void publishInto(od::ObjectEntry& entry) const;
  void sendAbort(std::uint32_t code) noexcept;  // of the running transfer
  void throwFailure(const od::ObjectEntry& entry, bool finished, std::uint32_t sendError);

  // Reader's thread.
  void applyResponse(const can::CanFrame& frame, std::uint32_t transfer) noexcept;
  void applyUploadInitiate(const std::uint8_t* d, std::uint32_t transfer) noexcept;
  void applyUploadSegment(const std::uint8_t* d, std::uint32_t transfer) noexcept;
  void storeSegmentData(const std::uint8_t* data, int count) noexcept;
  void finish(State state, std::uint32_t transfer) noexcept;
  void requestSegment() noexcept;

  can::CanDriver& m_driver;
  const std::atomic<std::int32_t>& m_nodeId;
  Clock& m_clock;
  std::function<void()> m_waitHook;
  std::function<void()> m_busyWork;

  Transfer m_transfer;

  // Window thread only.
  std::uint32_t m_lastTransfer = 0;          // number of the last transfer armed
  std::uint32_t m_segmentRequestSeen = 0;    // the m_segmentRequest word last acted on

  // Reader's thread only.
  std::uint32_t m_segmentRequestCount = 0;

  // Shared. The hand-over of m_transfer is a two-flag handshake: the handler raises
  // m_handlerBusy and then looks at m_openTransfer; the window thread clears m_openTransfer and
  // then waits until m_handlerBusy is down. Both pairs are sequentially consistent, so either the
  // handler sees the transfer closed and stores nothing, or the window sees it busy and waits.
  std::atomic<std::uint32_t> m_openTransfer{0};      // writer: window thread; 0 = none open
  std::atomic<bool> m_handlerBusy{false};            // writer: reader's thread
  // Transfer state published: the number of the transfer whose state left "in progress". Stored
  // with release after every result byte; loaded with acquire.
  std::atomic<std::uint32_t> m_finishedTransfer{0};  // writer: reader's thread
  // Segment request flag: bit 0 the toggle to send (1 = 0x10), bits 31..1 a request count. A
  // change asks for one segment request; stored with release after the data, loaded with acquire.
  std::atomic<std::uint32_t> m_segmentRequest{0};    // writer: reader's thread
  // The claim: set (false to true) by the window thread only, cleared by the claim's holder.
  std::atomic<bool> m_claimed{false};
  // Answers go to m_queue instead of m_transfer. Writer: the claim's holder (one at a time).
  std::atomic<bool> m_toQueue{false};
  FrameQueue m_queue;  // producer: reader's thread; consumer: the claim's holder
};

}  // namespace bp::sdo
