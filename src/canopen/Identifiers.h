#pragma once
// The CANopen facts every part of the tool shares (CiA 301 predefined connection set): the
// identifiers of each service, the node-ID range and the NMT command specifiers. No other file
// spells them out.
#include <array>
#include <cstdint>

namespace bp::canopen {

// Node IDs: 1 to 127 address one node; 0 addresses every node in an NMT command.
inline constexpr std::int32_t kMaxNodeId = 127;
// True for the node IDs the tool may address, 0 to 127.
constexpr bool isValidNodeId(std::int32_t nodeId) noexcept { return nodeId >= 0 && nodeId <= kMaxNodeId; }

// Identifiers. "Base" ones are added to the node ID.
inline constexpr std::uint32_t kNmtId = 0x000;             // NMT module control, from the master
inline constexpr std::uint32_t kSyncId = 0x080;            // SYNC, no node ID
inline constexpr std::uint32_t kTimeId = 0x100;            // TIME stamp, no node ID
inline constexpr std::uint32_t kEmcyBase = 0x080;          // EMCY of node N: 0x080 + N (N >= 1)
inline constexpr std::array<std::uint32_t, 4> kTpdoBase{0x180, 0x280, 0x380, 0x480};  // node to master
inline constexpr std::array<std::uint32_t, 4> kRpdoBase{0x200, 0x300, 0x400, 0x500};  // master to node
inline constexpr std::uint32_t kSdoResponseBase = 0x580;   // SDO server (node) to client
inline constexpr std::uint32_t kSdoRequestBase = 0x600;    // SDO client to server (node)
inline constexpr std::uint32_t kLssSlaveId = 0x7E4;        // LSS, slave to master
inline constexpr std::uint32_t kLssMasterId = 0x7E5;       // LSS, master to slave
inline constexpr std::uint32_t kErrorControlBase = 0x700;  // boot-up, heartbeat, guarding request
                                                           // (remote) and answer

// PDO parameter objects: PDO n (1..kMaxPdos) at base + n - 1. Sub 1 of a communication
// parameter is the COB-ID entry; a mapping parameter maps sub 0 objects (at most
// kMaxMappedObjects), each as index << 16 | sub-index << 8 | length in bits.
inline constexpr std::uint16_t kRpdoCommunication = 0x1400;
inline constexpr std::uint16_t kRpdoMapping = 0x1600;
inline constexpr std::uint16_t kTpdoCommunication = 0x1800;
inline constexpr std::uint16_t kTpdoMapping = 0x1A00;
inline constexpr int kMaxPdos = 512;
inline constexpr int kMaxMappedObjects = 64;
// COB-ID entry bits.
inline constexpr std::uint32_t kCobIdInvalid = 1u << 31;   // the PDO does not exist / is off
inline constexpr std::uint32_t kCobIdExtended = 1u << 29;  // 29-bit identifier

// NMT module-control command specifiers (byte 0 of an NMT frame).
inline constexpr std::uint8_t kNmtStart = 0x01;               // to operational
inline constexpr std::uint8_t kNmtStop = 0x02;                // to stopped
inline constexpr std::uint8_t kNmtPreOperational = 0x80;
inline constexpr std::uint8_t kNmtResetNode = 0x81;           // application reset
inline constexpr std::uint8_t kNmtResetCommunication = 0x82;

}  // namespace bp::canopen
