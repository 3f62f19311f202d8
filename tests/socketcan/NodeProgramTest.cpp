// Busprobe's SDO engine, reader and NMT senders on vcan0 against the built busprobe-node program
// (node 5, its built-in sample EDS), running as a process of its own; candump listens in where
// the exact conversation matters.
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "od/ValueText.h"
#include "socketcan/PeerRigs.h"
#include "support/Wait.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

using NodeProgram = NodeProgramRig;

struct Reading {
  std::int32_t index;
  std::int32_t subIndex;
  const char* caption;  // the tree's caption of the object after the read
};

TEST_F(NodeProgram, ReadsEveryKindOfValueFromTheProgram) {
  const Reading rows[] = {
      {0x1000, 0, "0x1000 Device type = 131474 (0x20192)"},
      {0x2300, 0, "0x2300 Encoder zero offset = -1250 (0xFFFFFB1E)"},
      {0x2400, 0, "0x2400 Temperature sensor trim = -2 (0xFFFFFFFE)"},
      {0x2100, 0, "0x2100 Motor temperature = 25.5"},
      {0x1018, 1, "Sub 0x01 Vendor-ID = 2583 (0xA17)"},
      {0x1200, 1, "Sub 0x01 COB-ID client to server (rx) = 1541 (0x605)"},  // $NODEID+0x600
      {0x1009, 0, "0x1009 Manufacturer hardware version = HW 1.2"},          // one segment
      {0x1008, 0, "0x1008 Manufacturer device name = DRV17-KA Servo"},       // two segments
      {0x100A, 0, "0x100A Manufacturer software version = FW 2.04.17"},
  };
  for (const Reading& r : rows) {
    SCOPED_TRACE(r.caption);
    const od::ObjectEntry e = read(r.index, r.subIndex);
    EXPECT_EQ(od::FormatNodeCaption(e, '.'), r.caption);
  }
  // The selected node's answers went to the engine, none to the monitor.
  for (const std::string& text : storedTexts()) EXPECT_NE(text.rfind("585#", 0), 0u) << text;
}

TEST_F(NodeProgram, SegmentedUploadOfTheDeviceNameOnTheWire) {
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  EXPECT_EQ(read(0x1008, 0).textValue, "DRV17-KA Servo");
  EXPECT_EQ(dump.frames(6), (std::vector<std::string>{
                                "605#4008100000000000", "585#410810000E000000",  // 14 bytes announced
                                "605#6008100000000000", "585#0044525631372D4B",  // "DRV17-K", toggle 0
                                "605#7008100000000000", "585#114120536572766F",  // "A Servo", toggle 1, last
                            }));
  EXPECT_EQ(dump.framesWithin(100ms), std::vector<std::string>{});
}

struct Writing {
  const char* name;
  std::int32_t index;
  std::int32_t subIndex;
  std::int32_t value;
  const char* request;   // candump's text of the download request
  const char* response;  // and of the node's confirmation
  std::int32_t readBack;
};

TEST_F(NodeProgram, WritesReachTheProgramAndReadBack) {
  const Writing rows[] = {
      {"INTEGER8 -20", 0x2400, 0, -20, "605#2F002400EC000000", "585#6000240000000000", -20},
      {"UNSIGNED16 0xBEEF", 0x2000, 1, 0xBEEF, "605#2B002001EFBE0000", "585#6000200100000000", 0xBEEF},
      {"INTEGER32 -123456789", 0x607A, 0, -123456789, "605#237A6000EB32A4F8", "585#607A600000000000",
       -123456789},
      {"UNSIGNED8 300 keeps its low byte", 0x100D, 0, 300, "605#2F0D10002C000000", "585#600D100000000000", 0x2C},
  };
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  for (const Writing& r : rows) {
    SCOPED_TRACE(r.name);
    write(r.index, r.subIndex, r.value);
    EXPECT_EQ(dump.frames(2), (std::vector<std::string>{r.request, r.response}));
    od::ObjectEntry back = entry(r.index, r.subIndex);
    back.direction = od::kRead;
    back.value = 0;
    ASSERT_EQ(failureOf(back), "");
    dump.frames(2);  // the read-back's request and answer
    if (back.dataType == od::kInteger8) back.value = static_cast<std::int8_t>(back.value);
    EXPECT_EQ(back.value, r.readBack);
  }
}

TEST_F(NodeProgram, RefusalsOfTheProgramBecomeAbortMessages) {
  od::ObjectEntry readOnly = entry(0x1000, 0);
  readOnly.direction = od::kWrite;
  readOnly.value = 1;
  EXPECT_EQ(failureOf(readOnly), "SDO Tranfer Abort : 0x06010002\nAttempt to write a read only object.");

  od::ObjectEntry missing = entry(0x1000, 0);
  missing.index = 0x3000;
  missing.direction = od::kRead;
  EXPECT_EQ(failureOf(missing), "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary.");
  // And the next transfer runs normally.
  EXPECT_EQ(read(0x1000, 0).value, 0x00020192);
}

TEST_F(NodeProgram, NmtResetsBootTheProgramAgain) { expectNmtResetsBootTheNodeAgain(); }

TEST_F(NodeProgram, GuardingAndSyncFollowTheNmtCommands) { expectSyncAndGuardingFollowTheNmtCommands(); }

// cangen floods vcan0 at full speed with one identifier while the session reads from the
// program. Wired as the window wires it (a transfer's wait empties the ring into the monitor rows),
// every answer comes in time, and once the flood is over the monitor has counted every frame of it.
TEST_F(NodeProgram, ExpeditedReadsStayOnTimeWhileCangenFloodsTheBus) {
  const char* const cangenProgram = "/usr/bin/cangen";
  if (::access(cangenProgram, X_OK) != 0) GTEST_SKIP() << "can-utils' cangen is not installed";
  constexpr int kReads = 500;
  constexpr std::uint64_t kFlood = 200000;  // outlasts the reads, on a fast machine too
  constexpr std::uint32_t kFloodId = 0x123;
  session.sdo.setBusyWork([this] { session.monitor.drain(session.ring); });  // the window's, not the rig's
  // The window thread's monitor tick: empties the ring, returns the flood's row count.
  auto floodCount = [this] {
    session.monitor.drain(session.ring);
    for (const engine::MonitorRow& r : session.monitor.rows())
      if (r.last.id == kFloodId) return r.count;
    return std::uint64_t{0};
  };

  // Without -i cangen ends with an error when the kernel refuses a frame: status 0 means that
  // every one of its frames went out.
  ChildProcess cangen(
      {cangenProgram, kVcan, "-g", "0", "-I", "123", "-L", "8", "-D", "i", "-n", std::to_string(kFlood)});
  ASSERT_TRUE(cangen.started());
  ASSERT_TRUE(waitUntil([&] { return floodCount() > 0; }, 10s)) << "no flood: " << cangen.output();

  int failed = 0;
  std::string firstFailure;
  for (int i = 0; i < kReads; ++i) {
    od::ObjectEntry e = entry(0x1000, 0);
    e.direction = od::kRead;
    e.value = 0;
    std::string failure = failureOf(e);
    if (failure.empty() && e.value != 0x00020192) failure = "value " + std::to_string(e.value);
    if (!failure.empty() && failed++ == 0) firstFailure = "read " + std::to_string(i) + ": " + failure;
  }
  EXPECT_EQ(failed, 0) << firstFailure;
  EXPECT_LT(cangen.wait(0ms), 0) << "the flood was over before the reads were";

  while (cangen.wait(1ms) < 0) floodCount();  // the monitor ticks on while the flood goes on
  EXPECT_EQ(cangen.wait(0ms), 0) << cangen.output();
  // The last frames may still be in the socket or the ring: count on while the count grows.
  std::uint64_t counted = floodCount();
  for (auto quietUntil = std::chrono::steady_clock::now() + 2s;
       counted < kFlood && std::chrono::steady_clock::now() < quietUntil;) {
    std::this_thread::sleep_for(1ms);
    if (const std::uint64_t now = floodCount(); now != counted) {
      counted = now;
      quietUntil = std::chrono::steady_clock::now() + 2s;
    }
  }
  // Counted and dropped frames must add up to what cangen sent: both ways of losing one fail here.
  EXPECT_EQ(counted, kFlood) << "kernel drops " << driver().kernelDrops() << ", receive buffer "
                             << driver().receiveBufferBytes() << " bytes, ring of " << session.ring.capacity()
                             << " frames";
  EXPECT_EQ(driver().kernelDrops(), 0u);
}

}  // namespace
}  // namespace bp::test
