#include "socketcan/BusTools.h"

#include <fcntl.h>
#include <linux/can.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace bp::test {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

std::string findProgram(std::initializer_list<const char*> paths) {
  for (const char* p : paths)
    if (::access(p, X_OK) == 0) return p;
  return {};
}

std::string ipProgram() { return findProgram({"/usr/sbin/ip", "/sbin/ip", "/bin/ip", "/usr/bin/ip"}); }

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  // Everything the child needs is prepared before fork: after it, only async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out[2];
  if (argv.empty() || ::pipe2(out, O_CLOEXEC) != 0) return;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);  // the parent went before the line above
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(out[1], 2) < 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid < 0) {
    ::close(out[0]);
    return;
  }
  m_pid = pid;
  m_out = out[0];
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && m_status < 0) stop(SIGTERM, 3000ms);
  if (m_out >= 0) ::close(m_out);
}

bool ChildProcess::fill(int timeoutMs) {
  if (m_out < 0) return false;
  pollfd p{m_out, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return false;
  char buf[4096];
  const ssize_t n = ::read(m_out, buf, sizeof buf);
  if (n <= 0) {  // end of output: every writer has gone
    ::close(m_out);
    m_out = -1;
    return false;
  }
  m_pending.append(buf, static_cast<std::size_t>(n));
  m_all.append(buf, static_cast<std::size_t>(n));
  return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds limit) {
  const auto until = Steady::now() + limit;
  for (;;) {
    if (const auto nl = m_pending.find('\n'); nl != std::string::npos) {
      std::string line = m_pending.substr(0, nl);
      m_pending.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Steady::now()).count();
    if (left <= 0 || m_out < 0) return std::nullopt;
    fill(static_cast<int>(left));
  }
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
  if (m_pid <= 0) return -1;
  if (m_status >= 0) return m_status;
  const auto until = Steady::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
      m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return m_status;
    }
    if (r < 0 && errno != EINTR) return -1;
    if (Steady::now() >= until) return -1;
    fill(2);  // keep the pipe drained, so the child never blocks on a full pipe
  }
}

int ChildProcess::stop(int signal, std::chrono::milliseconds limit) {
  if (m_pid <= 0) return -1;
  if (m_status >= 0) return m_status;
  ::kill(m_pid, signal);
  const int status = wait(limit);
  if (status >= 0) return status;
  ::kill(m_pid, SIGKILL);
  wait(5000ms);
  return -1;
}

std::string ChildProcess::output() {
  while (fill(0)) {
  }
  return m_all;
}

ProgramResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
  ChildProcess child(argv);
  ProgramResult result;
  if (!child.started()) return result;
  result.status = child.wait(limit);
  if (result.status < 0) child.stop(SIGKILL, 2000ms);
  result.output = child.output();
  return result;
}

bool NodeProgramProcess::built() { return ::access(BUSPROBE_NODE_PROGRAM, X_OK) == 0; }

bool NodeProgramProcess::start() {
  m_process = std::make_unique<ChildProcess>(
      std::vector<std::string>{BUSPROBE_NODE_PROGRAM, "--channel", kVcan, "--node", "5"});
  if (!m_process->started()) {
    ADD_FAILURE() << "busprobe-node did not start";
    return false;
  }
  const auto line = m_process->readLine(10s);
  if (!line) {
    ADD_FAILURE() << "busprobe-node said nothing: " << m_process->output();
    return false;
  }
  const bool expected = line->rfind("busprobe-node: node 5 on vcan0 at 500 kbit/s, ", 0) == 0 &&
                        line->find(" objects from built-in drv17-ka.eds") != std::string::npos;
  EXPECT_TRUE(expected) << *line;
  return expected;
}

void NodeProgramProcess::stop() {
  if (!m_process) return;
  EXPECT_EQ(m_process->stop(SIGTERM, 5s), 0);
  EXPECT_NE(m_process->output().find("busprobe-node: stopped (SIGTERM)"), std::string::npos) << m_process->output();
  m_process.reset();
}

std::uint32_t readWithin(can::CanDriver& driver, can::CanFrame& f, std::chrono::milliseconds limit) {
  const auto until = Steady::now() + limit;
  for (;;) {
    const std::uint32_t r = driver.read(f);
    const bool probe = r == can::kOk && f.type == can::kMsgExtended && f.id == CanDump::kProbeId;
    if (r != can::kErrQueueEmpty && !probe) return r;
    if (r == can::kErrQueueEmpty && Steady::now() >= until) return r;
    if (r == can::kErrQueueEmpty) std::this_thread::sleep_for(100us);
  }
}

int cansend(std::string_view text) {
  return runProgram({kCansend, kVcan, std::string(text)}).status;
}

CanDump::CanDump() : m_process({kCandump, "-L", kVcan}) {
  if (!m_process.started()) return;
  m_probeSocket = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
  sockaddr_can addr{};
  addr.can_family = AF_CAN;
  addr.can_ifindex = static_cast<int>(if_nametoindex(kVcan));
  if (m_probeSocket < 0 || ::bind(m_probeSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
  // candump needs a while to start (a fork and exec are slow in an emulated machine): probe until
  // it prints one.
  const std::string probeText = [] {
    char t[16];
    std::snprintf(t, sizeof t, "%08X#", kProbeId);
    return std::string(t);
  }();
  can_frame probe{};
  probe.can_id = kProbeId | CAN_EFF_FLAG;
  const auto until = Steady::now() + 10s;
  while (!m_ready && Steady::now() < until) {
    (void)::write(m_probeSocket, &probe, sizeof probe);
    const auto probeUntil = Steady::now() + 100ms;
    while (!m_ready && Steady::now() < probeUntil) {
      const auto line = m_process.readLine(20ms);
      if (line && line->find(probeText) != std::string::npos) m_ready = true;
    }
  }
}

CanDump::~CanDump() {
  if (m_probeSocket >= 0) ::close(m_probeSocket);
  m_process.stop(SIGTERM, 3000ms);
}

std::optional<std::string> CanDump::frameOf(const std::string& line) const {
  // "(1700000000.123456) vcan0 123#DEADBEEF"
  const auto open = line.find(") ");
  if (line.empty() || line[0] != '(' || open == std::string::npos) return std::nullopt;
  const auto space = line.find(' ', open + 2);
  if (space == std::string::npos) return std::nullopt;
  std::string text = line.substr(space + 1);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%08X#", kProbeId);
  if (text.rfind(probe, 0) == 0) return std::nullopt;
  return text;
}

std::vector<std::string> CanDump::frames(std::size_t count, std::chrono::milliseconds limit) {
  return collect(count, limit, false);
}

std::vector<std::string> CanDump::collect(std::size_t count, std::chrono::milliseconds limit, bool whole) {
  std::vector<std::string> out;
  const auto until = Steady::now() + limit;
  while (out.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Steady::now());
    if (left.count() <= 0) break;
    const auto line = m_process.readLine(left);
    if (!line) break;
    if (auto text = frameOf(*line)) out.push_back(whole ? *line : std::move(*text));
  }
  return out;
}

std::vector<std::string> CanDump::framesWithin(std::chrono::milliseconds span) {
  return frames(static_cast<std::size_t>(-1), span);
}

std::vector<std::string> CanDump::linesWithin(std::chrono::milliseconds span) {
  return collect(static_cast<std::size_t>(-1), span, true);
}

LinkControl::LinkControl() : m_ip(ipProgram()) {
  if (m_ip.empty())
    m_reason = "no ip program";
  else if (::geteuid() != 0)
    m_reason = "not root: the link cannot be set down and up";
}

LinkControl::~LinkControl() {
  if (!m_changed) return;
  if (if_nametoindex(kVcan) == 0) ip({"link", "add", "dev", kVcan, "type", "vcan"});
  ip({"link", "set", kVcan, "up"});
}

bool LinkControl::ip(std::vector<std::string> args) {
  if (!m_reason.empty()) return false;
  m_changed = true;
  args.insert(args.begin(), m_ip);
  const ProgramResult r = runProgram(args);
  if (r.status != 0) std::fprintf(stderr, "ip %s: status %d: %s\n", args[1].c_str(), r.status, r.output.c_str());
  return r.status == 0;
}

bool LinkControl::down() { return ip({"link", "set", kVcan, "down"}); }
bool LinkControl::up() { return ip({"link", "set", kVcan, "up"}); }
bool LinkControl::remove() { return ip({"link", "del", "dev", kVcan}); }
bool LinkControl::recreate() {
  return ip({"link", "add", "dev", kVcan, "type", "vcan"}) && up();
}

}  // namespace bp::test
