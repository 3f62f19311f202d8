// The SocketCAN driver on the kernel's vcan0, against a second raw socket on the same interface.
// The executable skips itself (exit 77) where no vcan0 exists.
#include "can/drivers/SocketCanDriver.h"

#include <dirent.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>
#include <vector>

#include "can/BitRate.h"
#include "socketcan/BusTools.h"
#include "support/FrameText.h"

namespace bp::can {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr const char* kInterface = "vcan0";
constexpr std::uint16_t k500k = 0x001C;

// A plain raw CAN socket on the same interface: the other station on the bus.
class Peer {
 public:
  Peer() {
    m_fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    const can_err_mask_t errors = CAN_ERR_MASK;
    ::setsockopt(m_fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errors, sizeof errors);
    sockaddr_can addr{};
    addr.can_family = AF_CAN;
    addr.can_ifindex = static_cast<int>(if_nametoindex(kInterface));
    m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Peer() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool ok() const { return m_bound; }
  // Sends, retrying while the kernel's transmit queue is full.
  bool send(const can_frame& k) {
    for (int tries = 0; tries < 100000; ++tries) {
      if (::write(m_fd, &k, sizeof k) == static_cast<ssize_t>(sizeof k)) return true;
      if (errno != ENOBUFS && errno != EAGAIN) return false;
      std::this_thread::yield();
    }
    return false;
  }
  // The next frame, waiting up to `ms`; false when none came.
  bool receive(can_frame& k, int ms = 2000) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return false;
    return ::read(m_fd, &k, sizeof k) == static_cast<ssize_t>(sizeof k);
  }

 private:
  int m_fd = -1;
  bool m_bound = false;
};

can_frame kernelFrame(canid_t id, std::initializer_list<std::uint8_t> bytes, std::uint8_t dlc = 0xFF) {
  can_frame k{};
  k.can_id = id;
  std::size_t i = 0;
  for (std::uint8_t b : bytes) k.data[i++] = b;
  k.can_dlc = dlc == 0xFF ? static_cast<std::uint8_t>(bytes.size()) : dlc;
  return k;
}

using test::readWithin;

int openDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}

class SocketCanTest : public ::testing::Test {
 protected:
  SocketCanDriver driver{kInterface};
  Peer peer;
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    ASSERT_EQ(driver.open(k500k, 0), kOk);
  }
};

TEST(SocketCanOpen, AcceptsAllNineTableCodesOnVcan) {
  SocketCanDriver d(kInterface);
  for (const auto& row : kBitRateTable) {
    EXPECT_EQ(d.open(row.code, 0), kOk) << row.text;
    EXPECT_TRUE(d.isOpen());
    EXPECT_EQ(d.close(), kOk);
    EXPECT_FALSE(d.isOpen());
  }
}

TEST(SocketCanOpen, RefusesUnknownCodeAndLeavesTheBusClosed) {
  SocketCanDriver d(kInterface);
  ASSERT_EQ(d.open(k500k, 0), kOk);
  EXPECT_EQ(d.open(0x1234, 0), kErrIllegalParam);
  EXPECT_FALSE(d.isOpen());
  CanFrame f = test::frame("181#01");
  EXPECT_EQ(d.write(f), kErrNotOpen);
}

TEST(SocketCanOpen, RefusesInterfacesThatAreMissingOrNotCan) {
  for (const char* name : {"nosuchcan0", "lo", "", "../vcan0", "averyveryverylongname0"}) {
    SocketCanDriver d(name);
    EXPECT_EQ(d.open(k500k, 0), kErrNoInterface) << '"' << name << '"';
    EXPECT_FALSE(d.isOpen());
    char text[kVersionTextSize];
    if (std::string_view(name) != "lo") {
      EXPECT_EQ(d.versionText(text), kErrNoInterface) << name;
    }
  }
}

TEST(SocketCanOpen, AsksForAReceiveBufferForTwoSecondsOfAFullBus) {
  SocketCanDriver d(kInterface);
  ASSERT_EQ(d.open(k500k, 0), kOk);
  std::printf("[   INFO   ] receive buffer granted: %d bytes\n", d.receiveBufferBytes());
  // Root in the test VM may pass rmem_max: the kernel reports twice what was granted.
  EXPECT_GE(d.receiveBufferBytes(), SocketCanDriver::kWantedReceiveBuffer);
}

TEST(SocketCanInfo, VersionTextNamesInterfaceAndDriver) {
  SocketCanDriver d(kInterface);
  char text[kVersionTextSize];
  std::memset(text, 'x', sizeof text);
  ASSERT_EQ(d.versionText(text), kOk);
  EXPECT_STREQ(text, "SocketCAN vcan0 (vcan)");
}

TEST(SocketCanInfo, FirstUsableInterfaceIsAnUpCanLink) {
  const std::string name = SocketCanDriver::firstUsableInterface();
  std::printf("[   INFO   ] first usable interface: \"%s\"\n", name.c_str());
  ASSERT_FALSE(name.empty());  // vcan0 is up
  // Where no can* interface is up, vcan0 comes before vcan1.
  if (!std::filesystem::exists("/sys/class/net/can0")) {
    EXPECT_EQ(name, "vcan0");
  }
}

// Frames from the other station, one of each kind, mapped field by field.
TEST_F(SocketCanTest, ReadMapsEachKindOfKernelFrame) {
  struct Row {
    const char* name;
    can_frame sent;
    std::uint8_t type;
    std::uint32_t id;
    std::uint8_t len;
  };
  const Row rows[] = {
      {"standard data, 8 bytes", kernelFrame(0x181, {1, 2, 3, 4, 5, 6, 7, 0xFF}), kMsgData, 0x181, 8},
      {"standard data, empty", kernelFrame(0x7FF, {}), kMsgData, 0x7FF, 0},
      {"standard remote request", kernelFrame(0x705 | CAN_RTR_FLAG, {}, 1), kMsgRemote, 0x705, 1},
      {"extended data", kernelFrame(0x1ABCDEF | CAN_EFF_FLAG, {0xAA, 0xBB}), kMsgExtended, 0x1ABCDEF, 2},
      {"extended remote request", kernelFrame(0x123 | CAN_EFF_FLAG | CAN_RTR_FLAG, {}, 0),
       kMsgExtended | kMsgRemote, 0x123, 0},
      {"error frame", kernelFrame(CAN_ERR_FLAG | CAN_ERR_CRTL, {0, CAN_ERR_CRTL_RX_OVERFLOW, 0, 0, 0, 0, 0, 0}),
       kMsgError, CAN_ERR_CRTL, 8},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(peer.send(r.sent));
    CanFrame f;
    ASSERT_EQ(readWithin(driver, f), kOk);
    EXPECT_EQ(f.type, r.type);
    EXPECT_EQ(f.id, r.id);
    EXPECT_EQ(f.len, r.len);
    const bool remote = (r.type & kMsgRemote) != 0;
    for (std::size_t i = 0; i < 8; ++i)
      EXPECT_EQ(f.data[i], (!remote && i < r.len) ? r.sent.data[i] : 0) << "byte " << i;
    EXPECT_EQ(f.pad[0], 0);
    EXPECT_EQ(f.pad[1], 0);
  }
}

TEST_F(SocketCanTest, WriteReachesTheOtherStationByteForByte) {
  struct Row {
    const char* name;
    const char* text;
    std::uint8_t type;
    canid_t wantId;
  };
  const Row rows[] = {
      {"SDO request", "605#40.00.10.00.00.00.00.00", kMsgData, 0x605},
      {"empty frame", "000#", kMsgData, 0x000},
      {"highest standard identifier", "7FF#01.02.0A", kMsgData, 0x7FF},
      {"guarding remote request", "705#R", kMsgRemote, 0x705 | CAN_RTR_FLAG},
      {"extended identifier", "1FFFFFFF#DE.AD", kMsgExtended, 0x1FFFFFFF | CAN_EFF_FLAG},
      {"extended remote", "1ABCDEF#R", kMsgExtended | kMsgRemote, 0x1ABCDEF | CAN_EFF_FLAG | CAN_RTR_FLAG},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CanFrame f = test::frame(r.text);
    f.type = r.type;
    ASSERT_EQ(driver.write(f), kOk);
    can_frame k{};
    ASSERT_TRUE(peer.receive(k));
    EXPECT_EQ(k.can_id, r.wantId);
    EXPECT_EQ(k.can_dlc, f.len);
    for (std::size_t i = 0; i < f.len; ++i) EXPECT_EQ(k.data[i], f.data[i]) << "byte " << i;
  }
}

TEST_F(SocketCanTest, BothWaysInOneConversation) {
  // Request out, answer in, as an SDO upload would run.
  ASSERT_EQ(driver.write(test::frame("605#40.18.10.01.00.00.00.00")), kOk);
  can_frame request{};
  ASSERT_TRUE(peer.receive(request));
  ASSERT_EQ(request.can_id, 0x605u);
  ASSERT_TRUE(peer.send(kernelFrame(0x585, {0x43, 0x18, 0x10, 0x01, 0x78, 0x56, 0x34, 0x12})));
  CanFrame answer;
  ASSERT_EQ(readWithin(driver, answer), kOk);
  EXPECT_EQ(test::frameText(answer), "585#4318100178563412");
  CanFrame none;
  EXPECT_EQ(driver.read(none), kErrQueueEmpty);  // its own frame does not come back
}

TEST_F(SocketCanTest, WriteRefusesWhatTheRecordCannotCarry) {
  CanFrame tooLong = test::frame("181#01.02.03.04.05.06.07.08");
  tooLong.len = 9;
  CanFrame wideStandard = test::frame("800#01");
  CanFrame wideExtended = test::frame("20000000#01");
  wideExtended.type = kMsgExtended;
  CanFrame errorType = test::frame("181#01");
  errorType.type = kMsgError;
  for (const CanFrame& f : {tooLong, wideStandard, wideExtended, errorType})
    EXPECT_EQ(driver.write(f), kErrIllegalParam) << test::frameText(f);
  can_frame k{};
  EXPECT_FALSE(peer.receive(k, 50));
}

TEST_F(SocketCanTest, ReadOnAnEmptyQueueReturnsAtOnce) {
  CanFrame f;
  const auto t0 = Steady::now();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(driver.read(f), kErrQueueEmpty);
  EXPECT_LT(Steady::now() - t0, 500ms);  // 100 reads, none waited
}

TEST_F(SocketCanTest, ClosedDriverRefusesReadAndWrite) {
  ASSERT_EQ(driver.close(), kOk);
  EXPECT_EQ(driver.close(), kOk);  // twice is harmless
  CanFrame f = test::frame("181#01");
  EXPECT_EQ(driver.write(f), kErrNotOpen);
  EXPECT_EQ(driver.read(f), kErrNotOpen);
  ASSERT_EQ(driver.open(k500k, 0), kOk);  // and it opens again
  EXPECT_EQ(driver.write(f), kOk);
}

// The window thread opens, writes and closes while the reader's thread reads without pause:
// no crash, no read on a closed descriptor (which could belong to another file by then), and
// no descriptor left behind.
TEST(SocketCanThreads, ReopenWhileAnotherThreadReads) {
  Peer peer;
  ASSERT_TRUE(peer.ok());
  const int fdsBefore = openDescriptors();
  constexpr int kCycles = 3000;
  {
    SocketCanDriver d(kInterface);
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, frames{0}, faults{0};
    std::thread reader([&] {
      CanFrame f;
      while (!stop.load(std::memory_order_relaxed)) {
        const std::uint32_t r = d.read(f);
        if (r == kOk) ++frames;
        else if (r != kErrQueueEmpty && r != kErrNotOpen) ++faults;  // EBADF would land here
        ++reads;
      }
    });
    int opens = 0, writes = 0;
    for (int i = 0; i < kCycles; ++i) {
      if (d.open(kBitRateTable[static_cast<std::size_t>(i) % kBitRateTable.size()].code, 0) == kOk) ++opens;
      if (d.write(test::frame("181#01")) == kOk) ++writes;
      if (i % 4 == 0) peer.send(kernelFrame(0x182, {static_cast<std::uint8_t>(i)}));
      d.close();
    }
    stop.store(true);
    reader.join();
    std::printf("[   INFO   ] %d open/close cycles, %d writes, %ld reads (%ld frames) on the other thread\n",
                opens, writes, reads.load(), frames.load());
    EXPECT_EQ(opens, kCycles);
    EXPECT_EQ(writes, kCycles);
    EXPECT_EQ(faults.load(), 0);
    EXPECT_GT(reads.load(), kCycles);
  }
  EXPECT_EQ(openDescriptors(), fdsBefore);
}

// 20,000 frames arrive while nobody reads (a window busy for a while): the receive queue holds
// them all, and they come back complete and in order.
TEST_F(SocketCanTest, BurstWaitsInTheKernelQueueUntilRead) {
  constexpr std::uint32_t kBurst = 20'000;
  for (std::uint32_t i = 0; i < kBurst; ++i) {
    can_frame k = kernelFrame(0x200 + (i % 0x100), {0, 0, 0, 0, 0x5A});
    std::memcpy(k.data, &i, 4);
    ASSERT_TRUE(peer.send(k)) << i;
  }
  std::uint32_t got = 0;
  bool inOrder = true;
  CanFrame f;
  while (readWithin(driver, f, 500ms) == kOk) {
    std::uint32_t seq;
    std::memcpy(&seq, f.data.data(), 4);
    if (seq != got || f.id != 0x200 + (got % 0x100) || f.len != 5 || f.data[4] != 0x5A) inOrder = false;
    ++got;
  }
  std::printf("[   INFO   ] burst of %u frames: %u read back, kernel drops reported: %u\n", kBurst, got,
              driver.kernelDrops());
  EXPECT_EQ(got, kBurst);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(driver.kernelDrops(), 0u);
}

// Beyond what the queue holds the kernel drops frames; once the queue has been read empty the
// driver's count has every one of them, even with no frame after the burst: what was read plus
// what was dropped is what was sent.
TEST_F(SocketCanTest, KernelDropCountAccountsForAnOverflow) {
  const int bytes = driver.receiveBufferBytes();
  // About 900 bytes of kernel memory per frame; send well beyond that.
  const std::uint32_t burst = static_cast<std::uint32_t>(bytes / 600) + 5000;
  for (std::uint32_t i = 0; i < burst; ++i) ASSERT_TRUE(peer.send(kernelFrame(0x300, {1})));
  std::uint32_t got = 0;
  CanFrame f;
  while (readWithin(driver, f, 500ms) == kOk) ++got;
  std::printf("[   INFO   ] %u frames into a %d-byte queue: %u read, %u dropped by the kernel\n", burst, bytes,
              got, driver.kernelDrops());
  EXPECT_GT(driver.kernelDrops(), 0u);
  EXPECT_EQ(got + driver.kernelDrops(), burst);
}

}  // namespace
}  // namespace bp::can
