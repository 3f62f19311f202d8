// A simulated node 5 on a virtual bus with a second endpoint that plays the master: frames go in
// as can-utils text, the node is stepped by hand, and what it sent comes back as text.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "can/drivers/VirtualBus.h"
#include "sim/SimNode.h"
#include "support/FrameText.h"

namespace bp::sim::test {

// A small drive: communication objects, one of each access kind and several types, and the
// CiA 402 objects the drive model uses. COB-IDs are written as node-ID expressions.
inline constexpr std::string_view kTestEds = R"([FileInfo]
FileName=sim-test.eds

[DeviceInfo]
VendorName=Test

[1000]
ParameterName=Device type
ObjectType=0x7
DataType=0x0007
AccessType=ro
DefaultValue=0x00020192

[1001]
ParameterName=Error register
DataType=0x0005
AccessType=ro
DefaultValue=0

[1008]
ParameterName=Manufacturer device name
DataType=0x0009
AccessType=const
DefaultValue=Sim drive 17

[1017]
ParameterName=Producer heartbeat time
DataType=0x0006
AccessType=rw
DefaultValue=0

[1018]
ParameterName=Identity object
ObjectType=0x9
SubNumber=3

[1018sub0]
ParameterName=Number of entries
DataType=0x0005
AccessType=ro
DefaultValue=2

[1018sub1]
ParameterName=Vendor-ID
DataType=0x0007
AccessType=ro
DefaultValue=0x0000ABCD

[1018sub2]
ParameterName=Product code
DataType=0x0007
AccessType=ro
DefaultValue=0x17

[1200]
ParameterName=SDO server parameter
ObjectType=0x9

[1200sub0]
ParameterName=Number of entries
DataType=0x0005
AccessType=ro
DefaultValue=2

[1200sub1]
ParameterName=COB-ID client to server
DataType=0x0007
AccessType=ro
DefaultValue=$NODEID+0x600

[1200sub2]
ParameterName=COB-ID server to client
DataType=0x0007
AccessType=ro
DefaultValue=$NODEID+0x580

[1801]
ParameterName=TPDO2 communication parameter
ObjectType=0x9

[1801sub1]
ParameterName=COB-ID
DataType=0x0007
AccessType=rw
DefaultValue=0x80000280

[2000]
ParameterName=Access code
DataType=0x0007
AccessType=wo

[2001]
ParameterName=Label
DataType=0x0009
AccessType=rw
DefaultValue=abc

[2002]
ParameterName=Gain
DataType=0x0008
AccessType=rw
DefaultValue=1.5

[2003]
ParameterName=Offset
DataType=0x0002
AccessType=rw
DefaultValue=-5

[2004]
ParameterName=Serial number
DataType=0x001B
AccessType=rw

[603F]
ParameterName=Error code
DataType=0x0006
AccessType=ro
DefaultValue=0

[6040]
ParameterName=Controlword
DataType=0x0006
AccessType=rw
DefaultValue=0

[6041]
ParameterName=Statusword
DataType=0x0006
AccessType=ro
DefaultValue=0

[6064]
ParameterName=Position actual value
DataType=0x0004
AccessType=ro
DefaultValue=0

[607A]
ParameterName=Target position
DataType=0x0004
AccessType=rw
DefaultValue=0

[6081]
ParameterName=Profile velocity
DataType=0x0007
AccessType=rw
DefaultValue=0
)";

// The node and the master's endpoint. The node is booted at `now` by the constructor; the
// boot-up frame is kept in `bootFrames`.
class SimBench {
 public:
  explicit SimBench(std::string_view eds = kTestEds, std::uint8_t nodeId = 5)
      : m_bus(can::VirtualBus::create()), m_nodeEp(m_bus->endpoint()), m_master(m_bus->endpoint()) {
    m_nodeEp->open(0x001C, 0);
    m_master->open(0x001C, 0);
    node = std::make_unique<SimNode>(*m_nodeEp, nodeId, eds);
    node->step(now);
    bootFrames = received();
  }
  ~SimBench() { node.reset(); }

  // Sends the frames, steps the node once (time unchanged) and returns what it sent.
  std::vector<std::string> exchange(std::initializer_list<std::string_view> frames) {
    return exchange(std::vector<std::string>(frames.begin(), frames.end()));
  }
  std::vector<std::string> exchange(std::string_view frame) { return exchange({frame}); }
  std::vector<std::string> exchange(const std::vector<std::string>& frames) {
    for (const std::string& f : frames) m_master->write(bp::test::frame(f));
    node->step(now);
    return received();
  }

  // One SDO request; the one answer, or "" when there is none (more than one fails the test).
  std::string sdo(std::string_view request) {
    const auto out = exchange(request);
    if (out.size() > 1) return "several answers: " + out[0] + " " + out[1];
    return out.empty() ? std::string() : out[0];
  }

  // Steps the node every millisecond for `ms` milliseconds; every frame it sent, with the time.
  struct Timed { std::uint32_t atMs; std::string frame; };
  std::vector<Timed> advance(std::uint32_t ms) {
    std::vector<Timed> out;
    for (std::uint32_t i = 0; i < ms; ++i) {
      node->step(++now);
      for (auto& f : received()) out.push_back({now, std::move(f)});
    }
    return out;
  }

  // Frames the master's endpoint has received, as text, emptying its queue.
  std::vector<std::string> received() {
    std::vector<std::string> out;
    can::CanFrame f{};
    while (m_master->read(f) == can::kOk) out.push_back(bp::test::frameText(f));
    return out;
  }

  can::VirtualBusEndpoint& master() { return *m_master; }
  can::VirtualBusEndpoint& nodeEndpoint() { return *m_nodeEp; }

  std::uint32_t now = 1000;
  std::unique_ptr<SimNode> node;
  std::vector<std::string> bootFrames;

 private:
  std::shared_ptr<can::VirtualBus> m_bus;
  std::unique_ptr<can::VirtualBusEndpoint> m_nodeEp;
  std::unique_ptr<can::VirtualBusEndpoint> m_master;
};

using bp::test::norm;

// The text of an 8-byte SDO frame: `command` in byte 0, then `rest` (at most 7 bytes), zeros after.
inline std::string sdoFrame(std::uint32_t id, std::uint8_t command, std::span<const std::uint8_t> rest = {}) {
  can::CanFrame f{};
  f.id = id;
  f.type = can::kMsgData;
  f.len = 8;
  f.data[0] = command;
  std::copy_n(rest.begin(), std::min<std::size_t>(rest.size(), 7), f.data.begin() + 1);
  return bp::test::frameText(f);
}

// Bytes 1..7 of an initiate frame: index, sub-index, then a 32-bit number in bytes 4..7 (a size,
// or a block size and the protocol switch threshold as its low bytes).
inline std::array<std::uint8_t, 7> initiateFields(std::uint16_t index, std::uint8_t sub, std::uint32_t number) {
  return {static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), sub,
          static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

// `size` bytes that differ from one transfer to the next, for long transfers.
inline std::vector<std::uint8_t> testData(std::size_t size) {
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8) + size);
  return out;
}

}  // namespace bp::sim::test
