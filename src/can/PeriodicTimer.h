#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace bp::can {

class CanDriver;

// Runs a routine on a thread of its own: every period, with absolute deadlines (start), or
// whenever a driver may have received frames and otherwise when the routine asks (startOnFrames).
// wake() runs it early. Runs never overlap. stop() returns only when no run is in progress, and
// none begins afterwards.
//
// Two implementations behind this one interface:
// - Linux and other POSIX systems (PeriodicTimer.cpp): a std::thread sleeping until each absolute
//   deadline, or in the driver's waitForFrames; wake() interrupts the sleep at once.
// - Windows (PeriodicTimerWin.cpp): the multimedia timer service. start() requests the service's
//   smallest period as the timer resolution (timeBeginPeriod) and starts one periodic event at
//   that period (timeSetEvent, TIME_PERIODIC | TIME_KILL_SYNCHRONOUS). The routine runs on the
//   service's thread: on every tick when the period is the service's smallest (the reader's
//   case: the service's own schedule is the deadline), otherwise on the first tick at or after
//   each absolute deadline; and on the first tick after wake(). stop() kills the event, waits
//   until no callback is running, and releases the resolution (timeEndPeriod) last.
class PeriodicTimer {
 public:
  PeriodicTimer() = default;
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;
  ~PeriodicTimer() { stop(); }

  // The smallest period start() accepts anywhere, in milliseconds.
  static constexpr std::uint32_t kMinPeriodMs = 1;

  // Any thread. The smallest period the platform's timer offers, in milliseconds: on Windows the
  // multimedia timer service's smallest supported period (timeGetDevCaps), or 1 when the service
  // does not answer; 1 elsewhere. Suitable as the reader's timer resolution.
  static std::uint32_t minPeriodMs() noexcept;

  // Window thread. Starts running `routine` every `periodMs` (raised to the smallest period);
  // false when it is already running, or when the platform's timer refuses to start.
  bool start(std::uint32_t periodMs, std::function<void()> routine);
  // When a routine started with startOnFrames wants its next run: after `afterMs` milliseconds
  // at the latest (capped at kIdleWakeMs), and before that as soon as the driver may have
  // received frames when `onFrames` is set (a routine that stopped with frames still waiting,
  // for want of room, clears it, so it is not woken again and again by the same frames).
  struct NextRun {
    std::uint32_t afterMs;
    bool onFrames;
  };
  static constexpr std::uint32_t kIdleWakeMs = 1000;

  // Window thread. Runs `routine` at once, then as its NextRun asks, and at once on wake().
  // Linux and other POSIX systems: between runs the thread sleeps in driver.waitForFrames(), so
  // an idle bus costs nothing and a frame is taken as soon as it arrives; a driver that cannot
  // wait for frames is polled every kMinPeriodMs. Windows: every tick of the multimedia timer at
  // the service's smallest period, as start(minPeriodMs(), ...) (NextRun is not used). The
  // driver must outlive the run. False when already running or the platform's timer refuses.
  bool startOnFrames(CanDriver& driver, std::function<NextRun()> routine);
  // Window thread. Stops; afterwards no run is in progress and none begins. A no-op when not
  // running. Never called from inside the routine.
  void stop();
  // Any thread. Makes the next run happen at once (on Windows: on the service's next tick).
  // Harmless when not running.
  void wake() noexcept;
#ifdef _WIN32
  bool running() const noexcept { return m_eventId != 0; }
#else
  bool running() const noexcept { return m_thread.joinable(); }
#endif

 private:
#ifdef _WIN32
  struct Service;  // the service's callback (PeriodicTimerWin.cpp)

  std::function<void()> m_routine;      // set by start() before the event exists
  std::uint32_t m_eventId = 0;          // window thread only; 0 when not running
  std::uint32_t m_resolution = 0;       // window thread only; requested with timeBeginPeriod
  std::chrono::milliseconds m_period{1};  // set by start() before the event exists
  bool m_everyTick = true;                // set by start() before the event exists
  std::chrono::steady_clock::time_point m_deadline;  // the service's thread once the event exists
  std::atomic<bool> m_woken{false};     // set by wake() (any thread), cleared by the service's thread
  std::atomic<bool> m_stopping{false};  // written by the window thread only (start, stop)
  std::atomic<bool> m_inCallback{false};  // written by the service's thread only
#else
  void loop(std::chrono::microseconds period);
  void loopOnFrames();
  // Sleeps on the condition variable until `until`, stop() or wake(). Timer thread.
  void sleepUntil(std::chrono::steady_clock::time_point until);

  std::thread m_thread;
  std::function<void()> m_routine;            // set by start() before the thread exists
  std::function<NextRun()> m_onFramesRoutine; // set by startOnFrames() before the thread exists
  std::atomic<CanDriver*> m_driver{nullptr};  // written by startOnFrames() and stop() (window thread)
  std::mutex m_mutex;                 // guards the condition variable's wait only
  std::condition_variable m_cv;
  std::atomic<bool> m_woken{false};          // set by wake() (any thread), cleared by the timer thread
  std::atomic<bool> m_stopRequested{false};  // written by start() and stop() (window thread)
#endif
};

}  // namespace bp::can
