// The SDO list file: the 608-byte record, whole files, saving safely and loading without harm.
#include "usersdo/SdoListFile.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ErrorText.h"
#include "support/ObjectEntries.h"
#include "util/Error.h"
#include "util/FileIo.h"

namespace bp::usersdo {
namespace {

namespace fs = std::filesystem;
using test::errorOf;
using Bytes = std::vector<std::uint8_t>;

od::ObjectEntry controlword() {  // write entry 0x6040 sub 0, UNSIGNED16, value 15
  return test::objectEntry(0x6040, 0, od::kUnsigned16, 15, od::kWrite, "Controlword");
}

od::ObjectEntry deviceName() {  // read entry with a current text value, which no file holds
  od::ObjectEntry e =
      test::objectEntry(0x1008, 0, od::kVisibleString, 0, od::kRead, "Manufacturer device name", od::kReadOnly);
  e.textValue = "Node-X 1.0";
  e.setDefaultText("Node-X");
  return e;
}

od::ObjectEntry realEntry() {
  od::ObjectEntry e = test::objectEntry(0x2100, 0x0C, od::kReal32, -1, od::kWrite, "Scale", od::kWriteOnly);
  e.realValue = -1.25;
  e.defaultValue = 0x12345678;
  e.defaultReal = 3.5e10;
  return e;
}

UserSdoList threeEntries() {
  UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(controlword()));
  list.push_back(std::make_unique<od::ObjectEntry>(deviceName()));
  list.push_back(std::make_unique<od::ObjectEntry>(realEntry()));
  return list;
}

// ---- an independent reader of the file layout, for checking what the program wrote ----

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}
double leDouble(const Bytes& b, std::size_t at) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | b[at + static_cast<std::size_t>(i)];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
std::string cText(const Bytes& b, std::size_t at, std::size_t size) {
  std::string s;
  for (std::size_t i = at; i < at + size && b[i] != 0; ++i) s.push_back(static_cast<char>(b[i]));
  return s;
}

struct FileRecord {
  std::string name, defaultText;
  std::uint32_t access;
  std::int8_t dataType;
  std::int32_t index, subIndex, value, defaultValue;
  double realValue, defaultReal;
  std::uint8_t direction;
};

FileRecord readRecord(const Bytes& b, std::size_t record) {
  const std::size_t o = record * 608;
  return {cText(b, o + 0, 300),
          cText(b, o + 344, 256),
          le32(b, o + 300),
          static_cast<std::int8_t>(b[o + 304]),
          static_cast<std::int32_t>(le32(b, o + 308)),
          static_cast<std::int32_t>(le32(b, o + 312)),
          static_cast<std::int32_t>(le32(b, o + 316)),
          static_cast<std::int32_t>(le32(b, o + 332)),
          leDouble(b, o + 320),
          leDouble(b, o + 336),
          b[o + 604]};
}

void expectSameEntry(const od::ObjectEntry& got, const od::ObjectEntry& want) {
  EXPECT_EQ(got.nameText(), want.nameText());
  EXPECT_EQ(got.access, want.access);
  EXPECT_EQ(got.dataType, want.dataType);
  EXPECT_EQ(got.index, want.index);
  EXPECT_EQ(got.subIndex, want.subIndex);
  EXPECT_EQ(got.value, want.value);
  EXPECT_EQ(got.realValue, want.realValue);
  EXPECT_EQ(got.defaultValue, want.defaultValue);
  EXPECT_EQ(got.defaultReal, want.defaultReal);
  EXPECT_EQ(got.defaultTextView(), want.defaultTextView());
  EXPECT_EQ(got.direction, want.direction);
  EXPECT_TRUE(got.textValue.empty());
  EXPECT_EQ(got.next, nullptr);
}

// ---- the record ----

TEST(ListFileRecord, ControlwordBytes) {
  auto e = controlword();
  od::ObjectEntry other{};
  e.next = &other;         // the next slot is written 0 whatever the link
  e.textValue = "ignored";  // so is the text value slot
  e.value64 = -1;           // and the fields of the wider types
  e.defaultValue64 = -1;
  e.defaultBytes = "\x01";
  UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(e));
  const Bytes b = encodeUserSdoList(list);
  ASSERT_EQ(b.size(), 608u);

  Bytes want(608, 0);
  const std::string name = "Controlword";
  std::copy(name.begin(), name.end(), want.begin());
  want[300] = 0x02;                                   // read-write
  want[304] = 0x06;                                   // UNSIGNED16
  want[308] = 0x40, want[309] = 0x60;                 // index 0x6040
  want[316] = 0x0F;                                   // value 15
  want[604] = 0x01;                                   // write entry
  EXPECT_EQ(b, want);
}

TEST(ListFileRecord, NumbersAreLittleEndianTwosComplementAndIeee) {
  UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(realEntry()));
  const Bytes b = encodeUserSdoList(list);
  EXPECT_EQ(le32(b, 300), 1u);
  EXPECT_EQ(b[304], 0x08);
  EXPECT_EQ(le32(b, 312), 0x0Cu);
  EXPECT_EQ(le32(b, 316), 0xFFFFFFFFu);
  const Bytes minus125{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0xBF};  // -1.25
  EXPECT_EQ(Bytes(b.begin() + 320, b.begin() + 328), minus125);
  EXPECT_EQ(le32(b, 332), 0x12345678u);
  EXPECT_EQ(leDouble(b, 336), 3.5e10);
}

// The wider types keep type and value: wide integers in the real slots as 64-bit patterns, the
// value of OCTET_STRING (as hexadecimal pairs) and UNICODE_STRING in the default-text field.
TEST(ListFileRecord, WiderTypesKeepTypeAndValue) {
  struct Row {
    std::int8_t type;
    std::int64_t value64, default64;
    double real;
    std::string text, defTextField;
  };
  const Row rows[] = {
      {od::kInteger24, -2, 5, 0, "", ""},
      {od::kInteger64, INT64_MIN, INT64_MAX, 0, "", ""},
      {od::kUnsigned48, 0x123456789ABC, 2, 0, "", ""},
      {od::kUnsigned64, -1, 0x7FF0000000000001, 0, "", ""},  // a signalling-NaN pattern
      {od::kReal64, 0, 0, -1.0e-300, "", ""},
      {od::kOctetString, 0, 0, 0, std::string("\x00\x01\xAB", 3), "0001AB"},
      {od::kUnicodeString, 0, 0, 0, "Ger\xC3\xA4t", "Ger\xC3\xA4t"},
      {od::kDomain, 0, 0, 0, "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.type));
    od::ObjectEntry e = controlword();
    e.dataType = r.type;
    e.value64 = r.value64;
    e.defaultValue64 = r.default64;
    e.realValue = r.real;
    e.textValue = r.text;
    UserSdoList list;
    list.push_back(std::make_unique<od::ObjectEntry>(e));
    const Bytes b = encodeUserSdoList(list);
    const auto le64 = [&](std::size_t at) {
      return std::uint64_t{le32(b, at)} | std::uint64_t{le32(b, at + 4)} << 32;
    };
    if (od::isWideInteger(r.type)) {
      EXPECT_EQ(le64(320), static_cast<std::uint64_t>(r.value64));
      EXPECT_EQ(le64(336), static_cast<std::uint64_t>(r.default64));
    }
    EXPECT_EQ(cText(b, 344, 256), r.defTextField);
    const UserSdoList back = decodeUserSdoList(b);
    EXPECT_EQ(back[0]->dataType, r.type);
    EXPECT_EQ(back[0]->value64, od::isWideInteger(r.type) ? r.value64 : 0);
    EXPECT_EQ(back[0]->defaultValue64, od::isWideInteger(r.type) ? r.default64 : 0);
    EXPECT_EQ(back[0]->realValue, r.real);
    EXPECT_EQ(back[0]->textValue, r.text);
    EXPECT_EQ(back[0]->value, 15);
    EXPECT_EQ(back[0]->defaultTextView(), "");
  }
}

TEST(ListFileRecord, LongOctetStringKeepsWholeBytesThatFit) {
  od::ObjectEntry e = controlword();
  e.dataType = od::kOctetString;
  e.textValue = std::string(200, '\xFF');
  UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(e));
  Bytes b = encodeUserSdoList(list);
  EXPECT_EQ(decodeUserSdoList(b)[0]->textValue, std::string(127, '\xFF'));
  b[344] = 'G';  // not a hexadecimal pair: no value
  EXPECT_EQ(decodeUserSdoList(b)[0]->textValue, "");
}

TEST(ListFileRecord, PaddingAndSlotsAreIgnoredWhenRead) {
  UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(controlword()));
  Bytes b = encodeUserSdoList(list);
  for (std::size_t at : {305u, 306u, 307u, 328u, 329u, 330u, 331u, 600u, 601u, 602u, 603u, 605u, 606u, 607u}) {
    b[at] = 0xA5;
  }
  const UserSdoList back = decodeUserSdoList(b);
  ASSERT_EQ(back.size(), 1u);
  expectSameEntry(*back[0], controlword());
}

TEST(ListFileRecord, NegativeDataTypeCodeSurvives) {
  auto e = controlword();
  e.dataType = static_cast<std::int8_t>(0x80);
  UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(e));
  EXPECT_EQ(decodeUserSdoList(encodeUserSdoList(list))[0]->dataType, -128);
}

TEST(ListFileRecord, BytesAfterATerminatorAreIgnored) {
  Bytes b(608, 0);
  const char name[] = "AB\0CD";
  std::copy(name, name + 5, b.begin());
  EXPECT_EQ(decodeUserSdoList(b)[0]->nameText(), "AB");
}

// Names are cut to 299 bytes and default texts to 255, when a record is made and when a field
// without a terminator is read, never inside a UTF-8 character; bytes that are not UTF-8 are cut
// where they fall. Each text is `pad` letters less than the limit, then `tail`.
TEST(ListFileRecord, LongTextsAreCutToTheirFieldsOnAWholeCharacter) {
  const std::string c2 = "\xC3\xA9", c3 = "\xE2\x82\xAC", c4 = "\xF0\x9F\x98\x80";
  struct Row {
    const char* what;
    std::size_t lessPad;  // the letters end this many bytes before the limit
    std::string tail;
    std::size_t lessKept;  // bytes kept: the limit less this
  };
  const Row rows[] = {
      {"letters only", 0, std::string(100, 'x'), 0},
      {"2-byte character across the limit", 1, c2, 1},
      {"2-byte character ending on the limit", 2, c2 + "x", 0},
      {"3-byte character, 1 byte inside", 1, c3, 1},
      {"3-byte character, 2 bytes inside", 2, c3, 2},
      {"4-byte character, 1 byte inside", 1, c4 + c4, 1},
      {"4-byte character, 3 bytes inside", 3, c4, 3},
      {"3-byte character ending on the limit", 3, c3 + c4, 0},
      {"Latin-1 bytes", 2, "\xE9\xE9\xE9\xE9", 0},
      {"surrogate, not UTF-8", 2, "\xED\xA0\x80", 0},
      {"overlong form, not UTF-8", 1, "\xE0\x80\x80", 0},
  };
  const auto check = [](std::size_t limit, const Row& r, auto set, auto fieldOf) {
    const std::string text = std::string(limit - r.lessPad, 'a') + r.tail;
    const std::size_t kept = limit - r.lessKept;
    od::ObjectEntry e{};
    set(e, text);
    UserSdoList list;
    list.push_back(std::make_unique<od::ObjectEntry>(e));
    Bytes b = encodeUserSdoList(list);
    EXPECT_EQ(fieldOf(b), text.substr(0, kept)) << "written";
    // The same text read from a field it fills to the last byte, without a terminator.
    const std::size_t at = limit == 299 ? rec::kName : rec::kDefText;
    for (std::size_t i = 0; i <= limit; ++i) b[at + i] = static_cast<std::uint8_t>(text[i]);
    EXPECT_EQ(fieldOf(encodeUserSdoList(decodeUserSdoList(b))), text.substr(0, kept)) << "read";
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    check(299, r, [](od::ObjectEntry& e, const std::string& t) { e.setName(t); },
          [](const Bytes& b) { return cText(b, rec::kName, 300); });
    check(255, r, [](od::ObjectEntry& e, const std::string& t) { e.setDefaultText(t); },
          [](const Bytes& b) { return cText(b, rec::kDefText, 256); });
  }
}

// ---- whole contents ----

TEST(ListFileContent, ThreeEntriesRoundTrip) {
  const UserSdoList list = threeEntries();
  const Bytes b = encodeUserSdoList(list);
  ASSERT_EQ(b.size(), 1824u);
  const UserSdoList back = decodeUserSdoList(b);
  ASSERT_EQ(back.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    expectSameEntry(*back[i], *list[i]);
  }
}

TEST(ListFileContent, SizeMustBeAMultipleOfTheRecord) {
  EXPECT_TRUE(decodeUserSdoList(Bytes{}).empty());
  for (std::size_t size : {1u, 607u, 609u, 1000u}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(errorOf([&] { (void)decodeUserSdoList(Bytes(size, 0)); }), "Wrong file size");
  }
}

// ---- files ----

class ListFile : public ::testing::Test {
 protected:
  fs::path dir;
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bp-usersdo-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, ec);
    fs::remove_all(dir, ec);
  }
  std::string path(const char* name) const { return (dir / name).string(); }
  static Bytes readBytes(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void writeBytes(const std::string& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  }
};

TEST_F(ListFile, SavedFileReadsBackWithAnIndependentReader) {
  const std::string p = path("SDOList.bin");
  SaveUserSdoList(p, threeEntries());
  const Bytes b = readBytes(p);
  ASSERT_EQ(b.size(), 1824u);
  const FileRecord r0 = readRecord(b, 0), r1 = readRecord(b, 1), r2 = readRecord(b, 2);
  EXPECT_EQ(r0.name, "Controlword");
  EXPECT_EQ(r0.index, 0x6040);
  EXPECT_EQ(r0.value, 15);
  EXPECT_EQ(r0.dataType, 6);
  EXPECT_EQ(r0.direction, 1);
  EXPECT_EQ(r1.name, "Manufacturer device name");
  EXPECT_EQ(r1.dataType, 9);
  EXPECT_EQ(r1.defaultText, "Node-X");
  EXPECT_EQ(r1.direction, 0);
  EXPECT_EQ(r2.access, 1u);
  EXPECT_EQ(r2.subIndex, 12);
  EXPECT_EQ(r2.value, -1);
  EXPECT_EQ(r2.realValue, -1.25);
  EXPECT_EQ(r2.defaultValue, 0x12345678);
  EXPECT_EQ(r2.defaultReal, 3.5e10);
  EXPECT_EQ(names(), std::vector<std::string>{"SDOList.bin"});  // no temporary file left
}

TEST_F(ListFile, SaveThenLoadGivesTheSameEntriesInOrder) {
  const std::string p = path("list.bin");
  const UserSdoList list = threeEntries();
  SaveUserSdoList(p, list);
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    expectSameEntry(*back[i], *list[i]);
  }
  // The VISIBLE_STRING entry has no current value until it is read again.
  EXPECT_EQ(back[1]->dataType, od::kVisibleString);
  EXPECT_TRUE(back[1]->textValue.empty());
}

TEST_F(ListFile, EmptyListSavesZeroBytesAndLoadsEmpty) {
  const std::string p = path("empty.bin");
  SaveUserSdoList(p, {});
  EXPECT_EQ(fs::file_size(p), 0u);
  EXPECT_TRUE(LoadUserSdoList(p).empty());
}

TEST_F(ListFile, SaveReplacesAnExistingFileWhole) {
  const std::string p = path("list.bin");
  SaveUserSdoList(p, threeEntries());
  UserSdoList one;
  one.push_back(std::make_unique<od::ObjectEntry>(controlword()));
  SaveUserSdoList(p, one);
  EXPECT_EQ(fs::file_size(p), 608u);
}

TEST_F(ListFile, LoadFailuresCarryTheirReason) {
  const std::string missing = path("missing.bin");
  EXPECT_EQ(errorOf([&] { (void)LoadUserSdoList(missing); }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  const std::string odd = path("odd.bin");
  writeBytes(odd, Bytes(1000, 0));
  EXPECT_EQ(errorOf([&] { (void)LoadUserSdoList(odd); }), "Wrong file size");
  const std::string folder = path("folder");
  fs::create_directory(folder);
  EXPECT_EQ(errorOf([&] { (void)LoadUserSdoList(folder); }),
            "Cannot read file \"" + folder + "\". Is a directory");
}

TEST_F(ListFile, SaveIntoAMissingDirectoryFailsWithTheSystemsReason) {
  const std::string p = path("no-such-dir/SDOList.bin");
  EXPECT_EQ(errorOf([&] { SaveUserSdoList(p, threeEntries()); }),
            "Cannot create file \"" + p + "\". No such file or directory");
}

TEST_F(ListFile, FailedWriteKeepsTheOldFile) {
  const std::string p = path("SDOList.bin");
  UserSdoList one;
  one.push_back(std::make_unique<od::ObjectEntry>(controlword()));
  SaveUserSdoList(p, one);
  const Bytes old = readBytes(p);

  // Let no file of this process grow past 1000 bytes: the 1824-byte save fails half-way.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string error = errorOf([&] { SaveUserSdoList(p, threeEntries()); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(error, "Cannot create file \"" + p + "\". File too large");
  EXPECT_EQ(readBytes(p), old);
  EXPECT_EQ(names(), std::vector<std::string>{"SDOList.bin"});
}

TEST_F(ListFile, FailedReplaceKeepsWhatIsThere) {
  // A directory in the file's place cannot be replaced by a file.
  const std::string p = path("taken");
  fs::create_directory(p);
  writeBytes(path("taken/inside"), Bytes{1, 2, 3});
  EXPECT_EQ(errorOf([&] { SaveUserSdoList(p, threeEntries()); }),
            "Cannot create file \"" + p + "\". Is a directory");
  EXPECT_TRUE(fs::is_directory(p));
  EXPECT_EQ(readBytes(path("taken/inside")), (Bytes{1, 2, 3}));
  EXPECT_EQ(names(), std::vector<std::string>{"taken"});
}

TEST_F(ListFile, ReadOnlyDirectoryKeepsTheOldFile) {
  const std::string p = path("SDOList.bin");
  SaveUserSdoList(p, threeEntries());
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
  if (std::ofstream(path("probe"))) {
    GTEST_SKIP() << "permissions are not enforced for this user (root)";
  }
  EXPECT_EQ(errorOf([&] { SaveUserSdoList(p, {}); }),
            "Cannot create file \"" + p + "\". Permission denied");
  EXPECT_EQ(fs::file_size(p), 1824u);
}

// The save's temporary file is made only where nothing is: an existing file is never reused.
TEST_F(ListFile, ExclusiveCreateRefusesAnExistingFile) {
  const std::string p = path("taken.bin");
  writeBytes(p, Bytes{1, 2, 3});
  EXPECT_EQ(errorOf<fileio::SystemError>([&] { (void)fileio::File::createNew(p); }), "File exists")
      << "created over an existing file";
  EXPECT_EQ(readBytes(p), (Bytes{1, 2, 3}));
}

TEST_F(ListFile, ExistenceAndBackUp) {
  const std::string p = path("SDOList.bin");
  const std::string bak = path("SDOList.bin.bak");
  EXPECT_FALSE(fileExists(p));
  writeBytes(p, Bytes(1000, 0x5A));  // unloadable, and copied as it is
  EXPECT_TRUE(fileExists(p));
  writeBytes(bak, Bytes{9});         // an older backup is replaced
  backUpFile(p, bak);
  EXPECT_EQ(readBytes(bak), Bytes(1000, 0x5A));
  EXPECT_EQ(readBytes(p), Bytes(1000, 0x5A));

  const std::string missing = path("missing.bin");
  EXPECT_EQ(errorOf([&] { backUpFile(missing, bak); }),
            "Cannot open file \"" + missing + "\". No such file or directory");
  const std::string nowhere = path("no-such-dir/x.bak");
  EXPECT_EQ(errorOf([&] { backUpFile(p, nowhere); }),
            "Cannot create file \"" + nowhere + "\". No such file or directory");
}

}  // namespace
}  // namespace bp::usersdo
