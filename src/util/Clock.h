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

#ifdef _WIN32
namespace detail {
// The system's millisecond tick count (GetTickCount), in ClockWin.cpp. Any thread.
std::uint32_t systemTickMs() noexcept;
}  // namespace detail
#endif

// The system's millisecond tick: on Windows GetTickCount (milliseconds since boot, in steps of
// the system timer, wrapping after 49.7 days); elsewhere the process's monotonic clock in
// milliseconds, truncated to 32 bits.
class SteadyClock final : public Clock {
 public:
  std::uint32_t tickMs() noexcept override {
#ifdef _WIN32
    return detail::systemTickMs();
#else
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
#endif
  }
  static SteadyClock& instance() noexcept {
    static SteadyClock clock;
    return clock;
  }
};

}  // namespace bp
