// The system tick count on Windows.
#include "util/Clock.h"

#include "util/WindowsApi.h"

namespace bp {

std::uint32_t SteadyClock::tickMs() noexcept { return static_cast<std::uint32_t>(GetTickCount()); }

}  // namespace bp
