#include "can/PeriodicTimer.h"

namespace bp::can {

std::uint32_t PeriodicTimer::minPeriodMs() noexcept { return kMinPeriodMs; }

bool PeriodicTimer::start(std::uint32_t periodMs, std::function<void()> routine) {
  if (m_thread.joinable()) return false;
  if (periodMs < kMinPeriodMs) periodMs = kMinPeriodMs;
  m_routine = std::move(routine);
  {
    std::lock_guard lock(m_mutex);
    m_stopRequested = false;
    m_woken = false;
  }
  m_thread = std::thread([this, periodMs] { loop(std::chrono::milliseconds(periodMs)); });
  return true;
}

void PeriodicTimer::stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_stopRequested = true;
  }
  m_cv.notify_all();
  m_thread.join();
  m_routine = nullptr;
}

void PeriodicTimer::wake() noexcept {
  {
    std::lock_guard lock(m_mutex);
    m_woken = true;
  }
  m_cv.notify_one();
}

void PeriodicTimer::loop(std::chrono::microseconds period) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + period;
  for (;;) {
    {
      std::unique_lock lock(m_mutex);
      m_cv.wait_until(lock, deadline, [this] { return m_stopRequested || m_woken; });
      if (m_stopRequested) return;
      m_woken = false;
    }
    m_routine();
    const auto now = Clock::now();
    if (now >= deadline) {
      deadline += period;
      if (deadline <= now) deadline = now + period;  // missed periods are not made up
    }
  }
}

}  // namespace bp::can
