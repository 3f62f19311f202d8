// Busprobe's SDO client on vcan0 against CANopenNode's demo device (node 4), an implementation no
// one here wrote, with CANopenNode's own gateway client (canopend + cocomm) as the second opinion
// on what the device holds. The programs come from $BUSPROBE_PEER_DIR (scripts/socketcan-test.sh
// builds them); without them the tests skip.
#include <cstdlib>
#include <string>
#include <vector>

#include "od/ValueEncoding.h"
#include "sdo/SdoTransfer.h"
#include "socketcan/VcanSession.h"
#include "support/ErrorText.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kPeerNode = 4;
constexpr const char* kGatewaySocket = "/dev/shm/busprobe-peer-gateway";  // not on the shared /tmp

std::string peerProgram(const char* name) {
  const char* dir = std::getenv("BUSPROBE_PEER_DIR");
  return dir == nullptr ? std::string() : findProgram({(std::string(dir) + "/" + name).c_str()});
}

class PeerDevice : public VcanSession {
 protected:
  void SetUp() override {
    if (peerProgram("demoLinuxDevice").empty() || peerProgram("canopend").empty())
      GTEST_SKIP() << "no CANopenNode programs in $BUSPROBE_PEER_DIR";
    VcanSession::SetUp();
    if (HasFatalFailure()) return;
    const std::string store = ::testing::TempDir() + "peer-store-";
    device = std::make_unique<ChildProcess>(
        std::vector<std::string>{peerProgram("demoLinuxDevice"), kVcan, "-i", "4", "-s", store});
    gateway = std::make_unique<ChildProcess>(std::vector<std::string>{peerProgram("canopend"), kVcan, "-i", "1", "-s",
                                                                      store + "gateway-", "-c",
                                                                      std::string("local-") + kGatewaySocket});
    ASSERT_TRUE(waitForStored("704#00")) << "boot-up of the device: " << device->output();
    session.nodeId.store(kPeerNode);
  }

  // What CANopenNode's gateway client reads from the device (`cocomm "4 read ..."`), data only.
  std::string cocommRead(const char* what) {
    const ProgramResult r = runProgram(
        {peerProgram("cocomm"), "-s", kGatewaySocket, "-o", "data", std::string("4 read ") + what}, 10s);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }

  static sdo::TransferOptions fileOptions(bool block) {
    sdo::TransferOptions o;
    o.block = block;
    return o;
  }

  std::unique_ptr<ChildProcess> device;
  std::unique_ptr<ChildProcess> gateway;
};

TEST_F(PeerDevice, ALongStringAndA64BitIntegerWrittenWithEditReadBackEqual) {
  std::string text;
  for (int i = 0; text.size() < 1000; ++i) text += "line " + std::to_string(i) + ": busprobe;";
  text.resize(1000);
  od::ObjectEntry s;
  s.index = 0x2121;
  s.subIndex = 2;
  s.dataType = od::kVisibleString;
  ASSERT_EQ(errorOf([&] { sdo::writeEntry(session.sdo, s, od::typedBytes(s.dataType, text, '.')); }), "");
  for (bool block : {true, false}) {
    SCOPED_TRACE(block ? "block upload" : "segmented upload");
    EXPECT_EQ(sdo::SdoTransfer(session.sdo, fileOptions(block)).upload(0x2121, 2), text);
  }
  EXPECT_EQ(cocommRead("0x2121 2 vs"), "\"" + text + "\"");

  od::ObjectEntry i64;
  i64.index = 0x2120;
  i64.subIndex = 1;
  i64.dataType = od::kInteger64;
  ASSERT_EQ(errorOf([&] { sdo::writeEntry(session.sdo, i64, od::typedBytes(i64.dataType, "-5000000000123", '.')); }), "");
  od::ObjectEntry back = i64;
  session.sdo.TransferSdo(back);  // R
  EXPECT_EQ(back.value64, -5000000000123);
  EXPECT_EQ(cocommRead("0x2120 1 i64"), "-5000000000123");
}

TEST_F(PeerDevice, BlockDownloadAndUploadOfTheDemoDomain) {
  // The device's DOMAIN 0x2122 takes a running sequence 0, 1, ..., 255, 0, ... of any length and
  // then reads back as that many bytes of it.
  std::string data(8192, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i & 0xFF);
  CanDump dump;
  ASSERT_TRUE(dump.ready()) << dump.output();
  for (bool block : {true, false}) {
    SCOPED_TRACE(block ? "block" : "segmented");
    const std::string part = data.substr(0, block ? data.size() : 1000);
    ASSERT_EQ(errorOf([&] { sdo::SdoTransfer(session.sdo, fileOptions(block)).download(0x2122, 0, part); }), "");
    EXPECT_EQ(sdo::SdoTransfer(session.sdo, fileOptions(block)).upload(0x2122, 0), part);
  }
  // The device took both block transfers as such: its block download answer (scs 5, CRC) and its
  // block upload initiate answer (scs 6, CRC, size) are on the bus.
  const std::vector<std::string> heard = dump.framesWithin(500ms);
  const auto said = [&heard](const char* prefix) {
    for (const auto& f : heard)
      if (f.rfind(prefix, 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(said("584#A4222100")) << dump.output();
  EXPECT_TRUE(said("584#C6222100")) << dump.output();
  // A value out of the sequence is refused by the device: its abort is the error.
  const std::string wrong(100, '\x7F');
  EXPECT_NE(errorOf([&] { sdo::SdoTransfer(session.sdo, fileOptions(true)).download(0x2122, 0, wrong); }), "");
}

}  // namespace
}  // namespace bp::test
