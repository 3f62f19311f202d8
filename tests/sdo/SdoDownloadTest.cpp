// SDO download (write) requests: the exact initiate frame per data type, and the refusals.
#include "SdoTestRig.h"
#include "od/ValueEncoding.h"
#include "sdo/SdoTransfer.h"

namespace bp::sdo::test {
namespace {

struct DownloadCase {
  const char* name;
  std::int8_t dataType;
  std::int32_t value;
  const char* request;
};

constexpr DownloadCase kDownloads[] = {
    {"UNSIGNED16 0x1234 sends 2 bytes", od::kUnsigned16, 0x1234, "605#2B.40.60.00.34.12.00.00"},
    {"UNSIGNED8 300 sends only the low byte", od::kUnsigned8, 300, "605#2F.40.60.00.2C.00.00.00"},
    {"INTEGER16 -1 sends FF FF and zeros", od::kInteger16, -1, "605#2B.40.60.00.FF.FF.00.00"},
    {"INTEGER8 -2 sends one byte", od::kInteger8, -2, "605#2F.40.60.00.FE.00.00.00"},
    {"BOOLEAN sends one byte", od::kBoolean, 0x101, "605#2F.40.60.00.01.00.00.00"},
    {"INTEGER32 sends 4 bytes LSB first", od::kInteger32, 0x12345678, "605#23.40.60.00.78.56.34.12"},
    {"UNSIGNED32 all ones", od::kUnsigned32, -1, "605#23.40.60.00.FF.FF.FF.FF"},
    {"REAL32 sends the 4 bytes of value", od::kReal32, 0x3FC00000, "605#23.40.60.00.00.00.C0.3F"},
    {"TIME_OF_DAY sends 4 bytes", od::kTimeOfDay, 0x01020304, "605#23.40.60.00.04.03.02.01"},
    {"TIME_DIFFERENCE sends 4 bytes", od::kTimeDifference, 0x0A0B0C0D, "605#23.40.60.00.0D.0C.0B.0A"},
    {"no data type sends 0x33 and no data", od::kTypeNone, 0x11223344, "605#33.40.60.00.00.00.00.00"},
};

TEST_F(SdoClientTest, DownloadSendsInitiateFrameByDataType) {
  for (const auto& c : kDownloads) {
    SCOPED_TRACE(c.name);
    driver.clearWritten();
    node.expect(c.request).reply("585#60.40.60.00.00.00.00.00");
    auto e = makeEntry(0x6040, 0, c.dataType, od::kWrite, c.value);
    EXPECT_EQ(transfer(e), "");
    EXPECT_EQ(written(), std::vector<std::string>{frameText(frame(c.request))});
    EXPECT_EQ(e.value, c.value);  // a confirmed write stores nothing
  }
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, RequestsGoToTheNodeSelectedAtSendTime) {
  nodeId = 127;
  node.expect("67F#40.18.10.02.00.00.00.00").reply("5FF#43.18.10.02.EF.BE.AD.DE");
  auto e = makeEntry(0x1018, 2, od::kUnsigned32);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(static_cast<std::uint32_t>(e.value), 0xDEADBEEFu);

  nodeId = 0;
  node.expect("600#40.18.10.02.00.00.00.00").reply("580#4F.18.10.02.01.00.00.00");
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(static_cast<std::uint32_t>(e.value), 0xDEADBE01u);
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, RequestFramesAreDataFramesOfLengthEight) {
  node.expect("605#40.00.10.00.00.00.00.00").reply("585#43.00.10.00.92.01.02.00");
  auto e = makeEntry(0x1000, 0, od::kUnsigned32);
  ASSERT_EQ(transfer(e), "");
  const auto frames = driver.written();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, can::kMsgData);
  EXPECT_EQ(frames[0].len, 8);
  EXPECT_EQ(frames[0].pad[0] | frames[0].pad[1], 0);
  EXPECT_EQ(e.value, 0x00020192);
}

struct RefusedType {
  const char* name;
  std::int8_t dataType;
};
constexpr RefusedType kRefused[] = {
    {"VISIBLE_STRING", od::kVisibleString}, {"OCTET_STRING", od::kOctetString},
    {"UNICODE_STRING", od::kUnicodeString}, {"negative code", -1},
    {"code 0x80", static_cast<std::int8_t>(-128)}, {"code 14", 14}, {"code 127", 127},
};

TEST_F(SdoClientTest, DownloadOfTypeWithoutLengthIsRefusedBeforeSending) {
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.name);
    auto e = makeEntry(0x2000, 1, c.dataType, od::kWrite, 42);
    e.textValue = "kept";
    EXPECT_EQ(transfer(e), "Can't write this type of object");
    EXPECT_TRUE(driver.written().empty());
    EXPECT_EQ(e.value, 42);
    EXPECT_EQ(e.textValue, "kept");
  }
}

TEST_F(SdoClientTest, UploadOfTypeWithoutLengthIsSent) {
  node.expect("605#40.00.20.01.00.00.00.00").reply("585#60.00.20.01.00.00.00.00");
  auto e = makeEntry(0x2000, 1, 14, od::kRead, 7);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 7);
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, TimedOutWriteIsAbortedAfterItsMessage) {
  node.expect("605#2B.40.60.00.06.00.00.00");  // no answer
  node.expect("605#80.40.60.00.00.00.04.05");  // the client's time-out, 0x05040000
  auto e = makeEntry(0x6040, 0, od::kUnsigned16, od::kWrite, 6, "Controlword");
  EXPECT_EQ(transfer(e), "SDO Transfer timeout\nControlword\n24640 subindex 0");
  EXPECT_TRUE(node.allRequestsMet());
}

// E: every data type in its own bytes; up to 4 go expedited, more by segmented download.
TEST_F(SdoClientTest, WriteEntrySendsEveryTypeInItsOwnBytes) {
  struct Case {
    const char* name;
    std::int8_t dataType;
    void (*set)(od::ObjectEntry&);
    std::vector<const char*> requests;  // each answered with the confirmation it asks for
  };
  const Case cases[] = {
      {"UNSIGNED24, 3 bytes expedited", od::kUnsigned24, [](od::ObjectEntry& e) { e.value64 = 0x123456; },
       {"605#27.00.20.00.56.34.12.00"}},
      {"REAL32", od::kReal32, [](od::ObjectEntry& e) { e.realValue = 1.5; }, {"605#23.00.20.00.00.00.C0.3F"}},
      {"UNICODE_STRING as UTF-16LE", od::kUnicodeString, [](od::ObjectEntry& e) { e.textValue = "\xC3\xA9"; },
       {"605#2B.00.20.00.E9.00.00.00"}},
      {"INTEGER64, segmented", od::kInteger64, [](od::ObjectEntry& e) { e.value64 = -2; },
       {"605#21.00.20.00.08.00.00.00", "605#00.FE.FF.FF.FF.FF.FF.FF", "605#1D.FF.00.00.00.00.00.00"}},
      {"VISIBLE_STRING, segmented", od::kVisibleString, [](od::ObjectEntry& e) { e.textValue = "Drive A"; },
       {"605#21.00.20.00.07.00.00.00", "605#01.44.72.69.76.65.20.41"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const char* answers[] = {"585#60.00.20.00.00.00.00.00", "585#20.00.00.00.00.00.00.00", "585#30.00.00.00.00.00.00.00"};
    for (std::size_t i = 0; i < c.requests.size(); ++i) node.expect(c.requests[i]).reply(answers[i == 0 ? 0 : 2 - i % 2]);
    auto e = makeEntry(0x2000, 0, c.dataType, od::kWrite);
    c.set(e);
    EXPECT_NO_THROW(writeEntry(client, e, od::entryBytes(e)));
  }
  EXPECT_TRUE(node.allRequestsMet()) << node.requestsMet();
  // A time-out names the object as W does, and is aborted.
  node.expect("605#2B.00.20.00.E9.00.00.00");
  node.expect("605#80.00.20.00.00.00.04.05");
  auto e = makeEntry(0x2000, 0, od::kUnicodeString, od::kWrite, 0, "Name");
  e.textValue = "\xC3\xA9";
  try {
    writeEntry(client, e, od::entryBytes(e));
    ADD_FAILURE();
  } catch (const Error& err) {
    EXPECT_STREQ(err.what(), "SDO Transfer timeout\nName\n8192 subindex 0");
  }
  EXPECT_TRUE(node.allRequestsMet());
}

}  // namespace
}  // namespace bp::sdo::test
