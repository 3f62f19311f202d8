// busprobe-cli on vcan0: against busprobe-node (node 5) and CANopenNode's demo device (node 4, with
// its gateway canopend as node 1 and cocomm's reading as the second opinion).
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "od/EdsReader.h"
#include "socketcan/PeerRigs.h"
#include "support/ObjectEntries.h"
#include "usersdo/SdoListFile.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

ProgramResult cli(std::vector<std::string> args) {
  args.insert(args.begin(), {BUSPROBE_CLI_PROGRAM, "--channel", kVcan});
  return runProgram(args, 60s);
}

std::string scratch(const char* name) { return ::testing::TempDir() + name; }
void put(const std::string& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
// A list file: write `value` to a u16 object, then read it back.
std::string writeReadList(std::int32_t index, std::int32_t sub, std::int32_t value) {
  usersdo::UserSdoList list;
  list.push_back(std::make_unique<od::ObjectEntry>(objectEntry(index, sub, od::kUnsigned16, value, od::kWrite, "Set")));
  list.push_back(std::make_unique<od::ObjectEntry>(objectEntry(index, sub, od::kUnsigned16, 0, od::kRead, "Set")));
  const std::string file = scratch("vcan-list.bin");
  usersdo::SaveUserSdoList(file, list);
  return file;
}

using CliOnNodeProgram = NodeProgramRig;

// Download and upload by block transfer, a list file, and NMT commands the node answers.
TEST_F(CliOnNodeProgram, MovesFilesRunsAListAndCommandsTheNode) {
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i * 7 + i / 256);
  put(scratch("vcan-in.bin"), bytes);
  const std::size_t from = stored.size();
  const ProgramResult r =
      cli({"--timeout", "2000", "download", "0x2530", scratch("vcan-in.bin"), "upload", "0x2530",
           scratch("vcan-back.bin"), "run", writeReadList(0x2000, 1, 4200), "write", "0x1017", "u16", "100", "nmt",
           "start"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "0x2530:00 3000 bytes from " + scratch("vcan-in.bin") + "\n0x2530:00 3000 bytes to " +
                          scratch("vcan-back.bin") +
                          "\nW 0x2000:01 Set = 4200 (0x1068)\nR 0x2000:01 Set = 4200 (0x1068)\n"
                          "0x1017:00 = 100 (0x64)\nnmt start node 5\n");
  EXPECT_EQ(slurp(scratch("vcan-back.bin")), bytes);
  EXPECT_TRUE(waitForStored("705#05", from)) << "a heartbeat in Operational";
  EXPECT_EQ(cli({"nmt", "reset", "all"}).status, 0);
  EXPECT_TRUE(waitForStored("705#00", from)) << "the boot-up after the reset";
}

TEST_F(CliOnNodeProgram, ReadsWritesAndFindsTheNode) {
  // Waits long enough for an emulated machine (canvm); nothing here depends on the time.
  ProgramResult r = cli({"--eds", BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds", "--timeout", "2000", "read", "0x1000",
                         "write", "0x2000:1", "4321", "read", "0x2000:1", "read", "0x2300"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output,
            "0x1000:00 Device type = 131474 (0x20192)\n"
            "0x2000:01 Continuous current (mA) = 4321 (0x10E1)\n"
            "0x2000:01 Continuous current (mA) = 4321 (0x10E1)\n"
            "0x2300:00 Encoder zero offset = -1250 (0xFFFFFB1E)\n");
  EXPECT_EQ(read(0x2000, 1).value, 4321) << "the window's engine reads what the program wrote";
  r = cli({"--timeout", "100", "scan", "--seconds", "0.1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "node 5: device type = 131474 (0x20192)\n");
}

using CliOnPeerDevice = PeerDeviceRig;

TEST_F(CliOnPeerDevice, WritesWhatCocommReadsAndScanFindsBothDevices) {
  ProgramResult r = cli({"--node", "4", "--timeout", "2000", "write", "0x2120:1", "i64", "-5000000000123", "write",
                         "0x2121:1", "vs", "cli", "read", "0x2120:1", "i64"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.substr(r.output.rfind("0x2120:01")), "0x2120:01 = -5000000000123 (0xFFFFFB73D8C6AF85)\n");
  EXPECT_EQ(cocommRead("0x2120 1 i64"), "-5000000000123");
  EXPECT_EQ(cocommRead("0x2121 1 vs"), "\"cli\"");  // a 4-byte buffer on the device

  r = cli({"--timeout", "100", "scan", "--seconds", "0.1"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.rfind("node 1: device type = ", 0), 0u) << r.output;
  EXPECT_NE(r.output.find("\nnode 4: device type = "), std::string::npos) << r.output;
}

// CANopenNode's demo domain 0x2122 takes a file only of the byte sequence 0, 1, ..., 255, 0, ...
// and gives back as many bytes of it; a list file and NMT commands, as on busprobe-node.
TEST_F(CliOnPeerDevice, MovesFilesRunsAListAndCommandsTheDevice) {
  std::string bytes;
  for (int i = 0; i < 2000; ++i) bytes += static_cast<char>(i);
  put(scratch("peer-in.bin"), bytes);
  put(scratch("peer-bad.bin"), std::string("\x00\x01\x07", 3));
  ProgramResult r = cli({"--node", "4", "--timeout", "2000", "download", "0x2122", scratch("peer-in.bin"), "upload",
                         "0x2122", scratch("peer-back.bin"), "run", writeReadList(0x1017, 0, 300)});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "0x2122:00 2000 bytes from " + scratch("peer-in.bin") + "\n0x2122:00 2000 bytes to " +
                          scratch("peer-back.bin") +
                          "\nW 0x1017:00 Set = 300 (0x12C)\nR 0x1017:00 Set = 300 (0x12C)\n");
  EXPECT_EQ(slurp(scratch("peer-back.bin")), bytes);
  EXPECT_EQ(cocommRead("0x1017 0 u16"), "300");
  r = cli({"--node", "4", "--timeout", "2000", "download", "0x2122", scratch("peer-bad.bin")});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("download 0x2122 " + scratch("peer-bad.bin") + ": SDO Tranfer Abort : 0x0609"),
            std::string::npos)
      << r.output;
  // (With a storage error flagged, the device refuses Operational; Stopped ends its SDO server.)
  for (const char* state : {"stop", "preop"}) {
    const std::size_t from = stored.size();
    r = cli({"--node", "4", "nmt", state});
    EXPECT_EQ(r.output, std::string("nmt ") + state + " node 4\n");
    const char* heartbeat = state == std::string("stop") ? "704#04" : "704#7F";
    EXPECT_TRUE(waitForStored(heartbeat, from)) << "its heartbeat after " << state;
  }
}

// The device's configuration saved as a DCF (which the EDS reader loads with the values read),
// changed, restored (PDOs remapped in the safe order) and compared: nothing differs.
TEST_F(CliOnPeerDevice, DcfSavedChangedRestoredShowsNoDifference) {
  const std::string dcf = ::testing::TempDir() + "peer-node4.dcf";
  const std::string eds = BUSPROBE_PEER_EDS;
  ProgramResult r = cli({"--node", "4", "--eds", eds, "--timeout", "2000", "write", "0x1017", "u16", "700",
                         "dcf-save", dcf});
  ASSERT_EQ(r.status, 0) << r.output;
  od::ObjectDictionary saved;
  ASSERT_NO_THROW(od::ReadEDSFile(dcf, saved, '.', 4));
  EXPECT_EQ(saved.find(0x1017, 0)->value, 700);
  r = cli({"--node", "4", "--timeout", "2000", "write", "0x1017", "u16", "0", "dcf-diff", dcf});
  EXPECT_EQ(r.status, 1) << r.output;
  r = cli({"--node", "4", "--timeout", "2000", "dcf-restore", dcf, "dcf-diff", dcf});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(r.output.ends_with("0 difference(s)\n0 difference(s)\n")) << r.output;
  EXPECT_EQ(cocommRead("0x1017 0 u16"), "700");
}

}  // namespace
}  // namespace bp::test
