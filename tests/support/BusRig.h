// Busprobe's session (everything the window owns, without Qt) on the driver the test chooses (the
// virtual bus, or vcan0 through SocketCAN), wired as the window's start-up wires it: bus open at
// 500 kbit/s, node 5 selected, the high-rate reader running on its thread (asleep until the driver
// has frames), the sample EDS loaded. The test thread takes the window thread's place.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "can/BitRate.h"
#include "can/CanDriver.h"
#include "engine/Session.h"
#include "od/ObjectEntry.h"

namespace bp::test {

inline constexpr std::int32_t kNode = 5;
inline constexpr std::uint16_t kBitRate500k = can::kBitRateTable[can::kDefaultBitRateIndex].code;
// Long enough for a loaded machine or an emulated one; every wait ends as soon as its frame is there.
inline constexpr std::chrono::milliseconds kPatience{3000};
// CiA 402 status word of the drive: the bits that tell the power states apart.
inline constexpr std::uint32_t kStateMaskShort = 0x4F;  // switch on disabled
inline constexpr std::uint32_t kStateMask = 0x6F;       // every other state

class BusRig : public ::testing::Test {
 protected:
  explicit BusRig(std::unique_ptr<can::CanDriver> driver) : session(std::move(driver)) {}

  void SetUp() override;
  void TearDown() override;

  // A copy of the dictionary's record, ready for one transfer.
  od::ObjectEntry entry(std::int32_t index, std::int32_t subIndex);
  // The message TransferSdo fails with, or "" when it returns normally.
  std::string failureOf(od::ObjectEntry& e);
  // Uploads the object and returns the entry; fails the test when the transfer fails.
  od::ObjectEntry read(std::int32_t index, std::int32_t subIndex);
  // Downloads the value; fails the test when the transfer fails.
  void write(std::int32_t index, std::int32_t subIndex, std::int32_t value);
  // Sends a frame through the session's driver, as the NMT, SYNC and guarding commands do.
  void send(std::string_view text);

  // The window thread's side of the receive ring: takes every stored frame into `stored`.
  void drainRing();
  // Waits until the reader stores this frame at position `from` of `stored` or later; frames
  // taken on the way stay in `stored`.
  bool waitForStored(std::string_view text, std::size_t from = 0, std::chrono::milliseconds patience = kPatience);
  // The frames stored from position `from` of `stored` on, as text.
  std::vector<std::string> storedTexts(std::size_t from = 0);

  // Scenarios that node 5 (the simulated drive, in-process or as busprobe-node) passes on any bus.
  // After each NMT command: SYNC, then a guarding request. The node handles frames in order, so
  // once the guarding answer is stored, a TPDO1 sent for the SYNC is stored before it.
  void expectSyncAndGuardingFollowTheNmtCommands();
  // NMT reset node and reset communication: boot-up again (pre-operational, guarding toggle 0),
  // the communication area back to its defaults, and with reset node the manufacturer area and
  // the drive too.
  void expectNmtResetsBootTheNodeAgain();

  engine::Session session;
  std::vector<engine::RingSlot> stored;  // frames taken out of the ring, in order
};

}  // namespace bp::test
