#include "channel/Channel.h"

#include "can/drivers/NoAdapterDriver.h"
#include "can/drivers/VirtualBus.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#if defined(__linux__)
#include "can/drivers/SocketCanDriver.h"
#elif defined(_WIN32)
#include "can/drivers/PcanUsbDriver.h"
#endif

namespace bp::channel {

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
  channel.demoNode = peer->node.get();
  channel.peer = peer;
  return channel;
}

}  // namespace

Channel openChannel(const Options& options) {
  if (options.demo) return demoChannel();
  Channel channel;
#if defined(__linux__)
  std::string name = options.channel;
  if (name.empty()) name = can::SocketCanDriver::firstUsableInterface();
  if (!name.empty()) {
    channel.driver = std::make_unique<can::SocketCanDriver>(name);
    channel.name = name;
    return channel;
  }
#elif defined(_WIN32)
  // The adapter's driver library; --channel names another library file.
  channel.driver = options.channel.empty() ? std::make_unique<can::PcanUsbDriver>()
                                           : std::make_unique<can::PcanUsbDriver>(options.channel);
  return channel;
#endif
  // No usable interface: the window opens as without an adapter.
  channel.driver = std::make_unique<can::NoAdapterDriver>();
  return channel;
}

}  // namespace bp::channel
