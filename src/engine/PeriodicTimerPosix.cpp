// The periodic timer on Linux and other POSIX systems: a thread of its own.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "can/CanDriver.h"
#include "engine/PeriodicTimer.h"

namespace bp::engine {

struct PeriodicTimer::Impl {
  void loop(std::chrono::microseconds period);
  void loopOnFrames();
  // Sleeps on the condition variable until `until`, stop() or wake(). Timer thread.
  void sleepUntil(std::chrono::steady_clock::time_point until);

  std::thread thread;
  std::function<void()> routine;                // set by start() before the thread exists
  std::function<NextRun()> onFramesRoutine;     // set by startOnFrames() before the thread exists
  std::atomic<can::CanDriver*> driver{nullptr};  // written by startOnFrames() and stop() (window thread)
  std::mutex mutex;  // guards the condition variable's wait only
  std::condition_variable cv;
  std::atomic<bool> woken{false};          // set by wake() (any thread), cleared by the timer thread
  std::atomic<bool> stopRequested{false};  // written by start() and stop() (window thread)
};

PeriodicTimer::PeriodicTimer() : m_impl(std::make_unique<Impl>()) {}
PeriodicTimer::~PeriodicTimer() { stop(); }

std::uint32_t PeriodicTimer::minPeriodMs() noexcept { return kMinPeriodMs; }

bool PeriodicTimer::running() const noexcept { return m_impl->thread.joinable(); }

bool PeriodicTimer::start(std::uint32_t periodMs, std::function<void()> routine) {
  Impl& t = *m_impl;
  if (t.thread.joinable()) return false;
  if (periodMs < kMinPeriodMs) periodMs = kMinPeriodMs;
  t.routine = std::move(routine);
  t.stopRequested.store(false);
  t.woken.store(false);
  t.thread = std::thread([&t, periodMs] { t.loop(std::chrono::milliseconds(periodMs)); });
  return true;
}

bool PeriodicTimer::startOnFrames(can::CanDriver& driver, std::function<NextRun()> routine) {
  Impl& t = *m_impl;
  if (t.thread.joinable()) return false;
  t.onFramesRoutine = std::move(routine);
  t.driver.store(&driver);
  t.stopRequested.store(false);
  t.woken.store(false);
  t.thread = std::thread([&t] { t.loopOnFrames(); });
  return true;
}

void PeriodicTimer::stop() {
  Impl& t = *m_impl;
  if (!t.thread.joinable()) return;
  t.stopRequested.store(true);
  wake();
  t.thread.join();
  t.routine = nullptr;
  t.onFramesRoutine = nullptr;
  t.driver.store(nullptr);
}

void PeriodicTimer::wake() noexcept {
  Impl& t = *m_impl;
  t.woken.store(true);
  // The store is made before the mutex is taken, so a sleeper either sees it when it tests its
  // condition or is already waiting and gets the notification.
  { std::lock_guard lock(t.mutex); }
  t.cv.notify_all();
  // Sticky: a wait about to begin returns at once too.
  if (can::CanDriver* driver = t.driver.load()) driver->interruptWait();
}

void PeriodicTimer::Impl::sleepUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex);
  cv.wait_until(lock, until, [this] { return stopRequested.load() || woken.load(); });
}

void PeriodicTimer::Impl::loop(std::chrono::microseconds period) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + period;
  for (;;) {
    sleepUntil(deadline);
    if (stopRequested.load()) return;
    woken.store(false);
    routine();
    const auto now = Clock::now();
    if (now >= deadline) {
      deadline += period;
      if (deadline <= now) deadline = now + period;  // missed periods are not made up
    }
  }
}

void PeriodicTimer::Impl::loopOnFrames() {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    if (stopRequested.load()) return;
    woken.store(false);  // a wake-up from here on leads to another run
    const NextRun next = onFramesRoutine();
    const std::uint32_t afterMs = std::min(next.afterMs, kIdleWakeMs);
    if (afterMs == 0 || woken.load()) continue;
    if (next.onFrames && driver.load(std::memory_order_relaxed)->waitForFrames(afterMs)) continue;
    // No waiting on the driver: it cannot, or its frames wait for room. Poll at the timer's pace.
    const std::uint32_t sleepMs = next.onFrames ? std::min(afterMs, kMinPeriodMs) : afterMs;
    sleepUntil(Clock::now() + std::chrono::milliseconds(sleepMs));
  }
}

}  // namespace bp::engine
