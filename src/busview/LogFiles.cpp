// The log format by its first line, the candump log writer and recorder, the replay schedule.
#include "busview/LogFiles.h"

#include <algorithm>
#include <cstdio>

#include "busview/LogFilesParse.h"
#include "od/ValueText.h"
#include "util/Error.h"

namespace bp::busview {
namespace {

using namespace logparse;

constexpr std::size_t kWriteAtBytes = 64 * 1024;
constexpr std::uint32_t kWriteEveryMs = 1000;
constexpr std::uint32_t kErrorFlag = 0x20000000;

std::string_view firstLine(std::string_view text) {
  std::string_view found;
  forEachLine(text, [&](std::size_t, std::string_view line) {
    if (found.empty()) found = trimmed(line);
  });
  return found;
}

bool looksLikeAsc(std::string_view line) {
  for (const char* h : {"date ", "base ", "//", "begin triggerblock", "no internal events", "internal events"})
    if (startsWithNoCase(line, h)) return true;
  const std::vector<std::string_view> f = fields(line);
  return !f.empty() && parseScaled(f[0], 6).has_value();
}

bool looksLikeTrc(std::string_view line) {
  const std::vector<std::string_view> f = fields(line);
  return line.front() == ';' ||
         (!f.empty() && f[0].size() > 1 && f[0].back() == ')' && parseNumber(f[0].substr(0, f[0].size() - 1), 10));
}

std::string cut(std::string_view text) {
  return text.size() <= 40 ? std::string(text) : std::string(text.substr(0, 40)) + "...";
}

std::uint64_t dueUs(std::uint64_t latestUs, const TraceFrame& f) noexcept { return std::max(latestUs, f.timeUs); }

void appendHex(std::string& out, std::uint32_t value, int digits) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += od::kHexDigits[(value >> shift) & 0xF];
}

void appendCandumpLine(std::string& out, const TraceFrame& t, std::string_view iface, std::uint64_t epochUs) {
  const std::uint64_t us = epochUs + t.timeUs;
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "(%010llu.%06llu) ", static_cast<unsigned long long>(us / 1000000),
                static_cast<unsigned long long>(us % 1000000));
  out += stamp;
  out += iface;
  out += ' ';
  const can::CanFrame& f = t.frame;
  const bool error = (f.type & can::kMsgError) != 0;
  if (error) appendHex(out, kErrorFlag | (f.id & 0x1FFFFFFF), 8);
  else if ((f.type & can::kMsgExtended) != 0) appendHex(out, f.id & 0x1FFFFFFF, 8);
  else appendHex(out, f.id & 0x7FF, 3);
  out += '#';
  const std::size_t len = std::min<std::size_t>(f.len, 8);
  if (!error && (f.type & can::kMsgRemote) != 0) {
    out += 'R';
    if (len > 0) appendHex(out, static_cast<std::uint32_t>(len), 1);
    return;
  }
  for (std::size_t i = 0; i < len; ++i) appendHex(out, f.data[i], 2);
}

}  // namespace

LogReadResult readLog(std::span<const std::uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  requireText(text, "candump, ASC or TRC log");
  const std::string_view line = firstLine(text);
  if (line.front() == '(') return readCandumpLog(text);
  if (looksLikeTrc(line)) return readTrcLog(text);
  if (looksLikeAsc(line)) return readAscLog(text);
  throw Error("Not a candump, ASC or TRC log: the first line is \"" + cut(line) + "\".");
}

LogReadResult readLogFile(const std::string& path) {
  const std::vector<std::uint8_t> bytes = fileio::readWholeFile(path);
  try {
    return readLog(bytes);
  } catch (const Error& e) {
    throw Error("Cannot load log \"" + fileio::nativePath(path) + "\". " + e.what());
  }
}

std::string candumpLine(const TraceFrame& frame, std::string_view iface, std::uint64_t epochUs) {
  std::string line;
  appendCandumpLine(line, frame, iface, epochUs);
  return line;
}

LogRecorder::~LogRecorder() {
  try {
    stop();
  } catch (const Error&) {
  }
}

void LogRecorder::start(const std::string& path, std::string iface, std::uint64_t epochUs) {
  stop();
  fileio::removeFile(path);  // the window asked before replacing it
  try {
    m_file = fileio::File::createNew(path);
  } catch (const fileio::SystemError& e) {
    throw Error("Cannot create file \"" + fileio::nativePath(path) + "\". " + e.what());
  }
  m_path = path;
  m_iface = std::move(iface);
  m_epochUs = epochUs;
  m_frames = 0;
  m_buffer.clear();
  m_lastWriteMs = m_clock.tickMs();
  m_open = true;
}

void LogRecorder::record(const TraceFrame& frame) {
  if (!m_open) return;
  appendCandumpLine(m_buffer, frame, m_iface, m_epochUs);
  m_buffer += '\n';
  ++m_frames;
  if (m_buffer.size() >= kWriteAtBytes) write();
  else poll();
}

void LogRecorder::poll() {
  if (m_open && !m_buffer.empty() && m_clock.tickMs() - m_lastWriteMs >= kWriteEveryMs) write();
}

void LogRecorder::stop() {
  if (!m_open) return;
  write();
  m_open = false;
  try {
    m_file.flushToDisk();
    m_file.close();
  } catch (const fileio::SystemError& e) {
    throw Error("Cannot write file \"" + fileio::nativePath(m_path) + "\". " + e.what());
  }
}

void LogRecorder::write() {
  try {
    m_file.writeAll(std::span(reinterpret_cast<const std::uint8_t*>(m_buffer.data()), m_buffer.size()));
  } catch (const fileio::SystemError& e) {
    m_open = false;
    m_buffer.clear();
    fileio::File failed = std::move(m_file);  // closed here, its error lost behind this one
    throw Error("Cannot write file \"" + fileio::nativePath(m_path) + "\". " + e.what());
  }
  m_buffer.clear();
  m_lastWriteMs = m_clock.tickMs();
}

std::vector<std::uint64_t> replayDelaysUs(std::span<const TraceFrame> frames) {
  std::vector<std::uint64_t> delays;
  delays.reserve(frames.size());
  std::uint64_t latest = 0;
  for (const TraceFrame& f : frames) {
    const std::uint64_t due = dueUs(latest, f);
    delays.push_back(due - latest);
    latest = due;
  }
  return delays;
}

std::span<const TraceFrame> ReplaySchedule::due(std::uint64_t elapsedUs) noexcept {
  const std::size_t first = m_next;
  while (m_next < m_frames.size() && dueUs(m_latestUs, m_frames[m_next]) <= elapsedUs) {
    m_latestUs = dueUs(m_latestUs, m_frames[m_next]);
    ++m_next;
  }
  return m_frames.subspan(first, m_next - first);
}

std::optional<std::uint64_t> ReplaySchedule::waitUs(std::uint64_t elapsedUs) const noexcept {
  if (finished()) return std::nullopt;
  const std::uint64_t due = dueUs(m_latestUs, m_frames[m_next]);
  return due > elapsedUs ? due - elapsedUs : 0;
}

}  // namespace bp::busview
