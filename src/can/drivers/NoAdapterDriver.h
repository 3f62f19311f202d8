#pragma once
#include "can/CanDriver.h"

namespace bp::can {

// The driver used when no CAN interface can be found: nothing opens, nothing is sent or received.
class NoAdapterDriver final : public CanDriver {
 public:
  std::uint32_t open(std::uint16_t, std::uint32_t) override { return kErrNoInterface; }
  std::uint32_t close() override { return kOk; }
  std::uint32_t read(CanFrame&) noexcept override { return kErrNotOpen; }
  std::uint32_t versionText(char* buffer) override {
    buffer[0] = '\0';
    return kErrNoInterface;
  }
  std::uint32_t write(const CanFrame&) override { return kErrNotOpen; }
};

}  // namespace bp::can
