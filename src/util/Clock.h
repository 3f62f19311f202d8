#pragma once
#include <chrono>
#include <cstdint>

namespace bp {

// Millisecond tick count, 32 bits, wrapping modulo 2^32.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t tickMs() noexcept = 0;
};

// The process's monotonic clock in milliseconds, truncated to 32 bits.
class SteadyClock final : public Clock {
 public:
  std::uint32_t tickMs() noexcept override {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
  }
  static SteadyClock& instance() noexcept {
    static SteadyClock clock;
    return clock;
  }
};

}  // namespace bp
