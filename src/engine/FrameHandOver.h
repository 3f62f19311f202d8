#pragma once
#include <cstdint>

#include "can/CanFrame.h"

namespace bp::engine {

// Where the reader hands frames of one identifier over at once, on its own thread, instead of
// storing them for the monitor: the SDO client's answers. The reader asks for the identifier
// afresh for every data frame, so it may change between frames (the selected node).
// Both calls run on the reader's thread and must not block, allocate or throw.
class FrameHandOver {
 public:
  virtual ~FrameHandOver() = default;
  virtual std::uint32_t handOverId() const noexcept = 0;
  virtual void takeFrame(const can::CanFrame& frame) noexcept = 0;
};

}  // namespace bp::engine
