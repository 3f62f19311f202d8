// busprobe-cli as a script runs it: the built program on its demo bus (the simulated node 5), its
// output and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/ObjectEntries.h"
#include "usersdo/SdoListFile.h"

namespace bp::test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class CliProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "busprobe-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string path(const char* name) const { return (dir / name).string(); }
  std::string slurp(const std::string& file) const {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void put(const char* name, const std::string& bytes) const { std::ofstream(path(name), std::ios::binary) << bytes; }

  // Runs busprobe-cli with these arguments (each quoted for the shell) in the test's folder.
  Outcome cli(const std::vector<std::string>& args) const {
    std::string command = "cd '" + dir.string() + "' && '" BUSPROBE_CLI_PROGRAM "'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(path("out.txt")), slurp(path("err.txt"))};
  }

  fs::path dir;
};

TEST_F(CliProgram, ReadsAndWritesShowValuesAsTheWindowDoes) {
  const Outcome o =
      cli({"--demo", "read",      "0x1000", "write", "0x2000:1", "5000", "read", "2000:1", "write", "2500",
           "vs",     "two words", "read",   "2500",  "write",    "2420", "b",    "1",      "read",  "0x1018:1"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out,
            "0x1000:00 Device type = 131474 (0x20192)\n"
            "0x2000:01 Continuous current (mA) = 5000 (0x1388)\n"
            "0x2000:01 Continuous current (mA) = 5000 (0x1388)\n"
            "0x2500:00 Commissioning notes = two words\n"
            "0x2500:00 Commissioning notes = two words\n"
            "0x2420:00 Brake release on enable = 1 (0x1)\n"
            "0x1018:01 Vendor-ID = 2583 (0xA17)\n");
}

TEST_F(CliProgram, AFailedTransferEndsTheRunWithTheWindowsTextUnlessToldToContinue) {
  Outcome o = cli({"--demo", "read", "0x6000:9", "read", "0x1000"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err,
            "busprobe-cli: read 0x6000:9: SDO Tranfer Abort : 0x06020000\n"
            "Object does not exist in the object dictionary.\n");
  o = cli({"--demo", "--json", "--continue", "read", "0x6000:9", "read", "0x1000"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "{\"command\":\"read\",\"object\":\"0x6000:09\",\"type\":\"os\",\"error\":\"SDO Tranfer Abort : "
            "0x06020000\\nObject does not exist in the object dictionary.\"}\n"
            "{\"command\":\"read\",\"object\":\"0x1000:00\",\"name\":\"Device type\",\"type\":\"u32\","
            "\"value\":\"131474 (0x20192)\"}\n");
}

TEST_F(CliProgram, FilesGoBothWaysByBlockTransfer) {
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i * 7 + i / 256);
  put("in.bin", bytes);
  const Outcome o = cli({"--demo", "download", "0x2530", "in.bin", "upload", "0x2530", "back.bin"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "0x2530:00 3000 bytes from in.bin\n0x2530:00 3000 bytes to back.bin\n");
  EXPECT_EQ(slurp(path("back.bin")), bytes);
}

TEST_F(CliProgram, RunTransfersAListTopToBottomAndStopsAtTheFirstFailure) {
  usersdo::UserSdoList list;
  for (const od::ObjectEntry& e : {objectEntry(0x2000, 1, od::kUnsigned16, 4200, od::kWrite, "Continuous current (mA)"),
                                   objectEntry(0x2000, 1, od::kUnsigned16, 0, od::kRead, "Continuous current (mA)"),
                                   objectEntry(0x6000, 9, od::kUnsigned8, 0, od::kRead, "Missing"),
                                   objectEntry(0x1000, 0, od::kUnsigned32, 0, od::kRead, "Device type")})
    list.push_back(std::make_unique<od::ObjectEntry>(e));
  usersdo::SaveUserSdoList(path("list.bin"), list);
  const Outcome o = cli({"--demo", "--script", "script.txt", "read", "0x1000"});  // script.txt is not there yet
  EXPECT_EQ(o.status, 2);
  put("script.txt", "# the list, then one more read\nrun list.bin\nread 0x1000\n");
  Outcome run = cli({"--demo", "--script", "script.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "W 0x2000:01 Continuous current (mA) = 4200 (0x1068)\n"
            "R 0x2000:01 Continuous current (mA) = 4200 (0x1068)\n");
  EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "busprobe-cli: run list.bin: row 3: SDO Tranfer Abort : 0x06020000");
  run = cli({"--demo", "--continue", "--script", "script.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("R 0x1000:00 Device type = 131474 (0x20192)\n0x1000:00 Device type"), std::string::npos)
      << run.out;
}

TEST_F(CliProgram, NmtCommandsReachTheNodeAndDumpDecodesWhatItSends) {
  // The second read's wait empties the receive ring of all that came before the first answer
  // (the boot-up at start, heartbeats of the earlier state), so the dump sees only what follows.
  Outcome o = cli({"--demo", "read", "0x1000", "read", "0x1000", "nmt", "reset", "dump", "--frames", "1", "--decode"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(std::regex_match(
      o.out, std::regex("(0x1000:00 .*\n){2}nmt reset node 5\n\\(\\d{10}\\.\\d{6}\\) can0 705#00  Boot-up node 5\n")))
      << o.out;
  o = cli({"--demo", "write", "0x1017", "u16", "20", "nmt", "start", "read", "0x1000", "read", "0x1000", "dump",
           "--frames", "2", "--decode"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(std::regex_search(
      o.out,
      std::regex(
          "nmt start node 5\n(0x1000:00 .*\n){2}(\\(\\d+\\.\\d+\\) can0 705#05  Heartbeat node 5: Operational\n){2}$")))
      << o.out;
}

TEST_F(CliProgram, ScanFindsTheDemoNodeWithItsDeviceType) {
  const Outcome o = cli({"--demo", "--timeout", "5", "scan", "--seconds", "0.2"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "node 5: device type = 131474 (0x20192), heard: Boot-up\n");
}

// Each call is a fresh demo node with its defaults: the saved DCF differs from it (exit 1) until
// restored into it (exit 0); a DCF that is not there is an input error.
TEST_F(CliProgram, DcfSavedDiffersFromAFreshNodeUntilRestored) {
  Outcome o = cli({"--demo", "write", "0x1017", "u16", "300", "dcf-save", "n5.dcf", "dcf-diff", "n5.dcf"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(o.out.find("n5.dcf: ") != std::string::npos && o.out.ends_with("0 difference(s)\n")) << o.out;
  EXPECT_NE(slurp(path("n5.dcf")).find("ParameterValue=0x12C"), std::string::npos);
  o = cli({"--demo", "dcf-diff", "n5.dcf"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("0x1017:00 Producer heartbeat time: 300 (0x12C) <> 0 (0x0)\n1 difference(s)"), std::string::npos)
      << o.out;
  o = cli({"--demo", "--json", "dcf-restore", "n5.dcf", "read", "0x1017"});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_NE(o.out.find("\"differences\":0"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"value\":\"300"), std::string::npos) << o.out;
  EXPECT_EQ(cli({"--demo", "dcf-restore", "missing.dcf"}).status, 2);
  put("plain.eds", slurp(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds"));  // no values: nothing to restore
  o = cli({"--demo", "dcf-restore", "plain.eds"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("holds no ParameterValue"), std::string::npos) << o.err;
  EXPECT_EQ(cli({"dcf-save", "x.dcf"}).status, 2) << "no EDS file";
  o = cli({"--demo", "dcf-save", "no-such-folder/x.dcf"});  // read, then not writable: input error
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err.rfind("busprobe-cli: dcf-save no-such-folder/x.dcf: Cannot create file", 0), 0u) << o.err;
}

TEST_F(CliProgram, BadInputExitsTwoBeforeTheBusAndNoBusExitsThree) {
  put("short.bin", "abc");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"frob"}, "unknown command \"frob\""},
      {{"read", "0x10000"}, "index \"0x10000\" is out of range (0x0000 to 0xFFFF)"},
      {{"write", "0x6040", "u16", "70000"},
       "write 0x6040 u16 70000: 70000 is out of range for UNSIGNED16 (0 to 65535)"},
      {{"download", "0x2530", "none.bin"},
       "download 0x2530 none.bin: Cannot open file \"none.bin\". No such file or directory"},
      {{"run", "short.bin"}, "run short.bin: Wrong file size"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--channel", "nosuchcan9"};  // checked before the bus is opened
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome o = cli(args);
    EXPECT_EQ(o.status, 2) << c.message;
    EXPECT_EQ(o.err, "busprobe-cli: " + c.message + "\nTry \"busprobe-cli --help\".\n");
  }
  const Outcome noBus = cli({"--channel", "nosuchcan9", "read", "0x1000"});
  EXPECT_EQ(noBus.status, 3);
  EXPECT_EQ(noBus.err, "busprobe-cli: Open failed: no such CAN interface, or it is down (errorcode = 256)\n");
  const Outcome help = cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word :
       {"--channel", "--demo", "--node", "--eds", "--json", "--timeout", "--continue", "--script", "--version", "read",
        "write", "upload", "download", "run", "nmt", "scan", "dump", "--decode"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace bp::test
