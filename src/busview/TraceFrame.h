#pragma once
#include <cstdint>
#include <type_traits>

#include "can/CanFrame.h"

namespace bp::busview {

// Who put the frame on the bus, where the source knows it: a live frame the reader took is
// Received, one the tool wrote is Sent; a log file may say either or nothing.
enum class Direction : std::uint8_t { Unknown, Received, Sent };

// One frame of the Bus view: what every part of it (trace, node table, log files, PDO values)
// passes around. Plain data, copied by value into a history of a million entries.
struct TraceFrame {
  std::uint64_t timeUs = 0;  // receive time in microseconds, on the source's clock
  can::CanFrame frame{};
  Direction direction = Direction::Unknown;
};
static_assert(std::is_trivially_copyable_v<TraceFrame>);
static_assert(sizeof(TraceFrame) <= 32);

}  // namespace bp::busview
