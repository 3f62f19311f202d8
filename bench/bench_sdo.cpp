// SDO round trips and file transfers: bench_sdo [--reads N] [--uploads N] [--load FPS] [--files N]
// Busprobe's SDO engine and high-rate reader, wired by engine::Session as the window wires them (the
// reader woken by frames, the waiting thread draining the ring into the monitor), against the
// simulated drive on the in-process virtual bus, each side on its own thread. Measures the
// expedited upload of the status word 0x6041 (N reads, default 1000: median and 99th percentile)
// and the segmented upload of a 256-byte VISIBLE_STRING (N uploads, default 100), once on a quiet
// bus and once while another endpoint offers other traffic (default 9,000 frames/s: other nodes'
// PDOs, SDO responses and heartbeats). A failed transfer (timeout, abort, wrong value) is counted,
// and its time kept. Beside them, the time the same frames take on a real 1 Mbit/s bus.
// Then file transfers of the 64 KiB DOMAIN 0x1F50 sub 1 on a worker thread (sdo::TransferJob, as
// the window runs U and D) on the quiet bus: block download, block upload and segmented download,
// median of N each (--files N, default 5), in KiB/s beside the 1 Mbit/s wire limit.
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

#include "can/BitRate.h"
#include "can/drivers/VirtualBus.h"
#include "engine/Session.h"
#include "sdo/TransferJob.h"
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
  Rig() : m_session(takeDriver()) {
    // As the window's start-up: open at 500 kbit/s, node 5, start the reader.
    if (m_driver->open(can::kBitRateTable[can::kDefaultBitRateIndex].code, 0) != can::kOk)
      throw Error("the virtual bus did not open");
    m_session.nodeId.store(kNode, std::memory_order_relaxed);
    if (!m_session.startReader()) throw Error("the reader did not start");

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
    m_session.stopReader();
    m_driver->close();
    m_nodePort->close();
  }

  can::VirtualBus& bus() { return *m_bus; }
  engine::Session& session() { return m_session; }
  can::VirtualBusEndpoint& driver() { return *m_driver; }
  can::VirtualBusEndpoint& nodePort() { return *m_nodePort; }

 private:
  std::unique_ptr<can::CanDriver> takeDriver() {
    auto ep = m_bus->endpoint();
    m_driver = ep.get();
    return ep;
  }

  std::shared_ptr<can::VirtualBus> m_bus = can::VirtualBus::create();
  std::unique_ptr<can::VirtualBusEndpoint> m_nodePort = m_bus->endpoint();
  can::VirtualBusEndpoint* m_driver = nullptr;  // owned by the session
  engine::Session m_session;
  std::unique_ptr<sim::SimNode> m_node;
};

// Other traffic from an endpoint of its own, at a fixed rate (absolute deadlines) until stopped:
// PDOs, SDO responses and heartbeats of nodes 1..9 other than node 5, lengths 0..8.
class Load {
 public:
  Load(can::VirtualBus& bus, double rate) : m_port(bus.endpoint()) {
    m_port->open(can::kBitRateTable[can::kDefaultBitRateIndex].code, 0);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t node : {1, 2, 3, 4, 6, 7, 8, 9})
      for (std::uint32_t base : {0x180, 0x280, 0x380, 0x480, 0x580, 0x700}) ids.push_back(base + node);
    m_thread = std::thread([this, rate, ids] {
      const auto t0 = SteadyTime::now();
      const std::chrono::duration<double> gap(1.0 / rate);
      for (std::uint64_t i = 0; !m_stop.load(std::memory_order_relaxed); ++i) {
        const auto due = t0 + std::chrono::duration_cast<SteadyTime::duration>(gap * static_cast<double>(i));
        if (SteadyTime::now() < due) std::this_thread::sleep_until(due);
        can::CanFrame f;
        f.id = ids[i % ids.size()];
        f.len = static_cast<std::uint8_t>((i * 7) % 9);
        for (std::size_t b = 0; b < f.len; ++b) f.data[b] = static_cast<std::uint8_t>(i >> (8 * (b % 4)));
        m_port->write(f);
        m_offered = i + 1;
      }
    });
  }
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;
  ~Load() { stop(); }
  // Frames offered in all.
  std::uint64_t stop() {
    if (m_thread.joinable()) {
      m_stop.store(true);
      m_thread.join();
      m_port->close();
    }
    return m_offered;
  }

 private:
  std::unique_ptr<can::VirtualBusEndpoint> m_port;
  std::atomic<bool> m_stop{false};
  std::uint64_t m_offered = 0;  // the load thread's until it is joined
  std::thread m_thread;
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
  int failed = 0;   // timed out, aborted or wrong value
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

// Times `count` transfers of the entry, after a few unmeasured ones; counts the failed ones.
template <typename Check>
Figures timeTransfers(sdo::SdoClient& client, od::ObjectEntry entry, int count, Check check) {
  std::vector<double> ms;
  ms.reserve(static_cast<std::size_t>(count));
  int failed = 0;
  for (int i = -5; i < count; ++i) {
    entry.value = 0;
    entry.textValue.clear();
    const auto t0 = SteadyTime::now();
    bool ok = true;
    try {
      client.TransferSdo(entry);
    } catch (const std::exception&) {
      ok = false;
    }
    const double took = std::chrono::duration<double, std::milli>(SteadyTime::now() - t0).count();
    ok = ok && check(entry);
    if (i < 0) continue;
    ms.push_back(took);
    if (!ok) ++failed;
  }
  Figures f = figuresOf(ms);
  f.failed = failed;
  return f;
}

struct Run {
  Figures expedited;
  Figures segmented;
  double seconds = 0;              // of the whole run
  std::uint64_t loadOffered = 0;  // other traffic offered during the run
  std::uint64_t inMonitor = 0;    // of them, frames in the monitor rows at the end
  std::uint64_t dropped = 0;      // dropped by Busprobe's driver queue
  std::uint64_t nodeDropped = 0;  // dropped by the node's driver queue
};

Run measure(double loadRate, int reads, int uploads) {
  Rig rig;
  std::unique_ptr<Load> load;
  const auto t0 = SteadyTime::now();
  if (loadRate > 0) {
    // One monitor tick's worth of other traffic is already waiting when the first transfer begins.
    load = std::make_unique<Load>(rig.bus(), loadRate);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  sdo::SdoClient& client = rig.session().sdo;
  Run r;
  r.expedited = timeTransfers(client, makeEntry(0x6041, od::kUnsigned16, "Statusword"), reads,
                              [](const od::ObjectEntry& e) { return e.value == 0x0040; });
  const std::string expected = longText();
  r.segmented = timeTransfers(client, makeEntry(kLongTextIndex, od::kVisibleString, "Long text"), uploads,
                              [&](const od::ObjectEntry& e) { return e.textValue == expected; });
  if (load) r.loadOffered = load->stop();
  r.seconds = std::chrono::duration<double>(SteadyTime::now() - t0).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader takes the last frames
  engine::Session& s = rig.session();
  s.monitor.drain(s.ring);
  for (const auto& row : s.monitor.rows())
    if (row.last.id != canopen::kErrorControlBase + kNode) r.inMonitor += row.count;  // not the node's own
  r.dropped = rig.driver().droppedFrames();
  r.nodeDropped = rig.nodePort().droppedFrames();
  return r;
}

// ---- file transfers ----

constexpr std::uint16_t kProgramData = 0x1F50;  // sub 1: a 64 KiB DOMAIN on the simulated node
constexpr std::size_t kFileSize = 65536;
constexpr std::size_t kFileSegments = (kFileSize + 6) / 7;
constexpr std::size_t kSubBlocks = (kFileSegments + 126) / 127;
// Wire limits at 1 Mbit/s in KiB/s: block transfer sends every segment once plus one acknowledge a
// sub-block (and 4 frames of initiate and end); segmented transfer one request and one answer a
// segment.
constexpr double kBlockWireMs = static_cast<double>(kFileSegments + kSubBlocks + 4) * kFrameMs;
constexpr double kSegmentedFileWireMs = static_cast<double>(2 * (kFileSegments + 1)) * kFrameMs;

double kibPerSecond(double ms) { return static_cast<double>(kFileSize) / 1024.0 / (ms / 1000.0); }

std::string fileContent(int round) {
  std::string s(kFileSize, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 13 + static_cast<std::size_t>(round)) & 0xFF);
  return s;
}

// One transfer on the job's worker while this thread waits as the window's timer would; its
// milliseconds, or -1 when it failed or uploaded other bytes than `expected`.
double timeFile(sdo::TransferJob& job, bool upload, bool block, const std::string& bytes) {
  sdo::TransferOptions options;
  options.block = block;
  const auto t0 = SteadyTime::now();
  const bool started = upload ? job.startUpload(kProgramData, 1, options)
                              : job.startDownload(kProgramData, 1, bytes, options);
  if (!started) return -1;
  while (!job.finished()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  try {
    const std::string got = job.take();
    const double ms = std::chrono::duration<double, std::milli>(SteadyTime::now() - t0).count();
    return upload && got != bytes ? -1 : ms;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "file transfer: %s\n", e.what());
    return -1;
  }
}

struct FileRun {
  Figures blockDownload, blockUpload, segmentedDownload;  // ms
  int failed = 0;
};

FileRun measureFiles(int count) {
  Rig rig;
  sdo::TransferJob job(rig.session().sdo);
  std::vector<double> bd, bu, sd;
  FileRun r;
  for (int i = 0; i < count; ++i) {
    const std::string bytes = fileContent(i);
    const double times[] = {timeFile(job, false, true, bytes), timeFile(job, true, true, bytes),
                            timeFile(job, false, false, bytes)};
    for (double t : times) r.failed += t < 0 ? 1 : 0;
    bd.push_back(times[0]);
    bu.push_back(times[1]);
    sd.push_back(times[2]);
  }
  r.blockDownload = figuresOf(bd);
  r.blockUpload = figuresOf(bu);
  r.segmentedDownload = figuresOf(sd);
  return r;
}

void printFiles(const FileRun& r, int files) {
  std::printf("\n64 KiB DOMAIN 0x1F50 sub 1 on a worker thread, quiet bus, median of %d, KiB/s\n", files);
  std::printf("%-44s %14s %16s\n", "", "virtual bus", "1 Mbit/s wire");
  const struct {
    const char* label;
    const Figures& f;
    double wireMs;
  } fileRows[] = {{"block download (CRC)", r.blockDownload, kBlockWireMs},
                  {"block upload (CRC)", r.blockUpload, kBlockWireMs},
                  {"segmented download", r.segmentedDownload, kSegmentedFileWireMs}};
  for (const auto& row : fileRows)
    std::printf("%-44s %14.1f %16.1f   (%.1f ms, x%.1f the wire)\n", row.label, kibPerSecond(row.f.median),
                kibPerSecond(row.wireMs), row.f.median, row.wireMs / row.f.median);
  std::printf("%-44s %14d\n", "file transfers failed", r.failed);
}

void printRow(const char* label, double quiet, double loaded, double wire) {
  char w[32] = "";
  if (wire > 0) std::snprintf(w, sizeof w, "%.3f", wire);
  std::printf("%-44s %14.3f %14.3f %16s\n", label, quiet, loaded, w);
}

}  // namespace

int main(int argc, char** argv) {
  int reads = 1000;
  int uploads = 100;
  double loadRate = 9000;
  int files = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reads") == 0 && i + 1 < argc) {
      reads = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--uploads") == 0 && i + 1 < argc) {
      uploads = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--load") == 0 && i + 1 < argc) {
      loadRate = std::max(1.0, std::atof(argv[++i]));
    } else if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
      files = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: bench_sdo [--reads N] [--uploads N] [--load FPS] [--files N]\n");
      return 2;
    }
  }

  Run quiet;
  Run loaded;
  FileRun fileRun;
  try {
    quiet = measure(0, reads, uploads);
    loaded = measure(loadRate, reads, uploads);
    fileRun = measureFiles(files);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_sdo: %s\n", e.what());
    return 1;
  }

  std::printf("SDO client against the simulated drive on the virtual bus (node 5), times in ms\n");
  char loadLabel[32];
  std::snprintf(loadLabel, sizeof loadLabel, "%.0f frames/s", loadRate);
  std::printf("%-44s %14s %14s %16s\n", "", "quiet bus", loadLabel, "1 Mbit/s wire");
  char label[64];
  std::snprintf(label, sizeof label, "expedited upload 0x6041, median of %d", reads);
  printRow(label, quiet.expedited.median, loaded.expedited.median, kExpeditedWireMs);
  printRow("expedited upload 0x6041, 99th percentile", quiet.expedited.p99, loaded.expedited.p99, 0);
  printRow("expedited upload 0x6041, mean", quiet.expedited.mean, loaded.expedited.mean, 0);
  std::printf("%-44s %14d %14d\n", "expedited upload 0x6041, failed", quiet.expedited.failed,
              loaded.expedited.failed);
  std::snprintf(label, sizeof label, "256-byte segmented upload, median of %d", uploads);
  printRow(label, quiet.segmented.median, loaded.segmented.median, kSegmentedWireMs);
  printRow("256-byte segmented upload, 99th percentile", quiet.segmented.p99, loaded.segmented.p99, 0);
  std::printf("%-44s %14d %14d\n", "256-byte segmented upload, failed", quiet.segmented.failed,
              loaded.segmented.failed);
  std::printf("(wire: %d frames of 8 bytes at %.0f us each; %d segments of 7 bytes)\n",
              2 * (1 + kSegments), kFrameMs * 1000.0, kSegments);
  std::printf("other traffic: %llu frames offered in %.2f s, %llu in the monitor, %llu dropped by Busprobe's driver queue,"
              " %llu by the node's\n",
              static_cast<unsigned long long>(loaded.loadOffered), loaded.seconds, static_cast<unsigned long long>(loaded.inMonitor),
              static_cast<unsigned long long>(loaded.dropped), static_cast<unsigned long long>(loaded.nodeDropped));
  printFiles(fileRun, files);
  const bool allOk = quiet.expedited.failed + quiet.segmented.failed + loaded.expedited.failed +
                         loaded.segmented.failed + fileRun.failed == 0;
  std::printf("all transfers succeeded: %s\n", allOk ? "yes" : "NO");
  return allOk ? 0 : 1;
}
