// The in-process virtual bus used as a driver: delivery, open/close, bounded queues, threads.
#include "can/drivers/VirtualBus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "can/BitRate.h"
#include "support/FrameText.h"

namespace bp::can {
namespace {

constexpr std::uint16_t k500k = 0x001C;

std::vector<std::string> readAll(VirtualBusEndpoint& ep) {
  std::vector<std::string> out;
  CanFrame f;
  while (ep.read(f) == kOk) out.push_back(test::frameText(f));
  return out;
}

TEST(VirtualBus, FrameReachesEveryOtherOpenEndpointButNotItsOwn) {
  auto bus = VirtualBus::create();
  auto a = bus->endpoint(), b = bus->endpoint(), c = bus->endpoint();
  for (auto* ep : {a.get(), b.get(), c.get()}) ASSERT_EQ(ep->open(k500k, 0), kOk);
  ASSERT_EQ(a->write(test::frame("181#01.02")), kOk);
  ASSERT_EQ(b->write(test::frame("705#R")), kOk);
  EXPECT_EQ(readAll(*a), std::vector<std::string>{"705#R"});
  EXPECT_EQ(readAll(*b), std::vector<std::string>{"181#0102"});
  EXPECT_EQ(readAll(*c), (std::vector<std::string>{"181#0102", "705#R"}));
  EXPECT_EQ(bus->deliveredFrames(), 4u);
}

TEST(VirtualBus, ClosedEndpointNeitherReceivesNorSends) {
  auto bus = VirtualBus::create();
  auto a = bus->endpoint(), b = bus->endpoint();
  ASSERT_EQ(a->open(k500k, 0), kOk);
  ASSERT_EQ(b->open(k500k, 0), kOk);
  ASSERT_EQ(a->write(test::frame("181#01")), kOk);
  EXPECT_EQ(b->close(), kOk);           // discards what was queued
  EXPECT_FALSE(b->isOpen());
  ASSERT_EQ(a->write(test::frame("181#02")), kOk);  // nobody listens
  CanFrame f;
  EXPECT_EQ(b->read(f), kErrNotOpen);
  EXPECT_EQ(b->write(test::frame("181#03")), kErrNotOpen);
  ASSERT_EQ(b->open(k500k, 0), kOk);
  EXPECT_EQ(b->read(f), kErrQueueEmpty);  // nothing from before the re-open
  ASSERT_EQ(a->write(test::frame("181#04")), kOk);
  EXPECT_EQ(readAll(*b), std::vector<std::string>{"181#04"});
}

TEST(VirtualBus, OpenAcceptsTheNineTableCodesOnly) {
  auto bus = VirtualBus::create();
  auto ep = bus->endpoint();
  for (const auto& row : kBitRateTable) {
    EXPECT_EQ(ep->open(row.code, 0), kOk) << row.text;
    EXPECT_EQ(ep->lastBitRateCode(), row.code);
    ep->close();
  }
  EXPECT_EQ(ep->open(0x1234, 0), kErrIllegalParam);
  EXPECT_FALSE(ep->isOpen());
  EXPECT_EQ(ep->openCalls(), 10u);
  EXPECT_EQ(ep->closeCalls(), 9u);
}

TEST(VirtualBus, WriteRefusesLengthAboveEight) {
  auto bus = VirtualBus::create();
  auto a = bus->endpoint(), b = bus->endpoint();
  a->open(k500k, 0);
  b->open(k500k, 0);
  CanFrame f = test::frame("181#01.02.03.04.05.06.07.08");
  f.len = 9;
  EXPECT_EQ(a->write(f), kErrIllegalParam);
  EXPECT_EQ(b->queuedFrames(), 0u);
}

TEST(VirtualBus, BoundedQueueDropsAndCountsTheExcess) {
  auto bus = VirtualBus::create();
  auto a = bus->endpoint(), b = bus->endpoint(4);
  a->open(k500k, 0);
  b->open(k500k, 0);
  for (int i = 0; i < 6; ++i) {
    CanFrame f = test::frame("181#00");
    f.data[0] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(a->write(f), kOk);  // the sender does not see the receiver's overrun
  }
  EXPECT_EQ(b->queuedFrames(), 4u);
  EXPECT_EQ(b->droppedFrames(), 2u);
  EXPECT_EQ(bus->deliveredFrames(), 4u);
  EXPECT_EQ(readAll(*b), (std::vector<std::string>{"181#00", "181#01", "181#02", "181#03"}));
}

TEST(VirtualBus, WaitForFramesReturnsOnAFrameOrAnInterruptAndOtherwiseSleeps) {
  auto bus = VirtualBus::create();
  auto a = bus->endpoint(), b = bus->endpoint();
  a->open(k500k, 0);
  b->open(k500k, 0);
  using Steady = std::chrono::steady_clock;
  auto waited = [&](std::uint32_t timeoutMs) {
    const auto t0 = Steady::now();
    EXPECT_TRUE(b->waitForFrames(timeoutMs));
    return Steady::now() - t0;
  };
  EXPECT_GE(waited(30), std::chrono::milliseconds(30));  // nothing came: the whole time-out
  a->write(test::frame("181#01"));
  EXPECT_LT(waited(60'000), std::chrono::seconds(30));   // a frame is waiting: at once
  readAll(*b);
  b->interruptWait();                                    // sticky until the next wait
  EXPECT_LT(waited(60'000), std::chrono::seconds(30));
  std::thread writer([&] { a->write(test::frame("181#02")); });
  EXPECT_LT(waited(60'000), std::chrono::seconds(30));   // woken by a frame that arrives
  writer.join();
}

TEST(VirtualBus, VersionTextIsATerminatedDescription) {
  auto bus = VirtualBus::create();
  auto ep = bus->endpoint();
  char buf[kVersionTextSize];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(ep->versionText(buf), kOk);
  EXPECT_GT(std::strlen(buf), 0u);
  EXPECT_LT(std::strlen(buf), kVersionTextSize);
}

// Several writer threads and one reader thread: every frame arrives exactly once, and the
// frames of each writer in the order it wrote them.
TEST(VirtualBus, ConcurrentWritersAndAReaderDeliverEverythingExactlyOnce) {
  constexpr int kWriters = 4;
  constexpr std::uint32_t kPerWriter = 25'000;
  auto bus = VirtualBus::create();
  auto sink = bus->endpoint(kWriters * kPerWriter);
  ASSERT_EQ(sink->open(k500k, 0), kOk);
  std::vector<std::unique_ptr<VirtualBusEndpoint>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(bus->endpoint(16));  // writers' own queues overflow: they never read
    ASSERT_EQ(writers.back()->open(k500k, 0), kOk);
  }

  std::vector<std::uint32_t> next(kWriters, 0);
  std::uint64_t received = 0;
  bool inOrder = true;
  std::thread reader([&] {
    CanFrame f;
    while (received < std::uint64_t{kWriters} * kPerWriter) {
      if (sink->read(f) != kOk) {
        std::this_thread::yield();
        continue;
      }
      const std::uint32_t w = f.id - 0x100;
      const std::uint32_t seq = f.data[0] | (f.data[1] << 8) | (f.data[2] << 16) | (f.data[3] << 24);
      if (w >= kWriters || seq != next[w] || f.len != 4) inOrder = false;
      else ++next[w];
      ++received;
    }
  });
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (std::uint32_t seq = 0; seq < kPerWriter; ++seq) {
        CanFrame f;
        f.id = 0x100 + static_cast<std::uint32_t>(w);
        f.len = 4;
        for (int i = 0; i < 4; ++i) f.data[i] = static_cast<std::uint8_t>(seq >> (8 * i));
        while (writers[w]->write(f) != kOk) std::this_thread::yield();
      }
    });
  }
  for (auto& t : threads) t.join();
  reader.join();
  EXPECT_TRUE(inOrder);
  for (int w = 0; w < kWriters; ++w) EXPECT_EQ(next[w], kPerWriter) << "writer " << w;
  EXPECT_EQ(sink->droppedFrames(), 0u);
  CanFrame extra;
  EXPECT_EQ(sink->read(extra), kErrQueueEmpty);  // nothing twice
}

}  // namespace
}  // namespace bp::can
