// The Bus view's recording of vcan0 (the session's observer into LogRecorder, as the window wires
// it) against candump's own log of the same traffic: cangen's random frames and busprobe-node's
// answers to them, line for line.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "busview/LogFiles.h"
#include "busview/TraceBuffer.h"
#include "socketcan/VcanSession.h"
#include "util/FileIo.h"

namespace bp::test {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr const char* kCangen = "/usr/bin/cangen";
// candump stamps a frame when the kernel takes it in, busprobe when its reader takes it out of
// the socket: later by the reader's wake-up, in the emulated machine a third of a millisecond
// typically and tens of milliseconds now and then (its two processors also run cangen, candump
// and the node); earlier only by the two clock readings of epochUs.
constexpr std::int64_t kEarlyUs = 1000;
constexpr std::int64_t kTypicalLagUs = 2000;
constexpr std::int64_t kWorstLagUs = 250000;
const std::string kNone = "(none)";

bool isProbe(const std::string& frame) {
  char probe[16];
  std::snprintf(probe, sizeof probe, "%08X#", CanDump::kProbeId);
  return frame.rfind(probe, 0) == 0;
}

struct LogLine {
  std::int64_t us = 0;
  std::string frame;  // "123#DEADBEEF"
};

// The time and frame of "(1700000000.123456) vcan0 123#DEADBEEF".
LogLine split(const std::string& line) {
  const auto close = line.find(')');
  const auto space = line.find(' ', close + 2);
  if (line.empty() || line[0] != '(' || close == std::string::npos || space == std::string::npos)
    return {-1, line};
  const std::string stamp = line.substr(1, close - 1);
  const auto dot = stamp.find('.');
  const std::int64_t seconds = std::atoll(stamp.substr(0, dot).c_str());
  return {seconds * 1000000 + std::atoll(stamp.substr(dot + 1).c_str()), line.substr(space + 1)};
}

// The wall clock's microseconds since the epoch less steadyMicros: the Bus view's epochUs.
std::uint64_t epochUs() {
  const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(wall.count()) - engine::steadyMicros();
}

class Recording : public VcanSession {
 protected:
  void SetUp() override {
    if (::access(kCangen, X_OK) != 0 || ::access(kCandump, X_OK) != 0)
      GTEST_SKIP() << "can-utils (cangen, candump) are not installed";
    if (!NodeProgramProcess::built()) GTEST_SKIP() << "no busprobe-node at " BUSPROBE_NODE_PROGRAM;
    VcanSession::SetUp();
    if (HasFatalFailure()) return;
    recorder.start(path, kVcan, epochUs());
    session.observeFrames([this](const engine::RingSlot& slot) { recorder.record(busview::traceFrameOf(slot)); });
    dump.emplace();  // before the node, so both logs begin with its boot-up
    ASSERT_TRUE(dump->ready()) << dump->output();
    ASSERT_TRUE(node.start());
  }

  void TearDown() override {
    node.stop();
    session.observeFrames({});
    recorder.stop();
    VcanSession::TearDown();
    fileio::removeFile(path);
  }

  // Runs cangen with `options` to its end while taking the session's frames as the window's timer
  // does and candump's lines as they come, until both have been quiet for a while.
  std::size_t fileLines = 0;  // lines of the recorded file, CanDump's probes included

  void generate(std::vector<std::string> options) {
    options.insert(options.begin(), {kCangen, kVcan, "-g", "1", "-I", "r", "-L", "r"});
    ChildProcess cangen(options);
    ASSERT_TRUE(cangen.started());
    const auto deadline = Steady::now() + 120s;
    auto lastNews = Steady::now();
    for (bool ended = false; !ended || Steady::now() - lastNews < 300ms;) {
      const std::size_t before = recorder.framesRecorded() + dumped.size();
      session.monitor.drain(session.ring);
      recorder.poll();
      for (std::string& line : dump->linesWithin(1ms)) dumped.push_back(std::move(line));
      if (recorder.framesRecorded() + dumped.size() != before) lastNews = Steady::now();
      ended = ended || cangen.wait(0ms) >= 0;
      ASSERT_TRUE(Steady::now() < deadline) << "cangen " << (ended ? "ended" : "still runs");
    }
    EXPECT_EQ(cangen.wait(0ms), 0) << cangen.output();
  }

  // The recorded file's lines (CanDump's probes left out), once the recording has stopped.
  std::vector<std::string> recordedLines() {
    recorder.stop();
    const std::vector<std::uint8_t> bytes = fileio::readWholeFile(path);
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    fileLines = 0;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1, ++fileLines)
      if (!isProbe(split(text.substr(at, nl - at)).frame)) lines.push_back(text.substr(at, nl - at));
    return lines;
  }

  // The recording against candump's lines: the same frames in the same order, stamped in order,
  // never before the kernel took them in and mostly within a couple of milliseconds after it;
  // read back without a problem.
  void expectRecordingMatchesCandump() {
    const std::vector<std::string> ours = recordedLines();
    EXPECT_EQ(ours.size(), dumped.size()) << "recorded and candump lines";
    std::vector<std::int64_t> lags;
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < std::max(ours.size(), dumped.size()); ++i) {
      const std::string& mine = i < ours.size() ? ours[i] : kNone;
      const std::string& theirs = i < dumped.size() ? dumped[i] : kNone;
      const LogLine a = split(mine), b = split(theirs);
      ASSERT_EQ(a.frame, b.frame) << "line " << i + 1 << ": recorded \"" << mine << "\", candump \"" << theirs << '"';
      ASSERT_GE(a.us, previous) << "line " << i + 1 << " is stamped before the line above it";
      ASSERT_GE(a.us - b.us, -kEarlyUs) << "line " << i + 1 << ": recorded " << mine << ", candump " << theirs;
      previous = a.us;
      lags.push_back(a.us - b.us);
    }
    std::sort(lags.begin(), lags.end());
    ASSERT_FALSE(lags.empty());
    EXPECT_LE(lags[lags.size() / 2], kTypicalLagUs) << "median time after candump's, us";
    EXPECT_LE(lags.back(), kWorstLagUs) << "largest time after candump's, us";
    std::printf("%zu frames as candump logged them; stamped after candump: median %lld us, largest %lld us\n",
                lags.size(), static_cast<long long>(lags[lags.size() / 2]), static_cast<long long>(lags.back()));
    const busview::LogReadResult back = busview::readLogFile(path);
    EXPECT_EQ(back.frames.size(), fileLines) << "every line of the file, the probes included";
    EXPECT_EQ(back.problems, std::vector<std::string>{});
  }

  // candump's own lines read and written again by busprobe's candump reader and writer: the same
  // text, whatever the receive path takes in.
  void expectWriterRepeatsCandump() {
    std::string text;
    for (const std::string& line : dumped) text += line + '\n';
    const busview::LogReadResult read = busview::readCandumpLog(text);
    ASSERT_EQ(read.frames.size(), dumped.size()) << testing::PrintToString(read.problems);
    const auto first = static_cast<std::uint64_t>(split(dumped.front()).us);
    for (std::size_t i = 0; i < dumped.size(); ++i)
      ASSERT_EQ(busview::candumpLine(read.frames[i], kVcan, first), dumped[i]);
  }

  std::string path = (std::filesystem::temp_directory_path() /
                      ("busprobe-recording-" + std::to_string(fileio::processId()) + ".log")).string();
  busview::LogRecorder recorder;
  std::optional<CanDump> dump;
  NodeProgramProcess node;
  std::vector<std::string> dumped;  // the lines of candump -L, probes left out
};

TEST_F(Recording, StandardFramesAreRecordedAsCandumpLogsThem) {
  ASSERT_NO_FATAL_FAILURE(generate({"-D", "r", "-n", "3000"}));
  expectRecordingMatchesCandump();
}

TEST_F(Recording, ExtendedAndRemoteFramesAreRecordedAsCandumpLogsThem) {
  ASSERT_NO_FATAL_FAILURE(generate({"-D", "r", "-n", "600", "-e"}));
  ASSERT_NO_FATAL_FAILURE(generate({"-n", "300", "-R"}));
  ASSERT_NO_FATAL_FAILURE(generate({"-n", "300", "-R", "-e"}));
  expectWriterRepeatsCandump();
  expectRecordingMatchesCandump();
}

}  // namespace
}  // namespace bp::test
