// The receive ring on its own: capacity, order across the wrap, and the two index owners.
#include "engine/RxRing.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/FrameText.h"

namespace bp::engine {
using namespace bp::can;
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

TEST(RxRing, HoldsOneFrameLessThanItsSlotsAndRefusesTheNext) {
  auto ring = std::make_unique<RxRing>();
  ASSERT_EQ(ring->slotCount(), RxRing::kSlots);
  const std::int32_t n = ring->capacity();
  EXPECT_EQ(n, RxRing::kSlots - 1);
  for (std::int32_t i = 0; i < n; ++i) ASSERT_TRUE(store(*ring, numbered(static_cast<std::uint32_t>(i)), 0)) << i;
  EXPECT_EQ(ring->size(), n);
  EXPECT_EQ(ring->producerSlot(), nullptr);  // the slot at head stays free
  EXPECT_EQ(ring->head(), n);
  ring->pop();
  EXPECT_NE(ring->producerSlot(), nullptr);  // one slot freed: one more fits
  EXPECT_TRUE(store(*ring, numbered(1), 1));
  EXPECT_EQ(ring->head(), 0);  // advanced modulo the slots
  EXPECT_EQ(ring->producerSlot(), nullptr);
  EXPECT_THROW(RxRing(1000), std::invalid_argument);  // not a power of two
}

TEST(RxRing, KeepsOrderAcrossTheWrap) {
  auto ring = std::make_unique<RxRing>(1024);
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
  EXPECT_GT(stored, 3u * 1024);
  EXPECT_EQ(static_cast<std::uint32_t>(ring->size()), stored - taken);
}

TEST(RxRing, AdvanceWrapsModuloTheSlots) {
  const RxRing ring(1024);
  EXPECT_EQ(ring.advance(0), 1);
  EXPECT_EQ(ring.advance(1022), 1023);
  EXPECT_EQ(ring.advance(1023), 0);
}

}  // namespace
}  // namespace bp::engine
