// Fuzz target: the bytes of a bus log, as the Bus view opens one, through each reader.
//
// Invariants: only bp::Error escapes; every frame is a classic CAN data or remote frame with a
// standard identifier up to 0x7FF or an extended one up to 0x1FFFFFFF, at most 8 bytes, zeros
// past its length; the first frame is at time 0; each problem names its line, at most
// kMaxLogProblems and one count; the frames written as candump lines read back the same, at the
// same times; the replay schedule hands out every frame once, its waits adding up to the last due.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "busview/LogFiles.h"
#include "util/Error.h"

namespace {

using bp::fuzz::check;
using bp::fuzz::startsWith;
namespace bv = bp::busview;

void checkFrames(const bv::LogReadResult& r) {
  for (const bv::TraceFrame& t : r.frames) {
    const bp::can::CanFrame& f = t.frame;
    check(f.type <= (bp::can::kMsgRemote | bp::can::kMsgExtended), "frame type");
    check(f.id <= ((f.type & bp::can::kMsgExtended) != 0 ? 0x1FFFFFFFu : 0x7FFu), "identifier range");
    check(f.len <= 8, "length above 8");
    for (std::size_t i = (f.type & bp::can::kMsgRemote) != 0 ? 0 : f.len; i < 8; ++i)
      check(f.data[i] == 0, "byte past the length");
  }
  check(r.frames.empty() || r.frames.front().timeUs == 0, "first frame not at 0");
  check(r.problems.size() <= bv::kMaxLogProblems + 1, "too many problems");
  for (std::size_t i = 0; i < r.problems.size(); ++i)
    check(startsWith(r.problems[i], "line ") || (i == bv::kMaxLogProblems && r.problems[i].find(" more lines skipped") != std::string::npos),
          "problem without its line", r.problems[i]);
}

void checkRoundTrip(const bv::LogReadResult& r) {
  std::string log;
  for (const bv::TraceFrame& t : r.frames) log += bv::candumpLine(t, "can0", 0) + "\n";
  if (log.empty()) return;
  const bv::LogReadResult back = bv::readCandumpLog(log);
  check(back.problems.empty(), "written line read back with a problem", back.problems.empty() ? "" : back.problems[0]);
  check(back.frames.size() == r.frames.size(), "frame count after the round trip");
  for (std::size_t i = 0; i < r.frames.size(); ++i) {
    check(back.frames[i].frame == r.frames[i].frame, "frame after the round trip");
    check(back.frames[i].timeUs == r.frames[i].timeUs, "time after the round trip");
  }
}

void checkReplay(const bv::LogReadResult& r) {
  std::uint64_t sum = 0;
  for (const std::uint64_t d : bv::replayDelaysUs(r.frames)) sum += d;
  bv::ReplaySchedule s(r.frames);
  std::size_t handed = s.due(sum == 0 ? 0 : sum - 1).size();
  check(r.frames.empty() || !s.finished() || sum == 0, "last frame handed out early");
  handed += s.due(sum).size();
  check(handed == r.frames.size() && s.finished() && !s.waitUs(sum), "replay hands out every frame by the last due");
}

void readWith(bv::LogReadResult (*reader)(std::string_view), std::string_view text) {
  try {
    const bv::LogReadResult r = reader(text);
    checkFrames(r);
    checkRoundTrip(r);
    checkReplay(r);
  } catch (const bp::Error& e) {
    check(startsWith(e.what(), "Not a "), "error text", e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  readWith(bv::readCandumpLog, text);
  readWith(bv::readAscLog, text);
  readWith(bv::readTrcLog, text);
  try {
    checkFrames(bv::readLog(std::span(data, size)));
  } catch (const bp::Error& e) {
    check(startsWith(e.what(), "Not a "), "error text", e.what());
  }
  return 0;
}
