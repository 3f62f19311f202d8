// The millisecond tick on Linux and other POSIX systems: the monotonic clock.
#include <chrono>

#include "util/Clock.h"

namespace bp {

std::uint32_t SteadyClock::tickMs() noexcept {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(ms.count());
}

}  // namespace bp
