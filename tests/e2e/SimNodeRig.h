// The shared bus rig on a virtual bus with the simulated drive as node 5, every thread real: the
// high-rate reader on its thread (woken by the driver when frames arrive), the node on its own
// runner thread, and the test thread in the window's place. A third endpoint listens to the bus
// like an analyser, so tests can check the frames on the wire.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "can/drivers/VirtualBus.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#include "support/BusRig.h"
#include "support/FrameText.h"
#include "support/Wait.h"

namespace bp::test {

class SimNodeRig : public BusRig {
 public:
  SimNodeRig() : SimNodeRig(can::VirtualBus::create()) {}

 protected:
  void SetUp() override {
    BusRig::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(m_analyser->open(kBitRate500k, 0), can::kOk);
    ASSERT_EQ(m_nodePort->open(kBitRate500k, 0), can::kOk);
    // The node serves the copy of the sample EDS built into the program.
    node = std::make_unique<sim::SimNode>(*m_nodePort, static_cast<std::uint8_t>(kNode), sim::demoEdsText());
    ASSERT_TRUE(node->start());
    ASSERT_TRUE(waitForStored("705#00")) << "boot-up of the node";
    wire(1);  // the analyser starts empty: its boot-up may come just after the client has it
  }

  void TearDown() override {
    if (node) node->stop();
    BusRig::TearDown();
    m_nodePort->close();
    m_analyser->close();
  }

  // What the analyser has heard since the last call: at least `atLeast` frames, waiting for them
  // up to the patience limit (the analyser may hear a frame just after the client does).
  std::vector<std::string> wire(std::size_t atLeast = 0) {
    std::vector<std::string> out;
    can::CanFrame f{};
    waitUntil(
        [&] {
          while (m_analyser->read(f) == can::kOk) out.push_back(frameText(f));
          return out.size() >= atLeast;
        },
        kPatience, std::chrono::microseconds(100));
    return out;
  }

 private:
  // The bus is made before the base class, which takes the session's endpoint of it.
  explicit SimNodeRig(std::shared_ptr<can::VirtualBus> bus) : BusRig(bus->endpoint()), m_bus(std::move(bus)) {}

  std::shared_ptr<can::VirtualBus> m_bus;
  std::unique_ptr<can::VirtualBusEndpoint> m_nodePort = m_bus->endpoint();
  std::unique_ptr<can::VirtualBusEndpoint> m_analyser = m_bus->endpoint();

 protected:
  std::unique_ptr<sim::SimNode> node;
};

}  // namespace bp::test
