#pragma once
#include "can/CanFrame.h"

namespace bp::can {

// Receives the selected node's SDO responses on the high-rate reader's thread.
// Must not block, allocate or throw.
class SdoResponseSink {
 public:
  virtual ~SdoResponseSink() = default;
  virtual void handleSdoResponse(const CanFrame& frame) noexcept = 0;
};

}  // namespace bp::can
