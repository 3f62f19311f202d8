#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace bp::can {

// Runs a routine every period on its own thread, with absolute deadlines; wake() runs it early
// (for example when the driver signals received frames). It never runs less often than once per
// period. stop() joins the thread: afterwards no run is in progress and none begins.
class PeriodicTimer {
 public:
  PeriodicTimer() = default;
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;
  ~PeriodicTimer() { stop(); }

  // The smallest period this timer offers, in milliseconds.
  static constexpr std::uint32_t kMinPeriodMs = 1;

  // Window thread. Starts the thread; false when it is already running.
  bool start(std::uint32_t periodMs, std::function<void()> routine);
  // Window thread. Stops and joins; a no-op when not running.
  void stop();
  // Any thread. Makes the next run happen at once.
  void wake() noexcept;
  bool running() const noexcept { return m_thread.joinable(); }

 private:
  void loop(std::chrono::microseconds period);

  std::thread m_thread;
  std::function<void()> m_routine;
  std::mutex m_mutex;                 // guards the wait only; the routine runs without it
  std::condition_variable m_cv;
  bool m_woken = false;               // written by wake() and the timer thread, under m_mutex
  bool m_stopRequested = false;       // written by stop() under m_mutex
};

}  // namespace bp::can
