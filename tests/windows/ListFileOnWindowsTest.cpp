// The user SDO list file on Windows: the safe save (temporary file, then replacing the old file)
// with the C runtime's and the file system's Windows behaviour, loading back, and the error texts.
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

#include "util/Error.h"

namespace bp::usersdo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<od::ObjectEntry> entry(const char* name, int index, int sub, std::int32_t value,
                                       std::uint8_t direction) {
  auto e = std::make_unique<od::ObjectEntry>();
  e->setName(name);
  e->access = od::kReadWrite;
  e->dataType = od::kUnsigned16;
  e->index = index;
  e->subIndex = sub;
  e->value = value;
  e->direction = direction;
  return e;
}

UserSdoList listOf(int entries, std::int32_t firstValue) {
  UserSdoList list;
  for (int i = 0; i < entries; ++i)
    list.push_back(entry("Controlword", 0x6040, i, firstValue + i, i % 2 == 0 ? od::kWrite : od::kRead));
  return list;
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
  template <class F>
  static std::string errorOf(F&& f) {
    try {
      f();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }
};

TEST_F(ListFileOnWindows, SaveCreatesTheFileAndItLoadsBack) {
  const std::string p = path("SDOList.bin");
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, listOf(3, 10)); }), "(no error)");
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
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, listOf(1, 99)); }), "(no error)");
  EXPECT_EQ(names(), std::vector<std::string>{"SDOList.bin"});
  const UserSdoList back = LoadUserSdoList(p);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0]->value, 99);
  ASSERT_EQ(errorOf([&] { SaveUserSdoList(p, UserSdoList{}); }), "(no error)");
  EXPECT_EQ(readBytes(p).size(), 0u);
}

TEST_F(ListFileOnWindows, BackUpCopiesTheFile) {
  const std::string p = path("SDOList.bin");
  const std::string backup = path("SDOList.bak");
  SaveUserSdoList(p, listOf(2, 5));
  ASSERT_EQ(errorOf([&] { backUpFile(p, backup); }), "(no error)");
  EXPECT_EQ(readBytes(backup), readBytes(p));
  ASSERT_EQ(errorOf([&] { backUpFile(p, backup); }), "(no error)");  // over an existing backup
  EXPECT_EQ(readBytes(backup), readBytes(p));
}

TEST_F(ListFileOnWindows, FailuresNameTheFile) {
  const std::string missingDir = path("no such folder\\SDOList.bin");
  const std::string saveError = errorOf([&] { SaveUserSdoList(missingDir, listOf(1, 1)); });
  EXPECT_EQ(saveError.rfind("Cannot create file \"" + missingDir + "\". ", 0), 0u) << saveError;
  const std::string missing = path("absent.bin");
  const std::string loadError = errorOf([&] { (void)LoadUserSdoList(missing); });
  EXPECT_EQ(loadError.rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << loadError;
  EXPECT_FALSE(fileExists(missing));
  EXPECT_EQ(names(), std::vector<std::string>{});  // nothing left behind
}

}  // namespace
}  // namespace bp::usersdo
