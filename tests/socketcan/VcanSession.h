// The shared bus rig on a SocketCanDriver for vcan0.
#pragma once
#include <cstdint>
#include <memory>

#include "can/drivers/SocketCanDriver.h"
#include "socketcan/BusTools.h"
#include "support/BusRig.h"
#include "support/FrameText.h"

namespace bp::test {

class VcanSession : public BusRig {
 public:
  VcanSession() : BusRig(std::make_unique<can::SocketCanDriver>(kVcan)) {}

 protected:
  can::SocketCanDriver& driver() { return static_cast<can::SocketCanDriver&>(*session.driver); }

  // The window's bit-rate re-selection: close, then open at 500 kbit/s.
  std::uint32_t reselectBitRate() {
    session.driver->close();
    const std::uint32_t r = session.driver->open(kBitRate500k, 0);
    session.busOpen = r == can::kOk;
    return r;
  }
};

}  // namespace bp::test
