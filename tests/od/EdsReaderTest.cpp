// The EDS line scanner and section reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "od/EdsReader.h"
#include "od/ValueText.h"

namespace bp::od {
namespace {

constexpr std::uint8_t kNode = 5;  // the node ID in effect when a text is read

// The lines joined with CR LF, as EDS files usually are.
std::string eds(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view l : lines) {
    text += l;
    text += "\r\n";
  }
  return text;
}

// Reads the text; 0 on success, otherwise the reported line.
int readInto(ObjectDictionary& d, std::string_view text, char sep = '.') {
  try {
    ReadEDSText(text, d, sep, kNode);
    return 0;
  } catch (const EdsReadError& e) {
    return e.line();
  }
}

// The record of a one-section file [2000] with the given key lines.
struct OneSection {
  ObjectDictionary d;
  int errorLine = 0;
  const ObjectEntry* entry = nullptr;
  OneSection(std::initializer_list<std::string_view> keys, char sep = '.') {
    std::string text = "[2000]\r\n";
    for (std::string_view k : keys) text.append(k).append("\r\n");
    errorLine = readInto(d, text, sep);
    if (!d.heads().empty()) entry = d.heads()[0];
  }
};

class TempFile {
 public:
  explicit TempFile(std::string_view bytes) {
    static std::atomic<int> counter{0};
    m_path = std::filesystem::temp_directory_path() /
             ("busprobe-od-" + std::to_string(std::random_device{}()) + "-" +
              std::to_string(counter++) + ".eds");
    std::ofstream(m_path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
  }
  std::string path() const { return m_path.string(); }

 private:
  std::filesystem::path m_path;
};

struct SplitRow {
  const char* name;
  std::string_view bytes;
  std::vector<std::string_view> lines;
};

TEST(EdsLines, SplitAtCrLfLfAndCr) {
  using namespace std::string_view_literals;
  const SplitRow rows[] = {
      {"empty text has no line", "", {}},
      {"no final break", "a", {"a"}},
      {"final CR LF adds no empty line", "a\r\n", {"a"}},
      {"final CR adds no empty line", "a\r", {"a"}},
      {"lone break is one empty line", "\n", {""}},
      {"empty line between", "a\n\nb", {"a", "", "b"}},
      {"mixed breaks", "a\rb\r\nc\nd", {"a", "b", "c", "d"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"CR CR LF is two breaks", "a\r\r\nb", {"a", "", "b"}},
      {"NUL is an ordinary byte", "a\0b\nc"sv, {"a\0b"sv, "c"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(splitEdsLines(r.bytes), r.lines);
  }
}

struct HeaderRow {
  const char* name;
  const char* header;
  std::int32_t index;
  std::int32_t subIndex;
};
constexpr HeaderRow kHeaders[] = {
    {"plain object", "[1000]", 0x1000, 0},
    {"lower-case sub", "[1018sub2]", 0x1018, 2},
    {"upper-case SUB", "[1018SUB2]", 0x1018, 2},
    {"mixed-case Sub", "[1018Sub2]", 0x1018, 2},
    {"hex sub-index", "[1600sub1A]", 0x1600, 0x1A},
    {"sub-index 10 is hex", "[1600sub10]", 0x1600, 0x10},
    {"lower-case hex digits", "[100asub0]", 0x100A, 0},
    {"five digits reach the A000 range", "[0A000]", 0xA000, 0},
    {"trailing blanks and tab trimmed", "[1001]  \t", 0x1001, 0},
    {"text after the bracket ignored", "[1002] ; note", 0x1002, 0},
    {"eight digits", "[12345678]", 0x12345678, 0},
};

TEST(EdsHeader, IndexAndSubIndexAreHex) {
  for (const auto& r : kHeaders) {
    SCOPED_TRACE(r.name);
    ObjectDictionary d;
    ASSERT_EQ(readInto(d, eds({"[FileInfo]", r.header, "ParameterName=X"})), 0);
    ASSERT_EQ(d.recordCount(), 1u);
    EXPECT_EQ(d.heads()[0]->index, r.index);
    EXPECT_EQ(d.heads()[0]->subIndex, r.subIndex);
    EXPECT_EQ(d.heads()[0]->nameText(), "X");
  }
}

constexpr const char* kBadHeaders[] = {
    "[1000",        // no "]": "0x" alone
    "[1000sub]",    // empty sub-index
    "[1000sub2",    // no "]" after sub
    "[10 00]",      // blank inside
    "[1000]sub1",   // "sub" after "]": the range runs backwards
    "[1000x]",      // stray letter
    "[123456789]",  // beyond 32 bits
    "[1G00]",
};

TEST(EdsHeader, MalformedHeaderFailsAtItsLineKeepingEarlierRecords) {
  for (const char* header : kBadHeaders) {
    SCOPED_TRACE(header);
    ObjectDictionary d;
    const std::string text = eds(
        {"[FileInfo]", "[1000]", "ParameterName=First", "", header, "ParameterName=Bad", "[1001]"});
    EXPECT_EQ(readInto(d, text), 5);
    ASSERT_EQ(d.recordCount(), 1u) << "completed section kept, failing and later ones not read";
    EXPECT_EQ(d.heads()[0]->nameText(), "First");
  }
}

TEST(EdsScan, ObjectSectionsDescriptiveSectionsAndBadHeaders) {
  struct Row {
    const char* header;
    int errorLine;         // 0: read to the end
    std::int32_t index;    // of the record read from the header; 0: none
    std::int32_t subIndex;
  };
  const Row rows[] = {
      {"[A000]", 0, 0xA000, 0},
      {"[a1c0SUB3]", 0, 0xA1C0, 3},
      {"[DeviceInfo]", 0, 0, 0},
      {"[ABCDE]", 0, 0, 0},
      {"[A000sub]", 0, 0, 0},
      {"[1600Value]", 0, 0, 0},
      {"[1a00name]", 0, 0, 0},
      {"[1000ObjectLinks]", 0, 0, 0},
      {"[12G4]", 2, 0, 0},
      {"[1000Names]", 2, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.header);
    ObjectDictionary d;
    EXPECT_EQ(readInto(d, eds({"[6000]", r.header, "ParameterName=X", "[6001]"})), r.errorLine);
    const std::size_t read = r.index != 0 ? 1 : 0;
    ASSERT_EQ(d.recordCount(), (r.errorLine != 0 ? 1u : 2u) + read);
    if (read != 0) {
      EXPECT_EQ(d.heads()[1]->index, r.index);
      EXPECT_EQ(d.heads()[1]->subIndex, r.subIndex);
    }
  }
}

TEST(EdsScan, IndentedHeaderEndsTheSectionAboveButIsNotRead) {
  ObjectDictionary d;
  const std::string text = eds({"[2000]", "ParameterName=A", "DataType=0x0007", "  [2001]",
                                "ParameterName=B", "DefaultValue=5", "DataType=bad", "[2002]"});
  EXPECT_EQ(readInto(d, text), 0);
  ASSERT_EQ(d.recordCount(), 2u);
  EXPECT_EQ(d.heads()[0]->nameText(), "A");
  EXPECT_EQ(d.heads()[0]->value, 0) << "keys below the indented header belong to no section";
  EXPECT_EQ(d.heads()[1]->index, 0x2002);
}

TEST(EdsScan, HeaderOnLastLineAndConsecutiveHeaders) {
  ObjectDictionary d;
  EXPECT_EQ(readInto(d, "[1000]\n[1001]\nParameterName=Second\nDataType=5\n[1002]"), 0);
  ASSERT_EQ(d.recordCount(), 3u);
  const ObjectEntry* first = d.heads()[0];
  EXPECT_EQ(first->index, 0x1000);
  EXPECT_EQ(first->nameText(), "");
  EXPECT_EQ(first->dataType, 0);
  EXPECT_EQ(first->access, kReadOnly);
  EXPECT_EQ(d.heads()[1]->nameText(), "Second");
  EXPECT_EQ(d.heads()[1]->dataType, kUnsigned8);
  EXPECT_EQ(d.heads()[2]->index, 0x1002);
  EXPECT_EQ(d.heads()[2]->subIndex, 0);
}

TEST(EdsScan, NoObjectSectionsLeavesTheDictionaryEmpty) {
  ObjectDictionary d;
  EXPECT_EQ(readInto(d, eds({"[FileInfo]", "FileName=x.eds", "; comment", "", "[DeviceInfo]"})), 0);
  EXPECT_TRUE(d.empty());
  EXPECT_EQ(readInto(d, "\n"), 0) << "one empty line is a line";
  EXPECT_EQ(readInto(d, ""), 1) << "no line at all";
}

TEST(EdsSection, CursorEndsOnTheLastLineOfTheSection) {
  const std::vector<std::string_view> lines{"[1000]", "DataType=7", "", "[1001]", "x=1"};
  ObjectDictionary d;
  std::ptrdiff_t cursor = 0;
  ReadEDSSection(lines, cursor, d, '.', 1);
  EXPECT_EQ(cursor, 2) << "the line before the header that ended it";
  cursor = 3;
  ReadEDSSection(lines, cursor, d, '.', 1);
  EXPECT_EQ(cursor, 4) << "the last line of the file";
  const std::vector<std::string_view> one{"[1000]"};
  cursor = 0;
  ReadEDSSection(one, cursor, d, '.', 1);
  EXPECT_EQ(cursor, 0);
  EXPECT_EQ(d.recordCount(), 3u);

  const std::vector<std::string_view> bad{"[1000]", "ParameterName=x", "DataType=q", "y=1"};
  cursor = 0;
  EXPECT_THROW(ReadEDSSection(bad, cursor, d, '.', 1), bp::Error);
  EXPECT_EQ(cursor, 2) << "left on the offending line";
  EXPECT_EQ(d.recordCount(), 3u) << "the failing section's record is discarded";
}

TEST(EdsKeys, MatchedWholeInAnyCaseDirectlyBeforeEquals) {
  {
    OneSection s({"DataType = 0x0007", "DefaultValue=5"});
    EXPECT_EQ(s.entry->dataType, 0) << "a blank before '=' hides the key";
  }
  {
    OneSection s({"DATATYPE= 0x0007", "DefaultValue= 0x10"});
    EXPECT_EQ(s.entry->dataType, kUnsigned32);
    EXPECT_EQ(s.entry->value, 16) << "a blank after '=' is accepted by the integer rule";
  }
  {
    OneSection s({"ParameterName= Name with blank", "  accesstype=rw"});
    EXPECT_EQ(s.entry->nameText(), " Name with blank");
    EXPECT_EQ(s.entry->access, kReadWrite) << "the line is trimmed before the key is taken";
  }
  {
    OneSection s({"ParameterNameX=no", ";ParameterName=no", "ParameterName", "Parameter=no"});
    EXPECT_EQ(s.entry->nameText(), "");
  }
  {
    OneSection s({"ParameterName=first", "ParameterName=a=b"});
    EXPECT_EQ(s.entry->nameText(), "a=b") << "later key wins; value after the first '='";
  }
}

TEST(EdsKeys, ValueIsCutAfterThousandCharacters) {
  // 999 blanks and "5" make 1000 characters; the stray "x" beyond them is dropped.
  const std::string line = "DefaultValue=" + std::string(999, ' ') + "5x";
  OneSection s({"DataType=0x0007", line});
  EXPECT_EQ(s.entry->value, 5);
}

TEST(EdsKeys, LongNameAndDefaultTextAreCutToFit) {
  const std::string longName = "ParameterName=" + std::string(900, 'n');
  const std::string longText = "DefaultValue=\"" + std::string(900, 't') + "\"";
  OneSection s({longName, "DataType=9", longText});
  EXPECT_EQ(s.entry->nameText(), std::string(kNameSize - 1, 'n'));
  EXPECT_EQ(s.entry->defaultTextView(), std::string(kDefaultTextSize - 1, 't'));
  EXPECT_EQ(s.entry->textValue, std::string(kDefaultTextSize - 1, 't'));

  // A UTF-8 character across the limit is left out whole (the list file's tests cover the cut).
  const std::string euro = "\xE2\x82\xAC";
  OneSection u({"ParameterName=" + std::string(kNameSize - 2, 'n') + euro, "DataType=9",
                "DefaultValue=" + std::string(kDefaultTextSize - 3, 't') + euro});
  EXPECT_EQ(u.entry->nameText(), std::string(kNameSize - 2, 'n'));
  EXPECT_EQ(u.entry->textValue, std::string(kDefaultTextSize - 3, 't'));
}

TEST(EdsKeys, QuotesStripped) {
  const std::pair<const char*, const char*> rows[] = {
      {"\"Quoted name\"", "Quoted name"},
      {"\"Unclosed", "Unclose"},
      {"No \"quotes\"", "No \"quotes\""},
      {"\"", "\""},
      {"\"\"", ""},
      {"", ""},
  };
  for (const auto& [in, out] : rows) {
    SCOPED_TRACE(in);
    EXPECT_EQ(StripQuotes(in), out);
    OneSection s({std::string("ParameterName=") + in});
    EXPECT_EQ(s.entry->nameText(), out);
  }
}

TEST(EdsKeys, ObjectTypeMarksCompositeHeads) {
  const std::pair<const char*, std::int32_t> rows[] = {
      {"ObjectType=0x7", 0}, {"ObjectType=0x8", -1},    {"ObjectType=9", -1},
      {"ObjectType=0x2", 0}, {"ObjectType=0x0009", -1},
  };
  for (const auto& [line, sub] : rows) {
    SCOPED_TRACE(line);
    OneSection s({line});
    EXPECT_EQ(s.entry->subIndex, sub);
  }
  ObjectDictionary d;
  EXPECT_EQ(readInto(d, eds({"[1018sub1]", "ObjectType=0x9"})), 0);
  EXPECT_EQ(d.heads()[0]->subIndex, -1) << "also on a header that carries a sub-index";
}

TEST(EdsKeys, AccessTypeSubstringsInOrder) {
  const std::pair<const char*, std::uint32_t> rows[] = {
      {"ro", kReadOnly},   {"RO", kReadOnly},   {"rw", kReadWrite},  {"RWW", kReadWrite},
      {"rwr", kReadWrite}, {"wo", kWriteOnly},  {"Wo", kWriteOnly},  {"const", kReadOnly},
      {"", kReadWrite},    {"xyz", kReadWrite}, {"rowo", kReadOnly}, {"wort", kWriteOnly},
  };
  for (const auto& [text, code] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseAccessType(text), code);
  }
  OneSection missing({"ParameterName=x"});
  EXPECT_EQ(missing.entry->access, kReadOnly) << "no AccessType line";
  OneSection empty({"AccessType="});
  EXPECT_EQ(empty.entry->access, kReadWrite);
}

struct DefaultRow {
  const char* name;
  const char* keys;  // key lines of section [2000]
  std::int8_t dataType;
  std::int32_t value;
  double real;
  const char* text;
};

TEST(EdsDefaults, InterpretedByTheDataTypeReadSoFar) {
  // clang-format off
  const DefaultRow rows[] = {
      {"U32 hex pattern",             "DataType=0x0007\nDefaultValue=0xFFFFFFFF", 7, -1, 0, ""},
      {"U32 decimal up to the max",   "DataType=0x0007\nDefaultValue=4294967295", 7, -1, 0, ""},
      {"U32 decimal above ignored",   "DataType=0x0007\nDefaultValue=4294967296", 7, 0, 0, ""},
      {"U8 decimal max",              "DataType=5\nDefaultValue=255", 5, 255, 0, ""},
      {"U8 decimal above ignored",    "DataType=5\nDefaultValue=256", 5, 0, 0, ""},
      {"U8 negative as before",       "DataType=5\nDefaultValue=-1", 5, -1, 0, ""},
      {"other node-ID forms ignored", "DataType=0x0007\nDefaultValue=$NODEID-1", 7, 0, 0, ""},
      {"empty default keeps last",    "DataType=5\nDefaultValue=3\nDefaultValue=  ", 5, 3, 0, ""},
      {"empty REAL32 no error",       "DataType=8\nDefaultValue=1.5\nDefaultValue=", 8, 0, 1.5, ""},
      {"quotes are the empty text",   "DataType=9\nDefaultValue=ab\nDefaultValue=\"\"", 9, 0, 0, ""},
      {"decimal DataType code",       "DataType=7\nDefaultValue=401", 7, 401, 0, ""},
      {"INTEGER8 negative",           "DataType=0x0002\nDefaultValue=-2", 2, -2, 0, ""},
      {"default before DataType",     "DefaultValue=25\nDataType=0x0008", 8, 25, 0, ""},
      {"before DataType of a string", "DefaultValue=abc\nDataType=0x0009", 9, 0, 0, ""},
      {"no DataType at all",          "DefaultValue=0x10", 0, 16, 0, ""},
      {"REAL32",                      "DataType=0x0008\nDefaultValue=25.5", 8, 0, 25.5, ""},
      {"REAL32 with exponent",        "DataType=0x0008\nDefaultValue=-1.5E2", 8, 0, -150.0, ""},
      {"string quoted",               "DataType=0x0009\nDefaultValue=\"DRV 1\"", 9, 0, 0, "DRV 1"},
      {"string plain",                "DataType=9\nDefaultValue=Node 1.0", 9, 0, 0, "Node 1.0"},
      {"OCTET_STRING ignored",        "DataType=0x000A\nDefaultValue=5", 10, 0, 0, ""},
      {"DOMAIN ignored",              "DataType=0x000F\nDefaultValue=5", 15, 0, 0, ""},
      {"code 0x80 is negative",       "DataType=0x0080\nDefaultValue=7", -128, 7, 0, ""},
      {"low 8 bits of DataType",      "DataType=0x0108\nDefaultValue=1.25", 8, 0, 1.25, ""},
      {"later default wins",          "DataType=5\nDefaultValue=1\nDefaultValue=2", 5, 2, 0, ""},
      {"failed default keeps last",   "DataType=5\nDefaultValue=3\nDefaultValue=x", 5, 3, 0, ""},
  };
  // clang-format on
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    ObjectDictionary d;
    ASSERT_EQ(readInto(d, std::string("[2000]\n") + r.keys), 0);
    const ObjectEntry& e = *d.heads()[0];
    EXPECT_EQ(e.dataType, r.dataType);
    EXPECT_EQ(e.value, r.value);
    EXPECT_EQ(e.defaultValue, r.value);
    EXPECT_EQ(e.realValue, r.real);
    EXPECT_EQ(e.defaultReal, r.real);
    EXPECT_EQ(e.textValue, r.text);
    EXPECT_EQ(e.defaultTextView(), r.text);
    EXPECT_EQ(e.direction, kRead);
    EXPECT_EQ(e.next, nullptr);
  }
}

TEST(EdsDefaults, NodeIdExpressionsResolvedForTheNode) {
  struct Row {
    const char* keys;
    std::int64_t value;  // value and default (value64 for a wide type)
    bool fromNodeId;
    std::int64_t offset;
  };
  const Row rows[] = {
      {"DataType=7\nDefaultValue=$NODEID+0x180", 0x185, true, 0x180},
      {"DataType=7\nDefaultValue=0x600 + $nodeid", 0x605, true, 0x600},
      {"DataType=5\nDefaultValue=$NodeId", kNode, true, 0},
      {"DataType=7\nDefaultValue=2*$NODEID", 0, false, 0},
      {"DataType=7\nDefaultValue=$NODEID+1\nDefaultValue=9", 9, false, 0},
      {"DataType=0x1B\nDefaultValue=$NODEID+0x100000000", 0x100000005, true, 0x100000000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.keys);
    OneSection s({r.keys});
    const ObjectEntry& e = *s.entry;
    const bool wide = isWideInteger(e.dataType);
    EXPECT_EQ(wide ? e.value64 : e.value, r.value);
    EXPECT_EQ(wide ? e.defaultValue64 : e.defaultValue, r.value);
    EXPECT_EQ(e.defaultFromNodeId, r.fromNodeId);
    EXPECT_EQ(e.nodeIdOffset, r.offset);
  }
}

TEST(EdsDefaults, WideIntegersReal64OctetAndUnicodeStrings) {
  struct Row {
    const char* keys;
    std::int64_t value64;
    double real;
    std::string_view text;   // textValue
    std::string_view bytes;  // defaultBytes
  };
  // clang-format off
  const Row rows[] = {
      {"DataType=0x15\nDefaultValue=-2", -2, 0, "", ""},
      {"DataType=0x15\nDefaultValue=0xFFFFFFFFFFFFFFFE", -2, 0, "", ""},
      {"DataType=0x15\nDefaultValue=-9223372036854775808", INT64_MIN, 0, "", ""},
      {"DataType=0x1B\nDefaultValue=18446744073709551615", -1, 0, "", ""},
      {"DataType=0x1B\nDefaultValue=18446744073709551616", 0, 0, "", ""},
      {"DataType=0x10\nDefaultValue=0xFFFFFF", -1, 0, "", ""},
      {"DataType=0x10\nDefaultValue=8388608", 0, 0, "", ""},
      {"DataType=0x16\nDefaultValue=-1", 0, 0, "", ""},
      {"DataType=0x11\nDefaultValue=1.5E300", 0, 1.5E300, "", ""},
      {"DataType=0x11\nDefaultValue=x", 0, 0, "", ""},
      {"DataType=0x0A\nDefaultValue=0102AB", 0, 0, "\x01\x02\xAB", "\x01\x02\xAB"},
      {"DataType=0x0A\nDefaultValue=01 02 ab", 0, 0, "\x01\x02\xAB", "\x01\x02\xAB"},
      {"DataType=0x0A\nDefaultValue=010", 0, 0, "", ""},
      {"DataType=0x0A\nDefaultValue=0x01", 0, 0, "", ""},
      {"DataType=0x0A\nDefaultValue=\"01\"", 0, 0, "", ""},
      {"DataType=0x0B\nDefaultValue=\"Hi there\"", 0, 0, "Hi there", ""},
  };
  // clang-format on
  for (const Row& r : rows) {
    SCOPED_TRACE(r.keys);
    OneSection s({r.keys});
    ASSERT_EQ(s.errorLine, 0);
    const ObjectEntry& e = *s.entry;
    EXPECT_EQ(e.value64, r.value64);
    EXPECT_EQ(e.defaultValue64, r.value64);
    EXPECT_EQ(e.realValue, r.real);
    EXPECT_EQ(e.defaultReal, r.real);
    EXPECT_EQ(e.textValue, r.text);
    EXPECT_EQ(e.defaultBytes, r.bytes);
  }
}

TEST(EdsDefaults, ParameterValueSetsOnlyTheValueInEitherOrder) {
  for (const char* keys : {"DataType=5\nDefaultValue=1\nParameterValue=2",
                           "DataType=5\nParameterValue=2\nDefaultValue=1"}) {
    SCOPED_TRACE(keys);
    OneSection s({keys});
    EXPECT_EQ(s.entry->value, 2);
    EXPECT_EQ(s.entry->defaultValue, 1);
  }
  OneSection real({"DataType=8\nParameterValue=x"});
  EXPECT_EQ(real.errorLine, 3) << "a REAL32 value that does not convert stops at its line";
}

TEST(EdsCompactArrays, SubEntriesNamedAndSetByTheNameAndValueSections) {
  ObjectDictionary d;
  ASSERT_EQ(readInto(d, eds({"[1600Name]", "NrOfEntries=2", "1=First", "3=\"Third\"", "[1600]",
                             "ParameterName=RPDO mapping", "ObjectType=0x8", "DataType=0x0007",
                             "AccessType=rw", "DefaultValue=0x60000108", "CompactSubObj=3",
                             "[1600Value]", "NrOfEntries=1", "2=0x60010108", "[2000]",
                             "ParameterName=Digital inputs", "ObjectType=8", "DataType=5", "AccessType=rw",
                             "DefaultValue=$NODEID+1", "CompactSubObj=2", "ParameterValue=7"})),
            0);
  struct Row {
    std::int32_t index;
    std::int32_t sub;
    const char* name;
    std::int32_t value;
    std::int32_t defaultValue;
  };
  const Row rows[] = {
      {0x1600, 0, "Number of entries", 3, 3},        {0x1600, 1, "First", 0x60000108, 0x60000108},
      {0x1600, 2, "RPDO mapping 2", 0x60010108, 0x60000108}, {0x1600, 3, "Third", 0x60000108, 0x60000108},
      {0x2000, 0, "Number of entries", 2, 2},        {0x2000, 2, "Digital inputs 2", 6, 6},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const ObjectEntry* e = d.find(r.index, r.sub);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->nameText(), r.name);
    EXPECT_EQ(e->value, r.value);
    EXPECT_EQ(e->defaultValue, r.defaultValue);
    EXPECT_EQ(e->access, r.sub == 0 ? kReadOnly : kReadWrite);
    EXPECT_EQ(e->dataType, r.sub == 0 ? std::int8_t{kUnsigned8} : d.find(r.index, -1)->dataType);
  }
  EXPECT_EQ(d.find(0x2000, -1)->value, 7) << "the head's ParameterValue stays with the head";
  EXPECT_TRUE(d.find(0x2000, 1)->defaultFromNodeId);
  EXPECT_EQ(d.recordCount(), 9u);

  // Only an ARRAY with CompactSubObj 1..254 gets sub-entries.
  for (const char* keys : {"ObjectType=8\nCompactSubObj=0", "ObjectType=8\nCompactSubObj=255",
                           "ObjectType=9\nCompactSubObj=2", "ObjectType=7\nCompactSubObj=2"}) {
    SCOPED_TRACE(keys);
    OneSection s({keys});
    EXPECT_EQ(s.d.recordCount(), 1u);
  }
}

TEST(EdsDefaults, RealWithTheWrongSeparatorStopsAtItsLine) {
  const std::string text = eds({"[2000]", "ParameterName=Before", "[2100]", "DataType=0x0008",
                                "ParameterName=Temp", "DefaultValue=25,5", "[2200]"});
  ObjectDictionary pointLocale;
  EXPECT_EQ(readInto(pointLocale, text, '.'), 6);
  ASSERT_EQ(pointLocale.recordCount(), 1u);
  EXPECT_EQ(pointLocale.heads()[0]->nameText(), "Before");

  ObjectDictionary commaLocale;
  EXPECT_EQ(readInto(commaLocale, text, ','), 0);
  ASSERT_EQ(commaLocale.recordCount(), 3u);
  EXPECT_EQ(commaLocale.heads()[1]->realValue, 25.5);
}

TEST(EdsDefaults, ConversionFailuresReportTheirLine) {
  const std::pair<const char*, int> rows[] = {
      {"DataType=UNSIGNED8", 4},
      {"ObjectType=VAR", 4},
      {"DataType=", 4},
      {"ObjectType=0x7 ", 0},
  };
  for (const auto& [line, expected] : rows) {
    SCOPED_TRACE(line);
    ObjectDictionary d;
    // A trailing blank is trimmed with the line, so "0x7 " reads fine.
    EXPECT_EQ(readInto(d, eds({"[1000]", "[1001]", "ParameterName=x", line, "[1002]"})), expected);
    EXPECT_EQ(d.recordCount(), expected == 0 ? 3u : 1u);
  }
}

TEST(EdsFile, MissingEmptyAndUnreadableFilesReportLineOne) {
  ObjectDictionary d;
  const auto lineOf = [&](const std::string& path) {
    try {
      ReadEDSFile(path, d, '.', kNode);
      return 0;
    } catch (const EdsReadError& e) {
      EXPECT_STREQ(e.what(), "Error reading EDS File\nLine: 1");
      return e.line();
    }
  };
  EXPECT_EQ(lineOf("/nonexistent/dir/none.eds"), 1);
  TempFile empty("");
  EXPECT_EQ(lineOf(empty.path()), 1);
  EXPECT_EQ(lineOf(std::filesystem::temp_directory_path().string()), 1) << "a directory";
  EXPECT_TRUE(d.empty());
}

TEST(EdsFile, ReadsTheFileBytesAndReportsLaterLines) {
  TempFile file(eds({"[FileInfo]", "[1000]", "ParameterName=Device type", "DataType=0x0007",
                     "DefaultValue=0x191", "[1018]", "ObjectType=zz"}));
  ObjectDictionary d;
  try {
    ReadEDSFile(file.path(), d, '.', kNode);
    ADD_FAILURE() << "no error";
  } catch (const EdsReadError& e) {
    EXPECT_EQ(e.line(), 7);
    EXPECT_STREQ(e.what(), "Error reading EDS File\nLine: 7");
  }
  ASSERT_EQ(d.recordCount(), 1u);
  EXPECT_EQ(FormatNodeCaption(*d.heads()[0], '.'), "0x1000 Device type = 401 (0x191)");
}

TEST(EdsCaptions, RecordWithSubEntriesAndLoneSubZero) {
  ObjectDictionary d;
  constexpr const char* kText = R"([1018]
ParameterName=Identity
ObjectType=0x9
[1018sub0]
ParameterName=Count
DataType=0x0005
DefaultValue=4
[1018sub4]
ParameterName=Serial
DataType=0x0007
DefaultValue=0x10
[2000]
ParameterName=Array
ObjectType=0x9
[2000sub0]
ParameterName=Count
DataType=0x0005
DefaultValue=0
[2100]
ParameterName=First
DataType=0x0006
AccessType=rw
[2100]
ParameterName=Second
DataType=0x0006
AccessType=wo
)";
  ASSERT_EQ(readInto(d, kText), 0);
  ASSERT_EQ(d.heads().size(), 3u);
  const ObjectEntry* h1018 = d.heads()[0];
  EXPECT_EQ(FormatNodeCaption(*h1018, '.'), "0x1018 Identity");
  EXPECT_EQ(FormatNodeCaption(*h1018->next, '.'), "Sub 0x00 Count = 4 (0x4)");
  EXPECT_EQ(FormatNodeCaption(*h1018->next->next, '.'), "Sub 0x04 Serial = 16 (0x10)");

  const ObjectEntry* h2000 = d.heads()[1];
  EXPECT_EQ(FormatNodeCaption(*h2000->next, '.'), "0x2000 Count = 0 (0x0)")
      << "the last sub-index 0 of a chain shows the index";

  const ObjectEntry* h2100 = d.heads()[2];
  EXPECT_EQ(FormatNodeCaption(*h2100, '.'), "Sub 0x00 First = 0 (0x0)");
  ASSERT_NE(h2100->next, nullptr);
  EXPECT_EQ(FormatNodeCaption(*h2100->next, '.'), "0x2100 Second");
}

// Pseudo-random files built from EDS fragments, control bytes and 8-bit bytes: every one either
// reads or reports a line of the file, and never crashes.
TEST(EdsRobustness, ArbitraryBytesReadOrReportALine) {
  const std::string_view pieces[] = {
      "[",
      "]",
      "[1",
      "[0",
      "sub",
      "SUB",
      "=",
      "DataType",
      "DefaultValue",
      "ObjectType",
      "ParameterName",
      "AccessType",
      "0x",
      "$",
      "\"",
      "FF",
      "9",
      "8",
      "-",
      ".",
      ",",
      " ",
      "\r",
      "\n",
      "\r\n",
      std::string_view("\0", 1),
      "\x80",
      "\xff",
      "\t",
      "E",
      "99999999999",
  };
  std::mt19937 rng(20240311);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(0, 400);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int n = length(rng);
    for (int i = 0; i < n; ++i) text += pieces[pick(rng)];
    ObjectDictionary d;
    const int line = readInto(d, text, round % 2 ? ',' : '.');
    const auto lines = static_cast<int>(splitEdsLines(text).size());
    if (line != 0) {
      EXPECT_GE(line, 1);
      EXPECT_LE(line, std::max(lines, 1)) << "round " << round;
    }
    for (const ObjectEntry* h : d.heads()) {
      (void)FormatNodeCaption(*h, '.');
      for (const ObjectEntry* c = h->next; c != nullptr; c = c->next)
        (void)FormatNodeCaption(*c, ',');
    }
  }
}

TEST(EdsRobustness, HugeLineAndNulBytes) {
  std::string text = "[2000]\nParameterName=";
  text.append(5'000'000, 'x');
  text += "\nDataType=0x0009\nDefaultValue=";
  text.append(std::string("a\0b", 3));
  text.append(
      "\n[20\0"
      "1]\n",
      8);
  ObjectDictionary d;
  EXPECT_EQ(readInto(d, text), 5) << "a NUL inside the index is a stray character";
  ASSERT_EQ(d.recordCount(), 1u);
  EXPECT_EQ(d.heads()[0]->nameText().size(), kNameSize - 1);
  EXPECT_EQ(d.heads()[0]->textValue, std::string("a", 1)) << "the stored text ends at the NUL";
}

}  // namespace
}  // namespace bp::od
