// bench_monitor: how many frames per second reach the frame monitor without loss.
//
// A writer thread offers frames on a virtual bus at a fixed rate (absolute deadlines). The
// program's own receive path takes them, wired by engine::Session as the window wires it: the
// driver endpoint's bounded queue, the high-rate reader sleeping until the driver has frames
// (startReader), the receive ring of its default size, and the frame monitor drained every
// 200 ms on the main thread, which also renders the texts of the changed rows as the window does.
// Printed per rate: frames offered, frames counted in the monitor rows once the offer ended and
// the backlog drained, frames lost (dropped by the driver queue), the largest backlog seen at a
// tick (ring + driver queue, before the drain), the main thread's time per tick, and CPU time
// per frame by thread. With the Bus view's tap on ("+trace"), the monitor's observer appends
// every frame to a TraceBuffer of the default size, as the Bus view keeps its history; the main
// thread's time per frame then includes it, and every counted frame must be in the trace.
//
//   bench_monitor                                      the table in main(), about 50 s
//   bench_monitor --rate FPS [--seconds S] [--mix M]   one rate (default 10 s, mix "mixed")
//   options: --queue N (driver queue capacity, default 65536), --trace (the tap on)
//   mixes: "mixed" (24 identifiers, lengths 0..8), "empty" (the same identifiers, no data bytes)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "busview/TraceBuffer.h"
#include "can/drivers/VirtualBus.h"
#include "engine/Session.h"

namespace {

using namespace bp::can;
using namespace bp::engine;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kMonitorTick = 200ms;

double cpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double msSince(Steady::time_point t0) { return std::chrono::duration<double, std::milli>(Steady::now() - t0).count(); }

// 24 identifiers: PDOs, heartbeats, SYNC, other nodes' SDO (not node 5's response 0x585).
constexpr std::uint32_t kIds[] = {0x080, 0x181, 0x182, 0x183, 0x201, 0x281, 0x282, 0x301,
                                  0x381, 0x401, 0x481, 0x501, 0x581, 0x586, 0x601, 0x701,
                                  0x702, 0x703, 0x185, 0x285, 0x385, 0x485, 0x705, 0x7E5};

CanFrame offeredFrame(std::uint64_t i, bool empty) {
  CanFrame f;
  f.id = kIds[i % std::size(kIds)];
  f.len = empty ? 0 : static_cast<std::uint8_t>((i * 7) % 9);
  for (std::size_t b = 0; b < f.len; ++b) f.data[b] = static_cast<std::uint8_t>(i >> (8 * (b % 4)));
  return f;
}

// Share of a 1 Mbit/s bus the offer would take: 47 bits per standard data frame with its
// interframe space, plus 8 per data byte; stuff bits left out, so this is a lower bound.
double wirePercent(double rate, bool empty) {
  double bits = 0;
  for (std::uint64_t i = 0; i < 9 * std::size(kIds); ++i) bits += 47 + 8 * offeredFrame(i, empty).len;
  return rate * bits / (9 * std::size(kIds)) / 1e6 * 100;
}

struct Case {
  double rate;
  double seconds;
  bool empty;
  bool trace = false;  // the Bus view's tap on, into a TraceBuffer
};

struct Result {
  std::uint64_t offered = 0, counted = 0, lost = 0, traced = 0;
  std::uint64_t maxBacklog = 0;  // ring + driver queue at a tick, before the drain
  std::vector<double> tickMs;    // main thread, per tick
  double readerCpu = 0, mainCpu = 0;  // seconds
};

std::uint64_t countedFrames(const FrameMonitor& m) {
  std::uint64_t n = 0;
  for (const auto& row : m.rows()) n += row.count;
  return n;
}

// What the window does with a tick's changed rows: render their texts.
std::size_t renderChanged(FrameMonitor& m, std::vector<std::size_t>& changed) {
  m.takeChanges(changed);
  std::size_t chars = 0;
  for (const std::size_t i : changed) {
    const MonitorRow& row = m.rows()[i];
    chars += FrameMonitor::captionText(row).size() + FrameMonitor::lengthText(row).size() +
             FrameMonitor::dataText(row).size() + FrameMonitor::periodText(row).size() +
             FrameMonitor::countText(row).size();
  }
  return chars;
}

Result run(const Case& c, std::size_t queueCapacity) {
  Result r;
  r.offered = static_cast<std::uint64_t>(c.rate * c.seconds + 0.5);
  auto bus = VirtualBus::create();
  auto source = bus->endpoint(16);
  auto owned = bus->endpoint(queueCapacity);
  VirtualBusEndpoint* driver = owned.get();
  source->open(0x0014, 0);
  driver->open(0x0014, 0);
  bp::engine::Session session(std::move(owned));
  bp::busview::TraceBuffer trace;  // allocated here, before the clocks start
  if (c.trace) session.observeFrames([&trace](const RingSlot& s) { trace.append(bp::busview::traceFrameOf(s)); });
  const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double main0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  session.startReader();

  const auto t0 = Steady::now() + 20ms;
  const std::chrono::duration<double> gap(1.0 / c.rate);
  double writerCpu = 0;
  std::thread writer([&] {
    for (std::uint64_t i = 0; i < r.offered; ++i) {
      const auto due = t0 + std::chrono::duration_cast<Steady::duration>(gap * static_cast<double>(i));
      if (Steady::now() < due) std::this_thread::sleep_until(due);
      source->write(offeredFrame(i, c.empty));
    }
    writerCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  });

  // The window's timer: a tick every 200 ms until one tick after the offer ended and the backlog
  // is gone (or 10 s more have passed).
  const auto offerEnd = t0 + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(c.seconds));
  std::size_t rendered = 0;
  std::vector<std::size_t> changed;
  for (auto tick = t0 + kMonitorTick;; tick += kMonitorTick) {
    std::this_thread::sleep_until(tick);
    const auto start = Steady::now();
    const std::uint64_t backlog = static_cast<std::uint64_t>(session.ring.size()) + driver->queuedFrames();
    r.maxBacklog = std::max(r.maxBacklog, backlog);
    session.monitor.drain(session.ring);
    rendered += renderChanged(session.monitor, changed);
    r.tickMs.push_back(msSince(start));
    if (tick > offerEnd + 10s) break;
    if (tick > offerEnd && countedFrames(session.monitor) + driver->droppedFrames() >= r.offered) break;
  }
  writer.join();
  session.stopReader();
  r.counted = countedFrames(session.monitor);
  r.traced = trace.totalSeen();
  r.lost = driver->droppedFrames();
  r.mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main0;
  r.readerCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0 - r.mainCpu - writerCpu;
  if (rendered == 0 && r.counted > 0) std::fprintf(stderr, "no row was rendered\n");
  return r;
}

void printHeader(std::size_t queueCapacity) {
  std::printf("receive path: virtual bus -> driver queue (%zu) -> high-rate reader (woken by frames) -> ring (%d frames)"
              " -> frame monitor (drained every %lld ms, changed rows rendered)\n",
              queueCapacity, RxRing().capacity(), static_cast<long long>(kMonitorTick.count()));
  std::printf("%9s %11s %4s %5s %9s %9s %5s %8s %7s %7s %6s | %8s %8s\n", "offered/s", "mix", "s", "wire%",
              "offered", "counted", "lost", "max", "tick", "tick", "ticks", "reader", "main");
  std::printf("%9s %11s %4s %5s %9s %9s %5s %8s %7s %7s %6s | %8s %8s\n", "", "", "", "", "", "", "", "backlog",
              "med ms", "max ms", "", "us/frame", "us/frame");
}

void printRow(const Case& c, Result r) {
  std::sort(r.tickMs.begin(), r.tickMs.end());
  const double frames = static_cast<double>(std::max<std::uint64_t>(r.counted, 1));
  const char* mix = c.empty ? (c.trace ? "empty+trace" : "empty") : (c.trace ? "mixed+trace" : "mixed");
  const bool traceOk = !c.trace || r.traced == r.counted;
  std::printf("%9.0f %11s %4.0f %5.0f %9llu %9llu %5llu %8llu %7.3f %7.3f %6zu | %8.2f %8.3f%s%s\n", c.rate,
              mix, c.seconds, wirePercent(c.rate, c.empty),
              static_cast<unsigned long long>(r.offered), static_cast<unsigned long long>(r.counted),
              static_cast<unsigned long long>(r.lost), static_cast<unsigned long long>(r.maxBacklog),
              r.tickMs[r.tickMs.size() / 2], r.tickMs.back(), r.tickMs.size(), r.readerCpu / frames * 1e6,
              r.mainCpu / frames * 1e6, r.counted == r.offered ? "" : "  counted != offered",
              traceOk ? "" : "  traced != counted");
  std::fflush(stdout);
}

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: bench_monitor [--rate FPS [--seconds S] [--mix mixed|empty]] [--queue N] [--trace]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  Case one{0, 10, false};
  std::size_t queue = 65536;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--trace") {
      one.trace = true;
      continue;
    }
    if (i + 1 >= argc) usage();
    const std::string v = argv[++i];
    if (a == "--mix" && (v == "mixed" || v == "empty")) {
      one.empty = v == "empty";
      continue;
    }
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (*end != '\0' || !(x > 0)) usage();
    if (a == "--rate") one.rate = x;
    else if (a == "--seconds") one.seconds = x;
    else if (a == "--queue") queue = static_cast<std::size_t>(x);
    else usage();
  }
  printHeader(queue);
  if (one.rate > 0) {
    printRow(one, run(one, queue));
  } else {
    const Case table[] = {{1000, 2, false},  {2000, 2, false},   {5000, 2, false},  {10000, 10, false},
                          {20000, 2, false}, {21000, 10, false}, {21000, 10, true},  {21000, 10, false, true}};
    for (const Case& c : table) printRow(c, run(c, queue));
  }
  std::printf("counted: in the monitor rows once the offer ended and the backlog drained; lost: dropped by the"
              " driver queue;\nwire%%: share of a 1 Mbit/s bus, stuff bits left out; reader: the process's CPU less the main and"
              " writer threads';\n+trace: every frame also appended to the Bus view's history (TraceBuffer) by the monitor's"
              " observer\n");
  return 0;
}
