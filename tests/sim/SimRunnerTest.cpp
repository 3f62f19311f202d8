// The simulated node on its own thread, and the node serving the built-in sample EDS.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "od/EdsReader.h"
#include "sim/DemoEds.h"
#include "sim/SimBench.h"
#include "support/FakeClock.h"
#include "util/LittleEndian.h"

namespace bp::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::optional<can::CanFrame> waitFrame(can::CanDriver& ep, std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  can::CanFrame f{};
  while (Clock::now() < until) {
    if (ep.read(f) == can::kOk) return f;
    std::this_thread::sleep_for(50us);
  }
  return std::nullopt;
}

struct Wire {
  std::shared_ptr<can::VirtualBus> bus = can::VirtualBus::create();
  std::unique_ptr<can::VirtualBusEndpoint> nodeEp = bus->endpoint();
  std::unique_ptr<can::VirtualBusEndpoint> master = bus->endpoint();
  Wire() {
    nodeEp->open(0x001C, 0);
    master->open(0x001C, 0);
  }
};

TEST(SimRunner, BootsAnswersAndStops) {
  Wire w;
  SimNode node(*w.nodeEp, 5, kTestEds);
  ASSERT_TRUE(node.start());
  EXPECT_FALSE(node.start()) << "already running";
  const auto boot = waitFrame(*w.master, 2000ms);
  ASSERT_TRUE(boot);
  EXPECT_EQ(bp::test::frameText(*boot), "705#00");

  for (int i = 0; i < 100; ++i) {
    w.master->write(bp::test::frame("605#40.00.10.00.00.00.00.00"));
    const auto answer = waitFrame(*w.master, 2000ms);
    ASSERT_TRUE(answer) << "request " << i;
    EXPECT_EQ(bp::test::frameText(*answer), norm("585#43.00.10.00.92.01.02.00"));
  }

  node.stop();
  EXPECT_FALSE(node.running());
  w.master->write(bp::test::frame("605#40.00.10.00.00.00.00.00"));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(w.master->queuedFrames(), 0u) << "no step runs after stop";

  // Started again, it answers what waited, without booting a second time.
  ASSERT_TRUE(node.start());
  const auto late = waitFrame(*w.master, 2000ms);
  ASSERT_TRUE(late);
  EXPECT_EQ(bp::test::frameText(*late), norm("585#43.00.10.00.92.01.02.00"));
  node.stop();
}

TEST(SimRunner, TimeComesFromTheGivenClock) {
  Wire w;
  bp::test::FakeClock clock(5000);
  SimNode node(*w.nodeEp, 5, kTestEds);
  ASSERT_TRUE(node.start(clock));
  ASSERT_TRUE(waitFrame(*w.master, 2000ms));  // boot-up
  w.master->write(bp::test::frame("605#2B.17.10.00.0A.00.00.00"));  // heartbeat 10 ms
  ASSERT_TRUE(waitFrame(*w.master, 2000ms));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(w.master->queuedFrames(), 0u) << "the clock stands still, so no heartbeat";
  clock.advance(10);
  const auto beat = waitFrame(*w.master, 2000ms);
  ASSERT_TRUE(beat);
  EXPECT_EQ(bp::test::frameText(*beat), "705#7F");
  node.stop();
}

TEST(SimRunner, TwoNodesOnOneBus) {
  Wire w;
  auto secondEp = w.bus->endpoint();
  secondEp->open(0x001C, 0);
  SimNode a(*w.nodeEp, 5, kTestEds);
  SimNode b(*secondEp, 6, kTestEds);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  std::vector<std::string> boots;
  for (int i = 0; i < 2; ++i) {
    const auto f = waitFrame(*w.master, 2000ms);
    ASSERT_TRUE(f);
    boots.push_back(bp::test::frameText(*f));
  }
  std::sort(boots.begin(), boots.end());
  EXPECT_EQ(boots, (std::vector<std::string>{"705#00", "706#00"}));

  w.master->write(bp::test::frame("000#01.00"));  // both operational
  w.master->write(bp::test::frame("606#40.00.12.02.00.00.00.00"));
  const auto answer = waitFrame(*w.master, 2000ms);
  ASSERT_TRUE(answer);
  EXPECT_EQ(bp::test::frameText(*answer), norm("586#43.00.12.02.86.05.00.00"));
  // Node 6's answer says nothing about when node 5's thread took the broadcast NMT command.
  const auto deadline = std::chrono::steady_clock::now() + 2000ms;
  while ((a.nmtState() != NmtState::kOperational || b.nmtState() != NmtState::kOperational) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  a.stop();
  b.stop();
  EXPECT_EQ(a.nmtState(), NmtState::kOperational);
  EXPECT_EQ(b.nmtState(), NmtState::kOperational);
}

// ---- the sample EDS ----

// A full upload by frames, as a client would run it; nullopt on an abort.
std::optional<std::vector<std::uint8_t>> upload(SimBench& b, std::uint16_t index, std::uint8_t sub) {
  char request[64];
  std::snprintf(request, sizeof request, "605#40.%02X.%02X.%02X.00.00.00.00", index & 0xFF, index >> 8, sub);
  const std::string first = b.sdo(request);
  if (first.empty()) return std::nullopt;
  auto answer = bp::test::frame(first);
  std::vector<std::uint8_t> out;
  if ((answer.data[0] & 0xE0) != 0x40) return std::nullopt;
  if (answer.data[0] & 0x02) {
    const int n = 4 - ((answer.data[0] >> 2) & 3);
    return std::vector<std::uint8_t>(answer.data.begin() + 4, answer.data.begin() + 4 + n);
  }
  std::uint8_t toggle = 0;
  for (int guard = 0; guard < 10000; ++guard) {  // 64 KiB take 9,363 segments
    std::snprintf(request, sizeof request, "605#%02X.00.00.00.00.00.00.00", 0x60 | toggle);
    const std::string next = b.sdo(request);
    if (next.empty()) return std::nullopt;
    answer = bp::test::frame(next);
    if ((answer.data[0] & 0xE0) != 0x00 || (answer.data[0] & 0x10) != toggle) return std::nullopt;
    const int n = 7 - ((answer.data[0] >> 1) & 7);
    out.insert(out.end(), answer.data.begin() + 1, answer.data.begin() + 1 + n);
    if (answer.data[0] & 0x01) return out;
    toggle ^= 0x10;
  }
  return std::nullopt;
}

TEST(SimDemoEds, ServesEveryObjectWithItsDefault) {
  od::ObjectDictionary dictionary;
  od::ReadEDSText(demoEdsText(), dictionary, '.', 5);
  SimBench b(demoEdsText());
  EXPECT_GT(b.node->objectCount(), 30u);

  int checked = 0;
  for (const od::ObjectEntry* head : dictionary.heads()) {
    for (const od::ObjectEntry* e = head; e != nullptr; e = e->next) {
      if (e->subIndex < 0) continue;
      const auto index = static_cast<std::uint16_t>(e->index);
      const auto sub = static_cast<std::uint8_t>(e->subIndex);
      SCOPED_TRACE(testing::Message() << std::hex << index << " sub " << int(sub));
      const auto got = upload(b, index, sub);
      if (e->access == od::kWriteOnly) {
        EXPECT_FALSE(got);
        continue;
      }
      ASSERT_TRUE(got);
      if (e->dataType == od::kVisibleString && index != 0x2500) {
        EXPECT_EQ(std::string(got->begin(), got->end()), e->textValue);
      } else if (od::isWideInteger(e->dataType)) {
        std::uint8_t want[8];
        storeLe64(want, static_cast<std::uint64_t>(e->defaultValue64));
        EXPECT_EQ(*got, std::vector<std::uint8_t>(want, want + got->size()));
      } else if (e->dataType == od::kReal64) {
        ASSERT_EQ(got->size(), 8u);
        EXPECT_EQ(std::bit_cast<double>(loadLe64(got->data())), e->defaultReal);
      } else if (e->dataType >= od::kBoolean && e->dataType <= od::kUnsigned32 && index != 0x6041 &&
                 e->defaultValue != 0) {
        EXPECT_EQ(loadLeN(got->data(), got->size()),
                  static_cast<std::uint32_t>(e->defaultValue) & (0xFFFFFFFFu >> (32 - 8 * got->size())));
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 30);
  // Node-ID expressions became COB-IDs of node 5; the drive starts switch on disabled.
  EXPECT_EQ(b.node->integerValue(0x1800, 1), 0x185);
  EXPECT_EQ(b.node->integerValue(0x1200, 2), 0x585);
  EXPECT_EQ(b.node->integerValue(0x6041, 0), 0x0040);
  // Content the EDS file cannot carry: 64 KiB of program data, byte i being i mod 251, and
  // 1,000 bytes of notes.
  const auto program = upload(b, 0x1F50, 1);
  ASSERT_TRUE(program);
  ASSERT_EQ(program->size(), 65536u);
  for (std::size_t i = 0; i < program->size(); i += 997) EXPECT_EQ((*program)[i], i % 251) << i;
  EXPECT_EQ(upload(b, 0x2500, 0)->size(), 1000u);
}

TEST(SimDemoEds, DriveRunsThroughProcessData) {
  SimBench b(demoEdsText());
  b.exchange("000#01.05");
  b.exchange({"205#06.00", "205#07.00", "205#0F.00"});
  b.sdo("605#23.7A.60.00.10.27.00.00");  // target 10000
  b.advance(100);
  const auto tpdo = b.exchange("080#");
  ASSERT_EQ(tpdo.size(), 1u);
  const auto f = bp::test::frame(tpdo[0]);
  EXPECT_EQ(f.id, 0x185u);
  EXPECT_EQ(loadLe16(&f.data[0]), 0x0027);
  EXPECT_GT(static_cast<std::int32_t>(loadLe32(&f.data[2])), 0) << "moving toward the target";
}

}  // namespace
}  // namespace bp::sim::test
