// The EDS line scanner and section reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
    ReadEDSText(text, d, sep);
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

TEST(EdsScan, SectionsStartingWithALetterAreSkippedWithTheirKeys) {
  ObjectDictionary d;
  const std::string text = eds({"[A000]", "ParameterName=Skipped", "DataType=zz", "[FileInfo]",
                                "DataType=zz", "[6000]", "ParameterName=Read"});
  EXPECT_EQ(readInto(d, text), 0);
  ASSERT_EQ(d.recordCount(), 1u);
  EXPECT_EQ(d.heads()[0]->index, 0x6000);
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
  ReadEDSSection(lines, cursor, d, '.');
  EXPECT_EQ(cursor, 2) << "the line before the header that ended it";
  cursor = 3;
  ReadEDSSection(lines, cursor, d, '.');
  EXPECT_EQ(cursor, 4) << "the last line of the file";
  const std::vector<std::string_view> one{"[1000]"};
  cursor = 0;
  ReadEDSSection(one, cursor, d, '.');
  EXPECT_EQ(cursor, 0);
  EXPECT_EQ(d.recordCount(), 3u);

  const std::vector<std::string_view> bad{"[1000]", "ParameterName=x", "DataType=q", "y=1"};
  cursor = 0;
  EXPECT_THROW(ReadEDSSection(bad, cursor, d, '.'), bp::Error);
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
      {"U32 above int range ignored", "DataType=0x0007\nDefaultValue=4294967295", 7, 0, 0, ""},
      {"node-ID expression ignored",  "DataType=0x0007\nDefaultValue=$NODEID+0x180", 7, 0, 0, ""},
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
      ReadEDSFile(path, d, '.');
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
    ReadEDSFile(file.path(), d, '.');
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
