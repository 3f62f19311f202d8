#pragma once
#include <cstdint>

#include "can/CanDriver.h"
#include "can/CanFrame.h"
#include "canopen/Identifiers.h"

namespace bp::nmt {

// The identifiers, node-ID range and command specifiers are in canopen/Identifiers.h; the tool
// sends Start, Stop, Pre-operational and Reset node (never Reset communication).
using canopen::isValidNodeId;

// NMT command frame: identifier 0x000, data frame, length 2, data 0 = command specifier,
// data 1 = low 8 bits of the node ID; every other byte 0. Any thread; never fails.
can::CanFrame nmtCommandFrame(std::uint8_t commandSpecifier, std::int32_t nodeId) noexcept;

// Node-guarding request: remote frame on the error-control identifier of the node, length 0. Any thread; never fails.
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
