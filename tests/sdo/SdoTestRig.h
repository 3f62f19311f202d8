#pragma once
// A single-threaded test rig for the SDO client: a fake driver, a fake clock, the real high-rate
// reader feeding the client, and a scripted node that checks each request and queues its answers.
// Every pass of the client's busy wait moves the clock by 1 ms, releases answers that are due and
// runs the reader once, so a 250 ms time-out takes 250 passes and no real time.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HighRateReader.h"
#include "engine/RxRing.h"
#include "od/ObjectEntry.h"
#include "sdo/SdoClient.h"
#include "support/FakeClock.h"
#include "support/FakeDriver.h"
#include "support/FrameText.h"
#include "util/Error.h"

namespace bp::sdo::test {

using bp::test::FakeClock;
using bp::test::FakeDriver;
using bp::test::frame;
using bp::test::frameText;

inline od::ObjectEntry makeEntry(std::int32_t index, std::int32_t subIndex, std::int8_t dataType,
                                 std::uint8_t direction = od::kRead, std::int32_t value = 0,
                                 std::string_view name = "Test object") {
  od::ObjectEntry e;
  e.index = index;
  e.subIndex = subIndex;
  e.dataType = dataType;
  e.direction = direction;
  e.value = value;
  e.setName(name);
  return e;
}

// An 8-byte SDO frame in the notation of expect() and reply(), from its bytes.
inline std::string sdoFrame(std::uint32_t id, const std::array<std::uint8_t, 8>& data) {
  can::CanFrame f{};
  f.id = id;
  f.len = 8;
  f.data = data;
  return frameText(f);
}

// The node's side of a conversation: each request the client must send, in order, with the answers
// the node gives to it (after a delay in milliseconds of the fake clock, 0 = at once).
class ScriptedNode {
 public:
  ScriptedNode(FakeDriver& driver, FakeClock& clock) : m_driver(driver), m_clock(clock) {
    m_driver.onWrite = [this](const can::CanFrame& f) { onRequest(f); };
  }
  ~ScriptedNode() { m_driver.onWrite = nullptr; }

  ScriptedNode& expect(std::string_view request) {
    m_steps.push_back({frameText(frame(request)), {}, 0});
    return *this;
  }
  ScriptedNode& reply(std::string_view response, std::uint32_t delayMs = 0) {
    m_steps.back().replies.push_back({frame(response), delayMs});
    return *this;
  }
  // The driver refuses every write after this request with `code`.
  ScriptedNode& thenFailWrites(std::uint32_t code) {
    m_steps.back().failWritesAfter = code;
    return *this;
  }

  // Queues the answers whose time has come. Called on every pass of the wait.
  void releaseDue() {
    const std::uint32_t now = m_clock.tickMs();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
      if (static_cast<std::int32_t>(now - it->due) >= 0) {
        m_driver.push(it->frame);
        it = m_pending.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::size_t requestsMet() const { return m_next; }
  bool allRequestsMet() const { return m_next == m_steps.size() && m_unexpected.empty(); }
  const std::vector<std::string>& unexpected() const { return m_unexpected; }

 private:
  struct Reply {
    can::CanFrame frame;
    std::uint32_t delayMs;
  };
  struct Step {
    std::string request;
    std::vector<Reply> replies;
    std::uint32_t failWritesAfter;
  };
  struct Pending {
    can::CanFrame frame;
    std::uint32_t due;
  };

  void onRequest(const can::CanFrame& f) {
    const std::string text = frameText(f);
    if (m_next >= m_steps.size() || m_steps[m_next].request != text) {
      m_unexpected.push_back(text);
      return;
    }
    const Step& step = m_steps[m_next++];
    for (const Reply& r : step.replies) {
      if (r.delayMs == 0)
        m_driver.push(r.frame);
      else
        m_pending.push_back({r.frame, m_clock.tickMs() + r.delayMs});
    }
    if (step.failWritesAfter != 0) m_driver.writeResult = step.failWritesAfter;
  }

  FakeDriver& m_driver;
  FakeClock& m_clock;
  std::vector<Step> m_steps;
  std::size_t m_next = 0;
  std::vector<std::string> m_unexpected;
  std::vector<Pending> m_pending;
};

class SdoClientTest : public ::testing::Test {
 protected:
  SdoClientTest() {
    reader.setHandOver(&client);
    client.setWaitHook([this] {
      ++passes;
      clock.advance(1);
      node.releaseDue();
      if (readerRunning) reader.runOnce();
    });
  }

  // Runs the transfer; returns the error text, or "" when it returned normally.
  std::string transfer(od::ObjectEntry& e) {
    try {
      client.TransferSdo(e);
      return "";
    } catch (const Error& err) {
      return err.what();
    }
  }

  std::vector<std::string> written() {
    std::vector<std::string> out;
    for (const auto& f : driver.written()) out.push_back(frameText(f));
    return out;
  }

  FakeDriver driver;
  FakeClock clock{1000};
  std::atomic<std::int32_t> nodeId{5};
  std::unique_ptr<engine::RxRing> ring = std::make_unique<engine::RxRing>();
  engine::HighRateReader reader{driver, *ring, clock};
  SdoClient client{driver, nodeId, clock};
  ScriptedNode node{driver, clock};
  bool readerRunning = true;
  int passes = 0;
};

}  // namespace bp::sdo::test
