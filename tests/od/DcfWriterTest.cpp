// DCF files: the values read from a node written into the EDS, read back by the EDS reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "od/DcfWriter.h"
#include "od/EdsReader.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"

namespace bp::od {
namespace {

std::string fileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string hex4(std::uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v);
  return buf;
}

// Every record as "index sub name type", in list order: the tree the file loads as.
std::vector<std::string> tree(const ObjectDictionary& d) {
  std::vector<std::string> out;
  for (const ObjectEntry* h : d.heads())
    for (const ObjectEntry* e = h; e != nullptr; e = e->next)
      out.push_back(std::to_string(e->index) + " " + std::to_string(e->subIndex) + " " +
                    std::string(e->nameText()) + " " + std::to_string(e->dataType));
  return out;
}

// A value other than the default of each readable record: integers with their lowest bit turned,
// strings and bytes with an "x" or 0x5A added, reals plus 1.5.
std::vector<ReadOutcome> readValues(const ObjectDictionary& d) {
  std::vector<ReadOutcome> out;
  for (const ObjectEntry* h : d.heads())
    for (const ObjectEntry* e = h; e != nullptr; e = e->next) {
      if (e->subIndex < 0 || !parameterValueText(e->dataType, "").has_value()) continue;  // no value text
      ObjectEntry changed = *e;
      if (changed.dataType == kReal32 || changed.dataType == kReal64) changed.realValue += 1.5;
      std::string bytes = entryBytes(changed);
      if (bytes.empty() && fixedSize(e->dataType) != 0) continue;  // a type without a value
      if (fixedSize(e->dataType) != 0 && changed.dataType != kReal32 && changed.dataType != kReal64)
        bytes[0] = static_cast<char>(bytes[0] ^ 1);
      else if (fixedSize(e->dataType) == 0)
        bytes += e->dataType == kVisibleString ? "x" : e->dataType == kUnicodeString ? std::string("x\0", 2) : "\x5A";
      out.push_back({static_cast<std::uint16_t>(e->index), static_cast<std::uint8_t>(e->subIndex), true, bytes, {}});
    }
  return out;
}

// Each file of the corpus and the sample: its DCF loads as the same tree, every value written
// reads back as written, and a failed read leaves the default and is named in a comment.
TEST(DcfWriter, EveryEdsRoundTripsWithTheValuesRead) {
  std::vector<std::filesystem::path> files{std::filesystem::path(BUSPROBE_SOURCE_DIR) / "examples/drv17-ka.eds"};
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(BUSPROBE_EDS_DIR, ec))
    if (item.path().extension() == ".eds" || item.path().extension() == ".dcf") files.push_back(item.path());
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string eds = fileBytes(path);
    ObjectDictionary original;
    try {
      ReadEDSText(eds, original, '.', 5);
    } catch (const EdsReadError&) {
      continue;  // the corpus's malformed files
    }
    std::vector<ReadOutcome> outcomes = readValues(original);
    ASSERT_FALSE(outcomes.empty());
    outcomes.front().ok = false;
    outcomes.front().error = "SDO Transfer timeout\nsome name";
    const std::string dcf = writeDcf(eds, original, outcomes, {5, 500, "2026-12-09 17:00"});
    ObjectDictionary back;
    ASSERT_NO_THROW(ReadEDSText(dcf, back, '.', 5));
    EXPECT_EQ(tree(back), tree(original));
    int compared = 0;
    for (const ReadOutcome& o : outcomes) {
      const ObjectEntry* e = back.find(o.index, o.subIndex);
      ASSERT_NE(e, nullptr);
      const std::string now = entryBytes(*e);
      if (!o.ok) {
        EXPECT_EQ(now, entryBytes(*original.find(o.index, o.subIndex)));
        continue;
      }
      // A compact array's entries have no section of their own: they are named in a comment.
      if (dcf.find("0x" + hex4(o.index) + " sub " + std::to_string(o.subIndex) + ": no section") != std::string::npos)
        continue;
      EXPECT_EQ(now, o.bytes) << std::hex << o.index << " sub " << int(o.subIndex);
      ++compared;
    }
    EXPECT_GT(compared, 0);
    EXPECT_NE(dcf.find(";   0x" ), std::string::npos);
    EXPECT_NE(dcf.find("SDO Transfer timeout some name"), std::string::npos) << "one line of comment";
    EXPECT_NE(dcf.find("[DeviceComissioning]"), std::string::npos);
    EXPECT_NE(dcf.find("NodeID=5"), std::string::npos);
    EXPECT_NE(dcf.find("Baudrate=500"), std::string::npos);
  }
}

TEST(DcfWriter, KeepsEveryLineAndReplacesParameterValueInPlace) {
  const std::string eds =
      "; made by hand\r\n[FileInfo]\r\nFileName=x.eds\r\n\r\n[1017]\r\nParameterName=Producer heartbeat time\r\n"
      "DataType=0x0006\r\nAccessType=rw\r\nDefaultValue=0\r\nParameterValue=100\r\n; keep me\r\n\r\n"
      "[1018]\r\nParameterName=Identity\r\nObjectType=0x9\r\nSubNumber=2\r\n\r\n[1018sub0]\r\n"
      "ParameterName=Count\r\nDataType=0x0005\r\nAccessType=ro\r\nDefaultValue=1\r\n\r\n[1018sub1]\r\n"
      "ParameterName=Vendor\r\nDataType=0x0007\r\nAccessType=ro\r\nDefaultValue=0\r\n"
      "[DeviceComissioning]\r\nNodeID=2\r\nNodeName=left\r\n";
  ObjectDictionary d;
  ReadEDSText(eds, d, '.', 2);
  const ReadOutcome outcomes[] = {{0x1017, 0, true, std::string("\xF4\x01", 2), {}},
                                  {0x1018, 1, true, std::string("\x78\x56\x34\x12", 4), {}},
                                  {0x1018, 0, false, {}, "SDO abort 0x06020000"}};
  const std::string dcf = writeDcf(eds, d, outcomes, {7, 250, "2026-12-09 17:00"});
  EXPECT_EQ(dcf,
            "; Objects of node 7 left without ParameterValue:\r\n;   0x1018 sub 0: SDO abort 0x06020000\r\n"
            "; made by hand\r\n[FileInfo]\r\nFileName=x.eds\r\n\r\n[1017]\r\nParameterName=Producer heartbeat time\r\n"
            "DataType=0x0006\r\nAccessType=rw\r\nDefaultValue=0\r\nParameterValue=0x1F4\r\n; keep me\r\n\r\n"
            "[1018]\r\nParameterName=Identity\r\nObjectType=0x9\r\nSubNumber=2\r\n\r\n[1018sub0]\r\n"
            "ParameterName=Count\r\nDataType=0x0005\r\nAccessType=ro\r\nDefaultValue=1\r\n\r\n[1018sub1]\r\n"
            "ParameterName=Vendor\r\nDataType=0x0007\r\nAccessType=ro\r\nDefaultValue=0\r\nParameterValue=0x12345678\r\n"
            "[DeviceComissioning]\r\n; Values read by Busprobe from node 7 on 2026-12-09 17:00\r\nNodeName=left\r\n"
            "NodeID=7\r\nBaudrate=250\r\n");
}

TEST(DcfWriter, ParameterValueTextsByType) {
  EXPECT_EQ(parameterValueText(kUnsigned32, std::string("\x85\x01\x00\x80", 4)), "0x80000185");
  EXPECT_EQ(parameterValueText(kInteger16, std::string("\xFE\xFF", 2)), "-2");
  EXPECT_EQ(parameterValueText(kUnsigned64, std::string(8, '\xFF')), "0xFFFFFFFFFFFFFFFF");
  EXPECT_EQ(parameterValueText(kVisibleString, "drive"), "drive");
  EXPECT_EQ(parameterValueText(kVisibleString, "two\nlines"), std::nullopt);
  // Texts the EDS reader would pass over or change: left out, so the default never stands in.
  EXPECT_EQ(parameterValueText(kVisibleString, ""), std::nullopt);
  EXPECT_EQ(parameterValueText(kVisibleString, "\"q\""), std::nullopt);
  EXPECT_EQ(parameterValueText(kVisibleString, std::string(300, 'x')), std::nullopt);
  EXPECT_EQ(parameterValueText(kOctetString, ""), std::nullopt);
  const double inf = 1.0 / 0.0;
  std::string infBytes(8, '\0');
  std::memcpy(infBytes.data(), &inf, 8);
  EXPECT_EQ(parameterValueText(kReal64, infBytes), std::nullopt);
  EXPECT_EQ(parameterValueText(kOctetString, std::string("\x01\xAB", 2)), "01 AB");
  EXPECT_EQ(parameterValueText(kDomain, "abc"), std::nullopt);
  // Reals in full: the tree's 15 digits would read back as another number.
  const double sum = 0.1 + 0.2;
  std::string real(8, '\0');
  std::memcpy(real.data(), &sum, 8);
  EXPECT_EQ(parameterValueText(kReal64, real), "0.30000000000000004");
  ObjectEntry back;
  back.dataType = kReal64;
  ASSERT_TRUE(tryRealText(*parameterValueText(kReal64, real), '.', back.realValue));
  EXPECT_EQ(back.realValue, sum);
}

}  // namespace
}  // namespace bp::od
