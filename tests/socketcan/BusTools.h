// Helpers of the SocketCAN tests: other programs on the same bus (can-utils, busprobe-node, ip),
// run as child processes. Linux only; every call is for the test's main thread.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "can/CanDriver.h"

namespace bp::test {

inline constexpr const char* kVcan = "vcan0";
inline constexpr const char* kCansend = "/usr/bin/cansend";
inline constexpr const char* kCandump = "/usr/bin/candump";

// The first of these paths that is an executable file, "" when none is.
std::string findProgram(std::initializer_list<const char*> paths);
// The iproute2 or busybox `ip` program, "" when there is none.
std::string ipProgram();

// One program started with fork and exec: stdin from /dev/null, stdout and stderr together into a
// pipe that this object reads. The child gets SIGKILL if the test's main thread dies first, so a
// crashed test leaves no node or candump running. The destructor stops it (SIGTERM, then SIGKILL)
// and reaps it.
class ChildProcess {
 public:
  // argv[0] is the program's path. started() is false when the pipe or the fork failed; a path
  // that cannot be executed gives a child that exits with 127 at once.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const noexcept { return m_pid > 0; }
  // The next line of output without its '\n', waiting up to `limit`; nullopt when no whole line
  // came in that time or the output ended.
  std::optional<std::string> readLine(std::chrono::milliseconds limit);
  // Waits up to `limit` for the exit. The exit status (128 + N when signal N ended it), or -1 when
  // it still runs.
  int wait(std::chrono::milliseconds limit);
  // Sends `signal` and waits up to `limit`; kills it when it does not end. The status as wait().
  int stop(int signal, std::chrono::milliseconds limit);
  // All output read so far, plus what is waiting in the pipe now.
  std::string output();

 private:
  // Reads what the pipe has within `timeoutMs`; false at the end of the output or on time-out.
  bool fill(int timeoutMs);

  pid_t m_pid = -1;
  int m_out = -1;
  int m_status = -1;     // exit status once reaped
  std::string m_pending;  // read but not yet returned by readLine
  std::string m_all;      // everything read
};

struct ProgramResult {
  int status = -1;  // as ChildProcess::wait; -1 when it did not end within the limit
  std::string output;
};
// Runs a program to its end (at most `limit`; it is killed after that).
ProgramResult runProgram(const std::vector<std::string>& argv,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

// busprobe-node (the program the build made) as node 5 on vcan0, serving its built-in sample EDS,
// as a child process.
class NodeProgramProcess {
 public:
  // False when the program is not there (the tests that need it skip).
  static bool built();
  // Starts it and waits for the line it prints once it serves. False, with the reason added to the
  // test's failures, when that line does not come or reads otherwise.
  bool start();
  // The program's own way out: SIGTERM, a last line, status 0 (a failure of the test otherwise).
  void stop();
  std::string output() { return m_process ? m_process->output() : std::string(); }

 private:
  std::unique_ptr<ChildProcess> m_process;
};

// Reads with the driver until a frame comes (candump's probes left out) or `limit` passes; the
// driver's last result.
std::uint32_t readWithin(can::CanDriver& driver, can::CanFrame& f,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

// `cansend vcan0 TEXT`: the exit status (0 when the frame was sent).
int cansend(std::string_view text);

// `candump -L vcan0` running beside the test: the frames it prints, in can-utils notation
// ("123#DEADBEEF", "705#R", "00000123#R3"). The constructor waits until candump hears the bus (it
// sends probe frames on an extended identifier that nothing else uses, until one is printed);
// probes are left out of everything returned.
class CanDump {
 public:
  CanDump();
  ~CanDump();
  CanDump(const CanDump&) = delete;
  CanDump& operator=(const CanDump&) = delete;

  bool ready() const noexcept { return m_ready; }
  // The next `count` frames, waiting up to `limit` for them; fewer when they do not come.
  std::vector<std::string> frames(std::size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
  // Every frame printed within `span`: for checking that nothing (more) went out.
  std::vector<std::string> framesWithin(std::chrono::milliseconds span);
  // Every whole log line printed within `span`: "(1700000000.123456) vcan0 123#DEADBEEF".
  std::vector<std::string> linesWithin(std::chrono::milliseconds span);
  // candump's output so far, for failure messages.
  std::string output() { return m_process.output(); }

  static constexpr std::uint32_t kProbeId = 0x1FFFFF5A;  // extended; busprobe sends 11-bit only

 private:
  // The frame text of one candump -L line, or nullopt for other lines and for probes.
  std::optional<std::string> frameOf(const std::string& line) const;
  // The frames (or with `whole`, the log lines) of the next `count` lines, within `limit`.
  std::vector<std::string> collect(std::size_t count, std::chrono::milliseconds limit, bool whole);

  ChildProcess m_process;
  int m_probeSocket = -1;
  bool m_ready = false;
};

// Takes vcan0 down or up with `ip link set`; the destructor brings it up again (and creates it
// again after remove()), whatever the test did.
class LinkControl {
 public:
  LinkControl();
  ~LinkControl();
  LinkControl(const LinkControl&) = delete;
  LinkControl& operator=(const LinkControl&) = delete;

  // "" when the link can be controlled, else why not (no ip program, not permitted).
  const std::string& unavailableReason() const noexcept { return m_reason; }
  bool down();
  bool up();
  // Deletes the interface; recreate() adds a vcan of the same name again and sets it up.
  bool remove();
  bool recreate();

 private:
  bool ip(std::vector<std::string> args);

  std::string m_ip;
  std::string m_reason;
  bool m_changed = false;
};

}  // namespace bp::test
