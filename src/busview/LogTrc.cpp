// The PEAK TRC reader, file versions 1.0 to 2.1. The comment lines (";") carry the version
// (";$FILEVERSION=2.0") and, from 2.0 on, the columns (";$COLUMNS=N,O,T,I,d,l,D"); every other line
// is one message: N number, O time offset in ms, T message type (2.x), B bus, I identifier (hex),
// d direction (Rx, Tx), R reserved, l or L data length, D the data bytes to the end of the line.
#include <string>

#include "busview/LogFiles.h"
#include "busview/LogFilesParse.h"

namespace bp::busview {
namespace {

using namespace logparse;

struct TrcState {
  std::string version;  // empty: not given (1.0, or 1.1 where a line has Rx or Tx third)
  std::string columns;  // one letter a column, from ";$COLUMNS"
};

std::string columnsOf(const TrcState& s, std::span<const std::string_view> f) {
  if (!s.columns.empty()) return s.columns;
  if (s.version.starts_with("2.1")) return "NOTBIdRLD";
  if (s.version.starts_with("2.")) return "NOTIdlD";
  if (s.version.starts_with("1.2") || s.version.starts_with("1.3")) return "NOBdIRlD";
  if (s.version.starts_with("1.1") || (s.version.empty() && f.size() > 2 && (f[2] == "Rx" || f[2] == "Tx")))
    return "NOdIlD";
  return "NOIlD";
}

void readComment(std::string_view line, TrcState& state) {
  line = trimmed(line.substr(1));
  if (line.starts_with("$FILEVERSION=")) state.version = std::string(trimmed(line.substr(13)));
  if (line.starts_with("$COLUMNS=")) {
    state.columns.clear();
    for (const char c : line.substr(9))
      if (c != ',' && c != ' ') state.columns.push_back(c);
  }
}

// The message's fields by column letter; D: the first data field.
struct Message {
  std::string_view time, type, id, direction, length;
  std::span<const std::string_view> data;
};

// Fills `m` from the fields; false when there are fewer fields than columns before the data.
bool splitColumns(std::span<const std::string_view> f, std::string_view columns, Message& m) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == 'D') {
      m.data = f.subspan(std::min(i, f.size()));
      return true;
    }
    if (i >= f.size()) return false;
    switch (columns[i]) {
      case 'O': m.time = f[i]; break;
      case 'T': m.type = f[i]; break;
      case 'I': m.id = f[i]; break;
      case 'd': m.direction = f[i]; break;
      case 'l': case 'L': m.length = f[i]; break;
      default: break;
    }
  }
  return true;
}

// "" and the frame (or `skip` for a bus event), or what is wrong.
std::string parseMessage(const Message& m, can::CanFrame& out, bool& skip) {
  const bool fd = m.type == "FD" || m.type == "FB" || m.type == "FE" || m.type == "BI";
  if (fd) return "CAN FD frames are not supported";
  skip = (!m.type.empty() && m.type != "DT" && m.type != "RR") ||
         (!m.direction.empty() && m.direction != "Rx" && m.direction != "Tx") || m.id == "FFFFFFFF" ||
         (!m.data.empty() && m.data[0] == "ERROR");
  if (skip) return {};
  FrameFields in;
  const auto id = m.id.size() <= 8 ? parseNumber(m.id, 16) : std::nullopt;
  if (!id) return "identifier \"" + std::string(m.id) + "\" is not a hex number";
  in.id = *id;
  in.extended = m.id.size() > 4;
  const auto length = parseNumber(m.length, 10);
  if (!length) return "data length \"" + std::string(m.length) + "\" is not a number";
  in.length = *length;
  in.remote = m.type == "RR" || (!m.data.empty() && m.data[0] == "RTR");
  if (!in.remote) in.bytes = m.data.subspan(0, std::min<std::size_t>(m.data.size(), in.length));
  return makeFrame(in, out);
}

void readLine(std::size_t number, std::string_view line, TrcState& state, ResultBuilder& out) {
  const std::vector<std::string_view> f = fields(line);
  if (f.empty()) return;
  if (f[0].front() == ';') {
    out.recognised();
    return readComment(trimmed(line), state);
  }
  const std::string columns = columnsOf(state, f);
  Message m;
  if (!splitColumns(f, columns, m))
    return out.problem(number, std::to_string(f.size()) + " fields, fewer than the columns \"" + columns + "\"");
  const auto time = parseScaled(m.time, 3);
  if (!time) return out.problem(number, "time offset \"" + std::string(m.time) + "\" is not a number");
  out.recognised();
  can::CanFrame frame;
  bool skip = false;
  const std::string wrong = parseMessage(m, frame, skip);
  if (!wrong.empty()) return out.problem(number, wrong);
  if (skip) return;
  const Direction d = m.direction == "Rx" ? Direction::Received : m.direction == "Tx" ? Direction::Sent : Direction::Unknown;
  out.frame(*time, frame, d);
}

}  // namespace

LogReadResult readTrcLog(std::string_view text) {
  return readLines<TrcState>(text, LogFormat::Trc, "PCAN TRC file",
                             "\";$FILEVERSION=...\" or \"<number>) <time> <ID> <length> <data>\"", readLine);
}

}  // namespace bp::busview
