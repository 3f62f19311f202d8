#include "app/Channel.h"

#include "can/NoAdapterDriver.h"
#include "can/VirtualBus.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#ifdef __linux__
#include "can/SocketCanDriver.h"
#endif

namespace bp::app {

namespace {

constexpr std::uint8_t kDemoNodeId = 5;
constexpr std::uint16_t kDemoBitRateCode = 0x001C;

// The virtual bus with the simulated node on its own endpoint.
struct DemoPeer {
  std::shared_ptr<can::VirtualBus> bus = can::VirtualBus::create();
  std::unique_ptr<can::VirtualBusEndpoint> nodeEndpoint = bus->endpoint();
  std::unique_ptr<sim::SimNode> node;
};

Channel demoChannel() {
  auto peer = std::make_shared<DemoPeer>();
  peer->node = std::make_unique<sim::SimNode>(*peer->nodeEndpoint, kDemoNodeId, sim::demoEdsText());
  Channel channel;
  channel.driver = peer->bus->endpoint();
  channel.startPeer = [p = peer.get()] {
    p->nodeEndpoint->open(kDemoBitRateCode, 0);
    p->node->start();
  };
  channel.stopPeer = [p = peer.get()] {
    p->node->stop();
    p->nodeEndpoint->close();
  };
  channel.peer = peer;
  return channel;
}

}  // namespace

Channel openChannel(const Options& options) {
  if (options.demo) return demoChannel();
  Channel channel;
#ifdef __linux__
  std::string name = options.channel;
  if (name.empty()) name = can::SocketCanDriver::firstUsableInterface();
  if (!name.empty()) {
    channel.driver = std::make_unique<can::SocketCanDriver>(name);
    return channel;
  }
#endif
  // No usable interface: the window opens as without an adapter.
  channel.driver = std::make_unique<can::NoAdapterDriver>();
  return channel;
}

}  // namespace bp::app
