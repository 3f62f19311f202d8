// A million frames through the whole receive path, on the threads it runs on in the program:
// a writer on the virtual bus, the high-rate reader on its periodic timer (woken by the bus),
// the receive ring, and the frame monitor drained on a third thread in place of the window.
//
// Every frame carries its sequence number, and the identifiers cycle through 2047 standard
// identifiers. The writer keeps fewer than 2047 frames in flight (driver queue and ring together,
// more than the ring holds, so the ring fills and frames wait in the driver), so no drain takes
// two frames of one identifier: after each drain, every row that took a frame holds exactly that
// frame. The checker compares it byte for byte with the frame its sequence number must have, and
// the row's count with the number of frames of that identifier so far. The first frame of every
// drain must be the next sequence number (global order), and every frame is counted once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "busview/TraceBuffer.h"
#include "can/drivers/VirtualBus.h"
#include "canopen/Identifiers.h"
#include "engine/FrameMonitor.h"
#include "engine/HighRateReader.h"
#include "engine/PeriodicTimer.h"
#include "engine/Session.h"
#include "support/FakeDriver.h"
#include "support/FrameText.h"

namespace bp::engine {
using namespace bp::can;
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kFrames = 1'000'000;
constexpr std::uint32_t kIdentifiers = 2048;  // 0x000..0x7FF
constexpr std::int32_t kRingSlots = 1024;
constexpr std::uint32_t kInFlight = 1800;     // above the ring's 1023, below kIdentifiers

CanFrame frameOf(std::uint32_t seq) {
  CanFrame f;
  f.id = seq % kIdentifiers;
  f.len = static_cast<std::uint8_t>(4 + seq % 5);
  for (int i = 0; i < 4; ++i) f.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seq >> (8 * i));
  for (std::size_t i = 4; i < f.len; ++i) f.data[i] = static_cast<std::uint8_t>(seq * 31 + i);
  return f;
}

std::uint32_t seqOf(const CanFrame& f) {
  return f.data[0] | (f.data[1] << 8) | (f.data[2] << 16) | (static_cast<std::uint32_t>(f.data[3]) << 24);
}

struct CheckResult {
  std::uint32_t next = 0;           // frames accounted for, in order
  std::uint64_t compared = 0;       // frames compared byte for byte in their row
  std::uint64_t superseded = 0;     // taken in one drain with a later frame of their identifier
  std::uint64_t drains = 0;
  std::uint64_t fullRingWaits = 0;  // drains that found the ring full
  std::string firstFault;
};

TEST(ReceivePipelineStress, MillionFramesArriveCompleteInOrderAndIntact) {
  auto bus = VirtualBus::create();
  auto source = bus->endpoint(16);             // writes only
  auto driver = bus->endpoint(kFrames);        // the program's driver: room for everything
  ASSERT_EQ(source->open(0x0014, 0), kOk);
  ASSERT_EQ(driver->open(0x0014, 0), kOk);

  auto ring = std::make_unique<RxRing>(kRingSlots);
  HighRateReader reader(*driver, *ring, SteadyClock::instance());
  PeriodicTimer timer;
  ASSERT_TRUE(timer.startOnFrames(*driver, [&reader] { return reader.runScheduled(1); }));

  FrameMonitor monitor;
  std::atomic<bool> giveUp{false};
  std::atomic<bool> windowDone{false};    // written by the window thread when it leaves
  std::atomic<std::uint32_t> checked{0};  // written by the window thread: frames checked so far
  CheckResult result;
  std::thread window([&] {
    std::vector<int> rowOfId(0x800, -1);
    std::size_t knownRows = 0;
    std::uint32_t lastTime = 0;
    while (result.next < kFrames && !giveUp.load() && result.firstFault.empty()) {
      if (ring->size() == ring->capacity()) ++result.fullRingWaits;
      if (const RingSlot* front = ring->front()) {
        if (!(front->frame == frameOf(result.next)))
          result.firstFault = "drain begins with sequence " + std::to_string(seqOf(front->frame)) +
                              ", expected " + std::to_string(result.next);
        if (front->receiveTime < lastTime) result.firstFault = "receive time went back";
        lastTime = front->receiveTime;
      }
      monitor.drain(*ring);
      ++result.drains;
      auto& rows = monitor.rows();
      for (; knownRows < rows.size(); ++knownRows) rowOfId[rows[knownRows].last.id & 0x7FF] = static_cast<int>(knownRows);
      for (;; ++result.next) {
        const std::uint32_t seq = result.next;
        if (seq >= kFrames) break;
        const CanFrame want = frameOf(seq);
        const int r = rowOfId[want.id];
        if (r < 0) break;
        const MonitorRow& row = rows[static_cast<std::size_t>(r)];
        const std::uint64_t wantCount = seq / kIdentifiers + 1;
        if (row.count < wantCount) break;  // not taken yet
        if (row.count == wantCount) {
          if (!(row.last == want)) {
            result.firstFault = "frame " + std::to_string(seq) + " differs (row holds sequence " +
                                std::to_string(seqOf(row.last)) + ")";
            break;
          }
          ++result.compared;
        } else {
          ++result.superseded;
        }
      }
      checked.store(result.next, std::memory_order_release);
      // Let the ring fill now and then, as a window busy elsewhere would.
      if (result.drains % 512 == 0) std::this_thread::sleep_for(3ms);
      else std::this_thread::yield();
    }
    windowDone.store(true);
  });

  // A fault stops the window thread; a lost frame stalls the check. Either ends the run.
  using Steady = std::chrono::steady_clock;
  std::uint32_t lastChecked = 0;
  auto lastProgress = Steady::now();
  auto stalled = [&] {
    const std::uint32_t c = checked.load(std::memory_order_acquire);
    if (c != lastChecked) {
      lastChecked = c;
      lastProgress = Steady::now();
    }
    return windowDone.load() || Steady::now() - lastProgress > 20s;
  };
  bool stopped = false;
  for (std::uint32_t seq = 0; seq < kFrames && !stopped; ++seq) {
    while (seq - checked.load(std::memory_order_acquire) >= kInFlight && !stopped) {
      stopped = stalled();
      std::this_thread::yield();
    }
    ASSERT_EQ(source->write(frameOf(seq)), kOk);
  }
  while (checked.load(std::memory_order_acquire) < kFrames && !stalled()) std::this_thread::sleep_for(1ms);
  giveUp.store(true);
  window.join();
  timer.stop();

  EXPECT_EQ(result.firstFault, "");
  EXPECT_EQ(result.next, kFrames);
  EXPECT_EQ(driver->droppedFrames(), 0u);
  std::uint64_t counted = 0;
  for (const auto& row : monitor.rows()) counted += row.count;
  EXPECT_EQ(counted, kFrames);  // none twice, none lost
  EXPECT_EQ(monitor.rows().size(), kIdentifiers);
  EXPECT_EQ(result.compared, kFrames);  // every frame compared byte for byte
  EXPECT_EQ(result.superseded, 0u);
  EXPECT_GT(result.fullRingWaits, 0u);  // the ring did fill, with frames waiting in the driver
  std::printf("[   INFO   ] %u frames, %llu compared byte for byte, %llu superseded within a drain, "
              "%llu drains, %llu found the ring full\n",
              result.next, static_cast<unsigned long long>(result.compared),
              static_cast<unsigned long long>(result.superseded), static_cast<unsigned long long>(result.drains),
              static_cast<unsigned long long>(result.fullRingWaits));
}

// The window's session with its own wiring, on a scripted adapter that answers every SDO request
// of node 5 inside the write (so the answer may be read before the write returns).
class AnsweringSession : public ::testing::Test {
 protected:
  AnsweringSession() {
    driver.onWrite = [this](const CanFrame& f) {
      if (f.id == canopen::kSdoRequestBase + 5) driver.push(test::frame("585#43.00.10.00.92.01.02.00"));
    };
    entry.index = 0x1000;
    entry.dataType = od::kUnsigned32;
    entry.direction = od::kRead;
  }
  std::unique_ptr<test::FakeDriver> owned = std::make_unique<test::FakeDriver>();
  test::FakeDriver& driver = *owned;
  engine::Session session{std::move(owned)};
  od::ObjectEntry entry;
};

// While a transfer waits, the window thread keeps taking frames out of the ring, so an answer
// queued in the driver behind more frames than the ring holds still arrives, and every frame is
// counted.
TEST_F(AnsweringSession, AnAnswerBehindAFullRingArrivesAndEveryFrameIsCounted) {
  const std::uint64_t flood = static_cast<std::uint64_t>(session.ring.capacity()) + 5000;
  for (std::uint64_t i = 0; i < flood; ++i) driver.push(test::frame("181#01.02"));
  ASSERT_EQ(session.driver->open(0x0014, 0), kOk);
  ASSERT_TRUE(session.startReader());
  const auto until = std::chrono::steady_clock::now() + 20s;
  while (session.ring.size() < session.ring.capacity() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(session.ring.size(), session.ring.capacity()) << "the reader filled the ring";

  EXPECT_NO_THROW(session.sdo.TransferSdo(entry));
  EXPECT_EQ(entry.value, 0x00020192);
  session.stopReader();
  session.monitor.drain(session.ring);
  ASSERT_EQ(session.monitor.rows().size(), 1u);
  EXPECT_EQ(session.monitor.rows()[0].count, flood);
}

// With the Bus view's tap on, a file transfer's worker writes while the window thread runs SDO
// transfers: the observer sees every frame written, each thread's in order, each answer right
// after its request, and the answers never become monitor rows.
TEST_F(AnsweringSession, TheBusViewsTapSeesBothWritersAndEveryAnswerAfterItsRequest) {
  std::vector<busview::TraceFrame> seen;
  session.observeFrames([&seen](const RingSlot& s) { seen.push_back(busview::traceFrameOf(s)); });
  ASSERT_EQ(session.driver->open(0x0014, 0), kOk);
  ASSERT_TRUE(session.startReader());
  constexpr int kWritten = 5000, kTransfers = 200;
  std::thread worker([this] {
    for (int i = 0; i < kWritten; ++i) {
      CanFrame f = test::frame("600#00.00");
      f.data = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)};
      ASSERT_EQ(session.sender.write(f), kOk);
    }
  });
  for (int i = 0; i < kTransfers; ++i) EXPECT_NO_THROW(session.sdo.TransferSdo(entry));
  worker.join();
  session.stopReader();
  session.monitor.drain(session.ring);
  EXPECT_TRUE(session.monitor.rows().empty());
  int written = 0, requests = 0, answers = 0;
  for (const busview::TraceFrame& f : seen) {
    const bool sent = f.direction == busview::Direction::Sent;
    if (f.frame.id == 0x600 && sent) EXPECT_EQ(f.frame.data[0] | (f.frame.data[1] << 8), written++);
    else if (f.frame.id == 0x605 && sent) EXPECT_EQ(requests++, answers);
    else if (f.frame.id == 0x585 && !sent) EXPECT_EQ(++answers, requests);
    else ADD_FAILURE() << test::frameText(f.frame);
  }
  EXPECT_EQ(written, kWritten);
  EXPECT_EQ(answers, kTransfers);
}

}  // namespace
}  // namespace bp::engine
