// SDO upload (read): expedited and segmented responses, and where their data lands.
#include <bit>
#include <cstdio>

#include "SdoTestRig.h"
#include "od/ValueText.h"
#include "sdo/SdoProtocol.h"

namespace bp::sdo::test {
namespace {

struct Expedited {
  const char* name;
  std::int8_t dataType;
  const char* response;
  std::uint32_t after;
};

// The entry holds 0xAAAAAAAA before each read.
constexpr Expedited kExpedited[] = {
    {"size bit clear stores 4 bytes", od::kUnsigned32, "585#42.00.10.00.11.22.33.44", 0x44332211},
    {"size bit set, n 0 stores 4 bytes", od::kUnsigned32, "585#43.00.10.00.11.22.33.44", 0x44332211},
    {"0x47 stores 3 bytes", od::kUnsigned32, "585#47.00.10.00.11.22.33.44", 0xAA332211},
    {"0x4B stores 2 bytes", od::kUnsigned16, "585#4B.00.10.00.34.12.99.99", 0xAAAA1234},
    {"0x4F stores 1 byte, upper bytes kept", od::kUnsigned8, "585#4F.00.10.00.7E.99.99.99", 0xAAAAAA7E},
    {"INTEGER8 is not sign-extended", od::kInteger8, "585#4F.00.10.00.FF.00.00.00", 0xAAAAAAFF},
    {"no data type stores into value", od::kTypeNone, "585#4B.00.10.00.01.02.00.00", 0xAAAA0201},
    {"negative data type stores into value", -3, "585#4F.00.10.00.05.00.00.00", 0xAAAAAA05},
    {"TIME_OF_DAY stores nothing", od::kTimeOfDay, "585#43.00.10.00.01.02.03.04", 0xAAAAAAAA},
    {"OCTET_STRING stores no value", od::kOctetString, "585#43.00.10.00.01.02.03.04", 0xAAAAAAAA},
};

TEST_F(SdoClientTest, ExpeditedUploadStoresOnlyTheIndicatedBytes) {
  for (const auto& c : kExpedited) {
    SCOPED_TRACE(c.name);
    node.expect("605#40.00.10.00.00.00.00.00").reply(c.response);
    auto e = makeEntry(0x1000, 0, c.dataType, od::kRead, static_cast<std::int32_t>(0xAAAAAAAA));
    EXPECT_EQ(transfer(e), "");
    EXPECT_EQ(static_cast<std::uint32_t>(e.value), c.after);
  }
  EXPECT_TRUE(node.allRequestsMet());
}

struct ByteTypeCase {
  const char* name;
  std::int8_t dataType;
  std::vector<const char*> responses;  // after the initiate request; segment requests alternate
  const char* valueText;               // FormatObjectValue of the entry afterwards
};

// REAL32 (single, least significant byte first), the wide integers, REAL64, the other strings and
// DOMAIN: expedited or segmented as the node answers.
TEST_F(SdoClientTest, UploadReadsEveryDataType) {
  const ByteTypeCase cases[] = {
      {"REAL32 expedited with size", od::kReal32, {"585#43.00.60.00.00.00.C0.3F"}, "1.5"},
      {"REAL32 expedited without size", od::kReal32, {"585#42.00.60.00.00.00.10.C0"}, "-2.25"},
      {"REAL32 segmented, one segment", od::kReal32, {"585#41.00.60.00.04.00.00.00", "585#07.00.00.80.3E.00.00.00"}, "0.25"},
      {"REAL32 segmented, surplus dropped", od::kReal32,
       {"585#41.00.60.00.04.00.00.00", "585#00.00.00.A0.40.77.77.77", "585#11.66.66.66.66.66.66.66"}, "5"},
      {"REAL32 split over segments", od::kReal32,
       {"585#41.00.60.00.04.00.00.00", "585#0A.00.00.00.00.00.00.00", "585#1B.48.42.00.00.00.00.00"}, "50"},
      {"INTEGER24 expedited, sign-extended", od::kInteger24, {"585#47.00.60.00.FE.FF.FF.00"}, "-2 (0xFFFFFFFFFFFFFFFE)"},
      {"INTEGER64 segmented", od::kInteger64,
       {"585#41.00.60.00.08.00.00.00", "585#00.FE.FF.FF.FF.FF.FF.FF", "585#1D.FF.00.00.00.00.00.00"},
       "-2 (0xFFFFFFFFFFFFFFFE)"},
      {"UNSIGNED40 segmented", od::kUnsigned40, {"585#41.00.60.00.05.00.00.00", "585#05.01.02.03.04.05.00.00"},
       "21542142465 (0x504030201)"},
      {"REAL64 segmented", od::kReal64,
       {"585#41.00.60.00.08.00.00.00", "585#00.00.00.00.00.00.00.F8", "585#1D.3F.00.00.00.00.00.00"}, "1.5"},
      {"OCTET_STRING expedited", od::kOctetString, {"585#47.00.60.00.01.02.AB.00"}, "01 02 AB"},
      {"UNICODE_STRING expedited, UTF-16LE", od::kUnicodeString, {"585#43.00.60.00.48.00.E9.00"}, "H\xC3\xA9"},
      {"DOMAIN segmented", od::kDomain, {"585#41.00.60.00.09.00.00.00", "585#00.01.02.03.04.05.06.07", "585#1B.08.09.00.00.00.00.00"},
       "9 bytes: 01 02 03 04 05 06 07 08 09"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    node.expect("605#40.00.60.00.00.00.00.00").reply(c.responses[0]);
    for (std::size_t i = 1; i < c.responses.size(); ++i)
      node.expect(i % 2 == 1 ? "605#60.00.60.00.00.00.00.00" : "605#70.00.60.00.00.00.00.00")
          .reply(c.responses[i]);
    auto e = makeEntry(0x6000, 0, c.dataType, od::kRead, 77);
    EXPECT_EQ(transfer(e), "");
    EXPECT_EQ(od::FormatObjectValue(e, '.'), c.valueText);
    EXPECT_EQ(e.value, 77);
  }
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, LongDomainShowsItsSizeAndIsAbortedAsBeyondTheBuffer) {
  node.expect("605#40.50.1F.01.00.00.00.00").reply("585#41.50.1F.01.00.00.01.00");  // 65,536 bytes
  node.expect("605#80.50.1F.01.05.00.04.05");                                        // 0x05040005
  auto e = makeEntry(0x1F50, 1, od::kDomain);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(od::FormatObjectValue(e, '.'), "65536 bytes");
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, ExpeditedUploadOfVisibleStringLeavesTextAlone) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#43.08.10.00.41.42.43.44");
  auto e = makeEntry(0x1008, 0, od::kVisibleString, od::kRead, 17);
  e.textValue = "old text";
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "old text");
  EXPECT_EQ(e.value, 17);
}

TEST_F(SdoClientTest, ResponsesForOtherObjectsAndOtherCommandsAreIgnored) {
  node.expect("605#40.00.10.00.00.00.00.00")
      .reply("585#43.01.10.00.01.00.00.00")   // other index, low byte
      .reply("585#43.00.11.00.02.00.00.00")   // other index, high byte
      .reply("585#43.00.10.01.03.00.00.00")   // other sub-index
      .reply("585#20.00.10.00.04.00.00.00")   // download segment response
      .reply("585#A4.00.10.00.05.00.00.00")   // block transfer response
      .reply("585#43.00.10.00.06.00.00.00");  // the answer
  auto e = makeEntry(0x1000, 0, od::kUnsigned32);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 6);
  EXPECT_EQ(driver.queued(), 0u);  // every frame was consumed
  EXPECT_EQ(ring->size(), 0);      // and none reached the receive ring
}

TEST_F(SdoClientTest, SegmentedUploadOfTenCharacterString) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.0A.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#00.4E.6F.64.65.2D.58.20");
  node.expect("605#70.08.10.00.00.00.00.00").reply("585#19.31.2E.30.00.00.00.00");
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "Node-X 1.0");
  EXPECT_TRUE(node.allRequestsMet());
}

// A node that serves `text` in segments of 7, each request answered after `delayMs`.
void scriptSegments(ScriptedNode& node, const std::string& text, std::uint32_t announced,
                    std::uint32_t delayMs = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "585#41.08.10.00.%02X.%02X.%02X.%02X", announced & 0xFF,
                (announced >> 8) & 0xFF, (announced >> 16) & 0xFF, announced >> 24);
  node.expect("605#40.08.10.00.00.00.00.00").reply(buf, delayMs);
  std::uint8_t toggle = 0;
  for (std::size_t at = 0; at < text.size() || at == 0; at += 7) {
    const std::size_t n = std::min<std::size_t>(7, text.size() - at);
    const bool last = at + 7 >= text.size();
    std::string reply = "585#";
    std::snprintf(buf, sizeof buf, "%02X",
                  proto::segmentCommand(proto::kScsUploadSegment, toggle, static_cast<int>(7 - n), last));
    reply += buf;
    for (std::size_t i = 0; i < 7; ++i) {
      std::snprintf(buf, sizeof buf, ".%02X", i < n ? static_cast<unsigned char>(text[at + i]) : 0u);
      reply += buf;
    }
    std::snprintf(buf, sizeof buf, "605#%02X.08.10.00.00.00.00.00", proto::uploadSegmentRequest(toggle));
    node.expect(buf).reply(reply, delayMs);
    toggle ^= proto::kToggleBit;
    if (text.empty()) break;
  }
}

std::string letters(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('A' + i % 26));
  return s;
}

TEST_F(SdoClientTest, SegmentedUploadOfExactly256BytesIsAccepted) {
  const std::string text = letters(256);
  scriptSegments(node, text, 256);
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, text);
  EXPECT_TRUE(node.allRequestsMet()) << node.requestsMet();
}

TEST_F(SdoClientTest, SegmentedTextEndsAtTheFirstZeroByte) {
  scriptSegments(node, std::string("ab\0cd", 5), 5);
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "ab");
}

TEST_F(SdoClientTest, SegmentDataBeyondTheBufferIsDropped) {
  // The node announces 10 bytes and sends 280: only the first 256 are kept.
  const std::string text = letters(280);
  scriptSegments(node, text, 10);
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, text.substr(0, 256));
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, SegmentedUploadOfIntegerFillsValueAndDropsTheRest) {
  node.expect("605#40.00.20.00.00.00.00.00").reply("585#41.00.20.00.0E.00.00.00");
  node.expect("605#60.00.20.00.00.00.00.00").reply("585#00.78.56.34.12.99.99.99");
  node.expect("605#70.00.20.00.00.00.00.00").reply("585#11.88.88.88.88.88.88.88");
  auto e = makeEntry(0x2000, 0, od::kUnsigned32, od::kRead, 5);
  e.realValue = 2.5;
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 0x12345678);
  EXPECT_EQ(e.realValue, 2.5);
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, SegmentedUploadOfShortIntegerKeepsHigherBytes) {
  node.expect("605#40.00.20.00.00.00.00.00").reply("585#41.00.20.00.02.00.00.00");
  node.expect("605#60.00.20.00.00.00.00.00").reply("585#0B.CD.AB.00.00.00.00.00");  // 2 bytes, last
  auto e = makeEntry(0x2000, 0, od::kUnsigned16, od::kRead, 0x11223344);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 0x1122ABCD);
}

TEST_F(SdoClientTest, WrongToggleDropsTheSegmentButStillFlips) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.0A.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#10.58.58.58.58.58.58.58");  // toggle 1: wrong
  node.expect("605#70.08.10.00.00.00.00.00").reply("585#10.41.42.43.44.45.46.47");  // toggle 1: right
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#09.48.49.4A.00.00.00.00");  // toggle 0, last
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "ABCDEFGHIJ");
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, WrongToggleOnLastSegmentStillEndsTheTransfer) {
  node.expect("605#40.08.10.00.00.00.00.00").reply("585#41.08.10.00.03.00.00.00");
  node.expect("605#60.08.10.00.00.00.00.00").reply("585#19.41.42.43.00.00.00.00");  // toggle 1, last
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  e.textValue = "old";
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "");
  EXPECT_TRUE(node.allRequestsMet());
}

TEST_F(SdoClientTest, EachSegmentHas250MsFromItsRequest) {
  // Every answer takes 200 ms: 600 ms in all, yet no single wait reaches 250 ms.
  scriptSegments(node, "0123456789", 10, 200);
  auto e = makeEntry(0x1008, 0, od::kVisibleString);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.textValue, "0123456789");
  EXPECT_GE(passes, 600);
}

TEST_F(SdoClientTest, SegmentResponseOnDownloadIsIgnored) {
  node.expect("605#2B.40.60.00.0F.00.00.00")
      .reply("585#01.11.22.33.44.55.66.77")  // an upload segment: not for a download
      .reply("585#60.40.60.00.00.00.00.00");
  auto e = makeEntry(0x6040, 0, od::kUnsigned16, od::kWrite, 15);
  EXPECT_EQ(transfer(e), "");
  EXPECT_EQ(e.value, 15);
  EXPECT_TRUE(node.allRequestsMet());
}

}  // namespace
}  // namespace bp::sdo::test
