#include "can/PeriodicTimer.h"

#include <algorithm>

#include "can/CanDriver.h"

namespace bp::can {

std::uint32_t PeriodicTimer::minPeriodMs() noexcept { return kMinPeriodMs; }

bool PeriodicTimer::start(std::uint32_t periodMs, std::function<void()> routine) {
  if (m_thread.joinable()) return false;
  if (periodMs < kMinPeriodMs) periodMs = kMinPeriodMs;
  m_routine = std::move(routine);
  m_stopRequested.store(false);
  m_woken.store(false);
  m_thread = std::thread([this, periodMs] { loop(std::chrono::milliseconds(periodMs)); });
  return true;
}

bool PeriodicTimer::startOnFrames(CanDriver& driver, std::function<NextRun()> routine) {
  if (m_thread.joinable()) return false;
  m_onFramesRoutine = std::move(routine);
  m_driver.store(&driver);
  m_stopRequested.store(false);
  m_woken.store(false);
  m_thread = std::thread([this] { loopOnFrames(); });
  return true;
}

void PeriodicTimer::stop() {
  if (!m_thread.joinable()) return;
  m_stopRequested.store(true);
  wake();
  m_thread.join();
  m_routine = nullptr;
  m_onFramesRoutine = nullptr;
  m_driver.store(nullptr);
}

void PeriodicTimer::wake() noexcept {
  m_woken.store(true);
  // The store is made before the mutex is taken, so a sleeper either sees it when it tests its
  // condition or is already waiting and gets the notification.
  { std::lock_guard lock(m_mutex); }
  m_cv.notify_all();
  // Sticky: a wait about to begin returns at once too.
  if (CanDriver* driver = m_driver.load()) driver->interruptWait();
}

void PeriodicTimer::sleepUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(m_mutex);
  m_cv.wait_until(lock, until, [this] { return m_stopRequested.load() || m_woken.load(); });
}

void PeriodicTimer::loop(std::chrono::microseconds period) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + period;
  for (;;) {
    sleepUntil(deadline);
    if (m_stopRequested.load()) return;
    m_woken.store(false);
    m_routine();
    const auto now = Clock::now();
    if (now >= deadline) {
      deadline += period;
      if (deadline <= now) deadline = now + period;  // missed periods are not made up
    }
  }
}

void PeriodicTimer::loopOnFrames() {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    if (m_stopRequested.load()) return;
    m_woken.store(false);  // a wake-up from here on leads to another run
    const NextRun next = m_onFramesRoutine();
    const std::uint32_t afterMs = std::min(next.afterMs, kIdleWakeMs);
    if (afterMs == 0 || m_woken.load()) continue;
    if (next.onFrames && m_driver.load(std::memory_order_relaxed)->waitForFrames(afterMs)) continue;
    // No waiting on the driver: it cannot, or its frames wait for room. Poll at the timer's pace.
    const std::uint32_t sleepMs = next.onFrames ? std::min(afterMs, kMinPeriodMs) : afterMs;
    sleepUntil(Clock::now() + std::chrono::milliseconds(sleepMs));
  }
}

}  // namespace bp::can
