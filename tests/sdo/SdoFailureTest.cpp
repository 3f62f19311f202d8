// How an SDO transfer fails: aborts, time-outs, send errors, too large; and late responses.
#include "SdoTestRig.h"

namespace bp::sdo::test {
namespace {

struct AbortCase {
  const char* name;
  const char* abortFrame;
  std::uint32_t code;
  const char* message;
};

constexpr AbortCase kAborts[] = {
    {"known code", "585#80.00.10.00.00.00.02.06", 0x06020000,
     "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary."},
    {"first row", "585#80.00.10.00.00.00.03.05", 0x05030000,
     "SDO Tranfer Abort : 0x05030000\nToggle bit not alternated."},
    {"multi-line text", "585#80.00.10.00.22.00.00.08", 0x08000022,
     "SDO Tranfer Abort : 0x08000022\nData cannot be transferred or stored to the application "
     "because of the\npresent device state."},
    {"unknown code", "585#80.00.10.00.78.56.34.12", 0x12345678,
     "SDO Tranfer Abort : 0x12345678\nUnknown error"},
    {"code with the top bit set", "585#80.00.10.00.EF.BE.AD.DE", 0xDEADBEEF,
     "SDO Tranfer Abort : 0xDEADBEEF\nUnknown error"},
};

TEST_F(SdoClientTest, AbortOfUploadGivesTwoLineMessageAndKeepsTheValue) {
  for (const auto& c : kAborts) {
    SCOPED_TRACE(c.name);
    node.expect("605#40.00.10.00.00.00.00.00").reply(c.abortFrame);
    auto e = makeEntry(0x1000, 0, od::kUnsigned32, od::kRead, 1);
    EXPECT_EQ(transfer(e), c.message);
    EXPECT_EQ(e.value, 1) << std::hex << c.code;
  }
}

// One answer that carries no value: the entry keeps the value it had.
TEST_F(SdoClientTest, AnswerWithoutDataKeepsTheValue) {
  struct Case {
    const char* name;
    std::uint8_t direction;
    const char* request;
    const char* answer;
    const char* message;
  };
  const Case cases[] = {
      {"abort of a download keeps the value to write", od::kWrite, "605#2B.00.10.00.0F.00.00.00",
       "585#80.00.10.00.02.00.01.06", "SDO Tranfer Abort : 0x06010002\nAttempt to write a read only object."},
      {"read answered with a download response completes", od::kRead, "605#40.00.10.00.00.00.00.00",
       "585#60.00.10.00.11.22.33.44", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    node.expect(c.request).reply(c.answer);
    auto e = makeEntry(0x1000, 0, od::kUnsigned16, c.direction, 15);
    EXPECT_EQ(transfer(e), c.message);
    EXPECT_EQ(e.value, 15);
  }
}

TEST_F(SdoClientTest, AbortDuringSegmentedUploadKeepsSegmentsOutOfTheEntry) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.0A.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#80.08.10.00.00.00.04.05");
  auto e = makeEntry(0x1008, 0, od::kVisibleString, od::kRead, 9);
  e.textValue = "before";
  EXPECT_EQ(transfer(e), "SDO Tranfer Abort : 0x05040000\nSDO protocol timed out.");
  EXPECT_EQ(e.textValue, "before");
  EXPECT_EQ(e.value, 9);
  // An integer whose first segment arrived before the abort.
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#41.00.10.00.04.00.00.00");
  node.expect("605#60.00.10.00.00.00.00.00").reply("585#06.11.22.33.44.00.00.00");
  node.expect("605#70.00.10.00.00.00.00.00").reply("585#80.00.10.00.00.00.04.05");
  auto n = makeEntry(0x1000, 0, od::kUnsigned32, od::kRead, 9);
  EXPECT_EQ(transfer(n), "SDO Tranfer Abort : 0x05040000\nSDO protocol timed out.");
  EXPECT_EQ(n.value, 9);
}

TEST_F(SdoClientTest, MismatchedAbortIsIgnoredAndTheTransferTimesOut) {
  node.expect("605#40.00.10.00.00.00.00.00")
      .reply("585#80.00.10.01.00.00.02.06")   // sub-index 1
      .reply("585#80.01.10.00.00.00.02.06");  // index 0x1001
  auto e = makeEntry(0x1000, 0, od::kUnsigned32, od::kRead, 3, "Device type");
  EXPECT_EQ(transfer(e), "SDO Transfer timeout\nDevice type\n4096 subindex 0");
  EXPECT_EQ(e.value, 3);
  EXPECT_EQ(driver.queued(), 0u);  // both were consumed
}

TEST_F(SdoClientTest, TimeoutMessageUsesSignedDecimals) {
  node.expect("605#40.FF.FF.FF.00.00.00.00");
  auto e = makeEntry(0xFFFF, -1, od::kUnsigned8, od::kRead, 0, "Odd one");
  EXPECT_EQ(transfer(e), "SDO Transfer timeout\nOdd one\n65535 subindex -1");
}

// The answer comes `delay` ms after the request; the wait gives up after 250 ms.
struct Deadline {
  const char* name;
  std::uint32_t start;
  std::uint32_t delay;
  bool finishes;
};
constexpr Deadline kDeadlines[] = {
    {"answer at 249 ms", 1000, 249, true},
    {"answer in the pass that reaches 250 ms wins", 1000, 250, true},
    {"answer at 251 ms is too late", 1000, 251, false},
    {"tick count wraps during the wait", 0xFFFFFF00u, 250, true},
    {"tick count wraps, too late", 0xFFFFFF00u, 251, false},
};

TEST_F(SdoClientTest, TimeoutIs250MsFromTheRequest) {
  for (const auto& c : kDeadlines) {
    SCOPED_TRACE(c.name);
    clock.set(c.start);
    passes = 0;
    node.expect("605#40.00.10.00.00.00.00.00").reply("585#43.00.10.00.07.00.00.00", c.delay);
    auto e = makeEntry(0x1000, 0, od::kUnsigned32, od::kRead, 0, "Device type");
    const std::string error = transfer(e);
    if (c.finishes) {
      EXPECT_EQ(error, "");
      EXPECT_EQ(e.value, 7);
    } else {
      EXPECT_EQ(error, "SDO Transfer timeout\nDevice type\n4096 subindex 0");
      EXPECT_EQ(e.value, 0);
      EXPECT_EQ(passes, 250);
    }
    readerRunning = true;
    clock.advance(10);
    node.releaseDue();
    reader.runOnce();  // drop an answer that came too late
  }
}

TEST_F(SdoClientTest, WithoutReaderEveryTransferTimesOut) {
  readerRunning = false;
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#43.00.10.00.07.00.00.00");
  node.expect("605#80.00.10.00.00.00.04.05");
  node.expect("605#2B.40.60.00.06.00.00.00").reply("585#60.40.60.00.00.00.00.00");
  node.expect("605#80.40.60.00.00.00.04.05");
  auto read = makeEntry(0x1000, 0, od::kUnsigned32, od::kRead, 1, "Device type");
  auto write = makeEntry(0x6040, 0, od::kUnsigned16, od::kWrite, 6, "Controlword");
  EXPECT_EQ(transfer(read), "SDO Transfer timeout\nDevice type\n4096 subindex 0");
  EXPECT_EQ(transfer(write), "SDO Transfer timeout\nControlword\n24640 subindex 0");
  EXPECT_EQ(read.value, 1);
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, ResponseAfterTimeoutChangesNothing) {
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#43.00.10.00.07.00.00.00", 300);
  auto e = makeEntry(0x1000, 0, od::kUnsigned32, od::kRead, 1, "Device type");
  ASSERT_EQ(transfer(e), "SDO Transfer timeout\nDevice type\n4096 subindex 0");
  clock.advance(100);
  node.releaseDue();
  ASSERT_EQ(driver.queued(), 1u);
  reader.runOnce();
  EXPECT_EQ(driver.queued(), 0u);  // consumed
  EXPECT_EQ(ring->size(), 0);      // not stored
  EXPECT_EQ(e.value, 1);

  // The next transfer is not disturbed by it.
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#43.00.10.00.08.00.00.00");
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 8);
}

TEST_F(SdoClientTest, LateResponseForAReleasedRecordTouchesNothing) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.05.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#0B.41.42.00.00.00.00.00", 260);
  auto e = std::make_unique<od::ObjectEntry>(makeEntry(0x1008, 0, od::kVisibleString));
  ASSERT_NE(transfer(*e), "");
  e.reset();  // the record is released, as an EDS load does
  clock.advance(100);
  node.releaseDue();
  reader.runOnce();
  EXPECT_EQ(driver.queued(), 0u);
}

TEST_F(SdoClientTest, TimedOutSegmentedUploadKeepsTheOldText) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.0A.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#00.41.42.43.44.45.46.47");
  node.expect("605#70.08.10.00.00.00.00.00");  // no answer
  node.expect("605#80.08.10.00.00.00.04.05");  // the client's time-out, 0x05040000
  auto e = makeEntry(0x1008, 0, od::kVisibleString, od::kRead, 0, "Name");
  e.textValue = "old";
  EXPECT_EQ(transfer(e), "SDO Transfer timeout\nName\n4104 subindex 0");
  EXPECT_EQ(e.textValue, "old");
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, TooLargeFailsWithoutSegmentRequestAndReaderGoesOn) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.01.01.00.00");  // 257
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  e.textValue = "old";
  EXPECT_EQ(transfer(e), "SDO Transfer error, SDO too large");
  EXPECT_EQ(written(), (std::vector<std::string>{"605#4008100000000000", "605#8008100005000405"}));
  EXPECT_EQ(e.textValue, "old");

  // The reader still stores other frames and hands on the next responses.
  driver.push(frame("181#01.02"));
  reader.runOnce();
  EXPECT_EQ(ring->size(), 1);
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.02.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#0B.4F.4B.00.00.00.00.00");
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "OK");
}

TEST_F(SdoClientTest, SendFailureOfInitiateFailsAtOnce) {
  const std::uint32_t codes[] = {1, 256, 0xFFFFFFFFu};
  const char* messages[] = {"Error sending message, errorcode = 1",
                            "Error sending message, errorcode = 256",
                            "Error sending message, errorcode = 4294967295"};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(messages[i]);
    driver.writeResult = codes[i];
    passes = 0;
    auto e = makeEntry(0x6040, 0, od::kUnsigned16, od::kWrite, 6);
    EXPECT_EQ(transfer(e), messages[i]);
    EXPECT_EQ(passes, 0);  // no wait at all
    EXPECT_EQ(e.value, 6);
  }
  // The engine is ready for the next transfer.
  driver.writeResult = 0;
  node.expect("605#2B.40.60.00.06.00.00.00").reply("585#60.40.60.00.00.00.00.00");
  auto e = makeEntry(0x6040, 0, od::kUnsigned16, od::kWrite, 6);
  EXPECT_EQ(transfer(e), "");
}

TEST_F(SdoClientTest, SendFailureOfSegmentRequestFailsTheTransfer) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.0A.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#00.41.42.43.44.45.46.47").thenFailWrites(128);
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "Error sending message, errorcode = 128");
  EXPECT_EQ(written(), (std::vector<std::string>{"605#4008100000000000", "605#6008100000000000",
                                                 "605#7008100000000000"}));
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, FailedTransferDoesNotDisturbTheNext) {
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#80.00.10.00.00.00.02.06");
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#43.00.10.00.92.01.02.00");
  auto e = makeEntry(0x1000, 0, od::kUnsigned32);
  EXPECT_NE(transfer(e), "");
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 0x00020192);
}

}  // namespace
}  // namespace bp::sdo::test
