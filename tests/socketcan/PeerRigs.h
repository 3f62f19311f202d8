// The two independent nodes the SocketCAN tests talk to on vcan0: the built busprobe-node program
// (node 5), and CANopenNode's demo device (node 4) with its gateway canopend (node 1), whose client
// cocomm gives a second opinion on what the device holds. The CANopenNode programs come from
// $BUSPROBE_PEER_DIR (scripts/socketcan-test.sh builds them); without them the tests skip.
#pragma once
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "socketcan/VcanSession.h"

namespace bp::test {

class NodeProgramRig : public VcanSession {
 protected:
  void SetUp() override {
    if (!NodeProgramProcess::built()) GTEST_SKIP() << "no busprobe-node at " BUSPROBE_NODE_PROGRAM;
    VcanSession::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(node.start());
    ASSERT_TRUE(waitForStored("705#00")) << "boot-up of the node";
  }
  void TearDown() override {
    node.stop();
    VcanSession::TearDown();
  }

  NodeProgramProcess node;
};

inline std::string peerProgram(const char* name) {
  const char* dir = std::getenv("BUSPROBE_PEER_DIR");
  return dir == nullptr ? std::string() : findProgram({(std::string(dir) + "/" + name).c_str()});
}

class PeerDeviceRig : public VcanSession {
 protected:
  static constexpr std::int32_t kPeerNode = 4;
  static constexpr const char* kGatewaySocket = "/dev/shm/busprobe-peer-gateway";  // not on the shared /tmp

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
    using namespace std::chrono_literals;
    const ProgramResult r = runProgram(
        {peerProgram("cocomm"), "-s", kGatewaySocket, "-o", "data", std::string("4 read ") + what}, 10s);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }

  std::unique_ptr<ChildProcess> device;
  std::unique_ptr<ChildProcess> gateway;
};

}  // namespace bp::test
