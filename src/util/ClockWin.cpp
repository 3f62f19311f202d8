// The system tick count on Windows.
#include "util/Clock.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace bp {

std::uint32_t SteadyClock::tickMs() noexcept { return static_cast<std::uint32_t>(GetTickCount()); }

}  // namespace bp
