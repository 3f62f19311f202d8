// The periodic timer on Windows: the multimedia timer service (winmm).
#include "engine/PeriodicTimer.h"

#include "util/WindowsApi.h"
#include <mmsystem.h>

#include <atomic>
#include <chrono>

namespace bp::engine {

struct PeriodicTimer::Impl {
  std::function<void()> routine;        // set by start() before the event exists
  std::uint32_t eventId = 0;            // window thread only; 0 when not running
  std::uint32_t resolution = 0;         // window thread only; requested with timeBeginPeriod
  std::chrono::milliseconds period{1};  // set by start() before the event exists
  bool everyTick = true;                // set by start() before the event exists
  std::chrono::steady_clock::time_point deadline;  // the service's thread once the event exists
  std::atomic<bool> woken{false};       // set by wake() (any thread), cleared by the service's thread
  std::atomic<bool> stopping{false};    // written by the window thread only (start, stop)
  std::atomic<bool> inCallback{false};  // written by the service's thread only

  // The service's thread, once per tick. Runs the routine when a period is complete or a wake-up
  // is pending, unless stop() has begun. The in-callback flag and the stopping flag are both
  // sequentially consistent, so either stop() sees this callback running and waits for it, or
  // the callback sees stop() and leaves the routine alone.
  static void CALLBACK onTick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    auto& t = *reinterpret_cast<Impl*>(user);
    t.inCallback.store(true);
    if (!t.stopping.load()) {
      bool due = t.everyTick;
      if (!due) {
        const auto now = std::chrono::steady_clock::now();
        due = now >= t.deadline;
        if (due) {
          t.deadline += t.period;
          if (t.deadline <= now) t.deadline = now + t.period;  // missed periods are not made up
        }
      }
      // A wake-up is cleared by any run, so it never causes a second run of its own.
      const bool woken = t.woken.load(std::memory_order_relaxed) &&
                         t.woken.exchange(false, std::memory_order_acq_rel);
      if (due || woken) t.routine();
    }
    t.inCallback.store(false);
  }
};

PeriodicTimer::PeriodicTimer() : m_impl(std::make_unique<Impl>()) {}
PeriodicTimer::~PeriodicTimer() { stop(); }

bool PeriodicTimer::running() const noexcept { return m_impl->eventId != 0; }

std::uint32_t PeriodicTimer::minPeriodMs() noexcept {
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR || caps.wPeriodMin == 0) return kMinPeriodMs;
  return caps.wPeriodMin;
}

bool PeriodicTimer::start(std::uint32_t periodMs, std::function<void()> routine) {
  Impl& t = *m_impl;
  if (t.eventId != 0) return false;
  const std::uint32_t resolution = minPeriodMs();
  if (periodMs < resolution) periodMs = resolution;
  t.routine = std::move(routine);
  t.period = std::chrono::milliseconds(periodMs);
  t.everyTick = periodMs == resolution;
  t.deadline = std::chrono::steady_clock::now() + t.period;
  t.woken.store(false);
  t.stopping.store(false);

  // The resolution first, then the event; undone in reverse order when either fails.
  if (timeBeginPeriod(resolution) != TIMERR_NOERROR) {
    t.routine = nullptr;
    return false;
  }
  const MMRESULT id = timeSetEvent(resolution, 0, &Impl::onTick, reinterpret_cast<DWORD_PTR>(&t),
                                   TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  if (id == 0) {
    timeEndPeriod(resolution);
    t.routine = nullptr;
    return false;
  }
  t.eventId = id;
  t.resolution = resolution;
  return true;
}

bool PeriodicTimer::startOnFrames(can::CanDriver& driver, std::function<NextRun()> routine) {
  (void)driver;  // the adapter's library offers no wait here: every tick of the service
  return start(minPeriodMs(), [r = std::move(routine)] { (void)r(); });
}

void PeriodicTimer::stop() {
  Impl& t = *m_impl;
  if (t.eventId == 0) return;
  t.stopping.store(true);
  // With TIME_KILL_SYNCHRONOUS no callback begins once timeKillEvent has returned; one that began
  // before may still be running, and is waited for here.
  timeKillEvent(t.eventId);
  while (t.inCallback.load()) Sleep(0);
  t.eventId = 0;
  timeEndPeriod(t.resolution);  // the resolution is released last
  t.resolution = 0;
  t.routine = nullptr;
}

void PeriodicTimer::wake() noexcept { m_impl->woken.store(true, std::memory_order_release); }

}  // namespace bp::engine
