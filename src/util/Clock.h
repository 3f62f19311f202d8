#pragma once
#include <cstdint>

namespace bp {

// Millisecond tick count, 32 bits, wrapping modulo 2^32.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t tickMs() noexcept = 0;
};

// The system's millisecond tick: on Windows GetTickCount (milliseconds since boot, in steps of
// the system timer, wrapping after 49.7 days); elsewhere the process's monotonic clock in
// milliseconds, truncated to 32 bits.
class SteadyClock final : public Clock {
 public:
  // ClockPosix.cpp or ClockWin.cpp.
  std::uint32_t tickMs() noexcept override;
  static SteadyClock& instance() noexcept {
    static SteadyClock clock;
    return clock;
  }
};

}  // namespace bp
