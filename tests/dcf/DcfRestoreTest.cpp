// A node's configuration saved as a DCF, restored in a safe order, and compared.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dcf/DcfNode.h"
#include "dcf/DcfRestore.h"
#include "od/DcfWriter.h"
#include "od/EdsReader.h"
#include "od/ValueEncoding.h"
#include "sim/DemoEds.h"
#include "sim/SimBench.h"
#include "util/Error.h"
#include "util/LittleEndian.h"

namespace bp::dcf {
namespace {

std::string le(std::uint32_t v, std::size_t size) {
  std::uint8_t b[4];
  storeLe32(b, v);
  return std::string(reinterpret_cast<const char*>(b), size);
}

// The simulated drive's own objects, as an SDO client would see them (abort code as the error).
NodeAccess accessTo(sim::SimNode& node) {
  return {[&node](std::uint16_t i, std::uint8_t s) {
            const auto v = node.value(i, s);
            if (!v) throw Error("object does not exist");
            return std::string(v->begin(), v->end());
          },
          [&node](std::uint16_t i, std::uint8_t s, std::string_view bytes) {
            const std::uint32_t abort = node.writeValue(
                i, s, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
            if (abort != 0) throw Error("abort " + std::to_string(abort));
          }};
}

// Saves, resets (a fresh node), restores and compares: nothing differs, and the values took.
TEST(DcfRoundTrip, ChangedDriveParametersComeBackOnAFreshNode) {
  const std::string eds(sim::demoEdsText());
  od::ObjectDictionary dictionary;
  od::ReadEDSText(eds, dictionary, '.', 5);
  sim::test::SimBench before(eds, 5);
  NodeAccess old = accessTo(*before.node);
  old.write(0x1017, 0, le(250, 2));
  old.write(0x1800, 2, le(254, 1));
  old.write(0x1A00, 0, le(1, 1));  // TPDO1 maps the status word only
  old.write(0x6081, 0, le(1234, 4));

  std::vector<od::ReadOutcome> outcomes;
  for (const od::ObjectEntry* h : dictionary.heads())
    for (const od::ObjectEntry* e = h; e != nullptr; e = e->next) {
      if (e->subIndex < 0 || e->access == od::kWriteOnly) continue;
      od::ReadOutcome o{static_cast<std::uint16_t>(e->index), static_cast<std::uint8_t>(e->subIndex), false, {}, {}};
      try {
        o.bytes = old.read(o.index, o.subIndex);
        o.ok = true;
      } catch (const Error& err) {
        o.error = err.what();
      }
      outcomes.push_back(o);
    }
  const std::string dcf = od::writeDcf(eds, dictionary, outcomes, {5, 500, "2026-12-09 17:30"});

  od::ObjectDictionary saved;
  od::ReadEDSText(dcf, saved, '.', 5);
  sim::test::SimBench after(eds, 5);
  const auto objects = dcfValues(dcf, saved, "saved", '.');
  const RestoreReport report = restore(saved, objects, accessTo(*after.node), {}, '.');
  EXPECT_TRUE(report.errors.empty()) << report.errors.front();
  EXPECT_FALSE(report.stopped);
  EXPECT_GT(report.written, 10);
  EXPECT_TRUE(report.differences.empty()) << report.differences.front().name;
  EXPECT_EQ(after.node->integerValue(0x1017, 0), 250);
  EXPECT_EQ(after.node->integerValue(0x1A00, 0), 1);
  EXPECT_EQ(after.node->integerValue(0x6081, 0), 1234);
  EXPECT_EQ(after.node->integerValue(0x1800, 1), 0x185) << "TPDO1 enabled again";
  EXPECT_TRUE(compareWithDefaults(saved, '.').size() >= 4);
}

// A node whose mapping write fails in the middle of TPDO1's remap: the PDO ends enabled as it
// was, the restore stops there, and the order of the writes is the safe one.
TEST(DcfRestoreOrder, AFailedRemapLeavesThePdoEnabledAsItWas) {
  od::ObjectDictionary dcf;
  od::ReadEDSText(sim::demoEdsText(), dcf, '.', 5);
  std::map<std::pair<int, int>, std::string> node{{{0x1800, 1}, le(0x185, 4)}};
  std::vector<std::string> writes;
  const NodeAccess access{
      [&](std::uint16_t i, std::uint8_t s) { return node.at({i, s}); },
      [&](std::uint16_t i, std::uint8_t s, std::string_view bytes) {
        const std::uint32_t v = bytes.size() == 4 ? loadLe32(reinterpret_cast<const std::uint8_t*>(bytes.data()))
                                                  : static_cast<unsigned char>(bytes[0]);
        char buf[24];
        std::snprintf(buf, sizeof buf, "%04X:%u=%u", i, s, static_cast<unsigned>(v));
        writes.push_back(buf);
        if (i == 0x1A00 && s == 2) throw Error("SDO abort 0x06040041");
        node[{i, s}] = std::string(bytes);
      }};
  const ObjectKey objects[] = {{0x1017, 0}, {0x1A00, 0}, {0x1A00, 1}, {0x1A00, 2}, {0x1800, 2}};
  const RestoreReport report = restore(dcf, objects, access, {}, '.');
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0].substr(0, 7), "1017:0=");
  EXPECT_EQ(std::vector<std::string>(writes.begin() + 1, writes.end()),
            (std::vector<std::string>{"1800:1=" + std::to_string(0x80000185u), "1A00:0=0", "1A00:1=" + std::to_string(0x60410010u),
                                      "1A00:2=" + std::to_string(0x60640020u), "1800:1=389"}));
  EXPECT_TRUE(report.stopped);
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_EQ(report.errors[0], "0x1A00 sub 2: SDO abort 0x06040041");
  EXPECT_EQ(node.at({0x1800, 1}), le(0x185, 4));
}

// A ParameterValue the EDS reader passes over would leave the default in its place: the file is
// refused, naming the object and the text, before anything is compared or written.
TEST(DcfValues, AValueThatIsNoneOfItsTypeRefusesTheFile) {
  auto file = [](const std::string& value) {
    return "[MandatoryObjects]\nSupportedObjects=2\n1=0x1017\n2=0x1018\n[1017]\nParameterName=Heartbeat\n"
           "ObjectType=0x7\nDataType=0x0006\nAccessType=rw\nDefaultValue=0\nParameterValue=" + value +
           "\n[1018]\nParameterName=Name\nObjectType=0x7\nDataType=0x0009\nAccessType=rw\nParameterValue=\n";
  };
  for (const char* good : {"65535", "0x1F4", "$NODEID+0x100"}) {
    od::ObjectDictionary d;
    od::ReadEDSText(file(good), d, '.', 5);
    EXPECT_EQ(dcfValues(file(good), d, "x.dcf", '.').size(), 2u) << good;
  }
  for (const char* bad : {"70000", "abc", ""}) {
    od::ObjectDictionary d;
    od::ReadEDSText(file(bad), d, '.', 5);
    try {
      dcfValues(file(bad), d, "x.dcf", '.');
      ADD_FAILURE() << bad << " was taken";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "\"x.dcf\": 0x1017 sub 0: ParameterValue \"" + std::string(bad) +
                                           "\" is no value of UNSIGNED16; nothing was written or compared");
    }
  }
}

}  // namespace
}  // namespace bp::dcf
