#pragma once
#include <cstdint>

#include "can/CanDriver.h"
#include "can/CanFrame.h"

namespace bp::nmt {

// CANopen NMT module-control command specifiers that the tool sends.
inline constexpr std::uint8_t kNmtStart = 0x01;         // start remote node (to operational)
inline constexpr std::uint8_t kNmtStop = 0x02;          // stop remote node
inline constexpr std::uint8_t kNmtPreOperational = 0x80;
inline constexpr std::uint8_t kNmtResetNode = 0x81;     // application reset; 0x82 is never sent

inline constexpr std::uint32_t kNmtCobId = 0x000;
inline constexpr std::uint32_t kSyncCobId = 0x080;
inline constexpr std::uint32_t kGuardBase = 0x700;      // 0x700 + node ID, remote request

inline constexpr std::int32_t kMaxNodeId = 127;

// True for the node IDs the tool may address, 0 to 127 (0 addresses every node in an NMT command).
constexpr bool isValidNodeId(std::int32_t nodeId) noexcept { return nodeId >= 0 && nodeId <= kMaxNodeId; }

// NMT command frame: identifier 0x000, data frame, length 2, data 0 = command specifier,
// data 1 = low 8 bits of the node ID; every other byte 0. Any thread; never fails.
can::CanFrame nmtCommandFrame(std::uint8_t commandSpecifier, std::int32_t nodeId) noexcept;

// Node-guarding request: remote frame on 0x700 + node ID, length 0. Any thread; never fails.
can::CanFrame guardRequestFrame(std::int32_t nodeId) noexcept;

// SYNC frame: identifier 0x080, data frame, length 0. Any thread; never fails.
can::CanFrame syncFrame() noexcept;

// Window thread (the driver's write side). Fire-and-forget senders: the write's result is
// discarded, nothing is reported. A node ID outside 0 to 127 sends nothing. Exceptions of the
// driver itself pass through.
void sendNmtCommand(can::CanDriver& driver, std::uint8_t commandSpecifier, std::int32_t nodeId);
void sendGuardRequest(can::CanDriver& driver, std::int32_t nodeId);
void sendSync(can::CanDriver& driver);

}  // namespace bp::nmt
