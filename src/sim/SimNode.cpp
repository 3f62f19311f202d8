#include "sim/SimNode.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "canopen/Identifiers.h"
#include "od/EdsReader.h"
#include "sdo/SdoProtocol.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::sim {
namespace {

// Objects the node itself reads or writes.
constexpr std::uint16_t kErrorRegister = 0x1001;
constexpr std::uint16_t kEmcyCobId = 0x1014;
constexpr std::uint16_t kHeartbeatTime = 0x1017;
constexpr std::uint16_t kSdoServerParameter = 0x1200;
constexpr std::uint16_t kErrorCode = 0x603F;
constexpr std::uint16_t kControlWord = 0x6040;
constexpr std::uint16_t kStatusWord = 0x6041;
constexpr std::uint16_t kPositionActual = 0x6064;
constexpr std::uint16_t kTargetPosition = 0x607A;
constexpr std::uint16_t kProfileVelocity = 0x6081;
constexpr std::uint16_t kProgramData = 0x1F50;        // sub 1, a DOMAIN
constexpr std::uint16_t kParameterBlock = 0x2530;     // a DOMAIN in the tree's areas
constexpr std::uint16_t kCommissioningNotes = 0x2500;  // a VISIBLE_STRING
constexpr std::size_t kNotesSize = 1000;

// An SDO frame waits up to 100 pauses of 0.1 ms for a full transmit queue: a block upload's
// sub-block is a burst of up to 127 frames, more than a real interface queues (10 frames by
// default on can0), and one frame leaves the queue every 0.25 ms at 500 kbit/s.
constexpr auto kTxFullPause = std::chrono::microseconds(100);
constexpr int kTxFullPauses = 100;

// The communication area, which NMT reset communication sets back to its defaults.
constexpr std::uint16_t kCommunicationFirst = 0x1000;
constexpr std::uint16_t kCommunicationLast = 0x1FFF;

constexpr std::uint8_t kGuardToggleBit = 0x80;
constexpr std::uint8_t kErrorRegisterGeneric = 0x01;

// The program data's content at start: byte i is i mod 251 (a prime, so no sub-block or segment
// repeats the one before it).
std::vector<std::uint8_t> programPattern() {
  std::vector<std::uint8_t> bytes(ObjectStore::kMaxDomainSize);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

// Numbered lines of text, kNotesSize bytes in all.
std::vector<std::uint8_t> notesText() {
  std::string text;
  char line[64];
  for (int n = 1; text.size() < kNotesSize; ++n) {
    std::snprintf(line, sizeof line, "%03d Commissioning note of the DRV17-KA drive.\n", n);
    text += line;
  }
  text.resize(kNotesSize);
  return {text.begin(), text.end()};
}

ObjectStore storeFromText(std::string_view edsText, std::uint8_t nodeId) {
  od::ObjectDictionary dictionary;
  od::ReadEDSText(edsText, dictionary, '.', nodeId);
  return ObjectStore(dictionary);
}

}  // namespace

SimNode::SimNode(can::CanDriver& driver, std::uint8_t nodeId, std::string_view edsText)
    : SimNode(driver, nodeId, storeFromText(edsText, nodeId)) {}

SimNode::SimNode(can::CanDriver& driver, std::uint8_t nodeId, const od::ObjectDictionary& dictionary)
    : SimNode(driver, nodeId, ObjectStore(dictionary)) {}

SimNode::SimNode(can::CanDriver& driver, std::uint8_t nodeId, ObjectStore store)
    : m_driver(driver),
      m_nodeId(nodeId),
      m_store(std::move(store)),
      m_sdo(m_store, nodeId, [this](const can::CanFrame& f) { sendSdo(f); }) {
  if (nodeId < 1 || nodeId > canopen::kMaxNodeId) throw Error("Node ID must be 1 to 127");

  // COB-IDs of the predefined connection set where the EDS file gives none (a default of 0; the
  // reader resolves "$NODEID+0x180" and the like for this node already).
  m_store.resolveZeroDefault(kEmcyCobId, 0, canopen::kEmcyBase + nodeId);
  m_store.resolveZeroDefault(kSdoServerParameter, 1, canopen::kSdoRequestBase + nodeId);
  m_store.resolveZeroDefault(kSdoServerParameter, 2, canopen::kSdoResponseBase + nodeId);
  for (std::uint16_t n = 0; n < 4; ++n) {
    m_store.resolveZeroDefault(static_cast<std::uint16_t>(canopen::kRpdoCommunication + n), 1, canopen::kRpdoBase[n] + nodeId);
    m_store.resolveZeroDefault(static_cast<std::uint16_t>(canopen::kTpdoCommunication + n), 1, canopen::kTpdoBase[n] + nodeId);
  }

  m_store.setEmptyDefault(kProgramData, 1, programPattern());
  m_store.setEmptyDefault(kParameterBlock, 0, programPattern());
  m_store.setEmptyDefault(kCommissioningNotes, 0, notesText());

  m_sdo.setWriteHook([this](const Variable& v) { onValueWritten(v); });
  m_drive.reset(static_cast<std::int32_t>(m_store.integerValue(kPositionActual, 0).value_or(0)));
  publishDrive();
}

SimNode::~SimNode() { stop(); }

// ---- time ----

std::uint32_t SimNode::step(std::uint32_t nowMs) {
  std::lock_guard lock(m_mutex);
  const std::uint32_t elapsed = nowMs - m_nowMs;  // modulo 2^32, so the tick may wrap
  m_nowMs = nowMs;

  if (m_state == NmtState::kInitialising) {
    resetApplication();  // power on
  } else {
    const auto target = m_store.integerValue(kTargetPosition, 0).value_or(0);
    const auto velocity = m_store.integerValue(kProfileVelocity, 0).value_or(0);
    m_drive.advance(elapsed, static_cast<std::int32_t>(target), static_cast<std::uint32_t>(velocity));
    publishDrive();
  }

  can::CanFrame f{};
  int taken = 0;
  for (; taken < kMaxFramesPerStep && m_driver.read(f) == can::kOk; ++taken) {
    handleFrame(f);
    f = can::CanFrame{};
  }
  runHeartbeat(nowMs);
  return taken == kMaxFramesPerStep ? 0 : msUntilHeartbeat(nowMs);
}

bool SimNode::start(Clock& clock) {
  if (m_timer.running()) return false;
  return m_timer.startOnFrames(m_driver, [this, &clock] {
    const std::uint32_t due = step(clock.tickMs());
    return engine::PeriodicTimer::NextRun{due, due != 0};
  });
}

void SimNode::stop() { m_timer.stop(); }

void SimNode::runHeartbeat(std::uint32_t nowMs) {
  const std::uint32_t period = heartbeatPeriod();
  if (period == 0 || nowMs - m_heartbeatFrom < period) return;
  const std::array<std::uint8_t, 1> state{static_cast<std::uint8_t>(m_state)};
  send(canopen::kErrorControlBase + m_nodeId, state);
  // Keep the cadence; after a long pause start afresh rather than send a burst.
  m_heartbeatFrom += period;
  if (nowMs - m_heartbeatFrom >= period) m_heartbeatFrom = nowMs;
}

std::uint32_t SimNode::msUntilHeartbeat(std::uint32_t nowMs) const {
  const std::uint32_t period = heartbeatPeriod();
  if (period == 0) return kNoWorkDue;
  const std::uint32_t since = nowMs - m_heartbeatFrom;
  return since >= period ? 0 : period - since;
}

std::uint32_t SimNode::heartbeatPeriod() const {
  return static_cast<std::uint32_t>(m_store.integerValue(kHeartbeatTime, 0).value_or(0));
}

// ---- NMT ----

void SimNode::boot() {
  m_state = NmtState::kPreOperational;
  m_guardToggle = 0;
  m_heartbeatFrom = m_nowMs;
  const std::array<std::uint8_t, 1> bootUp{0x00};
  send(canopen::kErrorControlBase + m_nodeId, bootUp);
}

void SimNode::resetCommunication() {
  m_sdo.cancel();
  m_store.resetToDefaults(kCommunicationFirst, kCommunicationLast);
  publishDrive();  // the error register lives in the communication area
  boot();
}

void SimNode::resetApplication() {
  m_store.resetToDefaults(0x0000, 0xFFFF);
  m_errorCode = 0;
  m_drive.reset(static_cast<std::int32_t>(m_store.integerValue(kPositionActual, 0).value_or(0)));
  resetCommunication();
}

void SimNode::handleFrame(const can::CanFrame& f) {
  if (f.type == can::kMsgRemote) {
    if (f.id == canopen::kErrorControlBase + m_nodeId) handleGuardRequest();
    return;
  }
  if (f.type != can::kMsgData) return;  // extended, error and unknown frames

  if (f.id == canopen::kNmtId) {
    handleNmt(f);
    return;
  }
  // A stopped node answers NMT and guarding only.
  if (m_state == NmtState::kStopped) return;

  if (f.id == canopen::kSyncId) {
    handleSync();
  } else if (f.id == canopen::kSdoRequestBase + m_nodeId) {
    m_sdo.handleRequest(f);
  } else if (f.id == canopen::kRpdoBase[0] + m_nodeId) {
    handleRpdo1(f);
  }
}

void SimNode::handleNmt(const can::CanFrame& f) {
  if (f.len < 2) return;
  const std::uint8_t target = f.data[1];
  if (target != 0 && target != m_nodeId) return;  // 0 addresses every node
  switch (f.data[0]) {
    case canopen::kNmtStart: m_state = NmtState::kOperational; break;
    case canopen::kNmtStop: m_state = NmtState::kStopped; break;
    case canopen::kNmtPreOperational: m_state = NmtState::kPreOperational; break;
    case canopen::kNmtResetNode: resetApplication(); break;
    case canopen::kNmtResetCommunication: resetCommunication(); break;
    default: break;  // not a command
  }
}

void SimNode::handleGuardRequest() {
  const std::array<std::uint8_t, 1> answer{
      static_cast<std::uint8_t>(static_cast<std::uint8_t>(m_state) | m_guardToggle)};
  send(canopen::kErrorControlBase + m_nodeId, answer);
  m_guardToggle ^= kGuardToggleBit;
}

// ---- process data ----

void SimNode::handleSync() {
  if (m_state != NmtState::kOperational) return;
  std::array<std::uint8_t, 6> tpdo{};
  storeLe16(&tpdo[0], m_drive.statusWord());
  storeLe32(&tpdo[2], static_cast<std::uint32_t>(m_drive.position()));
  send(canopen::kTpdoBase[0] + m_nodeId, tpdo);
}

void SimNode::handleRpdo1(const can::CanFrame& f) {
  // RPDO1 maps the control word to its first two bytes; a shorter PDO is not processed.
  if (m_state != NmtState::kOperational || f.len < 2) return;
  const std::uint16_t controlWord = loadLe16(&f.data[0]);
  m_store.setInteger(kControlWord, 0, controlWord);
  applyControlWord(controlWord);
}

// ---- the drive ----

void SimNode::onValueWritten(const Variable& v) {
  if (v.subIndex != 0) return;
  if (v.index == kControlWord && v.value.size() == 2) {
    applyControlWord(loadLe16(v.value.data()));
  } else if (v.index == kHeartbeatTime) {
    m_heartbeatFrom = m_nowMs;  // a new period counts from the write
  }
}

void SimNode::applyControlWord(std::uint16_t controlWord) {
  const bool wasFault = m_drive.state() == DriveState::kFault;
  m_drive.applyControlWord(controlWord);
  if (wasFault && m_drive.state() != DriveState::kFault) {
    m_errorCode = 0;
    publishDrive();
    sendEmcy(0x0000);  // error reset
    return;
  }
  publishDrive();
}

void SimNode::publishDrive() {
  m_store.setInteger(kStatusWord, 0, m_drive.statusWord());
  m_store.setInteger(kPositionActual, 0, m_drive.position());
  m_store.setInteger(kErrorCode, 0, m_errorCode);
  m_store.setInteger(kErrorRegister, 0, m_errorCode != 0 ? kErrorRegisterGeneric : 0);
}

void SimNode::raiseFault(std::uint16_t errorCode) {
  std::lock_guard lock(m_mutex);
  m_drive.raiseFault();
  m_errorCode = errorCode;
  publishDrive();
  sendEmcy(errorCode);
}

void SimNode::sendEmcy(std::uint16_t errorCode) {
  if (m_state != NmtState::kOperational && m_state != NmtState::kPreOperational) return;
  std::array<std::uint8_t, 8> emcy{};
  storeLe16(&emcy[0], errorCode);
  emcy[2] = static_cast<std::uint8_t>(m_store.integerValue(kErrorRegister, 0).value_or(0));
  send(canopen::kEmcyBase + m_nodeId, emcy);
}

// ---- local access ----

void SimNode::setBlockTransfer(bool enabled) {
  std::lock_guard lock(m_mutex);
  m_sdo.setBlockTransfer(enabled);
}

std::uint32_t SimNode::writeValue(std::uint16_t index, std::uint8_t subIndex,
                                  std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(m_mutex);
  Variable* v = m_store.find(index, subIndex);
  if (v == nullptr) {
    return m_store.hasIndex(index) ? sdo::proto::kAbortNoSubIndex : sdo::proto::kAbortNoObject;
  }
  if (const std::uint32_t code = ObjectStore::checkLength(*v, bytes.size())) return code;
  v->value.assign(bytes.begin(), bytes.end());
  onValueWritten(*v);
  m_timer.wake();  // a new heartbeat period takes effect now, not after the runner's idle sleep
  return 0;
}

std::optional<std::vector<std::uint8_t>> SimNode::value(std::uint16_t index, std::uint8_t subIndex) const {
  std::lock_guard lock(m_mutex);
  const Variable* v = m_store.find(index, subIndex);
  if (v == nullptr) return std::nullopt;
  return v->value;
}

std::optional<std::int64_t> SimNode::integerValue(std::uint16_t index, std::uint8_t subIndex) const {
  std::lock_guard lock(m_mutex);
  return m_store.integerValue(index, subIndex);
}

std::size_t SimNode::objectCount() const {
  std::lock_guard lock(m_mutex);
  return m_store.size();
}

NmtState SimNode::nmtState() const {
  std::lock_guard lock(m_mutex);
  return m_state;
}

DriveState SimNode::driveState() const {
  std::lock_guard lock(m_mutex);
  return m_drive.state();
}

std::uint16_t SimNode::statusWord() const {
  std::lock_guard lock(m_mutex);
  return m_drive.statusWord();
}

std::int32_t SimNode::position() const {
  std::lock_guard lock(m_mutex);
  return m_drive.position();
}

// ---- output ----

void SimNode::sendSdo(const can::CanFrame& f) {
  for (int pauses = 0; m_driver.write(f) == can::kErrTxQueueFull && pauses < kTxFullPauses; ++pauses) {
    std::this_thread::sleep_for(kTxFullPause);
  }
}

void SimNode::send(std::uint32_t id, std::span<const std::uint8_t> data) {
  can::CanFrame f{};
  f.id = id;
  f.type = can::kMsgData;
  f.len = static_cast<std::uint8_t>(data.size() < 8 ? data.size() : 8);
  for (std::size_t i = 0; i < f.len; ++i) f.data[i] = data[i];
  m_driver.write(f);  // a frame the bus refuses is lost, as on a real bus
}

}  // namespace bp::sim
