// The ordinal-bound adapter driver against the stand-in libraries built with the tests:
// binding, bit-rate codes, the frame record byte for byte, pass-through of the library's results,
// missing library and missing ordinal, and a read racing writes, closes and opens.
#include "can/drivers/PcanUsbDriver.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "can/BitRate.h"
#include "pcan_stub/PcanStub.h"
#include "support/FrameText.h"

namespace bp::can {
namespace {

using Record = std::array<std::uint8_t, kFrameRecordSize>;
using namespace bp::stub;
using test::frame;

constexpr const char* kNoWriteLibrary = "pcan_stub_nowrite.dll";

// The stand-in's test hooks, reached by name through a reference of our own to the library the
// driver loaded (same module, same loopback bus).
class StandIn {
 public:
  StandIn() : m_module(LoadLibraryA(PcanUsbDriver::kDefaultLibraryName)) {
    if (m_module == nullptr) return;
    m_inject = hook<StubInjectFrameFn>("StubInjectFrame");
    m_lastOpenCode = hook<StubLastOpenCodeFn>("StubLastOpenCode");
    m_lastWritten = hook<StubLastWrittenFn>("StubLastWritten");
    m_openCalls = hook<StubOpenCallsFn>("StubOpenCalls");
  }
  ~StandIn() {
    if (m_module != nullptr) FreeLibrary(m_module);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  bool loaded() const {
    return m_module != nullptr && m_inject != nullptr && m_lastOpenCode != nullptr &&
           m_lastWritten != nullptr && m_openCalls != nullptr;
  }
  HMODULE module() const { return m_module; }
  std::uint32_t inject(const Record& r) const { return m_inject(r.data()); }
  std::uint32_t lastOpenCode() const { return m_lastOpenCode(); }
  std::uint32_t openCalls() const { return m_openCalls(); }
  Record lastWritten() const {
    Record r{};
    r.fill(0xEE);
    EXPECT_EQ(m_lastWritten(r.data()), 0u) << "nothing was written";
    return r;
  }

 private:
  template <class Fn>
  Fn hook(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
  }
  HMODULE m_module;
  StubInjectFrameFn m_inject = nullptr;
  StubLastOpenCodeFn m_lastOpenCode = nullptr;
  StubLastWrittenFn m_lastWritten = nullptr;
  StubOpenCallsFn m_openCalls = nullptr;
};

class PcanUsb : public ::testing::Test {
 protected:
  PcanUsbDriver driver;  // the default library name: the stand-in beside the test program
  StandIn standIn;

  void SetUp() override {
    ASSERT_EQ(driver.loadError(), kOk) << "pcan_usb.dll stand-in not found beside the test program";
    ASSERT_TRUE(standIn.loaded());
    ASSERT_EQ(driver.open(0x001C, 0), kOk);
  }
  void TearDown() override { driver.close(); }  // the stand-in's bus outlives the test
};

// ---- binding ----

TEST_F(PcanUsb, OperationsAreExportedByOrdinalOnly) {
  // The stand-in has no names for the five operations, so the driver can only have bound them by
  // ordinal; and the ordinals are exactly the ones it calls.
  for (const char* name : {"StubClose", "StubOpen", "StubRead", "StubVersion", "StubWrite"})
    EXPECT_EQ(GetProcAddress(standIn.module(), name), nullptr) << name;
  for (int ordinal : {1, 2, 3, 6, 7})
    EXPECT_NE(GetProcAddress(standIn.module(), MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
  for (int ordinal : {4, 5})
    EXPECT_EQ(GetProcAddress(standIn.module(), MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
}

TEST_F(PcanUsb, OpensAtEveryBitRateCode) {
  for (const auto& row : kBitRateTable) {
    SCOPED_TRACE(std::string(row.text));
    EXPECT_EQ(driver.close(), kOk);
    const std::uint32_t callsBefore = standIn.openCalls();
    EXPECT_EQ(driver.open(row.code, 0), kOk);
    EXPECT_EQ(standIn.openCalls(), callsBefore + 1);
    EXPECT_EQ(standIn.lastOpenCode(), row.code);  // BTR0 high, BTR1 low, as one 16-bit argument
    EXPECT_EQ(driver.write(frame("123#01")), kOk);
    CanFrame back;
    EXPECT_EQ(driver.read(back), kOk);
  }
}

TEST_F(PcanUsb, LibraryResultsPassThroughUnchanged) {
  driver.close();
  EXPECT_EQ(driver.open(0x1234, 0), kStubIllegalParam);  // a code outside the table
  EXPECT_EQ(standIn.lastOpenCode(), 0x1234u);
  EXPECT_EQ(driver.open(0x001C, 1), kStubIllegalParam);  // frame type other than 0
  CanFrame f;
  EXPECT_EQ(driver.read(f), kStubNotOpen);
  EXPECT_EQ(driver.write(frame("123#01")), kStubNotOpen);
  EXPECT_EQ(driver.open(0x001C, 0), kOk);
  EXPECT_EQ(driver.read(f), kStubQueueEmpty);
  CanFrame tooLong = frame("123#0102030405060708");
  tooLong.len = 9;
  EXPECT_EQ(driver.write(tooLong), kStubIllegalParam);
}

TEST_F(PcanUsb, VersionTextComesFromTheLibrary) {
  char buffer[kVersionTextSize];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(driver.versionText(buffer), kOk);
  EXPECT_STREQ(buffer, kStubVersionText);
}

// ---- the frame record ----

struct RecordCase {
  const char* name;
  CanFrame frame;
  Record bytes;  // written by hand: identifier LE, type, length, 8 data bytes, 2 padding bytes
};

CanFrame withPadding(CanFrame f, std::uint8_t a, std::uint8_t b) {
  f.pad = {a, b};
  return f;
}

const RecordCase kRecords[] = {
    {"SDO request, 8 bytes", frame("605#40.08.10.00.00.00.00.00"),
     {0x05, 0x06, 0, 0, 0, 8, 0x40, 0x08, 0x10, 0, 0, 0, 0, 0, 0, 0}},
    {"all data bytes distinct", frame("7FF#11.22.33.44.55.66.77.88"),
     {0xFF, 0x07, 0, 0, 0, 8, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0, 0}},
    {"remote request, no data", frame("705#R"),
     {0x05, 0x07, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"empty data frame (SYNC)", frame("080#"),
     {0x80, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"identifier uses all four bytes", frame("1ABCDEF0#01.02"),
     {0xF0, 0xDE, 0xBC, 0x1A, 0, 2, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"padding bytes travel as they are", withPadding(frame("000#01.05"), 0xA5, 0x5A),
     {0, 0, 0, 0, 0, 2, 0x01, 0x05, 0, 0, 0, 0, 0, 0, 0xA5, 0x5A}},
};

TEST_F(PcanUsb, WriteHandsTheLibraryTheRecordByteForByte) {
  for (const auto& c : kRecords) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(driver.write(c.frame), kOk);
    EXPECT_EQ(standIn.lastWritten(), c.bytes);
    CanFrame back;  // the loopback bus delivers it again
    ASSERT_EQ(driver.read(back), kOk);
    EXPECT_EQ(back, c.frame);
  }
}

TEST_F(PcanUsb, ReadDecodesTheLibrarysRecordByteForByte) {
  for (const auto& c : kRecords) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(standIn.inject(c.bytes), kOk);
    CanFrame got = frame("7FF#FF.FF.FF.FF.FF.FF.FF.FF");  // every field overwritten
    ASSERT_EQ(driver.read(got), kOk);
    EXPECT_EQ(got, c.frame);
  }
}

TEST_F(PcanUsb, FailedReadLeavesTheFrameAsItWas) {
  const CanFrame before = frame("321#AA.BB");
  CanFrame f = before;
  EXPECT_EQ(driver.read(f), kStubQueueEmpty);
  EXPECT_EQ(f, before);
  driver.close();
  EXPECT_EQ(driver.read(f), kStubNotOpen);
  EXPECT_EQ(f, before);
}

TEST_F(PcanUsb, BoundedQueueRefusesTheFrameThatFindsItFull) {
  for (unsigned i = 0; i < kStubQueueSize; ++i) {
    CanFrame f = frame("100#00");
    f.data[0] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(driver.write(f), kOk) << i;
  }
  EXPECT_EQ(driver.write(frame("100#FF")), kStubQueueFull);
  for (unsigned i = 0; i < kStubQueueSize; ++i) {
    CanFrame f;
    ASSERT_EQ(driver.read(f), kOk) << i;
    EXPECT_EQ(f.data[0], i);  // in the order written
  }
  CanFrame f;
  EXPECT_EQ(driver.read(f), kStubQueueEmpty);
}

TEST_F(PcanUsb, CloseDropsQueuedFramesAndReopenStartsEmpty) {
  ASSERT_EQ(driver.write(frame("181#01")), kOk);
  EXPECT_EQ(driver.close(), kOk);
  EXPECT_EQ(driver.open(0x0014, 0), kOk);
  CanFrame f;
  EXPECT_EQ(driver.read(f), kStubQueueEmpty);
}

// ---- the reader's thread against the window thread ----

// The reader reads without pause while this thread writes numbered frames and now and then closes
// and re-opens the bus beneath it. Every frame read must be one that was written, whole, and in
// the order written; frames queued at a close are lost, never garbled or repeated.
TEST_F(PcanUsb, ReadRacesWriteCloseAndOpen) {
  constexpr std::uint32_t kFrames = 3000;
  std::vector<std::uint32_t> seen;  // the reader's thread only, until it is joined
  seen.reserve(kFrames);
  std::atomic<std::uint32_t> lastSeen{0};  // written by the reader only
  std::atomic<bool> stop{false};           // written by this thread only
  bool garbled = false;                    // the reader's thread only, until it is joined
  std::thread reader([&] {
    CanFrame f;
    while (!stop.load(std::memory_order_acquire)) {
      while (driver.read(f) == kOk) {
        const std::uint32_t n = f.data[0] | (f.data[1] << 8) | (f.data[2] << 16);
        const bool whole = f.id == 0x200u + (n & 0xFF) && f.len == 8 && f.type == kMsgData &&
                           f.data[3] == static_cast<std::uint8_t>(~n) && f.data[7] == 0x5A;
        if (!whole) garbled = true;
        seen.push_back(n);
        lastSeen.store(n, std::memory_order_release);
      }
    }
  });
  std::uint32_t written = 0, refused = 0;
  for (std::uint32_t n = 0; n < kFrames; ++n) {
    if (n % 250 == 249) {
      driver.close();
      driver.open(kBitRateTable[n / 250 % kBitRateTable.size()].code, 0);
    }
    CanFrame f = frame("200#00.00.00.00.00.00.00.5A");
    f.id = 0x200 + (n & 0xFF);
    f.data[0] = static_cast<std::uint8_t>(n);
    f.data[1] = static_cast<std::uint8_t>(n >> 8);
    f.data[2] = static_cast<std::uint8_t>(n >> 16);
    f.data[3] = static_cast<std::uint8_t>(~n);
    std::uint32_t result;
    int tries = 0;
    while ((result = driver.write(f)) == kStubQueueFull && ++tries < 100'000) std::this_thread::yield();
    if (result == kOk) ++written; else ++refused;
  }
  // The last frame came after the last close, so it is never lost: wait for it, then stop.
  for (int i = 0; i < 5000 && lastSeen.load(std::memory_order_acquire) != kFrames - 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop.store(true, std::memory_order_release);
  reader.join();

  EXPECT_FALSE(garbled);
  EXPECT_EQ(refused, 0u);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), kFrames - 1);
  EXPECT_LE(seen.size(), written);
  EXPECT_GT(seen.size(), kFrames / 2);
  for (std::size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]) << "at " << i;
}

// ---- the library missing, an ordinal missing, and the module's lifetime ----

struct LoadFailure {
  const char* name;
  const char* library;
  std::uint32_t openResult;
};

const LoadFailure kLoadFailures[] = {
    {"library missing", "busprobe_no_such_adapter_library.dll", kErrLibraryMissing},
    {"write ordinal (7) missing", kNoWriteLibrary, kErrOrdinalMissing},
};

TEST(PcanUsbLoading, UnusableLibraryFailsOpenAndEveryOtherCallWithoutCrashing) {
  for (const auto& c : kLoadFailures) {
    SCOPED_TRACE(c.name);
    PcanUsbDriver d(c.library);
    EXPECT_EQ(d.loadError(), c.openResult);
    EXPECT_EQ(d.libraryName(), c.library);
    EXPECT_EQ(d.open(0x001C, 0), c.openResult);
    EXPECT_EQ(d.open(0x001C, 0), c.openResult);  // and again: nothing changes
    EXPECT_EQ(d.close(), kErrNotOpen);
    const CanFrame before = frame("123#01.02");
    CanFrame f = before;
    EXPECT_EQ(d.read(f), kErrNotOpen);
    EXPECT_EQ(f, before);
    EXPECT_EQ(d.write(frame("123#01")), kErrNotOpen);
    char buffer[kVersionTextSize];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(d.versionText(buffer), kErrNotOpen);
    EXPECT_STREQ(buffer, "");
  }
}

TEST(PcanUsbLoading, LibraryWithAMissingOrdinalIsReleasedAtOnce) {
  ASSERT_EQ(GetModuleHandleA(kNoWriteLibrary), nullptr);
  PcanUsbDriver d(kNoWriteLibrary);
  EXPECT_EQ(d.loadError(), kErrOrdinalMissing);
  EXPECT_EQ(GetModuleHandleA(kNoWriteLibrary), nullptr);
}

TEST(PcanUsbLoading, LibraryStaysLoadedUntilTheDriverIsDestroyed) {
  ASSERT_EQ(GetModuleHandleA(PcanUsbDriver::kDefaultLibraryName), nullptr)
      << "another test left the stand-in loaded";
  {
    PcanUsbDriver d;
    ASSERT_EQ(d.loadError(), kOk);
    ASSERT_EQ(d.open(0x001C, 0), kOk);
    EXPECT_EQ(d.close(), kOk);
    // Closed, yet still loaded: a read racing the close calls into a live module.
    EXPECT_NE(GetModuleHandleA(PcanUsbDriver::kDefaultLibraryName), nullptr);
    CanFrame f;
    EXPECT_EQ(d.read(f), kStubNotOpen);
  }
  EXPECT_EQ(GetModuleHandleA(PcanUsbDriver::kDefaultLibraryName), nullptr);
}

}  // namespace
}  // namespace bp::can
