// The receive ring on its own: capacity, order across the wrap, and the two index owners.
#include "can/RxRing.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/FrameText.h"

namespace bp::can {
namespace {

// Stores a frame the way the reader does: fill the slot at head, then commit.
bool store(RxRing& ring, const CanFrame& f, std::uint32_t time) {
  RingSlot* slot = ring.producerSlot();
  if (slot == nullptr) return false;
  slot->frame = f;
  slot->receiveTime = time;
  ring.commit();
  return true;
}

CanFrame numbered(std::uint32_t n) {
  CanFrame f = test::frame("123#00.00.00.00");
  f.data[0] = static_cast<std::uint8_t>(n);
  f.data[1] = static_cast<std::uint8_t>(n >> 8);
  return f;
}

TEST(RxRing, EmptyRingHasNoFrontAndAFreeSlot) {
  auto ring = std::make_unique<RxRing>();
  EXPECT_EQ(ring->front(), nullptr);
  EXPECT_EQ(ring->size(), 0);
  EXPECT_NE(ring->producerSlot(), nullptr);
  EXPECT_EQ(ring->head(), 0);
  EXPECT_EQ(ring->tail(), 0);
}

TEST(RxRing, Holds1023FramesAndRefusesThe1024th) {
  auto ring = std::make_unique<RxRing>();
  for (std::uint32_t i = 0; i < 1023; ++i) ASSERT_TRUE(store(*ring, numbered(i), i)) << i;
  EXPECT_EQ(ring->size(), 1023);
  EXPECT_EQ(ring->producerSlot(), nullptr);  // the slot at head stays free
  EXPECT_EQ(ring->head(), 1023);
  ring->pop();
  EXPECT_NE(ring->producerSlot(), nullptr);  // one slot freed: one more fits
  EXPECT_TRUE(store(*ring, numbered(1023), 1023));
  EXPECT_EQ(ring->head(), 0);  // advanced modulo 1024
  EXPECT_EQ(ring->producerSlot(), nullptr);
}

TEST(RxRing, KeepsOrderAcrossTheWrap) {
  auto ring = std::make_unique<RxRing>();
  std::uint32_t stored = 0, taken = 0;
  // Three passes around the ring in uneven steps.
  for (int round = 0; round < 12; ++round) {
    for (int k = 0; k < 700 && store(*ring, numbered(stored), stored * 3); ++k) ++stored;
    for (int k = 0; k < 500; ++k) {
      const RingSlot* s = ring->front();
      if (s == nullptr) break;
      ASSERT_EQ(s->frame, numbered(taken)) << taken;
      ASSERT_EQ(s->receiveTime, taken * 3);
      ring->pop();
      ++taken;
    }
  }
  EXPECT_GT(stored, 3u * RxRing::kSlots);
  EXPECT_EQ(static_cast<std::uint32_t>(ring->size()), stored - taken);
}

TEST(RxRing, AdvanceWrapsModulo1024) {
  EXPECT_EQ(RxRing::advance(0), 1);
  EXPECT_EQ(RxRing::advance(1022), 1023);
  EXPECT_EQ(RxRing::advance(1023), 0);
}

}  // namespace
}  // namespace bp::can
