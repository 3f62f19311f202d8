// The candump log reader: "(1699999999.123456) vcan0 123#DEADBEEF [R|T]".
#include <string>

#include "busview/LogFiles.h"
#include "busview/LogFilesParse.h"

namespace bp::busview {
namespace {

using namespace logparse;

constexpr std::uint32_t kErrorFlag = 0x20000000;  // error frames: skipped, as bus events

// The bytes of "DE.AD.BEEF" as two-digit fields, or false for an odd digit count.
bool splitBytes(std::string_view data, std::string& digits, std::vector<std::string_view>& bytes) {
  for (const char c : data)
    if (c != '.') digits.push_back(c);
  if (digits.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < digits.size(); i += 2) bytes.push_back(std::string_view(digits).substr(i, 2));
  return true;
}

// The frame of "123#DEADBEEF", "123#R3", "0000123A#..."; "" and the frame, or what is wrong;
// `skip` is set for an error frame.
std::string parseFrame(std::string_view text, can::CanFrame& out, bool& skip) {
  const std::size_t hash = text.find('#');
  if (hash == std::string_view::npos) return "frame \"" + std::string(text) + "\" has no '#'";
  if (text.substr(hash + 1, 1) == "#") return "CAN FD frames are not supported";
  const std::string_view idText = text.substr(0, hash);
  std::string_view data = text.substr(hash + 1);
  data = data.substr(0, data.find('_'));  // "_E": a raw DLC above 8 for 8 bytes
  const auto id = parseNumber(idText, 16);
  if ((idText.size() != 3 && idText.size() != 8) || !id)
    return "identifier \"" + std::string(idText) + "\" is not 3 or 8 hex digits";
  if (idText.size() == 8 && (*id & kErrorFlag) != 0) {
    skip = true;
    return {};
  }
  FrameFields in;
  in.id = *id;
  in.extended = idText.size() == 8;
  std::string digits;
  std::vector<std::string_view> bytes;
  if (!data.empty() && (data[0] == 'R' || data[0] == 'r')) {
    in.remote = true;
    const auto len = data.size() == 1 ? std::optional<std::uint32_t>(0) : parseNumber(data.substr(1), 16);
    if (!len || data.size() > 2) return "remote length \"" + std::string(data.substr(1)) + "\" is not one digit";
    in.length = *len;
  } else {
    if (!splitBytes(data, digits, bytes)) return "data \"" + std::string(data) + "\" is not whole hex bytes";
    in.length = static_cast<unsigned>(bytes.size());
    in.bytes = bytes;
  }
  return makeFrame(in, out);
}

Direction directionOf(std::span<const std::string_view> f) {
  if (f.size() < 4) return Direction::Unknown;
  if (f[3] == "R") return Direction::Received;
  if (f[3] == "T") return Direction::Sent;
  return Direction::Unknown;
}

struct NoState {};  // every candump line stands alone

void readLine(std::size_t number, std::string_view line, NoState&, ResultBuilder& out) {
  const std::vector<std::string_view> f = fields(line);
  if (f.empty()) return;
  const std::string_view stamp = f[0];
  const auto time = stamp.size() > 2 && stamp.front() == '(' && stamp.back() == ')'
                        ? parseScaled(stamp.substr(1, stamp.size() - 2), 6)
                        : std::nullopt;
  if (!time) return out.problem(number, "not a candump log line \"(seconds) interface ID#data\"");
  out.recognised();
  if (f.size() < 3) return out.problem(number, "no interface and frame after the time");
  can::CanFrame frame;
  bool skip = false;
  const std::string wrong = parseFrame(f[2], frame, skip);
  if (!wrong.empty()) return out.problem(number, wrong);
  if (!skip) out.frame(*time, frame, directionOf(f));
}

}  // namespace

LogReadResult readCandumpLog(std::string_view text) {
  return readLines<NoState>(text, LogFormat::Candump, "candump log", "\"(seconds) interface ID#data\"", readLine);
}

}  // namespace bp::busview
