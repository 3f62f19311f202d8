// The periodic timer on Windows (multimedia timer service) running the high-rate reader, and the
// system tick count. The timer's general behaviour (wake-ups, restart, destructor) is covered by
// the core's PeriodicTimer tests, which run against this implementation in the Windows build.
#include "engine/PeriodicTimer.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "can/drivers/PcanUsbDriver.h"
#include "engine/HighRateReader.h"
#include "engine/RxRing.h"
#include "pcan_stub/PcanStub.h"
#include "support/FrameText.h"
#include "support/Wait.h"
#include "util/Clock.h"

namespace bp::engine {
using namespace bp::can;
namespace {

using namespace std::chrono_literals;
using Stopwatch = std::chrono::steady_clock;
using test::waitUntil;

double elapsedMs(Stopwatch::time_point since) {
  return std::chrono::duration<double, std::milli>(Stopwatch::now() - since).count();
}

TEST(MultimediaTimer, SmallestPeriodIsTheServicesOwn) {
  TIMECAPS caps{};
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), static_cast<MMRESULT>(TIMERR_NOERROR));
  EXPECT_EQ(PeriodicTimer::minPeriodMs(), caps.wPeriodMin);
  EXPECT_GE(PeriodicTimer::minPeriodMs(), PeriodicTimer::kMinPeriodMs);
}

// The reader's rate: one run per millisecond where the service offers 1 ms. Over one second the
// count must be close to the elapsed milliseconds: never more than one run per period (plus the
// service catching up a late tick), and not fewer than 80 % on a busy machine.
TEST(MultimediaTimer, RunsAtTheSmallestPeriodForOneSecond) {
  const std::uint32_t period = PeriodicTimer::minPeriodMs();
  PeriodicTimer timer;
  std::atomic<int> runs{0};
  std::atomic<DWORD> runThread{0};
  const auto t0 = Stopwatch::now();
  ASSERT_TRUE(timer.start(period, [&] {
    runs.fetch_add(1, std::memory_order_relaxed);
    runThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
  }));
  EXPECT_TRUE(timer.running());
  std::this_thread::sleep_for(1000ms);
  timer.stop();
  const double ms = elapsedMs(t0);
  const double expected = ms / period;
  std::printf("[          ] %d runs in %.1f ms at a %u ms period\n", runs.load(), ms,
              static_cast<unsigned>(period));
  EXPECT_LE(runs.load(), static_cast<int>(expected) + 3);
  EXPECT_GE(runs.load(), static_cast<int>(expected * 0.8));
  // On the service's thread, never on the thread that started it.
  EXPECT_NE(runThread.load(), 0u);
  EXPECT_NE(runThread.load(), GetCurrentThreadId());
}

TEST(MultimediaTimer, LongerPeriodRunsOncePerPeriod) {
  PeriodicTimer timer;
  std::atomic<int> runs{0};
  const auto t0 = Stopwatch::now();
  ASSERT_TRUE(timer.start(25, [&] { runs.fetch_add(1); }));
  std::this_thread::sleep_for(500ms);
  timer.stop();
  const double ms = elapsedMs(t0);
  EXPECT_LE(runs.load(), static_cast<int>(ms / 25) + 1);
  EXPECT_GE(runs.load(), static_cast<int>(ms / 25 * 0.7));
}

// stop() returns with no run in progress, even when a run is long and stop() comes in its middle;
// none follows; the timer can be started again at once.
TEST(MultimediaTimer, StopWaitsForTheRunningCallbackAndNoneFollows) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    PeriodicTimer timer;
    std::atomic<int> runs{0};
    std::atomic<bool> inside{false};
    ASSERT_TRUE(timer.start(1, [&] {
      inside.store(true);
      Sleep(3);  // longer than the period
      runs.fetch_add(1);
      inside.store(false);
    }));
    ASSERT_TRUE(waitUntil([&] { return runs.load() >= 2; }, 5000ms));
    ASSERT_TRUE(waitUntil([&] { return inside.load(); }, 5000ms));  // stop in the middle of a run
    timer.stop();
    EXPECT_FALSE(inside.load());
    EXPECT_FALSE(timer.running());
    const int after = runs.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(runs.load(), after);
  }
}

TEST(MultimediaTimer, RunsNeverOverlap) {
  PeriodicTimer timer;
  std::atomic<int> inside{0}, maxInside{0}, runs{0};
  ASSERT_TRUE(timer.start(1, [&] {
    const int now = inside.fetch_add(1) + 1;
    int seen = maxInside.load();
    while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
    }
    if (runs.fetch_add(1) % 7 == 0) Sleep(2);  // now and then longer than a period
    inside.fetch_sub(1);
  }));
  for (int i = 0; i < 200; ++i) {
    timer.wake();  // wake-ups from another thread never start a second run alongside
    std::this_thread::sleep_for(1ms);
  }
  timer.stop();
  EXPECT_GT(runs.load(), 50);
  EXPECT_EQ(maxInside.load(), 1);
}

// Two timers at once (the reader and, in the demo, the simulated node): both keep their rate.
TEST(MultimediaTimer, TwoTimersRunSideBySide) {
  PeriodicTimer a, b;
  std::atomic<int> runsA{0}, runsB{0};
  const auto t0 = Stopwatch::now();
  ASSERT_TRUE(a.start(1, [&] { runsA.fetch_add(1); }));
  ASSERT_TRUE(b.start(1, [&] { runsB.fetch_add(1); }));
  std::this_thread::sleep_for(300ms);
  a.stop();
  const int aFinal = runsA.load();
  std::this_thread::sleep_for(100ms);
  b.stop();
  const double ms = elapsedMs(t0);
  EXPECT_GE(aFinal, static_cast<int>(300 * 0.7));
  EXPECT_GE(runsB.load(), static_cast<int>(ms * 0.7));
  EXPECT_EQ(runsA.load(), aFinal);  // a stopped while b went on
}

// The whole receive path on Windows: frames arriving in the adapter library are drained by the
// high-rate reader, run by the multimedia timer, into the receive ring, with receive times from
// the system tick; stopping the timer stops the draining.
TEST(MultimediaTimer, ReaderDrainsTheAdapterLibraryIntoTheRing) {
  PcanUsbDriver driver;
  ASSERT_EQ(driver.loadError(), kOk);
  ASSERT_EQ(driver.open(0x001C, 0), kOk);
  auto ring = std::make_unique<RxRing>();
  HighRateReader reader(driver, *ring, SteadyClock::instance());
  PeriodicTimer timer;
  ASSERT_TRUE(timer.start(PeriodicTimer::minPeriodMs(), [&] { reader.runOnce(); }));

  constexpr int kFrames = 200;
  int sent = 0;
  for (int i = 0; i < kFrames; ++i) {
    can::CanFrame f = test::frame("181#00.11.22.33");
    f.data[0] = static_cast<std::uint8_t>(i);
    while (driver.write(f) == stub::kStubQueueFull) Sleep(1);  // the reader empties the queue
    ++sent;
  }
  ASSERT_TRUE(waitUntil([&] { return ring->size() == kFrames; }, 5000ms)) << ring->size();
  timer.stop();
  ASSERT_EQ(driver.write(test::frame("181#FF")), kOk);  // stays in the library: no reader runs
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ring->size(), kFrames);

  std::uint32_t lastTime = 0;
  for (int i = 0; i < kFrames; ++i) {
    const RingSlot* slot = ring->front();
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->frame.id, 0x181u);
    EXPECT_EQ(slot->frame.data[0], static_cast<std::uint8_t>(i));
    EXPECT_GE(slot->receiveTime, lastTime);  // ticks since the reader's first run
    EXPECT_LT(slot->receiveTime, 60'000u);
    lastTime = slot->receiveTime;
    ring->pop();
  }
  EXPECT_EQ(sent, kFrames);
  driver.close();
}

TEST(SystemTick, SteadyClockIsGetTickCount) {
  for (int i = 0; i < 5; ++i) {
    const DWORD before = GetTickCount();
    const std::uint32_t tick = SteadyClock::instance().tickMs();
    const DWORD after = GetTickCount();
    EXPECT_EQ(static_cast<std::uint32_t>(tick - before) <= static_cast<std::uint32_t>(after - before), true)
        << "tick " << tick << " outside [" << before << ", " << after << "]";
    Sleep(7);
  }
}

TEST(SystemTick, AdvancesInMilliseconds) {
  const std::uint32_t t0 = SteadyClock::instance().tickMs();
  const auto s0 = Stopwatch::now();
  Sleep(300);
  const std::uint32_t dt = SteadyClock::instance().tickMs() - t0;
  const double ms = elapsedMs(s0);
  // GetTickCount moves in steps of the system timer (up to about 16 ms).
  EXPECT_GE(dt + 20.0, ms);
  EXPECT_LE(dt, ms + 20.0);
}

}  // namespace
}  // namespace bp::engine
