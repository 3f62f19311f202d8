// The Bus view open under a saturated bus: bench_bus_view [--rate FPS] [--seconds S] [--plot] [--full]
// The real main window (offscreen, shown, the demo EDS loaded) on a virtual-bus endpoint with the
// Bus view opened as F2 opens it; another endpoint offers CANopen traffic at FPS (default 21,000:
// a saturated 1 Mbit/s bus of 8-byte frames) for S seconds (default 10) from a writer thread with
// absolute deadlines: each millisecond a SYNC and TPDO1/TPDO2 of nodes 1..10 (node 5's TPDO1 is the
// status word and position the demo EDS maps), with heartbeats of every node each 100 ms, 200 SDO
// uploads of node 3 a second and 2 EMCY a second in their place. The real reader thread fills the
// ring. Both windows' own timers are stopped; the bench calls tiBufferReaderTimer() every 200 ms
// and the Bus view's refresh() every 100 ms, draining the ring (timed as the monitor's work, the
// Bus view's decoding included) just before each refresh, so refresh() times the view alone.
// --plot ticks TPDO1's objects on the PDO tab and shows the plot tab; --full first fills the
// history to its capacity, so every refresh also drops the oldest rows.
// Printed: frames offered, counted in the monitor, seen by the history, lost in the driver queue,
// the largest ring fill; the window thread's CPU µs a frame for the drain and for refresh, and
// beyond both (painting, events); refresh's median, 99th percentile and worst wall time; memory.
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/BusViewWindow.h"
#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "app/TraceModel.h"
#include "can/BitRate.h"
#include "can/drivers/VirtualBus.h"
#include "sim/DemoEds.h"

namespace {
using Steady = std::chrono::steady_clock;
using bp::can::CanFrame;

struct Options {
  double rate = 21000;
  double seconds = 10;
  bool plot = false;
  bool full = false;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--plot") == 0) o.plot = true;
    else if (std::strcmp(argv[i], "--full") == 0) o.full = true;
    else if (std::strcmp(argv[i], "--rate") == 0 && hasValue) o.rate = std::max(100.0, std::atof(argv[++i]));
    else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) o.seconds = std::max(0.5, std::atof(argv[++i]));
    else return false;
  }
  return true;
}

CanFrame frameOf(std::uint32_t id, std::initializer_list<std::uint8_t> bytes) {
  CanFrame f;
  f.id = id;
  f.len = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), f.data.begin());
  return f;
}

// A TPDO of node `node`: node 5's TPDO1 carries status word 0x0637 and a position running up and
// down; the others eight bytes of counters.
CanFrame tpdo(std::uint64_t ms, int node, int pdo) {
  const auto id = static_cast<std::uint32_t>((pdo == 1 ? 0x180 : 0x280) + node);
  if (node == 5 && pdo == 1) {
    const auto phase = static_cast<std::int32_t>(ms % 2000);
    const std::int32_t pos = (phase < 1000 ? phase : 2000 - phase) * 100;
    return frameOf(id, {0x37, 0x06, static_cast<std::uint8_t>(pos), static_cast<std::uint8_t>(pos >> 8),
                        static_cast<std::uint8_t>(pos >> 16), static_cast<std::uint8_t>(pos >> 24)});
  }
  const auto a = static_cast<std::uint8_t>(ms), b = static_cast<std::uint8_t>(ms >> 8);
  return frameOf(id, {a, b, static_cast<std::uint8_t>(node), 0x10, static_cast<std::uint8_t>(a ^ 0x5A), b, 0, 0x7F});
}

// Frame i of the bus: 21 frames a millisecond, slot 0 the SYNC, slots 1..20 the TPDOs, some of
// them given to a heartbeat, an SDO request and its answer, or an EMCY (set and reset).
CanFrame busFrame(std::uint64_t i) {
  const std::uint64_t ms = i / 21;
  const int slot = static_cast<int>(i % 21);
  if (slot == 0) return frameOf(0x080, {});
  if (slot == 20 && ms % 10 == 0) return frameOf(0x701 + static_cast<std::uint32_t>(ms / 10 % 10), {0x05});
  if (slot == 18 && ms % 5 == 1) return frameOf(0x603, {0x40, 0x18, 0x10, 0x01, 0, 0, 0, 0});
  if (slot == 19 && ms % 5 == 1)
    return frameOf(0x583, {0x43, 0x18, 0x10, 0x01, static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8), 0, 0});
  if (slot == 17 && ms % 500 == 250)
    return ms % 1000 == 250 ? frameOf(0x087, {0x10, 0x23, 0x02, 0, 0, 0, 0x12, 0x34}) : frameOf(0x087, {0, 0, 0, 0, 0, 0, 0, 0});
  return tpdo(ms, (slot - 1) / 2 + 1, (slot - 1) % 2 + 1);
}

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

// The process's resident memory in MiB ("VmRSS" or "VmHWM" of /proc/self/status).
double residentMiB(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field) + 1) / 1024.0;
  return 0;
}

double at(std::vector<double> v, double share) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(share * static_cast<double>(v.size())))];
}

// Settings, SDOList.bin and the demo EDS (loaded at start-up, node 5) in a scratch folder.
bool useScratch(const QTemporaryDir& scratch) {
  const QByteArray path = scratch.path().toLocal8Bit();
  qputenv("XDG_CONFIG_HOME", path);
  qputenv("XDG_RUNTIME_DIR", path);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path());
  QDir::setCurrent(scratch.path());
  QFile eds(QString::fromLatin1(bp::app::kDefaultEdsFileName));
  const std::string_view text = bp::sim::demoEdsText();
  return eds.open(QIODevice::WriteOnly) && eds.write(text.data(), static_cast<qint64>(text.size())) >= 0;
}

// Ticks every mapped object of TPDO1 on the PDO tab (the plot gets a series each); how many.
int tickTpdo1(bp::app::TfrmBusView& view) {
  int ticked = 0;
  for (int i = 0; i < view.lvPdo->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = view.lvPdo->topLevelItem(i);
    if (item->text(0) != QStringLiteral("TPDO1") || !(item->flags() & Qt::ItemIsUserCheckable)) continue;
    item->setCheckState(0, Qt::Checked);
    ++ticked;
  }
  view.findChild<QTabWidget*>(QStringLiteral("tcBusView"))->setCurrentIndex(2);
  return ticked;
}

// Fills the history to its capacity with the same traffic, stamped before the run, and shows it.
std::uint64_t fillHistory(bp::app::TfrmBusView& view, double rate) {
  bp::busview::BusView& model = view.model();
  const std::uint64_t n = model.trace().capacity();
  const std::uint64_t start = bp::engine::steadyMicros() - static_cast<std::uint64_t>(static_cast<double>(n) / rate * 1e6);
  for (std::uint64_t i = 0; i < n; ++i) {
    const auto t = start + static_cast<std::uint64_t>(static_cast<double>(i) * 1e6 / rate);
    model.feed({t, busFrame(i), bp::busview::Direction::Received});
  }
  view.refresh();
  return n;
}

// What the window thread spent: wall time of each call, and its CPU time in all.
struct Costs {
  std::vector<double> drainMs;    // tiBufferReaderTimer and the drain before each refresh
  std::vector<double> refreshMs;  // TfrmBusView::refresh
  double drainCpuMs = 0, refreshCpuMs = 0;
  std::int32_t ringPeak = 0;      // frames in the ring at the start of a drain, at most
  double cpuMs = 0;               // the window thread's CPU over the run, painting included
  double wallMs = 0;              // the run's length
};

template <class F>
double timedMs(F&& work) {
  QElapsedTimer t;
  t.start();
  work();
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Runs `work`, keeping its wall time in `times` and adding its CPU time to `cpuMs`.
template <class F>
void measure(std::vector<double>& times, double& cpuMs, F&& work) {
  const double cpu0 = threadCpuMs();
  times.push_back(timedMs(work));
  cpuMs += threadCpuMs() - cpu0;
}

// Offers `count` frames at `rate` from t0 on, each at its own deadline.
std::thread startWriter(bp::can::VirtualBusEndpoint& source, std::uint64_t count, double rate, Steady::time_point t0,
                        std::atomic<bool>& done) {
  return std::thread([&source, count, rate, t0, &done] {
    const std::chrono::duration<double> gap(1.0 / rate);
    for (std::uint64_t i = 0; i < count; ++i) {
      const auto due = t0 + std::chrono::duration_cast<Steady::duration>(gap * static_cast<double>(i));
      if (Steady::now() < due) std::this_thread::sleep_until(due);
      source.write(busFrame(i));
    }
    done.store(true);
  });
}

std::uint64_t monitorCount(bp::engine::Session& session) {
  std::uint64_t n = 0;
  for (const auto& row : session.monitor.rows()) n += row.count;
  return n;
}

// Runs the two ticks on the event loop until every offered frame was counted (or 10 s late).
Costs runTicks(QApplication& app, bp::app::TfrmBPX& window, bp::can::VirtualBusEndpoint& driver, std::uint64_t offered,
               const std::atomic<bool>& offerDone, Steady::time_point deadline) {
  bp::engine::Session& session = window.session();
  bp::app::TfrmBusView& view = *window.busView();
  Costs c;
  QTimer monitorTick, viewTick;
  monitorTick.setTimerType(Qt::PreciseTimer);
  viewTick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&monitorTick, &QTimer::timeout, [&] {
    c.ringPeak = std::max(c.ringPeak, session.ring.size());
    measure(c.drainMs, c.drainCpuMs, [&] { window.tiBufferReaderTimer(); });
    const bool counted = monitorCount(session) + driver.droppedFrames() >= offered;
    if ((offerDone.load() && counted) || Steady::now() > deadline) app.quit();
  });
  QObject::connect(&viewTick, &QTimer::timeout, [&] {
    c.ringPeak = std::max(c.ringPeak, session.ring.size());
    measure(c.drainMs, c.drainCpuMs, [&] { session.monitor.drain(session.ring); });
    measure(c.refreshMs, c.refreshCpuMs, [&] { view.refresh(); });
  });
  const double cpu0 = threadCpuMs();
  monitorTick.start(200);
  viewTick.start(100);
  c.wallMs = timedMs([&] { app.exec(); });
  c.cpuMs = threadCpuMs() - cpu0;
  return c;
}

void report(const Options& o, bp::app::TfrmBPX& window, bp::can::VirtualBusEndpoint& driver, const Costs& c,
            std::uint64_t offered, std::uint64_t filled) {
  bp::app::TfrmBusView& view = *window.busView();
  const bp::busview::BusView& model = view.model();
  const std::uint64_t counted = monitorCount(window.session());
  const std::uint64_t seen = model.trace().totalSeen() - filled;
  const double perFrame = 1e3 / static_cast<double>(offered);
  const double drain = c.drainCpuMs, refresh = c.refreshCpuMs;
  std::printf("bus view, offscreen: %.0f frames/s for %.0f s of CANopen traffic%s%s\n", o.rate, o.seconds,
              o.plot ? ", TPDO1 plotted (plot tab shown)" : ", trace tab shown",
              o.full ? ", history full from the start" : "");
  std::printf("frames offered %llu, counted in the monitor %llu, seen by the history %llu, lost %llu;"
              " ring at most %d of %d%s\n",
              static_cast<unsigned long long>(offered), static_cast<unsigned long long>(counted),
              static_cast<unsigned long long>(seen), static_cast<unsigned long long>(driver.droppedFrames()),
              c.ringPeak, window.session().ring.capacity(),
              counted == offered && seen == offered ? "" : "  LOSS");
  std::printf("window thread CPU per frame: monitor drain (with decoding) %.3f us, Bus view refresh %.3f us,"
              " rest (painting, events) %.3f us; %.1f%% of one core\n",
              drain * perFrame, refresh * perFrame, (c.cpuMs - drain - refresh) * perFrame,
              100.0 * c.cpuMs / c.wallMs);
  std::printf("refreshes %zu: median %.2f ms, p99 %.2f ms, worst %.2f ms; drains %zu: median %.2f ms, worst %.2f ms\n",
              c.refreshMs.size(), at(c.refreshMs, 0.5), at(c.refreshMs, 0.99), at(c.refreshMs, 1.0),
              c.drainMs.size(), at(c.drainMs, 0.5), at(c.drainMs, 1.0));
  const double bytesPerFrame = sizeof(bp::busview::TraceFrame) + sizeof(bp::busview::Decoded);
  std::size_t samples = 0;
  for (const int s : model.plots().series()) samples += model.plots().samples(s).size();
  std::printf("history: %llu of %zu frames held (%llu dropped), %.1f MiB allocated (%.0f B a frame);"
              " plot samples %zu; resident %.0f MiB, peak %.0f MiB\n",
              static_cast<unsigned long long>(model.trace().totalSeen() - model.trace().dropped()),
              model.trace().capacity(), static_cast<unsigned long long>(model.trace().dropped()),
              bytesPerFrame * static_cast<double>(model.trace().capacity()) / (1 << 20), bytesPerFrame, samples,
              residentMiB("VmRSS:"), residentMiB("VmHWM:"));
}
}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: bench_bus_view [--rate FPS] [--seconds S] [--plot] [--full]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir scratch;
  if (!useScratch(scratch)) return 1;
  QApplication app(argc, argv);
  bp::app::setMessageSink([](bp::app::MessageKind, const QString&, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
  });

  auto bus = bp::can::VirtualBus::create();
  auto endpoint = bus->endpoint();
  bp::can::VirtualBusEndpoint& driver = *endpoint;
  bp::app::TfrmBPX window(std::move(endpoint));
  window.show();
  window.tiBufferReader->stop();
  window.openBusView();
  bp::app::TfrmBusView& view = *window.busView();
  view.tiView->stop();
  if (o.plot && tickTpdo1(view) == 0) {
    std::fprintf(stderr, "no TPDO1 object to tick on the PDO tab\n");
    return 1;
  }
  const std::uint64_t filled = o.full ? fillHistory(view, o.rate) : 0;
  auto source = bus->endpoint(16);
  source->open(bp::can::kBitRateTable[bp::can::kDefaultBitRateIndex].code, 0);

  const auto offered = static_cast<std::uint64_t>(o.rate * o.seconds + 0.5);
  const auto t0 = Steady::now() + std::chrono::milliseconds(100);
  std::atomic<bool> offerDone{false};
  std::thread writer = startWriter(*source, offered, o.rate, t0, offerDone);
  std::this_thread::sleep_until(t0);
  const auto late = t0 + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(o.seconds + 10));
  const Costs costs = runTicks(app, window, driver, offered, offerDone, late);
  writer.join();
  report(o, window, driver, costs, offered, filled);
  return 0;
}
