// busprobe-cli on vcan0: against busprobe-node (node 5) and CANopenNode's demo device (node 4, with
// its gateway canopend as node 1 and cocomm's reading as the second opinion).
#include <string>
#include <vector>

#include "od/EdsReader.h"
#include "socketcan/PeerRigs.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

ProgramResult cli(std::vector<std::string> args) {
  args.insert(args.begin(), {BUSPROBE_CLI_PROGRAM, "--channel", kVcan});
  return runProgram(args, 60s);
}

using CliOnNodeProgram = NodeProgramRig;

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
