#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace bp::can {
class CanDriver;
}

namespace bp::engine {

// Runs a routine on a thread of its own: every period, with absolute deadlines (start), or
// whenever a driver may have received frames and otherwise when the routine asks (startOnFrames).
// wake() runs it early. Runs never overlap. stop() returns only when no run is in progress, and
// none begins afterwards.
//
// Two implementations behind this one interface:
// - Linux and other POSIX systems (PeriodicTimerPosix.cpp): a std::thread sleeping until each absolute
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
  PeriodicTimer();
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;
  ~PeriodicTimer();

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
  bool startOnFrames(can::CanDriver& driver, std::function<NextRun()> routine);
  // Window thread. Stops; afterwards no run is in progress and none begins. A no-op when not
  // running. Never called from inside the routine.
  void stop();
  // Any thread. Makes the next run happen at once (on Windows: on the service's next tick).
  // Harmless when not running.
  void wake() noexcept;
  // Window thread. True from a successful start until stop().
  bool running() const noexcept;

 private:
  // The platform's members and the routine's thread or timer event, in the platform's file.
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace bp::engine
