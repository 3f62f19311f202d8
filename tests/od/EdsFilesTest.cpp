// Whole EDS files: the sample file shipped with the program and a corpus of real-world files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "od/EdsReader.h"
#include "od/ValueText.h"

namespace bp::od {
namespace {

std::string fileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 1-based numbers of the lines that open an object section, counted independently of the reader.
std::vector<int> objectHeaderLines(const std::string& bytes) {
  std::vector<int> out;
  int line = 1;
  bool atLineStart = true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (atLineStart && c == '[' && i + 1 < bytes.size() && bytes[i + 1] >= '0' &&
        bytes[i + 1] <= '9') {
      out.push_back(line);
    }
    atLineStart = false;
    if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      ++line;
      atLineStart = true;
    }
  }
  return out;
}

// 1-based number of the first line that equals `text`, or 0.
int lineOf(const std::string& bytes, const std::string& text) {
  const auto lines = splitEdsLines(bytes);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == text) return static_cast<int>(i) + 1;
  }
  return 0;
}

const std::filesystem::path kSample =
    std::filesystem::path(BUSPROBE_SOURCE_DIR) / "examples/drv17-ka.eds";

class SampleEds : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes = fileBytes(kSample);
    ASSERT_FALSE(bytes.empty()) << kSample;
    ReadEDSFile(kSample.string(), d, '.', 5);
  }
  std::string caption(std::int32_t index, std::int32_t sub, char sep = '.') const {
    const ObjectEntry* e = d.find(index, sub);
    return e ? FormatNodeCaption(*e, sep) : "<missing>";
  }
  std::string bytes;
  ObjectDictionary d;
};

TEST_F(SampleEds, ReadsEveryObjectSection) {
  EXPECT_EQ(d.recordCount(), objectHeaderLines(bytes).size());
  EXPECT_EQ(d.recordCount(), 62u);
  EXPECT_EQ(d.heads().size(), 35u);
  EXPECT_NE(bytes.find("\r\n"), std::string::npos) << "CR LF line ends";
  for (const ObjectEntry* h : d.heads()) {
    SCOPED_TRACE(h->index);
    EXPECT_FALSE(h->nameText().empty());
    for (const ObjectEntry* c = h->next; c != nullptr; c = c->next)
      EXPECT_FALSE(c->nameText().empty());
  }
}

TEST_F(SampleEds, CaptionsOfTypicalObjects) {
  const struct {
    std::int32_t index, sub;
    const char* caption;
  } rows[] = {
      {0x1000, 0, "0x1000 Device type = 131474 (0x20192)"},
      {0x1008, 0, "0x1008 Manufacturer device name = DRV17-KA Servo"},
      {0x1017, 0, "0x1017 Producer heartbeat time = 0 (0x0)"},
      {0x1018, -1, "0x1018 Identity object"},
      {0x1018, 0, "Sub 0x00 Highest sub-index supported = 4 (0x4)"},
      {0x1018, 1, "Sub 0x01 Vendor-ID = 2583 (0xA17)"},
      {0x1200, 1, "Sub 0x01 COB-ID client to server (rx) = 1541 (0x605)"},
      {0x1600, 1, "Sub 0x01 Mapping entry 1 = 1614807056 (0x60400010)"},
      {0x1A00, 2, "Sub 0x02 Mapping entry 2 = 1617166368 (0x60640020)"},
      {0x2000, -1, "0x2000 Current limits"},
      {0x2000, 0, "Sub 0x00 Number of entries = 3 (0x3)"},
      {0x2100, 0, "0x2100 Motor temperature = 25.5"},
      {0x2200, 0, "0x2200 Drive command"},
      {0x2300, 0, "0x2300 Encoder zero offset = -1250 (0xFFFFFB1E)"},
      {0x2400, 0, "0x2400 Temperature sensor trim = -2 (0xFFFFFFFE)"},
      {0x2420, 0, "0x2420 Brake release on enable = 1 (0x1)"},
      {0x6040, 0, "0x6040 Controlword = 0 (0x0)"},
      {0x6083, 0, "0x6083 Profile acceleration = 50000 (0xC350)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.caption);
    EXPECT_EQ(caption(r.index, r.sub), r.caption);
  }
  EXPECT_EQ(caption(0x2100, 0, ','), "0x2100 Motor temperature = 25,5");
}

TEST_F(SampleEds, TypesAndAccessAsTheDriveDeclaresThem) {
  const struct {
    std::int32_t index;
    std::int8_t type;
    std::uint32_t access;
  } rows[] = {
      {0x1000, kUnsigned32, kReadOnly},  {0x1008, kVisibleString, kReadOnly},
      {0x100C, kUnsigned16, kReadWrite}, {0x100D, kUnsigned8, kReadWrite},
      {0x2100, kReal32, kReadOnly},      {0x2200, kUnsigned8, kWriteOnly},
      {0x2300, kInteger32, kReadOnly},   {0x2400, kInteger8, kReadWrite},
      {0x2410, kInteger16, kReadWrite},  {0x2420, kBoolean, kReadWrite},
      {0x6040, kUnsigned16, kReadWrite}, {0x6041, kUnsigned16, kReadOnly},
      {0x6060, kInteger8, kReadWrite},   {0x6061, kInteger8, kReadOnly},
      {0x6064, kInteger32, kReadOnly},   {0x607A, kInteger32, kReadWrite},
      {0x6081, kUnsigned32, kReadWrite}, {0x6083, kUnsigned32, kReadWrite},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.index);
    const ObjectEntry* e = d.find(r.index, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->dataType, r.type);
    EXPECT_EQ(e->access, r.access);
  }
  EXPECT_GE(d.find(0x1008, 0)->textValue.size(), 10u) << "long enough for a segmented upload";

  // The array: a head, sub 0 with the element count, then that many UNSIGNED16 elements.
  const ObjectEntry* head = d.find(0x2000, -1);
  ASSERT_NE(head, nullptr);
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(head->next->value, 3);
  int elements = 0;
  for (const ObjectEntry* c = head->next->next; c != nullptr; c = c->next, ++elements) {
    EXPECT_EQ(c->dataType, kUnsigned16);
  }
  EXPECT_EQ(elements, 3);
}

TEST_F(SampleEds, CommaLocaleStopsAtTheRealDefault) {
  ObjectDictionary comma;
  try {
    ReadEDSText(bytes, comma, ',', 5);
    ADD_FAILURE() << "no error";
  } catch (const EdsReadError& e) {
    EXPECT_EQ(e.line(), lineOf(bytes, "DefaultValue=25.5"));
  }
  EXPECT_EQ(comma.find(0x2100, 0), nullptr);
  EXPECT_NE(comma.find(0x2000, 3), nullptr);
}

// The corpus files that are malformed themselves, with the reason.
const std::vector<std::pair<std::string_view, std::string_view>> kMalformed = {
};

bool isMalformed(const std::string& name) {
  return std::any_of(kMalformed.begin(), kMalformed.end(),
                     [&](const auto& m) { return m.first == name; });
}

// What a file shows beyond plain objects: resolved node-ID defaults (at node 5), compact
// sub-entries and objects 0xA000 and up.
std::string highlights(const ObjectDictionary& d) {
  int fromNode = 0;
  int compact = 0;
  int high = 0;
  std::string firstCobId;
  for (const ObjectEntry* h : d.heads()) {
    high += h->index >= 0xA000 ? 1 : 0;
    for (const ObjectEntry* e = h; e != nullptr; e = e->next) {
      if (e->defaultFromNodeId && firstCobId.empty()) firstCobId = FormatNodeCaption(*e, '.');
      fromNode += e->defaultFromNodeId ? 1 : 0;
      compact += e->subIndex == 0 && e->nameText() == "Number of entries" ? 1 : 0;
    }
  }
  char buf[96];
  std::snprintf(buf, sizeof buf, "%d node-ID defaults, %d arrays with a count, %d objects >= 0xA000",
                fromNode, compact, high);
  return std::string(buf) + (firstCobId.empty() ? "" : "; " + firstCobId);
}

// Every file of the corpus reads whole with either separator, except the malformed ones, which
// report a line of the file. Every record has a caption.
TEST(EdsCorpus, EveryFileReadsWhole) {
  const std::filesystem::path dir(BUSPROBE_EDS_DIR);
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) GTEST_SKIP() << "no EDS corpus at " << dir;
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir)) {
    const auto ext = item.path().extension().string();
    if (ext != ".eds" && ext != ".dcf" && ext != ".EDS" && ext != ".DCF") continue;
    ++files;
    const std::string name = item.path().filename().string();
    const std::size_t lines = splitEdsLines(fileBytes(item.path())).size();
    for (char sep : {'.', ','}) {
      SCOPED_TRACE(name + " separator " + sep);
      ObjectDictionary d;
      int line = 0;
      try {
        ReadEDSFile(item.path().string(), d, sep, 5);
      } catch (const EdsReadError& e) {
        line = e.line();
      }
      if (sep == '.' && !isMalformed(name)) {
        EXPECT_EQ(line, 0);
      }
      EXPECT_LE(static_cast<std::size_t>(line), lines);
      if (sep == '.') {
        std::printf("[   INFO   ] %-60s %5zu records%s: %s\n", name.c_str(), d.recordCount(),
                    line ? (", stopped at line " + std::to_string(line)).c_str() : "",
                    highlights(d).c_str());
      }
      for (const ObjectEntry* h : d.heads()) {
        for (const ObjectEntry* e = h; e != nullptr; e = e->next) {
          EXPECT_FALSE(FormatNodeCaption(*e, sep).empty());
        }
      }
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace bp::od
