// bench_monitor: how many frames per second reach the frame monitor without loss.
//
// A writer thread offers frames on a virtual bus at a fixed rate (absolute deadlines, mixed
// identifiers and lengths). The program's own receive path takes them: the driver endpoint's
// bounded queue, the high-rate reader on a 1 ms periodic timer, the receive ring of 1023 frames,
// and the frame monitor drained every 200 ms on the main thread (which also renders the texts of
// the changed rows, as the window does). Printed per rate: frames offered, frames counted in the
// monitor rows one tick after the offer ended, the backlog still waiting (driver queue, ring),
// frames dropped by the driver queue, and CPU time per frame by thread.
//
//   bench_monitor                          table for 1,000 .. 20,000 frames/s, 2 s each
//   bench_monitor --rate FPS --seconds S   one rate
//   options: --queue N (driver queue capacity, default 65536), --wake (the bus wakes the reader)
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "can/FrameMonitor.h"
#include "can/HighRateReader.h"
#include "can/PeriodicTimer.h"
#include "can/VirtualBus.h"

namespace {

using namespace bp::can;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kMonitorTick = 200ms;
constexpr std::int32_t kNode = 5;

double cpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A mix of traffic: 24 identifiers (PDOs, heartbeats, SYNC, other nodes' SDO), lengths 0..8.
CanFrame offeredFrame(std::uint64_t i) {
  static constexpr std::uint32_t kIds[] = {0x080, 0x181, 0x182, 0x183, 0x201, 0x281, 0x282, 0x301,
                                           0x381, 0x401, 0x481, 0x501, 0x581, 0x586, 0x601, 0x701,
                                           0x702, 0x703, 0x185, 0x285, 0x385, 0x485, 0x705, 0x7E5};
  CanFrame f;
  f.id = kIds[i % std::size(kIds)];
  f.len = static_cast<std::uint8_t>((i * 7) % 9);
  for (std::size_t b = 0; b < f.len; ++b) f.data[b] = static_cast<std::uint8_t>(i >> (8 * (b % 4)));
  return f;
}

struct Result {
  double rate = 0;
  std::uint64_t offered = 0;
  std::uint64_t counted = 0;     // in the monitor rows one tick after the offer ended
  std::uint64_t inQueue = 0;     // waiting in the driver queue then
  std::uint64_t inRing = 0;      // waiting in the ring then
  std::uint64_t dropped = 0;     // dropped by the driver queue (full)
  std::uint64_t finallyCounted = 0;  // after the backlog was drained
  int maxRing = 0;               // fullest ring seen at a tick
  std::uint64_t maxQueue = 0;    // deepest driver queue seen at a tick
  double readerCpu = 0, windowCpu = 0, writerCpu = 0, processCpu = 0;  // seconds
  double offerSeconds = 0;
};

std::uint64_t countedFrames(const FrameMonitor& m) {
  std::uint64_t n = 0;
  for (const auto& row : m.rows()) n += static_cast<std::uint64_t>(row.count);
  return n;
}

// What the window does with a tick's changed rows: render their texts.
std::size_t renderChanged(FrameMonitor& m) {
  std::size_t chars = 0;
  for (auto& row : m.rows()) {
    if (!row.changed) continue;
    chars += FrameMonitor::captionText(row).size() + FrameMonitor::lengthText(row).size() +
             FrameMonitor::dataText(row).size() + FrameMonitor::periodText(row).size() +
             FrameMonitor::countText(row).size();
    row.changed = false;
  }
  return chars;
}

Result run(double rate, double seconds, std::size_t queueCapacity, bool wake) {
  Result r;
  r.rate = rate;
  r.offered = static_cast<std::uint64_t>(rate * seconds + 0.5);

  auto bus = VirtualBus::create();
  auto source = bus->endpoint(16);
  auto driver = bus->endpoint(queueCapacity);
  source->open(0x0014, 0);
  driver->open(0x0014, 0);
  auto ring = std::make_unique<RxRing>();
  std::atomic<std::int32_t> nodeId{kNode};
  HighRateReader reader(*driver, *ring, nodeId, bp::SteadyClock::instance());
  FrameMonitor monitor;

  std::atomic<double> readerCpu{0};  // written by the timer thread
  PeriodicTimer timer;
  if (wake) driver->setReceiveNotifier([&timer] { timer.wake(); });
  const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double window0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  timer.start(1, [&] {
    reader.runOnce();
    readerCpu.store(cpuSeconds(CLOCK_THREAD_CPUTIME_ID), std::memory_order_relaxed);
  });

  const auto t0 = Steady::now() + 20ms;
  const std::chrono::duration<double> gap(1.0 / rate);
  std::atomic<double> writerCpu{0};
  std::thread writer([&] {
    for (std::uint64_t i = 0; i < r.offered; ++i) {
      const auto due = t0 + std::chrono::duration_cast<Steady::duration>(gap * static_cast<double>(i));
      if (Steady::now() < due) std::this_thread::sleep_until(due);
      source->write(offeredFrame(i));
    }
    writerCpu.store(cpuSeconds(CLOCK_THREAD_CPUTIME_ID));
  });

  // The window's timer: a tick every 200 ms, from the start of the offer to one tick after it.
  const auto offerEnd = t0 + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
  auto tick = t0;
  std::size_t rendered = 0;
  auto monitorTick = [&] {
    r.maxRing = std::max(r.maxRing, ring->size());
    r.maxQueue = std::max<std::uint64_t>(r.maxQueue, driver->queuedFrames());
    monitor.drain(*ring);
    rendered += renderChanged(monitor);
  };
  do {
    tick += kMonitorTick;
    std::this_thread::sleep_until(tick);
    monitorTick();
  } while (tick < offerEnd + kMonitorTick);
  writer.join();
  r.offerSeconds = seconds;
  r.counted = countedFrames(monitor);
  r.inQueue = driver->queuedFrames();
  r.inRing = static_cast<std::uint64_t>(ring->size());

  // Let the backlog drain at the same pace, to see that everything not dropped arrives.
  for (int extra = 0; extra < 1000 && (driver->queuedFrames() > 0 || ring->size() > 0); ++extra) {
    tick += kMonitorTick;
    std::this_thread::sleep_until(tick);
    monitorTick();
  }
  timer.stop();
  driver->setReceiveNotifier(nullptr);
  r.finallyCounted = countedFrames(monitor);
  r.dropped = driver->droppedFrames();
  r.readerCpu = readerCpu.load();  // the timer thread's whole CPU time
  r.windowCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - window0;
  r.writerCpu = writerCpu.load();
  r.processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
  if (rendered == 0 && r.finallyCounted > 0) std::fprintf(stderr, "no row was rendered\n");
  return r;
}

void printHeader(std::size_t queueCapacity, bool wake) {
  std::printf("receive path: virtual bus -> driver queue (%zu) -> high-rate reader (1 ms timer%s) -> ring (%d frames)"
              " -> frame monitor (drained every %lld ms)\n",
              queueCapacity, wake ? ", woken by the bus" : "", RxRing::kSlots - 1,
              static_cast<long long>(kMonitorTick.count()));
  std::printf("%9s %9s %9s %9s %7s %8s %6s %8s %9s %9s | %9s %9s %9s %9s\n", "offered/s", "offered", "counted",
              "in-queue", "in-ring", "dropped", "lost", "max-ring", "max-queue", "all-in", "reader", "window",
              "app", "process");
  std::printf("%9s %9s %9s %9s %7s %8s %6s %8s %9s %9s | %9s %9s %9s %9s\n", "", "", "at end", "at end", "at end",
              "", "", "at tick", "at tick", "later", "us/frame", "us/frame", "us/frame", "us/frame");
}

void printRow(const Result& r) {
  const double frames = static_cast<double>(std::max<std::uint64_t>(r.finallyCounted, 1));
  const long long lost = static_cast<long long>(r.offered - r.counted - r.inQueue - r.inRing);  // = dropped
  std::printf("%9.0f %9llu %9llu %9llu %7llu %8llu %6lld %8d %9llu %9s | %9.2f %9.2f %9.2f %9.2f\n", r.rate,
              static_cast<unsigned long long>(r.offered), static_cast<unsigned long long>(r.counted),
              static_cast<unsigned long long>(r.inQueue), static_cast<unsigned long long>(r.inRing),
              static_cast<unsigned long long>(r.dropped), lost, r.maxRing,
              static_cast<unsigned long long>(r.maxQueue), r.finallyCounted + r.dropped == r.offered ? "yes" : "NO",
              r.readerCpu / frames * 1e6, r.windowCpu / frames * 1e6, (r.readerCpu + r.windowCpu) / frames * 1e6,
              r.processCpu / frames * 1e6);
  std::fflush(stdout);
}

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: bench_monitor [--rate FPS --seconds S] [--queue N] [--wake]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  double rate = 0, seconds = 2;
  std::size_t queue = 65536;
  bool wake = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> double {
      if (i + 1 >= argc) usage();
      char* end = nullptr;
      const double v = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(v > 0)) usage();
      return v;
    };
    if (a == "--rate") rate = value();
    else if (a == "--seconds") seconds = value();
    else if (a == "--queue") queue = static_cast<std::size_t>(value());
    else if (a == "--wake") wake = true;
    else usage();
  }
  printHeader(queue, wake);
  if (rate > 0) {
    printRow(run(rate, seconds, queue, wake));
  } else {
    for (double r : {1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) printRow(run(r, seconds, queue, wake));
  }
  std::printf("counted at end: in the rows one tick after the offer ended; lost = offered - counted - waiting;"
              " all-in: every frame not dropped reached the rows once the backlog drained\n");
  return 0;
}
