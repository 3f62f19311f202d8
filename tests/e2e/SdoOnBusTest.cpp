// Busprobe's SDO engine against the simulated drive: every readable object of the sample EDS, the
// writable integer types, the node's aborts and a node that does not answer, all over real threads.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "e2e/SimNodeRig.h"
#include "od/ValueText.h"

namespace bp::test {
namespace {

using SdoOnBus = SimNodeRig;

// Bytes a value of an integer data type (1..7) travels in.
std::uint32_t lowBytesMask(std::int8_t dataType) {
  switch (dataType) {
    case od::kBoolean:
    case od::kInteger8:
    case od::kUnsigned8: return 0xFFu;
    case od::kInteger16:
    case od::kUnsigned16: return 0xFFFFu;
    default: return 0xFFFFFFFFu;
  }
}

// Values the node shows instead of its EDS default: the COB-IDs that the file writes as node-ID
// expressions, and the drive's status word after power-on (switch on disabled).
struct LiveValue {
  std::int32_t index;
  std::int32_t subIndex;
  std::uint32_t value;
};
constexpr LiveValue kLiveValues[] = {
    {0x1200, 1, 0x605}, {0x1200, 2, 0x585}, {0x1400, 1, 0x205}, {0x1800, 1, 0x185}, {0x6041, 0, 0x0040},
};

std::uint32_t expectedInteger(const od::ObjectEntry& e) {
  for (const auto& live : kLiveValues)
    if (live.index == e.index && live.subIndex == e.subIndex) return live.value;
  return static_cast<std::uint32_t>(e.defaultValue);
}

// One object of each type with its value spelled out from the file, independent of the EDS reader.
struct KnownValue {
  const char* type;
  std::int32_t index;
  std::int32_t subIndex;
  std::uint32_t lowBytes;  // the bytes the node sent, as a number
};
constexpr KnownValue kKnownValues[] = {
    {"BOOLEAN brake release on enable", 0x2420, 0, 0x01},
    {"INTEGER8 temperature sensor trim -2", 0x2400, 0, 0xFE},
    {"INTEGER16 analog input offset 0", 0x2410, 0, 0x0000},
    {"INTEGER32 encoder zero offset -1250", 0x2300, 0, 0xFFFFFB1E},
    {"UNSIGNED8 identity highest sub-index 4", 0x1018, 0, 4},
    {"UNSIGNED16 peak current 17000", 0x2000, 2, 17000},
    {"UNSIGNED32 device type", 0x1000, 0, 0x00020192},
    {"UNSIGNED32 vendor ID", 0x1018, 1, 0x00000A17},
};

TEST_F(SdoOnBus, ReadsEveryReadableObjectOfTheSampleDictionary) {
  constexpr std::uint32_t kSentinel = 0xA5A5A5A5;  // upper bytes must survive a short value
  std::map<int, int> readsPerType;
  std::map<std::pair<std::int32_t, std::int32_t>, od::ObjectEntry> results;

  for (const od::ObjectEntry* head : session.dictionary.heads()) {
    for (const od::ObjectEntry* e = head; e != nullptr; e = e->next) {
      if (e->subIndex < 0 || e->access == od::kWriteOnly) continue;
      SCOPED_TRACE(testing::Message() << "0x" << std::hex << e->index << " sub " << e->subIndex << " "
                                      << e->nameText());
      od::ObjectEntry got = *e;
      got.next = nullptr;
      got.direction = od::kRead;
      got.value = static_cast<std::int32_t>(kSentinel);
      got.realValue = -1.0;
      got.textValue = "(not read)";
      if (e->index == 0x2500) {  // 1,000 bytes: beyond what R reads, and aborted
        EXPECT_EQ(failureOf(got), "SDO Transfer error, SDO too large");
        continue;
      }
      ASSERT_EQ(failureOf(got), "");

      if (od::isWideInteger(e->dataType)) {
        EXPECT_EQ(got.value64, e->defaultValue64);
      } else if (e->dataType == od::kReal64) {
        EXPECT_EQ(got.realValue, e->defaultReal);
      } else if (e->dataType == od::kDomain) {  // 64 KiB: its size, from the initiate answer
        EXPECT_EQ(got.value64, 65536);
      } else if (e->dataType >= od::kBoolean && e->dataType <= od::kUnsigned32) {
        const std::uint32_t mask = lowBytesMask(e->dataType);
        EXPECT_EQ(static_cast<std::uint32_t>(got.value), (kSentinel & ~mask) | (expectedInteger(*e) & mask));
      } else if (e->dataType == od::kReal32) {
        EXPECT_EQ(got.realValue, e->defaultReal);
      } else if (e->dataType == od::kVisibleString) {
        EXPECT_EQ(got.textValue, e->defaultTextView());
      } else {
        ADD_FAILURE() << "data type " << int(e->dataType) << " is not in the sample file";
      }
      ++readsPerType[e->dataType];
      results[{e->index, e->subIndex}] = got;
    }
  }

  for (int type = od::kBoolean; type <= od::kVisibleString; ++type)
    EXPECT_GE(readsPerType[type], 1) << "no object of data type " << type << " was read";
  EXPECT_EQ(results.size(), 52u) << "readable objects of the sample file";

  for (const auto& k : kKnownValues) {
    SCOPED_TRACE(k.type);
    const auto it = results.find({k.index, k.subIndex});
    ASSERT_NE(it, results.end());
    EXPECT_EQ(static_cast<std::uint32_t>(it->second.value) & lowBytesMask(it->second.dataType), k.lowBytes);
  }
  // What the tree shows for the values that fill their field.
  EXPECT_EQ(od::FormatNodeCaption(results[{0x2300, 0}], '.'), "0x2300 Encoder zero offset = -1250 (0xFFFFFB1E)");
  EXPECT_EQ(od::FormatNodeCaption(results[{0x1000, 0}], '.'), "0x1000 Device type = 131474 (0x20192)");
  EXPECT_EQ(od::FormatNodeCaption(results[{0x2100, 0}], '.'), "0x2100 Motor temperature = 25.5");
  EXPECT_EQ(od::FormatNodeCaption(results[{0x1008, 0}], '.'), "0x1008 Manufacturer device name = DRV17-KA Servo");
  EXPECT_EQ(od::FormatNodeCaption(results[{0x100A, 0}], '.'), "0x100A Manufacturer software version = FW 2.04.17");

  // The selected node's SDO responses are handed to the engine, never stored in the ring.
  for (const auto& text : storedTexts()) EXPECT_NE(text.substr(0, 4), "585#") << text;
}

// The whole conversation of a string upload, as the analyser hears it.
struct StringUpload {
  const char* name;
  std::int32_t index;
  const char* text;
  std::vector<const char*> frames;
};

TEST_F(SdoOnBus, StringsArriveBySegmentedUpload) {
  const StringUpload cases[] = {
      {"6 bytes in one last segment", 0x1009, "HW 1.2",
       {"605#40.09.10.00.00.00.00.00", "585#41.09.10.00.06.00.00.00",
        "605#60.09.10.00.00.00.00.00", "585#03.48.57.20.31.2E.32.00"}},
      {"10 bytes: a full segment, then 3 bytes with toggle 1", 0x100A, "FW 2.04.17",
       {"605#40.0A.10.00.00.00.00.00", "585#41.0A.10.00.0A.00.00.00",
        "605#60.0A.10.00.00.00.00.00", "585#00.46.57.20.32.2E.30.34",
        "605#70.0A.10.00.00.00.00.00", "585#19.2E.31.37.00.00.00.00"}},
      {"device name, 14 bytes in two full segments", 0x1008, "DRV17-KA Servo",
       {"605#40.08.10.00.00.00.00.00", "585#41.08.10.00.0E.00.00.00",
        "605#60.08.10.00.00.00.00.00", "585#00.44.52.56.31.37.2D.4B",
        "605#70.08.10.00.00.00.00.00", "585#11.41.20.53.65.72.76.6F"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.index, 0).textValue, c.text);
    std::vector<std::string> expected;
    for (const char* f : c.frames) expected.push_back(norm(f));
    EXPECT_EQ(wire(expected.size()), expected);
  }
}

struct IntegerWrite {
  const char* name;
  std::int32_t index;
  std::int32_t subIndex;
  std::int32_t written;
  const char* request;       // the frame the engine sends
  std::int64_t nodeValue;    // the value the node then holds
};

TEST_F(SdoOnBus, WritesEveryWritableIntegerTypeAndReadsItBack) {
  const IntegerWrite cases[] = {
      {"BOOLEAN 0", 0x2420, 0, 0, "605#2F.20.24.00.00.00.00.00", 0},
      {"INTEGER8 -20", 0x2400, 0, -20, "605#2F.00.24.00.EC.00.00.00", -20},
      {"INTEGER16 -1234", 0x2410, 0, -1234, "605#2B.10.24.00.2E.FB.00.00", -1234},
      {"INTEGER32 -123456789", 0x607A, 0, -123456789, "605#23.7A.60.00.EB.32.A4.F8", -123456789},
      {"UNSIGNED8 0xA5", 0x100D, 0, 0xA5, "605#2F.0D.10.00.A5.00.00.00", 0xA5},
      {"UNSIGNED8 300 sends its low byte only", 0x100D, 0, 300, "605#2F.0D.10.00.2C.00.00.00", 0x2C},
      {"UNSIGNED16 0xBEEF", 0x2000, 1, 0xBEEF, "605#2B.00.20.01.EF.BE.00.00", 0xBEEF},
      {"UNSIGNED32 0x89ABCDEF", 0x6083, 0, static_cast<std::int32_t>(0x89ABCDEFu),
       "605#23.83.60.00.EF.CD.AB.89", 0x89ABCDEF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.index, c.subIndex, c.written);
    char response[40];
    std::snprintf(response, sizeof response, "585#60.%02X.%02X.%02X.00.00.00.00", c.index & 0xFF,
                  (c.index >> 8) & 0xFF, c.subIndex);
    EXPECT_EQ(wire(2), (std::vector<std::string>{norm(c.request), norm(response)}));
    EXPECT_EQ(node->integerValue(static_cast<std::uint16_t>(c.index), static_cast<std::uint8_t>(c.subIndex)),
              c.nodeValue);

    od::ObjectEntry back = entry(c.index, c.subIndex);
    back.value = 0x5A5A5A5A;
    ASSERT_EQ(failureOf(back), "");
    const std::uint32_t mask = lowBytesMask(back.dataType);
    EXPECT_EQ(static_cast<std::uint32_t>(back.value) & mask, static_cast<std::uint32_t>(c.nodeValue) & mask);
    wire(2);  // the read-back's request and answer
  }
}

struct Refusal {
  const char* name;
  std::int32_t index;
  std::int32_t subIndex;
  std::int8_t dataType;
  std::uint8_t direction;
  const char* message;
};

TEST_F(SdoOnBus, NodeRefusalsBecomeAbortMessages) {
  const Refusal cases[] = {
      {"write of a read-only object", 0x1000, 0, od::kUnsigned32, od::kWrite,
       "SDO Tranfer Abort : 0x06010002\nAttempt to write a read only object."},
      {"write of a const object", 0x2300, 0, od::kInteger32, od::kWrite,
       "SDO Tranfer Abort : 0x06010002\nAttempt to write a read only object."},
      {"read of a write-only object", 0x2200, 0, od::kUnsigned8, od::kRead,
       "SDO Tranfer Abort : 0x06010001\nAttempt to read a write only object."},
      {"read of a missing object", 0x3000, 0, od::kUnsigned32, od::kRead,
       "SDO Tranfer Abort : 0x06020000\nObject does not exist in the object dictionary."},
      {"read of a missing sub-index", 0x1018, 7, od::kUnsigned32, od::kRead,
       "SDO Tranfer Abort : 0x06090011\nSub-index does not exist."},
      {"write of 4 bytes to an UNSIGNED16", 0x2000, 1, od::kUnsigned32, od::kWrite,
       "SDO Tranfer Abort : 0x06070010\nData type does not match, length of service parameter does not match"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    od::ObjectEntry e;
    e.setName("Refused");
    e.index = c.index;
    e.subIndex = c.subIndex;
    e.dataType = c.dataType;
    e.direction = c.direction;
    e.value = 1;
    EXPECT_EQ(failureOf(e), c.message);
    EXPECT_EQ(e.value, 1) << "the entry keeps its value";
  }
  // Nothing was stored by the refused writes.
  EXPECT_EQ(node->integerValue(0x1000, 0), 0x00020192);
  EXPECT_EQ(node->integerValue(0x2300, 0), -1250);
  EXPECT_EQ(node->integerValue(0x2000, 1), 6000);
}

TEST_F(SdoOnBus, AnotherSelectedNodeTimesOutAndTheDriveAnswersAgainWhenReselected) {
  session.nodeId.store(6, std::memory_order_relaxed);  // no node 6 on this bus
  od::ObjectEntry e = entry(0x1000, 0);
  const std::uint32_t t0 = session.clock.tickMs();
  EXPECT_EQ(failureOf(e), "SDO Transfer timeout\nDevice type\n4096 subindex 0");
  // 250 ticks of the session's clock (the system tick count on Windows moves in steps of up to
  // 16 ms, so real time may be shorter by one step).
  EXPECT_GE(session.clock.tickMs() - t0, 250u);
  // The request, then the abort the client sends when it gives up.
  EXPECT_EQ(wire(2), (std::vector<std::string>{norm("606#40.00.10.00.00.00.00.00"),
                                               norm("606#80.00.10.00.00.00.04.05")}));

  // While node 6 is selected, node 5's answers are ordinary traffic for the monitor.
  const std::size_t mark = stored.size();
  send("605#40.00.10.00.00.00.00.00");
  EXPECT_TRUE(waitForStored("585#43.00.10.00.92.01.02.00", mark));

  session.nodeId.store(kNode, std::memory_order_relaxed);
  EXPECT_EQ(read(0x1000, 0).value, 0x00020192);
}

}  // namespace
}  // namespace bp::test
