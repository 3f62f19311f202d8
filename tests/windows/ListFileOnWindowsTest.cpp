// The user SDO list file on Windows: the safe save (temporary file, then replacing the old file)
// with the file system's Windows behaviour, loading back, paths beyond ASCII (UTF-8 in the core,
// wide-character calls to the system) and Windows' own error texts. And an EDS file on such a path.
#include "usersdo/SdoListFile.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "od/EdsReader.h"
#include "support/ErrorText.h"
#include "support/ObjectEntries.h"
#include "util/Error.h"
#include "util/FileIo.h"

namespace bp::usersdo {
namespace {

namespace fs = std::filesystem;
using test::errorOf;
using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<od::ObjectEntry> entry(const char* name, int index, int sub, std::int32_t value,
                                       std::uint8_t direction) {
  return std::make_unique<od::ObjectEntry>(test::objectEntry(index, sub, od::kUnsigned16, value, direction, name));
}

UserSdoList listOf(int entries, std::int32_t firstValue) {
  UserSdoList list;
  for (int i = 0; i < entries; ++i)
    list.push_back(entry("Controlword", 0x6040, i, firstValue + i, i % 2 == 0 ? od::kWrite : od::kRead));
  return list;
}

// "Größe 日本 😀": 2-, 3- and 4-byte UTF-8 characters.
constexpr const char* kFolder = "Gr\xC3\xB6\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";

// The core's paths are UTF-8, whatever the C++ library makes of narrow strings.
std::string utf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}
fs::path fromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

std::string withBackslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

class ListFileOnWindows : public ::testing::Test {
 protected:
  fs::path dir;

  void SetUp() override {
    char name[64];
    std::snprintf(name, sizeof name, "bp-usersdo-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    dir = fs::temp_directory_path() / name;
    ASSERT_TRUE(fs::create_directory(dir));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string path(const char* name) const { return (dir / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  }
  static Bytes readBytes(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

TEST_F(ListFileOnWindows, SaveCreatesTheFileAndItLoadsBack) {
  const std::string p = path("SDOList.bin");
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, listOf(3, 10)); }), "");
  EXPECT_EQ(names(), std::vector<std::string>{"SDOList.bin"});  // no temporary file left
  const Bytes b = readBytes(p);
  ASSERT_EQ(b.size(), 3 * rec::kSize);
  EXPECT_EQ(b[rec::kIndex], 0x40);  // binary mode: no CR inserted before any 0x0A byte
  EXPECT_EQ(b[rec::kIndex + 1], 0x60);
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back[static_cast<std::size_t>(i)]->value, 10 + i);
    EXPECT_EQ(back[static_cast<std::size_t>(i)]->nameText(), "Controlword");
  }
}

// A value of 10 is the byte 0x0A (line feed) and 26 is 0x1A (end of file in text mode): both must
// be stored and read back as they are.
TEST_F(ListFileOnWindows, BytesThatTextModeWouldChangeSurvive) {
  const std::string p = path("SDOList.bin");
  UserSdoList list;
  list.push_back(entry("LF", 0x0A0A, 0x0A, 0x0D0A1A0A, od::kWrite));
  SaveUserSdoList(p, list);
  EXPECT_EQ(readBytes(p).size(), rec::kSize);
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0]->index, 0x0A0A);
  EXPECT_EQ(back[0]->value, 0x0D0A1A0A);
}

// Windows does not rename over an existing file by default; the save must still replace it.
TEST_F(ListFileOnWindows, SaveReplacesAnExistingFile) {
  const std::string p = path("SDOList.bin");
  SaveUserSdoList(p, listOf(3, 10));
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, listOf(1, 99)); }), "");
  EXPECT_EQ(names(), std::vector<std::string>{"SDOList.bin"});
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0]->value, 99);
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, UserSdoList{}); }), "");
  EXPECT_EQ(readBytes(p).size(), 0u);
}

TEST_F(ListFileOnWindows, BackUpCopiesTheFile) {
  const std::string p = path("SDOList.bin");
  const std::string backup = path("SDOList.bak");
  SaveUserSdoList(p, listOf(2, 5));
  ASSERT_EQ(errorOf([&] { backUpFile(p, backup); }), "");
  EXPECT_EQ(readBytes(backup), readBytes(p));
  ASSERT_EQ(errorOf([&] { backUpFile(p, backup); }), "");  // over an existing backup
  EXPECT_EQ(readBytes(backup), readBytes(p));
}

TEST_F(ListFileOnWindows, ListUnderANonAsciiFolderSavesLoadsAndBacksUp) {
  const fs::path folder = dir / fromUtf8(kFolder);
  ASSERT_TRUE(fs::create_directory(folder));
  const std::string p = utf8(folder / "SDOList.bin");
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, listOf(2, 7)); }), "");
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, listOf(2, 7)); }), "");  // replacing it
  EXPECT_EQ(fs::file_size(folder / "SDOList.bin"), 2 * rec::kSize);
  EXPECT_TRUE(fileExists(p));
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1]->value, 8);
  ASSERT_EQ(errorOf([&] { backUpFile(p, p + ".bak"); }), "");
  EXPECT_EQ(fs::file_size(folder / "SDOList.bin.bak"), 2 * rec::kSize);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

// Paths in error texts have Windows' separators; reasons are Windows' own texts.
TEST_F(ListFileOnWindows, FailuresOnANonAsciiPathTellWindowsReason) {
  const std::string denied = fileio::windowsErrorText(ERROR_ACCESS_DENIED);
  EXPECT_EQ(denied.rfind("Windows error", 0), std::string::npos) << "the system's text, found";
  EXPECT_GT(static_cast<unsigned char>(denied.back()), ' ') << "no line break";
  const std::string base = utf8(dir) + "/" + kFolder;
  const std::string missingDir = base + "/missing/SDOList.bin";
  EXPECT_EQ(errorOf([&] { SaveUserSdoList(missingDir, listOf(1, 1)); }),
            "Cannot create file \"" + withBackslashes(missingDir) + "\". " +
                fileio::windowsErrorText(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(fs::create_directory(fromUtf8(base)));
  const std::string missing = base + "/absent.bin";
  EXPECT_EQ(errorOf([&] { (void)LoadUserSdoList(missing); }),
            "Cannot open file \"" + withBackslashes(missing) + "\". " +
                fileio::windowsErrorText(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(fileExists(missing));
  // A folder in the file's place is not replaced: access denied, in Windows' words.
  const std::string taken = base + "/taken";
  ASSERT_TRUE(fs::create_directory(fromUtf8(taken)));
  EXPECT_EQ(errorOf([&] { SaveUserSdoList(taken, listOf(1, 1)); }),
            "Cannot create file \"" + withBackslashes(taken) + "\". " +
                denied);
  EXPECT_TRUE(fs::is_directory(fromUtf8(taken)));
  EXPECT_EQ(std::distance(fs::directory_iterator(fromUtf8(base)), fs::directory_iterator()), 1)
      << "nothing left behind";
}

// The save's temporary file is made only where nothing is: an existing file is never reused.
TEST_F(ListFileOnWindows, ExclusiveCreateRefusesAnExistingFile) {
  const std::string p = path("taken.bin");
  SaveUserSdoList(p, listOf(1, 5));
  EXPECT_EQ(errorOf<fileio::SystemError>([&] { (void)fileio::File::createNew(p); }),
            fileio::windowsErrorText(ERROR_FILE_EXISTS))
      << "created over an existing file";
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0]->value, 5);
}

TEST_F(ListFileOnWindows, EdsFileUnderANonAsciiFolderLoads) {
  const fs::path folder = dir / fromUtf8(kFolder);
  ASSERT_TRUE(fs::create_directory(folder));
  std::ofstream(folder / "node.eds", std::ios::binary)
      << "[1008]\r\nParameterName=Ger\xC3\xA4tename\r\nDataType=0x0009\r\nDefaultValue=X\r\n";
  od::ObjectDictionary d;
  ASSERT_NO_THROW(od::ReadEDSFile(utf8(folder / "node.eds"), d, '.', 1));
  ASSERT_EQ(d.recordCount(), 1u);
  EXPECT_EQ(d.heads()[0]->nameText(), "Ger\xC3\xA4tename");
}

}  // namespace
}  // namespace bp::usersdo
