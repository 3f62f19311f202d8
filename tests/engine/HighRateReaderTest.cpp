// The high-rate reader, one run at a time, against a scripted driver and a hand-moved clock.
#include "engine/HighRateReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/FakeClock.h"
#include "support/FakeDriver.h"
#include "support/FrameText.h"

namespace bp::engine {
using namespace bp::can;
namespace {

// Takes the SDO answers of node `nodeId` and records them; optionally runs an action on each (on
// the reader's thread).
class RecordingSink final : public FrameHandOver {
 public:
  explicit RecordingSink(const std::atomic<std::int32_t>& node) : nodeId(node) {}
  std::uint32_t handOverId() const noexcept override { return 0x580 + static_cast<std::uint32_t>(nodeId.load()); }
  void takeFrame(const CanFrame& frame) noexcept override {
    frames.push_back(test::frameText(frame));
    if (onResponse) onResponse();
  }
  std::vector<std::string> frames;
  std::function<void()> onResponse;
  const std::atomic<std::int32_t>& nodeId;
};

// The reader's microsecond clock in these tests: moved by hand.
std::atomic<std::uint64_t> g_micros{0};
std::uint64_t fakeMicros() noexcept { return g_micros.load(); }

class ReaderTest : public ::testing::Test {
 protected:
  test::FakeDriver driver;
  std::unique_ptr<RxRing> ring = std::make_unique<RxRing>(1024);  // small, to fill it
  std::atomic<std::int32_t> nodeId{5};
  test::FakeClock clock{1000};
  RecordingSink sink{nodeId};
  HighRateReader reader{driver, *ring, clock, fakeMicros};

  void SetUp() override { reader.setHandOver(&sink); }

  void push(std::initializer_list<const char*> frames) {
    for (const char* f : frames) driver.push(test::frame(f));
  }
  // Every stored frame in ring order, taken out of the ring; handed-over ones marked "h ".
  std::vector<std::string> takeAll() {
    std::vector<std::string> out;
    while (const RingSlot* s = ring->front()) {
      out.push_back((s->origin == FrameOrigin::kHandedOver ? "h " : "") + test::frameText(s->frame));
      ring->pop();
    }
    return out;
  }
  static CanFrame typed(const char* text, std::uint8_t type) {
    CanFrame f = test::frame(text);
    f.type = type;
    return f;
  }
};

TEST_F(ReaderTest, StoresDataFramesInOrderOfReception) {
  push({"080#", "181#01.02", "7FF#11.22.33.44.55.66.77.88"});
  reader.runOnce();
  EXPECT_EQ(takeAll(), (std::vector<std::string>{"080#", "181#0102", "7FF#1122334455667788"}));
  EXPECT_EQ(driver.queued(), 0u);
}

TEST_F(ReaderTest, FramesThatAreNotDataFramesNeverReachTheRing) {
  push({"705#R"});
  driver.push(typed("1ABCDEF#01", kMsgExtended));
  driver.push(typed("004#00.00.00.00.00.00.00.00", kMsgError));
  driver.push(typed("1ABCDEF#", kMsgExtended | kMsgRemote));
  push({"181#AA"});
  driver.push(typed("585#4B.00.10.00.01.00.00.00", kMsgExtended));  // not a response: extended
  reader.runOnce();
  EXPECT_EQ(takeAll(), std::vector<std::string>{"181#AA"});
  EXPECT_TRUE(sink.frames.empty());
}

TEST_F(ReaderTest, SelectedNodesSdoResponsesBypassTheRing) {
  // The reader hands every response of node 5 over, whether a transfer waits for it or not:
  // the sink decides what to do with it.
  push({"585#4B.00.10.00.34.12.00.00", "586#43.00.10.00.01.00.00.00", "585#80.00.10.00.00.00.02.06",
        "605#40.00.10.00.00.00.00.00"});
  reader.runOnce();
  EXPECT_EQ(sink.frames, (std::vector<std::string>{"585#4B00100034120000", "585#8000100000000206"}));
  EXPECT_EQ(takeAll(), (std::vector<std::string>{"586#4300100001000000", "605#4000100000000000"}));
}

TEST_F(ReaderTest, WhileObservedEveryFrameIsStoredHandedOverResponsesMarkedInOrder) {
  reader.setObserving(true);
  push({"181#01", "705#R", "585#4B.00.10.00.34.12.00.00", "586#02"});
  reader.runOnce();
  EXPECT_EQ(sink.frames, std::vector<std::string>{"585#4B00100034120000"});
  EXPECT_EQ(takeAll(), (std::vector<std::string>{"181#01", "705#R", "h 585#4B00100034120000", "586#02"}));
  reader.setObserving(false);  // remote requests are dropped again
  push({"705#R", "181#02"});
  reader.runOnce();
  EXPECT_EQ(takeAll(), std::vector<std::string>{"181#02"});
}

TEST_F(ReaderTest, WithoutAHandOverEveryFrameIsStored) {
  reader.setHandOver(nullptr);
  push({"585#4B.00.10.00.34.12.00.00", "181#01"});
  reader.runOnce();
  EXPECT_EQ(takeAll(), (std::vector<std::string>{"585#4B00100034120000", "181#01"}));
}

TEST_F(ReaderTest, NodeChangeTakesEffectWithTheNextFrame) {
  // The window selects node 6 while the reader is between two frames of one run.
  sink.onResponse = [this] { nodeId.store(6); };
  push({"586#01", "585#02", "585#03", "586#04"});
  reader.runOnce();
  EXPECT_EQ(sink.frames, (std::vector<std::string>{"585#02", "586#04"}));
  EXPECT_EQ(takeAll(), (std::vector<std::string>{"586#01", "585#03"}));
}

TEST_F(ReaderTest, NodeIdsCompareAs32BitValues) {
  struct Row {
    const char* name;
    std::int32_t node;
    const char* frame;
    bool handedOver;
  };
  const Row rows[] = {
      {"node 0 answers on 0x580", 0, "580#01", true},
      {"node 127 answers on 0x5FF", 127, "5FF#01", true},
      {"node 127 does not take 0x57F", 127, "57F#01", false},
      {"node -1 takes 0x57F (0x580 + 0xFFFFFFFF wraps)", -1, "57F#01", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    sink.frames.clear();
    nodeId.store(r.node);
    push({r.frame});
    reader.runOnce();
    EXPECT_EQ(sink.frames.size(), r.handedOver ? 1u : 0u);
    EXPECT_EQ(takeAll().size(), r.handedOver ? 0u : 1u);
  }
}

TEST_F(ReaderTest, ReceiveTimeCountsFromTheFirstRun) {
  reader.runOnce();  // first run, nothing waiting: the tick base is taken now (1000)
  EXPECT_EQ(reader.tickBase(), 1000u);
  clock.advance(250);
  g_micros.store(7'000'123);  // the microsecond time is the clock's own, not counted from the base
  push({"181#01"});
  reader.runOnce();
  clock.advance(5000);
  push({"182#02"});
  reader.runOnce();
  const RingSlot* first = ring->front();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->receiveTime, 250u);
  EXPECT_EQ(first->timeUs, 7'000'123u);
  ring->pop();
  EXPECT_EQ(ring->front()->receiveTime, 5250u);
  EXPECT_EQ(reader.tickBase(), 1000u);  // never changed after the first run
}

TEST_F(ReaderTest, ReceiveTimeWrapsWithTheTickCount) {
  clock.set(0xFFFFFF00u);
  reader.runOnce();
  clock.advance(0x180);  // the tick count wrapped to 0x80
  push({"181#01"});
  reader.runOnce();
  ASSERT_NE(ring->front(), nullptr);
  EXPECT_EQ(ring->front()->receiveTime, 0x180u);
}

TEST_F(ReaderTest, FirstStoredFrameMayBeLongAfterTheFirstRun) {
  reader.runOnce();
  clock.advance(3'600'000);
  push({"181#01"});
  reader.runOnce();
  EXPECT_EQ(ring->front()->receiveTime, 3'600'000u);
}

TEST_F(ReaderTest, FullRingLeavesThe1024thFrameInTheDriver) {
  for (int i = 0; i < 1024; ++i) {
    CanFrame f = test::frame("181#00.00");
    f.data[0] = static_cast<std::uint8_t>(i);
    f.data[1] = static_cast<std::uint8_t>(i >> 8);
    driver.push(f);
  }
  EXPECT_FALSE(reader.runOnce());     // stopped at the full ring, not at an empty driver
  EXPECT_EQ(ring->size(), 1023);
  EXPECT_EQ(driver.queued(), 1u);
  EXPECT_EQ(driver.readCalls, 1023);  // no read is made into a full ring
  EXPECT_FALSE(reader.runOnce());
  EXPECT_EQ(driver.queued(), 1u);     // still waiting: the monitor took nothing
  EXPECT_EQ(driver.readCalls, 1023);

  ring->pop();  // the monitor frees one slot
  EXPECT_FALSE(reader.runOnce());
  EXPECT_EQ(driver.queued(), 0u);
  EXPECT_EQ(ring->size(), 1023);
  const auto frames = takeAll();
  EXPECT_EQ(frames.front(), "181#0100");  // frame 1 (frame 0 was popped)
  EXPECT_EQ(frames.back(), "181#FF03");   // frame 1023
}

TEST_F(ReaderTest, DroppedFramesDoNotUseUpTheRing) {
  // A full ring minus one: remote frames and responses in between still pass through.
  for (int i = 0; i < 1022; ++i) driver.push(test::frame("181#01"));
  push({"705#R", "585#4F.00.10.00.01.00.00.00", "182#02", "183#03"});
  reader.runOnce();
  EXPECT_EQ(ring->size(), 1023);
  EXPECT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(driver.queued(), 1u);  // "183#03" waits
}

TEST_F(ReaderTest, FailedReadEndsTheRunAfterOneCall) {
  // A closed bus or an empty queue: one read per run, nothing stored.
  for (int run = 1; run <= 3; ++run) {
    EXPECT_TRUE(reader.runOnce());
    EXPECT_EQ(driver.readCalls, run);
  }
  EXPECT_EQ(ring->size(), 0);
}

}  // namespace
}  // namespace bp::engine
