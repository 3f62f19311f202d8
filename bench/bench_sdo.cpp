// SDO round trips: bench_sdo [--reads N] [--uploads N]
// Busprobe's SDO engine and high-rate reader, wired as the window wires them, against the
// simulated drive on the in-process virtual bus, each side on its own thread. Measures the
// expedited upload of the status word 0x6041 (N reads, default 1000: median and 99th percentile)
// and the segmented upload of a 256-byte VISIBLE_STRING (N uploads, default 100), once with the
// reader woken by the driver's receive notifier and once, as the baseline, with the reader on its
// 1 ms period alone. Beside them, the time the same frames take on a real 1 Mbit/s bus.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Session.h"
#include "can/BitRate.h"
#include "can/VirtualBus.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#include "util/Error.h"

namespace {

using namespace bp;
using SteadyTime = std::chrono::steady_clock;

constexpr std::int32_t kNode = 5;
constexpr std::uint16_t kLongTextIndex = 0x3000;
constexpr std::size_t kLongTextSize = 256;  // the most a segmented upload may carry

// Wire time of one 8-byte standard data frame at 1 Mbit/s: 108 bits from start of frame to end of
// frame, 3 bits of interframe space, and about 13 stuff bits on average.
constexpr double kFrameMs = 124.0 / 1000.0;
constexpr int kSegments = static_cast<int>((kLongTextSize + 6) / 7);  // 7 data bytes per segment
constexpr double kExpeditedWireMs = 2 * kFrameMs;                     // request + response
constexpr double kSegmentedWireMs = 2 * (1 + kSegments) * kFrameMs;   // initiate + segments

// The 256 bytes the node serves at 0x3000: printable, no zero byte, so the whole buffer is text.
std::string longText() {
  std::string s;
  for (std::size_t i = 0; i < kLongTextSize; ++i) s.push_back(static_cast<char>('A' + (i * 7) % 26));
  return s;
}

// The sample drive plus one string object. An EDS default holds at most 255 characters, so the
// node gets its 256 bytes by a local write once it has booted.
std::string benchEds() {
  std::string eds(sim::demoEdsText());
  eds += "\n[3000]\nParameterName=Long text\nObjectType=0x7\nDataType=0x0009\nAccessType=ro\n"
         "DefaultValue=x\nPDOMapping=0\n";
  return eds;
}

// Busprobe's session and the drive on one virtual bus.
class Rig {
 public:
  explicit Rig(bool wokenByNotifier) : m_session(m_bus->endpoint()) {
    // As the window's start-up: open at 500 kbit/s, node 5, the reader every millisecond.
    if (m_session.driver->open(can::kBitRateTable[can::kDefaultBitRateIndex].code, 0) != can::kOk)
      throw Error("the virtual bus did not open");
    m_session.nodeId.store(kNode, std::memory_order_relaxed);
    if (wokenByNotifier) m_session.driver->setReceiveNotifier([this] { m_session.timer.wake(); });
    m_session.timer.start(m_session.timerResolution, [this] { m_session.reader.runOnce(); });

    m_nodePort->open(can::kBitRateTable[can::kDefaultBitRateIndex].code, 0);
    m_node = std::make_unique<sim::SimNode>(*m_nodePort, static_cast<std::uint8_t>(kNode), benchEds());
    m_node->start();
    const auto until = SteadyTime::now() + std::chrono::seconds(5);
    while (m_node->nmtState() == sim::NmtState::kInitialising && SteadyTime::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string text = longText();
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    if (m_node->writeValue(kLongTextIndex, 0, bytes) != 0) throw Error("the node refused the long text");
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;
  ~Rig() {
    m_node->stop();
    m_session.timer.stop();
    m_session.driver->setReceiveNotifier(nullptr);
    m_session.driver->close();
    m_nodePort->close();
  }

  sdo::SdoClient& sdo() { return m_session.sdo; }

 private:
  std::shared_ptr<can::VirtualBus> m_bus = can::VirtualBus::create();
  std::unique_ptr<can::VirtualBusEndpoint> m_nodePort = m_bus->endpoint();
  app::Session m_session;
  std::unique_ptr<sim::SimNode> m_node;
};

od::ObjectEntry makeEntry(std::int32_t index, std::int8_t dataType, const char* name) {
  od::ObjectEntry e;
  e.setName(name);
  e.index = index;
  e.dataType = dataType;
  e.direction = od::kRead;
  return e;
}

struct Figures {
  double median = 0;
  double p99 = 0;
  double mean = 0;  // a segmented upload costs about its round trips times this mean
};

Figures figuresOf(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  const std::size_t n = ms.size();
  Figures f;
  f.median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2.0;
  const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
  f.p99 = ms[rank == 0 ? 0 : rank - 1];
  double sum = 0;
  for (double x : ms) sum += x;
  f.mean = sum / static_cast<double>(n);
  return f;
}

// Times `count` transfers of the entry, after a few unmeasured ones; checks every result.
template <typename Check>
Figures timeTransfers(sdo::SdoClient& client, od::ObjectEntry entry, int count, Check check) {
  std::vector<double> ms;
  ms.reserve(static_cast<std::size_t>(count));
  for (int i = -5; i < count; ++i) {
    entry.value = 0;
    entry.textValue.clear();
    const auto t0 = SteadyTime::now();
    client.TransferSdo(entry);
    const double took = std::chrono::duration<double, std::milli>(SteadyTime::now() - t0).count();
    if (!check(entry)) throw Error("wrong value read");
    if (i >= 0) ms.push_back(took);
  }
  return figuresOf(ms);
}

struct Run {
  Figures expedited;
  Figures segmented;
};

Run measure(bool wokenByNotifier, int reads, int uploads) {
  Rig rig(wokenByNotifier);
  Run r;
  r.expedited = timeTransfers(rig.sdo(), makeEntry(0x6041, od::kUnsigned16, "Statusword"), reads,
                              [](const od::ObjectEntry& e) { return e.value == 0x0040; });
  const std::string expected = longText();
  r.segmented = timeTransfers(rig.sdo(), makeEntry(kLongTextIndex, od::kVisibleString, "Long text"), uploads,
                              [&](const od::ObjectEntry& e) { return e.textValue == expected; });
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int reads = 1000;
  int uploads = 100;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reads") == 0 && i + 1 < argc) {
      reads = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--uploads") == 0 && i + 1 < argc) {
      uploads = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: bench_sdo [--reads N] [--uploads N]\n");
      return 2;
    }
  }

  Run woken;
  Run polled;
  try {
    woken = measure(true, reads, uploads);
    polled = measure(false, reads, uploads);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_sdo: %s\n", e.what());
    return 1;
  }

  std::printf("SDO client against the simulated drive on the virtual bus (node 5), times in ms\n");
  std::printf("%-44s %14s %14s %16s\n", "", "reader woken", "1 ms polling", "1 Mbit/s wire");
  char label[64];
  std::snprintf(label, sizeof label, "expedited upload 0x6041, median of %d", reads);
  std::printf("%-44s %14.3f %14.3f %16.3f\n", label, woken.expedited.median, polled.expedited.median,
              kExpeditedWireMs);
  std::printf("%-44s %14.3f %14.3f %16s\n", "expedited upload 0x6041, 99th percentile", woken.expedited.p99,
              polled.expedited.p99, "");
  std::printf("%-44s %14.3f %14.3f %16s\n", "expedited upload 0x6041, mean", woken.expedited.mean,
              polled.expedited.mean, "");
  std::snprintf(label, sizeof label, "256-byte segmented upload, median of %d", uploads);
  std::printf("%-44s %14.3f %14.3f %16.3f\n", label, woken.segmented.median, polled.segmented.median,
              kSegmentedWireMs);
  std::printf("%-44s %14.3f %14.3f %16s\n", "256-byte segmented upload, 99th percentile", woken.segmented.p99,
              polled.segmented.p99, "");
  std::printf("(wire: %d frames of 8 bytes at %.0f us each; %d segments of 7 bytes)\n",
              2 * (1 + kSegments), kFrameMs * 1000.0, kSegments);
  return 0;
}
