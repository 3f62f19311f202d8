#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "can/CanDriver.h"
#include "engine/PeriodicTimer.h"
#include "od/ObjectDictionary.h"
#include "sim/DriveModel.h"
#include "sim/ObjectStore.h"
#include "sim/SdoServer.h"
#include "util/Clock.h"

namespace bp::sim {

// NMT states (CiA 301), each as the state byte that heartbeat and guarding report.
enum class NmtState : std::uint8_t {
  kInitialising = 0,
  kStopped = 4,
  kOperational = 5,
  kPreOperational = 127,
};

// A simulated CANopen device on one CAN driver: it serves the object dictionary of an EDS file
// by SDO, follows NMT commands, answers node guarding, produces heartbeats, sends TPDO1 (status
// word 0x6041, actual position 0x6064) on SYNC, takes the control word 0x6040 from RPDO1, and
// runs a CiA 402 drive behind 0x6040/0x6041/0x6064/0x607A/0x6081. Objects missing from the EDS
// file are simply not served; the drive runs all the same. Two objects get content an EDS file
// cannot carry when it gives them no default: the DOMAINs 0x1F50 sub 1 (program data) and 0x2530
// (parameter block, where the tree shows it) start as
// 64 KiB of a known pattern (byte i is i mod 251), the string 0x2500 as 1,000 bytes of text.
//
// Time is the caller's: step(nowMs) does all the work, either called by a test (deterministic)
// or by the runner thread that start() launches. Every public call is thread-safe (one mutex).
// The driver belongs to the caller, who opens it before the first step and closes it after
// stop(); a failed write is dropped, as a bus would lose the frame.
class SimNode {
 public:
  // Frames one step takes from the driver at most, so the timers run even on a flooded bus.
  static constexpr int kMaxFramesPerStep = 1024;

  // Builds the node from EDS text (decimal point '.'). Throws od::EdsReadError for EDS text the
  // reader refuses and bp::Error "Node ID must be 1 to 127" for another node ID. Sends nothing.
  SimNode(can::CanDriver& driver, std::uint8_t nodeId, std::string_view edsText);
  // The same from a dictionary already read; the node copies what it needs.
  SimNode(can::CanDriver& driver, std::uint8_t nodeId, const od::ObjectDictionary& dictionary);
  SimNode(const SimNode&) = delete;
  SimNode& operator=(const SimNode&) = delete;
  // Stops the runner (joins it).
  ~SimNode();

  // Any thread. The first call boots the node (boot-up frame [00] on the error-control identifier, then
  // pre-operational). Every call advances the drive to `nowMs`, handles every frame the driver
  // has queued (up to kMaxFramesPerStep), then runs the heartbeat producer. `nowMs` is a 32-bit
  // millisecond tick that may wrap. Returns the milliseconds until the node next has work of its
  // own (the next heartbeat), kNoWorkDue when it has none, and 0 when frames may still be queued.
  std::uint32_t step(std::uint32_t nowMs);
  static constexpr std::uint32_t kNoWorkDue = 0xFFFFFFFF;

  // Runs step() on a thread of its own, with time from `clock` (which must outlive the run):
  // at once when the driver receives frames, when the next heartbeat is due, and otherwise not
  // (on a driver that cannot wait for frames, every millisecond). False when already running.
  bool start(Clock& clock = SteadyClock::instance());
  // Stops and joins the runner; afterwards no step runs on it. A no-op when not running.
  void stop();
  bool running() const noexcept { return m_timer.running(); }

  // Puts the drive into the fault state with a CiA 402 error code (for example 0x7300, sensor):
  // 0x603F and the error register 0x1001 show it, and an EMCY frame (0x080 + node ID) goes out
  // in pre-operational and operational. A rising edge of control word bit 7 clears it.
  void raiseFault(std::uint16_t errorCode);

  // Block transfer on (the default) or off: when off, a block upload or download initiate gets
  // abort 0x05040001, so a client falls back to segmented transfer.
  void setBlockTransfer(bool enabled);

  // Writes a value as a local application would: any access, the same length rules as an SDO
  // download, and the same effects (0x6040 drives the state machine, 0x1017 restarts the
  // heartbeat). Returns 0 or the SDO abort code that a download would get.
  std::uint32_t writeValue(std::uint16_t index, std::uint8_t subIndex, std::span<const std::uint8_t> bytes);
  // The value's bytes, or nullopt when the node does not serve the object.
  std::optional<std::vector<std::uint8_t>> value(std::uint16_t index, std::uint8_t subIndex) const;
  // The value as a number (sign-extended for signed types), or nullopt when missing or not a
  // fixed-size value.
  std::optional<std::int64_t> integerValue(std::uint16_t index, std::uint8_t subIndex) const;

  std::uint8_t nodeId() const noexcept { return m_nodeId; }
  std::size_t objectCount() const;
  NmtState nmtState() const;
  DriveState driveState() const;
  std::uint16_t statusWord() const;
  std::int32_t position() const;

 private:
  SimNode(can::CanDriver& driver, std::uint8_t nodeId, ObjectStore store);
  void boot();
  void resetCommunication();
  void resetApplication();
  void handleFrame(const can::CanFrame& f);
  void handleNmt(const can::CanFrame& f);
  void handleGuardRequest();
  void handleSync();
  void handleRpdo1(const can::CanFrame& f);
  void runHeartbeat(std::uint32_t nowMs);
  std::uint32_t msUntilHeartbeat(std::uint32_t nowMs) const;
  void onValueWritten(const Variable& v);
  void applyControlWord(std::uint16_t controlWord);
  // The drive's status word, position and fault into 0x6041, 0x6064, 0x603F and 0x1001.
  void publishDrive();
  void sendEmcy(std::uint16_t errorCode);
  void send(std::uint32_t id, std::span<const std::uint8_t> data);
  // An SDO answer; waits a little for a full transmit queue (a block upload's burst).
  void sendSdo(const can::CanFrame& f);
  std::uint32_t heartbeatPeriod() const;

  can::CanDriver& m_driver;
  const std::uint8_t m_nodeId;
  mutable std::mutex m_mutex;  // guards everything below; step() holds it throughout
  ObjectStore m_store;
  SdoServer m_sdo;
  DriveModel m_drive;
  NmtState m_state = NmtState::kInitialising;
  std::uint8_t m_guardToggle = 0;        // 0x00 or 0x80: bit 7 of the next guarding answer
  std::uint16_t m_errorCode = 0;         // the drive's active fault, 0 when none
  std::uint32_t m_nowMs = 0;             // time of the step in progress (or the last)
  std::uint32_t m_heartbeatFrom = 0;     // the heartbeat period counts from here
  engine::PeriodicTimer m_timer;            // the runner
};

}  // namespace bp::sim
