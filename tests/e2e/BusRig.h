// Busprobe's session on a virtual bus with the simulated drive, every thread real: the high-rate
// reader on its thread (woken by the driver when frames arrive, as the window wires it at
// start-up), the node on its own runner thread, and the test thread in the window's place.
// A third endpoint listens to the bus like an analyser, so tests can check the frames on the wire.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "can/BitRate.h"
#include "can/drivers/VirtualBus.h"
#include "engine/Session.h"
#include "od/EdsReader.h"
#include "sim/DemoEds.h"
#include "sim/SimNode.h"
#include "support/FrameText.h"
#include "util/Error.h"

namespace bp::e2e {

using namespace std::chrono_literals;

inline constexpr std::int32_t kNode = 5;
inline constexpr std::uint16_t kBitRate500k = can::kBitRateTable[can::kDefaultBitRateIndex].code;
// Long enough for a loaded machine; every wait ends as soon as its frame is there.
inline constexpr auto kPatience = 2000ms;

// Frame text as frameText() prints it ("585#4F0110..."), from the dotted form.
inline std::string norm(std::string_view text) { return test::frameText(test::frame(text)); }

class BusRig : public ::testing::Test {
 protected:
  void SetUp() override {
    // The window's start-up: open the bus, select node 5, start the reader, load the EDS file.
    ASSERT_EQ(session.driver->open(kBitRate500k, 0), can::kOk);
    session.busOpen = true;
    session.nodeId.store(kNode, std::memory_order_relaxed);
    ASSERT_TRUE(session.startReader());
    // While a transfer waits the rig takes the ring's frames into `stored` (the window takes them
    // into the monitor rows), so tests see every frame, including those of a transfer's wait.
    session.sdo.setBusyWork([this] { drainRing(); });
    od::ReadEDSFile(BUSPROBE_SOURCE_DIR "/examples/drv17-ka.eds", session.dictionary, '.',
                    static_cast<std::uint8_t>(kNode));

    ASSERT_EQ(m_analyser->open(kBitRate500k, 0), can::kOk);
    ASSERT_EQ(m_nodePort->open(kBitRate500k, 0), can::kOk);
    // The node serves the copy of the sample EDS built into the program.
    node = std::make_unique<sim::SimNode>(*m_nodePort, static_cast<std::uint8_t>(kNode), sim::demoEdsText());
    ASSERT_TRUE(node->start());
    ASSERT_TRUE(waitForStored("705#00")) << "boot-up of the node";
    wire();  // the analyser starts empty
  }

  void TearDown() override {
    // The window's shut-down order: nothing the reader touches goes before the reader stops.
    if (node) node->stop();
    session.stopReader();
    session.driver->close();
    m_nodePort->close();
    m_analyser->close();
  }

  // A copy of the dictionary's record, ready for one transfer.
  od::ObjectEntry entry(std::int32_t index, std::int32_t subIndex) {
    const od::ObjectEntry* e = session.dictionary.find(index, subIndex);
    if (e == nullptr) {
      ADD_FAILURE() << "the sample EDS has no " << std::hex << index << " sub " << subIndex;
      return od::ObjectEntry{};
    }
    od::ObjectEntry copy = *e;
    copy.next = nullptr;
    return copy;
  }

  // Uploads the object and returns the entry; fails the test when the transfer fails.
  od::ObjectEntry read(std::int32_t index, std::int32_t subIndex) {
    od::ObjectEntry e = entry(index, subIndex);
    e.direction = od::kRead;
    try {
      session.sdo.TransferSdo(e);
    } catch (const Error& err) {
      ADD_FAILURE() << "read of " << std::hex << index << " sub " << subIndex << ": " << err.what();
    }
    return e;
  }

  // Downloads the value; fails the test when the transfer fails.
  void write(std::int32_t index, std::int32_t subIndex, std::int32_t value) {
    od::ObjectEntry e = entry(index, subIndex);
    e.direction = od::kWrite;
    e.value = value;
    try {
      session.sdo.TransferSdo(e);
    } catch (const Error& err) {
      ADD_FAILURE() << "write of " << std::hex << index << " sub " << subIndex << ": " << err.what();
    }
  }

  // The message TransferSdo fails with, or "" when it returns normally.
  std::string failureOf(od::ObjectEntry& e) {
    try {
      session.sdo.TransferSdo(e);
    } catch (const Error& err) {
      return err.what();
    }
    return {};
  }

  // Sends a frame through the client's driver, as the NMT, SYNC and guarding commands do.
  void send(std::string_view text) { ASSERT_EQ(session.driver->write(test::frame(text)), can::kOk); }

  // The window thread's side of the receive ring: takes every stored frame into `stored`.
  void drainRing() {
    while (const engine::RingSlot* slot = session.ring.front()) {
      stored.push_back(*slot);
      session.ring.pop();
    }
  }

  // Waits until the reader stores this frame at position `from` of `stored` or later; frames
  // taken on the way stay in `stored`.
  bool waitForStored(std::string_view text, std::size_t from = 0) {
    const std::string want = norm(text);
    const auto until = std::chrono::steady_clock::now() + kPatience;
    std::size_t looked = from;
    for (;;) {
      drainRing();
      for (; looked < stored.size(); ++looked)
        if (test::frameText(stored[looked].frame) == want) return true;
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(200us);
    }
  }

  // The frames stored from position `from` of `stored` on, as text.
  std::vector<std::string> storedTexts(std::size_t from = 0) {
    drainRing();
    std::vector<std::string> out;
    for (std::size_t i = from; i < stored.size(); ++i) out.push_back(test::frameText(stored[i].frame));
    return out;
  }

  // What the analyser has heard since the last call: at least `atLeast` frames, waiting for them
  // up to the patience limit (the analyser may hear a frame just after the client does).
  std::vector<std::string> wire(std::size_t atLeast = 0) {
    std::vector<std::string> out;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    can::CanFrame f{};
    for (;;) {
      while (m_analyser->read(f) == can::kOk) out.push_back(test::frameText(f));
      if (out.size() >= atLeast || std::chrono::steady_clock::now() >= until) return out;
      std::this_thread::sleep_for(100us);
    }
  }

 private:
  std::shared_ptr<can::VirtualBus> m_bus = can::VirtualBus::create();
  std::unique_ptr<can::VirtualBusEndpoint> m_nodePort = m_bus->endpoint();
  std::unique_ptr<can::VirtualBusEndpoint> m_analyser = m_bus->endpoint();

 protected:
  engine::Session session{m_bus->endpoint()};
  std::unique_ptr<sim::SimNode> node;
  std::vector<engine::RingSlot> stored;  // frames taken out of the ring, in order
};

}  // namespace bp::e2e
