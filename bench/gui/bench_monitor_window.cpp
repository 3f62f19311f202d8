// The window's monitor tick under a flood: bench_monitor_window [--rate FPS] [--seconds S] [--ids N]
// The real window (offscreen, shown) on a virtual-bus endpoint, as --demo builds it; another
// endpoint offers frames at FPS (default 21,000: about a saturated 1 Mbit/s bus of empty frames)
// for S seconds (default 10) from a writer thread with absolute deadlines, N identifiers (default
// 200) in turn, lengths 0..8. The window's own 200 ms timer is stopped; a 200 ms timer of the
// bench calls tiBufferReaderTimer() instead and times each call. Printed: ticks, median, 99th
// percentile and largest time per tick, the window thread's CPU per tick (with painting), the
// largest gap between ticks, and frames offered, counted in the monitor, shown in the list, lost.
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "can/BitRate.h"
#include "can/drivers/VirtualBus.h"
#include "sim/DemoEds.h"

namespace {
using Steady = std::chrono::steady_clock;

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
  return v[rank == 0 ? 0 : rank - 1];
}
}  // namespace

int main(int argc, char** argv) {
  double rate = 21000, seconds = 10;
  int idCount = 200;
  bool usage = argc % 2 == 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rate") == 0) rate = std::max(1.0, std::atof(argv[i + 1]));
    else if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(0.2, std::atof(argv[i + 1]));
    else if (std::strcmp(argv[i], "--ids") == 0) idCount = std::clamp(std::atoi(argv[i + 1]), 1, 250);
    else usage = true;
  }
  if (usage) {
    std::fprintf(stderr, "usage: bench_monitor_window [--rate FPS] [--seconds S] [--ids N (1..250)]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir scratch;  // settings, SDOList.bin and the EDS file go here, not into the user's files
  qputenv("XDG_CONFIG_HOME", scratch.path().toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", scratch.path().toLocal8Bit());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path());
  QDir::setCurrent(scratch.path());
  {
    QFile eds(QString::fromLatin1(bp::app::kDefaultEdsFileName));  // the start-up loads it, as in the demo
    const std::string_view text = bp::sim::demoEdsText();
    if (!eds.open(QIODevice::WriteOnly) || eds.write(text.data(), static_cast<qint64>(text.size())) < 0) return 1;
  }
  QApplication app(argc, argv);
  bp::app::setMessageSink([](bp::app::MessageKind, const QString&, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
  });

  auto bus = bp::can::VirtualBus::create();
  auto endpoint = bus->endpoint();
  bp::can::VirtualBusEndpoint* driver = endpoint.get();
  bp::app::TfrmBPX window(std::move(endpoint));
  window.show();
  window.tiBufferReader->stop();
  auto source = bus->endpoint(16);
  source->open(bp::can::kBitRateTable[bp::can::kDefaultBitRateIndex].code, 0);

  // Identifiers 0x080 + 7k: spread over the range, never node 5's SDO response 0x585.
  const auto offered = static_cast<std::uint64_t>(rate * seconds + 0.5);
  const auto t0 = Steady::now() + std::chrono::milliseconds(100);
  std::atomic<bool> offerDone{false};
  std::thread writer([&] {
    const std::chrono::duration<double> gap(1.0 / rate);
    for (std::uint64_t i = 0; i < offered; ++i) {
      const auto due = t0 + std::chrono::duration_cast<Steady::duration>(gap * static_cast<double>(i));
      if (Steady::now() < due) std::this_thread::sleep_until(due);
      bp::can::CanFrame f;
      f.id = 0x080 + 7 * static_cast<std::uint32_t>(i % static_cast<std::uint64_t>(idCount));
      f.len = static_cast<std::uint8_t>((i * 7) % 9);
      for (std::size_t b = 0; b < f.len; ++b) f.data[b] = static_cast<std::uint8_t>(i >> (8 * (b % 4)));
      source->write(f);
    }
    offerDone.store(true);
  });

  bp::engine::Session& session = window.session();
  auto counted = [&] {
    std::uint64_t n = 0;
    for (const auto& row : session.monitor.rows()) n += row.count;
    return n;
  };
  std::vector<double> tickMs;
  double maxGapMs = 0, cpu0 = 0;
  std::uint64_t maxBacklog = 0;
  QElapsedTimer sinceLastTick;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (tickMs.empty()) cpu0 = threadCpuMs();
    else maxGapMs = std::max(maxGapMs, static_cast<double>(sinceLastTick.nsecsElapsed()) / 1e6);
    sinceLastTick.start();
    maxBacklog = std::max<std::uint64_t>(maxBacklog, static_cast<std::uint64_t>(session.ring.size()) + driver->queuedFrames());
    QElapsedTimer t;
    t.start();
    window.tiBufferReaderTimer();
    tickMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    const bool late = Steady::now() > t0 + std::chrono::duration<double>(seconds + 10);
    if ((offerDone.load() && counted() + driver->droppedFrames() >= offered) || late) app.quit();
  });
  std::this_thread::sleep_until(t0);
  tick.start(200);
  app.exec();
  const double cpuPerTick = (threadCpuMs() - cpu0) / static_cast<double>(tickMs.size());
  writer.join();

  std::uint64_t shown = 0;
  for (int i = 0; i < window.lvReceived->topLevelItemCount(); ++i)
    shown += window.lvReceived->topLevelItem(i)->text(4).toULongLong();
  std::printf("window monitor tick, offscreen: %.0f frames/s for %.0f s, %d identifiers, lengths 0..8\n", rate,
              seconds, idCount);
  std::printf("ticks %zu: tiBufferReaderTimer median %.2f ms, p99 %.2f ms, max %.2f ms (target <= 20 ms);"
              " window thread CPU %.2f ms per tick (with painting); largest gap between ticks %.0f ms\n",
              tickMs.size(), percentile(tickMs, 0.5), percentile(tickMs, 0.99), percentile(tickMs, 1.0), cpuPerTick,
              maxGapMs);
  std::printf("frames offered %llu, counted %llu, shown in the list %llu (%d rows), lost %llu; largest backlog"
              " (ring + driver queue) %llu%s\n",
              static_cast<unsigned long long>(offered), static_cast<unsigned long long>(counted()),
              static_cast<unsigned long long>(shown), window.lvReceived->topLevelItemCount(),
              static_cast<unsigned long long>(driver->droppedFrames()), static_cast<unsigned long long>(maxBacklog),
              counted() == offered ? "" : "  COUNTED != OFFERED");
  return 0;
}
