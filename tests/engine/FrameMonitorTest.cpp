// The frame monitor: draining the ring into rows, period sampling, and the column texts.
#include "engine/FrameMonitor.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "engine/HighRateReader.h"
#include "support/FakeClock.h"
#include "support/FakeDriver.h"
#include "support/FrameText.h"

namespace bp::engine {
using namespace bp::can;
namespace {

class MonitorTest : public ::testing::Test {
 protected:
  std::unique_ptr<RxRing> ring = std::make_unique<RxRing>();
  FrameMonitor monitor;
  test::FakeDriver driver;

  // Stores one frame as the reader would, with its receive time.
  void store(const char* text, std::uint32_t time) { store(test::frame(text), time); }
  void store(const CanFrame& f, std::uint32_t time, FrameOrigin origin = FrameOrigin::kReceived,
             std::uint64_t timeUs = 0) {
    RingSlot* slot = ring->producerSlot();
    ASSERT_NE(slot, nullptr);
    *slot = RingSlot{f, time, origin, 0, timeUs};
    ring->commit();
  }

  // n frames of one identifier, `gap` ms apart from `start`, each drained on its own tick.
  void series(const char* text, int n, std::uint32_t start, std::uint32_t gap) {
    for (int i = 0; i < n; ++i) {
      store(text, start + static_cast<std::uint32_t>(i) * gap);
      monitor.drain(*ring);
    }
  }
  const MonitorRow& row(std::size_t i) const { return monitor.rows().at(i); }
  std::vector<std::size_t> changes() {
    std::vector<std::size_t> changed;
    monitor.takeChanges(changed);
    return changed;
  }
};

TEST_F(MonitorTest, DrainEmptiesTheRingHandedOverFramesNeverBecomeRows) {
  store("181#01", 10);
  store("182#02", 11);
  store(test::frame("585#4B.00.10.00.34.12.00.00"), 11, FrameOrigin::kHandedOver);
  store("181#03", 12);
  monitor.drain(*ring);
  EXPECT_EQ(ring->size(), 0);
  EXPECT_EQ(ring->tail(), 4);
  ASSERT_EQ(monitor.rows().size(), 2u);
  EXPECT_EQ(row(0).count, 2);
  EXPECT_EQ(row(1).count, 1);
}

TEST_F(MonitorTest, EmptyRingChangesNothing) {
  monitor.drain(*ring);
  EXPECT_TRUE(monitor.rows().empty());
  EXPECT_TRUE(changes().empty());
  store("181#01", 10);
  monitor.drain(*ring);
  EXPECT_EQ(changes(), std::vector<std::size_t>{0});
  monitor.drain(*ring);
  EXPECT_TRUE(changes().empty());
  EXPECT_EQ(row(0).count, 1);
}

TEST_F(MonitorTest, ChangesListEveryRowMadeOrChangedSinceTheLastLookOnce) {
  store("181#01", 1);
  store("182#02", 2);
  monitor.drain(*ring);
  EXPECT_EQ(changes(), (std::vector<std::size_t>{0, 1}));
  // Two drains before the next look (a tick and an SDO wait): rows in the order they first
  // changed, each once, a new row among them.
  store("182#03", 3);
  monitor.drain(*ring);
  store("183#04", 4);
  store("182#05", 5);
  store("181#06", 6);
  monitor.drain(*ring);
  EXPECT_EQ(changes(), (std::vector<std::size_t>{1, 2, 0}));
  EXPECT_TRUE(changes().empty());
  store("183#07", 7);
  monitor.drain(*ring);
  EXPECT_EQ(changes(), std::vector<std::size_t>{2});
}

TEST_F(MonitorTest, OneRowPerIdentifierInOrderOfFirstArrival) {
  store("7FF#01", 1);
  store("080#02.03", 2);
  store("7FF#", 3);             // other length: replaces length and data, no new row
  store("100#0A.0B.0C.0D", 4);
  store("080#AA.BB.CC", 5);
  monitor.drain(*ring);
  ASSERT_EQ(monitor.rows().size(), 3u);
  EXPECT_EQ(row(0).last, test::frame("7FF#"));
  EXPECT_EQ(row(1).last, test::frame("080#AA.BB.CC"));
  EXPECT_EQ(row(2).last, test::frame("100#0A.0B.0C.0D"));
  EXPECT_EQ(FrameMonitor::lengthText(row(0)), "0");
  EXPECT_EQ(FrameMonitor::dataText(row(0)), "");
  EXPECT_EQ(FrameMonitor::lengthText(row(1)), "3");
  EXPECT_EQ(FrameMonitor::dataText(row(1)), "AA BB CC");
  EXPECT_EQ(FrameMonitor::countText(row(1)), "2");
}

TEST_F(MonitorTest, RowKeepsTheWholeRecordOfTheLastFrame) {
  CanFrame f = test::frame("181#01.02");
  f.data[5] = 0x77;  // past the length: kept as the driver filled it
  f.pad = {0x12, 0x34};
  store(f, 7);
  monitor.drain(*ring);
  EXPECT_EQ(row(0).last, f);
  EXPECT_EQ(FrameMonitor::dataText(row(0)), "01 02");
}

TEST_F(MonitorTest, DrainTakesFramesAcrossTheRingsWrap) {
  for (std::uint32_t round = 0; round < 3; ++round) {
    for (int i = 0; i < 1000; ++i) store("181#01", round);
    monitor.drain(*ring);
  }
  EXPECT_EQ(row(0).count, 3000);
  EXPECT_EQ(ring->tail(), 3000 % RxRing::kSlots);
}

// Sent frames come in by the moment before their write; the drain looks at them again when a
// received frame is younger than its last look, so a frame written during the drain still comes
// before the frames received after it. Handed-over frames reach the observer, not the rows.
TEST_F(MonitorTest, ObserverSeesEverySlotAndTheSentFramesMergedByTime) {
  static std::atomic<std::uint64_t> now{100};
  TappedDriver tap(driver, []() noexcept -> std::uint64_t { return now.load(); });
  tap.setTapping(true);
  monitor.setSentFrames(&tap);
  ASSERT_EQ(tap.write(test::frame("605#40.00.10.00.00.00.00.00")), kOk);
  store(test::frame("181#01"), 0, FrameOrigin::kReceived, 50);
  store(test::frame("585#43.00.10.00.92.01.02.00"), 0, FrameOrigin::kHandedOver, 150);
  store(test::frame("181#02"), 0, FrameOrigin::kReceived, 300);
  now = 200;  // the drain's first look
  std::vector<std::string> seen;
  monitor.setObserver([&](const RingSlot& s) {
    seen.push_back((s.origin == FrameOrigin::kSent ? "s " : "") + test::frameText(s.frame));
    if (s.origin == FrameOrigin::kSent) return;
    now = now + 50;  // another thread writes meanwhile: at 250, 450, 650
    ASSERT_EQ(tap.write(test::frame("080#")), kOk);
    now = now + 150;
  });
  monitor.drain(*ring);
  // The write at 250 comes before the frame received at 300, the one at 450 after it, at the end;
  // the one at 650 was made after the drain's last look.
  EXPECT_EQ(seen, (std::vector<std::string>{"181#01", "s 605#4000100000000000", "585#4300100092010200", "s 080#",
                                            "181#02", "s 080#"}));
  EXPECT_EQ(monitor.rows().size(), 1u);
  // Remote requests, stored only while observed, reach the observer and make no row.
  monitor.setObserver([&](const RingSlot& s) { seen.push_back(test::frameText(s.frame)); });
  store(test::frame("705#R"), 0, FrameOrigin::kReceived, 700);
  monitor.drain(*ring);
  EXPECT_EQ(seen.back(), "705#R");
  EXPECT_EQ(monitor.rows().size(), 1u);
}

// Frames stamped in one microsecond keep the order they were stamped in: a request, its answer
// read by the reader, then the next request written once the answer was seen.
TEST_F(MonitorTest, ObserverOrdersFramesOfOneMicrosecondAsTheyWereStamped) {
  constexpr MicroClock kStill = []() noexcept -> std::uint64_t { return 500; };
  driver.onWrite = [this](const CanFrame& f) { driver.push(test::frame(f.id == 0x605 ? "585#60" : "586#60")); };
  test::FakeClock clock{0};
  HighRateReader reader{driver, *ring, clock, kStill};
  reader.setObserving(true);
  TappedDriver tap(driver, kStill);
  tap.setTapping(true);
  monitor.setSentFrames(&tap);
  std::vector<std::string> seen;
  monitor.setObserver([&](const RingSlot& s) { seen.push_back(test::frameText(s.frame)); });
  for (const char* request : {"605#40", "606#40"}) {
    ASSERT_EQ(tap.write(test::frame(request)), kOk);
    reader.runOnce();
  }
  monitor.drain(*ring);
  EXPECT_EQ(seen, (std::vector<std::string>{"605#40", "585#60", "606#40", "586#60"}));
}

TEST(MonitorCaption, ThreeUpperCaseHexDigitsWithPrefix) {
  struct Row {
    std::uint32_t id;
    const char* caption;
  };
  const Row rows[] = {{0x000, "0x000"}, {0x080, "0x080"}, {0x7FF, "0x7FF"}, {0xABC, "0xABC"},
                      {0x1ABCDEF, "0x1ABCDEF"}};
  for (const Row& r : rows) {
    MonitorRow m;
    m.last.id = r.id;
    EXPECT_EQ(FrameMonitor::captionText(m), r.caption);
  }
}

TEST(MonitorData, BytesInUpperCaseHexJoinedByOneBlank) {
  struct Row {
    const char* name;
    const char* frame;
    const char* length;
    const char* data;
  };
  const Row rows[] = {
      {"length 0 shows empty data", "080#", "0", ""},
      {"one byte, no blanks at the ends", "080#0F", "1", "0F"},
      {"upper-case, two digits per byte", "080#01.02.0A", "3", "01 02 0A"},
      {"eight bytes", "080#00.11.22.33.44.55.FF.A5", "8", "00 11 22 33 44 55 FF A5"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    MonitorRow m;
    m.last = test::frame(r.frame);
    EXPECT_EQ(FrameMonitor::lengthText(m), r.length);
    EXPECT_EQ(FrameMonitor::dataText(m), r.data);
  }
}

TEST(MonitorData, LengthAboveEightShowsTheEightBytesThereAre) {
  MonitorRow m;
  m.last = test::frame("080#01.02.03.04.05.06.07.08");
  m.last.len = 15;
  EXPECT_EQ(FrameMonitor::lengthText(m), "15");
  EXPECT_EQ(FrameMonitor::dataText(m), "01 02 03 04 05 06 07 08");
}

TEST(MonitorPeriod, TenthOfTheSampleSpanRoundedHalfAwayFromZero) {
  struct Row {
    std::int32_t period;
    const char* text;
  };
  const Row rows[] = {{1000, "100"}, {150, "15"}, {155, "16"}, {154, "15"}, {145, "15"},
                      {144, "14"},   {5, "1"},    {4, "0"},    {0, "0"},    {-154, "-15"},
                      {-155, "-16"}, {INT32_MAX, "214748365"},  {INT32_MIN, "-214748365"}};
  for (const Row& r : rows) {
    MonitorRow m;
    m.count = 11;  // after the second sample
    m.period = r.period;
    EXPECT_EQ(FrameMonitor::periodText(m), r.text) << r.period;
  }
}

TEST_F(MonitorTest, PeriodIsEmptyUntilTheEleventhFrame) {
  series("181#01", 10, 40, 100);
  EXPECT_EQ(row(0).count, 10);
  EXPECT_EQ(FrameMonitor::periodText(row(0)), "");
  series("181#01", 1, 1040, 100);
  EXPECT_EQ(FrameMonitor::periodText(row(0)), "100");
  EXPECT_EQ(FrameMonitor::countText(row(0)), "11");
}

TEST(MonitorCount, GoesPast32BitsAndShowsInFull) {
  MonitorRow m;
  m.count = 0x100000000ull;  // about 49 days of 1,000 frames/s
  EXPECT_EQ(FrameMonitor::countText(m), "4294967296");
}

TEST_F(MonitorTest, PeriodIsSampledAtThe1st11thAnd21stFrame) {
  // The first frame arrives 40 ms after the reader's start: the first sample measures that.
  store("181#01", 40);
  monitor.drain(*ring);
  EXPECT_EQ(row(0).period, 40);
  EXPECT_EQ(row(0).sampleTime, 40u);
  // Frames 2..10 do not sample, even when their spacing changes.
  for (std::uint32_t i = 1; i < 10; ++i) store("181#01", 40 + i * 7);
  monitor.drain(*ring);
  EXPECT_EQ(row(0).period, 40);
  EXPECT_EQ(row(0).sampleTime, 40u);
  store("181#01", 190);  // 11th: 150 ms after the 1st
  monitor.drain(*ring);
  EXPECT_EQ(row(0).period, 150);
  EXPECT_EQ(FrameMonitor::periodText(row(0)), "15");
  for (std::uint32_t i = 1; i < 10; ++i) store("181#01", 190 + i);
  store("181#01", 345);  // 21st: 155 ms after the 11th, taken in the same tick as 12..20
  monitor.drain(*ring);
  EXPECT_EQ(row(0).period, 155);
  EXPECT_EQ(row(0).sampleTime, 345u);
  EXPECT_EQ(FrameMonitor::periodText(row(0)), "16");
}

TEST_F(MonitorTest, PeriodSpansTheTickCountWrap) {
  store("181#01", 0xFFFFFFF0u);
  for (int i = 0; i < 9; ++i) store("181#01", 0xFFFFFFF0u);
  store("181#01", 0x50);  // 0x60 ms after the first sample
  monitor.drain(*ring);
  EXPECT_EQ(row(0).period, 0x60);
}

TEST_F(MonitorTest, IdentifiersSampleIndependently) {
  for (int i = 0; i < 11; ++i) {
    store("181#01", static_cast<std::uint32_t>(i) * 10);
    store("281#02", static_cast<std::uint32_t>(i) * 20);
  }
  store("181#01", 200);
  monitor.drain(*ring);
  EXPECT_EQ(FrameMonitor::periodText(row(0)), "10");
  EXPECT_EQ(FrameMonitor::periodText(row(1)), "20");
  EXPECT_EQ(row(0).count, 12);
  EXPECT_EQ(row(1).count, 11);
}

}  // namespace
}  // namespace bp::engine
