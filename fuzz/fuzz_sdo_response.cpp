// Fuzz target: the SDO client against a node that answers anything at all.
//
// The input is a run of transfers. Each starts with a 9-byte header:
//   0     bits 6..0: data type (one of kDataTypes, by their value modulo the count);
//         bit 7: the driver refuses the initiate frame
//   1     bit 0: direction (1 = write); bits 7..1: node ID
//   2, 3  index, little-endian
//   4     sub-index (0xFF: -1, the head of an array or record)
//   5..8  the entry's value before the transfer, little-endian
// followed by events, one taken on every pass of the client's busy wait and one inside every
// driver write (so an answer can arrive at once):
//   op % 5 == 0  a frame: 1 byte picks identifier and type, then 8 data bytes
//   op % 5 == 1  an answer for the transfer's own object: command byte, then 4 data bytes
//   op % 5 == 2  the clock moves by 2 * (next byte) ms
//   op % 5 == 3  the next driver write fails with the next byte as its code (0: succeeds)
//   op % 5 == 4  nothing happens on this pass
// Once the input is used up, every pass moves the clock by 50 ms, so each transfer ends. The
// clock starts just before its 32-bit wrap. Frames reach the client through the real high-rate
// reader, on the same thread.
//
// Invariants: TransferSdo throws only bp::Error with one of the client's messages, each in its
// exact form; the entry's text value holds at most 256 bytes and changes only on an upload of a
// VISIBLE_STRING; the fields that describe the object never change; every frame written is an
// SDO request of the selected node for the entry's object; a refused write sends nothing; the
// reader never stores an SDO response or a non-data frame in the ring.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "can/CanDriver.h"
#include "canopen/Identifiers.h"
#include "engine/HighRateReader.h"
#include "engine/RxRing.h"
#include "od/ObjectEntry.h"
#include "sdo/AbortMessages.h"
#include "sdo/SdoClient.h"
#include "util/Clock.h"
#include "util/Error.h"

namespace {

using bp::fuzz::check;
using bp::fuzz::startsWith;
using bp::can::CanFrame;

constexpr std::int8_t kDataTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, -128, 14, 127, 15, 16, 17, 21, 27};
constexpr std::size_t kHeaderSize = 9;
constexpr char kName[] = "Fuzzed object";

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  bool empty() const noexcept { return m_at >= m_size; }
  std::size_t left() const noexcept { return m_size - m_at; }
  std::uint8_t byte() noexcept { return m_at < m_size ? m_data[m_at++] : 0; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

class ManualClock final : public bp::Clock {
 public:
  std::uint32_t tickMs() noexcept override { return m_now; }
  void advance(std::uint32_t ms) noexcept { m_now += ms; }

 private:
  std::uint32_t m_now = 0xFFFFFF00u;  // wraps during the run
};

// The adapter: reads deliver the queued frames, writes are recorded and may fail on request.
class ScriptDriver final : public bp::can::CanDriver {
 public:
  std::uint32_t open(std::uint16_t, std::uint32_t) override { return 0; }
  std::uint32_t close() override { return 0; }
  std::uint32_t read(CanFrame& frame) noexcept override {
    if (queue.empty()) return bp::can::kErrQueueEmpty;
    frame = queue.front();
    queue.pop_front();
    return 0;
  }
  std::uint32_t versionText(char* buffer) override {
    buffer[0] = '\0';
    return 0;
  }
  std::uint32_t write(const CanFrame& frame) override {
    written.push_back(frame);
    const std::uint32_t result = failNext;
    failNext = 0;
    if (result != 0) return result;
    if (onWrite) onWrite();
    return 0;
  }

  std::deque<CanFrame> queue;
  std::vector<CanFrame> written;
  std::uint32_t failNext = 0;
  std::function<void()> onWrite;
};

class Rig {
 public:
  Rig(const std::uint8_t* data, std::size_t size)
      : m_in(data, size), m_reader(m_driver, *m_ring, m_clock), m_client(m_driver, m_node, m_clock) {
    m_reader.setHandOver(&m_client);
    m_client.setWaitHook([this] { pass(); });
    m_driver.onWrite = [this] { step(); };
  }

  void run() {
    while (m_in.left() >= kHeaderSize) transferOne();
  }

 private:
  // One event of the script.
  void step() {
    if (m_in.empty()) {
      m_clock.advance(50);
      return;
    }
    const std::uint8_t op = m_in.byte();
    switch (op % 5) {
      case 0: {
        const std::uint8_t pick = m_in.byte();
        CanFrame f{};
        const auto node = static_cast<std::uint32_t>(m_node.load());
        f.id = (pick & 1) != 0 ? bp::canopen::kSdoResponseBase + node + 1 + (pick >> 4) : bp::canopen::kSdoResponseBase + node;
        f.type = (pick & 2) != 0 ? bp::can::kMsgRemote : bp::can::kMsgData;
        f.len = 8;
        for (auto& b : f.data) b = m_in.byte();
        m_driver.queue.push_back(f);
        break;
      }
      case 1: {
        CanFrame f{};
        f.id = bp::canopen::kSdoResponseBase + static_cast<std::uint32_t>(m_node.load());
        f.len = 8;
        f.data[0] = m_in.byte();
        f.data[1] = static_cast<std::uint8_t>(m_entry.index);
        f.data[2] = static_cast<std::uint8_t>(m_entry.index >> 8);
        f.data[3] = static_cast<std::uint8_t>(m_entry.subIndex);
        for (std::size_t i = 4; i < 8; ++i) f.data[i] = m_in.byte();
        m_driver.queue.push_back(f);
        break;
      }
      case 2:
        m_clock.advance(2u * m_in.byte());
        break;
      case 3:
        m_driver.failNext = m_in.byte();
        break;
      default:
        break;
    }
  }

  // One pass of the busy wait: an event unless frames still wait in the driver, a run of the
  // reader, and the monitor emptying the ring. So a transfer ends on the pass that delivers its
  // last answer and takes no byte that belongs to the next transfer.
  void pass() {
    if (m_driver.queue.empty()) step();
    m_reader.runOnce();
    const auto node = static_cast<std::uint32_t>(m_node.load());
    while (const bp::engine::RingSlot* slot = m_ring->front()) {
      check(slot->frame.type == bp::can::kMsgData, "reader stored a frame that is no data frame");
      check(slot->frame.id != bp::canopen::kSdoResponseBase + node, "reader stored an SDO response");
      m_ring->pop();
    }
  }

  void transferOne() {
    const std::uint8_t b0 = m_in.byte();
    const std::int8_t dataType = kDataTypes[(b0 & 0x7F) % std::size(kDataTypes)];
    const std::uint8_t b1 = m_in.byte();
    const std::uint8_t direction = (b1 & 1) != 0 ? bp::od::kWrite : bp::od::kRead;
    m_node.store(b1 >> 1);
    const std::int32_t index = m_in.byte() | (m_in.byte() << 8);
    const std::uint8_t sub = m_in.byte();
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(m_in.byte()) << (8 * i);

    m_entry = bp::od::ObjectEntry{};
    m_entry.setName(kName);
    m_entry.dataType = dataType;
    m_entry.direction = direction;
    m_entry.index = index;
    m_entry.subIndex = sub == 0xFF ? -1 : sub;
    m_entry.value = static_cast<std::int32_t>(value);
    m_entry.textValue = "before";
    m_entry.access = bp::od::kReadWrite;
    const bp::od::ObjectEntry before = m_entry;

    m_driver.written.clear();
    m_driver.failNext = (b0 & 0x80) != 0 ? bp::can::kErrTxQueueFull : 0;
    std::string message;
    bool threw = false;
    try {
      m_client.TransferSdo(m_entry);
    } catch (const bp::Error& e) {
      threw = true;
      message = e.what();
    }
    if (m_trace) {
      std::fprintf(stderr, "type %d %s node %d 0x%04X/%d: %s value 0x%08X text \"%s\" frames %zu\n",
                   dataType, direction == bp::od::kWrite ? "write" : "read", b1 >> 1, index, m_entry.subIndex,
                   threw ? message.c_str() : "ok", static_cast<std::uint32_t>(m_entry.value), m_entry.textValue.c_str(),
                   m_driver.written.size());
    }
    checkOutcome(before, threw, message);
  }

  void checkOutcome(const bp::od::ObjectEntry& before, bool threw, const std::string& message) {
    const bp::od::ObjectEntry& e = m_entry;
    check(e.nameText() == before.nameText() && e.index == before.index && e.subIndex == before.subIndex &&
              e.dataType == before.dataType && e.direction == before.direction && e.access == before.access &&
              e.defaultValue == before.defaultValue && e.next == nullptr,
          "the transfer changed a field that describes the object");
    check(e.textValue.size() <= 256, "text value longer than 256 bytes");
    // Uploads of the types read as text or bytes: VISIBLE_STRING, OCTET_STRING, UNICODE_STRING, DOMAIN.
    const bool textUpload = e.direction == bp::od::kRead &&
                            (e.dataType == bp::od::kVisibleString || e.dataType == bp::od::kOctetString ||
                             e.dataType == bp::od::kUnicodeString || e.dataType == bp::od::kDomain);
    if (!textUpload) check(e.textValue == before.textValue, "text value changed by another transfer");

    const bool refused = threw && message == "Can't write this type of object";
    if (refused) {
      check(e.direction == bp::od::kWrite, "a read was refused");
      check(m_driver.written.empty(), "a refused write sent a frame");
      check(e.value == before.value, "a refused write changed the value");
    } else {
      check(!m_driver.written.empty(), "a transfer sent no frame");
    }
    const auto node = static_cast<std::uint32_t>(m_node.load());
    for (std::size_t i = 0; i < m_driver.written.size(); ++i) {
      const CanFrame& f = m_driver.written[i];
      check(f.id == bp::canopen::kSdoRequestBase + node && f.type == bp::can::kMsgData && f.len == 8 &&
                f.pad[0] == 0 && f.pad[1] == 0,
            "request frame header");
      check(f.data[1] == static_cast<std::uint8_t>(e.index) && f.data[2] == static_cast<std::uint8_t>(e.index >> 8) &&
                f.data[3] == static_cast<std::uint8_t>(e.subIndex),
            "request frame object");
      const std::uint8_t c = f.data[0];
      if (c == 0x80) {
        // What the client gives up it aborts, as the last frame: its time-out, or more data than
        // it takes.
        const std::uint32_t code = static_cast<std::uint32_t>(f.data[4]) | (f.data[5] << 8) | (f.data[6] << 16) |
                                   (static_cast<std::uint32_t>(f.data[7]) << 24);
        check(i > 0 && i + 1 == m_driver.written.size(), "an abort is the last frame after a request");
        check(code == 0x05040000 || code == 0x05040005, "abort code of the client", std::to_string(code));
        continue;
      }
      if (i == 0) {
        if (e.direction == bp::od::kWrite) {
          check(c == 0x23 || c == 0x2B || c == 0x2F || c == 0x33, "initiate download command");
        } else {
          check(c == 0x40, "initiate upload command");
        }
      } else {
        check(e.direction == bp::od::kRead && (c == 0x60 || c == 0x70), "segment request command");
        check(f.data[4] == 0 && f.data[5] == 0 && f.data[6] == 0 && f.data[7] == 0, "segment request data");
      }
    }
    if (!threw) return;

    if (startsWith(message, "Error sending message, errorcode = ")) {
      check(message.size() > 35 && message.find_first_not_of("0123456789", 35) == std::string::npos,
            "send error code", message);
      return;
    }
    if (startsWith(message, "SDO Transfer timeout\n")) {
      const std::string expected = std::string("SDO Transfer timeout\n") + kName + "\n" + std::to_string(e.index) +
                                   " subindex " + std::to_string(e.subIndex);
      check(message == expected, "time-out message", message);
      return;
    }
    if (startsWith(message, "SDO Tranfer Abort : 0x")) {
      // The code is in the message only: an abort leaves the entry as it was.
      const auto code = static_cast<std::uint32_t>(std::strtoul(message.c_str() + 22, nullptr, 16));
      char head[64];
      std::snprintf(head, sizeof head, "SDO Tranfer Abort : 0x%08X\n", code);
      check(message == std::string(head) + std::string(bp::sdo::lookUpAbortMessage(code)), "abort message", message);
      check(e.value == before.value && e.textValue == before.textValue && e.realValue == before.realValue,
            "an abort changed the entry", message);
      return;
    }
    check(message == "SDO Transfer error, SDO too large" || refused, "unknown failure message", message);
  }

  Input m_in;
  ManualClock m_clock;
  ScriptDriver m_driver;
  std::atomic<std::int32_t> m_node{5};
  std::unique_ptr<bp::engine::RxRing> m_ring = std::make_unique<bp::engine::RxRing>();
  bp::engine::HighRateReader m_reader;
  bp::sdo::SdoClient m_client;
  bp::od::ObjectEntry m_entry;
  // FUZZ_TRACE=1 in the environment prints every transfer's outcome (to look at a seed).
  const bool m_trace = std::getenv("FUZZ_TRACE") != nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Rig rig(data, size);
  rig.run();
  return 0;
}
