#include "sim/DriveModel.h"

#include <algorithm>

namespace bp::sim {
namespace {

constexpr std::uint16_t kFaultResetBit = 0x80;
constexpr std::uint16_t kCommandMask = 0x0F;
constexpr std::uint16_t kSwitchOnBit = 0x01;
constexpr std::uint16_t kEnableVoltageBit = 0x02;
constexpr std::uint16_t kQuickStopBit = 0x04;  // active low
constexpr std::uint16_t kEnableOperationBit = 0x08;

// Longest stretch of time one advance accounts for, so velocity x time stays in range.
constexpr std::uint32_t kMaxAdvanceMs = 60'000;

}  // namespace

void DriveModel::reset(std::int32_t position) noexcept {
  m_state = DriveState::kSwitchOnDisabled;
  m_position = position;
  m_controlWord = 0;
  m_fraction = 0;
}

void DriveModel::applyControlWord(std::uint16_t controlWord) noexcept {
  const bool resetEdge = (controlWord & kFaultResetBit) != 0 && (m_controlWord & kFaultResetBit) == 0;
  m_controlWord = controlWord;

  using S = DriveState;
  if (m_state == S::kFault) {
    if (resetEdge) m_state = S::kSwitchOnDisabled;
    return;
  }

  const std::uint16_t cmd = controlWord & kCommandMask;
  if ((cmd & kEnableVoltageBit) == 0) {  // disable voltage
    m_state = S::kSwitchOnDisabled;
    return;
  }
  if ((cmd & kQuickStopBit) == 0) {  // quick stop
    if (m_state == S::kOperationEnabled) m_state = S::kQuickStopActive;
    else if (m_state != S::kQuickStopActive) m_state = S::kSwitchOnDisabled;
    return;
  }
  if ((cmd & kSwitchOnBit) == 0) {  // shutdown (bit 3 does not matter)
    if (m_state != S::kQuickStopActive) m_state = S::kReadyToSwitchOn;
  } else if ((cmd & kEnableOperationBit) == 0) {  // switch on, or disable operation
    if (m_state == S::kReadyToSwitchOn || m_state == S::kOperationEnabled) m_state = S::kSwitchedOn;
  } else if (m_state != S::kSwitchOnDisabled) {
    // Enable operation; from ready to switch on it is switch on and enable operation in one.
    m_state = S::kOperationEnabled;
  }
}

void DriveModel::raiseFault() noexcept {
  m_state = DriveState::kFault;
  m_fraction = 0;
}

void DriveModel::advance(std::uint32_t elapsedMs, std::int32_t target, std::uint32_t velocity) noexcept {
  if (m_state != DriveState::kOperationEnabled || m_position == target) {
    m_fraction = 0;
    return;
  }
  if (velocity == 0) velocity = kDefaultVelocity;
  const std::int64_t travel = static_cast<std::int64_t>(velocity) *
                                  std::min(elapsedMs, kMaxAdvanceMs) + m_fraction;
  const std::int64_t counts = travel / 1000;
  const std::int64_t distance = static_cast<std::int64_t>(target) - m_position;
  if (counts >= (distance < 0 ? -distance : distance)) {
    m_position = target;
    m_fraction = 0;
    return;
  }
  m_position = static_cast<std::int32_t>(m_position + (distance < 0 ? -counts : counts));
  m_fraction = travel % 1000;
}

}  // namespace bp::sim
