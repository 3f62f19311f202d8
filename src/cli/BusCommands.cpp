// The commands that address the bus rather than one object: nmt, scan and dump.
#include <array>
#include <chrono>
#include <thread>

#include "busview/Decoder.h"
#include "busview/LogFiles.h"
#include "can/DriverErrors.h"
#include "cli/Runner.h"
#include "nmt/NmtFrames.h"
#include "od/ValueEncoding.h"
#include "od/ValueText.h"

namespace bp::cli {
namespace {

constexpr auto kListenPass = std::chrono::milliseconds(1);

std::string_view nmtWord(std::uint8_t command) {
  switch (command) {
    case canopen::kNmtStart:
      return "start";
    case canopen::kNmtStop:
      return "stop";
    case canopen::kNmtPreOperational:
      return "preop";
    case canopen::kNmtResetNode:
      return "reset";
    default:
      return "reset-comm";
  }
}

std::uint64_t epochMinusSteadyUs() {
  const auto wall =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(wall.count()) - engine::steadyMicros();
}

}  // namespace

bool Runner::nmt(const Command& c) {
  const std::int32_t node = c.node.value_or(m_invocation.node);
  const std::string target = node == 0 ? "all nodes" : "node " + std::to_string(node);
  const std::vector<Field> f{
      {"command", "nmt"}, {"action", std::string(nmtWord(c.nmtCommand))}, {"node", std::to_string(node), true}};
  const std::uint32_t error = m_session.sender.write(nmt::nmtCommandFrame(c.nmtCommand, node));
  if (error != can::kOk) return fail(c.text, can::sendErrorMessage(error), f);
  m_printer.result("nmt " + std::string(nmtWord(c.nmtCommand)) + " " + target, f);
  return true;
}

void Runner::listen(double seconds, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    m_session.monitor.drain(m_session.ring);
    if ((done && done()) || interrupted.load() || std::chrono::steady_clock::now() >= end) return;
    std::this_thread::sleep_for(kListenPass);
  }
}

// Listens for boot-up and heartbeat, then asks every node for its device type, one at a time.
bool Runner::scan(const Command& c) {
  std::array<std::string, canopen::kMaxNodeId + 1> heard{};
  busview::Decoder decoder;
  m_session.observeFrames([&](const engine::RingSlot& s) {
    const busview::Decoded d = decoder.decode(s.frame);
    if (d.service == busview::Service::BootUp || d.service == busview::Service::Heartbeat)
      heard[d.node] = std::string(busview::nmtStateName(s.frame.data[0] & 0x7F));
  });
  listen(c.seconds.value_or(kDefaultScanSeconds), {});
  m_session.observeFrames({});

  const std::int32_t selected = m_session.nodeId.load();
  od::ObjectEntry deviceType;
  deviceType.index = 0x1000;
  deviceType.dataType = od::kUnsigned32;
  int found = 0;
  for (std::int32_t node = 1; node <= canopen::kMaxNodeId && !interrupted.load(); ++node) {
    m_session.nodeId.store(node);
    std::vector<Field> f{{"command", "scan"}, {"node", std::to_string(node), true}};
    if (!heard[node].empty()) f.push_back({"heard", heard[node]});
    std::string text = "node " + std::to_string(node);
    try {
      const std::string bytes = upload(deviceType, m_invocation.timeoutMs, false);
      od::storeValueBytes(deviceType, bytes, bytes.size());
      f.push_back({"deviceType", od::FormatObjectValue(deviceType, '.')});
      text += ": device type = " + od::FormatObjectValue(deviceType, '.');
    } catch (const bp::Error& e) {
      if (heard[node].empty() && dynamic_cast<const sdo::TimeoutError*>(&e) != nullptr) continue;  // no node there
      f.push_back({"error", e.what()});
      text += ": device type not read (" + std::string(e.what()).substr(0, std::string(e.what()).find('\n')) + ")";
    }
    if (!heard[node].empty()) text += ", heard: " + heard[node];
    m_printer.result(text, f);
    ++found;
  }
  m_session.nodeId.store(selected);
  if (found == 0) return fail(c.text, "no node found", {{"command", "scan"}});
  return true;
}

// candump -l lines of every frame on the bus, the tool's own included, in time order.
bool Runner::dump(const Command& c) {
  busview::Decoder decoder;
  std::uint64_t count = 0;
  const std::uint64_t limit = c.frames.value_or(UINT64_MAX);
  const std::uint64_t epochUs = epochMinusSteadyUs();
  m_session.observeFrames([&](const engine::RingSlot& s) {
    if (count >= limit) return;
    ++count;
    const busview::Direction dir =
        s.origin == engine::FrameOrigin::kSent ? busview::Direction::Sent : busview::Direction::Received;
    const std::string line = busview::candumpLine({s.timeUs, s.frame, dir}, m_iface, epochUs);
    std::vector<Field> f{{"command", "dump"}, {"frame", line}};
    std::string text = line;
    if (c.decode) {
      const std::string meaning = busview::describe(decoder.decode(s.frame), s.frame);
      f.push_back({"decoded", meaning});
      text += "  " + meaning;
    }
    m_printer.result(text, f);
  });
  listen(c.seconds.value_or(1e9), [&] { return count >= limit; });
  m_session.observeFrames({});
  return true;
}

}  // namespace bp::cli
