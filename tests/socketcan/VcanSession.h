// Busprobe's session (everything the window owns, without Qt) on a SocketCanDriver for vcan0,
// wired as the window's start-up wires it: bus open at 500 kbit/s, node 5 selected, the high-rate
// reader running on its thread (asleep until the socket has frames), the sample EDS loaded. The
// test thread takes the window thread's place.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "can/BitRate.h"
#include "can/drivers/SocketCanDriver.h"
#include "engine/Session.h"
#include "od/EdsReader.h"
#include "socketcan/BusTools.h"
#include "support/FrameText.h"
#include "util/Error.h"

namespace bp::test {

inline constexpr std::int32_t kNode = 5;
inline constexpr std::uint16_t kBitRate500k = can::kBitRateTable[can::kDefaultBitRateIndex].code;

// Frame text as frameText() prints it ("585#4F0110..."), from the dotted form.
inline std::string norm(std::string_view text) { return frameText(frame(text)); }

class VcanSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(session.driver->open(kBitRate500k, 0), can::kOk);
    session.busOpen = true;
    session.nodeId.store(kNode, std::memory_order_relaxed);
    ASSERT_TRUE(session.startReader());
    // While a transfer waits the rig takes the ring's frames into `stored` (the window takes them
    // into the monitor rows), so tests see every frame, including those of a transfer's wait.
    session.sdo.setBusyWork([this] { drainRing(); });
    od::ReadEDSFile(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds", session.dictionary, '.',
                    static_cast<std::uint8_t>(kNode));
  }

  void TearDown() override {
    session.stopReader();
    session.driver->close();
  }

  can::SocketCanDriver& driver() { return static_cast<can::SocketCanDriver&>(*session.driver); }

  // The window's bit-rate re-selection: close, then open at 500 kbit/s.
  std::uint32_t reselectBitRate() {
    session.driver->close();
    const std::uint32_t r = session.driver->open(kBitRate500k, 0);
    session.busOpen = r == can::kOk;
    return r;
  }

  // A copy of the dictionary's record, ready for one transfer.
  od::ObjectEntry entry(std::int32_t index, std::int32_t subIndex) {
    const od::ObjectEntry* e = session.dictionary.find(index, subIndex);
    if (e == nullptr) {
      ADD_FAILURE() << "the sample EDS has no " << std::hex << index << " sub " << subIndex;
      return od::ObjectEntry{};
    }
    od::ObjectEntry copy = *e;
    copy.next = nullptr;
    return copy;
  }

  // The message TransferSdo fails with, or "" when it returns normally.
  std::string failureOf(od::ObjectEntry& e) {
    try {
      session.sdo.TransferSdo(e);
    } catch (const Error& err) {
      return err.what();
    }
    return {};
  }

  // Uploads the object; fails the test when the transfer fails.
  od::ObjectEntry read(std::int32_t index, std::int32_t subIndex) {
    od::ObjectEntry e = entry(index, subIndex);
    e.direction = od::kRead;
    const std::string failure = failureOf(e);
    EXPECT_EQ(failure, "") << "read of 0x" << std::hex << index << " sub " << subIndex;
    return e;
  }

  // Downloads the value; fails the test when the transfer fails.
  void write(std::int32_t index, std::int32_t subIndex, std::int32_t value) {
    od::ObjectEntry e = entry(index, subIndex);
    e.direction = od::kWrite;
    e.value = value;
    const std::string failure = failureOf(e);
    EXPECT_EQ(failure, "") << "write of 0x" << std::hex << index << " sub " << subIndex;
  }

  // The window thread's side of the receive ring: takes every stored frame into `stored`.
  void drainRing() {
    while (const engine::RingSlot* slot = session.ring.front()) {
      stored.push_back(*slot);
      session.ring.pop();
    }
  }

  // Waits until the reader stores this frame at position `from` of `stored` or later.
  bool waitForStored(std::string_view text, std::size_t from = 0,
                     std::chrono::milliseconds patience = std::chrono::milliseconds(3000)) {
    const std::string want = norm(text);
    const auto until = std::chrono::steady_clock::now() + patience;
    std::size_t looked = from;
    for (;;) {
      drainRing();
      for (; looked < stored.size(); ++looked)
        if (frameText(stored[looked].frame) == want) return true;
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }

  // The frames stored from position `from` on, as text.
  std::vector<std::string> storedTexts(std::size_t from = 0) {
    drainRing();
    std::vector<std::string> out;
    for (std::size_t i = from; i < stored.size(); ++i) out.push_back(frameText(stored[i].frame));
    return out;
  }

  engine::Session session{std::make_unique<can::SocketCanDriver>(kVcan)};
  std::vector<engine::RingSlot> stored;
};

}  // namespace bp::test
