// The Vector ASC reader: header lines, then "<time> <channel> <id>[x] Rx|Tx d <dlc> <bytes>" and
// "... r [<dlc>]" for classic CAN frames; every other event is skipped.
#include <algorithm>
#include <string>

#include "busview/LogFiles.h"
#include "busview/LogFilesParse.h"

namespace bp::busview {
namespace {

using namespace logparse;

struct AscState {
  int base = 16;
  bool relative = false;
  std::uint64_t lastUs = 0;  // the previous event's time, for relative time stamps
};

bool isHeader(std::string_view line) {
  for (const char* h : {"date ", "base ", "internal events logged", "no internal events logged", "//",
                        "begin triggerblock", "end triggerblock"})
    if (startsWithNoCase(line, h)) return true;
  return false;
}

// "base hex  timestamps absolute"
void readBase(std::span<const std::string_view> f, AscState& state) {
  for (std::size_t i = 0; i + 1 < f.size(); ++i) {
    if (f[i] == "base") state.base = f[i + 1] == "dec" ? 10 : 16;
    if (f[i] == "timestamps") state.relative = f[i + 1] == "relative";
  }
}

bool isChannel(std::string_view s) { return parseNumber(s, 10).has_value(); }

// The frame of a line with "Rx" or "Tx" in its fourth field: "" and the frame, or what is wrong.
std::string parseFrame(std::span<const std::string_view> f, int base, can::CanFrame& out) {
  FrameFields in;
  in.base = base;
  std::string_view id = f[2];
  in.extended = !id.empty() && (id.back() == 'x' || id.back() == 'X');
  if (in.extended) id.remove_suffix(1);
  const char* baseName = base == 16 ? "hex" : "decimal";
  const auto idValue = parseNumber(id, base);
  if (!idValue) return "identifier \"" + std::string(f[2]) + "\" is not a " + baseName + " number";
  in.id = *idValue;
  if (f[4] != "d" && f[4] != "r") return "frame type \"" + std::string(f[4]) + "\" is neither d (data) nor r (remote)";
  in.remote = f[4] == "r";
  const auto dlc = f.size() > 5 ? parseNumber(f[5], base) : std::nullopt;
  if (!in.remote && !dlc) return "no data length after \"d\"";
  in.length = dlc.value_or(0);
  if (!in.remote && in.length <= 8) in.bytes = f.subspan(6, std::min<std::size_t>(in.length, f.size() - 6));
  return makeFrame(in, out);
}

void readLine(std::size_t number, std::string_view line, AscState& state, ResultBuilder& out) {
  const std::vector<std::string_view> f = fields(line);
  if (f.empty()) return;
  const auto time = parseScaled(f[0], 6);
  if (!time) {
    if (!isHeader(trimmed(line))) return out.problem(number, "not an ASC header or event line");
    out.recognised();
    if (startsWithNoCase(trimmed(line), "base ")) readBase(f, state);
    return;
  }
  out.recognised();
  const std::uint64_t at = state.relative ? std::min(state.lastUs + *time, kMaxTimeUs) : *time;
  state.lastUs = at;
  if (f.size() > 1 && f[1] == "CANFD") return out.problem(number, "CAN FD frames are not supported");
  if (f.size() < 5 || !isChannel(f[1]) || (f[3] != "Rx" && f[3] != "Tx")) return;  // another event
  can::CanFrame frame;
  const std::string wrong = parseFrame(f, state.base, frame);
  if (!wrong.empty()) return out.problem(number, wrong);
  out.frame(at, frame, f[3] == "Rx" ? Direction::Received : Direction::Sent);
}

}  // namespace

LogReadResult readAscLog(std::string_view text) {
  return readLines<AscState>(text, LogFormat::Asc, "Vector ASC log",
                             "\"<time> <channel> <ID> Rx d <length> <data>\"", readLine);
}

}  // namespace bp::busview
