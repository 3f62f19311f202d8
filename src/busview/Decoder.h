#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "can/CanFrame.h"

namespace bp::busview {

// The CANopen service of a frame, by its identifier (CiA 301 predefined connection set, LSS).
enum class Service : std::uint8_t {
  Unknown,
  Nmt,           // 0x000
  Sync,          // 0x080
  Time,          // 0x100
  Emcy,          // 0x081..0x0FF
  Tpdo,          // 0x180/0x280/0x380/0x480 + node
  Rpdo,          // 0x200/0x300/0x400/0x500 + node
  SdoRequest,    // 0x600 + node, client to server
  SdoAnswer,     // 0x580 + node, server to client
  BootUp,        // 0x700 + node, state 0
  Heartbeat,     // 0x700 + node, a state other than boot-up
  GuardRequest,  // 0x700 + node, remote frame
  GuardAnswer,   // 0x700 + node after a guarding request, or with the toggle bit set
  LssRequest,    // 0x7E5, master to slave
  LssAnswer,     // 0x7E4, slave to master
};
inline constexpr int kServiceCount = static_cast<int>(Service::LssAnswer) + 1;

// What an SDO frame does, by its command byte and, for block transfers, the transfer it is in.
enum class SdoCommand : std::uint8_t {
  None,  // not an SDO frame
  DownloadInitiate,
  DownloadSegment,
  UploadInitiate,
  UploadSegment,
  Abort,
  BlockDownloadInitiate,
  BlockDownloadSegment,  // a frame of a sub-block: sequence number in byte 0
  BlockDownloadAck,      // the server's sub-block response
  BlockDownloadEnd,
  BlockUploadInitiate,
  BlockUploadStart,
  BlockUploadSegment,
  BlockUploadAck,
  BlockUploadEnd,
  Invalid,  // command specifier 7
};

// The meaning of one frame: four bytes, kept beside the frame; the text is built from both only
// when it is shown (describe()).
struct Decoded {
  Service service = Service::Unknown;
  std::uint8_t node = 0;       // 1..127; 0 for services of no node and NMT commands to all nodes
  std::uint8_t pdoNumber = 0;  // TPDO/RPDO 1..4, else 0
  SdoCommand sdo = SdoCommand::None;
};
static_assert(sizeof(Decoded) == 4);

// Decodes frames in the order they were on the bus. It keeps, per node, what one frame cannot
// tell: whether a guarding request waits for its answer and which phase a block transfer is in
// (its sub-block segments carry no command byte). No allocation; one thread.
class Decoder {
 public:
  Decoded decode(const can::CanFrame& f) noexcept;
  // Forgets every transfer and request (a new trace begins).
  void reset() noexcept { m_nodes = {}; }

 private:
  enum class Block : std::uint8_t {
    Idle,
    DownloadSegments,  // the client sends sub-block segments
    DownloadEnd,       // the last segment went: the next client frame has a command byte again
    UploadStarting,    // block upload initiated: segments follow the client's start
    UploadSegments,    // the server sends sub-block segments
    UploadEnd,
  };
  struct NodeState {
    Block block = Block::Idle;
    std::uint8_t lastSeqno = 0;  // sequence number of the latest sub-block segment
    bool guardPending = false;
  };
  Decoded decodeSdo(Decoded d, const can::CanFrame& f) noexcept;
  Decoded decodeErrorControl(Decoded d, const can::CanFrame& f) noexcept;

  std::array<NodeState, 128> m_nodes{};
};

// The name of a service for filters and columns: "NMT", "SYNC", "TIME", "EMCY", "TPDO", "RPDO",
// "SDO request", "SDO answer", "Boot-up", "Heartbeat", "Guarding request", "Guarding answer",
// "LSS request", "LSS answer", "unknown".
std::string_view serviceName(Service s) noexcept;

// The name of an NMT state as heartbeat, boot-up and guarding report it (toggle bit removed):
// 0 "Boot-up", 4 "Stopped", 5 "Operational", 127 "Pre-operational"; "" for other values.
std::string_view nmtStateName(std::uint8_t state) noexcept;

// The text of a decoded frame: "NMT Start node 5", "SYNC counter 3", "TPDO1 node 5",
// "SDO request node 5: initiate download 0x6040 sub 0, 2 bytes: 0F 00", "Heartbeat node 5:
// Operational", "EMCY node 5: 0x2310 Current, device output side / Continuous over-current; ...",
// "unknown". `cia402Drive` adds the drive texts of EMCY codes. Window thread, when shown.
std::string describe(const Decoded& d, const can::CanFrame& f, bool cia402Drive = false);

// The parts of an EMCY frame, for the emergency log.
struct Emcy {
  std::uint16_t code = 0;
  std::uint8_t errorRegister = 0;
  std::array<std::uint8_t, 5> manufacturer{};  // bytes 3..7
  std::uint8_t manufacturerLength = 0;         // how many of them the frame carries
};
Emcy emcyOf(const can::CanFrame& f) noexcept;

}  // namespace bp::busview
