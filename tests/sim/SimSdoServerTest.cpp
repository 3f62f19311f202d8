// The simulated node's SDO server: expedited and segmented transfers, aborts, cancelling.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "sim/SimBench.h"

namespace bp::sim::test {
namespace {

std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

struct Exchange {
  const char* name;
  const char* request;
  const char* response;
};

// ---- upload ----

constexpr Exchange kExpeditedUploads[] = {
    {"UNSIGNED32 fills 4 bytes", "605#40.00.10.00.00.00.00.00", "585#43.00.10.00.92.01.02.00"},
    {"UNSIGNED8 sends 1 byte, n = 3", "605#40.01.10.00.00.00.00.00", "585#4F.01.10.00.00.00.00.00"},
    {"INTEGER8 -5", "605#40.03.20.00.00.00.00.00", "585#4F.03.20.00.FB.00.00.00"},
    {"REAL32 1.5 as its bit pattern", "605#40.02.20.00.00.00.00.00", "585#43.02.20.00.00.00.C0.3F"},
    {"UNSIGNED16 status word at boot", "605#40.41.60.00.00.00.00.00", "585#4B.41.60.00.40.00.00.00"},
    {"record: sub 0 of a head", "605#40.18.10.00.00.00.00.00", "585#4F.18.10.00.02.00.00.00"},
    {"record: sub 2", "605#40.18.10.02.00.00.00.00", "585#43.18.10.02.17.00.00.00"},
    {"$NODEID COB-ID of the SDO server", "605#40.00.12.01.00.00.00.00", "585#43.00.12.01.05.06.00.00"},
    {"literal COB-ID stands", "605#40.01.18.01.00.00.00.00", "585#43.01.18.01.80.02.00.80"},
    {"request bytes 4..7 are ignored", "605#40.00.10.00.11.22.33.44", "585#43.00.10.00.92.01.02.00"},
};

TEST(SimSdoUpload, ExpeditedCarriesTheTypeSize) {
  SimBench b;
  for (const auto& c : kExpeditedUploads) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(b.sdo(c.request), norm(c.response));
  }
}

TEST(SimSdoUpload, StringGoesSegmentedWithTogglingSegments) {
  SimBench b;  // "Sim drive 17": 12 bytes, one full segment and one of 5
  EXPECT_EQ(b.sdo("605#40.08.10.00.00.00.00.00"), norm("585#41.08.10.00.0C.00.00.00"));
  EXPECT_EQ(b.sdo("605#60.00.00.00.00.00.00.00"), norm("585#00.53.69.6D.20.64.72.69"));
  EXPECT_EQ(b.sdo("605#70.00.00.00.00.00.00.00"), norm("585#15.76.65.20.31.37.00.00"));
  // The transfer is over: a further segment request is out of place.
  EXPECT_EQ(b.sdo("605#60.00.00.00.00.00.00.00"), norm("585#80.08.10.00.01.00.04.05"));
}

TEST(SimSdoUpload, WideNumberGoesSegmented) {
  SimBench b;  // UNSIGNED64: 8 bytes, 7 + 1
  ASSERT_EQ(b.node->writeValue(0x2004, 0, bytes("\x01\x02\x03\x04\x05\x06\x07\x08")), 0u);
  EXPECT_EQ(b.sdo("605#40.04.20.00.00.00.00.00"), norm("585#41.04.20.00.08.00.00.00"));
  EXPECT_EQ(b.sdo("605#60.00.00.00.00.00.00.00"), norm("585#00.01.02.03.04.05.06.07"));
  EXPECT_EQ(b.sdo("605#70.00.00.00.00.00.00.00"), norm("585#1D.08.00.00.00.00.00.00"));
}

TEST(SimSdoUpload, EmptyStringIsOneEmptyLastSegment) {
  SimBench b;
  ASSERT_EQ(b.node->writeValue(0x2001, 0, {}), 0u);
  EXPECT_EQ(b.sdo("605#40.01.20.00.00.00.00.00"), norm("585#41.01.20.00.00.00.00.00"));
  EXPECT_EQ(b.sdo("605#60.00.00.00.00.00.00.00"), norm("585#0F.00.00.00.00.00.00.00"));
}

TEST(SimSdoUpload, SegmentsComeFromTheValueAtInitiate) {
  SimBench b;
  EXPECT_EQ(b.sdo("605#40.01.20.00.00.00.00.00"), norm("585#41.01.20.00.03.00.00.00"));
  ASSERT_EQ(b.node->writeValue(0x2001, 0, bytes("changed")), 0u);
  EXPECT_EQ(b.sdo("605#60.00.00.00.00.00.00.00"), norm("585#09.61.62.63.00.00.00.00"));
}

// ---- download ----

struct Download {
  const char* name;
  const char* request;
  const char* response;
  std::uint16_t index;
  std::vector<std::uint8_t> stored;
};

const Download kExpeditedDownloads[] = {
    {"UNSIGNED16 with size", "605#2B.40.60.00.06.00.00.00", "585#60.40.60.00.00.00.00.00", 0x6040, {0x06, 0x00}},
    {"size unspecified takes the object's size", "605#22.40.60.00.07.00.FF.FF",
     "585#60.40.60.00.00.00.00.00", 0x6040, {0x07, 0x00}},
    {"INTEGER8", "605#2F.03.20.00.80.00.00.00", "585#60.03.20.00.00.00.00.00", 0x2003, {0x80}},
    {"REAL32 2.5", "605#23.02.20.00.00.00.20.40", "585#60.02.20.00.00.00.00.00", 0x2002, {0x00, 0x00, 0x20, 0x40}},
    {"write-only object", "605#23.00.20.00.78.56.34.12", "585#60.00.20.00.00.00.00.00", 0x2000, {0x78, 0x56, 0x34, 0x12}},
    {"string of 2 bytes", "605#2B.01.20.00.68.69.00.00", "585#60.01.20.00.00.00.00.00", 0x2001, {'h', 'i'}},
    {"string without size ends at its zero", "605#22.01.20.00.6F.6B.00.7A", "585#60.01.20.00.00.00.00.00",
     0x2001, {'o', 'k'}},
};

TEST(SimSdoDownload, ExpeditedStoresTheIndicatedBytes) {
  for (const auto& c : kExpeditedDownloads) {
    SCOPED_TRACE(c.name);
    SimBench b;
    EXPECT_EQ(b.sdo(c.request), norm(c.response));
    EXPECT_EQ(b.node->value(c.index, 0), c.stored);
  }
}

TEST(SimSdoDownload, SegmentedWithSizeStoresWhenComplete) {
  for (const std::size_t size : {5u, 300u}) {
    SCOPED_TRACE(size);
    SimBench b;
    const auto data = testData(size);
    EXPECT_EQ(b.sdo(sdoFrame(0x605, 0x21, initiateFields(0x2001, 0, size))),
              sdoFrame(0x585, 0x60, initiateFields(0x2001, 0, 0)));
    std::uint8_t toggle = 0;
    for (std::size_t at = 0; at < size; at += 7) {
      EXPECT_EQ(b.node->value(0x2001, 0), bytes("abc"));  // stored only when complete
      const std::size_t count = std::min<std::size_t>(7, size - at);
      const int last = at + count == size ? 1 : 0;
      const auto command = static_cast<std::uint8_t>(toggle | (7 - count) << 1 | last);
      EXPECT_EQ(b.sdo(sdoFrame(0x605, command, {data.data() + at, count})), sdoFrame(0x585, 0x20 | toggle));
      toggle ^= 0x10;
    }
    EXPECT_EQ(b.node->value(0x2001, 0), data);
  }
}

TEST(SimSdoDownload, SegmentedWithoutSize) {
  SimBench b;
  EXPECT_EQ(b.sdo("605#20.01.20.00.00.00.00.00"), norm("585#60.01.20.00.00.00.00.00"));
  EXPECT_EQ(b.sdo("605#07.41.42.43.44.00.00.00"), norm("585#20.00.00.00.00.00.00.00"));
  EXPECT_EQ(b.node->value(0x2001, 0), bytes("ABCD"));
}

TEST(SimSdoDownload, SegmentedIntoANumber) {
  SimBench b;
  EXPECT_EQ(b.sdo("605#21.7A.60.00.04.00.00.00"), norm("585#60.7A.60.00.00.00.00.00"));
  EXPECT_EQ(b.sdo("605#07.E8.03.00.00.00.00.00"), norm("585#20.00.00.00.00.00.00.00"));
  EXPECT_EQ(b.node->integerValue(0x607A, 0), 1000);
}

// ---- aborts ----

constexpr Exchange kAborts[] = {
    {"read: object missing", "605#40.34.12.00.00.00.00.00", "585#80.34.12.00.00.00.02.06"},
    {"write: object missing", "605#2B.34.12.00.01.00.00.00", "585#80.34.12.00.00.00.02.06"},
    {"read: sub-index missing", "605#40.18.10.05.00.00.00.00", "585#80.18.10.05.11.00.09.06"},
    {"write: sub-index missing", "605#2F.18.10.07.01.00.00.00", "585#80.18.10.07.11.00.09.06"},
    {"read: head of a record without sub 0", "605#40.01.18.00.00.00.00.00", "585#80.01.18.00.11.00.09.06"},
    {"read of a write-only object", "605#40.00.20.00.00.00.00.00", "585#80.00.20.00.01.00.01.06"},
    {"write to read-only", "605#23.00.10.00.01.00.00.00", "585#80.00.10.00.02.00.01.06"},
    {"write to const", "605#2B.08.10.00.41.42.00.00", "585#80.08.10.00.02.00.01.06"},
    {"segmented write to read-only", "605#21.41.60.00.02.00.00.00", "585#80.41.60.00.02.00.01.06"},
    {"2 bytes for INTEGER32", "605#2B.7A.60.00.01.00.00.00", "585#80.7A.60.00.10.00.07.06"},
    {"4 bytes for UNSIGNED16", "605#23.40.60.00.01.00.00.00", "585#80.40.60.00.10.00.07.06"},
    {"1 byte for UNSIGNED16", "605#2F.40.60.00.01.00.00.00", "585#80.40.60.00.10.00.07.06"},
    {"size unspecified for UNSIGNED64", "605#22.04.20.00.01.00.00.00", "585#80.04.20.00.10.00.07.06"},
    {"segmented size 4 for UNSIGNED16", "605#21.40.60.00.04.00.00.00", "585#80.40.60.00.10.00.07.06"},
    {"segmented string above 1024 bytes", "605#21.01.20.00.01.04.00.00", "585#80.01.20.00.12.00.07.06"},
    {"command specifier 7", "605#E0.00.10.00.00.00.00.00", "585#80.00.10.00.01.00.04.05"},
};

TEST(SimSdoAbort, EachRefusalHasItsCode) {
  SimBench b;
  for (const auto& c : kAborts) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(b.sdo(c.request), norm(c.response));
  }
  // No refused write changed anything.
  EXPECT_EQ(b.node->integerValue(0x6040, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x607A, 0), 0);
  EXPECT_EQ(b.node->integerValue(0x1000, 0), 0x00020192);
}

// Request and answer ("" for none) in turn, from a fresh node; then the label 0x2001 holds
// `label` (refused and ended downloads store nothing).
struct Script {
  const char* name;
  std::vector<std::pair<const char*, const char*>> steps;
  const char* label = "abc";
};

const Script kScripts[] = {
    {"segment without a transfer",
     {{"605#60.00.00.00.00.00.00.00", "585#80.00.00.00.01.00.04.05"},
      {"605#00.41.42.43.44.45.46.47", "585#80.00.00.00.01.00.04.05"}}},
    {"upload segment with the wrong toggle ends the transfer",
     {{"605#40.08.10.00.00.00.00.00", "585#41.08.10.00.0C.00.00.00"},
      {"605#70.00.00.00.00.00.00.00", "585#80.08.10.00.00.00.03.05"},
      {"605#60.00.00.00.00.00.00.00", "585#80.08.10.00.01.00.04.05"}}},
    {"repeated toggle in a download ends the transfer",
     {{"605#21.01.20.00.0A.00.00.00", "585#60.01.20.00.00.00.00.00"},
      {"605#00.4E.6F.64.65.2D.58.20", "585#20.00.00.00.00.00.00.00"},
      {"605#09.31.2E.30.00.00.00.00", "585#80.01.20.00.00.00.03.05"}}},
    {"5 announced, 4 sent",
     {{"605#21.01.20.00.05.00.00.00", "585#60.01.20.00.00.00.00.00"},
      {"605#07.41.42.43.44.00.00.00", "585#80.01.20.00.10.00.07.06"}}},
    {"3 announced, 7 sent: refused at the segment that overruns",
     {{"605#21.01.20.00.03.00.00.00", "585#60.01.20.00.00.00.00.00"},
      {"605#00.41.42.43.44.45.46.47", "585#80.01.20.00.10.00.07.06"}}},
    {"no size indicated, 3 bytes for INTEGER32",
     {{"605#20.7A.60.00.00.00.00.00", "585#60.7A.60.00.00.00.00.00"},
      {"605#09.01.02.03.00.00.00.00", "585#80.7A.60.00.10.00.07.06"}}},
    {"a new initiate ends a running upload",
     {{"605#40.08.10.00.00.00.00.00", "585#41.08.10.00.0C.00.00.00"},
      {"605#40.00.10.00.00.00.00.00", "585#43.00.10.00.92.01.02.00"},
      {"605#60.00.00.00.00.00.00.00", "585#80.00.10.00.01.00.04.05"}}},
    {"a new initiate ends a running download",
     {{"605#21.01.20.00.0A.00.00.00", "585#60.01.20.00.00.00.00.00"},
      {"605#2B.40.60.00.06.00.00.00", "585#60.40.60.00.00.00.00.00"},
      {"605#00.4E.6F.64.65.2D.58.20", "585#80.40.60.00.01.00.04.05"}}},
    {"a new segmented upload restarts the toggle",
     {{"605#40.08.10.00.00.00.00.00", "585#41.08.10.00.0C.00.00.00"},
      {"605#60.00.00.00.00.00.00.00", "585#00.53.69.6D.20.64.72.69"},
      {"605#40.08.10.00.00.00.00.00", "585#41.08.10.00.0C.00.00.00"},
      {"605#60.00.00.00.00.00.00.00", "585#00.53.69.6D.20.64.72.69"}}},
    {"the client's abort ends the transfer silently",
     {{"605#40.08.10.00.00.00.00.00", "585#41.08.10.00.0C.00.00.00"},
      {"605#80.08.10.00.00.00.04.05", ""},
      {"605#60.00.00.00.00.00.00.00", "585#80.08.10.00.01.00.04.05"}}},
    // ---- block transfers (long ones: SimSdoBlockTest.cpp) ----
    {"block upload of 3 bytes with CRC: one segment, n = 4",
     {{"605#A4.01.20.00.7F.00.00.00", "585#C6.01.20.00.03.00.00.00"},
      {"605#A3.00.00.00.00.00.00.00", "585#81.61.62.63.00.00.00.00"},
      {"605#A2.01.7F.00.00.00.00.00", "585#D1.D6.9D.00.00.00.00.00"},
      {"605#A1.00.00.00.00.00.00.00", ""},
      {"605#A1.00.00.00.00.00.00.00", "585#80.01.20.00.01.00.04.05"}}},
    {"protocol switch: a value of at most pst bytes goes as a normal upload",
     {{"605#A4.00.10.00.7F.04.00.00", "585#43.00.10.00.92.01.02.00"},
      {"605#A4.01.20.00.7F.03.00.00", "585#41.01.20.00.03.00.00.00"},
      {"605#60.00.00.00.00.00.00.00", "585#09.61.62.63.00.00.00.00"},
      {"605#A4.01.20.00.7F.02.00.00", "585#C6.01.20.00.03.00.00.00"}}},
    {"block download with a wrong CRC",
     {{"605#C6.01.20.00.02.00.00.00", "585#A4.01.20.00.7F.00.00.00"},
      {"605#81.68.69.00.00.00.00.00", "585#A2.01.7F.00.00.00.00.00"},
      {"605#D5.0D.7F.00.00.00.00.00", "585#80.01.20.00.04.00.04.05"}}},
    {"block download: a missing segment is sent again after the acknowledge",
     {{"605#C4.01.20.00.00.00.00.00", "585#A4.01.20.00.7F.00.00.00"},
      {"605#82.48.49.4A.4B.4C.4D.4E", "585#A2.00.7F.00.00.00.00.00"},
      {"605#01.41.42.43.44.45.46.47", ""},
      {"605#82.48.49.4A.4B.4C.4D.4E", "585#A2.02.7F.00.00.00.00.00"},
      {"605#C1.D6.38.00.00.00.00.00", "585#A1.00.00.00.00.00.00.00"}},
     "ABCDEFGHIJKLMN"},
    {"block download: sequence number 0; the client's abort inside a sub-block",
     {{"605#C4.01.20.00.00.00.00.00", "585#A4.01.20.00.7F.00.00.00"},
      {"605#00.41.42.43.44.45.46.47", "585#80.01.20.00.03.00.04.05"},
      {"605#C4.01.20.00.00.00.00.00", "585#A4.01.20.00.7F.00.00.00"},
      {"605#80.01.20.00.00.00.04.05", ""},
      {"605#C1.00.00.00.00.00.00.00", "585#80.01.20.00.01.00.04.05"}}},
    {"block upload: acknowledge of more than was sent, block size 0",
     {{"605#A4.01.20.00.7F.00.00.00", "585#C6.01.20.00.03.00.00.00"},
      {"605#A3.00.00.00.00.00.00.00", "585#81.61.62.63.00.00.00.00"},
      {"605#A2.02.7F.00.00.00.00.00", "585#80.01.20.00.03.00.04.05"},
      {"605#A4.01.20.00.00.00.00.00", "585#80.01.20.00.02.00.04.05"}}},
    {"block download beyond what a string holds",
     {{"605#C6.01.20.00.01.04.00.00", "585#80.01.20.00.12.00.07.06"}}},
};

TEST(SimSdoScript, EachRequestGetsItsAnswer) {
  for (const Script& script : kScripts) {
    SCOPED_TRACE(script.name);
    SimBench b;
    for (const auto& [request, answer] : script.steps) {
      SCOPED_TRACE(request);
      EXPECT_EQ(b.sdo(request), *answer == '\0' ? "" : norm(answer));
    }
    EXPECT_EQ(b.node->value(0x2001, 0), bytes(script.label));
  }
}

TEST(SimSdoScript, BlockTransferSwitchedOff) {
  SimBench b;
  b.node->setBlockTransfer(false);
  EXPECT_EQ(b.sdo("605#A4.00.10.00.7F.00.00.00"), norm("585#80.00.10.00.01.00.04.05"));
  EXPECT_EQ(b.sdo("605#C6.01.20.00.0A.00.00.00"), norm("585#80.01.20.00.01.00.04.05"));
  EXPECT_EQ(b.sdo("605#40.00.10.00.00.00.00.00"), norm("585#43.00.10.00.92.01.02.00")) << "the rest is served";
  b.node->setBlockTransfer(true);
  EXPECT_EQ(b.sdo("605#A4.00.10.00.7F.00.00.00"), norm("585#C6.00.10.00.04.00.00.00"));
}

TEST(SimSdoIgnored, FramesThatAreNoRequestOfThisNode) {
  SimBench b;
  EXPECT_EQ(b.sdo("605#40.00.10.00"), "") << "shorter than 8 bytes";
  EXPECT_EQ(b.sdo("606#40.00.10.00.00.00.00.00"), "") << "another node";
  EXPECT_EQ(b.sdo("605#R"), "") << "remote frame";
  EXPECT_EQ(b.sdo("585#40.00.10.00.00.00.00.00"), "") << "a response";
  // The server still works.
  EXPECT_EQ(b.sdo("605#40.00.10.00.00.00.00.00"), norm("585#43.00.10.00.92.01.02.00"));
}

TEST(SimSdoIgnored, GarbledFramesNeverBreakTheNode) {
  SimBench b;
  std::mt19937 random(17);
  const std::uint32_t ids[] = {0x000, 0x080, 0x205, 0x605, 0x705};
  for (int i = 0; i < 20000; ++i) {
    can::CanFrame f{};
    f.id = ids[random() % 5];
    f.type = static_cast<std::uint8_t>(random() % 4);
    f.len = static_cast<std::uint8_t>(random() % 12);  // also lengths no controller sends
    for (auto& d : f.data) d = static_cast<std::uint8_t>(random());
    if (f.id == 0x000 && f.data[0] >= 0x80) f.data[0] = 0x01;  // keep resets rare
    b.master().write(f);
    if (i % 100 == 0) b.node->step(++b.now);
  }
  b.node->step(++b.now);
  b.received();
  b.exchange("000#80.05");
  b.exchange("605#80.00.00.00.00.00.00.00");  // end whatever transfer the noise began
  EXPECT_EQ(b.sdo("605#40.00.10.00.00.00.00.00"), norm("585#43.00.10.00.92.01.02.00"));
}

TEST(SimSdoIgnored, OtherNodeIdMovesTheChannel) {
  SimBench b(kTestEds, 0x7F);
  EXPECT_EQ(b.sdo("605#40.00.10.00.00.00.00.00"), "");
  EXPECT_EQ(b.sdo("67F#40.00.12.02.00.00.00.00"), norm("5FF#43.00.12.02.FF.05.00.00"));
}

}  // namespace
}  // namespace bp::sim::test
