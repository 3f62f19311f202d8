#pragma once
#include <functional>
#include <memory>
#include <string>

#include "can/CanDriver.h"
#include "channel/Options.h"

namespace bp::sim {
class SimNode;
}

namespace bp::channel {

// The driver of the window and of busprobe-cli, chosen by the options, and for the demo the
// simulated node on the other end of the virtual bus (started once the program listens, so its
// boot-up is seen).
struct Channel {
  std::unique_ptr<can::CanDriver> driver;
  std::function<void()> startPeer = [] {};
  std::function<void()> stopPeer = [] {};
  std::shared_ptr<void> peer;  // keeps the demo bus and node alive
  sim::SimNode* demoNode = nullptr;  // the demo's node, inside `peer`; null on a real bus
  std::string name;  // the SocketCAN interface opened (the one chosen when none was named); else empty
};

Channel openChannel(const Options& options);

}  // namespace bp::channel
