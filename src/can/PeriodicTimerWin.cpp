// The periodic timer on Windows: the multimedia timer service (winmm).
#include "can/PeriodicTimer.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

namespace bp::can {

struct PeriodicTimer::Service {
  // The service's thread, once per tick. Runs the routine when a period is complete or a wake-up
  // is pending, unless stop() has begun. The in-callback flag and the stopping flag are both
  // sequentially consistent, so either stop() sees this callback running and waits for it, or
  // the callback sees stop() and leaves the routine alone.
  static void CALLBACK onTick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto& t = *reinterpret_cast<PeriodicTimer*>(user);
    t.m_inCallback.store(true);
    if (!t.m_stopping.load()) {
      bool due = t.m_everyTick;
      if (!due) {
        const auto now = std::chrono::steady_clock::now();
        due = now >= t.m_deadline;
        if (due) {
          t.m_deadline += t.m_period;
          if (t.m_deadline <= now) t.m_deadline = now + t.m_period;  // missed periods are not made up
        }
      }
      // A wake-up is cleared by any run, so it never causes a second run of its own.
      const bool woken = t.m_woken.load(std::memory_order_relaxed) &&
                         t.m_woken.exchange(false, std::memory_order_acq_rel);
      if (due || woken) t.m_routine();
    }
    t.m_inCallback.store(false);
  }
};

std::uint32_t PeriodicTimer::minPeriodMs() noexcept {
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR || caps.wPeriodMin == 0) return kMinPeriodMs;
  return caps.wPeriodMin;
}

bool PeriodicTimer::start(std::uint32_t periodMs, std::function<void()> routine) {
  if (m_eventId != 0) return false;
  const std::uint32_t resolution = minPeriodMs();
  if (periodMs < resolution) periodMs = resolution;
  m_routine = std::move(routine);
  m_period = std::chrono::milliseconds(periodMs);
  m_everyTick = periodMs == resolution;
  m_deadline = std::chrono::steady_clock::now() + m_period;
  m_woken.store(false);
  m_stopping.store(false);

  // The resolution first, then the event; undone in reverse order when either fails.
  if (timeBeginPeriod(resolution) != TIMERR_NOERROR) {
    m_routine = nullptr;
    return false;
  }
  const MMRESULT id = timeSetEvent(resolution, 0, &Service::onTick, reinterpret_cast<DWORD_PTR>(this),
                                   TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  if (id == 0) {
    timeEndPeriod(resolution);
    m_routine = nullptr;
    return false;
  }
  m_eventId = id;
  m_resolution = resolution;
  return true;
}

bool PeriodicTimer::startOnFrames(CanDriver& driver, std::function<NextRun()> routine) {
  (void)driver;  // the adapter's library offers no wait here: every tick of the service
  return start(minPeriodMs(), [r = std::move(routine)] { (void)r(); });
}

void PeriodicTimer::stop() {
  if (m_eventId == 0) return;
  m_stopping.store(true);
  // With TIME_KILL_SYNCHRONOUS no callback begins once timeKillEvent has returned; one that began
  // before may still be running, and is waited for here.
  timeKillEvent(m_eventId);
  while (m_inCallback.load()) Sleep(0);
  m_eventId = 0;
  timeEndPeriod(m_resolution);  // the resolution is released last
  m_resolution = 0;
  m_routine = nullptr;
}

void PeriodicTimer::wake() noexcept { m_woken.store(true, std::memory_order_release); }

}  // namespace bp::can
