#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "busview/TraceFrame.h"
#include "util/Clock.h"
#include "util/FileIo.h"

// Bus logs: the readers of candump, Vector ASC and PEAK TRC logs, the candump log writer and
// recorder, and the replay schedule. No Qt; the recorder and the readers run on the window thread.
namespace bp::busview {

enum class LogFormat : std::uint8_t { Candump, Asc, Trc };

// What a reader made of a log: its CAN frames in file order, times in microseconds from the first
// frame (a frame stamped earlier than the first gets 0), and one text per line it skipped
// ("line 17: data length 9 is more than 8 bytes"; after kMaxLogProblems lines, one last text with
// the count of the rest). Error frames, bus events and header lines are no problems.
struct LogReadResult {
  LogFormat format = LogFormat::Candump;
  std::vector<TraceFrame> frames;
  std::vector<std::string> problems;
};
inline constexpr std::size_t kMaxLogProblems = 100;

// The readers of one format each. A text that is no log of the format at all (empty, binary, no
// line of the format) throws bp::Error with one text ("Not a candump log: the file is empty.").
// candump -l / -L: "(1699999999.123456) vcan0 123#DEADBEEF", "123#R", "123#R3", 8-digit extended
// identifiers, "." between bytes, an optional direction "R" or "T" after the frame; CAN FD frames
// ("123##1...") are skipped as not supported.
LogReadResult readCandumpLog(std::string_view text);
// Vector ASC: the header lines, "base hex|dec", "timestamps absolute|relative", classic CAN data and
// remote frames ("0.123456 1  123x  Rx   d 8 01 02 ..."); error frames and other events skipped.
LogReadResult readAscLog(std::string_view text);
// PEAK TRC file versions 1.0 to 1.3 and 2.0, 2.1 (with their ";$COLUMNS=" line).
LogReadResult readTrcLog(std::string_view text);

// The reader the text's first line calls for: "(" candump, ";" or "1)" TRC, else ASC when it
// starts like one ("date", "base", "//", "Begin", a time); anything else throws bp::Error.
LogReadResult readLog(std::span<const std::uint8_t> bytes);
// readLog on a file's content. Throws bp::Error "Cannot open file "<path>". <reason>" and
// "Cannot load log "<path>". <reason of readLog>".
LogReadResult readLogFile(const std::string& path);

// The candump log line of a frame, as candump -l writes it, without the line break:
// "(1699999999.123456) can0 123#DEADBEEF" (10-digit seconds): 3-digit standard and 8-digit extended identifiers,
// upper-case hex, "R" for a remote request (and its length when not 0: "123#R3"), error frames
// with the error flag 20000000 in the identifier. The time is `epochUs` + the frame's time.
std::string candumpLine(const TraceFrame& frame, std::string_view iface, std::uint64_t epochUs);

// Records frames to a candump log file as they come: lines are kept in memory and written when
// 64 KiB have gathered, when at least a second has passed since the last write (on record() or
// poll()), and on stop(). The window thread owns it.
class LogRecorder {
 public:
  explicit LogRecorder(Clock& clock = SteadyClock::instance()) noexcept : m_clock(clock) {}
  ~LogRecorder();  // stops; a failure then is lost
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  // Starts a new log at `path` (a file there is replaced): lines name `iface` and carry
  // `epochUs` + the frame's time. Throws bp::Error "Cannot create file "<path>". <reason>".
  void start(const std::string& path, std::string iface, std::uint64_t epochUs);
  // Adds the frame's line. A failed write stops the recording and throws bp::Error
  // "Cannot write file "<path>". <reason>" ("No space left on device"). Nothing while stopped.
  void record(const TraceFrame& frame);
  // Writes what has gathered when a second has passed since the last write; for the window's timer.
  void poll();
  // Writes the rest and closes the file; throws as record() does. Nothing while stopped.
  void stop();

  bool recording() const noexcept { return m_open; }
  std::uint64_t framesRecorded() const noexcept { return m_frames; }

 private:
  void write();

  Clock& m_clock;
  fileio::File m_file;
  std::string m_path;
  std::string m_iface;
  std::string m_buffer;
  std::uint64_t m_epochUs = 0;
  std::uint64_t m_frames = 0;
  std::uint32_t m_lastWriteMs = 0;
  bool m_open = false;
};

// Replay at the log's own timing, as canplayer sends a log: each frame `timeUs` after the replay's
// start, a frame stamped earlier than the one before it at once after that one.
// The wait before each frame, from the frame before it (the first: from the start).
std::vector<std::uint64_t> replayDelaysUs(std::span<const TraceFrame> frames);

// The same schedule for a caller that looks at its clock now and then (a window timer): the frames
// due since the last call, never drifting with the caller's lateness. Pure; no clock of its own.
class ReplaySchedule {
 public:
  explicit ReplaySchedule(std::span<const TraceFrame> frames) noexcept : m_frames(frames) {}
  // The frames due `elapsedUs` after the start that were not handed out yet, in log order.
  std::span<const TraceFrame> due(std::uint64_t elapsedUs) noexcept;
  // How long after `elapsedUs` the next frame falls due (0: due now); none when all were handed out.
  std::optional<std::uint64_t> waitUs(std::uint64_t elapsedUs) const noexcept;
  bool finished() const noexcept { return m_next == m_frames.size(); }

 private:
  std::span<const TraceFrame> m_frames;
  std::size_t m_next = 0;
  std::uint64_t m_latestUs = 0;  // the latest time handed out: earlier stamps go at once
};

}  // namespace bp::busview
