#include "nmt/NmtFrames.h"

namespace bp::nmt {

can::CanFrame nmtCommandFrame(std::uint8_t commandSpecifier, std::int32_t nodeId) noexcept {
  can::CanFrame f{};
  f.id = canopen::kNmtId;
  f.type = can::kMsgData;
  f.len = 2;
  f.data[0] = commandSpecifier;
  f.data[1] = static_cast<std::uint8_t>(nodeId & 0xFF);
  return f;
}

can::CanFrame guardRequestFrame(std::int32_t nodeId) noexcept {
  can::CanFrame f{};
  f.id = canopen::kErrorControlBase + static_cast<std::uint32_t>(nodeId);
  f.type = can::kMsgRemote;
  f.len = 0;
  return f;
}

can::CanFrame syncFrame() noexcept {
  can::CanFrame f{};
  f.id = canopen::kSyncId;
  f.type = can::kMsgData;
  f.len = 0;
  return f;
}

void sendNmtCommand(can::CanDriver& driver, std::uint8_t commandSpecifier, std::int32_t nodeId) {
  if (!isValidNodeId(nodeId)) return;
  (void)driver.write(nmtCommandFrame(commandSpecifier, nodeId));  // no confirmation in NMT
}

void sendGuardRequest(can::CanDriver& driver, std::int32_t nodeId) {
  if (!isValidNodeId(nodeId)) return;
  (void)driver.write(guardRequestFrame(nodeId));  // the node's answers show in the monitor only
}

void sendSync(can::CanDriver& driver) { (void)driver.write(syncFrame()); }

}  // namespace bp::nmt
