#pragma once
#include <cstdint>

namespace bp::sim {

// States of the CiA 402 power state machine, each as the status word it shows.
enum class DriveState : std::uint16_t {
  kSwitchOnDisabled = 0x0040,
  kReadyToSwitchOn = 0x0021,
  kSwitchedOn = 0x0023,
  kOperationEnabled = 0x0027,
  kQuickStopActive = 0x0007,
  kFault = 0x0008,
};

// A simulated drive: the CiA 402 power state machine driven by the control word, and a position
// that moves toward its target at the profile velocity while operation is enabled.
// Not thread-safe: its owner serialises every call.
class DriveModel {
 public:
  // Profile velocity used when the node's is 0, in counts per second.
  static constexpr std::uint32_t kDefaultVelocity = 1000;

  // Control word commands (CiA 402), bits 3..0; bit 7 is fault reset on its rising edge.
  static constexpr std::uint16_t kShutdown = 0x06;
  static constexpr std::uint16_t kSwitchOn = 0x07;
  static constexpr std::uint16_t kEnableOperation = 0x0F;
  static constexpr std::uint16_t kDisableVoltage = 0x00;
  static constexpr std::uint16_t kQuickStop = 0x02;
  static constexpr std::uint16_t kFaultReset = 0x80;

  // Power-on state: switch on disabled, at `position`, last control word 0.
  void reset(std::int32_t position) noexcept;

  // A new control word. In the fault state only a 0-to-1 edge of bit 7 acts (to switch on
  // disabled); elsewhere bits 3..0 select the command: disable voltage (bit 1 clear), quick stop
  // (bit 2 clear), shutdown, switch on (also disable operation) or enable operation. A command
  // that has no transition from the present state leaves it.
  void applyControlWord(std::uint16_t controlWord) noexcept;

  // Enters the fault state from any state; motion stops.
  void raiseFault() noexcept;

  // Moves the position toward `target` by velocity x elapsed time while operation is enabled,
  // never past the target; fractions of a count carry over to the next call.
  void advance(std::uint32_t elapsedMs, std::int32_t target, std::uint32_t velocity) noexcept;

  DriveState state() const noexcept { return m_state; }
  std::uint16_t statusWord() const noexcept { return static_cast<std::uint16_t>(m_state); }
  std::int32_t position() const noexcept { return m_position; }
  std::uint16_t controlWord() const noexcept { return m_controlWord; }

 private:
  DriveState m_state = DriveState::kSwitchOnDisabled;
  std::int32_t m_position = 0;
  std::uint16_t m_controlWord = 0;
  std::int64_t m_fraction = 0;  // count x 1000 moved beyond m_position, always 0..999
};

}  // namespace bp::sim
