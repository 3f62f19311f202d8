#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "can/CanFrame.h"
#include "canopen/Identifiers.h"
#include "sim/ObjectStore.h"

namespace bp::sim {

// The node's default SDO server (CiA 301) on the node's SDO request and response identifiers
// (canopen/Identifiers.h): expedited, segmented and block upload and download, block transfers
// with CRC. One transfer at a time; a new initiate request ends a running one. Values of at most
// 4 bytes go expedited; strings, domains and wider numbers go segmented (or by block), so a client
// always receives a value's full length. Not thread-safe: its owner serialises every call.
class SdoServer {
 public:
  // Runs after a download has stored a new value, with the variable written.
  using WriteHook = std::function<void(const Variable&)>;
  // Takes every frame the server sends, in order: one answer for most requests, a whole sub-block
  // (up to 127 segments) for a block upload.
  using FrameSink = std::function<void(const can::CanFrame&)>;

  // The block size the server asks for in block downloads.
  static constexpr std::uint8_t kDownloadBlockSize = 127;

  // The store must outlive the server.
  SdoServer(ObjectStore& store, std::uint8_t nodeId, FrameSink send)
      : m_store(store), m_nodeId(nodeId), m_send(std::move(send)) {}

  void setWriteHook(WriteHook hook) { m_writeHook = std::move(hook); }
  // With block transfer off, a block upload or download initiate gets abort 0x05040001 (command
  // unknown), which tells a client to fall back to segmented transfer. On at start.
  void setBlockTransfer(bool enabled) noexcept { m_blockTransfer = enabled; }
  bool blockTransfer() const noexcept { return m_blockTransfer; }

  // One request frame (on the SDO request identifier of the node); its answers go to the sink.
  // No answer for a frame shorter than 8 bytes, an abort from the client (which ends the running
  // transfer), a segment inside a block download's sub-block other than its last, and the
  // client's end of a block upload. Never throws on any frame content.
  void handleRequest(const can::CanFrame& request);

  // Ends a running transfer without a frame (NMT reset).
  void cancel() noexcept;

  // True while a segmented or block transfer waits for the client's next frame.
  bool transferRunning() const noexcept { return m_mode != Mode::Idle; }

 private:
  enum class Mode {
    Idle,
    Upload,            // segmented: waits for an upload segment request
    Download,          // segmented: waits for a download segment
    BlockDownload,     // receives sub-block segments
    BlockDownloadEnd,  // the last segment came: waits for the client's end frame
    BlockUploadStart,  // initiate answered: waits for the client's start
    BlockUpload,       // a sub-block sent: waits for the client's acknowledge
    BlockUploadEnd,    // the end frame sent: waits for the client's end answer
  };

  // ---- SdoServer.cpp: dispatch, expedited and segmented transfers ----
  can::CanFrame response(std::uint8_t command) const noexcept;
  // A response that names the object of the transfer in bytes 1..3.
  can::CanFrame objectResponse(std::uint8_t command) const noexcept;
  void abort(std::uint32_t code);
  void takeObject(const can::CanFrame& request) noexcept;
  void initiateUpload(const can::CanFrame& request);
  // The answer to an upload of `v` by expedited or segmented transfer.
  void startUpload(const Variable& v);
  void uploadSegment(const can::CanFrame& request);
  void initiateDownload(const can::CanFrame& request);
  void downloadSegment(const can::CanFrame& request);
  // Validates and stores a complete download, then sends `ok`; or sends an abort.
  void finishDownload(Variable& v, std::vector<std::uint8_t> bytes, const can::CanFrame& ok);
  // The size a download may bring: the size the client announced, else what the object holds.
  std::size_t downloadLimit() const noexcept { return m_announced.value_or(m_capacity); }

  // ---- SdoBlockServer.cpp: block transfers ----
  void blockUpload(const can::CanFrame& request);
  void initiateBlockUpload(const can::CanFrame& request);
  void blockUploadAck(const can::CanFrame& request);
  void sendSubBlock();
  void blockDownload(const can::CanFrame& request);
  void initiateBlockDownload(const can::CanFrame& request);
  void blockDownloadSegment(const can::CanFrame& request);
  void endBlockDownload(const can::CanFrame& request);

  ObjectStore& m_store;
  const std::uint8_t m_nodeId;
  FrameSink m_send;
  WriteHook m_writeHook;
  bool m_blockTransfer = true;

  // The running (or last) transfer.
  Mode m_mode = Mode::Idle;
  std::uint16_t m_index = 0;
  std::uint8_t m_subIndex = 0;
  std::uint8_t m_toggle = 0;             // toggle bit the next segment request must carry
  std::vector<std::uint8_t> m_buffer;    // upload: value snapshot; download: data received
  std::size_t m_offset = 0;              // segmented upload: bytes sent so far
  std::optional<std::size_t> m_announced;  // download: size indicated by the client
  std::size_t m_capacity = 0;            // download: most bytes the object takes
  bool m_crc = false;                    // block: both sides check a CRC
  std::uint8_t m_blockSize = 0;          // block: segments a sub-block has at most
  std::uint8_t m_seqno = 0;              // block download: last segment received in order
  std::size_t m_segment = 0;             // block upload: first segment of the current sub-block
  std::uint8_t m_sent = 0;               // block upload: segments of the current sub-block
};

}  // namespace bp::sim
