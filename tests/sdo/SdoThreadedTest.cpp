// The SDO client with real threads: the high-rate reader on the periodic timer's thread hands the
// responses over, while a node on its own thread answers over a virtual bus. Run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "can/BitRate.h"
#include "can/drivers/VirtualBus.h"
#include "canopen/Identifiers.h"
#include "engine/HighRateReader.h"
#include "engine/PeriodicTimer.h"
#include "engine/RxRing.h"
#include "SdoTestRig.h"
#include "sdo/SdoClient.h"
#include "sdo/TransferJob.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#include "sdo/SdoProtocol.h"
#include "util/Clock.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::sdo {
namespace {

constexpr std::int32_t kNode = 5;
constexpr std::int32_t kStringBase = 0x3000;  // 0x3000..0x3009: strings of 5 to 256 bytes
constexpr std::int32_t kMissing = 0x5000;     // does not exist: aborted

std::string stringObject(std::int32_t index) {
  const int k = index - kStringBase;
  std::string s;
  const int length = std::min(256, 5 + 28 * k);
  for (int i = 0; i < length; ++i) s.push_back(static_cast<char>('a' + (i + k) % 26));
  return s;
}

// Milliseconds at one eighth of real time, so a loaded machine does not turn into time-outs.
class SlowClock final : public Clock {
 public:
  std::uint32_t tickMs() noexcept override { return SteadyClock::instance().tickMs() / 8; }
};

// A node on its own thread: expedited download and upload of 32-bit objects, segmented upload of
// the string objects, aborts for anything else. After an expedited answer it sends a response for
// an object nobody asks for and, for an upload, a duplicate of the answer, so that responses keep
// arriving around the end of transfers. (A duplicate confirmation of a write would complete the
// read of the same object that follows it, as an SDO client without a transfer number must.)
class ThreadedNode {
 public:
  explicit ThreadedNode(can::VirtualBusEndpoint& port) : m_port(port) {
    m_thread = std::thread([this] { run(); });
  }
  ~ThreadedNode() {
    m_stop.store(true);
    m_port.interruptWait();
    m_thread.join();
  }

 private:
  void run() {
    while (!m_stop.load()) {
      can::CanFrame f;
      while (m_port.read(f) == can::kOk)
        if (f.id == canopen::kSdoRequestBase + kNode && f.len == 8) answer(f);
      m_port.waitForFrames(1000);
    }
  }

  enum Extra { kNone, kStray, kDuplicateAndStray };

  void send(std::uint8_t command, const std::uint8_t* mux, const std::uint8_t* data, int n,
            Extra extra) {
    can::CanFrame r{};
    r.id = canopen::kSdoResponseBase + kNode;
    r.len = 8;
    r.data[0] = command;
    for (int i = 0; i < 3; ++i) r.data[1 + i] = mux[i];
    for (int i = 0; i < n; ++i) r.data[4 + i] = data[i];
    m_port.write(r);
    if (extra == kNone) return;
    if (extra == kDuplicateAndStray) m_port.write(r);
    r.data[1] = 0xFF;  // index 0x5FFF: matches no transfer
    r.data[2] = 0x5F;
    m_port.write(r);
  }

  void abort(const std::uint8_t* mux, std::uint32_t code) {
    std::uint8_t bytes[4];
    storeLe32(bytes, code);
    send(proto::kCsAbort, mux, bytes, 4, kNone);
  }

  void answer(const can::CanFrame& f) {
    const std::uint8_t c = f.data[0];
    const std::uint8_t* mux = &f.data[1];
    const std::int32_t index = loadLe16(mux);
    const std::int32_t sub = mux[2];
    switch (proto::commandSpecifier(c)) {
      case proto::kCcsDownloadInitiate: {
        m_values[{index, sub}] = loadLeN(&f.data[4], static_cast<std::size_t>(proto::expeditedDataCount(c)));
        send(proto::kScsDownloadInitiate, mux, nullptr, 0, kStray);
        break;
      }
      case proto::kCcsUploadInitiate: {
        if (index >= kStringBase && index < kStringBase + 10) {
          m_text = stringObject(index);
          m_offset = 0;
          m_toggle = 0;
          std::uint8_t size[4];
          storeLe32(size, static_cast<std::uint32_t>(m_text.size()));
          send(proto::initiateCommand(proto::kScsUploadInitiate, 0, false, true), mux, size, 4, kNone);
        } else if (auto it = m_values.find({index, sub}); it != m_values.end()) {
          std::uint8_t bytes[4];
          storeLe32(bytes, it->second);
          send(proto::initiateCommand(proto::kScsUploadInitiate, 0, true, true), mux, bytes, 4, kDuplicateAndStray);
        } else {
          abort(mux, proto::kAbortNoObject);
        }
        break;
      }
      case proto::kCcsUploadSegment: {
        if (proto::toggleOf(c) != m_toggle) {
          abort(mux, proto::kAbortToggleNotAlternated);
          break;
        }
        const std::size_t n = std::min<std::size_t>(7, m_text.size() - m_offset);
        const bool last = m_offset + n >= m_text.size();
        can::CanFrame r{};
        r.id = canopen::kSdoResponseBase + kNode;
        r.len = 8;
        r.data[0] = proto::segmentCommand(proto::kScsUploadSegment, m_toggle, static_cast<int>(7 - n), last);
        for (std::size_t i = 0; i < n; ++i) r.data[1 + i] = static_cast<std::uint8_t>(m_text[m_offset + i]);
        m_port.write(r);
        m_offset += n;
        m_toggle ^= proto::kToggleBit;
        break;
      }
      default:
        abort(mux, proto::kAbortCommandUnknown);
    }
  }

  can::VirtualBusEndpoint& m_port;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};  // written by the test's thread
  // The node's thread only:
  std::map<std::pair<std::int32_t, std::int32_t>, std::uint32_t> m_values;
  std::string m_text;
  std::size_t m_offset = 0;
  std::uint8_t m_toggle = 0;
};

// Busprobe's side on the virtual bus: the reader on the periodic timer's thread feeding the client;
// the node on its own thread.
struct ThreadedRig {
  ThreadedRig() {
    const std::uint16_t code = can::kBitRateTable[can::kDefaultBitRateIndex].code;
    EXPECT_EQ(host->open(code, 0), can::kOk);
    EXPECT_EQ(device->open(code, 0), can::kOk);
    reader.setHandOver(&client);
    EXPECT_TRUE(timer.startOnFrames(*host, [this] { return reader.runScheduled(1); }));
  }
  ~ThreadedRig() { timer.stop(); }

  std::shared_ptr<can::VirtualBus> bus = can::VirtualBus::create();
  std::unique_ptr<can::VirtualBusEndpoint> host = bus->endpoint();
  std::unique_ptr<can::VirtualBusEndpoint> device = bus->endpoint();
  std::atomic<std::int32_t> nodeId{kNode};
  SlowClock clock;
  std::unique_ptr<engine::RxRing> ring = std::make_unique<engine::RxRing>();
  engine::HighRateReader reader{*host, *ring, clock};
  SdoClient client{*host, nodeId, clock};
  engine::PeriodicTimer timer;
};

TEST(SdoClientThreaded, ThousandsOfTransfersThroughTheReaderThread) {
  ThreadedRig rig;
  ThreadedNode node(*rig.device);
  SdoClient& client = rig.client;

  constexpr int kTransfers = 3000;
  int written = 0, readBack = 0, strings = 0, aborts = 0;
  std::string firstFailure;
  for (int i = 0; i < kTransfers && firstFailure.empty(); ++i) {
    const std::int32_t object = 0x2000 + (i / 4) % 16;
    const auto expected = static_cast<std::int32_t>(0x9E3779B9u * static_cast<std::uint32_t>(i / 4 + 1));
    try {
      switch (i % 4) {
        case 0: {
          auto e = test::makeEntry(object, 1, od::kUnsigned32, od::kWrite, expected);
          client.TransferSdo(e);
          ++written;
          break;
        }
        case 1: {
          auto e = test::makeEntry(object, 1, od::kUnsigned32, od::kRead);
          client.TransferSdo(e);
          if (e.value != expected) firstFailure = "read back " + std::to_string(e.value);
          ++readBack;
          break;
        }
        case 2: {
          const std::int32_t index = kStringBase + (i / 4) % 10;
          auto e = test::makeEntry(index, 0, od::kVisibleString, od::kRead);
          client.TransferSdo(e);
          if (e.textValue != stringObject(index)) firstFailure = "text " + e.textValue;
          ++strings;
          break;
        }
        case 3: {
          auto e = test::makeEntry(kMissing, 0, od::kUnsigned32, od::kRead, expected);
          try {
            client.TransferSdo(e);
            firstFailure = "missing object was read";
          } catch (const Error& err) {
            if (std::string(err.what()) !=
                "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary.")
              firstFailure = err.what();
            else if (e.value != expected)
              firstFailure = "abort changed the value";
            ++aborts;
          }
          break;
        }
      }
    } catch (const Error& err) {
      firstFailure = std::to_string(i) + ": " + err.what();
    }
  }
  rig.timer.stop();

  EXPECT_EQ(firstFailure, "");
  EXPECT_EQ(written + readBack + strings + aborts, kTransfers);
  EXPECT_EQ(rig.host->droppedFrames() + rig.device->droppedFrames(), 0u);
  EXPECT_EQ(rig.ring->size(), 0);  // SDO responses never reach the receive ring
}

// 64 KiB file transfers on the job's worker against the simulated node: whole sub-blocks of 127
// segments arrive in bursts through the reader thread and the frame queue; the same upload falls
// back to segmented transfer when the node refuses block transfer; one job at a time; cancel.
TEST(SdoClientThreaded, FileTransfersOfSixtyFourKiBOnAWorkerAgainstTheSimulatedNode) {
  ThreadedRig rig;
  sim::SimNode node(*rig.device, kNode, sim::demoEdsText());
  ASSERT_TRUE(node.start());
  while (node.nmtState() == sim::NmtState::kInitialising) std::this_thread::yield();
  std::string bytes(65536, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 256);

  TransferJob job(rig.client);
  const TransferOptions options;  // block transfer
  ASSERT_TRUE(job.startDownload(0x1F50, 1, bytes, options));
  EXPECT_TRUE(job.take().empty());
  EXPECT_TRUE(node.value(0x1F50, 1) == std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  for (bool block : {true, false}) {
    node.setBlockTransfer(block);
    ASSERT_TRUE(job.startUpload(0x1F50, 1, options));
    EXPECT_TRUE(job.take() == bytes);
    EXPECT_EQ(job.done(), bytes.size());
  }
  ASSERT_TRUE(job.startUpload(0x1F50, 1, options));
  EXPECT_FALSE(job.startUpload(0x1F50, 1, options));
  job.cancel();
  try {
    EXPECT_TRUE(job.take() == bytes);  // it may have ended before the cancel
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "SDO Transfer cancelled");
  }
  EXPECT_FALSE(rig.client.busy());
  node.stop();
  EXPECT_EQ(rig.client.droppedAnswers(), 0u);
}

}  // namespace
}  // namespace bp::sdo
