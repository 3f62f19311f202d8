#include "support/BusRig.h"

#include <cstdio>

#include "nmt/NmtFrames.h"
#include "od/EdsReader.h"
#include "support/ErrorText.h"
#include "support/FrameText.h"
#include "support/Wait.h"

namespace bp::test {

void BusRig::SetUp() {
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

void BusRig::TearDown() {
  // The window's shut-down order: nothing the reader touches goes before the reader stops.
  session.stopReader();
  session.driver->close();
}

od::ObjectEntry BusRig::entry(std::int32_t index, std::int32_t subIndex) {
  const od::ObjectEntry* e = session.dictionary.find(index, subIndex);
  if (e == nullptr) {
    ADD_FAILURE() << "the sample EDS has no 0x" << std::hex << index << " sub " << subIndex;
    return od::ObjectEntry{};
  }
  od::ObjectEntry copy = *e;
  copy.next = nullptr;
  return copy;
}

std::string BusRig::failureOf(od::ObjectEntry& e) {
  return errorOf([&] { session.sdo.TransferSdo(e); });
}

od::ObjectEntry BusRig::read(std::int32_t index, std::int32_t subIndex) {
  od::ObjectEntry e = entry(index, subIndex);
  e.direction = od::kRead;
  EXPECT_EQ(failureOf(e), "") << "read of 0x" << std::hex << index << " sub " << subIndex;
  return e;
}

void BusRig::write(std::int32_t index, std::int32_t subIndex, std::int32_t value) {
  od::ObjectEntry e = entry(index, subIndex);
  e.direction = od::kWrite;
  e.value = value;
  EXPECT_EQ(failureOf(e), "") << "write of 0x" << std::hex << index << " sub " << subIndex;
}

void BusRig::send(std::string_view text) { ASSERT_EQ(session.driver->write(frame(text)), can::kOk); }

void BusRig::drainRing() {
  while (const engine::RingSlot* slot = session.ring.front()) {
    stored.push_back(*slot);
    session.ring.pop();
  }
}

bool BusRig::waitForStored(std::string_view text, std::size_t from, std::chrono::milliseconds patience) {
  const std::string want = norm(text);
  std::size_t looked = from;
  return waitUntil(
      [&] {
        drainRing();
        for (; looked < stored.size(); ++looked)
          if (frameText(stored[looked].frame) == want) return true;
        return false;
      },
      patience, std::chrono::microseconds(200));
}

std::vector<std::string> BusRig::storedTexts(std::size_t from) {
  drainRing();
  std::vector<std::string> out;
  for (std::size_t i = from; i < stored.size(); ++i) out.push_back(frameText(stored[i].frame));
  return out;
}

void BusRig::expectSyncAndGuardingFollowTheNmtCommands() {
  struct Step {
    const char* name;
    int nmtCommand;          // -1: none
    std::uint8_t guardState;  // the node's NMT state as guarding reports it
    const char* tpdo1;       // the answer to SYNC, "" when the node must send none
  };
  const Step steps[] = {
      {"pre-operational after boot-up", -1, 0x7F, ""},
      {"operational", canopen::kNmtStart, 0x05, "185#40.00.00.00.00.00"},
      {"stopped", canopen::kNmtStop, 0x04, ""},
      {"pre-operational again", canopen::kNmtPreOperational, 0x7F, ""},
      {"operational again", canopen::kNmtStart, 0x05, "185#40.00.00.00.00.00"},
  };
  std::uint8_t toggle = 0x00;  // bit 7 of the guarding answers alternates, 0 first
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    drainRing();
    const std::size_t mark = stored.size();
    if (s.nmtCommand >= 0) nmt::sendNmtCommand(*session.driver, static_cast<std::uint8_t>(s.nmtCommand), kNode);
    nmt::sendSync(*session.driver);
    nmt::sendGuardRequest(*session.driver, kNode);

    char guard[16];
    std::snprintf(guard, sizeof guard, "705#%02X", s.guardState | toggle);
    toggle ^= 0x80;
    ASSERT_TRUE(waitForStored(guard, mark));
    std::vector<std::string> expected;
    if (*s.tpdo1 != '\0') expected.push_back(norm(s.tpdo1));
    expected.push_back(norm(guard));
    EXPECT_EQ(storedTexts(mark), expected);
  }
}

void BusRig::expectNmtResetsBootTheNodeAgain() {
  struct Reset {
    const char* name;
    std::uint8_t command;
    bool applicationReset;  // manufacturer and profile areas back to their defaults too
  };
  const Reset resets[] = {
      {"reset node", canopen::kNmtResetNode, true},
      {"reset communication", canopen::kNmtResetCommunication, false},
  };
  for (const Reset& r : resets) {
    SCOPED_TRACE(r.name);
    write(0x2000, 1, 5000);  // manufacturer area
    write(0x100C, 0, 300);   // communication area
    write(0x6040, 0, 0x06);  // shutdown: ready to switch on
    ASSERT_EQ(static_cast<std::uint32_t>(read(0x6041, 0).value) & kStateMask, 0x21u);

    drainRing();
    const std::size_t mark = stored.size();
    nmt::sendNmtCommand(*session.driver, r.command, kNode);
    ASSERT_TRUE(waitForStored("705#00", mark)) << "boot-up after the reset";
    nmt::sendGuardRequest(*session.driver, kNode);
    ASSERT_TRUE(waitForStored("705#7F", mark)) << "pre-operational, guarding toggle 0";
    EXPECT_EQ(storedTexts(mark), (std::vector<std::string>{norm("705#00"), norm("705#7F")}));

    EXPECT_EQ(read(0x100C, 0).value, 0);
    EXPECT_EQ(read(0x2000, 1).value, r.applicationReset ? 6000 : 5000);
    const auto status = static_cast<std::uint32_t>(read(0x6041, 0).value);
    if (r.applicationReset) {
      EXPECT_EQ(status & kStateMaskShort, 0x40u) << "switch on disabled";
    } else {
      EXPECT_EQ(status & kStateMask, 0x21u) << "the drive keeps its state";
    }
  }
}

}  // namespace bp::test
