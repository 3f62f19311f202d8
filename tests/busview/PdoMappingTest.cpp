// PDOs as named values: the mapping table from the EDS defaults and the node's readings, and
// received frames split by it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "busview/PdoMapping.h"
#include "busview/PdoReadback.h"
#include "busview/PdoValues.h"
#include "od/EdsReader.h"
#include "sim/DemoEds.h"
#include "sim/SimBench.h"
#include "support/FrameText.h"
#include "util/Error.h"

namespace bp::busview {
namespace {

// "TPDO1 185: Name@offset/bits ..." per PDO, "; " between them; "x" marks a 29-bit identifier.
std::string describe(const PdoTable& table) {
  std::string out;
  for (const PdoMapping& p : table.pdos()) {
    char id[16];
    std::snprintf(id, sizeof id, " %X%s:", static_cast<unsigned>(p.canId), p.extended ? "x" : "");
    out += (out.empty() ? "" : "; ") + pdoName(p) + id;
    for (const MappedObject& m : p.objects)
      out += " " + m.name + "@" + std::to_string(m.bitOffset) + "/" + std::to_string(m.bitLength);
  }
  return out;
}

// Each value's text ("-" where it does not fit), "|" between them; " short" for a length
// mismatch, " +N" for N extra bytes.
std::string describe(const DecodedPdo& d) {
  std::string out;
  for (const PdoValue& v : d.values) out += (&v == &d.values.front() ? "" : "|") + (v.fits ? v.text : "-");
  if (d.lengthMismatch) out += " short";
  if (d.extraBytes != 0) out += " +" + std::to_string(d.extraBytes);
  return out;
}

struct Field {
  std::int8_t type;  // a dummy maps the data type entry of this index
  std::uint8_t bits;
  bool dummy = false;
};

// TPDO1 on 0x181 mapping the fields in order (from readings), each object (0x2001 + k) of its
// type in the dictionary.
class Split : public ::testing::Test {
 protected:
  DecodedPdo split(const std::vector<Field>& fields, std::string_view frameText) {
    dictionary.ClearObjectDictionary();
    NodeReadings readings;
    readings.set(kTpdoCommunication, 1, 0x181);
    readings.set(kTpdoMapping, 0, static_cast<std::uint32_t>(fields.size()));
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const auto index = static_cast<std::uint16_t>(fields[k].dummy ? fields[k].type : 0x2001 + k);
      const std::uint32_t entry = std::uint32_t{index} << 16 | fields[k].bits;
      readings.set(kTpdoMapping, static_cast<std::uint8_t>(k + 1), entry);
      if (fields[k].dummy) continue;
      auto e = std::make_unique<od::ObjectEntry>();
      e->index = index;
      e->dataType = fields[k].type;
      dictionary.AddObjectEntry(std::move(e));
    }
    table = PdoTable(dictionary, readings);
    return splitPdo(table.pdos().at(0), test::frame(frameText), '.');
  }
  od::ObjectDictionary dictionary;
  PdoTable table;
};

TEST_F(Split, EachWidthAndTypeAtAnyBitOffset) {
  using namespace od;
  struct Row {
    std::vector<Field> fields;
    const char* frame;
    const char* values;
  };
  const Row rows[] = {
      {{{kBoolean, 1}, {kBoolean, 1}, {kInteger8, 6}, {kUnsigned8, 8}}, "181#FD.80",
       "1 (0x1)|0 (0x0)|-1 (0xFFFFFFFF)|128 (0x80)"},
      {{{kUnsigned8, 4}, {kUnsigned16, 16}, {kInteger24, 24}, {kUnsigned8, 4}}, "181#12.34.56.78.9A.BC",
       "2 (0x2)|25409 (0x6341)|-3561595 (0xFFFFFFFFFFC9A785)|11 (0xB)"},
      {{{kUnsigned64, 64}}, "181#FF.FF.FF.FF.FF.FF.FF.FF", "18446744073709551615 (0xFFFFFFFFFFFFFFFF)"},
      {{{kInteger40, 40}, {kInteger16, 16}}, "181#00.00.00.00.80.00.80",
       "-549755813888 (0xFFFFFF8000000000)|-32768 (0xFFFF8000)"},
      {{{kReal32, 32}, {kReal32, 32}}, "181#00.00.C0.3F.00.00.20.C1", "1.5|-10"},
      {{{kReal64, 64}}, "181#00.00.00.00.00.00.00.C0", "-2"},
      {{{kVisibleString, 24}, {kOctetString, 16}}, "181#41.62.63.01.AB", "Abc|01 AB"},
      {{{kUnsigned8, 8, true}, {kUnsigned16, 16}, {kInteger8, 8, true}}, "181#FF.34.12.FF", "|4660 (0x1234)|"},
      {{{kUnsigned16, 16}, {kUnsigned32, 32}}, "181#01.00.02.00", "1 (0x1)|- short"},
      {{{kUnsigned16, 16}}, "181#01.00.02.00", "1 (0x1) +2"},
      {{{kBoolean, 1}}, "181#", "- short"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.frame);
    EXPECT_EQ(describe(split(r.fields, r.frame)), r.values);
  }
}

TEST_F(Split, NumbersAndTheBytesTheTreeStores) {
  // INTEGER16 in 12 bits (-1), REAL32 1.5 from bit 12, 4 bits of 3 from bit 44.
  const DecodedPdo d =
      split({{od::kInteger16, 12}, {od::kReal32, 32}, {od::kUnsigned8, 4}}, "181#FF.0F.00.00.FC.33");
  ASSERT_EQ(d.values.size(), 3u);
  EXPECT_EQ(d.values[0].raw, 0xFFFu);
  EXPECT_EQ(d.values[0].number, -1.0) << "sign-extended from the mapped length";
  EXPECT_EQ(d.values[1].number, 1.5);
  const auto changed = storeInDictionary(d);
  ASSERT_EQ(changed.size(), 3u);
  EXPECT_EQ(changed[0], dictionary.find(0x2001, 0));
  EXPECT_EQ(changed[0]->value, -1);
  EXPECT_EQ(changed[1]->realValue, 1.5);
  EXPECT_EQ(changed[2]->value, 3);
}

// The demo EDS: TPDO1 at $NODEID+0x180 maps 0x6041 and 0x6064, RPDO1 at $NODEID+0x200 maps 0x6040.
TEST(PdoTableSources, EdsDefaultsThenTheNodesReadings) {
  struct Reading {
    std::uint16_t index;
    std::uint8_t sub;
    std::uint32_t value;
  };
  struct Row {
    std::uint8_t nodeId;
    std::vector<Reading> readings;
    const char* table;
  };
  const char* const kDefaults =
      "TPDO1 185: Statusword@0/16 Position actual value@16/32; RPDO1 205: Controlword@0/16";
  const Row rows[] = {
      {5, {}, kDefaults},
      {9, {}, "TPDO1 189: Statusword@0/16 Position actual value@16/32; RPDO1 209: Controlword@0/16"},
      {5, {{0x1A00, 1, 0x60640020}, {0x1A00, 0, 4}, {0x1A00, 3, 0x00050008}, {0x1A00, 4, 0x10180120}},
       "TPDO1 185: Position actual value@0/32 Position actual value@32/32 Dummy 0x0005@64/8 "
       "Identity object / Vendor-ID@72/32; RPDO1 205: Controlword@0/16"},
      {5, {{0x1A00, 0, 3}}, kDefaults},  // the mapping ends at the first entry neither source has
      {5,
       {{0x1800, 1, 0x80000185}, {0x1801, 1, 0x285}, {0x1A01, 0, 1}, {0x1A01, 1, 0x60410010},
        {0x1400, 1, 0x20012345}},
       "TPDO2 285: Statusword@0/16; RPDO1 12345x: Controlword@0/16"},
      {5, {{0x1801, 1, 0x205}, {0x1A00, 0, 0}}, "TPDO1 185:; TPDO2 205:"},  // the first keeps an identifier
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(&r - rows);
    od::ObjectDictionary dictionary;
    od::ReadEDSText(sim::demoEdsText(), dictionary, '.', r.nodeId);
    NodeReadings readings;
    for (const Reading& x : r.readings) readings.set(x.index, x.sub, x.value);
    EXPECT_EQ(describe(PdoTable(dictionary, readings)), r.table);
  }
}

TEST(PdoDemoNode, Tpdo1OfTheSimulatedDriveDecodesByName) {
  sim::test::SimBench bench(sim::demoEdsText(), 5);
  od::ObjectDictionary dictionary;
  od::ReadEDSText(sim::demoEdsText(), dictionary, '.', 5);
  const PdoTable table(dictionary, NodeReadings{});
  bench.exchange("000#01.05");
  const std::uint8_t target[] = {0x10, 0x27, 0x00, 0x00};  // 10000
  ASSERT_EQ(bench.node->writeValue(0x607A, 0, target), 0u);
  for (const char* controlWord : {"205#06.00", "205#07.00", "205#0F.00"}) bench.exchange(controlWord);
  bench.advance(50);
  const auto sent = bench.exchange("080#");
  ASSERT_EQ(sent.size(), 1u);

  const PdoMapping* pdo = table.find(test::frame(sent[0]));
  ASSERT_NE(pdo, nullptr);
  EXPECT_EQ(pdoName(*pdo), "TPDO1");
  EXPECT_EQ(table.find(test::frame("185#R")), nullptr) << "a remote request carries no PDO";
  EXPECT_EQ(table.find(0x185, true), nullptr) << "a 29-bit identifier of the same number";
  const DecodedPdo d = splitPdo(*pdo, test::frame(sent[0]), '.');
  ASSERT_EQ(d.values.size(), 2u);
  EXPECT_FALSE(d.lengthMismatch);
  EXPECT_EQ(d.values[0].object->entry, dictionary.find(0x6041, 0));
  EXPECT_EQ(d.values[0].object->name, "Statusword");
  EXPECT_EQ(d.values[0].number, bench.node->statusWord());
  EXPECT_EQ(d.values[1].object->name, "Position actual value");
  EXPECT_EQ(d.values[1].number, bench.node->position());
  EXPECT_NE(bench.node->position(), 0) << "the drive moved";
}

}  // namespace
}  // namespace bp::busview

namespace bp::busview {
namespace {

// The PDO parameters read from the node replace the EDS defaults; a failure stops the reading
// and keeps what was read before it.
TEST(PdoReadback, ReadsEachPdosCobIdAndMappingAndStopsAtTheFirstFailure) {
  sim::test::SimBench bench(sim::demoEdsText(), 5);
  const std::uint8_t unmapped[] = {0};
  ASSERT_EQ(bench.node->writeValue(0x1A00, 0, unmapped), 0u);  // the node's TPDO1 maps nothing now
  od::ObjectDictionary dictionary;
  od::ReadEDSText(sim::demoEdsText(), dictionary, '.', 5);
  std::vector<std::string> asked;
  auto read = [&](std::uint16_t index, std::uint8_t sub) -> std::uint32_t {
    asked.push_back(std::to_string(index) + ":" + std::to_string(sub));
    if (index == 0x1600 && sub == 1) throw Error("SDO abort");
    std::vector<std::uint8_t> bytes = bench.node->value(index, sub).value_or(std::vector<std::uint8_t>{});
    bytes.resize(4, 0);
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
  };
  NodeReadings readings;
  const ReadbackOutcome out = readPdoParameters(dictionary, readings, read);
  EXPECT_EQ(out.error, "SDO abort");
  EXPECT_EQ(readings.get(0x1A00, 0), 0u);
  EXPECT_EQ(readings.get(0x1400, 1), 0x205u);
  EXPECT_FALSE(readings.get(0x1600, 1).has_value());
  EXPECT_EQ(asked.back(), std::to_string(0x1600) + ":1");
  const PdoTable table(dictionary, readings);
  ASSERT_NE(table.find(0x185, false), nullptr);
  EXPECT_TRUE(table.find(0x185, false)->objects.empty()) << "the node's mapping, not the EDS default";
}

}  // namespace
}  // namespace bp::busview
