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

// The node's default SDO server (CiA 301): expedited and segmented upload and download on the
// node's SDO request and response identifiers (canopen/Identifiers.h). One transfer at a time; a
// new initiate request ends a running one. Values of at most 4 bytes go expedited; strings, domains
// and wider numbers go segmented, so a client always receives a string's full text. Not
// thread-safe: its owner serialises every call.
class SdoServer {
 public:
  // Runs after a download has stored a new value, with the variable written.
  using WriteHook = std::function<void(const Variable&)>;

  // Request and response identifier bases.

  // The store must outlive the server.
  SdoServer(ObjectStore& store, std::uint8_t nodeId) noexcept : m_store(store), m_nodeId(nodeId) {}

  void setWriteHook(WriteHook hook) { m_writeHook = std::move(hook); }

  // One request frame (on the SDO request identifier of the node). Returns the response frame, or nullopt when
  // the request gets none: a frame shorter than 8 bytes, and an abort from the client (which
  // ends the running transfer). Never throws on any frame content.
  std::optional<can::CanFrame> handleRequest(const can::CanFrame& request);

  // Ends a running segmented transfer without a frame (NMT reset).
  void cancel() noexcept;

  // True while a segmented upload or download waits for its next segment.
  bool transferRunning() const noexcept { return m_mode != Mode::Idle; }

 private:
  enum class Mode { Idle, Upload, Download };

  can::CanFrame response(std::uint8_t command) const noexcept;
  can::CanFrame abort(std::uint32_t code) noexcept;
  can::CanFrame initiateUpload(const can::CanFrame& request);
  can::CanFrame uploadSegment(const can::CanFrame& request);
  can::CanFrame initiateDownload(const can::CanFrame& request);
  can::CanFrame downloadSegment(const can::CanFrame& request);
  // Validates and stores a complete download; the response or an abort.
  can::CanFrame finishDownload(Variable& v, std::vector<std::uint8_t> bytes, std::uint8_t command);

  ObjectStore& m_store;
  const std::uint8_t m_nodeId;
  WriteHook m_writeHook;

  // The running (or last) transfer.
  Mode m_mode = Mode::Idle;
  std::uint16_t m_index = 0;
  std::uint8_t m_subIndex = 0;
  std::uint8_t m_toggle = 0;             // toggle bit the next segment request must carry
  std::vector<std::uint8_t> m_buffer;    // upload: value snapshot; download: data received
  std::size_t m_offset = 0;              // upload: bytes sent so far
  std::optional<std::size_t> m_announced;  // download: size indicated by the client
};

}  // namespace bp::sim
